#include "net/InetLibeay.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "framework/Handles.h"
#include "framework/SysUtils.h"
#include "net/InetSsleay.h"

namespace ossl {
#define VA_OSSL_DEFINE(name) decltype(&::name) name = nullptr;
#define VA_OSSL_DEFINE_RENAMED(old, name) decltype(&::name) name = nullptr;
VA_CRYPTO_REQUIRED(VA_OSSL_DEFINE)
VA_CRYPTO_OPTIONAL(VA_OSSL_DEFINE)
VA_CRYPTO_EXTRA(VA_OSSL_DEFINE)
VA_CRYPTO_FROM_111(VA_OSSL_DEFINE)
VA_CRYPTO_RENAMED(VA_OSSL_DEFINE_RENAMED)
VA_CRYPTO_V3_REQUIRED(VA_OSSL_DEFINE)
VA_CRYPTO_V3_OPTIONAL(VA_OSSL_DEFINE)
decltype(&::OpenSSL_version_num) OpenSSL_version_num = nullptr;
}  // namespace ossl

HMODULE LibCryptoHandle = nullptr;
HMODULE LibSslHandle = nullptr;
std::string LibCryptoPath = "*NOT LOADED*";
std::string LibSslPath = "*NOT_LOADED*";
std::string OpenSslDllFolder;
uint32_t OpenSslVersionNumber = 0;
int32_t OpenSslMajor = 0, OpenSslMinor = 0, OpenSslPatch = 0;
std::string OpenSslPreRelease;
bool OpenSslCheckSignature = false;
bool OpenSslSignatureStrict = false;
bool OpenSslSkipVersion3 = false;
bool OpenSslPreferVersion3 = false;
bool OpenSslLoadLegacyProvider = false;
bool OpenSslLegacyAvailable = false, OpenSslFipsAvailable = false;
OSSL_PROVIDER* OpenSslDefaultProvider = nullptr;
OSSL_PROVIDER* OpenSslLegacyProvider = nullptr;
OSSL_PROVIDER* OpenSslFipsProvider = nullptr;
int32_t OpenSslAcmeNid = 0;
std::string LibSslFileVersion, LibSslFileDescription;
int32_t OpenSslRefCount = 0;
std::string OpenSslMissingOptional;

#ifdef _WIN64
const char* const LibCryptoName3 = "libcrypto-3-x64.dll";
const char* const LibCryptoName11 = "libcrypto-1_1-x64.dll";
const char* const LibSslName3 = "libssl-3-x64.dll";
const char* const LibSslName11 = "libssl-1_1-x64.dll";
#else
const char* const LibCryptoName3 = "libcrypto-3.dll";
const char* const LibCryptoName11 = "libcrypto-1_1.dll";
const char* const LibSslName3 = "libssl-3.dll";
const char* const LibSslName11 = "libssl-1_1.dll";
#endif

