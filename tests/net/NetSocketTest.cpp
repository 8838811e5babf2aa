// The socket against real local peers: connecting, sending through the queue, receiving,
// closing (FIN with every byte, reset only on Abort), peer resets, stale events of an
// earlier connection, re-entrant handlers and the connect errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <concepts>
#include <cstdint>
#include <functional>
#include <new>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "net/NetSocket.h"
#include "support/Paged.h"
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

// The error code, byte counters and look-up result are the socket's own record: a user reads
// them but can neither assign them nor reach the setters the layers use.
template <typename S>
concept WritableLastError = requires(S& s) { s.LastError = 0; } || requires(S& s) { s.LastError() = 0; } ||
                            requires(S& s) { s.SetLastError(0); };
template <typename S>
concept WritableBytesReceived = requires(S& s) { s.BytesReceived = 0; } || requires(S& s) { s.BytesReceived() = 0; } ||
                                requires(S& s) { s.SetBytesReceived(0); };
template <typename S>
concept WritableBytesSent = requires(S& s) { s.BytesSent = 0; } || requires(S& s) { s.BytesSent() = 0; } ||
                            requires(S& s) { s.SetBytesSent(0); };
template <typename S>
concept WritableLookupResult = requires(S& s) { s.LookupResult = ""; } || requires(S& s) { s.LookupResult() = ""; } ||
                               requires(S& s) { s.SetLookupResult(""); };
template <typename S>
concept ReadableOutputs = requires(const S& s) {
    { s.LastError() } -> std::same_as<int>;
    { s.BytesReceived() } -> std::same_as<int64_t>;
    { s.BytesSent() } -> std::same_as<int64_t>;
    { s.LookupResult() } -> std::convertible_to<std::string>;
};
static_assert(!WritableLastError<TNetSocket> && !WritableLastError<TCustomNetSocket>);
static_assert(!WritableBytesReceived<TNetSocket> && !WritableBytesReceived<TCustomNetSocket>);
static_assert(!WritableBytesSent<TNetSocket> && !WritableBytesSent<TCustomNetSocket>);
static_assert(!WritableLookupResult<TNetSocket> && !WritableLookupResult<TCustomNetSocket>);
static_assert(ReadableOutputs<TNetSocket>);
// Likewise the system buffer sizes, the look-up's list and the activity ticks.
template <typename S>
concept WritableBufSizes = requires(S& s) { s.SystemSendBufSize = 0; } || requires(S& s) { s.SystemSendBufSize() = 0; } ||
                           requires(S& s) { s.SystemRecvBufSize = 0; } || requires(S& s) { s.SystemRecvBufSize() = 0; };
template <typename S>
concept WritableLookupResults = requires(S& s) { s.LookupResults.Clear(); } || requires(S& s) { s.LookupResults().Clear(); };
template <typename C>
concept WritableTicks = requires(C& c) { c.StartTick = 0u; } || requires(C& c) { c.SendTick = 0u; } ||
                        requires(C& c) { c.RecvTick = 0u; } || requires(C& c) { c.StartDate = 0.0; } ||
                        requires(C& c) { c.StartTick() = 0u; } || requires(C& c) { c.SendTick() = 0u; } ||
                        requires(C& c) { c.RecvTick() = 0u; };
template <typename S>
concept WritableCallbackDepth = requires(S& s) { s.InsideCallbackCount() = 0; };
static_assert(!WritableBufSizes<TNetSocket> && !WritableLookupResults<TNetSocket> && !WritableTicks<TNetSocketCounter>);
static_assert(!WritableCallbackDepth<TNetSocket>);

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
    EXPECT_EQ(p.sock->BytesSent(), 6);
    EXPECT_EQ(p.sock->BytesReceived(), 6);
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
    EXPECT_EQ(p.sock->BytesSent(), int64_t(data.size()));
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
            EXPECT_EQ(p.sock->LastError(), WSAESHUTDOWN);
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
        if (p.sock->State() == wsConnected && p.sock->BytesSent() < (64 << 20)) p.Send(chunk);
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
    EXPECT_EQ(s.LastError(), WSAENOTCONN);
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
    EXPECT_EQ(second.LastError(), WSAEADDRINUSE);
}

