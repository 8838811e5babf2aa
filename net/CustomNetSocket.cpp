#include "net/CustomNetSocket.h"

#include <mstcpip.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "framework/Handles.h"
#include "net/InetAsyncDns.h"
#include "net/InetIdn.h"
#include "net/InetSocketErrors.h"
#include "net/InetUtils.h"
#include "net/InetWinsock.h"

using framework::TMessage;

namespace {

// Result buffers of the library's asynchronous host look-ups, one per request. The library
// may still write into a buffer after its request was cancelled, so a cancelled buffer is
// kept until its result message is seen or long after any look-up can have ended; it never
// lives in a socket that may be gone by then.
struct LibraryLookups {
    struct Entry {
        std::unique_ptr<char[]> buffer;
        bool orphaned = false;
        uint32_t orphanTick = 0;
    };
    TInetCriticalSection cs;
    std::map<HANDLE, Entry> entries;

    static constexpr uint32_t kOrphanLifeMs = 5 * 60 * 1000;

    void Sweep() {
        const uint32_t now = InetTickCount();
        for (auto it = entries.begin(); it != entries.end();) {
            if (it->second.orphaned && InetTickDiff(it->second.orphanTick, now) > kOrphanLifeMs)
                it = entries.erase(it);
            else
                ++it;
        }
    }
};
LibraryLookups& Lookups() {
    static LibraryLookups* l = new LibraryLookups;
    return *l;
}
constexpr int kHostEntrySize = MAXGETHOSTSTRUCT;  // 1024: the library's own bound
// Longest run of one receive loop before the thread goes back to its other messages.
constexpr uint32_t kReceiveSliceMs = 20;

// The send queue's lock for one scope, released on every way out.
using TSendQueueLock = framework::ScopedLock<TInetBufferHandler>;

bool IsAnyAddress(const std::string& A) { return A.empty() || A == "0.0.0.0" || A == "::"; }

}  // namespace

// ---- Counter --------------------------------------------------------------------------------

void TNetSocketCounter::SetConnected() {
    sendTick_ = recvTick_ = 0;
    startTick_ = InetTickCount();
    startDate_ = InetNow();
}

uint32_t TNetSocketCounter::LatestActivityTick() const { return LatestActivityTick(InetTickCount()); }

uint32_t TNetSocketCounter::LatestActivityTick(uint32_t Now) const {
    // The tick counter wraps every 49.7 days: the latest tick is the one least far behind
    // Now, not the largest value. A tick of 0 means "none yet".
    uint32_t best = startTick_;
    for (uint32_t t : {sendTick_, recvTick_}) {
        if (t == 0) continue;
        if (best == 0 || InetTickDiff(t, Now) < InetTickDiff(best, Now)) best = t;
    }
    return best;
}

// ---- Construction ---------------------------------------------------------------------------

TCustomNetSocket::TCustomNetSocket(framework::TComponent* Owner) : TInetWndControl(Owner) {
    AllocateSocketWindow();
    sendQueue_.BufSize = 1460;
    ActivityCounterClass = [] { return std::make_unique<TNetSocketCounter>(); };
    CreateCounter();
    SetDefaults();
    IncrementInUse();
    inUseCounted_ = true;
}

TCustomNetSocket::~TCustomNetSocket() { DisposeSocket(); }

void TCustomNetSocket::DisposeSocket() {
    if (disposing_) return;
    disposing_ = true;
    MarkDestroying();
    try {
        CancelLookup(false);
    } catch (...) {
    }
    ReleaseDnsPool();
    StopFlushTimer();
    if (state_ != wsInvalidState) {
        try {
            if (hSocket_ != INVALID_SOCKET || state_ != wsClosed) ShutdownAndClose(true, 0);
        } catch (...) {
        }
    }
    // A handle taken while closed (Dup freed from a handler before it adopted it) is ours too.
    if (hSocket_ != INVALID_SOCKET) {
        Winsock::closesocket(hSocket_);
        hSocket_ = INVALID_SOCKET;
    }
    flushTimer_.reset();
    if (inUseCounted_) {
        inUseCounted_ = false;
        DecrementInUse();
    }
    BeginDestroy();
}

void TCustomNetSocket::TakeMessageIds() {
    TInetWndControl::TakeMessageIds();
    idSocketEvent_ = HandlerRef()->ClaimMessageId(this);
    idLookupDone_ = HandlerRef()->ClaimMessageId(this);
    idReverseDone_ = HandlerRef()->ClaimMessageId(this);
    idCloseLater_ = HandlerRef()->ClaimMessageId(this);
    idTestException_ = HandlerRef()->ClaimMessageId(this);
    idDataRetrigger_ = HandlerRef()->ClaimMessageId(this);
    idSendFailed_ = HandlerRef()->ClaimMessageId(this);
}

void TCustomNetSocket::ReturnMessageIds() {
    HandlerRef()->FreeMessageId(idSendFailed_);
    HandlerRef()->FreeMessageId(idDataRetrigger_);
    HandlerRef()->FreeMessageId(idTestException_);
    HandlerRef()->FreeMessageId(idCloseLater_);
    HandlerRef()->FreeMessageId(idReverseDone_);
    HandlerRef()->FreeMessageId(idLookupDone_);
    HandlerRef()->FreeMessageId(idSocketEvent_);
    TInetWndControl::ReturnMessageIds();
}

void TCustomNetSocket::CreateCounter() {
    counter_.reset();
    counter_ = ActivityCounterClass ? ActivityCounterClass() : std::make_unique<TNetSocketCounter>();
}

void TCustomNetSocket::SetDefaults() {
    InitSockAddr(peerSockAddr_, socketFamily_);
    protoGiven_ = true;
    protoKnown_ = portGiven_ = portKnown_ = addrGiven_ = addrKnown_ = localPortKnown_ = false;
    protoNumber_ = IPPROTO_TCP;
    proto_ = "tcp";
    sockKind_ = SOCK_STREAM;
    localPort_ = "0";
    localAddr6_ = "::";
    localAddr_ = "0.0.0.0";
    LingerOnOff = wsLingerOn;
    LingerTimeout = 0;
    hSocket_ = INVALID_SOCKET;
    eventMask_ = 0;
    state_ = wsClosed;
    sendQueueEmpty_ = true;
    eventsPaused_ = closedFired_ = connectDnsPending_ = false;
    closePending_ = false;
    closeReportPosted_ = false;
    sendFailure_ = 0;
    FlushTimeout = 60;
    peerAddrText_.clear();
    hostAscii_.clear();
}

// ---- Properties -----------------------------------------------------------------------------

void TCustomNetSocket::SetAddr(const std::string& Value) {
    if (state_ != wsClosed) {
        RaiseSocketErrorMsg("Cannot change Addr if not closed");
        return;
    }
    const std::string v = InetTrimBlanks(Value);
    if (v == addr_ && addrGiven_ == !v.empty()) return;
    addr_ = v;
    addrGiven_ = !v.empty();
    addrKnown_ = false;
    TSocketFamily kind;
    if (IPLiteralKind(v, kind)) {
        if (kind == sfIPv4)
            socketFamily_ = sfIPv4;
        else
            socketFamily_ = HasIPv6Api() ? sfIPv6 : savedSocketFamily_;
    } else {
        socketFamily_ = savedSocketFamily_;
    }
}

// Port and protocol texts change only while closed; a new text is resolved again on use.
void TCustomNetSocket::SetServiceText(const char* What, const std::string& Value, std::string& Text,
                                      bool& Given, bool& Known) {
    if (state_ != wsClosed) {
        RaiseSocketErrorMsg(std::string("Cannot change ") + What + " if not closed");
        return;
    }
    const std::string v = InetTrimBlanks(Value);
    if (v == Text && Given == !v.empty()) return;
    Text = v;
    Given = !v.empty();
    Known = false;
}

void TCustomNetSocket::SetPort(const std::string& Value) { SetServiceText("Port", Value, port_, portGiven_, portKnown_); }

void TCustomNetSocket::ReplaceEndpoint(const std::string& Addr, const std::string& Port) {
    const TSocketState saved = state_;
    state_ = wsClosed;
    SetAddr(Addr);
    SetPort(Port);
    state_ = saved;
}

void TCustomNetSocket::SetProto(const std::string& Value) {
    SetServiceText("Proto", Value, proto_, protoGiven_, protoKnown_);
}

void TCustomNetSocket::SetLocalAddr(const std::string& Value) {
    if (state_ != wsClosed) return RaiseSocketErrorMsg("Cannot change LocalAddr if not closed");
    localAddr_ = InetTrimBlanks(Value);
    if (localAddr_.empty()) localAddr_ = "0.0.0.0";
}

void TCustomNetSocket::SetLocalAddr6(const std::string& Value) {
    if (state_ != wsClosed) return RaiseSocketErrorMsg("Cannot change LocalAddr6 if not closed");
    localAddr6_ = InetTrimBlanks(Value);
    if (localAddr6_.empty()) localAddr6_ = "::";
}

void TCustomNetSocket::SetLocalPort(const std::string& Value) {
    if (state_ != wsClosed) return RaiseSocketErrorMsg("Cannot change LocalPort if not closed");
    localPort_ = InetTrimBlanks(Value);
    localPortKnown_ = false;
}

void TCustomNetSocket::SetSocketFamily(TSocketFamily Value) {
    if (state_ != wsClosed || pendingLookup_)
        return RaiseSocketErrorMsg("Cannot change SocketFamily when not closed or in DNS lookup");
    if (Value != sfIPv4 && !HasIPv6Api()) Value = sfIPv4;
    socketFamily_ = savedSocketFamily_ = Value;
    InitSockAddr(peerSockAddr_, socketFamily_);
    addrKnown_ = false;
}

void TCustomNetSocket::SetSendFlags(int Value) {
    if (Value != wsSendNormal && Value != wsSendUrgent) return RaiseSocketErrorMsg("Invalid SendFlags");
    sendFlags_ = TSocketSendFlags(Value);
}

uint8_t TCustomNetSocket::ReqVerLow() const { return WinsockReqVerLow(); }
void TCustomNetSocket::SetReqVerLow(uint8_t Value) { SetWinsockReqVerLow(Value); }
uint8_t TCustomNetSocket::ReqVerHigh() const { return WinsockReqVerHigh(); }
void TCustomNetSocket::SetReqVerHigh(uint8_t Value) { SetWinsockReqVerHigh(Value); }

void TCustomNetSocket::SetBufSize(int32_t Size) {
    TSendQueueLock lock(sendQueue_);
    sendQueue_.BufSize = Size <= 0 ? 1460 : Size;
}

int32_t TCustomNetSocket::GetBufSize() { return sendQueue_.BufSize; }

void TCustomNetSocket::SetSocketRcvBufSize(int Size) {
    if (hSocket_ != INVALID_SOCKET &&
        WinsockSetSockOpt(hSocket_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&Size), sizeof(Size)) != 0)
        return RaiseLastSocketError("setsockopt(SO_RCVBUF)");
    systemRecvBufSize_ = Size;
}

