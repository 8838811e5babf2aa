// OpenSSL at run time, libcrypto side: finds and loads libcrypto (3.x, else 1.1.1), binds its
// exports by name into the function variables of namespace ossl, loads OpenSSL 3 providers,
// counts the TLS components that need the libraries, and offers the small routines every TLS
// unit uses (error texts, version text, digests, ASN.1 times and strings, cipher objects).
//
// Nothing links libcrypto: OpenSSL's headers give only types and constants, and each function
// is reached as ossl::Name, null until bound. The variables of a function that OpenSSL 3
// renamed carry the new name and are bound from whichever name the loaded version exports.
//
// DLLs come from OpenSslDllFolder, or, when that is empty, from the folder of the executable:
// never from the system's search order, so a planted DLL in the current folder or on the
// PATH is not picked up.
#pragma once

#ifndef OPENSSL_SUPPRESS_DEPRECATED
#define OPENSSL_SUPPRESS_DEPRECATED
#endif

#include <windows.h>

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/dh.h>
#include <openssl/ec.h>
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/ocsp.h>
#include <openssl/param_build.h>
#include <openssl/params.h>
#include <openssl/pem.h>
#include <openssl/provider.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/ui.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <string>

#include "framework/Exception.h"
#include "net/InetOpenSslNames.h"
#include "net/InetUtils.h"

class EInetLibeayException : public framework::Exception {
    using framework::Exception::Exception;
};
class EInetSsleayException : public framework::Exception {
    using framework::Exception::Exception;
};
class EDigestException : public framework::Exception {
    using framework::Exception::Exception;
};

// ---- The bound functions ----------------------------------------------------------------------

namespace ossl {
#define VA_OSSL_DECLARE(name) extern decltype(&::name) name;
#define VA_OSSL_DECLARE_RENAMED(old, name) extern decltype(&::name) name;
VA_CRYPTO_REQUIRED(VA_OSSL_DECLARE)
VA_CRYPTO_OPTIONAL(VA_OSSL_DECLARE)
VA_CRYPTO_EXTRA(VA_OSSL_DECLARE)
VA_CRYPTO_FROM_111(VA_OSSL_DECLARE)
VA_CRYPTO_RENAMED(VA_OSSL_DECLARE_RENAMED)
VA_CRYPTO_V3_REQUIRED(VA_OSSL_DECLARE)
VA_CRYPTO_V3_OPTIONAL(VA_OSSL_DECLARE)
extern decltype(&::OpenSSL_version_num) OpenSSL_version_num;
}  // namespace ossl

// ---- Import tables ----------------------------------------------------------------------------

// One export to bind: the variable, its name, the versions it applies to (inclusive,
// unsigned) and whether the library is usable without it.
struct TOpenSslImport {
    void** Proc;
    const char* Name;
    uint32_t MinVersion;
    uint32_t MaxVersion;
    bool Optional;
};

// Version bounds of the import tables (OpenSSL_version_num values) and the entry makers the
// libcrypto and libssl tables share.
namespace openssl_versions {
constexpr uint32_t Any = 0x0000000F;
constexpr uint32_t Last = 0xFFFFFFFF;
constexpr uint32_t Last11 = 0x10101FFF;
constexpr uint32_t Last2 = 0x2FFFFFFF;
constexpr uint32_t First3 = 0x30000000;
}  // namespace openssl_versions

