// Digest authentication against the worked examples of RFC 2617 (MD5) and RFC 7616 (MD5
// and SHA-256), and against values python's hashlib computed for the cases the RFCs do not
// show (no qop, auth-int, a proxy's CONNECT).
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "net/HttpChallenges.h"
#include "net/InetDigestAuth.h"
#include "support/TempDir.h"

namespace {

// The value's name="value" or name=value pairs, in order.
std::vector<std::pair<std::string, std::string>> Pairs(const std::string& value) {
    std::vector<std::pair<std::string, std::string>> r;
    size_t p = 0;
    while (p < value.size()) {
        size_t eq = value.find('=', p);
        std::string name = value.substr(p, eq - p), v;
        if (value[eq + 1] == '"') {
            size_t close = value.find('"', eq + 2);
            v = "\"" + value.substr(eq + 2, close - eq - 2) + "\"";
            p = close + 1;
        } else {
            size_t comma = value.find(',', eq);
            v = value.substr(eq + 1, comma == std::string::npos ? std::string::npos : comma - eq - 1);
            p = comma == std::string::npos ? value.size() : comma;
        }
        r.emplace_back(name, v);
        if (p < value.size()) {
            EXPECT_EQ(value[p], ',') << value;
            ++p;
        }
    }
    return r;
}

std::string Get(const std::string& value, const std::string& name) {
    for (const auto& [n, v] : Pairs(value))
        if (n == name) return v;
    return "<absent>";
}

const char kRfc2617Challenge[] =
    "realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
    "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"";

}  // namespace

TEST(DigestChallenge, ParsesKeysQuotedAndBare) {
    struct Case {
        const char* text;
        const char* algorithm;
        const char* qop;
        bool stale;
    } cases[] = {
        {kRfc2617Challenge, "MD5", "auth,auth-int", false},
        {"realm=\"r\", algorithm=md5, nonce=\"n\"", "MD5", "", false},
        {"realm=\"r\", nonce=\"n\", algorithm=md5", "MD5", "", false},
        {"realm=\"r\", algorithm=\"SHA-256\", qop=auth", "SHA-256", "auth", false},
        {"algorithm=sha-256 , qop=auth-int, stale=TRUE", "SHA-256", "auth-int", true},
        {"stale=\"true\", algorithm=MD5-sess", "MD5-SESS", "", true},
        {"stale=false", "MD5", "", false},
    };
    for (const auto& c : cases) {
        TDigestAuthInfo info;
        info.NonceCount = 7;
        info.Opaque = "old";
        DigestParseChallenge(c.text, info);
        EXPECT_EQ(info.Algorithm, c.algorithm) << c.text;
        EXPECT_EQ(info.Qop, c.qop) << c.text;
        EXPECT_EQ(info.Stale, c.stale) << c.text;
        EXPECT_EQ(info.NonceCount, 0u) << c.text;
    }
    TDigestAuthInfo info;
    DigestParseChallenge(std::string(kRfc2617Challenge) + ", domain=\"/a /b\"", info);
    EXPECT_EQ(info.Realm, "testrealm@host.com");
    EXPECT_EQ(info.Nonce, "dcd98b7102dd2f0e8b11d0f600bfb0c093");
    EXPECT_EQ(info.Opaque, "5ccc069c403ebaf9f0171e9517f40e41");
    EXPECT_EQ(info.Domain, "/a /b");
}

// Values as tokens or quoted strings, repeated parameters (the first counts), names in any
// case, quotes holding commas and escapes, and names that end in another name.
TEST(DigestChallenge, ParametersAsTheGrammarHasThem) {
    struct Case {
        const char* text;
        const char* realm;
        const char* nonce;
        const char* opaque;
        const char* algorithm;
    } cases[] = {
        {"realm=\"testrealm\", algorithm=MD5, algorithm=MD5, nonce=1, nonce=2", "testrealm", "1", "", "MD5"},
        {"nonce=\"q\", nonce=t, realm=a, realm=\"b\"", "a", "q", "", "MD5"},
        {"Realm=\"R\", NONCE=\"N\", Opaque=o, ALGORITHM=sha-256", "R", "N", "o", "SHA-256"},
        {"realm=\"a, b\", nonce=\"x\\\"y\", opaque=\"\"", "a, b", "x\"y", "", "MD5"},
        {"cnonce=\"c\", xrealm=\"no\", realm=r, nonce=n", "r", "n", "", "MD5"},
        {"realm = \"sp\" ,nonce= abc+/== , algorithm=md5", "sp", "abc+/==", "", "MD5"},
        {"garbage, realm=r, =x, nonce", "r", "", "", "MD5"},
    };
    for (const Case& c : cases) {
        TDigestAuthInfo info;
        DigestParseChallenge(c.text, info);
        EXPECT_EQ(info.Realm, c.realm) << c.text;
        EXPECT_EQ(info.Nonce, c.nonce) << c.text;
        EXPECT_EQ(info.Opaque, c.opaque) << c.text;
        EXPECT_EQ(info.Algorithm, c.algorithm) << c.text;
    }
}

