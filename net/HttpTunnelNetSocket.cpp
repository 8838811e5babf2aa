#include "net/HttpTunnelNetSocket.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "net/InetAddress.h"
#include "net/InetNtlmMsgs.h"
#include "net/InetSocketErrors.h"
#include "net/InetUtils.h"
#include "net/InetWinsock.h"

namespace {

bool IsTcp(const std::string& Proto) { return Proto == "tcp" || Proto == "6"; }

}  // namespace

TCustomHttpTunnelNetSocket::TCustomHttpTunnelNetSocket(framework::TComponent* Owner) : TCustomNetSocket(Owner) {}

TCustomHttpTunnelNetSocket::~TCustomHttpTunnelNetSocket() { DisposeSocket(); }

// ---- Properties -----------------------------------------------------------------------------

void TCustomHttpTunnelNetSocket::ResetAuthState() {
    curAuth_ = authType_;
    digestAccepted_ = false;
    digestSupported_ = false;
}

void TCustomHttpTunnelNetSocket::SetHttpTunnelServer(const std::string& Value) {
    if (State() != wsClosed) return RaiseSocketErrorMsg("Can't change HTTP proxy if not closed");
    const std::string v = InetTrimBlanks(Value);
    if (v == tunnelServer_) return;
    tunnelServer_ = v;
    ResetAuthState();
    if (!v.empty() && SocksServerSet()) {
        tunnelServer_.clear();
        throw ESocketException("Can't use HTTP proxy when Socks is used as well");
    }
}

void TCustomHttpTunnelNetSocket::SetHttpTunnelPort(const std::string& Value) {
    if (State() != wsClosed) return RaiseSocketErrorMsg("Can't change HTTP proxy port if not closed");
    const std::string v = InetTrimBlanks(Value);
    if (v == tunnelPort_) return;
    tunnelPort_ = v;
    ResetAuthState();
}

void TCustomHttpTunnelNetSocket::SetHttpTunnelAuthType(THttpTunnelAuthType Value) {
    if (State() != wsClosed) return RaiseSocketErrorMsg("Can't change HTTP proxy authentication if not closed");
    if (Value == authType_) return;
    authType_ = Value;
    ResetAuthState();
}

void TCustomHttpTunnelNetSocket::SetHttpTunnelUsercode(const std::string& Value) {
    if (State() != wsClosed) return RaiseSocketErrorMsg("Can't change HTTP proxy usercode if not closed");
    if (Value == tunnelUser_) return;
    tunnelUser_ = Value;
    ResetAuthState();
}

void TCustomHttpTunnelNetSocket::SetHttpTunnelPassword(const std::string& Value) {
    if (State() != wsClosed) return RaiseSocketErrorMsg("Can't change HTTP proxy password if not closed");
    if (Value == tunnelPassword_) return;
    tunnelPassword_ = Value;
    ResetAuthState();
}

// ---- Connecting -----------------------------------------------------------------------------

void TCustomHttpTunnelNetSocket::Listen() {
    if (!tunnelServer_.empty()) return RaiseSocketErrorMsg("Listening is not supported thru HTTP proxy servers");
    TCustomNetSocket::Listen();
}

void TCustomHttpTunnelNetSocket::Connect() {
    if (tunnelServer_.empty()) return TCustomNetSocket::Connect();
    if (!IsTcp(Proto())) return RaiseSocketErrorMsg("TCP is the only protocol supported by HTTP proxies");
    TProxyConnectSteps steps;
    steps.Begin = [this] {
        const std::string target = Addr();
        TSocketFamily targetKind;
        targetAddr_ = IPLiteralKind(target, targetKind) && targetKind == sfIPv6 ? "[" + target + "]" : target;
        // A new connection: nothing still running for the old one may act on it.
        NewWork();
        // The owner's own connect starts a new attempt; a reconnect goes on with its own.
        if (pendingReconnect_ == TTunnelReconnect::None) closeRetried_ = false;
        TunnelStateChange(htsConnecting);
    };
    steps.Undo = [this] { TunnelStateChange(htsOff); };
    ConnectThroughProxy(tunnelServer_, tunnelPort_, targetPort_, steps);
}

