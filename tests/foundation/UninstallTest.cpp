#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/JoryUtils.h"
#include "framework/Registry.h"
#include "framework/SysUtils.h"

namespace {

using framework::TRegistry;
using framework::TStringList;

constexpr const char* kNative = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr const char* kWow = "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

enum class Hive { User, Machine, Machine32 };

struct Value {
    const char* name;
    std::string text;
    DWORD type = REG_SZ;
};

// Writes Uninstall entries into Wine's real registry and removes them afterwards.
class Uninstall : public ::testing::Test {
protected:
    void TearDown() override {
        for (const auto& [root, path] : made_) {
            TRegistry reg(root, KEY_ALL_ACCESS | KEY_WOW64_64KEY);
            reg.DeleteKey(path);
        }
        for (const std::wstring& path : madeWide_) RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    }

    void Entry(Hive hive, const std::string& subkey, const std::vector<Value>& values) {
        const HKEY root = hive == Hive::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        const std::string path = std::string(hive == Hive::Machine32 ? kWow : kNative) + subkey;
        TRegistry reg(root, KEY_ALL_ACCESS | KEY_WOW64_64KEY);
        ASSERT_TRUE(reg.OpenKey(path, true)) << path;
        made_.push_back({root, path});
        for (const Value& v : values) {
            if (v.type == REG_DWORD)
                reg.WriteInteger(v.name, std::stoi(v.text));
            else if (v.type == REG_EXPAND_SZ)
                reg.WriteExpandString(v.name, v.text);
            else
                reg.WriteString(v.name, v.text);
        }
    }

    // A value the ANSI code page cannot spell, stored as it is.
    void WideValue(Hive hive, const std::string& subkey, const std::string& name, const std::wstring& text) {
        const HKEY root = hive == Hive::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        TRegistry reg(root, KEY_ALL_ACCESS | KEY_WOW64_64KEY);
        ASSERT_TRUE(reg.OpenKey(std::string(hive == Hive::Machine32 ? kWow : kNative) + subkey, false));
        reg.WriteString(name, text);
    }
    static int IndexOf(const TStringList& list, const std::string& s) {
        for (int i = 0; i < list.Count(); ++i)
            if (list[i] == s) return i;
        return -1;
    }

