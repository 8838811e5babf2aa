// The socket against real local peers: connecting, sending through the queue, receiving,
// closing (FIN with every byte, reset only on Abort), peer resets, stale events of an
// earlier connection, re-entrant handlers and the connect errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "net/NetSocket.h"
#include "support/Pump.h"
#include "SocketTestUtil.h"

using sockettest::PeerPort;
using testsupport::PumpUntil;

namespace {

// A socket with its events written down.
struct Probe {
    std::unique_ptr<TNetSocket> sock = std::make_unique<TNetSocket>(nullptr);
    std::vector<uint16_t> connected, closed, dataSent;
    std::string received;
    int available = 0;
    bool inSend = false;
    int eventsInsideSend = 0;

    explicit Probe(bool readAll = true) {
        sock->OnSessionConnected = [this](framework::TComponent*, uint16_t e) { connected.push_back(e); };
        sock->OnSessionClosed = [this](framework::TComponent*, uint16_t e) {
            if (inSend) ++eventsInsideSend;
            closed.push_back(e);
        };
        sock->OnDataSent = [this](framework::TComponent*, uint16_t e) {
            if (inSend) ++eventsInsideSend;
            dataSent.push_back(e);
        };
        if (readAll)
            sock->OnDataAvailable = [this](framework::TComponent*, uint16_t) {
                ++available;
                received += sock->ReceiveAsText();
            };
    }
    void Connect(const std::string& peer) {
        sock->SetAddr("127.0.0.1");
        sock->SetPort(PeerPort(peer));
        sock->Connect();
    }
    bool WaitConnected() {
        if (!PumpUntil([&] { return !connected.empty(); }, 10000)) return false;
        EXPECT_EQ(connected[0], 0);
        return connected[0] == 0;
    }
    int Send(const std::string& s) {
        inSend = true;
        const int r = sock->SendText(s);
        inSend = false;
        return r;
    }
    int LocalPort() { return std::stoi(sock->LocalPortText()); }
};

std::string Raised(const std::function<void()>& f) {
    try {
        f();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(NetSocket, EchoRoundTripAndDataSentFromTheLoop) {
    REQUIRE_PEERS();
    Probe p;
    p.Connect("echo");
    EXPECT_EQ(p.sock->State(), wsConnecting);
    ASSERT_TRUE(p.WaitConnected());
    EXPECT_EQ(p.sock->State(), wsConnected);
    EXPECT_EQ(p.sock->GetPeerPort(), PeerPort("echo"));
    EXPECT_EQ(p.sock->GetPeerAddr(), "127.0.0.1");
    testsupport::PumpFor(50);  // the first FD_WRITE of the connection
    p.dataSent.clear();
    EXPECT_EQ(p.Send("ping\r\n"), 6);
    EXPECT_TRUE(p.dataSent.empty());  // never from inside Send
    ASSERT_TRUE(PumpUntil([&] { return p.received == "ping\r\n"; }));
    EXPECT_FALSE(p.dataSent.empty());
    EXPECT_EQ(p.eventsInsideSend, 0);
    EXPECT_EQ(p.sock->BytesSent, 6);
    EXPECT_EQ(p.sock->BytesReceived, 6);
    p.sock->Close();
    EXPECT_EQ(p.sock->State(), wsClosed);
    ASSERT_EQ(p.closed.size(), 1u);
    // Closing resets the address: a new connection needs it again.
    EXPECT_EQ(Raised([&] { p.sock->Connect(); }), "Connect: No Port Specified");
}

TEST(NetSocket, RefusedConnectReports10061) {
    REQUIRE_PEERS();
    Probe p;
    p.Connect("refused");
    ASSERT_TRUE(PumpUntil([&] { return !p.connected.empty(); }, 10000));
    EXPECT_EQ(p.connected[0], 10061);
    ASSERT_TRUE(PumpUntil([&] { return p.sock->State() == wsClosed; }));
}

TEST(NetSocket, EightMegabytesToASlowSinkArriveIntact) {
    REQUIRE_PEERS();
    Probe p;
    p.Connect("sink");
    ASSERT_TRUE(p.WaitConnected());
    const int port = p.LocalPort();
    const std::string data = sockettest::Pattern(8 << 20, 7);
    // In pieces of odd sizes, so that blocks are filled across calls.
    for (size_t off = 0; off < data.size();) {
        const size_t n = std::min<size_t>(100003, data.size() - off);
        ASSERT_EQ(p.sock->Send(data.data() + off, int(n)), int(n));
        off += n;
    }
    ASSERT_TRUE(PumpUntil([&] { return p.sock->SendQueueEmpty() && !p.dataSent.empty(); }, 60000));
    EXPECT_EQ(p.sock->BytesSent, int64_t(data.size()));
    p.sock->Close();
    const sockettest::SinkReport r = sockettest::QuerySink(port);
    EXPECT_EQ(r.count, int64_t(data.size()));
    EXPECT_EQ(r.sha256, sockettest::Sha256Hex(data));
    EXPECT_EQ(r.end, "fin");
}

TEST(NetSocket, CloseDeliversEveryQueuedByteAndAFin) {
    REQUIRE_PEERS();
    // 1 MB in one piece (the system usually takes it at once), then 1 MB pieces until the
    // socket's own queue holds some when Close is called (the sink starts reading late).
    for (bool untilQueued : {false, true}) {
        Probe p;
        p.Connect("sink");
        ASSERT_TRUE(p.WaitConnected());
        const int port = p.LocalPort();
        const std::string piece = sockettest::Pattern(1 << 20, 3);
        std::string data;
        do {
            ASSERT_EQ(p.sock->Send(piece.data(), int(piece.size())), int(piece.size()));
            data += piece;
        } while (untilQueued && p.sock->QueuedBytes() == 0 && data.size() < (64u << 20));
        const size_t size = data.size();
        const bool queued = p.sock->QueuedBytes() > 0;
        if (untilQueued) {
            ASSERT_TRUE(queued);
        }
        p.sock->Close();
        EXPECT_EQ(p.sock->ClosePending(), queued);
        if (queued) {
            // Nothing joins a queue that is closing.
            p.sock->ComponentOptions.Include(wsoNoSendException);
            EXPECT_EQ(p.sock->Send("x", 1), -1);
            EXPECT_EQ(p.sock->LastError, WSAESHUTDOWN);
        }
        ASSERT_TRUE(PumpUntil([&] { return p.closed.size() == 1; }, 60000));
        EXPECT_EQ(p.closed[0], 0);
        EXPECT_EQ(p.sock->State(), wsClosed);
        const sockettest::SinkReport r = sockettest::QuerySink(port);
        EXPECT_EQ(r.count, int64_t(data.size())) << size;
        EXPECT_EQ(r.sha256, sockettest::Sha256Hex(data)) << size;
        EXPECT_EQ(r.end, "fin") << size;
    }
}

TEST(NetSocket, AbortResetsTheConnection) {
    REQUIRE_PEERS();
    Probe p;
    p.Connect("sink");
    ASSERT_TRUE(p.WaitConnected());
    const int port = p.LocalPort();
    const std::string data = sockettest::Pattern(1 << 20, 5);
    p.sock->Send(data.data(), int(data.size()));
    p.sock->Abort();
    EXPECT_EQ(p.sock->State(), wsClosed);
    EXPECT_EQ(p.sock->QueuedBytes(), 0);
    const sockettest::SinkReport r = sockettest::QuerySink(port);
    EXPECT_EQ(r.end, "rst");
    EXPECT_LT(r.count, int64_t(data.size()));
}

TEST(NetSocket, CloseToAPeerThatNeverReadsEndsAtTheFlushLimit) {
    REQUIRE_PEERS();
    Probe p;
    p.Connect("silent");
    ASSERT_TRUE(p.WaitConnected());
    p.sock->FlushTimeout = 1;
    const std::string data = sockettest::Pattern(16 << 20, 9);
    p.sock->Send(data.data(), int(data.size()));
    ASSERT_GT(p.sock->QueuedBytes(), 0);
    p.sock->Close();
    ASSERT_TRUE(PumpUntil([&] { return !p.closed.empty(); }, 15000));
    EXPECT_EQ(p.closed, std::vector<uint16_t>{WSAETIMEDOUT});
    EXPECT_EQ(p.sock->State(), wsClosed);
}

TEST(NetSocket, PeerResetWhileSendingGivesOneCloseOutsideSend) {
    REQUIRE_PEERS();
    Probe p;
    p.Connect("rstread");
    ASSERT_TRUE(p.WaitConnected());
    const std::string chunk = sockettest::Pattern(256 << 10, 11);
    p.sock->ComponentOptions.Include(wsoNoSendException);
    // Keep the queue full from the loop until the peer's reset ends the connection.
    p.sock->OnDataSent = [&](framework::TComponent*, uint16_t) {
        if (p.sock->State() == wsConnected && p.sock->BytesSent < (64 << 20)) p.Send(chunk);
    };
    p.Send(chunk);
    p.Send(chunk);
    ASSERT_TRUE(PumpUntil([&] { return !p.closed.empty(); }, 30000));
    testsupport::PumpFor(300);
    ASSERT_EQ(p.closed.size(), 1u);
    EXPECT_TRUE(p.closed[0] == WSAECONNRESET || p.closed[0] == WSAECONNABORTED) << p.closed[0];
    EXPECT_EQ(p.eventsInsideSend, 0);
    EXPECT_EQ(p.sock->State(), wsClosed);
}

TEST(NetSocket, ConnectCloseCyclesGiveOneCloseEachAndKeepHandlesFlat) {
    REQUIRE_PEERS();
    Probe p;
    DWORD before = 0, after = 0;
    for (int i = 0; i < 200; ++i) {
        if (i == 20) GetProcessHandleCount(GetCurrentProcess(), &before);
        const size_t closes = p.closed.size();
        p.connected.clear();
        p.received.clear();
        p.Connect("fin");
        ASSERT_TRUE(p.WaitConnected()) << i;
        ASSERT_TRUE(PumpUntil([&] { return p.closed.size() == closes + 1; }, 10000)) << i;
        EXPECT_EQ(p.received, "hello\r\n") << i;
        EXPECT_EQ(p.sock->State(), wsClosed);
    }
    testsupport::PumpFor(200);
    EXPECT_EQ(p.closed.size(), 200u);
    GetProcessHandleCount(GetCurrentProcess(), &after);
    EXPECT_LE(after, before + 10);
}

// The proxy tunnel connects again from its session-closed path after a 407; the close of
// that new connection must still be reported.
TEST(NetSocket, ConnectionMadeFromTheCloseHandlerReportsItsOwnClose) {
    REQUIRE_PEERS();
    Probe p;
    const auto firstClose = p.sock->OnSessionClosed;
    p.sock->OnSessionClosed = [&](framework::TComponent* s, uint16_t e) {
        firstClose(s, e);
        if (p.closed.size() < 3) p.Connect("fin");
    };
    p.Connect("fin");
    ASSERT_TRUE(PumpUntil([&] { return p.closed.size() == 3; }, 10000)) << p.closed.size() << " closes";
    EXPECT_EQ(p.connected, (std::vector<uint16_t>{0, 0, 0}));
    EXPECT_EQ(p.received, "hello\r\nhello\r\nhello\r\n");
    testsupport::PumpFor(100);
    EXPECT_EQ(p.closed.size(), 3u);
    EXPECT_EQ(p.sock->State(), wsClosed);
}

TEST(NetSocket, EventsOfAClosedConnectionNeverReachTheNextOne) {
    REQUIRE_PEERS();
    Probe p;
    for (int round = 0; round < 20; ++round) {
        p.connected.clear();
        p.closed.clear();
        p.received.clear();
        p.Connect("fin");
        ASSERT_TRUE(p.WaitConnected());
        // Let the peer's data and FIN be queued as socket events, unhandled.
        Sleep(50);
        p.sock->Close();
        ASSERT_EQ(p.closed.size(), 1u);
        p.closed.clear();
        p.connected.clear();
        p.received.clear();
        p.Connect("silent");
        ASSERT_TRUE(p.WaitConnected());
        testsupport::PumpFor(30);
        EXPECT_TRUE(p.received.empty()) << round;
        EXPECT_TRUE(p.closed.empty()) << round;
        EXPECT_EQ(p.sock->State(), wsConnected);
        p.sock->Abort();
    }
}

TEST(NetSocket, ReceiveHandlingBoundsAndAHandlerThatReadsNothing) {
    REQUIRE_PEERS();
    Probe p(false);
    int calls = 0;
    p.sock->OnDataAvailable = [&](framework::TComponent*, uint16_t) { ++calls; };
    p.Connect("echo");
    ASSERT_TRUE(p.WaitConnected());
    const std::string data = sockettest::Pattern(100, 2);
    p.Send(data);
    ASSERT_TRUE(PumpUntil([&] { return calls > 0 && p.sock->PendingReceiveCount() == 100; }));
    // The window's thread is not held by a handler that leaves the data where it is.
    testsupport::PumpFor(100);
    EXPECT_LT(calls, 5);
    std::vector<uint8_t> small(10, 0xEE);
    EXPECT_EQ(p.sock->ReceiveBytes(small, 1000), 10);
    ASSERT_EQ(small.size(), 10u);
    EXPECT_EQ(std::string(small.begin(), small.end()), data.substr(0, 10));
    std::vector<uint8_t> none;
    EXPECT_EQ(p.sock->ReceiveBytes(none, 50), -1);
    std::vector<uint8_t> big(500);
    EXPECT_EQ(p.sock->ReceiveBytes(big, 30), 30);
    EXPECT_EQ(std::string(big.begin(), big.end()), data.substr(10, 30));
    EXPECT_EQ(p.sock->ReceiveAsText(), data.substr(40));
    p.sock->Abort();
}

// A peer that sends faster than the handler reads must not hold the thread inside one
// message: each dispatch returns after a slice, and reading goes on with the next one.
TEST(NetSocket, EndlessStreamLeavesTheThreadItsMessages) {
    REQUIRE_PEERS();
    Probe p(false);
    constexpr int64_t kTarget = int64_t(32) << 20, kCap = int64_t(256) << 20;
    int64_t got = 0;
    // Small reads, so that the peer always stays ahead of the handler.
    std::vector<char> buf(4096);
    p.sock->OnDataAvailable = [&](framework::TComponent*, uint16_t) {
        // Past the cap the handler leaves the data, which ends any loop: the test then fails
        // instead of hanging.
        if (got >= kCap) return;
        const int n = p.sock->ReceiveData(buf.data(), int(buf.size()));
        if (n > 0) got += n;
    };
    p.Connect("flood");
    ASSERT_TRUE(p.WaitConnected());
    // One message at a time, as a modal loop that checks its condition between them.
    int64_t mostInOneMessage = 0;
    const ULONGLONG end = GetTickCount64() + 30000;
    while (got < kTarget && GetTickCount64() < end) {
        MSG m;
        if (!PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            continue;
        }
        const int64_t before = got;
        DispatchMessageA(&m);
        mostInOneMessage = std::max(mostInOneMessage, got - before);
    }
    EXPECT_GE(got, kTarget) << "reading stopped";
    EXPECT_LT(mostInOneMessage, kTarget / 2) << "one message held the thread";
    p.sock->Abort();
}

TEST(NetSocket, HandlerThatSendsAgainNeverDuplicatesABlock) {
    REQUIRE_PEERS();
    Probe p;
    p.Connect("echo");
    ASSERT_TRUE(p.WaitConnected());
    const std::string data = sockettest::Pattern(3000, 4);
    int sends = 0;
    p.sock->OnSendData = [&](framework::TComponent*, int) {
        if (++sends == 1) p.sock->SendText("XYZ");
    };
    p.Send(data);
    ASSERT_TRUE(PumpUntil([&] { return p.received.size() >= data.size() + 3; }));
    testsupport::PumpFor(100);
    EXPECT_EQ(p.received, data + "XYZ");
    p.sock->Abort();
}

TEST(NetSocket, ErrorsOfConnectAndSend) {
    REQUIRE_PEERS();
    TNetSocket s(nullptr);
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connect: No Port Specified");
    s.SetPort(PeerPort("silent"));
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connect: No IP Address Specified");
    s.SetAddr("127.0.0.1");
    s.SetProto("");
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connect: No Protocol Specified");
    s.SetProto("tcp");
    EXPECT_EQ(Raised([&] { s.SendText("x"); }).find("Socket is not connected"), 0u);
    EXPECT_EQ(s.LastError, WSAENOTCONN);
    s.ComponentOptions.Include(wsoNoSendException);
    EXPECT_EQ(s.SendText("x"), -1);
    s.Connect();
    EXPECT_EQ(Raised([&] { s.Connect(); }), "Connect: Socket already in use");
    EXPECT_EQ(Raised([&] { s.SetPort("1"); }), "Cannot change Port if not closed");
    // With OnError nothing is raised; LastError tells.
    int errors = 0;
    s.OnError = [&](framework::TComponent*) { ++errors; };
    s.Connect();
    EXPECT_EQ(errors, 1);
    s.Abort();
    // A handler that moves the state while the socket opens fails the connect.
    TNetSocket t(nullptr);
    t.SetAddr("127.0.0.1");
    t.SetPort(PeerPort("silent"));
    t.OnChangeState = [&](framework::TComponent*, TSocketState, TSocketState n) {
        if (n == wsOpened) t.Abort();
    };
    EXPECT_NE(Raised([&] { t.Connect(); }).find("Connect (Invalid operation in OnChangeState)"), std::string::npos);
}

TEST(NetSocket, FreedInsideItsOwnHandlers) {
    REQUIRE_PEERS();
    // Each handler frees the socket; nothing of it is touched afterwards.
    for (int which = 0; which < 3; ++which) {
        auto* s = new TNetSocket(nullptr);
        bool gone = false;
        auto kill = [&] {
            delete s;
            gone = true;
        };
        if (which == 0) s->OnSessionConnected = [&](framework::TComponent*, uint16_t) { kill(); };
        if (which == 1) s->OnDataAvailable = [&](framework::TComponent*, uint16_t) { kill(); };
        if (which == 2) s->OnSessionClosed = [&](framework::TComponent*, uint16_t) { kill(); };
        if (which == 2) s->OnDataAvailable = [&](framework::TComponent*, uint16_t) { s->ReceiveAsText(); };
        s->SetAddr("127.0.0.1");
        s->SetPort(PeerPort("fin"));
        s->Connect();
        ASSERT_TRUE(PumpUntil([&] { return gone; }, 10000)) << which;
        testsupport::PumpFor(50);
    }
}

TEST(NetSocket, ListenAcceptAndAdoptTheConnection) {
    // A listening socket on an ephemeral port of 127.0.0.1, a client of our own, and the
    // accepted handle adopted by a third socket.
    TNetSocket server(nullptr), accepted(nullptr);
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    std::vector<TSocketState> states;
    server.OnChangeState = [&](framework::TComponent*, TSocketState, TSocketState n) { states.push_back(n); };
    server.OnSessionAvailable = [&](framework::TComponent*, uint16_t e) {
        ASSERT_EQ(e, 0);
        accepted.Dup(server.Accept());
    };
    server.Listen();
    EXPECT_EQ(states, (std::vector<TSocketState>{wsBound, wsListening}));
    const std::string port = server.LocalPortText();
    ASSERT_NE(port, "0");
    std::string got;
    accepted.OnDataAvailable = [&](framework::TComponent*, uint16_t) { got += accepted.ReceiveAsText(); };

    Probe client;
    client.sock->SetAddr("127.0.0.1");
    client.sock->SetPort(port);
    client.sock->Connect();
    ASSERT_TRUE(client.WaitConnected());
    ASSERT_TRUE(PumpUntil([&] { return accepted.State() == wsConnected; }));
    EXPECT_EQ(accepted.GetPeerPort(), client.sock->LocalPortText());
    client.Send("to the server");
    ASSERT_TRUE(PumpUntil([&] { return got == "to the server"; }));
    accepted.SendText("back");
    ASSERT_TRUE(PumpUntil([&] { return client.received == "back"; }));
    accepted.Close();
    ASSERT_TRUE(PumpUntil([&] { return client.closed.size() == 1; }));

    // A second listener on the same port is told who holds it.
    TNetSocket second(nullptr);
    second.SetAddr("127.0.0.1");
    second.SetPort(port);
    second.ExclusiveAddr = true;
    const std::string text = Raised([&] { second.Listen(); });
    EXPECT_NE(text.find("Address already in use"), std::string::npos) << text;
    EXPECT_EQ(second.LastError, WSAEADDRINUSE);
}
