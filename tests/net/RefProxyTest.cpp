// The proxy layers against reference proxies (tinyproxy, dante's sockd, squid, microsocks)
// in front of one HTTP target, with curl as the reference client on the same proxies: the
// CTest step before this test ran curl through each of them (tests/peers/ref_proxies.py).
// Here the same fetch goes through our layers and must give curl's bytes; where a proxy or
// our layer refuses, curl's outcome is set beside ours; and against the layers' own peers,
// which answer with the request they got, curl's requests on the wire are compared with ours.
// Runs as the CTest entry net_ref_proxy_layers, which starts those peers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "net/NetSocket.h"
#include "OpenSslTestUtil.h"
#include "support/Pump.h"

using testsupport::PumpUntil;

namespace {

// "name port" lines of a peer folder's ports.txt.
std::map<std::string, std::string> ReadPorts(const std::string& folder) {
    std::map<std::string, std::string> m;
    std::ifstream f(folder + "\\ports.txt");
    std::string n, p;
    while (f >> n >> p) m[n] = p;
    return m;
}

std::string PortOf(const std::string& folder, const std::string& name) {
    const auto ports = ReadPorts(folder);
    auto it = ports.find(name);
    return it == ports.end() ? std::string() : it->second;
}
std::string RefPort(const std::string& name) { return PortOf("ref-proxies", name); }
// squid and microsocks start with the proxy layers' own peers.
std::string ProxyPeerPort(const std::string& name) { return PortOf("proxy-peers", name); }

#define REQUIRE_REF_PROXIES()                                                                 \
    if (!std::getenv("VA_REF_PROXIES") || RefPort("target").empty())                          \
    GTEST_SKIP() << "runs as net_ref_proxy_layers, with the reference proxies"

// curl's exit code and its last message line for a case, and what it wrote.
struct CurlResult {
    int rc = -1;
    std::string message, body;
};

CurlResult Curl(const std::string& name) {
    CurlResult r;
    const std::string base = "ref-proxies\\curl\\" + name;
    std::ifstream f(base + ".rc");
    if (!(f >> r.rc)) return r;
    std::getline(f, r.message);
    r.body = ssltest::ReadFile(base + ".body");
    return r;
}

enum class Via { Tunnel, Socks };

struct Route {
    Via via;
    std::string port;
    std::string level;  // SOCKS
    THttpTunnelAuthType type = htatDetect;
    std::string user, password;
};

// One GET of /blob through a route, read until the target closes.
struct Fetch {
    std::unique_ptr<TNetSocket> sock = std::make_unique<TNetSocket>(nullptr);
    bool done = false, closed = false;
    int connectErr = -1, layerErr = 0;
    std::string got, errMsg;

    explicit Fetch(const Route& r) {
        sock->OnSessionConnected = [this](framework::TComponent*, uint16_t e) {
            connectErr = e;
            done = true;
        };
        sock->OnSessionClosed = [this](framework::TComponent*, uint16_t) { closed = true; };
        sock->OnDataAvailable = [this](framework::TComponent*, uint16_t) {
            char buf[16384];
            const int n = sock->ReceiveData(buf, sizeof(buf));
            if (n > 0) got.append(buf, size_t(n));
        };
        sock->OnSocksError = [this](framework::TComponent*, uint16_t e, const std::string& m) {
            layerErr = e;
            errMsg = m;
        };
        sock->OnHttpTunnelError = [this](framework::TComponent*, uint16_t e, THttpTunnelServerAuthTypes,
                                         const std::string& m) {
            layerErr = e;
            errMsg = m;
        };
        if (r.via == Via::Tunnel) {
            sock->SetHttpTunnelServer("127.0.0.1");
            sock->SetHttpTunnelPort(r.port);
            sock->SetHttpTunnelUsercode(r.user);
            sock->SetHttpTunnelPassword(r.password);
            sock->SetHttpTunnelAuthType(r.type);
        } else {
            sock->SetSocksServer("127.0.0.1");
            sock->SetSocksPort(r.port);
            sock->SetSocksLevel(r.level);
            sock->SocksUsercode = r.user;
            sock->SocksPassword = r.password;
            sock->SocksAuthentication = r.user.empty() ? socksNoAuthentication : socksAuthenticateUsercode;
        }
    }
    bool Connect(const std::string& host, const std::string& port = RefPort("target")) {
        sock->SetAddr(host);
        sock->SetPort(port);
        sock->Connect();
        return PumpUntil([&] { return done; }, 20000);
    }
    bool Get() {
        sock->SendText("GET /blob HTTP/1.1\r\nHost: 127.0.0.1:" + RefPort("target") + "\r\n\r\n");
        return PumpUntil([&] { return closed; }, 30000);
    }
};

const std::string kHead =
    "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: 262144\r\n"
    "Connection: close\r\n\r\n";

Route TinyProxy(const std::string& name, THttpTunnelAuthType type = htatDetect, const std::string& user = "",
                const std::string& password = "") {
    return {Via::Tunnel, RefPort(name), "", type, user, password};
}
Route Squid(THttpTunnelAuthType type, const std::string& password = "pass") {
    return {Via::Tunnel, ProxyPeerPort("squid"), "", type, "user", password};
}
Route Dante(const std::string& level) { return {Via::Socks, RefPort("dante"), level}; }

std::string FirstLine(const std::string& s) { return s.substr(0, s.find('\n')); }

}  // namespace

