#include "net/SslCallbacks.h"

#include <windows.h>

#include <algorithm>

#include "net/InetIdn.h"
#include "net/SslNetSocket.h"

#include <openssl/ocsp.h>

namespace {

CRITICAL_SECTION* Locks() {
    static CRITICAL_SECTION locks[TSslCallbacks::kKindCount];
    static const bool ready = [] {
        for (auto& l : locks) InitializeCriticalSection(&l);
        return true;
    }();
    (void)ready;
    return locks;
}

TCustomSslNetSocket* SocketOf(const SSL* Ssl) {
    return Ssl ? static_cast<TCustomSslNetSocket*>(ossl::SSL_get_ex_data(Ssl, 0)) : nullptr;
}

uint16_t Be16(const unsigned char* P) { return uint16_t((P[0] << 8) | P[1]); }

// A list of 16-bit values after a length of LenBytes bytes that must match the rest exactly.
bool Read16List(const unsigned char* Data, size_t Len, size_t LenBytes, std::vector<uint16_t>& Out) {
    if (Len < LenBytes) return false;
    const size_t declared = LenBytes == 2 ? Be16(Data) : Data[0];
    if (declared != Len - LenBytes || declared % 2 != 0) return false;
    for (size_t i = LenBytes; i + 1 < Len; i += 2) Out.push_back(Be16(Data + i));
    return true;
}

std::string Bytes(const unsigned char* P, size_t N) { return std::string(reinterpret_cast<const char*>(P), N); }

std::string HostFromAscii(const std::string& Ascii) { return InetWideToAnsi(InetHostToUnicode(Ascii)); }

}  // namespace

// The frame of a socket callback: a reset it asked for by closing the handle in a handler is
// posted for later. A handler may free the socket: the frame then leaves it alone.
//
// Every handler runs through the socket's FireEvent or Fired. When the answer says the handler
// freed the socket or ended its connection, the callback touches nothing of the socket (the
// SSL object is no longer its own) and gives OpenSSL a failure or a neutral answer.
struct TSslCallbacks::InsideCallback {
    explicit InsideCallback(TCustomSslNetSocket* S) : s(S), alive(S->AliveToken()) { ++s->insideCallback_; }
    ~InsideCallback() {
        if (!*alive) return;
        if (--s->insideCallback_ == 0 && s->HSocket() == INVALID_SOCKET) s->PostResetLater();
    }
    InsideCallback(const InsideCallback&) = delete;
    InsideCallback& operator=(const InsideCallback&) = delete;
    TCustomSslNetSocket* s;
    std::shared_ptr<const bool> alive;
};

TSslCallbacks::Lock::Lock(TKind Kind) : kind_(Kind) { EnterCriticalSection(&Locks()[kind_]); }
TSslCallbacks::Lock::~Lock() { LeaveCriticalSection(&Locks()[kind_]); }

void TSslCallbacks::Install() {
    // Entries a caller set itself stay.
    auto& c = TSslContext::Callbacks;
    if (!c.Verify) c.Verify = Verify;
    if (!c.NewSession) c.NewSession = NewSession;
    if (!c.GetSession) c.GetSession = GetSession;
    if (!c.ClientHello) c.ClientHello = ClientHello;
    if (!c.AlpnSelect) c.AlpnSelect = AlpnSelect;
    if (!c.OcspStatus) c.OcspStatus = OcspStatus;
}

void TSslCallbacks::Info(const SSL* Ssl, int Where, int) {
    Lock l(kInfo);
    TCustomSslNetSocket* s = SocketOf(Ssl);
    // No exception may cross OpenSSL's C frames: a foreign SSL is ignored.
    if (!s) return;
    // Nothing here raises; the counter and flag are plain fields.
    if (Where & SSL_CB_HANDSHAKE_START) ++s->handshakeCount_;
    if ((Where & SSL_CB_HANDSHAKE_DONE) && !s->handshakeReported_) s->handshakeDonePending_ = true;
}

