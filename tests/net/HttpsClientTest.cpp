// The HTTPS variant against openssl s_server -www (tests/peers/tls): a GET verified against
// the test CA, the plain client refusing an https URL instead of sending clear text to a
// TLS server, and requests that trust the Windows ROOT store while its certificates are read.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "net/HttpClient.h"
#include "support/Pump.h"
#include "OpenSslTestUtil.h"

using testsupport::PumpFor;
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

// A client whose context trusts the Windows ROOT store, as the update check's does.
struct RootTrustingClient {
    TSslContext ctx{nullptr};
    TSslHttpClient http{nullptr};
    framework::TMemoryStream body;
    int done = 0;
    uint16_t err = 0xFFFF;
    explicit RootTrustingClient(const std::string& url) {
        ctx.SslUseWindowsRootStore = true;
        ctx.SetSslVerifyPeer(true);
        http.SetSslContext(&ctx);
        http.ReceiveStream = &body;
        http.URL = url;
        http.OnRequestDone = [this](framework::TComponent*, THttpRequest, uint16_t e) {
            ++done;
            err = e;
        };
    }
    bool PageIn() const { return body.Bytes().find("</HTML>") != std::string::npos; }
    bool GetPage() {
        http.StartGet();
        const bool in = PumpUntil([&] { return PageIn() || done > 0; }, 30000) && PageIn();
        // s_server -www keeps the connection open after its page.
        http.Abort();
        return in;
    }
};

class HttpsWindowsRoot : public ::testing::Test {
protected:
    void SetUp() override {
        if (TlsPort("www13").empty()) GTEST_SKIP() << "TLS peers not started";
        url = "https://127.0.0.1:" + TlsPort("www13") + "/";
    }
    ssltest::OpenSslScope ssl;
    std::string url;
};

TEST_F(HttpsWindowsRoot, TheStoresAreReadOnAThreadOfTheirOwnWhileRequestsWait) {
    ssltest::HeldRootReader reader;
    RootTrustingClient a(url), b(url);
    a.http.StartGet();
    b.http.StartGet();
    ASSERT_TRUE(PumpUntil([&] { return reader.reads > 0; }, 10000));
    EXPECT_NE(GetCurrentThreadId(), reader.thread.load()) << "the requesting thread read the stores";
    // Messages keep coming while the stores are read; the requests wait, not fail.
    PumpFor(100);
    EXPECT_EQ(0, a.done);
    EXPECT_EQ(0, b.done);
    reader.Release();
    ASSERT_TRUE(PumpUntil([&] { return (a.PageIn() || a.done) && (b.PageIn() || b.done); }, 30000));
    EXPECT_TRUE(a.PageIn()) << a.http.ReasonPhrase();
    EXPECT_TRUE(b.PageIn()) << b.http.ReasonPhrase();
    EXPECT_EQ(200, a.http.StatusCode());
    EXPECT_EQ(1, reader.reads.load()) << "one read serves every waiting request";
    a.http.Abort();
    b.http.Abort();
}

// The request that waits for the stores is aborted, or its client freed: nothing starts
// afterwards, and the read still serves the next request.
TEST_F(HttpsWindowsRoot, ARequestEndedWhileTheStoresAreReadStaysEnded) {
    for (const bool freeIt : {false, true}) {
        SCOPED_TRACE(freeIt ? "client freed" : "request aborted");
        ssltest::HeldRootReader reader;
        auto waiting = std::make_unique<RootTrustingClient>(url);
        waiting->http.StartGet();
        ASSERT_TRUE(PumpUntil([&] { return reader.reads > 0; }, 10000));
        if (freeIt) {
            waiting.reset();
        } else {
            waiting->http.Abort();
            ASSERT_TRUE(PumpUntil([&] { return waiting->done > 0; }, 5000));
            EXPECT_EQ(httpErrAborted, waiting->err);
        }
        reader.Release();
        PumpFor(300);
        if (waiting) {
            EXPECT_EQ(1, waiting->done) << "a second end, or a start after the abort";
            EXPECT_EQ(hcsReady, waiting->http.State());
            EXPECT_EQ(0, waiting->http.ReceivedCount());
        }
        RootTrustingClient next(url);
        EXPECT_TRUE(next.GetPage()) << next.http.ReasonPhrase();
        EXPECT_EQ(1, reader.reads.load());
    }
}

}  // namespace