#define VA_ENTRY(name, lo, hi, opt) {reinterpret_cast<void**>(&ossl::name), #name, lo, hi, opt},
#define VA_REQ(name) VA_ENTRY(name, openssl_versions::Any, openssl_versions::Last, false)
#define VA_OPT(name) VA_ENTRY(name, openssl_versions::Any, openssl_versions::Last, true)
#define VA_OPT111(name) VA_ENTRY(name, OpenSslMinVersion, openssl_versions::Last, true)
#define VA_REQ3(name) VA_ENTRY(name, openssl_versions::First3, openssl_versions::Last, false)
#define VA_OPT3(name) VA_ENTRY(name, openssl_versions::First3, openssl_versions::Last, true)
// The old name binds on 1.1.x, the new one on 3.x, both into the variable of the new name.
#define VA_RENAMED(old, name)                                                                              \
    {reinterpret_cast<void**>(&ossl::name), #old, openssl_versions::Any, openssl_versions::Last11, false}, \
        {reinterpret_cast<void**>(&ossl::name), #name, openssl_versions::First3, openssl_versions::Last, false},

// Binds the entries 0..HighIndex whose range holds OpenSslVersionNumber; entries outside it
// are left alone. Missing lists the required names not found, MissingOptional the others,
// each name followed by ","; both empty when all were found. An empty table (HighIndex -1)
// gives Missing "No import list specified". Binding never stops early.
void InetBindImportTable(HMODULE Handle, const TOpenSslImport* Table, int HighIndex,
                         std::string& Missing, std::string& MissingOptional);

// ---- Process-wide state -----------------------------------------------------------------------

extern HMODULE LibCryptoHandle;
extern HMODULE LibSslHandle;
extern std::string LibCryptoPath;       // "*NOT LOADED*" until a load
extern std::string LibSslPath;          // "*NOT_LOADED*" until a load
extern std::string OpenSslDllFolder;    // a trailing "\" is added when missing; empty = the executable's folder
// 0 never loaded, 999 a load failed (also while loading), else OpenSSL_version_num().
extern uint32_t OpenSslVersionNumber;
extern int32_t OpenSslMajor, OpenSslMinor, OpenSslPatch;
extern std::string OpenSslPreRelease;
extern bool OpenSslCheckSignature;
extern bool OpenSslSignatureStrict;
extern bool OpenSslSkipVersion3;
extern bool OpenSslPreferVersion3;
extern bool OpenSslLoadLegacyProvider;
extern bool OpenSslLegacyAvailable, OpenSslFipsAvailable;
extern OSSL_PROVIDER* OpenSslDefaultProvider;
extern OSSL_PROVIDER* OpenSslLegacyProvider;
extern OSSL_PROVIDER* OpenSslFipsProvider;
extern int32_t OpenSslAcmeNid;
extern std::string LibSslFileVersion, LibSslFileDescription;
extern int32_t OpenSslRefCount;
// Optional exports the loaded libraries lack, "," after each (libcrypto then libssl).
extern std::string OpenSslMissingOptional;

constexpr uint32_t OpenSslMinVersion = 0x1010100F;
constexpr uint32_t OpenSslMaxVersion = 0x3FFFFFFF;

// The DLL names this build tries: 64-bit builds carry "-x64".
extern const char* const LibCryptoName3;
extern const char* const LibCryptoName11;
extern const char* const LibSslName3;
extern const char* const LibSslName11;

// ---- Loading ----------------------------------------------------------------------------------

bool InetLoadLibCrypto();
// Beside the loaded libcrypto; defined with the libssl tables.
bool InetLoadLibSsl();
// Unbinds every libssl variable.
void InetClearSslProcs();
// Unbinds every libcrypto variable.
void InetClearCryptoProcs();
// The loaded libcrypto's folder with a trailing "\" (empty when none is loaded).
std::wstring InetLibCryptoFolderW();
// A file name for the ANSI-only helpers (framework::TryPathForAnsiApi): the name itself when
// the ANSI code page spells it, else with short names where it cannot. Raises
// EInetSsleayException when no ANSI text reaches the file (no short names on its volume).
std::string InetPathForAnsiApi(const std::wstring& Path);
void InetAcquireOpenSsl();
// One more acquisition of an OpenSSL already loaded; false (nothing acquired) when none is.
bool InetTryAcquireOpenSsl();
void InetReleaseOpenSsl();
// Fn runs (under the loader's lock) when the last release is about to unload OpenSSL, while
// its functions are still bound: what a cache holds of OpenSSL's objects goes then.
void InetAtOpenSslUnload(void (*Fn)());
// Raises EInetSsleayException when WinVerifyTrust refuses the DLL.
void InetCheckDllSignature(const std::string& Path);
bool InetLoadProviders(bool Legacy, bool Fips);
// The full file name of a module, however long.
std::string InetModuleFileName(HMODULE Module);

// ---- Errors and texts -------------------------------------------------------------------------

std::string InetOpenSslVersionText();
std::string InetGetOpenSslError();
std::string InetLastOpenSslErrors(bool AllErrors);
std::string InetOpenSslErrorText(unsigned long Code);

template <typename E>
[[noreturn]] void InetRaiseWithOpenSslErrors(bool AllErrors, const std::string& Msg) {
    const std::string errors = InetLastOpenSslErrors(AllErrors);
    if (Msg.empty()) throw E("\r\n" + errors + "\r\n");
    throw E("\r\n" + Msg + "\r\n" + errors + "\r\n");
}

// ---- Digests and ciphers ----------------------------------------------------------------------

enum class TEvpDigest {
    Digest_md5, Digest_mdc2, Digest_sha1, Digest_sha224, Digest_sha256, Digest_sha384,
    Digest_sha512, Digest_ripemd160, Digest_sha3_224, Digest_sha3_256, Digest_sha3_384,
    Digest_sha3_512, Digest_shake128, Digest_shake256, Digest_None
};
const char* InetDigestName(TEvpDigest Digest);
// Null for Digest_None and for a digest the loaded library lacks.
const EVP_MD* InetDigestByType(TEvpDigest Digest);
std::string InetHashDigest(const std::string& Data, TEvpDigest Digest);

// The cipher for a number (low 7 bits): 0 none, 1..21 AES-128/192/256 in CBC, CFB128, ECB,
// OFB, GCM, OCB, CCM, 22..25 Blowfish, 26 ChaCha20, 27..30 3DES, 31..34 IDEA; others none.
const EVP_CIPHER* SslEvpCipherByIndex(int Index);

// ---- ASN.1 ------------------------------------------------------------------------------------

constexpr TDateTime InetMinDateTime = -657434.0;
// UTCTime or GeneralizedTime to a UTC date-time; false (and InetMinDateTime) when it is not
// one of them or does not hold a valid date.
bool InetAsn1TimeToDateTime(const ASN1_TIME* Asn1Time, TDateTime& DateTime);
std::string InetAsn1StringToText(const ASN1_STRING* Asn1String);
TDateTime InetAddHours(TDateTime Date, int Hours);
TDateTime InetAddMinutes(TDateTime Date, int Minutes);
// Big-endian UTF-16 bytes to a wide string (an odd last byte is dropped).
std::wstring InetBmpToWide(const unsigned char* Data, int Len);

// ---- Stacks (the header's sk_ inline functions would link libcrypto) ---------------------------

inline int SslStackCount(const void* Stack) {
    return Stack ? ossl::OPENSSL_sk_num(static_cast<const OPENSSL_STACK*>(Stack)) : 0;
}
template <typename T>
T* SslStackItem(const void* Stack, int Index) {
    return static_cast<T*>(ossl::OPENSSL_sk_value(static_cast<const OPENSSL_STACK*>(Stack), Index));
}
// Frees each certificate and the stack.
void SslFreeX509Stack(STACK_OF(X509) * Stack);
