#include "update/PlimFct.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <map>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

#include "components/KitFileVersionInfo.h"
#include "components/KitSysUtils.h"
#include "foundation/JoryUtils.h"
#include "foundation/UnicodeUtils.h"
#include "foundation/Version.h"
#include "framework/Handles.h"
#include "framework/SysUtils.h"
#include "update/PlimRules.h"
#include "update/ProductTable.h"

using framework::AnsiLowerCase;
using framework::AnsiToWide;
using framework::ExtractFilePath;
using framework::Trim;
using framework::TStringList;
using framework::WideToAnsi;

// =============================================================================================
// Guard

namespace plim {
namespace {

struct TGuardState {
    std::set<std::string> versions;  // files whose version is being resolved
    std::set<std::string> displays;  // files whose displayed information is being derived
    int depth = 0;
    int versionDepth = 0;
    // Version records read during the outermost identification: the product, publisher and
    // version chains all read the same file, which need be read only once. Dropped when the
    // outermost identification ends, so nothing survives a call.
    std::map<std::string, FileVersionInfoRec> records;
    std::map<std::string, std::string> blocks;  // raw version resources, likewise
};
thread_local TGuardState guardState;

// Deep enough for a file, its displayed information and one sibling's version; a chain
// longer than that is a loop between files that name one another.
constexpr int kMaxDepth = 6;

}  // namespace

TIdentGuard::TIdentGuard(TKind Kind, const std::string& FileName) : kind_(Kind), key_(AnsiLowerCase(FileName)) {
    auto& set = kind_ == gkVersion ? guardState.versions : guardState.displays;
    if (guardState.depth >= kMaxDepth || set.count(key_)) return;
    set.insert(key_);
    ++guardState.depth;
    if (kind_ == gkVersion) ++guardState.versionDepth;
    entered_ = true;
}

TIdentGuard::~TIdentGuard() {
    if (!entered_) return;
    auto& set = kind_ == gkVersion ? guardState.versions : guardState.displays;
    set.erase(key_);
    --guardState.depth;
    if (kind_ == gkVersion) --guardState.versionDepth;
    if (guardState.depth == 0) {
        guardState.records.clear();
        guardState.blocks.clear();
    }
}

const FileVersionInfoRec* TIdentGuard::CachedRecord(const std::string& FileName) {
    if (guardState.depth == 0) return nullptr;
    const auto it = guardState.records.find(AnsiLowerCase(FileName));
    return it == guardState.records.end() ? nullptr : &it->second;
}

void TIdentGuard::CacheRecord(const std::string& FileName, const FileVersionInfoRec& Rec) {
    if (guardState.depth > 0) guardState.records[AnsiLowerCase(FileName)] = Rec;
}

const std::string* TIdentGuard::CachedBlock(const std::string& FileName) {
    if (guardState.depth == 0) return nullptr;
    const auto it = guardState.blocks.find(AnsiLowerCase(FileName));
    return it == guardState.blocks.end() ? nullptr : &it->second;
}

void TIdentGuard::CacheBlock(const std::string& FileName, const std::string& Block) {
    if (guardState.depth > 0) guardState.blocks[AnsiLowerCase(FileName)] = Block;
}

namespace {

// What a TWidePath stands for: a file (Text without a trailing "\\") or its folder.
struct TWideSpelling {
    std::string text;
    std::wstring wide;
};
thread_local std::vector<TWideSpelling> wideSpellings;

std::wstring FolderOf(const std::wstring& path) {
    const size_t at = path.rfind(L'\\');
    return at == std::wstring::npos ? std::wstring() : path.substr(0, at + 1);
}

}  // namespace

TWidePath::TWidePath(const std::wstring& FileName) {
    if (framework::TryPathForAnsiApi(FileName, text_)) return;
    // No text reaches the file: its own and its folder's plain conversions stand for them.
    wideSpellings.push_back({text_, FileName});
    ++registered_;
    const std::wstring folder = FolderOf(FileName);
    std::string folderText;
    if (!folder.empty() && !framework::TryPathForAnsiApi(folder, folderText)) {
        wideSpellings.push_back({framework::IncludeTrailingPathDelimiter(folderText), folder});
        ++registered_;
    }
}

TWidePath::~TWidePath() { wideSpellings.resize(wideSpellings.size() - registered_); }

std::wstring WideFileName(const std::string& FileName) {
    // The innermost scope first.
    for (auto it = wideSpellings.rbegin(); it != wideSpellings.rend(); ++it) {
        if (framework::SameText(FileName, it->text)) return it->wide;
        if (!it->text.empty() && it->text.back() == '\\' && FileName.size() > it->text.size() &&
            framework::SameText(FileName.substr(0, it->text.size()), it->text))
            return it->wide + AnsiToWide(FileName.substr(it->text.size()));
    }
    return AnsiToWide(FileName);
}

int TIdentGuard::VersionDepth() { return guardState.versionDepth; }

}  // namespace plim

// =============================================================================================
// Executable and path utilities