void TCustomHttpTunnelNetSocket::ConnectThroughProxy(const std::string& Server, const std::string& ServerPort,
                                                     uint16_t& TargetPort, const TProxyConnectSteps& Steps) {
    const std::string target = Addr();
    const std::string targetPortText = Port();
    std::string proxyAddr;
    try {
        TSocketFamily kind;
        if (IPLiteralKind(Server, kind)) {
            if (kind == sfIPv6 && !HasIPv6Api()) throw ESocketException("IPv6 is not available");
            SetSocketFamily(kind);
        }
        if (SocketFamily() == sfIPv4) {
            proxyAddr = IPv4ToText(WinsockResolveIPv4(Server));
        } else {
            TSockAddrIn6 a{};
            WinsockResolveHost(Server, a, SocketFamily(), IPPROTO_TCP);
            proxyAddr = a.sin6_family == AF_INET6 ? SockAddr6ToText(a)
                                                  : IPv4ToText(reinterpret_cast<sockaddr_in*>(&a)->sin_addr.s_addr);
            if (a.sin6_family != AF_INET && !Steps.IPv6Refusal.empty()) throw ESocketException(Steps.IPv6Refusal);
        }
        WinsockResolvePort(ServerPort, "tcp");
        TargetPort = WinsockResolvePort(targetPortText, "tcp");
    } catch (const std::exception& e) {
        return RaiseSocketErrorMsg(std::string("Connect: ") + e.what());
    }
    if (Steps.Begin) Steps.Begin();
    ReplaceEndpoint(proxyAddr, ServerPort);
    // A handler that runs inside Connect (one another thread sent) may free the socket.
    const TFireWatch watch(*this);
    try {
        TCustomNetSocket::Connect();
    } catch (...) {
        if (!watch.Alive()) throw;
        if (Steps.Undo) Steps.Undo();
        ReplaceEndpoint(target, targetPortText);
        throw;
    }
    if (!watch.Alive()) return;
    ReplaceEndpoint(target, targetPortText);
    if (State() == wsClosed && Steps.Undo) Steps.Undo();
}

void TCustomHttpTunnelNetSocket::SetDefaults() {
    // A reconnect after a 407 keeps what the exchange learned.
    if (pendingReconnect_ == TTunnelReconnect::None && !TakeCloseRetry()) {
        // The core resets the state before it reports the close: remember that the
        // connection ended while the proxy was still answering.
        answerCut_ = ProxyExchangeOpen();
        TunnelStateChange(htsOff);
    }
    TCustomNetSocket::SetDefaults();
}

void TCustomHttpTunnelNetSocket::TransportConnected(uint16_t ErrCode) {
    if (tunnelState_ != htsConnecting) return TCustomNetSocket::TransportConnected(ErrCode);
    if (!FireEvent(OnHttpTunnelConnected, this, ErrCode)) return;
    if (ErrCode != 0) {
        TunnelStateChange(htsOff);
        return TCustomNetSocket::TransportConnected(ErrCode);
    }
    const TTunnelReconnect reconnect = std::exchange(pendingReconnect_, TTunnelReconnect::None);
    TunnelStateChange(htsTcpUp);
    switch (reconnect) {
        case TTunnelReconnect::Basic: curAuth_ = htatBasic; return SendBasic();
        case TTunnelReconnect::Digest: curAuth_ = htatDigest; return SendDigest();
        case TTunnelReconnect::Ntlm: curAuth_ = htatNtlm; return SendNtlm1();
        case TTunnelReconnect::None: break;
    }
    StartRequest();
}

void TCustomHttpTunnelNetSocket::StartRequest() {
    if (tunnelUser_.empty())
        curAuth_ = htatNone;
    else if (authType_ != htatDetect)
        curAuth_ = authType_;
    switch (curAuth_) {
        case htatBasic: return SendBasic();
        case htatDigest: return digestAccepted_ ? SendDigest() : SendPlain();
        case htatNtlm: return SendNtlm1();
        default: return SendPlain();
    }
}

void TCustomHttpTunnelNetSocket::ResetAnswer() {
    status_.reset();
    keepAlive_ = true;
    contentLength_ = -1;
    chunked_ = false;
    transferCodings_.clear();
    http10_ = false;
    inBody_ = false;
    buffer_.clear();
    offset_ = 0;
    answerText_.clear();
    pendingReconnect_ = TTunnelReconnect::None;
    chunks_.Reset();
}

