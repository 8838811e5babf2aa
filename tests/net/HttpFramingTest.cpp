// The one status-line parser, field-line splitter, transfer-coding rule, chunk decoder and
// length parser, fed directly: lines as they stand, byte streams whole, one byte at a time
// and in pieces, with the receiver ending the body from inside, and the raw answers the
// client test sends through its peer.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "HttpRawAnswers.h"
#include "net/HttpFraming.h"

namespace {

using namespace std::string_literals;

TEST(HttpFraming, StatusLines) {
    struct Case {
        std::string line;
        bool ok;
        int major, minor, code;
        const char* reason;
    } cases[] = {
        {"HTTP/1.1 200 OK", true, 1, 1, 200, "OK"},
        {"HTTP/1.0 404 Not Found", true, 1, 0, 404, "Not Found"},
        {"HTTP/1.1 200", true, 1, 1, 200, ""},
        {"HTTP/1.1 200 ", true, 1, 1, 200, ""},
        {"HTTP/1.1  200 OK", true, 1, 1, 200, "OK"},
        {"HTTP/1.1 999 Odd\tbut fine", true, 1, 1, 999, "Odd\tbut fine"},
        {"HTTP/1.1 200 caf\xc3\xa9", true, 1, 1, 200, "caf\xc3\xa9"},
        {"HTTP/2.0 200 OK", true, 2, 0, 200, "OK"},
        {"HTTP/1.1 200 OK\0"s, false, 0, 0, 0, ""},
        {"HTTP/1.1 200 O\rK", false, 0, 0, 0, ""},
        {"HTTP/1.1 200 O\x7fK", false, 0, 0, 0, ""},
        {"HTTP/1.1 " + std::string(100, '2') + " OK", false, 0, 0, 0, ""},
        {"HTTP/1." + std::string(100, '1') + " 200 OK", false, 0, 0, 0, ""},
        {"HTTP/1.1 2000 OK", false, 0, 0, 0, ""},
        {"HTTP/1.1 20 OK", false, 0, 0, 0, ""},
        {"HTTP/1.1 200OK", false, 0, 0, 0, ""},
        {"HTTP/1.1 099 Low", false, 0, 0, 0, ""},
        {"HTTP/1.1 -20 OK", false, 0, 0, 0, ""},
        {"HTTP/1.1\t200 OK", false, 0, 0, 0, ""},
        {"HTTP/11 200 OK", false, 0, 0, 0, ""},
        {"HTTP/2 200", false, 0, 0, 0, ""},
        {"http/1.1 200 OK", false, 0, 0, 0, ""},
        {"HTTP/1.1", false, 0, 0, 0, ""},
        {"", false, 0, 0, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        THttpStatusLine st;
        st.Code = -1;
        ASSERT_EQ(HttpParseStatusLine(c.line, st), c.ok);
        if (!c.ok) {
            EXPECT_EQ(st.Code, -1);
            continue;
        }
        EXPECT_EQ(st.Major, c.major);
        EXPECT_EQ(st.Minor, c.minor);
        EXPECT_EQ(st.Code, c.code);
        EXPECT_EQ(st.Reason, c.reason);
    }
}

TEST(HttpFraming, FieldLines) {
    struct Case {
        std::string line;
        THttpHeadLine kind;
        const char* name;
        const char* value;
    } cases[] = {
        {"Server: x", THttpHeadLine::hhlField, "server", "x"},
        {"Content-Length: \t 5 \t", THttpHeadLine::hhlField, "content-length", "5"},
        {"X-Empty:", THttpHeadLine::hhlField, "x-empty", ""},
        {"X-Colons: a:b", THttpHeadLine::hhlField, "x-colons", "a:b"},
        {"!#$%&'*+-.^_`|~09az: t", THttpHeadLine::hhlField, "!#$%&'*+-.^_`|~09az", "t"},
        {" folded ", THttpHeadLine::hhlContinuation, "", "folded"},
        {"\tfolded:\t", THttpHeadLine::hhlContinuation, "", "folded:"},
        {"", THttpHeadLine::hhlEnd, "", ""},
        {"Server test-server/fake", THttpHeadLine::hhlBad, "", ""},
        {": value", THttpHeadLine::hhlBad, "", ""},
        {"X Y: 1", THttpHeadLine::hhlBad, "", ""},
        {"Name : v", THttpHeadLine::hhlBad, "", ""},
        {"X(1): v", THttpHeadLine::hhlBad, "", ""},
        {"ETag: \"v1\"\0"s, THttpHeadLine::hhlBad, "", ""},
        {"Da\0te: x"s, THttpHeadLine::hhlBad, "", ""},
        {"Date: x\ry", THttpHeadLine::hhlBad, "", ""},
        {" \0"s, THttpHeadLine::hhlBad, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::string name = "stale", value = "stale";
        EXPECT_EQ(HttpSplitFieldLine(c.line, name, value), c.kind);
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(value, c.value);
    }
}

TEST(HttpFraming, TransferCodings) {
    const std::pair<std::vector<std::string>, THttpTransferFraming> cases[] = {
        {{}, THttpTransferFraming::htfNone},
        {{"chunked"}, THttpTransferFraming::htfChunked},
        {{" Chunked "}, THttpTransferFraming::htfChunked},
        {{"gzip, chunked"}, THttpTransferFraming::htfChunked},
        {{"gzip", "chunked"}, THttpTransferFraming::htfChunked},
        {{" , chunked ,"}, THttpTransferFraming::htfChunked},
        {{"chunked;x=1"}, THttpTransferFraming::htfChunked},
        {{"chunked, gzip"}, THttpTransferFraming::htfBroken},
        {{"chunked", "gzip"}, THttpTransferFraming::htfBroken},
        {{"chunked", "chunked"}, THttpTransferFraming::htfChunked},
        {{"chunked, chunked"}, THttpTransferFraming::htfChunked},
        {{"gzip, chunked, chunked"}, THttpTransferFraming::htfChunked},
        {{"chunked, gzip, chunked"}, THttpTransferFraming::htfBroken},
        {{"identity, chunked"}, THttpTransferFraming::htfChunked},
        {{"chunked, identity"}, THttpTransferFraming::htfChunked},
        {{"identity"}, THttpTransferFraming::htfNone},
        {{"identity, identity"}, THttpTransferFraming::htfNone},
        {{"Identity;q=1", "identity"}, THttpTransferFraming::htfNone},
        {{"identity, gzip"}, THttpTransferFraming::htfBroken},
        {{"identityx"}, THttpTransferFraming::htfBroken},
        {{"gzip"}, THttpTransferFraming::htfBroken},
        {{"chunkedx"}, THttpTransferFraming::htfBroken},
    };
    for (const auto& [values, framing] : cases) {
        std::vector<std::string> codings;
        for (const std::string& v : values) HttpAddTransferCodings(v, codings);
        EXPECT_EQ(HttpTransferFraming(codings), framing) << ::testing::PrintToString(values);
    }
    std::vector<std::string> codings;
    HttpAddTransferCodings("GZip ;q=1 ,, Chunked", codings);
    EXPECT_EQ(codings, (std::vector<std::string>{"gzip", "chunked"}));
}

TEST(HttpFraming, ContentLength) {
    const std::pair<const char*, int64_t> cases[] = {
        {"0", 0}, {"42", 42}, {"  42 ", 42}, {"\t7", 7}, {"999999999999999999", 999999999999999999},
        {"1000000000000000000", -1}, {"", -1}, {" ", -1}, {"-5", -1}, {"+5", -1}, {"12abc", -1}, {"1 2", -1},
        {"0x10", -1},
        // Lists: members that all name one number are that number.
        {"6,06,6", 6}, {"6,    6", 6}, {" 6 , 6 ", 6}, {"6,,6", 6}, {"6,", 6}, {"6, 7", -1}, {"6,6,7", -1},
        {",", -1}, {"6, x", -1}, {"6;6", -1},
        // Leading zeros do not count towards the digits.
        {"0000000000000000000000042", 42}, {"00", 0}, {"0999999999999999999", 999999999999999999},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(HttpParseContentLength(text), value) << '"' << text << '"';
}

struct ChunkCase {
    const char* name;
    std::string wire;
    THttpChunkState end;
    std::string data;     // what reached the sink
    size_t taken;         // bytes taken (npos: all of them)
    const char* error;    // ErrorText when failed
};

std::string Decode(THttpChunkDecoder& D, const std::string& Wire, size_t Step, size_t& Taken) {
    std::string out;
    Taken = 0;
    while (Taken < Wire.size() && !D.Done() && !D.Failed()) {
        const size_t n = std::min(Step, Wire.size() - Taken);
        const size_t used = D.Feed(reinterpret_cast<const uint8_t*>(Wire.data()) + Taken, n,
                                   [&](const uint8_t* b, size_t len) {
                                       out.append(reinterpret_cast<const char*>(b), len);
                                       return true;
                                   });
        Taken += used;
        if (used < n) break;
    }
    return out;
}

TEST(HttpFraming, ChunkStreams) {
    THttpChunkLimits small;
    small.MaxLineLength = 16;
    small.MaxChunkSize = 0xFFFF;
    small.MaxTrailerBytes = 20;
    const size_t all = std::string::npos;
    const ChunkCase cases[] = {
        {"two chunks and a trailer", "4\r\nWiki\r\n5;name=value\r\npedia\r\n0\r\nX-T: 1\r\n\r\n",
         THttpChunkState::hcsDone, "Wikipedia", all, ""},
        {"bare line feeds, upper-case hex", "A\nabcdefghij\n0\n\n", THttpChunkState::hcsDone, "abcdefghij", all, ""},
        {"what follows the body is not taken", "1\r\nx\r\n0\r\n\r\nHTTP/1.1 200", THttpChunkState::hcsDone, "x",
         11, ""},
        {"incomplete", "5\r\nabc", THttpChunkState::hcsData, "abc", all, ""},
        {"no digits", "zz\r\nabc\r\n0\r\n\r\n", THttpChunkState::hcsFailed, "", 0, "HTTP bad chunk size"},
        {"blank before the digits", " 4\r\nWiki\r\n", THttpChunkState::hcsFailed, "", 0, "HTTP bad chunk size"},
        {"size over the limit", "10000\r\n", THttpChunkState::hcsFailed, "", 4, "HTTP chunk size too large"},
        {"size at the limit", "ffff\r\n", THttpChunkState::hcsData, "", all, ""},
        {"twenty hex digits", "ffffffffffffffffffff\r\n", THttpChunkState::hcsFailed, "", 4,
         "HTTP chunk size too large"},
        {"size line at the limit", "1;" + std::string(12, 'e') + "\r\nx\r\n0\r\n\r\n", THttpChunkState::hcsDone, "x",
         all, ""},
        {"size line over the limit", "1;" + std::string(13, 'e') + "\r\nx\r\n", THttpChunkState::hcsFailed, "", 16,
         "HTTP chunk line too long"},
        {"leading zeros count against the limit", std::string(20, '0') + "5\r\nabcde\r\n0\r\n\r\n",
         THttpChunkState::hcsFailed, "", 16, "HTTP chunk line too long"},
        {"blanks, then an extension", "4 \t;a=\"b c\"\r\nWiki\r\n0\r\n\r\n", THttpChunkState::hcsDone, "Wiki", all,
         ""},
        {"blanks, then the line end", "4 \r\nWiki\r\n0\r\n\r\n", THttpChunkState::hcsDone, "Wiki", all, ""},
        {"letter after the size", "5x\r\nabcde\r\n0\r\n\r\n", THttpChunkState::hcsFailed, "", 1,
         "HTTP bad chunk size"},
        {"digit after a blank", "4 1\r\nWiki\r\n", THttpChunkState::hcsFailed, "", 2, "HTTP bad chunk size"},
        {"CR without LF in the size line", "4\rWiki\r\n", THttpChunkState::hcsFailed, "", 2, "HTTP bad chunk size"},
        {"chunk longer than its size", "3\r\nabcXYZ\r\n0\r\n\r\n", THttpChunkState::hcsFailed, "abc", 6,
         "HTTP chunk longer than its size"},
        {"two CRs after the data", "1\r\nx\r\r\n0\r\n\r\n", THttpChunkState::hcsFailed, "x", 5,
         "HTTP chunk longer than its size"},
        {"trailer over the limit", "0\r\n" + std::string(30, 't') + "\r\n\r\n", THttpChunkState::hcsFailed, "", 24,
         "HTTP trailer too large"},
    };
    for (const ChunkCase& c : cases) {
        for (const size_t step : {c.wire.size(), size_t(1), size_t(3)}) {
            SCOPED_TRACE(std::string(c.name) + " step " + std::to_string(step));
            THttpChunkDecoder d(small);
            size_t taken = 0;
            const std::string data = Decode(d, c.wire, step, taken);
            EXPECT_EQ(d.State(), c.end);
            EXPECT_EQ(data, c.data);
            EXPECT_EQ(d.DataCount(), int64_t(c.data.size()));
            EXPECT_EQ(taken, c.taken == all ? c.wire.size() : c.taken);
            EXPECT_EQ(d.ErrorText(), c.error);
        }
    }
}

// The receiver ends the body inside the data: the decoder stops there, and Reset makes it
// ready for the next body.
TEST(HttpFraming, ReceiverEndsTheBody) {
    THttpChunkDecoder d;
    const std::string wire = "3\r\nabc\r\n3\r\ndef\r\n0\r\n\r\n";
    int calls = 0;
    const size_t used = d.Feed(reinterpret_cast<const uint8_t*>(wire.data()), wire.size(),
                               [&](const uint8_t*, size_t) { return ++calls < 1; });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(used, 6u);
    EXPECT_FALSE(d.Done());
    d.Reset();
    size_t taken = 0;
    EXPECT_EQ(Decode(d, wire, wire.size(), taken), "abcdef");
    EXPECT_TRUE(d.Done());
}

// The raw answers of the client test, read by the parsers alone: the head line by line, the
// body whole, one byte at a time and in pieces, with the client's chunk limits.
bool ReadAnswer(const std::string& Wire, size_t Step, std::string& Body) {
    size_t pos = 0;
    std::vector<std::string> codings;
    int64_t length = -1;
    bool field = false;
    THttpStatusLine status;
    for (bool first = true;; first = false) {
        const size_t lf = Wire.find('\n', pos);
        if (lf == std::string::npos) return false;
        std::string line = Wire.substr(pos, lf - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pos = lf + 1;
        if (first) {
            if (!HttpParseStatusLine(line, status)) return false;
            continue;
        }
        std::string name, value;
        const THttpHeadLine kind = HttpSplitFieldLine(line, name, value);
        if (kind == THttpHeadLine::hhlEnd) break;
        if (kind == THttpHeadLine::hhlBad || (kind == THttpHeadLine::hhlContinuation && !field)) return false;
        field = true;
        if (name == "transfer-encoding") HttpAddTransferCodings(value, codings);
        if (name == "content-length") {
            const int64_t l = HttpParseContentLength(value);
            if (l < 0 || (length >= 0 && l != length)) return false;
            length = l;
        }
    }
    const std::string rest = Wire.substr(pos);
    switch (HttpTransferFraming(codings)) {
        case THttpTransferFraming::htfBroken: return false;
        case THttpTransferFraming::htfNone:
            // Without a length the body runs to the close: here, the end of the wire.
            if (length < 0) {
                Body = rest;
                return true;
            }
            if (rest.size() < size_t(length)) return false;
            Body = rest.substr(0, size_t(length));
            return true;
        case THttpTransferFraming::htfChunked: break;
    }
    THttpChunkDecoder d({4096, int64_t(1) << 48, 256 * 1024});
    size_t taken = 0;
    Body = Decode(d, rest, Step, taken);
    return d.Done();
}

TEST(HttpFraming, RawAnswers) {
    for (const rawanswers::RawAnswer& a : rawanswers::Answers()) {
        for (const size_t step : {a.wire.size(), size_t(1), size_t(7)}) {
            SCOPED_TRACE(std::string(a.name) + " step " + std::to_string(step));
            std::string body;
            ASSERT_EQ(ReadAnswer(a.wire, step, body), a.framed);
            if (a.framed && a.body) {
                EXPECT_EQ(body, a.body);
            }
        }
    }
}

}  // namespace
