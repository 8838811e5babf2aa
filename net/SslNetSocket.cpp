#include "net/SslNetSocket.h"

#include <algorithm>
#include <cstring>

#include "framework/Handles.h"
#include "net/InetIdn.h"
#include "net/InetSocketErrors.h"
#include "net/InetWinsock.h"
#include "net/SslCallbacks.h"

using framework::TMessage;

namespace {
constexpr int kBioPairSize = 16384;
constexpr int kMaxChunk = 32767;

// The value after Key ("Enc=", "Kx=", ...) in a cipher description.
std::string DescriptionField(const std::string& Desc, const std::string& Key) {
    const size_t p = Desc.find(Key);
    if (p == std::string::npos) return "";
    const size_t b = p + Key.size();
    const size_t e = Desc.find_first_of(" \t\r\n", b);
    return Desc.substr(b, e == std::string::npos ? std::string::npos : e - b);
}

// An SSL object whose socket was freed by a handler inside an OpenSSL callback: OpenSSL is
// still running on it, so it is freed when the outermost call into OpenSSL returns.
struct DeferredSsl {
    SSL* ssl;
    BIO* sslBio;
    BIO* netBio;
    BIO* intBio;
};
thread_local int SslCallDepth = 0;
thread_local std::vector<DeferredSsl> DeferredFrees;

void FreeDeferredSsl() {
    while (!DeferredFrees.empty()) {
        const DeferredSsl d = DeferredFrees.back();
        DeferredFrees.pop_back();
        if (d.sslBio) ossl::BIO_free(d.sslBio);
        if (d.netBio) ossl::BIO_free(d.netBio);
        if (d.intBio) ossl::BIO_free(d.intBio);
        if (d.ssl) {
            ossl::SSL_set_shutdown(d.ssl, SSL_SENT_SHUTDOWN);
            ossl::SSL_free(d.ssl);
        }
    }
}

// Around every call into OpenSSL that may run callbacks (and so user handlers).
struct SslCall {
    SslCall() { ++SslCallDepth; }
    ~SslCall() {
        if (--SslCallDepth == 0) FreeDeferredSsl();
    }
    SslCall(const SslCall&) = delete;
    SslCall& operator=(const SslCall&) = delete;
};

std::string QueuedSslErrors() {
    std::string s = InetLastOpenSslErrors(true);
    return s == "No error returned" ? std::string() : s;
}
}  // namespace

TCustomSslNetSocket::TCustomSslNetSocket(framework::TComponent* Owner)
    : TCustomSocksNetSocket(Owner), peerChain_(nullptr, true) {
    TSslCallbacks::Install();
    // The core took its window while only its own message ids were known: take it again
    // so that this layer's ids are claimed as well.
    ReleaseSocketWindow();
    AllocateSocketWindow();
    plainQueue_.BufSize = 16384;
}

TCustomSslNetSocket::~TCustomSslNetSocket() {
    peerCert_.reset();
    SetSslContext(nullptr);
    DisposeSocket();
    {
        const auto held = framework::LockScope(plainQueue_);
        plainQueue_.RecycleAll();
    }
    peerChain_.Clear();
    // Freed from a handler inside an OpenSSL callback: OpenSSL still runs on the SSL object.
    if (insideCallback_ > 0) DeferSslFree();
    insideCallback_ = 0;
    tlsState_ = tlsNone;
    // Nothing is swept from the queue while the socket is being destroyed: no handler runs.
    (void)ResetSSL();
    tlsFlushTimer_.reset();
    if (sslAcquired_) {
        sslAcquired_ = false;
        InetReleaseOpenSsl();
    }
}

void TCustomSslNetSocket::SetSslContext(TSslContext* Value) {
    if (sslContext_ == Value) return;
    if (sslContext_) {
        sslContext_->UnregisterSocket(this);
        sslContext_->RemoveFreeNotification(this);
    }
    sslContext_ = Value;
    if (sslContext_) {
        sslContext_->RegisterSocket(this);
        sslContext_->FreeNotification(this);
    }
}

void TCustomSslNetSocket::Notification(framework::TComponent* Component, framework::TOperation Operation) {
    TCustomSocksNetSocket::Notification(Component, Operation);
    if (Operation == framework::TOperation::opRemove && Component == sslContext_) sslContext_ = nullptr;
}

// ---- Messages ------------------------------------------------------------------------------

void TCustomSslNetSocket::TakeMessageIds() {
    TCustomSocksNetSocket::TakeMessageIds();
    idDataSent_ = HandlerRef()->ClaimMessageId(this);
    idTlsEvent_ = HandlerRef()->ClaimMessageId(this);
    idReset_ = HandlerRef()->ClaimMessageId(this);
    idStartShutdown_ = HandlerRef()->ClaimMessageId(this);
    idShutdownComplete_ = HandlerRef()->ClaimMessageId(this);
}

void TCustomSslNetSocket::ReturnMessageIds() {
    HandlerRef()->FreeMessageId(idShutdownComplete_);
    HandlerRef()->FreeMessageId(idStartShutdown_);
    HandlerRef()->FreeMessageId(idReset_);
    HandlerRef()->FreeMessageId(idTlsEvent_);
    HandlerRef()->FreeMessageId(idDataSent_);
    TCustomSocksNetSocket::ReturnMessageIds();
}

void TCustomSslNetSocket::WndProc(TMessage& Msg) {
    if (SslCallDepth == 0 && !DeferredFrees.empty()) FreeDeferredSsl();
    auto alive = AliveToken();
    try {
        if (Msg.Msg == idDataSent_ && idDataSent_) {
            dataSentPosted_ = false;
            TriggerDataSent(0);
        } else if (Msg.Msg == idTlsEvent_ && idTlsEvent_) {
            HandleTlsEvent(Msg);
        } else if (Msg.Msg == idReset_ && idReset_) {
            // Only for the connection that asked for it, never the next one.
            if (uint32_t(Msg.WParam) == tlsGeneration_) (void)ResetSSL();
        } else if (Msg.Msg == idStartShutdown_ && idStartShutdown_) {
            startShutdownPosted_ = false;
            if (TlsActive() && !ShutdownStarted()) {
                if (Msg.LParam == 0)
                    FlagsChange(tfBidirectional);
                else
                    FlagsChange(0, tfBidirectional);
                StartTlsShutdown(int(Msg.WParam));
            }
        } else if (Msg.Msg == idShutdownComplete_ && idShutdownComplete_) {
            (void)Fired([&] { TriggerSslShutDownComplete(int(Msg.LParam)); });
        } else {
            TCustomSocksNetSocket::WndProc(Msg);
        }
    } catch (const std::exception& e) {
        if (*alive) HandleBgException(e, "TCustomSslNetSocket.WndProc: Msg " + std::to_string(Msg.Msg));
    }
}

void TCustomSslNetSocket::PostTlsEvent(uint8_t Kind, uint16_t Error) {
    if (!SslEnable || !WindowHandle() || hSocket_ == INVALID_SOCKET) return;
    if (eventsPaused_ || insideCallback_) {
        deferredEvents_ |= Kind;
        return;
    }
    if (postedEvents_ & Kind) return;
    if (PostMessageA(WindowHandle(), idTlsEvent_, WPARAM(hSocket_), MAKELONG(Kind, Error))) postedEvents_ |= Kind;
}

void TCustomSslNetSocket::HandleTlsEvent(TMessage& Msg) {
    const uint8_t kind = uint8_t(LOWORD(Msg.LParam));
    const uint16_t error = HIWORD(Msg.LParam);
    postedEvents_ &= uint8_t(~kind);
    if (SOCKET(Msg.WParam) != hSocket_ || hSocket_ == INVALID_SOCKET) return;
    // Paused inside a verify or certificate handler (a modal box pumps messages): the SSL
    // object is in the middle of a call, so the event waits for Resume.
    if (eventsPaused_ || insideCallback_) {
        deferredEvents_ |= kind;
        return;
    }
    switch (kind) {
        case evRead: HandleFdRead(Msg, error); break;
        case evWrite: HandleFdWrite(Msg, error); break;
        case evClose: HandleFdClose(Msg, error); break;
        default: break;
    }
}