bool IsPEImage(const std::string& FileName, bool& Is64) {
    Is64 = false;
    const std::string path = RedirectSystem32Path(FileName);
    if (path.empty()) return false;

    framework::UniqueHandle file(CreateFileW(plim::WideFileName(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0) return false;
    framework::UniqueKernelHandle mapping(CreateFileMappingA(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping) return false;
    struct ViewCloser {
        void operator()(const void* p) const { UnmapViewOfFile(p); }
    };
    std::unique_ptr<const void, ViewCloser> view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (!view) return false;

    const auto* bytes = static_cast<const unsigned char*>(view.get());
    const uint64_t length = static_cast<uint64_t>(size.QuadPart);
    auto word16 = [&](uint64_t at) {
        uint16_t v;
        std::memcpy(&v, bytes + at, 2);
        return v;
    };
    auto word32 = [&](uint64_t at) {
        uint32_t v;
        std::memcpy(&v, bytes + at, 4);
        return v;
    };

    if (length < 64 || word16(0) != 0x5A4D) return false;  // "MZ" and a whole DOS header
    int32_t lfanew;
    std::memcpy(&lfanew, bytes + 60, 4);
    // The whole NT header block (signature, file header, 32-bit optional header) must lie
    // inside the file; e_lfanew is signed in the DOS header.
    constexpr uint64_t kNtHeaderBlock = 4 + 20 + 224;
    if (lfanew < 0 || static_cast<uint64_t>(lfanew) + kNtHeaderBlock > length) return false;
    if (word32(static_cast<uint64_t>(lfanew)) != 0x00004550) return false;  // "PE\0\0"
    Is64 = word16(static_cast<uint64_t>(lfanew) + 24) == 0x20B;
    return true;
}

std::string RedirectSystem32Path(const std::string& Path) {
    std::string result = Path;
    if (!IsWow64()) return result;
    const std::string sysDir = SpecialFolderDirectory(CSIDL_SYSTEM);
    if (sysDir.empty() || result.compare(0, sysDir.size(), sysDir) != 0) return result;
    const std::string lower = AnsiLowerCase(result);
    const size_t at = lower.find("\\system32\\");
    if (at != std::string::npos) result.replace(at, 10, "\\sysnative\\");
    return result;
}

std::string CleanDisplayText(const std::string& Text) {
    std::string text = Text;
    for (;;) {
        std::string r = Trim(StripTrailingUrls(text));
        r = StrRemovePrefixText(r, "?");
        r = StrRemoveSuffixText(r, " -");
        if (r == "@") r.clear();
        if (r == text) return r;
        text = r;
    }
}

void FindXmlTagValue(const std::string& Tag, const TStringList& Lines, std::string& Value) {
    Value.clear();
    for (int i = 0; i < Lines.Count(); ++i)
        if (StrContainsText("<" + Tag + ">", Lines[i])) ExtractXmlTagValue(Lines[i], Tag, Value);
}

void ExtractXmlTagValue(const std::string& Line, const std::string& Tag, std::string& Value) {
    std::string l = Trim(Line);
    if (l.find("<!--") != std::string::npos) {
        l = Trim(StrAfter(l, "<!--"));
        l = Trim(StrBefore(l, "-->"));
    }
    Value = Trim(StrAfter(l, "<" + Tag + ">"));
    Value = Trim(StrBefore(Value, "</" + Tag + ">"));
    if (StrContainsText("App name goes here", Value)) Value.clear();
}

std::string AirDescriptorPath(const std::string& Dir) { return Dir + "META-INF\\AIR\\application.xml"; }

// =============================================================================================
// Version-resource reading

namespace {

constexpr const char* kFallbackKeys[8] = {"FileDescription", "CompanyName",      "FileVersion", "InternalName",
                                          "LegalCopyRight",  "OriginalFileName", "ProductName", "ProductVersion"};

std::string* RecField(FileVersionInfoRec& Rec, int Index) {
    std::string* fields[8] = {&Rec.FileDescription,  &Rec.CompanyName,      &Rec.FileVersion, &Rec.InternalName,
                              &Rec.LegalCopyright,   &Rec.OriginalFilename, &Rec.ProductName, &Rec.ProductVersion};
    return fields[Index];
}

std::string ReplaceAll(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
    return s;
}

}  // namespace

std::string plim::VersionBlock(const std::string& FileName) {
    if (const std::string* cached = TIdentGuard::CachedBlock(FileName)) return *cached;
    std::string block;
    const std::wstring path = WideFileName(FileName);
    if (FileIsPresent(path)) framework::ReadVersionResource(path, block);
    TIdentGuard::CacheBlock(FileName, block);
    return block;
}

std::string plim::FixedVersionText(const std::string& FileName) {
    if (!FileIsPresent(WideFileName(FileName))) return "File not found";
    const std::string block = VersionBlock(FileName);
    return block.empty() ? std::string() : WideToAnsi(FixedVersionOfBlock(block.data()));
}

void ReadFileVersionInfo(const std::string& FileName, FileVersionInfoRec& Rec) {
    Rec = FileVersionInfoRec{};
    const std::string path = RedirectSystem32Path(FileName);
    if (const FileVersionInfoRec* cached = plim::TIdentGuard::CachedRecord(path)) {
        Rec = *cached;
        return;
    }
    bool failed = true;
    if (FileIsPresent(plim::WideFileName(path))) {
        try {
            std::string block = plim::VersionBlock(path);
            if (block.empty()) throw std::runtime_error("no version information");
            const auto parsed = TKitFileVersionInfo::FromBuffer(std::move(block));
            const TKitFileVersionInfo& info = *parsed;
            static constexpr int kStandardIndex[8] = {3, 2, 4, 5, 6, 8, 9, 10};
            for (int i = 0; i < 8; ++i) *RecField(Rec, i) = info.GetStandardKey(kStandardIndex[i]);
            failed = Rec.FileVersion.empty() && Rec.CompanyName.empty() && Rec.FileDescription.empty();
        } catch (const std::exception&) {
            failed = true;
        }
    }
    if (failed) {
        TStringList list;
        ReadVersionStrings(path, list);
        for (int i = 0; i < 8; ++i) {
            std::string value;
            const std::string prefix = std::string(kFallbackKeys[i]) + "=";
            for (int j = 0; j < list.Count(); ++j)
                if (list[j].compare(0, prefix.size(), prefix) == 0) {
                    value = list[j].substr(prefix.size());
                    break;
                }
            *RecField(Rec, i) = value;
        }
    }
    Rec.FileVersion = ReplaceAll(Rec.FileVersion, ", ", ".");
    Rec.ProductVersion = ReplaceAll(Rec.ProductVersion, ", ", ".");
    plim::TIdentGuard::CacheRecord(path, Rec);
}

void ReadFileVersionInfo(const std::wstring& FileName, FileVersionInfoRec& Rec) {
    const plim::TWidePath path(FileName);
    ReadFileVersionInfo(path.Text(), Rec);
}

void ReadVersionStrings(const std::string& FileName, TStringList& List) {
    const std::string path = RedirectSystem32Path(FileName);
    std::string data = plim::VersionBlock(path);
    if (data.empty()) return;
    std::string table;
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &length) && value && length >= 4) {
        uint32_t translation;
        std::memcpy(&translation, value, 4);
        char text[32];
        std::snprintf(text, sizeof text, "\\StringFileInfo\\%04x%04x\\", translation & 0xFFFF, translation >> 16);
        table = text;
    }
    for (const char* key : kFallbackKeys) {
        const std::string subBlock = table + key;
        value = nullptr;
        length = 0;
        if (VerQueryValueA(data.data(), subBlock.c_str(), &value, &length) && value) {
            const char* text = static_cast<const char*>(value);
            // The value ends at its terminating zero, and never past the buffer.
            const char* end = data.data() + data.size();
            size_t n = 0;
            while (text + n < end && text[n] != 0) ++n;
            List.Add(std::string(key) + "=" + std::string(text, n));
        }
    }
}

// =============================================================================================
// Version probes

std::string LeadingVersionNumber(const std::string& S) {
    std::string r;
    for (const char c : S) {
        if (c >= '0' && c <= '9') r += c;
        else if (c == '.' || c == ',') r += '.';
        else if (c == ' ') continue;
        else break;
    }
    return r;
}

bool IsVersionString(const std::string& S) {
    for (const char c : S)
        if (!((c >= '0' && c <= '9') || c == '.')) return false;
    return true;
}

bool IsValidVersion(const std::string& S) { return !S.empty() && TPlimVersion(S).IsValid(); }

namespace {

std::string FirstWord(const std::string& S) { return GetToken(Trim(S), 0, " "); }

bool ReadMachineDWord(const char* Path, const char* Name, DWORD& Value) {
    // Both registry views: a 64-bit build must still see what a 32-bit installer wrote.
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        HKEY raw = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, Path, 0, KEY_READ | view, &raw) != ERROR_SUCCESS) continue;
        framework::UniqueHKey key(raw);
        DWORD type = 0, size = sizeof Value;
        if (RegQueryValueExA(key.get(), Name, nullptr, &type, reinterpret_cast<BYTE*>(&Value), &size) ==
                ERROR_SUCCESS &&
            type == REG_DWORD)
            return true;
    }
    return false;
}

