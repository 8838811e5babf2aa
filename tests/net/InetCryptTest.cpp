// MD5, HMAC-MD5 and MD4 against their RFCs' vectors; DES against the FIPS known answer here,
// and against openssl through net_des_openssl (this test writes the cases it computed).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "net/InetCrypt.h"
#include "net/InetUtils.h"
#include "NetTestUtil.h"

using nettest::Hex;
using nettest::Unhex;

namespace {

std::string Md5Hex(const std::string& s) { return Hex(Md5String(s)); }

struct DigestCase {
    const char* text;
    const char* md5;
    const char* md4;
};

const DigestCase kDigestCases[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e", "31d6cfe0d16ae931b73c59d7e0c089c0"},
    {"a", "0cc175b9c0f1b6a831c399e269772661", "bde52cb31de33e46245e05fbdbd6fb24"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72", "a448017aaf21d8525fc10ae87aa6729d"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0", "d9130a8164549fe818874806e1c7014b"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b", "d79e1c308aa5bbcdeea8ed63df412da9"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f",
     "043f8582f241db351ce627e153e7f0e4"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a", "e33b4ddc9c38f2199c3e7b164fcc0536"},
};

TEST(Digests, RfcVectors) {
    for (const auto& c : kDigestCases) {
        EXPECT_EQ(Md5Hex(c.text), c.md5) << c.text;
        EXPECT_EQ(Hex(Md4String(c.text)), c.md4) << c.text;
    }
}

// Data fed in uneven pieces, across block boundaries and through the large-update path,
// gives the digest of the whole.
TEST(Digests, PiecewiseUpdatesMatchTheWhole) {
    std::string data(1000000, 'a');
    TMD5Context ctx;
    Md5Init(ctx);
    Md5UpdateLarge(ctx, data.data(), data.size());
    uint8_t d[16];
    Md5PrefillDigest(d);
    EXPECT_EQ(d[0], 1);
    EXPECT_EQ(d[15], 16);
    Md5Final(d, ctx);
    EXPECT_EQ(Hex(d, 16), "7707d6ae4e027c70eea2a935c2296f21");

    std::string text;
    for (int i = 0; i < 300; ++i) text += char(i * 7 + 3);
    for (size_t piece : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 127u}) {
        TMD5Context m;
        TMD4Context m4;
        Md5Init(m);
        Md4Init(m4);
        for (size_t i = 0; i < text.size(); i += piece) {
            size_t n = std::min(piece, text.size() - i);
            Md5Update(m, text.data() + i, n);
            Md4Update(m4, text.data() + i, n);
        }
        uint8_t a[16], b[16];
        Md5Final(a, m);
        Md4Final(b, m4);
        EXPECT_EQ(Hex(a, 16), Md5Hex(text)) << piece;
        EXPECT_EQ(Hex(b, 16), Hex(Md4String(text))) << piece;
    }
}

TEST(Digests, Md4RefusesAContextThatWasNotInitialised) {
    TMD4Context ctx;
    uint8_t d[16];
    try {
        Md4Update(ctx, "x", 1);
        FAIL() << "no exception";
    } catch (const MD4Exception& e) {
        EXPECT_STREQ(e.what(), "MD4 not initialized");
    }
    Md4Init(ctx);
    Md4Final(d, ctx);
    EXPECT_THROW(Md4Final(d, ctx), MD4Exception);  // final leaves it uninitialised
}

TEST(Digests, HmacMd5Rfc2202) {
    struct Case {
        std::string key, data;
        const char* digest;
    } cases[] = {
        {std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        {std::string(16, '\xaa'), std::string(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6"},
        {Unhex("0102030405060708090a0b0c0d0e0f10111213141516171819"), std::string(50, '\xcd'),
         "697eaf0aca3a3aea3a75164746ffaa79"},
        {std::string(16, '\x0c'), "Test With Truncation", "56461ef2342edc00f9bab995690efd4c"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "6f630fad67cda0ee1fb1f562db3aa53e"},
    };
    for (const auto& c : cases) {
        uint8_t d[16];
        HmacMd5(c.data.data(), c.data.size(), c.key.data(), c.key.size(), d);
        EXPECT_EQ(Hex(d, 16), c.digest) << c.data;
    }
}

void Des(const std::string& key, const std::string& block, bool encrypt, uint8_t (&out)[8]) {
    uint8_t k[8], b[8];
    std::memcpy(k, key.data(), 8);
    std::memcpy(b, block.data(), 8);
    DesEncryptBlock(b, out, k, encrypt);
}

TEST(Des, KnownAnswerAndRoundTrip) {
    uint8_t out[8], back[8];
    Des(Unhex("133457799bbcdff1"), Unhex("0123456789abcdef"), true, out);
    EXPECT_EQ(Hex(out, 8), "85e813540f0ab405");
    Des(Unhex("133457799bbcdff1"), std::string(reinterpret_cast<char*>(out), 8), false, back);
    EXPECT_EQ(Hex(back, 8), "0123456789abcdef");
    // The low bit of each key byte is parity: it does not change the result.
    Des(Unhex("123457799abcdef0"), Unhex("0123456789abcdef"), true, back);
    EXPECT_EQ(Hex(back, 8), "85e813540f0ab405");
}

// Keys and blocks for the openssl comparison: "key plain cipher" per line.
TEST(Des, WritesCasesForTheOpensslCheck) {
    std::ofstream f(nettest::OutputFolder() + "des.txt", std::ios::binary);
    ASSERT_TRUE(f);
    uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return uint8_t(seed >> 16);
    };
    for (int n = 0; n < 64; ++n) {
        std::string key(8, '\0'), plain(8, '\0');
        for (auto& c : key) c = char(next());
        for (auto& c : plain) c = char(next());
        if (n == 0) key.assign(8, '\0'), plain.assign(8, '\0');
        if (n == 1) key.assign(8, '\xff'), plain.assign(8, '\xff');
        uint8_t out[8], back[8];
        Des(key, plain, true, out);
        Des(key, std::string(reinterpret_cast<char*>(out), 8), false, back);
        EXPECT_EQ(Hex(back, 8), Hex(plain));
        f << Hex(key) << ' ' << Hex(plain) << ' ' << Hex(out, 8) << '\n';
    }
}

}  // namespace
