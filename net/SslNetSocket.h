// The TLS layer of the socket chain. With SslEnable off it passes every operation through to
// the layer below. With it on, an OpenSSL SSL object runs over a memory BIO pair: bytes from
// the network go into the pair's network side, plaintext goes in and out through an SSL BIO,
// and the layer drives itself with TLS read, write and close events it posts to its own
// window (the network says nothing when OpenSSL merely has more to do).
//
// OpenSSL calls back into the socket (net/SslCallbacks) while it runs; a reset asked for
// during such a callback is deferred to a message, and while the socket is paused (a
// handler showing a modal box) its TLS events wait instead of re-entering the SSL object.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/StringList.h"
#include "net/InetWndControl.h"
#include "net/SocksNetSocket.h"
#include "net/SslContext.h"
#include "net/X509Base.h"

enum TSslMode : uint8_t { sslModeClient = 0, sslModeServer = 1 };

enum TTlsSocketState : uint8_t {
    tlsNone = 0,
    tlsHandshakeRequested = 1,
    tlsReady = 2,
    tlsFailed = 3,
    tlsEstablished = 4,
    tlsShuttingDown = 5,
    tlsShutDown = 6
};

class TCustomSslNetSocket;

using TSslVerifyPeerEvent = std::function<void(TCustomSslNetSocket* Sender, int& Ok, TX509Base* Cert)>;
using TSslHandshakeDoneEvent =
    std::function<void(TCustomSslNetSocket* Sender, uint16_t ErrCode, TX509Base* PeerCert, bool& Disconnect)>;
using TSslCliGetSession = std::function<void(TCustomSslNetSocket* Sender, void*& SslSession, bool& FreeSession)>;
using TSslCliNewSession =
    std::function<void(TCustomSslNetSocket* Sender, void* SslSession, bool WasReused, bool& IncRefCount)>;
using TSslSvrNewSession = std::function<void(TCustomSslNetSocket* Sender, void* SslSession, void* SessId, int Idlen,
                                             bool& AddToInternalCache)>;
using TSslSvrGetSession = std::function<void(TCustomSslNetSocket* Sender, void*& SslSession, void* SessId, int Idlen,
                                             bool& IncRefCount)>;
using TSslSetSessionIDContext = std::function<void(TCustomSslNetSocket* Sender, std::string& SessionIDContext)>;
using TSslShutDownComplete = std::function<void(TCustomSslNetSocket* Sender, bool Bidirectional, int ErrCode)>;
using TSslCliCertRequest = std::function<void(TCustomSslNetSocket* Sender, TX509Base*& Cert)>;
using TSslServerNameEvent = std::function<void(TCustomSslNetSocket* Sender, TSslContext*& Ctx, int& ErrCode)>;
using TSslAlpnSelectEvent = std::function<void(TCustomSslNetSocket* Sender, const framework::TStringList& ProtoList,
                                               std::string& SelProto, int& ErrCode)>;

// What a server socket read from the client's hello (reset with each connection).
struct TClientHelloData {
    std::string ServerName;
    int Decision = 0;
    bool IsV2 = false;
    uint32_t LegacyVersion = 0;
    std::string Random, SessionId, CipherSuites;
    std::vector<uint32_t> Extensions;
    std::string StatusRequest, Alpn, PreSharedKey, PskModes, KeyShare, RenegInfo;
    std::vector<uint16_t> SupportedGroups, SigAlgs, SupportedVersions;
    std::vector<uint8_t> PointFormats;
    void Clear() { *this = TClientHelloData(); }
};

class TCustomSslNetSocket : public TCustomSocksNetSocket {
    friend struct TSslCallbacks;

public:
    explicit TCustomSslNetSocket(framework::TComponent* Owner);
    ~TCustomSslNetSocket() override;

    // ---- Properties ----
    TSslContext* SslContext() const { return sslContext_; }
    void SetSslContext(TSslContext* Value);
    bool SslEnable = false;
    framework::TStringList SslAcceptableHosts;
    TSslMode SslMode = sslModeClient;

