// The HTTP client's answers to 401 (server) and 407 (proxy) challenges with Basic, Digest or
// NTLM credentials: the presets at the start of a request, the parsing of the challenges
// when a response ends, the six state machines and the credential lines of the request.
// A retry goes through the start-connection message, so a kept connection is reused and a
// closed one reopened.
#include "net/HttpClient.h"

#include <winsock2.h>

#include <algorithm>
#include <cstdio>

#include "net/HttpChallenges.h"
#include "net/InetSspiNtlm.h"
#include "net/InetUtils.h"
#include "net/InetWinsock.h"

namespace {

// The path of a request path that may be an absolute URI (requests through a proxy).
std::string PathPart(const std::string& RequestPath) {
    if (!InetStartsText(RequestPath, "http://") && !InetStartsText(RequestPath, "https://")) return RequestPath;
    const size_t slash = RequestPath.find('/', RequestPath.find("//") + 2);
    return slash == std::string::npos ? std::string("/") : RequestPath.substr(slash);
}

bool IsDigestType(THttpAuthType T) { return T == httpAuthDigest || T == httpAuthDigest2; }

}  // namespace

bool THttpClient::KeepAliveByVersion() const {
    return requestVer_ == "1.0" || responseVersion_ == "1.0" || responseVersion_.empty();
}

void THttpClient::PresetAuthentication() {
    if (ProxyUsed() && !ProxyUsername.empty() && !ProxyPassword.empty()) {
        const bool kept = socket_->State() == wsConnected && connected_ && CanReuseConnection();
        switch (ProxyAuth) {
            case httpAuthBasic:
                // Through a tunnel that is already open nothing more goes to the proxy; plain
                // requests carry the credentials every time, as proxies ask for them per
                // request.
                AuthStateChange(proxyAuth_.Basic, kept && protocol_ == "https" ? basicAuthDone : basicAuthSend);
                break;
            case httpAuthNtlm:
                // NTLM authenticates the connection: a kept one is done.
                AuthStateChange(proxyAuth_.Ntlm, kept ? ntlmAuthDone : ntlmAuthNegotiate);
                if (KeepAliveByVersion()) curProxyConnection_ = "Keep-alive";
                break;
            case httpAuthDigest:
            case httpAuthDigest2: AuthStateChange(proxyAuth_.Digest, digestAuthDone); break;
            default: break;
        }
    }
    if (ServerAuth != httpAuthNone && !curUser_.empty() && !curPassword_.empty()) {
        switch (ServerAuth) {
            case httpAuthBasic: AuthStateChange(serverAuth_.Basic, basicAuthSend); break;
            case httpAuthNtlm:
                AuthStateChange(serverAuth_.Ntlm, ntlmAuthNegotiate);
                if (KeepAliveByVersion()) curConnection_ = "Keep-alive";
                break;
            case httpAuthDigest:
            case httpAuthDigest2: AuthStateChange(serverAuth_.Digest, digestAuthDone); break;
            default: break;
        }
    }
}

void THttpClient::ParseChallenges() {
    if (!authInfos_.empty()) return;
    authTypesPresent_ = 0;
    for (int i = 0; i < challenges_.Count(); ++i) {
        // A field value is a list of challenges: each counts, whatever stands before it.
        for (const THttpChallenge& c : HttpParseChallenges(challenges_[i])) {
            TWWWAuthInfo info;
            info.Header = c.Text;
            if (c.Scheme == "basic")
                info.AuthType = httpAuthBasic;
            else if (c.Scheme == "digest")
                info.AuthType = InetAsciiUpper(c.Param("algorithm")) == "SHA-256" ? httpAuthDigest2 : httpAuthDigest;
            else if (c.Scheme == "ntlm")
                info.AuthType = httpAuthNtlm;
            info.Realm = c.Param("realm", URL);
            info.Charset = c.Param("charset");
            info.Uri = c.Param("uri", URL);
            authInfos_.push_back(info);
            authTypesPresent_ |= uint16_t(1u << info.AuthType);
        }
    }
}

const TWWWAuthInfo* THttpClient::FindChallenge(THttpAuthType Type) const {
    for (const TWWWAuthInfo& info : authInfos_)
        if (info.AuthType == Type) return &info;
    return nullptr;
}

bool THttpClient::AskBeforeAuth(THttpAuthType Type, bool Proxy, const std::string& Header) {
    bool allow = true;
    // Freed or aborted from the handler: nothing is retried (HandleAuthentication sees it).
    return Fire(OnBeforeAuth, this, Type, Proxy, Header, allow) && allow;
}

