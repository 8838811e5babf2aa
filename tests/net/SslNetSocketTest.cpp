// The TLS socket against real peers on 127.0.0.1: openssl s_server and socat as servers
// (TLS 1.2 and 1.3, ALPN, OCSP stapling, client certificates, session reuse, a 16 MB echo),
// plain and early-closing peers, and our own TLS server against openssl s_client and hostile
// client hellos sent by the peers' driver.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/SslCallbacks.h"
#include "net/SslSocket.h"
#include "OpenSslTestUtil.h"
#include "SocketTestUtil.h"
#include "support/Pump.h"

using testsupport::PumpUntil;

namespace {

std::string TlsPeerPort(const std::string& name) {
    std::ifstream f("net-tls-peers\\ports.txt");
    std::string n, p;
    while (f >> n >> p)
        if (n == name) return p;
    return "";
}

#define REQUIRE_TLS_PEERS() \
    if (TlsPeerPort("driver").empty()) GTEST_SKIP() << "TLS peers not started"

// A TLS client socket with its events written down.
struct Client {
    ssltest::OpenSslScope ssl;
    TSslContext ctx{nullptr};
    std::unique_ptr<TSslNetSocket> sock;
    std::vector<uint16_t> handshakes, closed;
    std::vector<std::pair<bool, int>> shutdowns;
    std::string received, handshakeText;
    int version = 0;
    bool peerCertSeen = false;
    bool certIsProperty = false;

    explicit Client(std::unique_ptr<TSslNetSocket> s = std::make_unique<TSslNetSocket>(nullptr)) : sock(std::move(s)) {
        sock->SslEnable = true;
        sock->SetSslContext(&ctx);
        sock->OnSslHandshakeDone = [this](TCustomSslNetSocket* s, uint16_t e, TX509Base* cert, bool&) {
            handshakes.push_back(e);
            handshakeText = s->HandshakeMessage();
            version = s->TlsVersionNumber();
            peerCertSeen = cert && cert->IsCertLoaded();
            certIsProperty = cert != nullptr && cert == s->PeerCertificate();
        };
        sock->OnSessionClosed = [this](framework::TComponent*, uint16_t e) { closed.push_back(e); };
        sock->OnDataAvailable = [this](framework::TComponent*, uint16_t) {
            char buf[65536];
            int n;
            while ((n = sock->ReceiveData(buf, sizeof(buf))) > 0) received.append(buf, size_t(n));
        };
        sock->OnSslShutDownComplete = [this](TCustomSslNetSocket*, bool bidi, int e) { shutdowns.push_back({bidi, e}); };
    }
    void Verify(const std::string& host = "www.example.test") {
        ssltest::SetUpVerifyingClient(ctx, ssltest::CertPath("ca.pem"));
        sock->TlsServerName = host;
    }
    void Connect(const std::string& port) {
        // The close turns TLS off; each connection asks for it again.
        sock->SslEnable = true;
        sock->SetAddr("127.0.0.1");
        sock->SetPort(port);
        sock->Connect();
    }
    bool WaitHandshake() { return PumpUntil([&] { return !handshakes.empty(); }, 20000); }
    bool WaitClosed() { return PumpUntil([&] { return !closed.empty(); }, 20000); }
    // One page of an s_server -www peer.
    std::string Page(const std::string& port) {
        received.clear();
        handshakes.clear();
        closed.clear();
        Connect(port);
        if (!WaitHandshake() || handshakes[0] != 0) return "handshake failed: " + handshakeText;
        sock->SendText("GET / HTTP/1.0\r\n\r\n");
        WaitClosed();
        return received;
    }
};

}  // namespace

TEST(SslHello, ExtensionListsAreReadWithinTheirLengths) {
    struct Case {
        const char* name;
        unsigned type;
        std::vector<uint8_t> data;
        bool ok;
    } cases[] = {
        {"groups", 10, {0x00, 0x04, 0x00, 0x17, 0x00, 0x1d}, true},
        {"groups longer than the data", 10, {0x00, 0x08, 0x00, 0x17}, false},
        {"groups odd", 10, {0x00, 0x03, 0x00, 0x17, 0x00}, false},
        {"groups without length", 10, {0x00}, false},
        {"sigalgs", 13, {0x00, 0x02, 0x04, 0x01}, true},
        {"sigalgs shorter than the data", 13, {0x00, 0x02, 0x04, 0x01, 0x05, 0x01}, false},
        {"versions", 43, {0x04, 0x03, 0x04, 0x03, 0x03}, true},
        {"versions longer than the data", 43, {0xfe, 0x03, 0x04}, false},
        {"server name", 0, {0x00, 0x07, 0x00, 0x00, 0x04, 'a', '.', 'b', 'c'}, true},
        {"server name past the end", 0, {0x00, 0x07, 0x00, 0xff, 0xff, 'a', '.', 'b', 'c'}, false},
        {"point formats", 11, {0x01, 0x00}, true},
        {"point formats too long", 11, {0x05, 0x00}, false},
        {"alpn", 16, {0x00, 0x03, 0x02, 'h', '2'}, true},
        {"alpn past the end", 16, {0x00, 0x09, 0x02, 'h', '2'}, false},
        {"empty", 10, {}, false},
    };
    for (const Case& c : cases) {
        TClientHelloData h;
        EXPECT_EQ(SslParseHelloExtension(h, c.type, c.data.empty() ? nullptr : c.data.data(), c.data.size()), c.ok)
            << c.name;
        if (c.ok && c.type == 10) EXPECT_EQ(h.SupportedGroups, (std::vector<uint16_t>{0x17, 0x1d}));
        if (c.ok && c.type == 43) EXPECT_EQ(h.SupportedVersions, (std::vector<uint16_t>{0x0304, 0x0303}));
        if (c.ok && c.type == 0) EXPECT_EQ(h.ServerName, "a.bc");
    }
}

TEST(SslSocket, HandshakesWithOpensslServers) {
    REQUIRE_TLS_PEERS();
    struct Case {
        const char* peer;
        int version;
        const char* text;
    } cases[] = {
        {"www12", 0x303, "key exchange"},
        {"www13", 0x304, "encryption"},
    };
    for (const Case& c : cases) {
        Client cl;
        cl.Verify();
        const std::string page = cl.Page(TlsPeerPort(c.peer));
        ASSERT_EQ(cl.handshakes, std::vector<uint16_t>{0}) << c.peer << ": " << cl.handshakeText;
        EXPECT_NE(page.find("HTTP/1.0 200 ok"), std::string::npos) << c.peer << page.substr(0, 200);
        EXPECT_EQ(cl.version, c.version) << c.peer;
        EXPECT_EQ(cl.handshakeText.rfind("SSL Connected OK with ", 0), 0u) << cl.handshakeText;
        EXPECT_NE(cl.handshakeText.find(c.text), std::string::npos) << cl.handshakeText;
        // Only TLS 1.2 suites name their key exchange.
        EXPECT_EQ(cl.handshakeText.find("key exchange") != std::string::npos, c.version == 0x303) << cl.handshakeText;
        EXPECT_TRUE(cl.peerCertSeen);
        EXPECT_TRUE(cl.certIsProperty);
        ASSERT_GE(cl.sock->PeerChain().Count(), 1);
        for (int i = 0; i < cl.sock->PeerChain().Count(); ++i)
            EXPECT_EQ(cl.sock->PeerChain().Items(i)->VerifyResult, 0) << c.peer;
        EXPECT_EQ(cl.sock->PeerCertificate()->VerifyResult, 0);
        EXPECT_EQ(cl.sock->PeerCertName(), "www.example.test");
        EXPECT_EQ(cl.closed.size(), 1u);
    }
}