std::string MalwarebytesVersion(const std::string& SecondName, const std::string& Folder) {
    std::string r = FirstWord(GetUninstallVersion("Malwarebytes Anti-Malware"));
    if (r.empty()) r = FirstWord(GetUninstallVersion(SecondName));
    if (!r.empty()) return r;
    const std::string changes = Folder + "changes.txt";
    if (!FileExistsNotEmpty(plim::WideFileName(changes))) return r;
    TStringList lines;
    // A changes file without a line names no version.
    if (!lines.LoadFromFile(changes) || lines.Count() == 0) return r;
    const std::string line = Trim(lines[0]);
    const std::string last = GetToken(line, TokenCount(line, " ") - 1, " ");
    return TPlimVersion(last).AsText();
}

}  // namespace

std::string GetFfdshowVersion() {
    std::string r = GetUninstallVersion("ffdshow");
    if (r.empty()) {
        DWORD revision = 0;
        if (ReadMachineDWord("SOFTWARE\\GNU\\ffdshow\\", "revision", revision)) {
            r = std::to_string(revision);
            if (r != "0") {
                if (revision > 4422) r = "1.2." + r;
                else if (revision > 3402) r = "1.1." + r;
                else r = "1.0." + r;
            }
        }
    }
    const std::string sysDir = framework::IncludeTrailingPathDelimiter(SpecialFolderDirectory(CSIDL_SYSTEM));
    const TPlimVersion d(WideToAnsi(GetFixedFileVersion(AnsiToWide(sysDir + "ff_vfw.dll"))));
    const TPlimVersion e(r);
    if (d.Release == e.Release && e.Minor < d.Minor) r = d.AsText();
    return r;
}

std::string GetHighestVersionSubfolder(const std::string& FileName) {
    std::string r;
    TStringList folders;
    ListSubFolders(ExtractFilePath(FileName), folders);
    for (int i = 0; i < folders.Count(); ++i) {
        const std::string c = ExtractFileBaseName(framework::ExcludeTrailingPathDelimiter(folders[i]));
        if (TPlimVersion(c).IsNewerThan(TPlimVersion(r))) r = c;
    }
    return r;
}

std::string GetJDownloaderVersion() { return GetUninstallVersion("JDownloader"); }
std::string GetMalwarebytesArVersion(const std::string& Folder) {
    return MalwarebytesVersion("Malwarebytes Anti-Ransomware version", Folder);
}
std::string GetMalwarebytesVersion(const std::string& Folder) {
    return MalwarebytesVersion("Malwarebytes version", Folder);
}
bool IsMalwarebytesInstalled() { return !GetUninstallVersion("Malwarebytes Anti-Malware").empty(); }

std::string GetOpenOfficeVersion() {
    std::string r = GetUninstallVersion("Apache OpenOffice");
    if (!r.empty()) return r;
    const TPlimVersion a(GetUninstallVersion("openoffice"));
    TPlimVersion b(UninstallVersionByNameContains("openoffice"));
    b.Build = a.Release;
    return b.AsText();
}

std::string GetLibreOfficeVersion() { return GetUninstallVersion("libreoffice"); }
std::string GetGimpVersion() {
    std::string r = UninstallVersionByNameContains("gimp");
    if (r.find('.') == std::string::npos) r = GetUninstallVersion("gimp");
    return r;
}
std::string GetGlimpseVersion() { return GetUninstallVersion("glimpse"); }
std::string GetVuzeVersion() { return GetUninstallVersion("Vuze"); }
std::string GetXvidVersion() {
    const std::string a = GetUninstallVersion("XVid");
    const std::string b = UninstallVersionByFirstWord("XVid");
    return TPlimVersion(a).IsNewerThan(TPlimVersion(b)) ? a : b;
}
std::string GetLaunchyVersion() { return UninstallSecondWordByFirstWord("launchy"); }
std::string GetAshampooSnapVersion() { return GetUninstallVersion("ashampoo snap"); }
std::string GetAshampooUndeleterVersion() { return GetUninstallVersion("ashampoo undeleter"); }
std::string GetCccpVersion() { return GetUninstallVersion("Combined Community Codec Pack"); }
std::string GetQuickTimeAlternativeVersion() { return UninstallVersionByNameContains("QuickTime Alternative"); }
std::string GetQtLiteVersion() { return UninstallVersionByNameContains("QT Lite"); }
std::string GetKLiteVersion() { return UninstallVersionWithout("K-Lite Codec Pack", "64-bit"); }
std::string GetKLite64Version() { return UninstallVersionWith("K-Lite Codec Pack", "64-bit"); }
std::string GetKLiteMegaVersion() { return GetUninstallVersion("K-Lite Mega Codec Pack"); }
std::string GetOpenHashTabVersion() { return GetUninstallVersion("OpenHashTab"); }
std::string GetHashTabVersion() { return GetUninstallVersion("HashTab"); }
std::string GetQtTabBarVersion() { return UninstallVersionByNameContains("QtTabBar"); }
std::string GetPaintNetVersion() { return UninstallVersionByFirstWord("Paint.NET"); }

// =============================================================================================
// File version text

