#include "components/KitSysUtils.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/Handles.h"
#include "framework/SysUtils.h"

namespace {

constexpr const char* kBase = "Software\\VoltAtlasTests\\KitSys";

// ---------------------------------------------------------------------------------------------
// Registry readers

class KitRegistryReaders : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kBase, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(key_);
        RegDeleteTreeA(HKEY_CURRENT_USER, kBase);
    }
    void Put(const char* name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(RegSetValueExA(key_, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }
    void PutW(const char* name, DWORD type, const std::wstring& data, DWORD bytes) {
        const std::wstring wname(name, name + strlen(name));
        ASSERT_EQ(RegSetValueExW(key_, wname.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()), bytes),
                  ERROR_SUCCESS);
    }
    HKEY key_ = nullptr;
};

TEST_F(KitRegistryReaders, DWordReaderTakesDecimalTextAndUpToEightBytes) {
    Put("text12", REG_SZ, "12", 3);
    Put("textneg", REG_SZ, "-1", 3);
    Put("letters", REG_SZ, "abc", 4);
    Put("expand", REG_EXPAND_SZ, "40", 3);
    const DWORD dword = 0xDEADBEEF;
    Put("dword", REG_DWORD, &dword, 4);
    const uint64_t qword = 0x100000005ull;
    Put("qword", REG_QWORD, &qword, 8);
    const unsigned char bin3[3] = {1, 2, 3};
    Put("bin3", REG_BINARY, bin3, 3);
    const unsigned char bin12[12] = {1};
    Put("bin12", REG_BINARY, bin12, 12);
    const std::wstring multi(L"1\0\0", 3);
    PutW("multi", REG_MULTI_SZ, multi, 6);

    struct Case {
        const char* name;
        uint32_t expected;
    };
    const Case cases[] = {
        {"text12", 12},          {"textneg", 0xFFFFFFFFu}, {"letters", 777},
        {"expand", 40},          {"dword", 0xDEADBEEFu},   {"qword", 5},
        {"bin3", 0x030201},      {"bin12", 777},           {"multi", 777},
        {"missing", 777},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadRegDWordOrDefault(HKEY_CURRENT_USER, kBase, c.name, 777), c.expected) << c.name;
    EXPECT_EQ(ReadRegDWordOrDefault(HKEY_CURRENT_USER, std::string(kBase) + "\\Missing", "text12", 777), 777u);
}

TEST_F(KitRegistryReaders, StringReaderKeepsTheLastCharacterAndStopsAtTheFirstNul) {
    PutW("terminated", REG_SZ, std::wstring(L"abc\0", 4), 8);
    PutW("unterminated", REG_SZ, L"abc", 6);
    PutW("empty", REG_SZ, L"", 0);
    PutW("expand", REG_EXPAND_SZ, std::wstring(L"%TEMP%\0", 7), 14);
    PutW("binary", REG_BINARY, std::wstring(L"bin\0", 4), 8);
    PutW("hidden", REG_SZ, std::wstring(L"ProbeBeta\0Hidden 9.9\0", 21), 42);
    PutW("hiddenexpand", REG_EXPAND_SZ, std::wstring(L"%TEMP%\0x", 8), 16);
    const DWORD dword = 1;
    Put("dword", REG_DWORD, &dword, 4);

    EXPECT_EQ(ReadRegStringOrDefault(HKEY_CURRENT_USER, kBase, "terminated", "d"), "abc");
    EXPECT_EQ(ReadRegStringOrDefault(HKEY_CURRENT_USER, kBase, "unterminated", "d"), "abc");
    EXPECT_EQ(ReadRegStringOrDefault(HKEY_CURRENT_USER, kBase, "empty", "d"), "");
    EXPECT_EQ(ReadRegStringOrDefault(HKEY_CURRENT_USER, kBase, "expand", "d"), "%TEMP%");
    EXPECT_EQ(ReadRegStringOrDefault(HKEY_CURRENT_USER, kBase, "binary", "d"), "bin");
    EXPECT_EQ(ReadRegStringOrDefault(HKEY_CURRENT_USER, kBase, "hidden", "d"), "ProbeBeta");
    EXPECT_EQ(ReadRegStringOrDefault(HKEY_CURRENT_USER, kBase, "hiddenexpand", "d"), "%TEMP%");
    EXPECT_EQ(ReadRegStringOrDefault(HKEY_CURRENT_USER, kBase, "dword", "d"), "d");
    EXPECT_EQ(ReadRegStringOrDefault(HKEY_CURRENT_USER, kBase, "missing", "d"), "d");
}