TEST(SslSocket, AlpnAndOcspStaple) {
    REQUIRE_TLS_PEERS();
    {
        Client cl;
        cl.Verify();
        cl.ctx.SetSslAlpnProtocols("h2\r\nhttp/1.1");
        cl.ctx.SslOcspStatus = true;
        cl.Page(TlsPeerPort("www12"));
        ASSERT_EQ(cl.handshakes, std::vector<uint16_t>{0}) << cl.handshakeText;
        EXPECT_EQ(cl.sock->AlpnSelected(), "h2");
        EXPECT_EQ(cl.sock->OcspStapleStatus(), 0);
        EXPECT_FALSE(cl.sock->OcspStaple.empty());
    }
    {
        // A server without a staple: nothing is recorded and the handshake goes on.
        Client cl;
        cl.Verify();
        cl.ctx.SslOcspStatus = true;
        cl.Page(TlsPeerPort("www13"));
        ASSERT_EQ(cl.handshakes, std::vector<uint16_t>{0}) << cl.handshakeText;
        EXPECT_EQ(cl.sock->OcspStapleStatus(), -1);
        EXPECT_EQ(cl.sock->AlpnSelected(), "");
    }
}

TEST(SslSocket, SessionReuseIsReportedOnlyWhenTheSessionWasResumed) {
    REQUIRE_TLS_PEERS();
    for (const char* peer : {"www12", "www13"}) {
        Client cl;
        cl.Verify();
        cl.ctx.SetSslSessionCacheModes({sslSESS_CACHE_CLIENT});
        SSL_SESSION* kept = nullptr;
        std::vector<bool> newReused;
        cl.sock->OnSslCliNewSession = [&](TCustomSslNetSocket*, void* s, bool reused, bool& incRef) {
            newReused.push_back(reused);
            if (kept) ossl::SSL_SESSION_free(kept);
            kept = static_cast<SSL_SESSION*>(s);
            incRef = true;
        };
        cl.sock->OnSslCliGetSession = [&](TCustomSslNetSocket*, void*& s, bool& freeSession) {
            if (kept) ossl::SSL_SESSION_up_ref(kept);
            s = kept;
            freeSession = true;
        };
        cl.Page(TlsPeerPort(peer));
        ASSERT_EQ(cl.handshakes, std::vector<uint16_t>{0}) << peer << cl.handshakeText;
        EXPECT_FALSE(cl.sock->SessionWasReused()) << peer;
        ASSERT_NE(kept, nullptr) << peer;
        const std::string page = cl.Page(TlsPeerPort(peer));
        ASSERT_EQ(cl.handshakes, std::vector<uint16_t>{0}) << peer << cl.handshakeText;
        EXPECT_TRUE(cl.sock->SessionWasReused()) << peer;
        EXPECT_NE(page.find("Reused"), std::string::npos) << peer;
        ASSERT_FALSE(newReused.empty());
        EXPECT_FALSE(newReused.front());
        // Exactly one reference is ours: one free releases it (a second would be a leak,
        // none left would make this a double free).
        if (kept) ossl::SSL_SESSION_free(kept);
    }
}

TEST(SslSocket, ClientCertificateOnRequest) {
    REQUIRE_TLS_PEERS();
    Client cl;
    cl.Verify();
    TX509Base mine(nullptr);
    std::string errors;
    mine.LoadFromText(ssltest::ReadFile(ssltest::CertPath("server.pem")) +
                          ssltest::ReadFile(ssltest::CertPath("server.key")),
                      2, errors);
    ASSERT_TRUE(mine.IsPKeyLoaded()) << errors;
    int asked = 0;
    cl.sock->OnSslCliCertRequest = [&](TCustomSslNetSocket*, TX509Base*& cert) {
        ++asked;
        cert = &mine;
    };
    const std::string page = cl.Page(TlsPeerPort("cert13"));
    ASSERT_EQ(cl.handshakes, std::vector<uint16_t>{0}) << cl.handshakeText;
    EXPECT_EQ(asked, 1);
    EXPECT_NE(page.find("HTTP/1.0 200 ok"), std::string::npos) << page.substr(0, 300);
}

TEST(SslSocket, VerifyHandlerThatPumpsMessagesDoesNotReenterTheConnection) {
    // A handler showing a modal box pumps messages while OpenSSL waits for its answer: the
    // TLS events queued meanwhile must wait, and the connection must come out intact.
    REQUIRE_TLS_PEERS();
    Client cl;
    cl.Verify();
    int calls = 0;
    cl.sock->OnSslVerifyPeer = [&](TCustomSslNetSocket* s, int&, TX509Base*) {
        ++calls;
        EXPECT_EQ(s->InsideCallbackCount(), 1);
        // Post every TLS event a stray network event would cause, then pump them.
        MSG m;
        for (int i = 0; i < 50; ++i) {
            PostMessageA(s->WindowHandle(), s->IdSocketEvent(), WPARAM(s->HSocket()), MAKELONG(FD_READ | FD_WRITE, 0));
            while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
        }
    };
    const std::string page = cl.Page(TlsPeerPort("www13"));
    ASSERT_EQ(cl.handshakes, std::vector<uint16_t>{0}) << cl.handshakeText;
    EXPECT_GE(calls, 2);
    EXPECT_NE(page.find("HTTP/1.0 200 ok"), std::string::npos);
}

TEST(SslSocket, SixteenMegabyteEchoArrivesIntact) {
    REQUIRE_TLS_PEERS();
    Client cl;
    cl.Connect(TlsPeerPort("echo13"));
    ASSERT_TRUE(cl.WaitHandshake());
    ASSERT_EQ(cl.handshakes, std::vector<uint16_t>{0}) << cl.handshakeText;
    const std::string data = sockettest::Pattern(16u << 20, 7);
    // In pieces, the way an application writes, some before earlier ones have gone out.
    for (size_t off = 0; off < data.size(); off += 1u << 20) cl.sock->Send(data.data() + off, 1 << 20);
    ASSERT_TRUE(PumpUntil([&] { return cl.received.size() >= data.size() || !cl.closed.empty(); }, 120000));
    ASSERT_EQ(cl.received.size(), data.size());
    EXPECT_EQ(sockettest::Sha256Hex(cl.received), sockettest::Sha256Hex(data));
    // Not verifying: the handler still gets the PeerCertificate object, holding nothing.
    EXPECT_TRUE(cl.certIsProperty);
    EXPECT_FALSE(cl.peerCertSeen);
    cl.sock->Close();
    ASSERT_TRUE(cl.WaitClosed());
    EXPECT_EQ(cl.closed, std::vector<uint16_t>{0});
    ASSERT_EQ(cl.shutdowns.size(), 1u);
    EXPECT_FALSE(cl.shutdowns[0].first);
}

TEST(SslSocket, PlainAndClosingPeersFailTheHandshakeCleanly) {
    REQUIRE_TLS_PEERS();
    REQUIRE_PEERS();
    {
        // A plain-text answer: OpenSSL's reason comes back, then the close.
        Client cl;
        cl.Connect(sockettest::PeerPort("fin"));
        ASSERT_TRUE(cl.WaitHandshake());
        EXPECT_NE(cl.handshakes[0], 0);
        EXPECT_NE(cl.handshakes[0], 1);
        EXPECT_FALSE(cl.handshakeText.empty());
        ASSERT_TRUE(cl.WaitClosed());
        EXPECT_EQ(cl.handshakes.size(), 1u);
    }
    {
        Client cl;
        cl.Connect(TlsPeerPort("closer"));
        ASSERT_TRUE(cl.WaitHandshake());
        EXPECT_EQ(cl.handshakes[0], 1);
        const std::string tail = ", connection closed unexpectedly";
        ASSERT_GE(cl.handshakeText.size(), tail.size());
        EXPECT_EQ(cl.handshakeText.substr(cl.handshakeText.size() - tail.size()), tail) << cl.handshakeText;
        ASSERT_TRUE(cl.WaitClosed());
        EXPECT_EQ(cl.handshakes.size(), 1u);
    }
}

TEST(SslSocket, DataSentBeforeTheHandshakeAndBeforeCloseReachesThePeer) {
    // Written before the handshake finished and closed at once: every byte still goes out,
    // followed by the close_notify.
    REQUIRE_TLS_PEERS();
    Client cl;
    cl.sock->OnSessionConnected = [&](framework::TComponent*, uint16_t) {
        cl.sock->SendText("GET / HTTP/1.0\r\n\r\n");
    };
    cl.Connect(TlsPeerPort("www13"));
    ASSERT_TRUE(cl.WaitClosed());
    EXPECT_EQ(cl.handshakes, std::vector<uint16_t>{0});
    EXPECT_NE(cl.received.find("HTTP/1.0 200 ok"), std::string::npos);
}