namespace {

// V(x) padded with ".0" until it has at least four dot-parts.
std::string PadVersion(std::string s) {
    while (TokenCount(s, ".") < 4) s += ".0";
    return s;
}

bool IsOneZeroVersion(const std::string& r) { return r == "1.0.0.0" || r == "1.0.0.1"; }

struct TPseudoVersion {
    const char* Key;
    std::string (*Probe)();
};

std::string HashTabUnlessOpen() { return GetOpenHashTabVersion().empty() ? GetHashTabVersion() : std::string(); }

const TPseudoVersion kPseudoVersions[] = {
    {"CCCP", GetCccpVersion},         {"QTA", GetQuickTimeAlternativeVersion}, {"QTL", GetQtLiteVersion},
    {"KLITE", GetKLiteVersion},       {"KLITE64", GetKLite64Version},          {"KLITEMEGA", GetKLiteMegaVersion},
    {"HASHTAB", HashTabUnlessOpen},   {"OPENHASHTAB", GetOpenHashTabVersion},  {"QTTABBAR", GetQtTabBarVersion},
};

// Runs a stage's rows; returns true when a row ended the resolution.
bool RunVersionRules(const std::vector<plim::TVersionRule>& Rules, plim::TVersionWork& W, bool StopOnResult) {
    for (const auto& rule : Rules) {
        if (!rule.Trigger(W)) continue;
        rule.Action(W);
        if (W.Stop || (StopOnResult && !W.R.empty()) || rule.ElseChain) return true;
    }
    return false;
}

}  // namespace

void plim::Reconcile(plim::TVersionWork& W) {
    std::string& R = W.R;
    const std::string& FV = W.Rec.FileVersion;
    const std::string& PV = W.Rec.ProductVersion;
    // 1. A FileVersion string more precise than the fixed version of the same major.minor.
    if (!FV.empty() && IsVersionString(FV)) {
        const std::string t = PadVersion(FV);
        if (TPlimVersion(t).IsNewerThan(TPlimVersion(R)) && TPlimVersion(t).HighPart() == TPlimVersion(R).HighPart())
            R = t;
    }
    // 2. A ProductVersion of the same major whose minor the fixed version spells differently.
    const bool notepadPP = StrContainsText("notepad++", W.Rec.ProductName);
    if (R.find('.') != std::string::npos && PV.find('.') != std::string::npos) {
        const std::string p = LeadingVersionNumber(PV);
        const TPlimVersion vr(R), vp(p);
        if (vr.HighPart() < vp.HighPart() && GetToken(R, 0, ".") == GetToken(p, 0, ".") &&
            GetToken(R, 1, ".") + GetToken(R, 2, ".") != GetToken(p, 1, ".") && !notepadPP)
            R = p;
        if (R == "0.0.0.0" && vp.HighPart() != 0) R = p;
    }
    // 3. Product and file version strings agree and are ahead of the fixed version.
    {
        const std::string p = LeadingVersionNumber(PV);
        const std::string f = LeadingVersionNumber(FV);
        const TPlimVersion s(R), vp(p), vf(f);
        if (vp.HighPart() == vf.HighPart() && vp.IsNewerThan(s) && !notepadPP && vp.IsValid() && vf.IsValid()) {
            R = f.size() < p.size() ? p : f;
            if (StrContainsText("Total Commander", W.Product) && s.Build > 0) R += "." + std::to_string(s.Build);
        }
    }
    // 4. An old LimeWire names its version through its uninstaller.
    if (W.FileName.find("LimeWire") != std::string::npos && !R.empty() && R[0] == '1') {
        std::string uninstaller = W.Folder + "uninstall.exe";
        // The uninstaller itself never asks itself.
        if (!framework::SameText(uninstaller, W.FileName) && FileExistsNotEmpty(plim::WideFileName(uninstaller))) {
            std::string v;
            GetFileVersionText(uninstaller, W.Product, W.Company, v, false);
            R = v;
        }
    }
    // 5. A placeholder fixed version gives way to the version strings.
    if (IsOneZeroVersion(R) && !FV.empty() && IsVersionString(FV)) R = PadVersion(LeadingVersionNumber(FV));
    if (IsOneZeroVersion(R)) {
        const std::string p = LeadingVersionNumber(PV);
        if (TPlimVersion(p).IsNewerThan(TPlimVersion(R))) R = p;
    }
    // 6. So does an empty one.
    if (R.compare(0, 5, "0.0.0") == 0) {
        const std::string p = LeadingVersionNumber(PV);
        if (TPlimVersion(p).IsNewerThan(TPlimVersion(R))) R = p;
    }
}

void ResolveFileVersion(std::string& FileName, std::string Product, std::string Company, std::string& Version) {
    plim::TVersionWork w;
    Version.clear();
    FileName = RedirectSystem32Path(FileName);
    for (const auto& pseudo : kPseudoVersions)
        if (FileName == pseudo.Key) {
            Version = pseudo.Probe();
            return;
        }

    w.FileName = FileName;
    w.Base = ExtractFileBaseName(FileName);
    w.Folder = ExtractFilePath(FileName);
    if (Product.empty()) {
        TDisplayedFileInfo info;
        GetDisplayedFileInfo(FileName, info);
        Product = info.ProductName;
        Company = info.CompanyName;
    }
    w.Product = Product;
    w.Company = Company;

    auto finish = [&] {
        Version = w.R;
        FileName = w.FileName;
    };

    if (FileExistsNotEmpty(plim::WideFileName(FileName))) {
        for (const auto& probe : plim::kBaseNameProbes)
            if (probe.Trigger(w)) probe.Action(w);
        if (!w.R.empty()) return finish();
    }

    if (RunVersionRules(plim::kVersionRulesBeforeDefault, w, true)) return finish();

    try {
        w.R = plim::FixedVersionText(FileName);
    } catch (const std::exception&) {
        w.R.clear();
    }
    if (w.R == "File not found") w.R.clear();

    // Like the rows before the default, a refinement that leaves a version ends the chain.
    if (RunVersionRules(plim::kVersionRulesAfterDefault, w, true)) return finish();

    if (w.R.empty() && plim::VersionBlock(FileName).empty()) {
        const std::string descriptor = AirDescriptorPath(w.Folder);
        if (FileExistsNotEmpty(plim::WideFileName(descriptor))) {
            TStringList lines;
            if (lines.LoadFromFile(descriptor)) FindXmlTagValue("versionNumber", lines, w.R);
            return finish();
        }
    }

    try {
        ReadFileVersionInfo(FileName, w.Rec);
    } catch (const std::exception&) {
    }

    if (RunVersionRules(plim::kVersionRulesOnStrings, w, false)) return finish();
    plim::Reconcile(w);
    RunVersionRules(plim::kVersionRulesAfterReconciliation, w, false);
    finish();
}