void TCustomSslNetSocket::AttachToThread() {
    const uint8_t pending = uint8_t(postedEvents_ | deferredEvents_);
    TCustomSocksNetSocket::AttachToThread();
    postedEvents_ = deferredEvents_ = 0;
    for (uint8_t k : {evRead, evWrite, evClose})
        if (pending & k) PostTlsEvent(k);
    // What was posted to the old window went with it.
    if (dataSentPosted_) PostDataSent();
    if (startShutdownPosted_) PostStartShutdown(startShutdownHow_, startShutdownOneWay_);
}

void TCustomSslNetSocket::PostDataSent() {
    dataSentPosted_ = WindowHandle() && PostMessageA(WindowHandle(), idDataSent_, 0, 0);
}

void TCustomSslNetSocket::PostStartShutdown(WPARAM How, LPARAM OneWay) {
    startShutdownHow_ = How;
    startShutdownOneWay_ = OneWay;
    startShutdownPosted_ = WindowHandle() && PostMessageA(WindowHandle(), idStartShutdown_, How, OneWay);
}

void TCustomSslNetSocket::Resume() {
    TCustomSocksNetSocket::Resume();
    if (!eventsPaused_ && insideCallback_ == 0 && deferredEvents_) {
        const uint8_t d = deferredEvents_;
        deferredEvents_ = 0;
        for (uint8_t k : {evRead, evWrite, evClose})
            if (d & k) PostTlsEvent(k);
    }
    if (insideCallback_ == 0) FlushTls();
}

// ---- Starting TLS --------------------------------------------------------------------------

bool TCustomSslNetSocket::HandshakeFinished() const {
    return ssl_ && ossl::SSL_get_state(ssl_) == TLS_ST_OK;
}

void TCustomSslNetSocket::ReportHandshakeFailedOnce(uint16_t ErrCode) {
    if (handshakeReported_) return;
    handshakeReported_ = true;
    handshakeDonePending_ = false;
    TriggerSslHandshakeDone(ErrCode);
}

void TCustomSslNetSocket::BeginClientHandshake() { BeginHandshake(sslModeClient); }
void TCustomSslNetSocket::BeginServerHandshake() { BeginHandshake(sslModeServer); }

void TCustomSslNetSocket::BeginHandshake(TSslMode Mode) {
    if (!SslEnable) return;
    auto alive = AliveToken();
    try {
        if (!sslContext_) throw ESslContextException("SSL requires a context object");
        if (ssl_ && !ResetSSL()) return;
        tlsState_ = tlsHandshakeRequested;
        SslMode = Mode;
        handshakeReported_ = false;
        if (!sslContext_->IsCtxInitialized()) sslContext_->BuildSslCtx();
        InitSSLConnection(Mode == sslModeClient, sslContext_->SslCtx());
    } catch (...) {
        if (!*alive) return;
        tlsState_ = tlsNone;
        // The failure is the ended connection's when the handler ended it.
        if (!Fired([&] { ReportHandshakeFailedOnce(1); })) return;
        throw;
    }
}

void TCustomSslNetSocket::RaiseSslError(int ExceptionKind, const std::string& Msg) {
    conn_.LastPeekError = ossl::ERR_peek_error();
    const std::string errors = QueuedSslErrors();
    conn_.HandshakeMessage = Msg.empty() ? errors : Msg + " - " + errors;
    const std::string text = "\r\n" + conn_.HandshakeMessage + "\r\n";
    if (ExceptionKind == 1) throw EOpenSslError(text);
    throw ESslContextException(text);
}

void TCustomSslNetSocket::RecordSslErrors() {
    conn_.LastPeekError = ossl::ERR_peek_error();
    if (conn_.LastPeekError != 0) {
        conn_.TlsErrorCode = conn_.LastPeekError;
        conn_.HandshakeMessage = QueuedSslErrors();
    }
    ossl::ERR_clear_error();
}

void TCustomSslNetSocket::InitSSLConnection(bool ClientMode, SSL_CTX* SslCtx) {
    if (!SslEnable) return;
    ++tlsGeneration_;
    auto alive = AliveToken();
    // A handler that ran here freed the socket or ended the connection: the half-made SSL
    // object is the ended connection's.
    auto abandon = [&] {
        if (!*alive) return;
        tlsState_ = tlsNone;
        (void)ResetSSL();
    };
    try {
        peerChain_.Clear();
        peerChain_.LastVerifyResult = 0;
        if (!peerCert_)
            peerCert_ = std::make_unique<TX509Base>(nullptr);
        else
            peerCert_->FreeX509();
        ShutdownStateChange(tlsShutNone);
        pendingCloseError_ = 0;
        conn_ = TTlsConnectionRecord();
        FlagsChange(0, tfBidirectional | tfCloseAfterSend);
        // A server's staple is its own to send; only a client's received one is reset.
        if (ClientMode) OcspStaple.clear();
        firstVerifyResult_ = -1;
        postedEvents_ = deferredEvents_ = 0;
        readEventsHeld_ = false;
        FlagsChange(tfRetries);
        handshakeDonePending_ = false;
        hello_.Clear();
        if (!sslAcquired_) {
            InetAcquireOpenSsl();
            sslAcquired_ = true;
        }
        {
            TSslCallbacks::Lock l(TSslCallbacks::kSslNew);
            ssl_ = ossl::SSL_new(SslCtx);
        }
        if (!ssl_) RaiseSslError(0, "Error on creating the Ssl object");
        sslBio_ = ossl::BIO_new(ossl::BIO_f_ssl());
        if (!sslBio_) RaiseSslError(0, "Creating SslBIO failed");
        if (ossl::BIO_new_bio_pair(&intBio_, kBioPairSize, &netBio_, kBioPairSize) != 1)
            RaiseSslError(0, "Creating Read/Write BIOs failed");
        if (ossl::SSL_set_ex_data(ssl_, 0, this) != 1) RaiseSslError(0, "SSL_set_ex_data failed");
        if (ClientMode) {
            if (sslContext_->SslCertFile().empty() && OnSslCliCertRequest && !ossl::SSL_CTX_get_client_cert_cb(SslCtx))
                ossl::SSL_CTX_set_client_cert_cb(SslCtx, TSslCallbacks::ClientCert);
            void* session = nullptr;
            bool freeSession = true;
            if (!FireEvent(OnSslCliGetSession, this, session, freeSession)) {
                if (session && freeSession) ossl::SSL_SESSION_free(static_cast<SSL_SESSION*>(session));
                return abandon();
            }
            if (session && ossl::SSL_set_session(ssl_, static_cast<SSL_SESSION*>(session)) == 1) {
                if (freeSession) ossl::SSL_SESSION_free(static_cast<SSL_SESSION*>(session));
            } else if (ossl::SSL_set_session(ssl_, nullptr) == 0) {
                RaiseSslError(1, "Unable to set session");
            }
            // The server name (SNI, ASCII form) and the host check of the certificate.
            sslContext_->PrepareClientSsl(ssl_, TlsServerName);
            ossl::SSL_set_connect_state(ssl_);
        } else {
            std::string idCtx;
            if (!FireEvent(OnSslSetSessionIDContext, this, idCtx)) return abandon();
            if (!idCtx.empty())
                ossl::SSL_set_session_id_context(ssl_, reinterpret_cast<const unsigned char*>(idCtx.data()),
                                                 unsigned(std::min<size_t>(idCtx.size(), 32)));
            TlsServerName.clear();
            if (SslCtxSetServerNameCallback(SslCtx, TSslCallbacks::ServerName) != 1)
                RaiseSslError(0, "Unable to initialize servername callback for SNI");
            ossl::SSL_set_accept_state(ssl_);
        }
        BIO* internal = intBio_;
        intBio_ = nullptr;  // the SSL owns it from here
        ossl::SSL_set_bio(ssl_, internal, internal);
        ossl::SSL_set_info_callback(ssl_, TSslCallbacks::Info);
        ossl::ERR_clear_error();
        if (ossl::BIO_ctrl(sslBio_, BIO_C_SET_SSL, BIO_NOCLOSE, ssl_) != 1) RaiseSslError(0, "Unable to set BIO as SSL");
        const int driven = DriveSsl();
        if (driven == kDriveGone) return abandon();
        if (driven == kDriveError)
            RaiseSslError(0, "InitSSLConnection: ReadBIO, Retry Reason " + std::to_string(lastSslError_));
        if (state_ == wsConnected) {
            PostTlsEvent(evRead);
            PostTlsEvent(evWrite);
        }
        tlsState_ = tlsReady;
    } catch (...) {
        if (!*alive) return;
        tlsState_ = tlsFailed;
        // A handler run by the reset took the socket over: the failure was its old connection's.
        if (!ResetSSL()) return;
        tlsState_ = tlsFailed;
        throw;
    }
}

