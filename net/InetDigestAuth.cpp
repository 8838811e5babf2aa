#include "net/InetDigestAuth.h"

#include <cstdio>
#include <cstring>

#include "net/InetUtils.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsTokenChar(char c) {
    if (c <= ' ' || c >= 0x7F) return false;
    return std::strchr("()<>@,;:\\\"/[]?={}", c) == nullptr;
}

}  // namespace

std::map<std::string, std::string> HttpAuthParams(const std::string& Text) {
    std::map<std::string, std::string> params;
    const size_t n = Text.size();
    size_t i = 0;
    while (i < n) {
        while (i < n && (IsBlank(Text[i]) || Text[i] == ',')) ++i;
        const size_t nameStart = i;
        while (i < n && IsTokenChar(Text[i])) ++i;
        std::string name = InetAsciiLower(Text.substr(nameStart, i - nameStart));
        while (i < n && IsBlank(Text[i])) ++i;
        if (name.empty() || i >= n || Text[i] != '=') {
            // Not a parameter (a token68, or garbage): skip to the next comma.
            while (i < n && Text[i] != ',') ++i;
            continue;
        }
        ++i;
        while (i < n && IsBlank(Text[i])) ++i;
        std::string value;
        if (i < n && Text[i] == '"') {
            for (++i; i < n && Text[i] != '"'; ++i) {
                if (Text[i] == '\\' && i + 1 < n) ++i;
                value += Text[i];
            }
            if (i < n) ++i;
        } else {
            // A token; servers also send base64 nonces bare, '=' and '/' included.
            const size_t valueStart = i;
            while (i < n && Text[i] != ',') ++i;
            value = InetTrimBlanks(Text.substr(valueStart, i - valueStart));
        }
        // The first of a repeated parameter counts.
        params.emplace(std::move(name), std::move(value));
        while (i < n && Text[i] != ',') ++i;
    }
    return params;
}

namespace {

size_t SchemeEnd(const std::string& Challenge) {
    size_t e = 0;
    while (e < Challenge.size() && IsTokenChar(Challenge[e])) ++e;
    return e;
}

}  // namespace

std::string HttpAuthScheme(const std::string& Challenge) {
    return InetAsciiLower(Challenge.substr(0, SchemeEnd(Challenge)));
}

std::string HttpAuthAfterScheme(const std::string& Challenge) {
    return InetTrimBlanks(Challenge.substr(SchemeEnd(Challenge)));
}

namespace {

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

// name="value" with the value's backslashes and quotes escaped, so that the server reads
// back the very text it sent (and the hash was made of).
std::string Quoted(const char* name, const std::string& value) {
    std::string out = std::string(name) + "=\"";
    for (char c : value) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

void DigestParseChallenge(const std::string& Text, TDigestAuthInfo& Info) {
    const std::map<std::string, std::string> params = HttpAuthParams(Text);
    auto param = [&](const char* Name) {
        const auto it = params.find(Name);
        return it == params.end() ? std::string() : it->second;
    };
    Info.NonceCount = 0;
    Info.Realm = param("realm");
    Info.Domain = param("domain");
    Info.Nonce = param("nonce");
    Info.Opaque = param("opaque");
    Info.Stale = InetTextCompare(param("stale"), "true") == 0;
    Info.Algorithm = params.count("algorithm") ? InetAsciiUpper(param("algorithm")) : std::string("MD5");
    Info.Qop = param("qop");
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