    // ---- Events ----
    TSslVerifyPeerEvent OnSslVerifyPeer;
    TSslHandshakeDoneEvent OnSslHandshakeDone;
    TSslCliGetSession OnSslCliGetSession;
    TSslCliNewSession OnSslCliNewSession;
    TSslSvrNewSession OnSslSvrNewSession;
    TSslSvrGetSession OnSslSvrGetSession;
    TSslSetSessionIDContext OnSslSetSessionIDContext;
    TSslShutDownComplete OnSslShutDownComplete;
    TSslCliCertRequest OnSslCliCertRequest;
    TSslServerNameEvent OnServerNameRequest;
    TSslAlpnSelectEvent OnAlpnSelect;

    // ---- State of the current TLS connection ----
    // TlsServerName and OcspStaple are also set by the owner; the rest is the socket's own
    // record of the connection, read-only outside it.
    std::string TlsServerName;
    TX509Base* PeerCertificate() const { return peerCert_.get(); }
    TX509List& PeerChain() { return peerChain_; }
    const std::string& TlsVersionText() const { return tlsVersionText_; }
    int TlsVersionNumber() const { return tlsVersionNumber_; }
    const std::string& TlsCipherName() const { return tlsCipherName_; }
    int CipherAlgBits() const { return cipherAlgBits_; }
    int CipherBits() const { return cipherBits_; }
    const std::string& CipherDescription() const { return cipherDescription_; }
    const std::string& CipherEncryption() const { return cipherEncryption_; }
    const std::string& CipherKeyExchange() const { return cipherKeyExchange_; }
    const std::string& CipherMessageAuth() const { return cipherMessageAuth_; }
    const std::string& CipherKeyAuth() const { return cipherKeyAuth_; }
    bool SessionWasReused() const { return sessionWasReused_; }
    const std::string& AlpnSelected() const { return alpnSelected_; }
    const std::string& PeerCertName() const { return peerCertName_; }
    const std::string& HandshakeMessage() const { return handshakeMessage_; }
    unsigned long TlsErrorCode() const { return tlsErrorCode_; }
    unsigned long LastPeekError() const { return lastPeekError_; }
    // A server sets its own staple to send; a client finds the one it received here.
    std::string OcspStaple;
    int OcspStapleStatus() const { return ocspStapleStatus_; }
    const TClientHelloData& ClientHello() const { return hello_; }
    TTlsSocketState TlsState() const { return tlsState_; }
    int HandshakeCount() const { return handshakeCount_; }
    SSL* Ssl() const { return ssl_; }
    // The depth of OpenSSL callbacks running (the callbacks count it, as friends), and the
    // deferred reset they ask for.
    int InsideCallbackCount() const { return insideCallback_; }
    void PostResetLater() {
        if (WindowHandle()) PostMessageA(WindowHandle(), idReset_, WPARAM(tlsGeneration_), 0);
    }

    // ---- Operations ----
    void BeginClientHandshake();
    void BeginServerHandshake();
    void Close() override;
    void Listen() override;
    SOCKET Accept() override;
    void Dup(SOCKET NewHandle) override;
    void Shutdown(int How) override;
    // Sends a close_notify and waits for the peer's; then the connection goes on in plain
    // text (OnSslShutDownComplete with Bidirectional true).
    void StartBidirectionalShutdown();
    void Resume() override;
    int PendingReceiveCount() override;
    void AttachToThread() override;
    // Bytes an owner read from the connection before this layer took over (what followed
    // a proxy's CONNECT answer): they are the start of the stream and come before anything
    // still on the socket, as ciphertext once TLS runs, else as received data.
    void UnreadReceived(const void* Data, int Len);

protected:
    void WndProc(framework::TMessage& Msg) override;
    int MessageIdCount() override { return TCustomSocksNetSocket::MessageIdCount() + 5; }
    void TakeMessageIds() override;
    void ReturnMessageIds() override;
    void Notification(framework::TComponent* Component, framework::TOperation Operation) override;
    void TryToSend() override;
    void SetDefaults() override;
    void ShutdownAndClose(bool Shut, uint16_t Error) override;
    void HardAbort(uint16_t Error) override;
    int Receive(void* Buffer, int Size, int Flags) override;
    void HandleFdConnect(framework::TMessage& Msg, uint16_t Error) override;
    void HandleFdRead(framework::TMessage& Msg, uint16_t Error) override;
    void HandleFdWrite(framework::TMessage& Msg, uint16_t Error) override;
    void HandleFdAccept(framework::TMessage& Msg, uint16_t Error) override;
    void HandleFdClose(framework::TMessage& Msg, uint16_t Error) override;
    void AdoptConnected() override {}
    int64_t ConsumedMark() override { return TCustomSocksNetSocket::ConsumedMark() + unreadTaken_; }
    void AppendToSendBuffer(const void* Data, int Len) override;
    void TriggerSessionConnected(uint16_t ErrCode) override;