void GetFileVersionText(std::string& FileName, std::string Product, std::string Company, std::string& Version,
                        bool KeepRaw) {
    Version.clear();
    // The only failure below is the WOW64 query of the path redirection; the update check
    // then gets no version rather than an exception.
    try {
        const plim::TIdentGuard guard(plim::TIdentGuard::gkVersion, RedirectSystem32Path(FileName));
        if (!guard.Entered()) return;
        ResolveFileVersion(FileName, std::move(Product), std::move(Company), Version);
    } catch (const framework::Exception&) {
        Version.clear();
        return;
    }
    if (IsValidVersion(Version) && !KeepRaw) Version = TPlimVersion(Version).AsText();
}

void GetFileVersionText(const std::wstring& FileName, std::string Product, std::string Company, std::string& Version,
                        bool KeepRaw) {
    const plim::TWidePath path(FileName);
    std::string file = path.Text();
    GetFileVersionText(file, std::move(Product), std::move(Company), Version, KeepRaw);
}

// =============================================================================================
// Product name

namespace {

struct TFixedName {
    const char* Key;
    const char* Product;
    const char* Company;
};

// Pseudo-keys: a software package rather than a file.
const TFixedName kPackages[] = {
    {"CCCP", "Combined Community Codec Pack", "CCCP Project"},
    {"QTA", "QuickTime Alternative", "QuickTime Alternative Team"},
    {"QTL", "QuickTime Lite", "QuickTime Lite Team"},
    {"KLITE", "K-Lite Codec Pack", "K-Lite Codec Pack Team"},
    {"KLITE64", "K-Lite Codec Pack (64-Bits)", "K-Lite Codec Pack Team"},
    {"KLITEMEGA", "K-Lite Codec Pack (Mega)", "K-Lite Codec Pack Team"},
    {"OPENHASHTAB", "OpenHashTab", ""},
    {"HASHTAB", "HashTab", "Implbits Software"},
    {"QTTABBAR", "QtTabBar", ""},
};

const TFixedName* FindPackage(const std::string& FileName) {
    for (const auto& p : kPackages)
        if (FileName == p.Key) return &p;
    return nullptr;
}

// The last blank-separated word of R, when R has more than one.
std::string LastWord(const std::string& R) { return GetToken(R, TokenCount(R, " ") - 1, " "); }

bool IsVersionWord(const std::string& w) {
    if (w.empty()) return false;
    for (size_t i = 1; i < w.size(); ++i)
        if (!((w[i] >= '0' && w[i] <= '9') || w[i] == '.')) return false;
    if (w.find('.') == std::string::npos && w.size() >= 4) return false;
    const char c = w[0];
    return (c >= '0' && c <= '9') || c == '.' || c == 'V' || c == 'v';
}

std::string DropLastChars(const std::string& s, size_t n) { return s.substr(0, s.size() - std::min(n, s.size())); }

// The name of the folder that holds the file.
std::string ParentFolderName(const std::string& Path) {
    return framework::ExtractFileName(framework::ExcludeTrailingPathDelimiter(ExtractFilePath(Path)));
}

}  // namespace

std::string GetFileProductName(const std::string& FileName) {
    if (const TFixedName* package = FindPackage(FileName)) return package->Product;

    const std::string path = RedirectSystem32Path(FileName);
    FileVersionInfoRec rec;
    ReadFileVersionInfo(path, rec);
    return plim::DeriveProductName(path, rec);
}

