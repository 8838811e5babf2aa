#include "net/SocksNetSocket.h"

#include <cstring>

#include "net/InetAddress.h"
#include "net/InetSocketErrors.h"
#include "net/InetUrl.h"
#include "net/InetUtils.h"
#include "net/InetWinsock.h"

namespace {

std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return s;
}

bool IsTcp(const std::string& Proto) { return Proto == "tcp" || Proto == "6"; }

}  // namespace

// ---- Properties -----------------------------------------------------------------------------

void TCustomSocksNetSocket::SetSocksServer(const std::string& Value) {
    if (State() != wsClosed) return RaiseSocketErrorMsg("Can't change socks server if not closed");
    socksServer_ = InetTrimBlanks(Value);
    if (!socksServer_.empty() && !HttpTunnelServer().empty()) {
        socksServer_.clear();
        throw ESocketException("Can't use Socks when HTTP proxy is used as well");
    }
}

void TCustomSocksNetSocket::SetSocksLevel(const std::string& Value) {
    if (State() != wsClosed) return RaiseSocketErrorMsg("Can't change socks level if not closed");
    if (Value != "4" && Value != "5" && Value != "4A" && Value != "4a")
        return RaiseSocketErrorMsg("Invalid socks level. Must be 4, 4A or 5.");
    socksLevel_ = UpperAscii(Value);
}

void TCustomSocksNetSocket::SetSocksPort(const std::string& Value) {
    if (State() != wsClosed) return RaiseSocketErrorMsg("Can't change socks port if not closed");
    socksPort_ = InetTrimBlanks(Value);
}

void TCustomSocksNetSocket::SetProxyURL(const std::string& Value) {
    if (Value == proxyUrl_) return;
    if (Value.empty()) {
        SetSocksServer("");
        SetSocksPort("");
        SocksUsercode.clear();
        SocksPassword.clear();
        SocksAuthentication = socksNoAuthentication;
        SetHttpTunnelServer("");
        SetHttpTunnelPort("");
        SetHttpTunnelUsercode("");
        SetHttpTunnelPassword("");
        proxyUrl_.clear();
        return;
    }
    std::string proto, user, pass, host, port, path;
    SplitUrl(Value, proto, user, path, port, host, pass);
    if (proto.empty() || host.empty())
        throw ESocketException("Error with proxy URL: " + Value + " - it must contain proto and host");
    if (path.size() >= 2) throw ESocketException("Error with proxy URL:" + Value + " - path not allowed");
    if (proto == "http") {
        SetSocksServer("");
        SetHttpTunnelServer(host);
        SetHttpTunnelPort(port);
        SetHttpTunnelUsercode(user);
        SetHttpTunnelPassword(pass);
        SetHttpTunnelAuthType(user.empty() ? htatNone : htatBasic);
    } else if (proto == "socks5") {
        SetHttpTunnelServer("");
        SetSocksServer(host);
        SetSocksPort(port);
        SocksUsercode = user;
        SocksPassword = pass;
        SocksAuthentication = user.empty() ? socksNoAuthentication : socksAuthenticateUsercode;
    } else {
        throw ESocketException("Error with proxy URL \"" + Value + "\" - Unknown proxy protocol");
    }
    proxyUrl_ = Value;
}

// ---- Connecting -----------------------------------------------------------------------------

void TCustomSocksNetSocket::Listen() {
    if (!socksServer_.empty()) return RaiseSocketErrorMsg("Listening is not supported thru socks server");
    TCustomHttpTunnelNetSocket::Listen();
}

void TCustomSocksNetSocket::Connect() {
    if (socksServer_.empty()) return TCustomHttpTunnelNetSocket::Connect();
    if (!IsTcp(Proto())) return RaiseSocketErrorMsg("TCP is the only protocol supported thru socks server");
    // What the server is told comes from the owner's settings; each length byte of the
    // protocol holds at most 255, so a longer value is refused, never cut or wrapped.
    const std::string target = Addr();
    const bool level5 = socksLevel_ == "5";
    TSocketFamily kind;
    const bool literal = IPLiteralKind(target, kind);
    if ((level5 || socksLevel_ == "4A") && !literal && target.size() > 255)
        return RaiseSocketErrorMsg("Connect: host name longer than 255 bytes for the socks server");
    if (level5 && SocksAuthentication == socksAuthenticateUsercode &&
        (SocksUsercode.size() > 255 || SocksPassword.size() > 255))
        return RaiseSocketErrorMsg("Connect: socks user code or password longer than 255 bytes");
    if (!level5 && SocksUsercode.size() > 255) return RaiseSocketErrorMsg("Connect: socks user code longer than 255 bytes");
    TProxyConnectSteps steps;
    if (!level5) steps.IPv6Refusal = "IPv6 not supported with current socks version";
    steps.Begin = [this, &target] {
        // A new attempt: nothing still running for the old one may act on it.
        NewWork();
        targetAddr_ = target;
        SocksStateChange(socksGreeting);
    };
    steps.Undo = [this] { SocksStateChange(socksIdle); };
    ConnectThroughProxy(socksServer_, socksPort_, targetPort_, steps);
}