// Dup over a live connection reports the old one closed. A handler that frees the socket
// there: nothing of it is touched afterwards, and the handle it was given goes with it.
TEST(NetSocket, FreedWhileDupReplacesALiveConnection) {
    REQUIRE_PEERS();
    TNetSocket* s = new testsupport::Paged<TNetSocket>(nullptr);
    bool connected = false, gone = false;
    s->OnSessionConnected = [&](framework::TComponent*, uint16_t e) { connected = e == 0; };
    s->SetAddr("127.0.0.1");
    s->SetPort(PeerPort("echo"));
    s->Connect();
    ASSERT_TRUE(PumpUntil([&] { return connected; }, 10000));
    const SOCKET h = Winsock::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = Winsock::htons(u_short(std::stoi(PeerPort("echo"))));
    a.sin_addr.s_addr = Winsock::inet_addr("127.0.0.1");
    ASSERT_EQ(Winsock::connect(h, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    s->OnChangeState = [&](framework::TComponent*, TSocketState, TSocketState n) {
        if (n != wsClosed) return;
        delete s;
        gone = true;
    };
    s->Dup(h);
    EXPECT_TRUE(gone);
    EXPECT_EQ(Winsock::send(h, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WinsockGetLastError(), WSAENOTSOCK);
    testsupport::PumpFor(100);
}

namespace {

// Keeps the other processors busy while it lives, as a loaded machine would.
struct CpuLoad {
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    explicit CpuLoad(int n) {
        for (int i = 0; i < n; ++i)
            threads.emplace_back([this] {
                volatile uint64_t x = 0;
                while (!stop.load(std::memory_order_relaxed)) x = x + 1;
            });
    }
    ~CpuLoad() {
        stop = true;
        for (auto& t : threads) t.join();
    }
};

std::string BlastText() {
    std::string s;
    s.reserve(2000000);
    char line[16];
    for (int i = 0; i < 200000; ++i) {
        snprintf(line, sizeof(line), "%08d\r\n", i);
        s += line;
    }
    return s;
}

}  // namespace

// The peer writes 2 MB and closes at once. A reader that takes small pieces needs far
// longer than one receive slice to empty what the system holds at the close: everything
// must still be read before the close is reported.
TEST(NetSocket, EverythingReceivedBeforeTheCloseIsAnnouncedFirst) {
    REQUIRE_PEERS();
    const std::string expected = BlastText();
    CpuLoad load(2);
    for (int round = 0; round < 4; ++round) {
        Probe p(false);
        std::vector<char> buf(64);
        p.sock->OnDataAvailable = [&](framework::TComponent*, uint16_t) {
            const int n = p.sock->ReceiveData(buf.data(), int(buf.size()));
            if (n > 0) p.received.append(buf.data(), size_t(n));
        };
        size_t atClose = 0;
        const auto recordClose = p.sock->OnSessionClosed;
        p.sock->OnSessionClosed = [&](framework::TComponent* s, uint16_t e) {
            atClose = p.received.size();
            recordClose(s, e);
        };
        p.Connect("blast");
        ASSERT_TRUE(p.WaitConnected()) << round;
        ASSERT_TRUE(PumpUntil([&] { return !p.closed.empty(); }, 30000)) << round;
        EXPECT_EQ(p.closed[0], 0) << round;
        EXPECT_EQ(atClose, expected.size()) << round;
        EXPECT_TRUE(p.received == expected) << round << ": " << p.received.size() << " bytes";
    }
}

// The close event can come while the system still holds much unread data (Windows reports
// the peer's FIN at once). Here the close is posted the way the system posts it, with 100 KB
// unread and a reader that takes 16 bytes a call: far more than one receive slice of work.
TEST(NetSocket, CloseEventWithMuchUnreadDataReadsItAllFirst) {
    REQUIRE_PEERS();
    Probe p(false);
    bool reading = false;
    std::vector<char> buf(16);
    p.sock->OnDataAvailable = [&](framework::TComponent*, uint16_t) {
        if (!reading) return;
        const int n = p.sock->ReceiveData(buf.data(), int(buf.size()));
        if (n > 0) p.received.append(buf.data(), size_t(n));
    };
    size_t atClose = 0;
    const auto recordClose = p.sock->OnSessionClosed;
    p.sock->OnSessionClosed = [&](framework::TComponent* s, uint16_t e) {
        atClose = p.received.size();
        recordClose(s, e);
    };
    p.Connect("echo");
    ASSERT_TRUE(p.WaitConnected());
    const std::string data = sockettest::Pattern(100000, 31);
    p.Send(data + "\x04");
    ASSERT_TRUE(PumpUntil([&] { return p.sock->PendingReceiveCount() == int(data.size()); }, 10000));
    reading = true;
    PostMessageA(p.sock->WindowHandle(), p.sock->IdSocketEvent(), WPARAM(p.sock->HSocket()), MAKELONG(FD_CLOSE, 0));
    ASSERT_TRUE(PumpUntil([&] { return !p.closed.empty(); }, 30000));
    EXPECT_EQ(atClose, data.size());
    EXPECT_TRUE(p.received == data) << p.received.size() << " bytes";
}

// OnSendData fires once per system send; a handler that sends again from it must not nest
// one call deeper per piece (with 500-byte blocks that ran the stack out).
TEST(NetSocket, HandlerThatSendsFromOnSendDataNeverNests) {
    REQUIRE_PEERS();
    Probe p;
    p.Connect("sink");
    ASSERT_TRUE(p.WaitConnected());
    const int port = p.LocalPort();
    p.sock->SetBufSize(500);
    const std::string data = sockettest::Pattern(4 << 20, 21);
    size_t queued = 0;
    int depth = 0, deepest = 0;
    auto next = [&] {
        const size_t n = std::min<size_t>(500, data.size() - queued);
        if (n == 0) return;
        queued += n;
        p.sock->Send(data.data() + queued - n, int(n));
    };
    p.sock->OnSendData = [&](framework::TComponent*, int) {
        ++depth;
        deepest = std::max(deepest, depth);
        next();
        --depth;
    };
    next();
    ASSERT_TRUE(PumpUntil([&] { return queued == data.size() && p.sock->SendQueueEmpty(); }, 60000));
    EXPECT_EQ(deepest, 1);
    p.sock->Close();
    ASSERT_TRUE(PumpUntil([&] { return !p.closed.empty(); }, 30000));
    const sockettest::SinkReport r = sockettest::QuerySink(port);
    EXPECT_EQ(r.count, int64_t(data.size()));
    EXPECT_EQ(r.sha256, sockettest::Sha256Hex(data));
}

// A handler that answers a refused connect by connecting elsewhere keeps that connection.
TEST(NetSocket, RetryFromARefusedConnectKeepsTheNewConnection) {
    REQUIRE_PEERS();
    Probe p;
    const auto record = p.sock->OnSessionConnected;
    p.sock->OnSessionConnected = [&](framework::TComponent* s, uint16_t e) {
        record(s, e);
        if (e == WSAECONNREFUSED) {
            p.sock->Abort();
            p.Connect("echo");
        }
    };
    p.Connect("refused");
    ASSERT_TRUE(PumpUntil([&] { return p.connected.size() == 2; }, 10000));
    EXPECT_EQ(p.connected, (std::vector<uint16_t>{WSAECONNREFUSED, 0}));
    testsupport::PumpFor(100);
    EXPECT_EQ(p.sock->State(), wsConnected);
    p.Send("still here");
    ASSERT_TRUE(PumpUntil([&] { return p.received == "still here"; }));
    p.sock->Abort();
}

// OnChangeState names the state the socket really left.
TEST(NetSocket, CloseReportsTheStateItLeft) {
    REQUIRE_PEERS();
    struct Case {
        const char* name;
        std::function<void(TNetSocket&)> start;
        TSocketState before;
    } cases[] = {
        {"connecting",
         [](TNetSocket& s) {
             s.SetAddr("127.0.0.1");
             s.SetPort(PeerPort("silent"));
             s.Connect();
         },
         wsConnecting},
        {"connected",
         [](TNetSocket& s) {
             s.SetAddr("127.0.0.1");
             s.SetPort(PeerPort("silent"));
             s.Connect();
             PumpUntil([&] { return s.State() == wsConnected; }, 10000);
         },
         wsConnected},
        {"listening",
         [](TNetSocket& s) {
             s.SetAddr("127.0.0.1");
             s.SetPort("0");
             s.Listen();
         },
         wsListening},
    };
    for (const Case& c : cases) {
        TNetSocket s(nullptr);
        c.start(s);
        ASSERT_EQ(s.State(), c.before) << c.name;
        std::vector<std::pair<TSocketState, TSocketState>> changes;
        s.OnChangeState = [&](framework::TComponent*, TSocketState o, TSocketState n) { changes.emplace_back(o, n); };
        s.Close();
        ASSERT_EQ(changes.size(), 1u) << c.name;
        EXPECT_EQ(changes[0].first, c.before) << c.name;
        EXPECT_EQ(changes[0].second, wsClosed) << c.name;
    }
}

// The flush limit counts from the last byte the peer took: a peer that reads slowly but
// steadily gets the whole queue and a FIN, however long that takes.
TEST(NetSocket, FlushLimitRestartsWhileThePeerKeepsReading) {
    REQUIRE_PEERS();
    Probe p;
    p.Connect("slowsink");
    ASSERT_TRUE(p.WaitConnected());
    const int port = p.LocalPort();
    p.sock->SetSocketSndBufSize(16384);
    p.sock->FlushTimeout = 1;
    const std::string data = sockettest::Pattern(2 << 20, 17);
    p.sock->Send(data.data(), int(data.size()));
    ASSERT_GT(p.sock->QueuedBytes(), 1 << 20);
    p.sock->Close();
    ASSERT_TRUE(PumpUntil([&] { return !p.closed.empty(); }, 60000));
    EXPECT_EQ(p.closed, std::vector<uint16_t>{0});
    const sockettest::SinkReport r = sockettest::QuerySink(port);
    EXPECT_EQ(r.count, int64_t(data.size()));
    EXPECT_EQ(r.end, "fin");
}

namespace {
bool gFlushWatchdogFired = false;
TNetSocket* gFlushWatchdogSocket = nullptr;
void CALLBACK FlushWatchdog(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    gFlushWatchdogFired = true;
    if (gFlushWatchdogSocket) gFlushWatchdogSocket->Abort();
}
}  // namespace

// Flush against a peer that never reads gives up after FlushTimeout without progress and
// leaves the connection and its queue as they are (the watchdog only ends a Flush that
// would run for ever).
TEST(NetSocket, FlushToAPeerThatNeverReadsGivesUp) {
    REQUIRE_PEERS();
    Probe p;
    p.Connect("silent");
    ASSERT_TRUE(p.WaitConnected());
    p.sock->SetSocketSndBufSize(16384);
    p.sock->FlushTimeout = 1;
    const std::string data = sockettest::Pattern(8 << 20, 19);
    p.sock->Send(data.data(), int(data.size()));
    ASSERT_GT(p.sock->QueuedBytes(), 0);
    gFlushWatchdogFired = false;
    gFlushWatchdogSocket = p.sock.get();
    const UINT_PTR watchdog = SetTimer(nullptr, 0, 15000, FlushWatchdog);
    p.sock->Flush();
    KillTimer(nullptr, watchdog);
    gFlushWatchdogSocket = nullptr;
    EXPECT_FALSE(gFlushWatchdogFired);
    EXPECT_EQ(p.sock->State(), wsConnected);
    EXPECT_GT(p.sock->QueuedBytes(), 0);
    p.sock->Abort();
}

namespace {
// A window of the test thread whose handler frees a socket when another thread sends it a
// message. The socket lives in its own pages, released with it: touching it afterwards
// faults at once instead of reading freed heap.
struct SentMessageKiller {
    static inline TCustomNetSocket* victim = nullptr;
    static inline void* pages = nullptr;
    static inline bool freed = false;
    static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
        if (m == WM_APP && victim) {
            victim->~TCustomNetSocket();
            VirtualFree(pages, 0, MEM_RELEASE);
            victim = nullptr;
            freed = true;
            return 1;
        }
        return DefWindowProcA(w, m, wp, lp);
    }
    HWND wnd = nullptr;
    SentMessageKiller() { wnd = sockettest::MessageWindow(Proc, "VaSentMessageKiller"); }
    ~SentMessageKiller() { DestroyWindow(wnd); }
    TCustomNetSocket* Make() {
        pages = VirtualAlloc(nullptr, sizeof(TCustomNetSocket), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        freed = false;
        victim = new (pages) TCustomNetSocket(nullptr);
        return victim;
    }
};
}  // namespace

// Dropping a closed handle's queued events runs, as a side effect of PeekMessage, every
// message another thread sent to this thread; one of them frees the socket in the middle
// of its close, connect or adoption. The core alone: the layers above have their own part.
TEST(NetSocket, SocketFreedByASentMessageWhileDroppingItsEvents) {
    REQUIRE_PEERS();
    for (int which = 0; which < 3; ++which) {
        SentMessageKiller killer;
        TCustomNetSocket* s = killer.Make();
        TNetSocket server(nullptr);
        SOCKET accepted = INVALID_SOCKET;
        if (which == 2) {
            server.SetAddr("127.0.0.1");
            server.SetPort("0");
            server.OnSessionAvailable = [&](framework::TComponent*, uint16_t) { accepted = server.Accept(); };
            server.Listen();
        }
        if (which != 1) {
            bool up = false;
            s->OnSessionConnected = [&](framework::TComponent*, uint16_t) { up = true; };
            s->SetAddr("127.0.0.1");
            s->SetPort(which == 2 ? server.LocalPortText() : PeerPort("silent"));
            s->Connect();
            ASSERT_TRUE(PumpUntil([&] { return up && (which != 2 || accepted != INVALID_SOCKET); }, 10000)) << which;
        }
        // Another thread sends; its message waits until this thread looks at its queue.
        std::thread sender([&] { SendMessageA(killer.wnd, WM_APP, 0, 0); });
        while (!(HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE)) Sleep(1);
        if (which == 0) {
            s->Close();
        } else if (which == 1) {
            s->SetAddr("127.0.0.1");
            s->SetPort(PeerPort("silent"));
            s->Connect();
        } else {
            // A second connected socket adopts the accepted handle.
            s->Dup(accepted);
        }
        sender.join();
        EXPECT_TRUE(SentMessageKiller::freed) << which;
        testsupport::PumpFor(50);
    }
}
