#include "foundation/UnicodeUtils.h"

#include <windows.h>
#include <winioctl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "FoundationTestUtil.h"
#include "framework/Handles.h"
#include "framework/SysUtils.h"
#include "support/TempDir.h"

namespace {

using framework::AnsiToWide;
using testsupport::TempDir;

std::vector<std::string> Sorted(const framework::TStringList& list) {
    std::vector<std::string> v;
    for (int i = 0; i < list.Count(); ++i) v.push_back(list[i]);
    std::sort(v.begin(), v.end());
    return v;
}

// Restores the wide/ANSI choice after a test that flips it.
struct WideApiChoice {
    bool saved = UseWideFileApi();
    ~WideApiChoice() { UseWideFileApi() = saved; }
};

TEST(UnicodeText, CaseInsensitiveTestsAndTrims) {
    EXPECT_FALSE(StrContainsText("", "abc"));
    EXPECT_TRUE(StrContainsText("B", "abc"));
    EXPECT_TRUE(StrContainsText("\xC9", "caf\xE9"));  // É in café: the code page's case rules
    EXPECT_FALSE(StrContainsText("abcd", "abc"));

    EXPECT_TRUE(StrStartsText("Version 1", "VERSION"));
    EXPECT_TRUE(StrStartsText("ab", ""));
    EXPECT_FALSE(StrStartsText("a", "ab"));
    EXPECT_TRUE(StrEndsText("setup.EXE", ".exe"));
    EXPECT_FALSE(StrEndsText("exe", ".exe"));
    EXPECT_TRUE(StrStartsStr("Version", "Ver"));
    EXPECT_FALSE(StrStartsStr("Version", "ver"));

    EXPECT_EQ(StrRemovePrefixText("Version", "VERSION"), "");
    EXPECT_EQ(StrRemovePrefixText("v1.2", "V"), "1.2");
    EXPECT_EQ(StrRemovePrefixText("ab", "abc"), "ab");
    EXPECT_EQ(StrRemoveSuffixText("setup.EXE", ".exe"), "setup");
    EXPECT_EQ(StrRemoveSuffixText("setup", ".exe"), "setup");

    EXPECT_EQ(StrLeft("abc", -1), "");
    EXPECT_EQ(StrLeft("abc", 2), "ab");
    EXPECT_EQ(StrLeft("abc", 9), "abc");
    EXPECT_EQ(StrRight("abc", 0), "");
    EXPECT_EQ(StrRight("abc", 2), "bc");
    EXPECT_EQ(StrRight("abc", 9), "abc");

    EXPECT_EQ(StrBefore("a=b=c", "="), "a");
    EXPECT_EQ(StrAfter("a=b=c", "="), "b=c");
    EXPECT_EQ(StrBefore("abc", "="), "abc");
    EXPECT_EQ(StrAfter("abc", "="), "abc");

    EXPECT_EQ(ExtractFileBaseName("C:\\x\\a.tar.gz"), "a.tar");
    EXPECT_EQ(ExtractFileBaseName(".ini"), "");
    EXPECT_EQ(ExtractFileBaseName("README"), "README");
    EXPECT_EQ(ExtractFileBaseName("C:\\dir.d\\file"), "file");
    EXPECT_EQ(BoolToYesNo(true), "Yes");
    EXPECT_EQ(BoolToYesNo(false), "No");
    EXPECT_EQ(IntMax(-3, 2), 2);
    EXPECT_EQ(IntMax(INT_MIN, -1), -1);
}

TEST(UnicodeText, TokensEndAtEveryDelimiter) {
    const struct {
        const char* s;
        const char* delims;
        int count;
        std::vector<const char*> tokens;  // tokens 0..count-1
    } cases[] = {
        {"", ".", 0, {}},
        {"a", ".", 1, {"a"}},
        {"a..b", ".", 3, {"a", "", "b"}},
        {"Foo - Bar", " -", 4, {"Foo", "", "", "Bar"}},
        {".a.", ".", 3, {"", "a", ""}},
        {"1.2.3.4", ".", 4, {"1", "2", "3", "4"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TokenCount(c.s, c.delims), c.count) << c.s;
        for (int i = 0; i < c.count; ++i) EXPECT_EQ(GetToken(c.s, i, c.delims), c.tokens[i]) << c.s << " #" << i;
        EXPECT_EQ(GetToken(c.s, c.count, c.delims), "") << c.s;
        EXPECT_EQ(GetToken(c.s, -1, c.delims), "") << c.s;
    }
}

TEST(UnicodeText, TrailingUrlsAreStripped) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"Tool http://a.example/x https://b.example/y", "Tool"},
        {"Tool https://b.example/y http://a.example/x", "Tool"},
        {"My Tool 2.0 HTTP://a.example", "My Tool 2.0"},
        {"https://b.example/only", "https://b.example/only"},
        {"http://a.example", "http://a.example"},
        {"Tool http://a.example ", "Tool http://a.example "},  // the last word is empty
        {"http://a.example Tool", "http://a.example Tool"},
        {"Tool ftp://x", "Tool ftp://x"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(StripTrailingUrls(c.in), c.out) << c.in;
}

// The independent check of every byte is the CTest step foundation_urlencode (python's
// urllib.parse.quote); this writes what it compares.
TEST(UnicodeText, UrlEncodingByteByByte) {
    EXPECT_EQ(UrlEncode("a b/\xE9"), "a%20b%2F%E9");
    EXPECT_EQ(UrlEncode("Az09-._~"), "Az09-._%7E");
    EXPECT_EQ(UrlEncode(std::string("\0", 1)), "%00");

    std::string all;
    std::string table;
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        all += one;
        table += std::to_string(b) + "\t" + UrlEncode(one) + "\n";
    }
    table += "all\t" + UrlEncode(all) + "\n";
    ASSERT_TRUE(framework::WriteFileBytes(footest::OutputFolder() + "urlencode.txt", table));
}