namespace {

TInetCriticalSection OpenSslLoaderLock;

const TOpenSslImport CryptoMainTable[] = {
    VA_CRYPTO_REQUIRED(VA_REQ) VA_CRYPTO_OPTIONAL(VA_OPT) VA_CRYPTO_FROM_111(VA_OPT111)
    VA_CRYPTO_RENAMED(VA_RENAMED) VA_CRYPTO_V3_REQUIRED(VA_REQ3) VA_CRYPTO_V3_OPTIONAL(VA_OPT3)
};
const TOpenSslImport CryptoExtraTable[] = {VA_CRYPTO_EXTRA(VA_OPT)};

template <size_t N>
int HighIndex(const TOpenSslImport (&)[N]) {
    return static_cast<int>(N) - 1;
}

bool UsableHandle(HMODULE h) { return reinterpret_cast<uintptr_t>(h) > 32; }

std::string Hex8(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", v);
    return buf;
}

std::wstring ModuleFileNameW(HMODULE Module) {
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(Module, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return std::wstring();
        if (n < buf.size() || buf.size() >= 32768 * 2) return std::wstring(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
}

std::wstring FolderOf(const std::wstring& Path) {
    const size_t slash = Path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : Path.substr(0, slash + 1);
}

// The folder the DLLs come from: the configured one, else the program's own. Kept wide all
// the way to LoadLibraryW: a folder outside the ANSI code page must still load.
std::wstring DllFolder() {
    if (OpenSslDllFolder.empty()) return FolderOf(ModuleFileNameW(nullptr));
    std::wstring f = InetAnsiToWide(OpenSslDllFolder);
    if (!f.empty() && f.back() != L'\\' && f.back() != L'/') f += L'\\';
    return f;
}

std::wstring Widen(const char* Ascii) { return std::wstring(Ascii, Ascii + std::strlen(Ascii)); }

void ClearCryptoProcs() {
    for (const auto& e : CryptoMainTable) *e.Proc = nullptr;
    for (const auto& e : CryptoExtraTable) *e.Proc = nullptr;
    ossl::OpenSSL_version_num = nullptr;
}

void ReevaluateProviders() {
    OpenSslLegacyAvailable = ossl::OSSL_PROVIDER_available &&
                             ossl::OSSL_PROVIDER_available(nullptr, "legacy") == 1;
    OpenSslFipsAvailable = ossl::OSSL_PROVIDER_available &&
                           ossl::OSSL_PROVIDER_available(nullptr, "fips") == 1;
}

}  // namespace

std::string InetModuleFileName(HMODULE Module) {
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(Module, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return std::string();
        if (n < buf.size()) return InetWideToAnsi(std::wstring(buf.data(), n));
        if (buf.size() >= 32768 * 2) return InetWideToAnsi(std::wstring(buf.data(), n));
        buf.resize(buf.size() * 2);
    }
}

void InetBindImportTable(HMODULE Handle, const TOpenSslImport* Table, int HighIndex,
                         std::string& Missing, std::string& MissingOptional) {
    Missing.clear();
    MissingOptional.clear();
    if (HighIndex < 0 || !Table) {
        Missing = "No import list specified";
        return;
    }
    for (int i = 0; i <= HighIndex; ++i) {
        const TOpenSslImport& e = Table[i];
        if (OpenSslVersionNumber < e.MinVersion || OpenSslVersionNumber > e.MaxVersion) continue;
        *e.Proc = reinterpret_cast<void*>(GetProcAddress(Handle, e.Name));
        if (!*e.Proc) (e.Optional ? MissingOptional : Missing) += std::string(e.Name) + ",";
    }
}

void InetClearCryptoProcs() { ClearCryptoProcs(); }

std::string InetPathForAnsiApi(const std::wstring& Path) {
    std::string text;
    if (!framework::TryPathForAnsiApi(Path, text))
        throw EInetSsleayException("Failed to load " + text +
                                   " - the ANSI code page cannot spell its path, and its volume has no short names");
    return text;
}

std::wstring InetLibCryptoFolderW() { return LibCryptoHandle ? FolderOf(ModuleFileNameW(LibCryptoHandle)) : std::wstring(); }

bool InetLoadLibCrypto() {
    if (LibCryptoHandle) return true;
    OpenSslVersionNumber = 999;
    OpenSslMissingOptional.clear();
    // Nothing of an earlier load (perhaps of the other version) may stay bound.
    ClearCryptoProcs();
    if (OpenSslSkipVersion3 && OpenSslPreferVersion3) {
        OpenSslSkipVersion3 = false;
        OpenSslPreferVersion3 = false;
    }
    const std::wstring folder = DllFolder();
    // Engines and providers loaded by name come from the DLLs' own folder, never from the
    // built-in ENGINESDIR/MODULESDIR (OpenSSL reads these variables when it loads one).
    {
        std::wstring dir = folder;
        if (!dir.empty()) dir.pop_back();
        _wputenv_s(L"OPENSSL_ENGINES", dir.c_str());
        _wputenv_s(L"OPENSSL_MODULES", dir.c_str());
    }
    // Held until everything is bound: any failure on the way lets it go.
    framework::UniqueHModule lib;
    auto tryLoad = [&](const char* Name, int Major) {
        const std::wstring path = folder + Widen(Name);
        LibCryptoPath = InetWideToAnsi(path);
        OpenSslMajor = Major;
        HMODULE h = LoadLibraryW(path.c_str());
        lib.reset(UsableHandle(h) ? h : nullptr);
    };
    if (!OpenSslSkipVersion3) tryLoad(LibCryptoName3, 3);
    if (!lib) tryLoad(LibCryptoName11, 1);
    // The one way out of a failed load: the library goes (its owner) and nothing stays bound.
    auto fail = [&](auto Exception) {
        ClearCryptoProcs();
        OpenSslVersionNumber = 999;
        OpenSslMajor = 0;
        throw Exception;
    };
    if (!lib) fail(EInetLibeayException("Failed to load OpenSSL file " + LibCryptoPath));
    ossl::OpenSSL_version_num =
        reinterpret_cast<decltype(ossl::OpenSSL_version_num)>(reinterpret_cast<void*>(
            GetProcAddress(lib.get(), "OpenSSL_version_num")));
    if (!ossl::OpenSSL_version_num) fail(EInetLibeayException("Failed to load OpenSSL file " + LibCryptoPath));
    LibCryptoPath = InetWideToAnsi(ModuleFileNameW(lib.get()));
    const uint32_t v = static_cast<uint32_t>(ossl::OpenSSL_version_num());
    if (v < OpenSslMinVersion || v > OpenSslMaxVersion)
        fail(EInetLibeayException("Unsupported OpenSSL version (0x" + Hex8(v) + ") !\r\n" +
                                  "Supported versions are 0x" + Hex8(OpenSslMinVersion) + " - 0x" +
                                  Hex8(OpenSslMaxVersion) + "\r\n" + "FileName: " + LibCryptoPath));
    OpenSslVersionNumber = v;
    if (OpenSslCheckSignature) {
        // A refused DLL must not stay loaded, or the next load would take it unchecked.
        try {
            InetCheckDllSignature(InetPathForAnsiApi(ModuleFileNameW(lib.get())));
        } catch (const EInetSsleayException& e) {
            fail(e);
        }
    }
    std::string missing, optional;
    InetBindImportTable(lib.get(), CryptoMainTable, HighIndex(CryptoMainTable), missing, optional);
    OpenSslMissingOptional += optional;
    if (missing.empty()) {
        InetBindImportTable(lib.get(), CryptoExtraTable, HighIndex(CryptoExtraTable), missing, optional);
        OpenSslMissingOptional += optional;
    }
    // A library that lacks what the TLS code calls is of no use: let it go, so that a later
    // attempt (another folder, a fixed install) can load afresh.
    if (!missing.empty()) fail(EInetSsleayException("Unable to load " + LibCryptoPath + ". Can not find: " + missing));
    LibCryptoHandle = lib.release();
    // No configuration file is read behind the program's back: the built-in OPENSSLDIR (and
    // OPENSSL_CONF) may name a folder any local user can create. This first initialisation
    // decides it for the life of the library.
    ossl::OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
    ossl::ERR_clear_error();

    if (OpenSslMajor < 3) {
        OpenSslMinor = 1;
        OpenSslPatch = 0;
        OpenSslPreRelease.clear();
    } else {
        OpenSslMajor = static_cast<int32_t>(ossl::OPENSSL_version_major());
        OpenSslMinor = static_cast<int32_t>(ossl::OPENSSL_version_minor());
        OpenSslPatch = static_cast<int32_t>(ossl::OPENSSL_version_patch());
        const char* pre = ossl::OPENSSL_version_pre_release();
        OpenSslPreRelease = pre ? pre : "";
    }
    if (OpenSslMajor >= 3) {
        if (OpenSslLoadLegacyProvider) InetLoadProviders(true, false);
        ReevaluateProviders();
    }
    if (OpenSslAcmeNid == 0)
        OpenSslAcmeNid = ossl::OBJ_create("1.3.6.1.5.5.7.1.31", "acmeIdentifier", "X509v3 ACME Identifier");
    return true;
}

void InetCheckDllSignature(const std::string& Path) {
    std::string text;
    const LONG r = InetVerifyTrust(Path, !OpenSslSignatureStrict, false, text);
    bool refuse = false;
    switch (static_cast<uint32_t>(r)) {
    case 0x800B0004:  // TRUST_E_SUBJECT_NOT_TRUSTED
    case 0x80096010:  // TRUST_E_BAD_DIGEST
    case 0x800B0100:  // TRUST_E_NOSIGNATURE
    case 0x800B0111:  // TRUST_E_EXPLICIT_DISTRUST
        refuse = true;
        break;
    case 0x800B0109:  // CERT_E_UNTRUSTEDROOT
    case 0x800B010A:  // CERT_E_CHAINING
    case 0x800B010D:  // CERT_E_UNTRUSTEDTESTROOT
        refuse = OpenSslSignatureStrict;
        break;
    default:
        break;
    }
    if (refuse) throw EInetSsleayException("Failed to load " + Path + " - " + text);
}

bool InetLoadProviders(bool Legacy, bool Fips) {
    if ((!Legacy && !Fips) || OpenSslMajor < 3 || !ossl::OSSL_PROVIDER_load) return false;
    // OpenSSL takes file names in UTF-8; the providers come from the libcrypto's folder only.
    std::wstring folderW = InetLibCryptoFolderW();
    if (!folderW.empty()) folderW.pop_back();
    const std::string folder = InetWideToAnsi(folderW, CP_UTF8);
    ossl::OSSL_PROVIDER_set_default_search_path(nullptr, folder.c_str());
    bool result;
    if (Legacy) {
        if (!OpenSslDefaultProvider) OpenSslDefaultProvider = ossl::OSSL_PROVIDER_load(nullptr, "default");
        if (!OpenSslDefaultProvider)
            throw EInetSsleayException("Unable to load OpenSSL default module: " + InetGetOpenSslError());
        if (!OpenSslLegacyProvider) OpenSslLegacyProvider = ossl::OSSL_PROVIDER_load(nullptr, "legacy");
        result = OpenSslLegacyProvider != nullptr;
    } else {
        if (!OpenSslFipsProvider) OpenSslFipsProvider = ossl::OSSL_PROVIDER_load(nullptr, "fips");
        result = OpenSslFipsProvider != nullptr;
    }
    ReevaluateProviders();
    return result;
}

namespace {
std::vector<void (*)()>& UnloadHandlers() {
    static std::vector<void (*)()> handlers;
    return handlers;
}
}  // namespace

void InetAtOpenSslUnload(void (*Fn)()) {
    TInetLock lock(OpenSslLoaderLock);
    auto& handlers = UnloadHandlers();
    if (std::find(handlers.begin(), handlers.end(), Fn) == handlers.end()) handlers.push_back(Fn);
}

namespace {
// Lets both libraries go, libssl first, and leaves no variable pointing into either.
void UnloadLibraries() {
    {
        const framework::UniqueHModule crypto(std::exchange(LibCryptoHandle, nullptr));
        const framework::UniqueHModule ssl(std::exchange(LibSslHandle, nullptr));
    }
    ClearCryptoProcs();
    InetClearSslProcs();
}
}  // namespace

void InetAcquireOpenSsl() {
    TInetLock lock(OpenSslLoaderLock);
    if (OpenSslRefCount == 0) {
        try {
            InetLoadLibCrypto();
            InetLoadLibSsl();
        } catch (...) {
            // Half a load is no load.
            UnloadLibraries();
            throw;
        }
        try {
            DWORD tick = GetTickCount();
            ossl::RAND_seed(&tick, sizeof tick);
            if (OpenSslMajor == 1 && ossl::ENGINE_load_builtin_engines) ossl::ENGINE_load_builtin_engines();
        } catch (...) {
            throw EInetSsleayException("Unable to initialise OpenSSL");
        }
    }
    ++OpenSslRefCount;
}

bool InetTryAcquireOpenSsl() {
    TInetLock lock(OpenSslLoaderLock);
    if (OpenSslRefCount == 0) return false;
    ++OpenSslRefCount;
    return true;
}

void InetReleaseOpenSsl() {
    TInetLock lock(OpenSslLoaderLock);
    if (OpenSslRefCount == 0) return;
    if (--OpenSslRefCount > 0) return;
    for (void (*fn)() : UnloadHandlers()) fn();
    if (ossl::OSSL_PROVIDER_unload) {
        for (OSSL_PROVIDER** p : {&OpenSslDefaultProvider, &OpenSslLegacyProvider, &OpenSslFipsProvider}) {
            if (*p) ossl::OSSL_PROVIDER_unload(*p);
            *p = nullptr;
        }
    }
    UnloadLibraries();
}

// ---- Errors and texts -------------------------------------------------------------------------

std::string InetOpenSslVersionText() {
    if (!ossl::OpenSSL_version) return std::string();
    const char* v = ossl::OpenSSL_version(OPENSSL_VERSION);
    return v ? v : "";
}

namespace {
std::string ErrorString(unsigned long code, size_t max) {
    std::vector<char> buf(max + 1, '\0');
    ossl::ERR_error_string_n(code, buf.data(), buf.size());
    return buf.data();
}
}  // namespace

std::string InetGetOpenSslError() {
    if (!ossl::ERR_get_error) return "Error loading OpenSSL, check version";
    return ErrorString(ossl::ERR_get_error(), 120);
}

std::string InetLastOpenSslErrors(bool AllErrors) {
    if (!ossl::ERR_get_error) return "Error loading OpenSSL, check version";
    unsigned long code = ossl::ERR_get_error();
    if (code == 0) return "No error returned";
    std::string result = ErrorString(code, 120);
    while ((code = ossl::ERR_get_error()) != 0)
        if (AllErrors) result += "\r\n" + ErrorString(code, 120);
    return result;
}

std::string InetOpenSslErrorText(unsigned long Code) {
    if (Code == 0) return "No error returned";
    if (!ossl::ERR_error_string_n) return "Error loading OpenSSL, check version";
    return ErrorString(Code, 127);
}

// ---- Digests and ciphers ----------------------------------------------------------------------

const char* InetDigestName(TEvpDigest Digest) {
    static const char* const names[] = {
        "Digest_md5", "Digest_mdc2", "Digest_sha1", "Digest_sha224", "Digest_sha256",
        "Digest_sha384", "Digest_sha512", "Digest_ripemd160", "Digest_sha3_224",
        "Digest_sha3_256", "Digest_sha3_384", "Digest_sha3_512", "Digest_shake128",
        "Digest_shake256", "Digest_None"};
    const auto i = static_cast<size_t>(Digest);
    return i < std::size(names) ? names[i] : "Digest_None";
}

const EVP_MD* InetDigestByType(TEvpDigest Digest) {
    auto call = [](auto f) -> const EVP_MD* { return f ? f() : nullptr; };
    switch (Digest) {
    case TEvpDigest::Digest_md5: return call(ossl::EVP_md5);
    case TEvpDigest::Digest_mdc2: return call(ossl::EVP_mdc2);
    case TEvpDigest::Digest_sha1: return call(ossl::EVP_sha1);
    case TEvpDigest::Digest_sha224: return call(ossl::EVP_sha224);
    case TEvpDigest::Digest_sha256: return call(ossl::EVP_sha256);
    case TEvpDigest::Digest_sha384: return call(ossl::EVP_sha384);
    case TEvpDigest::Digest_sha512: return call(ossl::EVP_sha512);
    case TEvpDigest::Digest_ripemd160: return call(ossl::EVP_ripemd160);
    case TEvpDigest::Digest_sha3_224: return call(ossl::EVP_sha3_224);
    case TEvpDigest::Digest_sha3_256: return call(ossl::EVP_sha3_256);
    case TEvpDigest::Digest_sha3_384: return call(ossl::EVP_sha3_384);
    case TEvpDigest::Digest_sha3_512: return call(ossl::EVP_sha3_512);
    case TEvpDigest::Digest_shake128: return call(ossl::EVP_shake128);
    case TEvpDigest::Digest_shake256: return call(ossl::EVP_shake256);
    default: return nullptr;
    }
}

std::string InetHashDigest(const std::string& Data, TEvpDigest Digest) {
    const EVP_MD* md = InetDigestByType(Digest);
    if (!md) throw EDigestException(std::string("Unsupported hash digest ") + InetDigestName(Digest));
    EVP_MD_CTX* ctx = ossl::EVP_MD_CTX_new();
    struct Free {
        EVP_MD_CTX* c;
        ~Free() { if (c) ossl::EVP_MD_CTX_free(c); }
    } guard{ctx};
    if (!ctx || ossl::EVP_DigestInit_ex(ctx, md, nullptr) != 1)
        InetRaiseWithOpenSslErrors<EDigestException>(false, "Failed to initialise hash digest");
    if (ossl::EVP_DigestUpdate(ctx, Data.data(), Data.size()) != 1)
        InetRaiseWithOpenSslErrors<EDigestException>(false, "Failed to update hash digest");
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (ossl::EVP_DigestFinal_ex(ctx, out, &len) != 1)
        InetRaiseWithOpenSslErrors<EDigestException>(false, "Failed to finalise hash digest");
    return std::string(reinterpret_cast<char*>(out), len);
}

const EVP_CIPHER* SslEvpCipherByIndex(int Index) {
    using F = const EVP_CIPHER* (*)();
    const F table[] = {
        ossl::EVP_enc_null,
        ossl::EVP_aes_128_cbc, ossl::EVP_aes_128_cfb128, ossl::EVP_aes_128_ecb, ossl::EVP_aes_128_ofb,
        ossl::EVP_aes_128_gcm, ossl::EVP_aes_128_ocb, ossl::EVP_aes_128_ccm,
        ossl::EVP_aes_192_cbc, ossl::EVP_aes_192_cfb128, ossl::EVP_aes_192_ecb, ossl::EVP_aes_192_ofb,
        ossl::EVP_aes_192_gcm, ossl::EVP_aes_192_ocb, ossl::EVP_aes_192_ccm,
        ossl::EVP_aes_256_cbc, ossl::EVP_aes_256_cfb128, ossl::EVP_aes_256_ecb, ossl::EVP_aes_256_ofb,
        ossl::EVP_aes_256_gcm, ossl::EVP_aes_256_ocb, ossl::EVP_aes_256_ccm,
        ossl::EVP_bf_cbc, ossl::EVP_bf_cfb64, ossl::EVP_bf_ecb, ossl::EVP_bf_ofb,
        ossl::EVP_chacha20,
        ossl::EVP_des_ede3_cbc, ossl::EVP_des_ede3_cfb64, ossl::EVP_des_ede3_ecb, ossl::EVP_des_ede3_ofb,
        ossl::EVP_idea_cbc, ossl::EVP_idea_cfb64, ossl::EVP_idea_ecb, ossl::EVP_idea_ofb,
    };
    const int i = Index & 0x7F;
    F f = i < static_cast<int>(std::size(table)) ? table[i] : nullptr;
    if (!f) f = ossl::EVP_enc_null;
    return f ? f() : nullptr;
}

void SslFreeX509Stack(STACK_OF(X509) * Stack) {
    if (!Stack) return;
    for (int i = 0; i < SslStackCount(Stack); ++i) ossl::X509_free(SslStackItem<X509>(Stack, i));
    ossl::OPENSSL_sk_free(reinterpret_cast<OPENSSL_STACK*>(Stack));
}

// ---- ASN.1 ------------------------------------------------------------------------------------

TDateTime InetAddHours(TDateTime Date, int Hours) { return Date + Hours / 24.0; }
TDateTime InetAddMinutes(TDateTime Date, int Minutes) { return Date + Minutes / 1440.0; }

bool InetAsn1TimeToDateTime(const ASN1_TIME* Asn1Time, TDateTime& DateTime) {
    DateTime = InetMinDateTime;
    if (!Asn1Time) return false;
    const int type = ossl::ASN1_STRING_type(Asn1Time);
    const int len = ossl::ASN1_STRING_length(Asn1Time);
    const unsigned char* data = ossl::ASN1_STRING_get0_data(Asn1Time);
    if (!data || len <= 0) return false;
    const std::string s(reinterpret_cast<const char*>(data), static_cast<size_t>(len));
    size_t fixed;
    if (type == V_ASN1_UTCTIME) fixed = 10;
    else if (type == V_ASN1_GENERALIZEDTIME) fixed = 12;
    else return false;
    if (s.size() < fixed) return false;
    for (size_t i = 0; i < fixed; ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    auto two = [&](size_t at) { return (s[at] - '0') * 10 + (s[at + 1] - '0'); };
    auto twoDigitsAt = [&](size_t at) {
        return at + 1 < s.size() && s[at] >= '0' && s[at] <= '9' && s[at + 1] >= '0' && s[at + 1] <= '9';
    };
    int year, pos;
    if (type == V_ASN1_UTCTIME) {
        int yy = two(0);
        int current = 0, m, d, hh, mi, ss;
        InetDecodeDateTime(InetNow(), current, m, d, hh, mi, ss);
        year = yy + 100 * (current / 100);
        if (yy > 49) year -= 100;
        pos = 2;
    } else {
        year = two(0) * 100 + two(2);
        pos = 4;
    }
    const int month = two(pos), day = two(pos + 2), hour = two(pos + 4), minute = two(pos + 6);
    const size_t secAt = static_cast<size_t>(pos) + 8;
    const int second = twoDigitsAt(secAt) ? two(secAt) : 0;
    TDateTime date, time;
    if (!InetTryEncodeDate(year, month, day, date) || !InetTryEncodeTime(hour, minute, second, time))
        return false;
    TDateTime result = InetCombineDateTime(date, time);
    if (s.back() != 'Z') {
        // A "+hhmm" suffix is the zone of a local time: take it off to reach UTC.
        size_t i = s.size();
        while (i > fixed && s[i - 1] >= '0' && s[i - 1] <= '9') --i;
        if (i > fixed && (s[i - 1] == '+' || s[i - 1] == '-') && i < s.size()) {
            int n = 0;
            for (size_t k = i; k < s.size() && k < i + 4; ++k) n = n * 10 + (s[k] - '0');
            if (s[i - 1] == '-') n = -n;
            if (n != 0 && n >= -1200 && n <= 1300) {
                result = InetAddHours(result, -(n / 100));
                result = InetAddMinutes(result, -(n % 100));
            }
        }
    }
    DateTime = result;
    return true;
}

std::wstring InetBmpToWide(const unsigned char* Data, int Len) {
    std::wstring w;
    if (!Data) return w;
    for (int i = 0; i + 1 < Len; i += 2) w += static_cast<wchar_t>((Data[i] << 8) | Data[i + 1]);
    return w;
}

std::string InetAsn1StringToText(const ASN1_STRING* Asn1String) {
    if (!Asn1String) return std::string();
    const int len = ossl::ASN1_STRING_length(Asn1String);
    const unsigned char* data = ossl::ASN1_STRING_get0_data(Asn1String);
    if (len <= 0 || !data) return std::string();
    switch (ossl::ASN1_STRING_type(Asn1String)) {
    case V_ASN1_OCTET_STRING:
        return InetBytesToHexSep(data, len, ':');
    case V_ASN1_UTF8STRING:
        return InetFromUtf8(std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(len)));
    case V_ASN1_BMPSTRING:
        return InetWideToAnsi(InetBmpToWide(data, len));
    default:
        return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(len));
    }
}
