#include "framework/StringList.h"

#include <gtest/gtest.h>

#include "framework/Exception.h"
#include "framework/SysUtils.h"
#include "support/TempDir.h"

namespace {

using framework::TDuplicates;
using framework::TStringList;

std::string Joined(const TStringList& l) {
    std::string out;
    for (int i = 0; i < l.Count(); ++i) out += (i ? "|" : "") + l[i];
    return out;
}

TEST(StringList, TextUsesCrLfAndReadsAnyLineBreak) {
    TStringList l;
    l.SetText("a\r\nb\nc\rd\r\n\r\ne");
    EXPECT_EQ(Joined(l), "a|b|c|d||e");
    EXPECT_EQ(l.Text(), "a\r\nb\r\nc\r\nd\r\n\r\ne\r\n");
    l.SetText("");
    EXPECT_EQ(l.Count(), 0);
}

TEST(StringList, IndexOfIgnoresCaseOfTheAnsiCodePage) {
    TStringList l;
    l.Add("Alpha");
    l.Add("caf\xE9");  // "café" in code page 1252
    EXPECT_EQ(l.IndexOf("ALPHA"), 0);
    EXPECT_EQ(l.IndexOf("CAF\xC9"), 1);
    EXPECT_EQ(l.IndexOf("Alph"), -1);
}

TEST(StringList, SortedListKeepsOrderAndAppliesItsDuplicatesRule) {
    TStringList l;
    l.SetSorted(true);
    EXPECT_EQ(l.Add("pear"), 0);
    EXPECT_EQ(l.Add("Apple"), 0);
    EXPECT_EQ(l.Add("fig"), 1);
    EXPECT_EQ(l.Add("APPLE"), -1) << "dupIgnore drops a case-insensitive duplicate";
    EXPECT_EQ(Joined(l), "Apple|fig|pear");
    EXPECT_EQ(l.IndexOf("PEAR"), 2);
    l.SetDuplicates(TDuplicates::dupAccept);
    l.Add("apple");
    EXPECT_EQ(l.Count(), 4);
    l.SetDuplicates(TDuplicates::dupError);
    EXPECT_THROW(l.Add("Fig"), framework::Exception);
    EXPECT_THROW(l.Insert(0, "x"), framework::Exception);
}

TEST(StringList, InsertAndDeleteCheckTheirIndexAndKeepObjects) {
    TStringList l;
    int a = 1, b = 2;
    l.Add("a", &a);
    l.Insert(0, "b", &b);
    l.Insert(2, "c");
    EXPECT_EQ(Joined(l), "b|a|c");
    EXPECT_EQ(l.Objects(0), &b);
    EXPECT_EQ(l.Objects(1), &a);
    EXPECT_THROW(l.Insert(4, "x"), framework::Exception);
    EXPECT_THROW(l.Delete(3), framework::Exception);
    EXPECT_THROW(l.Delete(-1), framework::Exception);
    l.Delete(1);
    EXPECT_EQ(Joined(l), "b|c");
}

TEST(StringList, FilesRoundTripAndAMissingFileChangesNothing) {
    testsupport::TempDir dir;
    TStringList l;
    l.SetText("one\r\n\xE9t\xE9\r\nthree");
    ASSERT_TRUE(l.SaveToFile(dir.File("l.txt")));
    TStringList back;
    ASSERT_TRUE(back.LoadFromFile(dir.File("l.txt")));
    EXPECT_EQ(Joined(back), Joined(l));

    EXPECT_FALSE(back.LoadFromFile(dir.File("missing.txt")));
    EXPECT_EQ(back.Count(), 3);
    EXPECT_FALSE(l.SaveToFile(dir.File("no\\such\\folder.txt")));
}

TEST(SysUtils, PathPartsSplitAtTheLastDelimiter) {
    const struct {
        const char* in;
        const char* path;
        const char* dir;
        const char* name;
        const char* ext;
    } cases[] = {
        {"C:\\a\\b.txt", "C:\\a\\", "C:\\a", "b.txt", ".txt"},
        {"C:\\b.txt", "C:\\", "C:\\", "b.txt", ".txt"},
        {"b.tar.gz", "", "", "b.tar.gz", ".gz"},
        {"C:\\a.d\\b", "C:\\a.d\\", "C:\\a.d", "b", ""},
        {"C:b", "C:", "C:", "b", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(framework::ExtractFilePath(c.in), c.path) << c.in;
        EXPECT_EQ(framework::ExtractFileDir(c.in), c.dir) << c.in;
        EXPECT_EQ(framework::ExtractFileName(c.in), c.name) << c.in;
        EXPECT_EQ(framework::ExtractFileExt(c.in), c.ext) << c.in;
    }
}

TEST(SysUtils, ExistenceTestsTellFilesFromFolders) {
    testsupport::TempDir dir;
    const std::string nested = dir.File("x\\y\\z");
    ASSERT_TRUE(framework::ForceDirectories(nested));
    EXPECT_TRUE(framework::DirectoryExists(nested));
    EXPECT_FALSE(framework::FileExists(nested));
    ASSERT_TRUE(framework::WriteFileBytes(nested + "\\f", "1"));
    EXPECT_TRUE(framework::FileExists(nested + "\\f"));
    EXPECT_FALSE(framework::DirectoryExists(nested + "\\f"));
    EXPECT_FALSE(framework::DirectoryExists(""));
}

}  // namespace
