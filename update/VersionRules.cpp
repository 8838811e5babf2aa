// The rows of the version-text resolution: products whose version resource does not carry
// the version they show their users. Each row is a trigger and an action; the stages run
// them in table order (see ResolveFileVersion).
#include <windows.h>

#include <cstdio>
#include <functional>

#include "foundation/JoryUtils.h"
#include "foundation/UnicodeUtils.h"
#include "foundation/Version.h"
#include "framework/IniFile.h"
#include "framework/SysUtils.h"
#include "update/PlimRules.h"

using framework::AnsiToWide;
using framework::SameText;
using framework::Trim;
using framework::TStringList;
using framework::WideToAnsi;

namespace plim {
namespace {

bool FileThere(const std::string& Path) { return FileExistsNotEmpty(AnsiToWide(Path)); }

// The version of a sibling executable (never the file itself). Only the outermost
// resolution consults siblings, so two files that name each other stop after one step.
bool SiblingVersion(TVersionWork& W, const std::string& Sibling) {
    if (TIdentGuard::VersionDepth() > 1) return false;
    std::string path = W.Folder + Sibling;
    if (!FileThere(path) || SameText(path, W.FileName)) return false;
    std::string version;
    GetFileVersionText(path, W.Product, W.Company, version, false);
    W.R = version;
    W.FileName = path;  // the caller learns which file spoke
    return true;
}

// The first line of a text file shipped beside the program; empty when it holds none.
std::string FirstLine(const std::string& Path) {
    TStringList lines;
    if (!FileThere(Path) || !lines.LoadFromFile(Path) || lines.Count() == 0) return std::string();
    return Trim(lines[0]);
}

std::string IniValue(const std::string& Path, const char* Section, const char* Key) {
    if (!FileThere(Path)) return std::string();
    return Trim(framework::TIniFile(Path).ReadString(Section, Key, ""));
}

std::string Printed(const TPlimVersion& V) { return V.AsText(); }

std::string WithoutLeadingV(const std::string& S) {
    return (!S.empty() && (S[0] == 'v' || S[0] == 'V')) ? Trim(S.substr(1)) : S;
}

// The text between two markers in the executable's own bytes: from Skip characters after the
// start of Start up to Before characters before the start of the next End. Every offset is
// clamped to the file.
std::string BetweenMarkers(const std::string& File, const std::string& Start, size_t Skip, const std::string& End,
                           size_t Before) {
    std::string bytes;
    if (!framework::ReadFileBytes(File, bytes)) return std::string();
    const size_t s = bytes.find(Start);
    if (s == std::string::npos) return std::string();
    const size_t from = std::min(bytes.size(), s + Skip);
    const size_t e = bytes.find(End, s + Start.size());
    if (e == std::string::npos) return std::string();
    const size_t to = e >= Before ? e - Before : 0;
    return to > from ? bytes.substr(from, to - from) : std::string();
}

bool ProductStarts(const TVersionWork& W, const char* Name) { return StrStartsText(W.Product, Name); }
bool ProductHas(const TVersionWork& W, const char* Name) { return StrContainsText(Name, W.Product); }

// The publisher text of the portable-application platform's packages.
constexpr const char* kPortablePlatform = "PortableApps.com";

// Triggers and actions the rows are made of.
using TTrigger = std::function<bool(const TVersionWork&)>;
using TAction = std::function<void(TVersionWork&)>;

TTrigger ProductStartsWith(std::string Name) {
    return [Name](const TVersionWork& W) { return StrStartsText(W.Product, Name); };
}
TTrigger ProductContains(std::string Name) {
    return [Name](const TVersionWork& W) { return StrContainsText(Name, W.Product); };
}
TTrigger ProductEquals(std::string Name) {
    return [Name](const TVersionWork& W) { return SameText(W.Product, Name); };
}
TTrigger CompanyContains(std::string Name) {
    return [Name](const TVersionWork& W) { return StrContainsText(Name, W.Company); };
}
TTrigger BaseEquals(std::string Name) {
    return [Name](const TVersionWork& W) { return SameText(W.Base, Name); };
}
// The file name with its extension.
TTrigger FileNameEquals(std::string Name) {
    return [Name](const TVersionWork& W) { return SameText(framework::ExtractFileName(W.FileName), Name); };
}
TTrigger FileNameEnds(std::string Tail) {
    return [Tail](const TVersionWork& W) { return StrEndsText(W.FileName, Tail); };
}

// The installer entry's version of a product.
TAction Uninstall(std::string Name) {
    return [Name](TVersionWork& W) { W.R = GetUninstallVersion(Name); };
}
// ... restricted to entries that lie in the program's folder.
TAction UninstallInFolder(std::string Name) {
    return [Name](TVersionWork& W) { W.R = GetUninstallVersionInFolder(Name, plim::WideFileName(W.Folder)); };
}
// ... the version number that ends the entry's display name.
TAction UninstallTrailing(std::string Name) {
    return [Name](TVersionWork& W) { W.R = UninstallVersionByNameContains(Name); };
}
// A sibling executable speaks for the program; the first one present wins.
TAction Sibling(std::vector<std::string> Files) {
    return [Files](TVersionWork& W) {
        for (const std::string& file : Files)
            if (SiblingVersion(W, file)) {
                W.Stop = true;
                return;
            }
    };
}
// A resource string, when it is a version text.
TAction ProductVersionText() {
    return [](TVersionWork& W) {
        if (!W.Rec.ProductVersion.empty() && IsVersionString(W.Rec.ProductVersion)) W.R = W.Rec.ProductVersion;
    };
}
TAction FileVersionText() {
    return [](TVersionWork& W) {
        if (!W.Rec.FileVersion.empty() && IsVersionString(W.Rec.FileVersion)) W.R = W.Rec.FileVersion;
    };
}
// The leading version number of ProductVersion ("1.2 beta" gives 1.2), when valid.
TAction LeadingProductVersion() {
    return [](TVersionWork& W) {
        const std::string v = LeadingVersionNumber(W.Rec.ProductVersion);
        if (IsValidVersion(v)) W.R = v;
    };
}
// An action that only replaces the version it finds something better than nothing.
TAction IfFound(TAction Action) {
    return [Action](TVersionWork& W) {
        const std::string before = W.R;
        Action(W);
        if (W.R.empty()) W.R = before;
    };
}
// An action whose finding ends the resolution.
TAction Settles(TAction Action) {
    return [Action](TVersionWork& W) {
        const std::string before = W.R;
        Action(W);
        if (!W.R.empty() && W.R != before) W.Stop = true;
    };
}
}  // namespace

// Base-name probes: a few codecs and tools keep their version only in the installer entry.
const std::vector<TVersionRule> kBaseNameProbes = {
    {"unlocker", [](const TVersionWork& W) { return SameText(W.Base, "unlocker"); },
     [](TVersionWork& W) {
         const std::string v = GetUninstallVersionInFolder("Unlocker", plim::WideFileName(W.Folder));
         if (IsVersionString(v)) W.R = v;
     }},
    {"gimp", [](const TVersionWork& W) { return StrStartsText(W.Base, "gimp"); },
     [](TVersionWork& W) { W.R = GetGimpVersion(); }},
    {"glimpse", [](const TVersionWork& W) { return StrStartsText(W.Base, "glimpse"); },
     [](TVersionWork& W) { W.R = GetGlimpseVersion(); }},
    {"ffdshow",
     [](const TVersionWork& W) { return StrStartsText(W.Base, "ff_vfw") || StrStartsText(W.Base, "ffdshow.ax"); },
     [](TVersionWork& W) { W.R = GetFfdshowVersion(); }},
    {"xvid",
     [](const TVersionWork& W) { return StrStartsText(W.Base, "xvidvfw") || SameText(W.Product, "XVid Video Codec"); },
     [](TVersionWork& W) { W.R = GetXvidVersion(); }},
    {"launchy", [](const TVersionWork& W) { return StrStartsText(W.Base, "launchy"); },
     [](TVersionWork& W) { W.R = GetLaunchyVersion(); }},
    {"eac", [](const TVersionWork& W) { return SameText(W.Base, "eac"); },
     [](TVersionWork& W) { W.R = GetUninstallVersion("Exact Audio Copy"); }},
    {"ashampoo snap", [](const TVersionWork& W) { return ProductHas(W, "ashampoo snap"); },
     [](TVersionWork& W) { W.R = GetAshampooSnapVersion(); }},
    {"Yamicsoft",
     [](const TVersionWork& W) {
         return SameText(W.Company, "Yamicsoft") && ProductHas(W, "Manager") && ProductHas(W, "Windows");
     },
     [](TVersionWork& W) { W.R = GetYamicsoftManagerVersion(); }},
};

// Before the fixed version: a row that finds a version ends the resolution.
const std::vector<TVersionRule> kVersionRulesBeforeDefault = {
    {"Yamicsoft", [](const TVersionWork& W) { return SameText(W.Company, "Yamicsoft"); }, Sibling({"MPCL.dll"})},
    // Installer entry, its build number from the program's own build file.
    {"JDownloader", [](const TVersionWork& W) { return ProductHas(W, "JDownloader"); },
     [](TVersionWork& W) {
         TPlimVersion v(GetJDownloaderVersion());
         if (!v.IsValid()) return;
         std::string build;
         if (framework::ReadFileBytes(W.Folder + "build.json", build)) {
             const std::string mark = "\"JDownloaderRevision\":";
             const size_t at = build.find(mark);
             if (at != std::string::npos) {
                 const size_t from = at + mark.size();
                 const size_t comma = build.find(',', from);
                 const size_t brace = build.find('}', from);
                 size_t to = std::string::npos;
                 if (comma != std::string::npos && brace != std::string::npos) to = std::max(comma, brace);
                 else to = comma != std::string::npos ? comma : brace;
                 if (to != std::string::npos) v.Build = framework::StrToIntDef(Trim(build.substr(from, to - from)), 0);
             }
         }
         W.R = Printed(v);
     }},
    {"Vuze", ProductContains("Vuze"), [](TVersionWork& W) { W.R = GetVuzeVersion(); }},
    {"SSD Dashboard", ProductContains("SSD Dashboard"), UninstallInFolder("Dashboard")},
    {"Ashampoo WinOptimizer", ProductStartsWith("Ashampoo WinOptimizer"), Uninstall("Ashampoo WinOptimizer")},
    {"MediathekView", ProductStartsWith("MediathekView"), Uninstall("MediathekView")},
    {"LatencyMon", ProductStartsWith("LatencyMon"), Uninstall("LatencyMon")},
    {"BCWipe", ProductStartsWith("BCWipe"), UninstallInFolder("BCWipe")},
    {"Citrix Workspace", ProductStartsWith("Citrix Workspace"), Uninstall("Citrix Workspace")},
    {"Zortam Mp3 Media Studio", ProductStartsWith("Zortam Mp3 Media Studio"), Uninstall("Zortam Mp3 Media Studio")},
    {"Screencast-O-Matic", ProductStartsWith("Screencast-O-Matic"),
     [](TVersionWork& W) { W.R = GetToken(Trim(GetUninstallVersion("Screencast-O-Matic")), 0, " "); }},
    {"Ventoy", ProductStartsWith("Ventoy"), [](TVersionWork& W) { W.R = FirstLine(W.Folder + "ventoy\\version"); }},
    {"8GadgetPack", ProductStartsWith("8GadgetPack"), Uninstall("8GadgetPack")},
    {"IceCream Ebook reader", ProductStartsWith("IceCream Ebook reader"), Uninstall("IceCream Ebook Reader")},
    {"StarMoney", ProductStartsWith("StarMoney"), UninstallTrailing("StarMoney")},
    {"NVIDIA GeForce Experience", ProductStartsWith("NVIDIA GeForce Experience"), Uninstall("NVIDIA GeForce Experience")},
    {"AMD Ryzen Master", ProductStartsWith("AMD Ryzen Master"), Uninstall("AMD Ryzen Master")},
    {"Radeon Software", ProductStartsWith("Radeon Software"), Uninstall("AMD Software")},
    {"OWASP Zed Attack Proxy", ProductStartsWith("OWASP Zed Attack Proxy"), UninstallTrailing("OWASP ZAP")},
    {"Waterfox G", ProductStartsWith("Waterfox G"), Uninstall("Waterfox G")},
    {"Abelssoft", CompanyContains("Abelssoft"),
     [](TVersionWork& W) { W.R = GetUninstallVersionInFolder(W.Product, plim::WideFileName(W.Folder)); }},
    {"Ashampoo Undeleter", ProductStartsWith("Ashampoo Undeleter"),
     [](TVersionWork& W) { W.R = GetAshampooUndeleterVersion(); }},
    {"Plex", ProductEquals("Plex"), Uninstall("Plex")},
    {"Plex Media Player", ProductStartsWith("Plex Media Player"), Uninstall("Plex Media Player")},
    {"GlyphClient", BaseEquals("GlyphClient"), Sibling({"GlyphClientApp.exe"})},
    {"wweb32", BaseEquals("wweb32"), UninstallInFolder("WYSIWYG Web Builder")},
    {"RevoUPort", BaseEquals("RevoUPort"), Sibling({"x86\\RevoUn.exe"})},
    {"RevoUPPort", BaseEquals("RevoUPPort"), Sibling({"x64\\RevoUnPro.exe", "x86\\RevoUnPro.exe"})},
    {"RevoUninstallerProPortable", BaseEquals("RevoUninstallerProPortable"),
     Sibling({"App\\RevoUninstallerPro\\x64\\RevoUnPro.exe", "App\\RevoUninstallerPro\\x86\\RevoUnPro.exe"})},
    {"Linqpad", ProductStartsWith("Linqpad"), UninstallInFolder("LINQPad")},
    {"StartUI", ProductStartsWith("StartUI"), Uninstall("StartUI")},
    {"avcenter", BaseEquals("avcenter"), UninstallInFolder("Avira")},
    {"WindscribeLauncher", BaseEquals("WindscribeLauncher"), Sibling({"Windscribe.exe"})},
    {"Librewolf Portable", ProductStartsWith("Librewolf Portable"), Sibling({"LibreWolf\\librewolf.exe"})},
    {"Ubisoft Connect",
     [](const TVersionWork& W) {
         return SameText(W.Base, "ubisoftconnect") || ProductStarts(W, "Uplay") || ProductStarts(W, "Ubisoft Connect");
     },
     [](TVersionWork& W) {
         TPlimVersion v(FixedVersionText(W.FileName));
         if (!v.IsValid() || v.Build != 0) return;
         v.Build = v.Release;
         v.Release = 0;
         W.R = Printed(v);
     }},
    {"Inno Setup", [](const TVersionWork& W) { return StrStartsText(W.Product, "Inno Setup") && SameText(W.Base, "compil32"); },
     UninstallInFolder("Inno Setup")},
    {"CloudBuckit", ProductStartsWith("CloudBuckit"), Uninstall("CloudBuckit")},
    {"Airdroid", ProductStartsWith("Airdroid"), Sibling({"AirDroid.exe"})},
    {"O&O Defrag", ProductStartsWith("O&O Defrag"), Uninstall("O&O Defrag")},
    {"mbae-test", BaseEquals("mbae-test"), Uninstall("Malwarebytes Anti-Exploit")},
};

// Refinements of the fixed version.
const std::vector<TVersionRule> kVersionRulesAfterDefault = {
    {"partitionwizard", BaseEquals("partitionwizard"),
     IfFound([](TVersionWork& W) {
         const std::string v = UninstallLastWordByNamePrefix("MiniTool Partition Wizard");
         if (IsValidVersion(v) && IsVersionString(v)) W.R = v;
         else W.R.clear();
     })},
    {"seatools", BaseEquals("seatools"), IfFound(Uninstall("SeaTools"))},
    {"AudioConverter Studio", ProductStartsWith("AudioConverter Studio"), IfFound(Uninstall("AudioConverter Studio"))},
    {"EaseUS Data Recovery Wizard", ProductStartsWith("EaseUS Data Recovery Wizard"),
     IfFound(UninstallInFolder("EaseUS Data Recovery Wizard"))},
    {"DRW", BaseEquals("DRW"), IfFound(UninstallInFolder("EaseUS Data Recovery Wizard"))},
    {"gswin32", BaseEquals("gswin32"), IfFound(UninstallTrailing("Ghostscript"))},
    {"Thonny", ProductStartsWith("Thonny"), IfFound(Uninstall("Thonny"))},
    {"nsis", BaseEquals("nsis"), IfFound(Uninstall("Nullsoft Install System"))},
    {"ArtMoney", ProductContains("ArtMoney"), IfFound(Uninstall("ArtMoney"))},
    {"Google Chrome", [](const TVersionWork& W) { return W.R == "0.0.0.0" && W.Product == "Google Chrome"; },
     [](TVersionWork& W) {
         W.R = GetHighestVersionSubfolder(W.FileName);
         W.Stop = true;
     }},
    {"Paint.NET", [](const TVersionWork& W) { return ProductStarts(W, "Paint.NET"); },
     [](TVersionWork& W) {
         const std::string installed = GetPaintNetVersion();
         if (!installed.empty()) W.R = installed + "." + std::to_string(TPlimVersion(W.R).Release);
     }},
    // The version sits in the executable's own bytes, after its language resource name.
    {"photoscape", [](const TVersionWork& W) { return StrStartsText(W.Base, "photoscape"); },
     [](TVersionWork& W) {
         const std::string v = Trim(BetweenMarkers(W.FileName, "IDR_LANG_EN", 17, "photoscape", 5));
         if (IsValidVersion(v) && IsVersionString(v)) W.R = v;
     }},
    {"dosbox", [](const TVersionWork& W) { return SameText(W.Base, "dosbox"); },
     [](TVersionWork& W) {
         const std::string revision = BetweenMarkers(W.FileName, "DOSBox %s r", 11, ",", 0);
         int32_t build = 0;
         if (framework::TryStrToInt(Trim(revision), build)) {
             TPlimVersion v(W.R);
             v.Build = build;
             W.R = Printed(v);
         }
     }},
};

// On the resource strings and sibling files. From "Grammarly" on the rows form an if/else
// chain: the first that fires settles the version.
const std::vector<TVersionRule> kVersionRulesOnStrings = {
    {"DBeaver Community", ProductStartsWith("DBeaver Community"), Settles(ProductVersionText())},
    // Tax products: the version of the year's main module, or the year before a DLL's FV.
    {"Buhl Data",
     [](const TVersionWork& W) {
         return ProductStarts(W, "WISO Steuer") ||
                (SameText(W.Company, "Buhl Data") && (ProductStarts(W, "tax ") || ProductStarts(W, "Buhl Steuersoftware")));
     },
     [](TVersionWork& W) {
         const std::string year = W.Product.size() >= 2 ? W.Product.substr(W.Product.size() - 2) : W.Product;
         if (StrEndsText(W.FileName, ".exe")) {
             if (SiblingVersion(W, "wmain" + year + ".dll") || SiblingVersion(W, "wcore" + year + ".dll")) W.Stop = true;
             return;
         }
         if (!IsVersionString(W.Rec.FileVersion) || W.Rec.FileVersion.empty()) return;
         W.R = W.Rec.FileVersion;
         const std::string four = W.Product.size() >= 4 ? W.Product.substr(W.Product.size() - 4) : std::string();
         int32_t y = 0;
         if (framework::TryStrToInt(four, y) && y > 2000 && !StrStartsStr(W.R, four)) W.R = four + "." + W.R;
     }},
    {"NW.JS", CompanyContains("NW.JS"), Settles(UninstallInFolder(""))},
    {"IObitUnlocker", BaseEquals("IObitUnlocker"), Settles(FileVersionText())},
    {"Bleachbit", ProductStartsWith("Bleachbit"), Settles(LeadingProductVersion())},
    {"OpenVPNConnect", BaseEquals("OpenVPNConnect"), Settles(Uninstall("OpenVPN Connect"))},
    {"VirtualDub2", ProductStartsWith("VirtualDub2"),
     Settles([](TVersionWork& W) {
         const std::string v = LeadingVersionNumber(GetToken(Trim(W.Rec.FileDescription), 1, " "));
         if (IsValidVersion(v)) W.R = v;
     })},
    {"PowerShell",
     [](const TVersionWork& W) { return ProductStarts(W, "PowerShell") && StrContainsText("WindowsPowerShell\\v1.0\\", W.Folder); },
     [](TVersionWork& W) {
         W.R = "5.1";
         W.Stop = true;
     }},
    {"Grammarly", [](const TVersionWork& W) { return ProductStarts(W, "Grammarly"); },
     [](TVersionWork& W) {
         if (!W.Rec.ProductVersion.empty() && IsVersionString(W.Rec.ProductVersion)) W.R = W.Rec.ProductVersion;
     },
     true},
    {"Brave Portable", ProductStartsWith("Brave Portable"), Sibling({"App\\Brave\\brave.exe"}), true},
    {"Logitech Media Server", ProductStartsWith("Logitech Media Server"), ProductVersionText(), true},
    {"Dell Display Manager", [](const TVersionWork& W) { return ProductStarts(W, "Dell Display Manager"); },
     [](TVersionWork& W) {
         if (!W.Rec.FileVersion.empty() && IsVersionString(W.Rec.FileVersion)) W.R = W.Rec.FileVersion;
     },
     true},
    {"Trident Z Lighting Control", [](const TVersionWork& W) { return ProductStarts(W, "Trident Z Lighting Control"); },
     [](TVersionWork& W) {
         const std::string v = WithoutLeadingV(W.Rec.FileVersion);
         if (!v.empty() && IsVersionString(v)) W.R = v;
     },
     true},
    {"Ant Download Manager", ProductStartsWith("Ant Download Manager"), ProductVersionText(), true},
    {"WSCC", ProductStartsWith("WSCC"), ProductVersionText(), true},
    {"Trader WorkStation", ProductStartsWith("Trader WorkStation"), IfFound(Uninstall("Trader Workstation")), true},
    {"DWG TrueView", ProductStartsWith("DWG TrueView"), ProductVersionText(), true},
    {"iSCSIAgent", ProductStartsWith("iSCSIAgent"), FileVersionText(), true},
    {"MiKTeX", ProductStartsWith("MiKTeX"), LeadingProductVersion(), true},
    {"PowerPanel", ProductStartsWith("PowerPanel"), ProductVersionText(), true},
    {"Password Tech", ProductStartsWith("Password Tech"), LeadingProductVersion(), true},
    {"CrystalDiskInfo", ProductStartsWith("CrystalDiskInfo"), LeadingProductVersion(), true},
    {"FastKeys", ProductStartsWith("FastKeys"), ProductVersionText(), true},
    {"VoodooShield", ProductStartsWith("VoodooShield"), ProductVersionText(), true},
    {"ESET", ProductStartsWith("ESET"), ProductVersionText(), true},
    {"PostBox", ProductStartsWith("PostBox"), LeadingProductVersion(), true},
    {"Dante Virtual Soundcard", ProductStartsWith("Dante Virtual Soundcard"), LeadingProductVersion(), true},
    {"slack", ProductEquals("slack"), ProductVersionText(), true},
    {"NetPhone Client", ProductStartsWith("NetPhone Client"), ProductVersionText(), true},
    {"Avidemux", [](const TVersionWork& W) { return ProductStarts(W, "Avidemux"); },
     [](TVersionWork& W) {
         const std::string v = GetToken(Trim(W.Rec.FileDescription), 1, " ");
         if (!v.empty() && IsVersionString(v)) W.R = v;
     },
     true},
    {"PotPlayer", [](const TVersionWork& W) { return ProductStarts(W, "PotPlayer") && W.R == "0.0.0.0"; },
     [](TVersionWork& W) {
         for (const char* sibling : {"PotPlayer.dll", "PotPlayer64.dll"})
             if (SiblingVersion(W, sibling) && !W.R.empty() && W.R != "0.0.0.0") return;
     },
     true},
    {"Advanced SystemCare",
     [](const TVersionWork& W) { return ProductHas(W, "Advanced SystemCare") && !SameText(W.Base, "ASC"); },
     [](TVersionWork& W) { W.R.clear(); }, true},
    {"AdwCleaner", ProductStartsWith("AdwCleaner"), LeadingProductVersion(), true},
    {"songbird", ProductStartsWith("songbird"), LeadingProductVersion(), true},
    {"Kobo", ProductStartsWith("Kobo"), ProductVersionText(), true},
    {"firefox.exe", FileNameEquals("firefox.exe"), LeadingProductVersion(), true},
    {"Instantbird.exe", FileNameEquals("Instantbird.exe"), LeadingProductVersion(), true},
    {"TagRename.exe", FileNameEquals("TagRename.exe"), LeadingProductVersion(), true},
    {"Directory Opus", ProductStartsWith("Directory Opus"), LeadingProductVersion(), true},
    {"thunderbird.exe", FileNameEquals("thunderbird.exe"), LeadingProductVersion(), true},
    {"seamonkey.exe", FileNameEquals("seamonkey.exe"), LeadingProductVersion(), true},
    {"sunbird.exe", FileNameEquals("sunbird.exe"), LeadingProductVersion(), true},
    {"palemoon.exe", FileNameEquals("palemoon.exe"), LeadingProductVersion(), true},
    {"VC10Play", BaseEquals("VC10Play"), ProductVersionText(), true},
    {"vc10Center", BaseEquals("vc10Center"), ProductVersionText(), true},
    {"service\\SystemExplorerService.exe", FileNameEnds("service\\SystemExplorerService.exe"),
     Sibling({"..\\SystemExplorer.exe"}), true},
    {"PDF Softland", [](const TVersionWork& W) { return StrContainsText("PDF", W.Product) && StrContainsText("Softland", W.Company); },
     LeadingProductVersion(), true},
    // WinZip: the digit-and-dot runs of its ProductVersion.
    {"winzip",
     [](const TVersionWork& W) {
         const std::string name = framework::AnsiLowerCase(framework::ExtractFileName(W.FileName));
         return name.find("winzip") != std::string::npos || (name.compare(0, 2, "wz") == 0 && W.R.compare(0, 2, "1.") == 0);
     },
     [](TVersionWork& W) {
         const std::string& pv = W.Rec.ProductVersion;
         std::string t;
         bool inRun = false;
         for (size_t i = 0; i + 1 < pv.size(); ++i) {
             const char c = pv[i];
             if ((c >= '0' && c <= '9') || c == '.') {
                 if (!inRun && !t.empty() && t.back() != '.') t += '.';
                 t += c;
                 inRun = true;
             } else {
                 if (c == '(') break;
                 inRun = false;
             }
         }
         if (t.empty()) return;  // no digits: the fixed version stands
         while (TokenCount(t, ".") < 4) t += ".0";
         if (!t.empty() && t.back() == '.') t.pop_back();
         W.R = t;
     },
     true},
};

// After the reconciliation.
const std::vector<TVersionRule> kVersionRulesAfterReconciliation = {
    {"ThreatFire", ProductStartsWith("ThreatFire"), IfFound(Uninstall("ThreatFire"))},
    {"Thaiphoon Burner", ProductStartsWith("Thaiphoon Burner"), LeadingProductVersion()},
    {"Skype", [](const TVersionWork& W) { return StrContainsText("Skype", W.Company); },
     [](TVersionWork& W) {
         TPlimVersion v(W.R);
         if (!v.IsValid()) return;
         v.Release = 0;
         W.R = Printed(v);
     }},
    {"Internet Download Manager", [](const TVersionWork& W) { return ProductStarts(W, "Internet Download Manager"); },
     [](TVersionWork& W) {
         TPlimVersion v(W.R);
         if (!v.IsValid()) return;
         v.Build = 0;
         W.R = StrRemoveSuffixText(Printed(v), ".0");
     }},
    {"TuneUp", [](const TVersionWork& W) { return ProductStarts(W, "TuneUp"); },
     [](TVersionWork& W) {
         TPlimVersion v(W.R);
         if (!v.IsValid()) return;
         v.Build = 0;
         W.R = Printed(v);
     }},
    {"OpenOffice", [](const TVersionWork& W) { return ProductStarts(W, "OpenOffice"); },
     [](TVersionWork& W) {
         const std::string v = GetOpenOfficeVersion();
         if (IsValidVersion(v)) W.R = v;
     }},
    {"LibreOffice", [](const TVersionWork& W) { return ProductStarts(W, "LibreOffice"); },
     [](TVersionWork& W) {
         const std::string v = GetLibreOfficeVersion();
         if (!v.empty()) W.R = v;
     }},
    {"WD Security", ProductStartsWith("WD Security"), IfFound(UninstallInFolder("WD Security"))},
    {"WD Drive Utilities", ProductStartsWith("WD Drive Utilities"), IfFound(UninstallInFolder("WD Drive Utilities"))},
    {"Malwarebytes", [](const TVersionWork& W) { return ProductStarts(W, "Malwarebytes"); },
     [](TVersionWork& W) {
         const std::string v = ProductStarts(W, "Malwarebytes Anti-Ransomware") ? GetMalwarebytesArVersion(W.Folder)
                                                                                : GetMalwarebytesVersion(W.Folder);
         if (!v.empty()) W.R = v;
     }},
    // Java's fixed version carries the update number times ten (8.0.3210.7 is 8.0.321.7).
    {"Java",
     [](const TVersionWork& W) {
         return StrStartsText(W.Product, "Java(TM)") || StrStartsText(W.Product, "JavaFX(TM)") ||
                (StrStartsText(W.Product, "Java") && StrContainsText("Platform SE", W.Product));
     },
     [](TVersionWork& W) {
         TPlimVersion v(W.R);
         if (!v.IsValid() || v.Release % 10 != 0) return;
         v.Release /= 10;
         W.R = Printed(v);
     }},
    {"Wondershare Filmora", ProductStartsWith("Wondershare Filmora"), IfFound(UninstallInFolder("Wondershare Filmora"))},
    {"EaseUS", ProductStartsWith("EaseUS"), IfFound([](TVersionWork& W) { W.R = GetUninstallVersionInFolder(W.Product, plim::WideFileName(W.Folder)); })},
    {"Ultimate TagScanner", ProductStartsWith("Ultimate TagScanner"), LeadingProductVersion()},
    {"reader_sl", BaseEquals("reader_sl"), IfFound(Sibling({"AcroRd32.exe"}))},
    {"siw", [](const TVersionWork& W) {
         return SameText(W.Base, "siw") || StrStartsText(W.Product, "System Information") || SameText(W.Product, "SIW");
     },
     LeadingProductVersion()},
    {"HiSuite", [](const TVersionWork& W) { return ProductStarts(W, "HiSuite"); },
     [](TVersionWork& W) {
         const std::string v = IniValue(W.Folder + "runinfo.ini", "version", "version");
         if (!v.empty()) W.R = v;
     }},
    {"BlueGriffon", [](const TVersionWork& W) { return ProductStarts(W, "BlueGriffon"); },
     [](TVersionWork& W) {
         const std::string v = IniValue(W.Folder + "application.ini", "App", "version");
         if (!v.empty()) W.R = v;
     }},
    {"Spybot - Search & Destroy", ProductStartsWith("Spybot - Search & Destroy"), IfFound(UninstallTrailing("Spybot"))},
    {"Brave Browser", ProductStartsWith("Brave Browser"), LeadingProductVersion()},
    {"jv16 PowerTools", ProductStartsWith("jv16 PowerTools"), IfFound(Uninstall("jv16 PowerTools"))},
    {"portable platform", [](const TVersionWork& W) { return StrContainsText(kPortablePlatform, W.Company); },
     [](TVersionWork& W) {
         std::string v = IniValue(W.Folder + "App\\AppInfo\\appinfo.ini", "version", "PackageVersion");
         for (size_t at; (at = v.find(" rev ")) != std::string::npos;) v.replace(at, 5, ".");
         if (!v.empty()) W.R = v;
     }},
    {"Winmerge", ProductStartsWith("Winmerge"), LeadingProductVersion()},
    {"Tor Browser", ProductStartsWith("Tor Browser"), IfFound(UninstallInFolder("Tor Browser"))},
    {"madVR", [](const TVersionWork& W) { return ProductStarts(W, "madVR"); },
     [](TVersionWork& W) {
         const std::string v = WithoutLeadingV(FirstLine(W.Folder + "changelog.txt"));
         if (!v.empty()) W.R = GetToken(v, 0, " ");
     }},
    {"SoftMaker", [](const TVersionWork& W) { return StrStartsText(W.Company, "SoftMaker "); },
     [](TVersionWork& W) {
         const TPlimVersion v(W.R);
         if (v.Major < 2001 || v.Major > 2099) return;
         TPlimVersion moved;
         moved.Major = v.Major;
         moved.Minor = v.Build;
         moved.Release = v.Minor;
         moved.Build = v.Release;
         W.R = Printed(moved);
     }},
};

}  // namespace plim