    [[noreturn]] virtual void RaiseSslError(int ExceptionKind, const std::string& Msg);
    virtual void TriggerSslHandshakeDone(uint16_t ErrCode);
    virtual void TriggerSslVerifyPeer(int& Ok, TX509Base* Cert);
    virtual void SslReserved() {}
    virtual void TriggerSslShutDownComplete(int ErrCode);
    virtual void TriggerServerNameRequest(TSslContext*& Ctx, int& ErrCode);
    virtual void TriggerAlpnSelect(const framework::TStringList& ProtoList, std::string& SelProto, int& ErrCode);

    void InitSSLConnection(bool ClientMode, SSL_CTX* SslCtx);
    void ResetSSL();

private:
    enum : uint8_t { evRead = 1, evWrite = 2, evClose = 32 };
    bool TlsActive() const { return SslEnable && ssl_ != nullptr; }
    bool HandshakeFinished() const;
    void BeginHandshake(TSslMode Mode);
    void PostTlsEvent(uint8_t Kind, uint16_t Error = 0);
    void HandleTlsEvent(framework::TMessage& Msg);
    void PurgeTlsEvents();
    void RecordSslErrors();
    enum { kDriveOk, kDriveRetry, kDriveClosed, kDriveError };
    int DriveSsl();
    bool RecordsWaiting() const;
    enum TTaken { kTakenNeedMore, kTakenOwnerReads, kTakenEnded, kTakenGone };
    TTaken TakeBufferedRecords(uint16_t Error);
    void PeerSentCloseNotify(uint16_t Error);
    void FailOnSslError();
    void FlushTls();
    void DrainNetworkBio();
    void StartTlsShutdown(int How);
    bool ShutdownFinished(int How);
    bool ShutdownProgress();
    void ReportHandshakeFailedOnce(uint16_t ErrCode);
    void StartTlsFlushTimer();
    void StopTlsFlushTimer();
    void SetPendingClose(int Err);
    bool PlaintextQueued() const;
    bool AllSentOut();
    // The core's ciphertext queue itself (its empty flag is cleared by Send before any
    // byte reaches it).
    bool CoreQueueEmpty() const { return sendQueue_.IsEmpty(); }

    // What the current connection negotiated and met (see the getters of the same names).
    std::string tlsVersionText_ = "Unknown";
    int tlsVersionNumber_ = 0;
    std::string tlsCipherName_ = "Unknown";
    int cipherAlgBits_ = 0;
    int cipherBits_ = 0;
    std::string cipherDescription_;
    std::string cipherEncryption_;
    std::string cipherKeyExchange_;
    std::string cipherMessageAuth_;
    std::string cipherKeyAuth_;
    bool sessionWasReused_ = false;
    std::string alpnSelected_;
    std::string peerCertName_;
    std::string handshakeMessage_;
    unsigned long tlsErrorCode_ = 0;
    unsigned long lastPeekError_ = 0;
    int ocspStapleStatus_ = -1;
    TSslContext* sslContext_ = nullptr;
    std::unique_ptr<TX509Base> peerCert_;
    TX509List peerChain_;
    TClientHelloData hello_;

