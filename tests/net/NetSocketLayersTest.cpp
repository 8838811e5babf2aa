// The layers above the socket core against local peers: line mode (a table of inputs),
// line end split across reads, line limit and editing, leaving line mode with data
// buffered, waiting, the idle time-out and the bandwidth limit.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net/NetSocket.h"
#include "support/Pump.h"
#include "SocketTestUtil.h"

using sockettest::PeerPort;
using testsupport::PumpUntil;

namespace {

struct LineProbe {
    std::unique_ptr<TNetSocket> sock = std::make_unique<TNetSocket>(nullptr);
    std::vector<std::string> lines;
    bool connected = false, closed = false;
    LineProbe() {
        sock->OnSessionConnected = [this](framework::TComponent*, uint16_t e) { connected = e == 0; };
        sock->OnSessionClosed = [this](framework::TComponent*, uint16_t) { closed = true; };
        sock->OnDataAvailable = [this](framework::TComponent*, uint16_t) {
            const std::string s = sock->ReceiveAsText();
            if (!s.empty()) lines.push_back(s);
        };
    }
    bool Connect(const std::string& peer) {
        sock->SetAddr("127.0.0.1");
        sock->SetPort(PeerPort(peer));
        sock->Connect();
        return PumpUntil([&] { return connected; }, 10000);
    }
};

}  // namespace

TEST(NetSocketLines, TableOfInputs) {
    REQUIRE_PEERS();
    struct Case {
        const char* name;
        std::string lineEnd;
        std::vector<std::string> chunks;  // sent with a pause between them; the peer closes after
        std::vector<std::string> expected;
    } cases[] = {
        {"one read, rest at close", "\r\n", {"abc\r\ndef"}, {"abc\r\n", "def"}},
        {"two lines in one read", "\r\n", {"a\r\nbb\r\n"}, {"a\r\n", "bb\r\n"}},
        {"line end split across reads", "\r\n", {"abc\r", "\nxy\r\n"}, {"abc\r\n", "xy\r\n"}},
        {"line in pieces", "\r\n", {"ab", "cd", "e\r\n"}, {"abcde\r\n"}},
        {"other line end", "\n", {"x\ny\r\nz"}, {"x\n", "y\r\n", "z"}},
        {"long line end", "END", {"oneENDtwoE", "NDthree"}, {"oneEND", "twoEND", "three"}},
        {"empty lines", "\r\n", {"\r\n\r\n"}, {"\r\n", "\r\n"}},
    };
    for (const Case& c : cases) {
        LineProbe p;
        p.sock->SetLineMode(true);
        p.sock->LineEnd = c.lineEnd;
        ASSERT_TRUE(p.Connect("echo")) << c.name;
        for (const std::string& chunk : c.chunks) {
            p.sock->SendText(chunk);
            testsupport::PumpFor(60);
        }
        p.sock->SendText("\x04");
        ASSERT_TRUE(PumpUntil([&] { return p.closed; }, 10000)) << c.name;
        EXPECT_EQ(p.lines, c.expected) << c.name;
    }
}

TEST(NetSocketLines, CrAndLfFiftyMillisecondsApart) {
    REQUIRE_PEERS();
    LineProbe p;
    p.sock->SetLineMode(true);
    ASSERT_TRUE(p.Connect("crlf"));
    ASSERT_TRUE(PumpUntil([&] { return p.closed; }, 10000));
    EXPECT_EQ(p.lines, (std::vector<std::string>{"abc\r\n", "def\r\n"}));
}

TEST(NetSocketLines, LimitEditingAndLeavingLineMode) {
    REQUIRE_PEERS();
    {
        LineProbe p;
        p.sock->SetLineMode(true);
        p.sock->LineLimit = 10;
        std::vector<int> exceeded;
        p.sock->OnLineLimitExceeded = [&](framework::TComponent*, int len, bool&) { exceeded.push_back(len); };
        ASSERT_TRUE(p.Connect("echo"));
        p.sock->SendText(std::string(20, 'q'));
        ASSERT_TRUE(PumpUntil([&] { return !exceeded.empty(); }));
        EXPECT_EQ(exceeded[0], 20);
        EXPECT_EQ(p.sock->PendingInputLen(), 0);  // discarded
        p.sock->SendText("ok\r\n\x04");
        ASSERT_TRUE(PumpUntil([&] { return p.closed; }));
        EXPECT_EQ(p.lines, std::vector<std::string>{"ok\r\n"});
    }
    {
        LineProbe p;
        p.sock->SetLineMode(true);
        p.sock->LineEdit = true;
        ASSERT_TRUE(p.Connect("echo"));
        p.sock->SendText("ab\bc\r\n");
        testsupport::PumpFor(60);
        p.sock->SendText("abc\tX\r\n");
        testsupport::PumpFor(60);
        p.sock->SendText("xy");
        testsupport::PumpFor(60);
        p.sock->SendText("\b\bz\r\n\x04");  // backspaces reach bytes of an earlier read
        ASSERT_TRUE(PumpUntil([&] { return p.closed; }));
        EXPECT_EQ(p.lines, (std::vector<std::string>{"ac\r\n", "abc     X\r\n", "z\r\n"}));
    }
    {
        // Line mode switched off with a partial line buffered: the rest is handed over
        // from the message loop, and what follows arrives unchanged.
        LineProbe p;
        p.sock->SetLineMode(true);
        ASSERT_TRUE(p.Connect("echo"));
        p.sock->SendText("line\r\npart");
        ASSERT_TRUE(PumpUntil([&] { return p.sock->PendingInputLen() == 4; }));
        EXPECT_EQ(p.lines, std::vector<std::string>{"line\r\n"});
        p.sock->SetLineMode(false);
        ASSERT_TRUE(PumpUntil([&] { return p.lines.size() == 2; }));
        EXPECT_EQ(p.lines[1], "part");
        p.sock->SendText("raw\r\nbytes");
        ASSERT_TRUE(PumpUntil([&] {
            std::string all;
            for (size_t i = 2; i < p.lines.size(); ++i) all += p.lines[i];
            return all == "raw\r\nbytes";
        }));
        p.sock->Abort();
    }
}

