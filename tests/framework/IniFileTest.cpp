#include "framework/IniFile.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "framework/SysUtils.h"
#include "support/FileBytes.h"
#include "support/NoShortNames.h"
#include "support/TempDir.h"

namespace {

using framework::TIniFile;
using framework::TStringList;
using testsupport::AnsiBytes;
using testsupport::TempDir;
using testsupport::Utf16LeBytes;
using testsupport::Utf8Bytes;

std::string FileText(const std::string& fileName) {
    std::string data;
    EXPECT_TRUE(framework::ReadFileBytes(fileName, data)) << fileName;
    return data;
}

// A file holding Text, open with a handle that shares nothing (invalid when that failed).
framework::UniqueHandle LockedFile(const std::string& fileName, const std::string& text) {
    if (!framework::WriteFileBytes(fileName, text)) return framework::UniqueHandle();
    return framework::UniqueHandle(
        CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
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
    {
        const framework::UniqueHandle lock = LockedFile(dir.File("locked.ini"), original);
        ASSERT_TRUE(lock.valid());
        EXPECT_FALSE(TIniFile(dir.File("locked.ini")).WriteString("S", "k", "new"));
    }
    EXPECT_EQ(FileText(dir.File("locked.ini")), original);

    // A folder that does not exist, and a folder in the file's place.
    EXPECT_FALSE(TIniFile(dir.File("nowhere\\x.ini")).WriteString("S", "k", "v"));
    ASSERT_TRUE(CreateDirectoryA(dir.File("folder.ini").c_str(), nullptr));
    EXPECT_FALSE(TIniFile(dir.File("folder.ini")).WriteString("S", "k", "v"));
}

// ---------------------------------------------------------------------------------------------
// TMemIniFile

using framework::TMemIniFile;

// Entries are set where they stand and added at the end of their section; every other line
// of the file (comments, blank lines, lines without "=", other sections, a later section of
// the same name) comes back as it was. What the profile service reads from the file written
// is what was set.
TEST(MemIniFile, WritesInPlaceAddsAtTheSectionsEndAndKeepsEveryOtherLine) {
    TempDir dir;
    const std::string file = dir.File("m.ini");
    ASSERT_TRUE(framework::WriteFileBytes(file,
                                          "; head\r\n[Settings]\r\n  MinSysTray = 0 \r\nBare\r\n;c=1\r\n"
                                          "minsystray=second\r\n\r\n[Other]\nkeep=me\r[settings]\r\nLater=1\r\n"));
    TMemIniFile ini(file);
    EXPECT_EQ(ini.ReadString("SETTINGS", "minsystray", "?"), "0");
    ASSERT_TRUE(ini.WriteString("Settings", "MINSYSTRAY", "1"));
    ASSERT_TRUE(ini.WriteString("Settings", "New", "n"));
    ASSERT_TRUE(ini.WriteString("Settings", "New", "n2"));  // set again: still one line
    ASSERT_TRUE(ini.WriteInteger("Settings_DWORD", "Count", -3));
    ASSERT_TRUE(ini.UpdateFile());
    EXPECT_EQ(FileText(file),
              "; head\r\n[Settings]\r\nMinSysTray=1\r\nBare\r\n;c=1\r\nminsystray=second\r\nNew=n2\r\n\r\n"
              "[Other]\r\nkeep=me\r\n[settings]\r\nLater=1\r\n[Settings_DWORD]\r\nCount=-3\r\n");

    const TIniFile service(file);
    EXPECT_EQ(service.ReadString("Settings", "MinSysTray", "?"), "1");
    EXPECT_EQ(service.ReadString("Settings", "New", "?"), "n2");
    EXPECT_EQ(service.ReadInteger("Settings_DWORD", "Count", 0), -3);
    EXPECT_EQ(service.ReadString("Other", "keep", "?"), "me");
    const TMemIniFile::TEntries expected{{"MinSysTray", "1"}, {"New", "n2"}};
    EXPECT_EQ(TMemIniFile(file).ReadSectionEntries("settings"), expected);
}

// A value comes back from the file exactly as it was set, whatever its length (the profile
// service cuts a value beyond 32,768 characters to its length modulo 65,536 and reports
// success), its blanks or its quotes; one that cannot stand on one line is refused.
TEST(MemIniFile, ValuesComeBackExactlyOrAreRefused) {
    const struct {
        std::string name, value;
        bool accepted;
    } cases[] = {
        {"Len32767", std::string(32767, 'a'), true},
        {"Len32768", std::string(32768, 'b'), true},
        {"Len32769", std::string(32769, 'c'), true},
        {"Len40000", std::string(39999, 'd') + "e", true},
        {"Len70003", std::string(70003, 'f'), true},
        {"Len3M", std::string(3 << 20, 'g'), true},
        {"Blanks", "  x  ", true},
        {"Quotes", "\"q\"", true},
        {"Empty", "", true},
        {"Cr", "a\rb", false},
        {"Lf", "a\nKey=b", false},
        {"Odd=Name", "x", false},
        {"", "x", false},
        {" Lead", "x", false},
        {"[Head", "x", false},
        {";Note", "x", false},
    };
    TempDir dir;
    const std::string file = dir.File("long.ini");
    {
        TMemIniFile ini(file);
        for (const auto& c : cases) EXPECT_EQ(ini.WriteString("S", c.name, c.value), c.accepted) << c.name;
        ASSERT_TRUE(ini.UpdateFile());
    }
    const TMemIniFile back(file);
    for (const auto& c : cases) {
        if (c.accepted)
            EXPECT_TRUE(back.ReadString("S", c.name, "?") == c.value) << c.name << ": " << c.value.size();
        else if (!c.name.empty())
            EXPECT_EQ(back.ReadString("S", c.name, "?"), "?") << c.name;
    }
    EXPECT_EQ(back.ReadSectionEntries("S").size(), 9u) << "nothing but the accepted entries";
}

TEST(MemIniFile, AFileThatCannotBeWrittenOrReadIsNotWritten) {
    TempDir dir;
    const std::string original = "[S]\r\nk=old\r\n";
    const auto setAndUpdate = [](const std::string& file) {
        TMemIniFile ini(file);
        EXPECT_TRUE(ini.WriteString("S", "k", "new"));
        return ini.UpdateFile();
    };

    ASSERT_TRUE(framework::WriteFileBytes(dir.File("ro.ini"), original));
    ASSERT_TRUE(SetFileAttributesA(dir.File("ro.ini").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(setAndUpdate(dir.File("ro.ini")));
    SetFileAttributesA(dir.File("ro.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(FileText(dir.File("ro.ini")), original);

    // Locked while it is read: writing what was read (nothing) would lose the file's entries.
    {
        framework::UniqueHandle lock = LockedFile(dir.File("locked.ini"), original);
        ASSERT_TRUE(lock.valid());
        TMemIniFile ini(dir.File("locked.ini"));
        lock.reset();
        EXPECT_TRUE(ini.WriteString("S", "other", "x"));
        EXPECT_FALSE(ini.UpdateFile());
    }
    EXPECT_EQ(FileText(dir.File("locked.ini")), original);

    EXPECT_FALSE(setAndUpdate(dir.File("nowhere\\x.ini")));
    ASSERT_TRUE(CreateDirectoryA(dir.File("folder.ini").c_str(), nullptr));
    EXPECT_FALSE(setAndUpdate(dir.File("folder.ini")));
}

// ---- Encodings, headers and section names

// A Unicode file is read as such (the first section's header after the byte order mark
// included) and written back in its own encoding, every line it held kept as it was, a
// character the code page cannot hold among them. An entry the code page cannot hold is not
// given out as another text.
TEST(MemIniFile, UnicodeFilesAreReadAndWrittenBackInTheirEncoding) {
    const std::wstring before =
        L"[Settings]\r\nMinSysTray=1\r\nWestern=caf\x00e9\r\nGreek=\x03b1\x03b2\r\n"
        L"; \x03ba\x03cc\x03c3\x03bc\x03bf\x03c2 \xD83D\xDE00\r\n";
    const std::wstring after =
        L"[Settings]\r\nMinSysTray=0\r\nWestern=caf\x00e9\r\nGreek=\x03b1\x03b2\r\nNew=na\x00efve\r\n"
        L"; \x03ba\x03cc\x03c3\x03bc\x03bf\x03c2 \xD83D\xDE00\r\n[Settings_DWORD]\r\nCount=-3\r\n";
    const struct {
        const char* name;
        std::string (*bytes)(const std::wstring&);
        framework::TIniEncoding encoding;
    } cases[] = {
        {"UTF-16 LE", Utf16LeBytes, framework::TIniEncoding::Utf16LE},
        {"UTF-8", Utf8Bytes, framework::TIniEncoding::Utf8},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.File(std::string(c.name) + ".ini");
        ASSERT_TRUE(framework::WriteFileBytes(file, c.bytes(before)));
        TMemIniFile ini(file);
        EXPECT_TRUE(ini.Readable());
        EXPECT_EQ(ini.Encoding(), c.encoding);
        EXPECT_EQ(ini.ReadString("settings", "MinSysTray", "?"), "1");
        EXPECT_EQ(ini.ReadString("Settings", "Western", "?"), "caf\xE9");
        EXPECT_EQ(ini.ReadString("Settings", "Greek", "?"), "?");
        std::vector<std::string> leftOut;
        const TMemIniFile::TEntries entries{{"MinSysTray", "1"}, {"Western", "caf\xE9"}};
        EXPECT_EQ(ini.ReadSectionEntries("Settings", &leftOut), entries);
        EXPECT_EQ(leftOut, std::vector<std::string>{"Greek"});

        ASSERT_TRUE(ini.WriteString("Settings", "MinSysTray", "0"));
        ASSERT_TRUE(ini.WriteString("Settings", "New", "na\xEFve"));
        ASSERT_TRUE(ini.WriteInteger("Settings_DWORD", "Count", -3));
        ASSERT_TRUE(ini.UpdateFile());
        EXPECT_TRUE(FileText(file) == c.bytes(after)) << FileText(file);
        EXPECT_EQ(TMemIniFile(file).ReadString("Settings", "New", "?"), "na\xEFve");
    }
    // A file without a byte order mark stays ANSI, a new file is ANSI.
    ASSERT_TRUE(framework::WriteFileBytes(dir.File("ansi.ini"), AnsiBytes(L"[Settings]\r\nWestern=caf\x00e9\r\n")));
    TMemIniFile ansi(dir.File("ansi.ini"));
    EXPECT_EQ(ansi.Encoding(), framework::TIniEncoding::Ansi);
    EXPECT_EQ(ansi.ReadString("Settings", "Western", "?"), "caf\xE9");
    ASSERT_TRUE(ansi.WriteString("Settings", "New", "na\xEFve"));
    ASSERT_TRUE(ansi.UpdateFile());
    EXPECT_EQ(FileText(dir.File("ansi.ini")), "[Settings]\r\nWestern=caf\xE9\r\nNew=na\xEFve\r\n");
    TMemIniFile fresh(dir.File("new.ini"));
    ASSERT_TRUE(fresh.WriteString("S", "k", "caf\xE9"));
    ASSERT_TRUE(fresh.UpdateFile());
    EXPECT_EQ(FileText(dir.File("new.ini")), "[S]\r\nk=caf\xE9\r\n");
}

// A file that is no text this class can read is never written: written from what could be
// read (nothing) it would lose what it holds, or mix two encodings.
TEST(MemIniFile, AFileItCannotReadIsLeftByteForByte) {
    const std::string utf16 = Utf16LeBytes(L"[Settings]\r\nMinSysTray=1\r\n");
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"UTF-16 LE cut in a character", utf16 + "x"},
        {"UTF-16 LE with a lone high surrogate", utf16 + std::string("A\0\x3D\xD8=\0", 6)},
        {"UTF-16 LE with a lone low surrogate", utf16 + std::string("\x00\xDC", 2)},
        {"UTF-16 BE", std::string("\xFE\xFF\0[\0S\0]\0\r\0\n", 12)},
        {"UTF-32 LE", std::string("\xFF\xFE\0\0[\0\0\0]\0\0\0", 12)},
        {"no UTF-8 after its mark", "\xEF\xBB\xBF[Settings]\r\nWestern=caf\xE9\r\n"},
        {"UTF-16 LE without its mark", utf16.substr(2)},
    };
    TempDir dir;
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.File("bad" + std::to_string(i++) + ".ini");
        ASSERT_TRUE(framework::WriteFileBytes(file, c.bytes));
        TMemIniFile ini(file);
        EXPECT_FALSE(ini.Readable());
        EXPECT_EQ(ini.ReadString("Settings", "MinSysTray", "?"), "?");
        EXPECT_TRUE(ini.WriteString("Settings", "Marker", "x"));
        EXPECT_FALSE(ini.UpdateFile());
        EXPECT_TRUE(FileText(file) == c.bytes);
    }
}

// A "[" line is a header only when a "]" closes it, as the profile service reads it: the
// entries after a note such as "[my note" belong to the section above it.
TEST(MemIniFile, OnlyAClosedBracketLineStartsASection) {
    TempDir dir;
    const std::string file = dir.File("h.ini");
    ASSERT_TRUE(framework::WriteFileBytes(file,
                                          "[Settings]\r\n[my note: the tray\r\nMinSysTray=1\r\n  [half=open\r\n"
                                          "[Other] after\r\nk=v\r\n"));
    const TIniFile service(file);
    TStringList names;
    service.ReadSection("Settings", names);
    const TMemIniFile ini(file);
    const auto entries = ini.ReadSectionEntries("Settings");
    ASSERT_EQ(static_cast<int>(entries.size()), names.Count()) << names.Text();
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].first, names[static_cast<int>(i)]);
        EXPECT_EQ(entries[i].second, service.ReadString("Settings", entries[i].first, "?"));
    }
    EXPECT_EQ(ini.ReadString("Settings", "MinSysTray", "?"), "1");
    EXPECT_EQ(ini.ReadString("my note: the tray", "MinSysTray", "?"), "?");
    EXPECT_EQ(ini.ReadString("Other", "k", "?"), "v");
    EXPECT_EQ(service.ReadString("Other", "k", "?"), "v");
}

