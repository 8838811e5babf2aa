// The asynchronous socket every network component stands on. It lives on the thread that
// created it: the socket library reports readiness (WSAAsyncSelect) to the component's
// hidden window, and the component turns that into events. Nothing blocks on the network:
// connecting returns at once, sending queues into 1460-byte blocks written out as the
// system takes them, and received data is announced (OnDataAvailable), not pushed.
//
// Layers above derive from it (proxy tunnel, SOCKS, TLS, line mode, waiting, time-outs,
// throttling) and override the virtual operations. The destructor cannot reach those
// overrides, so each class's destructor calls DisposeSocket, which does the closing work
// once, from the most-derived class.
//
// Lifetimes: every event handler may free the socket, close it or reconnect it. Every event
// is fired through FireEvent (or a trigger wrapped in Fired), and the socket goes on after it
// only when the answer says the socket and its connection are still those that fired it:
// each connection begun, closed, aborted or replaced is new work (NewWork).
// Socket events queued for a closed handle are removed at close and before the next handle
// is selected, so they never reach the next connection, even when it gets the same handle.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/StringList.h"
#include "net/InetAddress.h"
#include "net/InetBuffer.h"
#include "net/InetWndControl.h"
#include "net/NetSocketTypes.h"

class TInetAsyncDnsLookup;

// The events the socket core fires, by member name (OnBgException is the window control's,
// set through SetOnBgException). Tests walk this list: an event added here needs its case.
#define VA_NET_SOCKET_EVENTS(X)                                                                    \
    X(OnDataAvailable) X(OnDataSent) X(OnSessionClosed) X(OnSessionAvailable) X(OnSessionConnected) \
    X(OnSendData) X(OnChangeState) X(OnDnsLookupDone) X(OnError) X(onException)                    \
    X(OnAddressListChanged) X(OnRoutingInterfaceChanged) X(OnBgException)

// When the socket last connected, sent and received.
class TNetSocketCounter {
public:
    virtual ~TNetSocketCounter() = default;
    // A connection came up now: the send and receive ticks start again.
    virtual void SetConnected();
    // Bytes went out or came in at Tick.
    void Sent(uint32_t Tick) { sendTick_ = Tick; }
    void Received(uint32_t Tick) { recvTick_ = Tick; }
    uint32_t LatestActivityTick() const;
    // The most recent of the three ticks as seen at Now (across the counter's wrap).
    uint32_t LatestActivityTick(uint32_t Now) const;
    uint32_t StartTick() const { return startTick_; }
    uint32_t SendTick() const { return sendTick_; }
    uint32_t RecvTick() const { return recvTick_; }
    TDateTime StartDate() const { return startDate_; }

protected:
    uint32_t startTick_ = 0;
    uint32_t sendTick_ = 0;
    uint32_t recvTick_ = 0;
    TDateTime startDate_ = 0;
};
using TNetSocketCounterClass = std::function<std::unique_ptr<TNetSocketCounter>()>;

class TCustomNetSocket : public TInetWndControl {
public:
    explicit TCustomNetSocket(framework::TComponent* Owner);
    ~TCustomNetSocket() override;

    // ---- Properties ----
    const std::string& Addr() const { return addr_; }
    void SetAddr(const std::string& Value);
    const std::string& Port() const { return port_; }
    virtual void SetPort(const std::string& Value);
    const std::string& Proto() const { return proto_; }
    virtual void SetProto(const std::string& Value);
    const std::string& LocalAddr() const { return localAddr_; }
    void SetLocalAddr(const std::string& Value);
    const std::string& LocalAddr6() const { return localAddr6_; }
    void SetLocalAddr6(const std::string& Value);
    const std::string& LocalPort() const { return localPort_; }
    void SetLocalPort(const std::string& Value);
    TSocketFamily SocketFamily() const { return socketFamily_; }
    void SetSocketFamily(TSocketFamily Value);
    TSocketSendFlags SendFlags() const { return sendFlags_; }
    void SetSendFlags(int Value);
    uint8_t ReqVerLow() const;
    void SetReqVerLow(uint8_t Value);
    uint8_t ReqVerHigh() const;
    void SetReqVerHigh(uint8_t Value);
    // The block size of the send queue.
    virtual void SetBufSize(int32_t Size);
    virtual int32_t GetBufSize();
    virtual void SetSocketRcvBufSize(int Size);
    virtual void SetSocketSndBufSize(int Size);