void TCustomNetSocket::SetSocketSndBufSize(int Size) {
    if (hSocket_ != INVALID_SOCKET &&
        WinsockSetSockOpt(hSocket_, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&Size), sizeof(Size)) != 0)
        return RaiseLastSocketError("setsockopt(SO_SNDBUF)");
    systemSendBufSize_ = Size;
}

// ---- Errors ---------------------------------------------------------------------------------

void TCustomNetSocket::RaiseLastSocketError(const std::string& Msg, int ErrCode, const std::string& UserText) {
    const int code = ErrCode == 0 ? WinsockGetLastError() : ErrCode;
    const std::string text = SocketErrorText(code);
    const std::string message = SocketErrs == wsErrFriendly
                                    ? text + " in " + Msg
                                    : text + " (#" + std::to_string(code) + " in " + Msg + ")";
    if ((code == WSAECONNRESET || code == WSAENOTCONN) && hSocket_ != INVALID_SOCKET) {
        Winsock::closesocket(hSocket_);
        hSocket_ = INVALID_SOCKET;
        NewWork();
        if (!PurgeSocketEvents()) return;
        if (!closedFired_) {
            closedFired_ = true;
            if (!Fired([&] { TriggerSessionClosed(uint16_t(code)); })) return;
        }
        if (!Fired([&] { ChangeState(wsClosed); })) return;
    }
    lastError_ = code;
    RaiseSocketError(message, code, proto_, port_, addr_, Msg, UserText, text);
}

void TCustomNetSocket::RaiseSocketError(const std::string& Msg, int ErrCode, const std::string& ProtocolText,
                                        const std::string& PortText, const std::string& AddressText,
                                        const std::string& OperationName, const std::string& UserText,
                                        const std::string& ErrorText) {
    if (OnError) {
        TriggerError();
        return;
    }
    ESocketException e(SocketErrs == wsErrFriendly && !UserText.empty() ? UserText : Msg, ProtocolText, PortText,
                       AddressText, OperationName, UserText, ErrorText, ErrCode);
    if (onException) {
        TriggerException(e);
        return;
    }
    throw e;
}

void TCustomNetSocket::RaiseSocketErrorMsg(const std::string& Msg) { RaiseSocketError(Msg, 0, "", "", "", "", "", ""); }

// The triggers fire and return; a caller that goes on afterwards asks Fired.
void TCustomNetSocket::TriggerError() { (void)FireEvent(OnError, this); }

void TCustomNetSocket::TriggerException(ESocketException& E) { (void)FireEvent(onException, this, E); }

void TCustomNetSocket::AbortAfterException(const std::exception& E) {
    try {
        Abort();
    } catch (...) {
    }
    TInetWndControl::AbortAfterException(E);
}

// ---- Events ---------------------------------------------------------------------------------

void TCustomNetSocket::ChangeState(TSocketState NewState) {
    const TSocketState old = state_;
    state_ = NewState;
    if (old != NewState) TriggerChangeState(old, NewState);
}

void TCustomNetSocket::TriggerChangeState(TSocketState OldState, TSocketState NewState) {
    // Not from the destructor: what the handler captured may already be gone.
    if (!disposing_) (void)FireEvent(OnChangeState, this, OldState, NewState);
}

void TCustomNetSocket::TriggerSendData(int Count) { (void)FireEvent(OnSendData, this, Count); }

bool TCustomNetSocket::TriggerDataAvailable(uint16_t ErrCode) {
    if (!OnDataAvailable) return false;
    (void)FireEvent(OnDataAvailable, this, ErrCode);
    return true;
}

void TCustomNetSocket::TriggerSessionAvailable(uint16_t ErrCode) { (void)FireEvent(OnSessionAvailable, this, ErrCode); }

void TCustomNetSocket::TransportConnected(uint16_t ErrCode) {
    if (sockKind_ == SOCK_STREAM && ErrCode == 0 && counter_) counter_->SetConnected();
    TriggerSessionConnected(ErrCode);
}

void TCustomNetSocket::TriggerSessionConnected(uint16_t ErrCode) {
    bytesReceived_ = 0;
    bytesSent_ = 0;
    (void)FireEvent(OnSessionConnected, this, ErrCode);
}

void TCustomNetSocket::TriggerSessionClosed(uint16_t ErrCode) { (void)FireEvent(OnSessionClosed, this, ErrCode); }

void TCustomNetSocket::TriggerDataSent(uint16_t ErrCode) { (void)FireEvent(OnDataSent, this, ErrCode); }

void TCustomNetSocket::TriggerDNSLookupDone(uint16_t ErrCode) {
    // A handler that aborted, restarted or freed the socket ends the connect's continuation.
    if (!FireEvent(OnDnsLookupDone, this, ErrCode)) return;
    if (!connectDnsPending_) return;
    connectDnsPending_ = false;
    if (ErrCode != 0) {
        // The attempt is over: one report of it.
        NewWork();
        if (Fired([&] { ChangeState(wsClosed); })) TriggerSessionConnected(ErrCode);
        return;
    }
    const TFireWatch watch(*this);
    auto savedOnError = OnError;
    OnError = nullptr;
    try {
        const uint16_t port = peerSockAddr_.sin6_port;
        if (socketFamily_ == sfIPv4) {
            InitSockAddr(peerSockAddr_, sfIPv4);
            reinterpret_cast<sockaddr_in*>(&peerSockAddr_)->sin_addr.s_addr = WinsockResolveIPv4(lookupResult_);
        } else {
            WinsockResolveHost(lookupResult_, peerSockAddr_, socketFamily_, protoNumber_);
        }
        peerSockAddr_.sin6_port = port;
        addrKnown_ = true;
        Connect();
    } catch (const std::exception& e) {
        if (!watch.Alive()) return;
        OnError = savedOnError;
        // Without a handle the abort that follows reports nothing: the owner, who asked for
        // a connection, hears that it failed, as after a failed look-up.
        const bool opened = hSocket_ != INVALID_SOCKET;
        // The abort that follows the exception is the socket's own; a handler's new connect
        // (a look-up again) is left alone.
        HandleBgException(e, "TCustomNetSocket.TriggerDNSLookupDone");
        if (watch.Alive() && !opened && hSocket_ == INVALID_SOCKET && !connectDnsPending_ && state_ != wsConnected) {
            NewWork();
            if (state_ != wsClosed && !Fired([&] { ChangeState(wsClosed); })) return;
            TriggerSessionConnected(uint16_t(lastError_ != 0 ? lastError_ : WSAEINVAL));
        }
        return;
    }
    if (watch.Alive()) OnError = savedOnError;
}

// ---- Connecting -----------------------------------------------------------------------------

void TCustomNetSocket::SelectEvents(long Mask) {
    if (Winsock::WSAAsyncSelect(hSocket_, WindowHandle(), idSocketEvent_, Mask) != 0) RaiseLastSocketError("WSAAsyncSelect");
}

bool TCustomNetSocket::PurgeSocketEvents() { return PurgeQueuedEvents(idSocketEvent_); }

bool TCustomNetSocket::PurgeQueuedEvents(UINT Id) {
    // PeekMessage first runs every message another thread sent to this thread, whatever the
    // filter: any handler may run here, free this socket or change its handle. None may run
    // inside the destructor: there the ids go with the window, and their messages with them.
    HWND wnd = WindowHandle();
    if (!wnd || !Id || disposing_) return true;
    // What the socket posted itself for the id goes too.
    HandlerRef()->DropPosted(Id);
    const TFireWatch watch(*this);
    const SOCKET handle = hSocket_;
    const uint32_t gen = connGen_;
    MSG m;
    while (PeekMessageA(&m, wnd, Id, Id, PM_REMOVE | PM_NOYIELD | PM_QS_POSTMESSAGE)) {
        if (!watch.Alive()) return false;
    }
    return watch.Holds() && hSocket_ == handle && connGen_ == gen;
}

const char* TCustomNetSocket::ReadSystemBufSizes() {
    int size = 0, len = sizeof(size);
    if (WinsockGetSockOpt(hSocket_, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&size), &len) != 0)
        return "getsockopt(SO_SNDBUF)";
    systemSendBufSize_ = size;
    len = sizeof(size);
    if (WinsockGetSockOpt(hSocket_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&size), &len) != 0)
        return "getsockopt(SO_RCVBUF)";
    systemRecvBufSize_ = size;
    return nullptr;
}

void TCustomNetSocket::ApplyLinger(bool ForAbort) {
    // {on, 0} resets the connection and drops what the system still holds, so only Abort
    // uses it; a plain close keeps the system's graceful default.
    linger l{};
    if (ForAbort) {
        l.l_onoff = 1;
        l.l_linger = 0;
    } else if (LingerOnOff == wsLingerNoSet || (LingerOnOff == wsLingerOn && LingerTimeout <= 0)) {
        return;
    } else {
        l.l_onoff = LingerOnOff == wsLingerOn ? 1 : 0;
        l.l_linger = u_short(std::clamp(LingerTimeout, 0, 65535));
    }
    if (WinsockSetSockOpt(hSocket_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof(l)) != 0 &&
        !ForAbort)
        RaiseLastSocketError("setsockopt(SO_LINGER)");
}

void TCustomNetSocket::ResolveConnectTarget() {
    if (!protoKnown_) {
        protoNumber_ = WinsockResolveProto(proto_);
        sockKind_ = protoNumber_ == IPPROTO_TCP ? SOCK_STREAM : protoNumber_ == IPPROTO_UDP ? SOCK_DGRAM : SOCK_RAW;
        protoKnown_ = true;
    }
    if (!portKnown_) {
        portNumber_ = WinsockResolvePort(port_, proto_);
        portKnown_ = true;
    }
    peerSockAddr_.sin6_port = Winsock::htons(portNumber_);
    if (!localPortKnown_) {
        localPortNumber_ = WinsockResolvePort(localPort_.empty() ? "0" : localPort_, proto_);
        localPortKnown_ = true;
    }
}

// Connecting in steps: check, resolve, open, the options of the socket kind, start. Each
// step returns false when it ended Connect (an error reported, a look-up started, or the
// socket freed by a handler).
void TCustomNetSocket::Connect() {
    lastError_ = 0;
    if ((hSocket_ != INVALID_SOCKET && state_ != wsClosed && state_ != wsDnsLookup) || connectDnsPending_ ||
        closePending_)
        return RaiseSocketErrorMsg("Connect: Socket already in use");
    if (!portGiven_) return RaiseSocketErrorMsg("Connect: No Port Specified");
    if (!addrGiven_) return RaiseSocketErrorMsg("Connect: No IP Address Specified");
    if (!protoGiven_) return RaiseSocketErrorMsg("Connect: No Protocol Specified");
    NewWork();
    const TFireWatch watch(*this);
    if (!ConnectResolve() || !watch.Holds()) return;
    if (!ConnectOpen() || !watch.Holds()) return;
    const bool ok = sockKind_ == SOCK_DGRAM ? ConnectDatagramOptions() : ConnectStreamOptions();
    if (!ok || !watch.Holds()) return;
    ConnectStart();
}

