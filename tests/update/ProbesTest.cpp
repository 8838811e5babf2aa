// Version probes: the version-text tests, the ffdshow registry probe (both registry views),
// the highest version subfolder and the Uninstall probes that combine two lookups.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "IdentTestUtil.h"
#include "framework/Registry.h"
#include "framework/SysUtils.h"
#include "support/TempDir.h"
#include "update/PlimFct.h"

namespace {

using identtest::Hive;
using identtest::UninstallEntries;

TEST(Probes, VersionTexts) {
    const std::pair<const char*, const char*> leading[] = {
        {"1, 2, 3, 4 beta", "1.2.3.4"}, {"12,5 build 3", "12.5"}, {" 1.2", "1.2"}, {"", ""}, {"v1.2", ""},
        {"3.1 (beta)", "3.1"},
    };
    for (const auto& [in, out] : leading) EXPECT_EQ(LeadingVersionNumber(in), out) << in;

    EXPECT_TRUE(IsVersionString(""));
    EXPECT_TRUE(IsVersionString("1.2.3"));
    EXPECT_FALSE(IsVersionString("1.2a"));
    EXPECT_FALSE(IsVersionString("1 2"));
    EXPECT_FALSE(IsValidVersion(""));
    EXPECT_FALSE(IsValidVersion("0.0"));
    EXPECT_TRUE(IsValidVersion("0.0.0.1"));
}

// Sets HKLM\SOFTWARE\GNU\ffdshow "revision" in one registry view, removed afterwards.
class FfdshowRevision {
public:
    FfdshowRevision(REGSAM view, DWORD revision) : view_(view) {
        framework::TRegistry reg(HKEY_LOCAL_MACHINE, KEY_ALL_ACCESS | view_);
        EXPECT_TRUE(reg.OpenKey("SOFTWARE\\GNU\\ffdshow", true));
        reg.WriteInteger("revision", static_cast<int32_t>(revision));
    }
    ~FfdshowRevision() {
        framework::TRegistry reg(HKEY_LOCAL_MACHINE, KEY_ALL_ACCESS | view_);
        reg.DeleteKey("SOFTWARE\\GNU\\ffdshow");
        reg.DeleteKey("SOFTWARE\\GNU");
    }

private:
    REGSAM view_;
};

TEST(Probes, FfdshowRevisionInEitherView) {
    EXPECT_EQ(GetFfdshowVersion(), "");
    const std::pair<DWORD, const char*> cases[] = {
        {4500, "1.2.4500"}, {4422, "1.1.4422"}, {3403, "1.1.3403"}, {3402, "1.0.3402"}, {0, "0"}};
    for (const auto& [revision, expected] : cases) {
        // A 32-bit installer writes to the 32-bit view; the 64-bit build still sees it.
        for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            const FfdshowRevision value(view, revision);
            EXPECT_EQ(GetFfdshowVersion(), expected) << revision << " view " << view;
        }
    }
    // An Uninstall entry wins over the revision.
    UninstallEntries entries;
    entries.Add(Hive::Machine64, "ffdshow_is1", {{"DisplayName", "ffdshow"}, {"DisplayVersion", "1.3.4531"}});
    const FfdshowRevision value(KEY_WOW64_64KEY, 4500);
    EXPECT_EQ(GetFfdshowVersion(), "1.3.4531");
}

TEST(Probes, HighestVersionSubfolder) {
    testsupport::TempDir dir;
    for (const char* sub : {"99.0.4844.84", "100.0.4896.60", "Plugins"})
        ASSERT_TRUE(CreateDirectoryA(dir.File(sub).c_str(), nullptr));
    EXPECT_EQ(GetHighestVersionSubfolder(dir.File("chrome.exe")), "100.0.4896");

    testsupport::TempDir tie;
    for (const char* sub : {"1.9", "1.10"}) ASSERT_TRUE(CreateDirectoryA(tie.File(sub).c_str(), nullptr));
    // Both read as 1 once the last dot-part goes: the first listed wins.
    const std::string first = GetHighestVersionSubfolder(tie.File("x.exe"));
    EXPECT_EQ(first, "1");

    testsupport::TempDir none;
    EXPECT_EQ(GetHighestVersionSubfolder(none.File("x.exe")), "");
}

TEST(Probes, CombinedUninstallLookups) {
    UninstallEntries entries;
    // XviD: both lookups give 1.3.7; on a tie the second lookup's text is returned.
    entries.Add(Hive::Machine32, "XviD_is1", {{"DisplayName", "XviD 1.3.7"}, {"DisplayVersion", "01.3.7"}});
    EXPECT_EQ(GetXvidVersion(), "1.3.7");
    // OpenOffice: the display name's trailing number, its fourth part from DisplayVersion.
    entries.Add(Hive::Machine64, "OOo", {{"DisplayName", "OpenOffice 4.1.6"}, {"DisplayVersion", "4.16.9810"}});
    EXPECT_EQ(GetOpenOfficeVersion(), "4.1.6.9810");
    // GIMP: the display name's number when it holds a dot.
    entries.Add(Hive::Machine64, "GIMP-2_is1", {{"DisplayName", "GIMP 2.10.34"}, {"DisplayVersion", "2.10.34"}});
    EXPECT_EQ(GetGimpVersion(), "2.10.34");
    // HashTab is hidden by OpenHashTab, through the pseudo-key.
    entries.Add(Hive::User, "HashTab", {{"DisplayName", "HashTab"}, {"DisplayVersion", "6.0"}});
    std::string key = "HASHTAB", version;
    GetFileVersionText(key, "", "", version, true);
    EXPECT_EQ(version, "6.0");
    entries.Add(Hive::Machine64, "OpenHashTab", {{"DisplayName", "OpenHashTab"}, {"DisplayVersion", "3.0.2"}});
    GetFileVersionText(key, "", "", version, true);
    EXPECT_EQ(version, "");
    key = "OPENHASHTAB";
    GetFileVersionText(key, "", "", version, false);
    EXPECT_EQ(version, "3.0.2.0");
}

TEST(Probes, MalwarebytesChangesFile) {
    testsupport::TempDir dir;
    EXPECT_EQ(GetMalwarebytesVersion(dir.Path()), "");
    identtest::WriteText(dir.File("changes.txt"), "");
    EXPECT_EQ(GetMalwarebytesVersion(dir.Path()), "");
    identtest::WriteText(dir.File("changes.txt"), "Release notes 4.5.9.198\r\n- fixes\r\n");
    EXPECT_EQ(GetMalwarebytesVersion(dir.Path()), "4.5.9.198");
    UninstallEntries entries;
    entries.Add(Hive::Machine32, "MBAM", {{"DisplayName", "Malwarebytes version 4.6.0.200"},
                                         {"DisplayVersion", "4.6.0.200 (beta)"}});
    EXPECT_EQ(GetMalwarebytesVersion(dir.Path()), "4.6.0.200");
    EXPECT_FALSE(IsMalwarebytesInstalled());
}

}  // namespace