    bool MultiCast = false;
    std::string MultiCastAddrStr;
    int MultiCastIpTTL = 1;
    // Seconds a Close may spend delivering the bytes still queued; then the connection is
    // reset and reported closed with 10060.
    int FlushTimeout = 60;
    TSocketLingerOnOff LingerOnOff = wsLingerOn;
    int LingerTimeout = 0;
    TSocketKeepAliveOnOff KeepAliveOnOff = wsKeepAliveOff;
    int KeepAliveTime = 0;
    int KeepAliveInterval = 0;
    bool ReuseAddr = false;
    bool ExclusiveAddr = false;
    TNetSocketOptions ComponentOptions;
    int ListenBacklog = 15;
    TSocketErrs SocketErrs = wsErrTech;
    TNetSocketCounterClass ActivityCounterClass;

    // ---- Outputs: the socket writes them, callers read them ----
    // The last socket error code (0 after a success).
    int LastError() const { return lastError_; }
    // Bytes taken from and given to the connection since it came up.
    int64_t BytesReceived() const { return bytesReceived_; }
    int64_t BytesSent() const { return bytesSent_; }
    // The first address (or name) the last look-up found.
    const std::string& LookupResult() const { return lookupResult_; }

    // ---- Events ----
    TSocketEvent OnDataAvailable;
    TSocketEvent OnDataSent;
    TSocketEvent OnSessionClosed;
    TSocketEvent OnSessionAvailable;
    TSocketEvent OnSessionConnected;
    TSendDataEvent OnSendData;
    TChangeStateEvent OnChangeState;
    TSocketEvent OnDnsLookupDone;
    framework::TNotifyEvent OnError;
    TSocketExceptionEvent onException;
    TSocketEvent OnAddressListChanged;
    TSocketEvent OnRoutingInterfaceChanged;

    // ---- State ----
    SOCKET HSocket() const { return hSocket_; }
    TSocketState State() const { return state_; }
    bool SendQueueEmpty() const { return sendQueueEmpty_; }
    bool ClosedFired() const { return closedFired_; }
    int32_t QueuedBytes() const { return queuedBytes_; }
    // The system's buffer sizes, read when the handle is made or set through the setters.
    int SystemSendBufSize() const { return systemSendBufSize_; }
    int SystemRecvBufSize() const { return systemRecvBufSize_; }
    const std::string& HostAscii() const { return hostAscii_; }
    const std::string& PeerAddrText() const { return peerAddrText_; }
    // Every address (or name) the last look-up found.
    const framework::TStringList& LookupResults() const { return lookupResults_; }
    TNetSocketCounter* ActivityCounter() const { return counter_.get(); }
    // A Close waits for the send queue to drain.
    bool ClosePending() const { return closePending_; }
    // The message ids this socket owns.
    UINT IdSocketEvent() const { return idSocketEvent_; }

    // ---- Operations ----
    virtual void Connect();
    // Delivers every queued byte, then a FIN; only Abort resets.
    virtual void Close();
    virtual void CloseLater();
    virtual void Abort();
    virtual void Flush();
    virtual void DrainReceive();
    virtual void Listen();
    virtual SOCKET Accept();
    virtual void Dup(SOCKET NewHandle);
    virtual void Shutdown(int How);
    virtual void Pause();
    virtual void Resume();

    virtual int ReceiveData(void* Buffer, int Size);
    // Reads at most min(pending bytes or 255, MaxLen, Bytes.size()) bytes into Bytes and
    // trims it to the count; -1 for an empty vector.
    virtual int ReceiveBytes(std::vector<uint8_t>& Bytes, int MaxLen);
    // The same text as ReceiveAsText, under the other name callers know it by.
    virtual std::string ReceiveAsTextAlias();
    virtual std::string ReceiveAsText();
    virtual int ReceiveFromData(void* Buffer, int Size, sockaddr_in& From, int& FromLen);
    virtual int ReceiveFrom6Data(void* Buffer, int Size, sockaddr_in6& From, int& FromLen);
    // One datagram into Bytes (2048 bytes when it is empty), trimmed to the count; the
    // sender in From.
    virtual int ReceiveFromBytes(std::vector<uint8_t>& Bytes, sockaddr_in& From, int& FromLen);
    virtual int ReceiveFrom6Bytes(std::vector<uint8_t>& Bytes, sockaddr_in6& From, int& FromLen);
    virtual int PendingReceiveCount();

