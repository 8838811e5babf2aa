// The HTTP client's answers to 401 (server) and 407 (proxy) challenges with Basic, Digest or
// NTLM credentials: the presets at the start of a request, the parsing of the challenges
// when a response ends, the six state machines and the credential lines of the request.
// A retry goes through the start-connection message, so a kept connection is reused and a
// closed one reopened.
#include "net/HttpClient.h"

#include <winsock2.h>

#include <algorithm>
#include <cstdio>

#include "net/InetSspiNtlm.h"
#include "net/InetUtils.h"
#include "net/InetWinsock.h"

namespace {

// The text between Key=" and the next double quote, when Key=" starts at From or later
// (found ignoring case).
bool QuotedKey(const std::string& Value, const std::string& Lower, const std::string& Key, size_t From,
               std::string& Out) {
    const std::string k = Key + "=\"";
    const size_t p = Lower.find(k, From);
    if (p == std::string::npos) return false;
    const size_t start = p + k.size();
    const size_t end = Value.find('"', start);
    Out = Value.substr(start, end == std::string::npos ? std::string::npos : end - start);
    return true;
}

// The path of a request path that may be an absolute URI (requests through a proxy).
std::string PathPart(const std::string& RequestPath) {
    if (!InetStartsText(RequestPath, "http://") && !InetStartsText(RequestPath, "https://")) return RequestPath;
    const size_t slash = RequestPath.find('/', RequestPath.find("//") + 2);
    return slash == std::string::npos ? std::string("/") : RequestPath.substr(slash);
}

// The token after the scheme name of a challenge ("NTLM <token>").
std::string AfterScheme(const std::string& Header, size_t SchemeLen) {
    return Header.size() > SchemeLen ? InetTrimBlanks(Header.substr(SchemeLen)) : std::string();
}

bool IsDigestType(THttpAuthType T) { return T == httpAuthDigest || T == httpAuthDigest2; }

}  // namespace

bool THttpClient::KeepAliveByVersion() const {
    return requestVer_ == "1.0" || ResponseVersion == "1.0" || ResponseVersion.empty();
}

void THttpClient::PresetAuthentication() {
    if (ProxyUsed() && !ProxyUsername.empty() && !ProxyPassword.empty()) {
        const bool kept = socket_->State() == wsConnected && connected_ && CanReuseConnection();
        switch (ProxyAuth) {
            case httpAuthBasic:
                // Through a tunnel that is already open nothing more goes to the proxy; plain
                // requests carry the credentials every time, as proxies ask for them per
                // request.
                AuthStateChange(proxyAuthBasicState_, kept && protocol_ == "https" ? basicAuthDone : basicAuthSend);
                break;
            case httpAuthNtlm:
                // NTLM authenticates the connection: a kept one is done.
                AuthStateChange(proxyAuthNtlmState_, kept ? ntlmAuthDone : ntlmAuthNegotiate);
                if (KeepAliveByVersion()) curProxyConnection_ = "Keep-alive";
                break;
            case httpAuthDigest:
            case httpAuthDigest2: AuthStateChange(proxyAuthDigestState_, digestAuthDone); break;
            default: break;
        }
    }
    if (ServerAuth != httpAuthNone && !curUser_.empty() && !curPassword_.empty()) {
        switch (ServerAuth) {
            case httpAuthBasic: AuthStateChange(authBasicState_, basicAuthSend); break;
            case httpAuthNtlm:
                AuthStateChange(authNtlmState_, ntlmAuthNegotiate);
                if (KeepAliveByVersion()) curConnection_ = "Keep-alive";
                break;
            case httpAuthDigest:
            case httpAuthDigest2: AuthStateChange(authDigestState_, digestAuthDone); break;
            default: break;
        }
    }
}

