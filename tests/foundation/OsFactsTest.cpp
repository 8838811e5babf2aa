#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "FoundationTestUtil.h"
#include "foundation/JoryUtils.h"
#include "framework/SysUtils.h"
#include "support/TempDir.h"

namespace {

using footest::FakeOs;

constexpr const char* kCurrentVersion = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

// Puts a machine value back as it was (or removes it) when the test ends.
class ValueGuard {
public:
    explicit ValueGuard(const char* name) : name_(name) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
        BYTE data[4096];
        DWORD size = sizeof data;
        existed_ = RegQueryValueExA(key, name, nullptr, &type_, data, &size) == ERROR_SUCCESS;
        if (existed_) data_.assign(reinterpret_cast<char*>(data), size);
        RegCloseKey(key);
    }
    ~ValueGuard() {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
        if (existed_)
            RegSetValueExA(key, name_.c_str(), 0, type_, reinterpret_cast<const BYTE*>(data_.data()),
                           static_cast<DWORD>(data_.size()));
        else
            RegDeleteValueA(key, name_.c_str());
        RegCloseKey(key);
    }
    void Set(const std::string& text) const {
        HKEY key;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, name_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void Remove() const {
        HKEY key;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
        RegDeleteValueA(key, name_.c_str());
        RegCloseKey(key);
    }

private:
    std::string name_;
    bool existed_ = false;
    DWORD type_ = REG_SZ;
    std::string data_;
};

TEST(OsFacts, NtVersionTextsFromTheWorkstationVersion) {
    struct Case {
        DWORD major, minor;
        int32_t build;
        const char* expected;
    };
    const Case cases[] = {
        {5, 0, 2195, "5.0 (Windows 2000)"},
        {5, 1, 2600, "5.1 (Windows XP)"},
        {5, 2, 3790, "5.2 (Windows 2003)"},
        {6, 0, 6002, "6.0 (Vista)"},
        {6, 1, 7601, "6.1 (Seven)"},
        {6, 2, 9200, "6.2 (Windows8)"},
        {6, 3, 9600, "6.3 (Windows8.1)"},
        {6, 4, 9841, "6.4"},
        {10, 1, 1, "10.1"},
        {10, 0, 19045, "10.0.19045 (Windows10)"},
        {10, 0, 19999, "10.0.19999 (Windows10)"},
        {10, 0, 20000, "11.0.20000 (Windows11)"},
        {10, 0, 22631, "11.0.22631 (Windows11)"},
        {10, 0, 0, "10.0.0 (Windows10)"},
        {10, 0, -1, "10.0.-1 (Windows10)"},
    };
    FakeOs os;
    for (const Case& c : cases) {
        os.major = c.major;
        os.minor = c.minor;
        os.freed.clear();
        EXPECT_EQ(GetNTVersionText(c.build), c.expected) << c.major << "." << c.minor << " " << c.build;
        // What the workstation query hands out is given back, once.
        ASSERT_EQ(os.freed.size(), 1u);
        EXPECT_EQ(os.freed[0], &os.info);
    }
    os.wkstaOk = false;
    os.freed.clear();
    EXPECT_EQ(GetNTVersionText(22631), "Unknown");
    EXPECT_TRUE(os.freed.empty());
}

TEST(OsFacts, NinetyFiveFamilyTexts) {
    struct Case {
        DWORD major, minor;
        const char* csd;
        const char* expected;
    };
    const Case cases[] = {
        {4, 0, "", "4.0 (95)"},      {4, 10, " A ", "4.10 (98SE)"}, {4, 10, "", "4.10 (98)"},
        {4, 10, " B ", "4.10 (98)"}, {4, 90, "", "4.90 (ME)"},      {4, 3, "", "4.3 (Unknown)"},
    };
    FakeOs os;
    os.version.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    for (const Case& c : cases) {
        os.version.dwMajorVersion = c.major;
        os.version.dwMinorVersion = c.minor;
        strcpy(os.version.szCSDVersion, c.csd);
        EXPECT_EQ(GetOSVersionText(), c.expected) << c.expected;
    }
    EXPECT_EQ(os.wkstaCalls, 0);
    os.version.dwPlatformId = 3;  // CE
    EXPECT_EQ(GetOSVersionText(), "Unknown");
    os.versionOk = false;
    EXPECT_EQ(GetOSVersionText(), "Unknown");
}

TEST(OsFacts, NtTextTakesTheBuildNumberFromTheRegistry) {
    const ValueGuard build("CurrentBuildNumber");
    FakeOs os;
    os.major = 10;
    os.minor = 0;
    const struct {
        const char* stored;
        const char* expected;
    } cases[] = {
        {"22631", "11.0.22631 (Windows11)"},
        {"19045", "10.0.19045 (Windows10)"},
        {"20000", "11.0.20000 (Windows11)"},
        {"abc", "10.0.0 (Windows10)"},
        {"", "10.0.0 (Windows10)"},
    };
    for (const auto& c : cases) {
        build.Set(c.stored);
        EXPECT_EQ(GetCurrentBuildNumber(), c.stored);
        EXPECT_EQ(GetOSVersionText(), c.expected) << c.stored;
    }
    build.Remove();
    EXPECT_EQ(GetCurrentBuildNumber(), "");
    EXPECT_EQ(GetOSVersionText(), "10.0.0 (Windows10)");

    // A failing workstation query is "Unknown" even with a readable build number.
    build.Set("22631");
    os.wkstaOk = false;
    EXPECT_EQ(GetOSVersionText(), "Unknown");
}

// The readers need read access only: a CurrentVersion key that refuses writes to everyone
// must still give its values.
TEST(OsFacts, CurrentVersionIsReadWithReadAccessOnly) {
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, READ_CONTROL | WRITE_DAC, &key), ERROR_SUCCESS);
    DWORD size = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<BYTE> original(size);
    ASSERT_EQ(RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, original.data(), &size), ERROR_SUCCESS);

    PSECURITY_DESCRIPTOR readOnly = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KRWD;;;WD)", SDDL_REVISION_1, &readOnly,
                                                                     nullptr));
    ASSERT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, readOnly), ERROR_SUCCESS);
    LocalFree(readOnly);

    HKEY probe;
    const LONG fullAccess = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_ALL_ACCESS, &probe);
    if (fullAccess == ERROR_SUCCESS) RegCloseKey(probe);
    std::string expected;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_READ, &probe) == ERROR_SUCCESS) {
        char text[64] = {};
        DWORD len = sizeof text;
        if (RegQueryValueExA(probe, "CurrentBuildNumber", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &len) ==
            ERROR_SUCCESS)
            expected = text;
        RegCloseKey(probe);
    }
    const std::string build = GetCurrentBuildNumber();

    EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, original.data()), ERROR_SUCCESS);
    RegCloseKey(key);

    EXPECT_EQ(fullAccess, ERROR_ACCESS_DENIED) << "the key did not refuse full access";
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(build, expected);
}

