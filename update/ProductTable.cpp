#include "update/ProductTable.h"

#include <atomic>
#include <cctype>
#include <string>
#include <vector>

#include "components/KitExecute.h"
#include "foundation/JoryUtils.h"
#include "foundation/UnicodeUtils.h"
#include "foundation/Version.h"
#include "framework/IniFile.h"
#include "framework/StringList.h"
#include "framework/SysUtils.h"

using framework::AnsiLowerCase;
using framework::AnsiToWide;
using framework::SameText;
using framework::Trim;
using framework::TStringList;

namespace plim {
namespace {

// ---------------------------------------------------------------------------------------------
// Row shape

enum class TRowTest : uint8_t {
    // on R, the name so far (ignoring case unless "Case")
    REquals, REqualsCase, RStarts, RContains, RContainsCase, RLacks, REnds, REmpty,
    // on the file
    BaseEquals, BaseStarts, BaseEnds, BaseContains, DirContains, DirLacks, PathContains, PathLacks, ParentEquals,
    // on the version strings
    CnContains, CnStarts, CnEmpty, FdStarts, FdNotEmpty, PnContains, PnNotEmpty,
    // on the version numbers (Key: a decimal constant)
    PvMajorBelow, PvMajorAbove, FvMajorBelow, FvMajorAbove,
    // on sibling files (Key: a path below Dir) and the installed-software list
    FileHere, NoFileHere, Installed, NotInstalled,
};

enum class TRowAction : uint8_t {
    Set, Append, Prepend, RemovePrefix, RemoveSuffix, ReplaceText, SetFD, SetPN, SetIN, SetParentFolder, Custom
};

struct TRowCond {
    TRowTest Kind;
    const char* Key;
};

// Up to four tests, all of which must hold, and one action.
struct TProductRow {
    TRowCond Tests[4] = {};
    int TestCount = 0;
    TRowAction Action = TRowAction::Custom;
    const char* Value = "";
    const char* Value2 = "";
    void (*Custom)(TProductWork& W) = nullptr;

    TProductRow If(TRowTest Kind, const char* Key = "") const {
        TProductRow r = *this;
        if (r.TestCount < 4) r.Tests[r.TestCount++] = {Kind, Key};
        return r;
    }
    TProductRow Base(const char* k) const { return If(TRowTest::BaseEquals, k); }
    TProductRow BaseStarts(const char* k) const { return If(TRowTest::BaseStarts, k); }
    TProductRow BaseEnds(const char* k) const { return If(TRowTest::BaseEnds, k); }
    TProductRow BaseHas(const char* k) const { return If(TRowTest::BaseContains, k); }
    TProductRow DirHas(const char* k) const { return If(TRowTest::DirContains, k); }
    TProductRow DirLacks(const char* k) const { return If(TRowTest::DirLacks, k); }
    TProductRow PathHas(const char* k) const { return If(TRowTest::PathContains, k); }
    TProductRow Has(const char* k) const { return If(TRowTest::RContains, k); }
    TProductRow CnHas(const char* k) const { return If(TRowTest::CnContains, k); }
    TProductRow CnStarts(const char* k) const { return If(TRowTest::CnStarts, k); }
    TProductRow FileHere(const char* k) const { return If(TRowTest::FileHere, k); }