TEST(RefProxy, SameBytesAsCurlThroughEachProxy) {
    REQUIRE_REF_PROXIES();
    const std::string blob = ssltest::ReadFile("ref-proxies\\blob.bin");
    ASSERT_EQ(blob.size(), 262144u);
    struct Case {
        const char* name;
        const char* curlCase;
        Route route;
        std::string host;
    } cases[] = {
        // tinyproxy's grant is "HTTP/1.0 200 Connection established" with a header line.
        {"tinyproxy, open", "tinyproxy", TinyProxy("tinyproxy"), "127.0.0.1"},
        // Its 407 is HTTP/1.0 and closes: the layer reconnects and sends Basic.
        {"tinyproxy, Basic detected", "tinyproxy-basic", TinyProxy("tinyproxyauth", htatDetect, "user", "pass"),
         "127.0.0.1"},
        {"tinyproxy, Basic", "tinyproxy-basic", TinyProxy("tinyproxyauth", htatBasic, "user", "pass"), "127.0.0.1"},
        {"squid, Basic", "squid-basic", Squid(htatBasic), "127.0.0.1"},
        {"squid, Digest", "squid-digest", Squid(htatDigest), "127.0.0.1"},
        // "127.1" is no strict IPv4 literal, so it goes to sockd as a name, which sockd resolves.
        {"sockd, SOCKS 5 host name", "dante-socks5-hostname", Dante("5"), "127.1"},
        {"sockd, SOCKS 5 IPv4", "dante-socks5", Dante("5"), "127.0.0.1"},
        {"sockd, SOCKS 4", "dante-socks4", Dante("4"), "127.0.0.1"},
        {"microsocks, user and password", "microsocks-auth",
         Route{Via::Socks, ProxyPeerPort("microsocksauth"), "5", htatDetect, "user", "pass"}, "127.1"},
    };
    for (const Case& c : cases) {
        if (c.route.port.empty()) {
            ADD_FAILURE() << c.name << ": proxy not started (is it installed?)";
            continue;
        }
        const CurlResult ref = Curl(c.curlCase);
        EXPECT_EQ(ref.rc, 0) << c.name << ": curl " << ref.message;
        EXPECT_TRUE(ref.body == blob) << c.name << ": curl wrote " << ref.body.size() << " bytes";

        Fetch f(c.route);
        ASSERT_TRUE(f.Connect(c.host)) << c.name;
        ASSERT_EQ(f.connectErr, 0) << c.name << " " << f.layerErr << " " << f.errMsg;
        ASSERT_TRUE(f.Get()) << c.name << ": " << f.got.size() << " bytes before the time limit";
        ASSERT_EQ(f.got.substr(0, kHead.size()), kHead) << c.name;
        const std::string body = f.got.substr(kHead.size());
        EXPECT_EQ(body.size(), ref.body.size()) << c.name;
        EXPECT_TRUE(body == ref.body) << c.name << ": the bytes differ from curl's";
    }
}

// Where a proxy refuses, our layer and curl see the same answer; where our layer refuses
// before connecting, curl refuses too.
TEST(RefProxy, RefusalsMatchCurl) {
    REQUIRE_REF_PROXIES();
    struct Case {
        const char* name;
        const char* curlCase;
        Route route;
        std::string host;
        int code;          // what our layer reports
        std::string curlSays;  // in curl's message
    } cases[] = {
        {"tinyproxy, no credentials", "tinyproxy-no-credentials", TinyProxy("tinyproxyauth"), "127.0.0.1", 21407,
         "response 407"},
        // tinyproxy answers wrong credentials with 401, not 407.
        {"tinyproxy, wrong password", "tinyproxy-wrong-password",
         TinyProxy("tinyproxyauth", htatDetect, "user", "nope"), "127.0.0.1", 21401, "response 401"},
        {"squid, Digest with a wrong password", "squid-digest-wrong-password", Squid(htatDigest, "nope"),
         "127.0.0.1", 21407, "response 407"},
        // sockd has no SOCKS 4A: it rejects the request (91), for curl as for us.
        {"sockd, SOCKS 4A", "dante-socks4a", Dante("4A"), "127.1", 20016, "(91)"},
    };
    for (const Case& c : cases) {
        ASSERT_FALSE(c.route.port.empty()) << c.name << ": proxy not started";
        const CurlResult ref = Curl(c.curlCase);
        EXPECT_NE(ref.rc, 0) << c.name;
        EXPECT_NE(ref.message.find(c.curlSays), std::string::npos) << c.name << ": curl " << ref.message;

        Fetch f(c.route);
        ASSERT_TRUE(f.Connect(c.host)) << c.name;
        EXPECT_EQ(f.connectErr, c.code) << c.name << " " << f.errMsg;
        EXPECT_EQ(f.layerErr, c.code) << c.name;
        EXPECT_TRUE(f.got.empty()) << c.name;
        f.sock->Abort();
    }

    // curl has no switch for this one: an HTTP/1.0 grant is refused when the option asks for 1.1.
    Fetch f(TinyProxy("tinyproxy"));
    f.sock->ComponentOptions.Include(wsoNoHttp10Tunnel);
    ASSERT_TRUE(f.Connect("127.0.0.1"));
    EXPECT_EQ(f.connectErr, 21002);
    f.sock->Abort();
}