// ---------------------------------------------------------------------------------------------
// Files

// A drive letter with no root directory on this machine.
char MissingDrive() {
    for (char d = 'Y'; d > 'D'; --d) {
        const char root[] = {d, ':', '\\', 0};
        if (GetDriveTypeA(root) == DRIVE_NO_ROOT_DIR) return d;
    }
    return 0;
}

TEST(UnicodeFiles, ExistenceTests) {
    TempDir dir;
    ASSERT_TRUE(framework::WriteFileBytes(dir.File("f.txt"), "x"));
    const std::wstring folder = AnsiToWide(dir.Path());
    const char missing = MissingDrive();
    ASSERT_NE(missing, 0);
    const struct {
        std::wstring path;
        bool directory, file;
    } cases[] = {
        {L"C:", true, false},
        {L"C:\\", true, false},
        {L"c:", true, false},
        {L"\\\\?\\C:\\", true, false},
        {L"\\\\?\\C:", true, false},
        {L"\\\\?\\" + std::wstring(1, wchar_t(missing)) + L":\\", false, false},
        {L"\\\\?\\" + folder, true, false},
        {std::wstring(1, wchar_t(missing)) + L":", false, false},  // GetDriveTypeA answers 1: no root
        {std::wstring(1, wchar_t(missing)) + L":\\", false, false},
        {folder, true, false},
        {framework::AnsiToWide(framework::ExcludeTrailingPathDelimiter(dir.Path())), true, false},
        {folder + L"f.txt", false, true},
        {folder + L"none", false, false},
        {folder + L"*", false, false},
        {folder + L"f.*", false, false},
        {L"", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DirectoryExistsWide(c.path), c.directory) << framework::WideToAnsi(c.path);
        EXPECT_EQ(FileExistsWide(c.path), c.file) << framework::WideToAnsi(c.path);
    }
}

TEST(UnicodeFiles, CreateDirectoryTakesLongPathsWithTheWideApi) {
    TempDir dir;
    std::wstring path = AnsiToWide(framework::ExcludeTrailingPathDelimiter(dir.Path()));
    std::vector<std::wstring> made;
    for (int i = 0; i < 6; ++i) {
        path += L"\\" + std::wstring(50, wchar_t(L'a' + i));
        ASSERT_TRUE(CreateDirectoryWide(path, nullptr)) << i;
        made.push_back(path);
    }
    EXPECT_GT(path.size(), size_t(MAX_PATH));
    EXPECT_TRUE(DirectoryExistsWide(L"\\\\?\\" + path));
    EXPECT_FALSE(CreateDirectoryWide(path, nullptr));  // exists already
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    for (auto it = made.rbegin(); it != made.rend(); ++it) RemoveDirectoryW((L"\\\\?\\" + *it).c_str());

    WideApiChoice choice;
    UseWideFileApi() = false;
    EXPECT_TRUE(CreateDirectoryWide(AnsiToWide(dir.File("ansi")), nullptr));
    EXPECT_TRUE(DirectoryExistsWide(AnsiToWide(dir.File("ansi"))));
}