bool TCustomNetSocket::ConnectResolve() {
    try {
        ResolveConnectTarget();
    } catch (const ESocketException& e) {
        RaiseSocketErrorMsg(std::string("connect: ") + e.what());
        return false;
    }
    if (addrKnown_) return true;
    // A literal address needs nobody's answer: only names are looked up (a proxy layer
    // puts its proxy's literal here and must not meet its own Connect again).
    TSocketFamily literalKind;
    const bool literal = IsDottedIPv4(addr_) || IPLiteralKind(InetTrimBlanks(addr_), literalKind);
    if (ComponentOptions.Has(wsoAsyncDnsLookup) && !literal) {
        auto savedOnError = OnError;
        OnError = nullptr;
        const TFireWatch watch(*this);
        try {
            // A handler may free, abort or restart the socket as it enters the look-up.
            if (Fired([&] { ChangeState(wsDnsLookup); })) {
                // Set first: a literal completes inside the call and must go on connecting.
                connectDnsPending_ = true;
                DnsLookupTcp(addr_);
            }
        } catch (...) {
            if (watch.Alive()) OnError = savedOnError;
            throw;
        }
        if (watch.Alive()) OnError = savedOnError;
        return false;
    }
    try {
        std::string host;
        if (ComponentOptions.Has(wsoIgnoreIDNA)) {
            host = InetTrimBlanks(addr_);
        } else {
            bool bad = false;
            host = InetHostToAsciiEx(InetTrimBlanks(addr_), ComponentOptions.Has(wsoUseSTD3AsciiRules), bad);
            if (bad) {
                RaiseSocketErrorMsg("Connect: Invalid Host Name Specified");
                return false;
            }
        }
        hostAscii_ = host;
        const uint16_t port = peerSockAddr_.sin6_port;
        if (socketFamily_ == sfIPv4) {
            InitSockAddr(peerSockAddr_, sfIPv4);
            reinterpret_cast<sockaddr_in*>(&peerSockAddr_)->sin_addr.s_addr = WinsockResolveIPv4(host);
        } else {
            WinsockResolveHost(host, peerSockAddr_, socketFamily_, protoNumber_);
        }
        peerSockAddr_.sin6_port = port;
    } catch (const std::exception& e) {
        RaiseSocketErrorMsg(std::string("connect: ") + e.what());
        return false;
    }
    addrKnown_ = true;
    return true;
}

bool TCustomNetSocket::ConnectOpen() {
    const int af = peerSockAddr_.sin6_family;
    peerAddrText_ = af == AF_INET6 ? SockAddr6ToText(peerSockAddr_)
                                   : IPv4ToText(reinterpret_cast<sockaddr_in*>(&peerSockAddr_)->sin_addr.s_addr);
    {
        TSendQueueLock lock(sendQueue_);
        sendQueue_.RecycleAll();
        queuedBytes_ = 0;
    }
    hSocket_ = Winsock::socket(af, sockKind_, protoNumber_);
    if (hSocket_ == INVALID_SOCKET) {
        RaiseLastSocketError("Connect (socket)");
        return false;
    }
    ++connGen_;
    closeReportPosted_ = false;
    // A connection made from the close handler of the previous one has its own close.
    closedFired_ = false;
    if (const char* failed = ReadSystemBufSizes()) {
        // Still closed as far as Close knows: the handle would outlive the component.
        const int err = WinsockGetLastError();
        Winsock::closesocket(hSocket_);
        hSocket_ = INVALID_SOCKET;
        RaiseLastSocketError(failed, err);
        return false;
    }
    const uint32_t gen = connGen_;
    const TFireWatch watch(*this);
    ChangeState(wsOpened);
    if (!watch.Alive()) return false;
    // A handler that connected anew has that connection going; one that only moved the
    // state spoilt this one.
    if (connGen_ != gen || connectDnsPending_) return false;
    if (state_ != wsOpened) {
        RaiseLastSocketError("Connect (Invalid operation in OnChangeState)", WSAEINVAL);
        return false;
    }
    return watch.Holds();
}

bool TCustomNetSocket::ConnectDatagramOptions() {
    const int af = peerSockAddr_.sin6_family;
    const BOOL on = TRUE;
    BindLocal();
    if (hSocket_ == INVALID_SOCKET || lastError_ != 0) return false;
    if (MultiCast && MultiCastIpTTL != 1) {
        const int ttl = MultiCastIpTTL;
        const int level = af == AF_INET6 ? IPPROTO_IPV6 : IPPROTO_IP;
        if (WinsockSetSockOpt(hSocket_, level, 10, reinterpret_cast<const char*>(&ttl), sizeof(ttl)) != 0) {
            RaiseLastSocketError("setsockopt(IP_MULTICAST_TTL)");
            return false;
        }
    }
    // Multicast leaves through the interface of the local address the socket was bound to.
    if (!IsAnyAddress(af == AF_INET6 ? localAddr6_ : localAddr_)) {
        int rc;
        if (af == AF_INET6) {
            const DWORD index = 0;
            rc = WinsockSetSockOpt(hSocket_, IPPROTO_IPV6, 9, reinterpret_cast<const char*>(&index), sizeof(index));
        } else {
            TSockAddrIn6 local;
            int len = sizeof(local);
            rc = Winsock::getsockname(hSocket_, reinterpret_cast<sockaddr*>(&local), &len);
            if (rc == 0) {
                const in_addr ifaddr = reinterpret_cast<sockaddr_in*>(&local)->sin_addr;
                rc = WinsockSetSockOpt(hSocket_, IPPROTO_IP, 9, reinterpret_cast<const char*>(&ifaddr),
                                       sizeof(ifaddr));
            }
        }
        if (rc != 0) {
            RaiseLastSocketError("setsockopt(IP_MULTICAST_IF)");
            return false;
        }
    }
    const uint8_t* a6 = peerSockAddr_.sin6_addr.s6_addr;
    const bool broadcast = af == AF_INET
                               ? reinterpret_cast<sockaddr_in*>(&peerSockAddr_)->sin_addr.s_addr == INADDR_BROADCAST
                               : a6[0] == 0xFF;
    if (broadcast &&
        WinsockSetSockOpt(hSocket_, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof(on)) != 0) {
        RaiseLastSocketError("setsockopt(SO_BROADCAST)");
        return false;
    }
    eventMask_ = FD_READ | FD_WRITE;
    return true;
}

bool TCustomNetSocket::ConnectStreamOptions() {
    const int af = peerSockAddr_.sin6_family;
    const BOOL on = TRUE;
    auto fail = [&](const char* What) {
        RaiseLastSocketError(What);
        return false;
    };
    if (WinsockSetSockOpt(hSocket_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof(on)) != 0)
        return fail("setsockopt(SO_REUSEADDR)");
    if (ComponentOptions.Has(wsoTcpNoDelay) &&
        WinsockSetSockOpt(hSocket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on)) != 0)
        return fail("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
    ApplyLinger(false);
    if (hSocket_ == INVALID_SOCKET) return false;
    if (KeepAliveOnOff == wsKeepAliveOnSystem) {
        if (WinsockSetSockOpt(hSocket_, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof(on)) != 0)
            return fail("setsockopt(SO_KEEPALIVE)");
    } else if (KeepAliveOnOff == wsKeepAliveOnCustom) {
        tcp_keepalive ka{1, ULONG(KeepAliveTime), ULONG(KeepAliveInterval)};
        DWORD returned = 0;
        if (WinsockIoctl(hSocket_, SIO_KEEPALIVE_VALS, &ka, sizeof(ka), nullptr, 0, &returned, nullptr, nullptr) != 0)
            return fail("NetSocket_WSAIoctl(SIO_KEEPALIVE_VALS)");
    }
    if (localPortNumber_ != 0 || !IsAnyAddress(af == AF_INET6 ? localAddr6_ : localAddr_)) {
        BindLocal();
        if (hSocket_ == INVALID_SOCKET) return false;
    }
    eventMask_ = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
    return true;
}

void TCustomNetSocket::ConnectStart() {
    const TFireWatch watch(*this);
    if (ComponentOptions.Has(wsoNotifyAddressListChange)) eventMask_ |= FD_ADDRESS_LIST_CHANGE;
    if (ComponentOptions.Has(wsoNotifyRoutingInterfaceChange)) eventMask_ |= FD_ROUTING_INTERFACE_CHANGE;
    // Whatever an earlier handle left queued goes before the new one is selected.
    const SOCKET handle = hSocket_;
    if (!PurgeSocketEvents()) return;
    SelectEvents(eventMask_);
    if (!watch.Holds() || hSocket_ != handle) return;
    if (ComponentOptions.Has(wsoNotifyAddressListChange)) SetAddressListNotification();
    if (ComponentOptions.Has(wsoNotifyRoutingInterfaceChange)) SetRoutingNotification();
    if (!watch.Holds() || hSocket_ != handle) return;

    if (sockKind_ == SOCK_DGRAM) {
        if (Fired([&] { ChangeState(wsConnected); })) TransportConnected(0);
        return;
    }
    if (Winsock::connect(hSocket_, reinterpret_cast<sockaddr*>(&peerSockAddr_), SockAddrLen(peerSockAddr_)) != 0) {
        const int err = WinsockGetLastError();
        if (err != WSAEWOULDBLOCK) {
            lastError_ = err;
            return RaiseLastSocketError("Connect", err);
        }
    }
    ChangeState(wsConnecting);
}

void TCustomNetSocket::BindLocal() {
    TSockAddrIn6 local;
    const bool v6 = peerSockAddr_.sin6_family == AF_INET6;
    const std::string& la = v6 ? localAddr6_ : localAddr_;
    try {
        InitSockAddr(local, v6 ? sfIPv6 : sfIPv4);
        if (!IsAnyAddress(la)) WinsockResolveHost(la, local, v6 ? sfIPv6 : sfIPv4, protoNumber_);
        if (!localPortKnown_) {
            localPortNumber_ = WinsockResolvePort(localPort_.empty() ? "0" : localPort_, proto_);
            localPortKnown_ = true;
        }
    } catch (const std::exception& e) {
        return RaiseSocketErrorMsg(std::string("Bind socket failed - ") + e.what());
    }
    local.sin6_port = Winsock::htons(localPortNumber_);
    if (Winsock::bind(hSocket_, reinterpret_cast<sockaddr*>(&local), SockAddrLen(local)) != 0) {
        const int err = WinsockGetLastError();
        lastError_ = err;
        const std::string friendly = (err == WSAEADDRINUSE || err == WSAEACCES)
                                         ? "Another client is using address " + la + ":" + localPort_
                                         : "";
        return RaiseSocketError("Bind socket failed - " + SocketErrorTextWithCode(err), err, proto_, port_, addr_,
                                "Bind Socket", friendly, "");
    }
    int len = sizeof(local);
    if (Winsock::getsockname(hSocket_, reinterpret_cast<sockaddr*>(&local), &len) != 0)
        return RaiseSocketErrorMsg("Winsock get socket name failed - " + SocketErrorTextWithCode(WinsockGetLastError()));
    localPortNumber_ = Winsock::ntohs(local.sin6_port);
    localPort_ = std::to_string(localPortNumber_);
}