bool THttpClient::HandleAuthentication() {
    authRetry_ = false;
    if (requestKind_ == httpABORT || requestKind_ == httpCLOSE) return false;
    ParseChallenges();
    const int32_t status = resp_.StatusCode;
    const bool challenged = status == 401 || status == 407;

    // What the last answer says about the steps under way.
    if (serverAuth_.Ntlm == ntlmAuthAuthenticate && !challenged)
        AuthStateChange(serverAuth_.Ntlm, ntlmAuthDone);
    else if (serverAuth_.Ntlm == ntlmAuthDone && status == 401)
        AuthStateChange(serverAuth_.Ntlm, ntlmAuthNone);
    if (proxyAuth_.Ntlm == ntlmAuthAuthenticate && status != 407)
        AuthStateChange(proxyAuth_.Ntlm, ntlmAuthDone);
    else if (proxyAuth_.Ntlm == ntlmAuthDone && status == 407)
        AuthStateChange(proxyAuth_.Ntlm, ntlmAuthNone);
    if (serverAuth_.Digest == digestAuthSend && !challenged)
        AuthStateChange(serverAuth_.Digest, digestAuthDone);
    else if (serverAuth_.Digest == digestAuthDone && status == 401)
        AuthStateChange(serverAuth_.Digest, digestAuthNone);
    if (proxyAuth_.Digest == digestAuthSend && status != 407)
        AuthStateChange(proxyAuth_.Digest, digestAuthDone);
    else if (proxyAuth_.Digest == digestAuthDone && status == 407)
        AuthStateChange(proxyAuth_.Digest, digestAuthNone);
    if (serverAuth_.Basic == basicAuthSend && !challenged)
        AuthStateChange(serverAuth_.Basic, basicAuthDone);
    else if (serverAuth_.Basic == basicAuthDone && status == 401)
        AuthStateChange(serverAuth_.Basic, basicAuthNone);
    if (proxyAuth_.Basic == basicAuthSend && status != 407)
        AuthStateChange(proxyAuth_.Basic, basicAuthDone);
    else if (proxyAuth_.Basic == basicAuthDone && status == 407)
        AuthStateChange(proxyAuth_.Basic, basicAuthNone);

    if (!challenged && resp_.RequestError == 0 && BodyWithheldForNtlm()) return ResendWithBody();

    // A failed exchange (aborted, broken answer) is never retried, nor a 407 from a server
    // reached directly: it is no proxy.
    if (!challenged || resp_.RequestError != 0) return false;
    if (status == 407 && !ProxyUsed()) return false;
    // A refusal from OnBeforeAuth leads to the next method; a handler that freed or aborted
    // the client ends the walk (and the client is not touched if it went).
    const TFireWatch watch(*this);
    const bool stepped = DoNtlmAuth() || (watch.Holds() && DoDigestAuth()) || (watch.Holds() && DoBasicAuth());
    if (!watch.Holds()) {
        // The abort reported the end: no retry starts afterwards.
        if (watch.Alive()) {
            startConnectionPosted_ = false;
            authRetry_ = false;
        }
        return true;
    }
    if (!stepped) return false;

    if (status == 401) {
        // The retry is a new request to the proxy: Basic and Digest go with every one, NTLM
        // again only on a new connection (a kept one stays authenticated).
        const bool newConnection = closeAfterResponse_ || !connected_ || socket_->State() != wsConnected;
        if (proxyAuth_.Ntlm == ntlmAuthDone) {
            if (newConnection) AuthStateChange(proxyAuth_.Ntlm, ntlmAuthNegotiate);
        } else if (proxyAuth_.Digest == digestAuthDone) {
            AuthStateChange(proxyAuth_.Digest, digestAuthSend);
        } else if (proxyAuth_.Basic == basicAuthDone) {
            AuthStateChange(proxyAuth_.Basic, basicAuthSend);
        }
    }
    if (authRetry_) {
        Rewind();
        rcvCount_ = 0;
        ResetResponse(true);
    }
    return true;
}

bool THttpClient::BodyWithheldForNtlm() const {
    const bool hasBody = requestKind_ == httpPOST || requestKind_ == httpPUT || requestKind_ == httpPATCH;
    return hasBody && (serverAuth_.Ntlm == ntlmAuthNegotiate || proxyAuth_.Ntlm == ntlmAuthNegotiate);
}