void TCustomHttpTunnelNetSocket::SendRequest(const std::string& Auth, THttpTunnelState NewState, bool KeepAlive) {
    // Only the first request of a connection goes out right after the connect.
    reusedConnection_ = tunnelState_ != htsTcpUp;
    TunnelStateChange(NewState);
    std::string r = "CONNECT " + targetAddr_ + ":" + std::to_string(targetPort_) + " HTTP/1.1\r\n";
    if (!Auth.empty()) r += "Proxy-Authorization: " + Auth + "\r\n";
    if (KeepAlive) r += "Proxy-Connection: Keep-Alive\r\n";
    r += "\r\n";
    sending_ = true;
    try {
        Send(r.data(), int(r.size()));
    } catch (...) {
        // A failed send shows as the connection's close.
    }
    sending_ = false;
}

bool TCustomHttpTunnelNetSocket::TakeCloseRetry() {
    // A proxy may close a kept-alive connection instead of answering the next request on it
    // (after a 407 that did not say it would close): that request goes again, once per
    // attempt, on a new connection, as an HTTP client retries an idempotent request.
    if (closeRetried_ || !reusedConnection_ || !(proxyClosed_ || sending_)) return false;
    if (status_ || !buffer_.empty()) return false;  // the proxy began to answer
    if (tunnelState_ != htsFirstSent && tunnelState_ != htsSecondSent) return false;
    TTunnelReconnect how;
    switch (curAuth_) {
        case htatBasic: how = TTunnelReconnect::Basic; break;
        case htatDigest: how = TTunnelReconnect::Digest; break;
        // The NTLM exchange belongs to its connection: a new one starts it again.
        case htatNtlm: how = TTunnelReconnect::Ntlm; break;
        default: return false;
    }
    closeRetried_ = true;
    pendingReconnect_ = how;
    TunnelStateChange(htsOff, TTunnelEnd::Reconnect);
    return true;
}

void TCustomHttpTunnelNetSocket::TunnelStateChange(THttpTunnelState NewState, TTunnelEnd End) {
    tunnelState_ = NewState;
    switch (NewState) {
        case htsOff:
            switch (End) {
                case TTunnelEnd::Granted:
                    // What followed the answer stays in the buffer: it is the target's.
                    digestAccepted_ = curAuth_ == htatDigest;
                    return;
                case TTunnelEnd::Reconnect:
                    // pendingReconnect_ is set: the exchange goes on on a new connection.
                    status_.reset();
                    break;
                case TTunnelEnd::Failed:
                    failed_ = true;
                    pendingReconnect_ = TTunnelReconnect::None;
                    break;
                case TTunnelEnd::Reset:
                    failed_ = false;
                    pendingReconnect_ = TTunnelReconnect::None;
                    break;
            }
            buffer_.clear();
            offset_ = 0;
            return;
        case htsConnecting:
            proxyClosed_ = false;
            failed_ = false;
            buffer_.clear();
            offset_ = 0;
            answerText_.clear();
            status_.reset();
            return;
        case htsTcpUp: return;
        case htsPlainSent:
        case htsFirstSent:
        case htsSecondSent:
            // Each request starts a new answer; only its 200 says Digest was accepted.
            ResetAnswer();
            digestAccepted_ = false;
            return;
    }
}

void TCustomHttpTunnelNetSocket::SendPlain() { SendRequest("", htsPlainSent, true); }

void TCustomHttpTunnelNetSocket::SendBasic() {
    SendRequest("Basic " + InetBase64Encode(tunnelUser_ + ":" + tunnelPassword_), htsFirstSent, false);
}

void TCustomHttpTunnelNetSocket::SendDigest() {
    ++digest_.NonceCount;
    // A CONNECT names no path: the request target is host:port, and so is the Digest uri.
    const std::string uri = targetAddr_ + ":" + std::to_string(targetPort_);
    std::string value;
    try {
        // auth-int covers the entity: a CONNECT has none, which hashes as the empty one.
        const std::string entity = DigestChosenQop(digest_) == "auth-int" ? DigestEntityHash(digest_, "") : "";
        value = DigestBuildAuthorization(tunnelUser_, tunnelPassword_, "CONNECT", uri, digest_, entity);
    } catch (const std::exception& e) {
        // Without the hashes there is no answer to send: the attempt ends here.
        answerText_ = e.what();
        return TunnelError(21001);
    }
    SendRequest("Digest " + value, htsSecondSent, false);
}

