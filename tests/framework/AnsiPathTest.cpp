// Paths the ANSI code page (1252 in the tests) cannot spell, handed to the ANSI calls.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "framework/SysUtils.h"
#include "support/NoShortNames.h"
#include "support/TempDir.h"

namespace {

using namespace framework;

TEST(PathForAnsiApi, ShortensOnlyTheNamesTheCodePageCannotSpell) {
    testsupport::TempDir dir;
    const std::wstring base = AnsiToWide(dir.Path());
    const std::wstring folder = base + L"\u041f\u0440\u043e\u0433\u0440\u0430\u043c\u043c\u044b";  // Cyrillic
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring file = folder + L"\\Volt Atlas caf\u00e9.exe";
    const std::wstring greek = folder + L"\\\u03b1\u03b2.txt";
    for (const std::wstring& f : {file, greek}) {
        HANDLE h = CreateFileW(f.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
    }

    const std::string spelled = PathForAnsiApi(file);
    EXPECT_EQ(spelled.find('?'), std::string::npos) << spelled;
    EXPECT_EQ(spelled.rfind(dir.Path(), 0), 0u) << "the ASCII folders stay long: " << spelled;
    EXPECT_EQ(ExtractFileName(spelled), "Volt Atlas caf\xe9.exe") << "a name the code page spells stays long";
    EXPECT_NE(GetFileAttributesA(spelled.c_str()), INVALID_FILE_ATTRIBUTES) << spelled;
    wchar_t longPath[MAX_PATH] = {};
    ASSERT_GT(GetLongPathNameW(AnsiToWide(spelled).c_str(), longPath, MAX_PATH), 0u);
    EXPECT_TRUE(longPath == file);

    const std::string greekSpelled = PathForAnsiApi(greek);
    EXPECT_EQ(ExtractFilePath(greekSpelled), ExtractFilePath(spelled));
    EXPECT_NE(GetFileAttributesA(greekSpelled.c_str()), INVALID_FILE_ATTRIBUTES) << greekSpelled;

    // What the code page spells, or what does not exist, is the plain conversion.
    EXPECT_EQ(PathForAnsiApi(base + L"caf\u00e9.txt"), dir.Path() + "caf\xe9.txt");
    EXPECT_EQ(PathForAnsiApi(folder + L"\\missing.txt"), WideToAnsi(folder + L"\\missing.txt"));

    std::string reached;
    EXPECT_TRUE(TryPathForAnsiApi(file, reached));
    EXPECT_EQ(reached, spelled);

    DeleteFileW(file.c_str());
    DeleteFileW(greek.c_str());
    RemoveDirectoryW(folder.c_str());
}

// A volume without short names (exFAT, NTFS with 8.3 names off) answers with the long name.
TEST(PathForAnsiApi, ReportsAVolumeWithoutShortNames) {
    testsupport::TempDir dir;
    const std::wstring folder = AnsiToWide(dir.Path()) + L"\u30d7\u30ed\u30b0\u30e9\u30e0";  // Japanese
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const TShortPathApi real = ShortPathApi();
    ShortPathApi().GetShortPathNameW = &testsupport::LongNameBack;
    std::string ansi = "before";
    const bool reached = TryPathForAnsiApi(folder, ansi);
    const std::string shown = PathForAnsiApi(folder);
    std::string ascii;
    const bool asciiReached = TryPathForAnsiApi(AnsiToWide(dir.Path()), ascii);
    ShortPathApi() = real;
    RemoveDirectoryW(folder.c_str());
    EXPECT_FALSE(reached) << "no spelling reaches the folder: " << ansi;
    EXPECT_EQ(ansi, WideToAnsi(folder)) << "the plain conversion, for display";
    EXPECT_EQ(shown, ansi);
    EXPECT_TRUE(asciiReached) << "a path the code page spells needs no short name";
    EXPECT_EQ(ascii, dir.Path());
}

}  // namespace