namespace {

using plim::TProductWork;

// Which of the description, product and internal names reads as the name a user knows: a
// short product name, unless the description says more without repeating it; an over-long
// choice gives way to the internal name.
void ChooseRawName(TProductWork& W) {
    const std::string& FD = W.Rec.FileDescription;
    const std::string& PN = W.Rec.ProductName;
    const std::string& InName = W.Rec.InternalName;
    std::string& R = W.R;
    const int fdn = TokenCount(ReplaceAll(FD, " - ", "-"), " -");
    const int pnn = TokenCount(ReplaceAll(PN, " - ", "-"), " ");
    const int inn = TokenCount(InName, " ");
    if (pnn > 0 && pnn < 5) R = PN;
    const bool describesMore =
        (fdn >= pnn && FD.find('(') == std::string::npos) ? true : R.find('\xAE') != std::string::npos;
    const bool shortEnough = fdn < 4 ? true : fdn > 4 ? false : !framework::SameText(PN, W.Base);
    const bool notARepeat = (framework::SameText(W.Base, "updater") || framework::SameText(PN, "shockwave"))
                                ? true
                                : !(!PN.empty() && FD.compare(0, PN.size(), PN) == 0);
    if (fdn > 0 && describesMore && shortEnough && notARepeat) R = FD;
    if (R.empty()) {
        if (inn > 0) R = InName;
        if (pnn > 0) R = PN;
        if (fdn > 0) R = FD;
    }
    if (inn > 0 && TokenCount(R, " ") > 6) R = InName;
}

// A few programs without any name in their resource are known by file and folder alone; the
// answer is final (not even the bitness suffix follows).
bool NameByBaseAlone(const TProductWork& W, std::string& Name) {
    if (!W.R.empty()) return false;
    if (framework::SameText(W.Base, "gswin32") && StrContainsText("gs", W.Dir)) Name = "GPL Ghostscript";
    else if (framework::SameText(W.Base, "nsis")) Name = "NSIS";
    else if (framework::SameText(W.Base, "EAC") && framework::SameText(ParentFolderName(W.Path), "Exact Audio Copy"))
        Name = "Exact Audio Copy";
    return !Name.empty();
}

// A maker whose resource strings came out garbled ("?" for characters of another code page).
void DropGarbledMarks(TProductWork& W) {
    if (W.R.find('?') != std::string::npos && StrContainsText("auslogics", ReplaceAll(W.Rec.CompanyName, "?", "")))
        W.R = ReplaceAll(W.R, "?", "");
}

// A web address or a resource template's placeholder instead of a name.
void ReplaceNonNames(TProductWork& W) {
    const std::string& PN = W.Rec.ProductName;
    if (StrStartsText(W.R, "http://") && !StrContainsText("http://", PN)) W.R = PN;
    if (W.R == "File Description") W.R = PN;
}

// Decorations that are no part of a name: bitness, trailing version words, trademarks,
// installer and executable wording, quotes, platform suffixes.
void StripDecorations(TProductWork& W) {
    const std::string& FD = W.Rec.FileDescription;
    const std::string& PN = W.Rec.ProductName;
    const std::string& OF = W.Rec.OriginalFilename;
    std::string& R = W.R;
    R = StrRemovePrefixText(R, "_4dots");
    // A trailing bitness group, when it is the only parenthesis at the end.
    if (TokenCount(R, " ") > 1) {
        size_t a = 0;
        for (const char* mark : {"(16", "(32", "(64"}) {
            const size_t at = R.find(mark);
            if (at != std::string::npos) a = std::max(a, at + 1);
        }
        const size_t close = R.find(')');
        if (a > 0 && close != std::string::npos && close == R.size() - 1) R = Trim(R.substr(0, a - 1));
    }
    // Two tools of one author name their generation by the file version's major.
    if (StrStartsText(R, "FixWin")) R = FD;
    if (StrStartsText(R, "Ultimate Windows Tweaker") || StrStartsText(R, "FixWin")) {
        if (TokenCount(R, " ") > 1 && IsVersionWord(LastWord(R))) R = Trim(DropLastChars(R, LastWord(R).size()));
        R += " " + std::to_string(TPlimVersion(W.Rec.FileVersion).Major);
    }
    // A trailing version word, except where the number is part of the name.
    if (TokenCount(R, " ") > 1) {
        const std::string word = LastWord(R);
        if (IsVersionWord(word) && !framework::SameText(R, "DVD Flick v2") &&
            !StrStartsText(R, "Ultimate Windows Tweaker") && !StrStartsText(R, "FixWin") &&
            !StrStartsText(R, "Dimension"))
            R = Trim(DropLastChars(R, word.size()));
    }
    if (StrStartsText(R, "Winmerge") &&
        (StrStartsText(W.Rec.ProductVersion, "2011.") || StrStartsText(W.Rec.ProductVersion, "0.2011.")))
        R = "WinMerge 2011";
    if (TokenCount(R, " ") > 1 && AnsiLowerCase(LastWord(R)).find("(tm)") != std::string::npos)
        R = Trim(DropLastChars(R, LastWord(R).size()));
    R = Trim(ReplaceAll(R, "\x99", ""));
    if (R.size() > 1 && R.back() == '.') R = Trim(R.substr(0, R.size() - 1));
    // An AIR application names itself in its descriptor.
    if (R.empty()) {
        const std::string descriptor = AirDescriptorPath(W.Dir);
        TStringList lines;
        if (FileExistsNotEmpty(plim::WideFileName(descriptor)) && lines.LoadFromFile(descriptor)) {
            FindXmlTagValue("name", lines, R);
            if (R.empty()) FindXmlTagValue("filename", lines, R);
        }
    }
    // Installers say so once.
    if ((PN.empty() || StrStartsText(FD, PN)) && StrContainsText(" installer", FD)) R = FD;
    if (StrStartsText(FD, "install ") || StrEndsText(FD, " installationsprogramm") || StrEndsText(FD, " setup") ||
        StrStartsText(OF, "setup.exe") || StrStartsText(W.Rec.InternalName, "setup") ||
        StrStartsText(OF, "bootstrapper.exe"))
        R += " installer";
    for (const char* suffix : {".exe", ".dll", ".dll loader", "MFC Application", "Application", "application file",
                               "main executable"})
        R = StrRemoveSuffixText(R, suffix);
    for (const char* prefix : {"Main executable for", "32-Bit", "64-Bit"}) R = StrRemovePrefixText(R, prefix);
    if (R.size() >= 2 && R.front() == '"' && R.back() == '"') R = R.substr(1, R.size() - 2);
    R = StrRemovePrefixText(R, "ShInstUtil - ");
    R = CleanDisplayText(R);
    for (const char* suffix :
         {"for Windows", "for Win32", "for Windows NT", "for Windows NT/2000/XP/Vista", "for Windows 98/Me/2000/XP",
          "for Windows XP", "for WindowsNT", "for Win2k/XP", "for Windows(R)", "for Windows\xAE",
          "for Windows 2000/XP", "for Windows 9x/Me/NT/2k/XP", "64-bit", "32-bit", " executable", " 64bit"})
        R = StrRemoveSuffixText(R, suffix);
    // Nothing left: the file's own name.
    if (R.empty()) R = W.Base;
}

// The bitness a user sees in the name: a 64-bit Flash player tells it only by its file name,
// every other PE32+ image gets the suffix exactly once. Garbled or placeholder names go.
void FinishName(TProductWork& W) {
    std::string& R = W.R;
    if (StrContainsText("adobe flash player for ", R)) {
        const std::string version = ReplaceAll(plim::FixedVersionText(W.Path), ".", "_");
        if (W.Base.find("64_" + version) != std::string::npos) R += " (64 bits)";
    }
    R = Trim(R);
    bool is64 = false;
    if (IsPEImage(W.Path, is64) && is64) {
        R = StrRemoveSuffixText(R, " x64");
        R = StrRemoveSuffixText(R, " (64 bits)");
        R += " (64 bits)";
    }
    if (R == "?" || R.find("??") != std::string::npos || (!R.empty() && R[0] == '$')) R.clear();
}

}  // namespace

std::string plim::DeriveProductName(const std::string& Path, const FileVersionInfoRec& Rec) {
    TProductWork w;
    w.Path = Path;
    w.Base = ExtractFileBaseName(Path);
    w.Dir = ExtractFilePath(Path);
    w.Rec = Rec;

    ChooseRawName(w);
    std::string known;
    if (NameByBaseAlone(w, known)) return known;
    DropGarbledMarks(w);
    // The product table's three lists sit where their rows need the name: raw, after the
    // non-names are replaced, and once the decorations are gone.
    ApplyProductTableD1(w);
    ReplaceNonNames(w);
    ApplyProductTableD2(w);
    StripDecorations(w);
    ApplyProductTableD3(w);
    FinishName(w);
    return w.R;
}

// =============================================================================================
// Publisher

namespace {

int ReadInt(const std::string& s) {
    int64_t v = 0;
    return framework::TryStrToInt64(s, v) && v >= INT32_MIN && v <= INT32_MAX ? static_cast<int>(v) : 0;
}

bool IsCopyrightMark(const std::string& t) {
    return framework::SameText(t, "(C)") || framework::SameText(t, "copyright") || t == "\xA9" || t == ",";
}

// The copyright stripping only ever cuts at the ends of the text, so it works on a window
// [Begin, End) of the original: a pass costs what it cuts plus a bounded look at each end,
// and a text of thousands of marks or years is peeled in linear time.
class TCopyrightWindow {
public:
    explicit TCopyrightWindow(const std::string& Text) : s_(Text), end_(Text.size()), lastDot_(Text.size() + 1) {
        size_t dot = std::string::npos;
        for (size_t i = 0; i <= s_.size(); ++i) {
            lastDot_[i] = dot;  // the last "." before position i
            if (i < s_.size() && s_[i] == '.') dot = i;
        }
    }