TEST(DigestChallenge, SupportedAlgorithmsAndHashKind) {
    struct Case {
        const char* algorithm;
        bool supported;
        TEvpDigest hash;
    } cases[] = {
        {"MD5", true, TEvpDigest::Digest_md5},         {"SHA-256", true, TEvpDigest::Digest_sha256},
        {"MD5-SESS", false, TEvpDigest::Digest_md5},   {"SHA-256-SESS", false, TEvpDigest::Digest_sha256},
        {"SHA-512-256", false, TEvpDigest::Digest_sha256}, {"-256", false, TEvpDigest::Digest_md5},
        {"", false, TEvpDigest::Digest_md5},
    };
    for (const auto& c : cases) {
        TDigestAuthInfo info;
        info.Algorithm = c.algorithm;
        EXPECT_EQ(DigestAlgorithmSupported(info), c.supported) << c.algorithm;
        EXPECT_EQ(DigestHashKind(info), c.hash) << c.algorithm;
    }
}

// A list of qualities of protection is answered with one of them: auth when offered.
TEST(DigestChallenge, ChoosesOneQop) {
    struct Case {
        const char* offered;
        const char* chosen;
    } cases[] = {
        {"auth", "auth"}, {"auth,auth-int", "auth"}, {"auth-int, auth", "auth"}, {"auth-int", "auth-int"},
        {"Auth-Int", "auth-int"}, {"", ""}, {"token", ""}, {"authx, auth-intx", ""},
    };
    for (const auto& c : cases) {
        TDigestAuthInfo info;
        info.Qop = c.offered;
        EXPECT_EQ(DigestChosenQop(info), c.chosen) << c.offered;
    }
}

TEST(DigestAuthorization, Rfc2617Example) {
    TDigestAuthInfo info;
    DigestParseChallenge(kRfc2617Challenge, info);
    info.NonceCount = 1;
    const std::string value = DigestBuildAuthorizationWithNonce("Mufasa", "Circle Of Life", "GET", "/dir/index.html",
                                                                info, "", "0a4f113b");
    EXPECT_EQ(value,
              "username=\"Mufasa\",realm=\"testrealm@host.com\",nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\","
              "uri=\"/dir/index.html\",response=\"6629fae49393a05397450978507c4ef1\","
              "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\",algorithm=\"MD5\",qop=auth,nc=00000001,"
              "cnonce=\"0a4f113b\"");
    EXPECT_EQ(info.Qop, "auth,auth-int");  // the record keeps what was offered
}

