#include "net/HttpFraming.h"

#include <algorithm>
#include <cstring>

#include "net/InetUtils.h"

namespace {

int HexValue(uint8_t C) {
    if (C >= '0' && C <= '9') return C - '0';
    if (C >= 'a' && C <= 'f') return C - 'a' + 10;
    if (C >= 'A' && C <= 'F') return C - 'A' + 10;
    return -1;
}

bool IsDigitChar(char C) { return C >= '0' && C <= '9'; }
bool IsBlank(char C) { return C == ' ' || C == '\t'; }

// The characters of a field name.
bool IsTokenChar(char C) {
    if ((C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || IsDigitChar(C)) return true;
    return C != 0 && std::strchr("!#$%&'*+-.^_`|~", C) != nullptr;
}

std::string TrimBlanks(const std::string& S, size_t B = 0) {
    size_t e = S.size();
    while (B < e && IsBlank(S[B])) ++B;
    while (e > B && IsBlank(S[e - 1])) --e;
    return S.substr(B, e - B);
}

// The members of a comma list, without the blanks around them; empty members carry nothing
// and are skipped.
std::vector<std::string> ListMembers(const std::string& Value) {
    std::vector<std::string> members;
    size_t b = 0;
    while (b <= Value.size()) {
        size_t e = Value.find(',', b);
        if (e == std::string::npos) e = Value.size();
        std::string member = TrimBlanks(Value.substr(b, e - b));
        if (!member.empty()) members.push_back(std::move(member));
        b = e + 1;
    }
    return members;
}

// One member of a Content-Length list: decimal digits only. Leading zeros do not count
// towards the 18 digits a 64-bit count takes.
int64_t ParseLengthMember(const std::string& Member) {
    for (char c : Member)
        if (!IsDigitChar(c)) return -1;
    const size_t first = std::min(Member.find_first_not_of('0'), Member.size() - 1);
    if (Member.size() - first > 18) return -1;
    int64_t v = 0;
    for (size_t i = first; i < Member.size(); ++i) v = v * 10 + (Member[i] - '0');
    return v;
}

}  // namespace

bool HttpParseStatusLine(const std::string& Line, THttpStatusLine& Out) {
    const std::string& l = Line;
    if (l.size() < 12 || l.compare(0, 5, "HTTP/") != 0 || !IsDigitChar(l[5]) || l[6] != '.' || !IsDigitChar(l[7]) ||
        l[8] != ' ')
        return false;
    size_t d = 9;
    while (d < l.size() && l[d] == ' ') ++d;
    if (d + 3 > l.size() || l[d] < '1' || l[d] > '9' || !IsDigitChar(l[d + 1]) || !IsDigitChar(l[d + 2]))
        return false;
    const size_t end = d + 3;
    if (end < l.size() && l[end] != ' ') return false;
    for (size_t i = end; i < l.size(); ++i) {
        const uint8_t c = uint8_t(l[i]);
        if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
    }
    Out.Major = l[5] - '0';
    Out.Minor = l[7] - '0';
    Out.Code = (l[d] - '0') * 100 + (l[d + 1] - '0') * 10 + (l[d + 2] - '0');
    Out.Reason = end < l.size() ? l.substr(end + 1) : std::string();
    return true;
}

THttpHeadLine HttpSplitFieldLine(const std::string& Line, std::string& Name, std::string& Value) {
    Name.clear();
    Value.clear();
    if (Line.empty()) return THttpHeadLine::hhlEnd;
    // A NUL or a CR inside a line could end it early for one reader and not another.
    if (Line.find_first_of(std::string("\0\r\n", 3)) != std::string::npos) return THttpHeadLine::hhlBad;
    if (IsBlank(Line[0])) {
        Value = TrimBlanks(Line);
        return THttpHeadLine::hhlContinuation;
    }
    const size_t colon = Line.find(':');
    if (colon == std::string::npos || colon == 0) return THttpHeadLine::hhlBad;
    for (size_t i = 0; i < colon; ++i)
        if (!IsTokenChar(Line[i])) return THttpHeadLine::hhlBad;
    Name = InetAsciiLower(Line.substr(0, colon));
    Value = TrimBlanks(Line, colon + 1);
    return THttpHeadLine::hhlField;
}

void HttpAddTransferCodings(const std::string& Value, std::vector<std::string>& Codings) {
    for (const std::string& member : ListMembers(Value)) {
        std::string coding = InetAsciiLower(TrimBlanks(member.substr(0, member.find(';'))));
        // identity is the coding that changes nothing, wherever it stands.
        if (!coding.empty() && coding != "identity") Codings.push_back(std::move(coding));
    }
}

bool HttpListHasToken(const std::string& Value, const std::string& Token) {
    for (const std::string& member : ListMembers(Value))
        if (InetAsciiLower(member) == InetAsciiLower(Token)) return true;
    return false;
}

size_t HttpHeadLength(const char* Data, size_t Len) {
    // Line by line: "\r\n\r\n" and "\n\n" are not the only ways a head ends ("\n\r\n" is
    // one as well), and the first empty line is the end whatever follows it.
    size_t b = 0;
    while (b < Len) {
        const void* lf = std::memchr(Data + b, '\n', Len - b);
        if (!lf) return 0;
        const size_t e = size_t(static_cast<const char*>(lf) - Data);
        if (e == b || (e == b + 1 && Data[b] == '\r')) return e + 1;
        b = e + 1;
    }
    return 0;
}

int64_t HttpParseContentLength(const std::string& Text) {
    // Some servers and proxies repeat the length as a list ("6, 6"): members that all name
    // the same number are that number; members that differ leave the body's end unknown.
    int64_t value = -1;
    for (const std::string& member : ListMembers(Text)) {
        const int64_t v = ParseLengthMember(member);
        if (v < 0 || (value >= 0 && v != value)) return -1;
        value = v;
    }
    return value;
}

THttpTransferFraming HttpTransferFraming(const std::vector<std::string>& Codings) {
    if (Codings.empty()) return THttpTransferFraming::htfNone;
    // "chunked, chunked" is what servers send that chunk once and name it twice: the run of
    // chunked at the end frames the body as one chunked layer. A chunked before any other
    // coding leaves the body's end unknown.
    size_t run = Codings.size();
    while (run > 0 && Codings[run - 1] == "chunked") --run;
    if (run == Codings.size() || std::find(Codings.begin(), Codings.begin() + run, "chunked") != Codings.begin() + run)
        return THttpTransferFraming::htfBroken;
    return THttpTransferFraming::htfChunked;
}

bool HttpOnlyChunked(const std::vector<std::string>& Codings) {
    return !Codings.empty() && std::all_of(Codings.begin(), Codings.end(), [](const std::string& C) { return C == "chunked"; });
}

void THttpChunkDecoder::Reset() {
    state_ = THttpChunkState::hcsSizeDigits;
    size_ = taken_ = dataCount_ = 0;
    digits_ = extension_ = cr_ = false;
    lineBytes_ = trailerBytes_ = 0;
    error_.clear();
}

void THttpChunkDecoder::ChangeState(THttpChunkState NewState) {
    state_ = NewState;
    lineBytes_ = 0;
    extension_ = cr_ = false;
    if (NewState == THttpChunkState::hcsSizeDigits) {
        size_ = taken_ = 0;
        digits_ = false;
    }
}

void THttpChunkDecoder::Fail(const char* Text) {
    error_ = Text;
    state_ = THttpChunkState::hcsFailed;
}

size_t THttpChunkDecoder::Feed(const uint8_t* Buf, size_t Len, const TDataSink& Sink) {
    size_t i = 0;
    while (i < Len) {
        const uint8_t c = Buf[i];
        switch (state_) {
            case THttpChunkState::hcsSizeDigits:
            case THttpChunkState::hcsSizeLine: {
                // Every byte of the size line counts, leading zeros as much as extensions.
                if (lineBytes_ >= limits_.MaxLineLength) {
                    Fail("HTTP chunk line too long");
                    return i;
                }
                const int d = state_ == THttpChunkState::hcsSizeDigits ? HexValue(c) : -1;
                if (d >= 0) {
                    if (size_ > (limits_.MaxChunkSize >> 4) || size_ * 16 + d > limits_.MaxChunkSize) {
                        Fail("HTTP chunk size too large");
                        return i;
                    }
                    size_ = size_ * 16 + d;
                    digits_ = true;
                    ++i;
                    ++lineBytes_;
                    break;
                }
                if (!digits_) {
                    Fail("HTTP bad chunk size");
                    return i;
                }
                state_ = THttpChunkState::hcsSizeLine;
                if (c == '\n') {
                    ++i;
                    ChangeState(size_ > 0 ? THttpChunkState::hcsData : THttpChunkState::hcsTrailer);
                    break;
                }
                // After the digits: blanks, then an extension from ";" on, then the line end.
                if (cr_ || (!extension_ && c != ';' && c != '\r' && c != ' ' && c != '\t')) {
                    Fail("HTTP bad chunk size");
                    return i;
                }
                if (c == '\r')
                    cr_ = true;
                else if (c == ';')
                    extension_ = true;
                ++i;
                ++lineBytes_;
                break;
            }
            case THttpChunkState::hcsDataEnd:
                // The data is exactly as long as its size says: only the line end may follow.
                if (c == '\n') {
                    ++i;
                    ChangeState(THttpChunkState::hcsSizeDigits);
                    break;
                }
                if (c != '\r' || cr_) {
                    Fail("HTTP chunk longer than its size");
                    return i;
                }
                cr_ = true;
                ++i;
                break;
            case THttpChunkState::hcsData: {
                const size_t take = size_t(std::min<int64_t>(size_ - taken_, int64_t(Len - i)));
                taken_ += int64_t(take);
                dataCount_ += int64_t(take);
                const size_t at = i;
                i += take;
                if (taken_ >= size_) ChangeState(THttpChunkState::hcsDataEnd);
                if (!Sink(Buf + at, take)) return i;
                break;
            }
            case THttpChunkState::hcsTrailer:
                // Trailer lines are not interpreted; an empty one ends the body.
                ++i;
                if (++trailerBytes_ > limits_.MaxTrailerBytes) {
                    Fail("HTTP trailer too large");
                    return i;
                }
                if (c == '\n') {
                    if (lineBytes_ == 0) {
                        ChangeState(THttpChunkState::hcsDone);
                        return i;
                    }
                    lineBytes_ = 0;
                } else if (c != '\r') {
                    ++lineBytes_;
                }
                break;
            case THttpChunkState::hcsDone:
            case THttpChunkState::hcsFailed: return i;
        }
    }
    return i;
}