void TCustomSocksNetSocket::TransportConnected(uint16_t ErrCode) {
    if (socksState_ != socksGreeting) return TCustomHttpTunnelNetSocket::TransportConnected(ErrCode);
    if (!TriggerSocksConnected(ErrCode)) return;
    if (ErrCode != 0) {
        SocksStateChange(socksIdle);
        return TCustomHttpTunnelNetSocket::TransportConnected(ErrCode);
    }
    if (socksLevel_ != "5") return SocksDoConnect();
    method_ = SocksAuthentication == socksAuthenticateUsercode ? 0x02 : 0x00;
    SendNegotiation(std::string{'\x05', '\x01', char(method_)});
}

void TCustomSocksNetSocket::SendNegotiation(const std::string& Bytes) {
    try {
        Send(Bytes.data(), int(Bytes.size()));
    } catch (...) {
        // A failed send shows as the connection's close.
    }
}

void TCustomSocksNetSocket::SocksDoAuthenticate() {
    SocksStateChange(socksAuthSent);
    if (!TriggerSocksAuthState(socksAuthStart)) return;
    std::string m{'\x01'};
    m += char(uint8_t(SocksUsercode.size()));
    m += SocksUsercode;
    m += char(uint8_t(SocksPassword.size()));
    m += SocksPassword;
    SendNegotiation(m);
}

void TCustomSocksNetSocket::SocksDoConnect() {
    SocksStateChange(socksRequestSent);
    std::string m;
    const char port[2] = {char(targetPort_ >> 8), char(targetPort_ & 0xFF)};
    if (socksLevel_ == "5") {
        m = {'\x05', '\x01', '\x00'};
        TSocketFamily kind;
        if (IPLiteralKind(targetAddr_, kind)) {
            TSockAddrIn6 a{};
            WinsockResolveHost(targetAddr_, a, kind, IPPROTO_TCP);
            if (kind == sfIPv4) {
                m += '\x01';
                m.append(reinterpret_cast<const char*>(&reinterpret_cast<sockaddr_in*>(&a)->sin_addr.s_addr), 4);
            } else {
                m += '\x04';
                m.append(reinterpret_cast<const char*>(a.sin6_addr.s6_addr), 16);
            }
        } else {
            m += '\x03';
            m += char(uint8_t(targetAddr_.size()));
            m += targetAddr_;
        }
        m.append(port, 2);
    } else {
        m = {'\x04', '\x01'};
        m.append(port, 2);
        if (socksLevel_ == "4A") {
            m.append("\x00\x00\x00\x01", 4);
        } else {
            uint32_t ip = 0;
            try {
                ip = WinsockResolveIPv4(targetAddr_);
            } catch (const std::exception& e) {
                return SocksError(20017, std::string("ESocketException ") + e.what());
            }
            m.append(reinterpret_cast<const char*>(&ip), 4);
        }
        m += SocksUsercode;
        m += '\0';
        if (socksLevel_ == "4A") {
            m += targetAddr_;
            m += '\0';
        }
    }
    SendNegotiation(m);
}

// ---- Replies --------------------------------------------------------------------------------

