// The OpenSSL loader: stub DLLs built by the project (1.1.1 fall-back, refused versions,
// missing names, a missing libssl, acquisition counts), then the real DLLs beside the test
// program (version, providers, legacy algorithms), and the shared routines (digests, errors,
// ASN.1 times and strings, cipher numbers). The stubs live in folders of their own, so a
// real libcrypto loaded (and pinned) by another test does not stand in for them.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "NetTestUtil.h"
#include "framework/SysUtils.h"
#include "net/InetSsleay.h"
#include "support/NoShortNames.h"

namespace {

std::string StubFolder(const std::string& name) {
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    return framework::IncludeTrailingPathDelimiter(cwd) + "openssl-stubs\\" + name + "\\";
}

std::string ProgramFolder() {
    const std::string exe = InetModuleFileName(nullptr);
    return exe.substr(0, exe.find_last_of('\\') + 1);
}

void ResetLoader() {
    while (OpenSslRefCount > 0) InetReleaseOpenSsl();
    if (LibSslHandle) FreeLibrary(LibSslHandle);
    if (LibCryptoHandle) FreeLibrary(LibCryptoHandle);
    LibSslHandle = LibCryptoHandle = nullptr;
    OpenSslDllFolder.clear();
    OpenSslVersionNumber = 0;
    OpenSslSkipVersion3 = OpenSslPreferVersion3 = false;
    OpenSslCheckSignature = OpenSslSignatureStrict = false;
    OpenSslLoadLegacyProvider = false;
}

bool EndsWithText(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && InetTextCompare(s.substr(s.size() - tail.size()), tail) == 0;
}

// One acquisition of the real DLLs for a test's length.
struct OpenSslScope {
    OpenSslScope() { InetAcquireOpenSsl(); }
    ~OpenSslScope() { InetReleaseOpenSsl(); }
};

void* Export(HMODULE m, const char* name) { return reinterpret_cast<void*>(GetProcAddress(m, name)); }

class OpenSslLoader : public ::testing::Test {
protected:
    void SetUp() override { ResetLoader(); }
    void TearDown() override { ResetLoader(); }
};

TEST_F(OpenSslLoader, LibSslNeedsLibCryptoFirst) {
    try {
        InetLoadLibSsl();
        FAIL() << "no exception";
    } catch (const EInetSsleayException& e) {
        EXPECT_STREQ("Must load libcrypto DLL before libssl DLL", e.what());
    }
}

TEST_F(OpenSslLoader, FallsBackTo111AndBindsItsNames) {
    OpenSslDllFolder = StubFolder("v111");
    InetAcquireOpenSsl();
    EXPECT_EQ(0x1010117Fu, OpenSslVersionNumber);
    EXPECT_EQ(1, OpenSslMajor);
    EXPECT_EQ(1, OpenSslMinor);
    EXPECT_TRUE(EndsWithText(LibCryptoPath, "\\v111\\libcrypto-1_1-x64.dll")) << LibCryptoPath;
    EXPECT_TRUE(EndsWithText(LibSslPath, "\\v111\\libssl-1_1-x64.dll")) << LibSslPath;
    // Old names fill the variables of the new ones; 3.x-only names stay unbound.
    EXPECT_EQ(Export(LibCryptoHandle, "EVP_PKEY_base_id"), reinterpret_cast<void*>(ossl::EVP_PKEY_get_base_id));
    EXPECT_EQ(Export(LibCryptoHandle, "EVP_MD_size"), reinterpret_cast<void*>(ossl::EVP_MD_get_size));
    EXPECT_EQ(Export(LibSslHandle, "SSL_get_peer_certificate"),
              reinterpret_cast<void*>(ossl::SSL_get1_peer_certificate));
    EXPECT_EQ(nullptr, ossl::OPENSSL_version_major);
    // The option calls bind with their 32-bit 1.1.1 type.
    EXPECT_NE(nullptr, ossl::SSL_CTX_set_options_111);
    EXPECT_EQ(nullptr, ossl::SSL_CTX_set_options);
    // Optional names the stub lacks are reported, not refused; 3.x-only ones are not asked for.
    EXPECT_NE(std::string::npos, OpenSslMissingOptional.find("ENGINE_init,"));
    EXPECT_NE(std::string::npos, OpenSslMissingOptional.find("EVP_sha3_256,"));
    EXPECT_NE(std::string::npos, OpenSslMissingOptional.find("SSL_CTX_set_client_cert_engine,"));
    // The deprecated DH and EC_KEY calls are not required (a build without them loads).
    for (const char* name : {"PEM_read_bio_DHparams,", "DH_free,", "EVP_PKEY_get0_EC_KEY,", "EC_KEY_get0_group,"})
        EXPECT_NE(std::string::npos, OpenSslMissingOptional.find(name)) << name;
    EXPECT_EQ(std::string::npos, OpenSslMissingOptional.find("OSSL_PROVIDER"));
    EXPECT_EQ(nullptr, ossl::ENGINE_init);
}

TEST_F(OpenSslLoader, VersionSwitchesPickTheLibrary) {
    // Both versions side by side: 3.x unless skipped; preferring 3.x cancels the skip.
    struct Case {
        bool skip3, prefer3;
        const char* crypto;
        const char* ssl;
        uint32_t version;
    } cases[] = {
        {false, false, "libcrypto-3-x64.dll", "libssl-3-x64.dll", 0x30000020u},
        {true, false, "libcrypto-1_1-x64.dll", "libssl-1_1-x64.dll", 0x1010117Fu},
        {true, true, "libcrypto-3-x64.dll", "libssl-3-x64.dll", 0x30000020u},
        {false, true, "libcrypto-3-x64.dll", "libssl-3-x64.dll", 0x30000020u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("skip ") + (c.skip3 ? "on" : "off") + ", prefer " + (c.prefer3 ? "on" : "off"));
        ResetLoader();
        OpenSslDllFolder = StubFolder("both");
        OpenSslSkipVersion3 = c.skip3;
        OpenSslPreferVersion3 = c.prefer3;
        InetAcquireOpenSsl();
        EXPECT_EQ(c.version, OpenSslVersionNumber);
        EXPECT_TRUE(EndsWithText(LibCryptoPath, c.crypto)) << LibCryptoPath;
        EXPECT_TRUE(EndsWithText(LibSslPath, c.ssl)) << LibSslPath;
        EXPECT_EQ(c.version >= 0x30000000u, ossl::SSL_CTX_set_options != nullptr);
        EXPECT_EQ(c.version < 0x30000000u, ossl::SSL_CTX_set_options_111 != nullptr);
        if (c.skip3 && c.prefer3) EXPECT_FALSE(OpenSslSkipVersion3 || OpenSslPreferVersion3);
        InetReleaseOpenSsl();
    }
}

TEST_F(OpenSslLoader, RefusesVersionsOutsideTheRange) {
    struct Case {
        const char* folder;
        const char* dll;
        const char* hex;
    } cases[] = {{"v110", "libcrypto-1_1-x64.dll", "1010007F"}, {"v4", "libcrypto-3-x64.dll", "40000000"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        ResetLoader();
        OpenSslDllFolder = StubFolder(c.folder);
        const std::string path = OpenSslDllFolder + c.dll;
        try {
            InetLoadLibCrypto();
            FAIL() << "no exception";
        } catch (const EInetLibeayException& e) {
            EXPECT_EQ(std::string("Unsupported OpenSSL version (0x") + c.hex + ") !\r\n" +
                          "Supported versions are 0x1010100F - 0x3FFFFFFF\r\nFileName: " + path,
                      e.what());
        }
        EXPECT_EQ(999u, OpenSslVersionNumber);
        EXPECT_EQ(nullptr, LibCryptoHandle);
        EXPECT_EQ(nullptr, GetModuleHandleA(path.c_str())) << "the refused DLL stays loaded";
        try {
            InetLoadLibSsl();
            FAIL() << "no exception";
        } catch (const EInetSsleayException& e) {
            EXPECT_EQ("Failed to load OpenSSL file " + path, std::string(e.what()));
        }
    }
}

TEST_F(OpenSslLoader, MissingRequiredNamesAreListed) {
    OpenSslDllFolder = StubFolder("bare");
    const std::string path = OpenSslDllFolder + "libcrypto-3-x64.dll";
    try {
        InetAcquireOpenSsl();
        FAIL() << "no exception";
    } catch (const EInetSsleayException& e) {
        const std::string m = e.what();
        const std::string head = "Unable to load " + path + ". Can not find: ";
        ASSERT_EQ(head, m.substr(0, head.size()));
        EXPECT_NE(std::string::npos, m.find("ERR_get_error,"));
        EXPECT_NE(std::string::npos, m.find("EVP_PKEY_get_base_id,"));
        EXPECT_NE(std::string::npos, m.find("OSSL_PROVIDER_load,"));
        EXPECT_EQ(std::string::npos, m.find("ENGINE_"));  // optional
        EXPECT_EQ(',', m.back());
    }
    EXPECT_EQ(999u, OpenSslVersionNumber);
    EXPECT_EQ(0, OpenSslRefCount);
    EXPECT_EQ(nullptr, LibCryptoHandle);
    EXPECT_EQ(nullptr, ossl::ERR_get_error);
}

TEST_F(OpenSslLoader, BindingListsEveryMissingNameAndSkipsOtherVersions) {
    HMODULE h = LoadLibraryA((StubFolder("v111") + "libcrypto-1_1-x64.dll").c_str());
    ASSERT_NE(nullptr, h);
    void* found = nullptr;
    void* missing1 = nullptr;
    void* missing2 = nullptr;
    void* optional = nullptr;
    void* sentinel = reinterpret_cast<void*>(1);
    void* otherVersion = sentinel;
    const TOpenSslImport table[] = {
        {&found, "ERR_get_error", 0xF, 0xFFFFFFFF, false},
        {&missing1, "No_such_function_one", 0xF, 0xFFFFFFFF, false},
        {&optional, "No_such_optional", 0xF, 0xFFFFFFFF, true},
        {&missing2, "No_such_function_two", 0xF, 0xFFFFFFFF, false},
        {&otherVersion, "ERR_peek_error", 0x30000000, 0xFFFFFFFF, false},
    };
    OpenSslVersionNumber = 0x1010117F;
    std::string missing, missingOptional;
    InetBindImportTable(h, table, 4, missing, missingOptional);
    EXPECT_EQ("No_such_function_one,No_such_function_two,", missing);
    EXPECT_EQ("No_such_optional,", missingOptional);
    EXPECT_EQ(Export(h, "ERR_get_error"), found);
    EXPECT_EQ(sentinel, otherVersion);
    InetBindImportTable(h, table, -1, missing, missingOptional);
    EXPECT_EQ("No import list specified", missing);
    FreeLibrary(h);
}

TEST_F(OpenSslLoader, MissingLibSslUnloadsLibCrypto) {
    OpenSslDllFolder = StubFolder("nossl");
    try {
        InetAcquireOpenSsl();
        FAIL() << "no exception";
    } catch (const EInetSsleayException& e) {
        EXPECT_EQ("Failed to load OpenSSL file " + OpenSslDllFolder + "libssl-1_1-x64.dll", std::string(e.what()));
    }
    EXPECT_EQ(0u, OpenSslVersionNumber);
    EXPECT_EQ(nullptr, LibCryptoHandle);
    EXPECT_EQ(0, OpenSslRefCount);
    // Every name bound from the freed libcrypto is unbound again: a call through one would
    // run in unmapped memory.
    EXPECT_EQ(nullptr, ossl::ERR_get_error);
    EXPECT_EQ(nullptr, ossl::ERR_peek_error);
    EXPECT_EQ(nullptr, ossl::OpenSSL_version_num);
    EXPECT_EQ(nullptr, GetModuleHandleA((OpenSslDllFolder + "libcrypto-1_1-x64.dll").c_str()));
    EXPECT_NO_THROW(InetGetOpenSslError());
}

TEST_F(OpenSslLoader, EveryFailedLoadLeavesNothingBound) {
    // Loads that fail at different steps, each after a good load bound everything.
    struct Case {
        const char* folder;
        bool checkSignature;
    } cases[] = {{"nossl", false}, {"bare", false}, {"v4", false}, {"v111", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        ResetLoader();
        InetAcquireOpenSsl();  // the real DLLs
        InetReleaseOpenSsl();
        OpenSslDllFolder = StubFolder(c.folder);
        OpenSslCheckSignature = c.checkSignature;
        EXPECT_ANY_THROW(InetAcquireOpenSsl());
        EXPECT_EQ(nullptr, LibCryptoHandle);
        EXPECT_EQ(nullptr, LibSslHandle);
        EXPECT_EQ(nullptr, ossl::ERR_get_error);
        EXPECT_EQ(nullptr, ossl::EVP_MD_get_size);
        EXPECT_EQ(nullptr, ossl::SSL_CTX_new);
        EXPECT_EQ(nullptr, ossl::OpenSSL_version_num);
        EXPECT_NO_THROW(InetGetOpenSslError());
    }
}

TEST_F(OpenSslLoader, AcquisitionsAreCounted) {
    OpenSslDllFolder = StubFolder("v111");
    const std::string path = OpenSslDllFolder + "libcrypto-1_1-x64.dll";
    for (int i = 0; i < 3; ++i) InetAcquireOpenSsl();
    EXPECT_EQ(3, OpenSslRefCount);
    const HMODULE loaded = LibCryptoHandle;
    EXPECT_EQ(loaded, GetModuleHandleA(path.c_str()));
    InetReleaseOpenSsl();
    InetReleaseOpenSsl();
    EXPECT_EQ(loaded, LibCryptoHandle);
    EXPECT_NE(nullptr, GetModuleHandleA(path.c_str()));
    InetReleaseOpenSsl();
    EXPECT_EQ(nullptr, LibCryptoHandle);
    EXPECT_EQ(nullptr, LibSslHandle);
    EXPECT_EQ(nullptr, GetModuleHandleA(path.c_str())) << "freed at the last release";
    EXPECT_EQ(nullptr, ossl::ERR_get_error) << "nothing points into the freed DLLs";
    EXPECT_EQ(nullptr, ossl::SSL_CTX_set_options_111);
    EXPECT_EQ(0x1010117Fu, OpenSslVersionNumber) << "the version is kept";
    InetReleaseOpenSsl();
    EXPECT_EQ(0, OpenSslRefCount);
    InetAcquireOpenSsl();
    EXPECT_NE(nullptr, LibCryptoHandle) << "a later acquisition loads again";
}

TEST_F(OpenSslLoader, SignatureCheckRefusesAnUnsignedDll) {
    OpenSslDllFolder = StubFolder("v111");
    OpenSslCheckSignature = true;
    const std::string path = OpenSslDllFolder + "libcrypto-1_1-x64.dll";
    try {
        InetAcquireOpenSsl();
        FAIL() << "no exception";
    } catch (const EInetSsleayException& e) {
        const std::string head = "Failed to load " + path + " - ";
        EXPECT_EQ(head, std::string(e.what()).substr(0, head.size()));
    }
    EXPECT_EQ(0, OpenSslRefCount);
    EXPECT_EQ(999u, OpenSslVersionNumber);
    EXPECT_EQ(nullptr, LibCryptoHandle);
    EXPECT_EQ(nullptr, GetModuleHandleA(path.c_str()));
    EXPECT_THROW(InetAcquireOpenSsl(), EInetSsleayException) << "refused again, not taken unchecked";
}

// ---- The real DLLs ------------------------------------------------------------------------------

class OpenSslReal : public OpenSslLoader {};

TEST_F(OpenSslReal, EmptyFolderMeansTheProgramsOwnFolder) {
    // A libcrypto planted in the current folder (here a stub that would be refused) is not used.
    char old[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, old);
    ASSERT_TRUE(SetCurrentDirectoryA(StubFolder("v4").c_str()));
    try {
        InetAcquireOpenSsl();
    } catch (...) {
        SetCurrentDirectoryA(old);
        throw;
    }
    SetCurrentDirectoryA(old);
    EXPECT_EQ(0, InetTextCompare(ProgramFolder() + "libcrypto-3-x64.dll", LibCryptoPath)) << LibCryptoPath;
    EXPECT_EQ(0, InetTextCompare(ProgramFolder() + "libssl-3-x64.dll", LibSslPath)) << LibSslPath;
}

TEST_F(OpenSslReal, LoadsFromAProgramFolderOutsideTheAnsiCodePage) {
    // The program and its DLLs copied into a folder whose name the ANSI code page cannot
    // spell; the copy runs the version test below from there.
    wchar_t exe[MAX_PATH], cwd[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
    GetCurrentDirectoryW(MAX_PATH, cwd);
    std::wstring from = exe;
    from = from.substr(0, from.find_last_of(L'\\') + 1);
    const std::wstring folder = std::wstring(cwd) + L"\\openssl-\x0416\x0443\x03A9\x65E5\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring copy = folder + L"net_tests_copy.exe";
    ASSERT_TRUE(CopyFileW(exe, copy.c_str(), FALSE));
    WIN32_FIND_DATAW fd;
    HANDLE f = FindFirstFileW((from + L"*.dll").c_str(), &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, f);
    do {
        ASSERT_TRUE(CopyFileW((from + fd.cFileName).c_str(), (folder + fd.cFileName).c_str(), FALSE));
    } while (FindNextFileW(f, &fd));
    FindClose(f);
    std::wstring cmd = L"\"" + copy + L"\" --gtest_filter=OpenSslReal.Version3AndItsNames";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(copy.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 120000));
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(0u, code) << "the copy could not load OpenSSL from its own folder";
}

namespace {
// Runs this test program again with a filter (and one more variable in its environment);
// true when the run passed.
bool RunSelf(const std::string& Filter, const char* Variable) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring cmd = L"\"" + std::wstring(exe) + L"\" --gtest_filter=" + InetAnsiToWide(Filter);
    SetEnvironmentVariableA(Variable, "1");
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const bool started = CreateProcessW(exe, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableA(Variable, nullptr);
    if (!started) return false;
    WaitForSingleObject(pi.hProcess, 120000);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code == 0;
}

// The folder in OpenSSL_version's 'NAME: "folder"' text.
std::string QuotedFolder(int Which) {
    const std::string t = ossl::OpenSSL_version(Which);
    const size_t a = t.find('"'), b = t.rfind('"');
    return a != std::string::npos && b > a ? t.substr(a + 1, b - a - 1) : t;
}
}  // namespace

TEST_F(OpenSslReal, BuiltInFoldersAreAbsoluteAndAPlantedConfigurationIsNotRead) {
    InetAcquireOpenSsl();
    // A folder without a drive is relative to the current drive: anyone may create it.
    std::string ssldir;
    for (int which : {OPENSSL_DIR, OPENSSL_ENGINES_DIR, OPENSSL_MODULES_DIR}) {
        const std::string folder = QuotedFolder(which);
        SCOPED_TRACE(folder);
        EXPECT_TRUE(folder.size() > 3 && std::isalpha(static_cast<unsigned char>(folder[0])) && folder[1] == ':' &&
                    (folder[2] == '/' || folder[2] == '\\'));
        if (which == OPENSSL_DIR) ssldir = folder;
    }
    InetReleaseOpenSsl();
    if (ssldir.size() < 3 || ssldir[1] != ':') return;
    // An openssl.cnf in the built-in folder that would raise every new context's lowest
    // version to TLS 1.3; a fresh process (OpenSSL reads it once) must not take it.
    std::string made;
    for (size_t i = 3; i <= ssldir.size(); ++i)
        if (i == ssldir.size() || ssldir[i] == '/' || ssldir[i] == '\\') CreateDirectoryA(ssldir.substr(0, i).c_str(), nullptr);
    const std::string cnf = ssldir + "/openssl.cnf";
    {
        std::ofstream f(cnf, std::ios::binary);
        f << "openssl_conf = planted\n[planted]\nssl_conf = planted_ssl\n[planted_ssl]\n"
             "system_default = planted_default\n[planted_default]\nMinProtocol = TLSv1.3\n";
    }
    const bool ok = RunSelf("OpenSslReal.PlantedConfigurationLeftUnread", "VA_PLANTED_OPENSSL_CNF");
    DeleteFileA(cnf.c_str());
    EXPECT_TRUE(ok) << "the planted " << cnf << " was read";
}

TEST_F(OpenSslReal, PlantedConfigurationLeftUnread) {
    if (!std::getenv("VA_PLANTED_OPENSSL_CNF")) GTEST_SKIP() << "run by the test above, in a process of its own";
    InetAcquireOpenSsl();
    SSL_CTX* c = ossl::SSL_CTX_new(ossl::TLS_method());
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(0, SslCtxGetMinProtoVersion(c));
    ossl::SSL_CTX_free(c);
}

TEST_F(OpenSslReal, Version3AndItsNames) {
    InetAcquireOpenSsl();
    EXPECT_GE(OpenSslVersionNumber, 0x30000000u);
    EXPECT_LE(OpenSslVersionNumber, 0x3FFFFFFFu);
    EXPECT_EQ(3, OpenSslMajor);
    EXPECT_EQ(static_cast<int>((OpenSslVersionNumber >> 20) & 0xFF), OpenSslMinor);
    EXPECT_EQ(0u, InetOpenSslVersionText().rfind("OpenSSL 3.", 0)) << InetOpenSslVersionText();
    EXPECT_EQ(Export(LibCryptoHandle, "EVP_MD_get_size"), reinterpret_cast<void*>(ossl::EVP_MD_get_size));
    EXPECT_EQ(Export(LibSslHandle, "SSL_get1_peer_certificate"),
              reinterpret_cast<void*>(ossl::SSL_get1_peer_certificate));
    EXPECT_NE(nullptr, ossl::SSL_CTX_set_options);
    EXPECT_EQ(nullptr, ossl::SSL_CTX_set_options_111);
    EXPECT_EQ("", OpenSslMissingOptional);
    EXPECT_GT(OpenSslAcmeNid, 0);
    EXPECT_FALSE(LibSslFileVersion.empty());
}

TEST_F(OpenSslReal, LegacyProviderBringsMd4AndDes) {
    InetAcquireOpenSsl();
    EXPECT_FALSE(OpenSslLegacyAvailable);
    EVP_MD* md4 = ossl::EVP_MD_fetch(nullptr, "MD4", nullptr);
    EXPECT_EQ(nullptr, md4) << "MD4 without the legacy provider";
    ossl::EVP_MD_free(md4);
    ossl::ERR_clear_error();
    ResetLoader();

    OpenSslLoadLegacyProvider = true;
    InetAcquireOpenSsl();
    EXPECT_TRUE(OpenSslLegacyAvailable);
    EXPECT_FALSE(OpenSslFipsAvailable);
    md4 = ossl::EVP_MD_fetch(nullptr, "MD4", nullptr);
    ASSERT_NE(nullptr, md4);
    EVP_MD_CTX* ctx = ossl::EVP_MD_CTX_new();
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    ASSERT_EQ(1, ossl::EVP_DigestInit_ex(ctx, md4, nullptr));
    ossl::EVP_DigestUpdate(ctx, "abc", 3);
    ossl::EVP_DigestFinal_ex(ctx, out, &len);
    EXPECT_EQ("a448017aaf21d8525fc10ae87aa6729d", nettest::Hex(out, len));
    ossl::EVP_MD_CTX_free(ctx);
    ossl::EVP_MD_free(md4);
    EVP_CIPHER* des = ossl::EVP_CIPHER_fetch(nullptr, "DES-CBC", nullptr);
    EXPECT_NE(nullptr, des);
    ossl::EVP_CIPHER_free(des);
    // The default provider stays usable beside the legacy one.
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
              nettest::Hex(InetHashDigest("abc", TEvpDigest::Digest_sha256)));
}

TEST_F(OpenSslReal, Digests) {
    OpenSslScope ssl;
    struct Case {
        TEvpDigest digest;
        const char* hex;
    } cases[] = {
        {TEvpDigest::Digest_md5, "900150983cd24fb0d6963f7d28e17f72"},
        {TEvpDigest::Digest_sha1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {TEvpDigest::Digest_sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {TEvpDigest::Digest_sha3_256, "3a985da74fe225b2045c172d6bd390bd855f086e3e9d525b46bfe24511431532"},
        {TEvpDigest::Digest_ripemd160, "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.hex, nettest::Hex(InetHashDigest("abc", c.digest))) << InetDigestName(c.digest);
    try {
        InetHashDigest("abc", TEvpDigest::Digest_None);
        FAIL() << "no exception";
    } catch (const EDigestException& e) {
        EXPECT_STREQ("Unsupported hash digest Digest_None", e.what());
    }
}

TEST_F(OpenSslReal, ErrorTexts) {
    OpenSslScope ssl;
    ossl::ERR_clear_error();
    EXPECT_EQ("No error returned", InetLastOpenSslErrors(true));
    EXPECT_EQ("No error returned", InetOpenSslErrorText(0));
    BIO* b = ossl::BIO_new_mem_buf("-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n", -1);
    EXPECT_EQ(nullptr, ossl::PEM_read_bio_X509(b, nullptr, nullptr, nullptr));
    ossl::BIO_free(b);
    const unsigned long code = ossl::ERR_peek_error();
    ASSERT_NE(0u, code);
    const std::string text = InetLastOpenSslErrors(true);
    EXPECT_EQ(0u, text.rfind("error:", 0)) << text;
    EXPECT_EQ("No error returned", InetLastOpenSslErrors(false)) << "the queue is consumed";
    EXPECT_EQ(0u, InetOpenSslErrorText(code).rfind("error:", 0));
    try {
        InetRaiseWithOpenSslErrors<EDigestException>(false, "Context");
        FAIL();
    } catch (const EDigestException& e) {
        EXPECT_STREQ("\r\nContext\r\nNo error returned\r\n", e.what());
    }
}

TEST_F(OpenSslReal, Asn1Times) {
    OpenSslScope ssl;
    struct Case {
        int type;
        const char* text;
        bool ok;
        int y, m, d, h, n, s;
    } cases[] = {
        {V_ASN1_UTCTIME, "250102030405Z", true, 2025, 1, 2, 3, 4, 5},
        {V_ASN1_UTCTIME, "2501020304Z", true, 2025, 1, 2, 3, 4, 0},
        {V_ASN1_UTCTIME, "2501020304", true, 2025, 1, 2, 3, 4, 0},
        {V_ASN1_UTCTIME, "991231235959Z", true, 1999, 12, 31, 23, 59, 59},
        // A zone offset is taken off to reach UTC.
        {V_ASN1_UTCTIME, "250102030405+0130", true, 2025, 1, 2, 1, 34, 5},
        {V_ASN1_UTCTIME, "250102030405-0200", true, 2025, 1, 2, 5, 4, 5},
        {V_ASN1_UTCTIME, "2501020004+0100", true, 2025, 1, 1, 23, 4, 0},
        {V_ASN1_GENERALIZEDTIME, "20500615120000Z", true, 2050, 6, 15, 12, 0, 0},
        {V_ASN1_GENERALIZEDTIME, "205006151201Z", true, 2050, 6, 15, 12, 1, 0},
        {V_ASN1_GENERALIZEDTIME, "20500615120000.5+0530", true, 2050, 6, 15, 6, 30, 0},
        {V_ASN1_UTCTIME, "251302030405Z", false},
        {V_ASN1_UTCTIME, "250230030405Z", false},
        {V_ASN1_UTCTIME, "25010203", false},
        {V_ASN1_UTCTIME, "25a102030405Z", false},
        {V_ASN1_GENERALIZEDTIME, "2050061512", false},
        {V_ASN1_OCTET_STRING, "250102030405Z", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ASN1_STRING* s = ossl::ASN1_STRING_type_new(c.type);
        ossl::ASN1_STRING_set(s, c.text, static_cast<int>(strlen(c.text)));
        TDateTime dt = 1;
        EXPECT_EQ(c.ok, InetAsn1TimeToDateTime(s, dt));
        ossl::ASN1_STRING_free(s);
        if (!c.ok) {
            EXPECT_EQ(InetMinDateTime, dt);
            continue;
        }
        int y, m, d, h, n, sec;
        InetDecodeDateTime(dt, y, m, d, h, n, sec);
        EXPECT_EQ(c.y, y);
        EXPECT_EQ(c.m, m);
        EXPECT_EQ(c.d, d);
        EXPECT_EQ(c.h, h);
        EXPECT_EQ(c.n, n);
        EXPECT_EQ(c.s, sec);
    }
    TDateTime dt = 1;
    EXPECT_FALSE(InetAsn1TimeToDateTime(nullptr, dt));
    EXPECT_EQ(InetMinDateTime, dt);
}

TEST_F(OpenSslReal, Asn1Strings) {
    OpenSslScope ssl;
    struct Case {
        int type;
        std::string bytes;
        std::string text;
    } cases[] = {
        {V_ASN1_OCTET_STRING, std::string("\x01\xAB\x00", 3), "01:AB:00"},
        {V_ASN1_UTF8STRING, "M\xC3\xBCnchen", "M\xFCnchen"},
        {V_ASN1_BMPSTRING, std::string("\x00" "A\x00\xE9", 4), "A\xE9"},
        {V_ASN1_IA5STRING, "plain", "plain"},
        {V_ASN1_UTF8STRING, "", ""},
    };
    for (const Case& c : cases) {
        ASN1_STRING* s = ossl::ASN1_STRING_type_new(c.type);
        ossl::ASN1_STRING_set(s, c.bytes.data(), static_cast<int>(c.bytes.size()));
        EXPECT_EQ(c.text, InetAsn1StringToText(s));
        ossl::ASN1_STRING_free(s);
    }
    EXPECT_EQ("", InetAsn1StringToText(nullptr));
}

TEST_F(OpenSslReal, CipherNumbers) {
    OpenSslScope ssl;
    EXPECT_EQ(ossl::EVP_enc_null(), SslEvpCipherByIndex(0));
    EXPECT_EQ(ossl::EVP_aes_128_cbc(), SslEvpCipherByIndex(1));
    EXPECT_EQ(ossl::EVP_aes_128_cbc(), SslEvpCipherByIndex(128 + 1)) << "only the low 7 bits count";
    EXPECT_EQ(ossl::EVP_aes_192_gcm(), SslEvpCipherByIndex(12));
    EXPECT_EQ(ossl::EVP_aes_256_cbc(), SslEvpCipherByIndex(15));
    EXPECT_EQ(ossl::EVP_aes_256_ccm(), SslEvpCipherByIndex(21));
    EXPECT_EQ(ossl::EVP_bf_cbc(), SslEvpCipherByIndex(22));
    EXPECT_EQ(ossl::EVP_chacha20(), SslEvpCipherByIndex(26));
    EXPECT_EQ(ossl::EVP_des_ede3_cbc(), SslEvpCipherByIndex(27));
    EXPECT_EQ(ossl::EVP_idea_ofb(), SslEvpCipherByIndex(34));
    EXPECT_EQ(ossl::EVP_enc_null(), SslEvpCipherByIndex(35));
}

// The signature check reaches the DLL by an ANSI name. A folder the code page cannot spell
// is reached by its short name; on a volume without short names the load is refused with a
// reason, never checked under a name of '?'s that reaches no file.
TEST(InetPathForAnsiApi, ShortNameOrAReportedFailure) {
    wchar_t temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring folder = std::wstring(temp) + L"\u30d7\u30ed\u30b0\u30e9\u30e0";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    const std::wstring dll = folder + L"\\libcrypto-3-x64.dll";
    HANDLE h = CreateFileW(dll.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);

    std::string reached;
    std::string refusal;
    try {
        reached = InetPathForAnsiApi(dll);
    } catch (const EInetSsleayException& e) {
        ADD_FAILURE() << e.what();
    }
    const bool reaches = GetFileAttributesA(reached.c_str()) != INVALID_FILE_ATTRIBUTES;
    const framework::TShortPathApi real = framework::ShortPathApi();
    framework::ShortPathApi().GetShortPathNameW = &testsupport::LongNameBack;
    try {
        InetPathForAnsiApi(dll);
    } catch (const EInetSsleayException& e) {
        refusal = e.what();
    }
    framework::ShortPathApi() = real;
    DeleteFileW(dll.c_str());
    RemoveDirectoryW(folder.c_str());

    EXPECT_TRUE(reaches) << reached;
    EXPECT_EQ(framework::ExtractFileName(reached), "libcrypto-3-x64.dll");
    EXPECT_EQ(refusal.rfind("Failed to load ", 0), 0u) << refusal;
    EXPECT_NE(refusal.find("no short names"), std::string::npos) << refusal;
}

}  // namespace
