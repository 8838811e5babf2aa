// Every event the SOCKS and HTTP CONNECT layers fire, against the local proxies
// (tests/peers/proxy_peers.py), with a handler that frees the socket, aborts it, or aborts
// it and connects again to a target the proxy grants. The socket lives in pages of its own,
// so a use after the free faults at once. An event of the layers' lists without a row here
// fails the table.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "net/NetSocket.h"
#include "support/Paged.h"
#include "support/Pump.h"
#include "SocketTestUtil.h"

using testsupport::PumpFor;
using testsupport::PumpUntil;

namespace {

enum class Act { Free, Abort, Restart };
const char* ActName(Act a) { return a == Act::Free ? "free" : a == Act::Abort ? "abort" : "abort+connect"; }

// One socket through a proxy, its events in order; the handler of `event` acts once.
struct ProxyRun {
    TNetSocket* sock = new testsupport::Paged<TNetSocket>(nullptr);
    std::string event;
    Act act = Act::Abort;
    std::string restartHost;
    bool acted = false;
    std::vector<std::string> log;
    std::string got;

    ~ProxyRun() { delete sock; }

    void Note(const std::string& name, const std::string& what) {
        log.push_back(what);
        if (acted || name != event) return;
        acted = true;
        switch (act) {
            case Act::Free:
                delete sock;
                sock = nullptr;
                return;
            case Act::Abort: sock->Abort(); return;
            case Act::Restart:
                sock->Abort();
                log.push_back("restart");
                sock->SetAddr(restartHost);
                sock->Connect();
                return;
        }
    }

    void Hook() {
        using framework::TComponent;
        sock->OnSessionConnected = [this](TComponent*, uint16_t e) {
            Note("OnSessionConnected", "connected " + std::to_string(e));
        };
        sock->OnSessionClosed = [this](TComponent*, uint16_t e) {
            Note("OnSessionClosed", "closed " + std::to_string(e));
        };
        sock->OnDataAvailable = [this](TComponent*, uint16_t) {
            char buf[256];
            const int n = sock->ReceiveData(buf, sizeof(buf));
            if (n > 0) got.append(buf, size_t(n));
        };
        sock->OnSocksConnected = [this](TComponent*, uint16_t e) {
            Note("OnSocksConnected", "socks connected " + std::to_string(e));
        };
        sock->OnSocksError = [this](TComponent*, uint16_t e, const std::string&) {
            Note("OnSocksError", "socks error " + std::to_string(e));
        };
        sock->OnSocksAuthState = [this](TComponent*, TSocksAuthState s) {
            Note("OnSocksAuthState", "socks auth " + std::to_string(int(s)));
        };
        sock->OnHttpTunnelConnected = [this](TComponent*, uint16_t e) {
            Note("OnHttpTunnelConnected", "tunnel connected " + std::to_string(e));
        };
        sock->OnHttpTunnelError = [this](TComponent*, uint16_t e, THttpTunnelServerAuthTypes, const std::string&) {
            Note("OnHttpTunnelError", "tunnel error " + std::to_string(e));
        };
    }

    std::string Log() const {
        std::string s;
        for (const std::string& l : log) s += l + "; ";
        return s;
    }
};

struct Row {
    const char* event;
    const char* why;  // what reaches the event
    bool socks;
    std::string peer, host, user;
    bool auth;
    std::string restartHost;  // granted by the same proxy
};

void SetupRun(ProxyRun& r, const Row& row) {
    r.event = row.event;
    r.restartHost = row.restartHost;
    r.Hook();
    if (row.socks) {
        r.sock->SetSocksServer("127.0.0.1");
        r.sock->SetSocksPort(sockettest::ProxyPeerPort(row.peer));
        r.sock->SocksUsercode = row.user;
        r.sock->SocksPassword = "pass";
        r.sock->SocksAuthentication = row.auth ? socksAuthenticateUsercode : socksNoAuthentication;
    } else {
        r.sock->SetHttpTunnelServer("127.0.0.1");
        r.sock->SetHttpTunnelPort(sockettest::ProxyPeerPort(row.peer));
        r.sock->SetHttpTunnelUsercode(row.user);
        r.sock->SetHttpTunnelPassword("pass");
    }
    r.sock->SetAddr(row.host);
    r.sock->SetPort("443");
}

// Per attempt (the log split at "restart"): at most one "connected", none after "closed".
void ExpectOneOutcomePerAttempt(const std::vector<std::string>& log) {
    int connected = 0;
    bool closed = false;
    for (const std::string& l : log) {
        if (l == "restart") {
            connected = 0;
            closed = false;
            continue;
        }
        if (l.rfind("connected ", 0) == 0) {
            EXPECT_FALSE(closed) << "connected after closed";
            ++connected;
        }
        if (l.rfind("closed ", 0) == 0) closed = true;
    }
    EXPECT_LE(connected, 1);
}

}  // namespace