    size_t Size() const { return end_ - begin_; }
    bool Empty() const { return begin_ == end_; }
    char Front() const { return s_[begin_]; }
    char Back() const { return s_[end_ - 1]; }
    std::string Text() const { return s_.substr(begin_, Size()); }
    // The last N characters (all when fewer), and one character by its place in the window.
    std::string Tail(size_t N) const { return s_.substr(end_ - std::min(N, Size()), std::min(N, Size())); }
    char At(size_t I) const { return s_[begin_ + I]; }
    std::pair<size_t, size_t> Bounds() const { return {begin_, end_}; }

    void DropFront(size_t n) { begin_ += std::min(n, Size()); }
    void DropBack(size_t n) { end_ -= std::min(n, Size()); }

    bool StartsWith(const std::string& p) const {
        return Size() >= p.size() && framework::SameText(s_.substr(begin_, p.size()), p);
    }
    bool EndsWith(const std::string& p) const {
        return Size() >= p.size() && framework::SameText(s_.substr(end_ - p.size(), p.size()), p);
    }
    void RemovePrefix(const std::string& p) {
        if (StartsWith(p)) DropFront(p.size());
    }
    void RemoveSuffix(const std::string& p) {
        if (EndsWith(p)) DropBack(p.size());
    }
    void Trim() {
        while (!Empty() && static_cast<unsigned char>(Front()) <= ' ') ++begin_;
        while (!Empty() && static_cast<unsigned char>(Back()) <= ' ') --end_;
    }

    // The first token at Delims, as far as Limit + 1 characters (a longer token matches no
    // test); AtDelimiter tells whether a delimiter ended it.
    std::string FirstToken(const char* Delims, size_t Limit, bool* AtDelimiter = nullptr) const {
        size_t i = begin_;
        while (i < end_ && i - begin_ <= Limit && !IsDelim(Delims, s_[i])) ++i;
        if (AtDelimiter) *AtDelimiter = i < end_ && IsDelim(Delims, s_[i]);
        return s_.substr(begin_, i - begin_);
    }
    // The last token at Delims, likewise bounded.
    std::string LastToken(const char* Delims, size_t Limit) const {
        size_t i = end_;
        while (i > begin_ && end_ - i <= Limit && !IsDelim(Delims, s_[i - 1])) --i;
        return s_.substr(i, end_ - i);
    }
    // The token before the last "." plus that ".", when its length is N (else empty).
    std::string BeforeLastDot(size_t N) const {
        const size_t dot = lastDot_[end_];
        if (dot == std::string::npos || dot < begin_ || N == 0 || dot + 1 < begin_ + N) return std::string();
        const size_t from = dot + 1 - N;
        if (from > begin_ && s_[from - 1] != '.') return std::string();
        const size_t prev = lastDot_[dot];
        if (prev != std::string::npos && prev >= from) return std::string();
        return s_.substr(from, N);
    }

private:
    static bool IsDelim(const char* Delims, char C) { return C != '\0' && std::strchr(Delims, C) != nullptr; }

    const std::string& s_;
    size_t begin_ = 0, end_;
    std::vector<size_t> lastDot_;
};

// One pass of the copyright stripping on the window.
void StripCopyrightOnce(TCopyrightWindow& W) {
    if (!W.Empty() && W.Back() == ',') W.DropBack(1);
    if (!W.Empty() && W.Front() == ',') W.DropFront(1);

    std::string t = W.FirstToken(" -", 9);
    if (framework::SameText(t, "C") || framework::SameText(t, "(C)") || framework::SameText(t, "copyright") ||
        framework::SameText(t, "by") || t == "\xA9" || t == ",")
        W.DropFront(t.size() + 1);
    W.RemovePrefix("(c)");
    W.RemovePrefix("c)");

    t = W.FirstToken(" -,", 4);
    if (t.size() == 4 && ReadInt(t) > 1990) W.DropFront(t.size() + 1);
    bool slash = false;
    t = W.FirstToken("/", 4, &slash);
    if (slash && (t.size() == 4 || (t.size() == 2 && ReadInt(t) > 0))) W.DropFront(t.size() + 1);

    t = W.LastToken(" -", 9);
    if (IsCopyrightMark(t)) W.DropBack(t.size() + 1);
    if (t.size() == 4 && ReadInt(t) > 1990) W.DropBack(t.size() + 1);
    if (t.size() == 2 && ReadInt(t) > 0) W.DropBack(t.size() + 1);

    if (W.Size() > 1 && W.Back() == '-') W.DropBack(1);
    for (const char* sentence : {
             ". This software is released under the terms of the GNU General Public License.",
             " under GNU General Public License", " under the GPL", " under the GNU Public License (GPL)",
             " under GNU General Public License.", " under the GPL.", " under the GNU Public License (GPL).",
             "Freeware licensed under GPL", "This file is set under the General Public License.",
             "GNU General Public License v2", "Gnu General Public License (GPL, Copyleft)",
             ". This software is licensed under the terms of the GNU General Public License."})
        if (W.EndsWith(sentence)) W.DropBack(std::strlen(sentence));
    W.Trim();

    for (const std::string v : {" All Rights Reserved.", " All Rights Reserved", " All Rigths Reserved.",
                                " All Rigths Reserved", ".All Rights Reserved"}) {
        // The last comma-separated token is the phrase: it goes with the comma before it.
        if (W.EndsWith(v) && (W.Size() == v.size() || W.At(W.Size() - v.size() - 1) == ','))
            W.DropBack(v.size() + 1);
        const std::string s = W.BeforeLastDot(v.size());
        if (!s.empty() && framework::SameText(s, v)) W.DropBack(s.size() + 1);
        if (W.EndsWith(v)) W.DropBack(v.size() + 1);
    }

    W.Trim();
    if (W.Size() > 1 && W.Front() == '-') W.DropFront(1);
    if (W.Size() > 1 && W.Back() == '-') W.DropBack(1);
    if (W.Size() > 5 && W.Back() == '.') {
        if (ReadInt(W.Tail(5).substr(0, 4)) > 1990) W.DropBack(5);
    }

    for (const char* prefix : {"\xA9", "Copyrights \xA9", "Copyright\xA9", "Copyright(c)", "Copyright\xC2\xA9",
                               "Copyrights \xC2\xA9", "Copyright(r)", "Copyright?", "All rights reserved worldwide",
                               "All Rights Reserved (C)", "All rights reserved", "(C)All rights reserved",
                               "All rights reserverd", "All Rights Reversed", "\xC2\xA9", "\xA9"})
        W.RemovePrefix(prefix);
    for (const char* suffix : {"All rights reserved.", "All right reserved.", "Some right reserved.",
                               "No rights reserved.",
                               "This software is protected by international and romanian copyright and trade laws."})
        W.RemoveSuffix(suffix);
}

}  // namespace