void THttpClient::ParseChallenges() {
    if (!authInfos_.empty()) return;
    authTypesPresent_ = 0;
    for (int i = 0; i < challenges_.Count(); ++i) {
        const std::string& value = challenges_[i];
        const std::string lower = InetAsciiLower(value);
        TWWWAuthInfo info;
        info.Header = value;
        if (lower.compare(0, 5, "basic") == 0)
            info.AuthType = httpAuthBasic;
        else if (lower.compare(0, 6, "digest") == 0)
            info.AuthType = lower.find("-256", 1) != std::string::npos ? httpAuthDigest2 : httpAuthDigest;
        else if (lower.compare(0, 4, "ntlm") == 0)
            info.AuthType = httpAuthNtlm;
        if (!QuotedKey(value, lower, "realm", 1, info.Realm)) info.Realm = URL;
        QuotedKey(value, lower, "charset", 0, info.Charset);
        if (!QuotedKey(value, lower, "uri", 1, info.Uri)) info.Uri = URL;
        authInfos_.push_back(info);
        authTypesPresent_ |= uint16_t(1u << info.AuthType);
    }
}

const TWWWAuthInfo* THttpClient::FindChallenge(THttpAuthType Type) const {
    for (const TWWWAuthInfo& info : authInfos_)
        if (info.AuthType == Type) return &info;
    return nullptr;
}

bool THttpClient::AskBeforeAuth(THttpAuthType Type, bool Proxy, const std::string& Header) {
    bool allow = true;
    if (OnBeforeAuth) {
        auto h = OnBeforeAuth;
        h(this, Type, Proxy, Header, allow);
    }
    return allow;
}

bool THttpClient::HandleAuthentication() {
    authRetry_ = false;
    if (RequestKind == httpABORT || RequestKind == httpCLOSE) return false;
    ParseChallenges();
    const int32_t status = StatusCode;
    const bool challenged = status == 401 || status == 407;

    // What the last answer says about the steps under way.
    if (authNtlmState_ == ntlmAuthAuthenticate && !challenged)
        AuthStateChange(authNtlmState_, ntlmAuthDone);
    else if (authNtlmState_ == ntlmAuthDone && status == 401)
        AuthStateChange(authNtlmState_, ntlmAuthNone);
    if (proxyAuthNtlmState_ == ntlmAuthAuthenticate && status != 407)
        AuthStateChange(proxyAuthNtlmState_, ntlmAuthDone);
    else if (proxyAuthNtlmState_ == ntlmAuthDone && status == 407)
        AuthStateChange(proxyAuthNtlmState_, ntlmAuthNone);
    if (authDigestState_ == digestAuthSend && !challenged)
        AuthStateChange(authDigestState_, digestAuthDone);
    else if (authDigestState_ == digestAuthDone && status == 401)
        AuthStateChange(authDigestState_, digestAuthNone);
    if (proxyAuthDigestState_ == digestAuthSend && status != 407)
        AuthStateChange(proxyAuthDigestState_, digestAuthDone);
    else if (proxyAuthDigestState_ == digestAuthDone && status == 407)
        AuthStateChange(proxyAuthDigestState_, digestAuthNone);
    if (authBasicState_ == basicAuthSend && !challenged)
        AuthStateChange(authBasicState_, basicAuthDone);
    else if (authBasicState_ == basicAuthDone && status == 401)
        AuthStateChange(authBasicState_, basicAuthNone);
    if (proxyAuthBasicState_ == basicAuthSend && status != 407)
        AuthStateChange(proxyAuthBasicState_, basicAuthDone);
    else if (proxyAuthBasicState_ == basicAuthDone && status == 407)
        AuthStateChange(proxyAuthBasicState_, basicAuthNone);

    // A failed exchange (aborted, broken answer) is never retried, nor a 407 from a server
    // reached directly: it is no proxy.
    if (!challenged || RequestError != 0) return false;
    if (status == 407 && !ProxyUsed()) return false;
    if (!DoNtlmAuth() && !DoDigestAuth() && !DoBasicAuth()) return false;

    if (status == 401) {
        // The retry is a new request to the proxy: Basic and Digest go with every one, NTLM
        // again only on a new connection (a kept one stays authenticated).
        const bool newConnection = closeAfterResponse_ || !connected_ || socket_->State() != wsConnected;
        if (proxyAuthNtlmState_ == ntlmAuthDone) {
            if (newConnection) AuthStateChange(proxyAuthNtlmState_, ntlmAuthNegotiate);
        } else if (proxyAuthDigestState_ == digestAuthDone) {
            AuthStateChange(proxyAuthDigestState_, digestAuthSend);
        } else if (proxyAuthBasicState_ == basicAuthDone) {
            AuthStateChange(proxyAuthBasicState_, basicAuthSend);
        }
    }
    if (authRetry_) {
        Rewind();
        rcvCount_ = 0;
        ResetResponse(true);
    }
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
    const int32_t status = StatusCode;
    if ((Options() & HttpOpt(httpoNoNTLMAuth)) &&
        ((status == 401 && ServerAuth == httpAuthNtlm) || (status == 407 && ProxyAuth == httpAuthNtlm)))
        return false;
    const TWWWAuthInfo* entry = FindChallenge(httpAuthNtlm);
    if (proxyAuthBasicState_ != basicAuthNone || proxyAuthDigestState_ != digestAuthNone) return false;
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
    if (proxyAuthNtlmState_ == ntlmAuthNone) {
        // Only now, when the proxy asks for it, is the system's NTLM package looked for;
        // where it is missing the 407 is the answer.
        proxyUsesSspi_ = loggedOnUser;
        if (loggedOnUser && !EnsureSspiSession()) return false;
    }
    StepProxyNtlmAuth();
    return true;
}