int TSslCallbacks::Verify(int Ok, X509_STORE_CTX* StoreCtx) {
    Lock l(kVerify);
    SSL* ssl = static_cast<SSL*>(ossl::X509_STORE_CTX_get_ex_data(StoreCtx, ossl::SSL_get_ex_data_X509_STORE_CTX_idx()));
    TCustomSslNetSocket* s = SocketOf(ssl);
    if (!s) return Ok;
    auto alive = s->AliveToken();
    try {
    bool held = true;
    s->Pause();
    {
        InsideCallback in(s);
        X509* cert = ossl::X509_STORE_CTX_get_current_cert(StoreCtx);
        const int err = ossl::X509_STORE_CTX_get_error(StoreCtx);
        TX509Base* entry = cert ? s->peerChain_.Find(cert) : nullptr;
        if (entry) {
            entry->VerifyResult = err;
        } else if (cert) {
            entry = s->peerChain_.Add(cert);
            entry->VerifyResult = err;
            entry->FirstVerifyResult = err;
        }
        if (entry) entry->VerifyDepth = ossl::X509_STORE_CTX_get_error_depth(StoreCtx);
        s->peerChain_.LastVerifyResult = err;
        if (s->firstVerifyResult_ == -1) s->firstVerifyResult_ = err;
        held = s->Fired([&] {
            try {
                s->TriggerSslVerifyPeer(Ok, entry);
            } catch (...) {
                Ok = 0;
            }
        });
        if (!*alive) return 0;
    }
    s->Resume();
    return held ? Ok : 0;
    } catch (...) {
        // No exception crosses OpenSSL's C frames: the handshake fails with an alert.
        return 0;
    }
}

int TSslCallbacks::NewSession(SSL* Ssl, SSL_SESSION* Session) {
    Lock l(kNewSession);
    TCustomSslNetSocket* s = SocketOf(Ssl);
    if (!s) return 0;
    try {
    InsideCallback in(s);
    if (ossl::SSL_is_server(Ssl)) {
        bool add = false;
        unsigned idLen = 0;
        const unsigned char* id = ossl::SSL_SESSION_get_id(Session, &idLen);
        if (!s->FireEvent(s->OnSslSvrNewSession, s, Session, const_cast<unsigned char*>(id), int(idLen), add))
            return 0;
        return add ? 1 : 0;
    }
    bool incRef = false;
    const bool reused = s->SslEnable && SslSessionReused(Ssl) == 1;
    if (!s->FireEvent(s->OnSslCliNewSession, s, Session, reused, incRef)) return 0;
    // OpenSSL keeps one reference for us when we answer 1; taking one more with
    // SSL_get1_session on top would leak a session per handshake.
    return incRef && Session ? 1 : 0;
    } catch (...) {
        return 0;  // the session is not kept
    }
}

SSL_SESSION* TSslCallbacks::GetSession(SSL* Ssl, const unsigned char* Id, int Len, int* Copy) {
    Lock l(kGetSession);
    TCustomSslNetSocket* s = SocketOf(Ssl);
    if (!s) return nullptr;
    try {
        InsideCallback in(s);
        void* session = nullptr;
        bool incRef = Copy && *Copy != 0;
        if (!s->FireEvent(s->OnSslSvrGetSession, s, session, const_cast<unsigned char*>(Id), Len, incRef)) {
            // A full handshake instead; a session handed over with its reference is let go.
            if (session && !incRef) ossl::SSL_SESSION_free(static_cast<SSL_SESSION*>(session));
            return nullptr;
        }
        if (Copy) *Copy = incRef ? 1 : 0;
        return static_cast<SSL_SESSION*>(session);
    } catch (...) {
        return nullptr;  // a full handshake instead
    }
}

