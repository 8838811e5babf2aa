// International domain names: RFC 3492's sample strings, the label rules, and python's
// punycode and idna codecs over the cases this test writes (net_idn_python).
#include <gtest/gtest.h>

#include <fstream>

#include "net/InetIdn.h"
#include "net/InetUtils.h"
#include "NetTestUtil.h"

namespace {

std::wstring W(const char* utf8) { return InetAnsiToWide(utf8, CP_UTF8); }
std::string U8(const std::wstring& w) { return InetWideToAnsi(w, CP_UTF8); }

TEST(Punycode, Rfc3492Samples) {
    struct {
        std::wstring label;
        const char* puny;
    } cases[] = {
        {L"\u4ed6\u4eec\u4e3a\u4ec0\u4e48\u4e0d\u8bf4\u4e2d\u6587", "ihqwcrb4cv8a8dqg056pqjye"},
        {L"\u4ed6\u5011\u7232\u4ec0\u9ebd\u4e0d\u8aaa\u4e2d\u6587", "ihqwctvzc91f659drss3x8bo0yb"},
        {L"3\u5e74B\u7d44\u91d1\u516b\u5148\u751f", "3B-ww4c5e180e575a65lsy2b"},
        {L"\u30d1\u30d5\u30a3\u30fcde\u30eb\u30f3\u30d0", "de-jg4avhby1noc0d"},
        {L"\u305d\u306e\u30b9\u30d4\u30fc\u30c9\u3067", "d9juau41awczczp"},
        {L"-> $1.00 <-", "-> $1.00 <--"},
        {L"b\u00fccher", "bcher-kva"},
        {L"\U0001F600", "e28h"},  // outside the BMP: one code point from a surrogate pair
    };
    for (const auto& c : cases) {
        bool error = true;
        EXPECT_EQ(InetPunycodeEncode(c.label, error), c.puny);
        EXPECT_FALSE(error);
        EXPECT_EQ(InetPunycodeDecode(c.puny, error), c.label) << c.puny;
        EXPECT_FALSE(error);
    }
}

TEST(Punycode, DecodeErrors) {
    for (const char* bad : {"bcher-KVA", "bcher-kv!", "zzzzzzzzzzzzzzzzzzzzzzzzzz", "b\xfc-kva", "99999999999a"}) {
        bool error = false;
        InetPunycodeDecode(bad, error);
        EXPECT_TRUE(error) << bad;
    }
}

TEST(HostNames, ToAscii) {
    bool error = true;
    // All ASCII comes back unchanged, also with the STD3 rules.
    EXPECT_EQ(InetHostToAsciiEx(W("www.Example-1.com"), true, error), "www.Example-1.com");
    EXPECT_FALSE(error);
    EXPECT_EQ(InetHostToAsciiEx(W("under_score.com"), true, error), "under_score.com");
    EXPECT_TRUE(error);
    EXPECT_EQ(InetHostToAsciiEx(W("under_score.com"), false, error), "under_score.com");
    EXPECT_FALSE(error);

    EXPECT_EQ(InetHostToAsciiEx(W("b\xc3\xbc" "cher.example"), false, error), "xn--bcher-kva.example");
    EXPECT_FALSE(error);
    // The other label separators give ".".
    EXPECT_EQ(InetHostToAscii(W("b\xc3\xbc" "cher\xe3\x80\x82" "example\xef\xbc\x8e" "com")), "xn--bcher-kva.example.com");
    // ANSI input: the code page's letters.
    EXPECT_EQ(InetHostToAsciiEx(std::string("b\xfc" "cher.de"), false, error), "xn--bcher-kva.de");

    struct {
        const char* host;
        bool std3;
        const char* partial;
    } failing[] = {
        {"b\xc3\xbc" "cher.", false, "xn--bcher-kva"},  // empty last label
        {"b\xc3\xbc" "cher..de", false, "xn--bcher-kva"},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.b\xc3\xbc" "cher", false, ""},
        {"ab-.b\xc3\xbc" "cher", true, ""},            // ends in "-" under STD3
        {"a-b-.b\xc3\xbc" "cher", true, ""},
        {"b\xc3\xbc" "cher.ab-", false, "xn--bcher-kva"},  // the last label is always strict
        {"xn--b\xc3\xbc" "cher.de", false, ""},         // non-ASCII behind the ACE prefix
    };
    for (const auto& f : failing) {
        error = false;
        EXPECT_EQ(InetHostToAsciiEx(W(f.host), f.std3, error), f.partial) << f.host;
        EXPECT_TRUE(error) << f.host;
    }
    // A 63-character label still passes.
    std::wstring l63(63, L'a');
    EXPECT_EQ(InetHostToAsciiEx(l63 + W(".b\xc3\xbc" "cher"), false, error), std::string(63, 'a') + ".xn--bcher-kva");
    EXPECT_FALSE(error);
    // On error the plain ANSI form.
    EXPECT_EQ(InetHostToAscii(W("b\xc3\xbc" "cher..de")), "b\xfc" "cher..de");
}

TEST(HostNames, ToUnicode) {
    EXPECT_EQ(InetHostToUnicode("www.example.com"), L"www.example.com");
    EXPECT_EQ(InetHostToUnicode("xn--bcher-kva.example"), L"b\u00fccher.example");
    EXPECT_EQ(InetHostToUnicode("xn--bcher-KVA.example"), L"xn--bcher-KVA.example");  // upper-case digits
    EXPECT_EQ(InetHostToUnicode("XN--bcher-kva.example"), L"XN--bcher-kva.example");
    // Decodes to plain ASCII, which does not encode back to the label.
    EXPECT_EQ(InetHostToUnicode("xn--abc-.com"), L"xn--abc-.com");
    EXPECT_EQ(InetHostToUnicode("xn--zzzzzzzzzzzzzzzzzzzzzzzzzzzzz"), L"xn--zzzzzzzzzzzzzzzzzzzzzzzzzzzzz");

    // Labels at the 63-character limit go both ways; one longer stays as it came.
    std::wstring label;
    std::string ace;
    for (size_t k = 40; k < 63 && ace.size() != 63; ++k) {
        label = std::wstring(k, L'a') + L"\u00fc";
        bool error = false;
        ace = "xn--" + InetPunycodeEncode(label, error);
    }
    ASSERT_EQ(ace.size(), 63u);
    EXPECT_EQ(InetHostToUnicode(ace + ".de"), label + L".de");
    bool error = true;
    EXPECT_EQ(InetHostToAsciiEx(label + L".de", false, error), ace + ".de");
    EXPECT_FALSE(error);
    const std::string longer = "xn--a" + ace.substr(4);
    EXPECT_EQ(InetHostToUnicode(longer), InetAnsiToWide(longer));
    InetHostToAsciiEx(L"a" + label, false, error);
    EXPECT_TRUE(error);
}

// Labels and hosts for python's codecs: "kind hex-utf8 ours".
TEST(HostNames, WritesCasesForThePythonCheck) {
    std::ofstream f(nettest::OutputFolder() + "idn.txt", std::ios::binary);
    ASSERT_TRUE(f);
    const char* labels[] = {"b\xc3\xbc" "cher", "m\xc3\xbcnchen", "\xd0\xbf\xd1\x80\xd0\xb8\xd0\xbc\xd0\xb5\xd1\x80",
                            "\xe4\xbe\x8b\xe3\x81\x88", "\xce\xb5\xce\xbb\xce\xbb\xce\xb7\xce\xbd\xce\xb9\xce\xba\xce\xac",
                            "\xe0\xa4\x89\xe0\xa4\xa6\xe0\xa4\xbe\xe0\xa4\xb9\xe0\xa4\xb0\xe0\xa4\xa3",
                            "caf\xc3\xa9-au-lait", "\xf0\x9f\x98\x80\xf0\x9f\x98\x81z", "a\xc3\xa4" "a\xc3\xa4" "a"};
    for (const char* l : labels) {
        bool error = false;
        std::string puny = InetPunycodeEncode(W(l), error);
        EXPECT_FALSE(error) << l;
        EXPECT_EQ(U8(InetPunycodeDecode(puny, error)), l);
        f << "punycode " << nettest::Hex(l) << ' ' << puny << '\n';
    }
    const char* hosts[] = {"b\xc3\xbc" "cher.example", "www.m\xc3\xbcnchen.de",
                           "\xd0\xbf\xd1\x80\xd0\xb8\xd0\xbc\xd0\xb5\xd1\x80.\xd1\x80\xd1\x84",
                           "\xe4\xbe\x8b\xe3\x81\x88.\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88"};
    for (const char* h : hosts) {
        bool error = false;
        std::string ascii = InetHostToAsciiEx(W(h), false, error);
        EXPECT_FALSE(error) << h;
        EXPECT_EQ(U8(InetHostToUnicode(ascii)), h);
        f << "idna " << nettest::Hex(h) << ' ' << ascii << '\n';
    }
}

}  // namespace