bool THttpClient::DoDigestAuth() {
    const int32_t status = StatusCode;
    if ((Options() & HttpOpt(httpoNoDigestAuth)) &&
        ((status == 401 && IsDigestType(ServerAuth)) || (status == 407 && IsDigestType(ProxyAuth))))
        return false;
    if (authInfos_.empty()) return false;
    if (status == 401 && authNtlmState_ == ntlmAuthNone && authBasicState_ == basicAuthNone && !curUser_.empty() && !curPassword_.empty()) {
        const TWWWAuthInfo* entry = IsDigestType(ServerAuth) ? FindChallenge(ServerAuth) : nullptr;
        if (!entry || !AskBeforeAuth(entry->AuthType, false, entry->Header)) return false;
        DigestParseChallenge(entry->Header.size() > 7 ? entry->Header.substr(7) : std::string(), digestInfo_);
        if (!DigestAlgorithmSupported(digestInfo_)) return false;
        StepDigestAuth();
        return true;
    }
    if (status == 407 && proxyAuthNtlmState_ == ntlmAuthNone && proxyAuthBasicState_ == basicAuthNone && !ProxyUsername.empty() &&
        !ProxyPassword.empty()) {
        const TWWWAuthInfo* entry = IsDigestType(ProxyAuth) ? FindChallenge(ProxyAuth) : nullptr;
        if (!entry || !AskBeforeAuth(entry->AuthType, true, entry->Header)) return false;
        DigestParseChallenge(entry->Header.size() > 7 ? entry->Header.substr(7) : std::string(), proxyDigestInfo_);
        if (!DigestAlgorithmSupported(proxyDigestInfo_)) return false;
        StepProxyDigestAuth();
        return true;
    }
    return false;
}