bool SslParseHelloExtension(TClientHelloData& Hello, unsigned Type, const unsigned char* Data, size_t Len) {
    if (!Data && Len) return false;
    switch (Type) {
        case 0: {  // server_name: list length, then (type, length, name)
            if (Len < 2 || Be16(Data) != Len - 2) return false;
            size_t p = 2;
            while (p < Len) {
                if (Len - p < 3) return false;
                const uint8_t kind = Data[p];
                const size_t n = Be16(Data + p + 1);
                p += 3;
                if (n > Len - p) return false;
                if (kind == 0 && Hello.ServerName.empty()) Hello.ServerName = HostFromAscii(Bytes(Data + p, n));
                p += n;
            }
            return true;
        }
        case 5: Hello.StatusRequest = Bytes(Data, Len); return true;
        case 10: return Read16List(Data, Len, 2, Hello.SupportedGroups);
        case 11:
            if (Len < 1 || Data[0] != Len - 1) return false;
            Hello.PointFormats.assign(Data + 1, Data + Len);
            return true;
        case 13: return Read16List(Data, Len, 2, Hello.SigAlgs);
        case 16:
            if (Len < 2 || Be16(Data) != Len - 2) return false;
            Hello.Alpn = Bytes(Data + 2, Len - 2);
            return true;
        case 41: Hello.PreSharedKey = Bytes(Data, Len); return true;
        case 43: return Read16List(Data, Len, 1, Hello.SupportedVersions);
        case 45: Hello.PskModes = Bytes(Data, Len); return true;
        case 51: Hello.KeyShare = Bytes(Data, Len); return true;
        case 65281: Hello.RenegInfo = Bytes(Data, Len); return true;
        default: return true;
    }
}

namespace {
// Puts Ctx's SSL_CTX under Ssl in place of the current one, options included.
void SwitchContext(TCustomSslNetSocket* S, SSL* Ssl, TSslContext* Ctx) {
    SslClearOptions(Ssl, SslCtxGetOptions(ossl::SSL_get_SSL_CTX(Ssl)));
    S->SetSslContext(Ctx);
    ossl::SSL_set_SSL_CTX(Ssl, Ctx->SslCtx());
    SslSetOptions(Ssl, SslCtxGetOptions(Ctx->SslCtx()));
}
}  // namespace

int TSslCallbacks::ClientHello(SSL* Ssl, int* Alert, void* Arg) {
    try {
        return ClientHelloBody(Ssl, Alert, Arg);
    } catch (...) {
        // A context that cannot be built (a missing certificate file) ends the handshake
        // with an alert instead of unwinding through OpenSSL.
        *Alert = SSL_AD_INTERNAL_ERROR;
        return SSL_CLIENT_HELLO_ERROR;
    }
}