    TProductRow Act(TRowAction A, const char* V = "", const char* V2 = "") const {
        TProductRow r = *this;
        r.Action = A;
        r.Value = V;
        r.Value2 = V2;
        return r;
    }
    TProductRow Set(const char* v) const { return Act(TRowAction::Set, v); }
    TProductRow Append(const char* v) const { return Act(TRowAction::Append, v); }
    TProductRow Prepend(const char* v) const { return Act(TRowAction::Prepend, v); }
    TProductRow DropPrefix(const char* v) const { return Act(TRowAction::RemovePrefix, v); }
    TProductRow DropSuffix(const char* v) const { return Act(TRowAction::RemoveSuffix, v); }
    TProductRow Replace(const char* from, const char* to) const { return Act(TRowAction::ReplaceText, from, to); }
    TProductRow SetFD() const { return Act(TRowAction::SetFD); }
    TProductRow SetPN() const { return Act(TRowAction::SetPN); }
    TProductRow SetIN() const { return Act(TRowAction::SetIN); }
    TProductRow SetParentFolder() const { return Act(TRowAction::SetParentFolder); }
    TProductRow Do(void (*F)(TProductWork&)) const {
        TProductRow r = Act(TRowAction::Custom);
        r.Custom = F;
        return r;
    }
};

// Row starters.
TProductRow Eq(const char* k) { return TProductRow{}.If(TRowTest::REquals, k); }
TProductRow EqCase(const char* k) { return TProductRow{}.If(TRowTest::REqualsCase, k); }
TProductRow Starts(const char* k) { return TProductRow{}.If(TRowTest::RStarts, k); }
TProductRow Has(const char* k) { return TProductRow{}.If(TRowTest::RContains, k); }
TProductRow HasCase(const char* k) { return TProductRow{}.If(TRowTest::RContainsCase, k); }
TProductRow Empty() { return TProductRow{}.If(TRowTest::REmpty); }
TProductRow Base(const char* k) { return TProductRow{}.If(TRowTest::BaseEquals, k); }
TProductRow BaseStarts(const char* k) { return TProductRow{}.If(TRowTest::BaseStarts, k); }
TProductRow Always() { return TProductRow{}; }

// ---------------------------------------------------------------------------------------------
// Shared helpers

int32_t Major(const std::string& VersionText) { return TPlimVersion(VersionText).Major; }

// Names may climb out of the folder ("..\"): the long-path form of the wide calls takes no "..".
std::string Sibling(const TProductWork& W, const std::string& Name) { return framework::ExpandFileName(W.Dir + Name); }

bool FileHere(const TProductWork& W, const std::string& Name) { return FileExistsNotEmpty(AnsiToWide(Sibling(W, Name))); }

// The sibling file's lines; false (and no lines) when it is missing or empty.
bool SiblingLines(const TProductWork& W, const std::string& Name, TStringList& Lines) {
    Lines.Clear();
    return FileHere(W, Name) && Lines.LoadFromFile(Sibling(W, Name));
}

bool OnlyDigitsAndDots(const std::string& S) {
    for (const char c : S)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.')) return false;
    return true;
}

std::string ParentFolderName(const std::string& Dir) {
    return framework::ExtractFileName(framework::ExcludeTrailingPathDelimiter(Dir));
}

std::string ReplaceAllText(const std::string& S, const std::string& From, const std::string& To) {
    if (From.empty()) return S;
    const std::string lower = AnsiLowerCase(S), lowerFrom = AnsiLowerCase(From);
    std::string out;
    size_t at = 0;
    for (;;) {
        const size_t hit = lower.find(lowerFrom, at);
        if (hit == std::string::npos) break;
        out += S.substr(at, hit - at) + To;
        at = hit + From.size();
    }
    return out + S.substr(at);
}

bool Holds(const TProductWork& W, const TRowCond& C) {
    const std::string k = C.Key;
    const FileVersionInfoRec& rec = W.Rec;
    switch (C.Kind) {
        case TRowTest::REquals: return SameText(W.R, k);
        case TRowTest::REqualsCase: return W.R == k;
        case TRowTest::RStarts: return StrStartsText(W.R, k);
        case TRowTest::RContains: return StrContainsText(k, W.R);
        case TRowTest::RContainsCase: return W.R.find(k) != std::string::npos;
        case TRowTest::RLacks: return !StrContainsText(k, W.R);
        case TRowTest::REnds: return StrEndsText(W.R, k);
        case TRowTest::REmpty: return W.R.empty();
        case TRowTest::BaseEquals: return SameText(W.Base, k);
        case TRowTest::BaseStarts: return StrStartsText(W.Base, k);
        case TRowTest::BaseEnds: return StrEndsText(W.Base, k);
        case TRowTest::BaseContains: return StrContainsText(k, W.Base);
        case TRowTest::DirContains: return StrContainsText(k, W.Dir);
        case TRowTest::DirLacks: return !StrContainsText(k, W.Dir);
        case TRowTest::PathContains: return AnsiLowerCase(W.Path).find(k) != std::string::npos;
        case TRowTest::PathLacks: return AnsiLowerCase(W.Path).find(k) == std::string::npos;
        case TRowTest::ParentEquals: return SameText(ParentFolderName(W.Dir), k);
        case TRowTest::CnContains: return StrContainsText(k, rec.CompanyName);
        case TRowTest::CnStarts: return StrStartsText(rec.CompanyName, k);
        case TRowTest::CnEmpty: return rec.CompanyName.empty();
        case TRowTest::FdStarts: return StrStartsText(rec.FileDescription, k);
        case TRowTest::FdNotEmpty: return !rec.FileDescription.empty();
        case TRowTest::PnContains: return StrContainsText(k, rec.ProductName);
        case TRowTest::PnNotEmpty: return !rec.ProductName.empty();
        case TRowTest::PvMajorBelow: return Major(rec.ProductVersion) < framework::StrToIntDef(k, 0);
        case TRowTest::PvMajorAbove: return Major(rec.ProductVersion) > framework::StrToIntDef(k, 0);
        case TRowTest::FvMajorBelow: return Major(rec.FileVersion) < framework::StrToIntDef(k, 0);
        case TRowTest::FvMajorAbove: return Major(rec.FileVersion) > framework::StrToIntDef(k, 0);
        case TRowTest::FileHere: return FileHere(W, k);
        case TRowTest::NoFileHere: return !FileHere(W, k);
        case TRowTest::Installed: return !GetUninstallVersion(k).empty();
        case TRowTest::NotInstalled: return GetUninstallVersion(k).empty();
    }
    return false;
}

void Apply(TProductWork& W, const TProductRow& Row) {
    const std::string v = Row.Value;
    switch (Row.Action) {
        case TRowAction::Set: W.R = v; break;
        case TRowAction::Append: W.R += v; break;
        case TRowAction::Prepend:
            if (!StrStartsText(W.R, v)) W.R = v + W.R;
            break;
        case TRowAction::RemovePrefix: W.R = StrRemovePrefixText(W.R, v); break;
        case TRowAction::RemoveSuffix: W.R = StrRemoveSuffixText(W.R, v); break;
        case TRowAction::ReplaceText: W.R = ReplaceAllText(W.R, v, Row.Value2); break;
        case TRowAction::SetFD: W.R = W.Rec.FileDescription; break;
        case TRowAction::SetPN: W.R = W.Rec.ProductName; break;
        case TRowAction::SetIN: W.R = W.Rec.InternalName; break;
        case TRowAction::SetParentFolder: W.R = ParentFolderName(W.Dir); break;
        case TRowAction::Custom: Row.Custom(W); break;
    }
}

void Run(const std::vector<TProductRow>& Rows, TProductWork& W) {
    for (const TProductRow& row : Rows) {
        bool all = true;
        for (int i = 0; i < row.TestCount && all; ++i) all = Holds(W, row.Tests[i]);
        if (all) Apply(W, row);
    }
}

// ---------------------------------------------------------------------------------------------
// Rows that decide more than a literal

void DvdFlickV2(TProductWork& W) {
    std::string file = W.Path, version;
    GetFileVersionText(file, W.R, std::string(), version, false);
    if (TPlimVersion(version).IsNewerThan(TPlimVersion::CreatePacked(0x00010133, 0x02E20000))) W.R = "DVD Flick v2";
}

// The start menu and the explorer add-in of one shell extension suite name the suite.
void ClassicShell(TProductWork& W) {
    const std::string rest = W.R.substr(8);
    if (StrStartsText(rest, "Start Menu") || StrStartsText(rest, "Explorer")) W.R = "Classic Shell";
}

// The row has seen R and CN empty and a base name beginning with "am".
void ArtMoney(TProductWork& W) {
    const std::string rest = W.Base.substr(2);
    if (!IsVersionString(rest)) return;
    if (TPlimVersion(W.Rec.ProductVersion).AsText() == "1.0.0.0") W.R = "ArtMoney";
    if (!GetUninstallVersion("ArtMoney PRO").empty()) W.R = "ArtMoney Pro";
}

void FirefoxPortableLegacy(TProductWork& W) {
    const std::string ini = W.Dir + "App\\AppInfo\\appinfo.ini";
    if (!FileHere(W, "App\\AppInfo\\appinfo.ini")) return;
    const std::string name = framework::TIniFile(ini).ReadString("details", "name", std::string());
    if (StrContainsText("Legacy", name)) W.R = name;
}

// Node.js tells its release line in its change log, or else when asked.
void NodeReleaseLine(TProductWork& W) {
    const std::string m = std::to_string(Major(W.Rec.ProductVersion));
    TStringList lines;
    if (SiblingLines(W, "CHANGELOG.md", lines)) {
        const std::string link = "CHANGELOG_V" + m + ".md\">" + m + "</a>";
        for (int i = 0; i < lines.Count(); ++i) {
            const std::string& l = lines[i];
            if (l.find(link + "<sup>LTS</sup>") != std::string::npos ||
                l.find(link + " (LTS)</th>") != std::string::npos) {
                W.R += " (LTS)";
                return;
            }
            if (l.find(link + "<sup>Current</sup>") != std::string::npos ||
                l.find(link + " (Current)</th>") != std::string::npos) {
                W.R += " (Current)";
                return;
            }
        }
        return;
    }
    if (!SameText(W.Base, "node")) return;
    // The program is asked by its full, quoted path, and the abort timer keeps a runtime that
    // never answers from holding the window's thread.
    TKitDispatcherObject timer(CreateWaitableTimerA(nullptr, TRUE, nullptr));
    if (!timer.Handle()) return;
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(kProductRowChildTimeoutMs) * 10000;
    if (!SetWaitableTimer(timer.Handle(), &due, 0, nullptr, nullptr, FALSE)) return;
    std::string output;
    std::atomic<bool> aborted{false};
    uint32_t code = kKitNoExitCode;
    try {
        code = ExecuteAndCapture("\"" + W.Path + "\" -pe process.release.lts", output, false, &aborted, 1, &timer,
                                 W.Path);
    } catch (const std::exception&) {
        return;
    }
    if (aborted || code != 0 || output.empty()) return;
    W.R += StrStartsText(output, "undefined") ? " (Current)" : " (LTS)";
}

void YearFrom(TProductWork& W, const std::string& VersionText) {
    const int32_t major = Major(VersionText);
    if (major > 2000 && major < 2100) W.R += " " + std::to_string(major);
}
void YearFromPV(TProductWork& W) { YearFrom(W, W.Rec.ProductVersion); }
void YearFromFV(TProductWork& W) { YearFrom(W, W.Rec.FileVersion); }

void AavYear(TProductWork& W) {
    const int32_t major = Major(W.Rec.FileVersion);
    if (major > 25 && major < 100) W.R += " " + std::to_string(major + 1994);
}

// "Adobe Photoshop CS6 Extended" -> "Adobe Photoshop".
void AdobeSuiteName(TProductWork& W) {
    const size_t cs = W.R.find(" CS");
    if (cs == std::string::npos || cs + 1 <= 7 || TokenCount(W.R, " ") <= 2) return;
    std::string name;
    const int words = TokenCount(W.R, " ");
    for (int i = 0; i < words; ++i) {
        const std::string word = GetToken(W.R, i, " ");
        if (StrStartsText(word, "CS")) break;
        if (word.empty()) continue;
        name += (name.empty() ? "" : " ") + word;
    }
    W.R = name;
}

void UngoogledChromium(TProductWork& W) {
    if (!FileHere(W, "eventlog_provider.dll") && !FileHere(W, "nacl_irt_x86_64.nexe")) W.R = "Ungoogled Chromium";
}

void QBittorrentEnhanced(TProductWork& W) {
    std::string image;
    if (framework::ReadFileBytes(W.Path, image) && image.find("qBittorrent Enhanced Edition") != std::string::npos)
        W.R = "qBittorrent Enhanced Edition";
}

void WarcraftBranch(TProductWork& W, const char* Suffix) { W.R = Trim(W.R) + Suffix; }

void EsetProductName(TProductWork& W) {
    const bool named = (StrContainsText("ESET", W.R) &&
                        (StrContainsText("Security", W.R) || StrContainsText("Antivirus", W.R))) ||
                       StrStartsText(W.R, "ESET Main GUI");
    TStringList lines;
    if (!named || !SiblingLines(W, "SecurityProductInformation.ini", lines)) return;
    for (int i = 0; i < lines.Count(); ++i)
        if (StrStartsText(lines[i], "Name=")) {
            W.R = Trim(lines[i].substr(5));
            return;
        }
}

void CitrixLtsr(TProductWork& W) {
    TStringList lines;
    if (SiblingLines(W, "..\\receiver\\BuildInformation.txt", lines) && lines.Count() > 0 &&
        StrContainsText("cu", lines[0]))
        W.R += " LTSR";
}

void StartIsBackEdition(TProductWork& W) {
    if (!FileHere(W, "StartIsBack32.dll")) return;
    FileVersionInfoRec dll;
    ReadFileVersionInfo(W.Dir + "StartIsBack32.dll", dll);
    if (StrStartsText(dll.FileDescription, "StartIsBack++")) W.R = "StartIsBack++";
    else if (StrStartsText(dll.FileDescription, "StartIsBack+ ")) W.R = "StartIsBack+";
}

// Firefox's extended-support channel names itself in the update settings; the tree search
// does not follow junctions or links.
void MozillaChannel(TProductWork& W) {
    if (AnsiLowerCase(W.Rec.CompanyName).find("mozilla") == std::string::npos && !StrContainsText("Mozilla Firefox", W.R))
        return;
    std::string file = W.Dir + "update-settings.ini";
    if (!FileExistsWide(AnsiToWide(file))) {
        TStringList found;
        FindFilesByNameTree(W.Dir, "update-settings.ini", found);
        file = found.Count() > 0 ? found[0] : std::string();
    }
    TStringList lines;
    if (file.empty() || !FileExistsWide(AnsiToWide(file)) || !lines.LoadFromFile(file)) return;
    for (int i = 0; i < lines.Count(); ++i)
        if (AnsiLowerCase(lines[i]).find("esr") != std::string::npos) {
            if (!StrEndsText(W.R, " (ESR)")) W.R += " (ESR)";
            return;
        }
}

void RamboxCommunity(TProductWork& W) {
    TStringList lines;
    if (!framework::FileExists(W.Dir + "resources\\app-update.yml") ||
        !lines.LoadFromFile(W.Dir + "resources\\app-update.yml"))
        return;
    for (int i = 0; i < lines.Count(); ++i)
        if (StrContainsText("community-edition", lines[i])) {
            W.R += " CE";
            return;
        }
}

void MalwarebytesAntiExploitEnterprise(TProductWork& W) {
    if (TPlimVersion(W.Rec.ProductVersion).Release == 2 || TPlimVersion(W.Rec.FileVersion).Release == 2)
        W.R += " Enterprise";
}

std::string DashesToDots(std::string S) {
    for (char& c : S)
        if (c == '-') c = '.';
    return S;
}

void SpyderFromVersion(TProductWork& W) {
    if (!W.R.empty() && OnlyDigitsAndDots(DashesToDots(W.R)) && StrContainsText("DataColor", W.Rec.CompanyName))
        W.R = std::string("Spyder") + W.R[0] + "Pro";
}

void SpyderEdition(TProductWork& W, const char* Word) {
    if (!StrStartsText(W.R, "Spyder")) return;
    const std::string rest = W.R.substr(6);
    if (!(OnlyDigitsAndDots(rest) || SameText(rest, "X"))) return;
    if (StrEndsText(W.Base, Word) && !StrEndsText(W.R, Word)) W.R += Word;
}

void CpuzEdition(TProductWork& W) {
    if (!(SameText(W.Base, "cpuz") || StrStartsText(W.Base, "cpuz_"))) return;
    TStringList files;
    ListFilesInFolder(W.Dir, files);
    const std::string suffix = " CPU-Z Readme file";
    for (int f = 0; f < files.Count(); ++f) {
        if (!StrEndsText(ExtractFileBaseName(files[f]), "cpuz_readme")) continue;
        TStringList lines;
        if (!lines.LoadFromFile(files[f])) continue;
        for (int i = 0; i < lines.Count(); ++i)
            if (StrEndsText(lines[i], suffix))
                W.R += " " + lines[i].substr(0, lines[i].size() - suffix.size()) + " Edition";
    }
}

bool IsDigitAt(const std::string& S, size_t At) {
    return S.size() > At + 1 && std::isdigit(static_cast<unsigned char>(S[At]));
}

// The plug-in flavours of the Flash player, while the name is still the raw "Shockwave Flash";
// a later hit overrides an earlier one.
void FlashPlugin(TProductWork& W) {
    if (W.R.find("Shockwave Flash") == std::string::npos) return;
    const std::string path = AnsiLowerCase(W.Path);
    const bool exe = path.find(".exe") != std::string::npos;
    std::string r = W.R;
    if (IsDigitAt(W.R, 16) && !exe) r = "Adobe Flash Player for Internet Explorer";
    if (path.find(".ocx") != std::string::npos) r = "Adobe Flash Player for Internet Explorer";
    if (path.find(".dll") != std::string::npos) {
        r = "Adobe Flash Player for Firefox";
        if (StrStartsText(W.Base, "pepflashplayer")) r = "Adobe Flash Player for Opera/Chromium";
        if (StrStartsText(W.Base, "FlashUtil")) {
            if (StrEndsText(W.Base, "Plugin")) r = "Adobe Flash Player for Firefox";
            else if (StrEndsText(W.Base, "pepper")) r = "Adobe Flash Player for Opera/Chromium";
            else if (StrEndsText(W.Base, "ActiveX")) r = "Adobe Flash Player for Internet Explorer";
        }
    }
    if (exe && StrContainsText("pepper", W.Base)) r = "Adobe Flash Player for Opera/Chromium";
    W.R = r;
}

void FlashPlayerActiveX(TProductWork& W) {
    if (IsDigitAt(W.R, 13) && AnsiLowerCase(W.Path).find(".exe") == std::string::npos)
        W.R = "Adobe Flash Player for Internet Explorer";
}

void TrimName(TProductWork& W) { W.R = Trim(W.R); }

void SsdDashboard(TProductWork& W) {
    if (!GetUninstallVersionInFolder("Dashboard", plim::WideFileName(W.Dir)).empty()) W.R = "SSD Dashboard";
}
void PartitionWizard(TProductWork& W) {
    if (!UninstallLastWordByNamePrefix("MiniTool Partition Wizard").empty()) W.R = "MiniTool Partition Wizard";
}
void NwjsApplication(TProductWork& W) {
    const std::string name = GetUninstallDisplayNameForFolder(plim::WideFileName(W.Dir));
    if (!name.empty()) W.R = name;
}
void NovaPdf(TProductWork& W) { W.R = IsSoftwareInstalled("doPDF") ? "doPDF" : "novaPDF"; }
void WaterfoxGeneration(TProductWork& W) {
    const std::string v = GetUninstallVersionInFolder("Waterfox", plim::WideFileName(W.Dir));
    const size_t dot = v.find('.');
    if (StrStartsText(v, "G") && dot != std::string::npos) W.R += " " + v.substr(0, dot + 1);
}
void MacriumEdition(TProductWork& W) {
    if (!GetUninstallVersion("Macrium Reflect Home").empty() ||
        !GetUninstallVersion("Macrium Reflect Home Edition").empty())
        W.R = "Macrium Reflect Home";
    if (!GetUninstallVersion("Macrium Reflect Free").empty() ||
        !GetUninstallVersion("Macrium Reflect Free Edition").empty())
        W.R = "Macrium Reflect Free";
}
void AshampooPdfPro(TProductWork& W) {
    if (!GetUninstallVersionInFolder("Ashampoo PDF PRO", plim::WideFileName(W.Dir)).empty()) W.R = "Ashampoo PDF Pro";
}
void SandraLite(TProductWork& W) {
    if (StrContainsText(" Lite", W.Dir) || !GetUninstallVersion("SiSoftware Sandra Lite").empty())
        W.R = "SiSoftware Sandra Lite" + W.R.substr(std::string("SiSoftware Sandra").size());
}
void ChromeCanaryByEntry(TProductWork& W) {
    if (StrContainsText("Canary", GetUninstallDisplayNameForFolder(plim::WideFileName(W.Dir)))) W.R = "Google Chrome Canary";
}
void UnlockerInstalled(TProductWork& W) {
    if (!GetUninstallVersionInFolder("Unlocker", plim::WideFileName(W.Dir)).empty()) W.R = "Unlocker";
}
void IobitUnlocker(TProductWork& W) {
    if (StrContainsText("IObitUnlocker", W.Base) || StrContainsText("IOBit", W.Rec.CompanyName)) W.R = "IOBit Unlocker";
}
void BleachBit(TProductWork& W) {
    W.R = framework::FileExists(W.Dir + "BleachBit.ini") ? "BleachBit Portable" : "BleachBit";
}

using T = TRowTest;

// ---------------------------------------------------------------------------------------------
// The first list: before the web-address and template steps.

const std::vector<TProductRow> kD1 = {
    Eq("DVD Flick").Do(DvdFlickV2),
    Eq("Skype").If(T::PvMajorBelow, "8").Set("Skype Classic"),
    Empty().If(T::CnEmpty).BaseStarts("am").Do(ArtMoney),
    Starts("PhotoFiltre").If(T::RLacks, "Studio").Set("PhotoFiltre"),
    Starts("PhotoFiltre Studio").Set("PhotoFiltre Studio"),
    Eq("Mozilla Firefox, Portable Edition").Do(FirefoxPortableLegacy),
    Eq("Node.js").Do(NodeReleaseLine),
    Has("steuer").Replace("Steuer:", "Steuer-"),
    Eq("WISO steuer-Start").Do(YearFromPV),
    Eq("WISO steuer-Sparbuch").Do(YearFromPV),
    Starts("TurboTax").Set("TurboTax"),
    Eq("TurboTax").Do(YearFromFV),
    Eq("Tax").Do(YearFromFV),
    Eq("H&R Block").Do(YearFromFV),
    Eq("SteuertippsCenter").CnStarts("Akademische Arbeitsgemeinschaft Verlag").Do(AavYear),
    Eq("ReportTool").CnStarts("Akademische Arbeitsgemeinschaft Verlag").Do(AavYear),
    Eq("AAV4GL-Engine").CnStarts("Akademische Arbeitsgemeinschaft Verlag").Do(AavYear),
    Always().CnHas("Softmaker").DirHas("FreeOffice").If(T::RLacks, "FreeOffice").Prepend("FreeOffice "),
    Always().CnHas("SoftPerfect").Prepend("SoftPerfect "),
    Always().CnHas("NW.JS").If(T::PnContains, "NWJS").Do(NwjsApplication),
    Eq("Storage Executive").Prepend("Micron "),
    Starts("grammarly").Set("Grammarly"),
    Has("Botkind").Set("Allway Sync"),
    Has("Warcraft").DirHas("_classic_era").Do([](TProductWork& W) { WarcraftBranch(W, " Classic Era"); }),
    Has("Warcraft").DirHas("_classic_").DirLacks("_era").Do([](TProductWork& W) { WarcraftBranch(W, " Classic"); }),
    Has("Warcraft").DirHas("_PTR_").Do([](TProductWork& W) { WarcraftBranch(W, " PTR"); }),
    Has("Warcraft").DirHas("_Beta_").Do([](TProductWork& W) { WarcraftBranch(W, " Beta"); }),
    Has("Warcraft").DirHas("_Retail_").Do([](TProductWork& W) { WarcraftBranch(W, " Retail"); }),
    Starts("Directory List & Print").Set("Directory List & Print"),
    Starts("Directory List & Print").BaseHas("Pro").Set("Directory List & Print Pro"),
    Empty().Base("dashboard").DirHas("SSD Dashboard").Do(SsdDashboard),
    Empty().Base("partitionwizard").Do(PartitionWizard),
    Starts("ArcGIS").Base("ArcGISPro").Set("ArcGIS Pro"),
    Eq("Advanced Malware Protection").Set("Cisco AMP for Endpoints"),
    Eq("Zoom Meetings").Set("Zoom"),
    Starts("7-Zip").Base("7zFM").Set("7-Zip"),
    Starts("7-Zip").Base("7zG").Set("7-Zip GUI"),
    Starts("7-Zip").Base("7z").Set("7-Zip Console"),
    Starts("7-Zip").Base("7za").Set("7-Zip Standalone Console"),
    Starts("7-Zip").Base("7zr").Set("7-Zip Reduced Console"),
    Starts("ImDisk").Set("ImDisk Toolkit"),
    Starts("Samsung Portable SSD Software").Set("Samsung Portable SSD Software"),
    Starts("WordWeb ").Set("WordWeb"),
    Eq("General purpose audio/video downloader").Set("youtube-dl"),
    Eq("Render animated slideshow of your photos on DVD").Set("DVD Slideshow GUI"),
    Eq("Bandicam - bdcam").Set("Bandicam"),
    Starts("Trident Z Lighting Control").Set("Trident Z Lighting Control"),
    Eq("Huawei PC suite").Set("HiSuite"),
    Starts("O&O Shutup10").Set("O&O ShutUp10"),
    BaseStarts("FRST").If(T::RStarts, "FRST").Set("Farbar Recovery Scan Tool"),
    Eq("Microsoft Edge").DirHas("Edge Beta").Set("Microsoft Edge Beta"),
    Eq("Microsoft Edge").DirHas("Edge Dev").Set("Microsoft Edge Dev"),
    Eq("Microsoft Edge").DirHas("Edge SxS").Set("Microsoft Edge Canary"),
    Base("compi32").Set("Inno Setup"),
    Starts("Medienverwaltungssystem").Set("Medienverwaltungssystem"),
    Starts("Kalkules").Set("Kalkules"),
    Starts("StartIsBack ").Set("StartIsBack"),
    Starts("StartIsBack").Do(StartIsBackEdition),
    Starts("AutoCAD").Base("acad").Set("AutoCAD"),
    Starts("Citrix Workspace").Do(CitrixLtsr),
    Has("ESET").Do(EsetProductName),
    Eq("MSPCManager").Set("Microsoft PC Manager"),
    Base("RevoUninPort").Set("Revo Uninstaller Portable"),
    Base("RevoUninProPort").Set("Revo Uninstaller Pro Portable"),
    Starts("Solidigm.UI").Set("Solidigm Storage Tool"),
    Eq("AbLauncher").SetParentFolder(),
    Eq("Recovery Explorer: Standard").Set("Recovery Explorer Standard"),
    Eq("Recovery Explorer: Professional").Set("Recovery Explorer Professional"),
    Starts("SSD Fresh").Set("SSD Fresh"),
    Eq("Terminal").CnHas("Microsoft").Set("Windows Terminal"),
    Eq("UPlay").Set("Ubisoft Connect"),
    Eq("Ubisoft Game Launcher").Set("Ubisoft Connect"),
    Eq("XnView Classic").Set("XnView"),
    Eq("XnViewMP").Set("XnView MP"),
    Always().CnHas("DataColor").Do(SpyderFromVersion),
    Base("SpyderUtility").Set("SpyderUtility"),
    Starts("Spyder").Do([](TProductWork& W) { SpyderEdition(W, "Pro"); }),
    Starts("Spyder").Do([](TProductWork& W) { SpyderEdition(W, "Express"); }),
    Starts("Spyder").Do([](TProductWork& W) { SpyderEdition(W, "Elite"); }),
    Starts("EOS Utility").Set("EOS Utility"),
    Starts("iTwin").Set("iTwin Connect"),
    Starts("Remote Utilities").Base("rutview").Set("Remote Utilities Viewer"),
    Starts("Remote Utilities").Base("rutserv").Set("Remote Utilities Host"),
    Starts("ccPortable").Set("CCleaner Portable"),
    Starts("doPDF").Set("doPDF"),
    Starts("novaPDF").Set("novaPDF"),
    Eq("Startup").If(T::CnEmpty).DirHas("novapdf").Do(NovaPdf),
    Has("Malwarebytes Anti-Exploit").Do(MalwarebytesAntiExploitEnterprise),
    Starts("FlashPeak ").DropPrefix("FlashPeak "),
    Eq("System Information").BaseStarts("siw").Set("SIW"),
    Starts("SIW - ").DropPrefix("SIW - "),
    Starts("Mindjet MindManager").DropPrefix("Mindjet "),
    Eq("Screencast-O-Matic Launcher").Set("Screencast-O-Matic"),
    Starts("EZCast").Set("EZCast"),
    Starts("Freemake Video Converter").Set("Freemake Video Converter"),
    Starts("HoMM").Set("Heroes of Might and Magic"),
    Eq("Textify Module").Set("Textify"),
    Starts("Foxit Reader").Set("Foxit Reader"),
    Starts("ActivePython ").Set("ActivePython"),
    Starts("MusicBrainz Picard Tagger").Set("MusicBrainz Picard"),
    Eq("Waterfox").Do(WaterfoxGeneration),
    Eq("SplashScreenStarter").SetParentFolder(),
    Starts("DMDE ").Set("DMDE"),
    Starts("Find.Same.Images.OK").Set("Find.Same.Images.OK"),
    Starts("IPVanish").Set("IPVanish"),
    Starts("1Password ").Set("1Password"),
    Starts("Tagscan").Set("TagScanner"),
    Starts("WinNTSetup").Set("WinNTSetup"),
    Starts("DBeaver").Set("DBeaver"),
    Eq("Copies digital audio from cd").Set("CDex"),
    Starts("EaseUS ").If(T::PnNotEmpty).SetPN(),
    Starts("TopBanking").Set("TopBanking"),
    Base("pwsh").Set("PowerShell"),
    Base("powershell").Set("PowerShell"),
    Has("ProduKey").Set("ProduKey"),
    Eq("TCP/UDP endpoint viewer").Set("TCPView"),
    Starts("Bose").If(T::PnNotEmpty).SetPN(),
    Eq("MP3 Encoder").Set("LAME"),
    Starts("MailStore").Set("MailStore Server"),
    Starts("MailStore").BaseStarts("MailStoreHome").Set("MailStore Home"),
    Eq("vnc").Set("VNC Viewer"),
    Eq("vnc server").Set("VNC Server"),
    Eq("An executable program").Set(""),
    Starts("UltraCompare").Set("UltraCompare"),
    Eq("Privazer remover").Set("PrivaZer"),
    Eq("File defragmenter").SetIN(),
    Eq("Macrium Reflect").Do(MacriumEdition),
    Starts("Intel Driver & Support Assistant ").Set("Intel Driver & Support Assistant"),
    Eq("Ashampoo PDF").Do(AshampooPdfPro),
    Eq("snap").Set("Ashampoo Snap"),
    Starts("ashampoo ").Replace("ashampoo ", "Ashampoo "),
    Starts("SiSoftware Sandra").Do(SandraLite),
    Eq("Text editor").Base("notepad").Set("Notepad"),
    Starts("Classic ").Do(ClassicShell),
    Eq("0").Set(""),
    Starts("L\xF6scht leere Verzeichniss").Set("Remove Empty Directories"),
    Has("Alcohol Soft Development Team").Set("Alcohol 120%"),
    Eq("Resource viewer, decompiler & recompiler").Set("Resource Hacker"),
    Eq("Adobe Acrobat").If(T::PvMajorAbove, "14").Append(" DC"),
    Eq("Intel").If(T::PnNotEmpty).SetPN(),
    Eq("PROSet Adapter Configuration Utility").Prepend("Intel "),
    Starts("Intel(R)").Replace("Intel(R)", "Intel"),
    Eq("Intel Processor Identification Utility").If(T::PvMajorBelow, "7").Append(" Legacy"),
    Eq("Office Tab Center").Set("Office Tab"),
    Eq("TabsforOffice").Set("Office Tab"),
    Eq("mad").DirHas("madVR").Set("madVR"),
    Eq("ZoneAlarm").If(T::Installed, "ZoneAlarm Pro").Set("ZoneAlarm Pro"),
    Starts("Sapphire TRIXX").Set("Sapphire TriXX"),
    Starts("Jump Desktop Connect").Set("Jump Desktop Connect"),
    Eq("32 bit Free").If(T::PnNotEmpty).SetPN(),
    Eq("64 bit Free").If(T::PnNotEmpty).SetPN(),
    Eq("googledrivesync").Set("Google Drive"),
    Eq("Google Drive Sync").Set("Google Drive"),
    Starts("Thunderbolt(TM)").Set("Thunderbolt Software"),
    Starts("Thunderbolt (TM)").Set("Thunderbolt Software"),
    // the suite's name on one of its programs: the program's own name
    Starts("Softmaker ").CnHas("Softmaker").If(T::FdNotEmpty).If(T::RLacks, "FreeOffice").SetFD(),
    Starts("Less MSI").Set("LessMSI"),
    Eq("Chromium").DirHas("\\SRWare Iron").Set("SRWare Iron"),
    Starts("Chromium").Do(UngoogledChromium),
    Starts("DOSBOX").FileHere("Patches.txt").Set("DOSBox ECE"),
    Starts("qBitTorrent").Base("qbittorrent").Do(QBittorrentEnhanced),
    Starts("Sysinternals ").DropPrefix("Sysinternals "),
    Eq("BitComet - a BitTorrent Client").Set("BitComet"),
    Eq("Public Release Version").If(T::PnNotEmpty).SetPN(),
    Eq("yubioath-desktop").Set("Yubico Authenticator"),
    Starts("LosslessCut").Set("LosslessCut"),
    Starts("Google Earth").Base("googleearth").Set("Google Earth Pro"),
    Starts("JRiver ").Set("JRiver Media Center"),
    Starts("J. River ").Set("JRiver Media Center"),
    Starts("Tcl ").Set("Tcl"),
    Starts("Tk ").Set("Tk"),
    Starts("Canon Solution Menu EX").Set("Canon Solution Menu EX"),
    Eq("MSIAfterburner").Set("MSI Afterburner"),
    Starts("Free Studio").Set("Free Studio"),
    Eq("Software Updates manager").Set("Software Updates Manager"),
    Starts("Free All Converter").Set("Free All Converter"),
    Starts("NAPS2").Set("NAPS2"),
    Starts("FreeCommander").If(T::RLacks, " XE").Set("FreeCommander"),
    Starts("FreeCommander").Has(" XE").Set("FreeCommander XE"),
    Starts("SpiderOak").Set("SpiderOak One"),
    Eq("Neuber Software / Typograf").Set("Typograf"),
    Starts("RegRun Security Suire").Set("RegRun Security Suite"),
    Eq("Autostart program viewer").Set("Autoruns"),
    Eq("startup lancher").Set("Startup Launcher"),
    Starts("Tag&Rename").Set("Tag&Rename"),
    Eq("3D Vision Shortcut Handler").Set("NVIDIA 3D Vision"),
    Eq("OculusConfigUtil").Set("Oculus Configuration Utility"),
    Eq("thinclient").Set("Thin Client"),
    Eq("Lists USB Devices").Set("USBDeview"),
    Eq("putty").Set("PuTTY"),
    Has("putty").BaseStarts("k").Replace("Putty", "KiTTY"),
    Eq("EpicGamesLauncher").Set("Epic Games Launcher"),
    Starts("Textbausteine").Set("Textbausteine"),
    Starts("CareCenter").Set("CareCenter"),
    Starts("Proton VPN").Set("Proton VPN"),
    Starts("Audacity").Set("Audacity"),
    Starts("Punto Switcher").Set("Punto Switcher"),
    Starts("Internet Download Manager").Set("Internet Download Manager"),
    Eq("K-MultimediaPlayer").Set("KMPlayer"),
    Starts("AIMP").Set("AIMP"),
    Starts("Openoffice ").If(T::RLacks, "Beta").Set("OpenOffice"),
    Starts("Openoffice Beta").Set("OpenOffice Beta"),
    Starts("SoftPerfect NetWorx").Set("NetWorx"),
    Eq("Windows Directory Statistics").Set("WinDirStat"),
    Eq("volume").Set("Volume Control"),
    Starts("avast!").Set("Avast Antivirus"),
    Eq("Opera beta Internet Browser").Set("Opera Beta"),
    Starts("XBMC").Set("XBMC"),
    Eq("FileHippo.AppManager").Set("FileHippo App Manager"),
    Eq("G Data 2nd keyboard blocker").Set("G Data Keyboard Guard"),
    Starts("anti").Has("mal").Has("ware").CnHas("Malwarebytes").Set("Malwarebytes Anti-Malware"),
    Starts("Don't Sleep").Set("Don't Sleep"),
    Always().CnHas("Auslogic").FileHere("BoostSpeed.exe").Set("BoostSpeed"),
    Starts("Spybot - Search & Destroy").Set("Spybot - Search & Destroy"),
    Starts("Geek Un").Set("Geek Uninstaller"),
    Starts("Adobe").If(T::RContainsCase, " CS").Do(AdobeSuiteName),
    Base("reader_sl").FileHere("AcroRd32.exe").Set("Adobe Reader"),
    Starts("Maxthon").Set("Maxthon"),
    Starts("MxNitro").Set("Maxthon Nitro"),
    Starts("Luminar").Set("Luminar"),
    Eq("Perl interpreter").Set("Perl"),
    Eq("ImageResizer").Set("Image Resizer for Windows"),
    Eq("IObitUninstaler").Set("IObit Uninstaller"),
    Starts("Internet Radio").Set("Internet Radio"),
    Starts("Kaspersky").If(T::PnNotEmpty).SetPN(),
    Starts("AIDA").Set("AIDA64"),
    Eq("Google Chrome Frame").Set("Google Chrome Frame"),
    Eq("Google Chrome").Do(ChromeCanaryByEntry),
    Eq("Google Chrome").DirHas("Chrome Beta").Set("Google Chrome Beta"),
    Eq("Google Chrome").DirHas("Chrome Dev").Set("Google Chrome Dev"),
    Eq("Google Chrome").DirHas("Chrome SxS").Set("Google Chrome Canary"),
    Starts("Stardock Fences").Set("Fences"),
    Eq("WinRAR archiver").Set("WinRAR"),
    Starts("G DATA").If(T::PnNotEmpty).SetPN(),
    Starts("SlySoft AnyDVD").Set("AnyDVD"),
    Starts("Paragon System Utilities").Set("Paragon System Utilities"),
    Starts("Acronis TrueImage").Set("Acronis True Image"),
    Has("Bitdreamers").If(T::PnNotEmpty).SetPN(),
    Starts("SureThing").Set("SureThing Disc Labeler"),
    Starts("Samsung").If(T::PnNotEmpty).If(T::PnContains, "Samsung").SetPN(),
    Starts("the curl ").Set("curl"),
    Starts("TraXEx ").Set("TraXEx"),
    Eq("Internet Mail Client").Set("Eudora"),
    Has("fose").BaseStarts("fose_loader").Set("Fallout Script Extender"),
    Eq("Virtual CloneDrive").Set("Virtual CloneDrive"),
    Eq("VirtualCloneDrive Preferences").Set("Virtual CloneDrive"),
    Eq("CloneDVDmobile").Set("CloneDVD mobile"),
    Eq("CloneDVD mobile").Set("CloneDVD mobile"),
    Eq("Steam Client Bootstrapper").Set("Steam"),
    Eq("Steam Client Service").Set("Steam"),
    Eq("Fiddler2").Set("Fiddler"),
    Eq("ebook converter").Set("eBook Converter"),
    Eq("Catalyst Control Centre").Set("AMD Catalyst Control Center"),
    Eq("Catalyst").Set("AMD Catalyst Control Center"),
    Starts("Universal Extractor").Set("Universal Extractor"),
    Starts("ThumbsPlus").Set("ThumbsPlus"),
    Starts("Treepad").Set("TreePad"),
    Starts("BoxCryptor").Set("Boxcryptor"),
    Eq("inSSIDer").Set("inSSIDer"),
    Eq("inSSIDerOffice").Set("inSSIDer Office"),
    Starts("CyberLink PowerDVD").Set("CyberLink PowerDVD"),
    Eq("TheGodfather").Set("The Godfather"),
};

// ---------------------------------------------------------------------------------------------
// The second list: after the web-address and template steps.

const std::vector<TProductRow> kD2 = {
    EqCase("Firefox").Base("crashreporter").Append(" Crash Reporter"),
    EqCase("Minefield").Base("crashreporter").Append(" Crash Reporter"),
    EqCase("Aurora").Base("crashreporter").Append(" Crash Reporter"),
    EqCase("Minefield").Set("Firefox Nightly"),
    EqCase("Aurora").Set("Firefox Developer Edition"),
    Eq("Thunderbird").Set("Mozilla Thunderbird"),
    Eq("Mozilla Thunderbird").Set("Mozilla Thunderbird"),
    Eq("RAMBOX").Do(RamboxCommunity),
    Always().Do(MozillaChannel),
    Starts("BSPlayer").Set("BS.Player"),
    Empty().Base("unlocker").Do(UnlockerInstalled),
    Eq("Unlocker").Do(IobitUnlocker),
    Eq("IObitUnlocker").Set("IOBit Unlocker"),
    Eq("gimp").Set("GIMP"),
    Starts("GNU Image Manipulation Program").Set("GIMP"),
    Eq("ff_vfw").Set("ffdshow VFW"),
    Eq("ffdshow VFW").Set("ffdshow VFW"),
    Eq("ffdshow.ax").Set("ffdshow"),
    Eq("xvidvfw.dll").Set("Xvid"),
    Starts("monkey").Set("Monkey's Audio"),
    Starts("Thaiphoon").Set("Thaiphoon Burner"),
    Eq("launchy").Set("Launchy"),
    Eq("LaunchyQT").Set("LaunchyQT"),
    HasCase("Shockwave Flash").Do(FlashPlugin),
    HasCase("Flash Player").Do(FlashPlayerActiveX),
    EqCase("Flash Player Helper").Set("Adobe Flash Player for Internet Explorer"),
    Eq("Shockwave Flash").If(T::BaseEnds, "_sa").Set("Adobe Flash Player Projector"),
    Has("Shockwave Player").Set("Shockwave for Internet Explorer"),
    Has("Shockwave ActiveX").Set("Shockwave for Internet Explorer"),
    Has("Shockwave ").Has("Director").Set("Shockwave for Firefox"),
    Always().Do(TrimName),
    Eq("icq.exe").Set("ICQ"),
    Eq("Ad-Aware SE Core application").Set("Ad-Aware SE"),
    Eq("Ad-Aware GUI").Set("Ad-Aware"),
    Eq("java").Set("Java"),
    Eq("Java(TM) Platform SE binary").Set("Java Platform SE"),
    Eq("Java(TM) 2 Platform Standard Edition binary").Set("Java 2 Platform SE"),
    Starts("Java(TM) ").Replace("Java(TM) ", "Java "),
    Eq("DivXNetworks divx").Set("DivX"),
    Eq("Songbird Web Player").Set("Songbird"),
    Eq("AwesomePhotoFinder").Set("Awesome Photo Finder"),
    Eq("WinZip Executable").Set("WinZip"),
    Eq("Winzip").Set("WinZip"),
    Eq("WinZip Self-Extractor").Set("WinZip Self-Extractor"),
    Eq("WZSEPE").Set("WinZip Self-Extractor"),
    Starts("ACDSee").If(T::RLacks, " Pro").Set("ACDSee"),
    Starts("ACDSee").Has(" Pro").Set("ACDSee Pro"),
    Starts("Nero StartSmart ").Set("Nero StartSmart"),
    Starts("MPC-BE").Set("MPC-BE"),
    Eq("Media Player Classic - Homecinema").Set("MPC-HC"),
    Starts("MPC-HC").Set("MPC-HC"),
    Eq("FileZilla FTP Client").Set("FileZilla"),
    Eq("FileZilla").Set("FileZilla"),
    Eq("COMODO SystemCleaner").Set("COMODO System Cleaner"),
    Eq("Malwarebytes").If(T::PnNotEmpty).SetPN(),
    Starts("COMODO Internet Security").Set("COMODO Internet Security"),
    Eq("Malwarebytes' Anti-Malware").Set("Malwarebytes Anti-Malware"),
    EqCase("Malwarebytes Anti-Malware").If(T::NotInstalled, "Malwarebytes Anti-Malware")
        .Set("Malwarebytes Anti-Malware Portable"),
    Starts("FILEminimizer").If(T::PnNotEmpty).SetPN(),
    Eq("virtualdub").Set("VirtualDub"),
    Starts("Scilab ").Set("Scilab"),
    Starts("Cobian Backup").Set("Cobian Backup"),
    Eq("QRM").Set("QRM Plus"),
    Eq("IAStorUI").Set("Intel Rapid Storage Technology"),
    Eq("IMAS_GUI").Set("Intel Matrix Storage Manager"),
    Eq("winamp").Set("Winamp"),
    Eq("WACUP (WinAmp Community Update Project)").Set("WACUP"),
};

// ---------------------------------------------------------------------------------------------
// The third list: after the clean-up steps and the base-name fall-back.

const std::vector<TProductRow> kD3 = {
    Eq("Plex").Base("Plex Media Server").Set("Plex Media Server"),
    Eq("PlexMediaPlayer").Set("Plex Media Player"),
    Starts("ABPro ").Set("AOMEI Backupper Professional"),
    Starts("PAssist_").Set("AOMEI Partition Assistant"),
    Starts("AOMEI Partition Assistant_").Set("AOMEI Partition Assistant"),
    Starts("AOMEI Partition Assistant").Set("AOMEI Partition Assistant"),
    Eq("AsrRuefi").Set("ASRock Restart to UEFI"),
    Eq("AsrXTU").Set("ASRock XTU"),
    Eq("AsrTC").Set("ASRock Timing Configurator"),
    Eq("AsrPolychromeRGB").Set("ASRock Polychrome RGB"),
    Eq("AsrRgbLed").Set("ASRock RGB LED"),
    Starts("CPU-Z").Do(CpuzEdition),
    Eq("ykman-gui").Set("YubiKey Manager"),
    Eq("bleachbit").Do(BleachBit),
    Eq("adwcleaner").Set("AdwCleaner"),
    Eq("PoiLoader").Set("Poi Loader"),
};

}  // namespace

void ApplyProductTableD1(TProductWork& W) { Run(kD1, W); }
void ApplyProductTableD2(TProductWork& W) { Run(kD2, W); }
void ApplyProductTableD3(TProductWork& W) { Run(kD3, W); }

}  // namespace plim