// A section name is written only when its header gives it back as it stands.
TEST(MemIniFile, SectionNamesTheHeaderWouldChangeAreRefused) {
    const struct {
        std::string name;
        bool accepted;
    } cases[] = {
        {"two words", true}, {"[inner", true}, {"a[b", true}, {"x=y", true},
        {" two ", false},    {"two ", false},  {"\ttab", false}, {"a]b", false},
        {"", false},         {"x\r\ny", false}, {"x\ny", false},
    };
    TempDir dir;
    const std::string file = dir.File("s.ini");
    {
        TMemIniFile ini(file);
        for (const auto& c : cases) EXPECT_EQ(ini.WriteString(c.name, "k", "v"), c.accepted) << c.name;
        ASSERT_TRUE(ini.UpdateFile());
    }
    const TMemIniFile back(file);
    const TIniFile service(file);
    TStringList sections;
    service.ReadSections(sections);
    int accepted = 0;
    for (const auto& c : cases) {
        if (!c.accepted) continue;
        ++accepted;
        EXPECT_EQ(back.ReadString(c.name, "k", "?"), "v") << c.name;
        EXPECT_GE(sections.IndexOf(c.name), 0) << c.name << "\n" << sections.Text();
    }
    EXPECT_EQ(sections.Count(), accepted) << sections.Text();
}

