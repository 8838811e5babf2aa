// NTLM messages against the known answers of Microsoft's published NTLM protocol examples
// (user "User", domain "Domain", password "Password", server challenge 0123456789abcdef,
// time 0, client challenge aa..aa), and type-2 messages from a hostile server.
#include <gtest/gtest.h>

#include <cstring>

#include "net/InetNtlmMsgs.h"
#include "net/InetUtils.h"
#include "NetTestUtil.h"

using nettest::Hex;
using nettest::Unhex;

namespace {

// The fields of a type-3 message, read back from its bytes.
struct Type3 {
    uint32_t flags = 0;
    std::string lm, nt, domain, user, host;
    uint32_t sessionKeyLen = 0, sessionKeyOffset = 0, size = 0;
};

uint32_t Le(const std::string& m, size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | uint8_t(m[at + i]);
    return v;
}

std::string Field(const std::string& m, size_t at) {
    uint32_t len = Le(m, at, 2), max = Le(m, at + 2, 2), off = Le(m, at + 4, 4);
    EXPECT_EQ(len, max);
    EXPECT_LE(size_t(off) + len, m.size());
    return m.substr(off, len);
}

Type3 ReadType3(const std::string& base64) {
    Type3 t;
    std::string m;
    EXPECT_TRUE(InetBase64Decode(base64, m)) << base64;
    if (m.size() < 64) {
        ADD_FAILURE() << "type 3 too short: " << m.size();
        return t;
    }
    EXPECT_EQ(m.substr(0, 8), std::string("NTLMSSP\0", 8));
    EXPECT_EQ(Le(m, 8, 4), 3u);
    t.lm = Field(m, 12);
    t.nt = Field(m, 20);
    t.domain = Field(m, 28);
    t.user = Field(m, 36);
    t.host = Field(m, 44);
    t.sessionKeyLen = Le(m, 52, 2);
    t.sessionKeyOffset = Le(m, 56, 4);
    t.flags = Le(m, 60, 4);
    t.size = uint32_t(m.size());
    // Payload order: domain, user, host, LM, NT, directly after the 64-byte header.
    EXPECT_EQ(Le(m, 32, 4), 64u);
    EXPECT_EQ(Le(m, 40, 4), 64 + t.domain.size());
    EXPECT_EQ(Le(m, 48, 4), 64 + t.domain.size() + t.user.size());
    EXPECT_EQ(Le(m, 16, 4), 64 + t.domain.size() + t.user.size() + t.host.size());
    EXPECT_EQ(Le(m, 24, 4), 64 + t.domain.size() + t.user.size() + t.host.size() + t.lm.size());
    return t;
}

std::string Utf16(const std::string& ascii) {
    std::string r;
    for (char c : ascii) {
        r += c;
        r += '\0';
    }
    return r;
}

// The challenge messages of the published examples: NTLMv1 (flags e2028233, or 820a8233
// with extended session security) and NTLMv2 (e28a8233, target info naming the domain
// "Domain" and the server "Server").
std::string ChallengeV1(uint32_t flags) {
    std::string m = Unhex(
        "4e544c4d53535000020000000c000c0038000000"
        "00000000"
        "0123456789abcdef"
        "0000000000000000"
        "0000000000000000"
        "060070170000000f"
        "530065007200760065007200");
    for (int i = 0; i < 4; ++i) m[20 + i] = char(flags >> (8 * i));
    return m;
}

const char kTargetInfoV2[] =
    "02000c0044006f006d00610069006e00"
    "01000c00530065007200760065007200"
    "00000000";

std::string ChallengeV2() {
    return Unhex(
        "4e544c4d53535000020000000c000c0038000000"
        "33828ae2"
        "0123456789abcdef"
        "0000000000000000"
        "24002400"
        "44000000"
        "060070170000000f"
        "530065007200760065007200"
        + std::string(kTargetInfoV2));
}

// Fixes the time and the client nonce for a test, as the examples do.
class NtlmFixedClock : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = NtlmClock();
        NtlmClock().FileTimeNow = [] { return uint64_t(0); };
        NtlmClock().Random = [](uint32_t n) { return 0xAAAAu % n; };
    }
    void TearDown() override { NtlmClock() = saved_; }
    TNtlmClock saved_{};
};

}  // namespace

