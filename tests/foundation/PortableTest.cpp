#include <windows.h>
#include <shlobj.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "FoundationTestUtil.h"
#include "components/KitSysUtils.h"
#include "foundation/JoryUtils.h"
#include "foundation/Log.h"
#include "framework/IniFile.h"
#include "framework/Handles.h"
#include "framework/Registry.h"
#include "framework/SysUtils.h"
#include "support/FileBytes.h"
#include "support/NoShortNames.h"
#include "support/TempDir.h"

namespace {

using framework::FileExists;
using framework::TRegistry;
using testsupport::TempDir;

constexpr const char* kProduct = "VoltAtlasTest";
constexpr const char* kCompanyKey = "SOFTWARE\\Quillmark";
const std::string kProductKey = std::string(kCompanyKey) + "\\" + kProduct;

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string AppData() { return SpecialFolderDirectory(CSIDL_APPDATA); }

// ---------------------------------------------------------------------------------------------
// settings.ini import and export

class PortableSettings : public ::testing::Test {
protected:
    void SetUp() override { DeleteProductSettingsKey(kProduct); }
    void TearDown() override {
        DeleteProductSettingsKey(kProduct);
        DeleteCompanyValue(kProduct);
        DeleteCompanyKeyIfEmpty();
    }

    static DWORD TypeOf(const TRegistry& reg, const char* name) {
        framework::TRegDataInfo info;
        return reg.GetDataInfo(name, info) ? info.RegType : REG_NONE;
    }

    static void FillKey() {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kProductKey, true));
        reg.WriteString("MinSysTray", "1");
        reg.WriteString("Path", "C:\\Program Files\\Volt Atlas\\VoltAtlas.exe");
        reg.WriteString("Western", "caf\xE9");
        reg.WriteInteger("Count", 7);
        reg.WriteInteger("High", static_cast<int32_t>(0x80000000u));
        reg.WriteInteger("Max", -1);
        reg.WriteExpandString("Exp", "%TEMP%");
        reg.WriteBinaryData("Bin", "\x01\x02");
    }
};

TEST_F(PortableSettings, ImportCopiesStringsAndIntegers) {
    TempDir dir;
    ASSERT_TRUE(framework::WriteFileBytes(dir.File("settings.ini"),
                                          "[Settings]\r\nMinSysTray=1\r\nPath=C:\\x y\\z.exe\r\nEmpty=\r\n"
                                          "[Settings_DWORD]\r\nabc=abc\r\nhex=0x10\r\nneg=-1\r\ndollar=$FF\r\n"
                                          "max=2147483647\r\n"));
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kProductKey, true));
        reg.WriteString("Keep", "old");
        reg.WriteString("MinSysTray", "0");
    }
    ImportIniSettings(kProduct, dir.File("settings.ini"));

    TRegistry reg(HKEY_CURRENT_USER, KEY_READ);
    ASSERT_TRUE(reg.OpenKey(kProductKey, false));
    EXPECT_EQ(reg.ReadString("MinSysTray"), "1");
    EXPECT_EQ(reg.ReadString("Path"), "C:\\x y\\z.exe");
    EXPECT_EQ(reg.ReadString("Empty"), "");
    EXPECT_EQ(TypeOf(reg, "Empty"), static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(reg.ReadString("Keep"), "old");  // values the file does not name stay
    const struct {
        const char* name;
        uint32_t value;
    } numbers[] = {{"abc", 0}, {"hex", 16}, {"neg", 0xFFFFFFFFu}, {"dollar", 255}, {"max", 0x7FFFFFFFu}};
    for (const auto& n : numbers) {
        EXPECT_EQ(TypeOf(reg, n.name), static_cast<DWORD>(REG_DWORD)) << n.name;
        EXPECT_EQ(static_cast<uint32_t>(reg.ReadInteger(n.name)), n.value) << n.name;
    }
}

TEST_F(PortableSettings, ImportOfAMissingFileChangesNothing) {
    TempDir dir;
    ImportIniSettings(kProduct, dir.File("settings.ini"));
    TRegistry reg(HKEY_CURRENT_USER, KEY_READ);
    ASSERT_TRUE(reg.OpenKey(kProductKey, false));  // opened with creation
    framework::TStringList names;
    reg.GetValueNames(names);
    EXPECT_EQ(names.Count(), 0);
    EXPECT_FALSE(Exists(dir.File("settings.ini")));
}