    UINT idDataSent_ = 0, idTlsEvent_ = 0, idReset_ = 0, idStartShutdown_ = 0, idShutdownComplete_ = 0;
    SSL* ssl_ = nullptr;
    BIO* sslBio_ = nullptr;
    BIO* intBio_ = nullptr;
    BIO* netBio_ = nullptr;
    TInetBufferHandler plainQueue_{nullptr};
    TTlsSocketState tlsState_ = tlsNone;
    // The TLS shutdown: not started, our close_notify sent, finished. Changed only through
    // ShutdownStateChange; ShutdownStarted asks whether one is under way or over.
    enum TTlsShutdownState : uint8_t { tlsShutNone = 0, tlsShutNotifySent = 1, tlsShutFinished = 2 };
    TTlsShutdownState shutdownState_ = tlsShutNone;
    void ShutdownStateChange(TTlsShutdownState NewState) { shutdownState_ = NewState; }
    bool ShutdownStarted() const { return shutdownState_ != tlsShutNone; }
    // How the connection is to close and what waits to be retried, as bits of one value
    // changed only through FlagsChange and read through the predicates below.
    enum TTlsFlag : uint8_t {
        // The shutdown waits for the peer's close_notify; the connection goes on in plain text.
        tfBidirectional = 0x01,
        // Close was asked for, by the owner or by the network.
        tfCloseRequested = 0x02,
        // Close waits for the queued plaintext (and its ciphertext) before the close_notify.
        tfCloseAfterSend = 0x04,
        // The retries: the pair had no room for network bytes, a write event is wanted,
        // reading plaintext and sending plaintext are to be tried again.
        tfNetBioFull = 0x08,
        tfWriteWanted = 0x10,
        tfSslBioRetry = 0x20,
        tfSendRetry = 0x40,
        tfRetries = tfNetBioFull | tfWriteWanted | tfSslBioRetry | tfSendRetry,
    };
    uint8_t tlsFlags_ = tfRetries;
    void FlagsChange(uint8_t Set, uint8_t Clear = 0) { tlsFlags_ = uint8_t((tlsFlags_ & ~Clear) | Set); }
    bool Flag(TTlsFlag F) const { return (tlsFlags_ & F) != 0; }
    // Clears F; tells whether it was set.
    bool TakeFlag(TTlsFlag F) {
        const bool was = Flag(F);
        FlagsChange(0, F);
        return was;
    }
    bool Bidirectional() const { return Flag(tfBidirectional); }
    bool CloseRequested() const { return Flag(tfCloseRequested); }
    bool CloseAfterSend() const { return Flag(tfCloseAfterSend); }
    int shutdownHow_ = 1;
    int pendingCloseError_ = 0;
    bool handshakeReported_ = false;
    bool handshakeDonePending_ = false;
    int insideCallback_ = 0;
    int retryWriteLen_ = -1;
    uint8_t postedEvents_ = 0;
    // TLS events that arrived while the socket was paused: re-posted on Resume.
    uint8_t deferredEvents_ = 0;
    bool allPlainSent_ = true;
    bool dataSentOwed_ = false;
    bool sslAcquired_ = false;
    int firstVerifyResult_ = -1;
    int handshakeCount_ = 0;
    std::string alpnKeep_;
    std::unique_ptr<TInetTimer> tlsFlushTimer_;
    bool tlsFlushTimer_armed_ = false;
    // Counts the connections: a deferred reset names the one it was asked for.
    uint32_t tlsGeneration_ = 0;
    int lastSslError_ = 0;
    // Given back by UnreadReceived; read before the socket.
    std::string unread_;
    int64_t unreadTaken_ = 0;
    int TakeUnread(void* Buffer, int Size, bool Peek);
    // Network read steps running (HandleFdRead), and whether network read events were left
    // off because the owner has not read the plaintext it was told about.
    int readSteps_ = 0;
    bool readEventsHeld_ = false;
    void ReleaseHeldReadEvents();
    void PostUnreadRead();
};