void TCustomSslNetSocket::TriggerSessionConnected(uint16_t ErrCode) {
    auto alive = AliveToken();
    // A handler that aborted or restarted the connection has the handshake begin with its own.
    if (!Fired([&] { TCustomSocksNetSocket::TriggerSessionConnected(ErrCode); })) return;
    if (!SslEnable || ErrCode != 0 || ssl_ || hSocket_ == INVALID_SOCKET) return;
    try {
        if (SslMode == sslModeClient)
            BeginClientHandshake();
        else
            BeginServerHandshake();
    } catch (const std::exception& e) {
        if (!*alive) return;
        SslEnable = false;
        if (!ResetSSL()) return;
        ShutdownAndClose(false, WSAECONNABORTED);
        if (*alive) HandleBgException(e, "TCustomSslNetSocket.TriggerSessionConnected");
    }
}

void TCustomSslNetSocket::Dup(SOCKET NewHandle) {
    auto alive = AliveToken();
    TCustomSocksNetSocket::Dup(NewHandle);
    if (!*alive || hSocket_ != NewHandle) return;
    if (!Fired([&] { ChangeState(wsConnected); }) || !SslEnable) return;
    try {
        if (SslMode == sslModeClient)
            BeginClientHandshake();
        else if (SslMode == sslModeServer)
            BeginServerHandshake();
        else
            throw ESslContextException("Invalid SslMode");
    } catch (const std::exception& e) {
        if (!*alive) return;
        SslEnable = false;
        if (!ResetSSL()) return;
        ShutdownAndClose(false, WSAECONNABORTED);
        if (*alive) HandleBgException(e, "TCustomSslNetSocket.Dup");
    }
}

void TCustomSslNetSocket::Listen() { TCustomSocksNetSocket::Listen(); }
SOCKET TCustomSslNetSocket::Accept() { return TCustomSocksNetSocket::Accept(); }
void TCustomSslNetSocket::HandleFdAccept(TMessage& Msg, uint16_t Error) {
    TCustomSocksNetSocket::HandleFdAccept(Msg, Error);
}

// ---- Network -> TLS ------------------------------------------------------------------------

int TCustomSslNetSocket::DriveSsl() {
    // Lets OpenSSL work on what arrived: the handshake while it runs, then the next record
    // (peeked, so the plaintext stays for Receive).
    // A handler may free the socket or end its connection inside the call: nothing of this
    // object is touched after it then.
    SSL* ssl = ssl_;
    const uint32_t generation = tlsGeneration_;
    SslCall call;
    int r = 0;
    const bool handshaking = !HandshakeFinished();
    const bool held = Fired([&] {
        char c;
        r = handshaking ? ossl::SSL_do_handshake(ssl) : ossl::SSL_peek(ssl, &c, 1);
    });
    if (!held || ssl_ != ssl || tlsGeneration_ != generation) {
        // What OpenSSL queued about the ended connection is no one's.
        ossl::ERR_clear_error();
        return kDriveGone;
    }
    if (handshaking ? r == 1 : r > 0) return kDriveOk;
    lastSslError_ = ossl::SSL_get_error(ssl, r);
    switch (lastSslError_) {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
        case SSL_ERROR_WANT_X509_LOOKUP:
        case SSL_ERROR_WANT_CLIENT_HELLO_CB: return kDriveRetry;
        case SSL_ERROR_ZERO_RETURN: return kDriveClosed;
        default: return kDriveError;
    }
}

void TCustomSslNetSocket::SetPendingClose(int Err) {
    pendingCloseError_ = Err;
    SetLastError(Err);
    WinsockSetLastError(Err);
    PostTlsEvent(evClose);
}

void TCustomSslNetSocket::HandleFdConnect(TMessage& Msg, uint16_t Error) {
    ShutdownStateChange(tlsShutNone);
    TCustomSocksNetSocket::HandleFdConnect(Msg, Error);
}

TCustomSslNetSocket::TReadStep::TReadStep(TCustomSslNetSocket& S)
    : s_(S), watch_(S), handle_(S.hSocket_) {
    ++s_.readSteps_;
    try {
        s_.SelectEvents(s_.eventMask_ & ~long(FD_READ));
        off_ = true;
    } catch (const std::exception&) {
    }
}

TCustomSslNetSocket::TReadStep::~TReadStep() {
    if (!watch_.Alive()) return;
    --s_.readSteps_;
    if (!off_ || s_.hSocket_ != handle_ || s_.hSocket_ == INVALID_SOCKET) return;
    if (hold_ && s_.TlsActive()) {
        s_.readEventsHeld_ = true;
        return;
    }
    try {
        s_.SelectEvents(s_.eventMask_);
    } catch (const std::exception&) {
    }
}

bool TCustomSslNetSocket::TReadStep::Same() const { return watch_.Holds() && s_.hSocket_ == handle_ && s_.ssl_; }

void TCustomSslNetSocket::HandleFdRead(TMessage& Msg, uint16_t Error) {
    if (!TlsActive() || ProxyNegotiating() || state_ != wsConnected)
        return TCustomSocksNetSocket::HandleFdRead(Msg, Error);
    // The owner closed: nothing more is read for it (its close_notify needs no answer).
    if (OwnerClosing() && HandshakeFinished()) return;
    TReadStep step(*this);
    if (pendingCloseError_ != 0) return;
    if (TakeWhatWaits(step, Error) && ReadIntoPair(step, Error) && DriveReceived(step, Error)) HandOver(step, Error);
}

bool TCustomSslNetSocket::TakeWhatWaits(TReadStep& Step, uint16_t Error) {
    // What came earlier first: the owner reads it before the network is asked again.
    if (!HandshakeFinished() || (ossl::SSL_pending(ssl_) == 0 && !RecordsWaiting())) return true;
    const int64_t receivedBefore = BytesReceived();
    const TTaken taken = TakeBufferedRecords(Error);
    if (taken == kTakenGone || taken == kTakenEnded) return false;
    if (taken == kTakenOwnerReads) {
        Step.HoldEvents(BytesReceived() == receivedBefore);
        if (Step.Same()) FlushTls();
        return false;
    }
    return pendingCloseError_ == 0;
}