bool THttpClient::ResendWithBody() {
    // The answer was to the negotiate step, which went without the body: the request itself
    // has not been made. Nobody asked for NTLM, so it goes again without it, once; a peer
    // that answers that with a challenge and the next negotiate without one again ends the
    // request with an error rather than a success nobody received the body for.
    if (bodyResent_) {
        resp_.RequestError = httpErrAuthState;
        resp_.ReasonPhrase = "NTLM negotiate answered without a challenge, the body was not sent";
        return false;
    }
    bodyResent_ = true;
    if (serverAuth_.Ntlm == ntlmAuthNegotiate) AuthStateChange(serverAuth_.Ntlm, ntlmAuthNone);
    if (proxyAuth_.Ntlm == ntlmAuthNegotiate) AuthStateChange(proxyAuth_.Ntlm, ntlmAuthNone);
    RestartForAuth();
    Rewind();
    rcvCount_ = 0;
    ResetResponse(true);
    return true;
}

bool THttpClient::EnsureSspiSession() {
    if (sspiProxy_) return true;
    // The system's answer does not change while the client lives: asked once.
    if (!sspiFailure_.empty()) return false;
    try {
        sspiProxy_ = std::make_unique<TNtlmAuthSession>(2);
    } catch (const std::exception& e) {
        sspiFailure_ = e.what();
        if (sspiFailure_.empty()) sspiFailure_ = "NTLM session unavailable";
        return false;
    }
    return true;
}

bool THttpClient::DoNtlmAuth() {
    if (!(authTypesPresent_ & (1u << httpAuthNtlm))) return false;
    const int32_t status = resp_.StatusCode;
    if ((Options() & HttpOpt(httpoNoNTLMAuth)) &&
        ((status == 401 && ServerAuth == httpAuthNtlm) || (status == 407 && ProxyAuth == httpAuthNtlm)))
        return false;
    const TWWWAuthInfo* entry = FindChallenge(httpAuthNtlm);
    if (proxyAuth_.Basic != basicAuthNone || proxyAuth_.Digest != digestAuthNone) return false;
    if (status == 401) {
        // The logged-on user's credentials never go to a web server that merely asks for
        // them: without a user name the server's challenge stays unanswered.
        if (curUser_.empty() || curPassword_.empty()) return false;
        if (!AskBeforeAuth(httpAuthNtlm, false, entry->Header)) return false;
        StepNtlmAuth();
        return true;
    }
    // Another method asked for by the owner is not replaced by NTLM.
    if (ProxyAuth != httpAuthNone && ProxyAuth != httpAuthNtlm) return false;
    const bool credentials = !ProxyUsername.empty() && !ProxyPassword.empty();
    const bool loggedOnUser = ProxyUsername.empty() && ProxyPassword.empty();
    if (!credentials && !loggedOnUser) return false;
    if (!AskBeforeAuth(httpAuthNtlm, true, entry->Header)) return false;
    if (proxyAuth_.Ntlm == ntlmAuthNone) {
        // Only now, when the proxy asks for it, is the system's NTLM package looked for;
        // where it is missing the 407 is the answer.
        proxyUsesSspi_ = loggedOnUser;
        if (loggedOnUser && !EnsureSspiSession()) return false;
    }
    StepProxyNtlmAuth();
    return true;
}

bool THttpClient::DoDigestAuth() {
    const int32_t status = resp_.StatusCode;
    if ((Options() & HttpOpt(httpoNoDigestAuth)) &&
        ((status == 401 && IsDigestType(ServerAuth)) || (status == 407 && IsDigestType(ProxyAuth))))
        return false;
    if (authInfos_.empty()) return false;
    auto answer = [&](TAuthSide& Side, THttpAuthType Wanted, bool Proxy) {
        if (!IsDigestType(Wanted)) return false;
        // The first challenge of the chosen kind this client can answer; others are passed by.
        for (const TWWWAuthInfo& entry : authInfos_) {
            if (entry.AuthType != Wanted) continue;
            TDigestAuthInfo info;
            DigestParseChallenge(HttpAuthAfterScheme(entry.Header), info);
            if (!DigestAlgorithmSupported(info)) continue;
            // A stale nonce after an answer: the password was right, the server wants it again
            // with its new nonce; nobody is asked a second time.
            const bool stale = Side.Digest == digestAuthSend && info.Stale && !Side.StaleAnswered;
            if (!stale && !AskBeforeAuth(entry.AuthType, Proxy, entry.Header)) return false;
            Side.DigestInfo = info;
            if (Proxy)
                StepProxyDigestAuth();
            else
                StepDigestAuth();
            return true;
        }
        return false;
    };
    if (status == 401 && serverAuth_.Ntlm == ntlmAuthNone && serverAuth_.Basic == basicAuthNone && !curUser_.empty() && !curPassword_.empty())
        return answer(serverAuth_, ServerAuth, false);
    if (status == 407 && proxyAuth_.Ntlm == ntlmAuthNone && proxyAuth_.Basic == basicAuthNone && !ProxyUsername.empty() &&
        !ProxyPassword.empty())
        return answer(proxyAuth_, ProxyAuth, true);
    return false;
}