TEST_F(KitRegistryReaders, RootKeyNamesInThePathMustNameTheRootKey) {
    Put("v", REG_SZ, "x", 2);
    const std::string sub = kBase;
    for (const std::string& path : {"HKCU\\" + sub, "\\HKEY_CURRENT_USER\\" + sub, "hkcu\\" + sub, sub})
        EXPECT_EQ(ReadRegStringOrDefault(HKEY_CURRENT_USER, path, "v", "d"), "x") << path;

    const std::string wrong = "HKLM\\" + sub;
    std::string value;
    try {
        RegReadString(HKEY_CURRENT_USER, wrong, "v", value, true);
        ADD_FAILURE() << "no exception";
    } catch (const EKitRegistryError& e) {
        EXPECT_EQ(e.Message(), "\"" + wrong + "\" does not match RootKey");
    }
    EXPECT_EQ(ReadRegStringOrDefault(HKEY_CURRENT_USER, wrong, "v", "d"), "d");
    EXPECT_EQ(ReadRegDWordOrDefault(HKEY_CURRENT_USER, wrong, "v", 5), 5u);
}

TEST_F(KitRegistryReaders, RaisingFormsNameWhatFailed) {
    const DWORD dword = 1;
    Put("dword", REG_DWORD, &dword, 4);
    const unsigned char bin12[12] = {};
    Put("bin12", REG_BINARY, bin12, 12);
    const std::string where = std::string("HKEY_CURRENT_USER\\") + kBase;
    auto message = [](auto read) {
        try {
            read();
        } catch (const EKitRegistryError& e) {
            return e.Message();
        }
        return std::string("no exception");
    };
    std::string s;
    uint32_t n = 0;
    EXPECT_EQ(message([&] { RegReadString(HKEY_CURRENT_USER, std::string(kBase) + "\\Missing", "v", s, true); }),
              "Unable to open key \"" + where + "\\Missing\" for read");
    EXPECT_EQ(message([&] { RegReadString(HKEY_CURRENT_USER, kBase, "absent", s, true); }),
              "Unable to open key \"" + where + "\" and access value \"absent\"");
    EXPECT_EQ(message([&] { RegReadString(HKEY_CURRENT_USER, kBase, "dword", s, true); }),
              "\"" + where + "\\dword\" is of wrong kind or size");
    EXPECT_EQ(message([&] { RegReadDWord(HKEY_CURRENT_USER, kBase, "bin12", n, true); }),
              "\"" + where + "\\bin12\" is of wrong kind or size");
    EXPECT_FALSE(RegReadDWord(HKEY_CURRENT_USER, kBase, "bin12", n, false));
}

// ---------------------------------------------------------------------------------------------
// Shell launches, recorded instead of opened

struct ShellRecord {
    int calls = 0;
    HWND wnd = nullptr;
    bool verbNull = false, paramsNull = false, dirNull = false;
    std::string verb, file, params;
    int show = -1;
    DWORD size = 0, mask = 0;
    INT_PTR answer = 42;
    BOOL exAnswer = TRUE;
};
ShellRecord g_shell;

HINSTANCE WINAPI FakeShellExecuteA(HWND wnd, LPCSTR verb, LPCSTR file, LPCSTR params, LPCSTR dir, INT show) {
    ++g_shell.calls;
    g_shell.wnd = wnd;
    g_shell.verbNull = verb == nullptr;
    g_shell.paramsNull = params == nullptr;
    g_shell.dirNull = dir == nullptr;
    g_shell.file = file ? file : "";
    g_shell.params = params ? params : "";
    g_shell.show = show;
    return reinterpret_cast<HINSTANCE>(g_shell.answer);
}

BOOL WINAPI FakeShellExecuteExA(SHELLEXECUTEINFOA* info) {
    ++g_shell.calls;
    g_shell.size = info->cbSize;
    g_shell.mask = info->fMask;
    g_shell.wnd = info->hwnd;
    g_shell.verbNull = info->lpVerb == nullptr;
    g_shell.verb = info->lpVerb ? info->lpVerb : "";
    g_shell.paramsNull = info->lpParameters == nullptr;
    g_shell.params = info->lpParameters ? info->lpParameters : "";
    g_shell.dirNull = info->lpDirectory == nullptr;
    g_shell.file = info->lpFile ? info->lpFile : "";
    g_shell.show = info->nShow;
    return g_shell.exAnswer;
}

