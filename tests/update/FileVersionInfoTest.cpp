// The version-resource class: files made by the build, and hostile resources given to the
// parser as byte buffers (so Windows' own loader never sees them).
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "IdentTestUtil.h"
#include "components/KitFileVersionInfo.h"
#include "support/TempDir.h"

namespace {

using identtest::Blob;
using identtest::Fixture;

constexpr const char* kNoInfo = "File contains no version information";

std::string Message(const std::string& data) {
    try {
        TKitFileVersionInfo::FromBuffer(data);
    } catch (const EKitFileVersionInfoError& e) {
        return e.what();
    }
    return "valid";
}

TEST(FileVersionInfo, PresenceAndModulePath) {
    testsupport::TempDir dir;
    EXPECT_FALSE(FileIsPresent(""));
    EXPECT_FALSE(FileIsPresent(dir.Path()));
    EXPECT_FALSE(FileIsPresent(dir.File("missing.dll")));
    EXPECT_TRUE(FileIsPresent(Fixture("full32.dll")));
    EXPECT_EQ(ModuleFullPath(nullptr), framework::GetModuleFileNameText());

    try {
        TKitFileVersionInfo info(dir.Path());
        FAIL() << "a folder has no version resource";
    } catch (const EKitFileVersionInfoError& e) {
        EXPECT_EQ(std::string(e.what()), "The file " + dir.Path() + " does not exist");
    }
    try {
        TKitFileVersionInfo info(Fixture("no_version.dll"));
        FAIL() << "no_version.dll has no version resource";
    } catch (const EKitFileVersionInfoError& e) {
        EXPECT_STREQ(e.what(), kNoInfo);
    }
}

TEST(FileVersionInfo, ReadsFixedPartTablesAndTranslations) {
    const TKitFileVersionInfo info(Fixture("two_tables.dll"));
    EXPECT_EQ(info.FixedInfo().dwSignature, VS_FFI_SIGNATURE);
    EXPECT_EQ(info.FixedInfo().dwFileVersionMS, 0x00010000u);
    ASSERT_EQ(info.Languages().size(), 2u);
    EXPECT_EQ(info.Languages()[0], 0x04B00409u);
    EXPECT_EQ(info.Languages()[1], 0x04B00407u);
    ASSERT_EQ(info.Translations().size(), 2u);
    EXPECT_EQ(info.Translations()[0], 0x04B00407u);
    // Index 9 is the first table's ProductName, though the translation names the second.
    EXPECT_EQ(info.GetStandardKey(9), "First Table");
    EXPECT_EQ(info.GetStandardKey(2), "Alpha");
    EXPECT_EQ(info.GetStandardKey(1), "");
    EXPECT_EQ(info.GetStandardKey(0), "");
    EXPECT_EQ(info.GetStandardKey(13), "");
    EXPECT_EQ(info.ItemList().Count(), 4);
    EXPECT_EQ(info.Items().Count(), 2);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(info.Items().Objects(0)), 0x04B00409u);

    // Keys are found without regard to case.
    EXPECT_EQ(TKitFileVersionInfo(Fixture("lower_keys.dll")).GetStandardKey(9), "Lower Case");
    // What came before an unknown top-level child is kept, and the resource is valid.
    EXPECT_EQ(TKitFileVersionInfo(Fixture("unknown_child.dll")).GetStandardKey(2), "Kept");

    VS_FIXEDFILEINFO fixed{};
    ASSERT_TRUE(ReadFixedFileInfo(Fixture("ver_own.dll"), fixed));
    EXPECT_EQ(fixed.dwFileVersionMS, 0x0001000Eu);
    EXPECT_EQ(fixed.dwFileVersionLS, 0x0005001Bu);
    EXPECT_FALSE(ReadFixedFileInfo(Fixture("no_version.dll"), fixed));
}

TEST(FileVersionInfo, BinaryValuesAreMaskedToTheirLength) {
    // Each short value is followed by bytes that must not show in it.
    const std::string table = Blob::Table(
        "040904b0", Blob::Binary("Two", std::string("\x34\x12\xEE\xEE", 4), 2) +
                        Blob::Binary("One", std::string("\x05\xAA\xBB\xCC", 4), 1) +
                        Blob::Binary("Three", std::string("\x01\x02\x03\xFF", 4), 3) +
                        Blob::Binary("Four", std::string("\x78\x56\x34\x12", 4), 4));
    const auto info = TKitFileVersionInfo::FromBuffer(Blob::Root(Blob::Strings(table)));
    ASSERT_EQ(info->ItemList().Count(), 4);
    EXPECT_EQ(info->ItemList()[0], "Two=$1234");
    EXPECT_EQ(info->ItemList()[1], "One=$05");
    EXPECT_EQ(info->ItemList()[2], "Three=$030201");
    EXPECT_EQ(info->ItemList()[3], "Four=$12345678");

    // The built fixture holds the same kind of values.
    const TKitFileVersionInfo file(Fixture("binary_values.dll"));
    EXPECT_EQ(file.GetStandardKey(1), "$1234");
    EXPECT_EQ(file.GetStandardKey(12), "$05");
}