bool THttpClient::DoBasicAuth() {
    if (!(authTypesPresent_ & (1u << httpAuthBasic))) return false;
    const int32_t status = resp_.StatusCode;
    if ((Options() & HttpOpt(httpoNoBasicAuth)) &&
        ((status == 401 && ServerAuth == httpAuthBasic) || (status == 407 && ProxyAuth == httpAuthBasic)))
        return false;
    // Digest chosen: the password never goes in clear, whatever else is offered.
    if ((status == 401 && IsDigestType(ServerAuth)) || (status == 407 && IsDigestType(ProxyAuth))) return false;
    const TWWWAuthInfo* entry = FindChallenge(httpAuthBasic);
    if (status == 401 && serverAuth_.Ntlm == ntlmAuthNone && serverAuth_.Digest == digestAuthNone && !curUser_.empty() && !curPassword_.empty()) {
        if (!AskBeforeAuth(httpAuthBasic, false, entry->Header)) return false;
        StepBasicAuth();
        return true;
    }
    if (status == 407 && proxyAuth_.Ntlm == ntlmAuthNone && proxyAuth_.Digest == digestAuthNone && !ProxyUsername.empty() &&
        !ProxyPassword.empty()) {
        if (!AskBeforeAuth(httpAuthBasic, true, entry->Header)) return false;
        StepProxyBasicAuth();
        return true;
    }
    return false;
}

void THttpClient::RestartForAuth() {
    authRetry_ = true;
    if (startConnectionPosted_) return;
    startConnectionPosted_ = true;
    PostMessageA(GetHandle(), idStartConnection_, 0, 0);
}

void THttpClient::AuthStateChange(TNtlmAuthState& State, TNtlmAuthState NewState) { State = NewState; }
void THttpClient::AuthStateChange(TDigestAuthState& State, TDigestAuthState NewState) { State = NewState; }
void THttpClient::AuthStateChange(TBasicAuthState& State, TBasicAuthState NewState) { State = NewState; }
void THttpClient::ResetAuthStates(TAuthSide& Side) {
    Side.Ntlm = ntlmAuthNone;
    Side.Digest = digestAuthNone;
    Side.Basic = basicAuthNone;
}

// ---- The six state machines ----------------------------------------------------------------

void THttpClient::StepNtlmAuth() {
    switch (serverAuth_.Ntlm) {
        case ntlmAuthNone:
            AuthStateChange(serverAuth_.Ntlm, ntlmAuthNegotiate);
            AuthStateChange(serverAuth_.Basic, basicAuthNone);
            if (KeepAliveByVersion()) curConnection_ = "Keep-alive";
            RestartForAuth();
            break;
        case ntlmAuthNegotiate: {
            const TWWWAuthInfo* entry = FindChallenge(httpAuthNtlm);
            std::string token;
            if (entry) {
                // A challenge that does not fully decode (proxies' test helpers send target
                // names outside the message) is still answered from what it held; the
                // server's next 401 ends the exchange if that was not enough.
                serverAuth_.NtlmInfo = NtlmParseChallengeMessage(HttpAuthAfterScheme(entry->Header));
                std::string domain, user;
                NtlmSplitUserDomain(curUser_, domain, user);
                token = NtlmBuildAuthenticateMessage(domain, WinsockGetHostName(), user, curPassword_, serverAuth_.NtlmInfo, 0,
                                                     NtlmLevel);
            }
            if (token.empty()) {
                // Nothing that could be answered: the 401 is the answer.
                GiveUpAuth(serverAuth_.Ntlm);
                break;
            }
            serverAuth_.NtlmAuthenticate = token;
            AuthStateChange(serverAuth_.Ntlm, ntlmAuthAuthenticate);
            RestartForAuth();
            break;
        }
        case ntlmAuthAuthenticate: GiveUpAuth(serverAuth_.Ntlm); break;
        default: throw EHttpException("Unexpected AuthNTLMState", httpErrAuthState);
    }
}