// The files are read back by python's configparser in the CTest step foundation_settings_ini.
TEST_F(PortableSettings, ExportWritesStringsAndDWordsAndReimportsTheSame) {
    const std::string ini = footest::OutputFolder() + "settings.ini";
    SetFileAttributesA(ini.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(framework::WriteFileBytes(ini, "[Settings]\r\nOther=kept\r\n"));
    FillKey();

    ASSERT_TRUE(ExportIniSettings(kProduct, ini));
    std::string text;
    ASSERT_TRUE(framework::ReadFileBytes(ini, text));
    EXPECT_NE(text.find("High=-2147483648"), std::string::npos) << text;
    EXPECT_EQ(text.find("Exp"), std::string::npos) << text;
    EXPECT_EQ(text.find("Bin"), std::string::npos) << text;
    {
        TRegistry reg(HKEY_CURRENT_USER, KEY_READ);  // the export never writes to the key
        ASSERT_TRUE(reg.OpenKey(kProductKey, false));
        EXPECT_EQ(reg.ReadString("Exp"), "%TEMP%");
    }
    // The same into a file saved as UTF-16 LE, which the check reads as such.
    const std::string utf16 = footest::OutputFolder() + "settings-utf16.ini";
    SetFileAttributesA(utf16.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(framework::WriteFileBytes(utf16, testsupport::Utf16LeBytes(L"[Settings]\r\nOther=kept\r\n")));
    ASSERT_TRUE(ExportIniSettings(kProduct, utf16));

    DeleteProductSettingsKey(kProduct);
    ImportIniSettings(kProduct, ini);
    TRegistry reg(HKEY_CURRENT_USER, KEY_READ);
    ASSERT_TRUE(reg.OpenKey(kProductKey, false));
    EXPECT_EQ(reg.ReadString("MinSysTray"), "1");
    EXPECT_EQ(reg.ReadString("Path"), "C:\\Program Files\\Volt Atlas\\VoltAtlas.exe");
    EXPECT_EQ(reg.ReadString("Western"), "caf\xE9");
    EXPECT_EQ(reg.ReadString("Other"), "kept");
    EXPECT_EQ(reg.ReadInteger("Count"), 7);
    EXPECT_EQ(static_cast<uint32_t>(reg.ReadInteger("High")), 0x80000000u);
    EXPECT_EQ(reg.ReadInteger("Max"), -1);
    EXPECT_FALSE(reg.ValueExists("Exp"));
    EXPECT_FALSE(reg.ValueExists("Bin"));
}

// Every string comes back as stored, or not at all (with an Error line): a line break must
// not make an entry of its own, the profile service's trimming and quote removal must not
// change a value.
TEST_F(PortableSettings, StringsRoundTripExactlyOrAreLeftOut) {
    const struct {
        const char* name;
        std::string value;
        bool kept;
    } cases[] = {
        {"Plain", "1", true},
        {"CrLf", "a\r\nMinSysTray2=evil", false},
        {"Lf", "a\n[Settings_DWORD]\nEvil=1", false},
        {"Cr", "a\rb", false},
        {"Leading", "  lead", true},
        {"Trailing", "trail  ", true},
        {"Tabs", "\tboth\t", true},
        {"OnlyBlanks", "   ", true},
        {"Quoted", "\"quoted\"", true},
        {"SingleQuoted", "'single'", true},
        {"HalfQuoted", "\"half", true},
        {"QuotedBlanks", "\" x \"", true},
        {"Inner", "a \"b\" = c", true},
        {"Empty", "", true},
        {"bad=name", "x", false},
        {"line\r\nName", "x", false},
        {" LeadingName", "x", false},
        {"[Section", "x", false},
    };
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kProductKey, true));
        for (const auto& c : cases) reg.WriteString(c.name, c.value);
        reg.WriteInteger("Number", 5);
    }
    TempDir dir;
    {
        TKLog log(dir.File("export.log"), false, 100, false);
        EXPECT_FALSE(ExportIniSettings(kProduct, dir.File("settings.ini"), &log)) << "values were left out";
        int leftOut = 0;
        for (const auto& c : cases) leftOut += c.kept ? 0 : 1;
        EXPECT_EQ(log.ErrorCount, leftOut);
    }
    std::string text;
    ASSERT_TRUE(framework::ReadFileBytes(dir.File("settings.ini"), text));
    EXPECT_EQ(text.find("evil"), std::string::npos) << text;
    EXPECT_EQ(text.find("Evil"), std::string::npos) << text;

    DeleteProductSettingsKey(kProduct);
    ImportIniSettings(kProduct, dir.File("settings.ini"));
    TRegistry reg(HKEY_CURRENT_USER, KEY_READ);
    ASSERT_TRUE(reg.OpenKey(kProductKey, false));
    framework::TStringList names;
    reg.GetValueNames(names);
    int kept = 0;
    for (const auto& c : cases) {
        if (!c.kept) {
            EXPECT_FALSE(reg.ValueExists(c.name)) << c.name;
            continue;
        }
        ++kept;
        ASSERT_TRUE(reg.ValueExists(c.name)) << c.name << "\n" << text;
        EXPECT_EQ(reg.ReadString(c.name), c.value) << c.name << "\n" << text;
    }
    EXPECT_EQ(reg.ReadInteger("Number"), 5);
    EXPECT_EQ(names.Count(), kept + 1) << "no entry the key never held:\n" << text;
}

// A long value reaches the file whole and comes back as stored: the profile service wrote
// values of 32,769 characters and more empty or cut to their length modulo 65,536, and said
// it had succeeded.
TEST_F(PortableSettings, LongValuesRoundTripWhole) {
    const std::pair<const char*, std::string> values[] = {
        {"At32768", std::string(32768, 'a')},
        {"At32769", std::string(32769, 'b')},
        {"Long", std::string(39999, 'c') + "z"},
        {"Wrapping", std::string(70003, 'd')},
    };
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kProductKey, true));
        for (const auto& [name, value] : values) reg.WriteString(name, value);
    }
    TempDir dir;
    ASSERT_TRUE(ExportIniSettings(kProduct, dir.File("settings.ini")));
    DeleteProductSettingsKey(kProduct);
    ImportIniSettings(kProduct, dir.File("settings.ini"));
    TRegistry reg(HKEY_CURRENT_USER, KEY_READ);
    ASSERT_TRUE(reg.OpenKey(kProductKey, false));
    for (const auto& [name, value] : values) {
        ASSERT_TRUE(reg.ValueExists(name)) << name;
        const std::string back = reg.ReadString(name);
        EXPECT_EQ(back.size(), value.size()) << name;
        EXPECT_TRUE(back == value) << name;
    }
}

