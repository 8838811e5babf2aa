// Every event of the TLS socket, walked with a handler that frees the socket, Abort()s it, or
// Abort()s it and Connect()s it again. The socket lives in pages of its own, so a use after
// its free faults at once. The rows are keyed by the events' names and checked against the
// layer's list of events: an event without a row fails the walk.
//
// Client rows connect the socket to the TLS peers; server rows have it accept a TLS client of
// this process. A connection made again goes to the echoing peer, as a client.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/SslSocket.h"
#include "OpenSslTestUtil.h"
#include "support/Paged.h"
#include "support/Pump.h"

using testsupport::PumpFor;
using testsupport::PumpUntil;

namespace {

std::string TlsPeer(const std::string& name) {
    std::ifstream f("net-tls-peers\\ports.txt");
    std::string n, p;
    while (f >> n >> p)
        if (n == name) return p;
    return "";
}

enum class Act { Free, Abort, Restart };

// Sets the named event of a socket to a handler that calls Then, whatever its arguments.
using TArm = std::function<void(TCustomSslNetSocket& S, std::function<void()> Then)>;

struct Row {
    const char* event;
    const char* setup;
    bool server;
    // Client rows: the peer the socket connects to.
    const char* peer;
    // Sets up the socket's own context (client rows) or its client's (server rows).
    std::function<void(TSslContext& Ctx, TSslNetSocket& S)> prepare;
    // The event follows the owner's Close once the connection is up.
    bool closeWhenUp = false;
    // A first connection gives the client a session to offer.
    bool warmUp = false;
};

// One run: a socket in pages of its own, one event armed with one act.
struct Walk {
    ssltest::OpenSslScope ssl;
    TSslContext ctx{nullptr};
    TSslContext echoCtx{nullptr};
    TSslContext clientCtx{nullptr};
    TNetSocket listener{nullptr};
    std::unique_ptr<TSslNetSocket> client, warmClient, warmServer;
    TSslNetSocket* sock = nullptr;
    SSL_SESSION* kept = nullptr;
    bool fired = false, freed = false, restarted = false, warming = false;
    int closesAfterRestart = 0;
    std::string received;

    ~Walk() {
        delete sock;
        client.reset();
        warmClient.reset();
        warmServer.reset();
        if (kept) ossl::SSL_SESSION_free(kept);
    }

    TSslNetSocket* MakePaged() {
        sock = new testsupport::Paged<TSslNetSocket>(nullptr);
        sock->OnDataAvailable = [this](framework::TComponent*, uint16_t) {
            char buf[4096];
            int n;
            while (sock && (n = sock->ReceiveData(buf, sizeof(buf))) > 0) received.append(buf, size_t(n));
        };
        sock->OnSessionClosed = [this](framework::TComponent*, uint16_t) {
            if (restarted) ++closesAfterRestart;
        };
        return sock;
    }
    void ConnectToEcho() {
        sock->SslMode = sslModeClient;
        sock->SslEnable = true;
        sock->SetSslContext(&echoCtx);
        sock->TlsServerName.clear();
        sock->SetAddr("127.0.0.1");
        sock->SetPort(TlsPeer("echo13"));
        received.clear();
        sock->Connect();
        restarted = true;
    }
    void Do(Act A) {
        if (fired) return;
        fired = true;
        switch (A) {
            case Act::Free:
                delete sock;
                sock = nullptr;
                freed = true;
                break;
            case Act::Abort: sock->Abort(); break;
            case Act::Restart:
                sock->Abort();
                ConnectToEcho();
                break;
        }
    }
    // The connection made again is up, echoes, and nothing of the old one closes it.
    void ExpectEcho() {
        ASSERT_TRUE(PumpUntil([&] { return sock->TlsState() == tlsEstablished || closesAfterRestart > 0; }, 20000))
            << "no handshake on the connection made again";
        ASSERT_EQ(closesAfterRestart, 0);
        sock->SendText("ping");
        EXPECT_TRUE(PumpUntil([&] { return received == "ping" || closesAfterRestart > 0; }, 20000)) << received;
        EXPECT_EQ(received, "ping");
        EXPECT_EQ(closesAfterRestart, 0);
    }