void TCustomHttpTunnelNetSocket::SendNtlm1() {
    SendRequest("NTLM " + NtlmBuildNegotiateMessage("", "", HttpTunnelNtlmLevel), htsFirstSent,
                !ComponentOptions.Has(wsoNoHttp10Tunnel));
}

bool TCustomHttpTunnelNetSocket::SendNtlm3() {
    char host[256] = {};
    if (Winsock::gethostname(host, sizeof(host)) != 0) host[0] = 0;
    const TNTLM_Msg2_Info challenge = NtlmParseChallengeMessage(ntlmChallenge_);
    std::string domain, user;
    NtlmSplitUserDomain(tunnelUser_, domain, user);
    if (domain.empty() && user.find('@') == std::string::npos) {
        std::string target;
        for (wchar_t c : challenge.TargetName) target += c < 0x80 ? char(c) : '?';
        domain = target;
    }
    // A challenge that does not fully decode (proxies' test helpers send target names outside
    // the message) is still answered from what it held, as the HTTP client answers it; one too
    // big for an answer (a target info the NTLMv2 response cannot hold in its 16-bit length)
    // gets none rather than an empty one.
    const std::string msg =
        NtlmBuildAuthenticateMessage(domain, host, user, tunnelPassword_, challenge, 0, HttpTunnelNtlmLevel);
    if (msg.empty()) return false;
    SendRequest("NTLM " + msg, htsSecondSent, false);
    return true;
}

// ---- The proxy's answer ---------------------------------------------------------------------

bool TCustomHttpTunnelNetSocket::TriggerDataAvailable(uint16_t ErrCode) {
    if (failed_) {
        // What a refusing proxy still sends is its own, never the target's data.
        char drop[1024];
        if (TCustomNetSocket::Receive(drop, sizeof(drop), 0) <= 0) SetLastError(-1);
        return true;
    }
    if (tunnelState_ == htsOff) return TCustomNetSocket::TriggerDataAvailable(ErrCode);
    // Each line may end the answer and fire events: reading goes on only while they held.
    const TFireWatch watch(*this);
    if (!AnswerAwaited()) {
        answerText_ = "THttpTunnelNetSocket - Fatal: Invalid state in TriggerDataAvailable";
        TunnelError(StatusOrProtocolError());
        return true;
    }
    try {
        const size_t cap = size_t(std::max<int32_t>(HttpTunnelBufferSize, 64));
        if (buffer_.size() >= cap) {
            answerText_ = "Received header line too long. Increase HttpTunnelBufferSize.";
            TunnelError(21000);
            return true;
        }
        const size_t old = buffer_.size();
        buffer_.resize(cap);
        const int n = TCustomNetSocket::Receive(&buffer_[old], int(cap - old), 0);
        buffer_.resize(old + size_t(std::max(n, 0)));
        if (n <= 0) {
            SetLastError(-1);
            return true;
        }
        const SOCKET handle = HSocket();
        while (watch.Holds() && AnswerAwaited() && HSocket() == handle) {
            if (inBody_) {
                if (!SkipBody()) break;
                continue;
            }
            const size_t lf = buffer_.find('\n', offset_);
            if (lf == std::string::npos) {
                buffer_.erase(0, offset_);
                offset_ = 0;
                if (buffer_.size() >= cap) {
                    answerText_ = "Received header line too long. Increase HttpTunnelBufferSize.";
                    TunnelError(21000);
                }
                break;
            }
            std::string line = buffer_.substr(offset_, lf - offset_);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            offset_ = lf + 1;
            if (!ParseLine(line)) break;
        }
    } catch (const std::exception&) {
        if (!watch.Holds()) return true;
        answerText_ = "THttpTunnelNetSocket - DataAvailable error";
        TunnelError(StatusOrProtocolError());
    }
    return true;
}

