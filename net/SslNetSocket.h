// The TLS layer of the socket chain. With SslEnable off it passes every operation through to
// the layer below. With it on, an OpenSSL SSL object runs over a memory BIO pair: bytes from
// the network go into the pair's network side, plaintext goes in and out through an SSL BIO,
// and the layer drives itself with TLS read, write and close events it posts to its own
// window (the network says nothing when OpenSSL merely has more to do).
//
// Event x state -> action, with TLS on (SslEnable and an SSL object; otherwise, and while a
// proxy negotiates, every event goes to the layer below). States: hs = handshake under way
// (tlsReady), up = handshake finished (tlsEstablished), closing = a close_notify sent or
// received (tlsShuttingDown), down = the shutdown over (tlsShutDown).
//
//   event                  hs                       up                          closing / down
//   ---------------------  -----------------------  --------------------------  ------------------------
//   network read           read into the pair,      take what waits, read into  as up; the peer's close_
//   (FD_READ, TLS read)    drive the handshake      the pair, drive, hand over  notify ends a two-way
//                                                   (OnDataAvailable); after    shutdown
//                                                   the owner's Close: nothing
//   network write          ciphertext out           ciphertext out, queued      ciphertext out; the
//   (FD_WRITE, TLS write)                           plaintext in, OnDataSent;   shutdown ends once the
//                                                   close after send: start     close_notify has left
//                                                   the close_notify
//   close (FD_CLOSE,       handshake failed (1),    plaintext the owner has     down: TCP shut down and
//   TLS close)             close                    not read first (a close     closed, OnSessionClosed
//                                                   from the network only),
//                                                   then the close_notify
//   peer's close_notify    -                        closing; ours answers it    two-way: plain text from
//                                                   (one-way shutdown)          here on
//   Receive                10035                    plaintext                   10058 while our close_
//                                                                               notify waits
//   Send                   queued until up          queued, encrypted, out      10058
//   Close (owner)          queued plaintext waits   queued plaintext out, then  nothing more
//                          for the handshake (then  the close_notify at once,
//                          as up), else plain close unread plaintext dropped;
//                                                   ends with 0 (FlushTimeout
//                                                   bounds it: 10060)
//   Abort                  TLS reset, plain abort   TLS reset, plain abort      TLS reset, plain abort
//
// Every step that calls the owner (or OpenSSL, which calls the owner's handlers) checks
// afterwards that the socket lives and still has the same connection; the TLS reset drops
// the queued TLS events through the core's purge and reports the same.
//
// OpenSSL calls back into the socket (net/SslCallbacks) while it runs. A handler there that
// frees or aborts the socket ends the callback with a failure: the SSL object is taken from
// the socket at once (OpenSSL finds no socket on it from then on) and freed when the
// outermost call into OpenSSL returns. A reset the callback asks for by closing the handle
// is deferred to a message, and while the socket is paused (a handler showing a modal box)
// its TLS events wait instead of re-entering the SSL object.
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