bool TCustomSslNetSocket::ReadIntoPair(TReadStep& Step, uint16_t Error) {
    size_t n = ossl::BIO_ctrl(netBio_, BIO_C_GET_READ_REQUEST, 0, nullptr);
    if (n == 0) n = ossl::BIO_ctrl(netBio_, BIO_C_GET_WRITE_GUARANTEE, 0, nullptr);
    if (n == 0) {
        // The pair is full of ciphertext nobody has decrypted yet (a write retry was
        // pending): let OpenSSL take a record, so that the reader gets it and room appears.
        FlagsChange(tfNetBioFull);
        if (HandshakeFinished()) {
            const int r = DriveSsl();
            if (r == kDriveGone || !Step.Same()) return false;
            if (r == kDriveOk && ossl::SSL_pending(ssl_) > 0) {
                TriggerDataAvailable(0);
                if (!Step.Same()) return false;
            }
        }
        FlushTls();
        return false;
    }
    // Never more than the pair can take now: OpenSSL's read request may be larger than the
    // room left, and bytes BIO_write refused would be lost from the stream.
    const size_t room = ossl::BIO_ctrl(netBio_, BIO_C_GET_WRITE_GUARANTEE, 0, nullptr);
    n = std::min<size_t>({n, room, size_t(kMaxChunk)});
    if (n == 0) {
        FlagsChange(tfNetBioFull);
        FlushTls();
        return false;
    }
    char buf[kMaxChunk];
    const int got = unread_.empty() ? TCustomSocksNetSocket::Receive(buf, int(n), 0) : TakeUnread(buf, int(n), false);
    if (got < 0) {
        const int err = WinsockGetLastError();
        if (err > 10000 && err != WSAEWOULDBLOCK && err != WSAECONNABORTED && err != WSAENOTCONN) SetPendingClose(err);
        return false;
    }
    if (got == 0) {
        if (state_ == wsConnected) PostTlsEvent(evClose, Error);
        return false;
    }
    if (ossl::BIO_write(netBio_, buf, got) != got) {
        // Received but not taken: the stream would go on with a hole in it.
        RecordSslErrors();
        SetPendingClose(WSAECONNABORTED);
        return false;
    }
    ossl::BIO_ctrl(netBio_, BIO_CTRL_FLUSH, 0, nullptr);
    return true;
}

bool TCustomSslNetSocket::DriveReceived(TReadStep& Step, uint16_t Error) {
    // Also while a plaintext write waits for room: the echo of what we send must be read, or
    // both directions stall.
    const int r = DriveSsl();
    if (r == kDriveGone || !Step.Same()) return false;
    if (r == kDriveError) {
        FailOnSslError();
        if (!Step.Same()) return false;
    }
    if (r == kDriveRetry) FlagsChange(tfSslBioRetry);
    if (r == kDriveClosed && ossl::SSL_version(ssl_) >= TLS1_VERSION) {
        PeerSentCloseNotify(Error);
        return false;
    }
    return true;
}

void TCustomSslNetSocket::HandOver(TReadStep& Step, uint16_t Error) {
    if (HandshakeFinished()) {
        const TTaken taken = TakeBufferedRecords(Error);
        if (taken == kTakenGone || taken == kTakenEnded) return;
    }
    if (ShutdownProgress()) return;
    if (Step.Same()) FlushTls();
}

bool TCustomSslNetSocket::CloseWaitsForOwner() const {
    return !OwnerClosing() && HandshakeFinished() && ossl::SSL_pending(ssl_) > 0;
}

bool TCustomSslNetSocket::RecordsWaiting() const {
    // Ciphertext in the pair that OpenSSL has not read yet (the network side's own buffer).
    if (!netBio_) return false;
    const size_t room = ossl::BIO_ctrl(netBio_, BIO_C_GET_WRITE_GUARANTEE, 0, nullptr);
    return room < size_t(kBioPairSize);
}

TCustomSslNetSocket::TTaken TCustomSslNetSocket::TakeBufferedRecords(uint16_t Error) {
    // One network read may hold several records: the last data, the peer's close_notify
    // behind it. Nothing on the network announces the later ones again, so they are taken
    // here, each after the owner had what came before it.
    auto alive = AliveToken();
    const SOCKET handle = hSocket_;
    auto same = [&] { return *alive && hSocket_ == handle && ssl_; };
    // The last peek found plaintext. SSL_pending alone can say 0 then (OpenSSL already busy
    // with the next record's body), and peeking again would find the same bytes for ever.
    bool readable = false;
    for (;;) {
        if (!HandshakeFinished()) return kTakenNeedMore;
        if (readable || ossl::SSL_pending(ssl_) > 0) {
            readable = false;
            // The handshake is reported before any data.
            if (handshakeDonePending_) {
                FlushTls();
                if (!same()) return kTakenGone;
            }
            const int before = ossl::SSL_pending(ssl_);
            const int64_t takenBefore = BytesReceived();
            TriggerDataAvailable(0);
            if (!same()) return kTakenGone;
            if (OwnerClosing()) return kTakenEnded;
            const int after = ossl::SSL_pending(ssl_);
            // Nothing or only a part read: the rest waits for the owner, who gets the event
            // again once it has read some.
            if (after > 0) {
                if (after < before) FlagsChange(tfSslBioRetry);
                return kTakenOwnerReads;
            }
            if (BytesReceived() == takenBefore) return kTakenOwnerReads;
        }
        if (pendingCloseError_ != 0 || !RecordsWaiting()) return kTakenNeedMore;
        const int r = DriveSsl();
        if (r == kDriveGone || !same()) return kTakenGone;
        switch (r) {
            case kDriveOk: readable = true; break;
            case kDriveRetry: return kTakenNeedMore;  // a record not yet whole
            case kDriveClosed:
                if (ossl::SSL_version(ssl_) < TLS1_VERSION) return kTakenNeedMore;
                PeerSentCloseNotify(Error);
                return kTakenEnded;
            default: FailOnSslError(); return kTakenEnded;
        }
    }
}

void TCustomSslNetSocket::PeerSentCloseNotify(uint16_t Error) {
    const TFireWatch watch(*this);
    if (!TlsClosing()) tlsState_ = tlsShuttingDown;
    if (!Bidirectional()) PostStartShutdown(1, 1);
    if (ShutdownOver()) PostTlsEvent(evClose, Error);
    // A bidirectional shutdown waited for exactly this.
    if (Bidirectional() && ShutdownProgress()) return;
    if (watch.Holds() && ssl_) FlushTls();
}

void TCustomSslNetSocket::FailOnSslError() {
    auto alive = AliveToken();
    const SOCKET handle = hSocket_;
    RecordSslErrors();
    // The alert OpenSSL wrote reaches the peer before the connection goes down.
    DrainNetworkBio();
    if (!*alive || hSocket_ != handle || !ssl_) return;
    SetPendingClose(WSAECONNABORTED);
}

void TCustomSslNetSocket::UnreadReceived(const void* Data, int Len) {
    if (Len <= 0) return;
    unread_.insert(0, static_cast<const char*>(Data), size_t(Len));
    PostUnreadRead();
}

void TCustomSslNetSocket::PostUnreadRead() {
    if (unread_.empty() || hSocket_ == INVALID_SOCKET || state_ != wsConnected || !WindowHandle()) return;
    // Nothing on the socket would announce these bytes.
    if (TlsActive())
        PostTlsEvent(evRead);
    else
        PostMessageA(WindowHandle(), idSocketEvent_, WPARAM(hSocket_), MAKELONG(FD_READ, 0));
}

int TCustomSslNetSocket::TakeUnread(void* Buffer, int Size, bool Peek) {
    const size_t n = std::min(unread_.size(), size_t(std::max(Size, 0)));
    std::memcpy(Buffer, unread_.data(), n);
    if (!Peek) {
        unread_.erase(0, n);
        unreadTaken_ += int64_t(n);
        PostUnreadRead();
    }
    return int(n);
}