bool TCustomHttpTunnelNetSocket::ParseLine(const std::string& Line) {
    if (Line.empty()) {
        // A 2xx answer to CONNECT has no body, whatever its fields say: every byte after its
        // empty line is the target's.
        if (status_ && *status_ / 100 == 2) {
            inBody_ = false;
            Decide();
            return true;
        }
        // The end of a body that is not framed by its last coding cannot be found.
        const THttpTransferFraming framing = HttpTransferFraming(transferCodings_);
        if (framing == THttpTransferFraming::htfBroken) {
            answerText_ = "HTTP transfer coding not supported";
            TunnelError(21000);
            return false;
        }
        chunked_ = framing == THttpTransferFraming::htfChunked;
        inBody_ = contentLength_ > 0 || chunked_;
        chunks_.Reset();
        if (!inBody_) Decide();
        return true;
    }
    if (!status_) {
        THttpStatusLine status;
        if (HttpParseStatusLine(Line, status) && status.Major == 1) {
            http10_ = status.Minor == 0;
            if (http10_ && ComponentOptions.Has(wsoNoHttp10Tunnel)) {
                answerText_ = "Proxy server must support HTTP/1.1";
                TunnelError(21002);
                return false;
            }
            keepAlive_ = !http10_;
            answerText_ = Line;
            status_ = status.Code;
        }
        if (!status_) {
            answerText_ = Line;
            TunnelError(21000);
            return false;
        }
        return true;
    }
    std::string name, value;
    const THttpHeadLine kind = HttpSplitFieldLine(Line, name, value);
    if (kind == THttpHeadLine::hhlBad) {
        answerText_ = Line;
        TunnelError(21000);
        return false;
    }
    // Folded values are not needed for any field read here.
    if (kind == THttpHeadLine::hhlContinuation) return true;
    if (name == "transfer-encoding") {
        HttpAddTransferCodings(value, transferCodings_);
    } else if (name == "proxy-connection" || name == "connection") {
        // Either field says whether the proxy keeps the connection; most send the second.
        if (InetStartsText(value, "keep-alive")) keepAlive_ = true;
        else if (InetStartsText(value, "close")) keepAlive_ = false;
    } else if (name == "content-length") {
        // A length beyond a 64-bit count, or a second one that differs, is a broken
        // answer, not a body to wait for.
        const int64_t length = HttpParseContentLength(value);
        if (length < 0 || (contentLength_ >= 0 && length != contentLength_)) {
            answerText_ = Line;
            TunnelError(21000);
            return false;
        }
        contentLength_ = length;
    } else if (status_ == 407 && name == "proxy-authenticate") {
        // Every challenge of the value counts; which one is answered is decided at the
        // answer's end, once all are known.
        for (THttpChallenge& c : HttpParseChallenges(value)) {
            if (c.Scheme == "digest")
                offered_ |= HttpTunnelOffered(htsatDigest);
            else if (c.Scheme == "basic")
                offered_ |= HttpTunnelOffered(htsatBasic);
            else if (c.Scheme == "ntlm")
                offered_ |= HttpTunnelOffered(htsatNtlm);
            challenges_.push_back(std::move(c));
        }
    }
    return true;
}

bool TCustomHttpTunnelNetSocket::SkipBody() {
    // Returns true when it made progress and the loop should go on.
    const size_t avail = buffer_.size() - offset_;
    if (!chunked_) {
        const size_t n = size_t(std::min<int64_t>(contentLength_, int64_t(avail)));
        offset_ += n;
        contentLength_ -= int64_t(n);
        if (contentLength_ == 0) {
            inBody_ = false;
            Decide();
            return false;
        }
        buffer_.clear();
        offset_ = 0;
        return false;
    }
    // Chunks, with the same decoder and limits as the HTTP client's.
    offset_ += chunks_.Feed(reinterpret_cast<const uint8_t*>(buffer_.data()) + offset_, avail,
                            [](const uint8_t*, size_t) { return true; });
    if (chunks_.Failed()) {
        answerText_ = chunks_.ErrorText();
        TunnelError(21000);
        return false;
    }
    if (chunks_.Done()) {
        inBody_ = false;
        Decide();
        return false;
    }
    buffer_.erase(0, offset_);
    offset_ = 0;
    return false;
}

