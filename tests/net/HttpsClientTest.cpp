// The HTTPS variant against openssl s_server -www (tests/peers/tls): a GET verified against
// the test CA, and the plain client refusing an https URL instead of sending clear text to a
// TLS server.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "net/HttpClient.h"
#include "support/Pump.h"
#include "OpenSslTestUtil.h"

using testsupport::PumpUntil;

namespace {

std::string TlsPort(const std::string& name) {
    std::ifstream f("net-tls-peers\\ports.txt");
    std::string n, p;
    while (f >> n >> p)
        if (n == name) return p;
    return "";
}

struct Fetch {
    int done = 0;
    uint16_t err = 0xFFFF;
    framework::TMemoryStream body;
    bool Get(THttpClient& http, const std::string& url) {
        http.ReceiveStream = &body;
        http.OnRequestDone = [this](framework::TComponent*, THttpRequest, uint16_t e) {
            ++done;
            err = e;
        };
        http.URL = url;
        http.StartGet();
        return PumpUntil([&] { return done > 0; }, 30000);
    }
};

TEST(HttpsClient, VerifiedGetAndPlainClientRefusal) {
    if (TlsPort("www13").empty()) GTEST_SKIP() << "TLS peers not started";
    const std::string url = "https://127.0.0.1:" + TlsPort("www13") + "/";
    {
        ssltest::OpenSslScope ssl;
        TSslContext ctx(nullptr);
        ssltest::SetUpVerifyingClient(ctx, ssltest::CertPath("ca.pem"));
        TSslHttpClient https(nullptr);
        https.SetSslContext(&ctx);
        // The TLS events reach the owner; the ALPN list goes to the context.
        int verified = 0, handshakes = 0;
        uint16_t handshakeErr = 0xFFFF;
        bool certSeen = false;
        https.AlpnProtocols.Add("http/1.1");
        https.OnSslVerifyPeer = [&](TCustomSslNetSocket*, int&, TX509Base*) { ++verified; };
        https.OnSslHandshakeDone = [&](TCustomSslNetSocket*, uint16_t e, TX509Base* cert, bool&) {
            ++handshakes;
            handshakeErr = e;
            certSeen = cert != nullptr;
        };
        Fetch r;
        // s_server -www ends its page without closing the connection: the page's last line
        // is the end here, then the request is aborted.
        https.ReceiveStream = &r.body;
        https.URL = url;
        https.StartGet();
        ASSERT_TRUE(PumpUntil([&] { return r.body.Bytes().find("</HTML>") != std::string::npos; }, 30000))
            << https.ReasonPhrase() << " " << r.body.Bytes();
        EXPECT_EQ(https.StatusCode(), 200);
        EXPECT_EQ(https.RequestError(), 0);
        EXPECT_NE(r.body.Bytes().find("s_server"), std::string::npos);
        EXPECT_GE(verified, 1);
        EXPECT_EQ(handshakes, 1);
        EXPECT_EQ(handshakeErr, 0);
        EXPECT_TRUE(certSeen);
        EXPECT_EQ(ctx.SslAlpnProtocols().Text(), https.AlpnProtocols.Text());
        https.Abort();
    }
    THttpClient plain(nullptr);
    Fetch r;
    ASSERT_TRUE(r.Get(plain, url));
    EXPECT_EQ(r.err, WSAEPROTONOSUPPORT);
    EXPECT_EQ(plain.StatusCode(), 501);
}

}  // namespace