    virtual int Send(const void* Data, int Len);
    virtual int SendChar(char Value);
    virtual int SendBytes(const std::vector<uint8_t>& Bytes, int Len = -1);
    virtual int SendText(const std::string& Text);
    virtual int SendToAddr(const sockaddr_in& Dest, const void* Data, int Len);
    // At most Len bytes of the array (all of it for a negative Len) to Dest.
    virtual int SendBytesToAddr(const sockaddr_in& Dest, const std::vector<uint8_t>& Bytes, int Len = -1);
    virtual int SendToAddr6(const sockaddr_in6& Dest, const void* Data, int Len);
    virtual int SendBytesToAddr6(const sockaddr_in6& Dest, const std::vector<uint8_t>& Bytes, int Len = -1);

    virtual void DnsLookupTcp(const std::string& Host) { DnsLookup(Host, IPPROTO_TCP); }
    virtual void DnsLookup(const std::string& Host, int Protocol);
    virtual void ReverseLookupTcp(const std::string& Addr) { ReverseLookup(Addr, IPPROTO_TCP); }
    virtual void ReverseLookup(const std::string& Addr, int Protocol);
    virtual void ReverseLookupSyncTcp(const std::string& Addr) { ReverseLookupSync(Addr, IPPROTO_TCP); }
    virtual void ReverseLookupSync(const std::string& Addr, int Protocol);
    virtual void AbortDnsLookup();
    bool LookupPending() const { return pendingLookup_ != nullptr; }

    virtual std::string GetPeerAddr();
    virtual std::string GetPeerPort();
    // The peer's address record (Len: its size on entry, the used size after); 0, or -1
    // when not connected or the system refuses (LastError tells).
    virtual int ReadPeerSockAddr(TSockAddrIn6& PeerSockAddr, int& Len);
    virtual std::string LocalPortText();
    virtual std::string LocalAddrText();
    // Seconds/microseconds pairs: set when either part is non-zero; compared part by part
    // (negative, 0 or positive as A is earlier, equal or later).
    virtual bool TimeValIsSet(const timeval& T);
    virtual void TimeValClear(timeval& T);
    virtual int TimeValCompare(const timeval& A, const timeval& B);
    // The local address record of the socket, as ReadPeerSockAddr.
    virtual int ReadLocalSockAddr(TSockAddrIn6& LocalSockAddr, int& Len);
    virtual void SetRoutingNotification();
    virtual void SetAddressListNotification();

    void AttachToThread() override;
    void DetachFromThread() override;

protected:
    // The closing work of the destructor, done once (see the header comment).
    void DisposeSocket();
    bool Disposing() const { return disposing_; }

    void WndProc(framework::TMessage& Msg) override;
    int MessageIdCount() override { return TInetWndControl::MessageIdCount() + 7; }
    void TakeMessageIds() override;
    void ReturnMessageIds() override;
    void AbortAfterException(const std::exception& E) override;