bool TCustomSocksNetSocket::TriggerDataAvailable(uint16_t ErrCode) {
    if (socksState_ == socksIdle) {
        // Bytes kept from the grant go first, announced as the socket's own.
        return TCustomHttpTunnelNetSocket::TriggerDataAvailable(ErrCode);
    }
    if (socksState_ == socksFailed) {
        // What a refusing server still sends is its own, never the target's data.
        char drop[256];
        if (TCustomHttpTunnelNetSocket::Receive(drop, sizeof(drop), 0) <= 0) SetLastError(-1);
        return true;
    }
    if (ErrCode != 0) {
        SocksError(ErrCode, "data receive error");
        return true;
    }
    // Never more than the reply buffer's free space, whatever the reply.
    const int n = TCustomHttpTunnelNetSocket::Receive(reply_ + fill_, int(kReplySize - fill_), 0);
    if (n <= 0) {
        SetLastError(-1);
        return true;
    }
    fill_ += size_t(n);
    // Each step may fire events: the loop goes on only while the attempt holds.
    const TFireWatch watch(*this);
    while (watch.Holds() && socksState_ != socksIdle && socksState_ != socksFailed && fill_ > 0) {
        const TSocksState before = socksState_;
        if (!HandleReply()) break;
        if (!watch.Holds() || socksState_ == socksIdle || socksState_ == before) break;
    }
    return true;
}

bool TCustomSocksNetSocket::HandleReply() {
    const bool level5 = socksLevel_ == "5";
    switch (socksState_) {
        case socksGreeting: {
            if (!level5) {
                SocksError(20001, "TNetSocket logic error");
                return false;
            }
            if (fill_ < 2) return false;
            if (reply_[0] != 5) {
                SocksError(20002, "socks version error");
                return false;
            }
            const uint8_t method = reply_[1];
            fill_ = 0;
            if (method == 0x00) {
                if (method_ == 0x02 && !TriggerSocksAuthState(socksAuthNotRequired)) return false;
                SocksDoConnect();
            } else if (method == 0x02 && method_ == 0x02) {
                // Only when offered: the credentials were checked against their length
                // bytes when the connection started.
                SocksDoAuthenticate();
            } else {
                SocksError(20003, "authentification method not acceptable");
                return false;
            }
            return true;
        }
        case socksAuthSent: {
            if (fill_ < 2) return false;
            if (reply_[0] != 1) {
                if (TriggerSocksAuthState(socksAuthFailure)) SocksError(20015, "socks authentication failed");
                return false;
            }
            if (fill_ > 2) {
                SocksError(20001, "too much data availaible");
                return false;
            }
            fill_ = 0;
            if (reply_[1] != 0) {
                if (TriggerSocksAuthState(socksAuthFailure)) SocksError(20015, "socks authentication failed");
                return false;
            }
            if (!TriggerSocksAuthState(socksAuthSuccess)) return false;
            SocksDoConnect();
            return true;
        }
        case socksRequestSent: {
            if (!level5) {
                if (fill_ < 8) return false;
                if (reply_[0] != 0) {
                    SocksError(20002, "socks version error");
                    return false;
                }
                switch (reply_[1]) {
                    case 90: SocksGranted(8); return true;
                    case 91: SocksError(20016, "request rejected or failed"); return false;
                    case 92: SocksError(20008, "connection refused"); return false;
                    case 93: SocksError(20015, "authentification failed"); return false;
                    default: SocksError(20012, "unassigned error #" + std::to_string(reply_[1])); return false;
                }
            }
            if (reply_[0] != 5) {
                SocksError(20002, "socks version error");
                return false;
            }
            if (fill_ < 2) return false;
            static const char* const kTexts[] = {
                "general SOCKS server failure", "connection not allowed by ruleset", "network unreachable",
                "host unreachable",             "connection refused",                "time to live expired",
                "command not supported",        "address type not supported"};
            const uint8_t code = reply_[1];
            if (code >= 1 && code <= 8) {
                SocksError(20003 + code, kTexts[code - 1]);
                return false;
            }
            if (code != 0) {
                SocksError(20012, "unassigned error #" + std::to_string(code));
                return false;
            }
            if (fill_ < 5) return false;
            size_t need;
            switch (reply_[3]) {
                case 1: need = 10; break;
                case 3: need = 7 + size_t(reply_[4]); break;
                case 4: need = 22; break;
                default: SocksError(20011, "address type not supported"); return false;
            }
            if (fill_ < need) return false;
            if (reply_[3] == 1) {
                uint32_t ip;
                std::memcpy(&ip, reply_ + 4, 4);
                boundAddr_ = IPv4ToText(ip);
            } else if (reply_[3] == 3) {
                boundAddr_.assign(reinterpret_cast<const char*>(reply_ + 5), reply_[4]);
            } else {
                TSockAddrIn6 a{};
                a.sin6_family = AF_INET6;
                std::memcpy(a.sin6_addr.s6_addr, reply_ + 4, 16);
                boundAddr_ = SockAddr6ToText(a);
            }
            boundPort_ = std::to_string((unsigned(reply_[need - 2]) << 8) | reply_[need - 1]);
            SocksGranted(need);
            return true;
        }
        default: SocksError(20013, "internal error"); return false;
    }
}

