#include "net/InetSsleay.h"

#include <utility>

#include "framework/Handles.h"

namespace ossl {
#define VA_OSSL_DEFINE(name) decltype(&::name) name = nullptr;
#define VA_OSSL_DEFINE_RENAMED(old, name) decltype(&::name) name = nullptr;
VA_SSL_REQUIRED(VA_OSSL_DEFINE)
VA_SSL_EXTRA(VA_OSSL_DEFINE)
VA_SSL_RENAMED(VA_OSSL_DEFINE_RENAMED)
VA_SSL_OPTIONS(VA_OSSL_DEFINE)
unsigned long (*SSL_CTX_set_options_111)(SSL_CTX*, unsigned long) = nullptr;
unsigned long (*SSL_CTX_get_options_111)(const SSL_CTX*) = nullptr;
unsigned long (*SSL_CTX_clear_options_111)(SSL_CTX*, unsigned long) = nullptr;
unsigned long (*SSL_set_options_111)(SSL*, unsigned long) = nullptr;
unsigned long (*SSL_get_options_111)(const SSL*) = nullptr;
unsigned long (*SSL_clear_options_111)(SSL*, unsigned long) = nullptr;
}  // namespace ossl

namespace {

using namespace openssl_versions;
// The option calls changed their type in 3.x: the 1.1.x one binds into its own variable.
#define VA_OPTIONS(name)                                                                \
    {reinterpret_cast<void**>(&ossl::name##_111), #name, Any, Last2, false},            \
        {reinterpret_cast<void**>(&ossl::name), #name, First3, Last, false},

const TOpenSslImport SslMainTable[] = {
    VA_SSL_REQUIRED(VA_REQ) VA_SSL_RENAMED(VA_RENAMED) VA_SSL_OPTIONS(VA_OPTIONS)
};
const TOpenSslImport SslExtraTable[] = {VA_SSL_EXTRA(VA_OPT)};

bool Is3() { return OpenSslVersionNumber >= First3 && OpenSslVersionNumber != 999; }

}  // namespace

void InetClearSslProcs() {
    for (const auto& e : SslMainTable) *e.Proc = nullptr;
    for (const auto& e : SslExtraTable) *e.Proc = nullptr;
}

bool InetLoadLibSsl() {
    if (LibSslHandle) return true;
    if (OpenSslVersionNumber == 0) throw EInetSsleayException("Must load libcrypto DLL before libssl DLL");
    if (OpenSslVersionNumber == 999) throw EInetSsleayException("Failed to load OpenSSL file " + LibCryptoPath);
    InetClearSslProcs();
    // Wide from the libcrypto's own file name to LoadLibraryW: any folder name loads.
    const std::wstring path = InetLibCryptoFolderW() + InetAnsiToWide(OpenSslVersionNumber < First3 ? LibSslName11 : LibSslName3);
    LibSslPath = InetWideToAnsi(path);
    HMODULE h = LoadLibraryW(path.c_str());
    if (reinterpret_cast<uintptr_t>(h) <= 32) {
        LibSslHandle = nullptr;
        // The libcrypto goes too, and nothing may keep pointing into it.
        const framework::UniqueHModule crypto(std::exchange(LibCryptoHandle, nullptr));
        InetClearCryptoProcs();
        OpenSslVersionNumber = 0;
        throw EInetSsleayException("Failed to load OpenSSL file " + LibSslPath);
    }
    // Held until everything is bound: every failure below lets it go and unbinds the names.
    framework::UniqueHModule held(h);
    try {
        LibSslPath = InetModuleFileName(h);
        LibSslFileVersion.clear();
        LibSslFileDescription.clear();
        InetFileVersionStrings(path, LibSslFileVersion, LibSslFileDescription);
        if (OpenSslCheckSignature) InetCheckDllSignature(InetPathForAnsiApi(path));
        std::string missing, optional;
        InetBindImportTable(h, SslMainTable, static_cast<int>(std::size(SslMainTable)) - 1, missing, optional);
        OpenSslMissingOptional += optional;
        if (missing.empty()) {
            InetBindImportTable(h, SslExtraTable, static_cast<int>(std::size(SslExtraTable)) - 1, missing, optional);
            OpenSslMissingOptional += optional;
        }
        if (!missing.empty()) throw EInetSsleayException("Unable to load " + LibSslPath + ". Can not find: " + missing);
    } catch (...) {
        InetClearSslProcs();
        throw;
    }
    LibSslHandle = held.release();
    return true;
}

// ---- Options ------------------------------------------------------------------------------------

uint64_t SslCtxSetOptions(SSL_CTX* Ctx, uint64_t Options) {
    if (Is3()) return ossl::SSL_CTX_set_options(Ctx, Options);
    return ossl::SSL_CTX_set_options_111(Ctx, static_cast<unsigned long>(Options));
}
uint64_t SslCtxGetOptions(const SSL_CTX* Ctx) {
    if (Is3()) return ossl::SSL_CTX_get_options(Ctx);
    return ossl::SSL_CTX_get_options_111(Ctx);
}
uint64_t SslCtxClearOptions(SSL_CTX* Ctx, uint64_t Options) {
    if (Is3()) return ossl::SSL_CTX_clear_options(Ctx, Options);
    return ossl::SSL_CTX_clear_options_111(Ctx, static_cast<unsigned long>(Options));
}
uint64_t SslSetOptions(SSL* Ssl, uint64_t Options) {
    if (Is3()) return ossl::SSL_set_options(Ssl, Options);
    return ossl::SSL_set_options_111(Ssl, static_cast<unsigned long>(Options));
}
uint64_t SslGetOptions(const SSL* Ssl) {
    if (Is3()) return ossl::SSL_get_options(Ssl);
    return ossl::SSL_get_options_111(Ssl);
}
uint64_t SslClearOptions(SSL* Ssl, uint64_t Options) {
    if (Is3()) return ossl::SSL_clear_options(Ssl, Options);
    return ossl::SSL_clear_options_111(Ssl, static_cast<unsigned long>(Options));
}

// ---- Control wrappers ---------------------------------------------------------------------------

long SslCtxSetSessionCacheMode(SSL_CTX* Ctx, long Mode) {
    return ossl::SSL_CTX_ctrl(Ctx, SSL_CTRL_SET_SESS_CACHE_MODE, Mode, nullptr);
}
long SslCtxSetSessionCacheSize(SSL_CTX* Ctx, long Size) {
    return ossl::SSL_CTX_ctrl(Ctx, SSL_CTRL_SET_SESS_CACHE_SIZE, Size, nullptr);
}
long SslSetTlsextHostName(SSL* Ssl, const char* Name) {
    return ossl::SSL_ctrl(Ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                          const_cast<char*>(Name));
}
long SslCtxSetServerNameCallback(SSL_CTX* Ctx, int (*Callback)(SSL*, int*, void*)) {
    return ossl::SSL_CTX_callback_ctrl(Ctx, SSL_CTRL_SET_TLSEXT_SERVERNAME_CB,
                                       reinterpret_cast<void (*)(void)>(Callback));
}
long SslCtxSetTmpDh(SSL_CTX* Ctx, DH* Dh) { return ossl::SSL_CTX_ctrl(Ctx, SSL_CTRL_SET_TMP_DH, 0, Dh); }
long SslCtxSetMinProtoVersion(SSL_CTX* Ctx, long Version) {
    return ossl::SSL_CTX_ctrl(Ctx, SSL_CTRL_SET_MIN_PROTO_VERSION, Version, nullptr);
}
long SslCtxSetMaxProtoVersion(SSL_CTX* Ctx, long Version) {
    return ossl::SSL_CTX_ctrl(Ctx, SSL_CTRL_SET_MAX_PROTO_VERSION, Version, nullptr);
}
long SslCtxGetMinProtoVersion(SSL_CTX* Ctx) {
    return ossl::SSL_CTX_ctrl(Ctx, SSL_CTRL_GET_MIN_PROTO_VERSION, 0, nullptr);
}
long SslCtxGetMaxProtoVersion(SSL_CTX* Ctx) {
    return ossl::SSL_CTX_ctrl(Ctx, SSL_CTRL_GET_MAX_PROTO_VERSION, 0, nullptr);
}
long SslCtxSetChainCerts(SSL_CTX* Ctx, STACK_OF(X509) * Chain) {
    return ossl::SSL_CTX_ctrl(Ctx, SSL_CTRL_CHAIN, 0, Chain);
}
long SslCtxClearChainCerts(SSL_CTX* Ctx) { return SslCtxSetChainCerts(Ctx, nullptr); }
long SslCtxSetMode(SSL_CTX* Ctx, long Mode) { return ossl::SSL_CTX_ctrl(Ctx, SSL_CTRL_MODE, Mode, nullptr); }
long SslGetOcspResponse(SSL* Ssl, const unsigned char*& Resp) {
    Resp = nullptr;
    return ossl::SSL_ctrl(Ssl, SSL_CTRL_GET_TLSEXT_STATUS_REQ_OCSP_RESP, 0, &Resp);
}
long SslSetOcspResponse(SSL* Ssl, unsigned char* Resp, long Len) {
    return ossl::SSL_ctrl(Ssl, SSL_CTRL_SET_TLSEXT_STATUS_REQ_OCSP_RESP, Len, Resp);
}
long SslCtxSetStatusCallback(SSL_CTX* Ctx, int (*Callback)(SSL*, void*)) {
    return ossl::SSL_CTX_callback_ctrl(Ctx, SSL_CTRL_SET_TLSEXT_STATUS_REQ_CB,
                                       reinterpret_cast<void (*)(void)>(Callback));
}
long SslCtxSetStatusCallbackArg(SSL_CTX* Ctx, void* Arg) {
    return ossl::SSL_CTX_ctrl(Ctx, SSL_CTRL_SET_TLSEXT_STATUS_REQ_CB_ARG, 0, Arg);
}
long SslCtxSetStatusType(SSL_CTX* Ctx, long Type) {
    return ossl::SSL_CTX_ctrl(Ctx, SSL_CTRL_SET_TLSEXT_STATUS_REQ_TYPE, Type, nullptr);
}
long SslSessionReused(SSL* Ssl) { return ossl::SSL_session_reused(Ssl); }
int SslBioShouldRetry(BIO* Bio) { return ossl::BIO_test_flags(Bio, ~0) & BIO_FLAGS_SHOULD_RETRY; }
void* SslUiGetAppData(UI* Ui) { return ossl::UI_get_ex_data ? ossl::UI_get_ex_data(Ui, 0) : nullptr; }
EVP_PKEY* SslEvpPkeyDup(EVP_PKEY* Key) {
    if (Key) ossl::EVP_PKEY_up_ref(Key);
    return Key;
}
void SslCryptoFree(void* P) { ossl::CRYPTO_free(P, nullptr, 0); }
