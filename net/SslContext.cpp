// wincrypt.h first: OpenSSL's headers take back the names it defines as macros.
#include <windows.h>
#include <wincrypt.h>

#include "net/SslContext.h"

#include "net/SslCallbacks.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "framework/Handles.h"
#include "framework/SysUtils.h"
#include "net/InetIdn.h"
#include "net/X509Base.h"

// ---- TSslBaseComponent ------------------------------------------------------------------------

TSslBaseComponent::TSslBaseComponent(framework::TComponent* Owner) : TComponent(Owner) {}

TSslBaseComponent::~TSslBaseComponent() { ReleaseSslOnce(); }

void TSslBaseComponent::LoadSslOnce() {
    if (loaded_) return;
    InetAcquireOpenSsl();
    loaded_ = true;
}

void TSslBaseComponent::ReleaseSslOnce() {
    if (!loaded_) return;
    loaded_ = false;
    InetReleaseOpenSsl();
}

void TSslBaseComponent::RecordOpenSslErrors(const std::string& Msg) {
    LastOpenSslErrorCode = ossl::ERR_peek_error ? static_cast<int32_t>(ossl::ERR_peek_error()) : 0;
    LastOpenSslErrorText = InetLastOpenSslErrors(false);
    if (!Msg.empty()) LastOpenSslErrorText = Msg + " - " + LastOpenSslErrorText;
}

// ---- Bits of the enumerations -----------------------------------------------------------------

int SslVerMethodNumber(TSslVerMethod V) {
    static const int numbers[] = {SSL3_VERSION, TLS1_VERSION, TLS1_1_VERSION, TLS1_2_VERSION,
                                  TLS1_3_VERSION, TLS1_3_VERSION};
    return numbers[V];
}

uint64_t SslOptions2Bits(const std::set<TSslOption2>& Options) {
    static const uint64_t bits[] = {
        SSL_OP_CIPHER_SERVER_PREFERENCE, SSL_OP_NO_RENEGOTIATION,
        SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION, SSL_OP_NO_COMPRESSION, SSL_OP_NO_ENCRYPT_THEN_MAC,
        SSL_OP_NO_TICKET, SSL_OP_NO_SSLv3, SSL_OP_NO_TLSv1, SSL_OP_NO_TLSv1_1, SSL_OP_NO_TLSv1_2,
        SSL_OP_NO_TLSv1_3, SSL_OP_TLS_ROLLBACK_BUG, SSL_OP_DONT_INSERT_EMPTY_FRAGMENTS,
        SSL_OP_ALLOW_UNSAFE_LEGACY_RENEGOTIATION, SSL_OP_TLSEXT_PADDING, SSL_OP_SAFARI_ECDHE_ECDSA_BUG,
        SSL_OP_CISCO_ANYCONNECT, SSL_OP_LEGACY_SERVER_CONNECT, SSL_OP_ALLOW_NO_DHE_KEX};
    uint64_t r = 0;
    for (TSslOption2 o : Options) r |= bits[o];
    return r;
}

unsigned long SslVerifyFlagBits(TSslVerifyFlag Flag) {
    static const unsigned long bits[] = {
        X509_V_FLAG_CB_ISSUER_CHECK, X509_V_FLAG_USE_CHECK_TIME, X509_V_FLAG_CRL_CHECK,
        X509_V_FLAG_CRL_CHECK_ALL, X509_V_FLAG_IGNORE_CRITICAL, X509_V_FLAG_X509_STRICT,
        X509_V_FLAG_ALLOW_PROXY_CERTS, X509_V_FLAG_POLICY_CHECK, X509_V_FLAG_EXPLICIT_POLICY,
        X509_V_FLAG_INHIBIT_ANY, X509_V_FLAG_INHIBIT_MAP, X509_V_FLAG_NOTIFY_POLICY,
        X509_V_FLAG_EXTENDED_CRL_SUPPORT, X509_V_FLAG_USE_DELTAS, X509_V_FLAG_CHECK_SS_SIGNATURE,
        X509_V_FLAG_TRUSTED_FIRST, X509_V_FLAG_SUITEB_128_LOS_ONLY, X509_V_FLAG_SUITEB_192_LOS,
        X509_V_FLAG_SUITEB_128_LOS, X509_V_FLAG_PARTIAL_CHAIN, X509_V_FLAG_NO_ALT_CHAINS,
        X509_V_FLAG_NO_CHECK_TIME};
    return bits[Flag];
}

