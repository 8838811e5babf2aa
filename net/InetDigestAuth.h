// HTTP Digest authentication (RFC 2617, RFC 7616 with SHA-256): parsing a challenge and
// building the value of an "Authorization" or "Proxy-Authorization" header. The hashes come
// from OpenSSL's message-digest interface, held loaded while a value is built.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "net/InetLibeay.h"

// One server's or one proxy's Digest challenge.
struct TDigestAuthInfo {
    uint32_t NonceCount = 0;  // nc of the next header; the caller counts it
    std::string Realm;
    std::string Qop;        // as offered; may be a list ("auth,auth-int")
    std::string Algorithm;  // upper case; "MD5" when the challenge names none
    std::string Nonce;
    std::string Opaque;
    std::string Domain;
    bool Stale = false;
};

// The parameters of a challenge's text after its scheme name (name=token or
// name="quoted string", comma-separated): names in lower case, quoted values unescaped, the
// first of a repeated name kept. What is not a parameter is skipped.
std::map<std::string, std::string> HttpAuthParams(const std::string& Text);
// The scheme of a challenge, in lower case: its first token, up to a blank, a comma or its
// end ("Digest realm=..." gives "digest", "Digestive x" gives "digestive").
std::string HttpAuthScheme(const std::string& Challenge);
// The text after a challenge's scheme token, blanks around it removed.
std::string HttpAuthAfterScheme(const std::string& Challenge);

// Fills Info from the text after "Digest " of a challenge, by HttpAuthParams: realm, domain,
// nonce, opaque, stale, algorithm and qop, each quoted or as a token. NonceCount becomes 0.
void DigestParseChallenge(const std::string& Text, TDigestAuthInfo& Info);
// The algorithm is exactly "MD5" or "SHA-256"; other challenges are not answered.
bool DigestAlgorithmSupported(const TDigestAuthInfo& Info);
// SHA-256 when the algorithm holds "-256" after its first character, else MD5.
TEvpDigest DigestHashKind(const TDigestAuthInfo& Info);
// The quality of protection the client answers with: "auth" when offered, else
// "auth-int", else none (empty) — never the offered list as such.
std::string DigestChosenQop(const TDigestAuthInfo& Info);

// The header value (without the header name) for a request of Method on Uri: for an
// ordinary request the method and the path, for a proxy's "CONNECT" the method "CONNECT"
// and "host:port". EntityHash is the hex hash of the body, used with qop auth-int. The
// client nonce is random. Raises EDigestException when OpenSSL cannot hash.
std::string DigestBuildAuthorization(const std::string& User, const std::string& Password, const std::string& Method,
                                     const std::string& Uri, TDigestAuthInfo& Info, const std::string& EntityHash);
// The same with the client nonce given (used when qop applies).
std::string DigestBuildAuthorizationWithNonce(const std::string& User, const std::string& Password,
                                              const std::string& Method, const std::string& Uri,
                                              TDigestAuthInfo& Info, const std::string& EntityHash,
                                              const std::string& CNonce);

// The entity hash of a body (lower-case hex) for qop auth-int, with the challenge's hash.
// Raises EDigestException when OpenSSL cannot hash.
std::string DigestEntityHash(const TDigestAuthInfo& Info, const std::string& Body);

// The two steps: HA1 = H(user:realm:password) and the response, both lower-case hex.
std::string DigestSessionKey(TEvpDigest Hash, const std::string& User, const std::string& Realm,
                             const std::string& Password);
std::string DigestResponse(TEvpDigest Hash, const std::string& HA1, const std::string& Nonce, const std::string& Nc,
                           const std::string& CNonce, const std::string& Qop, const std::string& Method,
                           const std::string& Uri, const std::string& EntityHash);