TEST(NtlmSplit, DomainBeforeTheFirstBackslash) {
    struct Case {
        const char* text;
        const char* domain;
        const char* user;
    } cases[] = {
        {"CORP\\alice", "CORP", "alice"},
        {"alice", "", "alice"},
        {"A\\B\\c", "A", "B\\c"},
        {"\\alice", "", "alice"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        std::string domain = "x", user = "y";
        NtlmSplitUserDomain(c.text, domain, user);
        EXPECT_EQ(domain, c.domain) << c.text;
        EXPECT_EQ(user, c.user) << c.text;
    }
}

TEST(NtlmNegotiate, BareHeaderWithoutNames) {
    EXPECT_EQ(Hex(InetBase64Decode(NtlmBuildNegotiateMessage("", "", 0))),
              "4e544c4d53535000" "01000000" "07820000" "0000000020000000" "0000000020000000");
    // Level 1 asks for extended session security; level 2 does not.
    EXPECT_EQ(Hex(InetBase64Decode(NtlmBuildNegotiateMessage("", "", 1))).substr(24, 8), "07820800");
    EXPECT_EQ(Hex(InetBase64Decode(NtlmBuildNegotiateMessage("", "", 2))).substr(24, 8), "07820000");
}

TEST(NtlmNegotiate, WorkstationThenDomainInUpperCase) {
    const std::string m = InetBase64Decode(NtlmBuildNegotiateMessage("pc-7", "corp", 0));
    ASSERT_EQ(m.size(), 40u);
    EXPECT_EQ(Le(m, 12, 4), 0x00008207u | 0x2000 | 0x1000);
    EXPECT_EQ(Field(m, 16), "CORP");
    EXPECT_EQ(Field(m, 24), "PC-7");
    EXPECT_EQ(Le(m, 28, 4), 32u);
    EXPECT_EQ(Le(m, 20, 4), 36u);
}

TEST(NtlmChallenge, PublishedExampleDecodes) {
    TNTLM_Msg2_Info info = NtlmParseChallengeMessage(InetBase64Encode(ChallengeV2()));
    ASSERT_TRUE(info.Valid);
    EXPECT_TRUE(info.Unicode);
    EXPECT_EQ(info.Flags, 0xe28a8233u);
    EXPECT_EQ(Hex(info.Challenge, 8), "0123456789abcdef");
    EXPECT_EQ(info.TargetName, L"Server");
    EXPECT_EQ(info.NetbiosDomain, L"Domain");
    EXPECT_EQ(info.NetbiosComputer, L"Server");
    EXPECT_EQ(Hex(info.TargetInfo), kTargetInfoV2);

    // Without target info (the NTLMv1 example) the block stays empty.
    info = NtlmParseChallengeMessage(InetBase64Encode(ChallengeV1(0xe2028233)));
    ASSERT_TRUE(info.Valid);
    EXPECT_EQ(info.TargetName, L"Server");
    EXPECT_TRUE(info.TargetInfo.empty());
    EXPECT_TRUE(info.NetbiosComputer.empty());
}

TEST(NtlmChallenge, OemNamesAreWidenedFromEightBits) {
    // No UNICODE flag: the target name and the pairs are 8-bit text, odd lengths allowed.
    std::string m = Unhex(
        "4e544c4d535350000200000003000300" "30000000" "02820000" "0123456789abcdef"
        "0000000000000000" "0d000d00" "33000000");
    m += "Srv";
    m += std::string("\x01\x00\x03\x00PC7\x02\x00\x02\x00" "DM", 13);
    TNTLM_Msg2_Info info = NtlmParseChallengeMessage(InetBase64Encode(m));
    ASSERT_TRUE(info.Valid);
    EXPECT_FALSE(info.Unicode);
    EXPECT_EQ(info.TargetName, L"Srv");
    EXPECT_EQ(info.NetbiosComputer, L"PC7");
    EXPECT_EQ(info.NetbiosDomain, L"DM");
}

// Messages a hostile or broken server might send. None may be read outside its bytes; the
// test runs each under the checks of the heap (a read past the end of the decoded message
// lands outside the string).
TEST(NtlmChallenge, HostileMessages) {
    const std::string good = ChallengeV2();  // 104 bytes: name at 56 (12), info at 68 (36)
    auto with = [&](size_t at, std::initializer_list<uint8_t> bytes) {
        std::string m = good;
        for (uint8_t b : bytes) m[at++] = char(b);
        return m;
    };
    struct Case {
        const char* what;
        std::string message;
        bool valid;
        bool targetInfoKept;
    } cases[] = {
        {"47 bytes", good.substr(0, 47), false, false},
        {"48-byte header alone", good.substr(0, 48).replace(12, 8, std::string(8, '\0')), true, false},
        {"not NTLMSSP", with(0, {'X'}), false, false},
        {"a type-1 message", with(8, {1}), false, false},
        {"name offset past the end", with(16, {0x68, 0, 0, 0}), false, false},
        {"name offset wrapping 32 bits", with(16, {0xF8, 0xFF, 0xFF, 0xFF}), false, false},
        {"name running past the end", with(12, {0x40, 0, 0x40, 0}), false, false},
        {"name length 0xFFFF", with(12, {0xFF, 0xFF, 0xFF, 0xFF}), false, false},
        {"odd name length in UTF-16", with(12, {11, 0, 11, 0}), false, false},
        {"info offset wrapping 32 bits", with(44, {0xFC, 0xFF, 0xFF, 0xFF}), true, false},
        {"info running past the end", with(40, {0x25, 0, 0x25, 0}), true, false},
        {"info length 0xFFFF", with(40, {0xFF, 0xFF, 0xFF, 0xFF}), true, false},
        {"pair value past the block", with(68 + 2, {0x40, 0}), true, true},
        {"odd pair length in UTF-16", with(68 + 2, {11, 0}), false, true},
    };
    for (const auto& c : cases) {
        TNTLM_Msg2_Info info = NtlmParseChallengeMessage(InetBase64Encode(c.message));
        EXPECT_EQ(info.Valid, c.valid) << c.what;
        EXPECT_EQ(!info.TargetInfo.empty(), c.targetInfoKept) << c.what;
        if (c.valid) {
            EXPECT_EQ(Hex(info.Challenge, 8), "0123456789abcdef") << c.what;
        }
    }
    // A pair whose value runs past its block ends the walk there, even though the message
    // itself still holds the bytes.
    TNTLM_Msg2_Info info = NtlmParseChallengeMessage(InetBase64Encode(with(40, {4, 0, 4, 0})));
    EXPECT_TRUE(info.Valid);
    EXPECT_EQ(info.TargetInfo.size(), 4u);
    EXPECT_TRUE(info.NetbiosDomain.empty());

    EXPECT_FALSE(NtlmParseChallengeMessage("").Valid);
    EXPECT_FALSE(NtlmParseChallengeMessage("not base64!").Valid);
}

TEST_F(NtlmFixedClock, LmAndNtResponsesLevel0) {
    TNTLM_Msg2_Info challenge = NtlmParseChallengeMessage(InetBase64Encode(ChallengeV1(0xe2028233)));
    ASSERT_TRUE(challenge.Valid);
    Type3 t = ReadType3(NtlmBuildAuthenticateMessage("Domain", "COMPUTER", "User", "Password", challenge, 1252, 0));
    EXPECT_EQ(Hex(t.lm), "98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13");
    EXPECT_EQ(Hex(t.nt), "67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
    EXPECT_EQ(t.domain, Utf16("Domain"));
    EXPECT_EQ(t.user, Utf16("User"));
    EXPECT_EQ(t.host, Utf16("COMPUTER"));
    EXPECT_EQ(t.flags, 0x00008205u);
    EXPECT_EQ(t.sessionKeyLen, 0u);
    EXPECT_EQ(t.sessionKeyOffset, t.size);

    // Level 1 without extended session security from the server: the same two responses;
    // level 2: the LM field repeats the NT response.
    t = ReadType3(NtlmBuildAuthenticateMessage("Domain", "COMPUTER", "User", "Password", challenge, 1252, 1));
    EXPECT_EQ(Hex(t.lm), "98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13");
    EXPECT_EQ(Hex(t.nt), "67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
    t = ReadType3(NtlmBuildAuthenticateMessage("Domain", "COMPUTER", "User", "Password", challenge, 1252, 2));
    EXPECT_EQ(Hex(t.lm), "67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
    EXPECT_EQ(t.nt, t.lm);
}

// The NT hash is the MD4 of the UTF-16LE password also when the server speaks OEM: the
// NT response equals the Unicode one; names travel as 8-bit text, the user in OEM.
TEST_F(NtlmFixedClock, OemChallengeStillHashesTheUnicodePassword) {
    TNTLM_Msg2_Info challenge = NtlmParseChallengeMessage(InetBase64Encode(ChallengeV1(0x00028232)));
    ASSERT_TRUE(challenge.Valid);
    ASSERT_FALSE(challenge.Unicode);
    Type3 t = ReadType3(NtlmBuildAuthenticateMessage("Domain", "COMPUTER", "User", "Password", challenge, 1252, 0));
    EXPECT_EQ(Hex(t.nt), "67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
    EXPECT_EQ(Hex(t.lm), "98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13");
    EXPECT_EQ(t.flags, 0x00008206u);
    EXPECT_EQ(t.domain, "Domain");
    EXPECT_EQ(t.host, "COMPUTER");

    // A non-ASCII user goes out in the OEM code page (u-umlaut is 0x81 in 437 and 850).
    const UINT oem = GetOEMCP();
    if (oem == 437 || oem == 850) {
        t = ReadType3(NtlmBuildAuthenticateMessage("", "", "J\xFCrgen", "pw", challenge, 1252, 0));
        EXPECT_EQ(t.user, "J\x81rgen");
    }
    // A non-ASCII password is hashed from its UTF-16 form, not from its OEM bytes, so both
    // character sets give the same NT response.
    TNTLM_Msg2_Info unicodeChallenge = challenge;
    unicodeChallenge.Flags |= 1;
    EXPECT_EQ(ReadType3(NtlmBuildAuthenticateMessage("", "", "u", "p\xE4ss", challenge, 1252, 0)).nt,
              ReadType3(NtlmBuildAuthenticateMessage("", "", "u", "p\xE4ss", unicodeChallenge, 1252, 0)).nt);
}

TEST_F(NtlmFixedClock, Ntlm2SessionResponse) {
    TNTLM_Msg2_Info challenge = NtlmParseChallengeMessage(InetBase64Encode(ChallengeV1(0x820a8233)));
    ASSERT_TRUE(challenge.Valid);
    for (uint32_t level : {1u, 2u}) {
        Type3 t = ReadType3(
            NtlmBuildAuthenticateMessage("Domain", "COMPUTER", "User", "Password", challenge, 1252, level));
        EXPECT_EQ(Hex(t.lm), "aaaaaaaaaaaaaaaa00000000000000000000000000000000") << level;
        EXPECT_EQ(Hex(t.nt), "7537f803ae367128ca458204bde7caf81e97ed2683267232") << level;
        EXPECT_EQ(t.flags, 0x00088205u) << level;
    }
    // Level 0 never uses it.
    Type3 t = ReadType3(NtlmBuildAuthenticateMessage("Domain", "COMPUTER", "User", "Password", challenge, 1252, 0));
    EXPECT_EQ(Hex(t.nt), "67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
}

TEST_F(NtlmFixedClock, NtlmV2AndLmV2) {
    TNTLM_Msg2_Info challenge = NtlmParseChallengeMessage(InetBase64Encode(ChallengeV2()));
    ASSERT_TRUE(challenge.Valid);
    const std::string blob = "0101000000000000" "0000000000000000" "aaaaaaaaaaaaaaaa" "00000000" +
                             std::string(kTargetInfoV2) + "00000000";
    // The key upper-cases the user name, so "User" and "user" answer alike; the domain is
    // taken as given.
    for (const char* user : {"User", "user", "USER"}) {
        Type3 t = ReadType3(NtlmBuildAuthenticateMessage("Domain", "COMPUTER", user, "Password", challenge, 1252, 3));
        EXPECT_EQ(Hex(t.lm), "86c35097ac9cec102554764a57cccc19aaaaaaaaaaaaaaaa") << user;
        EXPECT_EQ(Hex(t.nt), "68cd0ab851e51c96aabc927bebef6a1c" + blob) << user;
        EXPECT_EQ(t.flags, 0x00008205u);
    }
    Type3 t = ReadType3(NtlmBuildAuthenticateMessage("DOMAIN", "COMPUTER", "User", "Password", challenge, 1252, 3));
    EXPECT_NE(Hex(t.nt).substr(0, 32), "68cd0ab851e51c96aabc927bebef6a1c");
    // Upper case beyond ASCII: u-umlaut and U-umlaut give one key.
    EXPECT_EQ(ReadType3(NtlmBuildAuthenticateMessage("Domain", "", "j\xFCrgen", "pw", challenge, 1252, 3)).nt,
              ReadType3(NtlmBuildAuthenticateMessage("Domain", "", "J\xDCRGEN", "pw", challenge, 1252, 3)).nt);

    // The time stamp comes from the clock.
    NtlmClock().FileTimeNow = [] { return uint64_t(0x01D2030405060708); };
    t = ReadType3(NtlmBuildAuthenticateMessage("Domain", "COMPUTER", "User", "Password", challenge, 1252, 3));
    EXPECT_EQ(Hex(t.nt).substr(32 + 16, 16), "080706050403d201");
}

// A field longer than a 16-bit length can say is not sent with a wrapped length.
TEST_F(NtlmFixedClock, OversizedFieldsGiveNoMessage) {
    TNTLM_Msg2_Info challenge = NtlmParseChallengeMessage(InetBase64Encode(ChallengeV2()));
    // The NTLMv2 response is 48 bytes beside the target info: 65,487 bytes of it still fit.
    challenge.TargetInfo.assign(65487, '\0');
    EXPECT_NE(NtlmBuildAuthenticateMessage("D", "H", "U", "P", challenge, 1252, 3), "");
    challenge.TargetInfo.assign(65488, '\0');
    EXPECT_EQ(NtlmBuildAuthenticateMessage("D", "H", "U", "P", challenge, 1252, 3), "");
    challenge.TargetInfo.assign(0xFFF0, '\0');
    EXPECT_EQ(NtlmBuildAuthenticateMessage("D", "H", "U", "P", challenge, 1252, 3), "");
    EXPECT_NE(NtlmBuildAuthenticateMessage("D", "H", "U", "P", challenge, 1252, 0), "");
    EXPECT_EQ(NtlmBuildAuthenticateMessage("D", "H", std::string(0x8000, 'u'), "P", challenge, 1252, 0), "");
    EXPECT_EQ(NtlmBuildNegotiateMessage(std::string(0x10000, 'w'), "", 0), "");
}

TEST(NtlmSupport, ConversionsAndClock) {
    EXPECT_EQ(Hex(NtlmUnicodeBytes("A\xE9", 1252)), "4100e900");
    EXPECT_EQ(Hex(NtlmUnicodeBytes("\xE9", 1251)), "3904");  // Cyrillic short i (U+0439)
    // The clock is the system's: after 2020, before 2100.
    const uint64_t now = NtlmFileTimeNow();
    EXPECT_GT(now, 132223104000000000ull);
    EXPECT_LT(now, 157469184000000000ull);
}