// One length byte each in the protocol: curl refuses longer values before asking the proxy
// (exit 97), and so does our layer.
TEST(RefProxy, ValuesOverLengthByteRefusedLikeCurl) {
    REQUIRE_REF_PROXIES();
    const std::string n256(256, 'n'), u256(256, 'u'), p256(256, 'p');
    const Route microsocks{Via::Socks, ProxyPeerPort("microsocksauth"), "5"};
    struct Case {
        const char* curlCase;
        Route route;
        std::string host, curlSays;
    } cases[] = {
        {"dante-socks5-long-name", Dante("5"), n256, "too long"},
        {"dante-socks4a-long-name", Dante("4A"), n256, "too long"},
        {"microsocks-long-user", {Via::Socks, microsocks.port, "5", htatDetect, u256, "pass"}, "127.1",
         "Excessive user name length"},
        {"microsocks-long-password", {Via::Socks, microsocks.port, "5", htatDetect, "user", p256}, "127.1",
         "Excessive password length"},
    };
    for (const Case& c : cases) {
        ASSERT_FALSE(c.route.port.empty()) << c.curlCase << ": proxy not started";
        const CurlResult ref = Curl(c.curlCase);
        EXPECT_EQ(ref.rc, 97) << c.curlCase << ": curl " << ref.message;
        EXPECT_NE(ref.message.find(c.curlSays), std::string::npos) << c.curlCase << ": curl " << ref.message;
        Fetch f(c.route);
        f.sock->SetAddr(c.host);
        f.sock->SetPort(RefPort("target"));
        EXPECT_THROW(f.sock->Connect(), ESocketException) << c.curlCase;
        EXPECT_EQ(f.sock->State(), wsClosed) << c.curlCase;
    }
}

// The proxy layers' own peers play the target and answer "req=<hex>" of the request they
// got: curl's SOCKS requests and CONNECT lines, byte for byte, are ours.
TEST(RefProxy, RequestsOnTheWireAreCurls) {
    REQUIRE_REF_PROXIES();
    struct Case {
        const char* curlCase;
        Route route;
        std::string host, port;
    } cases[] = {
        {"wire-socks4a", {Via::Socks, ProxyPeerPort("socks4"), "4A", htatDetect, "user"}, "target.test", "4321"},
        {"wire-socks4", {Via::Socks, ProxyPeerPort("socks4"), "4", htatDetect, "user"}, "127.0.0.1", "4321"},
        {"wire-socks5-hostname", {Via::Socks, ProxyPeerPort("socks5"), "5"}, "target.test", "4321"},
        {"wire-socks5-user", {Via::Socks, ProxyPeerPort("socks5auth"), "5", htatDetect, "user", "pass"},
         "target.test", "4321"},
        {"wire-connect", {Via::Tunnel, ProxyPeerPort("http")}, "open.test", "443"},
        {"wire-connect-basic", {Via::Tunnel, ProxyPeerPort("http"), "", htatBasic, "user", "pass"}, "basic.test",
         "443"},
    };
    for (const Case& c : cases) {
        ASSERT_FALSE(c.route.port.empty()) << c.curlCase << ": proxy peers not started";
        const CurlResult ref = Curl(c.curlCase);
        const std::string curlLine = FirstLine(ref.body);
        ASSERT_EQ(curlLine.substr(0, 4), "req=") << c.curlCase << ": curl " << ref.message;

        Fetch f(c.route);
        ASSERT_TRUE(f.Connect(c.host, c.port)) << c.curlCase;
        ASSERT_EQ(f.connectErr, 0) << c.curlCase << " " << f.layerErr << " " << f.errMsg;
        ASSERT_TRUE(PumpUntil([&] { return f.got.find('\n') != std::string::npos; }, 10000)) << c.curlCase;
        EXPECT_EQ(FirstLine(f.got), curlLine) << c.curlCase;
        f.sock->Abort();
    }
}
