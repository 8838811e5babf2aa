// The HTTP client's GET through a real SOCKS server, dante's sockd, to the HTTP target of the
// reference proxies (tests/peers/ref_proxies.py). Runs as part of the CTest entry
// net_ref_proxy_layers, which starts them; elsewhere it is skipped.
//
// sockd checks a SOCKS 5 user name and password only against the system's own accounts (its
// "username" method) or through a PAM service of the system; neither can be set up for a test
// without adding system users or system files, so user and password are tested against the
// proxy layers' own peers and microsocks instead.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "net/HttpClient.h"
#include "OpenSslTestUtil.h"
#include "support/Pump.h"

using testsupport::PumpUntil;

namespace {

std::string DantePort(const std::string& name) {
    std::ifstream f("ref-proxies\\ports.txt");
    std::string n, p;
    while (f >> n >> p)
        if (n == name) return p;
    return std::string();
}

struct SocksGet {
    std::unique_ptr<THttpClient> http = std::make_unique<THttpClient>(nullptr);
    framework::TMemoryStream body;
    int done = 0, socksConnected = 0;
    uint16_t err = 0xFFFF, socksErr = 0;

    SocksGet(const std::string& level) {
        http->ReceiveStream = &body;
        http->SetRequestVer("1.1");
        http->SocksServer = "127.0.0.1";
        http->SocksPort = DantePort("dante");
        http->SocksLevel = level;
        http->OnSocksConnected = [this](framework::TComponent*, uint16_t) { ++socksConnected; };
        http->OnSocksError = [this](framework::TComponent*, uint16_t e, const std::string&) { socksErr = e; };
        http->OnRequestDone = [this](framework::TComponent*, THttpRequest, uint16_t e) {
            ++done;
            err = e;
        };
    }
    bool Run(const std::string& Url) {
        body.Clear();
        const int before = done;
        http->URL = Url;
        http->StartGet();
        return PumpUntil([&] { return done > before; }, 30000);
    }
};

TEST(RefProxy, HttpClientGetsThroughSockd) {
    if (!std::getenv("VA_REF_PROXIES") || DantePort("target").empty())
        GTEST_SKIP() << "runs as net_ref_proxy_layers, with the reference proxies";
    ASSERT_FALSE(DantePort("dante").empty()) << "sockd not started (is dante-server installed?)";
    const std::string blob = ssltest::ReadFile("ref-proxies\\blob.bin");
    ASSERT_EQ(blob.size(), 262144u);
    const std::string target = DantePort("target");
    struct Case {
        const char* name;
        const char* level;
        const char* host;
    } cases[] = {
        {"SOCKS 5, IPv4", "5", "127.0.0.1"},
        // No strict IPv4 literal: the name goes to sockd, which resolves it.
        {"SOCKS 5, host name", "5", "127.1"},
        {"empty level is SOCKS 5", "", "127.1"},
        {"SOCKS 4", "4", "127.0.0.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SocksGet g(c.level);
        // The target closes after each answer: the second GET opens a new SOCKS connection.
        for (int round = 1; round <= 2; ++round) {
            SCOPED_TRACE(round);
            ASSERT_TRUE(g.Run(std::string("http://") + c.host + ":" + target + "/blob"));
            EXPECT_EQ(g.done, round);
            ASSERT_EQ(g.err, 0) << g.http->ReasonPhrase();
            EXPECT_EQ(g.socksConnected, round);
            EXPECT_EQ(g.socksErr, 0);
            EXPECT_EQ(g.http->StatusCode(), 200);
            EXPECT_EQ(g.http->ContentLength(), 262144);
            EXPECT_EQ(g.http->ReceivedCount(), 262144);
            EXPECT_TRUE(g.body.Bytes() == blob) << g.body.Bytes().size() << " bytes";
            EXPECT_EQ(g.http->State(), hcsReady);
        }
    }
}

// What sockd refuses ends the request with the SOCKS code, never with a document.
TEST(RefProxy, HttpClientSockdRefusals) {
    if (!std::getenv("VA_REF_PROXIES") || DantePort("target").empty())
        GTEST_SKIP() << "runs as net_ref_proxy_layers, with the reference proxies";
    ASSERT_FALSE(DantePort("dante").empty()) << "sockd not started (is dante-server installed?)";
    struct Case {
        const char* name;
        const char* level;
        std::string url;
        uint16_t err;
    } cases[] = {
        // sockd has no SOCKS 4A: request rejected (91).
        {"SOCKS 4A", "4A", "http://127.1:" + DantePort("target") + "/blob", 20016},
        // Nothing listens on port 1: sockd's connect is refused.
        {"SOCKS 5, refused target", "5", "http://127.0.0.1:1/blob", 20008},
        {"SOCKS 4, refused target", "4", "http://127.0.0.1:1/blob", 20016},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SocksGet g(c.level);
        ASSERT_TRUE(g.Run(c.url));
        EXPECT_EQ(g.done, 1);
        EXPECT_EQ(g.err, c.err) << g.http->ReasonPhrase();
        EXPECT_EQ(g.socksErr, c.err);
        EXPECT_EQ(g.body.Bytes(), "");
        EXPECT_NE(g.http->StatusCode(), 200);
        EXPECT_EQ(g.http->State(), hcsReady);
    }
}

}  // namespace
