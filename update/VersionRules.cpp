// The rows of the version-text resolution: products whose version resource does not carry
// the version they show their users. Each row is a trigger and an action; the stages run
// them in table order (see ResolveFileVersion).
#include <windows.h>

#include <cstdio>

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

}  // namespace

// Base-name probes: a few codecs and tools keep their version only in the installer entry.
const std::vector<TVersionRule> kBaseNameProbes = {
    {"unlocker", [](const TVersionWork& W) { return SameText(W.Base, "unlocker"); },
     [](TVersionWork& W) {
         const std::string v = GetUninstallVersionInFolder("Unlocker", W.Folder);
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
    {"Vuze", [](const TVersionWork& W) { return ProductHas(W, "Vuze"); },
     [](TVersionWork& W) { W.R = GetVuzeVersion(); }},
    {"SSD Dashboard", [](const TVersionWork& W) { return ProductHas(W, "SSD Dashboard"); },
     [](TVersionWork& W) { W.R = GetUninstallVersionInFolder("Dashboard", W.Folder); }},
    {"Screencast-O-Matic", [](const TVersionWork& W) { return ProductStarts(W, "Screencast-O-Matic"); },
     [](TVersionWork& W) { W.R = GetToken(Trim(GetUninstallVersion("Screencast-O-Matic")), 0, " "); }},
    {"Ventoy", [](const TVersionWork& W) { return ProductStarts(W, "Ventoy"); },
     [](TVersionWork& W) { W.R = FirstLine(W.Folder + "ventoy\\version"); }},
    {"Ashampoo Undeleter", [](const TVersionWork& W) { return ProductStarts(W, "Ashampoo Undeleter"); },
     [](TVersionWork& W) { W.R = GetAshampooUndeleterVersion(); }},
    {"GlyphClient", [](const TVersionWork& W) { return SameText(W.Base, "GlyphClient"); },
     [](TVersionWork& W) { SiblingVersion(W, "GlyphClientApp.exe"); }},
    {"RevoUPort", [](const TVersionWork& W) { return SameText(W.Base, "RevoUPort"); },
     [](TVersionWork& W) { SiblingVersion(W, "x86\\RevoUn.exe"); }},
    {"Ubisoft Connect",
     [](const TVersionWork& W) { return ProductStarts(W, "Uplay") || ProductStarts(W, "Ubisoft Connect"); },
     [](TVersionWork& W) {
         TPlimVersion v(WideToAnsi(GetFixedFileVersion(AnsiToWide(W.FileName))));
         if (!v.IsValid() || v.Build != 0) return;
         v.Build = v.Release;
         v.Release = 0;
         W.R = Printed(v);
     }},
    {"Airdroid", [](const TVersionWork& W) { return ProductStarts(W, "Airdroid"); },
     [](TVersionWork& W) { SiblingVersion(W, "AirDroid.exe"); }},
};

// Refinements of the fixed version.
const std::vector<TVersionRule> kVersionRulesAfterDefault = {
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
         while (TokenCount(t, ".") < 4) t += ".0";
         if (!t.empty() && t.back() == '.') t.pop_back();
         W.R = t;
     },
     true},
};

// After the reconciliation.
const std::vector<TVersionRule> kVersionRulesAfterReconciliation = {
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
    {"Malwarebytes", [](const TVersionWork& W) { return ProductStarts(W, "Malwarebytes"); },
     [](TVersionWork& W) {
         const std::string v = ProductStarts(W, "Malwarebytes Anti-Ransomware") ? GetMalwarebytesArVersion(W.Folder)
                                                                                : GetMalwarebytesVersion(W.Folder);
         if (!v.empty()) W.R = v;
     }},
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
    {"portable platform", [](const TVersionWork& W) { return StrContainsText(kPortablePlatform, W.Company); },
     [](TVersionWork& W) {
         std::string v = IniValue(W.Folder + "App\\AppInfo\\appinfo.ini", "version", "PackageVersion");
         for (size_t at; (at = v.find(" rev ")) != std::string::npos;) v.replace(at, 5, ".");
         if (!v.empty()) W.R = v;
     }},
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
