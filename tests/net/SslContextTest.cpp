// TLS contexts: what a build puts into the SSL_CTX, the property rules, the loaders' errors,
// and handshakes between two contexts over an in-memory BIO pair with the fixture's
// certificates (protocol ranges, ciphers, trust by CA file, lines or the Windows ROOT store,
// host names, CRLs, encrypted keys, session reuse).
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "OpenSslTestUtil.h"
#include "support/TempDir.h"
#include "net/X509Base.h"

using namespace ssltest;

namespace {

class SslContextTest : public ::testing::Test {
protected:
    OpenSslScope ssl;
};

template <typename E, typename F>
std::string Raised(F f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "(nothing raised)";
}

TEST_F(SslContextTest, DefaultsBuild) {
    TSslContext ctx(nullptr);
    EXPECT_EQ(13, ctx.SslDHParamLines().Count());
    EXPECT_EQ(782u, ctx.SslDHParamLines().Text().size());
    ctx.BuildSslCtx();
    ASSERT_TRUE(ctx.IsCtxInitialized());
    SSL_CTX* c = ctx.SslCtx();
    EXPECT_EQ(0x300, SslCtxGetMinProtoVersion(c));
    EXPECT_EQ(0x304, SslCtxGetMaxProtoVersion(c));
    EXPECT_EQ(1, ossl::SSL_CTX_get_security_level(c));
    EXPECT_EQ(0x40004u, SslCtxGetOptions(c) & 0x40004u);
    EXPECT_EQ(SSL_VERIFY_NONE, ossl::SSL_CTX_get_verify_mode(c));
    EXPECT_EQ(nullptr, ossl::SSL_CTX_get0_certificate(c));
    EXPECT_EQ(ossl::SSL_CTX_get_ex_data(c, 0), &ctx);
    ctx.FreeSslCtx();
    EXPECT_FALSE(ctx.IsCtxInitialized());
}

TEST_F(SslContextTest, MinAboveMaxLeavesTheRangeToOpenSsl) {
    TSslContext ctx(nullptr);
    ctx.SslMinVersion = sslVerTLS1_3;
    ctx.SslMaxVersion = sslVerTLS1_2;
    ctx.BuildSslCtx();
    EXPECT_EQ(0, SslCtxGetMinProtoVersion(ctx.SslCtx()));
    EXPECT_EQ(0, SslCtxGetMaxProtoVersion(ctx.SslCtx()));
}

TEST_F(SslContextTest, CliSecurityPresetActsOnABuiltContext) {
    TSslContext ctx(nullptr);
    ctx.BuildSslCtx();
    ctx.SetSslCliSecurity(sslCliSecHigh128);
    EXPECT_EQ(0x303, SslCtxGetMinProtoVersion(ctx.SslCtx()));
    EXPECT_EQ(3, ossl::SSL_CTX_get_security_level(ctx.SslCtx()));
    EXPECT_EQ(0u, ctx.SslCipherList.rfind("TLS13-CHACHA20-POLY1305-SHA256:TLS13-AES-256-GCM-SHA384:"
                                          "TLS13-AES-128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:", 0));
    const std::string tail = "ECDHE-RSA-AES128-SHA256";
    EXPECT_EQ(tail, ctx.SslCipherList.substr(ctx.SslCipherList.size() - tail.size()));
    // Only list H's suites are on offer for TLS 1.2.
    STACK_OF(SSL_CIPHER)* ciphers = ossl::SSL_CTX_get_ciphers(ctx.SslCtx());
    bool cbc = false;
    for (int i = 0; i < SslStackCount(ciphers); ++i)
        if (std::string(ossl::SSL_CIPHER_get_name(SslStackItem<SSL_CIPHER>(ciphers, i))) == "AES128-SHA") cbc = true;
    EXPECT_FALSE(cbc);
    EXPECT_EQ(sslVerTLS1_2, ctx.SslMinVersion);
    EXPECT_EQ(sslSecLevel128bits, ctx.SslSecLevel);
}

TEST_F(SslContextTest, CipherListErrorsLeaveTheContextUnbuilt) {
    TSslContext ctx(nullptr);
    ctx.SslCipherList = "";
    EXPECT_EQ("Cipher list empty", Raised<ESslContextException>([&] { ctx.BuildSslCtx(); }));
    EXPECT_FALSE(ctx.IsCtxInitialized());
    ctx.SslCipherList = "NO-SUCH-CIPHER";
    EXPECT_EQ(0u, Raised<ESslContextException>([&] { ctx.BuildSslCtx(); }).find("\r\nError loading cipher list - "));
    EXPECT_FALSE(ctx.IsCtxInitialized());
    EXPECT_NE(0, ctx.LastOpenSslErrorCode);
    ctx.SslCipherList = "HIGH";
    ctx.BuildSslCtx();
    EXPECT_TRUE(ctx.IsCtxInitialized()) << "the next build starts afresh";
}

TEST_F(SslContextTest, PropertyRules) {
    TSslContext ctx(nullptr);
    ctx.SetSslDefaultSessionIDContext(std::string(40, 'x') + "tail");
    EXPECT_EQ(std::string(32, 'x'), ctx.SslDefaultSessionIDContext());
    ctx.SetSslCheckHostFlags({sslX509_NO_HOST_CHECK, sslX509_CHECK_FLAG_NO_WILDCARDS});
    EXPECT_EQ(std::set<TSslCheckHostFlag>{sslX509_NO_HOST_CHECK}, ctx.SslCheckHostFlags());
    EXPECT_EQ(-1, ctx.SslCheckHostFlagsValue());
    ctx.SetSslCheckHostFlags({sslX509_CHECK_FLAG_NO_PARTIAL_WILDCARDS, sslX509_CHECK_FLAG_NEVER_CHECK_SUBJECT});
    EXPECT_EQ(0x24, ctx.SslCheckHostFlagsValue());
    EXPECT_EQ((std::set<TSslCheckHostFlag>{sslX509_CHECK_FLAG_NO_PARTIAL_WILDCARDS,
                                           sslX509_CHECK_FLAG_NEVER_CHECK_SUBJECT}),
              ctx.SslCheckHostFlags());
    const std::set<TSslVerifyFlag> flags{sslX509_V_FLAG_CRL_CHECK, sslX509_V_FLAG_SUITEB_128_LOS,
                                         sslX509_V_FLAG_NO_CHECK_TIME};
    ctx.SetSslVerifyFlags(flags);
    EXPECT_EQ(0x4u | 0x30000u | 0x200000u, ctx.SslVerifyFlagsValue());
    EXPECT_EQ(flags, ctx.SslVerifyFlags());
    ctx.SetSslSessionCacheModes({sslSESS_CACHE_CLIENT, sslSESS_CACHE_NO_INTERNAL_STORE});
    EXPECT_EQ((std::set<TSslSessCacheMode>{sslSESS_CACHE_CLIENT, sslSESS_CACHE_NO_INTERNAL_STORE}),
              ctx.SslSessionCacheModes());
    ctx.SetSslVerifyPeerModes({SslVerifyMode_PEER, SslVerifyMode_FAIL_IF_NO_PEER_CERT});
    EXPECT_EQ(3, ctx.SslVerifyPeerModesValue());
}

TEST_F(SslContextTest, LoaderErrors) {
    const std::string missing = CertPath("no-such-file.pem");
    struct Case {
        const char* name;
        std::function<void(TSslContext&)> set;
        std::string message;
    } cases[] = {
        {"no PEM", [](TSslContext& c) { c.SetSslCertLines("just text"); },
         "Error on reading certificate lines - No PEM Content Found"},
        {"long line",
         [](TSslContext& c) {
             c.SetSslCertLines("-----BEGIN CERTIFICATE-----\r\n" + std::string(120, 'A') +
                               "\r\n-----END CERTIFICATE-----\r\n");
         },
         "Error on reading certificate lines - Error Cert 1 - Maximum line length in PEM file is 64"},
        {"CA file", [&](TSslContext& c) { c.SetSslCAFile(missing); }, "File not found \"" + missing + "\""},
        {"CA path", [&](TSslContext& c) { c.SetSslCAPath(missing); }, "Directory not found \"" + missing + "\""},
        {"CRL file", [&](TSslContext& c) { c.SslCRLFile = missing; }, "CRL file not found \"" + missing + "\""},
        {"CRL path", [&](TSslContext& c) { c.SslCRLPath = missing; }, "CRL directory not found \"" + missing + "\""},
        {"key file", [&](TSslContext& c) { c.SetSslPrivKeyFile(missing); }, "File not found \"" + missing + "\""},
        {"cert file", [&](TSslContext& c) { c.SetSslCertFile(missing); }, "File not found \"" + missing + "\""},
        {"no key", [](TSslContext& c) { c.SetSslPrivKeyLines("nothing"); },
         "Can't read private key lines: No private key found in PEM file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TSslContext ctx(nullptr);
        c.set(ctx);
        EXPECT_EQ(c.message, Raised<ESslContextException>([&] { ctx.BuildSslCtx(); }));
        EXPECT_FALSE(ctx.IsCtxInitialized());
    }
    TSslContext dh(nullptr);
    dh.SetSslDHParamLines("garbage");
    EXPECT_EQ("Expected a Base64 encoded DH params", Raised<EX509Exception>([&] { dh.BuildSslCtx(); }));
}

TEST_F(SslContextTest, ShortPemBlocksAreRead) {
    // An Ed25519 certificate and an empty CRL signed with Ed25519 are both under 390 characters.
    const std::string cert = ReadFile(CertPath("ed25519.pem"));
    ASSERT_LT(cert.size(), 390u);
    TSslContext ctx(nullptr);
    ctx.SetSslCertLines(cert);
    ctx.SetSslPrivKeyLines(ReadFile(CertPath("ed25519.key")));
    ctx.SslCRLFile = CertPath("ed-empty.crl");
    ctx.BuildSslCtx();
    X509* own = ossl::SSL_CTX_get0_certificate(ctx.SslCtx());
    ASSERT_NE(nullptr, own);
    TX509Base x(nullptr, own);
    EXPECT_EQ("ed.test", x.SubjectCName());
}

TEST_F(SslContextTest, TestCaAcceptedForeignCaRefused) {
    TSslContext server(nullptr), ours(nullptr), foreign(nullptr);
    SetUpServer(server);
    SetUpVerifyingClient(ours, CertPath("ca.pem"));
    SetUpVerifyingClient(foreign, CertPath("foreign.pem"));
    const HandshakeResult good = Handshake(server, ours, "www.example.test");
    EXPECT_TRUE(good.ok);
    EXPECT_EQ(X509_V_OK, good.verifyResult);
    EXPECT_EQ(TLS1_3_VERSION, good.version);
    const HandshakeResult bad = Handshake(server, foreign, "www.example.test");
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, bad.verifyResult);
    EXPECT_EQ(20, bad.verifyResult);
}

TEST_F(SslContextTest, CaLinesAndEcCertificates) {
    TSslContext server(nullptr), client(nullptr);
    SetUpServer(server, "ecserver");
    client.SetSslCALines(ReadFile(CertPath("ca.pem")));
    client.SetSslVerifyPeer(true);
    const HandshakeResult r = Handshake(server, client, "ec.example.test");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(X509_V_OK, r.verifyResult);
}

TEST_F(SslContextTest, HostNamesAreChecked) {
    TSslContext server(nullptr);
    SetUpServer(server);
    struct Case {
        const char* host;
        bool ok;
    } cases[] = {
        {"www.example.test", true},  {"a.example.test", true},   {"a.b.example.test", false},
        {"example.test", false},     {"other.test", false},      {"127.0.0.1", true},
        {"127.0.0.2", false},        {"[::1]", true},            {"b\xFC" "cher.example.test", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        TSslContext client(nullptr);
        SetUpVerifyingClient(client, CertPath("ca.pem"));
        const HandshakeResult r = Handshake(server, client, c.host);
        EXPECT_EQ(c.ok, r.ok);
        EXPECT_EQ(c.ok ? X509_V_OK : (c.host[0] >= '0' && c.host[0] <= '9' ? X509_V_ERR_IP_ADDRESS_MISMATCH
                                                                           : X509_V_ERR_HOSTNAME_MISMATCH),
                  r.verifyResult);
    }
    // With the host check off, only the chain counts.
    TSslContext lax(nullptr);
    SetUpVerifyingClient(lax, CertPath("ca.pem"));
    lax.SetSslCheckHostFlags({sslX509_NO_HOST_CHECK});
    EXPECT_TRUE(Handshake(server, lax, "other.test").ok);
}

TEST_F(SslContextTest, AllDigitNamesAreNamesNotAddresses) {
    // Only a dotted quad is an IPv4 literal; other digit strings are host names, checked
    // against the certificate's names (and refused here) instead of failing the set-up.
    TSslContext server(nullptr);
    SetUpServer(server);
    for (const char* host : {"127.1", "1234", "10.1.2", "1.2.3.4.5", "1.2.3.256"}) {
        SCOPED_TRACE(host);
        TSslContext client(nullptr);
        SetUpVerifyingClient(client, CertPath("ca.pem"));
        HandshakeResult r;
        EXPECT_NO_THROW(r = Handshake(server, client, host));
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(X509_V_ERR_HOSTNAME_MISMATCH, r.verifyResult);
    }
}

TEST_F(SslContextTest, VerifyingClientRefusesAnonymousSuites) {
    // A server without a certificate offering only anonymous suites (ADH, AECDH). Whatever
    // preset or level the client has, verification on means no handshake; with verification
    // off the same client does connect (the server is sound).
    struct Case {
        const char* name;
        TSslCliSecurity preset;
        bool verify;
        bool ok;
    } cases[] = {
        {"level 0 preset none", sslCliSecNone, true, false},
        {"level 0 preset TLS 1.1 and up", sslCliSecTls11, true, false},
        {"level 0 preset SSL 3 only", sslCliSecSsl3Only, true, false},
        {"level 0 with the default list", sslCliSecIgnore, true, false},
        {"no verification", sslCliSecNone, false, true},
        {"no verification, default list", sslCliSecIgnore, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TSslContext server(nullptr), client(nullptr);
        server.SslSecLevel = sslSecLevelAny;
        server.SslMaxVersion = sslVerTLS1_2;
        server.SslCipherList = "aNULL@SECLEVEL=0";
        if (c.verify) SetUpVerifyingClient(client, CertPath("ca.pem"));
        if (c.preset == sslCliSecIgnore) client.SslSecLevel = sslSecLevelAny;
        else client.SetSslCliSecurity(c.preset);
        const HandshakeResult r = Handshake(server, client, "www.example.test");
        EXPECT_EQ(c.ok, r.ok) << r.cipher;
        if (c.ok) EXPECT_TRUE(r.cipher.find("ADH") != std::string::npos || r.cipher.find("AECDH") != std::string::npos)
                      << r.cipher;
    }
    // Turning verification on for a built context also drops them.
    TSslContext server(nullptr), client(nullptr);
    server.SslSecLevel = sslSecLevelAny;
    server.SslMaxVersion = sslVerTLS1_2;
    server.SslCipherList = "aNULL@SECLEVEL=0";
    client.SetSslCliSecurity(sslCliSecNone);
    client.BuildSslCtx();
    SetUpVerifyingClient(client, CertPath("ca.pem"));
    EXPECT_FALSE(Handshake(server, client, "www.example.test").ok);
}

TEST_F(SslContextTest, WithoutTheDeprecatedDhAndEcCalls) {
    // As with an OpenSSL built without its deprecated calls: DH parameters still load (a
    // DHE-only handshake succeeds) and an EC key still names its curve.
    const auto readDh = ossl::PEM_read_bio_DHparams;
    const auto freeDh = ossl::DH_free;
    const auto getEc = ossl::EVP_PKEY_get0_EC_KEY;
    ossl::PEM_read_bio_DHparams = nullptr;
    ossl::DH_free = nullptr;
    ossl::EVP_PKEY_get0_EC_KEY = nullptr;
    TSslContext server(nullptr), client(nullptr);
    SetUpServer(server);
    server.SslMaxVersion = sslVerTLS1_2;
    server.SslCipherList = "DHE-RSA-AES128-GCM-SHA256";
    client.SslCipherList = "DHE-RSA-AES128-GCM-SHA256";
    HandshakeResult r;
    std::string keyInfo;
    try {
        r = Handshake(server, client, "www.example.test");
        TX509Base ec(nullptr);
        std::string errors;
        ec.LoadFromText(ReadFile(CertPath("ecserver.pem")), 0, errors);
        keyInfo = ec.KeyInfo();
    } catch (...) {
    }
    ossl::PEM_read_bio_DHparams = readDh;
    ossl::DH_free = freeDh;
    ossl::EVP_PKEY_get0_EC_KEY = getEc;
    EXPECT_TRUE(r.ok);
    EXPECT_EQ("DHE-RSA-AES128-GCM-SHA256", r.cipher);
    EXPECT_EQ("ECDSA Key Encryption secp384r1 384 bits 192 security bits", keyInfo);
}

TEST_F(SslContextTest, AlpnNamesOverTheLengthByteAreRefused) {
    const std::string longest(255, 'a'), over(256, 'a');
    TSslContext built(nullptr);
    built.BuildSslCtx();
    EXPECT_NO_THROW(built.SetSslAlpnProtocols("h2\r\n" + longest));
    EXPECT_EQ("Error setting alpn protos",
              Raised<ESslContextException>([&] { built.SetSslAlpnProtocols("h2\r\n" + over); }));
    TSslContext later(nullptr);
    later.SetSslAlpnProtocols(over);
    EXPECT_EQ("Error setting alpn protos", Raised<ESslContextException>([&] { later.BuildSslCtx(); }));
    EXPECT_FALSE(later.IsCtxInitialized());
}

TEST_F(SslContextTest, ProtocolRangesAndCiphers) {
    struct Case {
        const char* name;
        TSslVerMethod clientMin, clientMax, serverMin, serverMax;
        const char* clientCiphers;
        bool ok;
        int version;
        const char* cipher;
    } cases[] = {
        {"defaults", sslVerSSL3, sslVerMax, sslVerSSL3, sslVerMax, nullptr, true, TLS1_3_VERSION, nullptr},
        {"client up to 1.2", sslVerSSL3, sslVerTLS1_2, sslVerSSL3, sslVerMax, nullptr, true, TLS1_2_VERSION, nullptr},
        {"no common version", sslVerTLS1_3, sslVerMax, sslVerTLS1_2, sslVerTLS1_2, nullptr, false, 0, nullptr},
        {"one suite", sslVerTLS1_2, sslVerTLS1_2, sslVerSSL3, sslVerMax, "ECDHE-RSA-AES128-GCM-SHA256", true,
         TLS1_2_VERSION, "ECDHE-RSA-AES128-GCM-SHA256"},
        {"no common suite", sslVerTLS1_2, sslVerTLS1_2, sslVerSSL3, sslVerMax, "ECDHE-ECDSA-AES128-GCM-SHA256", false,
         0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TSslContext server(nullptr), client(nullptr);
        SetUpServer(server);
        server.SslMinVersion = c.serverMin;
        server.SslMaxVersion = c.serverMax;
        client.SslMinVersion = c.clientMin;
        client.SslMaxVersion = c.clientMax;
        if (c.clientCiphers) client.SslCipherList = c.clientCiphers;
        const HandshakeResult r = Handshake(server, client, "www.example.test");
        EXPECT_EQ(c.ok, r.ok);
        if (c.ok) {
            EXPECT_EQ(c.version, r.version);
        }
        if (c.cipher) {
            EXPECT_EQ(c.cipher, r.cipher);
        }
    }
    TSslContext server(nullptr), client(nullptr);
    SetUpServer(server);
    client.SetSslCliSecurity(sslCliSecTls12Only);
    const HandshakeResult r = Handshake(server, client, "www.example.test");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(TLS1_2_VERSION, r.version);
}

TEST_F(SslContextTest, SessionReuseIsAskedOfTheLibrary) {
    TSslContext server(nullptr), client(nullptr);
    SetUpServer(server);
    client.SslMaxVersion = sslVerTLS1_2;  // the session is known when the handshake ends
    const HandshakeResult first = Handshake(server, client, "www.example.test", nullptr, true);
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(0, first.reused);
    ASSERT_NE(nullptr, first.session);
    const HandshakeResult second = Handshake(server, client, "www.example.test", first.session);
    ossl::SSL_SESSION_free(first.session);
    EXPECT_TRUE(second.ok);
    EXPECT_EQ(1, second.reused);
}

TEST_F(SslContextTest, RevokedCertificateIsRefusedWithTheCrl) {
    TSslContext server(nullptr);
    SetUpServer(server, "revoked");
    struct Case {
        const char* crl;
        bool ok;
        long verify;
    } cases[] = {{"empty.crl", true, X509_V_OK},
                 {"revoked.crl", false, X509_V_ERR_CERT_REVOKED},
                 {"crls\\", false, X509_V_ERR_CERT_REVOKED}};  // every file of a folder
    for (const Case& c : cases) {
        SCOPED_TRACE(c.crl);
        TSslContext client(nullptr);
        SetUpVerifyingClient(client, CertPath("ca.pem"));
        if (std::string(c.crl).back() == '\\') client.SslCRLPath = CertPath(c.crl);
        else client.SslCRLFile = CertPath(c.crl);
        client.SetSslVerifyFlags({sslX509_V_FLAG_CRL_CHECK});
        const HandshakeResult r = Handshake(server, client, "www.example.test");
        EXPECT_EQ(c.ok, r.ok);
        EXPECT_EQ(c.verify, r.verifyResult);
    }
}

TEST_F(SslContextTest, EncryptedKeyNeedsItsPassPhrase) {
    TSslContext server(nullptr), client(nullptr);
    server.SetSslCertFile(CertPath("server.pem"));
    server.SetSslPrivKeyFile(CertPath("server-enc.key"));
    server.SslPassPhrase = "wrong";
    EXPECT_EQ(0u, Raised<ESslContextException>([&] { server.BuildSslCtx(); }).rfind(
                      "Can't read private key lines: Error private key - ", 0));
    server.SslPassPhrase = "secret";
    SetUpVerifyingClient(client, CertPath("ca.pem"));
    EXPECT_TRUE(Handshake(server, client, "www.example.test").ok);
}

TEST_F(SslContextTest, OwnCertificateTakesThePlaceOfTheFiles) {
    TSslContext server(nullptr), client(nullptr);
    std::string errors;
    server.OwnCertificate()->LoadFromText(ReadFile(CertPath("ecserver.pem")) + ReadFile(CertPath("ecserver.key")) +
                                              ReadFile(CertPath("ca.pem")),
                                          2, errors);
    ASSERT_EQ("", errors);
    server.SetSslCertFile(CertPath("no-such-file.pem"));  // not read: the own certificate counts
    SetUpVerifyingClient(client, CertPath("ca.pem"));
    const HandshakeResult r = Handshake(server, client, "ec.example.test");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(X509_V_OK, r.verifyResult);
}

TEST_F(SslContextTest, VerifyCallbackDecides) {
    // The socket layer's verify callback sees every certificate and may overrule OpenSSL.
    static int seen;
    seen = 0;
    TSslContext::Callbacks.Verify = [](int, X509_STORE_CTX*) {
        ++seen;
        return 1;
    };
    TSslContext server(nullptr), client(nullptr);
    SetUpServer(server);
    SetUpVerifyingClient(client, CertPath("foreign.pem"));
    const HandshakeResult r = Handshake(server, client, "www.example.test");
    TSslContext::Callbacks.Verify = nullptr;
    EXPECT_TRUE(r.ok);
    EXPECT_NE(X509_V_OK, r.verifyResult) << "the error is still recorded";
    EXPECT_GT(seen, 0);
}

TEST_F(SslContextTest, SettersActOnABuiltContext) {
    TSslContext server(nullptr), client(nullptr);
    server.BuildSslCtx();
    SetUpServer(server);  // loads the certificate and key at once
    EXPECT_NE(nullptr, ossl::SSL_CTX_get0_certificate(server.SslCtx()));
    client.BuildSslCtx();
    client.SetSslVerifyPeer(true);
    EXPECT_EQ(SSL_VERIFY_PEER, ossl::SSL_CTX_get_verify_mode(client.SslCtx()));
    EXPECT_EQ(20, Handshake(server, client, "www.example.test").verifyResult);
    client.SetSslCAFile(CertPath("ca.pem"));
    EXPECT_TRUE(Handshake(server, client, "www.example.test").ok);
    client.SetSslVerifyPeer(false);
    EXPECT_EQ(SSL_VERIFY_NONE, ossl::SSL_CTX_get_verify_mode(client.SslCtx()));
    client.SetSslAlpnProtocols("h2\r\nhttp/1.1");
    EXPECT_EQ(2, client.SslAlpnProtocols().Count());
}

TEST_F(SslContextTest, Engines) {
    TSslEngine engine(nullptr);
    EXPECT_EQ("Cannot initialize a closed engine", Raised<ESslEngineError>([&] { engine.Init(); }));
    engine.SetNameID("no-such-engine");
    EXPECT_FALSE(engine.Open());
    EXPECT_EQ(0u, engine.LastErrorMsg.rfind("ENGINE_by_id\r\n", 0));
    EXPECT_EQ(0, engine.State());
    // A context whose engine should load the key needs a key id.
    TSslContext ctx(nullptr);
    ctx.SetCtxEngine(&engine);
    engine.CtxCapabilities.insert(eccLoadPrivKey);
    EXPECT_EQ("Engine and KeyID may not be empty", Raised<ESslContextException>([&] { ctx.BuildSslCtx(); }));
    {
        TSslEngine gone(nullptr);
        ctx.SetCtxEngine(&gone);
    }
    EXPECT_EQ(nullptr, ctx.CtxEngine()) << "forgotten when the engine is destroyed";
}

// ---- The Windows ROOT store ------------------------------------------------------------------

TEST_F(SslContextTest, WindowsRootStoreWithTheTestCa) {
    TSslContext server(nullptr);
    SetUpServer(server);
    auto verifyAgainstRoot = [&]() {
        TSslContext client(nullptr);
        client.SslUseWindowsRootStore = true;
        client.SetSslVerifyPeer(true);
        return Handshake(server, client, "www.example.test");
    };
    const HandshakeResult before = verifyAgainstRoot();
    EXPECT_FALSE(before.ok);
    EXPECT_EQ(20, before.verifyResult);

    // The test's CA goes into the user's Root store of the prefix (Windows shows it in ROOT),
    // and out again afterwards.
    const std::string der = ssltest::DerOf(CertPath("ca.pem"));
    auto openUserRoot = [] {
        return CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    };
    HCERTSTORE root = openUserRoot();
    ASSERT_NE(nullptr, root);
    ASSERT_TRUE(CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                 static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                 nullptr));
    CertCloseStore(root, 0);
    const HandshakeResult after = verifyAgainstRoot();
    root = openUserRoot();
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(root, nullptr); c;) {
        PCCERT_CONTEXT next = CertEnumCertificatesInStore(root, CertDuplicateCertificateContext(c));
        if (c->cbCertEncoded == der.size() && memcmp(c->pbCertEncoded, der.data(), der.size()) == 0)
            CertDeleteCertificateFromStore(c);
        else
            CertFreeCertificateContext(c);
        c = next;
    }
    CertCloseStore(root, 0);
    EXPECT_TRUE(after.ok);
    EXPECT_EQ(X509_V_OK, after.verifyResult);
    EXPECT_EQ(20, verifyAgainstRoot().verifyResult) << "removed again";

    TSslContext count(nullptr);
    count.BuildSslCtx();
    EXPECT_GT(count.LoadWindowsRootStore(), 0) << "Wine fills ROOT from the host's certificates";
}

// The copy of the stores read on a thread of its own: the wait's message comes once, a
// cancelled wait gets none, and a context built meanwhile waits for that read rather than
// reading the stores a second time.
TEST_F(SslContextTest, WindowsRootStoreReadOnAThreadOfItsOwn) {
    const HWND wnd = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, wnd);
    const UINT msg = WM_APP + 5;
    int kept = 0, cancelled = 0;
    {
        HeldRootReader reader;
        EXPECT_FALSE(InetWindowsRootStoreReady(wnd, msg, 7, &kept));
        EXPECT_FALSE(InetWindowsRootStoreReady(wnd, msg, 8, &cancelled));
        InetCancelWindowsRootWait(&cancelled);
        // The context built on this thread waits for the read under way; the reader is let go
        // from elsewhere, as its own thread would finish.
        std::thread release([&] {
            Sleep(200);
            reader.Release();
        });
        TSslContext ctx(nullptr);
        ctx.BuildSslCtx();
        EXPECT_EQ(1, ctx.LoadWindowsRootStore()) << "the test CA, all the reader gives";
        release.join();
        EXPECT_EQ(1, reader.reads.load());
        EXPECT_NE(GetCurrentThreadId(), reader.thread.load());
        EXPECT_TRUE(InetWindowsRootStoreReady(wnd, msg, 9, &kept)) << "read already";
        MSG m;
        std::vector<WPARAM> posted;
        while (PeekMessageA(&m, wnd, msg, msg, PM_REMOVE)) posted.push_back(m.wParam);
        EXPECT_EQ(std::vector<WPARAM>{7}, posted);
    }
    DestroyWindow(wnd);
}

// Run by the next test in a process of its own: starts a read of the stores that takes a
// while and returns at once, so that the process ends while the read goes on.
TEST(WindowsRootStoreChild, DISABLED_EndsWhileTheStoresAreRead) {
    char mark[MAX_PATH] = {};
    ASSERT_NE(0u, GetEnvironmentVariableA("VA_ROOT_READ_MARK", mark, MAX_PATH));
    const std::string markFile = mark;
    InetSetWindowsRootReader([markFile] {
        Sleep(500);
        CloseHandle(CreateFileA(markFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        return std::vector<std::string>{};
    });
    const HWND wnd = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    int key = 0;
    EXPECT_FALSE(InetWindowsRootStoreReady(wnd, WM_APP, 0, &key));
}

// A process that ends while the stores are read lets the read finish first: killed inside
// the system's certificate code, the reading thread could leave its locks held and the
// process hanging in its own exit.
TEST(WindowsRootStore, AProcessEndingWhileTheStoresAreReadLetsTheReadFinish) {
    testsupport::TempDir dir;
    const std::string mark = dir.File("read-done");
    SetEnvironmentVariableA("VA_ROOT_READ_MARK", mark.c_str());
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string cmd = std::string("\"") + self +
                      "\" --gtest_also_run_disabled_tests --gtest_filter=WindowsRootStoreChild.DISABLED_EndsWhileTheStoresAreRead";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    SetEnvironmentVariableA("VA_ROOT_READ_MARK", nullptr);
    const DWORD waited = WaitForSingleObject(pi.hProcess, 30000);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    ASSERT_EQ(WAIT_OBJECT_0, waited);
    EXPECT_EQ(0u, code);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(mark.c_str())) << "the read was cut off by the end";
}

}  // namespace