void TCustomNetSocket::Listen() {
    if (!portGiven_) return RaiseLastSocketError("listen: port not assigned", WSAEINVAL);
    if (!protoGiven_) return RaiseLastSocketError("listen: protocol not assigned", WSAEINVAL);
    if (!addrGiven_) return RaiseLastSocketError("listen: address not assigned", WSAEINVAL);
    std::string proto = proto_;
    bool raw = false;
    if (InetStartsText(proto_, "raw_")) {
        raw = true;
        proto = proto_.substr(4);
    }
    try {
        protoNumber_ = WinsockResolveProto(proto);
        sockKind_ = raw ? SOCK_RAW : InetAsciiLower(proto) == "udp" ? SOCK_DGRAM : SOCK_STREAM;
        portNumber_ = WinsockResolvePort(port_, raw ? "tcp" : proto);
        InitSockAddr(peerSockAddr_, socketFamily_);
        if (!IsAnyAddress(addr_)) WinsockResolveHost(addr_, peerSockAddr_, socketFamily_, protoNumber_);
        else if (addr_ == "::") InitSockAddr(peerSockAddr_, sfIPv6);
        peerSockAddr_.sin6_port = Winsock::htons(portNumber_);
    } catch (const std::exception& e) {
        return RaiseSocketErrorMsg(std::string("listen: ") + e.what());
    }
    {
        TSendQueueLock lock(sendQueue_);
        sendQueue_.RecycleAll();
        queuedBytes_ = 0;
    }
    hSocket_ = Winsock::socket(peerSockAddr_.sin6_family, sockKind_, protoNumber_);
    if (hSocket_ == INVALID_SOCKET) return RaiseLastSocketError("socket");
    ++connGen_;
    NewWork();
    const BOOL on = TRUE;
    if (sockKind_ == SOCK_DGRAM && ReuseAddr)
        WinsockSetSockOpt(hSocket_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof(on));
    if (ExclusiveAddr)
        WinsockSetSockOpt(hSocket_, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof(on));
    if (Winsock::bind(hSocket_, reinterpret_cast<sockaddr*>(&peerSockAddr_), SockAddrLen(peerSockAddr_)) != 0) {
        const int err = WinsockGetLastError();
        Winsock::closesocket(hSocket_);
        hSocket_ = INVALID_SOCKET;
        const std::string friendly = (err == WSAEADDRINUSE || err == WSAEACCES)
                                         ? "Another server is already listening on " + addr_ + ":" + port_
                                         : "";
        return RaiseLastSocketError("listen: Bind", err, friendly);
    }
    if (!Fired([&] { ChangeState(wsBound); })) return;
    if (sockKind_ == SOCK_STREAM) {
        if (Winsock::listen(hSocket_, ListenBacklog) != 0) return RaiseLastSocketError("Listen");
        if (!Fired([&] { ChangeState(wsListening); })) return;
    } else {
        if (sockKind_ == SOCK_DGRAM && MultiCast && !JoinMulticastGroup()) return;
        if (raw && ComponentOptions.Has(wsoSIO_RCVALL)) {
            DWORD in = 1, returned = 0;
            if (WinsockIoctl(hSocket_, SIO_RCVALL, &in, sizeof(in), nullptr, 0, &returned, nullptr, nullptr) != 0)
                return RaiseLastSocketError("WSAIoctl(SIO_RCVALL)");
        }
        if (!Fired([&] { ChangeState(wsListening); })) return;
        if (!Fired([&] { ChangeState(wsConnected); })) return;
        if (!Fired([&] { TransportConnected(0); })) return;
    }
    ReadSystemBufSizes();
    eventMask_ = sockKind_ == SOCK_STREAM ? (FD_ACCEPT | FD_CLOSE) : (FD_READ | FD_WRITE);
    if (ComponentOptions.Has(wsoNotifyAddressListChange)) eventMask_ |= FD_ADDRESS_LIST_CHANGE;
    if (ComponentOptions.Has(wsoNotifyRoutingInterfaceChange)) eventMask_ |= FD_ROUTING_INTERFACE_CHANGE;
    if (!PurgeSocketEvents()) return;
    if (Winsock::WSAAsyncSelect(hSocket_, WindowHandle(), idSocketEvent_, eventMask_) != 0)
        return RaiseLastSocketError("WSAASyncSelect");
    if (ComponentOptions.Has(wsoNotifyAddressListChange)) SetAddressListNotification();
    if (ComponentOptions.Has(wsoNotifyRoutingInterfaceChange)) SetRoutingNotification();
}

// The datagram listener joins MultiCastAddrStr on the interface of Addr.
bool TCustomNetSocket::JoinMulticastGroup() {
    if (peerSockAddr_.sin6_family == AF_INET6) {
        ipv6_mreq mreq{};
        uint32_t scope = 0;
        if (!ParseIPv6(InetTrimBlanks(MultiCastAddrStr), mreq.ipv6mr_multiaddr, scope) ||
            mreq.ipv6mr_multiaddr.s6_addr[0] != 0xFF) {
            lastError_ = WSAEINVAL;
            RaiseSocketError("setsockopt(IPV6_ADD_MEMBERSHIP) Invalid multicast address", WSAEINVAL, proto_, port_,
                             addr_, "setsockopt(IPV6_ADD_MEMBERSHIP)", "", "");
            return false;
        }
        mreq.ipv6mr_interface = peerSockAddr_.sin6_scope_id;
        if (WinsockSetSockOpt(hSocket_, IPPROTO_IPV6, 12, reinterpret_cast<const char*>(&mreq), sizeof(mreq)) != 0) {
            RaiseLastSocketError("setsockopt(IPV6_ADD_MEMBERSHIP)");
            return false;
        }
        return true;
    }
    ip_mreq mreq{};
    bool ok = false;
    mreq.imr_multiaddr.s_addr = ParseIPv4(InetTrimBlanks(MultiCastAddrStr), ok);
    mreq.imr_interface.s_addr = reinterpret_cast<sockaddr_in*>(&peerSockAddr_)->sin_addr.s_addr;
    if (!ok) {
        RaiseLastSocketError("setsockopt(IP_ADD_MEMBERSHIP)", WSAEINVAL);
        return false;
    }
    if (WinsockSetSockOpt(hSocket_, IPPROTO_IP, 12, reinterpret_cast<const char*>(&mreq), sizeof(mreq)) != 0) {
        RaiseLastSocketError("setsockopt(IP_ADD_MEMBERSHIP)");
        return false;
    }
    return true;
}

SOCKET TCustomNetSocket::Accept() {
    if (state_ != wsListening) {
        WinsockSetLastError(WSAEINVAL);
        lastError_ = WSAEINVAL;
        RaiseSocketErrorMsg("not a listening socket");
        return INVALID_SOCKET;
    }
    TSockAddrIn6 from;
    int len = sizeof(from);
    const SOCKET s = Winsock::accept(hSocket_, reinterpret_cast<sockaddr*>(&from), &len);
    if (s == INVALID_SOCKET) {
        RaiseLastSocketError("Accept");
        return INVALID_SOCKET;
    }
    lastError_ = 0;
    return s;
}

void TCustomNetSocket::Dup(SOCKET NewHandle) {
    if (NewHandle == 0 || NewHandle == INVALID_SOCKET) return RaiseLastSocketError("Dup", WSAEINVAL);
    if (state_ != wsClosed && hSocket_ != INVALID_SOCKET) {
        WinsockSetLastError(0);
        Winsock::WSAAsyncSelect(hSocket_, WindowHandle(), 0, 0);
        if (Winsock::closesocket(hSocket_) != 0) return RaiseLastSocketError("Dup (closesocket)");
        hSocket_ = INVALID_SOCKET;
        NewWork();
        if (!Fired([&] { ChangeState(wsClosed); })) {
            // Freed, or set to other work by the handler: the handle is nobody's.
            Winsock::closesocket(NewHandle);
            return;
        }
    }
    hSocket_ = NewHandle;
    ++connGen_;
    NewWork();
    const TFireWatch watch(*this);
    closeReportPosted_ = false;
    closedFired_ = false;
    ReadSystemBufSizes();
    const BOOL on = TRUE;
    if (ComponentOptions.Has(wsoTcpNoDelay))
        WinsockSetSockOpt(hSocket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on));
    ApplyLinger(false);
    if (KeepAliveOnOff == wsKeepAliveOnSystem)
        WinsockSetSockOpt(hSocket_, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof(on));
    eventMask_ = FD_READ | FD_WRITE | FD_CLOSE;
    if (!PurgeSocketEvents()) return;
    SelectEvents(eventMask_);
    if (!watch.Holds() || hSocket_ == INVALID_SOCKET) return;
    AdoptConnected();
}

void TCustomNetSocket::AdoptConnected() {
    if (counter_) counter_->SetConnected();
    bytesReceived_ = bytesSent_ = 0;
    ChangeState(wsConnected);
}

// ---- Socket events --------------------------------------------------------------------------

void TCustomNetSocket::HandleAsyncSelect(TMessage& Msg) {
    if (SOCKET(Msg.WParam) != hSocket_ || hSocket_ == INVALID_SOCKET || eventsPaused_) return;
    const SOCKET handle = hSocket_;
    const uint32_t gen = connGen_;
    const uint16_t bits = LOWORD(Msg.LParam);
    const uint16_t error = HIWORD(Msg.LParam);
    // A handler may free the socket, close it, or start a new connection: stop then.
    const TFireWatch watch(*this);
    auto same = [&] { return watch.Holds() && hSocket_ == handle && connGen_ == gen; };
    static const uint16_t order[] = {FD_CONNECT, FD_READ, FD_WRITE, FD_ACCEPT, FD_CLOSE, FD_ROUTING_INTERFACE_CHANGE,
                                     FD_ADDRESS_LIST_CHANGE};
    for (uint16_t bit : order) {
        if (!(bits & bit)) continue;
        currentFdEvent_ = bit;
        switch (bit) {
            case FD_CONNECT: HandleFdConnect(Msg, error); break;
            case FD_READ: HandleFdRead(Msg, error); break;
            case FD_WRITE: HandleFdWrite(Msg, error); break;
            case FD_ACCEPT: HandleFdAccept(Msg, error); break;
            case FD_CLOSE: HandleFdClose(Msg, error); break;
            case FD_ROUTING_INTERFACE_CHANGE: HandleFdRoutingChange(Msg, error); break;
            default: HandleFdAddressListChange(Msg, error); break;
        }
        if (!watch.Alive()) return;
        currentFdEvent_ = 0;
        if (!same()) return;
    }
    currentFdEvent_ = 0;
}

