#include "framework/Registry.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/SysUtils.h"

namespace {

using framework::AnsiToWide;
using framework::ERegistryException;
using framework::TRegDataType;
using framework::TRegistry;
using framework::TStringList;

constexpr const char* kBase = "Software\\VoltAtlasTests\\Registry";

// Every test works below one HKCU key that is removed afterwards.
class RegistryTest : public ::testing::Test {
protected:
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kBase); }

    static std::string Key(const std::string& sub) { return std::string(kBase) + "\\" + sub; }

    // Stores raw UTF-16 bytes, so a value can lack its terminator.
    static void PutRaw(const std::string& key, const char* name, DWORD type, const std::wstring& data,
                       size_t bytes) {
        HKEY h;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                                  nullptr),
                  ERROR_SUCCESS);
        const std::wstring wname(name, name + strlen(name));
        ASSERT_EQ(RegSetValueExW(h, wname.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(bytes)),
                  ERROR_SUCCESS);
        RegCloseKey(h);
    }
};

TEST_F(RegistryTest, StringValuesReadUpToTheirFirstNul) {
    struct Case {
        const char* name;
        std::wstring data;
        size_t bytes;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"terminated", std::wstring(L"abc\0", 4), 8, "abc"},
        {"unterminated", L"abc", 6, "abc"},
        {"two nuls", std::wstring(L"ab\0\0", 4), 8, "ab"},
        {"empty no bytes", L"", 0, ""},
        {"empty just nul", std::wstring(L"\0", 1), 2, ""},
        // What follows a NUL is not part of the text, as for the system's own readers.
        {"inner nul", std::wstring(L"a\0b", 3), 6, "a"},
        {"hidden tail", std::wstring(L"ProbeBeta\0Hidden 9.9\0", 21), 42, "ProbeBeta"},
        {"leading nul", std::wstring(L"\0tail", 5), 10, ""},
        {"western text", L"caf\u00e9", 8, "caf\xe9"},
    };
    for (const Case& c : cases) PutRaw(Key("s"), c.name, REG_SZ, c.data, c.bytes);

    TRegistry reg(HKEY_CURRENT_USER, KEY_READ);
    ASSERT_TRUE(reg.OpenKey(Key("s"), false));
    for (const Case& c : cases) EXPECT_EQ(reg.ReadString(c.name), c.expected) << c.name;
    EXPECT_EQ(reg.ReadString("missing"), "");
    PutRaw(Key("s"), "expand", REG_EXPAND_SZ, std::wstring(L"%TEMP%\0x", 8), 16);
    EXPECT_EQ(reg.ReadString("expand"), "%TEMP%");
}

TEST_F(RegistryTest, TypesAreToldApartAndReadersRefuseTheWrongOne) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Key("t"), true));
    reg.WriteString("sz", "text");
    reg.WriteExpandString("expand", "%TEMP%\\x");
    reg.WriteInteger("dword", -2);
    reg.WriteBinaryData("binary", std::string("\x01\x02", 2));
    const std::wstring multi(L"a\0b\0\0", 5);
    PutRaw(Key("t"), "multi", REG_MULTI_SZ, multi, multi.size() * 2);

    EXPECT_EQ(reg.GetDataType("sz"), TRegDataType::rdString);
    EXPECT_EQ(reg.GetDataType("expand"), TRegDataType::rdExpandString);
    EXPECT_EQ(reg.GetDataType("dword"), TRegDataType::rdInteger);
    EXPECT_EQ(reg.GetDataType("binary"), TRegDataType::rdBinary);
    EXPECT_EQ(reg.GetDataType("multi"), TRegDataType::rdUnknown);
    EXPECT_EQ(reg.GetDataType("missing"), TRegDataType::rdUnknown);

    framework::TRegDataInfo info;
    ASSERT_TRUE(reg.GetDataInfo("multi", info));
    EXPECT_EQ(info.RegType, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_FALSE(reg.GetDataInfo("missing", info));

    EXPECT_EQ(reg.ReadString("expand"), "%TEMP%\\x");  // never expanded
    EXPECT_EQ(reg.ReadInteger("dword"), -2);
    EXPECT_EQ(reg.ReadBinaryData("binary"), std::string("\x01\x02", 2));
    EXPECT_THROW(reg.ReadString("dword"), ERegistryException);
    EXPECT_THROW(reg.ReadString("binary"), ERegistryException);
    EXPECT_THROW(reg.ReadInteger("sz"), ERegistryException);
    EXPECT_THROW(reg.ReadInteger("missing"), ERegistryException);
}