TEST(DigestAuthorization, Rfc7616Examples) {
    const std::string challenge =
        "realm=\"http-auth@example.org\", qop=\"auth, auth-int\", algorithm=%s, "
        "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", "
        "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"";
    struct Case {
        const char* algorithm;
        const char* response;
    } cases[] = {
        {"SHA-256", "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1"},
        {"MD5", "8ca523f5e9506fed4657c9700eebdbec"},
    };
    for (const auto& c : cases) {
        TDigestAuthInfo info;
        std::string text = challenge;
        text.replace(text.find("%s"), 2, c.algorithm);
        DigestParseChallenge(text, info);
        ASSERT_TRUE(DigestAlgorithmSupported(info));
        info.NonceCount = 1;
        const std::string value = DigestBuildAuthorizationWithNonce(
            "Mufasa", "Circle of Life", "GET", "/dir/index.html", info, "",
            "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ");
        EXPECT_EQ(Get(value, "response"), std::string("\"") + c.response + "\"") << c.algorithm;
        EXPECT_EQ(Get(value, "algorithm"), std::string("\"") + c.algorithm + "\"");
        EXPECT_EQ(Get(value, "qop"), "auth");
        EXPECT_EQ(Get(value, "nc"), "00000001");
        EXPECT_EQ(Get(value, "opaque"), "\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"");
    }
}

// Values computed with python's hashlib.
TEST(DigestAuthorization, WithoutQopAuthIntAndConnect) {
    TDigestAuthInfo info;
    DigestParseChallenge("realm=\"testrealm@host.com\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\"", info);
    info.NonceCount = 1;
    std::string value = DigestBuildAuthorization("Mufasa", "Circle Of Life", "GET", "/dir/index.html", info, "");
    EXPECT_EQ(value,
              "username=\"Mufasa\",realm=\"testrealm@host.com\",nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\","
              "uri=\"/dir/index.html\",response=\"670fd8c2df070c60b045671b8b24ff02\",algorithm=\"MD5\"");

    // auth-int hashes the entity (here MD5 of an empty body) into A2.
    info.Qop = "auth-int";
    value = DigestBuildAuthorizationWithNonce("Mufasa", "Circle Of Life", "POST", "/dir/index.html", info,
                                              "d41d8cd98f00b204e9800998ecf8427e", "0a4f113b");
    EXPECT_EQ(Get(value, "response"), "\"4bb0e26e65bdae3e89570d68fd7a073b\"");
    EXPECT_EQ(Get(value, "qop"), "auth-int");

    // A proxy's CONNECT: method CONNECT, uri host:port, the nonce count as the caller keeps it.
    for (const auto& [algorithm, response] :
         {std::pair<const char*, const char*>{"MD5", "92af224a4e0e6206412ecd09a37054a1"},
          {"SHA-256", "41beea535ec2244fbfbbf96f9e6add92a2efb3d6316814a53c438eab633b46e5"}}) {
        DigestParseChallenge(std::string("realm=\"Squid proxy\", nonce=\"abc123\", qop=\"auth,auth-int\", algorithm=") +
                                 algorithm,
                             info);
        info.NonceCount = 2;
        value = DigestBuildAuthorizationWithNonce("proxyuser", "secret", "CONNECT", "example.org:443", info, "",
                                                  "1234ABCD");
        EXPECT_EQ(Get(value, "uri"), "\"example.org:443\"") << algorithm;
        EXPECT_EQ(Get(value, "response"), std::string("\"") + response + "\"") << algorithm;
        EXPECT_EQ(Get(value, "nc"), "00000002");
        EXPECT_EQ(Get(value, "opaque"), "<absent>");
    }
}

// Quoted values come back as the server sent them: its escapes unescaped when read, and
// backslashes and quotes escaped again when quoted in the answer.
TEST(DigestAuthorization, EscapedValuesGoBackEscaped) {
    TDigestAuthInfo info;
    DigestParseChallenge("realm=\"a\\\\b\", nonce=\"n\\\\2\", opaque=\"o\\\"p\", qop=auth", info);
    EXPECT_EQ(info.Realm, "a\\b");
    EXPECT_EQ(info.Nonce, "n\\2");
    EXPECT_EQ(info.Opaque, "o\"p");
    const std::string value = DigestBuildAuthorizationWithNonce("us\"er", "pw", "GET", "/x\"y", info, "", "0a4f113b");
    EXPECT_NE(value.find("nonce=\"n\\\\2\""), std::string::npos) << value;
    EXPECT_NE(value.find("opaque=\"o\\\"p\""), std::string::npos) << value;
    const std::map<std::string, std::string> back = HttpAuthParams(value);
    for (const auto& [name, want] : {std::pair<const char*, const char*>{"realm", "a\\b"}, {"nonce", "n\\2"},
                                     {"opaque", "o\"p"}, {"username", "us\"er"}, {"uri", "/x\"y"},
                                     {"qop", "auth"}, {"cnonce", "0a4f113b"}}) {
        ASSERT_TRUE(back.count(name)) << name << " in " << value;
        EXPECT_EQ(back.at(name), want) << name;
    }
}

// A challenge's scheme is its whole first token, whatever follows it.
TEST(DigestChallenge, SchemeIsTheWholeFirstToken) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"Digest realm=\"r\"", "digest", "realm=\"r\""},
        {"DIGEST\trealm=r", "digest", "realm=r"},
        {"Digestive realm=r", "digestive", "realm=r"},
        {"NTLM TlRMTVNTUAACAAAA==", "ntlm", "TlRMTVNTUAACAAAA=="},
        {"NTLM", "ntlm", ""},
        {"Basic, Digest realm=r", "basic", ", Digest realm=r"},
        {"", "", ""},
    };
    for (const auto& [challenge, scheme, rest] : cases) {
        EXPECT_EQ(HttpAuthScheme(challenge), scheme) << challenge;
        EXPECT_EQ(HttpAuthAfterScheme(challenge), rest) << challenge;
    }
}