void TCustomNetSocket::HandleFdConnect(TMessage& Msg, uint16_t Error) {
    if (state_ == wsConnected) return;
    if (!Fired([&] { ChangeState(wsConnected); })) return;
    // A handler that retried has a new connection of its own: only the failed one closes.
    if (!Fired([&] { TransportConnected(Error); })) return;
    if (Error != 0 && state_ != wsClosed) Close();
}

void TCustomNetSocket::HandleFdRead(TMessage& Msg, uint16_t Error) {
    if (state_ != wsConnected) {
        if (!Fired([&] { ChangeState(wsConnected); })) return;
        if (!Fired([&] { TransportConnected(Error); })) return;
    }
    ASyncReceive(Error, ComponentOptions.Has(wsoNoReceiveLoop));
}

void TCustomNetSocket::HandleFdWrite(TMessage& Msg, uint16_t Error) {
    const SOCKET handle = hSocket_;
    if (!Fired([&] { TryToSend(); }) || hSocket_ != handle) return;
    if (sendQueueEmpty_) {
        if (closePending_) {
            FinishDrainIfDone();
            return;
        }
        TriggerDataSent(Error);
    }
}

void TCustomNetSocket::HandleFdAccept(TMessage& Msg, uint16_t Error) { TriggerSessionAvailable(Error); }

void TCustomNetSocket::HandleFdClose(TMessage& Msg, uint16_t Error) {
    if (state_ == wsConnecting || hSocket_ == INVALID_SOCKET) return;
    const SOCKET handle = hSocket_;
    if (state_ != wsListening) {
        // Everything that arrived before the close is announced first, however long it takes:
        // what is left unread now would be dropped by the close.
        if (!Fired([&] { ASyncReceive(0, false, true); }) || hSocket_ != handle) return;
    }
    if (Error == 0) Error = uint16_t(sendFailure_);
    if (Error == 0) {
        // Some stacks report a reset as a plain close: the socket itself still tells.
        char b;
        if (WinsockRecv(hSocket_, &b, 1, MSG_PEEK) < 0) {
            const int e = WinsockGetLastError();
            if (e == WSAECONNRESET || e == WSAECONNABORTED) Error = uint16_t(e);
        }
    }
    // The peer is gone: what is still queued cannot be delivered.
    closePending_ = false;
    StopFlushTimer();
    ShutdownAndClose(true, Error);
}

void TCustomNetSocket::HandleFdRoutingChange(TMessage& Msg, uint16_t Error) {
    (void)FireEvent(OnRoutingInterfaceChanged, this, Error);
}

void TCustomNetSocket::HandleFdAddressListChange(TMessage& Msg, uint16_t Error) {
    (void)FireEvent(OnAddressListChanged, this, Error);
}

// ---- Receiving ------------------------------------------------------------------------------

void TCustomNetSocket::ASyncReceive(uint16_t ErrCode, bool NoReceiveLoop, bool BeforeClose) {
    const TFireWatch watch(*this);
    const SOCKET handle = hSocket_;
    const uint32_t start = InetTickCount();
    const bool outerClosePass = inClosePass_;
    inClosePass_ = BeforeClose;
    struct ClosePassEnd {
        TCustomNetSocket* s;
        const TFireWatch& watch;
        bool outer;
        ~ClosePassEnd() {
            if (watch.Alive()) s->inClosePass_ = outer;
        }
    } closePassEnd{this, watch, outerClosePass};
    try {
        for (;;) {
            lastError_ = 0;
            lastReceiveFilled_ = false;
            const int64_t before = ConsumedMark();
            bool heard = false;
            if (!Fired([&] { heard = TriggerDataAvailable(ErrCode); }) || hSocket_ != handle) return;
            if (!heard) {
                char drop[1024];
                const int n = Receive(drop, sizeof(drop), 0);
                if (n < 0) {
                    if (WinsockGetLastError() == WSAEWOULDBLOCK) lastError_ = 0;
                    break;
                }
            }
            if (NoReceiveLoop) break;
            if (lastError_ != 0) {
                if (lastError_ == -1) lastError_ = 0;
                break;
            }
            // A handler that read nothing would be called for ever.
            if (ConsumedMark() == before) break;
            // A peer that sends faster than we read would keep the thread here for ever: after
            // a slice the loop gives way, and the read that re-enabled FD_READ brings the rest.
            if (!BeforeClose && InetTickCount() - start >= kReceiveSliceMs) break;
            // A read that filled its buffer leaves more behind: no need to ask.
            if (lastReceiveFilled_) continue;
            // After a short read, bytes that came meanwhile are taken in this pass: asking
            // costs one call, a new event a posted message and a trip through the queue.
            // After FD_CLOSE no event follows at all.
            u_long pending = 0;
            if (Winsock::ioctlsocket(hSocket_, FIONREAD, &pending) != 0) {
                lastError_ = WinsockGetLastError();
                break;
            }
            if (pending == 0) break;
        }
    } catch (const std::exception& e) {
        if (watch.Alive()) HandleBgException(e, "TCustomNetSocket.ASyncReceive");
    }
}

int TCustomNetSocket::Receive(void* Buffer, int Size, int Flags) {
    if (hSocket_ == INVALID_SOCKET) {
        WinsockSetLastError(WSAENOTSOCK);
        return -1;
    }
    if (Size <= 0) return 0;
    const int n = WinsockRecv(hSocket_, static_cast<char*>(Buffer), Size, Flags);
    lastReceiveFilled_ = n == Size;
    if (n > 0) {
        if (!(Flags & MSG_PEEK)) bytesReceived_ += n;
        if (counter_) counter_->Received(InetTickCount());
    }
    return n;
}

int TCustomNetSocket::ReceiveFrom(void* Buffer, int Size, int Flags, sockaddr* From, int& FromLen) {
    if (hSocket_ == INVALID_SOCKET) {
        WinsockSetLastError(WSAENOTSOCK);
        return -1;
    }
    const int n = Winsock::recvfrom(hSocket_, static_cast<char*>(Buffer), Size, Flags, From, &FromLen);
    if (n > 0) {
        bytesReceived_ += n;
        if (counter_) counter_->Received(InetTickCount());
    }
    return n;
}

int TCustomNetSocket::ReceiveData(void* Buffer, int Size) {
    const int n = Receive(Buffer, Size, 0);
    if (n < 0) lastError_ = WinsockGetLastError();
    return n;
}

int TCustomNetSocket::ReceiveBytes(std::vector<uint8_t>& Bytes, int MaxLen) {
    if (Bytes.empty()) return -1;
    int n = PendingReceiveCount();
    if (n <= 0) n = 255;
    if (MaxLen > 0) n = std::min(n, MaxLen);
    n = int(std::min<size_t>(size_t(n), Bytes.size()));
    const int r = ReceiveData(Bytes.data(), n);
    Bytes.resize(size_t(std::max(r, 0)));
    return r;
}

std::string TCustomNetSocket::ReceiveAsText() {
    int n = PendingReceiveCount();
    if (n < 0) return "";
    if (n == 0) n = 255;
    std::string s(size_t(n), '\0');
    const int r = ReceiveData(s.data(), n);
    s.resize(size_t(std::max(r, 0)));
    return s;
}

int TCustomNetSocket::ReceiveFromData(void* Buffer, int Size, sockaddr_in& From, int& FromLen) {
    FromLen = sizeof(From);
    const int n = ReceiveFrom(Buffer, Size, 0, reinterpret_cast<sockaddr*>(&From), FromLen);
    if (n < 0) lastError_ = WinsockGetLastError();
    return n;
}

int TCustomNetSocket::ReceiveFrom6Data(void* Buffer, int Size, sockaddr_in6& From, int& FromLen) {
    FromLen = sizeof(From);
    const int n = ReceiveFrom(Buffer, Size, 0, reinterpret_cast<sockaddr*>(&From), FromLen);
    if (n < 0) lastError_ = WinsockGetLastError();
    return n;
}

std::string TCustomNetSocket::ReceiveAsTextAlias() { return ReceiveAsText(); }

int TCustomNetSocket::ReceiveFromBytes(std::vector<uint8_t>& Bytes, sockaddr_in& From, int& FromLen) {
    if (Bytes.empty()) Bytes.resize(2048);
    const int n = ReceiveFromData(Bytes.data(), int(std::min<size_t>(Bytes.size(), 0x7FFFFFFF)), From, FromLen);
    Bytes.resize(size_t(std::max(n, 0)));
    return n;
}

int TCustomNetSocket::ReceiveFrom6Bytes(std::vector<uint8_t>& Bytes, sockaddr_in6& From, int& FromLen) {
    if (Bytes.empty()) Bytes.resize(2048);
    const int n = ReceiveFrom6Data(Bytes.data(), int(std::min<size_t>(Bytes.size(), 0x7FFFFFFF)), From, FromLen);
    Bytes.resize(size_t(std::max(n, 0)));
    return n;
}

int TCustomNetSocket::PendingReceiveCount() {
    if (hSocket_ == INVALID_SOCKET) return -1;
    u_long n = 0;
    if (Winsock::ioctlsocket(hSocket_, FIONREAD, &n) != 0) {
        RaiseLastSocketError("ioctlSocket");
        return -1;
    }
    return int(std::min<u_long>(n, 0x7FFFFFFF));
}

// ---- Sending --------------------------------------------------------------------------------

void TCustomNetSocket::AppendToSendBuffer(const void* Data, int Len) {
    TSendQueueLock lock(sendQueue_);
    sendQueue_.Write(Data, Len);
    queuedBytes_ += Len;
    sendQueueEmpty_ = false;
}

int TCustomNetSocket::Send(const void* Data, int Len) {
    if ((state_ != wsConnected && state_ != wsSocksConnected) || closePending_) {
        // After Close the queue only drains: nothing more may join it.
        const int err = closePending_ ? WSAESHUTDOWN : WSAENOTCONN;
        lastError_ = err;
        WinsockSetLastError(err);
        if (!ComponentOptions.Has(wsoNoSendException)) RaiseLastSocketError("Send", err);
        return -1;
    }
    sendQueueEmpty_ = false;
    if (Len > 0)
        AppendToSendBuffer(Data, Len);
    else
        Len = 0;
    if (sendQueueEmpty_) return Len;
    const TFireWatch watch(*this);
    ++sendDepth_;
    try {
        TryToSend();
    } catch (...) {
        if (watch.Alive()) --sendDepth_;
        throw;
    }
    if (!watch.Alive()) return Len;
    --sendDepth_;
    // OnDataSent comes from the message loop, never from inside Send.
    if (watch.Holds() && sendQueueEmpty_ && hSocket_ != INVALID_SOCKET)
        PostToId(idSocketEvent_, WPARAM(hSocket_), MAKELONG(FD_WRITE, 0));
    return Len;
}

int TCustomNetSocket::SendChar(char Value) { return Send(&Value, 1); }

int TCustomNetSocket::SendBytes(const std::vector<uint8_t>& Bytes, int Len) {
    if (Bytes.empty()) return 0;
    const int n = Len < 0 ? int(Bytes.size()) : std::min<int>(Len, int(Bytes.size()));
    return Send(Bytes.data(), n);
}