int TSslCallbacks::ClientHelloBody(SSL* Ssl, int* Alert, void*) {
    TCustomSslNetSocket* s = SocketOf(Ssl);
    if (!s) return SSL_CLIENT_HELLO_SUCCESS;
    InsideCallback in(s);
    TClientHelloData& h = s->hello_;
    if (ossl::SSL_client_hello_isv2(Ssl)) {
        h.IsV2 = true;
        *Alert = SSL_AD_PROTOCOL_VERSION;
        return SSL_CLIENT_HELLO_ERROR;
    }
    h.LegacyVersion = ossl::SSL_client_hello_get0_legacy_version(Ssl);
    const unsigned char* p = nullptr;
    size_t n = ossl::SSL_client_hello_get0_random(Ssl, &p);
    h.Random = Bytes(p, p ? n : 0);
    n = ossl::SSL_client_hello_get0_session_id(Ssl, &p);
    h.SessionId = Bytes(p, p ? n : 0);
    n = ossl::SSL_client_hello_get0_ciphers(Ssl, &p);
    h.CipherSuites = Bytes(p, p ? n : 0);
    int* types = nullptr;
    size_t count = 0;
    bool malformed = false;
    if (ossl::SSL_client_hello_get1_extensions_present(Ssl, &types, &count) == 1 && types) {
        for (size_t i = 0; i < count; ++i) {
            const unsigned type = unsigned(types[i]);
            h.Extensions.push_back(type);
            const unsigned char* data = nullptr;
            size_t len = 0;
            if (ossl::SSL_client_hello_get0_ext(Ssl, type, &data, &len) != 1) continue;
            if (!SslParseHelloExtension(h, type, data, len)) malformed = true;
        }
        SslCryptoFree(types);
    }
    if (malformed) {
        // A hello whose own lengths disagree is refused before anything relies on it.
        *Alert = SSL_AD_DECODE_ERROR;
        return SSL_CLIENT_HELLO_ERROR;
    }
    if (!h.ServerName.empty()) {
        s->TlsServerName = h.ServerName;
        TSslContext* ctx = nullptr;
        int decision = 0;
        const bool held = s->Fired([&] {
            try {
                s->TriggerServerNameRequest(ctx, decision);
            } catch (...) {
                decision = SSL_TLSEXT_ERR_ALERT_FATAL;
            }
        });
        if (!held) {
            *Alert = SSL_AD_INTERNAL_ERROR;
            return SSL_CLIENT_HELLO_ERROR;
        }
        h.Decision = decision;
        if (decision == SSL_TLSEXT_ERR_ALERT_FATAL) {
            *Alert = SSL_AD_UNRECOGNIZED_NAME;
            return SSL_CLIENT_HELLO_ERROR;
        }
        if (ctx && ctx != s->SslContext()) {
            if (!ctx->IsCtxInitialized()) ctx->BuildSslCtx();
            Lock l(kServerName);
            SwitchContext(s, Ssl, ctx);
        }
    }
    if (s->HSocket() == INVALID_SOCKET) return SSL_CLIENT_HELLO_ERROR;
    return SSL_CLIENT_HELLO_SUCCESS;
}

int TSslCallbacks::ServerName(SSL* Ssl, int* Alert, void*) {
    TCustomSslNetSocket* s = SocketOf(Ssl);
    if (!s) return SSL_TLSEXT_ERR_OK;
    if (!s->TlsServerName.empty()) return s->hello_.Decision;
    try {
    Lock l(kServerName);
    const char* name = ossl::SSL_get_servername(Ssl, TLSEXT_NAMETYPE_host_name);
    if (!name) return SSL_TLSEXT_ERR_OK;
    InsideCallback in(s);
    s->TlsServerName = HostFromAscii(name);
    TSslContext* ctx = nullptr;
    int err = 0;
    if (!s->Fired([&] { s->TriggerServerNameRequest(ctx, err); })) {
        *Alert = SSL_AD_INTERNAL_ERROR;
        return SSL_TLSEXT_ERR_ALERT_FATAL;
    }
    if (ctx) {
        if (ctx != s->SslContext() && ctx->IsCtxInitialized()) {
            SwitchContext(s, Ssl, ctx);
            SslCtxSetServerNameCallback(ctx->SslCtx(), ServerName);
        }
        return SSL_TLSEXT_ERR_OK;
    }
    if (err == SSL_TLSEXT_ERR_ALERT_WARNING || err == SSL_TLSEXT_ERR_ALERT_FATAL) *Alert = SSL_AD_UNRECOGNIZED_NAME;
    return err;
    } catch (...) {
        *Alert = SSL_AD_INTERNAL_ERROR;
        return SSL_TLSEXT_ERR_ALERT_FATAL;
    }
}