namespace {

const int HostFlagBits[] = {0, X509_CHECK_FLAG_ALWAYS_CHECK_SUBJECT, X509_CHECK_FLAG_NO_WILDCARDS,
                            X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS, X509_CHECK_FLAG_MULTI_LABEL_WILDCARDS,
                            X509_CHECK_FLAG_SINGLE_LABEL_SUBDOMAINS, X509_CHECK_FLAG_NEVER_CHECK_SUBJECT};
const long SessCacheBits[] = {SSL_SESS_CACHE_CLIENT, SSL_SESS_CACHE_SERVER, SSL_SESS_CACHE_NO_AUTO_CLEAR,
                              SSL_SESS_CACHE_NO_INTERNAL_LOOKUP, SSL_SESS_CACHE_NO_INTERNAL_STORE};
const int VerifyModeBits[] = {SSL_VERIFY_NONE, SSL_VERIFY_PEER, SSL_VERIFY_FAIL_IF_NO_PEER_CERT,
                              SSL_VERIFY_CLIENT_ONCE};

std::string Quoted(const std::string& S) { return "\"" + S + "\""; }

bool FileExists(const std::string& Name) {
    const DWORD a = GetFileAttributesA(InetLongPath(Name).c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}
bool FolderExists(const std::string& Name) {
    const DWORD a = GetFileAttributesA(InetLongPath(Name).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// PEM pass phrases come from the caller, never from a console prompt.
int PassPhraseCallback(char* Buf, int Size, int, void* User) {
    TSslCallbacks::Lock l(TSslCallbacks::kPassPhrase);
    if (!User || Size <= 0) return 0;
    const std::string& pass = *static_cast<const std::string*>(User);
    const int n = static_cast<int>(pass.size() < static_cast<size_t>(Size) ? pass.size() : Size - 1);
    std::memcpy(Buf, pass.data(), n);
    return n;
}

struct BioGuard {
    BIO* b;
    ~BioGuard() { if (b) ossl::BIO_free(b); }
};

BIO* MemBio(const std::string& Text) {
    return ossl::BIO_new_mem_buf(Text.data(), static_cast<int>(Text.size()));
}

std::atomic<bool> BuiltinEnginesRegistered{false};

void RemoveSessionCallback(SSL_CTX* Ctx, SSL_SESSION* Session) {
    TSslCallbacks::Lock l(TSslCallbacks::kRemoveSession);
    auto* context = static_cast<TSslContext*>(ossl::SSL_CTX_get_ex_data(Ctx, 0));
    try {
        if (context && context->OnRemoveSession) context->OnRemoveSession(context, Session);
    } catch (...) {
        // Nothing may unwind through OpenSSL; the session goes in any case.
    }
}

// The engine's pass-phrase reader answers with the pass phrase of the context loading a key.
thread_local const TSslContext* UiContext = nullptr;
int UiReader(UI* Ui, UI_STRING* Uis) {
    const std::string pass = UiContext ? UiContext->SslPassPhrase : std::string();
    ossl::UI_set_result(Ui, Uis, pass.c_str());
    return 1;
}

}  // namespace

// ---- Files ------------------------------------------------------------------------------------

BIO* SslOpenFileBio(const std::string& FileName, const char* Mode) {
    if (FileName.empty()) throw ESslContextException("File name not specified");
    if (!ossl::BIO_new_file) throw ESslContextException("OPENSSL not yet loaded");
    const bool reading = Mode[0] == 'r';
    if (reading) {
        if (!FileExists(FileName)) throw ESslContextException("File not found " + Quoted(FileName));
        if (InetFileSizeOf(FileName) < 16) throw ESslContextException("File empty " + Quoted(FileName));
    }
    BIO* b = ossl::BIO_new_file(InetToUtf8(FileName).c_str(), Mode);
    if (!b) throw ESslContextException("Error on opening file " + Quoted(FileName));
    return b;
}

std::string SslReadBioText(BIO* Bio) {
    std::string text;
    char buf[4096];
    int n;
    while ((n = ossl::BIO_read(Bio, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    return text;
}

// ---- PEM --------------------------------------------------------------------------------------

void SslReadPemObjects(const std::string& Text, bool Crls, STACK_OF(X509) * &Certs,
                       STACK_OF(X509_CRL) * &CrlStack, std::string& Errors) {
    Certs = nullptr;
    CrlStack = nullptr;
    Errors.clear();
    if (Text.find("-----BEGIN ") == std::string::npos && Text.find("-----END ") == std::string::npos) {
        Errors = "No PEM Content Found";
        return;
    }
    auto addError = [&](const std::string& e) {
        if (!Errors.empty()) Errors += ";\r\n";
        Errors += e;
    };
    int certNo = 0, crlNo = 0;
    size_t pos = 0;
    // Every block is read, however short: an Ed25519 certificate or an empty CRL is small.
    while ((pos = Text.find("-----BEGIN ", pos)) != std::string::npos) {
        size_t end = Text.find("-----END ", pos + 11);
        if (end == std::string::npos) end = Text.size();
        else {
            end = Text.find('\n', end);
            end = end == std::string::npos ? Text.size() : end + 1;
        }
        const std::string block = Text.substr(pos, end - pos);
        pos = end;
        const bool isCrl = block.find("X509 CRL") != std::string::npos;
        if (isCrl && Crls) {
            ++crlNo;
            ossl::ERR_clear_error();
            BIO* b = MemBio(block);
            BioGuard g{b};
            X509_CRL* crl = b ? ossl::PEM_read_bio_X509_CRL(b, nullptr, PassPhraseCallback, nullptr) : nullptr;
            if (!crl) {
                addError("Error CRL " + std::to_string(crlNo) + " - " + InetLastOpenSslErrors(false));
                continue;
            }
            if (!CrlStack) CrlStack = reinterpret_cast<STACK_OF(X509_CRL)*>(ossl::OPENSSL_sk_new_null());
            ossl::OPENSSL_sk_push(reinterpret_cast<OPENSSL_STACK*>(CrlStack), crl);
        } else if (!isCrl && block.find("CERTIFICATE") != std::string::npos &&
                   block.find("CERTIFICATE REQUEST") == std::string::npos) {
            ++certNo;
            try {
                ossl::ERR_clear_error();
                BIO* b = MemBio(block);
                BioGuard g{b};
                X509* x = b ? ossl::PEM_read_bio_X509(b, nullptr, PassPhraseCallback, nullptr) : nullptr;
                if (!x) {
                    const size_t lb = block.find('\n', 50);
                    const std::string why = (lb == std::string::npos ? block.size() : lb) >= 100
                                                ? std::string("Maximum line length in PEM file is 64")
                                                : InetLastOpenSslErrors(false);
                    addError("Error Cert " + std::to_string(certNo) + " - " + why);
                    continue;
                }
                if (!Certs) Certs = reinterpret_cast<STACK_OF(X509)*>(ossl::OPENSSL_sk_new_null());
                ossl::OPENSSL_sk_push(reinterpret_cast<OPENSSL_STACK*>(Certs), x);
            } catch (...) {
                addError("Exception Cert " + std::to_string(certNo));
            }
        }
    }
}

EVP_PKEY* SslReadPemPrivateKey(const std::string& Text, const std::string& PassPhrase, std::string& Error) {
    Error.clear();
    size_t pos = 0;
    while ((pos = Text.find("-----BEGIN ", pos)) != std::string::npos) {
        size_t end = Text.find("-----END ", pos + 11);
        end = end == std::string::npos ? Text.size() : Text.find('\n', end);
        if (end == std::string::npos) end = Text.size();
        else ++end;
        const std::string block = Text.substr(pos, end - pos);
        pos = end;
        if (block.find("PRIVATE KEY") == std::string::npos) continue;
        auto read = [&](const std::string* pass) {
            BIO* b = MemBio(block);
            BioGuard g{b};
            return b ? ossl::PEM_read_bio_PrivateKey(b, nullptr, PassPhraseCallback, const_cast<std::string*>(pass))
                     : nullptr;
        };
        ossl::ERR_clear_error();
        EVP_PKEY* key = read(&PassPhrase);
        if (!key && !PassPhrase.empty()) {
            ossl::ERR_clear_error();
            key = read(nullptr);
        }
        if (!key) Error = "Error private key - " + InetLastOpenSslErrors(false);
        return key;
    }
    Error = "No private key found in PEM file";
    return nullptr;
}

// ---- TSslEngine -------------------------------------------------------------------------------

TSslEngine::TSslEngine(framework::TComponent* Owner) : TSslBaseComponent(Owner) {}

TSslEngine::~TSslEngine() { Close(); }

void TSslEngine::SetNameID(const std::string& Value) {
    Close();
    nameId_ = Value;
}

bool TSslEngine::Open() {
    LoadSslOnce();
    if (state_ != 0) return true;
    if (!ossl::ENGINE_by_id) throw ESslEngineError("OpenSSL engines are not available");
    engine_ = ossl::ENGINE_by_id(nameId_.c_str());
    if (!engine_) {
        LastOpenSslErrorCode = static_cast<int32_t>(ossl::ERR_peek_last_error());
        LastErrorMsg = "ENGINE_by_id\r\n" + InetLastOpenSslErrors(true);
        return false;
    }
    state_ = 1;
    return true;
}

bool TSslEngine::Init() {
    if (state_ == 0) throw ESslEngineError("Cannot initialize a closed engine");
    LastErrorMsg = "Engine " + nameId_ + "initialized";
    LastOpenSslErrorCode = 0;
    if (state_ == 2) return true;
    if (ossl::ENGINE_init(engine_)) {
        ossl::ENGINE_set_default(engine_, 0xFFFF);
        state_ = 2;
        ossl::ENGINE_free(engine_);  // the structural reference; the functional one stays
        return true;
    }
    LastOpenSslErrorCode = static_cast<int32_t>(ossl::ERR_peek_last_error());
    LastErrorMsg = "ENGINE_init\r\n" + InetLastOpenSslErrors(true);
    return false;
}

void TSslEngine::Close() {
    try {
        if (state_ == 1 && ossl::ENGINE_free) ossl::ENGINE_free(engine_);
        else if (state_ == 2 && ossl::ENGINE_finish) ossl::ENGINE_finish(engine_);
    } catch (...) {
    }
    engine_ = nullptr;
    state_ = 0;
}

// ---- TSslContext ------------------------------------------------------------------------------

const char* const TSslContext::DefaultDHParams =
    "-----BEGIN DH PARAMETERS-----\r\n"
    "MIICCAKCAgEA///////////JD9qiIWjCNMTGYouA3BzRKQJOCIpnzHQCC76mOxOb\r\n"
    "IlFKCHmONATd75UZs806QxswKwpt8l8UN0/hNW1tUcJF5IW1dmJefsb0TELppjft\r\n"
    "awv/XLb0Brft7jhr+1qJn6WunyQRfEsf5kkoZlHs5Fs9wgB8uKFjvwWY2kg2HFXT\r\n"
    "mmkWP6j9JM9fg2VdI9yjrZYcYvNWIIVSu57VKQdwlpZtZww1Tkq8mATxdGwIyhgh\r\n"
    "fDKQXkYuNs474553LBgOhgObJ4Oi7Aeij7XFXfBvTFLJ3ivL9pVYFxg5lUl86pVq\r\n"
    "5RXSJhiY+gUQFXKOWoqqxC2tMxcNBFB6M6hVIavfHLpk7PuFBFjb7wqK6nFXXQYM\r\n"
    "fbOXD4Wm4eTHq/WujNsJM9cejJTgSiVhnc7j0iYa0u5r8S/6BtmKCGTYdgJzPshq\r\n"
    "ZFIfKxgXeyAMu+EXV3phXWx3CYjAutlG4gjiT6B05asxQ9tb/OD9EI5LgtEgqSEI\r\n"
    "ARpyPBKnh+bXiHGaEL26WyaZwycYavTiPBqUaDS2FQvaJYPpyirUTOjbu8LbBN6O\r\n"
    "+S6O/BQfvsqmKHxZR05rwF2ZspZPoJDDoiM7oYZRW+ftH2EpcM7i16+4G912IXBI\r\n"
    "HNAGkSfVsFqpk7TqmI2P3cGG/7fckKbAj030Nck0BjGZ//////////8CAQI=\r\n"
    "-----END DH PARAMETERS-----\r\n";

TSslContext::TCallbacks TSslContext::Callbacks;

struct TSslContext::Locked {
    TInetLock l;
    explicit Locked(TSslContext* c) : l(c->lock_) {}
};

TSslContext::TSslContext(framework::TComponent* Owner)
    : TSslBaseComponent(Owner), ownCertificate_(std::make_unique<TX509Base>(nullptr)) {
    dhLines_.SetText(DefaultDHParams);
}

TSslContext::~TSslContext() {
    MarkDestroying();
    FreeSslCtx();
    if (ctxEngine_) ctxEngine_->RemoveFreeNotification(this);
    ownCertificate_.reset();
    if (uiMethod_ && ossl::UI_destroy_method) ossl::UI_destroy_method(uiMethod_);
}

void TSslContext::Notification(framework::TComponent* Component, framework::TOperation Operation) {
    if (Operation != framework::TOperation::opRemove) return;
    if (Component == ctxEngine_) ctxEngine_ = nullptr;
    Locked l(this);
    std::erase(sockets_, Component);
}

void TSslContext::RegisterSocket(framework::TComponent* Socket) {
    Locked l(this);
    if (!Socket || std::find(sockets_.begin(), sockets_.end(), Socket) != sockets_.end()) return;
    sockets_.push_back(Socket);
    Socket->FreeNotification(this);
}

void TSslContext::UnregisterSocket(framework::TComponent* Socket) {
    Locked l(this);
    if (std::erase(sockets_, Socket)) Socket->RemoveFreeNotification(this);
}

void TSslContext::SetCtxEngine(TSslEngine* Engine) {
    if (ctxEngine_) ctxEngine_->RemoveFreeNotification(this);
    ctxEngine_ = Engine;
    if (ctxEngine_) ctxEngine_->FreeNotification(this);
}

void TSslContext::RequireCtx() const {
    if (!ctx_) throw ESslContextException("SSL context not initialized");
}

void TSslContext::FreeSslCtx() {
    Locked l(this);
    if (ctx_) {
        ossl::SSL_CTX_set_ex_data(ctx_, 0, nullptr);
        ossl::SSL_CTX_sess_set_remove_cb(ctx_, nullptr);
        ossl::SSL_CTX_sess_set_new_cb(ctx_, nullptr);
        ossl::SSL_CTX_sess_set_get_cb(ctx_, nullptr);
        SslCtxSetStatusCallback(ctx_, nullptr);
        ossl::SSL_CTX_free(ctx_);
        ctx_ = nullptr;
    }
    ReleaseSslOnce();
}

void TSslContext::BuildSslCtx() {
    Locked l(this);
    // The sockets' callbacks, also for a context built before any socket exists.
    TSslCallbacks::Install();
    LoadSslOnce();
    if (AutoEnableBuiltinEngines && !BuiltinEnginesRegistered.exchange(true) && ossl::ENGINE_register_all_complete)
        ossl::ENGINE_register_all_complete();
    if (!ctx_) {
        ctx_ = ossl::SSL_CTX_new(ossl::TLS_method());
        if (!ctx_) throw ESslContextException("Failed to initialize context");
    }
    try {
        if (OnBeforeInit) OnBeforeInit(this);
        if (cliSecurity_ != sslCliSecIgnore) ApplyCliSecurity();
        else ApplyProtocolSettings();

        if (ctxEngine_ && ctxEngine_->CtxCapabilities.count(eccLoadPrivKey)) LoadEngineKey();
        else if (!ownCertificate_->IsPKeyLoaded()) {
            if (privKeyLines_.Empty() || !privKeyFile_.empty()) {
                if (!privKeyFile_.empty()) LoadPrivKeyFile(privKeyFile_);
            } else {
                LoadPrivKeyText(privKeyLines_.Text());
            }
        }
        if (ownCertificate_->IsCertLoaded() || ownCertificate_->IsInterLoaded()) LoadOwnCertificate();
        else if (certLines_.Empty() || !certFile_.empty()) {
            if (!certFile_.empty()) LoadCertFile(certFile_);
        } else {
            LoadCertText(certLines_.Text(), std::string());
        }
        if (!ownCertificate_->IsInterLoaded()) {
            if (caLines_.Empty() || !caFile_.empty() || !caPath_.empty()) LoadVerifyLocations();
            else LoadCALines();
        }
        if (SslUseWindowsRootStore) LoadWindowsRootStore();
        if (!SslCRLFile.empty()) LoadCRLFile(SslCRLFile);
        if (!SslCRLPath.empty()) LoadCRLPath(SslCRLPath);
        SslCtxSetMode(ctx_, SSL_MODE_AUTO_RETRY);
        if (cliSecurity_ == sslCliSecIgnore) {
            if (!dhFile_.empty() || dhLines_.Empty()) {
                if (!dhFile_.empty()) LoadDHParamFile(dhFile_);
            } else {
                LoadDHParamText(dhLines_.Text());
            }
        }
        ApplyVerify();
        if (sessCacheBits_ != 0) SslCtxSetSessionCacheMode(ctx_, sessCacheBits_);
        if (!(sessCacheBits_ & SSL_SESS_CACHE_NO_INTERNAL_STORE)) {
            if (!ossl::SSL_CTX_set_ex_data(ctx_, 0, this))
                RaiseOpenSslErrors<ESslContextException>("SSL_CTX_set_ex_data failed");
            ossl::SSL_CTX_sess_set_remove_cb(ctx_, RemoveSessionCallback);
            if (SslSessionCacheSize != 20480) SslCtxSetSessionCacheSize(ctx_, SslSessionCacheSize);
        }
        if (SslSessionTimeout != 0) ossl::SSL_CTX_set_timeout(ctx_, SslSessionTimeout);
        if (Callbacks.NewSession) ossl::SSL_CTX_sess_set_new_cb(ctx_, Callbacks.NewSession);
        if (Callbacks.GetSession) ossl::SSL_CTX_sess_set_get_cb(ctx_, Callbacks.GetSession);
        if (!sessionIdContext_.empty()) SetSessionIdContextOnCtx();
        if (!alpn_.Empty()) SetAlpnOnCtx();
        if (Callbacks.ClientHello) ossl::SSL_CTX_set_client_hello_cb(ctx_, Callbacks.ClientHello, this);
        if (Callbacks.AlpnSelect) ossl::SSL_CTX_set_alpn_select_cb(ctx_, Callbacks.AlpnSelect, this);
        if (SslOcspStatus) {
            SslCtxSetStatusType(ctx_, TLSEXT_STATUSTYPE_ocsp);
            if (Callbacks.OcspStatus && SslCtxSetStatusCallback(ctx_, Callbacks.OcspStatus) != 1)
                RaiseOpenSslErrors<ESslContextException>("SSL_CTX_set_tlsext_status_cb failed");
            SslCtxSetStatusCallbackArg(ctx_, this);
        }
    } catch (...) {
        ossl::SSL_CTX_free(ctx_);
        ctx_ = nullptr;
        throw;
    }
}

void TSslContext::ApplyProtocolSettings() {
    ossl::SSL_CTX_set_security_level(ctx_, static_cast<int>(SslSecLevel));
    const uint64_t options = SslOptions2Bits(SslOptions2);
    if (SslMaxVersion >= SslMinVersion) {
        SslCtxSetMinProtoVersion(ctx_, SslVerMethodNumber(SslMinVersion));
        SslCtxSetMaxProtoVersion(ctx_, SslVerMethodNumber(SslMaxVersion));
    }
    const uint64_t r = SslCtxSetOptions(ctx_, options);
    if (options != 0 && r == 0) throw ESslContextException("Failed to set context options");
    if (SslCipherList.empty()) throw ESslContextException("Cipher list empty");
    ApplyCipherList();
}

std::string TSslContext::EffectiveCipherList() const {
    // A suite without a certificate ("ALL" at level 0 lets ADH/AECDH through) would pass a
    // verifying peer without anything to verify: those suites go whenever verification is on.
    return verifyPeer_ ? SslCipherList + ":!aNULL" : SslCipherList;
}

void TSslContext::ApplyCipherList() {
    if (!ctx_ || SslCipherList.empty()) return;
    if (ossl::SSL_CTX_set_cipher_list(ctx_, EffectiveCipherList().c_str()) != 1)
        RaiseOpenSslErrors<ESslContextException>("Error loading cipher list");
}

void TSslContext::SetSslCliSecurity(TSslCliSecurity V) {
    Locked l(this);
    if (V == cliSecurity_) return;
    cliSecurity_ = V;
    ApplyCliSecurity();
}

void TSslContext::ApplyCliSecurity() {
    Locked l(this);
    if (cliSecurity_ == sslCliSecIgnore) return;
    static const char* const Tls13 =
        "TLS13-CHACHA20-POLY1305-SHA256:TLS13-AES-256-GCM-SHA384:TLS13-AES-128-GCM-SHA256:";
    static const char* const ListB =
        "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:ECDHE-RSA-AES128-GCM-SHA256:"
        "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-AES256-GCM-SHA384:"
        "DHE-RSA-AES128-GCM-SHA256:DHE-DSS-AES128-GCM-SHA256:kEDH+AESGCM:ECDHE-RSA-AES128-SHA256:"
        "ECDHE-ECDSA-AES128-SHA256:ECDHE-RSA-AES128-SHA:ECDHE-ECDSA-AES128-SHA:ECDHE-RSA-AES256-SHA384:"
        "ECDHE-ECDSA-AES256-SHA384:ECDHE-RSA-AES256-SHA:ECDHE-ECDSA-AES256-SHA:DHE-RSA-AES128-SHA256:"
        "DHE-RSA-AES128-SHA:DHE-DSS-AES128-SHA256:DHE-RSA-AES256-SHA256:DHE-DSS-AES256-SHA:"
        "DHE-RSA-AES256-SHA:ECDHE-RSA-DES-CBC3-SHA:ECDHE-ECDSA-DES-CBC3-SHA:EDH-RSA-DES-CBC3-SHA:"
        "AES128-GCM-SHA256:ES256-GCM-SHA384:AES128-SHA256:AES256-SHA256:AES128-SHA:AES256-SHA:AES:"
        "DES-CBC3-SHA:HIGH:SEED:!aNULL:!eNULL:!EXPORT:!DES:!RC4:!MD5:!PSK:!RSAPSK:!aDH:!aECDH:"
        "!EDH-DSS-DES-CBC3-SHA:!KRB5-DES-CBC3-SHA:!SRP";
    static const char* const ListI =
        "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:ECDHE-ECDSA-AES128-GCM-SHA256:"
        "ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
        "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-AES128-SHA256:"
        "ECDHE-RSA-AES128-SHA256:ECDHE-ECDSA-AES128-SHA:ECDHE-RSA-AES256-SHA384:ECDHE-RSA-AES128-SHA:"
        "ECDHE-ECDSA-AES256-SHA384:ECDHE-ECDSA-AES256-SHA:ECDHE-RSA-AES256-SHA:DHE-RSA-AES128-SHA256:"
        "DHE-RSA-AES128-SHA:DHE-RSA-AES256-SHA256:DHE-RSA-AES256-SHA:ECDHE-ECDSA-DES-CBC3-SHA:"
        "ECDHE-RSA-DES-CBC3-SHA:EDH-RSA-DES-CBC3-SHA:AES128-GCM-SHA256:AES256-GCM-SHA384:AES128-SHA256:"
        "AES256-SHA256:AES128-SHA:AES256-SHA:DES-CBC3-SHA:!DSS";
    static const char* const ListH =
        "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:"
        "ECDHE-RSA-CHACHA20-POLY1305:ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
        "ECDHE-ECDSA-AES256-SHA384:ECDHE-RSA-AES256-SHA384:ECDHE-ECDSA-AES128-SHA256:"
        "ECDHE-RSA-AES128-SHA256";
    SslMinVersion = sslVerTLS1;
    SslMaxVersion = sslVerMax;
    SslCipherList = "ALL";
    SslSecLevel = sslSecLevelAny;
    auto set = [&](TSslVerMethod mn, TSslVerMethod mx, TSslSecLevel lvl, const std::string& list) {
        SslMinVersion = mn;
        SslMaxVersion = mx;
        SslSecLevel = lvl;
        SslCipherList = list;
    };
    const std::string t13 = Tls13;
    switch (cliSecurity_) {
    case sslCliSecNone: set(sslVerSSL3, sslVerMax, sslSecLevelAny, "ALL"); break;
    case sslCliSecSsl3Only: set(sslVerSSL3, sslVerSSL3, sslSecLevelAny, "ALL"); break;
    case sslCliSecTls1Only: set(sslVerTLS1, sslVerTLS1, sslSecLevel112bits, "ALL"); break;
    case sslCliSecTls11Only: set(sslVerTLS1_1, sslVerTLS1_1, sslSecLevel112bits, "ALL"); break;
    case sslCliSecTls12Only: set(sslVerTLS1_2, sslVerTLS1_2, sslSecLevel112bits, "ALL"); break;
    case sslCliSecTls13Only: set(sslVerTLS1_3, sslVerTLS1_3, sslSecLevel112bits, "ALL"); break;
    case sslCliSecTls1: set(sslVerTLS1, sslVerMax, sslSecLevel80bits, "ALL"); break;
    // Named for TLS 1.1 and up, so it starts there.
    case sslCliSecTls11: set(sslVerTLS1_1, sslVerMax, sslSecLevelAny, "ALL"); break;
    case sslCliSecTls12: set(sslVerTLS1_2, sslVerMax, sslSecLevel112bits, "ALL"); break;
    case sslCliSecBack: set(sslVerTLS1, sslVerMax, sslSecLevel80bits, t13 + ListB); break;
    case sslCliSecInter: set(sslVerTLS1_1, sslVerMax, sslSecLevel112bits, t13 + ListI); break;
    case sslCliSecHigh: set(sslVerTLS1_2, sslVerMax, sslSecLevel112bits, t13 + ListH); break;
    case sslCliSecHigh128: set(sslVerTLS1_2, sslVerMax, sslSecLevel128bits, t13 + ListH); break;
    case sslCliSecHigh192: set(sslVerTLS1_2, sslVerMax, sslSecLevel192bits, t13 + ListH); break;
    default: break;
    }
    if (ctx_) ApplyProtocolSettings();
}

// ---- Verification -----------------------------------------------------------------------------

void TSslContext::SetSslVerifyPeer(bool V) {
    Locked l(this);
    verifyPeer_ = V;
    ApplyVerify();
}

void TSslContext::SetSslVerifyPeerModes(const std::set<TSslVerifyPeerMode>& V) {
    Locked l(this);
    if (V != verifyModes_) {
        verifyModes_ = V;
        verifyModeBits_ = 0;
        for (TSslVerifyPeerMode m : V) verifyModeBits_ |= VerifyModeBits[m];
    }
    ApplyVerify();
}

void TSslContext::ApplyVerify() {
    if (!ctx_) return;
    ApplyCipherList();
    if (!verifyPeer_) {
        ossl::SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
        ossl::SSL_CTX_set_verify_depth(ctx_, 0);
    } else if (ossl::SSL_CTX_get_verify_mode(ctx_) != verifyModeBits_) {
        ossl::SSL_CTX_set_verify(ctx_, verifyModeBits_, Callbacks.Verify);
        ossl::SSL_CTX_set_verify_depth(ctx_, SslVerifyDepth);
    }
}

std::set<TSslVerifyFlag> TSslContext::SslVerifyFlags() const {
    std::set<TSslVerifyFlag> r;
    for (int f = sslX509_V_FLAG_USE_CHECK_TIME; f <= sslX509_V_FLAG_NO_CHECK_TIME; ++f) {
        const unsigned long b = SslVerifyFlagBits(static_cast<TSslVerifyFlag>(f));
        if (b && (verifyFlagBits_ & b) == b) r.insert(static_cast<TSslVerifyFlag>(f));
    }
    // The two Suite B bits together are their own member.
    if (r.count(sslX509_V_FLAG_SUITEB_128_LOS)) {
        r.erase(sslX509_V_FLAG_SUITEB_128_LOS_ONLY);
        r.erase(sslX509_V_FLAG_SUITEB_192_LOS);
    }
    return r;
}

void TSslContext::SetSslVerifyFlags(const std::set<TSslVerifyFlag>& V) {
    Locked l(this);
    verifyFlagBits_ = 0;
    for (TSslVerifyFlag f : V) verifyFlagBits_ |= SslVerifyFlagBits(f);
}

std::set<TSslCheckHostFlag> TSslContext::SslCheckHostFlags() const {
    if (hostFlagBits_ == -1) return {sslX509_NO_HOST_CHECK};
    std::set<TSslCheckHostFlag> r;
    for (int f = 1; f <= sslX509_CHECK_FLAG_NEVER_CHECK_SUBJECT; ++f)
        if (hostFlagBits_ & HostFlagBits[f]) r.insert(static_cast<TSslCheckHostFlag>(f));
    return r;
}

void TSslContext::SetSslCheckHostFlags(const std::set<TSslCheckHostFlag>& V) {
    Locked l(this);
    if (V.count(sslX509_NO_HOST_CHECK)) {
        hostFlagBits_ = -1;
        return;
    }
    hostFlagBits_ = 0;
    for (TSslCheckHostFlag f : V) hostFlagBits_ |= HostFlagBits[f];
}

std::set<TSslSessCacheMode> TSslContext::SslSessionCacheModes() const {
    std::set<TSslSessCacheMode> r;
    for (int m = 0; m <= sslSESS_CACHE_NO_INTERNAL_STORE; ++m)
        if (sessCacheBits_ & SessCacheBits[m]) r.insert(static_cast<TSslSessCacheMode>(m));
    return r;
}

void TSslContext::SetSslSessionCacheModes(const std::set<TSslSessCacheMode>& V) {
    Locked l(this);
    sessCacheBits_ = 0;
    for (TSslSessCacheMode m : V) sessCacheBits_ |= SessCacheBits[m];
}

// ---- Setters that act on a built context -------------------------------------------------------

void TSslContext::SetSslCertFile(const std::string& V) {
    Locked l(this);
    if (V == certFile_) return;
    certFile_ = V;
    if (ctx_ && !V.empty()) LoadCertFile(V);
}

void TSslContext::SetSslCertLines(const std::string& Text) {
    Locked l(this);
    framework::TStringList n;
    n.SetText(Text);
    if (n.Text() == certLines_.Text()) return;
    certLines_.SetText(Text);
    if (ctx_ && !certLines_.Empty() && certFile_.empty()) LoadCertText(certLines_.Text(), std::string());
}

void TSslContext::SetSslPrivKeyFile(const std::string& V) {
    Locked l(this);
    if (V == privKeyFile_) return;
    privKeyFile_ = V;
    if (ctx_ && !V.empty()) LoadPrivKeyFile(V);
}

void TSslContext::SetSslPrivKeyLines(const std::string& Text) {
    Locked l(this);
    framework::TStringList n;
    n.SetText(Text);
    if (n.Text() == privKeyLines_.Text()) return;
    privKeyLines_.SetText(Text);
    if (ctx_ && !privKeyLines_.Empty() && privKeyFile_.empty()) LoadPrivKeyText(privKeyLines_.Text());
}

void TSslContext::SetSslCAFile(const std::string& V) {
    Locked l(this);
    if (V == caFile_) return;
    caFile_ = V;
    if (ctx_ && !V.empty()) LoadVerifyLocations();
}

void TSslContext::SetSslCAPath(const std::string& V) {
    Locked l(this);
    if (V == caPath_) return;
    caPath_ = V;
    if (ctx_ && !V.empty()) LoadVerifyLocations();
}

void TSslContext::SetSslCALines(const std::string& Text) {
    Locked l(this);
    framework::TStringList n;
    n.SetText(Text);
    if (n.Text() == caLines_.Text()) return;
    caLines_.SetText(Text);
    if (ctx_ && !caLines_.Empty() && caFile_.empty() && caPath_.empty()) LoadCALines();
}

void TSslContext::SetSslDHParamFile(const std::string& V) {
    Locked l(this);
    if (V == dhFile_) return;
    dhFile_ = V;
    if (ctx_ && !V.empty()) LoadDHParamFile(V);
}

void TSslContext::SetSslDHParamLines(const std::string& Text) {
    Locked l(this);
    dhLines_.SetText(Text);
    if (ctx_ && !dhLines_.Empty() && dhFile_.empty()) LoadDHParamText(dhLines_.Text());
}

void TSslContext::SetSslAlpnProtocols(const std::string& Text) {
    Locked l(this);
    framework::TStringList n;
    n.SetText(Text);
    if (n.Text() == alpn_.Text()) return;
    alpn_.SetText(Text);
    if (ctx_) SetAlpnOnCtx();
}

void TSslContext::SetSslDefaultSessionIDContext(const std::string& V) {
    Locked l(this);
    const std::string cut = V.substr(0, SSL_MAX_SID_CTX_LENGTH);
    if (cut == sessionIdContext_) return;
    sessionIdContext_ = cut;
    if (ctx_) SetSessionIdContextOnCtx();
}

void TSslContext::SetSessionIdContextOnCtx() {
    const auto* p = reinterpret_cast<const unsigned char*>(sessionIdContext_.data());
    if (ossl::SSL_CTX_set_session_id_context(ctx_, sessionIdContext_.empty() ? nullptr : p,
                                             static_cast<unsigned>(sessionIdContext_.size())) != 1)
        RaiseOpenSslErrors<ESslContextException>("ssl_ctx_set_session_id_context failed");
}

void TSslContext::SetAlpnOnCtx() {
    std::vector<uint8_t> wire;
    // One length byte per name: a longer name cannot be sent (and must not turn ALPN off).
    for (int i = 0; i < alpn_.Count(); ++i)
        if (alpn_[i].size() > 255) throw ESslContextException("Error setting alpn protos");
    InetAlpnListToWire(&alpn_, wire);
    if (ossl::SSL_CTX_set_alpn_protos(ctx_, wire.empty() ? nullptr : wire.data(),
                                      static_cast<unsigned>(wire.size())) != 0)
        throw ESslContextException("Error setting alpn protos");
}

// ---- Loaders ----------------------------------------------------------------------------------

std::string TSslContext::ReadFileText(const std::string& FileName) {
    BIO* b = SslOpenFileBio(FileName, "rb");
    BioGuard g{b};
    std::string text = SslReadBioText(b);
    if (text.empty()) throw ESslContextException("File empty " + Quoted(FileName));
    return text;
}

void TSslContext::LoadCertFile(const std::string& FileName) {
    RequireCtx();
    LoadCertText(ReadFileText(FileName), FileName);
}

void TSslContext::LoadCertText(const std::string& Text, const std::string& FileName) {
    RequireCtx();
    STACK_OF(X509)* certs = nullptr;
    STACK_OF(X509_CRL)* crls = nullptr;
    std::string errors;
    SslReadPemObjects(Text, false, certs, crls, errors);
    struct Free {
        STACK_OF(X509) * s;
        ~Free() { SslFreeX509Stack(s); }
    } guard{certs};
    if (!certs) {
        if (FileName.empty()) throw ESslContextException("Error on reading certificate lines - " + errors);
        throw ESslContextException("Error on reading certificate file - " + errors + " - " + FileName);
    }
    if (SslCtxClearChainCerts(ctx_) != 1) throw ESslContextException("Error on clearing chain certs");
    if (ossl::SSL_CTX_use_certificate(ctx_, SslStackItem<X509>(certs, 0)) != 1)
        RaiseOpenSslErrors<ESslContextException>("Can't add certificate to context");
    if (SslStackCount(certs) > 1) {
        X509_STORE* store = ossl::SSL_CTX_get_cert_store(ctx_);
        if (!store) throw ESslContextException("Error on opening store");
        for (int i = 1; i < SslStackCount(certs); ++i)
            if (ossl::X509_STORE_add_cert(store, SslStackItem<X509>(certs, i)) != 1) ossl::ERR_clear_error();
    }
}

void TSslContext::LoadPrivKeyFile(const std::string& FileName) {
    RequireCtx();
    if (!FileExists(FileName)) throw ESslContextException("File not found " + Quoted(FileName));
    LoadPrivKeyText(ReadFileText(FileName));
}

void TSslContext::LoadPrivKeyText(const std::string& Text) {
    RequireCtx();
    std::string error;
    EVP_PKEY* key = SslReadPemPrivateKey(Text, InetToUtf8(SslPassPhrase), error);
    if (!key) throw ESslContextException("Can't read private key lines: " + error);
    const int r = ossl::SSL_CTX_use_PrivateKey(ctx_, key);
    ossl::EVP_PKEY_free(key);
    if (r != 1) RaiseOpenSslErrors<ESslContextException>("Can't read add private key to context");
}

void TSslContext::LoadOwnCertificate() {
    RequireCtx();
    if (ownCertificate_->IsCertLoaded() &&
        ossl::SSL_CTX_use_certificate(ctx_, ownCertificate_->GetX509()) != 1)
        RaiseOpenSslErrors<ESslContextException>("Can't add certificate to context");
    if (ownCertificate_->IsPKeyLoaded() &&
        ossl::SSL_CTX_use_PrivateKey(ctx_, ownCertificate_->PrivateKey()) != 1)
        RaiseOpenSslErrors<ESslContextException>("Can't add private key to context");
    if (ownCertificate_->IsInterLoaded()) AddStackToStore(ownCertificate_->X509Inters());
}

void TSslContext::AddStackToStore(STACK_OF(X509) * Stack) {
    RequireCtx();
    if (!Stack) throw ESslContextException("No CA stack to load");
    X509_STORE* store = ossl::SSL_CTX_get_cert_store(ctx_);
    if (!store) throw ESslContextException("Error on opening store");
    for (int i = 0; i < SslStackCount(Stack); ++i) {
        X509* dup = ossl::X509_dup(SslStackItem<X509>(Stack, i));
        if (ossl::X509_STORE_add_cert(store, dup) != 1) ossl::ERR_clear_error();  // a duplicate, say
        ossl::X509_free(dup);
    }
}

void TSslContext::LoadVerifyLocations() {
    RequireCtx();
    if (!caFile_.empty() && !FileExists(caFile_)) throw ESslContextException("File not found " + Quoted(caFile_));
    if (!caPath_.empty() && !FolderExists(caPath_))
        throw ESslContextException("Directory not found " + Quoted(caPath_));
    if (caFile_.empty() && caPath_.empty()) return;
    const std::string f = InetToUtf8(caFile_), p = InetToUtf8(caPath_);
    if (ossl::SSL_CTX_load_verify_locations(ctx_, f.empty() ? nullptr : f.c_str(), p.empty() ? nullptr : p.c_str()) != 1)
        RaiseOpenSslErrors<ESslContextException>("Can't read CA File " + Quoted(caFile_) + " or " + "CA Path " +
                                                 Quoted(caPath_));
}

void TSslContext::LoadCALines() {
    RequireCtx();
    STACK_OF(X509)* certs = nullptr;
    STACK_OF(X509_CRL)* crls = nullptr;
    std::string errors;
    SslReadPemObjects(caLines_.Text(), false, certs, crls, errors);
    struct Free {
        STACK_OF(X509) * s;
        ~Free() { SslFreeX509Stack(s); }
    } guard{certs};
    if (!errors.empty() && errors != "No PEM Content Found")
        throw ESslContextException("Reading list of PEM certificates: " + errors);
    if (!certs) throw ESslContextException("Error on reading CA certificate lines");
    AddStackToStore(certs);
}

void TSslContext::LoadCRLFile(const std::string& FileName) {
    RequireCtx();
    if (!FileExists(FileName)) throw ESslContextException("CRL file not found " + Quoted(FileName));
    STACK_OF(X509)* certs = nullptr;
    STACK_OF(X509_CRL)* crls = nullptr;
    std::string errors;
    SslReadPemObjects(ReadFileText(FileName), true, certs, crls, errors);
    SslFreeX509Stack(certs);
    struct Free {
        STACK_OF(X509_CRL) * s;
        ~Free() {
            if (!s) return;
            for (int i = 0; i < SslStackCount(s); ++i) ossl::X509_CRL_free(SslStackItem<X509_CRL>(s, i));
            ossl::OPENSSL_sk_free(reinterpret_cast<OPENSSL_STACK*>(s));
        }
    } guard{crls};
    if (!errors.empty() && !crls)
        throw ESslContextException("Reading file of PEM certificates: " + errors + ", from: " + FileName);
    if (!crls) throw ESslContextException("Error on reading CRL file " + Quoted(FileName));
    X509_STORE* store = ossl::SSL_CTX_get_cert_store(ctx_);
    if (!store) throw ESslContextException("Error on opening store");
    for (int i = 0; i < SslStackCount(crls); ++i)
        if (ossl::X509_STORE_add_crl(store, SslStackItem<X509_CRL>(crls, i)) != 1) ossl::ERR_clear_error();
}

void TSslContext::LoadCRLPath(const std::string& Path) {
    RequireCtx();
    if (!FolderExists(Path)) throw ESslContextException("CRL directory not found " + Quoted(Path));
    const std::string folder = framework::IncludeTrailingPathDelimiter(Path);
    WIN32_FIND_DATAA fd;
    std::vector<std::string> files;
    {
        const framework::UniqueFindHandle find(FindFirstFileA(InetLongPath(folder + "*.*").c_str(), &fd));
        if (!find) return;
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(folder + fd.cFileName);
        } while (FindNextFileA(find.get(), &fd));
    }
    for (const std::string& f : files) LoadCRLFile(f);
}

void TSslContext::LoadDHParamFile(const std::string& FileName) {
    RequireCtx();
    if (SslVersionMethod <= sslV2_SERVER) return;
    if (!FileExists(FileName)) throw ESslContextException("File not found " + Quoted(FileName));
    BIO* b = SslOpenFileBio(FileName, "rb");
    BioGuard g{b};
    if (SetDHParams(b, "Error reading DHparam file " + Quoted(FileName)) != 1)
        throw ESslContextException("Can't load DHParam file " + Quoted(FileName));
}

void TSslContext::LoadDHParamText(const std::string& Text) {
    RequireCtx();
    if (SslVersionMethod <= sslV2_SERVER) return;
    if (Text.find("-----BEGIN ") == std::string::npos || Text.find("-----END ") == std::string::npos)
        throw EX509Exception("Expected a Base64 encoded DH params");
    BIO* b = MemBio(Text);
    if (!b) throw EX509Exception("Failed to read encoded DH params");
    BioGuard g{b};
    if (SetDHParams(b, "Error reading DHparams") != 1) throw ESslContextException("Can't load DHParamss");
}

long TSslContext::SetDHParams(BIO* Bio, const std::string& ReadError) {
    // The DH calls are deprecated in 3.x (and absent from a build without them): then the
    // parameters are read as a key and handed over whole.
    if (ossl::PEM_read_bio_DHparams && ossl::DH_free) {
        DH* dh = ossl::PEM_read_bio_DHparams(Bio, nullptr, nullptr, nullptr);
        if (!dh) RaiseOpenSslErrors<EX509Exception>(ReadError);
        const long r = SslCtxSetTmpDh(ctx_, dh);
        ossl::DH_free(dh);
        return r;
    }
    if (!ossl::PEM_read_bio_Parameters || !ossl::SSL_CTX_set0_tmp_dh_pkey)
        throw ESslContextException(ReadError + " - this OpenSSL reads no DH parameters");
    EVP_PKEY* key = ossl::PEM_read_bio_Parameters(Bio, nullptr);
    if (!key) RaiseOpenSslErrors<EX509Exception>(ReadError);
    if (ossl::SSL_CTX_set0_tmp_dh_pkey(ctx_, key) != 1) {
        ossl::EVP_PKEY_free(key);  // ownership passes only on success
        return 0;
    }
    return 1;
}

void TSslContext::LoadEngineKey() {
    RequireCtx();
    if (!ctxEngine_ || ctxEngine_->KeyID.empty()) throw ESslContextException("Engine and KeyID may not be empty");
    if (ctxEngine_->State() != 2 && !ctxEngine_->Init()) throw ESslContextException(ctxEngine_->LastErrorMsg);
    if (!uiMethod_) {
        uiMethod_ = ossl::UI_create_method("INET WIN32 UI");
        ossl::UI_method_set_reader(uiMethod_, UiReader);
    }
    UiContext = this;
    EVP_PKEY* key = ossl::ENGINE_load_private_key(ctxEngine_->Engine(), ctxEngine_->KeyID.c_str(), uiMethod_, this);
    UiContext = nullptr;
    if (!key) RaiseOpenSslErrors<ESslContextException>("Can't load private key from Engine");
    const int r = ossl::SSL_CTX_use_PrivateKey(ctx_, key);
    ossl::EVP_PKEY_free(key);
    if (r != 1) RaiseOpenSslErrors<ESslContextException>("Can't use private key");
}

int TSslContext::LoadWindowsRootStore() {
    Locked l(this);
    RequireCtx();
    X509_STORE* store = ossl::SSL_CTX_get_cert_store(ctx_);
    if (!store) throw ESslContextException("Error on opening store");
    return InetAddWindowsRootCerts(store);
}

namespace {
// Only the four-part dotted form is an IPv4 literal to OpenSSL; "127.1" or "1234" are names.
bool IsDottedQuad(const std::string& Host) {
    int parts = 0;
    size_t i = 0;
    while (i <= Host.size()) {
        size_t e = Host.find('.', i);
        if (e == std::string::npos) e = Host.size();
        const std::string part = Host.substr(i, e - i);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(part) > 255)
            return false;
        ++parts;
        i = e + 1;
    }
    return parts == 4;
}
}  // namespace

void TSslContext::PrepareClientSsl(SSL* Ssl, const std::string& HostName) {
    Locked l(this);
    if (HostName.empty()) {
        ossl::X509_VERIFY_PARAM_set1_host(ossl::SSL_get0_param(Ssl), nullptr, 0);
        return;
    }
    std::string host = HostName;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    X509_VERIFY_PARAM* param = ossl::SSL_get0_param(Ssl);
    // An address literal is checked against the address entries and sent without SNI.
    const bool isAddress = host.find(':') != std::string::npos || IsDottedQuad(host);
    if (isAddress) {
        if (hostFlagBits_ == -1) return;
        ossl::X509_VERIFY_PARAM_set_flags(param, verifyFlagBits_);
        ossl::X509_VERIFY_PARAM_set_depth(param, SslVerifyDepth);
        if (ossl::X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1)
            RaiseOpenSslErrors<EOpenSslError>("Unable to set host varify param");
        return;
    }
    const std::string ascii = InetHostToAscii(InetAnsiToWide(host));
    if (SslSetTlsextHostName(Ssl, ascii.c_str()) != 1)
        RaiseOpenSslErrors<EOpenSslError>("Unable to set TLS servername extension");
    if (hostFlagBits_ == -1) return;
    ossl::X509_VERIFY_PARAM_set_flags(param, verifyFlagBits_);
    ossl::X509_VERIFY_PARAM_set_depth(param, SslVerifyDepth);
    ossl::X509_VERIFY_PARAM_set_hostflags(param, static_cast<unsigned>(hostFlagBits_));
    if (ossl::X509_VERIFY_PARAM_set1_host(param, ascii.c_str(), ascii.size()) != 1)
        RaiseOpenSslErrors<EOpenSslError>("Unable to set host varify param");
}