    virtual void AllocateSocketWindow() { AllocateHiddenWindow(); }
    virtual void ReleaseSocketWindow() { ReleaseHiddenWindow(); }
    virtual void RaiseLastSocketError(const std::string& Msg, int ErrCode = 0, const std::string& UserText = "");
    virtual void HandleAsyncSelect(framework::TMessage& Msg);
    virtual void TryToSend();
    virtual void SetDefaults();
    virtual void ShutdownAndClose(bool Shut, uint16_t Error);
    virtual void HardAbort(uint16_t Error);
    virtual void BindLocal();
    // One system send of the bytes; -1 with the error in SendError().
    virtual int SendRaw(const void* Data, int Len);
    virtual void RaiseSocketErrorMsg(const std::string& Msg);
    virtual void RaiseSocketError(const std::string& Msg, int ErrCode, const std::string& ProtocolText,
                                  const std::string& PortText, const std::string& AddressText,
                                  const std::string& OperationName, const std::string& UserText,
                                  const std::string& ErrorText);
    virtual void TriggerSendData(int Count);
    // Fires OnDataAvailable; false when no handler is assigned.
    virtual bool TriggerDataAvailable(uint16_t ErrCode);
    virtual void TriggerSessionAvailable(uint16_t ErrCode);
    // The transport connection is up (or failed); proxy and TLS layers negotiate first.
    virtual void TransportConnected(uint16_t ErrCode);
    virtual void TriggerSessionConnected(uint16_t ErrCode);
    virtual void TriggerSessionClosed(uint16_t ErrCode);
    virtual void TriggerDataSent(uint16_t ErrCode);
    virtual void TriggerChangeState(TSocketState OldState, TSocketState NewState);
    virtual void TriggerDNSLookupDone(uint16_t ErrCode);
    virtual void TriggerError();
    virtual void TriggerException(ESocketException& E);
    // One system receive; counts the bytes unless peeking.
    virtual int Receive(void* Buffer, int Size, int Flags);
    virtual int ReceiveFrom(void* Buffer, int Size, int Flags, sockaddr* From, int& FromLen);
    virtual void HandleFdConnect(framework::TMessage& Msg, uint16_t Error);
    virtual void HandleFdRead(framework::TMessage& Msg, uint16_t Error);
    virtual void HandleFdWrite(framework::TMessage& Msg, uint16_t Error);
    virtual void HandleFdAccept(framework::TMessage& Msg, uint16_t Error);
    virtual void HandleFdClose(framework::TMessage& Msg, uint16_t Error);
    virtual void HandleFdRoutingChange(framework::TMessage& Msg, uint16_t Error);
    virtual void HandleFdAddressListChange(framework::TMessage& Msg, uint16_t Error);
    virtual void AdoptConnected();
    virtual void AppendToSendBuffer(const void* Data, int Len);
    virtual void CreateCounter();
    // Receive loop: announce, then again while the system holds unread bytes and the last
    // pass consumed some. Outside a close it gives the thread back after a time slice.
    void ASyncReceive(uint16_t ErrCode, bool NoReceiveLoop, bool BeforeClose = false);
    // The receive pass that hands over what arrived before the peer's close is running: the
    // connection is over, so nothing read now is worth pacing.
    bool InClosePass() const { return inClosePass_; }
    // Grows whenever received data is consumed; a receive pass that leaves it unchanged
    // ends the loop. Layers that buffer add what was taken from their buffers.
    virtual int64_t ConsumedMark() { return bytesReceived_; }
    void ChangeState(TSocketState NewState);
    int SendError() const { return sendError_; }
    // Proxy layers open the connection to their proxy: they put its address and port in
    // place of the target's around the inherited Connect, then put the target back.
    void ReplaceEndpoint(const std::string& Addr, const std::string& Port);
    // Tells Winsock which events to post (eventMask_ stays what the socket wants).
    virtual void SelectEvents(long Mask);
    // Layers that move bytes or meet errors themselves record them here.
    void SetLastError(int Value) { lastError_ = Value; }
    void SetBytesReceived(int64_t Value) { bytesReceived_ = Value; }
    void SetBytesSent(int64_t Value) { bytesSent_ = Value; }
    void SetLookupResult(const std::string& Value) { lookupResult_ = Value; }
    // Drops the messages still queued for one of the socket's ids (its socket events, a
    // layer's own events); false when a handler run meanwhile freed the socket or changed
    // its connection. Every layer purges through this one.
    bool PurgeQueuedEvents(UINT Id);
    // Reads SO_SNDBUF and SO_RCVBUF into the system sizes; the failed call's name, or nullptr.
    const char* ReadSystemBufSizes();