void TCustomSocksNetSocket::SocksStateChange(TSocksState NewState) {
    socksState_ = NewState;
    switch (NewState) {
        case socksGreeting:
            // A new negotiation: nothing of an earlier one's reply or grant is left.
            fill_ = 0;
            after_.clear();
            afterOffset_ = 0;
            boundAddr_.clear();
            boundPort_.clear();
            return;
        case socksAuthSent: return;
        case socksRequestSent:
            // The reply to the request starts the buffer.
            fill_ = 0;
            return;
        case socksIdle:
        case socksFailed:
            // Granted (what followed the reply was taken before) or ended: the reply is done.
            fill_ = 0;
            return;
    }
}

void TCustomSocksNetSocket::SocksGranted(size_t ReplyLen) {
    after_.assign(reinterpret_cast<const char*>(reply_) + ReplyLen, fill_ - ReplyLen);
    afterOffset_ = 0;
    SocksStateChange(socksIdle);
    // Through every layer above: for them and the owner the session starts now.
    if (!Fired([&] { TransportConnected(0); })) return;
    if (afterOffset_ < after_.size() && HSocket() != INVALID_SOCKET && State() == wsConnected)
        PostMessageA(WindowHandle(), idSocketEvent_, WPARAM(HSocket()), MAKELONG(FD_READ, 0));
}

void TCustomSocksNetSocket::SocksError(int Code, const std::string& Msg) {
    // The attempt failed here, once: a close made while the owner hears of it (an Abort in
    // the handler) is not reported as another failure of the same attempt.
    SocksStateChange(socksFailed);
    if (!TriggerSocksError(uint16_t(Code), Msg)) return;
    if (!Fired([&] { TransportConnected(uint16_t(Code)); }) || inClosed_) return;
    if (HSocket() != INVALID_SOCKET) ShutdownAndClose(true, uint16_t(Code));
}

void TCustomSocksNetSocket::SetDefaults() {
    // A refusal lasts as long as its connection.
    if (socksState_ == socksFailed) SocksStateChange(socksIdle);
    TCustomHttpTunnelNetSocket::SetDefaults();
}

void TCustomSocksNetSocket::TriggerSessionClosed(uint16_t ErrCode) {
    if (socksState_ != socksIdle && socksState_ != socksFailed) {
        // The server closed during the negotiation: the attempt fails with it.
        const TFireWatch watch(*this);
        inClosed_ = true;
        if (socksState_ != socksAuthSent || TriggerSocksAuthState(socksAuthFailure))
            SocksError(20004, SocksErrorText(20004));
        if (!watch.Alive()) return;
        inClosed_ = false;
        if (!watch.Holds()) return;
        if (socksState_ == socksFailed) SocksStateChange(socksIdle);
    }
    TCustomHttpTunnelNetSocket::TriggerSessionClosed(ErrCode);
}

// ---- Reading --------------------------------------------------------------------------------

int TCustomSocksNetSocket::Receive(void* Buffer, int Size, int Flags) {
    if (socksState_ == socksIdle && afterOffset_ < after_.size()) {
        const int n = TakeBuffered(Buffer, Size, Flags, after_, afterOffset_);
        if (!(Flags & MSG_PEEK)) taken_ += n;
        return n;
    }
    return TCustomHttpTunnelNetSocket::Receive(Buffer, Size, Flags);
}

int TCustomSocksNetSocket::PendingReceiveCount() {
    if (socksState_ == socksIdle && afterOffset_ < after_.size()) return int(after_.size() - afterOffset_);
    return TCustomHttpTunnelNetSocket::PendingReceiveCount();
}

// ---- Events ---------------------------------------------------------------------------------

bool TCustomSocksNetSocket::TriggerSocksConnected(uint16_t ErrCode) {
    return FireEvent(OnSocksConnected, this, ErrCode);
}

bool TCustomSocksNetSocket::TriggerSocksError(uint16_t ErrCode, const std::string& Msg) {
    return FireEvent(OnSocksError, this, ErrCode, Msg);
}

bool TCustomSocksNetSocket::TriggerSocksAuthState(TSocksAuthState AuthState) {
    return FireEvent(OnSocksAuthState, this, AuthState);
}