TEST(SslSocket, VerifyingClientNeverAcceptsAServerWithoutCertificate) {
    // openssl s_server without a certificate, anonymous suites only: a client that verifies
    // never completes the handshake, whatever its preset; one that does not verify connects.
    REQUIRE_TLS_PEERS();
    struct Case {
        const char* name;
        TSslCliSecurity preset;
        bool verify;
        bool ok;
    } cases[] = {
        {"preset none", sslCliSecNone, true, false},
        {"preset TLS 1.1 and up", sslCliSecTls11, true, false},
        {"level 0, default list", sslCliSecIgnore, true, false},
        {"no verification", sslCliSecNone, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Client cl;
        if (c.verify) cl.Verify();
        if (c.preset == sslCliSecIgnore) cl.ctx.SslSecLevel = sslSecLevelAny;
        else cl.ctx.SetSslCliSecurity(c.preset);
        const std::string page = cl.Page(TlsPeerPort("anon"));
        ASSERT_FALSE(cl.handshakes.empty());
        EXPECT_EQ(c.ok, cl.handshakes[0] == 0) << cl.handshakeText;
        EXPECT_EQ(c.ok, page.find("HTTP/1.0 200 ok") != std::string::npos) << page.substr(0, 200);
        cl.WaitClosed();
    }
}

TEST(SslSocket, ExpiredLeafIsNamedInTheHandshakeText) {
    REQUIRE_TLS_PEERS();
    for (const char* version : {"1.2", "1.3"}) {
        SCOPED_TRACE(version);
        Client cl;
        cl.Verify();
        if (version[2] == '2') cl.ctx.SslMaxVersion = sslVerTLS1_2;
        cl.Page(TlsPeerPort("expired"));
        ASSERT_EQ(cl.handshakes.size(), 1u);
        EXPECT_NE(cl.handshakes[0], 0);
        EXPECT_NE(cl.handshakeText.find("certificate has expired"), std::string::npos) << cl.handshakeText;
        cl.WaitClosed();
    }
}

namespace {
std::vector<std::string> NotifyLines() {
    std::vector<std::string> lines;
    std::ifstream f("net-tls-peers\\notify.txt");
    std::string line;
    while (std::getline(f, line)) lines.push_back(line);
    return lines;
}
}  // namespace

TEST(SslSocket, PeersCloseNotifyIsAnswered) {
    // The peer sends its close_notify first and waits for ours (a python unwrap()).
    REQUIRE_TLS_PEERS();
    const size_t before = NotifyLines().size();
    Client cl;
    cl.Verify();
    cl.Connect(TlsPeerPort("notify"));
    ASSERT_TRUE(cl.WaitHandshake());
    ASSERT_EQ(cl.handshakes, std::vector<uint16_t>{0}) << cl.handshakeText;
    ASSERT_TRUE(cl.WaitClosed());
    EXPECT_EQ(cl.closed, std::vector<uint16_t>{0});
    ASSERT_EQ(cl.shutdowns.size(), 1u);
    EXPECT_FALSE(cl.shutdowns[0].first);
    ASSERT_TRUE(PumpUntil([&] { return NotifyLines().size() > before; }, 20000));
    EXPECT_EQ("answered", NotifyLines().back());
}

TEST(SslSocket, BidirectionalShutdownLeavesAPlainConnection) {
    // Our close_notify and the peer's cross; both directions end and the connection goes on
    // without TLS until the peer closes it.
    REQUIRE_TLS_PEERS();
    const size_t before = NotifyLines().size();
    Client cl;
    cl.Verify();
    cl.sock->OnSslHandshakeDone = [&](TCustomSslNetSocket* s, uint16_t e, TX509Base*, bool&) {
        cl.handshakes.push_back(e);
        if (e == 0) static_cast<TSslNetSocket*>(s)->StartBidirectionalShutdown();
    };
    cl.Connect(TlsPeerPort("notify"));
    ASSERT_TRUE(cl.WaitClosed());
    EXPECT_EQ(cl.handshakes, std::vector<uint16_t>{0});
    EXPECT_EQ(cl.shutdowns, (std::vector<std::pair<bool, int>>{{true, 0}}));
    EXPECT_FALSE(cl.sock->SslEnable);
    EXPECT_EQ(cl.closed, std::vector<uint16_t>{0});
    ASSERT_TRUE(PumpUntil([&] { return NotifyLines().size() > before; }, 20000));
    EXPECT_EQ("answered", NotifyLines().back());
}

// A TLS connection to the peer that never reads, 16 MiB queued and a Close with a 2 s
// flush limit under way.
void CloseTowardsTheDeafPeer(Client& cl, uint32_t Seed) {
    cl.sock->FlushTimeout = 2;
    cl.Connect(TlsPeerPort("deaf"));
    ASSERT_TRUE(cl.WaitHandshake());
    ASSERT_EQ(cl.handshakes, std::vector<uint16_t>{0}) << cl.handshakeText;
    const std::string data = sockettest::Pattern(16u << 20, Seed);
    cl.sock->Send(data.data(), int(data.size()));
    // Let the socket fill every buffer on the way first.
    PumpUntil([] { return false; }, 1000);
    cl.sock->Close();
}

TEST(SslSocket, CloseTowardsAPeerThatStopsReadingEndsAtTheFlushLimit) {
    REQUIRE_TLS_PEERS();
    Client cl;
    CloseTowardsTheDeafPeer(cl, 3);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(PumpUntil([&] { return !cl.closed.empty(); }, 30000)) << "still connected";
    EXPECT_EQ(cl.closed, std::vector<uint16_t>{WSAETIMEDOUT});
}

// The close waits at its flush limit when the socket moves to another thread: the limit goes
// with it and ends the connection there.
TEST(SslSocket, FlushLimitMovesWithTheSocketToAnotherThread) {
    REQUIRE_TLS_PEERS();
    Client cl;
    CloseTowardsTheDeafPeer(cl, 5);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(cl.closed.empty());
    cl.sock->DetachFromThread();
    DWORD closedOn = 0;
    const DWORD mine = GetCurrentThreadId();
    cl.sock->OnSessionClosed = [&](framework::TComponent*, uint16_t e) {
        cl.closed.push_back(e);
        closedOn = GetCurrentThreadId();
    };
    std::thread([&] {
        cl.sock->AttachToThread();
        PumpUntil([&] { return !cl.closed.empty(); }, 30000);
        cl.sock->DetachFromThread();
    }).join();
    cl.sock->AttachToThread();
    EXPECT_EQ(cl.closed, std::vector<uint16_t>{WSAETIMEDOUT}) << "the flush limit was lost on the way";
    EXPECT_NE(closedOn, mine);
}

// What the socket posted to its own window before a thread move runs on the new thread: the
// OnDataSent owed for a send, and the answer to the peer's close_notify.
TEST(SslSocket, MessagesPostedBeforeAThreadMoveRunOnTheNewThread) {
    REQUIRE_TLS_PEERS();
    // One message at a time, so that the step that posts is the last one run.
    auto pumpUntilPosted = [](const std::function<bool()>& posted) {
        const ULONGLONG end = GetTickCount64() + 20000;
        MSG m;
        while (!posted() && GetTickCount64() < end) {
            if (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&m);
                DispatchMessageA(&m);
            } else {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            }
        }
        return posted();
    };
    struct Case {
        const char* name;
        const char* peer;
        // Brings the socket to where it has posted the message, which has not run yet.
        std::function<void(Client&, int& sent)> reach;
        std::function<bool(Client&, int sent)> done;
    } cases[] = {
        {"data sent", "echo13",
         [](Client& cl, int& sent) {
             ASSERT_TRUE(cl.WaitHandshake());
             cl.sock->SendText("ping");
             ASSERT_EQ(sent, 0);
         },
         [](Client&, int sent) { return sent > 0; }},
        {"close_notify answered", "notify",
         [&](Client& cl, int&) {
             ASSERT_TRUE(pumpUntilPosted([&] { return cl.sock->TlsState() == tlsShuttingDown; }));
             ASSERT_TRUE(cl.closed.empty());
         },
         [](Client& cl, int) { return !cl.closed.empty(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t notified = NotifyLines().size();
        Client cl;
        cl.Verify();
        int sent = 0;
        cl.sock->OnDataSent = [&](framework::TComponent*, uint16_t) { ++sent; };
        cl.Connect(TlsPeerPort(c.peer));
        c.reach(cl, sent);
        if (HasFatalFailure()) return;
        cl.sock->DetachFromThread();
        std::thread([&] {
            cl.sock->AttachToThread();
            PumpUntil([&] { return c.done(cl, sent); }, 20000);
            cl.sock->DetachFromThread();
        }).join();
        cl.sock->AttachToThread();
        EXPECT_TRUE(c.done(cl, sent)) << "lost on the way";
        if (std::string(c.peer) == "notify") {
            EXPECT_EQ(cl.closed, std::vector<uint16_t>{0});
            ASSERT_TRUE(PumpUntil([&] { return NotifyLines().size() > notified; }, 40000));
            EXPECT_EQ("answered", NotifyLines().back());
        }
        cl.sock->Abort();
    }
}

TEST(SslSocket, HandlersThatFreeTheirSocketInsideOpenSsl) {
    // The verify and client-certificate handlers run inside OpenSSL's handshake; freeing the
    // socket there must neither crash nor disturb the next connection.
    REQUIRE_TLS_PEERS();
    struct Case {
        const char* name;
        const char* peer;
        bool inVerify;
    } cases[] = {{"verify handler", "www13", true}, {"client certificate handler", "cert13", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ssltest::OpenSslScope ssl;
        TSslContext ctx(nullptr);
        ssltest::SetUpVerifyingClient(ctx, ssltest::CertPath("ca.pem"));
        auto* sock = new TSslNetSocket(nullptr);
        bool freed = false, closed = false;
        sock->SslEnable = true;
        sock->SetSslContext(&ctx);
        sock->TlsServerName = "www.example.test";
        sock->OnSessionClosed = [&](framework::TComponent*, uint16_t) { closed = true; };
        auto free = [&] {
            if (freed) return;
            freed = true;
            delete sock;
        };
        if (c.inVerify)
            sock->OnSslVerifyPeer = [&](TCustomSslNetSocket*, int&, TX509Base*) { free(); };
        else
            sock->OnSslCliCertRequest = [&](TCustomSslNetSocket*, TX509Base*&) { free(); };
        sock->SetAddr("127.0.0.1");
        sock->SetPort(TlsPeerPort(c.peer));
        sock->Connect();
        ASSERT_TRUE(PumpUntil([&] { return freed; }, 20000));
        EXPECT_FALSE(closed);
        // What OpenSSL and the window still had queued for it runs out harmlessly.
        PumpUntil([] { return false; }, 500);
        Client next;
        next.Verify();
        EXPECT_NE(next.Page(TlsPeerPort("www13")).find("HTTP/1.0 200 ok"), std::string::npos);
    }
}

TEST(SslSocket, ContextBuiltBeforeAnySocketGetsTheCallbacks) {
    // As in a program whose first context is built before its first socket exists.
    REQUIRE_TLS_PEERS();
    const TSslContext::TCallbacks saved = TSslContext::Callbacks;
    TSslContext::Callbacks = {};
    ssltest::OpenSslScope ssl;
    TSslContext ctx(nullptr);
    ssltest::SetUpVerifyingClient(ctx, ssltest::CertPath("ca.pem"));
    ctx.BuildSslCtx();
    TSslContext::Callbacks = saved;
    TSslNetSocket sock(nullptr);
    int verified = 0;
    std::vector<uint16_t> handshakes;
    bool closed = false;
    sock.SslEnable = true;
    sock.SetSslContext(&ctx);
    sock.TlsServerName = "www.example.test";
    sock.OnSslVerifyPeer = [&](TCustomSslNetSocket*, int&, TX509Base*) { ++verified; };
    sock.OnSslHandshakeDone = [&](TCustomSslNetSocket*, uint16_t e, TX509Base*, bool&) {
        handshakes.push_back(e);
        sock.Close();
    };
    sock.OnSessionClosed = [&](framework::TComponent*, uint16_t) { closed = true; };
    sock.SetAddr("127.0.0.1");
    sock.SetPort(TlsPeerPort("www13"));
    sock.Connect();
    ASSERT_TRUE(PumpUntil([&] { return closed; }, 20000));
    EXPECT_EQ(handshakes, std::vector<uint16_t>{0});
    EXPECT_GE(verified, 2) << "the verify handler ran for each certificate of the chain";
}

namespace {

// Our TLS server: a listening socket whose accepted connections speak TLS, echo one line
// and close.
struct Server {
    ssltest::OpenSslScope ssl;
    TSslContext ctx{nullptr};
    TNetSocket listener{nullptr};
    std::vector<std::unique_ptr<TSslNetSocket>> conns;
    std::vector<uint16_t> handshakes;
    std::vector<std::string> names, texts;
    std::function<void(TSslNetSocket&)> setUp;
    int closed = 0;

    Server() {
        ssltest::SetUpServer(ctx);
        ctx.SslOcspStatus = true;
        listener.SetAddr("127.0.0.1");
        listener.SetPort("0");
        listener.OnSessionAvailable = [this](framework::TComponent*, uint16_t) {
            auto c = std::make_unique<TSslNetSocket>(nullptr);
            TSslNetSocket* s = c.get();
            s->SslEnable = true;
            s->SslMode = sslModeServer;
            s->SetSslContext(&ctx);
            s->OcspStaple = ssltest::ReadFile("net-tls-peers\\server.ocsp");
            s->OnSslHandshakeDone = [this](TCustomSslNetSocket* x, uint16_t e, TX509Base*, bool&) {
                handshakes.push_back(e);
                names.push_back(x->TlsServerName);
                texts.push_back(x->HandshakeMessage());
            };
            s->OnDataAvailable = [s](framework::TComponent*, uint16_t) {
                const std::string got = s->ReceiveAsText();
                if (got.find('\n') != std::string::npos) {
                    s->SendText(got);
                    s->Close();
                }
            };
            s->OnSessionClosed = [this](framework::TComponent*, uint16_t) { ++closed; };
            if (setUp) setUp(*s);
            conns.push_back(std::move(c));
            s->Dup(listener.Accept());
        };
        listener.Listen();
    }
    std::string Port() { return listener.LocalPortText(); }
};

// Sends one request line to the peers' driver and pumps until its answer is complete.
std::string AskDriver(const std::string& line) {
    TNetSocket d(nullptr);
    std::string answer;
    bool done = false;
    d.OnDataAvailable = [&](framework::TComponent*, uint16_t) { answer += d.ReceiveAsText(); };
    d.OnSessionClosed = [&](framework::TComponent*, uint16_t) { done = true; };
    d.OnSessionConnected = [&](framework::TComponent*, uint16_t) { d.SendText(line + "\n"); };
    d.SetAddr("127.0.0.1");
    d.SetPort(TlsPeerPort("driver"));
    d.Connect();
    PumpUntil([&] { return done || answer.find("\nEND\n") != std::string::npos; }, 60000);
    return answer;
}

std::string Hex(const std::vector<uint8_t>& b) {
    static const char* d = "0123456789abcdef";
    std::string s;
    for (uint8_t x : b) {
        s += d[x >> 4];
        s += d[x & 15];
    }
    return s;
}

// A TLS 1.2 client hello with the given extensions (type, data) and correct outer lengths.
std::vector<uint8_t> ClientHello(const std::vector<std::pair<uint16_t, std::vector<uint8_t>>>& exts) {
    std::vector<uint8_t> e;
    for (auto& [type, data] : exts) {
        e.insert(e.end(), {uint8_t(type >> 8), uint8_t(type), uint8_t(data.size() >> 8), uint8_t(data.size())});
        e.insert(e.end(), data.begin(), data.end());
    }
    std::vector<uint8_t> body = {0x03, 0x03};
    for (int i = 0; i < 32; ++i) body.push_back(uint8_t(i * 7));
    body.insert(body.end(), {0x00, 0x00, 0x04, 0xc0, 0x2f, 0x00, 0x9c, 0x01, 0x00});
    body.insert(body.end(), {uint8_t(e.size() >> 8), uint8_t(e.size())});
    body.insert(body.end(), e.begin(), e.end());
    std::vector<uint8_t> hs = {0x01, 0x00, uint8_t(body.size() >> 8), uint8_t(body.size())};
    hs.insert(hs.end(), body.begin(), body.end());
    std::vector<uint8_t> rec = {0x16, 0x03, 0x01, uint8_t(hs.size() >> 8), uint8_t(hs.size())};
    rec.insert(rec.end(), hs.begin(), hs.end());
    return rec;
}

}  // namespace

TEST(SslServer, OpensslClientWithNameAlpnAndStatus) {
    REQUIRE_TLS_PEERS();
    Server sv;
    sv.setUp = [](TSslNetSocket& s) {
        s.OnAlpnSelect = [](TCustomSslNetSocket*, const framework::TStringList& list, std::string& sel, int& err) {
            for (int i = 0; i < list.Count(); ++i)
                if (list[i] == "h2") {
                    sel = "h2";
                    err = 0;
                }
        };
    };
    const std::string out =
        AskDriver("sclient " + sv.Port() + " -servername www.example.test -alpn http/1.1,h2 -status");
    ASSERT_TRUE(PumpUntil([&] { return sv.closed == 1; }, 20000)) << out;
    ASSERT_EQ(sv.handshakes, std::vector<uint16_t>{0});
    EXPECT_EQ(sv.names[0], "www.example.test");
    EXPECT_NE(out.find("ALPN protocol: h2"), std::string::npos) << out;
    EXPECT_NE(out.find("OCSP Response Status: successful"), std::string::npos) << out;
    EXPECT_NE(out.find("ping"), std::string::npos) << out;
    // The close came with a close_notify, not a bare end of the stream.
    EXPECT_EQ(out.find("unexpected eof"), std::string::npos) << out;
}

TEST(SslServer, RefusedNameAndNoAlpnAnswer) {
    REQUIRE_TLS_PEERS();
    Server sv;
    sv.setUp = [](TSslNetSocket& s) {
        s.OnServerNameRequest = [](TCustomSslNetSocket* x, TSslContext*&, int& err) {
            if (x->TlsServerName == "bad.example.test") err = 2;
        };
        // Leaving the choice empty acknowledges no protocol.
        s.OnAlpnSelect = [](TCustomSslNetSocket*, const framework::TStringList&, std::string&, int& err) { err = 0; };
    };
    const std::string bad = AskDriver("sclient " + sv.Port() + " -servername bad.example.test");
    EXPECT_NE(bad.find("unrecognized name"), std::string::npos) << bad;
    const std::string good = AskDriver("sclient " + sv.Port() + " -servername ok.example.test -alpn h2");
    EXPECT_NE(good.find("No ALPN negotiated"), std::string::npos) << good;
    EXPECT_NE(good.find("ping"), std::string::npos) << good;
    ASSERT_TRUE(PumpUntil([&] { return sv.handshakes.size() == 2; }, 20000));
    EXPECT_NE(sv.handshakes[0], 0);
    EXPECT_EQ(sv.handshakes[1], 0);
}

TEST(SslServer, ServerNameHandlerWithAnUnbuildableContextEndsWithAnAlert) {
    // The context the handler picks cannot be built (its certificate file is missing): the
    // client gets an alert and the server reports the failed handshake.
    REQUIRE_TLS_PEERS();
    Server sv;
    TSslContext broken(nullptr);
    broken.SetSslCertFile(ssltest::CertPath("no-such-file.pem"));
    sv.setUp = [&](TSslNetSocket& s) {
        s.OnServerNameRequest = [&](TCustomSslNetSocket*, TSslContext*& ctx, int&) { ctx = &broken; };
    };
    const std::string out = AskDriver("sclient " + sv.Port() + " -servername www.example.test");
    EXPECT_NE(out.find("alert internal error"), std::string::npos) << out;
    ASSERT_TRUE(PumpUntil([&] { return sv.handshakes.size() == 1; }, 20000));
    EXPECT_NE(sv.handshakes[0], 0);
    // The server still serves a client that asks for no such name.
    const std::string good = AskDriver("sclient " + sv.Port());
    EXPECT_NE(good.find("ping"), std::string::npos) << good;
}

TEST(SslServer, HostileClientHellosFailCleanly) {
    REQUIRE_TLS_PEERS();
    Server sv;
    const std::vector<uint8_t> sigalgs = {0x00, 0x02, 0x04, 0x01};
    struct Case {
        const char* name;
        std::vector<std::pair<uint16_t, std::vector<uint8_t>>> exts;
    } cases[] = {
        {"groups longer than their extension", {{10, {0x00, 0x40, 0x00, 0x17}}, {13, sigalgs}}},
        {"odd signature list", {{13, {0x00, 0x03, 0x04, 0x01, 0x05}}}},
        {"server name past its extension", {{0, {0x00, 0x07, 0x00, 0x7f, 0xff, 'a', '.', 'b', 'c'}}}},
        {"versions longer than their extension", {{43, {0xfe, 0x03, 0x04}}, {13, sigalgs}}},
    };
    size_t n = 0;
    for (const Case& c : cases) {
        const std::string reply = AskDriver("raw " + sv.Port() + " " + Hex(ClientHello(c.exts)));
        // A fatal alert record, and nothing else.
        EXPECT_EQ(reply.substr(0, 2), "15") << c.name << ": " << reply;
        ++n;
        ASSERT_TRUE(PumpUntil([&] { return sv.handshakes.size() == n; }, 20000)) << c.name;
        EXPECT_NE(sv.handshakes.back(), 0) << c.name;
    }
    // The server still serves a sound client.
    const std::string out = AskDriver("sclient " + sv.Port() + " -servername www.example.test");
    EXPECT_NE(out.find("ping"), std::string::npos) << out;
}

namespace {

// Writes down every event mask the socket gives Winsock.
struct MaskSocket : TSslNetSocket {
    MaskSocket() : TSslNetSocket(nullptr) {}
    std::vector<long> masks;
    void SelectEvents(long Mask) override {
        masks.push_back(Mask);
        TSslNetSocket::SelectEvents(Mask);
    }
};

}  // namespace

// While the network read step runs (the owner's handler inside it), Winsock posts no read
// events; they are asked for again afterwards.
TEST(SslSocket, ReadStepTurnsNetworkReadEventsOffForItsLength) {
    REQUIRE_TLS_PEERS();
    ssltest::OpenSslScope ssl;
    TSslContext ctx(nullptr);
    MaskSocket sock;
    sock.SslEnable = true;
    sock.SetSslContext(&ctx);
    int handshakeErr = -1;
    std::string received;
    std::vector<long> inHandler;
    sock.OnSslHandshakeDone = [&](TCustomSslNetSocket*, uint16_t e, TX509Base*, bool&) { handshakeErr = e; };
    sock.OnDataAvailable = [&](framework::TComponent*, uint16_t) {
        inHandler.push_back(sock.masks.empty() ? -1 : sock.masks.back());
        char buf[4096];
        int n;
        while ((n = sock.ReceiveData(buf, sizeof(buf))) > 0) received.append(buf, size_t(n));
    };
    sock.SetAddr("127.0.0.1");
    sock.SetPort(TlsPeerPort("echo13"));
    sock.Connect();
    ASSERT_TRUE(PumpUntil([&] { return handshakeErr >= 0; }, 20000));
    ASSERT_EQ(handshakeErr, 0);
    sock.SendText("ping");
    ASSERT_TRUE(PumpUntil([&] { return received.size() >= 4; }, 20000));
    EXPECT_EQ(received, "ping");
    ASSERT_FALSE(inHandler.empty());
    for (long m : inHandler) {
        EXPECT_EQ(m & FD_READ, 0) << m;
        EXPECT_NE(m & FD_CLOSE, 0) << m;
    }
    ASSERT_FALSE(sock.masks.empty());
    EXPECT_EQ(sock.masks.back() & (FD_READ | FD_WRITE | FD_CLOSE), FD_READ | FD_WRITE | FD_CLOSE);
    sock.Abort();
}

// Bytes given back to a socket without TLS come before what the peer sends.
TEST(SslSocket, BytesGivenBackComeFirstWithoutTls) {
    REQUIRE_PEERS();
    TSslNetSocket sock(nullptr);
    std::string received;
    bool connected = false;
    sock.OnSessionConnected = [&](framework::TComponent*, uint16_t) { connected = true; };
    sock.OnDataAvailable = [&](framework::TComponent*, uint16_t) {
        char buf[3];  // small reads: what was given back takes several
        const int n = sock.ReceiveData(buf, sizeof(buf));
        if (n > 0) received.append(buf, size_t(n));
    };
    sock.SetAddr("127.0.0.1");
    sock.SetPort(sockettest::PeerPort("echo"));
    sock.Connect();
    ASSERT_TRUE(PumpUntil([&] { return connected; }, 10000));
    sock.UnreadReceived("early-", 6);
    EXPECT_EQ(sock.PendingReceiveCount(), 6);
    sock.SendText("ping");
    ASSERT_TRUE(PumpUntil([&] { return received.size() >= 10; }, 10000)) << received;
    EXPECT_EQ(received, "early-ping");
    sock.Abort();
}

namespace {

std::vector<std::string> LastDataLines() {
    std::vector<std::string> lines;
    std::ifstream f("net-tls-peers\\lastdata.txt");
    std::string line;
    while (std::getline(f, line)) lines.push_back(line);
    return lines;
}

// What the lastdata peer sends for a request of n bytes.
std::string LastDataBody(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char(48 + (i * 7) % 75);
    return s;
}

}  // namespace

// The session with the lastdata peer ended cleanly: the client closed with every byte read
// and no error, and the peer (one result line more than before) got its close_notify answered.
void ExpectAllReadAndCloseNotifyAnswered(Client& cl, size_t count, size_t linesBefore) {
    if (!cl.WaitClosed()) {
        ADD_FAILURE() << "still open; received " << cl.received.size() << " of " << count;
        return;
    }
    EXPECT_EQ(cl.received, LastDataBody(count));
    EXPECT_EQ(cl.closed, std::vector<uint16_t>{0});
    EXPECT_EQ(cl.shutdowns, (std::vector<std::pair<bool, int>>{{false, 0}}));
    ASSERT_TRUE(PumpUntil([&] { return LastDataLines().size() > linesBefore; }, 20000));
    EXPECT_EQ("answered", LastDataLines().back());
}

// The peer's last data and its close_notify come in one network read: the close_notify
// waits behind the data in the BIO pair and nothing on the network announces it again (a
// peer that waits for our close_notify sends no FIN either), yet the session must end the
// way a close_notify ends it.
TEST(SslSocket, CloseNotifyInTheSameReadAsTheLastDataEndsTheSession) {
    REQUIRE_TLS_PEERS();
    struct Case {
        const char* name;
        bool tls12;
        size_t count;
        // Bytes the owner reads per data event: 0 reads until nothing is left; -1 reads
        // nothing in the event and all of it in one read after the event.
        int perEvent;
        // The peer's FIN comes with them, else only after our close_notify.
        bool fin;
    } cases[] = {
        {"no data", false, 0, 4096, false},
        {"one read per event", false, 300, 65536, false},
        {"a part per event", false, 300, 7, false},
        {"read until nothing is left", false, 300, 0, false},
        {"several records, one read per event", false, 40000, 65536, false},
        {"several records, a part per event", false, 40000, 1000, false},
        {"TLS 1.2, one read per event", true, 300, 65536, false},
        {"TLS 1.2, a part per event", true, 300, 7, false},
        {"with the FIN, one read per event", false, 300, 65536, true},
        {"with the FIN, a part per event", false, 40000, 1000, true},
        {"read after the event", false, 300, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = LastDataLines().size();
        Client cl;
        if (c.tls12) cl.ctx.SslMaxVersion = sslVerTLS1_2;
        int events = 0;
        // An owner that reads after the event is told of the same data a few times at most;
        // told endlessly, it reads in the event after all, so that the test fails, not hangs.
        constexpr int kTooMany = 50;
        cl.sock->OnDataAvailable = [&](framework::TComponent*, uint16_t) {
            ++events;
            if (c.perEvent < 0 && events < kTooMany) return;
            std::vector<char> buf(size_t(c.perEvent > 0 ? c.perEvent : 4096));
            int n;
            while ((n = cl.sock->ReceiveData(buf.data(), int(buf.size()))) > 0) {
                cl.received.append(buf.data(), size_t(n));
                if (c.perEvent > 0) break;
            }
        };
        cl.Connect(TlsPeerPort("lastdata"));
        ASSERT_TRUE(cl.WaitHandshake());
        ASSERT_EQ(cl.handshakes, std::vector<uint16_t>{0}) << cl.handshakeText;
        EXPECT_EQ(cl.version, c.tls12 ? 0x303 : 0x304);
        cl.sock->SendText(std::to_string(c.count) + (c.fin ? " fin\n" : " wait\n"));
        if (c.perEvent < 0) {
            ASSERT_TRUE(PumpUntil([&] { return events > 0; }, 20000));
            char buf[65536];
            const int n = cl.sock->ReceiveData(buf, sizeof(buf));
            if (n > 0) cl.received.append(buf, size_t(n));
        }
        if (c.perEvent < 0) EXPECT_LT(events, kTooMany);
        ExpectAllReadAndCloseNotifyAnswered(cl, c.count, before);
    }
}

// The owner leaves the data it was told about for later while more ciphertext (the rest of
// the data, the peer's close_notify) waits on the socket. It is not told again and again: the
// network read events stay off until it reads, and the session ends once it has read it all.
TEST(SslSocket, OwnerThatReadsLaterIsNotToldAgainMeanwhile) {
    REQUIRE_TLS_PEERS();
    struct Case {
        const char* name;
        bool tls12;
        size_t count;
    } cases[] = {
        {"one record", false, 300},
        {"TLS 1.2", true, 300},
        {"several records", false, 40000},
    };
    // Without the hold the events come in one endless round the pump never leaves; the
    // handler then reads, so that the test fails instead of hanging.
    constexpr int kTooMany = 50;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = LastDataLines().size();
        Client cl;
        if (c.tls12) cl.ctx.SslMaxVersion = sslVerTLS1_2;
        int events = 0;
        bool reading = false;
        auto readAll = [&] {
            char buf[65536];
            int n;
            while ((n = cl.sock->ReceiveData(buf, sizeof(buf))) > 0) cl.received.append(buf, size_t(n));
        };
        cl.sock->OnDataAvailable = [&](framework::TComponent*, uint16_t) {
            if (++events >= kTooMany) reading = true;
            if (reading) readAll();
        };
        cl.Connect(TlsPeerPort("lastdata"));
        ASSERT_TRUE(cl.WaitHandshake());
        ASSERT_EQ(cl.handshakes, std::vector<uint16_t>{0}) << cl.handshakeText;
        cl.sock->SendText(std::to_string(c.count) + " split\n");
        ASSERT_TRUE(PumpUntil([&] { return events > 0; }, 20000));
        // The peer's close_notify now comes behind the data nobody has read.
        cl.sock->SendText("go\n");
        const SOCKET h = cl.sock->HSocket();
        u_long avail = 0;
        EXPECT_TRUE(PumpUntil([&] { return Winsock::ioctlsocket(h, FIONREAD, &avail) == 0 && avail > 0; }, 20000));
        testsupport::PumpFor(300);
        // A few: one per step that brought a record, none while only the socket has more.
        EXPECT_LT(events, 10);
        EXPECT_TRUE(cl.closed.empty());
        reading = true;
        // Read outside any event: the network is read again from here on.
        readAll();
        ExpectAllReadAndCloseNotifyAnswered(cl, c.count, before);
    }
}

// The owner ends the connection inside the data event while the peer's close_notify still
// waits behind the data.
TEST(SslSocket, HandlerThatClosesOrFreesItsSocketBeforeTheWaitingCloseNotify) {
    REQUIRE_TLS_PEERS();
    enum Action { closes, frees };
    struct Case {
        const char* name;
        Action action;
        size_t count;
        int perEvent;
    } cases[] = {
        {"closes after a part", closes, 300, 7},
        {"closes after all of it", closes, 300, 65536},
        {"frees after a part", frees, 300, 7},
        {"frees after all of it", frees, 40000, 65536},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Client cl;
        bool done = false;
        cl.sock->OnDataAvailable = [&](framework::TComponent*, uint16_t) {
            std::vector<char> buf(size_t(c.perEvent));
            const int n = cl.sock->ReceiveData(buf.data(), int(buf.size()));
            if (n > 0) cl.received.append(buf.data(), size_t(n));
            if (done) return;
            done = true;
            if (c.action == closes)
                cl.sock->Close();
            else
                cl.sock.reset();
        };
        cl.Connect(TlsPeerPort("lastdata"));
        ASSERT_TRUE(cl.WaitHandshake());
        ASSERT_EQ(cl.handshakes, std::vector<uint16_t>{0}) << cl.handshakeText;
        cl.sock->SendText(std::to_string(c.count) + " wait\n");
        if (c.action == closes) {
            ASSERT_TRUE(cl.WaitClosed());
            EXPECT_EQ(cl.closed, std::vector<uint16_t>{0});
            EXPECT_EQ(cl.shutdowns.size(), 1u);
        } else {
            ASSERT_TRUE(PumpUntil([&] { return !cl.sock; }, 20000));
            // What was still queued for it runs out harmlessly.
            PumpUntil([] { return false; }, 300);
            EXPECT_TRUE(cl.closed.empty());
        }
        EXPECT_FALSE(cl.received.empty());
    }
    // The next connection is served as usual.
    Client next;
    next.Connect(TlsPeerPort("lastdata"));
    ASSERT_TRUE(next.WaitHandshake());
    next.sock->SendText("300 wait\n");
    ASSERT_TRUE(next.WaitClosed());
    EXPECT_EQ(next.received, LastDataBody(300));
}

// The owner closes while plaintext it has not read waits (the peer keeps the connection open):
// the close_notify leaves at once and the close ends cleanly; what was left unread is dropped,
// as a plain socket drops it, and never announced after the close.
TEST(SslSocket, CloseWithPlaintextUnreadSendsCloseNotifyAtOnce) {
    REQUIRE_TLS_PEERS();
    struct Case {
        const char* name;
        bool tls12;
        size_t count;
        int readFirst;  // bytes read in the first data event
        bool inEvent;   // Close from inside the first data event
    } cases[] = {
        {"TLS 1.2, nothing read", true, 40000, 0, false},
        {"TLS 1.3, nothing read", false, 40000, 0, false},
        {"TLS 1.2, a part read", true, 40000, 1000, false},
        {"one record, nothing read", false, 300, 0, false},
        {"closed inside the data event", true, 40000, 0, true},
        {"closed inside the data event after a part", false, 40000, 7, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = LastDataLines().size();
        Client cl;
        // Waiting on the owner would end the close here, with 10060 and no close_notify.
        cl.sock->FlushTimeout = 3;
        if (c.tls12) cl.ctx.SslMaxVersion = sslVerTLS1_2;
        int events = 0, eventsAtClose = -1;
        cl.sock->OnDataAvailable = [&](framework::TComponent*, uint16_t) {
            ++events;
            if (events == 1 && c.readFirst > 0) {
                std::vector<char> buf(size_t(c.readFirst));
                const int n = cl.sock->ReceiveData(buf.data(), int(buf.size()));
                if (n > 0) cl.received.append(buf.data(), size_t(n));
            }
            if (events == 1 && c.inEvent) {
                eventsAtClose = events;
                cl.sock->Close();
            }
        };
        cl.Connect(TlsPeerPort("lastdata"));
        ASSERT_TRUE(cl.WaitHandshake());
        ASSERT_EQ(cl.handshakes, std::vector<uint16_t>{0}) << cl.handshakeText;
        cl.sock->SendText(std::to_string(c.count) + " hold\n");
        ASSERT_TRUE(PumpUntil([&] { return events > 0; }, 20000));
        if (!c.inEvent) {
            eventsAtClose = events;
            cl.sock->Close();
        }
        ASSERT_TRUE(cl.WaitClosed());
        EXPECT_EQ(cl.closed, std::vector<uint16_t>{0});
        EXPECT_EQ(cl.shutdowns, (std::vector<std::pair<bool, int>>{{false, 0}}));
        EXPECT_EQ(events, eventsAtClose);
        EXPECT_EQ(cl.received, LastDataBody(c.count).substr(0, cl.received.size()));
        ASSERT_TRUE(PumpUntil([&] { return LastDataLines().size() > before; }, 20000));
        EXPECT_EQ("answered", LastDataLines().back());
    }
}

namespace {

// A socket whose system send takes at most Limit bytes at a time, as a full send buffer does.
struct ShortSendSocket : TSslNetSocket {
    explicit ShortSendSocket(int Limit) : TSslNetSocket(nullptr), limit(Limit) {}
    int limit;
    int shortSends = 0;
    int SendRaw(const void* Data, int Len) override {
        if (Len > limit) ++shortSends;
        return TSslNetSocket::SendRaw(Data, std::min(Len, limit));
    }
};

}  // namespace

// Ciphertext the socket's send does not take at once waits and goes out in order: nothing is
// lost or sent twice.
TEST(SslSocket, ShortSystemSendsLoseAndRepeatNothing) {
    REQUIRE_TLS_PEERS();
    for (int limit : {700, 16000}) {
        SCOPED_TRACE(limit);
        auto owned = std::make_unique<ShortSendSocket>(limit);
        ShortSendSocket* sock = owned.get();
        Client cl(std::move(owned));
        cl.Connect(TlsPeerPort("echo13"));
        ASSERT_TRUE(cl.WaitHandshake());
        ASSERT_EQ(cl.handshakes, std::vector<uint16_t>{0}) << cl.handshakeText;
        const std::string data = sockettest::Pattern(1u << 20, uint32_t(limit));
        for (size_t off = 0; off < data.size(); off += 100000)
            cl.sock->Send(data.data() + off, int(std::min<size_t>(100000, data.size() - off)));
        ASSERT_TRUE(PumpUntil([&] { return cl.received.size() >= data.size() || !cl.closed.empty(); }, 60000))
            << cl.received.size();
        EXPECT_GT(sock->shortSends, 0);
        ASSERT_EQ(cl.received.size(), data.size());
        EXPECT_EQ(sockettest::Sha256Hex(cl.received), sockettest::Sha256Hex(data));
        cl.sock->Close();
        EXPECT_TRUE(cl.WaitClosed());
    }
}

// A reset deferred out of an OpenSSL callback names its connection: arriving after the socket
// went on to the next connection, it leaves that one alone.
TEST(SslSocket, LateDeferredResetLeavesTheNextConnectionAlone) {
    REQUIRE_TLS_PEERS();
    Client cl;
    cl.Connect(TlsPeerPort("echo13"));
    ASSERT_TRUE(cl.WaitHandshake());
    ASSERT_EQ(cl.handshakes, std::vector<uint16_t>{0}) << cl.handshakeText;
    // Let the window's queue run empty, then take the reset out of it as it is posted.
    testsupport::PumpFor(300);
    cl.sock->PostResetLater();
    MSG reset{};
    ASSERT_TRUE(PeekMessageA(&reset, cl.sock->WindowHandle(), 0, 0, PM_REMOVE));
    cl.sock->Abort();
    // The first connection's close report, before the next one is watched.
    PumpUntil([&] { return !cl.closed.empty(); }, 5000);
    cl.closed.clear();
    cl.handshakes.clear();
    cl.Connect(TlsPeerPort("echo13"));
    ASSERT_TRUE(cl.WaitHandshake());
    ASSERT_EQ(cl.handshakes, std::vector<uint16_t>{0}) << cl.handshakeText;
    // The first connection's reset arrives now.
    PostMessageA(reset.hwnd, reset.message, reset.wParam, reset.lParam);
    testsupport::PumpFor(300);
    EXPECT_EQ(cl.sock->TlsState(), tlsEstablished);
    cl.sock->SendText("ping");
    ASSERT_TRUE(PumpUntil([&] { return cl.received.size() >= 4 || !cl.closed.empty(); }, 20000));
    EXPECT_EQ(cl.received, "ping");
    EXPECT_TRUE(cl.closed.empty());
    cl.sock->Abort();
}

namespace {

// A window of the test thread whose handler frees a socket when another thread sends it a
// message. The socket lives in pages of its own, released with it: touching it afterwards
// faults at once instead of reading freed heap.
struct FreedBySentMessage {
    static inline TNetSocket* victim = nullptr;
    static inline void* pages = nullptr;
    static inline bool freed = false;
    // The test runs the destructor itself: no handler may run inside it.
    static inline bool destroying = false;
    static inline bool ranInsideDestructor = false;
    static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
        if (m != WM_APP) return DefWindowProcA(w, m, wp, lp);
        if (destroying)
            ranInsideDestructor = true;
        else if (victim)
            Free();
        return 1;
    }
    static void Free() {
        victim->~TNetSocket();
        VirtualFree(pages, 0, MEM_RELEASE);
        victim = nullptr;
        freed = true;
    }
    HWND wnd = nullptr;
    FreedBySentMessage() {
        wnd = sockettest::MessageWindow(Proc, "VaFreedBySentMessage");
        freed = ranInsideDestructor = destroying = false;
    }
    ~FreedBySentMessage() {
        if (victim) Free();
        DestroyWindow(wnd);
    }
    TNetSocket* Make() {
        pages = VirtualAlloc(nullptr, sizeof(TNetSocket), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        victim = new (pages) TNetSocket(nullptr);
        return victim;
    }
    void Destroy() {
        destroying = true;
        victim->~TNetSocket();
        destroying = false;
        VirtualFree(pages, 0, MEM_RELEASE);
        victim = nullptr;
    }
};

}  // namespace

// Dropping queued events runs, as a side effect of PeekMessage, every message another
// thread sent to this thread; one of them frees the socket in the middle of an operation.
// Every layer of the finished socket reaches the TLS reset (TLS on or off), and the reset
// drops the TLS events: the operation stops there, and the destructor runs no handler.
TEST(SslSocket, SocketFreedByASentMessageDuringAnOperation) {
    REQUIRE_TLS_PEERS();
    REQUIRE_PEERS();
    if (sockettest::ProxyPeerPort("http").empty()) GTEST_SKIP() << "proxy peers not started";
    enum Layer { plain, line, throttled, socks, tunnel, tls };
    enum Op { abort, close, connect, dup, destroy };
    const std::pair<Layer, const char*> layers[] = {{plain, "plain"},     {line, "line"},     {throttled, "throttled"},
                                                    {socks, "SOCKS"},     {tunnel, "tunnel"}, {tls, "TLS"}};
    const std::pair<Op, const char*> ops[] = {
        {abort, "Abort"}, {close, "Close"}, {connect, "Connect"}, {dup, "Dup"}, {destroy, "destructor"}};
    ssltest::OpenSslScope ssl;
    TSslContext ctx(nullptr);
    // Dup adopts a handle this server accepted.
    TNetSocket server(nullptr), client(nullptr);
    SOCKET accepted = INVALID_SOCKET;
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.OnSessionAvailable = [&](framework::TComponent*, uint16_t) { accepted = server.Accept(); };
    server.Listen();
    for (const auto& [layer, layerName] : layers) {
        for (const auto& [op, opName] : ops) {
            SCOPED_TRACE(std::string(layerName) + ", " + opName);
            FreedBySentMessage killer;
            TNetSocket* s = killer.Make();
            bool up = false;
            s->OnSessionConnected = [&](framework::TComponent*, uint16_t e) { up = e == 0; };
            s->OnSslHandshakeDone = [&](TCustomSslNetSocket*, uint16_t e, TX509Base*, bool&) { up = e == 0; };
            auto target = [&] {
                switch (layer) {
                    case socks:
                        s->SetSocksServer("127.0.0.1");
                        s->SetSocksPort(sockettest::ProxyPeerPort("socks5"));
                        s->SetAddr("target.test");
                        s->SetPort("4321");
                        return;
                    case tunnel:
                        s->SetHttpTunnelServer("127.0.0.1");
                        s->SetHttpTunnelPort(sockettest::ProxyPeerPort("http"));
                        s->SetAddr("open.test");
                        s->SetPort("443");
                        return;
                    case tls:
                        s->SslEnable = true;
                        s->SetSslContext(&ctx);
                        s->SetAddr("127.0.0.1");
                        s->SetPort(TlsPeerPort("echo13"));
                        return;
                    default:
                        if (layer == line) s->SetLineMode(true);
                        if (layer == throttled) s->SetBandwidthLimit(1000000);
                        s->SetAddr("127.0.0.1");
                        s->SetPort(sockettest::PeerPort("echo"));
                        return;
                }
            };
            if (op == dup) {
                accepted = INVALID_SOCKET;
                client.SetAddr("127.0.0.1");
                client.SetPort(server.LocalPortText());
                client.Connect();
                ASSERT_TRUE(PumpUntil([&] { return accepted != INVALID_SOCKET; }, 10000));
                target();
            } else if (op != connect) {
                target();
                s->Connect();
                // A TLS socket is up once its handshake is done.
                ASSERT_TRUE(PumpUntil([&] { return up && (layer != tls || s->TlsState() == tlsEstablished); }, 20000));
            }
            // Another thread sends; its message waits until this thread looks at its queue.
            std::atomic<bool> sent{false};
            std::thread sender([&] {
                SendMessageA(killer.wnd, WM_APP, 0, 0);
                sent = true;
            });
            while (!(HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE)) Sleep(1);
            switch (op) {
                case abort: s->Abort(); break;
                case close: s->Close(); break;
                case connect:
                    target();
                    s->Connect();
                    break;
                case dup: s->Dup(accepted); break;
                case destroy: killer.Destroy(); break;
            }
            // The handler runs here at the latest, and finds the socket freed or still alive.
            EXPECT_TRUE(PumpUntil([&] { return sent.load(); }, 10000));
            sender.join();
            EXPECT_FALSE(FreedBySentMessage::ranInsideDestructor);
            EXPECT_EQ(FreedBySentMessage::freed, op != destroy);
            // What was still queued for the freed socket runs out harmlessly.
            testsupport::PumpFor(50);
            client.Abort();
        }
    }
}

// The library's own road: a look-up result that the pool sends for one socket frees
// another socket that is aborting.
TEST(SslSocket, LookupResultOfAnotherSocketFreesTheAbortingOne) {
    REQUIRE_PEERS();
    FreedBySentMessage killer;
    TNetSocket* y = killer.Make();
    bool up = false;
    y->OnSessionConnected = [&](framework::TComponent*, uint16_t e) { up = e == 0; };
    y->SetAddr("127.0.0.1");
    y->SetPort(sockettest::PeerPort("echo"));
    y->Connect();
    ASSERT_TRUE(PumpUntil([&] { return up; }, 10000));
    TNetSocket x(nullptr);
    x.ComponentOptions.Include(wsoInetDnsLookup);
    bool done = false;
    x.OnDnsLookupDone = [&](framework::TComponent*, uint16_t) {
        done = true;
        if (FreedBySentMessage::victim) FreedBySentMessage::Free();
    };
    x.DnsLookupTcp("localhost");
    // The pool's worker sends the result; it waits until this thread looks at its queue.
    for (int i = 0; i < 10000 && !(HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE); ++i) Sleep(1);
    ASSERT_TRUE(HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE);
    y->Abort();
    EXPECT_TRUE(PumpUntil([&] { return done; }, 10000));
    EXPECT_TRUE(FreedBySentMessage::freed);
    testsupport::PumpFor(50);
}