std::string StripCopyrightNotice(const std::string& Text) {
    // Each pass only shortens the window, so the loop ends.
    TCopyrightWindow w(Text);
    for (;;) {
        const auto before = w.Bounds();
        StripCopyrightOnce(w);
        if (w.Bounds() == before) return w.Text();
    }
}

namespace {
std::string NormalizeWithProduct(const std::string& Text, const std::string& FileName, const std::string& ProductName);
}  // namespace

std::string NormalizeCompanyName(const std::string& Text, const std::string& FileName, std::string ProductName) {
    if (ProductName.empty()) ProductName = GetFileProductName(FileName);
    return NormalizeWithProduct(Text, FileName, ProductName);
}

namespace {

// The publisher pass with the product name already derived (possibly empty): the product
// chain runs once per file, however often the publisher is normalised.
std::string NormalizeWithProduct(const std::string& Text, const std::string& FileName, const std::string& ProductName) {
    plim::TCompanyWork w;
    std::string& R = w.R;
    R = Text;
    const size_t cr = R.find('\r');
    if (cr != std::string::npos) R.erase(cr);
    R = Trim(R);
    if (R == "-") R.clear();

    w.Path = FileName;
    w.ProductName = ProductName;
    w.Base = ExtractFileBaseName(FileName);
    w.Dir = ExtractFilePath(FileName);

    plim::ApplyPublisherTable(w);

    if (R.empty()) {
        const std::string descriptor = AirDescriptorPath(w.Dir);
        TStringList lines;
        if (FileExistsNotEmpty(plim::WideFileName(descriptor)) && lines.LoadFromFile(descriptor))
            FindXmlTagValue("copyright", lines, R);
    }

    for (const char* licence :
         {"GNU", "GPL", "GPL3", "See GPL licence", "See GPL license", "GNU GPL License",
          "GNU General Public License Version 3", "under the GNU General Public License (GPL)",
          "under the GNU General Public License", "Released under GPL", "Distributed under GPL license",
          "Gnu General Public License (GPL, Copyleft)", "GNU General Public License", "GNU General Public License v2",
          "GNU General Public License v2.0"})
        if (framework::SameText(R, licence)) R.clear();
    if (StrContainsText("GNU GPL", R)) R.clear();
    for (const char* suffix :
         {". Code released under the GNU General Public License", ". GNU General Public License",
          ".  GNU General Public License", " - Licensed under GPL", " / GNU General Public License", "(GPLv3)",
          "(GPL v3+)", "(GPL)", "Under GPL", ", using LGPL 3 License", ": GPLv2 or commercial"})
        R = StrRemoveSuffixText(R, suffix);
    R = Trim(R);
    for (const char* prefix : {"Author: ", "Original author: ", "Developed by "}) R = StrRemovePrefixText(R, prefix);
    R = StrRemoveSuffixText(R, ". See LICENSE.TXT for details.");
    R = Trim(R);

    // A web address that ends the text goes, with the blanks before it.
    for (const auto& [mark, minPos] : {std::pair<const char*, size_t>{"http://", 5}, {"www.", 9}}) {
        const size_t at = R.find(mark);
        if (at == std::string::npos) continue;
        const size_t p = at + 1;
        if (p > minPos && R.find(' ', std::min(R.size(), p + 6)) == std::string::npos) R = Trim(R.substr(0, p - 1));
    }
    if (StrEndsText(R, "L.L.C.")) R = R.substr(0, R.size() - 6) + "LLC";
    while (R.size() > 1 && std::strchr("-,;([", R.back())) R = Trim(R.substr(0, R.size() - 1));
    for (const char* placeholder : {"TODO:", "Company", "none", "."})
        if (framework::SameText(R, placeholder)) R.clear();
    if (!R.empty() && R[0] == '$') R.clear();
    return CleanDisplayText(R);
}

}  // namespace

std::string GetFileCompanyName(const std::string& FileName, const std::string& ProductName) {
    const std::string path = RedirectSystem32Path(FileName);
    if (const TFixedName* package = FindPackage(path)) return package->Company;

    std::string R;
    FileVersionInfoRec rec;
    ReadFileVersionInfo(path, rec);
    if (rec.CompanyName != ", LLC") R = rec.CompanyName;
    const std::string LC = Trim(rec.LegalCopyright);
    if (StrContainsText("NW.JS", rec.CompanyName) && StrContainsText("NWJS", rec.ProductName)) {
        const std::string p = GetUninstallPublisherForFolder(plim::WideFileName(ExtractFilePath(path)));
        if (!p.empty()) R = p;
    }

    const std::string product = ProductName.empty() ? GetFileProductName(path) : ProductName;
    R = NormalizeWithProduct(R, path, product);
    if (R.empty() && !LC.empty()) R = NormalizeWithProduct(LC, path, product);
    const std::string before = R;
    R = StripCopyrightNotice(R);
    if (R != before) R = NormalizeWithProduct(R, path, product);
    if (R == "?" || R.find("??") != std::string::npos) R.clear();
    return R;
}

// =============================================================================================
// Displayed file information

void GetDisplayedFileInfo(const std::string& FileName, TDisplayedFileInfo& Info) {
    Info = TDisplayedFileInfo{};
    try {
        const std::string path = RedirectSystem32Path(FileName);
        const plim::TIdentGuard guard(plim::TIdentGuard::gkDisplay, path);
        if (!guard.Entered()) return;
        Info.ProductName = GetFileProductName(path);
        Info.CompanyName = GetFileCompanyName(path, Info.ProductName);
        if (Info.ProductName.empty() && !Info.CompanyName.empty()) Info.ProductName = ExtractFileBaseName(path);
    } catch (const framework::Exception&) {
        // As for the version: no names rather than an exception into the caller.
        Info = TDisplayedFileInfo{};
    }
}

void GetDisplayedFileInfo(const std::wstring& FileName, TDisplayedFileInfo& Info) {
    const plim::TWidePath path(FileName);
    GetDisplayedFileInfo(path.Text(), Info);
}