// The names of the files in a folder.
std::vector<std::string> FolderFiles(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA((folder + "*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return names;
    do
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    while (FindNextFileA(h, &data));
    FindClose(h);
    return names;
}

// A folder the code page cannot spell, on a volume without short names (a stick formatted
// exFAT): the file is read, written and read back by its wide name alone.
TEST(MemIniFile, AFolderWithoutShortNamesIsReachedByItsWideName) {
    TempDir dir;
    const std::wstring folder = framework::AnsiToWide(dir.Path()) + L"\u041f\u043e\u0440\u0442\u0430\u0442\u0438\u0432";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring file = folder + L"\\settings.ini";
    const std::string before = "[Settings]\r\nMinSysTray=1\r\n";
    {
        framework::UniqueHandle h(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        ASSERT_TRUE(h);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(h.get(), before.data(), DWORD(before.size()), &written, nullptr));
    }
    const framework::TShortPathApi real = framework::ShortPathApi();
    framework::ShortPathApi().GetShortPathNameW = &testsupport::LongNameBack;
    TMemIniFile ini(file);
    const bool readable = ini.Readable();
    const std::string tray = ini.ReadString("Settings", "MinSysTray", "?");
    const bool set = ini.WriteString("Settings", "Marker", "m");
    const bool updated = ini.UpdateFile();
    const std::string marker = TMemIniFile(file).ReadString("Settings", "Marker", "?");
    framework::ShortPathApi() = real;
    EXPECT_TRUE(readable);
    EXPECT_EQ(tray, "1");
    EXPECT_TRUE(set);
    EXPECT_TRUE(updated);
    EXPECT_EQ(marker, "m");
    // Nothing is left beside it.
    WIN32_FIND_DATAW found;
    int entries = 0;
    const framework::UniqueFindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (search) {
        do {
            if (wcscmp(found.cFileName, L".") && wcscmp(found.cFileName, L"..")) ++entries;
        } while (FindNextFileW(search.get(), &found));
    }
    EXPECT_EQ(entries, 1);
    DeleteFileW(file.c_str());
    RemoveDirectoryW(folder.c_str());
}


// Run by the CTest step framework_full_disk with a file-size limit (the host's, set with
// ulimit) that stands for a full disk: a write past it fails part way. The old file must
// come through whole, and nothing else stays beside it.
TEST(MemIniFileOnAFullDisk, AWriteCutShortLeavesTheOldFileWhole) {
    const char* limitText = std::getenv("VA_FILE_SIZE_LIMIT");
    if (!limitText) GTEST_SKIP() << "VA_FILE_SIZE_LIMIT not set";
    const size_t limit = std::strtoul(limitText, nullptr, 10);
    TempDir dir;
    ASSERT_FALSE(framework::WriteFileBytes(dir.File("probe.bin"), std::string(limit + 1, 'p')))
        << "the limit is not in force";
    DeleteFileA(dir.File("probe.bin").c_str());

    const std::string original = "[Settings]\r\nMinSysTray=1\r\n" + std::string(limit / 2, ';') + "\r\n";
    const std::string file = dir.File("settings.ini");
    ASSERT_TRUE(framework::WriteFileBytes(file, original));
    TMemIniFile ini(file);
    ASSERT_TRUE(ini.WriteString("Settings", "Long", std::string(limit, 'v')));
    EXPECT_FALSE(ini.UpdateFile());
    EXPECT_TRUE(FileText(file) == original) << FileText(file).size() << " bytes";
    EXPECT_EQ(FolderFiles(dir.Path()), std::vector<std::string>{"settings.ini"});
}

}  // namespace