int TCustomSslNetSocket::Receive(void* Buffer, int Size, int Flags) {
    if (!unread_.empty() && !TlsActive() && !ProxyNegotiating() && Size > 0)
        return TakeUnread(Buffer, Size, (Flags & MSG_PEEK) != 0);
    if (!TlsActive() || ProxyNegotiating()) return TCustomSocksNetSocket::Receive(Buffer, Size, Flags);
    if (readEventsHeld_) ReleaseHeldReadEvents();
    if (pendingCloseError_ != 0) {
        if (!(HandshakeFinished() && ossl::SSL_pending(ssl_) > 0 && !ShutdownStarted())) {
            WinsockSetLastError(pendingCloseError_);
            return -1;
        }
    } else if (ShutdownUnderWay()) {
        WinsockSetLastError(WSAESHUTDOWN);
        return -1;
    }
    if (Size <= 0) return 0;
    // Also with nothing decrypted yet: records may wait whole in the BIO pair.
    if (HandshakeFinished() && pendingCloseError_ == 0 && !ShutdownStarted()) {
        int r = 0;
        if (!ReadPlain(Buffer, Size, r)) {
            WinsockSetLastError(WSAECONNABORTED);
            return -1;
        }
        if (r > 0) {
            FlagsChange(tfSslBioRetry);
            // The handshake may be reported here, and its handler end the connection.
            if (!Fired([&] { FlushTls(); })) return r;
            // The last plaintext is out; records behind it (a close_notify) wait for a read
            // step, which nothing on the network would bring when this read came after the event.
            if (ssl_ && ossl::SSL_pending(ssl_) == 0 && RecordsWaiting()) PostTlsEvent(evRead);
            SetBytesReceived(BytesReceived() + r);
            if (ActivityCounter()) ActivityCounter()->Received(InetTickCount());
            return r;
        }
        if (r < 0 && !SslBioShouldRetry(sslBio_)) {
            RecordSslErrors();
            SetPendingClose(WSAECONNABORTED);
            return -1;
        }
        if (r < 0) {
            FlagsChange(tfNetBioFull);
            FlushTls();
            WinsockSetLastError(WSAEWOULDBLOCK);
            return -1;
        }
        if (ossl::SSL_get_error(ssl_, r) == SSL_ERROR_ZERO_RETURN && ossl::SSL_version(ssl_) >= TLS1_VERSION) {
            tlsState_ = tlsShuttingDown;
            if (!Bidirectional()) PostStartShutdown(1, 1);
            WinsockSetLastError(WSAEWOULDBLOCK);
            return -1;
        }
        return 0;
    }
    if (HandshakeFinished() && ossl::SSL_pending(ssl_) > 0) {
        int r = 0;
        if (!ReadPlain(Buffer, Size, r)) {
            WinsockSetLastError(WSAECONNABORTED);
            return -1;
        }
        if (r > 0) {
            SetBytesReceived(BytesReceived() + r);
            return r;
        }
    }
    if (state_ == wsClosed) return 0;
    if (CloseRequested()) {
        PostTlsEvent(evClose);
        return 0;
    }
    if (state_ != wsConnected) {
        WinsockSetLastError(pendingCloseError_ ? pendingCloseError_ : WSAENOTCONN);
        return -1;
    }
    FlushTls();
    WinsockSetLastError(WSAEWOULDBLOCK);
    return -1;
}

bool TCustomSslNetSocket::ReadPlain(void* Buffer, int Size, int& Got) {
    // Reading may process records that run callbacks (a session ticket, a renegotiation).
    SSL* ssl = ssl_;
    SslCall call;
    Got = 0;
    if (!Fired([&] { Got = ossl::BIO_read(sslBio_, Buffer, Size); })) return false;
    return ssl_ == ssl;
}

void TCustomSslNetSocket::ReleaseHeldReadEvents() {
    readEventsHeld_ = false;
    // Inside a read step its end asks for them again; while paused Resume does.
    if (readSteps_ > 0 || eventsPaused_ || hSocket_ == INVALID_SOCKET || !WindowHandle()) return;
    try {
        SelectEvents(eventMask_);
    } catch (const std::exception&) {
    }
}

int TCustomSslNetSocket::PendingReceiveCount() {
    if (TlsActive() && !ProxyNegotiating()) return int(ossl::SSL_pending(ssl_));
    if (!unread_.empty() && !ProxyNegotiating()) return int(unread_.size());
    return TCustomSocksNetSocket::PendingReceiveCount();
}

// ---- Plaintext -> TLS ----------------------------------------------------------------------

bool TCustomSslNetSocket::PlaintextQueued() const { return !plainQueue_.IsEmpty(); }

void TCustomSslNetSocket::AppendToSendBuffer(const void* Data, int Len) {
    // With TLS on, plaintext waits for the SSL object even before it exists: written from
    // OnSessionConnected, it must never leave in clear.
    if (!SslEnable || ProxyNegotiating()) return TCustomSocksNetSocket::AppendToSendBuffer(Data, Len);
    {
        const auto held = framework::LockScope(plainQueue_);
        plainQueue_.Write(Data, Len);
    }
    allPlainSent_ = false;
    dataSentOwed_ = true;
}

void TCustomSslNetSocket::TryToSend() {
    if (!SslEnable || ProxyNegotiating()) return TCustomSocksNetSocket::TryToSend();
    if (!ssl_) {
        if (!plainQueue_.IsEmpty()) WinsockSetLastError(WSAEWOULDBLOCK);
        return TCustomSocksNetSocket::TryToSend();
    }
    auto alive = AliveToken();
    if (hSocket_ == INVALID_SOCKET || plainQueue_.IsEmpty()) {
        allPlainSent_ = true;
        FlushTls();
        return;
    }
    for (;;) {
        if (pendingCloseError_ != 0) {
            PostTlsEvent(evClose);
            return;
        }
        if (ShutdownStarted()) {
            WinsockSetLastError(WSAESHUTDOWN);
            PostTlsEvent(evClose);
            return;
        }
        // Nothing is written while a renegotiation is under way either.
        if (!HandshakeFinished() || (ossl::SSL_renegotiate_pending && ossl::SSL_renegotiate_pending(ssl_) == 1)) {
            FlagsChange(tfSendRetry);
            WinsockSetLastError(WSAEWOULDBLOCK);
            return;
        }
        const uint8_t* p = nullptr;
        int len;
        {
            const auto held = framework::LockScope(plainQueue_);
            len = plainQueue_.Peek(p);
        }
        if (len <= 0) break;
        if (retryWriteLen_ > 0) len = std::min(len, retryWriteLen_);
        int w = 0;
        {
            // Writing may run a renegotiation, and its callbacks.
            SSL* ssl = ssl_;
            SslCall call;
            if (!Fired([&] { w = ossl::BIO_write(sslBio_, p, len); }) || ssl_ != ssl) return;
        }
        if (w > 0) {
            ossl::BIO_ctrl(sslBio_, BIO_CTRL_FLUSH, 0, nullptr);
            retryWriteLen_ = -1;
            {
                const auto held = framework::LockScope(plainQueue_);
                plainQueue_.Remove(w);
            }
            SetBytesSent(BytesSent() + w);
            // The ciphertext leaves through the write event.
            DrainNetworkBio();
            if (!*alive || !ssl_) return;
            if (w == len) continue;
            break;
        }
        if (w < 0 && SslBioShouldRetry(sslBio_)) {
            retryWriteLen_ = len;
            if (state_ == wsConnected) {
                FlagsChange(tfSendRetry);
                FlushTls();
                WinsockSetLastError(WSAEWOULDBLOCK);
            }
            return;
        }
        RecordSslErrors();
        if (state_ == wsConnected) SetPendingClose(WSAECONNABORTED);
        return;
    }
    if (plainQueue_.IsEmpty()) allPlainSent_ = true;
    sendQueueEmpty_ = CoreQueueEmpty();
    FlushTls();
}

// ---- TLS -> network ------------------------------------------------------------------------

