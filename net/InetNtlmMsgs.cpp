#include "net/InetNtlmMsgs.h"

#include <cstring>

#include "net/InetCrypt.h"
#include "net/InetUtils.h"

namespace {

const char kSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', '\0'};
const uint8_t kLmMagic[8] = {'K', 'G', 'S', '!', '@', '#', '$', '%'};

uint64_t SystemFileTime() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
}

uint16_t Read16(const std::string& m, size_t at) {
    return uint16_t(uint8_t(m[at]) | uint8_t(m[at + 1]) << 8);
}
uint32_t Read32(const std::string& m, size_t at) {
    return uint32_t(Read16(m, at)) | uint32_t(Read16(m, at + 2)) << 16;
}
void Put16(std::string& m, size_t at, uint32_t v) {
    m[at] = char(v);
    m[at + 1] = char(v >> 8);
}
void Put32(std::string& m, size_t at, uint32_t v) {
    Put16(m, at, v);
    Put16(m, at + 2, v >> 16);
}
void Append64(std::string& m, uint64_t v) {
    for (int i = 0; i < 8; ++i) m += char(v >> (8 * i));
}
// A security-buffer field: length, maximum length, offset.
void PutField(std::string& m, size_t at, size_t len, size_t offset) {
    Put16(m, at, uint32_t(len));
    Put16(m, at + 2, uint32_t(len));
    Put32(m, at + 4, uint32_t(offset));
}

// The bytes at [Offset, Offset + Len) when they lie inside the message; in size_t, so no
// offset or length from the peer can wrap past the check.
bool Inside(const std::string& m, size_t offset, size_t len) {
    return offset <= m.size() && len <= m.size() - offset;
}

std::wstring WideOfBytes(const std::string& bytes, bool unicode) {
    if (!unicode) return InetAnsiToWide(bytes);
    std::wstring r(bytes.size() / 2, L'\0');
    for (size_t i = 0; i < r.size(); ++i) r[i] = wchar_t(Read16(bytes, 2 * i));
    return r;
}

std::string WideToBytes(const std::wstring& w) {
    std::string r;
    r.reserve(w.size() * 2);
    for (wchar_t c : w) {
        r += char(c & 0xFF);
        r += char((c >> 8) & 0xFF);
    }
    return r;
}

std::wstring WideUpper(std::wstring w) {
    if (!w.empty()) CharUpperBuffW(&w[0], DWORD(w.size()));
    return w;
}

// 7 key bytes spread over 8, seven bits each; the low bit of each byte is odd parity.
void SpreadKey(const uint8_t* k7, uint8_t (&k8)[8]) {
    k8[0] = k7[0];
    k8[1] = uint8_t(k7[0] << 7 | k7[1] >> 1);
    k8[2] = uint8_t(k7[1] << 6 | k7[2] >> 2);
    k8[3] = uint8_t(k7[2] << 5 | k7[3] >> 3);
    k8[4] = uint8_t(k7[3] << 4 | k7[4] >> 4);
    k8[5] = uint8_t(k7[4] << 3 | k7[5] >> 5);
    k8[6] = uint8_t(k7[5] << 2 | k7[6] >> 6);
    k8[7] = uint8_t(k7[6] << 1);
    for (uint8_t& b : k8) {
        b &= 0xFE;
        uint8_t ones = 0;
        for (int i = 1; i < 8; ++i) ones += (b >> i) & 1;
        if (!(ones & 1)) b |= 1;
    }
}

std::string DesWith7(const uint8_t* k7, const uint8_t (&block)[8]) {
    uint8_t key[8], out[8];
    SpreadKey(k7, key);
    DesEncryptBlock(block, out, key, true);
    return std::string(reinterpret_cast<const char*>(out), 8);
}

// The 16-byte hash plus 5 zero bytes as three DES keys, each encrypting the 8 bytes.
std::string DesResponse(const std::string& hash16, const uint8_t (&data)[8]) {
    uint8_t k[21] = {};
    std::memcpy(k, hash16.data(), 16);
    return DesWith7(k, data) + DesWith7(k + 7, data) + DesWith7(k + 14, data);
}

// MD4 of the password in UTF-16LE, whatever the character set of the message: the server
// keeps this hash of the Unicode password and no other.
std::string NtHash(const std::string& password, UINT codePage) {
    return Md4String(NtlmUnicodeBytes(password, codePage));
}