void TCustomHttpTunnelNetSocket::Decide() {
    auto alive = AliveToken();
    if (status_ == 200) {
        TunnelStateChange(htsOff, TTunnelEnd::Granted);
        return Granted();
    }
    // The 407's challenges, chosen from as the HTTP client chooses: the first Digest
    // challenge this layer can answer, and NTLM's message to the negotiate step.
    const std::vector<THttpChallenge> challenges = std::exchange(challenges_, {});
    if (status_ == 407) {
        bool digestTaken = false;
        for (const THttpChallenge& c : challenges) {
            if (c.Scheme == "digest" && !digestTaken) {
                TDigestAuthInfo info;
                DigestParseChallenge(HttpAuthAfterScheme(c.Text), info);
                if (DigestAlgorithmSupported(info)) {
                    digest_ = info;
                    digestTaken = true;
                }
            } else if (c.Scheme == "ntlm" && tunnelState_ == htsFirstSent && !c.Token68.empty()) {
                // Any length: a challenge without target information is short, and the
                // decoder checks every field anyway.
                ntlmChallenge_ = c.Token68;
            }
        }
        digestSupported_ = digestTaken;
    }
    // An answer refused for a stale nonce only: the password was right, once more with the new one.
    const bool staleRetry = tunnelState_ == htsSecondSent && curAuth_ == htatDigest && digestSupported_ &&
                            digest_.Stale && !staleAnswered_;
    if (staleRetry) staleAnswered_ = true;
    const bool digestOk = (offered_ & HttpTunnelOffered(htsatDigest)) && digestSupported_;
    const bool basicOk = offered_ & HttpTunnelOffered(htsatBasic);
    const bool ntlmOk = offered_ & HttpTunnelOffered(htsatNtlm);
    if (status_ == 407 && !tunnelUser_.empty() &&
        (curAuth_ == htatDetect || curAuth_ == htatDigest || curAuth_ == htatNtlm)) {
        if (!keepAlive_ || proxyClosed_) {
            TTunnelReconnect reconnect = TTunnelReconnect::None;
            if (tunnelState_ == htsPlainSent && curAuth_ == htatDetect)
                reconnect = basicOk    ? TTunnelReconnect::Basic
                            : digestOk ? TTunnelReconnect::Digest
                            : ntlmOk   ? TTunnelReconnect::Ntlm
                                       : TTunnelReconnect::None;
            else if ((tunnelState_ == htsPlainSent || staleRetry) && curAuth_ == htatDigest && digestOk)
                reconnect = TTunnelReconnect::Digest;
            if (reconnect != TTunnelReconnect::None) {
                pendingReconnect_ = reconnect;
                TunnelStateChange(htsOff, TTunnelEnd::Reconnect);
                // The close (ours, or the proxy's already under way) posts the reconnect.
                if (!proxyClosed_) Close();
                return;
            }
        } else {
            if (curAuth_ == htatDetect && tunnelState_ == htsPlainSent) {
                if (basicOk) {
                    curAuth_ = htatBasic;
                    return SendBasic();
                }
                if (digestOk) {
                    curAuth_ = htatDigest;
                    return SendDigest();
                }
                if (ntlmOk) {
                    curAuth_ = htatNtlm;
                    return SendNtlm1();
                }
            } else if (curAuth_ == htatNtlm && tunnelState_ == htsFirstSent && ntlmOk) {
                // A challenge that cannot be answered ends the exchange with the proxy's 407.
                if (SendNtlm3()) return;
            } else if (curAuth_ == htatDigest && digestOk &&
                       (tunnelState_ == htsPlainSent || tunnelState_ == htsFirstSent || staleRetry)) {
                return SendDigest();
            }
        }
    }
    (void)alive;
    TunnelError(StatusOrProtocolError());
}

void TCustomHttpTunnelNetSocket::Granted() {
    offered_ = 0;
    ntlmChallenge_.clear();
    staleAnswered_ = false;
    buffer_.erase(0, offset_);
    offset_ = 0;
    if (!Fired([&] { TransportConnected(0); })) return;
    if (!buffer_.empty() && HSocket() != INVALID_SOCKET && State() == wsConnected)
        PostMessageA(WindowHandle(), idSocketEvent_, WPARAM(HSocket()), MAKELONG(FD_READ, 0));
}

void TCustomHttpTunnelNetSocket::TunnelError(int Code) {
    if (Code < 599) Code += 21000;
    TunnelStateChange(htsOff, TTunnelEnd::Failed);
    const THttpTunnelServerAuthTypes offered = offered_;
    offered_ = 0;
    challenges_.clear();
    staleAnswered_ = false;
    curAuth_ = authType_;
    // A handler that aborted (and perhaps connected again) hears nothing more of this attempt.
    if (!FireEvent(OnHttpTunnelError, this, uint16_t(Code), offered, answerText_)) return;
    // The owner's connection attempt ends with the proxy's answer, through every layer.
    TransportConnected(uint16_t(Code));
}