int TCustomNetSocket::SendText(const std::string& Text) { return Send(Text.data(), int(Text.size())); }

int TCustomNetSocket::SendRaw(const void* Data, int Len) {
    int n;
    if (sockKind_ == SOCK_DGRAM)
        n = Winsock::sendto(hSocket_, static_cast<const char*>(Data), Len, sendFlags_ == wsSendUrgent ? MSG_OOB : 0,
                            reinterpret_cast<const sockaddr*>(&peerSockAddr_), SockAddrLen(peerSockAddr_));
    else
        n = Winsock::send(hSocket_, static_cast<const char*>(Data), Len, sendFlags_ == wsSendUrgent ? MSG_OOB : 0);
    if (n > 0) {
        if (counter_) counter_->Sent(InetTickCount());
    } else if (n < 0) {
        sendError_ = WinsockGetLastError();
    }
    return n;
}

void TCustomNetSocket::TryToSend() {
    // A handler of OnSendData that sends again only queues: the loop below picks the new
    // bytes up, so sending never nests once per system send.
    if (inTryToSend_) return;
    const TFireWatch watch(*this);
    const SOCKET handle = hSocket_;
    inTryToSend_ = true;
    struct Reset {
        TCustomNetSocket* s;
        const TFireWatch& watch;
        ~Reset() {
            if (watch.Alive()) s->inTryToSend_ = false;
        }
    } reset{this, watch};
    for (;;) {
        if (hSocket_ == INVALID_SOCKET || hSocket_ != handle) {
            if (hSocket_ == INVALID_SOCKET) sendQueueEmpty_ = true;
            return;
        }
        int n;
        {
            TSendQueueLock lock(sendQueue_);
            const uint8_t* p = nullptr;
            const int32_t len = sendQueue_.Peek(p);
            if (len <= 0) {
                sendQueueEmpty_ = true;
                return;
            }
            n = SendRaw(p, len);
            if (n > 0) {
                // Off the queue before anyone hears of it: a handler that sends again must
                // not find these bytes still queued.
                sendQueue_.Remove(n);
                queuedBytes_ = std::max(0, queuedBytes_ - n);
                bytesSent_ += n;
                if (sendQueue_.IsEmpty()) sendQueueEmpty_ = true;
            }
        }
        if (n > 0) {
            // A close that is draining its queue is making progress: its limit starts again.
            if (closePending_) flushProgressTick_ = InetTickCount();
            if (!Fired([&] { TriggerSendData(n); })) return;
            // Also after a partial send: the system posts FD_WRITE again only once a send
            // has failed with WSAEWOULDBLOCK, so stopping here could wait for ever.
            continue;
        }
        if (n == 0) return;
        const int err = sendError_;
        if (err == WSAEWOULDBLOCK) return;  // FD_WRITE brings us back
        if (err == WSAEINVAL || err == WSAENOTSOCK || err == WSAECONNABORTED || err == WSAECONNRESET ||
            err == WSAENOTCONN || err == WSAESHUTDOWN) {
            lastError_ = err;
            sendFailure_ = err;
            if (sendDepth_ > 0) {
                // Found inside Send: reported from the message loop once Send returned, so
                // no handler frees the socket under its caller.
                if (!closeReportPosted_) {
                    closeReportPosted_ = true;
                    PostToId(idSendFailed_, WPARAM(connGen_), LPARAM(err));
                }
                return;
            }
            closePending_ = false;
            StopFlushTimer();
            ShutdownAndClose(false, uint16_t(err));
            return;
        }
        RaiseLastSocketError("TryToSend failed", err);
        return;
    }
}

int TCustomNetSocket::SendToAddr(const sockaddr_in& Dest, const void* Data, int Len) {
    return SendToRaw(reinterpret_cast<const sockaddr*>(&Dest), sizeof(Dest), Data, Len);
}

int TCustomNetSocket::SendBytesToAddr(const sockaddr_in& Dest, const std::vector<uint8_t>& Bytes, int Len) {
    const int n = Len < 0 ? int(Bytes.size()) : std::min<int>(Len, int(Bytes.size()));
    return SendToAddr(Dest, Bytes.data(), n);
}

int TCustomNetSocket::SendBytesToAddr6(const sockaddr_in6& Dest, const std::vector<uint8_t>& Bytes, int Len) {
    const int n = Len < 0 ? int(Bytes.size()) : std::min<int>(Len, int(Bytes.size()));
    return SendToAddr6(Dest, Bytes.data(), n);
}

int TCustomNetSocket::SendToAddr6(const sockaddr_in6& Dest, const void* Data, int Len) {
    return SendToRaw(reinterpret_cast<const sockaddr*>(&Dest), sizeof(Dest), Data, Len);
}

// One datagram to an IPv4 or IPv6 address.
int TCustomNetSocket::SendToRaw(const sockaddr* Dest, int DestLen, const void* Data, int Len) {
    const int n = Winsock::sendto(hSocket_, static_cast<const char*>(Data), Len, 0, Dest, DestLen);
    if (n < 0) {
        lastError_ = WinsockGetLastError();
        return n;
    }
    bytesSent_ += n;
    if (counter_) counter_->Sent(InetTickCount());
    if (Fired([&] { TriggerSendData(n); }) && sockKind_ == SOCK_DGRAM && sendQueueEmpty_)
        PostToId(idSocketEvent_, WPARAM(hSocket_), MAKELONG(FD_WRITE, 0));
    return n;
}

// ---- Closing --------------------------------------------------------------------------------

void TCustomNetSocket::Close() {
    if (closePending_) return;
    if (hSocket_ != INVALID_SOCKET && state_ == wsConnected && sockKind_ == SOCK_STREAM && !sendQueueEmpty_) {
        // The queue drains through FD_WRITE first; FinishDrainIfDone closes after it, and
        // the flush limit resets a peer that never reads.
        closePending_ = true;
        StartFlushTimer();
        if (Fired([&] { TryToSend(); })) FinishDrainIfDone();
        return;
    }
    ShutdownAndClose(true, 0);
}

void TCustomNetSocket::FinishDrainIfDone() {
    if (!closePending_ || !sendQueueEmpty_) return;
    closePending_ = false;
    StopFlushTimer();
    ShutdownAndClose(true, 0);
}

void TCustomNetSocket::StartFlushTimer() {
    if (FlushTimeout <= 0) return;
    if (!flushTimer_) flushTimer_ = std::make_unique<TInetTimer>(this);
    flushTimer_->SetEnabled(false);
    flushTimer_->SetInterval(uint32_t(FlushTimeout) * 1000u);
    flushProgressTick_ = InetTickCount();
    flushTimer_->SetOnTimer([this](framework::TComponent*) {
        StopFlushTimer();
        if (!closePending_) return;
        // The limit counts from the last byte the peer took, not from the Close.
        const uint32_t limit = uint32_t(FlushTimeout) * 1000u;
        const uint32_t idle = InetTickDiff(flushProgressTick_, InetTickCount());
        if (FlushTimeout > 0 && idle < limit) {
            flushTimer_->SetInterval(std::max<uint32_t>(limit - idle, 10));
            flushTimer_->SetEnabled(true);
            return;
        }
        closePending_ = false;
        HardAbort(WSAETIMEDOUT);
    });
    flushTimer_->SetEnabled(true);
}


void TCustomNetSocket::StopFlushTimer() {
    if (flushTimer_ && flushTimer_->Enabled() && OwnerThread() != 0) flushTimer_->SetEnabled(false);
}

void TCustomNetSocket::CloseLater() {
    if (PostToId(idCloseLater_)) closeLaterPosted_ = true;
}

void TCustomNetSocket::Abort() { HardAbort(0); }

void TCustomNetSocket::HardAbort(uint16_t Error) {
    // Whatever the socket was doing ends here: nothing of it is reported after the abort.
    NewWork();
    bool held = true;
    try {
        held = CancelLookup(!disposing_);
    } catch (...) {
    }
    // The look-up's report freed the socket or set it to other work: that stays.
    if (!held) return;
    closePending_ = false;
    StopFlushTimer();
    {
        TSendQueueLock lock(sendQueue_);
        sendQueue_.RecycleAll();
        queuedBytes_ = 0;
        sendQueueEmpty_ = true;
    }
    if (hSocket_ != INVALID_SOCKET && state_ == wsConnected && sockKind_ == SOCK_STREAM) {
        LingerOnOff = wsLingerOff;
        ApplyLinger(true);
    }
    ShutdownAndClose(false, Error);
}

void TCustomNetSocket::ShutdownAndClose(bool Shut, uint16_t Error) {
    bool held = true;
    try {
        held = CancelLookup(!disposing_);
    } catch (...) {
    }
    if (!held) return;
    closePending_ = false;
    if (hSocket_ != INVALID_SOCKET) {
        if (state_ == wsClosed) return;
        if (Shut) Winsock::shutdown(hSocket_, SD_SEND);
        for (;;) {
            Winsock::WSAAsyncSelect(hSocket_, WindowHandle(), 0, 0);
            if (Winsock::closesocket(hSocket_) == 0) break;
            const int err = WinsockGetLastError();
            if (err == WSAEWOULDBLOCK) {
                Winsock::WSAAsyncSelect(hSocket_, WindowHandle(), idSocketEvent_, eventMask_);
                if (!Fired([&] { PumpMessages(); })) return;
                continue;
            }
            if (err == WSANOTINITIALISED) break;
            hSocket_ = INVALID_SOCKET;
            NewWork();
            if (!PurgeSocketEvents()) return;
            return RaiseLastSocketError("Disconnect (closesocket)", err);
        }
        hSocket_ = INVALID_SOCKET;
        // The connection is over: what handlers do from here on is new work.
        NewWork();
        const TFireWatch watch(*this);
        const TSocketState oldState = state_;
        if (!PurgeSocketEvents()) return;
        const bool fire = !disposing_ && !closedFired_;
        // Defaults first, so that a handler below may set the socket up and connect again.
        try {
            SetDefaults();
        } catch (...) {
        }
        // A layer's defaults drop its own queued events (a handler may run there too).
        if (!watch.Holds()) return;
        state_ = oldState;  // SetDefaults reset it silently; the change is announced
        if (!Fired([&] { ChangeState(wsClosed); })) return;
        if (fire && hSocket_ == INVALID_SOCKET) {
            closedFired_ = true;
            const bool held = Fired([&] { TriggerSessionClosed(Error); });
            if (!watch.Alive()) return;
            // Unless the handler started a new connection, this one is over.
            if (hSocket_ == INVALID_SOCKET && state_ == wsClosed) closedFired_ = false;
            if (!held) return;
        }
    } else if (state_ != wsClosed) {
        const TSocketState oldState = state_;
        NewWork();
        const TFireWatch watch(*this);
        try {
            SetDefaults();
        } catch (...) {
        }
        if (!watch.Holds()) return;
        state_ = oldState;
        ChangeState(wsClosed);
    }
}

void TCustomNetSocket::Shutdown(int How) {
    if (hSocket_ != INVALID_SOCKET) Winsock::shutdown(hSocket_, How);
}

