#include "framework/IniFile.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "framework/Handles.h"
#include "framework/SysUtils.h"
#include "support/TempDir.h"

namespace {

using framework::TIniFile;
using framework::TStringList;
using testsupport::TempDir;

std::string FileText(const std::string& fileName) {
    std::string data;
    EXPECT_TRUE(framework::ReadFileBytes(fileName, data)) << fileName;
    return data;
}

TEST(IniFile, ReadsSectionsNamesAndValuesWithDefaults) {
    TempDir dir;
    ASSERT_TRUE(framework::WriteFileBytes(dir.File("a.ini"),
                                          "[First]\r\nb=2\r\na=1\r\n\r\n[Second]\r\nname=some text\r\n"));
    const TIniFile ini(dir.File("a.ini"));

    TStringList list;
    list.Add("stale");
    ini.ReadSections(list);
    EXPECT_EQ(list.Text(), "First\r\nSecond\r\n");
    ini.ReadSection("first", list);  // section names ignore case
    EXPECT_EQ(list.Text(), "b\r\na\r\n");
    ini.ReadSection("Missing", list);
    EXPECT_EQ(list.Count(), 0);

    EXPECT_EQ(ini.ReadString("Second", "NAME", "d"), "some text");
    EXPECT_EQ(ini.ReadString("Second", "absent", "d"), "d");
    EXPECT_EQ(ini.ReadString("Absent", "name", ""), "");
    EXPECT_TRUE(ini.SectionExists("Second"));
    EXPECT_FALSE(ini.SectionExists("Third"));
    EXPECT_TRUE(ini.ValueExists("First", "a"));
    EXPECT_FALSE(ini.ValueExists("First", "c"));

    const TIniFile missing(dir.File("none.ini"));
    EXPECT_EQ(missing.ReadString("First", "a", "def"), "def");
    EXPECT_EQ(missing.ReadInteger("First", "a", 7), 7);
    missing.ReadSections(list);
    EXPECT_EQ(list.Count(), 0);
}

TEST(IniFile, IntegersAreDecimalOrHexadecimalElseTheDefault) {
    struct Case {
        const char* text;
        int32_t expected;
    };
    const Case cases[] = {
        {"12", 12},          {"-1", -1},          {"+5", 5},
        {"0x10", 16},        {"0X1f", 31},        {"$FF", 255},
        {"-0x10", -16},      {"0xFFFFFFFF", -1},  {"$80000000", INT_MIN},
        {"2147483647", INT_MAX}, {"-2147483648", INT_MIN},
        {"2147483648", 99},  {"0x", 99},          {"0x123456789", 99},
        {"$", 99},           {"abc", 99},         {"12abc", 99},
        {"1.5", 99},         {"0xG", 99},         {"--1", 99},
        {"", 99},
    };
    TempDir dir;
    std::string text = "[N]\r\n";
    for (size_t i = 0; i < std::size(cases); ++i) text += "k" + std::to_string(i) + "=" + cases[i].text + "\r\n";
    ASSERT_TRUE(framework::WriteFileBytes(dir.File("n.ini"), text));
    const TIniFile ini(dir.File("n.ini"));
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(ini.ReadInteger("N", "k" + std::to_string(i), 99), cases[i].expected) << cases[i].text;
    EXPECT_EQ(ini.ReadInteger("N", "absent", 99), 99);
}

TEST(IniFile, WritesCreateTheFileAndKeepOtherEntries) {
    TempDir dir;
    TIniFile ini(dir.File("w.ini"));
    EXPECT_TRUE(ini.WriteString("S", "a", "1"));
    EXPECT_TRUE(ini.WriteInteger("D", "n", -7));
    EXPECT_TRUE(ini.WriteString("S", "b", "two words"));
    EXPECT_TRUE(ini.WriteString("S", "a", "changed"));

    const std::string text = FileText(dir.File("w.ini"));
    EXPECT_NE(text.find("[S]"), std::string::npos) << text;
    EXPECT_NE(text.find("a=changed"), std::string::npos) << text;
    EXPECT_NE(text.find("b=two words"), std::string::npos) << text;
    EXPECT_NE(text.find("n=-7"), std::string::npos) << text;
    EXPECT_EQ(TIniFile(dir.File("w.ini")).ReadInteger("D", "n", 0), -7);

    EXPECT_TRUE(ini.DeleteKey("S", "a"));
    EXPECT_FALSE(ini.ValueExists("S", "a"));
    EXPECT_TRUE(ini.ValueExists("S", "b"));
    EXPECT_TRUE(ini.EraseSection("S"));
    EXPECT_FALSE(ini.SectionExists("S"));
    EXPECT_TRUE(ini.SectionExists("D"));
}

TEST(IniFile, ARelativeNameIsTakenFromTheCurrentFolder) {
    TempDir dir;
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.Path().c_str()));
    TIniFile ini("rel.ini");
    const bool written = ini.WriteString("S", "k", "v");
    SetCurrentDirectoryA(previous);
    EXPECT_TRUE(written);
    EXPECT_EQ(ini.FileName(), dir.File("rel.ini"));
    EXPECT_TRUE(framework::FileExists(dir.File("rel.ini")));
}

TEST(IniFile, AWriteThatCannotReachTheFileReportsFailure) {
    TempDir dir;
    const std::string original = "[S]\r\nk=old\r\n";

    // Read-only.
    ASSERT_TRUE(framework::WriteFileBytes(dir.File("ro.ini"), original));
    ASSERT_TRUE(SetFileAttributesA(dir.File("ro.ini").c_str(), FILE_ATTRIBUTE_READONLY));
    TIniFile readOnly(dir.File("ro.ini"));
    EXPECT_FALSE(readOnly.WriteString("S", "k", "new"));
    EXPECT_FALSE(readOnly.WriteInteger("S", "n", 1));
    EXPECT_FALSE(readOnly.DeleteKey("S", "k"));
    EXPECT_FALSE(readOnly.EraseSection("S"));
    SetFileAttributesA(dir.File("ro.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(FileText(dir.File("ro.ini")), original);

    // Locked by another handle that shares nothing.
    ASSERT_TRUE(framework::WriteFileBytes(dir.File("locked.ini"), original));
    {
        framework::UniqueHandle lock(CreateFileA(dir.File("locked.ini").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                                 nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(lock.valid());
        EXPECT_FALSE(TIniFile(dir.File("locked.ini")).WriteString("S", "k", "new"));
    }
    EXPECT_EQ(FileText(dir.File("locked.ini")), original);

    // A folder that does not exist, and a folder in the file's place.
    EXPECT_FALSE(TIniFile(dir.File("nowhere\\x.ini")).WriteString("S", "k", "v"));
    ASSERT_TRUE(CreateDirectoryA(dir.File("folder.ini").c_str(), nullptr));
    EXPECT_FALSE(TIniFile(dir.File("folder.ini")).WriteString("S", "k", "v"));
}

}  // namespace