void THttpClient::StepProxyNtlmAuth() {
    switch (proxyAuth_.Ntlm) {
        case ntlmAuthNone:
            if (proxyUsesSspi_) {
                sspiProxy_->Reset();
                proxySspiNegotiate_ = sspiProxy_->NextToken();
                if (proxySspiNegotiate_.empty()) {
                    char text[64];
                    snprintf(text, sizeof text, "NTLM negotiate token failed, status 0x%08lX",
                             static_cast<unsigned long>(sspiProxy_->LastStatus()));
                    sspiFailure_ = text;
                    GiveUpAuth(proxyAuth_.Ntlm);
                    break;
                }
            }
            AuthStateChange(proxyAuth_.Ntlm, ntlmAuthNegotiate);
            AuthStateChange(proxyAuth_.Basic, basicAuthNone);
            AuthStateChange(proxyAuth_.Digest, digestAuthNone);
            if (KeepAliveByVersion()) curProxyConnection_ = "Keep-alive";
            RestartForAuth();
            break;
        case ntlmAuthNegotiate: {
            const TWWWAuthInfo* entry = FindChallenge(httpAuthNtlm);
            std::string token;
            if (entry && proxyUsesSspi_ && sspiProxy_) {
                sspiProxy_->Challenge = InetBase64Decode(HttpAuthAfterScheme(entry->Header));
                token = sspiProxy_->NextToken();
            } else if (entry) {
                proxyAuth_.NtlmInfo = NtlmParseChallengeMessage(HttpAuthAfterScheme(entry->Header));
                std::string domain, user;
                NtlmSplitUserDomain(ProxyUsername, domain, user);
                token = NtlmBuildAuthenticateMessage(domain, WinsockGetHostName(), user, ProxyPassword, proxyAuth_.NtlmInfo,
                                                     0, NtlmLevel);
            }
            if (token.empty()) {
                GiveUpAuth(proxyAuth_.Ntlm);
                break;
            }
            proxyAuth_.NtlmAuthenticate = token;
            AuthStateChange(proxyAuth_.Ntlm, ntlmAuthAuthenticate);
            RestartForAuth();
            break;
        }
        case ntlmAuthAuthenticate: GiveUpAuth(proxyAuth_.Ntlm); break;
        default: throw EHttpException("Unexpected ProxyAuthNTLMState", httpErrAuthState);
    }
}

// Digest and Basic run the same steps on either side.
void THttpClient::StepDigestSide(TAuthSide& Side, const char* StateName) {
    switch (Side.Digest) {
        case digestAuthNone:
            AuthStateChange(Side.Digest, digestAuthSend);
            AuthStateChange(Side.Ntlm, ntlmAuthNone);
            AuthStateChange(Side.Basic, basicAuthNone);
            Side.StaleAnswered = false;
            RestartForAuth();
            break;
        case digestAuthSend:
            // Refused again: only a nonce gone stale is worth one more answer.
            if (Side.DigestInfo.Stale && !Side.StaleAnswered) {
                Side.StaleAnswered = true;
                RestartForAuth();
                break;
            }
            GiveUpAuth(Side.Digest);
            break;
        default: throw EHttpException(std::string("Unexpected ") + StateName, httpErrAuthState);
    }
}

void THttpClient::StepBasicSide(TAuthSide& Side, const char* StateName) {
    switch (Side.Basic) {
        case basicAuthNone:
            AuthStateChange(Side.Basic, basicAuthSend);
            AuthStateChange(Side.Ntlm, ntlmAuthNone);
            AuthStateChange(Side.Digest, digestAuthNone);
            RestartForAuth();
            break;
        case basicAuthSend: GiveUpAuth(Side.Basic); break;
        default: throw EHttpException(std::string("Unexpected ") + StateName, httpErrAuthState);
    }
}

void THttpClient::StepDigestAuth() { StepDigestSide(serverAuth_, "AuthDigestState"); }
void THttpClient::StepProxyDigestAuth() { StepDigestSide(proxyAuth_, "ProxyAuthDigestState"); }
void THttpClient::StepBasicAuth() { StepBasicSide(serverAuth_, "AuthBasicState"); }
void THttpClient::StepProxyBasicAuth() { StepBasicSide(proxyAuth_, "ProxyAuthBasicState"); }