class KitShell : public ::testing::Test {
protected:
    void SetUp() override {
        g_shell = ShellRecord{};
        KitShellApi() = TKitShellApi{FakeShellExecuteA, FakeShellExecuteExA};
    }
    void TearDown() override { KitShellApi() = RealKitShellApi(); }
};

TEST_F(KitShell, ShellOpenSucceedsAboveThirtyTwo) {
    const struct {
        INT_PTR answer;
        bool expected;
    } cases[] = {{0, false}, {2, false}, {32, false}, {33, true}, {42, true}};
    for (const auto& c : cases) {
        g_shell.answer = c.answer;
        EXPECT_EQ(ShellOpen(reinterpret_cast<HWND>(0x1234), "", "https://example.invalid/page", SW_SHOWNORMAL, "", ""),
                  c.expected)
            << c.answer;
    }
    EXPECT_EQ(g_shell.wnd, reinterpret_cast<HWND>(0x1234));
    EXPECT_TRUE(g_shell.verbNull);
    EXPECT_TRUE(g_shell.dirNull);
    EXPECT_TRUE(g_shell.paramsNull);
    EXPECT_EQ(g_shell.file, "https://example.invalid/page");
    EXPECT_EQ(g_shell.show, SW_SHOWNORMAL);
}

TEST_F(KitShell, ShellRunPassesEmptyTextsAsNullPointers) {
    EXPECT_TRUE(ShellRun("C:\\some\\VoltAtlas.log", "", "", SW_SHOWNORMAL));
    EXPECT_EQ(g_shell.size, sizeof(SHELLEXECUTEINFOA));
    EXPECT_EQ(g_shell.mask, 0x600u);
    EXPECT_EQ(g_shell.wnd, nullptr);
    EXPECT_TRUE(g_shell.verbNull);
    EXPECT_TRUE(g_shell.paramsNull);
    EXPECT_TRUE(g_shell.dirNull);
    EXPECT_EQ(g_shell.file, "C:\\some\\VoltAtlas.log");
    EXPECT_EQ(g_shell.show, SW_SHOWNORMAL);

    g_shell.exAnswer = FALSE;
    EXPECT_FALSE(ShellRun("x.exe", "/a b", "open", SW_HIDE));
    EXPECT_EQ(g_shell.params, "/a b");
    EXPECT_EQ(g_shell.verb, "open");
    EXPECT_EQ(g_shell.show, SW_HIDE);
}

TEST(KitShellReal, ShellRunOfAMissingFileFails) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    EXPECT_FALSE(ShellRun(std::string(temp) + "no-such-file-va.xyz", "", "", SW_SHOWNORMAL));
}

// ---------------------------------------------------------------------------------------------
// Administrator test

bool MemberByCheck(DWORD rid, HANDLE token) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    EXPECT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, rid, 0, 0, 0, 0, 0, 0, &sid));
    BOOL member = FALSE;
    EXPECT_TRUE(CheckTokenMembership(token, sid, &member));
    FreeSid(sid);
    return member != FALSE;
}

TEST(KitAdmin, AgreesWithTheSystemsMembershipCheck) {
    EXPECT_EQ(UserIsAdmin(), MemberByCheck(DOMAIN_ALIAS_RID_ADMINS, nullptr));
    EXPECT_EQ(IsTokenInAliasGroup(DOMAIN_ALIAS_RID_GUESTS), MemberByCheck(DOMAIN_ALIAS_RID_GUESTS, nullptr));
}

// An elevated-capable user without elevation holds the Administrators group for deny only.
TEST(KitAdmin, ADenyOnlyAdministratorsGroupIsNoAdministrator) {
    if (!UserIsAdmin()) GTEST_SKIP() << "the test user is no administrator";
    HANDLE process = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &process));
    framework::UniqueKernelHandle processToken(process);
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                         0, 0, &admins));
    SID_AND_ATTRIBUTES disable{admins, 0};
    HANDLE restricted = nullptr;
    const BOOL made = CreateRestrictedToken(process, 0, 1, &disable, 0, nullptr, 0, nullptr, &restricted);
    FreeSid(admins);
    ASSERT_TRUE(made) << GetLastError();
    framework::UniqueKernelHandle restrictedToken(restricted);
    HANDLE impersonation = nullptr;
    ASSERT_TRUE(DuplicateToken(restricted, SecurityImpersonation, &impersonation));
    framework::UniqueKernelHandle impersonationToken(impersonation);

    ASSERT_TRUE(SetThreadToken(nullptr, impersonation));
    const bool asRestricted = UserIsAdmin();
    RevertToSelf();
    EXPECT_FALSE(asRestricted);
    EXPECT_TRUE(UserIsAdmin());
}