// A value the ANSI file cannot hold as it is (a name or text outside the code page, a DWORD
// of another size) is left out with an Error line, not written as something else; the
// export then says it is incomplete and the rest is written.
TEST_F(PortableSettings, ValuesTheFileCannotHoldAreLeftOutAndReported) {
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kProductKey, true));
        reg.WriteString("Plain", "1");
        const wchar_t greek[] = L"\x03bf\x03bf";
        RegSetValueExW(reg.CurrentKey(), L"GreekText", 0, REG_SZ, reinterpret_cast<const BYTE*>(greek), sizeof greek);
        RegSetValueExW(reg.CurrentKey(), L"Name\x03bf", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
        const uint64_t wide = 5;
        RegSetValueExW(reg.CurrentKey(), L"WideNumber", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&wide), sizeof wide);
    }
    TempDir dir;
    TKLog log(dir.File("export.log"), false, 100, false);
    EXPECT_FALSE(ExportIniSettings(kProduct, dir.File("settings.ini"), &log));
    EXPECT_EQ(log.ErrorCount, 3);
    const framework::TMemIniFile ini(dir.File("settings.ini"));
    const framework::TMemIniFile::TEntries written{{"Plain", "1"}};
    EXPECT_EQ(ini.ReadSectionEntries("Settings"), written);
    EXPECT_TRUE(ini.ReadSectionEntries("Settings_DWORD").empty());
}

// An entry the registry refuses (a name beyond its 16,383 characters) is left out alone,
// with a line saying so: the entries after it, in both sections, are imported.
TEST_F(PortableSettings, ARefusedEntryLeavesTheRestOfTheImport) {
    const std::string longName(20000, 'n');
    TempDir dir;
    ASSERT_TRUE(framework::WriteFileBytes(dir.File("settings.ini"),
                                          "[Settings]\r\nFirst=1\r\n" + longName + "=x\r\nAfter=2\r\n"
                                          "[Settings_DWORD]\r\nOne=1\r\n" + longName + "=5\r\nTwo=2\r\n"));
    framework::TStringList errors;
    ImportIniSettings(kProduct, dir.File("settings.ini"), &errors);
    TRegistry reg(HKEY_CURRENT_USER, KEY_READ);
    ASSERT_TRUE(reg.OpenKey(kProductKey, false));
    EXPECT_EQ(reg.ReadString("First"), "1");
    EXPECT_EQ(reg.ReadString("After"), "2");
    EXPECT_EQ(reg.ReadInteger("One"), 1);
    EXPECT_EQ(reg.ReadInteger("Two"), 2);
    ASSERT_EQ(errors.Count(), 2) << errors.Text();
    for (int i = 0; i < errors.Count(); ++i) {
        EXPECT_NE(errors[i].find("nnnn"), std::string::npos) << errors[i];
        EXPECT_LT(errors[i].size(), 200u) << "the name is shortened for the log";
    }
}

// The file holds what a hand or another program may write: blanks around names and values,
// a name twice (the first counts), a line without "=", a comment, an entry without a name,
// a section twice (the first counts), lone CR and LF line ends, quotes and hexadecimal
// numbers.
TEST_F(PortableSettings, ImportReadsEntriesAsTheProfileServiceDoes) {
    TempDir dir;
    ASSERT_TRUE(framework::WriteFileBytes(dir.File("settings.ini"),
                                          "Before=0\r\n[Settings]\r\n  Spaced  =  value  \r\nTwice=first\r\ntwice=second\r\n"
                                          "Bare\r\nQuoted=\"  in quotes \"\nSingle='x'\r;Comment=x\r\n=NoName\r\n"
                                          "[Settings_DWORD]\r\nHex = 0x20\r\nDec=-2\r\nBad=1x\r\n"
                                          "[ settings ]\r\nLater=1\r\n"));
    ImportIniSettings(kProduct, dir.File("settings.ini"));
    const framework::TIniFile ini(dir.File("settings.ini"));
    TRegistry reg(HKEY_CURRENT_USER, KEY_READ);
    ASSERT_TRUE(reg.OpenKey(kProductKey, false));
    framework::TStringList listed;
    ini.ReadSection("Settings", listed);
    for (const char* name : {"Spaced", "Twice", "Bare", "Quoted", "Single", ";Comment", "Later", "Before"}) {
        EXPECT_EQ(reg.ValueExists(name), listed.IndexOf(name) >= 0) << name;
        if (reg.ValueExists(name)) EXPECT_EQ(reg.ReadString(name), ini.ReadString("Settings", name, "?")) << name;
    }
    EXPECT_EQ(reg.ReadString("Twice"), "first");
    EXPECT_EQ(reg.ReadString("Quoted"), "  in quotes ");
    EXPECT_FALSE(reg.ValueExists("")) << "an entry without a name sets no default value";
    for (const char* name : {"Hex", "Dec", "Bad"})
        EXPECT_EQ(reg.ReadInteger(name), ini.ReadInteger("Settings_DWORD", name, 0)) << name;
    EXPECT_EQ(reg.ReadInteger("Hex"), 32);
}