// The password in upper case, OEM, cut or padded to 14 bytes; each half keys DES over the
// constant.
std::string LmHash(const std::string& password, UINT codePage) {
    std::string oem = InetWideToAnsi(WideUpper(InetAnsiToWide(password, codePage)), CP_OEMCP);
    uint8_t p[14] = {};
    std::memcpy(p, oem.data(), oem.size() < 14 ? oem.size() : 14);
    return DesWith7(p, kLmMagic) + DesWith7(p + 7, kLmMagic);
}

std::string HmacMd5Text(const std::string& key, const std::string& data) {
    uint8_t d[16];
    HmacMd5(data.data(), data.size(), key.data(), key.size(), d);
    return std::string(reinterpret_cast<const char*>(d), 16);
}

// Eight bytes of four random 16-bit values.
std::string ClientNonce() {
    std::string r;
    for (int i = 0; i < 4; ++i) {
        uint32_t v = NtlmClock().Random(65536);
        r += char(v & 0xFF);
        r += char((v >> 8) & 0xFF);
    }
    return r;
}

}  // namespace

TNtlmClock& NtlmClock() {
    static TNtlmClock clock{SystemFileTime, InetRandom};
    return clock;
}

uint64_t NtlmFileTimeNow() { return NtlmClock().FileTimeNow(); }

std::string NtlmUnicodeBytes(const std::string& Text, UINT CodePage) {
    return WideToBytes(InetAnsiToWide(Text, CodePage));
}

std::string NtlmAnsiToOem(const std::string& Text, UINT CodePage) {
    return InetWideToAnsi(InetAnsiToWide(Text, CodePage), CP_OEMCP);
}

void NtlmSplitUserDomain(const std::string& Text, std::string& Domain, std::string& User) {
    size_t p = Text.find('\\');
    if (p == std::string::npos) {
        Domain.clear();
        User = Text;
    } else {
        Domain = Text.substr(0, p);
        User = Text.substr(p + 1);
    }
}

std::string NtlmBuildNegotiateMessage(const std::string& Workstation, const std::string& Domain, uint32_t Level) {
    const std::string ws = InetAsciiUpper(Workstation);
    const std::string dom = InetAsciiUpper(Domain);
    if (ws.size() > 0xFFFF || dom.size() > 0xFFFF) return {};
    uint32_t flags = NTLM_NEGOTIATE_UNICODE | NTLM_NEGOTIATE_OEM | NTLM_REQUEST_TARGET | NTLM_NEGOTIATE_NTLM |
                     NTLM_NEGOTIATE_ALWAYS_SIGN;
    if (Level == NtlmLevelSession) flags |= NTLM_NEGOTIATE_EXTENDED_SESSIONSECURITY;
    if (!ws.empty()) flags |= NTLM_NEGOTIATE_WORKSTATION_SUPPLIED;
    if (!dom.empty()) flags |= NTLM_NEGOTIATE_DOMAIN_SUPPLIED;

    std::string m(32, '\0');
    std::memcpy(&m[0], kSignature, 8);
    Put32(m, 8, 1);
    Put32(m, 12, flags);
    PutField(m, 16, dom.size(), 32 + ws.size());
    PutField(m, 24, ws.size(), 32);
    m += ws;
    m += dom;
    return InetBase64Encode(m);
}

TNTLM_Msg2_Info NtlmParseChallengeMessage(const std::string& Base64Text) {
    TNTLM_Msg2_Info info;
    if (Base64Text.empty()) return info;
    const std::string m = InetBase64Decode(Base64Text);
    if (m.size() < 48) return info;
    if (std::memcmp(m.data(), kSignature, 8) != 0 || Read32(m, 8) != 2) return info;

    info.Flags = Read32(m, 20);
    info.Unicode = (info.Flags & NTLM_NEGOTIATE_UNICODE) != 0;
    std::memcpy(info.Challenge, m.data() + 24, 8);

    const size_t nameLen = Read16(m, 12);
    const size_t nameOffset = Read32(m, 16);
    if ((info.Unicode && nameLen % 2) || !Inside(m, nameOffset, nameLen)) return info;
    if (nameLen) info.TargetName = WideOfBytes(m.substr(nameOffset, nameLen), info.Unicode);

    const size_t infoLen = Read16(m, 42);
    const size_t infoOffset = Read32(m, 44);
    if (infoLen && Inside(m, infoOffset, infoLen)) {
        info.TargetInfo = m.substr(infoOffset, infoLen);
        // The pairs are read inside the block only: a pair whose value runs past it ends the walk.
        const std::string& ti = info.TargetInfo;
        for (size_t at = 0; at + 4 <= ti.size();) {
            const uint16_t id = Read16(ti, at);
            const size_t len = Read16(ti, at + 2);
            if (id == 0 && len == 0) break;
            if (len > ti.size() - at - 4) break;
            if (info.Unicode && len % 2) return info;
            if (id == 1 || id == 2) {
                std::wstring value = WideOfBytes(ti.substr(at + 4, len), info.Unicode);
                (id == 1 ? info.NetbiosComputer : info.NetbiosDomain) = value;
            }
            at += 4 + len;
        }
    }
    info.Valid = true;
    return info;
}