TEST(NetSocketLines, SendWithLineEnd) {
    REQUIRE_PEERS();
    LineProbe p;
    p.sock->SetLineMode(true);
    p.sock->LineEnd = "\n";
    ASSERT_TRUE(p.Connect("echo"));
    EXPECT_EQ(p.sock->SendWithLineEnd("hello"), 6);
    EXPECT_EQ(p.sock->SendWithLineEnd(""), 0);
    ASSERT_TRUE(PumpUntil([&] { return !p.lines.empty(); }));
    EXPECT_EQ(p.lines[0], "hello\n");
    p.sock->Abort();
}

TEST(NetSocketWait, WaitsForAFlagOrItsLimit) {
    REQUIRE_PEERS();
    TNetSocket s(nullptr);
    bool connected = false;
    s.OnSessionConnected = [&](framework::TComponent*, uint16_t) { connected = true; };
    s.SetAddr("127.0.0.1");
    s.SetPort(PeerPort("silent"));
    // No limit: the wait still wakes for the socket's messages.
    EXPECT_EQ(s.RunAndWait(connected, [&] { s.Connect(); }), 0);
    EXPECT_EQ(s.State(), wsConnected);
    bool never = false;
    s.WaitLimitMs = 200;
    const DWORD start = GetTickCount();
    EXPECT_EQ(s.WaitUntilSet(never), 12001);
    EXPECT_GE(GetTickCount() - start, 190u);
    s.Abort();
}

TEST(NetSocketTimeout, IdleLimitFiresAfterOneSecondOfSilence) {
    REQUIRE_PEERS();
    TNetSocket s(nullptr);
    s.IdleLimitMs = 1000;
    s.LimitCheckMs = 50;
    DWORD connectedAt = 0, firedAt = 0;
    int reason = -1;
    s.OnSessionConnected = [&](framework::TComponent*, uint16_t) { connectedAt = GetTickCount(); };
    s.OnLimitReached = [&](framework::TComponent*, int r) {
        reason = r;
        firedAt = GetTickCount();
    };
    s.SetAddr("127.0.0.1");
    s.SetPort(PeerPort("silent"));
    s.Connect();
    ASSERT_TRUE(PumpUntil([&] { return reason >= 0; }, 10000));
    EXPECT_EQ(reason, 1);
    const DWORD idle = firedAt - connectedAt;
    EXPECT_GE(idle, 1000u);
    EXPECT_LE(idle, 1300u);
    EXPECT_FALSE(s.TimeoutTimerRunning());
    s.Abort();
}

TEST(NetSocketThrottle, OneMegabyteAtFiveHundredKilobytesPerSecond) {
    REQUIRE_PEERS();
    TNetSocket s(nullptr);
    s.SetBandwidthSampling(100);
    EXPECT_EQ(s.BandwidthSampling(), 500u);
    s.SetBandwidthSampling(1000);
    const uint32_t rate = 500 * 1024;
    s.SetBandwidthLimit(rate);
    bool connected = false, sent = false;
    s.OnSessionConnected = [&](framework::TComponent*, uint16_t) { connected = true; };
    s.SetAddr("127.0.0.1");
    s.SetPort(PeerPort("sink"));
    s.Connect();
    ASSERT_TRUE(PumpUntil([&] { return connected; }, 10000));
    EXPECT_TRUE(s.ThrottleOn());
    EXPECT_EQ(s.PeriodBudget(), int64_t(rate));
    const int port = std::stoi(s.LocalPortText());
    const std::string data = sockettest::Pattern(1 << 20, 13);
    s.OnDataSent = [&](framework::TComponent*, uint16_t) { sent = s.SendQueueEmpty(); };
    const DWORD start = GetTickCount();
    s.Send(data.data(), int(data.size()));
    ASSERT_TRUE(PumpUntil([&] { return sent; }, 20000));
    const double seconds = (GetTickCount() - start) / 1000.0;
    const double expected = double(data.size()) / rate;
    EXPECT_NEAR(seconds, expected, expected * 0.15) << seconds;
    s.Close();
    const sockettest::SinkReport r = sockettest::QuerySink(port);
    EXPECT_EQ(r.count, int64_t(data.size()));
    EXPECT_EQ(r.sha256, sockettest::Sha256Hex(data));
}