void TCustomSslNetSocket::DrainNetworkBio() {
    // Ciphertext straight to the socket; what it does not take waits in the core's queue.
    auto alive = AliveToken();
    char buf[kMaxChunk];
    while (*alive && ssl_ && hSocket_ != INVALID_SOCKET && pendingCloseError_ == 0) {
        if (!CoreQueueEmpty()) {
            FlagsChange(tfWriteWanted);
            return;
        }
        const size_t pend = ossl::BIO_ctrl_pending(netBio_);
        if (pend == 0) return;
        const int n = ossl::BIO_read(netBio_, buf, int(std::min<size_t>(pend, kMaxChunk)));
        if (n <= 0) return;
        const int s = SendRaw(buf, n);
        if (s == n) continue;
        if (s == 0 && state_ == wsConnected) {
            PostTlsEvent(evClose);
            return;
        }
        const int err = s < 0 ? SendError() : 0;
        if (s < 0 && err != WSAEWOULDBLOCK && err != WSAENOTCONN) {
            SetPendingClose(err);
            return;
        }
        const int sent = std::max(s, 0);
        TCustomSocksNetSocket::AppendToSendBuffer(buf + sent, n - sent);
        sendQueueEmpty_ = false;
        FlagsChange(tfWriteWanted);
        return;
    }
}

bool TCustomSslNetSocket::AllSentOut() {
    return plainQueue_.IsEmpty() && retryWriteLen_ < 0 && ssl_ && ossl::BIO_ctrl_pending(netBio_) == 0 &&
           CoreQueueEmpty();
}

void TCustomSslNetSocket::HandleFdWrite(TMessage& Msg, uint16_t Error) {
    if (!TlsActive() || ProxyNegotiating() || state_ != wsConnected)
        return TCustomSocksNetSocket::HandleFdWrite(Msg, Error);
    if (pendingCloseError_ != 0) return;
    auto alive = AliveToken();
    const SOCKET handle = hSocket_;
    auto same = [&] { return *alive && hSocket_ == handle && ssl_; };
    FlagsChange(0, tfWriteWanted);
    TCustomSocksNetSocket::TryToSend();
    if (!same()) return;
    if (!CoreQueueEmpty()) {
        FlagsChange(tfWriteWanted);
        return;
    }
    DrainNetworkBio();
    if (!same()) return;
    if (HandshakeFinished()) {
        if (!plainQueue_.IsEmpty()) {
            TryToSend();
            if (!same()) return;
        }
        if (AllSentOut() && dataSentOwed_) {
            dataSentOwed_ = false;
            TriggerDataSent(0);
            if (!same()) return;
        }
        if (CloseAfterSend() && AllSentOut() && !ShutdownStarted()) {
            FlagsChange(0, tfCloseAfterSend);
            StartTlsShutdown(1);
            return;
        }
    }
    if (ShutdownProgress()) return;
    if (same()) FlushTls();
}

void TCustomSslNetSocket::FlushTls() {
    if (!ssl_ || !SslEnable || insideCallback_) return;
    if (handshakeDonePending_) {
        handshakeDonePending_ = false;
        handshakeReported_ = true;
        if (!Fired([&] { TriggerSslHandshakeDone(0); }) || !ssl_) return;
    }
    const bool finished = HandshakeFinished();
    if (ossl::BIO_ctrl_pending(netBio_) > 0) {
        if (Flag(tfWriteWanted) || CoreQueueEmpty()) {
            FlagsChange(0, tfWriteWanted);
            PostTlsEvent(evWrite);
        }
    } else if (CoreQueueEmpty() && finished && ossl::BIO_ctrl(sslBio_, BIO_C_GET_WRITE_GUARANTEE, 0, nullptr) > 0 &&
               Flag(tfWriteWanted) && (!plainQueue_.IsEmpty() || CloseAfterSend())) {
        FlagsChange(0, tfWriteWanted);
        PostTlsEvent(evWrite);
    } else if (finished) {
        if (!plainQueue_.IsEmpty() && Flag(tfSendRetry)) {
            FlagsChange(0, tfSendRetry);
            PostTlsEvent(evWrite);
        } else if (AllSentOut() && dataSentOwed_) {
            dataSentOwed_ = false;
            PostDataSent();
        }
        if (CloseAfterSend() && AllSentOut()) PostTlsEvent(evWrite);
    }
    if (finished && ossl::SSL_pending(ssl_) > 0) {
        if (TakeFlag(tfSslBioRetry)) PostTlsEvent(evRead);
    } else if (Flag(tfNetBioFull) && ossl::BIO_ctrl(netBio_, BIO_C_GET_WRITE_GUARANTEE, 0, nullptr) > 0) {
        FlagsChange(0, tfNetBioFull);
        PostTlsEvent(evRead);
    }
    if (finished && !CloseWaitsForOwner() &&
        ((CloseRequested() && !ShutdownStarted() && !CloseAfterSend()) ||
         (ShutdownOver() && !Bidirectional())))
        PostTlsEvent(evClose);
}

// ---- Handshake result ----------------------------------------------------------------------

void TCustomSslNetSocket::TriggerSslHandshakeDone(uint16_t ErrCode) {
    if (hSocket_ == INVALID_SOCKET) ErrCode = 1;
    // The chain's own result: the first certificate checked (the root) may pass while the
    // leaf fails (expired, wrong name).
    const bool verifying = sslContext_ && sslContext_->SslVerifyPeer();
    const long verifyResult = ssl_ && verifying ? ossl::SSL_get_verify_result(ssl_) : X509_V_OK;
    if (conn_.TlsErrorCode > 0) {
        if (firstVerifyResult_ == 0 && verifyResult == X509_V_OK) {
            conn_.TlsErrorCode = 0;
            conn_.HandshakeMessage.clear();
        } else {
            ErrCode = uint16_t(SslErrGetReason(conn_.TlsErrorCode));
            switch (SslErrGetReason(conn_.TlsErrorCode)) {
                case 155: conn_.HandshakeMessage = "Error, HTTPS proxy request, no SSL handshake"; break;
                case 156: conn_.HandshakeMessage = "Error, HTTP request, no SSL handshake"; break;
                case 252: conn_.HandshakeMessage = "Error, unknown SSL protocol"; break;
                case 267: conn_.HandshakeMessage = "Error, wrong SSL version"; break;
                default: break;
            }
        }
    }
    tlsState_ = (ErrCode != 0 || !ssl_) ? tlsFailed : tlsEstablished;
    X509* peer = nullptr;
    if (tlsState_ == tlsEstablished) {
        conn_.SessionWasReused = SslSessionReused(ssl_) == 1;
        conn_.Protocol.VersionText = ossl::SSL_get_version(ssl_);
        conn_.Protocol.VersionNumber = ossl::SSL_version(ssl_);
        const unsigned char* alpn = nullptr;
        unsigned alpnLen = 0;
        ossl::SSL_get0_alpn_selected(ssl_, &alpn, &alpnLen);
        conn_.AlpnSelected = alpn ? std::string(reinterpret_cast<const char*>(alpn), alpnLen) : std::string();
        if (const SSL_CIPHER* c = ossl::SSL_get_current_cipher(ssl_)) {
            conn_.Protocol.CipherName = ossl::SSL_CIPHER_get_name(c);
            conn_.Protocol.CipherBits = ossl::SSL_CIPHER_get_bits(c, &conn_.Protocol.CipherAlgBits);
            char desc[129] = {};
            ossl::SSL_CIPHER_description(c, desc, 128);
            conn_.CipherDescription = desc;
            while (!conn_.CipherDescription.empty() &&
                   (conn_.CipherDescription.back() == '\n' || conn_.CipherDescription.back() == '\r'))
                conn_.CipherDescription.pop_back();
            conn_.CipherEncryption = DescriptionField(conn_.CipherDescription, "Enc=");
            conn_.CipherKeyExchange = DescriptionField(conn_.CipherDescription, "Kx=");
            conn_.CipherMessageAuth = DescriptionField(conn_.CipherDescription, "Mac=");
            conn_.CipherKeyAuth = DescriptionField(conn_.CipherDescription, "Au=");
        }
        if (sslContext_ && sslContext_->SslVerifyPeer()) {
            peer = ossl::SSL_get1_peer_certificate(ssl_);
            if (const char* pn = ossl::X509_VERIFY_PARAM_get0_peername(ossl::SSL_get0_param(ssl_))) conn_.PeerCertName = pn;
        }
        if (conn_.CipherKeyAuth == "any")
            conn_.HandshakeMessage = "SSL Connected OK with " + conn_.Protocol.VersionText + ", cipher " + conn_.Protocol.CipherName +
                               ", encryption " + conn_.CipherEncryption + ", message auth " + conn_.CipherMessageAuth;
        else
            conn_.HandshakeMessage = "SSL Connected OK with " + conn_.Protocol.VersionText + ", cipher " + conn_.Protocol.CipherName +
                               ", key auth " + conn_.CipherKeyAuth + ", key exchange " + conn_.CipherKeyExchange +
                               ", encryption " + conn_.CipherEncryption + ", message auth " + conn_.CipherMessageAuth;
    } else {
        if (conn_.HandshakeMessage.empty())
            conn_.HandshakeMessage = conn_.TlsErrorCode ? InetOpenSslErrorText(conn_.TlsErrorCode) : QueuedSslErrors();
        if (verifyResult != X509_V_OK) {
            const char* why = ossl::X509_verify_cert_error_string(verifyResult);
            conn_.HandshakeMessage += std::string(conn_.HandshakeMessage.empty() ? "" : ", ") + "certificate verify result " +
                                std::to_string(verifyResult) + ": " + (why ? why : "");
        }
        if (ssl_) conn_.HandshakeMessage += std::string(", State: ") + ossl::SSL_state_string_long(ssl_);
        if (ErrCode == 1) conn_.HandshakeMessage += ", connection closed unexpectedly";
    }
    if (!peerCert_) peerCert_ = std::make_unique<TX509Base>(nullptr);
    if (peer) {
        peerCert_->SetX509(peer);
        if (TX509Base* e = peerChain_.Find(peer)) {
            peerCert_->VerifyResult = e->VerifyResult;
            peerCert_->VerifyDepth = e->VerifyDepth;
            peerCert_->FirstVerifyResult = e->FirstVerifyResult;
        } else {
            peerCert_->VerifyResult = int32_t(ossl::SSL_get_verify_result(ssl_));
        }
        ossl::X509_free(peer);
    } else {
        peerCert_->FreeX509();
    }
    bool disconnect = false;
    // Always the PeerCertificate object itself: empty when there is no verified peer.
    if (!FireEvent(OnSslHandshakeDone, this, ErrCode, peerCert_.get(), disconnect)) return;
    if (disconnect && ErrCode == 0) Close();
}