std::string NtlmBuildAuthenticateMessage(const std::string& Domain, const std::string& Host, const std::string& User,
                                         const std::string& Password, const TNTLM_Msg2_Info& Challenge,
                                         UINT CodePage, uint32_t Level) {
    const bool unicode = (Challenge.Flags & NTLM_NEGOTIATE_UNICODE) != 0;
    std::string domain, host, user;
    if (unicode) {
        domain = NtlmUnicodeBytes(Domain, CodePage);
        host = NtlmUnicodeBytes(Host, CodePage);
        user = NtlmUnicodeBytes(User, CodePage);
    } else {
        domain = Domain;
        host = Host;
        user = NtlmAnsiToOem(User, CodePage);
    }
    uint32_t flags = (unicode ? NTLM_NEGOTIATE_UNICODE : NTLM_NEGOTIATE_OEM) | NTLM_REQUEST_TARGET |
                     NTLM_NEGOTIATE_NTLM | NTLM_NEGOTIATE_ALWAYS_SIGN;

    const uint8_t(&challenge)[8] = Challenge.Challenge;
    const std::string serverChallenge(reinterpret_cast<const char*>(challenge), 8);
    std::string lm, nt;
    if (Level >= NtlmLevelV2) {
        // The key: HMAC-MD5 keyed with the NT hash over the upper-case user and the domain as
        // given, both always in UTF-16LE.
        const std::wstring keyText = WideUpper(InetAnsiToWide(User, CodePage)) + InetAnsiToWide(Domain, CodePage);
        const std::string key = HmacMd5Text(NtHash(Password, CodePage), WideToBytes(keyText));
        const std::string nonce = ClientNonce();
        std::string blob;
        blob += char(1);
        blob += char(1);
        blob.append(6, '\0');
        Append64(blob, NtlmClock().FileTimeNow());
        blob += nonce;
        blob.append(4, '\0');
        blob += Challenge.TargetInfo;
        blob.append(4, '\0');
        nt = HmacMd5Text(key, serverChallenge + blob) + blob;
        lm = HmacMd5Text(key, serverChallenge + nonce) + nonce;
    } else if (Level >= NtlmLevelSession && (Challenge.Flags & NTLM_NEGOTIATE_EXTENDED_SESSIONSECURITY)) {
        flags |= NTLM_NEGOTIATE_EXTENDED_SESSIONSECURITY;
        const std::string nonce = ClientNonce();
        const std::string hash = Md5String(serverChallenge + nonce);
        uint8_t sessionHash[8];
        std::memcpy(sessionHash, hash.data(), 8);
        nt = DesResponse(NtHash(Password, CodePage), sessionHash);
        lm = nonce + std::string(16, '\0');
    } else {
        nt = DesResponse(NtHash(Password, CodePage), challenge);
        lm = Level == NtlmLevelSessionNtOnly ? nt : DesResponse(LmHash(Password, CodePage), challenge);
    }

    // Each field's length is a 16-bit word: a field that cannot be described is not sent
    // with a wrapped length.
    for (const std::string* f : {&domain, &user, &host, &lm, &nt})
        if (f->size() > 0xFFFF) return {};

    std::string m(64, '\0');
    std::memcpy(&m[0], kSignature, 8);
    Put32(m, 8, 3);
    size_t at = 64;
    PutField(m, 28, domain.size(), at);
    at += domain.size();
    PutField(m, 36, user.size(), at);
    at += user.size();
    PutField(m, 44, host.size(), at);
    at += host.size();
    PutField(m, 12, lm.size(), at);
    at += lm.size();
    PutField(m, 20, nt.size(), at);
    at += nt.size();
    PutField(m, 52, 0, at);
    Put32(m, 60, flags);
    m += domain;
    m += user;
    m += host;
    m += lm;
    m += nt;
    return InetBase64Encode(m);
}