// Every event of the TLS layer. A handler may free the socket, Abort() it or Abort() and
// Connect() it again; the layer fires each through FireEvent (or Fired around a trigger) and
// goes on only when the answer says the socket and its connection are still those.
#define VA_SSL_NET_SOCKET_EVENTS(X)                                                                   \
    X(OnSslVerifyPeer) X(OnSslHandshakeDone) X(OnSslCliGetSession) X(OnSslCliNewSession)              \
    X(OnSslSvrNewSession) X(OnSslSvrGetSession) X(OnSslSetSessionIDContext) X(OnSslShutDownComplete) \
    X(OnSslCliCertRequest) X(OnServerNameRequest) X(OnAlpnSelect)

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
    const TX509List& PeerChain() const { return peerChain_; }
    const std::string& TlsVersionText() const { return conn_.Protocol.VersionText; }
    int TlsVersionNumber() const { return conn_.Protocol.VersionNumber; }
    const std::string& TlsCipherName() const { return conn_.Protocol.CipherName; }
    int CipherAlgBits() const { return conn_.Protocol.CipherAlgBits; }
    int CipherBits() const { return conn_.Protocol.CipherBits; }
    const std::string& CipherDescription() const { return conn_.CipherDescription; }
    const std::string& CipherEncryption() const { return conn_.CipherEncryption; }
    const std::string& CipherKeyExchange() const { return conn_.CipherKeyExchange; }
    const std::string& CipherMessageAuth() const { return conn_.CipherMessageAuth; }
    const std::string& CipherKeyAuth() const { return conn_.CipherKeyAuth; }
    bool SessionWasReused() const { return conn_.SessionWasReused; }
    const std::string& AlpnSelected() const { return conn_.AlpnSelected; }
    const std::string& PeerCertName() const { return conn_.PeerCertName; }
    const std::string& HandshakeMessage() const { return conn_.HandshakeMessage; }
    unsigned long TlsErrorCode() const { return conn_.TlsErrorCode; }
    unsigned long LastPeekError() const { return conn_.LastPeekError; }
    // A server sets its own staple to send; a client finds the one it received here.
    std::string OcspStaple;
    int OcspStapleStatus() const { return conn_.OcspStapleStatus; }
    const TClientHelloData& ClientHello() const { return hello_; }
    TTlsSocketState TlsState() const { return tlsState_; }
    int HandshakeCount() const { return handshakeCount_; }
    SSL* Ssl() const { return ssl_; }
    // The depth of OpenSSL callbacks running (the callbacks count it themselves), and the
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
    // The messages it posted itself move with the socket (its timers move with every
    // component's).
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
    // Ends the TLS connection's state and drops its queued TLS events; false when a handler
    // that ran meanwhile freed the socket or changed its connection (the caller stops then).
    bool ResetSSL();