    std::vector<std::pair<HKEY, std::string>> made_;
    std::vector<std::wstring> madeWide_;  // HKCU entries whose names ANSI cannot spell
};

TEST_F(Uninstall, ListShowsEveryKeyWithDisplayNamesOrSubkeyNames) {
    Entry(Hive::User, "VaTestUserNamed", {{"DisplayName", "Zorblat User"}});
    Entry(Hive::User, "VaTestNoName", {{"DisplayVersion", "1.0"}});
    Entry(Hive::User, "VaTestExpand", {{"DisplayName", "Zorblat Expand", REG_EXPAND_SZ}});
    Entry(Hive::Machine, "VaTestMachine", {{"DisplayName", "Zorblat Machine"}});
    Entry(Hive::Machine32, "VaTestThirtyTwo", {{"DisplayName", "Zorblat Thirty-Two"}});

    TStringList names, errors;
    errors.Add("stale");
    ListInstalledSoftware(names, errors);
    EXPECT_EQ(errors.Count(), 0) << errors.Text();

    const int user = IndexOf(names, std::string("HKEY_CURRENT_USER\\") + kNative);
    const int machine = IndexOf(names, std::string("HKEY_LOCAL_MACHINE\\") + kNative);
    const int machine32 = IndexOf(names, std::string("HKEY_LOCAL_MACHINE\\") + kWow);
    ASSERT_EQ(user, 0) << names.Text();
    ASSERT_GT(machine, user);
    ASSERT_GT(machine32, machine);
    auto under = [&](const std::string& name, int from, int to) {
        const int at = IndexOf(names, name);
        return at > from && (to < 0 || at < to);
    };
    EXPECT_TRUE(under("Zorblat User", user, machine)) << names.Text();
    EXPECT_TRUE(under("VaTestNoName", user, machine)) << names.Text();
    EXPECT_TRUE(under("VaTestExpand", user, machine)) << names.Text();  // an expandable name does not count
    EXPECT_EQ(IndexOf(names, "Zorblat Expand"), -1);
    EXPECT_TRUE(under("Zorblat Machine", machine, machine32)) << names.Text();
    EXPECT_TRUE(under("Zorblat Thirty-Two", machine32, -1)) << names.Text();
}

// An entry whose key name holds characters outside the ANSI code page (two Greek omicrons) is
// read like any other: its ANSI spelling "Pr??beOmicron" names no key.
TEST_F(Uninstall, EntriesWhoseKeyNamesAnsiCannotSpell) {
    const std::wstring path = framework::AnsiToWide(kNative) + L"Pr\u03bf\u03bfbeOmicron";
    TRegistry reg(HKEY_CURRENT_USER, KEY_ALL_ACCESS);
    ASSERT_TRUE(reg.OpenKey(path, true));
    madeWide_.push_back(path);
    reg.WriteString("DisplayName", "Zorblat Omicron");
    reg.WriteString("DisplayVersion", "4.2.1");
    reg.CloseKey();

    TStringList names, errors;
    ListInstalledSoftware(names, errors);
    EXPECT_EQ(errors.Count(), 0) << errors.Text();
    EXPECT_GE(IndexOf(names, "Zorblat Omicron"), 0) << names.Text();
    EXPECT_TRUE(IsSoftwareInstalled("Zorblat Omicron"));
    EXPECT_EQ(GetUninstallVersion("Zorblat Omicron"), "4.2.1");
    EXPECT_EQ(GetUninstallVersionInFolder("Zorblat Omicron", ""), "4.2.1");
}

// A display name stored with a NUL inside reads up to that NUL, as Windows shows it: what
// hides behind it is matched by no lookup.
TEST_F(Uninstall, DisplayNamesEndAtTheirFirstNul) {
    Entry(Hive::User, "VaTestHiddenTail", {{"DisplayVersion", "9.9"}});
    {
        TRegistry reg(HKEY_CURRENT_USER, KEY_ALL_ACCESS | KEY_WOW64_64KEY);
        ASSERT_TRUE(reg.OpenKey(std::string(kNative) + "VaTestHiddenTail", false));
        const std::wstring name(L"ProbeBeta\0Hidden 9.9\0", 21);
        reg.WriteRawData("DisplayName", REG_SZ, name.data(), static_cast<DWORD>(name.size() * sizeof(wchar_t)));
    }
    TStringList names, errors;
    ListInstalledSoftware(names, errors);
    EXPECT_GE(IndexOf(names, "ProbeBeta"), 0) << names.Text();
    EXPECT_EQ(GetUninstallVersion("Hidden"), "");
    EXPECT_EQ(GetUninstallVersion("ProbeBeta"), "9.9");
}

TEST_F(Uninstall, InstalledOrPortableDecision) {
    const std::string product = "Quillmark VoltAtlas";
    ASSERT_FALSE(IsSoftwareInstalled(product)) << "an entry of the product is left in the registry";
    EXPECT_TRUE(IsSoftwareInstalled(""));  // every line starts with the empty text

    // What a 32-bit installer wrote counts on 64-bit Windows too.
    Entry(Hive::Machine32, "VaTestVoltAtlas32", {{"DisplayName", "Quillmark VoltAtlas 1.0.0.1"}});
    EXPECT_TRUE(IsSoftwareInstalled(product));
    TearDown();
    made_.clear();

    Entry(Hive::User, "VaTestVoltAtlasUser", {{"DisplayName", "quillmark voltatlas"}});
    EXPECT_TRUE(IsSoftwareInstalled(product));
    TearDown();
    made_.clear();

    // Without a display name the subkey name stands for it; an expandable one is no name.
    Entry(Hive::Machine, "Quillmark VoltAtlas_is1", {{"Publisher", "Quillmark"}});
    EXPECT_TRUE(IsSoftwareInstalled(product));
    TearDown();
    made_.clear();
    Entry(Hive::Machine, "VaTestExpandName", {{"DisplayName", "Quillmark VoltAtlas", REG_EXPAND_SZ}});
    EXPECT_FALSE(IsSoftwareInstalled(product));

    Entry(Hive::Machine, "VaTestOther", {{"DisplayName", "Quillmark Other Tool"}});
    EXPECT_FALSE(IsSoftwareInstalled(product));
}

TEST_F(Uninstall, HighestRegisteredVersion) {
    Entry(Hive::Machine, "VaTestZ19", {{"DisplayName", "Zorblat 1.9"}, {"DisplayVersion", "1.9"}});
    Entry(Hive::Machine, "VaTestZ110", {{"DisplayName", "Zorblat 1.10"}, {"DisplayVersion", "V 1.10 "}});
    Entry(Hive::Machine, "VaTestZExp",
          {{"DisplayName", "Zorblat 9.9", REG_EXPAND_SZ}, {"DisplayVersion", "9.9"}});  // invisible
    EXPECT_EQ(GetUninstallVersion("zorblat"), "1.10");
    EXPECT_EQ(UninstallVersionWithout("zorblat", "legacy"), "1.10");

    Entry(Hive::Machine32, "VaTestZLegacy", {{"DisplayName", "Zorblat Legacy"}, {"DisplayVersion", "2.0"}});
    EXPECT_EQ(GetUninstallVersion("ZORBLAT"), "2.0");
    EXPECT_EQ(UninstallVersionWith("zorblat", "legacy"), "2.0");
    EXPECT_EQ(UninstallVersionWithout("zorblat", "legacy"), "1.10");

    // An empty machine answer sends the lookup to the user's entries.
    Entry(Hive::Machine, "VaTestQuux", {{"DisplayName", "Quuxle"}, {"DisplayVersion", ""}});
    Entry(Hive::User, "VaTestQuuxUser", {{"DisplayName", "Quuxle for me"}, {"DisplayVersion", "3.1"}});
    EXPECT_EQ(GetUninstallVersion("quuxle"), "3.1");
    EXPECT_EQ(UninstallVersionWith("quuxle", "me"), "");  // machine-wide only

    // A version stored as a number is no version text: no error, and the user's entry answers.
    Entry(Hive::Machine, "VaTestFrob", {{"DisplayName", "Frobnic"}, {"DisplayVersion", "5", REG_DWORD}});
    EXPECT_EQ(GetUninstallVersion("frobnic"), "");
    Entry(Hive::User, "VaTestFrobUser", {{"DisplayName", "Frobnic"}, {"DisplayVersion", "1.0"}});
    EXPECT_EQ(GetUninstallVersion("frobnic"), "1.0");

    EXPECT_EQ(GetUninstallVersion("nothing-like-this"), "");
}

TEST_F(Uninstall, EntriesFoundByTheirFolder) {
    Entry(Hive::Machine, "VaTestBlip",
          {{"DisplayName", "Blip Tool"}, {"DisplayVersion", "4.0"}, {"Publisher", "Blip Inc"},
           {"InstallLocation", "C:\\Apps\\Blip"}});
    Entry(Hive::User, "VaTestBlop",
          {{"DisplayName", "Blop"}, {"DisplayVersion", "5.0"}, {"Publisher", "Blop Ltd"},
           {"DisPlayIcon", "C:\\Apps\\Blop\\blop.exe,0"}});
    Entry(Hive::Machine32, "VaTestBlup",
          {{"DisplayName", "Blup"}, {"DisplayVersion", "6.0"}, {"Publisher", "Blup Co", REG_EXPAND_SZ},
           {"DisPlayIcon", "C:\\Elsewhere\\blup.ico"}, {"UninstallString", "C:\\Apps\\Blup\\unins000.exe"}});
    Entry(Hive::Machine, "VaTestBlep",
          {{"DisplayName", "Blep"}, {"DisplayVersion", "7.0"}, {"InstallLocation", "C:\\Apps\\Other"},
           {"DisPlayIcon", "C:\\Apps\\Blep\\blep.exe"}});
    Entry(Hive::Machine, "VaTestInno",
          {{"DisplayName", "Innotool version 2.1"}, {"InstallLocation", "C:\\Apps\\Inno\\"},
           {"Inno Setup: Icon Group", "Innotool"}});
    Entry(Hive::Machine, "VaTestQuote",
          {{"DisplayName", "Quote"}, {"DisplayVersion", "8.0"}, {"DisPlayIcon", "\"C:\\Apps\\Quote\\q.exe\""}});

    const struct {
        const char* name;
        const char* folder;
        const char* version;
    } versions[] = {
        {"blip", "c:\\apps\\blip\\", "4.0"},  // InstallLocation
        {"blop", "C:\\Apps\\Blop", "5.0"},    // folder of DisPlayIcon (user entry)
        {"blup", "C:\\Apps\\Blup", "6.0"},    // folder of UninstallString (32-bit entry)
        {"blep", "C:\\Apps\\Blep", ""},       // InstallLocation names another folder: final
        {"blep", "C:\\Apps\\Other", "7.0"},
        {"blip", "", "4.0"},                  // no folder test
        {"quote", "C:\\Apps\\Quote", ""},     // quotes are not removed
        {"blip", "C:\\Apps\\Blop", ""},
    };
    for (const auto& v : versions)
        EXPECT_EQ(GetUninstallVersionInFolder(v.name, v.folder), v.version) << v.name << " in " << v.folder;

    const struct {
        const char* folder;
        const char* displayName;
        const char* publisher;
    } folders[] = {
        {"C:\\Apps\\Blip", "Blip Tool", "Blip Inc"},
        {"C:\\Apps\\Blop\\", "Blop", "Blop Ltd"},
        {"C:\\Apps\\Blup", "", ""},        // UninstallString is not looked at here
        {"C:\\Elsewhere", "Blup", ""},     // an expandable Publisher does not count
        {"C:\\Apps\\Blep", "", ""},        // no fall-back to DisPlayIcon
        {"C:\\Apps\\Inno", "Innotool", ""},
        {"C:\\Apps\\None", "", ""},
    };
    for (const auto& f : folders) {
        EXPECT_EQ(GetUninstallDisplayNameForFolder(f.folder), f.displayName) << f.folder;
        EXPECT_EQ(GetUninstallPublisherForFolder(f.folder), f.publisher) << f.folder;
    }
}

TEST_F(Uninstall, VersionsAndWordsFromDisplayNames) {
    Entry(Hive::Machine, "VaTestWob110", {{"DisplayName", "Wobble 1.10"}});
    Entry(Hive::Machine, "VaTestWob19", {{"DisplayName", "Wobble 1.9"}});
    Entry(Hive::Machine, "VaTestWib", {{"DisplayName", "Wibble 2.5.1 Beta"}});
    Entry(Hive::Machine, "VaTestWub", {{"DisplayName", "Wubble 2.5 (x64)"}});
    Entry(Hive::Machine, "VaTestGadget", {{"DisplayName", "Gadget Pro - 3.2"}});
    Entry(Hive::User, "VaTestUserOnly", {{"DisplayName", "Wobble 9.0"}});  // these rows read HKLM only

    EXPECT_EQ(UninstallVersionByNameContains("wobble"), "1.10");
    EXPECT_EQ(UninstallVersionByNameContains("wibble"), "2.5.1");
    EXPECT_EQ(UninstallVersionByNameContains("wubble"), "64");
    EXPECT_EQ(UninstallVersionByFirstWord("WOBBLE"), "1.10");
    EXPECT_EQ(UninstallVersionByFirstWord("Wob"), "");
    EXPECT_EQ(UninstallLastWordByNamePrefix("gadget"), "3.2");
    EXPECT_EQ(UninstallSecondWordByFirstWord("Gadget"), "Pro");
    EXPECT_EQ(UninstallSecondWordByFirstWord("Pro"), "");

    // The 32-bit view's answer replaces the native one when it is a newer version.
    Entry(Hive::Machine32, "VaTestGadget32", {{"DisplayName", "Gadget Pro - 4.0"}});
    Entry(Hive::Machine32, "VaTestWob32", {{"DisplayName", "Wobble 1.2"}});
    EXPECT_EQ(UninstallLastWordByNamePrefix("gadget"), "4.0");
    EXPECT_EQ(UninstallVersionByNameContains("wobble"), "1.10");
}

TEST_F(Uninstall, YamicsoftManagerVersionFromTheUsersEntries) {
    Entry(Hive::User, "VaTestYam",
          {{"DisplayName", "Windows 11 Manager"}, {"Publisher", "Yamicsoft"}, {"DisplayVersion", "v1.4.3"}});
    Entry(Hive::User, "VaTestYamNoVersion", {{"DisplayName", "Windows 10 Manager"}, {"Publisher", "Yamicsoft"}});
    Entry(Hive::User, "VaTestYamOther",
          {{"DisplayName", "Windows 12 Manager"}, {"Publisher", "Someone"}, {"DisplayVersion", "9.0"}});
    Entry(Hive::Machine, "VaTestYamMachine",
          {{"DisplayName", "Windows 13 Manager"}, {"Publisher", "Yamicsoft"}, {"DisplayVersion", "8.0"}});
    EXPECT_EQ(GetYamicsoftManagerVersion(), "1.4.3");
    EXPECT_EQ(TrimVersionPrefix("V 1.2"), "1.2");
    EXPECT_EQ(TrimVersionPrefix("v1.2 "), "1.2");
    EXPECT_EQ(TrimVersionPrefix(" v 2.0"), "v 2.0");  // only a leading v counts
}

// Folders the code page cannot spell: the stored path and the folder asked for are compared
// as they are, whether the folder is asked for by its wide name or by its short form; two
// such folders, whose plain ANSI spellings may well be alike, stay apart.
TEST_F(Uninstall, EntriesFoundByAFolderOutsideTheCodePage) {
    wchar_t temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring cyrillic = std::wstring(temp) + L"\u0411\u043b\u0438\u043f";  // four letters
    const std::wstring greek = std::wstring(temp) + L"\u03b2\u03bb\u03b9\u03c0";     // four others
    ASSERT_TRUE(CreateDirectoryW(cyrillic.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CreateDirectoryW(greek.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    struct Remove {
        const std::wstring &a, &b;
        ~Remove() {
            RemoveDirectoryW(a.c_str());
            RemoveDirectoryW(b.c_str());
        }
    } remove{cyrillic, greek};
    Entry(Hive::Machine, "VaTestWideLoc", {{"DisplayName", "Wideblip"}, {"DisplayVersion", "4.1"}, {"Publisher", "Wide Inc"}});
    WideValue(Hive::Machine, "VaTestWideLoc", "InstallLocation", cyrillic + L"\\");
    Entry(Hive::User, "VaTestWideIcon", {{"DisplayName", "Wideblop"}, {"DisplayVersion", "5.1"}, {"Publisher", "Wide Ltd"}});
    WideValue(Hive::User, "VaTestWideIcon", "DisPlayIcon", greek + L"\\blop.exe,0");

    const std::string cyrillicShort = framework::PathForAnsiApi(cyrillic);
    ASSERT_EQ(cyrillicShort.find('?'), std::string::npos) << "no short name: " << cyrillicShort;
    const struct {
        const char* name;
        std::wstring folder;
        const char* version;
        const char* displayName;
        const char* publisher;
    } rows[] = {
        {"wideblip", cyrillic, "4.1", "Wideblip", "Wide Inc"},
        {"wideblip", framework::AnsiToWide(cyrillicShort), "4.1", "Wideblip", "Wide Inc"},  // its short form
        {"wideblop", greek + L"\\", "5.1", "Wideblop", "Wide Ltd"},
        {"wideblip", greek, "", "Wideblop", "Wide Ltd"},
        {"wideblop", cyrillic, "", "Wideblip", "Wide Inc"},
    };
    for (const auto& r : rows) {
        const std::string shown = framework::WideToAnsi(r.folder);
        EXPECT_EQ(GetUninstallVersionInFolder(r.name, r.folder), r.version) << r.name << " in " << shown;
        EXPECT_EQ(GetUninstallDisplayNameForFolder(r.folder), r.displayName) << shown;
        EXPECT_EQ(GetUninstallPublisherForFolder(r.folder), r.publisher) << shown;
    }
    // The short form as ANSI text reaches the same entries.
    EXPECT_EQ(GetUninstallVersionInFolder("wideblip", cyrillicShort), "4.1");
    EXPECT_EQ(GetUninstallPublisherForFolder(cyrillicShort), "Wide Inc");
}

}  // namespace
