#include "net/InetDigestAuth.h"

#include <cstdio>

#include "net/InetUtils.h"

namespace {

// The text after K="..." up to the closing quote; false when the key is absent.
bool QuotedKey(const std::string& text, const std::string& key, std::string& value) {
    const std::string lead = key + "=\"";
    size_t p = text.find(lead);
    if (p == std::string::npos) return false;
    p += lead.size();
    size_t end = text.find('"', p);
    value = text.substr(p, end == std::string::npos ? std::string::npos : end - p);
    return true;
}

// The text after K= up to the next ","; false when the key is absent.
bool BareKey(const std::string& text, const std::string& key, std::string& value) {
    const std::string lead = key + "=";
    size_t p = text.find(lead);
    if (p == std::string::npos) return false;
    p += lead.size();
    size_t end = text.find(',', p);
    value = InetTrimBlanks(text.substr(p, end == std::string::npos ? std::string::npos : end - p));
    return true;
}

std::string Hex(TEvpDigest hash, const std::string& data) {
    return InetAsciiLower(InetBytesToHex(InetHashDigest(data, hash)));
}

// OpenSSL held loaded while a value is built, so that a client without TLS can answer too;
// a library that cannot be had is reported as the digest's failure.
class DigestLibrary {
public:
    DigestLibrary() {
        try {
            InetAcquireOpenSsl();
        } catch (const std::exception& e) {
            throw EDigestException(std::string("Digest authentication needs OpenSSL: ") + e.what());
        }
    }
    ~DigestLibrary() { InetReleaseOpenSsl(); }
    DigestLibrary(const DigestLibrary&) = delete;
    DigestLibrary& operator=(const DigestLibrary&) = delete;
};

std::string Quoted(const char* name, const std::string& value) { return std::string(name) + "=\"" + value + "\""; }

}  // namespace

void DigestParseChallenge(const std::string& Text, TDigestAuthInfo& Info) {
    Info.NonceCount = 0;
    Info.Realm.clear();
    Info.Domain.clear();
    Info.Nonce.clear();
    Info.Opaque.clear();
    QuotedKey(Text, "realm", Info.Realm);
    QuotedKey(Text, "domain", Info.Domain);
    QuotedKey(Text, "nonce", Info.Nonce);
    QuotedKey(Text, "opaque", Info.Opaque);
    // RFC 2617 writes stale as a bare token; quoted is read too.
    std::string stale;
    Info.Stale = (QuotedKey(Text, "stale", stale) || BareKey(Text, "stale", stale)) &&
                 InetTextCompare(stale, "true") == 0;
    std::string algorithm;
    if (!QuotedKey(Text, "algorithm", algorithm) && !BareKey(Text, "algorithm", algorithm)) algorithm = "MD5";
    Info.Algorithm = InetAsciiUpper(algorithm);
    Info.Qop.clear();
    if (!QuotedKey(Text, "qop", Info.Qop)) BareKey(Text, "qop", Info.Qop);
}

bool DigestAlgorithmSupported(const TDigestAuthInfo& Info) {
    return Info.Algorithm == "MD5" || Info.Algorithm == "SHA-256";
}

TEvpDigest DigestHashKind(const TDigestAuthInfo& Info) {
    return Info.Algorithm.find("-256", 1) != std::string::npos ? TEvpDigest::Digest_sha256 : TEvpDigest::Digest_md5;
}

std::string DigestChosenQop(const TDigestAuthInfo& Info) {
    bool auth = false, authInt = false;
    size_t start = 0;
    for (;;) {
        size_t comma = Info.Qop.find(',', start);
        std::string token =
            InetAsciiLower(InetTrimBlanks(Info.Qop.substr(start, comma == std::string::npos ? comma : comma - start)));
        auth |= token == "auth";
        authInt |= token == "auth-int";
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return auth ? "auth" : authInt ? "auth-int" : "";
}

std::string DigestEntityHash(const TDigestAuthInfo& Info, const std::string& Body) {
    DigestLibrary library;
    return Hex(DigestHashKind(Info), Body);
}

std::string DigestSessionKey(TEvpDigest Hash, const std::string& User, const std::string& Realm,
                             const std::string& Password) {
    return Hex(Hash, User + ":" + Realm + ":" + Password);
}

std::string DigestResponse(TEvpDigest Hash, const std::string& HA1, const std::string& Nonce, const std::string& Nc,
                           const std::string& CNonce, const std::string& Qop, const std::string& Method,
                           const std::string& Uri, const std::string& EntityHash) {
    std::string a2 = Method + ":" + Uri;
    if (Qop == "auth-int") a2 += ":" + EntityHash;
    const std::string ha2 = Hex(Hash, a2);
    std::string text = HA1 + ":" + Nonce;
    if (!Qop.empty()) text += ":" + Nc + ":" + CNonce + ":" + Qop;
    return Hex(Hash, text + ":" + ha2);
}

std::string DigestBuildAuthorizationWithNonce(const std::string& User, const std::string& Password,
                                              const std::string& Method, const std::string& Uri,
                                              TDigestAuthInfo& Info, const std::string& EntityHash,
                                              const std::string& CNonce) {
    const std::string qop = DigestChosenQop(Info);
    std::string nc;
    if (!qop.empty()) {
        char text[16];
        std::snprintf(text, sizeof text, "%08X", unsigned(Info.NonceCount));
        nc = text;
    }
    DigestLibrary library;
    const TEvpDigest hash = DigestHashKind(Info);
    const std::string ha1 = DigestSessionKey(hash, User, Info.Realm, Password);
    const std::string response = DigestResponse(hash, ha1, Info.Nonce, nc, CNonce, qop, Method, Uri, EntityHash);

    std::string value = Quoted("username", User) + "," + Quoted("realm", Info.Realm) + "," +
                        Quoted("nonce", Info.Nonce) + "," + Quoted("uri", Uri) + "," + Quoted("response", response);
    if (!Info.Opaque.empty()) value += "," + Quoted("opaque", Info.Opaque);
    value += "," + Quoted("algorithm", Info.Algorithm);
    if (!qop.empty()) value += ",qop=" + qop + ",nc=" + nc + "," + Quoted("cnonce", CNonce);
    return value;
}

std::string DigestBuildAuthorization(const std::string& User, const std::string& Password, const std::string& Method,
                                     const std::string& Uri, TDigestAuthInfo& Info, const std::string& EntityHash) {
    char cnonce[16];
    std::snprintf(cnonce, sizeof cnonce, "%08X", unsigned(InetRandom(2147483647u)));
    return DigestBuildAuthorizationWithNonce(User, Password, Method, Uri, Info, EntityHash, cnonce);
}
