// Reading the eight version strings: the resource walker, the VerQueryValueA fall-back and
// their conversions; and the record of every fixture and every Wine PE file that the pefile
// check compares with its own reading.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "IdentTestUtil.h"
#include "components/KitFileVersionInfo.h"
#include "framework/StringList.h"
#include "update/PlimFct.h"

namespace {

using identtest::Fixture;

TEST(VersionRead, EightStringsAndConversions) {
    FileVersionInfoRec rec;
    ReadFileVersionInfo(Fixture("full32.dll"), rec);
    EXPECT_EQ(rec.FileDescription, "Fixture Tool");
    EXPECT_EQ(rec.CompanyName, "Fixture Works Inc.");
    EXPECT_EQ(rec.FileVersion, "1.2.3.4");
    EXPECT_EQ(rec.InternalName, "fixture");
    EXPECT_EQ(rec.LegalCopyright, "Copyright (C) 2015 Fixture Works Inc.");
    EXPECT_EQ(rec.OriginalFilename, "fixture.dll");
    EXPECT_EQ(rec.ProductName, "Fixture Suite");
    EXPECT_EQ(rec.ProductVersion, "1.2.3.4");

    ReadFileVersionInfo(Fixture("comma_versions.dll"), rec);
    EXPECT_EQ(rec.FileVersion, "2.0.1.5");
    EXPECT_EQ(rec.ProductVersion, "1.0");

    // Only ProductName and ProductVersion: the primary read counts as failed and the
    // fall-back, under the first translation, fills both.
    ReadFileVersionInfo(Fixture("only_product.dll"), rec);
    EXPECT_EQ(rec.ProductName, "Lonely Product");
    EXPECT_EQ(rec.ProductVersion, "3.0");

    // Nothing to read: eight empty fields, no exception.
    for (const char* file : {"no_version.dll", "bad_text.dll", "missing.dll", "bad_truncated_nt.dll"}) {
        rec.ProductName = "stale";
        ReadFileVersionInfo(Fixture(file), rec);
        EXPECT_EQ(rec.ProductName, "") << file;
        EXPECT_EQ(rec.CompanyName, "") << file;
        EXPECT_EQ(rec.FileVersion, "") << file;
    }
}

TEST(VersionRead, FallbackReaderUsesTheFirstTranslation) {
    framework::TStringList list;
    ReadVersionStrings(Fixture("full32.dll"), list);
    ASSERT_EQ(list.Count(), 8);
    EXPECT_EQ(list[4], "LegalCopyRight=Copyright (C) 2015 Fixture Works Inc.");
    EXPECT_EQ(list[5], "OriginalFileName=fixture.dll");

    // The first translation names the second table.
    list.Clear();
    ReadVersionStrings(Fixture("two_tables.dll"), list);
    EXPECT_GE(list.IndexOf("ProductName=Second Table"), 0);

    list.Clear();
    ReadVersionStrings(Fixture("no_version.dll"), list);
    EXPECT_EQ(list.Count(), 0);
}

// ---------------------------------------------------------------------------------------------
// What the pefile check reads back.

std::string Escaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\\': out += "\\\\"; break;
            default: out += c;
        }
    }
    return out;
}

std::string FixedText(const std::string& path) {
    VS_FIXEDFILEINFO f{};
    try {
        const TKitFileVersionInfo info(path);
        f = info.FixedInfo();
    } catch (const std::exception&) {
        if (!ReadFixedFileInfo(path, f)) return std::string();
    }
    char text[64];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(f.dwFileVersionMS >> 16),
                  static_cast<unsigned>(f.dwFileVersionMS & 0xFFFF), static_cast<unsigned>(f.dwFileVersionLS >> 16),
                  static_cast<unsigned>(f.dwFileVersionLS & 0xFFFF));
    return text;
}

void AddFile(const std::string& path, std::string& out) {
        bool is64 = false;
        const bool pe = IsPEImage(path, is64);
        FileVersionInfoRec r;
        ReadFileVersionInfo(path, r);
        out += Escaped(path) + "\t" + (pe ? (is64 ? "PE32+" : "PE32") : "NOTPE") + "\t" + FixedText(path);
        for (const std::string* s : {&r.FileDescription, &r.CompanyName, &r.FileVersion, &r.InternalName,
                                     &r.LegalCopyright, &r.OriginalFilename, &r.ProductName, &r.ProductVersion})
            out += "\t" + Escaped(*s);
        out += "\r\n";
}

void AddFolder(const std::string& folder, std::string& out, int& count) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE) << folder;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        AddFile(folder + data.cFileName, out);
        ++count;
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

TEST(VersionRead, RecordForThePefileCheck) {
    std::string out;
    int fixtures = 0, wine = 0;
    AddFolder(identtest::FixtureDir(), out, fixtures);
    ASSERT_FALSE(identtest::WinePeDir().empty());
    AddFolder(identtest::WinePeDir(), out, wine);
    EXPECT_GT(fixtures, 0);
    EXPECT_GT(wine, 0);
    AddFile(identtest::VoltAtlasExe(), out);
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    const std::string folder = framework::IncludeTrailingPathDelimiter(cwd) + "update-output\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(framework::WriteFileBytes(folder + "identity.tsv", out));
}

}  // namespace