int TSslCallbacks::AlpnSelect(SSL* Ssl, const unsigned char** Out, unsigned char* OutLen, const unsigned char* In,
                              unsigned int InLen, void*) {
    TCustomSslNetSocket* s = SocketOf(Ssl);
    if (!s) return SSL_TLSEXT_ERR_NOACK;
    try {
        InsideCallback in(s);
        framework::TStringList list;
        for (unsigned p = 0; p < InLen;) {
            const unsigned n = In[p];
            if (n == 0 || n > InLen - p - 1) break;
            list.Add(Bytes(In + p + 1, n));
            p += 1 + n;
        }
        if (list.Count() == 0) return SSL_TLSEXT_ERR_NOACK;
        std::string sel;
        int err = SSL_TLSEXT_ERR_NOACK;
        if (!s->Fired([&] { s->TriggerAlpnSelect(list, sel, err); })) return SSL_TLSEXT_ERR_ALERT_FATAL;
        if (err == SSL_TLSEXT_ERR_OK && !sel.empty() && sel.size() < 256) {
            s->alpnKeep_ = sel;
            *Out = reinterpret_cast<const unsigned char*>(s->alpnKeep_.data());
            *OutLen = static_cast<unsigned char>(s->alpnKeep_.size());
            return SSL_TLSEXT_ERR_OK;
        }
        if (err == SSL_TLSEXT_ERR_ALERT_WARNING || err == SSL_TLSEXT_ERR_ALERT_FATAL) return err;
        return SSL_TLSEXT_ERR_NOACK;
    } catch (...) {
        return SSL_TLSEXT_ERR_ALERT_FATAL;
    }
}

int TSslCallbacks::OcspStatus(SSL* Ssl, void* Arg) {
    try {
        return OcspStatusBody(Ssl, Arg);
    } catch (...) {
        // Client: a refused status ends the handshake; server: no staple.
        return ossl::SSL_is_server(Ssl) ? SSL_TLSEXT_ERR_NOACK : 0;
    }
}

int TSslCallbacks::OcspStatusBody(SSL* Ssl, void*) {
    TCustomSslNetSocket* s = SocketOf(Ssl);
    if (!s) return 1;
    InsideCallback in(s);
    if (ossl::SSL_is_server(Ssl)) {
        if (s->OcspStaple.empty()) return SSL_TLSEXT_ERR_NOACK;
        // OpenSSL frees the stapled copy.
        auto* copy = static_cast<unsigned char*>(ossl::CRYPTO_malloc(s->OcspStaple.size(), __FILE__, __LINE__));
        if (!copy) return SSL_TLSEXT_ERR_NOACK;
        std::copy(s->OcspStaple.begin(), s->OcspStaple.end(), copy);
        SslSetOcspResponse(Ssl, copy, long(s->OcspStaple.size()));
        return SSL_TLSEXT_ERR_OK;
    }
    s->conn_.OcspStapleStatus = -1;
    s->OcspStaple.clear();
    const unsigned char* resp = nullptr;
    const long len = SslGetOcspResponse(Ssl, resp);
    if (resp && len > 0) {
        s->OcspStaple = Bytes(resp, size_t(len));
        const unsigned char* p = resp;
        if (OCSP_RESPONSE* r = ossl::d2i_OCSP_RESPONSE(nullptr, &p, len)) {
            s->conn_.OcspStapleStatus = ossl::OCSP_response_status(r);
            ossl::OCSP_RESPONSE_free(r);
            if (s->conn_.OcspStapleStatus != OCSP_RESPONSE_STATUS_SUCCESSFUL) s->OcspStaple.clear();
        }
    }
    return 1;
}

int TSslCallbacks::ClientCert(SSL* Ssl, X509** Cert, EVP_PKEY** Key) {
    Lock l(kClientCert);
    TCustomSslNetSocket* s = SocketOf(Ssl);
    if (!s) return 0;
    auto alive = s->AliveToken();
    s->Pause();
    int result = 0;
    {
        InsideCallback in(s);
        TX509Base* c = nullptr;
        try {
            if (!s->FireEvent(s->OnSslCliCertRequest, s, c)) c = nullptr;
            if (c && c->IsCertLoaded() && c->IsPKeyLoaded()) {
                *Cert = ossl::X509_dup(c->GetX509());
                ossl::EVP_PKEY_up_ref(c->PrivateKey());
                *Key = c->PrivateKey();
                result = 1;
            }
        } catch (...) {
            result = 0;
        }
        if (!*alive) return 0;
    }
    s->Resume();
    return result;
}