void TCustomHttpTunnelNetSocket::HandleFdClose(framework::TMessage& Msg, uint16_t Error) {
    if (tunnelState_ != htsOff) proxyClosed_ = true;
    TCustomNetSocket::HandleFdClose(Msg, Error);
}

void TCustomHttpTunnelNetSocket::TriggerSessionClosed(uint16_t ErrCode) {
    // A close reported before the socket's defaults were set (a reset seen by a read) is
    // judged here.
    if (pendingReconnect_ != TTunnelReconnect::None || TakeCloseRetry()) {
        // The closed session is the proxy's, not the owner's: connect again once the close
        // is over.
        if (WindowHandle()) PostMessageA(WindowHandle(), idHttpTunnelReconnect_, 0, 0);
        return;
    }
    if (ProxyExchangeOpen() || answerCut_) {
        answerCut_ = false;
        answerText_ = HttpTunnelErrorText(21001);
        if (!Fired([&] { TunnelError(21001); })) return;
    }
    TCustomNetSocket::TriggerSessionClosed(ErrCode);
}

void TCustomHttpTunnelNetSocket::TakeMessageIds() {
    TCustomNetSocket::TakeMessageIds();
    idHttpTunnelReconnect_ = HandlerRef()->ClaimMessageId(this);
}

void TCustomHttpTunnelNetSocket::ReturnMessageIds() {
    HandlerRef()->FreeMessageId(idHttpTunnelReconnect_);
    TCustomNetSocket::ReturnMessageIds();
}

void TCustomHttpTunnelNetSocket::WndProc(framework::TMessage& Msg) {
    if (Msg.Msg != idHttpTunnelReconnect_ || !idHttpTunnelReconnect_) return TCustomNetSocket::WndProc(Msg);
    const TFireWatch watch(*this);
    try {
        Reconnect();
    } catch (const std::exception& e) {
        if (watch.Alive()) HandleBgException(e, "WMHttpTunnelReconnect");
    }
}

void TCustomHttpTunnelNetSocket::RaiseSocketError(const std::string& Msg, int ErrCode, const std::string& ProtocolText,
                                                  const std::string& PortText, const std::string& AddressText,
                                                  const std::string& OperationName, const std::string& UserText,
                                                  const std::string& ErrorText) {
    // After the grant the buffer holds the target's bytes: those stay.
    if (tunnelState_ != htsOff) ResetAnswer();
    TCustomNetSocket::RaiseSocketError(Msg, ErrCode, ProtocolText, PortText, AddressText, OperationName, UserText,
                                       ErrorText);
}

void TCustomHttpTunnelNetSocket::Reconnect() {
    if (pendingReconnect_ == TTunnelReconnect::None || State() != wsClosed || HSocket() != INVALID_SOCKET) return;
    Connect();
}

// ---- Reading --------------------------------------------------------------------------------

int TCustomHttpTunnelNetSocket::TakeBuffered(void* Buffer, int Size, int Flags, std::string& From, size_t& Offset) {
    if (Size <= 0) return 0;
    const size_t n = std::min(size_t(Size), From.size() - Offset);
    std::memcpy(Buffer, From.data() + Offset, n);
    if (!(Flags & MSG_PEEK)) {
        Offset += n;
        if (Offset >= From.size()) {
            From.clear();
            Offset = 0;
        } else if (HSocket() != INVALID_SOCKET && State() == wsConnected && WindowHandle()) {
            // Nothing else would tell the owner that bytes are still waiting here.
            PostMessageA(WindowHandle(), idSocketEvent_, WPARAM(HSocket()), MAKELONG(FD_READ, 0));
        }
    }
    return int(n);
}

int TCustomHttpTunnelNetSocket::Receive(void* Buffer, int Size, int Flags) {
    if (tunnelState_ == htsOff && offset_ < buffer_.size()) {
        const int n = TakeBuffered(Buffer, Size, Flags, buffer_, offset_);
        if (!(Flags & MSG_PEEK)) taken_ += n;
        return n;
    }
    return TCustomNetSocket::Receive(Buffer, Size, Flags);
}

int TCustomHttpTunnelNetSocket::PendingReceiveCount() {
    if (tunnelState_ == htsOff && offset_ < buffer_.size()) return int(buffer_.size() - offset_);
    return TCustomNetSocket::PendingReceiveCount();
}
