// File version text: the generic reconciliation on built resources, and one case for each
// kind of product row (sibling file, text or ini file, registry/Uninstall entry, resource
// string, part arithmetic, highest version subfolder, AIR descriptor, marker bytes), plus the
// files that point at one another or at themselves.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "IdentTestUtil.h"
#include "support/TempDir.h"
#include "foundation/UnicodeUtils.h"
#include "framework/SysUtils.h"
#include "update/PlimFct.h"

namespace {

using identtest::CopyFixture;
using identtest::Fixture;
using identtest::Hive;
using identtest::UninstallEntries;
using identtest::WriteText;

std::string VersionOf(const std::string& file, bool keepRaw = false, std::string product = "") {
    std::string name = file, version = "unset";
    GetFileVersionText(name, product, "", version, keepRaw);
    return version;
}

TEST(VersionText, GenericReconciliation) {
    struct Case {
        const char* file;
        const char* raw;
        const char* normalised;
    };
    const Case cases[] = {
        // Fixed and FileVersion 1.14.5.27, ProductVersion 1.0.0.0 (the program's own shape).
        {"ver_own.dll", "1.14.5.27", "1.14.5.27"},
        // Fixed 1.0.0.0, FileVersion 2.3: the placeholder gives way.
        {"ver_placeholder.dll", "2.3.0.0", "2.3.0.0"},
        // Fixed 0.0.0.0, ProductVersion "3.1 (beta)".
        {"ver_zero.dll", "3.1", "3.1.0.0"},
        // Fixed 5.0.0.0, FileVersion 5.0.0.12: newer with the same high half.
        {"ver_build.dll", "5.0.0.12", "5.0.0.12"},
        // Fixed 3.1.0.0, ProductVersion 3.2: same major, another minor (step 2).
        {"ver_step2.dll", "3.2", "3.2.0.0"},
        // Fixed 4.2.0.0, FileVersion "4.2 (build 7)", ProductVersion 4.2.7: both strings agree
        // on the high half and are ahead (step 3; the longer one wins).
        {"ver_step3.dll", "4.2.7", "4.2.7.0"},
        // Fixed 1.0.0.0, no FileVersion, ProductVersion "2.7 beta" (step 5, second half).
        {"ver_step5.dll", "2.7", "2.7.0.0"},
        // Fixed 0.0.0.5, ProductVersion 7 without a dot (step 6).
        {"ver_step6.dll", "7", "7.0.0.0"},
        {"full64.dll", "1.2.3.4", "1.2.3.4"},
        {"no_version.dll", "", ""},
        {"missing.dll", "", ""},  // never "File not found"
        {"bad_text.dll", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VersionOf(Fixture(c.file), true), c.raw) << c.file;
        EXPECT_EQ(VersionOf(Fixture(c.file), false), c.normalised) << c.file;
    }
}

TEST(VersionText, ARowThatSettlesTheVersionSkipsTheReconciliation) {
    // A row of the if/else chain fires: its FileVersion 2.1 is the answer, though the
    // reconciliation would take ProductVersion 2.5.3 (same major, other minor).
    EXPECT_EQ(VersionOf(Fixture("chain_row.dll"), true), "2.1");

    testsupport::TempDir dir;
    UninstallEntries entries;
    // A refinement after the fixed version that leaves a version ends the chain too: the
    // installer's 1.1 stands against the resource's 1.2.3.4 strings.
    const std::string seatools = dir.Path() + "SeaTools\\seatools.exe";
    CopyFixture("full32.dll", seatools);
    entries.Add(Hive::Machine32, "SeaTools", {{"DisplayName", "SeaTools"}, {"DisplayVersion", "1.1"}});
    EXPECT_EQ(VersionOf(seatools, true), "1.1");

    // The WinZip row on a file without ProductVersion keeps the fixed version.
    const std::string winzip = dir.Path() + "WinZip\\winzip32.exe";
    CopyFixture("ver_build.dll", winzip);
    EXPECT_EQ(VersionOf(winzip, true), "5.0.0.0");
}

TEST(VersionText, AShortFixedBlockIsNoVersion) {
    // The root value holds the four version words but is shorter than a fixed block: what
    // lies behind it is no part of a version, so there is none.
    EXPECT_EQ(GetFixedFileVersion(framework::AnsiToWide(Fixture("short_fixed.dll"))), L"");
    EXPECT_EQ(GetFixedFileVersion(framework::AnsiToWide(Fixture("full32.dll"))), L"1.2.3.4");
    EXPECT_EQ(VersionOf(Fixture("short_fixed.dll"), true), "");
}

TEST(VersionText, ProductRowsOfEachKind) {
    testsupport::TempDir dir;
    UninstallEntries entries;

    // Fixed text by product and folder.
    const std::string shell = dir.Path() + "WindowsPowerShell\\v1.0\\powershell.exe";
    CopyFixture("PowerShell.dll", shell);
    EXPECT_EQ(VersionOf(shell, true), "5.1");
    EXPECT_EQ(VersionOf(shell, false), "5.1.0.0");

    // Sibling executable: the version, and the path handed back, are the sibling's.
    const std::string glyph = dir.Path() + "glyph\\GlyphClient.exe";
    CopyFixture("GlyphClient.dll", glyph);
    EXPECT_EQ(VersionOf(glyph), "1.0.0.0");
    CopyFixture("GlyphClientApp.dll", dir.Path() + "glyph\\GlyphClientApp.exe");
    std::string name = glyph, version;
    GetFileVersionText(name, "", "", version, false);
    EXPECT_EQ(version, "3.2.1.0");
    EXPECT_EQ(name, dir.Path() + "glyph\\GlyphClientApp.exe");

    // Uninstall entry (a 32-bit installer's view).
    const std::string vuze = dir.Path() + "vuze\\Azureus.exe";
    CopyFixture("Vuze.dll", vuze);
    entries.Add(Hive::Machine32, "Vuze", {{"DisplayName", "Vuze"}, {"DisplayVersion", "5.7.6.0"}});
    EXPECT_EQ(VersionOf(vuze), "5.7.6.0");

    // Resource string: ProductVersion.
    EXPECT_EQ(VersionOf(Fixture("Grammarly.dll"), true), "1.2.79");

    // Ini file beside the program.
    const std::string hisuite = dir.Path() + "hisuite\\HiSuite.exe";
    CopyFixture("HiSuite.dll", hisuite);
    EXPECT_EQ(VersionOf(hisuite), "1.0.0.0");
    WriteText(dir.Path() + "hisuite\\runinfo.ini", "[version]\r\nversion=11.0.0.550\r\n");
    EXPECT_EQ(VersionOf(hisuite), "11.0.0.550");

    // Part arithmetic: a Skype publisher's third part is 0.
    EXPECT_EQ(VersionOf(Fixture("Skype.dll")), "8.5.0.9");

    // Highest version subfolder for a fixed version 0.0.0.0.
    const std::string chrome = dir.Path() + "Chrome\\Application\\chrome.exe";
    CopyFixture("Chrome.dll", chrome);
    for (const char* sub : {"99.0.4844.84", "100.0.4896.60", "Locales"})
        CreateDirectoryA((dir.Path() + "Chrome\\Application\\" + sub).c_str(), nullptr);
    EXPECT_EQ(VersionOf(chrome, true), "100.0.4896");

    // Marker bytes inside the executable.
    EXPECT_EQ(VersionOf(Fixture("photoscape.dll"), true), "3.7.1");

    // An AIR application without a version resource: its descriptor.
    const std::string air = dir.Path() + "air\\AirApp.exe";
    CopyFixture("no_version.dll", air);
    WriteText(dir.Path() + "air\\META-INF\\AIR\\application.xml",
              "<application>\r\n<versionNumber>2.5.1</versionNumber>\r\n</application>\r\n");
    EXPECT_EQ(VersionOf(air, true), "2.5.1");

    // A row that clears: the product's helpers are not the product.
    EXPECT_EQ(VersionOf(Fixture("Advanced.dll")), "");
}

TEST(VersionText, FilesThatPointAtEachOtherStop) {
    testsupport::TempDir dir;
    // PotPlayer: the executable asks PotPlayer.dll, then PotPlayer64.dll, when its own
    // version is 0.0.0.0; the DLLs carry the same product and would ask each other.
    CopyFixture("PotPlayer.dll", dir.File("PotPlayerMini.exe"));
    CopyFixture("PotPlayer.dll", dir.File("PotPlayer.dll"));
    CopyFixture("PotPlayer.dll", dir.File("PotPlayer64.dll"));
    EXPECT_EQ(VersionOf(dir.File("PotPlayerMini.exe")), "0.0.0.0");
    EXPECT_EQ(VersionOf(dir.File("PotPlayer.dll")), "0.0.0.0");
    CopyFixture("PotPlayer64.dll", dir.File("PotPlayer64.dll"));
    EXPECT_EQ(VersionOf(dir.File("PotPlayerMini.exe")), "1.7.21.0");
    EXPECT_EQ(VersionOf(dir.File("PotPlayer.dll")), "1.7.21.0");

    // An old LimeWire asks its uninstaller; the uninstaller never asks itself.
    const std::string lime = dir.Path() + "LimeWire\\";
    CopyFixture("ver_own.dll", lime + "uninstall.exe");
    EXPECT_EQ(VersionOf(lime + "uninstall.exe"), "1.14.5.27");
    CopyFixture("ver_own.dll", lime + "LimeWire.exe");
    CopyFixture("ver_build.dll", lime + "uninstall.exe");
    EXPECT_EQ(VersionOf(lime + "LimeWire.exe"), "5.0.0.12");
}

}  // namespace