TEST(UnicodeFiles, FixedFileVersion) {
    TempDir dir;
    ASSERT_TRUE(framework::WriteFileBytes(dir.File("plain.txt"), "no resources"));
    ASSERT_TRUE(footest::MakeVersionedExe(dir.File("versioned.exe"), (1 << 16) | 14, (5 << 16) | 27));
    ASSERT_TRUE(footest::MakeVersionedExe(dir.File("high.exe"), 0xFFFF0000u, 1));

    for (bool wide : {true, false}) {
        WideApiChoice choice;
        UseWideFileApi() = wide;
        EXPECT_EQ(GetFixedFileVersion(AnsiToWide(dir.File("versioned.exe"))), L"1.14.5.27") << wide;
        EXPECT_EQ(GetFixedFileVersion(AnsiToWide(dir.File("high.exe"))), L"65535.0.0.1") << wide;
        EXPECT_EQ(GetFixedFileVersion(AnsiToWide(dir.File("plain.txt"))), L"") << wide;
        EXPECT_EQ(GetFixedFileVersion(AnsiToWide(dir.File("missing.exe"))), L"File not found") << wide;
    }
}

TEST(UnicodeFiles, SixtyFourBitSizes) {
    TempDir dir;
    const std::string big = dir.File("big.bin");
    {
        framework::UniqueHandle file(
            CreateFileA(big.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file.valid());
        DWORD returned = 0;
        DeviceIoControl(file.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
        LARGE_INTEGER at;
        at.QuadPart = 5LL << 30;
        ASSERT_TRUE(SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file.get()));
    }
    EXPECT_EQ(GetFileSize64(AnsiToWide(big)), 5LL << 30);
    EXPECT_EQ(GetFileSizeByFind(AnsiToWide(big)), 5LL << 30);
    EXPECT_EQ(GetFileSize64(AnsiToWide(dir.File("missing"))), 0);
    EXPECT_EQ(GetFileSizeByFind(AnsiToWide(dir.File("missing"))), 0);

    WideApiChoice choice;
    UseWideFileApi() = false;
    WIN32_FIND_DATAW data;
    framework::UniqueFindHandle found(FindFirstFileWide(AnsiToWide(big), data));
    ASSERT_TRUE(found.valid());
    EXPECT_EQ(std::wstring(data.cFileName), L"big.bin");
    EXPECT_EQ(data.nFileSizeHigh, 1u);
    EXPECT_EQ(data.nFileSizeLow, 1u << 30);
}

TEST(UnicodeFiles, NotEmptyLooksBehindTheRedirection) {
    TempDir dir;
    ASSERT_TRUE(framework::WriteFileBytes(dir.File("empty"), ""));
    ASSERT_TRUE(framework::WriteFileBytes(dir.File("one"), "1"));
    footest::FakeOs os;
    EXPECT_FALSE(FileExistsNotEmpty(AnsiToWide(dir.File("empty"))));
    EXPECT_TRUE(FileExistsNotEmpty(AnsiToWide(dir.File("one"))));
    EXPECT_FALSE(FileExistsNotEmpty(AnsiToWide(dir.File("missing"))));
    EXPECT_FALSE(FileExistsNotEmpty(AnsiToWide(dir.Path())));
    EXPECT_EQ(os.disables, 4);
    EXPECT_EQ(os.enables, 4);
}

class UnicodeWalkers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(CreateDirectoryA(dir_.File("sub").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(dir_.File("sub\\deeper").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(dir_.File("tool.exe").c_str(), nullptr));  // a folder named like a file
        for (const char* f : {"a.EXE", "readme.txt", "sub\\b.exe", "sub\\README.TXT", "sub\\deeper\\c.Exe",
                              "sub\\deeper\\c.exe.bak"})
            ASSERT_TRUE(framework::WriteFileBytes(dir_.File(f), "x"));
    }
    std::string P(const char* rel) const { return dir_.File(rel); }
    TempDir dir_;
};

TEST_F(UnicodeWalkers, TreeWalkersFindByExtensionAndName) {
    framework::TStringList list;
    list.Add("kept");
    FindFilesByExtTree(dir_.Path(), ".exe", list);
    EXPECT_EQ(Sorted(list), (std::vector<std::string>{P("a.EXE"), P("sub\\b.exe"), P("sub\\deeper\\c.Exe"), "kept"}));

    list.Clear();
    FindFilesByNameTree(framework::ExcludeTrailingPathDelimiter(dir_.Path()), "README.txt", list);
    EXPECT_EQ(Sorted(list), (std::vector<std::string>{P("readme.txt"), P("sub\\README.TXT")}));
}

TEST_F(UnicodeWalkers, FlatWalkersListOneFolder) {
    framework::TStringList list;
    FindFilesByName(dir_.Path(), "A.exe", list);
    EXPECT_EQ(Sorted(list), std::vector<std::string>{P("a.EXE")});
    list.Clear();
    FindFilesByName(dir_.Path(), "tool.exe", list);  // a folder is no file
    EXPECT_TRUE(list.Empty());

    ListFilesInFolder(dir_.Path(), list);
    EXPECT_EQ(Sorted(list), (std::vector<std::string>{P("a.EXE"), P("readme.txt")}));
    list.Clear();
    ListSubFolders(dir_.Path(), list);
    EXPECT_EQ(Sorted(list), (std::vector<std::string>{P("sub"), P("tool.exe")}));
}

TEST_F(UnicodeWalkers, EverySearchRunsWithTheRedirectionOff) {
    footest::FakeOs os;
    framework::TStringList list;
    FindFilesByExtTree(dir_.File("missing"), ".exe", list);
    ListSubFolders(dir_.File("missing"), list);
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(os.disables, 2);
    EXPECT_EQ(os.enables, 2);

    FindFilesByExtTree(dir_.Path(), ".exe", list);  // root, sub, sub\deeper, tool.exe
    EXPECT_EQ(os.disables, 6);
    EXPECT_EQ(os.enables, 6);
}

// A list that refuses an entry throws out of the walk: the redirection is back on and the
// folder's search closed.
TEST_F(UnicodeWalkers, AThrowingListLeavesNothingBehind) {
    footest::FakeOs os;
    framework::TStringList list;
    list.SetSorted(true);
    list.SetDuplicates(framework::TDuplicates::dupError);
    list.Add(P("sub\\b.exe"));
    EXPECT_THROW(FindFilesByExtTree(dir_.Path(), ".exe", list), framework::Exception);
    EXPECT_GT(os.disables, 0);
    EXPECT_EQ(os.enables, os.disables);
}

TEST_F(UnicodeWalkers, ALinkBackUpTheTreeIsNotFollowed) {
    if (!footest::MakeUnixSymlink(dir_.Path(), P("sub\\loop"))) GTEST_SKIP() << "no Unix symbolic links here";
    framework::TStringList list;
    FindFilesByExtTree(dir_.Path(), ".exe", list);
    footest::RemoveUnixLink(P("sub\\loop"));
    EXPECT_EQ(Sorted(list), (std::vector<std::string>{P("a.EXE"), P("sub\\b.exe"), P("sub\\deeper\\c.Exe")}));
}

// The degree sign of " °C" is the code page's own, not the Western byte 0xB0 (a katakana
// mark in the Japanese page).
TEST(DegreeSign, IsTheCodePagesOwn) {
    const struct {
        UINT page;
        const char* sign;
    } cases[] = {
        {1252, "\xB0"}, {1251, "\xB0"}, {1253, "\xB0"}, {932, "\x81\x8B"}, {936, "\xA1\xE3"},
        {949, "\xA1\xC6"}, {437, "\xF8"}, {CP_UTF8, "\xC2\xB0"},
    };
    for (const auto& c : cases) EXPECT_EQ(DegreeSignIn(c.page), c.sign) << c.page;
    EXPECT_EQ(DegreeSignIn(CP_ACP), DegreeSignIn(GetACP()));
}

}  // namespace