TEST_F(RegistryTest, OpeningWithoutCreationLeavesMissingKeysMissing) {
    TRegistry reg;
    EXPECT_FALSE(reg.OpenKey(Key("a\\b"), false));
    EXPECT_EQ(reg.LastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(reg.KeyExists(Key("a")));

    ASSERT_TRUE(reg.OpenKey("\\" + Key("a\\b\\"), true));  // leading and trailing backslashes allowed
    EXPECT_TRUE(reg.KeyExists(Key("a\\b")));
    EXPECT_EQ(reg.CurrentPath(), Key("a\\b"));
}

TEST_F(RegistryTest, TheAccessMaskIsTheOneAskedFor) {
    TRegistry writer;
    ASSERT_TRUE(writer.OpenKey(Key("ro"), true));
    writer.WriteString("v", "1");

    TRegistry reader(HKEY_CURRENT_USER, KEY_READ);
    ASSERT_TRUE(reader.OpenKey(Key("ro"), false));
    EXPECT_EQ(reader.ReadString("v"), "1");
    EXPECT_THROW(reader.WriteString("v", "2"), ERegistryException);
    EXPECT_EQ(reader.LastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(reader.DeleteValue("v"));
    EXPECT_EQ(writer.ReadString("v"), "1");
}

// A 64-bit process reaches the 32-bit programs' view of HKLM\Software with KEY_WOW64_32KEY.
TEST_F(RegistryTest, TheViewFlagSelectsTheRegistryView) {
    const std::string name = "VoltAtlasTestsView";
    {
        TRegistry view32(HKEY_LOCAL_MACHINE, KEY_ALL_ACCESS | KEY_WOW64_32KEY);
        ASSERT_TRUE(view32.OpenKey("SOFTWARE\\" + name, true));
        view32.WriteString("where", "32");
    }
    TRegistry view64(HKEY_LOCAL_MACHINE, KEY_READ | KEY_WOW64_64KEY);
    EXPECT_FALSE(view64.KeyExists("SOFTWARE\\" + name));
    ASSERT_TRUE(view64.OpenKey("SOFTWARE\\Wow6432Node\\" + name, false));
    EXPECT_EQ(view64.ReadString("where"), "32");
    view64.CloseKey();

    TRegistry cleaner(HKEY_LOCAL_MACHINE, KEY_ALL_ACCESS | KEY_WOW64_32KEY);
    EXPECT_TRUE(cleaner.DeleteKey("SOFTWARE\\" + name));
    EXPECT_FALSE(view64.KeyExists("SOFTWARE\\Wow6432Node\\" + name));
}

TEST_F(RegistryTest, EnumeratesKeysAndValues) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Key("e\\one"), true));
    ASSERT_TRUE(reg.OpenKey(Key("e\\two"), true));
    ASSERT_TRUE(reg.OpenKey(Key("e"), true));
    reg.WriteString("x", "1");
    reg.WriteInteger("y", 2);

    TStringList keys;
    TStringList values;
    keys.Add("stale");
    ASSERT_TRUE(reg.GetKeyNames(keys));
    ASSERT_TRUE(reg.GetValueNames(values));
    keys.SetSorted(true);
    values.SetSorted(true);
    EXPECT_EQ(keys.Text(), "one\r\ntwo\r\n");
    EXPECT_EQ(values.Text(), "x\r\ny\r\n");
    EXPECT_TRUE(reg.HasSubKeys());

    ASSERT_TRUE(reg.OpenKey(Key("e\\one"), false));
    EXPECT_FALSE(reg.HasSubKeys());
    reg.CloseKey();
    EXPECT_FALSE(reg.GetKeyNames(keys));
    EXPECT_EQ(keys.Count(), 0);
}

// A key name outside the ANSI code page: listed as stored and opened by that name; its ANSI
// spelling ("Pr??be") names no key. Deleting its parent closes it when it is the open one.
TEST_F(RegistryTest, KeyNamesOutsideTheCodePageAreListedAndOpenedWide) {
    const std::wstring parent = AnsiToWide(Key("w"));
    const std::wstring name = L"Pr\u03bf\u03bfbe";
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(parent + L"\\" + name, true));
    reg.WriteString("DisplayName", "omicrons");

    ASSERT_TRUE(reg.OpenKey(Key("w"), false));
    std::vector<std::wstring> names{L"stale"};
    ASSERT_TRUE(reg.GetKeyNames(names));
    ASSERT_EQ(names, std::vector<std::wstring>{name});
    TStringList ansi;
    ASSERT_TRUE(reg.GetKeyNames(ansi));
    EXPECT_EQ(ansi.Text(), "Pr??be\r\n");

    ASSERT_TRUE(reg.OpenKey(parent + L"\\" + names[0] + L"\\", false));
    EXPECT_EQ(reg.ReadString("DisplayName"), "omicrons");
    EXPECT_FALSE(TRegistry().OpenKey(Key("w") + "\\" + ansi[0], false));

    EXPECT_TRUE(reg.DeleteKey(Key("w")));
    EXPECT_EQ(reg.CurrentKey(), nullptr);
    EXPECT_FALSE(reg.KeyExists(Key("w")));
}

TEST_F(RegistryTest, DeleteKeyRemovesTheWholeTree) {
    TRegistry reg;
    for (const char* sub : {"d\\a\\deep\\deeper", "d\\a\\side", "d\\b"}) {
        ASSERT_TRUE(reg.OpenKey(Key(sub), true));
        reg.WriteString("v", sub);
    }
    ASSERT_TRUE(reg.OpenKey(Key("d\\a\\side"), false));  // open inside the tree: closed first
    EXPECT_TRUE(reg.DeleteKey(Key("d\\a")));
    EXPECT_EQ(reg.CurrentKey(), nullptr);
    EXPECT_FALSE(reg.KeyExists(Key("d\\a")));
    EXPECT_TRUE(reg.KeyExists(Key("d\\b")));
    EXPECT_FALSE(reg.DeleteKey(Key("d\\a")));
    EXPECT_FALSE(reg.DeleteKey(""));  // never the root itself

    ASSERT_TRUE(reg.OpenKey(Key("d\\b"), false));
    EXPECT_TRUE(reg.DeleteValue("v"));
    EXPECT_FALSE(reg.ValueExists("v"));
    EXPECT_FALSE(reg.DeleteValue("v"));
}

}  // namespace
