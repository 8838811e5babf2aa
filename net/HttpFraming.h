// How an HTTP/1.x answer is framed, read the same way wherever an answer is read (the HTTP
// client and the CONNECT tunnel layer): the status line, the field lines of the head, the
// transfer codings, a Content-Length value, and a chunked body with its size lines, data,
// line ends and trailer. Each caller passes its own limits; nothing a peer sends can grow
// memory or wrap a count, and nothing outside the grammar is guessed into a value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// "HTTP/" digit "." digit, blanks, exactly three digits (100-999), then nothing or a blank
// and the reason (blanks, tabs and visible bytes; no other control byte). Line comes
// without its line end. Returns false, leaving Out alone, for anything else.
struct THttpStatusLine {
    int Major = 0, Minor = 0;
    int Code = 0;
    std::string Reason;
    // "1.1" and the like.
    std::string VersionText() const { return std::to_string(Major) + "." + std::to_string(Minor); }
};
bool HttpParseStatusLine(const std::string& Line, THttpStatusLine& Out);

// One line of a head after its status line (without its line end).
enum class THttpHeadLine : uint8_t {
    hhlEnd,           // the empty line that ends the head
    hhlField,         // name ":" value; Name in lower case, Value without blanks around it
    hhlContinuation,  // a folded line (leading blank): Value continues the field before it
    hhlBad,           // neither: no colon, a name that is not a token, a NUL or a bare CR
};
THttpHeadLine HttpSplitFieldLine(const std::string& Line, std::string& Name, std::string& Value);

// How the transfer codings frame a body: not at all (none named), by chunks (chunked is the
// last coding; named several times at the end it is still one chunked layer), or in no way a
// reader can follow (chunked missing at the end, or before another coding: the end of the body
// cannot be found).
enum class THttpTransferFraming : uint8_t { htfNone, htfChunked, htfBroken };
// Adds the codings of one Transfer-Encoding value (a comma list) to Codings, in lower case,
// without parameters; empty elements and "identity" (which changes nothing) are skipped.
void HttpAddTransferCodings(const std::string& Value, std::vector<std::string>& Codings);
THttpTransferFraming HttpTransferFraming(const std::vector<std::string>& Codings);
// True when the codings are chunked and nothing else: the chunks are all there is to undo.
bool HttpOnlyChunked(const std::vector<std::string>& Codings);

// Whether a comma list of tokens (Connection, Proxy-Connection) names Token, compared
// without regard to case; blanks around members and empty members do not count.
bool HttpListHasToken(const std::string& Value, const std::string& Token);

// The length of a head (status line, field lines and the empty line that ends it, each line
// ending with CR LF or a bare LF) at the start of Data; 0 while its empty line has not come.
size_t HttpHeadLength(const char* Data, size_t Len);

// A Content-Length value: decimal digits (blanks around them allowed; leading zeros aside, at
// most 18 of them), or a comma list of such members that all name the same number; -1 when
// the text is neither.
int64_t HttpParseContentLength(const std::string& Text);

struct THttpChunkLimits {
    // A size line with its digits and extensions.
    size_t MaxLineLength = 4096;
    // The largest chunk size taken (256 TiB).
    int64_t MaxChunkSize = int64_t(1) << 48;
    // All trailer lines after the last chunk together.
    size_t MaxTrailerBytes = 256 * 1024;
};

enum class THttpChunkState : uint8_t {
    hcsSizeDigits,  // the hex digits of a size line
    hcsSizeLine,    // the rest of the size line (blanks, extensions) up to its line feed
    hcsData,        // the chunk's data
    hcsDataEnd,     // the line end after the data (CR LF or a bare LF, nothing else)
    hcsTrailer,     // trailer lines after the last chunk, up to an empty one
    hcsDone,        // the body is complete; nothing more is taken
    hcsFailed,      // the body broke a rule or a limit (see ErrorText)
};

class THttpChunkDecoder {
public:
    // Receives the data bytes of the body; returns false when the receiver ended the body
    // (the decoder then stops where it is).
    using TDataSink = std::function<bool(const uint8_t* Data, size_t Len)>;

    explicit THttpChunkDecoder(const THttpChunkLimits& Limits = {}) : limits_(Limits) {}
    void SetLimits(const THttpChunkLimits& Limits) { limits_ = Limits; }
    void Reset();
    // Decodes what it can of Buf; returns how many bytes it took. It takes nothing after the
    // end of the body, and stops at the first fault.
    size_t Feed(const uint8_t* Buf, size_t Len, const TDataSink& Sink);

    THttpChunkState State() const { return state_; }
    bool Done() const { return state_ == THttpChunkState::hcsDone; }
    bool Failed() const { return state_ == THttpChunkState::hcsFailed; }
    const std::string& ErrorText() const { return error_; }
    // Data bytes handed to the sink since Reset.
    int64_t DataCount() const { return dataCount_; }

private:
    void ChangeState(THttpChunkState NewState);
    void Fail(const char* Text);

    THttpChunkLimits limits_;
    THttpChunkState state_ = THttpChunkState::hcsSizeDigits;
    int64_t size_ = 0, taken_ = 0, dataCount_ = 0;
    bool digits_ = false;
    // In the size line: an extension began (";"); a CR was seen (only LF may follow).
    bool extension_ = false, cr_ = false;
    size_t lineBytes_ = 0, trailerBytes_ = 0;
    std::string error_;
};