void TCustomNetSocket::Flush() {
    // Sleeps between tries until the system takes more; gives up once FlushTimeout seconds
    // pass without a byte leaving (a peer that never reads), leaving the rest queued.
    const TFireWatch watch(*this);
    const uint32_t limitMs = FlushTimeout > 0 ? uint32_t(FlushTimeout) * 1000u : 0;
    uint32_t lastProgress = InetTickCount();
    while (watch.Holds() && hSocket_ != INVALID_SOCKET && !sendQueueEmpty_) {
        const int64_t before = bytesSent_;
        if (!Fired([&] { TryToSend(); })) return;
        const uint32_t now = InetTickCount();
        if (bytesSent_ != before) lastProgress = now;
        if (hSocket_ == INVALID_SOCKET || sendQueueEmpty_) return;
        const uint32_t waited = InetTickDiff(lastProgress, now);
        if (limitMs > 0 && waited >= limitMs) return;
        MsgWaitForMultipleObjectsEx(0, nullptr, limitMs > 0 ? std::min<uint32_t>(limitMs - waited, 50) : 50,
                                    QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        PumpMessages();
    }
}

void TCustomNetSocket::DrainReceive() {
    const TFireWatch watch(*this);
    while (watch.Holds() && hSocket_ != INVALID_SOCKET && state_ != wsClosed) {
        if (!Fired([&] { PumpMessages(); }) || hSocket_ == INVALID_SOCKET) return;
        u_long n = 0;
        if (Winsock::ioctlsocket(hSocket_, FIONREAD, &n) != 0) return;
        if (n > 0) {
            if (!Fired([&] { TriggerDataAvailable(0); }) || hSocket_ == INVALID_SOCKET) return;
        }
        char b;
        if (Receive(&b, 1, 0) < 0 && WinsockGetLastError() != WSAEWOULDBLOCK) return;
        PumpMessages();
    }
}

void TCustomNetSocket::Pause() {
    eventsPaused_ = true;
    if (hSocket_ != INVALID_SOCKET) Winsock::WSAAsyncSelect(hSocket_, WindowHandle(), 0, 0);
}

void TCustomNetSocket::Resume() {
    eventsPaused_ = false;
    if (hSocket_ != INVALID_SOCKET) Winsock::WSAAsyncSelect(hSocket_, WindowHandle(), idSocketEvent_, eventMask_);
}

// ---- Name look-ups --------------------------------------------------------------------------

TInetAsyncDnsLookup* TCustomNetSocket::DnsPool() {
    if (dnsPool_) return dnsPool_;
    TThreadLocalStore& store = InetDnsPoolStore();
    framework::ScopedLock<TThreadLocalStore> lock(store);
    const uint32_t tid = InetCurrentThreadId();
    void** slot = store.Acquire(tid);
    if (!*slot) *slot = new TInetAsyncDnsLookup(0, uint8_t(std::clamp(ProcessorCount(), 1, 255)), 60);
    dnsPool_ = static_cast<TInetAsyncDnsLookup*>(*slot);
    dnsPoolThread_ = tid;
    return dnsPool_;
}

void TCustomNetSocket::ReleaseDnsPool() {
    if (!dnsPool_) return;
    TThreadLocalStore& store = InetDnsPoolStore();
    void* last;
    {
        framework::ScopedLock<TThreadLocalStore> lock(store);
        last = store.Release(dnsPoolThread_);
    }
    // The last socket of the thread takes the pool down (outside the store lock: the wait
    // for the workers handles messages).
    if (last == dnsPool_) delete dnsPool_;
    dnsPool_ = nullptr;
}

bool TCustomNetSocket::CancelLookup(bool Report) {
    if (!pendingLookup_) return true;
    // A connect that was looking up its address ends here.
    if (connectDnsPending_) NewWork();
    connectDnsPending_ = false;
    void* req = pendingLookup_;
    pendingLookup_ = nullptr;
    if (pendingIsPool_) {
        // A failed cancel still forgets the look-up: its result names a request no longer pending.
        if (dnsPool_) (void)dnsPool_->CancelRequest(static_cast<TInetAsyncDnsLookupRequest*>(req));
    } else {
        // Cancelled: no answer comes. Otherwise it may still come and is ignored then.
        if (Winsock::WSACancelAsyncRequest(HANDLE(req)) == 0 && HandlerRef()) HandlerRef()->ForgetTask(HANDLE(req));
        LibraryLookups& l = Lookups();
        TInetLock lock(l.cs);
        auto it = l.entries.find(HANDLE(req));
        if (it != l.entries.end()) {
            it->second.orphaned = true;
            it->second.orphanTick = InetTickCount();
        }
    }
    if (!Report) return true;
    if (!Fired([&] { TriggerDNSLookupDone(WSAEINTR); })) return false;
    if (state_ == wsDnsLookup) return Fired([&] { ChangeState(wsClosed); });
    return true;
}

void TCustomNetSocket::FailLookup(const std::function<void()>& Raise) {
    // The error path may raise or hand the error to OnError; the look-up ends as done either
    // way, unless the error's handler freed, aborted or restarted the socket.
    const TFireWatch watch(*this);
    try {
        Raise();
    } catch (...) {
        if (watch.Holds()) TriggerDNSLookupDone(WSAEINVAL);
        throw;
    }
    if (watch.Holds()) TriggerDNSLookupDone(WSAEINVAL);
}

void TCustomNetSocket::AbortDnsLookup() { (void)CancelLookup(!disposing_); }

void TCustomNetSocket::DnsLookup(const std::string& Host, int Protocol) {
    if (Host.empty()) {
        FailLookup([&] { RaiseSocketErrorMsg("DNS lookup: invalid host name."); });
        return;
    }
    // A look-up that Connect starts keeps its continuation.
    const bool forConnect = connectDnsPending_ && !pendingLookup_;
    CancelLookup(false);
    connectDnsPending_ = forConnect;
    lookupResult_.clear();
    lookupResults_.Clear();
    const std::string host = InetTrimBlanks(Host);
    in6_addr a6;
    uint32_t scope;
    if (socketFamily_ != sfIPv4 && ParseIPv6(host, a6, scope)) {
        hostAscii_ = Host;
        // The scope picks the interface of a link-local address: without it the connect fails.
        lookupResult_ = IPv6ToText(a6);
        if (scope != 0) lookupResult_ += "%" + std::to_string(scope);
        lookupResults_.Add(lookupResult_);
        TriggerDNSLookupDone(0);
        return;
    }
    if (ComponentOptions.Has(wsoIgnoreIDNA)) {
        hostAscii_ = host;
    } else {
        bool bad = false;
        hostAscii_ = InetHostToAsciiEx(host, ComponentOptions.Has(wsoUseSTD3AsciiRules), bad);
        if (bad) {
            hostAscii_.clear();
            TriggerDNSLookupDone(WSAEINVAL);
            return;
        }
    }
    if (socketFamily_ != sfIPv6 && IsDottedIPv4(hostAscii_) && InetTrimBlanks(hostAscii_) != "255.255.255.255") {
        lookupResult_ = IPv4ToText(Winsock::inet_addr(InetTrimBlanks(hostAscii_).c_str()));
        lookupResults_.Add(lookupResult_);
        TriggerDNSLookupDone(0);
        return;
    }
    if (!WindowHandle()) {
        FailLookup([&] { RaiseSocketErrorMsg("DnsLookup: Window not assigned"); });
        return;
    }
    if (socketFamily_ != sfIPv4 || ComponentOptions.Has(wsoInetDnsLookup)) {
        pendingLookup_ = DnsPool()->QueueRequest(WindowHandle(), idLookupDone_, Protocol, false, hostAscii_, socketFamily_,
                                                 IdClaim(idLookupDone_));
        pendingIsPool_ = true;
    } else {
        auto buffer = std::make_unique<char[]>(kHostEntrySize);
        LibraryLookups& l = Lookups();
        TInetLock lock(l.cs);
        l.Sweep();
        // The answer comes by the window's task message and reaches this claim of the id only.
        HANDLE h = Winsock::WSAAsyncGetHostByName(WindowHandle(), InetAsyncTaskMessage(), hostAscii_.c_str(),
                                                  buffer.get(), kHostEntrySize);
        if (h) {
            l.entries[h] = LibraryLookups::Entry{std::move(buffer)};
            HandlerRef()->ExpectTask(h, idLookupDone_);
        }
        pendingLookup_ = h;
        pendingIsPool_ = false;
    }
    pendingIsReverse_ = false;
    pendingHost_ = Host;
    pendingProtocol_ = Protocol;
    if (!pendingLookup_) {
        const int err = WinsockGetLastError();
        FailLookup([&] {
            RaiseSocketError(hostAscii_ + ": can't start DNS lookup - " + SocketErrorTextWithCode(err), err, "", "", "",
                             "", "", "");
        });
    }
}

void TCustomNetSocket::ReverseLookup(const std::string& Addr, int Protocol) {
    if (Addr.empty()) {
        FailLookup([&] { RaiseSocketErrorMsg("Reverse DNS Lookup: Invalid host name."); });
        return;
    }
    CancelLookup(false);
    lookupResult_.clear();
    lookupResults_.Clear();
    if (!WindowHandle()) return RaiseSocketErrorMsg("Reverse DNS Lookup: Window not assigned");
    if (socketFamily_ != sfIPv4 || ComponentOptions.Has(wsoInetDnsLookup)) {
        pendingLookup_ = DnsPool()->QueueRequest(WindowHandle(), idReverseDone_, Protocol, true, InetTrimBlanks(Addr),
                                                 socketFamily_, IdClaim(idReverseDone_));
        pendingIsPool_ = true;
    } else {
        const unsigned long a = Winsock::inet_addr(InetTrimBlanks(Addr).c_str());
        auto buffer = std::make_unique<char[]>(kHostEntrySize);
        LibraryLookups& l = Lookups();
        TInetLock lock(l.cs);
        l.Sweep();
        HANDLE h = Winsock::WSAAsyncGetHostByAddr(WindowHandle(), InetAsyncTaskMessage(),
                                                  reinterpret_cast<const char*>(&a), 4, AF_INET, buffer.get(),
                                                  kHostEntrySize);
        if (h) {
            l.entries[h] = LibraryLookups::Entry{std::move(buffer)};
            HandlerRef()->ExpectTask(h, idReverseDone_);
        }
        pendingLookup_ = h;
        pendingIsPool_ = false;
    }
    pendingIsReverse_ = true;
    pendingHost_ = Addr;
    pendingProtocol_ = Protocol;
    if (!pendingLookup_)
        RaiseSocketErrorMsg(Addr + ": can't start reverse DNS lookup - " + SocketErrorTextWithCode(WinsockGetLastError()));
}

void TCustomNetSocket::ReverseLookupSync(const std::string& Addr, int Protocol) {
    if (Addr.empty() || Addr.size() > 256) {
        FailLookup([&] { RaiseSocketErrorMsg("Reverse DNS Lookup: Invalid host name."); });
        return;
    }
    CancelLookup(false);
    lookupResult_.clear();
    lookupResults_.Clear();
    if (socketFamily_ == sfIPv4) {
        const unsigned long a = Winsock::inet_addr(InetTrimBlanks(Addr).c_str());
        hostent* h = Winsock::gethostbyaddr(reinterpret_cast<const char*>(&a), 4, AF_INET);
        if (!h) return TriggerDNSLookupDone(uint16_t(WinsockGetLastError()));
        lookupResult_ = InetWideToAnsi(InetHostToUnicode(h->h_name ? h->h_name : ""));
        lookupResults_.Add(lookupResult_);
        for (char** p = h->h_aliases; p && *p; ++p) lookupResults_.Add(*p);
        return TriggerDNSLookupDone(0);
    }
    const int rc = ResolveBlocking(InetTrimBlanks(Addr), true, socketFamily_, Protocol, lookupResults_);
    if (rc != 0) return TriggerDNSLookupDone(uint16_t(rc));
    if (lookupResults_.Count() > 0) lookupResult_ = lookupResults_[0];
    TriggerDNSLookupDone(0);
}

void TCustomNetSocket::HandleLookupDone(TMessage& Msg, bool Reverse) {
    // A pool result names its request through the sent target (see QueueRequest).
    void* req = pendingIsPool_ ? static_cast<void*>(static_cast<TInetAsyncDnsLookupRequest*>(
                                     reinterpret_cast<TInetSentTarget*>(Msg.WParam)))
                               : reinterpret_cast<void*>(Msg.WParam);
    const uint16_t error = HIWORD(Msg.LParam);
    std::unique_ptr<char[]> buffer;
    if (!pendingIsPool_ || req != pendingLookup_) {
        // A library result: its buffer is freed now, whoever it belonged to.
        LibraryLookups& l = Lookups();
        TInetLock lock(l.cs);
        auto it = l.entries.find(HANDLE(req));
        if (it != l.entries.end()) {
            buffer = std::move(it->second.buffer);
            l.entries.erase(it);
        }
    }
    if (!pendingLookup_ || req != pendingLookup_ || pendingIsReverse_ != Reverse) return;
    pendingLookup_ = nullptr;
    if (error == 0) {
        lookupResults_.Clear();
        if (pendingIsPool_) {
            auto* r = static_cast<TInetAsyncDnsLookupRequest*>(req);
            if (r->Results)
                for (int i = 0; i < r->Results->Count(); ++i) lookupResults_.Add((*r->Results)[i]);
        } else if (buffer) {
            const hostent* h = reinterpret_cast<const hostent*>(buffer.get());
            if (Reverse) {
                if (h->h_name) lookupResults_.Add(InetWideToAnsi(InetHostToUnicode(h->h_name)));
                for (char** p = h->h_aliases; p && *p; ++p) lookupResults_.Add(*p);
            } else if (h->h_length == 4) {
                for (char** p = h->h_addr_list; p && *p; ++p) {
                    uint32_t a;
                    std::memcpy(&a, *p, 4);
                    lookupResults_.Add(IPv4ToText(a));
                }
            }
        }
        if (lookupResults_.Count() > 0) lookupResult_ = lookupResults_[0];
    }
    TriggerDNSLookupDone(error);
}

// ---- Addresses and notifications ------------------------------------------------------------

std::string TCustomNetSocket::GetPeerAddr() {
    if (state_ != wsConnected) return "error";
    TSockAddrIn6 a;
    int len = sizeof(a);
    if (Winsock::getpeername(hSocket_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        RaiseLastSocketError("GetPeerAddr");
        return "error";
    }
    return a.sin6_family == AF_INET6 ? SockAddr6ToText(a)
                                     : IPv4ToText(reinterpret_cast<sockaddr_in*>(&a)->sin_addr.s_addr);
}

std::string TCustomNetSocket::GetPeerPort() {
    if (state_ != wsConnected) return "error";
    TSockAddrIn6 a;
    int len = sizeof(a);
    if (Winsock::getpeername(hSocket_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        RaiseLastSocketError("GetPeerPort");
        return "error";
    }
    return std::to_string(Winsock::ntohs(a.sin6_port));
}

int TCustomNetSocket::ReadPeerSockAddr(TSockAddrIn6& PeerSockAddr, int& Len) {
    if (state_ != wsConnected || hSocket_ == INVALID_SOCKET) {
        lastError_ = WSAENOTCONN;
        return -1;
    }
    if (Winsock::getpeername(hSocket_, reinterpret_cast<sockaddr*>(&PeerSockAddr), &Len) != 0) {
        lastError_ = WinsockGetLastError();
        return -1;
    }
    return 0;
}

int TCustomNetSocket::ReadLocalSockAddr(TSockAddrIn6& LocalSockAddr, int& Len) {
    if (hSocket_ == INVALID_SOCKET) {
        lastError_ = WSAENOTSOCK;
        return -1;
    }
    if (Winsock::getsockname(hSocket_, reinterpret_cast<sockaddr*>(&LocalSockAddr), &Len) != 0) {
        lastError_ = WinsockGetLastError();
        return -1;
    }
    return 0;
}

bool TCustomNetSocket::TimeValIsSet(const timeval& T) { return T.tv_sec != 0 || T.tv_usec != 0; }

void TCustomNetSocket::TimeValClear(timeval& T) { T.tv_sec = T.tv_usec = 0; }

int TCustomNetSocket::TimeValCompare(const timeval& A, const timeval& B) {
    if (A.tv_sec != B.tv_sec) return A.tv_sec < B.tv_sec ? -1 : 1;
    if (A.tv_usec != B.tv_usec) return A.tv_usec < B.tv_usec ? -1 : 1;
    return 0;
}

std::string TCustomNetSocket::LocalAddrText() {
    if (state_ != wsBound && state_ != wsConnected && state_ != wsListening) return "error";
    TSockAddrIn6 a;
    int len = sizeof(a);
    if (Winsock::getsockname(hSocket_, reinterpret_cast<sockaddr*>(&a), &len) != 0) return "error";
    return a.sin6_family == AF_INET6 ? SockAddr6ToText(a)
                                     : IPv4ToText(reinterpret_cast<sockaddr_in*>(&a)->sin_addr.s_addr);
}

std::string TCustomNetSocket::LocalPortText() {
    if (state_ != wsBound && state_ != wsConnected && state_ != wsListening) return "error";
    TSockAddrIn6 a;
    int len = sizeof(a);
    if (Winsock::getsockname(hSocket_, reinterpret_cast<sockaddr*>(&a), &len) != 0) return "error";
    return std::to_string(Winsock::ntohs(a.sin6_port));
}

void TCustomNetSocket::SetAddressListNotification() {
    if (!(eventMask_ & FD_ADDRESS_LIST_CHANGE)) {
        eventMask_ |= FD_ADDRESS_LIST_CHANGE;
        SelectEvents(eventMask_);
    }
    DWORD returned = 0;
    if (WinsockIoctl(hSocket_, SIO_ADDRESS_LIST_CHANGE, nullptr, 0, nullptr, 0, &returned, nullptr, nullptr) != 0 &&
        WinsockGetLastError() != WSAEWOULDBLOCK)
        RaiseLastSocketError("SetAddressListChangeNotification");
}

void TCustomNetSocket::SetRoutingNotification() {
    if (!(eventMask_ & FD_ROUTING_INTERFACE_CHANGE)) {
        eventMask_ |= FD_ROUTING_INTERFACE_CHANGE;
        SelectEvents(eventMask_);
    }
    DWORD returned = 0;
    if (WinsockIoctl(hSocket_, SIO_ROUTING_INTERFACE_CHANGE, &peerSockAddr_, DWORD(SockAddrLen(peerSockAddr_)), nullptr,
                     0, &returned, nullptr, nullptr) != 0 &&
        WinsockGetLastError() != WSAEWOULDBLOCK)
        RaiseLastSocketError("SetRoutingInterfaceChangeNotification");
}

// ---- Messages and threads -------------------------------------------------------------------

void TCustomNetSocket::WndProc(TMessage& Msg) {
    const TFireWatch watch(*this);
    try {
        if (Msg.Msg == idSocketEvent_) {
            HandleAsyncSelect(Msg);
        } else if (Msg.Msg == idLookupDone_) {
            HandleLookupDone(Msg, false);
        } else if (Msg.Msg == idReverseDone_) {
            HandleLookupDone(Msg, true);
        } else if (Msg.Msg == idCloseLater_) {
            closeLaterPosted_ = false;
            Close();
        } else if (Msg.Msg == idSendFailed_) {
            HandleSendFailed(uint32_t(Msg.WParam), uint16_t(Msg.LParam));
        } else if (Msg.Msg == idTestException_) {
            throw ESocketException("Test exception in NetSocket");
        } else {
            TInetWndControl::WndProc(Msg);
        }
    } catch (const std::exception& e) {
        if (watch.Alive()) HandleBgException(e, "TCustomNetSocket.WndProc, Msg=" + std::to_string(Msg.Msg));
    }
}

void TCustomNetSocket::HandleSendFailed(uint32_t Generation, uint16_t Error) {
    // A connection lost while sending, reported now that Send has returned; a report for an
    // earlier connection is stale.
    if (Generation != connGen_ || hSocket_ == INVALID_SOCKET) return;
    closePending_ = false;
    StopFlushTimer();
    ShutdownAndClose(false, Error);
}

void TCustomNetSocket::AttachToThread() {
    TInetWndControl::AttachToThread();
    if (hSocket_ != INVALID_SOCKET && eventMask_) SelectEvents(eventMask_);
    if (movedCloseLater_) {
        movedCloseLater_ = false;
        CloseLater();
    }
    if (movedLookup_.pending) {
        // Asked again here: the answer comes to this thread's window (a connect goes on).
        const TMovedLookup m = movedLookup_;
        movedLookup_ = TMovedLookup{};
        connectDnsPending_ = m.forConnect;
        if (m.reverse)
            ReverseLookup(m.host, m.protocol);
        else
            DnsLookup(m.host, m.protocol);
    }
}

void TCustomNetSocket::DetachFromThread() {
    if (GetCurrentThreadId() == OwnerThread()) {
        if (hSocket_ != INVALID_SOCKET) Winsock::WSAAsyncSelect(hSocket_, WindowHandle(), 0, 0);
        // What answers to this thread's window (a look-up, a posted close) is lost with the
        // ids: it is taken along and asked for again on the new thread. The pool is this
        // thread's too.
        if (pendingLookup_) {
            movedLookup_ = TMovedLookup{true, pendingIsReverse_, connectDnsPending_, pendingHost_, pendingProtocol_};
            connectDnsPending_ = false;  // the connect goes on after the move
            (void)CancelLookup(false);
        }
        ReleaseDnsPool();
        movedCloseLater_ = movedCloseLater_ || closeLaterPosted_;
        closeLaterPosted_ = false;
    }
    TInetWndControl::DetachFromThread();
}
