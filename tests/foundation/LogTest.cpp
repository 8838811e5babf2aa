#include "foundation/Log.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <regex>

#include "framework/StringList.h"
#include "framework/SysUtils.h"
#include "support/TempDir.h"

namespace {

using testsupport::TempDir;

std::vector<std::string> FileLines(const std::string& fileName) {
    framework::TStringList list;
    EXPECT_TRUE(list.LoadFromFile(fileName)) << fileName;
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
    return out;
}

// "Level<TAB>[yy-mm-dd hh:mm:ss]<TAB>Message" -> level and message, or empty on a bad shape.
std::pair<std::string, std::string> Split(const std::string& line) {
    static const std::regex shape(R"(^(\w+)\t\[\d\d-\d\d-\d\d \d\d:\d\d:\d\d\]\t(.*)$)");
    std::smatch m;
    if (!std::regex_match(line, m, shape)) return {};
    return {m[1], m[2]};
}

TEST(Log, VerboseLinesAreDroppedUnlessVerboseAndThenSavedAtOnce) {
    TempDir dir;
    {
        TKLog quiet(dir.File("quiet.log"), false, 100, false);
        quiet.Add("x", 0);
        EXPECT_EQ(quiet.Lines->Count(), 0);
        EXPECT_FALSE(framework::FileExists(dir.File("quiet.log")));
    }
    TKLog verbose(dir.File("verbose.log"), true, 100, false);
    verbose.Add("x", 0);
    ASSERT_EQ(verbose.Lines->Count(), 1);
    EXPECT_EQ(Split((*verbose.Lines)[0]), std::make_pair(std::string("Verbose"), std::string("x")));
    // Verbose mode writes the file after every line, not only at exit.
    const auto lines = FileLines(dir.File("verbose.log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], (*verbose.Lines)[0]);
}

TEST(Log, LevelsNameTheLineAndOnlyErrorsAreCounted) {
    TempDir dir;
    TKLog log(dir.File("l.log"), false, 100, false);
    const struct {
        int32_t level;
        const char* name;
        int32_t errorsAfter;
    } cases[] = {{1, "Info", 0}, {2, "Error", 1}, {5, "Error", 2}, {1, "Info", 2}, {-3, nullptr, 2}};
    for (const auto& c : cases) {
        const int before = log.Lines->Count();
        log.Add("m", c.level);
        if (c.name) {
            ASSERT_EQ(log.Lines->Count(), before + 1) << c.level;
            EXPECT_EQ(Split((*log.Lines)[0]).first, c.name) << c.level;
        } else {
            // A negative level is the lowest one, which a non-verbose log drops.
            EXPECT_EQ(log.Lines->Count(), before) << c.level;
        }
        EXPECT_EQ(log.ErrorCount, c.errorsAfter) << c.level;
    }
}

TEST(Log, CapKeepsTheNewestLinesNewestFirst) {
    TempDir dir;
    TKLog log(dir.File("cap.log"), false, 3, false);
    for (const char* m : {"one", "two", "three", "four"}) log.Add(m, 1);
    ASSERT_EQ(log.Lines->Count(), 3);
    EXPECT_EQ(Split((*log.Lines)[0]).second, "four");
    EXPECT_EQ(Split((*log.Lines)[1]).second, "three");
    EXPECT_EQ(Split((*log.Lines)[2]).second, "two");
}

TEST(Log, SaveWritesNewestFirstAndDestructionSaves) {
    TempDir dir;
    const std::string file = dir.File("run.log");
    {
        TKLog log(file, false, 10000, false);
        log.Add("Starting", 1);
        log.Add("second", 1);
        log.Add("third", 2);
        EXPECT_FALSE(framework::FileExists(file)) << "a quiet log writes only when saved";
    }
    const auto lines = FileLines(file);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(Split(lines[0]), std::make_pair(std::string("Error"), std::string("third")));
    EXPECT_EQ(Split(lines[1]).second, "second");
    EXPECT_EQ(Split(lines[2]).second, "Starting");

    std::string raw;
    ASSERT_TRUE(framework::ReadFileBytes(file, raw));
    EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
    EXPECT_EQ(raw.find('\n'), raw.find('\r') + 1) << "lines end with CR LF";
}

// A message may carry line breaks (a server's reply, an exception text): none of them may start
// a line of the file, least of all one shaped like the program's own entries.
TEST(Log, LineBreaksInsideAMessageStayOnItsLine) {
    const struct {
        std::string msg, shown;
    } cases[] = {
        {"reply\r\nError\t[26-01-01 00:00:00]\tPlanted", "reply\\r\\nError\t[26-01-01 00:00:00]\tPlanted"},
        {"a\nb", "a\\nb"},
        {"a\rb", "a\\rb"},
        {"\n\nlead and trail\r", "\\n\\nlead and trail\\r"},
        {"C:\\new\\path", "C:\\new\\path"},
    };
    TempDir dir;
    {
        TKLog log(dir.File("b.log"), false, 100, false);
        for (const auto& c : cases) log.Add(c.msg, 1);
    }
    const auto lines = FileLines(dir.File("b.log"));
    ASSERT_EQ(lines.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[std::size(cases) - 1 - i];  // newest first
        EXPECT_EQ(Split(lines[i]), std::make_pair(std::string("Info"), c.shown)) << lines[i];
    }
}

TEST(Log, SaveIntoAMissingFolderWritesNothingAndRaisesNothing) {
    TempDir dir;
    const std::string file = dir.File("gone\\deeper\\x.log");
    TKLog log(file, true, 10, false);
    EXPECT_NO_THROW(log.Add("x", 1));
    EXPECT_NO_THROW(log.Save());
    EXPECT_FALSE(framework::DirectoryExists(dir.File("gone")));
    EXPECT_EQ(log.Lines->Count(), 1) << "the lines stay in memory";
}

TEST(Log, SaveOverALockedFileIsSilent) {
    TempDir dir;
    const std::string file = dir.File("locked.log");
    ASSERT_TRUE(framework::WriteFileBytes(file, "old\r\n"));
    // Another process holding the file without sharing it is what a user meets in practice.
    HANDLE lock = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    {
        TKLog log(file, false, 10, false);
        log.Add("new", 1);
        EXPECT_NO_THROW(log.Save());
        EXPECT_EQ(log.Lines->Count(), 1);
    }
    CloseHandle(lock);
    std::string raw;
    ASSERT_TRUE(framework::ReadFileBytes(file, raw));
    EXPECT_EQ(raw, "old\r\n");
}

TEST(Log, LoadExistingStartsFromTheFileOnlyWhenAsked) {
    TempDir dir;
    const std::string file = dir.File("old.log");
    ASSERT_TRUE(framework::WriteFileBytes(file, "b\r\na\r\n"));
    {
        TKLog fresh(file, false, 10, false);
        EXPECT_EQ(fresh.Lines->Count(), 0);
        fresh.Lines->Clear();
        fresh.Lines->Add("b");
        fresh.Lines->Add("a");  // keep the file as it was for the next case
    }
    TKLog kept(file, false, 10, true);
    kept.Add("c", 1);
    ASSERT_EQ(kept.Lines->Count(), 3);
    EXPECT_EQ(Split((*kept.Lines)[0]).second, "c");
    EXPECT_EQ((*kept.Lines)[1], "b");
    EXPECT_EQ((*kept.Lines)[2], "a");

    TKLog missing(dir.File("none.log"), false, 10, true);
    EXPECT_EQ(missing.Lines->Count(), 0);
}

TEST(Log, TimeStampIsTwoDigitFieldsOfLocalTime) {
    const struct {
        SYSTEMTIME t;
        const char* text;
    } cases[] = {
        {{2024, 3, 2, 5, 14, 7, 9, 0}, "[24-03-05 14:07:09]"},
        {{2000, 12, 0, 31, 0, 0, 0, 999}, "[00-12-31 00:00:00]"},
        {{2109, 1, 0, 1, 23, 59, 59, 0}, "[09-01-01 23:59:59]"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatLogTimeStamp(c.t), c.text);

    // A line added now carries the current local time.
    TempDir dir;
    TKLog log(dir.File("t.log"), false, 10, false);
    SYSTEMTIME before, after;
    GetLocalTime(&before);
    log.Add("now", 1);
    GetLocalTime(&after);
    const std::string line = (*log.Lines)[0];
    const std::string stamp = line.substr(line.find('\t') + 1, 19);
    EXPECT_TRUE(stamp == FormatLogTimeStamp(before) || stamp == FormatLogTimeStamp(after)) << stamp;
}

}  // namespace