bool THttpClient::DoBasicAuth() {
    if (!(authTypesPresent_ & (1u << httpAuthBasic))) return false;
    const int32_t status = StatusCode;
    if ((Options() & HttpOpt(httpoNoBasicAuth)) &&
        ((status == 401 && ServerAuth == httpAuthBasic) || (status == 407 && ProxyAuth == httpAuthBasic)))
        return false;
    const TWWWAuthInfo* entry = FindChallenge(httpAuthBasic);
    if (status == 401 && authNtlmState_ == ntlmAuthNone && authDigestState_ == digestAuthNone && !curUser_.empty() && !curPassword_.empty()) {
        if (!AskBeforeAuth(httpAuthBasic, false, entry->Header)) return false;
        StepBasicAuth();
        return true;
    }
    if (status == 407 && proxyAuthNtlmState_ == ntlmAuthNone && proxyAuthDigestState_ == digestAuthNone && !ProxyUsername.empty() &&
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

// ---- The six state machines ----------------------------------------------------------------

void THttpClient::StepNtlmAuth() {
    switch (authNtlmState_) {
        case ntlmAuthNone:
            AuthStateChange(authNtlmState_, ntlmAuthNegotiate);
            AuthStateChange(authBasicState_, basicAuthNone);
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
                ntlmInfo_ = NtlmParseChallengeMessage(AfterScheme(entry->Header, 4));
                std::string domain, user;
                NtlmSplitUserDomain(curUser_, domain, user);
                token = NtlmBuildAuthenticateMessage(domain, WinsockGetHostName(), user, curPassword_, ntlmInfo_, 0,
                                                     NtlmLevel);
            }
            if (token.empty()) {
                // Nothing that could be answered: the 401 is the answer.
                GiveUpAuth(authNtlmState_);
                break;
            }
            ntlmAuthenticate_ = token;
            AuthStateChange(authNtlmState_, ntlmAuthAuthenticate);
            RestartForAuth();
            break;
        }
        case ntlmAuthAuthenticate: GiveUpAuth(authNtlmState_); break;
        default: throw EHttpException("Unexpected AuthNTLMState", httpErrAuthState);
    }
}

void THttpClient::StepProxyNtlmAuth() {
    switch (proxyAuthNtlmState_) {
        case ntlmAuthNone:
            if (proxyUsesSspi_) {
                sspiProxy_->Reset();
                proxySspiNegotiate_ = sspiProxy_->NextToken();
                if (proxySspiNegotiate_.empty()) {
                    char text[64];
                    snprintf(text, sizeof text, "NTLM negotiate token failed, status 0x%08lX",
                             static_cast<unsigned long>(sspiProxy_->LastStatus()));
                    sspiFailure_ = text;
                    GiveUpAuth(proxyAuthNtlmState_);
                    break;
                }
            }
            AuthStateChange(proxyAuthNtlmState_, ntlmAuthNegotiate);
            AuthStateChange(proxyAuthBasicState_, basicAuthNone);
            AuthStateChange(proxyAuthDigestState_, digestAuthNone);
            if (KeepAliveByVersion()) curProxyConnection_ = "Keep-alive";
            RestartForAuth();
            break;
        case ntlmAuthNegotiate: {
            const TWWWAuthInfo* entry = FindChallenge(httpAuthNtlm);
            std::string token;
            if (entry && proxyUsesSspi_ && sspiProxy_) {
                sspiProxy_->Challenge = InetBase64Decode(AfterScheme(entry->Header, 4));
                token = sspiProxy_->NextToken();
            } else if (entry) {
                proxyNtlmInfo_ = NtlmParseChallengeMessage(AfterScheme(entry->Header, 4));
                std::string domain, user;
                NtlmSplitUserDomain(ProxyUsername, domain, user);
                token = NtlmBuildAuthenticateMessage(domain, WinsockGetHostName(), user, ProxyPassword, proxyNtlmInfo_,
                                                     0, NtlmLevel);
            }
            if (token.empty()) {
                GiveUpAuth(proxyAuthNtlmState_);
                break;
            }
            proxyNtlmAuthenticate_ = token;
            AuthStateChange(proxyAuthNtlmState_, ntlmAuthAuthenticate);
            RestartForAuth();
            break;
        }
        case ntlmAuthAuthenticate: GiveUpAuth(proxyAuthNtlmState_); break;
        default: throw EHttpException("Unexpected ProxyAuthNTLMState", httpErrAuthState);
    }
}

void THttpClient::StepDigestAuth() {
    switch (authDigestState_) {
        case digestAuthNone:
            AuthStateChange(authDigestState_, digestAuthSend);
            AuthStateChange(authNtlmState_, ntlmAuthNone);
            AuthStateChange(authBasicState_, basicAuthNone);
            RestartForAuth();
            break;
        case digestAuthSend: GiveUpAuth(authDigestState_); break;
        default: throw EHttpException("Unexpected AuthDigestState", httpErrAuthState);
    }
}