    // A client of this process towards the listener.
    std::unique_ptr<TSslNetSocket> Client(const Row& R) {
        auto c = std::make_unique<TSslNetSocket>(nullptr);
        c->SslEnable = true;
        c->SetSslContext(&clientCtx);
        if (R.prepare) R.prepare(clientCtx, *c);
        c->OnSslCliNewSession = [this](TCustomSslNetSocket*, void* s, bool, bool& incRef) {
            if (kept) ossl::SSL_SESSION_free(kept);
            kept = static_cast<SSL_SESSION*>(s);
            incRef = true;
        };
        c->OnSslCliGetSession = [this](TCustomSslNetSocket*, void*& s, bool& freeSession) {
            if (kept) ossl::SSL_SESSION_up_ref(kept);
            s = kept;
            freeSession = true;
        };
        c->SetAddr("127.0.0.1");
        c->SetPort(listener.LocalPortText());
        return c;
    }

    void Run(const Row& R, const TArm& Arm, Act A) {
        if (!R.server) {
            MakePaged();
            sock->SslEnable = true;
            sock->SetSslContext(&ctx);
            if (R.prepare) R.prepare(ctx, *sock);
            Arm(*sock, [this, A] { Do(A); });
            sock->SetAddr("127.0.0.1");
            sock->SetPort(TlsPeer(R.peer));
            sock->Connect();
        } else {
            // Session ids of TLS 1.2, looked up only through the handler.
            ssltest::SetUpServer(ctx);
            ctx.SslMaxVersion = sslVerTLS1_2;
            ctx.SslOptions2.insert(sslOpt2_NO_TICKET);
            ctx.SetSslSessionCacheModes({sslSESS_CACHE_SERVER, sslSESS_CACHE_NO_INTERNAL_LOOKUP});
            clientCtx.SetSslSessionCacheModes({sslSESS_CACHE_CLIENT});
            warming = R.warmUp;
            listener.SetAddr("127.0.0.1");
            listener.SetPort("0");
            listener.OnSessionAvailable = [this, &Arm, A](framework::TComponent*, uint16_t) {
                TSslNetSocket* s;
                if (warming) {
                    warmServer = std::make_unique<TSslNetSocket>(nullptr);
                    s = warmServer.get();
                } else {
                    s = MakePaged();
                    Arm(*s, [this, A] { Do(A); });
                }
                s->SslEnable = true;
                s->SslMode = sslModeServer;
                s->SetSslContext(&ctx);
                s->Dup(listener.Accept());
            };
            listener.Listen();
            if (warming) {
                warmClient = Client(R);
                warmClient->Connect();
                ASSERT_TRUE(PumpUntil([&] { return kept && warmClient->TlsState() == tlsEstablished; }, 20000))
                    << "no session to offer";
                warmClient->Abort();
                warming = false;
            }
            client = Client(R);
            client->Connect();
        }
        if (R.closeWhenUp) {
            ASSERT_TRUE(PumpUntil([&] { return fired || (sock && sock->TlsState() == tlsEstablished); }, 20000));
            if (!fired) sock->Close();
        }
        ASSERT_TRUE(PumpUntil([&] { return fired; }, 20000)) << "the event did not come";
        switch (A) {
            case Act::Free:
                // What OpenSSL and the window still had for it runs out harmlessly.
                PumpFor(300);
                EXPECT_TRUE(freed);
                break;
            case Act::Abort:
                ASSERT_TRUE(PumpUntil([&] { return sock->State() == wsClosed; }, 20000));
                PumpFor(300);
                EXPECT_EQ(sock->State(), wsClosed);
                EXPECT_EQ(sock->Ssl(), nullptr) << "the aborted connection kept its SSL object";
                // The socket serves the next connection.
                ConnectToEcho();
                ExpectEcho();
                break;
            case Act::Restart: ExpectEcho(); break;
        }
    }
};

const std::vector<Row>& Rows() {
    auto verify = [](TSslContext& c, TSslNetSocket& s) {
        ssltest::SetUpVerifyingClient(c, ssltest::CertPath("ca.pem"));
        s.TlsServerName = "www.example.test";
    };
    static const std::vector<Row> rows = {
        // Inside OpenSSL's certificate check.
        {"OnSslVerifyPeer", "verifying client", false, "echo13", verify},
        {"OnSslHandshakeDone", "handshake done", false, "echo13", nullptr},
        // Through the close of a peer that ends the connection before any handshake.
        {"OnSslHandshakeDone", "handshake failed", false, "closer", nullptr},
        // Before the SSL object is driven for the first time.
        {"OnSslCliGetSession", "client", false, "echo13", nullptr},
        // Inside OpenSSL's reading of the peer's session tickets.
        {"OnSslCliNewSession", "client cache", false, "echo13",
         [](TSslContext& c, TSslNetSocket&) { c.SetSslSessionCacheModes({sslSESS_CACHE_CLIENT}); }},
        // Inside OpenSSL's answer to a certificate request.
        {"OnSslCliCertRequest", "peer asks for a certificate", false, "cert13", nullptr},
        {"OnSslShutDownComplete", "owner's close", false, "echo13", nullptr, true},
        // Server rows: the session id context is asked for before the SSL object is driven;
        // the name, ALPN and session look-up inside OpenSSL's work on the client's hello; the
        // new session at the end of the handshake.
        {"OnSslSetSessionIDContext", "server", true, nullptr, nullptr},
        {"OnServerNameRequest", "client names a host", true, nullptr,
         [](TSslContext&, TSslNetSocket& s) { s.TlsServerName = "www.example.test"; }},
        {"OnAlpnSelect", "client offers h2", true, nullptr,
         [](TSslContext& c, TSslNetSocket&) { c.SetSslAlpnProtocols("h2"); }},
        {"OnSslSvrNewSession", "server cache", true, nullptr, nullptr},
        {"OnSslSvrGetSession", "client offers a session", true, nullptr, nullptr, false, true},
    };
    return rows;
}

const std::map<std::string, TArm>& Arms() {
#define VA_ARM(E)                                                     \
    {#E, [](TCustomSslNetSocket& S, std::function<void()> Then) { \
         S.E = [Then](auto&&...) { Then(); };                         \
     }},
    static const std::map<std::string, TArm> arms = {VA_SSL_NET_SOCKET_EVENTS(VA_ARM)};
#undef VA_ARM
    return arms;
}

}  // namespace

TEST(SslEventWalk, EveryEventHasARow) {
    std::set<std::string> covered;
    for (const Row& r : Rows()) {
        EXPECT_TRUE(Arms().count(r.event)) << r.event << " is not an event of the TLS socket";
        covered.insert(r.event);
    }
    for (const auto& [name, arm] : Arms()) EXPECT_TRUE(covered.count(name)) << "no row for " << name;
}

TEST(SslEventWalk, HandlerFreesAbortsOrRestartsTheSocket) {
    if (TlsPeer("driver").empty()) GTEST_SKIP() << "TLS peers not started";
    const std::pair<Act, const char*> acts[] = {
        {Act::Free, "free"}, {Act::Abort, "Abort"}, {Act::Restart, "Abort then Connect"}};
    for (const Row& r : Rows()) {
        const auto arm = Arms().find(r.event);
        ASSERT_NE(arm, Arms().end()) << r.event;
        for (const auto& [act, actName] : acts) {
            SCOPED_TRACE(std::string(r.event) + " (" + r.setup + "), " + actName);
            Walk w;
            w.Run(r, arm->second, act);
        }
    }
}
