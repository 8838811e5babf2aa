/* A stand-in for libcrypto or libssl that the loader tests build in several shapes: it
 * reports STUB_VERSION and exports, as do-nothing functions, the names its flags ask for. */
#include "net/InetOpenSslNames.h"

#define STUB_EXPORT __declspec(dllexport)
#define STUB(name) STUB_EXPORT void* name(void) { return 0; }
#define STUB_OLD(old, name) STUB(old)
#define STUB_NEW(old, name) STUB(name)

#ifdef STUB_CRYPTO
STUB_EXPORT unsigned long OpenSSL_version_num(void) { return STUB_VERSION; }
#endif

#ifdef STUB_CRYPTO_REQUIRED
VA_CRYPTO_REQUIRED(STUB)
VA_CRYPTO_RENAMED(STUB_OLD)
#endif

#ifdef STUB_SSL_REQUIRED
VA_SSL_REQUIRED(STUB)
VA_SSL_RENAMED(STUB_OLD)
VA_SSL_OPTIONS(STUB)
#endif

/* A 3.x shape: the names that only 3.x has, and the new spellings of renamed ones. */
#if defined(STUB_V3) && defined(STUB_CRYPTO_REQUIRED)
VA_CRYPTO_V3_REQUIRED(STUB)
VA_CRYPTO_RENAMED(STUB_NEW)
#endif
#if defined(STUB_V3) && defined(STUB_SSL_REQUIRED)
VA_SSL_RENAMED(STUB_NEW)
#endif