// ---- Credential lines ----------------------------------------------------------------------

std::string THttpClient::BasicAuthValue(bool Proxy) const {
    return InetBase64Encode(Proxy ? ProxyUsername + ":" + ProxyPassword : curUser_ + ":" + curPassword_);
}

std::string THttpClient::DigestAuthValue(bool Proxy, const std::string& Method, const std::string& HostText) {
    TDigestAuthInfo& info = Proxy ? proxyAuth_.DigestInfo : serverAuth_.DigestInfo;
    if (info.Nonce.empty()) return {};
    if (Proxy)
        ++info.NonceCount;
    else
        info.NonceCount = 1;
    // A CONNECT names its target, not a path.
    const std::string uri = Method == "CONNECT" ? HostText + ":" + requestPort_ : PathPart(requestPath_);
    try {
        // auth-int (offered without auth) covers the body: the bytes the upload will send.
        std::string entityHash;
        if (DigestChosenQop(info) == "auth-int") {
            std::string body;
            const bool hasBody = requestKind_ == httpPOST || requestKind_ == httpPUT || requestKind_ == httpPATCH;
            if (Method != "CONNECT" && hasBody && UploadStream) {
                const int64_t at = UploadStream->Position();
                const int64_t left = UploadStream->Size() - at;
                if (left > 0) {
                    body.resize(size_t(left));
                    body.resize(size_t(std::max<int64_t>(0, UploadStream->Read(body.data(), left))));
                }
                UploadStream->SetPosition(at);
            }
            entityHash = DigestEntityHash(info, body);
        }
        return DigestBuildAuthorization(Proxy ? ProxyUsername : curUser_, Proxy ? ProxyPassword : curPassword_, Method,
                                        uri, info, entityHash);
    } catch (const std::exception&) {
        // Without the hashing library the challenge stays unanswered.
        return {};
    }
}

std::string THttpClient::NtlmNegotiateValue(bool Proxy) {
    if (Proxy && proxyUsesSspi_ && sspiProxy_) {
        std::string token;
        token.swap(proxySspiNegotiate_);
        if (token.empty()) {
            // A new connection asks for the exchange again.
            sspiProxy_->Reset();
            token = sspiProxy_->NextToken();
        }
        return token;
    }
    return NtlmBuildNegotiateMessage("", "", NtlmLevel);
}

void THttpClient::AddAuthLines(framework::TStringList& Lines, const std::string& Method, const std::string& HostText) {
    auto add = [&](const char* Name, const char* Scheme, const std::string& Value) {
        if (!Value.empty()) Lines.Add(std::string(Name) + Scheme + Value);
    };
    // The server's credentials are for the server: a CONNECT goes to the proxy in clear.
    if (Method != "CONNECT" && proxyAuth_.Ntlm != ntlmAuthNegotiate) {
        if (serverAuth_.Ntlm == ntlmAuthNegotiate)
            add("Authorization: ", "NTLM ", NtlmNegotiateValue(false));
        else if (serverAuth_.Ntlm == ntlmAuthAuthenticate)
            add("Authorization: ", "NTLM ", serverAuth_.NtlmAuthenticate);
        else if (serverAuth_.Digest == digestAuthSend)
            add("Authorization: ", "Digest ", DigestAuthValue(false, Method, HostText));
        else if (serverAuth_.Basic == basicAuthSend)
            add("Authorization: ", "Basic ", BasicAuthValue(false));
    }
    // Inside an open tunnel the proxy no longer listens.
    if (ProxyUsed() && (protocol_ != "https" || Method == "CONNECT")) {
        if (proxyAuth_.Ntlm == ntlmAuthNegotiate)
            add("Proxy-Authorization: ", "NTLM ", NtlmNegotiateValue(true));
        else if (proxyAuth_.Ntlm == ntlmAuthAuthenticate)
            add("Proxy-Authorization: ", "NTLM ", proxyAuth_.NtlmAuthenticate);
        else if (proxyAuth_.Digest == digestAuthSend)
            add("Proxy-Authorization: ", "Digest ", DigestAuthValue(true, Method, HostText));
        else if (proxyAuth_.Basic == basicAuthSend)
            add("Proxy-Authorization: ", "Basic ", BasicAuthValue(true));
    }
}