TEST(DigestAuthorization, RandomClientNonceAndCountFormat) {
    TDigestAuthInfo info;
    DigestParseChallenge("realm=\"r\", nonce=\"n\", qop=\"auth\"", info);
    info.NonceCount = 0x1A2B;
    const std::string value = DigestBuildAuthorization("u", "p", "GET", "/", info, "");
    EXPECT_EQ(Get(value, "nc"), "00001A2B");
    const std::string cnonce = Get(value, "cnonce");
    ASSERT_EQ(cnonce.size(), 10u) << value;
    EXPECT_EQ(cnonce.find_first_not_of("0123456789ABCDEF", 1), 9u) << cnonce;
    EXPECT_EQ(cnonce.substr(1, 1).find_first_of("89ABCDEF"), std::string::npos) << "below 2^31: " << cnonce;
}

// Without OpenSSL there is no hash: the digest's own exception, never a wrong value.
TEST(DigestAuthorization, NoOpenSslRaisesDigestException) {
    ASSERT_EQ(OpenSslRefCount, 0);
    testsupport::TempDir empty;
    const std::string saved = OpenSslDllFolder;
    OpenSslDllFolder = empty.Path();
    TDigestAuthInfo info;
    DigestParseChallenge("realm=\"r\", nonce=\"n\"", info);
    EXPECT_THROW(DigestBuildAuthorization("u", "p", "GET", "/", info, ""), EDigestException);
    OpenSslDllFolder = saved;
    OpenSslVersionNumber = 0;
    EXPECT_EQ(OpenSslRefCount, 0);
    // With the library found again, the same call works.
    EXPECT_NE(DigestBuildAuthorization("u", "p", "GET", "/", info, ""), "");
}

// A field value is a list of challenges: a scheme, then a token68 or parameters, whose quoted
// values may hold commas; each challenge keeps its own text for the method's own reader.
TEST(HttpChallenges, EveryChallengeOfAFieldValue) {
    struct Case {
        const char* value;
        std::vector<std::tuple<std::string, std::string, std::string>> want;  // scheme, text, token68
    } cases[] = {
        {"Basic realm=\"b\", Digest realm=\"r1\", nonce=\"nc1\", qop=\"auth\"",
         {{"basic", "Basic realm=\"b\"", ""}, {"digest", "Digest realm=\"r1\", nonce=\"nc1\", qop=\"auth\"", ""}}},
        {"Newauth realm=\"apps\", type=1, title=\"Login, please\", Basic realm=\"simple\"",
         {{"newauth", "Newauth realm=\"apps\", type=1, title=\"Login, please\"", ""},
          {"basic", "Basic realm=\"simple\"", ""}}},
        {"NTLM TlRMTVNTUAACAAAA+/8=, Negotiate", {{"ntlm", "NTLM TlRMTVNTUAACAAAA+/8=", "TlRMTVNTUAACAAAA+/8="},
                                                 {"negotiate", "Negotiate", ""}}},
        {"NTLM abc==, Basic realm=x", {{"ntlm", "NTLM abc==", "abc=="}, {"basic", "Basic realm=x", ""}}},
        {" , NTLM ,, Basic  realm = \"a\\\"b\" ", {{"ntlm", "NTLM", ""}, {"basic", "Basic  realm = \"a\\\"b\"", ""}}},
        {"Digest nonce=abc/def==, algorithm=MD5",
         {{"digest", "Digest nonce=abc/def==, algorithm=MD5", ""}}},
        {"realm=\"stray\", Basic realm=\"r\"", {{"basic", "Basic realm=\"r\"", ""}}},
        {"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const std::vector<THttpChallenge> got = HttpParseChallenges(c.value);
        ASSERT_EQ(got.size(), c.want.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].Scheme, std::get<0>(c.want[i]));
            EXPECT_EQ(got[i].Text, std::get<1>(c.want[i]));
            EXPECT_EQ(got[i].Token68, std::get<2>(c.want[i]));
        }
    }
    const std::vector<THttpChallenge> got =
        HttpParseChallenges("Basic realm=\"a\\\"b\", Digest nonce=abc/def==, NONCE=\"2\", Qop=\"auth, auth-int\"");
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].Param("realm"), "a\"b");
    EXPECT_EQ(got[1].Param("nonce"), "abc/def==");
    EXPECT_EQ(got[1].Param("qop"), "auth, auth-int");
    EXPECT_EQ(got[1].Param("opaque", "none"), "none");
}