// The triggers only fire: their callers check the answer with Fired.
void TCustomSslNetSocket::TriggerSslVerifyPeer(int& Ok, TX509Base* Cert) {
    (void)FireEvent(OnSslVerifyPeer, this, Ok, Cert);
}

void TCustomSslNetSocket::TriggerSslShutDownComplete(int ErrCode) {
    (void)FireEvent(OnSslShutDownComplete, this, Bidirectional(), ErrCode);
}

void TCustomSslNetSocket::TriggerServerNameRequest(TSslContext*& Ctx, int& ErrCode) {
    (void)FireEvent(OnServerNameRequest, this, Ctx, ErrCode);
}

void TCustomSslNetSocket::TriggerAlpnSelect(const framework::TStringList& ProtoList, std::string& SelProto,
                                            int& ErrCode) {
    (void)FireEvent(OnAlpnSelect, this, ProtoList, SelProto, ErrCode);
}

// ---- Shutting down -------------------------------------------------------------------------

void TCustomSslNetSocket::StartTlsShutdown(int How) {
    if (hSocket_ == INVALID_SOCKET || !SslEnable || !ssl_ || tlsState_ == tlsShutDown) return;
    shutdownHow_ = How;
    if (!ShutdownStarted()) ShutdownStateChange(tlsShutNotifySent);
    if (!ShutdownFinished(How)) {
        if (!Fired([&] { FlushTls(); })) return;
        PostTlsEvent(evWrite);
        WinsockSetLastError(WSAEWOULDBLOCK);
    }
}

void TCustomSslNetSocket::ShutdownStateChange(TTlsShutdownState NewState) {
    shutdownState_ = NewState;
    switch (NewState) {
        case tlsShutNone:
            // A new connection: nothing has asked to close it yet.
            shutdownHow_ = 1;
            FlagsChange(0, tfCloseRequested | tfOwnerClose);
            break;
        case tlsShutNotifySent:
            // Also after the peer's close_notify: it is answered with ours before TCP goes.
            if (!(ossl::SSL_get_shutdown(ssl_) & SSL_SENT_SHUTDOWN) && ossl::SSL_shutdown(ssl_) == 0) {
                tlsState_ = tlsShuttingDown;
                ossl::SSL_shutdown(ssl_);
            }
            ossl::ERR_clear_error();
            break;
        case tlsShutFinished:
            if (ssl_) tlsState_ = tlsShutDown;
            break;
    }
}

bool TCustomSslNetSocket::ShutdownFinished(int How) {
    if (!SslEnable || !ssl_) {
        ShutdownStateChange(tlsShutFinished);
        if (!ResetSSL()) return true;
        if (!Fired([&] { TriggerSslShutDownComplete(pendingCloseError_); })) return true;
        if (state_ != wsClosed) TCustomSocksNetSocket::ShutdownAndClose(true, 0);
        return true;
    }
    if (ShutdownOver()) return true;
    if (pendingCloseError_ == 0 && !ShutdownStarted()) return false;
    if (Bidirectional() && pendingCloseError_ == 0 &&
        (ossl::SSL_get_shutdown(ssl_) & (SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN)) !=
            (SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN))
        return false;
    char drop[1024];
    {
        // Records read here may still run callbacks (a late session ticket).
        SSL* ssl = ssl_;
        SslCall call;
        bool held = true;
        while (held && ssl_ == ssl && ossl::SSL_pending(ssl_) > 0) {
            int r = 0;
            held = Fired([&] { r = ossl::BIO_read(sslBio_, drop, sizeof(drop)); });
            if (r <= 0) break;
        }
        if (!held || ssl_ != ssl) return true;
    }
    // Every byte of the close_notify must have left, not only the network BIO.
    if (pendingCloseError_ == 0 && (ossl::BIO_ctrl_pending(netBio_) > 0 || !CoreQueueEmpty())) return false;
    ShutdownStateChange(tlsShutFinished);
    const bool bidi = Bidirectional();
    if (bidi) {
        SslEnable = false;
        if (!ResetSSL()) return true;
    }
    if (!Fired([&] { TriggerSslShutDownComplete(pendingCloseError_); })) return true;
    if (!bidi) {
        TCustomSocksNetSocket::Shutdown(How);
        PostTlsEvent(evClose);
    }
    return true;
}

bool TCustomSslNetSocket::ShutdownProgress() {
    // One place decides whether a started shutdown has ended: unidirectional, the close
    // follows; bidirectional, the connection goes on in plain text (or the handler freed it).
    if (!ShutdownStarted() || !ssl_) return false;
    const bool bidi = Bidirectional();
    bool finished = false;
    if (!Fired([&] { finished = ShutdownFinished(shutdownHow_); })) return true;
    if (!finished) return false;
    if (!bidi) PostTlsEvent(evClose);
    return true;
}

void TCustomSslNetSocket::StartBidirectionalShutdown() {
    if (!TlsActive() || ProxyNegotiating() || ShutdownStarted() || !WindowHandle()) return;
    // Set now: a close_notify arriving before the message must not start the one-way close.
    FlagsChange(tfBidirectional);
    PostStartShutdown(1, 0);
}

