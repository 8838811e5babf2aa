// The one chunk decoder and length parser, fed byte streams directly: whole, one byte at a
// time, and with the receiver ending the body from inside.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "net/HttpFraming.h"

namespace {

TEST(HttpFraming, ContentLength) {
    const std::pair<const char*, int64_t> cases[] = {
        {"0", 0}, {"42", 42}, {"  42 ", 42}, {"\t7", 7}, {"999999999999999999", 999999999999999999},
        {"1000000000000000000", -1}, {"", -1}, {" ", -1}, {"-5", -1}, {"+5", -1}, {"12abc", -1}, {"1 2", -1},
        {"0x10", -1},
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
        {"size line at the limit", "1;" + std::string(13, 'e') + "\r\nx\r\n0\r\n\r\n", THttpChunkState::hcsDone, "x",
         all, ""},
        {"size line over the limit", "1;" + std::string(14, 'e') + "\r\nx\r\n", THttpChunkState::hcsFailed, "", 18,
         "HTTP chunk line too long"},
        {"line end after data over the limit", "1\r\nx" + std::string(17, ' ') + "\r\n", THttpChunkState::hcsFailed,
         "x", 21, "HTTP chunk line too long"},
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

}  // namespace