TEST(OsFacts, ReactOsIsRecognisedByItsProductName) {
    const ValueGuard product("ProductName");
    const ValueGuard buildLab("BuildLab");
    const ValueGuard systemRoot("SystemRoot");
    testsupport::TempDir emptyRoot;

    buildLab.Set("0.4.14-release");
    product.Set("Microsoft Windows 10 Pro");
    EXPECT_EQ(GetReactOSVersionText(), "");

    product.Set("ReactOS");
    buildLab.Remove();
    EXPECT_EQ(GetReactOSVersionText(), "");

    product.Set("reactos");
    buildLab.Set("0.4.14-release-15-gb6088a6");
    EXPECT_EQ(GetReactOSVersionText(), "0.4.14-release-15-gb6088a6");

    // An unknown build lab is completed with the file version of the shell in SystemRoot.
    buildLab.Set("0.4.15-dev-UNKNOWN");
    EXPECT_TRUE(std::regex_match(GetReactOSVersionText(), std::regex(R"(\d+\.\d+\.\d+\.\d+ \(0\.4\.15-dev-UNKNOWN\))")))
        << GetReactOSVersionText();
    systemRoot.Set(framework::ExcludeTrailingPathDelimiter(emptyRoot.Path()));
    EXPECT_EQ(GetReactOSVersionText(), "File not found (0.4.15-dev-UNKNOWN)");
}