// settings.ini as an editor may save it: UTF-16 LE or UTF-8 with their byte order marks, or
// ANSI, with a note in brackets that opens no section. The entries are imported as the
// profile service imports them, and the file is written back in its own encoding, each entry
// in its place and the lines that name none kept. An entry the program's ANSI settings cannot
// hold is left out of the import with a line saying so, and stays in the file as it was.
TEST_F(PortableSettings, EveryEncodingIsImportedAndWrittenBackInIt) {
    const std::wstring greek = L"Greek=\x03b1\x03b2\r\n";
    const std::wstring head = L"[Settings]\r\n[my note: the tray\r\n";
    const std::wstring tail = L"[Settings_DWORD]\r\nCount=5\r\n";
    const struct {
        const char* name;
        std::string (*bytes)(const std::wstring&);
        bool unicode;
    } cases[] = {
        {"UTF-16 LE", testsupport::Utf16LeBytes, true},
        {"UTF-8", testsupport::Utf8Bytes, true},
        {"ANSI", testsupport::AnsiBytes, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteProductSettingsKey(kProduct);
        const std::wstring other = c.unicode ? greek : L"";
        TempDir dir;
        const std::string file = dir.File("settings.ini");
        ASSERT_TRUE(framework::WriteFileBytes(
            file, c.bytes(head + L"MinSysTray=1\r\nWestern=caf\x00e9\r\n" + other + tail)));
        framework::TStringList errors;
        ImportIniSettings(kProduct, file, &errors);
        {
            TRegistry reg;
            ASSERT_TRUE(reg.OpenKey(kProductKey, false));
            EXPECT_EQ(reg.ReadString("MinSysTray"), "1");
            EXPECT_EQ(reg.ReadString("Western"), "caf\xE9");
            EXPECT_EQ(reg.ReadInteger("Count"), 5);
            framework::TStringList names;
            reg.GetValueNames(names);
            EXPECT_EQ(names.Count(), 3) << names.Text();
            ASSERT_EQ(errors.Count(), c.unicode ? 1 : 0) << errors.Text();
            if (c.unicode) {
                EXPECT_NE(errors[0].find("\"Greek\""), std::string::npos) << errors[0];
            }
            reg.WriteString("MinSysTray", "0");
            reg.WriteString("Added", "na\xEFve");
        }
        TKLog log(dir.File("export.log"), false, 100, false);
        EXPECT_TRUE(ExportIniSettings(kProduct, file, &log));
        EXPECT_EQ(log.ErrorCount, 0);
        std::string text;
        ASSERT_TRUE(framework::ReadFileBytes(file, text));
        EXPECT_TRUE(text == c.bytes(head + L"MinSysTray=0\r\nWestern=caf\x00e9\r\n" + other + L"Added=na\x00efve\r\n" +
                                    tail))
            << text;
    }
}

// A settings.ini that cannot be read as text is neither imported nor written: the export
// says so in an Error line and fails, so the close keeps the key; the file stays byte for byte.
TEST_F(PortableSettings, AFileThatCannotBeReadIsLeftAsItWas) {
    const std::string utf16 = testsupport::Utf16LeBytes(L"[Settings]\r\nMinSysTray=0\r\n");
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"UTF-16 LE cut in a character", utf16 + "x"},
        {"UTF-16 BE", std::string("\xFE\xFF\0[\0S\0]\0\r\0\n", 12)},
        {"no UTF-8 after its mark", "\xEF\xBB\xBF[Settings]\r\nMinSysTray=\xFF\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteProductSettingsKey(kProduct);
        TempDir dir;
        const std::string file = dir.File("settings.ini");
        ASSERT_TRUE(framework::WriteFileBytes(file, c.bytes));
        framework::TStringList errors;
        ImportIniSettings(kProduct, file, &errors);
        EXPECT_EQ(errors.Count(), 1) << errors.Text();
        {
            TRegistry reg;
            ASSERT_TRUE(reg.OpenKey(kProductKey, false));
            framework::TStringList names;
            reg.GetValueNames(names);
            EXPECT_EQ(names.Count(), 0) << names.Text();
        }
        FillKey();
        TKLog log(dir.File("export.log"), false, 100, false);
        EXPECT_FALSE(ExportIniSettings(kProduct, file, &log));
        EXPECT_EQ(log.ErrorCount, 1);
        std::string text;
        ASSERT_TRUE(framework::ReadFileBytes(file, text));
        EXPECT_TRUE(text == c.bytes) << text;
        TRegistry reg(HKEY_CURRENT_USER, KEY_READ);
        ASSERT_TRUE(reg.OpenKey(kProductKey, false));
        EXPECT_EQ(reg.ReadString("MinSysTray"), "1");
    }
}

TEST_F(PortableSettings, ExportOfOnlyOtherKindsWritesNoSection) {
    TempDir dir;
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kProductKey, true));
        reg.WriteExpandString("Exp", "%TEMP%");
        reg.WriteBinaryData("Bin", "\x01");
    }
    EXPECT_TRUE(ExportIniSettings(kProduct, dir.File("settings.ini")));
    std::string text;
    framework::ReadFileBytes(dir.File("settings.ini"), text);
    EXPECT_EQ(text.find('['), std::string::npos) << text;
}

