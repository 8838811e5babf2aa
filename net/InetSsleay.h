// OpenSSL at run time, libssl side: the libssl function variables, their import tables, and
// thin wrappers for OpenSSL's control macros (each one SSL_CTX_ctrl, SSL_ctrl or
// SSL_CTX_callback_ctrl call with the header's command number; they return what OpenSSL
// returns). libssl is always loaded from the folder of the loaded libcrypto.
#pragma once

#include "net/InetLibeay.h"

#include <openssl/ssl.h>
#include <openssl/tls1.h>

namespace ossl {
VA_SSL_REQUIRED(VA_OSSL_DECLARE)
VA_SSL_EXTRA(VA_OSSL_DECLARE)
VA_SSL_RENAMED(VA_OSSL_DECLARE_RENAMED)
VA_SSL_OPTIONS(VA_OSSL_DECLARE)
// The 1.1.x forms of the option calls: unsigned long is 32 bits on Win64.
extern unsigned long (*SSL_CTX_set_options_111)(SSL_CTX*, unsigned long);
extern unsigned long (*SSL_CTX_get_options_111)(const SSL_CTX*);
extern unsigned long (*SSL_CTX_clear_options_111)(SSL_CTX*, unsigned long);
extern unsigned long (*SSL_set_options_111)(SSL*, unsigned long);
extern unsigned long (*SSL_get_options_111)(const SSL*);
extern unsigned long (*SSL_clear_options_111)(SSL*, unsigned long);
}  // namespace ossl

// The option calls of whichever version is loaded.
uint64_t SslCtxSetOptions(SSL_CTX* Ctx, uint64_t Options);
uint64_t SslCtxGetOptions(const SSL_CTX* Ctx);
uint64_t SslCtxClearOptions(SSL_CTX* Ctx, uint64_t Options);
uint64_t SslSetOptions(SSL* Ssl, uint64_t Options);
uint64_t SslGetOptions(const SSL* Ssl);
uint64_t SslClearOptions(SSL* Ssl, uint64_t Options);

long SslCtxSetSessionCacheMode(SSL_CTX* Ctx, long Mode);
long SslCtxSetSessionCacheSize(SSL_CTX* Ctx, long Size);
long SslSetTlsextHostName(SSL* Ssl, const char* Name);
long SslCtxSetServerNameCallback(SSL_CTX* Ctx, int (*Callback)(SSL*, int*, void*));
long SslCtxSetTmpDh(SSL_CTX* Ctx, DH* Dh);
long SslCtxSetMinProtoVersion(SSL_CTX* Ctx, long Version);
long SslCtxSetMaxProtoVersion(SSL_CTX* Ctx, long Version);
long SslCtxGetMinProtoVersion(SSL_CTX* Ctx);
long SslCtxGetMaxProtoVersion(SSL_CTX* Ctx);
// Takes over Chain (the set0 form); nil clears the chain.
long SslCtxSetChainCerts(SSL_CTX* Ctx, STACK_OF(X509) * Chain);
long SslCtxClearChainCerts(SSL_CTX* Ctx);
long SslCtxSetMode(SSL_CTX* Ctx, long Mode);
long SslGetOcspResponse(SSL* Ssl, const unsigned char*& Resp);
long SslSetOcspResponse(SSL* Ssl, unsigned char* Resp, long Len);
long SslCtxSetStatusCallback(SSL_CTX* Ctx, int (*Callback)(SSL*, void*));
long SslCtxSetStatusCallbackArg(SSL_CTX* Ctx, void* Arg);
long SslCtxSetStatusType(SSL_CTX* Ctx, long Type);
// 1 when the handshake resumed an earlier session (asks SSL_session_reused).
long SslSessionReused(SSL* Ssl);
int SslBioShouldRetry(BIO* Bio);
void* SslUiGetAppData(UI* Ui);
EVP_PKEY* SslEvpPkeyDup(EVP_PKEY* Key);
inline unsigned long SslErrGetReason(unsigned long Code) { return Code & 0xFFF; }
void SslCryptoFree(void* P);
template <typename F>
auto SslCallMethodFunc(F Func) {
    return Func();
}