void THttpClient::StepProxyDigestAuth() {
    switch (proxyAuthDigestState_) {
        case digestAuthNone:
            AuthStateChange(proxyAuthDigestState_, digestAuthSend);
            AuthStateChange(proxyAuthNtlmState_, ntlmAuthNone);
            AuthStateChange(proxyAuthBasicState_, basicAuthNone);
            RestartForAuth();
            break;
        case digestAuthSend: GiveUpAuth(proxyAuthDigestState_); break;
        default: throw EHttpException("Unexpected ProxyAuthDigestState", httpErrAuthState);
    }
}

void THttpClient::StepBasicAuth() {
    switch (authBasicState_) {
        case basicAuthNone:
            AuthStateChange(authBasicState_, basicAuthSend);
            AuthStateChange(authNtlmState_, ntlmAuthNone);
            AuthStateChange(authDigestState_, digestAuthNone);
            RestartForAuth();
            break;
        case basicAuthSend: GiveUpAuth(authBasicState_); break;
        default: throw EHttpException("Unexpected AuthBasicState", httpErrAuthState);
    }
}

void THttpClient::StepProxyBasicAuth() {
    switch (proxyAuthBasicState_) {
        case basicAuthNone:
            AuthStateChange(proxyAuthBasicState_, basicAuthSend);
            AuthStateChange(proxyAuthNtlmState_, ntlmAuthNone);
            AuthStateChange(proxyAuthDigestState_, digestAuthNone);
            RestartForAuth();
            break;
        case basicAuthSend: GiveUpAuth(proxyAuthBasicState_); break;
        default: throw EHttpException("Unexpected ProxyAuthBasicState", httpErrAuthState);
    }
}

// ---- Credential lines ----------------------------------------------------------------------

std::string THttpClient::BasicAuthValue(bool Proxy) const {
    return InetBase64Encode(Proxy ? ProxyUsername + ":" + ProxyPassword : curUser_ + ":" + curPassword_);
}

std::string THttpClient::DigestAuthValue(bool Proxy, const std::string& Method, const std::string& HostText) {
    TDigestAuthInfo& info = Proxy ? proxyDigestInfo_ : digestInfo_;
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
            const bool hasBody = RequestKind == httpPOST || RequestKind == httpPUT || RequestKind == httpPATCH;
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
    if (Method != "CONNECT" && proxyAuthNtlmState_ != ntlmAuthNegotiate) {
        if (authNtlmState_ == ntlmAuthNegotiate)
            add("Authorization: ", "NTLM ", NtlmNegotiateValue(false));
        else if (authNtlmState_ == ntlmAuthAuthenticate)
            add("Authorization: ", "NTLM ", ntlmAuthenticate_);
        else if (authDigestState_ == digestAuthSend)
            add("Authorization: ", "Digest ", DigestAuthValue(false, Method, HostText));
        else if (authBasicState_ == basicAuthSend)
            add("Authorization: ", "Basic ", BasicAuthValue(false));
    }
    // Inside an open tunnel the proxy no longer listens.
    if (ProxyUsed() && (protocol_ != "https" || Method == "CONNECT")) {
        if (proxyAuthNtlmState_ == ntlmAuthNegotiate)
            add("Proxy-Authorization: ", "NTLM ", NtlmNegotiateValue(true));
        else if (proxyAuthNtlmState_ == ntlmAuthAuthenticate)
            add("Proxy-Authorization: ", "NTLM ", proxyNtlmAuthenticate_);
        else if (proxyAuthDigestState_ == digestAuthSend)
            add("Proxy-Authorization: ", "Digest ", DigestAuthValue(true, Method, HostText));
        else if (proxyAuthBasicState_ == basicAuthSend)
            add("Proxy-Authorization: ", "Basic ", BasicAuthValue(true));
    }
}