// On close the key is removed only after a successful export: a file that cannot be written
// must make the export say so, and the settings stay in the registry.
TEST_F(PortableSettings, ExportToAFileThatCannotBeWrittenFails) {
    TempDir dir;
    FillKey();
    const std::string original = "[Settings]\r\nMinSysTray=0\r\n";

    ASSERT_TRUE(framework::WriteFileBytes(dir.File("ro.ini"), original));
    ASSERT_TRUE(SetFileAttributesA(dir.File("ro.ini").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(ExportIniSettings(kProduct, dir.File("ro.ini")));
    SetFileAttributesA(dir.File("ro.ini").c_str(), FILE_ATTRIBUTE_NORMAL);

    ASSERT_TRUE(framework::WriteFileBytes(dir.File("locked.ini"), original));
    {
        framework::UniqueHandle lock(CreateFileA(dir.File("locked.ini").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                                 nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock.valid());
        EXPECT_FALSE(ExportIniSettings(kProduct, dir.File("locked.ini")));
    }
    EXPECT_FALSE(ExportIniSettings(kProduct, dir.File("no folder\\settings.ini")));

    for (const char* f : {"ro.ini", "locked.ini"}) {
        std::string text;
        ASSERT_TRUE(framework::ReadFileBytes(dir.File(f), text));
        EXPECT_EQ(text, original) << f;
    }
    TRegistry reg(HKEY_CURRENT_USER, KEY_READ);
    ASSERT_TRUE(reg.OpenKey(kProductKey, false));
    EXPECT_EQ(reg.ReadString("MinSysTray"), "1");
    EXPECT_EQ(reg.ReadInteger("Count"), 7);
}

TEST_F(PortableSettings, CompanyKeyGoesOnlyWhenEmpty) {
    WriteCompanyValue(kProduct, L"C:\\Apps\\VoltAtlas.exe");
    {
        TRegistry reg(HKEY_CURRENT_USER, KEY_READ);
        ASSERT_TRUE(reg.OpenKey(kCompanyKey, false));
        EXPECT_EQ(reg.ReadString(kProduct), "C:\\Apps\\VoltAtlas.exe");
    }
    DeleteProductSettingsKey("");  // no product: never the company key itself
    EXPECT_TRUE(TRegistry().KeyExists(kCompanyKey));

    // Another product's value keeps the key.
    WriteCompanyValue("VoltAtlasTestOther", L"C:\\Other\\o.exe");
    DeleteCompanyValue(kProduct);
    DeleteCompanyKeyIfEmpty();
    ASSERT_TRUE(TRegistry().KeyExists(kCompanyKey));
    DeleteCompanyValue("VoltAtlasTestOther");

    // So does a product's settings key.
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kProductKey, true));
    }
    DeleteCompanyKeyIfEmpty();
    ASSERT_TRUE(TRegistry().KeyExists(kProductKey));
    DeleteProductSettingsKey(kProduct);

    TRegistry reg(HKEY_CURRENT_USER, KEY_READ);
    ASSERT_TRUE(reg.OpenKey(kCompanyKey, false));
    framework::TStringList left;
    reg.GetValueNames(left);
    const bool othersThere = reg.HasSubKeys() || left.Count() > 0;
    reg.CloseKey();
    DeleteCompanyKeyIfEmpty();
    if (othersThere) GTEST_SKIP() << "the company key holds other entries";
    EXPECT_FALSE(TRegistry().KeyExists(kCompanyKey));
    DeleteCompanyKeyIfEmpty();  // absent: nothing to do
}

// ---------------------------------------------------------------------------------------------
// Data folder

class DataFolder : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(AppData().empty());
        company_ = AppData() + "\\Quillmark\\";
        exe_ = dir_.File("VoltAtlas.exe");
        ASSERT_TRUE(framework::WriteFileBytes(exe_, "MZ"));
        ASSERT_TRUE(framework::WriteFileBytes(dir_.File("settings.ini"), "[Settings]\r\n"));
    }
    void TearDown() override {
        for (const char* name : {"VaTestData", "VaTestBlocked", "VaTestInside", "VaTestOther"}) {
            SetFileAttributesA((company_ + name).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA((company_ + name).c_str());
            testsupport::RemoveTree(company_ + name);
        }
        RemoveCompanyDataFolderIfEmpty();
    }
    TempDir dir_;
    std::string company_;
    std::string exe_;
};

TEST_F(DataFolder, MadeInTheUsersApplicationData) {
    const std::string folder = GetDataFolder(exe_, "VaTestData");
    EXPECT_EQ(folder, company_ + "VaTestData\\");
    EXPECT_TRUE(framework::DirectoryExists(folder));
    EXPECT_EQ(GetDataFolder(exe_, "VaTestData"), folder);
    EXPECT_EQ(GetUserDataFolder("VaTestData"), folder);

    ASSERT_TRUE(framework::WriteFileBytes(folder + "VaTestData.log", "log"));
    ASSERT_TRUE(CreateDirectoryA((folder + "sub").c_str(), nullptr));
    ASSERT_TRUE(framework::WriteFileBytes(folder + "sub\\voltatlas.ini", "[links]"));
    EXPECT_TRUE(DeleteDataFolder(exe_, "VaTestData"));
    EXPECT_FALSE(Exists(folder));
    EXPECT_TRUE(FileExists(exe_));
}

// When the folder cannot be made the executable's folder stands in; the portable clean-up
// then must not delete it, nor anything beside the executable.
TEST_F(DataFolder, FallBackToTheExecutablesFolderWhichCleanUpLeavesAlone) {
    ASSERT_TRUE(GetDataFolder(exe_, "VaTestOther").size() > 0);  // makes the company folder
    ASSERT_TRUE(framework::WriteFileBytes(company_ + "VaTestBlocked", "a file in the folder's place"));
    const std::string folder = GetDataFolder(exe_, "VaTestBlocked");
    EXPECT_EQ(folder, dir_.Path());

    EXPECT_FALSE(DeleteDataFolder(exe_, "VaTestBlocked"));
    EXPECT_TRUE(FileExists(exe_));
    EXPECT_TRUE(FileExists(dir_.File("settings.ini")));
    EXPECT_TRUE(FileExists(company_ + "VaTestBlocked"));
}

TEST_F(DataFolder, AnExecutableInsideTheDataFolderKeepsIt) {
    const std::string folder = GetDataFolder(exe_, "VaTestInside");
    ASSERT_EQ(folder, company_ + "VaTestInside\\");
    const std::string inner = folder + "VoltAtlas.exe";
    ASSERT_TRUE(framework::WriteFileBytes(inner, "MZ"));
    EXPECT_FALSE(DeleteDataFolder(inner, "VaTestInside"));
    EXPECT_TRUE(FileExists(inner));
    EXPECT_FALSE(DeleteDataFolder(exe_, ""));  // no product name: never the company folder
    EXPECT_TRUE(FileExists(inner));
}

