// The product table through the whole product-name derivation: one group per kind of row
// (literal, append, prefix and replace, version numbers, sibling files, text/ini/yml files,
// tree search, installed-software lookups, marker bytes in the executable, the runtime asked
// through a child process), on version records given directly and files laid out per case.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "IdentTestUtil.h"
#include "framework/SysUtils.h"
#include "support/TempDir.h"
#include "update/PlimFct.h"
#include "update/PlimRules.h"

namespace {

using identtest::CopyFixture;
using identtest::Hive;
using identtest::WriteText;

// The file can be read through the link.
struct TStringListProbe {
    explicit TStringListProbe(const std::string& path) {
        std::string data;
        ok = framework::ReadFileBytes(path, data) && !data.empty();
    }
    bool ok = false;
};

struct RecSpec {
    const char* fd = "";
    const char* pn = "";
    const char* cn = "";
    const char* fv = "";
    const char* pv = "";
};

FileVersionInfoRec Rec(const RecSpec& s) {
    FileVersionInfoRec r;
    r.FileDescription = s.fd;
    r.ProductName = s.pn;
    r.CompanyName = s.cn;
    r.FileVersion = s.fv;
    r.ProductVersion = s.pv;
    return r;
}

FileVersionInfoRec Pn(const char* pn, const char* pv = "", const char* fv = "", const char* cn = "") {
    return Rec({"", pn, cn, fv, pv});
}

struct Case {
    const char* what;
    const char* path;  // no such file: no PE header, so no bitness suffix
    FileVersionInfoRec rec;
    const char* expected;
};

void Check(const Case* cases, size_t n) {
    for (size_t i = 0; i < n; ++i)
        EXPECT_EQ(plim::DeriveProductName(cases[i].path, cases[i].rec), cases[i].expected) << cases[i].what;
}

TEST(ProductTable, NamesVersionsAndFoldersDecideWithoutFiles) {
    const Case cases[] = {
        // literals
        {"literal", "C:\\Zoom\\bin\\Zoom.exe", Pn("Zoom Meetings"), "Zoom"},
        {"literal by base name", "C:\\7-Zip\\7za.exe", Pn("7-Zip"), "7-Zip Standalone Console"},
        {"another base name", "C:\\7-Zip\\7zFM.exe", Pn("7-Zip"), "7-Zip"},
        {"cleared, then the base name", "C:\\x\\tool.exe", Pn("An executable program"), "tool"},
        {"parent folder", "C:\\Abelssoft\\SSD Fresh\\AbLauncher.exe", Pn("AbLauncher"), "SSD Fresh"},
        {"third list after the base-name fall-back", "C:\\ASRock\\AsrRuefi.exe", Pn(""), "ASRock Restart to UEFI"},
        {"unknown name untouched", "C:\\x\\tool.exe", Pn("Quiet Tool"), "Quiet Tool"},
        {"key AIDA", "C:\\AIDA\\aida.exe", Pn("AIDA Extreme"), "AIDA64"},
        {"base name compi32", "C:\\Inno\\compi32.exe", Pn(""), "Inno Setup"},
        {"Classic start menu", "C:\\CS\\ClassicStartMenu.exe", Pn("Classic Start Menu"), "Classic Shell"},
        {"Classic explorer", "C:\\CS\\ClassicExplorer.exe", Pn("Classic Explorer Settings"), "Classic Shell"},
        {"another Classic product", "C:\\x\\tool.exe", Pn("Classic Racer"), "Classic Racer"},
        // version numbers
        {"Skype 7 is the classic one", "C:\\Skype\\Skype.exe", Pn("Skype", "7.40.0.104"), "Skype Classic"},
        {"Skype 8 stays", "C:\\Skype\\Skype.exe", Pn("Skype", "8.55.0.141"), "Skype"},
        {"tax year from FV", "C:\\TurboTax\\TurboTax.exe", Pn("TurboTax 2019 Deluxe", "", "2019.41.0.0"),
         "TurboTax 2019"},
        {"no year outside 2000-2100", "C:\\TurboTax\\TurboTax.exe", Pn("TurboTax", "", "27.1.0.0"), "TurboTax"},
        {"year offset", "C:\\AAV\\ReportTool.exe",
         Pn("ReportTool", "", "28.0.0.0", "Akademische Arbeitsgemeinschaft Verlag GmbH"), "ReportTool 2022"},
        {"major above", "C:\\Acrobat\\Acrobat.exe", Pn("Adobe Acrobat", "20.1.30"), "Adobe Acrobat DC"},
        {"major not above", "C:\\Acrobat\\Acrobat.exe", Pn("Adobe Acrobat", "11.0.23"), "Adobe Acrobat"},
        {"third part", "C:\\MBAE\\mbae.exe", Pn("Malwarebytes Anti-Exploit", "1.13.2.1"),
         "Malwarebytes Anti-Exploit Enterprise"},
        // append, prefix, replace
        {"append by folder", "C:\\Games\\World of Warcraft\\_classic_era_\\WowClassic.exe", Pn("World of Warcraft"),
         "World of Warcraft Classic Era"},
        {"classic without era", "C:\\Games\\World of Warcraft\\_classic_\\WowClassic.exe", Pn("World of Warcraft"),
         "World of Warcraft Classic"},
        {"prefix", "C:\\Micron\\se.exe", Pn("Storage Executive"), "Micron Storage Executive"},
        {"prefix removed", "C:\\SlimBrowser\\sb.exe", Pn("FlashPeak SlimBrowser"), "SlimBrowser"},
        {"replace, then a year", "C:\\WISO\\start.exe", Pn("WISO Steuer:Start", "2021.3"), "WISO Steuer-Start 2021"},
        {"replace by base name", "C:\\KiTTY\\kitty.exe", Pn("PuTTY"), "KiTTY"},
        {"PuTTY itself", "C:\\PuTTY\\putty.exe", Pn("PuTTY"), "PuTTY"},
        {"suite name", "C:\\Adobe\\Photoshop.exe", Pn("Adobe Photoshop CS6 Extended"), "Adobe Photoshop"},
        {"edition from the version", "C:\\Datacolor\\Spyder5.exe", Pn("5.0", "", "", "DataColor AG"), "Spyder5Pro"},
        {"edition from the base name", "C:\\Datacolor\\Spyder5Elite.exe", Pn("Spyder5"), "Spyder5Elite"},
        {"channel folder", "C:\\Google\\Chrome SxS\\Application\\chrome.exe", Pn("Google Chrome"),
         "Google Chrome Canary"},
        {"fork folder", "C:\\SRWare Iron\\chrome.exe", Pn("Chromium"), "SRWare Iron"},
        {"no stock files beside it", "C:\\Ungoogled\\chrome.exe", Pn("Chromium"), "Ungoogled Chromium"},
        {"crash reporter", "C:\\Nightly\\crashreporter.exe", Pn("Minefield"), "Minefield Crash Reporter"},
        // the plug-in flavours, by path and base name
        {"ActiveX control", "C:\\Windows\\System32\\Macromed\\Flash\\Flash32_32_0_0_465.ocx",
         Pn("Shockwave Flash"), "Adobe Flash Player for Internet Explorer"},
        {"NPAPI plug-in", "C:\\Windows\\System32\\Macromed\\Flash\\NPSWF32_32_0_0_465.dll", Pn("Shockwave Flash"),
         "Adobe Flash Player for Firefox"},
        {"PPAPI plug-in", "C:\\Windows\\System32\\Macromed\\Flash\\pepflashplayer32_32_0_0_465.dll",
         Pn("Shockwave Flash"), "Adobe Flash Player for Opera/Chromium"},
        {"updater of the ActiveX", "C:\\Windows\\System32\\Macromed\\Flash\\FlashUtil32_32_0_0_465_ActiveX.dll",
         Pn("Shockwave Flash"), "Adobe Flash Player for Internet Explorer"},
        {"updater of PPAPI", "C:\\Windows\\System32\\Macromed\\Flash\\FlashUtil32_32_0_0_465_pepper.exe",
         Pn("Shockwave Flash"), "Adobe Flash Player for Opera/Chromium"},
        {"projector", "C:\\Flash\\flashplayer_32_sa.exe", Pn("Shockwave Flash"), "Adobe Flash Player Projector"},
        {"Shockwave player", "C:\\Shockwave\\sw.dll", Pn("Shockwave ActiveX Control"),
         "Shockwave for Internet Explorer"},
    };
    Check(cases, std::size(cases));
}

TEST(ProductTable, SiblingAndTextFilesBesideTheProgram) {
    testsupport::TempDir dir;
    const std::string d = dir.Path();
    WriteText(d + "dosbox\\Patches.txt", "ECE patches");
    WriteText(d + "dosbox-empty\\Patches.txt", "");  // an empty sibling disables the row
    WriteText(d + "auslogics\\BoostSpeed.exe", "MZ");
    WriteText(d + "eset\\SecurityProductInformation.ini",
              "[Product]\r\nVersion=16.0\r\nName=  ESET Smart Security Premium  \r\nName=second\r\n");
    WriteText(d + "Citrix\\receiver\\BuildInformation.txt", "Build 22.3.500 CU5\r\nother\r\n");
    WriteText(d + "Citrix2\\receiver\\BuildInformation.txt", "Build 23.9.1\r\nCU1\r\n");
    WriteText(d + "FirefoxPortable\\App\\AppInfo\\appinfo.ini",
              "[Details]\r\nName=Mozilla Firefox Legacy, Portable Edition\r\n");
    WriteText(d + "FirefoxPortable2\\App\\AppInfo\\appinfo.ini", "[Details]\r\nName=Mozilla Firefox Something\r\n");
    WriteText(d + "rambox\\resources\\app-update.yml", "provider: generic\r\nchannel: community-edition\r\n");
    WriteText(d + "cpuz\\rog_cpuz_readme.txt", "Intro\r\nROG CPU-Z Readme file\r\n");
    WriteText(d + "bleach\\BleachBit.ini", "[Portable]\r\n");
    WriteText(d + "node\\CHANGELOG.md",
              "<td><a href=\"doc/changelogs/CHANGELOG_V19.md\">19</a><sup>Current</sup></td>\r\n"
              "<td><a href=\"doc/changelogs/CHANGELOG_V18.md\">18</a><sup>LTS</sup></td>\r\n");
    WriteText(d + "node-old\\CHANGELOG.md", "<th><a href=\"doc/changelogs/CHANGELOG_V9.md\">9</a> (Current)</th>\r\n");
    WriteText(d + "node-none\\CHANGELOG.md", "# Node.js ChangeLog\r\n");

    const std::string dosbox = d + "dosbox\\dosbox.exe", dosboxEmpty = d + "dosbox-empty\\dosbox.exe",
                      boost = d + "auslogics\\tool.exe", eset = d + "eset\\egui.exe",
                      citrix = d + "Citrix\\app\\SelfService.exe", citrix2 = d + "Citrix2\\app\\SelfService.exe",
                      portable = d + "FirefoxPortable\\FirefoxPortable.exe",
                      portable2 = d + "FirefoxPortable2\\FirefoxPortable.exe", rambox = d + "rambox\\Rambox.exe",
                      cpuz = d + "cpuz\\cpuz_x64.exe", bleach = d + "bleach\\bleachbit.exe",
                      bleach2 = d + "bleach2\\bleachbit.exe", node = d + "node\\node.exe",
                      nodeOld = d + "node-old\\node.exe", nodeNone = d + "node-none\\node.exe";
    const Case cases[] = {
        {"sibling file", dosbox.c_str(), Pn("DOSBox"), "DOSBox ECE"},
        {"empty sibling", dosboxEmpty.c_str(), Pn("DOSBox"), "DOSBox"},
        {"sibling program", boost.c_str(), Pn("Auslogics Tool", "", "", "Auslogics Labs"), "BoostSpeed"},
        {"ini line", eset.c_str(), Pn("ESET Security"), "ESET Smart Security Premium"},
        {"text file above the folder", citrix.c_str(), Pn("Citrix Workspace"), "Citrix Workspace LTSR"},
        {"only its first line counts", citrix2.c_str(), Pn("Citrix Workspace"), "Citrix Workspace"},
        {"ini value", portable.c_str(), Pn("Mozilla Firefox, Portable Edition"),
         "Mozilla Firefox Legacy, Portable Edition"},
        {"ini value without the mark", portable2.c_str(), Pn("Mozilla Firefox, Portable Edition"),
         "Mozilla Firefox, Portable Edition"},
        {"yml line", rambox.c_str(), Pn("Rambox"), "Rambox CE"},
        {"readme files in the folder", cpuz.c_str(), Pn("CPU-Z"), "CPU-Z ROG Edition"},
        {"portable marker", bleach.c_str(), Pn(""), "BleachBit Portable"},
        {"no portable marker", bleach2.c_str(), Pn(""), "BleachBit"},
        {"change log: LTS line of this major", node.c_str(), Pn("Node.js", "18.12.1"), "Node.js (LTS)"},
        {"change log: the other form", nodeOld.c_str(), Pn("Node.js", "9.11.2"), "Node.js (Current)"},
        {"change log without the major: nothing run", nodeNone.c_str(), Pn("Node.js", "20.0.0"), "Node.js"},
    };
    Check(cases, std::size(cases));
}

TEST(ProductTable, FileVersionComparedWithAFixedOne) {
    testsupport::TempDir dir;
    CopyFixture("ver_build.dll", dir.Path() + "new\\DVDFlick.exe");  // 5.0.0.12
    CopyFixture("full32.dll", dir.Path() + "old\\DVDFlick.exe");     // 1.2.3.4, below 1.307.738.0
    EXPECT_EQ(plim::DeriveProductName(dir.Path() + "new\\DVDFlick.exe", Pn("DVD Flick")), "DVD Flick v2");
    EXPECT_EQ(plim::DeriveProductName(dir.Path() + "old\\DVDFlick.exe", Pn("DVD Flick")), "DVD Flick");
}

TEST(ProductTable, MarkerBytesInTheExecutable) {
    testsupport::TempDir dir;
    WriteText(dir.Path() + "a\\qbittorrent.exe", std::string("MZ\0\0 header ", 12) + "qBittorrent Enhanced Edition" +
                                                     std::string(40, '\0'));
    WriteText(dir.Path() + "b\\qbittorrent.exe", std::string("MZ\0\0 header ", 12) + "qbittorrent enhanced edition");
    EXPECT_EQ(plim::DeriveProductName(dir.Path() + "a\\qbittorrent.exe", Pn("qBittorrent")),
              "qBittorrent Enhanced Edition");
    // The search is case-sensitive.
    EXPECT_EQ(plim::DeriveProductName(dir.Path() + "b\\qbittorrent.exe", Pn("qBittorrent")), "qBittorrent");
}

TEST(ProductTable, MozillaChannelFromTheUpdateSettings) {
    testsupport::TempDir dir;
    const std::string d = dir.Path();
    const FileVersionInfoRec firefox = Rec({"Firefox", "Firefox", "Mozilla Corporation", "", ""});
    // Beside the program, "esr" on its second line: the suffix once.
    WriteText(d + "esr\\update-settings.ini", "[Settings]\r\nACCEPTED_MAR_CHANNEL_IDS=firefox-mozilla-esr\r\nesr\r\n");
    EXPECT_EQ(plim::DeriveProductName(d + "esr\\firefox.exe", firefox), "Firefox (ESR)");
    WriteText(d + "release\\update-settings.ini", "[Settings]\r\nACCEPTED_MAR_CHANNEL_IDS=firefox-mozilla-release\r\n");
    EXPECT_EQ(plim::DeriveProductName(d + "release\\firefox.exe", firefox), "Firefox");
    // Not beside it: found in a subfolder.
    WriteText(d + "tree\\defaults\\pref\\update-settings.ini", "[Settings]\r\nchannel=esr\r\n");
    EXPECT_EQ(plim::DeriveProductName(d + "tree\\firefox.exe", firefox), "Firefox (ESR)");
    // Another maker's program is not looked at.
    EXPECT_EQ(plim::DeriveProductName(d + "esr\\other.exe", Pn("Other Browser")), "Other Browser");

    // A link inside the folder leading elsewhere (to an ESR tree) is not followed. Made here
    // where the system can; else the build made one on the host side.
    std::string linked = d + "linked\\";
    WriteText(d + "elsewhere\\update-settings.ini", "esr\r\n");
    ASSERT_TRUE(framework::ForceDirectories(linked));
    std::wstring link = framework::AnsiToWide(linked + "shortcut");
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (CreateSymbolicLinkW(link.c_str(), framework::AnsiToWide(d + "elsewhere").c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY))
        attributes = GetFileAttributesW(link.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        linked = framework::ExtractFilePath(framework::GetModuleFileNameText(nullptr)) + "link-fixture\\linked\\";
        link = framework::AnsiToWide(linked + "shortcut");
        attributes = GetFileAttributesW(link.c_str());
        TStringListProbe probe(linked + "shortcut\\update-settings.ini");
        if (!probe.ok) GTEST_SKIP() << "no folder link to walk past";
    }
    ASSERT_NE(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << std::hex << attributes;
    EXPECT_EQ(plim::DeriveProductName(linked + "firefox.exe", firefox), "Firefox");
}

TEST(ProductTable, InstalledSoftwareDecides) {
    testsupport::TempDir dir;
    const std::string chrome = dir.Path() + "Google\\Chrome\\Application\\";
    const std::string chromeOther = dir.Path() + "Other\\Chrome\\Application\\";
    const std::string waterfox = dir.Path() + "Waterfox\\";
    identtest::UninstallEntries entries;
    entries.Add(Hive::User, "VoltAtlasTest Chrome Canary",
                {{"DisplayName", "Google Chrome Canary"}, {"InstallLocation", chrome}});
    entries.Add(Hive::User, "VoltAtlasTest Macrium",
                {{"DisplayName", "Macrium Reflect Free Edition"}, {"DisplayVersion", "7.3"}});
    entries.Add(Hive::User, "VoltAtlasTest Waterfox",
                {{"DisplayName", "Waterfox G5.1.2"}, {"DisplayVersion", "G5.1.2"}, {"InstallLocation", waterfox}});
    const std::string chromeExe = chrome + "chrome.exe", chromeOtherExe = chromeOther + "chrome.exe",
                      waterfoxExe = waterfox + "waterfox.exe";
    const Case cases[] = {
        {"display name of the entry in the folder", chromeExe.c_str(), Pn("Google Chrome"), "Google Chrome Canary"},
        {"no entry in that folder", chromeOtherExe.c_str(), Pn("Google Chrome"), "Google Chrome"},
        {"edition by entry", "C:\\Macrium\\Reflect.exe", Pn("Macrium Reflect"), "Macrium Reflect Free"},
        {"generation from the version; the final dot goes", waterfoxExe.c_str(), Pn("Waterfox"),
         "Waterfox G5"},
        {"no registered copy: portable", "C:\\MBAM\\mbam.exe", Pn("Malwarebytes Anti-Malware"),
         "Malwarebytes Anti-Malware Portable"},
    };
    Check(cases, std::size(cases));
    entries.Add(Hive::User, "VoltAtlasTest MBAM",
                {{"DisplayName", "Malwarebytes Anti-Malware version 1.75"}, {"DisplayVersion", "1.75.0.1300"}});
    EXPECT_EQ(plim::DeriveProductName("C:\\MBAM\\mbam.exe", Pn("Malwarebytes Anti-Malware")),
              "Malwarebytes Anti-Malware");
}

// ---------------------------------------------------------------------------------------------
// The runtime asked for its release line: the tests' console child stands in for it.

std::string ChildPath() {
    return framework::ExtractFilePath(framework::GetModuleFileNameText(nullptr)) + "capture_child.exe";
}

class NodeRuntime : public ::testing::Test {
protected:
    // A "node.exe" in a folder with a blank, whose answer is Answer; beside the folder a
    // program the unquoted path would start instead, answering the other way.
    std::string Install(const std::string& Answer) {
        const std::string folder = dir_.Path() + "Program Files\\nodejs\\";
        EXPECT_TRUE(framework::ForceDirectories(folder));
        EXPECT_TRUE(CopyFileA(ChildPath().c_str(), (folder + "node.exe").c_str(), FALSE));
        EXPECT_TRUE(CopyFileA(ChildPath().c_str(), (dir_.Path() + "Program.exe").c_str(), FALSE));
        WriteText(folder + "node.txt", Answer);
        WriteText(dir_.Path() + "Program.txt", Answer == "undefined\n" ? "Hydrogen\n" : "undefined\n");
        return folder + "node.exe";
    }
    testsupport::TempDir dir_;
};

TEST_F(NodeRuntime, ItsAnswerNamesTheReleaseLine) {
    // The stand-in is a 64-bit program, hence the bitness suffix.
    EXPECT_EQ(plim::DeriveProductName(Install("'Hydrogen'\n"), Pn("Node.js", "18.12.1")), "Node.js (LTS) (64 bits)");
    EXPECT_EQ(plim::DeriveProductName(Install("undefined\n"), Pn("Node.js", "19.0.0")), "Node.js (Current) (64 bits)");
    EXPECT_EQ(plim::DeriveProductName(Install(""), Pn("Node.js", "19.0.0")), "Node.js (64 bits)");
}

TEST_F(NodeRuntime, ARuntimeThatHangsIsAbortedAndKeepsThePlainName) {
    EXPECT_EQ(plim::DeriveProductName(Install("hang"), Pn("Node.js", "18.0.0")), "Node.js (64 bits)");
}

TEST_F(NodeRuntime, OnlyAProgramNamedNodeIsAsked) {
    const std::string node = Install("'Hydrogen'\n");
    const std::string other = framework::ExtractFilePath(node) + "nodejs-runner.exe";
    ASSERT_TRUE(CopyFileA(node.c_str(), other.c_str(), FALSE));
    WriteText(framework::ExtractFilePath(node) + "nodejs-runner.txt", "'Hydrogen'\n");
    EXPECT_EQ(plim::DeriveProductName(other, Pn("Node.js", "18.12.1")), "Node.js (64 bits)");
}

}  // namespace