TEST(FileVersionInfo, LanguageKeysAndFileFlags) {
    struct Case {
        const char* key;
        bool valid;
        uint32_t language;
    };
    const Case cases[] = {
        {"040904b0", true, 0x04B00409},
        {"0x0409 04B0", true, 0x04B00409},  // prefix and blank cleaned away
        {"0409XY04b0", true, 0x04B00409},
        {"040904b", false, 0},              // seven digits
        {"040904b0aa", false, 0},
    };
    for (const Case& c : cases) {
        const std::string blob = Blob::Root(Blob::Strings(Blob::Table(c.key, Blob::Text("ProductName", "P"))));
        if (!c.valid) {
            EXPECT_EQ(Message(blob), kNoInfo) << c.key;
            continue;
        }
        const auto info = TKitFileVersionInfo::FromBuffer(blob);
        ASSERT_EQ(info->Languages().size(), 1u) << c.key;
        EXPECT_EQ(info->Languages()[0], c.language) << c.key;
    }

    const auto flagged = TKitFileVersionInfo::FromBuffer(Blob::Root("", VS_FF_DEBUG | VS_FF_PRERELEASE | 0x40));
    EXPECT_TRUE(flagged->HasFileFlag(TKitFileFlag::ffDebug));
    EXPECT_TRUE(flagged->HasFileFlag(TKitFileFlag::ffPreRelease));
    EXPECT_FALSE(flagged->HasFileFlag(TKitFileFlag::ffPatched));
    EXPECT_FALSE(flagged->HasFileFlag(TKitFileFlag::ffSpecialBuild));
}

// Resources whose length words lie: each is bounded by its parent and the buffer.
TEST(FileVersionInfo, HostileResourcesAreInvalidNotOverrun) {
    const std::string good = Blob::Root(Blob::Strings(Blob::Table("040904b0", Blob::Text("CompanyName", "Co"))) +
                                        Blob::Translation({0x04B00409}));
    ASSERT_EQ(Message(good), "valid");

    auto withWord = [](std::string b, size_t at, uint16_t v) {
        Blob::Put16(b, at, v);
        return b;
    };
    const size_t sfi = 92;          // StringFileInfo follows the 52-byte fixed part
    const size_t table = sfi + 36;  // its header and key "StringFileInfo"
    const size_t entry = table + 24;
    struct Case {
        const char* what;
        std::string data;
        const char* expected;
    };
    const Case cases[] = {
        {"empty buffer", std::string(), kNoInfo},
        {"one byte", std::string(1, '\x5c'), kNoInfo},
        {"header only", good.substr(0, 6), kNoInfo},
        {"root longer than the buffer", withWord(good, 0, 0xFFFF), kNoInfo},
        {"root cut inside its fixed part", good.substr(0, 60), kNoInfo},
        {"child longer than the root", withWord(good, sfi, 0x7FFF), kNoInfo},
        {"table longer than its parent", withWord(good, table, 0x7FFF), kNoInfo},
        {"string longer than its table", withWord(good, entry, 0x0400), kNoInfo},
        {"string shorter than its header", withWord(good, entry, 3), kNoInfo},
        {"root key without terminator", Blob::Block("VS_VERSION_INFO", "", 0, 52).substr(0, 36), kNoInfo},
        {"wrong signature", withWord(good, 40, 0x1234), kNoInfo},
        {"unknown string type", withWord(good, entry + 4, 7), kNoInfo},
        // A zero length ends its level; only zero bytes may follow it.
        {"zero-length child then zeros", Blob::Root(std::string(16, '\0')), "valid"},
        {"zero-length child then data", Blob::Root(std::string(8, '\0') + "garbage!"), kNoInfo},
        {"zero-length string then zeros",
         Blob::Root(Blob::Strings(Blob::Table("040904b0", Blob::Text("A", "b") + std::string(8, '\0')))), "valid"},
    };
    for (const Case& c : cases) EXPECT_EQ(Message(c.data), c.expected) << c.what;

    // A text value whose length runs past its block is cut at the block, not read beyond.
    std::string longText = Blob::Root(Blob::Strings(Blob::Table("040904b0", Blob::Block("K", Blob::Wide("abc"), 1, 500))));
    const auto info = TKitFileVersionInfo::FromBuffer(longText);
    EXPECT_EQ(info->ItemList()[0], "K=abc");
    // A binary value that claims more bytes than its block holds is damage.
    EXPECT_EQ(Message(Blob::Root(Blob::Strings(Blob::Table("040904b0", Blob::Block("K", "", 0, 4))))), kNoInfo);
}

// The same damage inside real files, read through Windows' own version API.
TEST(FileVersionInfo, DamagedResourcesInFiles) {
    EXPECT_EQ(TKitFileVersionInfo(Fixture("zero_length.dll")).GetStandardKey(2), "Zero Co");
    try {
        TKitFileVersionInfo info(Fixture("overlong.dll"));
        FAIL() << "a string longer than its table";
    } catch (const EKitFileVersionInfoError& e) {
        EXPECT_STREQ(e.what(), kNoInfo);
    }
}

TEST(FileVersionInfo, SixteenBitLayout) {
    // Header without a type word, ANSI keys and values.
    auto block = [](const std::string& key, const std::string& value, const std::string& children) {
        std::string b(4, '\0');
        b += key;
        b.push_back('\0');
        Blob::Pad(b);
        b += value;
        if (!children.empty()) {
            Blob::Pad(b);
            b += children;
        }
        Blob::Put16(b, 0, static_cast<uint16_t>(b.size()));
        Blob::Put16(b, 2, static_cast<uint16_t>(value.size()));
        Blob::Pad(b);
        return b;
    };
    const std::string entry = block("ProductName", std::string("Old\0", 4), "");
    const std::string data =
        block("VS_VERSION_INFO", Blob::Fixed(0x00030000, 0), block("StringFileInfo", "", block("040904E4", "", entry)));
    const auto info = TKitFileVersionInfo::FromBuffer(data);
    EXPECT_EQ(info->GetStandardKey(9), "Old");
    EXPECT_EQ(info->FixedInfo().dwFileVersionMS, 0x00030000u);
}

}  // namespace