TEST_F(DataFolder, CompanyFolderGoesWithItsLastSubfolder) {
    GetDataFolder(exe_, "VaTestData");
    GetDataFolder(exe_, "VaTestOther");
    RemoveCompanyDataFolderIfEmpty();
    EXPECT_TRUE(framework::DirectoryExists(company_));
    DeleteDataFolder(exe_, "VaTestData");
    RemoveCompanyDataFolderIfEmpty();
    EXPECT_TRUE(framework::DirectoryExists(company_ + "VaTestOther"));
    DeleteDataFolder(exe_, "VaTestOther");

    WIN32_FIND_DATAA data;
    bool othersThere = false;
    HANDLE h = FindFirstFileA((company_ + "*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
        do othersThere |= std::string(data.cFileName) != "." && std::string(data.cFileName) != "..";
        while (FindNextFileA(h, &data));
        FindClose(h);
    }
    RemoveCompanyDataFolderIfEmpty();
    if (othersThere) GTEST_SKIP() << "the company folder holds other entries";
    EXPECT_FALSE(Exists(company_));
}

// A user profile whose name the code page cannot spell: the data stays in the user's
// application data, named by its short form; a volume without short names leaves the
// executable's folder standing in, and says why.
TEST(DataFolderOutsideTheCodePage, LandsInTheUsersApplicationData) {
    TempDir dir;
    const std::wstring appData = framework::AnsiToWide(dir.Path()) + L"\u0414\u0430\u043d\u043d\u044b\u0435";
    ASSERT_TRUE(CreateDirectoryW(appData.c_str(), nullptr));
    // Beside, not above, the data folder: the clean-up never deletes inside the program's folder.
    const std::string exeFolder = dir.File("bin\\");
    ASSERT_TRUE(CreateDirectoryA(exeFolder.c_str(), nullptr));
    const std::string exe = exeFolder + "VoltAtlas.exe";
    ASSERT_TRUE(framework::WriteFileBytes(exe, "MZ"));
    // The shell reads the user's folders from these values.
    const wchar_t* kFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    wchar_t saved[MAX_PATH] = {};
    DWORD savedSize = sizeof saved;
    const bool hadValue = RegGetValueW(HKEY_CURRENT_USER, kFolders, L"AppData", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ |
                                       RRF_NOEXPAND, nullptr, saved, &savedSize) == ERROR_SUCCESS;
    const auto setAppData = [&](const std::wstring& value, DWORD type) {
        return RegSetKeyValueW(HKEY_CURRENT_USER, kFolders, L"AppData", type, value.c_str(),
                               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    };
    ASSERT_EQ(setAppData(appData, REG_SZ), ERROR_SUCCESS);
    struct Restore {
        std::function<void()> undo;
        ~Restore() { undo(); }
    } restore{[&] {
        if (hadValue)
            setAppData(saved, REG_EXPAND_SZ);
        else
            RegDeleteKeyValueW(HKEY_CURRENT_USER, kFolders, L"AppData");
        const std::wstring company = appData + L"\\Quillmark";
        RemoveDirectoryW((company + L"\\VaTestWide").c_str());
        RemoveDirectoryW(company.c_str());
        RemoveDirectoryW(appData.c_str());
    }};
    wchar_t shellFolder[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, shellFolder), S_OK);
    ASSERT_TRUE(shellFolder == appData) << "the shell does not read the value";

    std::string problem;
    const std::string folder = GetDataFolder(exe, "VaTestWide", &problem);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(folder.find('?'), std::string::npos) << folder;
    wchar_t longPath[MAX_PATH] = {};
    ASSERT_GT(GetLongPathNameW(framework::AnsiToWide(folder).c_str(), longPath, MAX_PATH), 0u) << folder;
    EXPECT_TRUE(longPath == appData + L"\\Quillmark\\VaTestWide\\") << folder;
    ASSERT_TRUE(framework::WriteFileBytes(folder + "VaTestWide.log", "log"));
    EXPECT_TRUE(DeleteDataFolder(exe, "VaTestWide"));
    EXPECT_FALSE(Exists(folder));

    const framework::TShortPathApi real = framework::ShortPathApi();
    framework::ShortPathApi().GetShortPathNameW = &testsupport::LongNameBack;
    const std::string fallBack = GetDataFolder(exe, "VaTestWide", &problem);
    const bool deleted = DeleteDataFolder(exe, "VaTestWide");
    framework::ShortPathApi() = real;
    EXPECT_EQ(fallBack, exeFolder);
    EXPECT_NE(problem.find("has no name the ANSI code page can spell"), std::string::npos) << problem;
    EXPECT_FALSE(deleted) << "nothing the ANSI calls cannot reach is deleted";
    EXPECT_TRUE(FileExists(exe));
}

// ---------------------------------------------------------------------------------------------
// Deleting folder trees

TEST(DeleteFiles, EverythingGoesReadOnlyFilesAndNestedFoldersIncluded) {
    TempDir dir;
    const std::string f = dir.File("tree");
    ASSERT_TRUE(CreateDirectoryA(f.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((f + "\\sub").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((f + "\\sub\\deeper").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((f + "\\empty").c_str(), nullptr));
    for (const char* name : {"ro.txt", "hidden.txt", "sub\\ro2.txt", "sub\\deeper\\x.log", "noext"})
        ASSERT_TRUE(framework::WriteFileBytes(f + "\\" + name, "x"));
    SetFileAttributesA((f + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA((f + "\\sub\\ro2.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    SetFileAttributesA((f + "\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);

    EXPECT_TRUE(DeleteFilesAndFolder(f + "\\", "*"));
    EXPECT_FALSE(Exists(f));
    EXPECT_TRUE(Exists(dir.Path()));
}

TEST(DeleteFiles, OnlyMatchingEntriesGoAndTheFolderStaysWhileOthersRemain) {
    TempDir dir;
    const std::string f = dir.File("store");
    for (const char* sub : {"", "\\sub.SPK", "\\plain"}) ASSERT_TRUE(CreateDirectoryA((f + sub).c_str(), nullptr));
    for (const char* name : {"a.SPK", "b.spk", "c.txt", "sub.SPK\\inner.SPK", "sub.SPK\\inner.txt", "plain\\x.SPK"})
        ASSERT_TRUE(framework::WriteFileBytes(f + "\\" + name, "x"));

    EXPECT_TRUE(DeleteFilesAndFolder(f, "SPK"));
    EXPECT_FALSE(Exists(f + "\\a.SPK"));
    EXPECT_FALSE(Exists(f + "\\b.spk"));
    EXPECT_FALSE(Exists(f + "\\sub.SPK\\inner.SPK"));
    EXPECT_TRUE(Exists(f + "\\c.txt"));
    EXPECT_TRUE(Exists(f + "\\sub.SPK\\inner.txt"));
    EXPECT_TRUE(Exists(f + "\\plain\\x.SPK"));  // the search pattern passes over "plain"
    EXPECT_TRUE(Exists(f));
}

TEST(DeleteFiles, LinksIntoOtherTreesAreNotFollowed) {
    TempDir dir;
    const std::string f = dir.File("tree");
    const std::string other = dir.File("other");
    for (const std::string& d : {f, other, other + "\\emptydir", f + "\\own"})
        ASSERT_TRUE(CreateDirectoryA(d.c_str(), nullptr));
    ASSERT_TRUE(framework::WriteFileBytes(other + "\\keep.txt", "keep"));
    ASSERT_TRUE(framework::WriteFileBytes(other + "\\keep2.txt", "keep"));
    ASSERT_TRUE(framework::WriteFileBytes(f + "\\own\\mine.txt", "x"));
    if (!footest::MakeUnixSymlink(other, f + "\\dirlink") ||
        !footest::MakeUnixSymlink(other + "\\emptydir", f + "\\emptylink") ||
        !footest::MakeUnixSymlink(other + "\\keep2.txt", f + "\\filelink"))
        GTEST_SKIP() << "no Unix symbolic links here";

    DeleteFilesAndFolder(f, "*");
    EXPECT_FALSE(Exists(f + "\\own"));
    EXPECT_TRUE(FileExists(other + "\\keep.txt"));
    EXPECT_TRUE(FileExists(other + "\\keep2.txt"));
    EXPECT_TRUE(framework::DirectoryExists(other + "\\emptydir"));

    // A folder that is itself a link is not entered.
    EXPECT_FALSE(DeleteFilesAndFolder(f + "\\dirlink", "*"));
    EXPECT_TRUE(FileExists(other + "\\keep.txt"));

    for (const char* link : {"\\dirlink", "\\emptylink", "\\filelink"}) footest::RemoveUnixLink(f + link);
}

// The spellings of one existing folder that the file system resolves to the same place: as
// given, "\\?\" before it, its 8.3 form, and the same folder through Wine's drive Z:.
std::vector<std::pair<std::string, std::string>> Spellings(const std::string& folder) {
    std::vector<std::pair<std::string, std::string>> result{{"as given", folder}, {"\\\\?\\", "\\\\?\\" + folder}};
    char shortPath[MAX_PATH];
    const DWORD n = GetShortPathNameA(folder.c_str(), shortPath, sizeof shortPath);
    if (n > 0 && n < sizeof shortPath && !framework::SameText(shortPath, folder)) result.push_back({"8.3", shortPath});
    std::string unix = footest::UnixPath(folder);
    if (!unix.empty() && unix[0] == '/' && GetDriveTypeA("Z:\\") > DRIVE_NO_ROOT_DIR) {
        for (char& c : unix)
            if (c == '/') c = '\\';
        if (framework::DirectoryExists("Z:" + unix)) result.push_back({"drive Z:", "Z:" + unix});
    }
    return result;
}

// The guard of the running program's folder is shown by a copy of this test program, run
// from a folder of its own, that tries to delete that folder and the one above it, spelt in
// every way that reaches them. The folder's long name with a blank gives it an 8.3 twin.
TEST(DeleteFiles, TheRunningProgramsFolderIsRefused) {
    if (std::getenv("VA_DELETE_OWN_FOLDER")) {
        const std::string own = framework::ExtractFilePath(framework::GetModuleFileNameText());
        const std::string above = framework::ExtractFilePath(framework::ExcludeTrailingPathDelimiter(own));
        for (const std::string& folder : {own, above}) {
            const auto spellings = Spellings(folder);
            if (folder == own) EXPECT_EQ(spellings.size(), 4u) << folder << ": some spelling is missing here";
            for (const auto& [how, path] : spellings) {
                EXPECT_FALSE(DeleteFilesAndFolder(path, "*")) << how << ": " << path;
                EXPECT_FALSE(DeleteFilesAndFolder(path + "\\", "*")) << how << ": " << path;
            }
        }
        return;
    }
    TempDir dir;
    const std::string folder = dir.File("portable folder");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string copy = folder + "\\copy.exe";
    ASSERT_TRUE(CopyFileA(framework::GetModuleFileNameText().c_str(), copy.c_str(), FALSE));
    ASSERT_TRUE(framework::WriteFileBytes(folder + "\\beside.txt", "x"));
    ASSERT_TRUE(framework::WriteFileBytes(dir.File("above.txt"), "x"));

    // Started through the 8.3 form of its folder, as a user's shortcut may do.
    char shortCopy[MAX_PATH];
    ASSERT_GT(GetShortPathNameA(copy.c_str(), shortCopy, sizeof shortCopy), 0u);
    for (const std::string& exe : {copy, std::string(shortCopy), "\\\\?\\" + copy}) {
        std::string command = "\"" + exe + "\" --gtest_filter=DeleteFiles.TheRunningProgramsFolderIsRefused";
        SetEnvironmentVariableA("VA_DELETE_OWN_FOLDER", "1");
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        const BOOL started = CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                            folder.c_str(), &si, &pi);
        SetEnvironmentVariableA("VA_DELETE_OWN_FOLDER", nullptr);
        ASSERT_TRUE(started) << exe << ": " << GetLastError();
        ASSERT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
        DWORD code = 1;
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        EXPECT_EQ(code, 0u) << exe;
        EXPECT_TRUE(FileExists(copy)) << exe;
        EXPECT_TRUE(FileExists(folder + "\\beside.txt")) << exe;
        EXPECT_TRUE(FileExists(dir.File("above.txt"))) << exe;
    }
}

// A data folder that the file system puts at, above or inside the executable's folder is
// left alone whatever the spelling of the executable's path.
TEST(DeleteFiles, DataFolderReachingTheExecutableIsRefused) {
    TempDir dir;
    const std::string appData = dir.File("AppData Roaming");
    const std::string data = appData + "\\Quillmark\\VaTestInside Folder\\";
    ASSERT_TRUE(framework::ForceDirectories(data + "bin folder"));
    const std::string exe = data + "bin folder\\VoltAtlas.exe";
    ASSERT_TRUE(framework::WriteFileBytes(exe, "MZ"));
    ASSERT_TRUE(framework::WriteFileBytes(data + "VaTestInside Folder.log", "log"));
    for (const auto& [how, exeFolder] : Spellings(framework::ExtractFilePath(exe))) {
        EXPECT_FALSE(DeleteDataFolderIn(appData, exeFolder + "VoltAtlas.exe", "VaTestInside Folder")) << how;
        EXPECT_TRUE(FileExists(exe)) << how;
        EXPECT_TRUE(FileExists(data + "VaTestInside Folder.log")) << how;
    }
}

// A link between the application-data folder and the data folder: the company folder leads
// to the folder that holds the program's folder (named like the product), or to somebody
// else's files. Neither is deleted.
TEST(DeleteFiles, LinkAboveTheDataFolderIsNotFollowed) {
    TempDir dir;
    const std::string appData = dir.File("AppData");
    const std::string apps = dir.File("Apps");
    const std::string other = dir.File("Other");
    for (const std::string& d : {appData, apps, apps + "\\VaTestLinked", other, other + "\\VaTestLinked"})
        ASSERT_TRUE(CreateDirectoryA(d.c_str(), nullptr)) << d;
    const std::string exe = apps + "\\VaTestLinked\\VoltAtlas.exe";
    ASSERT_TRUE(framework::WriteFileBytes(exe, "MZ"));
    ASSERT_TRUE(framework::WriteFileBytes(apps + "\\VaTestLinked\\beside.txt", "x"));
    ASSERT_TRUE(framework::WriteFileBytes(other + "\\VaTestLinked\\letter.txt", "x"));
    const std::string company = appData + "\\Quillmark";

    for (const std::string& target : {apps, other}) {
        if (!footest::MakeUnixSymlink(target, company)) GTEST_SKIP() << "no Unix symbolic links here";
        EXPECT_FALSE(DeleteDataFolderIn(appData, exe, "VaTestLinked")) << target;
        footest::RemoveUnixLink(company);
        EXPECT_TRUE(FileExists(exe)) << target;
        EXPECT_TRUE(FileExists(apps + "\\VaTestLinked\\beside.txt")) << target;
        EXPECT_TRUE(FileExists(other + "\\VaTestLinked\\letter.txt")) << target;
    }
    // A real company folder: the data folder goes.
    ASSERT_TRUE(framework::ForceDirectories(company + "\\VaTestLinked"));
    ASSERT_TRUE(framework::WriteFileBytes(company + "\\VaTestLinked\\VaTestLinked.log", "log"));
    EXPECT_TRUE(DeleteDataFolderIn(appData, exe, "VaTestLinked"));
    EXPECT_FALSE(Exists(company + "\\VaTestLinked"));
}

// A tree deeper than the 260 characters of plain paths goes with the rest.
TEST(DeleteFiles, TreeBeyondTheShortPathLimitGoes) {
    TempDir dir;
    std::wstring path = L"\\\\?\\" + framework::AnsiToWide(dir.File("deep"));
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    while (path.size() < 400) {
        path += L"\\" + std::wstring(40, L'd');
        ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << GetLastError();
    }
    {
        framework::UniqueHandle leaf(CreateFileW((path + L"\\leaf.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                                 CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr));
        ASSERT_TRUE(leaf.valid());
    }
    EXPECT_TRUE(DeleteFilesAndFolder(dir.File("deep"), "*"));
    EXPECT_FALSE(Exists(dir.File("deep")));
}

// ---------------------------------------------------------------------------------------------
// VirtualStore

TEST(VirtualStore, ShadowFolderLosesItsSpkFiles) {
    const std::string local = SpecialFolderDirectory(CSIDL_LOCAL_APPDATA);
    ASSERT_FALSE(local.empty());
    const std::string store = local + "\\VirtualStore";
    const bool storeExisted = framework::DirectoryExists(store);
    TempDir dir;
    const std::string exeFolder = dir.File("app\\");
    const std::string shadow = store + "\\" + exeFolder.substr(3);

    EXPECT_EQ(CleanVirtualStore(exeFolder), "");  // no shadow folder

    ASSERT_TRUE(framework::ForceDirectories(shadow));
    ASSERT_TRUE(framework::WriteFileBytes(shadow + "x.SPK", "x"));
    ASSERT_TRUE(framework::WriteFileBytes(shadow + "y.txt", "y"));
    EXPECT_EQ(CleanVirtualStore(exeFolder), shadow);
    EXPECT_FALSE(Exists(shadow + "x.SPK"));
    EXPECT_TRUE(Exists(shadow + "y.txt"));

    DeleteFileA((shadow + "y.txt").c_str());
    EXPECT_EQ(CleanVirtualStore(exeFolder), shadow);
    EXPECT_FALSE(Exists(shadow));

    if (!storeExisted) testsupport::RemoveTree(store);
}

}  // namespace