// ---------------------------------------------------------------------------------------------
// Late binding, exceptions, platform facts

TEST(KitBinding, BindsOnceAndNamesWhatIsMissing) {
    FARPROC slot = nullptr;
    BindApiEntry(slot, "kernel32.dll", "GetTickCount");
    EXPECT_EQ(slot, GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount"));

    // A filled slot is left alone: nothing is loaded or looked up.
    FARPROC filled = slot;
    EXPECT_NO_THROW(BindApiEntry(filled, "no-such-library-va.dll", "Nothing"));
    EXPECT_EQ(filled, slot);

    FARPROC empty = nullptr;
    try {
        BindApiEntry(empty, "no-such-library-va.dll", "Nothing");
        ADD_FAILURE();
    } catch (const EKitError& e) {
        EXPECT_EQ(e.Message(), "Library not found: no-such-library-va.dll");
    }
    try {
        BindApiEntry(empty, "kernel32.dll", "NoSuchEntryVa");
        ADD_FAILURE();
    } catch (const EKitError& e) {
        EXPECT_EQ(e.Message(), "Function not found: kernel32.dll.NoSuchEntryVa");
    }
    EXPECT_EQ(empty, nullptr);
}

TEST(KitBinding, LateBoundCancelIoReachesTheSystem) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    framework::UniqueHandle file(CreateFileA((std::string(temp) + "va-cancelio.tmp").c_str(), GENERIC_READ | GENERIC_WRITE,
                                             0, nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    ASSERT_TRUE(file.valid());
    EXPECT_TRUE(KitCancelIo(file.get()));  // nothing pending: the call still succeeds
    EXPECT_FALSE(KitCancelIo(nullptr));
}

TEST(KitErrors, Win32ErrorCarriesTheLastErrorAndItsText) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    const EKitWin32Error e("Opening failed");
    EXPECT_EQ(e.LastError, 2u);
    EXPECT_FALSE(e.LastErrorMsg.empty());
    EXPECT_EQ(e.Message(), "Win32 error: " + e.LastErrorMsg + " (2)\r\nOpening failed");
    const EKitEventError event("Failed to create event", ERROR_ACCESS_DENIED);
    EXPECT_EQ(event.LastError, 5u);
    const EKitWin32Error& asBase = event;
    EXPECT_NE(asBase.Message().find("(5)\r\nFailed to create event"), std::string::npos);
}

TEST(KitSystem, SpecialFoldersAndTheNativeProcessor) {
    char appData[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData), S_OK);
    EXPECT_EQ(SpecialFolderDirectory(CSIDL_APPDATA), appData);
    EXPECT_EQ(SpecialFolderDirectory(0x7F), "");  // no such folder
    EXPECT_EQ(ItemIdListToPath(nullptr), "");

    SYSTEM_INFO info;
    EXPECT_TRUE(QueryNativeSystemInfo(info));
    // A 64-bit process runs only on 64-bit Windows.
    EXPECT_TRUE(Is64BitSystem());
    EXPECT_TRUE(IsWinNT());
    EXPECT_EQ(RegistryViewFlag(), 0u);  // the thread view setting starts at 0: the default view
}

TEST(KitCharacters, HexDigitsReturnsAndNulCuts) {
    for (char c : std::string("0123456789ABCDEFabcdef")) EXPECT_TRUE(CharIsHexDigit(c)) << c;
    for (char c : std::string("GgXx -.\r")) EXPECT_FALSE(CharIsHexDigit(c)) << c;
    EXPECT_TRUE(CharIsReturn('\r'));
    EXPECT_TRUE(CharIsReturn('\n'));
    EXPECT_FALSE(CharIsReturn(' '));
    std::string s("abc\0def", 7);
    StrResetLength(s);
    EXPECT_EQ(s, "abc");
    std::string plain = "abc";
    StrResetLength(plain);
    EXPECT_EQ(plain, "abc");
}

}  // namespace