    UINT idSocketEvent_ = 0, idLookupDone_ = 0, idReverseDone_ = 0, idCloseLater_ = 0, idTestException_ = 0,
         idDataRetrigger_ = 0, idSendFailed_ = 0;
    SOCKET hSocket_ = INVALID_SOCKET;
    TSocketState state_ = wsClosed;
    long eventMask_ = 0;
    uint32_t currentFdEvent_ = 0;
    bool eventsPaused_ = false;
    bool sendQueueEmpty_ = true;
    bool closedFired_ = false;
    bool connectDnsPending_ = false;
    int protoNumber_ = IPPROTO_TCP;
    int sockKind_ = SOCK_STREAM;
    uint16_t portNumber_ = 0, localPortNumber_ = 0;
    TSockAddrIn6 peerSockAddr_{};
    TSocketFamily savedSocketFamily_ = sfIPv4;
    TInetBufferHandler sendQueue_{nullptr};

private:
    int SendToRaw(const sockaddr* Dest, int DestLen, const void* Data, int Len);
    void SetServiceText(const char* What, const std::string& Value, std::string& Text, bool& Given, bool& Known);
    // Drops the socket events still queued; false when a handler run meanwhile freed the
    // socket or changed its connection.
    bool PurgeSocketEvents();
    void FinishDrainIfDone();
    void StartFlushTimer();
    void StopFlushTimer();
    void HandleSendFailed(uint32_t Generation, uint16_t Error);
    void HandleLookupDone(framework::TMessage& Msg, bool Reverse);
    // Forgets the pending look-up, reporting it (WSAEINTR) when Report; false when the report's
    // handler freed the socket or set it to other work.
    bool CancelLookup(bool Report);
    // Runs Raise (an error report) and reports the look-up as failed, whether Raise throws or not.
    void FailLookup(const std::function<void()>& Raise);
    TInetAsyncDnsLookup* DnsPool();
    void ReleaseDnsPool();
    void ApplyLinger(bool ForAbort);
    void ResolveConnectTarget();
    bool JoinMulticastGroup();
    // The steps of Connect; false when the step ended it.
    bool ConnectResolve();
    bool ConnectOpen();
    bool ConnectDatagramOptions();
    bool ConnectStreamOptions();
    void ConnectStart();

    std::string addr_, port_, proto_ = "tcp", localAddr_ = "0.0.0.0", localAddr6_ = "::", localPort_ = "0";
    bool protoGiven_ = true, protoKnown_ = false, portGiven_ = false, portKnown_ = false, addrGiven_ = false,
         addrKnown_ = false, localPortKnown_ = false;
    TSocketFamily socketFamily_ = sfIPv4;
    TSocketSendFlags sendFlags_ = wsSendNormal;
    std::string hostAscii_, peerAddrText_;
    int32_t queuedBytes_ = 0;
    int sendError_ = 0;
    int lastError_ = 0;
    int64_t bytesReceived_ = 0, bytesSent_ = 0;
    std::string lookupResult_;
    framework::TStringList lookupResults_;
    int systemSendBufSize_ = 0, systemRecvBufSize_ = 0;
    // The last receive filled the caller's buffer (more is probably waiting).
    bool lastReceiveFilled_ = false;
    std::unique_ptr<TNetSocketCounter> counter_;
    // Look-ups: a pool request or a library handle, with its result buffer.
    void* pendingLookup_ = nullptr;
    bool pendingIsPool_ = false;
    bool pendingIsReverse_ = false;
    TInetAsyncDnsLookup* dnsPool_ = nullptr;
    uint32_t dnsPoolThread_ = 0;
    // What the pending look-up asked, to ask it again after a thread move.
    std::string pendingHost_;
    int pendingProtocol_ = IPPROTO_TCP;
    struct TMovedLookup {
        bool pending = false;
        bool reverse = false;
        bool forConnect = false;
        std::string host;
        int protocol = IPPROTO_TCP;
    };
    TMovedLookup movedLookup_;
    // A CloseLater waits in the queue; one taken along by a thread move.
    bool closeLaterPosted_ = false;
    bool movedCloseLater_ = false;
    // A Close waiting for the queue to drain, and its time limit.
    bool closePending_ = false;
    std::unique_ptr<TInetTimer> flushTimer_;
    uint32_t flushProgressTick_ = 0;
    // Counts connections; a deferred close report names the one it is for.
    uint32_t connGen_ = 0;
    int sendDepth_ = 0;
    // TryToSend is running: a nested call only leaves its bytes queued.
    bool inTryToSend_ = false;
    bool inClosePass_ = false;
    bool closeReportPosted_ = false;
    // How sending found the connection lost, for a close event that does not say.
    int sendFailure_ = 0;
    bool disposing_ = false;
    bool inUseCounted_ = false;
};