TEST(OsFacts, PreVistaFromTheSystemsOwnVersion) {
    FakeOs os;
    // The workstation query failing (its service stopped) must not make Windows 10 "pre-Vista".
    const struct {
        bool rtlOk;
        DWORD rtlMajor;
        bool wkstaOk;
        DWORD wkstaMajor;
        bool expected;
    } cases[] = {{true, 5, true, 10, true},    {true, 6, true, 5, false},  {true, 10, false, 0, false},
                 {false, 0, true, 6, false},   {false, 0, true, 5, true},  {false, 0, false, 0, true}};
    for (const auto& c : cases) {
        os.rtlOk = c.rtlOk;
        os.rtlMajor = c.rtlMajor;
        os.wkstaOk = c.wkstaOk;
        os.major = c.wkstaMajor;
        os.freed.clear();
        os.wkstaCalls = 0;
        EXPECT_EQ(IsPreVista(), c.expected) << c.rtlOk << " " << c.rtlMajor << " " << c.wkstaOk << " " << c.wkstaMajor;
        EXPECT_EQ(os.wkstaCalls, c.rtlOk ? 0 : 1) << "the workstation is asked only without an answer from ntdll";
        EXPECT_EQ(os.freed.size(), (!c.rtlOk && c.wkstaOk) ? 1u : 0u);
    }
    // No RtlGetVersion at all: the workstation answers.
    os.haveRtl = false;
    os.wkstaOk = true;
    os.major = 6;
    EXPECT_FALSE(IsPreVista());
    // The real system under Wine (Windows 10 by default).
    JoryOsApi() = RealJoryOsApi();
    EXPECT_FALSE(IsPreVista());
}

TEST(OsFacts, Wow64AnswersAndFailures) {
    {
        FakeOs os;
        os.isWow64Answer = true;
        EXPECT_TRUE(IsWow64());
        os.isWow64Answer = false;
        EXPECT_FALSE(IsWow64());
        EXPECT_EQ(os.loads, 2);
        EXPECT_EQ(os.frees, 2);

        // A 32-bit Windows without IsWow64Process: no error.
        os.haveIsWow64 = false;
        EXPECT_FALSE(IsWow64());
        EXPECT_EQ(os.frees, 3);

        os.haveIsWow64 = true;
        os.isWow64Fails = true;
        try {
            IsWow64();
            ADD_FAILURE() << "no exception";
        } catch (const framework::EOSError& e) {
            EXPECT_EQ(e.ErrorCode, static_cast<DWORD>(ERROR_ACCESS_DENIED));
        }
        EXPECT_EQ(os.frees, 4);

        os.loadOk = false;
        EXPECT_THROW(IsWow64(), framework::EOSError);
        // The 64-bit build is on 64-bit Windows whatever the WOW64 answer.
        EXPECT_TRUE(Is64BitWindows());
    }
    // The real answers of a 64-bit process.
    EXPECT_FALSE(IsWow64());
    EXPECT_TRUE(Is64BitWindows());
}

TEST(OsFacts, RedirectionSwitchNeedsBothEntryPoints) {
    FakeOs os;
    EXPECT_TRUE(DisableWow64Redirection(true));
    EXPECT_TRUE(DisableWow64Redirection(true));
    EXPECT_TRUE(DisableWow64Redirection(false));
    EXPECT_EQ(os.disables, 2);
    EXPECT_EQ(os.enables, 1);
    EXPECT_EQ(os.enableArgs, std::vector<BOOLEAN>{TRUE});

    os.haveEnable = false;
    EXPECT_TRUE(DisableWow64Redirection(true));
    EXPECT_TRUE(DisableWow64Redirection(false));
    os.haveEnable = true;
    os.haveDisable = false;
    EXPECT_TRUE(DisableWow64Redirection(false));
    os.loadOk = false;  // no kernel32 module at all
    EXPECT_TRUE(DisableWow64Redirection(false));
    EXPECT_EQ(os.disables, 2);
    EXPECT_EQ(os.enables, 1);
}

// Run by the CTest steps that switch Wine's Windows version (tests.cmake); skipped otherwise.
TEST(OsFactsUnderWine, VersionTextOfTheRunningSystem) {
    const char* expected = std::getenv("VA_EXPECT_OS_TEXT");
    if (!expected) GTEST_SKIP() << "VA_EXPECT_OS_TEXT not set";
    EXPECT_EQ(GetOSVersionText(), expected);
    EXPECT_EQ(GetReactOSVersionText(), "");
    if (const char* preVista = std::getenv("VA_EXPECT_PRE_VISTA")) {
        EXPECT_EQ(IsPreVista(), std::string(preVista) == "1");
    }
}

}  // namespace