void TCustomSslNetSocket::Shutdown(int How) {
    if (TlsActive() && !ProxyNegotiating()) {
        FlagsChange(0, tfBidirectional);
        StartTlsShutdown(How);
        return;
    }
    TCustomSocksNetSocket::Shutdown(How);
}

void TCustomSslNetSocket::StartTlsFlushTimer() {
    // The core bounds the drain of its own queue on Close; a TLS close also waits for the
    // queued plaintext and the close_notify, so it gets the same limit.
    if (FlushTimeout <= 0 || tlsFlushTimer_armed_) return;
    if (!tlsFlushTimer_) tlsFlushTimer_ = std::make_unique<TInetTimer>(this);
    tlsFlushTimer_->SetEnabled(false);
    tlsFlushTimer_->SetInterval(uint32_t(FlushTimeout) * 1000u);
    tlsFlushTimer_->SetOnTimer([this](framework::TComponent*) {
        StopTlsFlushTimer();
        if (hSocket_ != INVALID_SOCKET && state_ != wsClosed) HardAbort(WSAETIMEDOUT);
    });
    tlsFlushTimer_->SetEnabled(true);
    tlsFlushTimer_armed_ = true;
}

void TCustomSslNetSocket::StopTlsFlushTimer() {
    tlsFlushTimer_armed_ = false;
    if (tlsFlushTimer_ && tlsFlushTimer_->Enabled() && OwnerThread() != 0) tlsFlushTimer_->SetEnabled(false);
}

void TCustomSslNetSocket::Close() {
    if (!TlsActive() || ProxyNegotiating() || hSocket_ == INVALID_SOCKET || state_ != wsConnected)
        return TCustomSocksNetSocket::Close();
    // What the owner left unread is dropped, as a plain socket drops it: the close_notify
    // leaves at once (after what the owner sent).
    FlagsChange(tfCloseRequested | tfOwnerClose, tfBidirectional);
    StartTlsFlushTimer();
    if (!ShutdownStarted() && ConnectionInitialised() && !AllSentOut()) {
        // Everything written before Close goes out first, then the close_notify.
        FlagsChange(tfCloseAfterSend | tfWriteWanted);
        if (!Fired([&] { FlushTls(); })) return;
        PostTlsEvent(evWrite);
        return;
    }
    TCustomSocksNetSocket::Close();
}

void TCustomSslNetSocket::ShutdownAndClose(bool Shut, uint16_t Error) {
    if (SslEnable && ssl_) {
        if (hSocket_ != INVALID_SOCKET) {
            if (state_ == wsClosed) return;
            if (Shut && !Disposing() && !ShutdownStarted() && HandshakeFinished()) {
                Shutdown(1);
                return;
            }
            if (Disposing() && !ShutdownStarted()) TCustomSocksNetSocket::Shutdown(1);
            NewWork();
            TCustomSocksNetSocket::ShutdownAndClose(false, Error);
            return;
        }
    }
    // The connection closes: steps under way for it stop.
    if (hSocket_ != INVALID_SOCKET && state_ != wsClosed) NewWork();
    TCustomSocksNetSocket::ShutdownAndClose(Shut, Error);
}

void TCustomSslNetSocket::HardAbort(uint16_t Error) {
    // The connection's work ends here: steps under way for it stop.
    NewWork();
    StopTlsFlushTimer();
    SslEnable = false;
    if (!ResetSSL()) return;
    TCustomSocksNetSocket::HardAbort(Error);
}

void TCustomSslNetSocket::HandleFdClose(TMessage& Msg, uint16_t Error) {
    if (!TlsActive() || state_ == wsConnecting || hSocket_ == INVALID_SOCKET || ProxyNegotiating())
        return TCustomSocksNetSocket::HandleFdClose(Msg, Error);
    FlagsChange(tfCloseRequested);
    if (pendingCloseError_ == 0) {
        if (CloseWaitsForOwner()) {
            FlushTls();
            return;
        }
        u_long avail = 0;
        if (!OwnerClosing() &&
            (!unread_.empty() || (Winsock::ioctlsocket(hSocket_, FIONREAD, &avail) == 0 && avail > 0))) {
            PostTlsEvent(evRead);
            PostTlsEvent(evClose, Error);
            return;
        }
        if (Error > 10000) pendingCloseError_ = Error;
        if (pendingCloseError_ == 0 && HandshakeFinished() && !ShutdownOver() && tlsState_ != tlsFailed) {
            FlagsChange(0, tfBidirectional);
            StartTlsShutdown(1);
            return;
        }
    }
    Error = uint16_t(pendingCloseError_ ? pendingCloseError_ : Error);
    if (!handshakeReported_ && !Disposing()) {
        // A connection the handler made meanwhile is not the one closing here.
        if (!Fired([&] { ReportHandshakeFailedOnce(1); })) return;
        if (hSocket_ == INVALID_SOCKET) return;
    }
    SslEnable = false;
    if (!ResetSSL()) return;
    // The core reports the close once (OnSessionClosed) as it closes the handle.
    if (state_ != wsClosed) TCustomSocksNetSocket::ShutdownAndClose(!ShutdownOver(), Error);
}

// ---- Reset ---------------------------------------------------------------------------------

void TCustomSslNetSocket::DeferSslFree() {
    if (!ssl_) return;
    ossl::SSL_set_ex_data(ssl_, 0, nullptr);
    DeferredFrees.push_back({ssl_, sslBio_, netBio_, intBio_});
    ssl_ = nullptr;
    sslBio_ = netBio_ = intBio_ = nullptr;
    if (SslCallDepth == 0) FreeDeferredSsl();
}

bool TCustomSslNetSocket::ResetSSL() {
    if (tlsState_ == tlsHandshakeRequested) return true;
    StopTlsFlushTimer();
    auto alive = AliveToken();
    try {
        // Inside a callback OpenSSL still runs on the SSL object: the socket lets go of it
        // now (the connection ended), OpenSSL frees it once it returns.
        if (insideCallback_ > 0) DeferSslFree();
        {
            const auto held = framework::LockScope(plainQueue_);
            plainQueue_.RecycleAll();
        }
        conn_.Protocol = TTlsConnectionRecord::TProtocol();
        retryWriteLen_ = -1;
        pendingCloseError_ = 0;
        // The connection may go on in plain text: the core reads it again.
        if (readEventsHeld_) ReleaseHeldReadEvents();
        FlagsChange(0, tfCloseAfterSend);
        dataSentOwed_ = false;
        allPlainSent_ = true;
        handshakeDonePending_ = false;
        if (tlsState_ != tlsFailed) tlsState_ = tlsNone;
        if (ssl_) ossl::SSL_set_shutdown(ssl_, SSL_SENT_SHUTDOWN);
        if (sslBio_) ossl::BIO_free(sslBio_);
        sslBio_ = nullptr;
        if (netBio_) ossl::BIO_free(netBio_);
        netBio_ = nullptr;
        if (intBio_) ossl::BIO_free(intBio_);
        intBio_ = nullptr;
        if (ssl_) ossl::SSL_free(ssl_);
        ssl_ = nullptr;
        tlsState_ = tlsNone;
    } catch (const std::exception& e) {
        HandleBgException(e, "Fatal exception in ResetSSL");
        if (!*alive) return false;
    }
    // Last, with the connection's TLS state already gone: sweeping the queue may run what
    // other threads sent to this thread, and a handler there may free the socket.
    postedEvents_ = deferredEvents_ = 0;
    return PurgeQueuedEvents(idTlsEvent_);
}

void TCustomSslNetSocket::SetDefaults() {
    if (!ResetSSL()) return;
    unread_.clear();
    TCustomSocksNetSocket::SetDefaults();
}