private:
    enum : uint8_t { evRead = 1, evWrite = 2, evClose = 32 };
    bool TlsActive() const { return SslEnable && ssl_ != nullptr; }
    bool HandshakeFinished() const;
    void BeginHandshake(TSslMode Mode);
    void PostTlsEvent(uint8_t Kind, uint16_t Error = 0);
    void HandleTlsEvent(framework::TMessage& Msg);
    void RecordSslErrors();
    // kDriveGone: a handler OpenSSL ran freed the socket or ended its connection.
    enum { kDriveOk, kDriveRetry, kDriveClosed, kDriveError, kDriveGone };
    int DriveSsl();
    bool RecordsWaiting() const;
    enum TTaken { kTakenNeedMore, kTakenOwnerReads, kTakenEnded, kTakenGone };
    // One network read step (HandleFdRead) keeps Winsock's read events off for its length
    // (the owner's handler runs inside it); asking for them again at its end re-posts one
    // when bytes came meanwhile. When the owner left the plaintext it was told about unread,
    // they stay off until it reads (Receive): asked for again, Winsock would post one at once
    // for the ciphertext still on the socket, and the owner would be told again and read
    // nothing again, for ever.
    class TReadStep {
    public:
        explicit TReadStep(TCustomSslNetSocket& S);
        ~TReadStep();
        TReadStep(const TReadStep&) = delete;
        TReadStep& operator=(const TReadStep&) = delete;
        // The socket lives, on the same connection, with its SSL object.
        bool Same() const;
        // The read events stay off at the end: the owner has read nothing it was told about.
        void HoldEvents(bool Hold) { hold_ = Hold; }

    private:
        TCustomSslNetSocket& s_;
        TFireWatch watch_;
        SOCKET handle_;
        bool off_ = false;
        bool hold_ = false;
    };
    // The steps of a network read; each but the last tells whether the read goes on.
    // What waits (plaintext, whole records in the pair) goes to the owner first.
    bool TakeWhatWaits(TReadStep& Step, uint16_t Error);
    // Network bytes into the pair, never more than it can take.
    bool ReadIntoPair(TReadStep& Step, uint16_t Error);
    // OpenSSL works on them: the handshake, the next record, the peer's close_notify.
    bool DriveReceived(TReadStep& Step, uint16_t Error);
    // The plaintext to the owner, then the shutdown's progress or the retries.
    void HandOver(TReadStep& Step, uint16_t Error);
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

    // What the current connection negotiated and met (see the getters of the same names),
    // reset as a whole when a connection starts. The protocol and cipher in use go back to
    // "Unknown" at the TLS reset; the rest stays readable until the next connection.
    struct TTlsConnectionRecord {
        struct TProtocol {
            std::string VersionText = "Unknown";
            int VersionNumber = 0;
            std::string CipherName = "Unknown";
            int CipherAlgBits = 0;
            int CipherBits = 0;
        } Protocol;
        std::string CipherDescription, CipherEncryption, CipherKeyExchange, CipherMessageAuth, CipherKeyAuth;
        bool SessionWasReused = false;
        std::string AlpnSelected;
        std::string PeerCertName;
        std::string HandshakeMessage;
        unsigned long TlsErrorCode = 0;
        unsigned long LastPeekError = 0;
        int OcspStapleStatus = -1;
    };
    TTlsConnectionRecord conn_;
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
    // ShutdownStateChange, which does the work of entering the new state; the predicates
    // below ask where it is.
    enum TTlsShutdownState : uint8_t { tlsShutNone = 0, tlsShutNotifySent = 1, tlsShutFinished = 2 };
    TTlsShutdownState shutdownState_ = tlsShutNone;
    void ShutdownStateChange(TTlsShutdownState NewState);
    bool ShutdownStarted() const { return shutdownState_ != tlsShutNone; }
    // Our close_notify is out and the shutdown not over.
    bool ShutdownUnderWay() const { return shutdownState_ == tlsShutNotifySent; }
    bool ShutdownOver() const { return shutdownState_ == tlsShutFinished; }
    // The TLS state by what it allows: an SSL object set up for the connection (from the
    // handshake on, unless it failed), and a close_notify sent or received.
    bool ConnectionInitialised() const {
        return tlsState_ == tlsReady || tlsState_ == tlsEstablished || TlsClosing();
    }
    bool TlsClosing() const { return tlsState_ == tlsShuttingDown || tlsState_ == tlsShutDown; }
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
        // The owner asked for the close: what it left unread is dropped, nothing waits for
        // it to read (a close from the network leaves the owner its data first).
        tfOwnerClose = 0x80,
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
    bool OwnerClosing() const { return Flag(tfOwnerClose); }
    // Plaintext the owner has yet to read holds the close back (never after its own Close).
    bool CloseWaitsForOwner() const;
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
    // Messages posted to the window and not yet handled: a thread move posts them again.
    bool dataSentPosted_ = false;
    bool startShutdownPosted_ = false;
    WPARAM startShutdownHow_ = 0;
    LPARAM startShutdownOneWay_ = 0;
    void PostDataSent();
    void PostStartShutdown(WPARAM How, LPARAM OneWay);
    // Takes the OpenSSL objects from the socket while OpenSSL still runs on them (a handler
    // inside one of its callbacks ended the connection): freed once the outermost call returns.
    void DeferSslFree();
    // Counts the connections: a deferred reset names the one it was asked for.
    uint32_t tlsGeneration_ = 0;
    int lastSslError_ = 0;
    // Given back by UnreadReceived; read before the socket.
    std::string unread_;
    int64_t unreadTaken_ = 0;
    int TakeUnread(void* Buffer, int Size, bool Peek);
    // Network read steps running (TReadStep), and whether network read events were left
    // off because the owner has not read the plaintext it was told about.
    int readSteps_ = 0;
    bool readEventsHeld_ = false;
    void ReleaseHeldReadEvents();
    // Plaintext through the SSL BIO; false when a handler OpenSSL ran meanwhile freed the
    // socket or ended its connection (nothing of the socket is touched then).
    bool ReadPlain(void* Buffer, int Size, int& Got);
    void PostUnreadRead();
};