TEST(ProxyLayerEvents, EveryEventFreeAbortAndRestart) {
    if (sockettest::ProxyPeerPort("http").empty()) GTEST_SKIP() << "proxy peers not started";
    const Row rows[] = {
        {"OnSocksConnected", "the server's connection is up", true, "socks5", "target.test", "", false, "target.test"},
        {"OnSocksAuthState", "user/password sent", true, "socks5auth", "target.test", "user", true, "target.test"},
        {"OnSocksError", "the request refused", true, "socks5", "refuse.test", "", false, "target.test"},
        {"OnSocksError", "the server closed during the negotiation", true, "socks5", "close.test", "", false,
         "target.test"},
        {"OnSessionConnected", "granted through SOCKS", true, "socks5", "target.test", "", false, "target.test"},
        {"OnSessionConnected", "refused through SOCKS", true, "socks5", "refuse.test", "", false, "target.test"},
        {"OnHttpTunnelConnected", "the proxy's connection is up", false, "http", "open.test", "", false,
         "open.test"},
        {"OnHttpTunnelError", "a 407 without credentials", false, "http", "basic.test", "", false, "open.test"},
        {"OnHttpTunnelError", "the proxy closed in its answer", false, "http", "cut.test", "", false, "open.test"},
        {"OnSessionConnected", "granted through the tunnel", false, "http", "open.test", "", false, "open.test"},
        {"OnSessionConnected", "refused by the tunnel", false, "http", "forbidden.test", "", false, "open.test"},
    };
    std::set<std::string> covered;
    for (const Row& row : rows) covered.insert(row.event);
#define VA_PROXY_EVENT_NAME(E) #E,
    for (const char* name : {VA_NET_SOCKS_EVENTS(VA_PROXY_EVENT_NAME) VA_NET_HTTP_TUNNEL_EVENTS(VA_PROXY_EVENT_NAME)})
        EXPECT_TRUE(covered.count(name)) << name << " has no row";
#undef VA_PROXY_EVENT_NAME

    for (const Row& row : rows) {
        for (Act act : {Act::Free, Act::Abort, Act::Restart}) {
            SCOPED_TRACE(std::string(row.event) + ", " + row.why + ", " + ActName(act));
            ProxyRun r;
            r.act = act;
            SetupRun(r, row);
            r.sock->Connect();
            ASSERT_TRUE(PumpUntil([&] { return r.acted; }, 10000)) << r.Log();
            switch (act) {
                case Act::Free:
                    // Whatever was still queued for the socket must find nothing of it.
                    PumpFor(300);
                    EXPECT_EQ(r.sock, nullptr);
                    break;
                case Act::Abort:
                    EXPECT_TRUE(PumpUntil([&] { return r.sock->State() == wsClosed; }, 10000));
                    PumpFor(300);
                    EXPECT_EQ(r.sock->State(), wsClosed);
                    EXPECT_EQ(r.got, "") << r.Log();
                    ExpectOneOutcomePerAttempt(r.log);
                    break;
                case Act::Restart: {
                    // The new attempt runs undisturbed: granted, and the target's first line arrives.
                    ASSERT_TRUE(PumpUntil([&] { return r.got.find('\n') != std::string::npos; }, 10000))
                        << r.Log() << " got " << r.got;
                    ExpectOneOutcomePerAttempt(r.log);
                    std::vector<std::string> after;
                    for (size_t i = 0; i < r.log.size(); ++i)
                        if (r.log[i] == "restart") after.assign(r.log.begin() + long(i) + 1, r.log.end());
                    int connected = 0;
                    for (const std::string& l : after) {
                        if (l.rfind("connected ", 0) == 0) {
                            EXPECT_EQ(l, "connected 0") << r.Log();
                            ++connected;
                        }
                        EXPECT_NE(l.rfind("closed ", 0), 0u) << r.Log();
                    }
                    EXPECT_EQ(connected, 1) << r.Log();
                    EXPECT_EQ(r.sock->State(), wsConnected);
                    break;
                }
            }
        }
    }
}

// After Abort() inside an error event the attempt is over: the owner hears its close, and
// no outcome of the aborted attempt follows, neither then nor on a connection the handler
// started.
TEST(ProxyLayerEvents, AbortInsideTheErrorEventEndsTheAttempt) {
    if (sockettest::ProxyPeerPort("http").empty()) GTEST_SKIP() << "proxy peers not started";
    const struct {
        Row row;
        std::vector<std::string> aborted, restarted;
    } cases[] = {
        {{"OnSocksError", "refused", true, "socks5", "refuse.test", "", false, "target.test"},
         {"socks connected 0", "socks error 20008", "closed 0"},
         {"socks connected 0", "socks error 20008", "closed 0", "restart", "socks connected 0", "connected 0"}},
        {{"OnSocksError", "method refused", true, "socks5auth", "target.test", "", false, "target.test"},
         {"socks connected 0", "socks error 20003", "closed 0"},
         {}},
        {{"OnHttpTunnelError", "407", false, "http", "basic.test", "", false, "open.test"},
         {"tunnel connected 0", "tunnel error 21407", "closed 0"},
         {"tunnel connected 0", "tunnel error 21407", "closed 0", "restart", "tunnel connected 0", "connected 0"}},
    };
    for (const auto& c : cases) {
        for (Act act : {Act::Abort, Act::Restart}) {
            if (act == Act::Restart && c.restarted.empty()) continue;  // the proxy would refuse again
            SCOPED_TRACE(std::string(c.row.event) + ", " + c.row.why + ", " + ActName(act));
            ProxyRun r;
            r.act = act;
            SetupRun(r, c.row);
            r.sock->Connect();
            ASSERT_TRUE(PumpUntil([&] { return r.acted; }, 10000)) << r.Log();
            if (act == Act::Abort) {
                PumpFor(300);
                EXPECT_EQ(r.log, c.aborted) << r.Log();
            } else {
                ASSERT_TRUE(PumpUntil([&] { return r.got.find('\n') != std::string::npos; }, 10000)) << r.Log();
                PumpFor(100);
                EXPECT_EQ(r.log, c.restarted) << r.Log();
            }
        }
    }
}
