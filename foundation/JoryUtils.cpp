#include "foundation/JoryUtils.h"

#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "components/KitSysUtils.h"
#include "foundation/Log.h"
#include "foundation/UnicodeUtils.h"
#include "foundation/Version.h"
#include "framework/Handles.h"
#include "framework/IniFile.h"
#include "framework/Registry.h"
#include "framework/SysUtils.h"

using framework::AnsiToWide;
using framework::IncludeTrailingPathDelimiter;
using framework::SameText;
using framework::TRegistry;
using framework::TStringList;
using framework::WideToAnsi;

// =============================================================================================
// Operating-system facts

TJoryOsApi RealJoryOsApi() {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return TJoryOsApi{::LoadLibraryA,    ::GetModuleHandleA, ::GetProcAddress, ::FreeLibrary,
                      ::NetWkstaGetInfo, ::NetApiBufferFree, ::GetVersionExA};
#pragma GCC diagnostic pop
}

TJoryOsApi& JoryOsApi() {
    static TJoryOsApi api = RealJoryOsApi();
    return api;
}

namespace {

constexpr const char* kCurrentVersionKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

// The machine-wide registry view: the 64-bit one on 64-bit Windows.
REGSAM MachineView() {
    try {
        return Is64BitWindows() ? KEY_WOW64_64KEY : 0;
    } catch (...) {
        return 0;
    }
}

// Opens CurrentVersion for reading only: the readers need no more, and a user without
// write access to HKLM must still get the answers.
bool OpenCurrentVersion(TRegistry& reg) {
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    reg.SetAccess(KEY_READ | MachineView());
    return reg.OpenKey(kCurrentVersionKey, false);
}

// A string value of the open key; false when it is absent or not text.
bool ReadText(const TRegistry& reg, const char* name, std::string& value) {
    const framework::TRegDataType type = reg.GetDataType(name);
    if (type != framework::TRegDataType::rdString && type != framework::TRegDataType::rdExpandString)
        return false;
    try {
        value = reg.ReadString(name);
        return true;
    } catch (const framework::Exception&) {
        return false;
    }
}

// Major and minor version from the workstation query; false when it fails.
bool WorkstationVersion(DWORD& major, DWORD& minor) {
    LPBYTE buffer = nullptr;
    const NET_API_STATUS status = JoryOsApi().NetWkstaGetInfo(nullptr, 100, &buffer);
    bool ok = false;
    if (status == NERR_Success && buffer) {
        const auto* info = reinterpret_cast<const WKSTA_INFO_100*>(buffer);
        major = info->wki100_ver_major;
        minor = info->wki100_ver_minor;
        ok = true;
    }
    if (buffer) JoryOsApi().NetApiBufferFree(buffer);
    return ok;
}

}  // namespace

std::string GetNTVersionText(int32_t Build) {
    DWORD major = 0;
    DWORD minor = 0;
    if (!WorkstationVersion(major, minor)) return "Unknown";
    const std::string base = std::to_string(major) + "." + std::to_string(minor);
    if (major == 10 && minor == 0) {
        if (Build < 20000) return "10.0." + std::to_string(Build) + " (Windows10)";
        return "11.0." + std::to_string(Build) + " (Windows11)";
    }
    static const struct {
        DWORD major, minor;
        const char* suffix;
    } kNames[] = {{5, 0, " (Windows 2000)"}, {5, 1, " (Windows XP)"}, {5, 2, " (Windows 2003)"},
                  {6, 0, " (Vista)"},        {6, 1, " (Seven)"},      {6, 2, " (Windows8)"},
                  {6, 3, " (Windows8.1)"}};
    for (const auto& n : kNames)
        if (n.major == major && n.minor == minor) return base + n.suffix;
    return base;
}

std::string GetOSVersionText() {
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    static_assert(sizeof info == 148);
    info.dwOSVersionInfoSize = sizeof info;
    if (!JoryOsApi().GetVersionExA(&info)) return "Unknown";
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        const std::string base = std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion);
        if (info.dwMajorVersion == 4 && info.dwMinorVersion == 0) return base + " (95)";
        if (info.dwMajorVersion == 4 && info.dwMinorVersion == 10)
            return base + (info.szCSDVersion[0] != '\0' && info.szCSDVersion[1] == 'A' ? " (98SE)" : " (98)");
        if (info.dwMajorVersion == 4 && info.dwMinorVersion == 90) return base + " (ME)";
        return base + " (Unknown)";
    }
    if (info.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        int64_t build = 0;
        if (!framework::TryStrToInt64(GetCurrentBuildNumber(), build) || build < INT32_MIN || build > INT32_MAX)
            build = 0;
        return GetNTVersionText(static_cast<int32_t>(build));
    }
    return "Unknown";
}

std::string GetCurrentBuildNumber() {
    TRegistry reg;
    std::string build;
    if (!OpenCurrentVersion(reg) || !ReadText(reg, "CurrentBuildNumber", build)) return std::string();
    return build;
}

std::string GetReactOSVersionText() {
    TRegistry reg;
    if (!OpenCurrentVersion(reg)) return std::string();
    std::string product;
    std::string buildLab;
    if (!ReadText(reg, "ProductName", product) || !SameText(product, "ReactOS") ||
        !ReadText(reg, "BuildLab", buildLab))
        return std::string();
    std::string result = buildLab;
    std::string systemRoot;
    if (StrContainsText("unknown", buildLab) && ReadText(reg, "SystemRoot", systemRoot))
        result = WideToAnsi(GetFixedFileVersion(AnsiToWide(systemRoot + "\\" + "explorer.exe"))) + " (" +
                 buildLab + ")";
    return result;
}

bool IsWow64() {
    const TJoryOsApi& api = JoryOsApi();
    const HMODULE kernel = api.LoadLibraryA("kernel32.dll");
    if (!kernel) framework::RaiseLastOSError();
    // Freed through the same table it was loaded through, however this ends; the reason of a
    // failed call is read before.
    struct ModuleRef {
        const TJoryOsApi& api;
        HMODULE module;
        ~ModuleRef() { api.FreeLibrary(module); }
    } kernelRef{api, kernel};
    using TIsWow64Process = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto isWow64Process = framework::ProcAs<TIsWow64Process>(api.GetProcAddress(kernel, "IsWow64Process"));
    if (!isWow64Process) return false;
    BOOL wow64 = FALSE;
    if (isWow64Process(GetCurrentProcess(), &wow64)) return wow64 != FALSE;
    framework::RaiseLastOSError();
}

bool Is64BitWindows() {
    constexpr bool k64BitBuild = sizeof(void*) == 8;
    return k64BitBuild || IsWow64();
}

namespace {
// The system's own version from ntdll: unlike the workstation query it needs no service and
// no network API, and unlike GetVersionEx it is not shimmed by the manifest.
bool RtlVersion(DWORD& major) {
    const TJoryOsApi& api = JoryOsApi();
    const HMODULE ntdll = api.GetModuleHandleA("ntdll.dll");
    if (!ntdll) return false;
    using TRtlGetVersion = LONG(WINAPI*)(PRTL_OSVERSIONINFOW);
    const auto rtlGetVersion = framework::ProcAs<TRtlGetVersion>(api.GetProcAddress(ntdll, "RtlGetVersion"));
    if (!rtlGetVersion) return false;
    RTL_OSVERSIONINFOW info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (rtlGetVersion(&info) != 0) return false;
    major = info.dwMajorVersion;
    return true;
}
}  // namespace

bool IsPreVista() {
    DWORD major = 0;
    if (RtlVersion(major)) return major < 6;
    // Only a system without RtlGetVersion (none since Windows 2000) gets here.
    DWORD minor = 0;
    return !WorkstationVersion(major, minor) || major < 6;
}

bool DisableWow64Redirection(bool Disable) {
    try {
        const TJoryOsApi& api = JoryOsApi();
        const HMODULE kernel = api.GetModuleHandleA("kernel32.dll");
        if (!kernel) return true;
        using TEnable = BOOLEAN(WINAPI*)(BOOLEAN);
        using TDisable = BOOL(WINAPI*)(PVOID*);
        const auto enable = framework::ProcAs<TEnable>(api.GetProcAddress(kernel, "Wow64EnableWow64FsRedirection"));
        const auto disable =
            framework::ProcAs<TDisable>(api.GetProcAddress(kernel, "Wow64DisableWow64FsRedirection"));
        if (!enable || !disable) return true;
        if (Disable) {
            PVOID old = nullptr;
            disable(&old);
        } else {
            enable(TRUE);
        }
        return true;
    } catch (...) {
        return false;
    }
}

// =============================================================================================
// Installed-software lookups

namespace {

constexpr const char* kWow6432 = "Wow6432Node\\";

std::string UninstallPath(const std::string& view) {
    return "SOFTWARE\\" + view + "Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
}

REGSAM LookupAccess() { return KEY_READ | (Is64BitWindows() ? KEY_WOW64_64KEY : 0); }

// The HKLM views to scan: the native one, and the 32-bit installers' one on 64-bit Windows.
std::vector<std::string> MachineViews() {
    std::vector<std::string> views{""};
    if (Is64BitWindows()) views.push_back(kWow6432);
    return views;
}

bool IsStrValue(const TRegistry& reg, const char* name) {
    framework::TRegDataInfo info;
    return reg.GetDataInfo(name, info) && info.RegType == REG_SZ;
}

// A REG_SZ value as stored (a folder the code page cannot spell reads as itself), else empty.
std::wstring StrValueWide(const TRegistry& reg, const char* name) {
    if (!IsStrValue(reg, name)) return std::wstring();
    try {
        return reg.ReadStringWide(name);
    } catch (const framework::Exception&) {
        return std::wstring();
    }
}

// The same in the ANSI code page.
std::string StrValue(const TRegistry& reg, const char* name) { return WideToAnsi(StrValueWide(reg, name)); }

// DisplayVersion as text; absent, or stored as anything but a string, it is empty.
std::string DisplayVersion(const TRegistry& reg) {
    std::string version;
    return ReadText(reg, "DisplayVersion", version) ? version : std::string();
}

using TEntryFn = std::function<void(const TRegistry& entry, const std::string& value)>;

// Calls Fn for each entry of one hive and view whose Required value is REG_SZ.
void ScanHive(HKEY hive, const std::string& view, const char* required, const TEntryFn& fn) {
    TRegistry reg(hive, LookupAccess());
    const std::string path = UninstallPath(view);
    if (!reg.OpenKey(path, false)) return;
    // Entry names as stored: the ANSI spelling of a name outside the code page names no key.
    std::vector<std::wstring> names;
    reg.GetKeyNames(names);
    const std::wstring pathW = framework::AnsiToWide(path);
    for (const std::wstring& name : names) {
        reg.CloseKey();
        if (!reg.OpenKey(pathW + name + L"\\", false)) continue;
        if (!IsStrValue(reg, required)) continue;
        const std::string value = StrValue(reg, required);
        fn(reg, value);
    }
}

void KeepNewer(std::string& result, const std::string& candidate) {
    if (TPlimVersion(candidate).IsNewerThan(TPlimVersion(result))) result = candidate;
}

using TMatchFn = std::function<bool(const TRegistry& entry, const std::string& displayName)>;
using TCandidateFn = std::function<std::string(const TRegistry& entry, const std::string& displayName)>;

enum class Keep { Highest, Last };

// One hive: the highest candidate, or the last match's.
std::string ScanFor(HKEY hive, const std::string& view, const TMatchFn& match, const TCandidateFn& candidate,
                    Keep keep, const char* required = "DisplayName") {
    std::string result;
    ScanHive(hive, view, required, [&](const TRegistry& entry, const std::string& value) {
        if (!match(entry, value)) return;
        const std::string c = candidate(entry, value);
        if (keep == Keep::Highest)
            KeepNewer(result, c);
        else
            result = c;
    });
    return result;
}

// HKLM, both views, the 32-bit view's answer taking over when it is a newer version.
std::string MachineScan(const TMatchFn& match, const TCandidateFn& candidate, Keep keep) {
    std::string result;
    bool first = true;
    for (const std::string& view : MachineViews()) {
        const std::string r = ScanFor(HKEY_LOCAL_MACHINE, view, match, candidate, keep);
        if (first)
            result = r;
        else
            KeepNewer(result, r);
        first = false;
    }
    return result;
}

// HKLM, the 32-bit view only when the native one gave nothing, then HKCU.
std::string FolderScan(const TMatchFn& match, const TCandidateFn& candidate, const char* required) {
    std::string result;
    for (const std::string& view : MachineViews()) {
        result = ScanFor(HKEY_LOCAL_MACHINE, view, match, candidate, Keep::Last, required);
        if (!result.empty()) return result;
    }
    return ScanFor(HKEY_CURRENT_USER, "", match, candidate, Keep::Last, required);
}

std::string VersionCandidate(const TRegistry& entry, const std::string&) {
    return TrimVersionPrefix(DisplayVersion(entry));
}

std::wstring WithTrailingDelimiter(std::wstring path) {
    if (!path.empty() && path.back() != L'\\') path.push_back(L'\\');
    return path;
}

// A folder as compared: with its trailing "\\", short names (of an existing folder) long.
std::wstring ComparedFolder(const std::wstring& folder) {
    std::wstring path = WithTrailingDelimiter(folder);
    if (path.find(L'~') == std::wstring::npos) return path;  // every generated short name has one
    const DWORD n = GetLongPathNameW(path.c_str(), nullptr, 0);
    if (n == 0) return path;
    std::wstring full(n, L'\0');
    const DWORD m = GetLongPathNameW(path.c_str(), full.data(), n);
    if (m == 0 || m >= n) return path;
    full.resize(m);
    return WithTrailingDelimiter(full);
}

bool SameFolder(const std::wstring& stored, const std::wstring& folder) {
    const std::wstring a = ComparedFolder(stored);
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), folder.data(), static_cast<int>(folder.size()),
                                TRUE) == CSTR_EQUAL;
}

// Up to and including the last backslash; quotes and icon indexes stay.
std::wstring FolderPart(const std::wstring& path) {
    const size_t at = path.rfind(L'\\');
    return at == std::wstring::npos ? std::wstring() : path.substr(0, at + 1);
}

// Folder as ComparedFolder gives it: the stored paths are compared as they are stored.
bool InFolderForVersion(const TRegistry& entry, const std::wstring& folder) {
    if (IsStrValue(entry, "InstallLocation")) return SameFolder(StrValueWide(entry, "InstallLocation"), folder);
    if (IsStrValue(entry, "DisPlayIcon") && SameFolder(FolderPart(StrValueWide(entry, "DisPlayIcon")), folder))
        return true;
    return IsStrValue(entry, "UninstallString") &&
           SameFolder(FolderPart(StrValueWide(entry, "UninstallString")), folder);
}

bool InFolderForName(const TRegistry& entry, const std::wstring& folder) {
    if (IsStrValue(entry, "InstallLocation")) return SameFolder(StrValueWide(entry, "InstallLocation"), folder);
    return IsStrValue(entry, "DisPlayIcon") && SameFolder(FolderPart(StrValueWide(entry, "DisPlayIcon")), folder);
}

// The last run of digits and dots of a display name ("Foo 2.5.1 Beta" -> "2.5.1").
std::string TrailingVersionRun(const std::string& s) {
    auto inSet = [](char c) { return (c >= '0' && c <= '9') || c == '.'; };
    size_t end = s.size();
    while (end > 0 && !inSet(s[end - 1])) --end;
    size_t start = end;
    while (start > 0 && inSet(s[start - 1])) --start;
    return s.substr(start, end - start);
}

constexpr const char* kWordDelims = " -";

std::string Word(const std::string& s, int n) { return GetToken(s, n, kWordDelims); }

std::string VersionForName(const std::string& name) {
    return MachineScan([&](const TRegistry&, const std::string& dn) { return StrContainsText(name, dn); },
                       VersionCandidate, Keep::Highest);
}

}  // namespace

std::string TrimVersionPrefix(const std::string& S) { return framework::Trim(StrRemovePrefixText(S, "v")); }

void ListInstalledSoftware(TStringList& Names, TStringList& Errors) {
    Names.Clear();
    Errors.Clear();
    auto listKey = [&](HKEY hive, const std::string& hiveName, const std::string& view, bool errorWhenMissing) {
        const std::string path = UninstallPath(view);
        TRegistry reg(hive, LookupAccess());
        if (!reg.OpenKey(path, false)) {
            if (errorWhenMissing) Errors.Add("Unable to open " + hiveName + "\\" + path);
            return;
        }
        std::vector<std::wstring> keys;
        reg.GetKeyNames(keys);
        const std::wstring pathW = framework::AnsiToWide(path);
        for (const std::wstring& key : keys) {
            reg.CloseKey();
            if (!reg.OpenKey(pathW + key + L"\\", false)) {
                Errors.Add("Unable to open " + hiveName + "\\" + path + framework::WideToAnsi(key));
                continue;
            }
            Names.Add(IsStrValue(reg, "DisplayName") ? StrValue(reg, "DisplayName") : framework::WideToAnsi(key));
        }
    };

    const std::string userPath = UninstallPath("");
    if (TRegistry(HKEY_CURRENT_USER, LookupAccess()).KeyExists(userPath)) {
        Names.Add("HKEY_CURRENT_USER\\" + userPath);
        listKey(HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "", true);
    }
    Names.Add("HKEY_LOCAL_MACHINE\\" + UninstallPath(""));
    listKey(HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "", true);
    Names.Add("HKEY_LOCAL_MACHINE\\" + UninstallPath(kWow6432));
    listKey(HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", kWow6432, Is64BitWindows());
}

bool IsSoftwareInstalled(const std::string& Prefix) {
    TStringList names;
    TStringList errors;
    ListInstalledSoftware(names, errors);
    for (int i = 0; i < names.Count(); ++i)
        if (StrStartsText(names[i], Prefix)) return true;
    return false;
}

std::string GetUninstallVersion(const std::string& Name) {
    std::string result = VersionForName(Name);
    if (result.empty())
        result = ScanFor(
            HKEY_CURRENT_USER, "", [&](const TRegistry&, const std::string& dn) { return StrContainsText(Name, dn); },
            VersionCandidate, Keep::Highest);
    return result;
}

std::string GetUninstallVersionInFolder(const std::string& Name, const std::string& Folder) {
    return GetUninstallVersionInFolder(Name, AnsiToWide(Folder));
}

std::string GetUninstallVersionInFolder(const std::string& Name, const std::wstring& Folder) {
    const std::wstring folder = Folder.empty() ? std::wstring() : ComparedFolder(Folder);
    const TMatchFn match = [&](const TRegistry& entry, const std::string& dn) {
        return StrContainsText(Name, dn) && (folder.empty() || InFolderForVersion(entry, folder));
    };
    std::string result = MachineScan(match, VersionCandidate, Keep::Highest);
    if (result.empty()) result = ScanFor(HKEY_CURRENT_USER, "", match, VersionCandidate, Keep::Highest);
    return result;
}

std::string GetUninstallDisplayNameForFolder(const std::string& Folder) {
    return GetUninstallDisplayNameForFolder(AnsiToWide(Folder));
}

std::string GetUninstallDisplayNameForFolder(const std::wstring& Folder) {
    const std::wstring folder = ComparedFolder(Folder);
    return FolderScan([&](const TRegistry& entry, const std::string&) { return InFolderForName(entry, folder); },
                      [](const TRegistry& entry, const std::string& dn) {
                          const std::string group = StrValue(entry, "Inno Setup: Icon Group");
                          if (!group.empty() && StrStartsText(dn, group)) return group;
                          return dn;
                      },
                      "DisplayName");
}

std::string GetUninstallPublisherForFolder(const std::string& Folder) {
    return GetUninstallPublisherForFolder(AnsiToWide(Folder));
}

std::string GetUninstallPublisherForFolder(const std::wstring& Folder) {
    const std::wstring folder = ComparedFolder(Folder);
    return FolderScan([&](const TRegistry& entry, const std::string&) { return InFolderForName(entry, folder); },
                      [](const TRegistry&, const std::string& publisher) { return publisher; }, "Publisher");
}

std::string UninstallVersionByNameContains(const std::string& Name) {
    return MachineScan([&](const TRegistry&, const std::string& dn) { return StrContainsText(Name, dn); },
                       [](const TRegistry&, const std::string& dn) { return TrailingVersionRun(dn); },
                       Keep::Highest);
}

std::string UninstallVersionByFirstWord(const std::string& Name) {
    return MachineScan([&](const TRegistry&, const std::string& dn) { return SameText(Word(dn, 0), Name); },
                       [](const TRegistry&, const std::string& dn) { return TrailingVersionRun(dn); },
                       Keep::Highest);
}

std::string UninstallLastWordByNamePrefix(const std::string& Name) {
    return MachineScan(
        [&](const TRegistry&, const std::string& dn) { return StrStartsText(dn, Name); },
        [](const TRegistry&, const std::string& dn) {
            return framework::Trim(Word(dn, TokenCount(dn, kWordDelims) - 1));
        },
        Keep::Last);
}

std::string UninstallSecondWordByFirstWord(const std::string& Name) {
    return MachineScan([&](const TRegistry&, const std::string& dn) { return SameText(Word(dn, 0), Name); },
                       [](const TRegistry&, const std::string& dn) { return Word(dn, 1); }, Keep::Last);
}

std::string UninstallVersionWith(const std::string& Name, const std::string& Extra) {
    return MachineScan(
        [&](const TRegistry&, const std::string& dn) { return StrContainsText(Name, dn) && StrContainsText(Extra, dn); },
        VersionCandidate, Keep::Highest);
}

std::string UninstallVersionWithout(const std::string& Name, const std::string& Extra) {
    return MachineScan(
        [&](const TRegistry&, const std::string& dn) { return StrContainsText(Name, dn) && !StrContainsText(Extra, dn); },
        VersionCandidate, Keep::Highest);
}

std::string GetYamicsoftManagerVersion() {
    return ScanFor(
        HKEY_CURRENT_USER, "",
        [](const TRegistry& entry, const std::string& dn) {
            return IsStrValue(entry, "Publisher") && SameText(StrValue(entry, "Publisher"), "Yamicsoft") &&
                   StrContainsText("Manager", dn) && StrContainsText("Windows", dn) &&
                   entry.ValueExists("DisplayVersion");
        },
        VersionCandidate, Keep::Last);
}

// =============================================================================================
// Portable settings, company key and data folder

namespace {

constexpr const char* kCompanyKey = "SOFTWARE\\Quillmark";
constexpr const char* kCompanyFolder = "Quillmark\\";
constexpr const char* kStringSection = "Settings";
constexpr const char* kDWordSection = "Settings_DWORD";

std::string ProductKey(const std::string& name) { return std::string(kCompanyKey) + "\\" + name; }

// Path without its trailing delimiters; a drive root keeps its own ("C:\", "\\?\C:\").
std::wstring WithoutTrailingDelimiter(std::wstring path) {
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/')) {
        const size_t n = path.size();
        if (n >= 3 && path[n - 2] == L':' && (n == 3 || path.compare(0, 4, L"\\\\?\\") == 0)) break;
        path.pop_back();
    }
    return path;
}

// Where the file system really puts Path (links resolved), without "\\?\"; empty when it
// cannot be opened.
std::wstring FinalPath(const std::wstring& path) {
    framework::UniqueHandle h(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                          nullptr));
    if (!h) return std::wstring();
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD n = GetFinalPathNameByHandleW(h.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return std::wstring();
        if (n < buffer.size()) {
            std::wstring p(buffer.data(), n);
            if (p.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + p.substr(8);
            if (p.rfind(L"\\\\?\\", 0) == 0) return p.substr(4);
            return p;
        }
        buffer.resize(n + 1);
    }
}

// The full path in the form that lifts the 260-character limit ("\\?\C:\..." or
// "\\?\UNC\server\...").
std::wstring LongPathForm(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0) return path;
    std::wstring full = path;
    const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n > 0) {
        std::vector<wchar_t> buffer(n + 1);
        const DWORD m = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (m > 0 && m < buffer.size()) full.assign(buffer.data(), m);
    }
    if (full.rfind(L"\\\\.\\", 0) == 0) return full;  // a device path stays as it is
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// The folder as the file system resolves it, so that "\\?\", 8.3 names, another drive
// letter for the same place and links above it all give one text; the expanded text when
// the folder cannot be opened. Always with a trailing delimiter.
std::wstring ResolvedFolder(const std::string& folder) {
    const std::wstring path = WithoutTrailingDelimiter(AnsiToWide(folder));
    std::wstring real = FinalPath(path);
    if (real.empty()) {
        real = LongPathForm(path).substr(4);
        if (real.rfind(L"UNC\\", 0) == 0) real = L"\\\\" + real.substr(4);
    }
    if (real.empty() || real.back() != L'\\') real += L'\\';
    return real;
}

// Path lies in Folder or is Folder itself; both end with a delimiter.
bool IsSameOrInsideW(const std::wstring& path, const std::wstring& folder) {
    return path.size() >= folder.size() &&
           CompareStringOrdinal(path.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                                static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL;
}

// The target is the executable's folder, holds it, or lies inside it, compared where the
// file system puts them.
bool TouchesExeFolder(const std::string& target, const std::string& exeFileName) {
    const std::string exeFolder = framework::ExtractFilePath(exeFileName);
    if (exeFolder.empty()) return false;
    const std::wstring exeReal = ResolvedFolder(exeFolder);
    const std::wstring targetReal = ResolvedFolder(target);
    return IsSameOrInsideW(exeReal, targetReal) || IsSameOrInsideW(targetReal, exeReal);
}

bool IsReparsePoint(const std::string& path) {
    const DWORD attr = GetFileAttributesW(LongPathForm(WithoutTrailingDelimiter(AnsiToWide(path))).c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool SameWide(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

// Deletes Folder's "*.<ext>" entries, recursing into matching folders, then Folder. An entry
// is touched only when the file system puts it where the folder's own name says: junctions,
// symbolic links and anything they lead to stay. Where the system cannot name a path (some
// cannot beyond 260 characters) the entry's reparse attribute decides alone.
void DeleteMatching(const std::wstring& folder, const std::wstring& ext) {
    const DWORD attr = GetFileAttributesW(folder.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES || !(attr & FILE_ATTRIBUTE_DIRECTORY) || (attr & FILE_ATTRIBUTE_REPARSE_POINT))
        return;
    const std::wstring real = FinalPath(folder);
    std::vector<std::wstring> subFolders;
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((folder + L"\\*." + ext).c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
            const std::wstring full = folder + L"\\" + name;
            if (!real.empty()) {
                const std::wstring entryReal = FinalPath(full);
                if (!entryReal.empty() && !SameWide(entryReal, real + L"\\" + name)) continue;
            }
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                subFolders.push_back(full);
                continue;
            }
            if (data.dwFileAttributes != FILE_ATTRIBUTE_ARCHIVE) SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_ARCHIVE);
            DeleteFileW(full.c_str());
        } while (FindNextFileW(h, &data));
        FindClose(h);
    }
    for (const std::wstring& sub : subFolders) DeleteMatching(sub, ext);
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

namespace {

// An entry name as the log shows it: a name the registry or the file refuses may be
// thousands of characters long.
std::string NameForLog(const std::string& name) {
    constexpr size_t kShown = 80;
    return name.size() <= kShown ? name : name.substr(0, kShown) + "... (" + std::to_string(name.size()) + " characters)";
}

}  // namespace

void ImportIniSettings(const std::string& Name, const std::string& IniFileName, TStringList* Errors) {
    ImportIniSettings(Name, AnsiToWide(IniFileName), Errors);
}

bool ExportIniSettings(const std::string& Name, const std::string& IniFileName, TKLog* Log) {
    return ExportIniSettings(Name, AnsiToWide(IniFileName), Log);
}

void ImportIniSettings(const std::string& Name, const std::wstring& IniFileName, TStringList* Errors) {
    TRegistry reg(HKEY_CURRENT_USER, KEY_ALL_ACCESS);
    if (!reg.OpenKey(ProductKey(Name), true)) return;
    const framework::TMemIniFile ini(IniFileName);
    const auto report = [&](const std::string& text) {
        if (Errors) Errors->Add("settings.ini: " + text);
    };
    if (!ini.Readable()) return report("cannot read " + ini.FileName() + "; nothing imported");
    // One entry the registry refuses (a name beyond its limits...) is left out alone.
    const auto import = [&](const std::string& name, const std::function<void()>& write) {
        try {
            write();
        } catch (const framework::Exception&) {
            report("the entry \"" + NameForLog(name) + "\" cannot be imported; left out");
        }
    };
    std::vector<std::string> notAnsi;
    for (const auto& [name, value] : ini.ReadSectionEntries(kStringSection, &notAnsi))
        import(name, [&] { reg.WriteString(name, value); });
    for (const auto& [name, value] : ini.ReadSectionEntries(kDWordSection, &notAnsi))
        import(name, [&] { reg.WriteInteger(name, framework::StrToIntDef(value, 0)); });
    // The settings are ANSI text: such an entry would arrive as another text, and the export
    // would then write that over the file's own.
    for (const std::string& name : notAnsi)
        report("the entry \"" + NameForLog(name) + "\" holds characters the program cannot keep; left out");
}

bool ExportIniSettings(const std::string& Name, const std::wstring& IniFileName, TKLog* Log) {
    const auto error = [&](const std::string& text) {
        if (Log) Log->Add("settings.ini: " + text, 2);
    };
    try {
        TRegistry reg(HKEY_CURRENT_USER, KEY_READ | (Is64BitWindows() ? KEY_WOW64_64KEY : 0));
        if (!reg.OpenKey(ProductKey(Name), true)) return false;
        framework::TMemIniFile ini(IniFileName);
        if (!ini.Readable()) {
            error("cannot read " + ini.FileName() + "; left as it is");
            return false;
        }
        bool complete = true;
        const auto leaveOut = [&](const std::string& name, const char* why) {
            error("the value \"" + NameForLog(name) + "\" " + why + "; left out");
            complete = false;
        };
        const bool listed = reg.ForEachValue([&](const std::wstring& wideName, DWORD type,
                                                              const std::vector<BYTE>& data) {
            if (wideName.empty()) return;  // the key's default value has no entry name
            if (type != REG_SZ && type != REG_DWORD) return;
            std::string name;
            std::string text;
            // The program's settings are ANSI text: a character the code page cannot hold
            // would come back as another one.
            if (!framework::WideToAnsiExactly(wideName, name) ||
                (type == REG_SZ && !framework::WideToAnsiExactly(framework::RegStringDataWide(data), text)))
                return leaveOut(name, "holds characters the file cannot keep");
            if (type == REG_DWORD) {
                if (data.size() != sizeof(DWORD)) return leaveOut(name, "is no 32-bit number");
                int32_t number;
                std::memcpy(&number, data.data(), sizeof number);
                text = std::to_string(number);
            }
            if (!ini.WriteString(type == REG_SZ ? kStringSection : kDWordSection, name, text))
                leaveOut(name, "cannot be written as one line");
        });
        if (!listed) {
            error("cannot read the settings of " + Name);
            return false;
        }
        // The file is written once, with what could be written; what was left out stays
        // in the key, which the caller keeps then.
        if (!ini.UpdateFile()) {
            error("cannot write " + ini.FileName());
            return false;
        }
        return complete;
    } catch (const std::exception& E) {
        error(std::string("export failed (") + E.what() + ")");
        return false;
    }
}

void DeleteProductSettingsKey(const std::string& Name) {
    if (Name.empty()) return;  // would name the company key itself
    TRegistry reg(HKEY_CURRENT_USER, KEY_ALL_ACCESS);
    reg.DeleteKey(ProductKey(Name));
}

void WriteCompanyValue(const std::string& Name, const std::wstring& Data) {
    try {
        TRegistry reg(HKEY_CURRENT_USER, KEY_ALL_ACCESS);
        if (reg.OpenKey(kCompanyKey, true)) reg.WriteString(Name, Data);
    } catch (const framework::Exception&) {
    }
}

void DeleteCompanyValue(const std::string& Name) {
    TRegistry reg(HKEY_CURRENT_USER, KEY_ALL_ACCESS);
    if (reg.OpenKey(kCompanyKey, true)) reg.DeleteValue(Name);
}

void DeleteCompanyKeyIfEmpty() {
    TRegistry reg(HKEY_CURRENT_USER, KEY_ALL_ACCESS);
    if (!reg.OpenKey(kCompanyKey, false)) return;
    if (reg.HasSubKeys()) return;
    TStringList values;
    if (!reg.GetValueNames(values) || values.Count() > 0) return;
    reg.CloseKey();
    reg.DeleteKey(kCompanyKey);
}

std::string GetUserDataFolder(const std::string& Name) {
    if (Name.empty()) return std::string();
    const std::string appData = SpecialFolderDirectory(CSIDL_APPDATA);
    if (appData.empty()) return std::string();
    return appData + "\\" + kCompanyFolder + Name + "\\";
}

std::string GetDataFolder(const std::string& ExeFileName, const std::string& Name, std::string* Problem) {
    std::string result = IncludeTrailingPathDelimiter(framework::ExtractFilePath(ExeFileName));
    // Read wide: a profile folder the code page cannot spell is still the user's.
    const std::wstring appData = SpecialFolderDirectoryWide(CSIDL_APPDATA);
    if (appData.empty()) return result;
    SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    const std::wstring company = appData + L"\\" + AnsiToWide(kCompanyFolder);
    const std::wstring product = company + AnsiToWide(Name);
    CreateDirectoryWide(company, &security);
    CreateDirectoryWide(product, &security);
    if (!DirectoryExistsWide(product)) return result;
    // The log and the link file are opened by ANSI names: only text that reaches the folder
    // will do (its short form, which exists once the folder does).
    std::string text;
    if (framework::TryPathForAnsiApi(product, text))
        result = IncludeTrailingPathDelimiter(text);
    else if (Problem)
        *Problem = "The data folder " + text + " has no name the ANSI code page can spell (no short names on its volume)";
    return result;
}

bool DeleteDataFolder(const std::string& ExeFileName, const std::string& Name) {
    const std::string appData = SpecialFolderDirectory(CSIDL_APPDATA);
    if (appData.empty()) return false;
    return DeleteDataFolderIn(appData, ExeFileName, Name);
}

bool DeleteDataFolderIn(const std::string& AppData, const std::string& ExeFileName, const std::string& Name) {
    if (AppData.empty() || Name.empty()) return false;
    const std::string company = framework::ExcludeTrailingPathDelimiter(AppData) + "\\" + kCompanyFolder;
    const std::string folder = company + Name + "\\";
    if (TouchesExeFolder(folder, framework::ExpandFileName(ExeFileName))) return false;
    // A link anywhere between the application-data folder and the data folder may lead into
    // anybody's files: only a folder the program made itself is deleted.
    if (IsReparsePoint(company) || IsReparsePoint(folder)) return false;
    if (!DirectoryExistsWide(AnsiToWide(folder))) return false;
    return DeleteFilesAndFolder(folder, "*");
}

void RemoveCompanyDataFolderIfEmpty() {
    const std::string appData = SpecialFolderDirectory(CSIDL_APPDATA);
    if (appData.empty()) return;
    const std::string company = appData + "\\" + kCompanyFolder;
    TStringList subFolders;
    ListSubFolders(company, subFolders);
    if (subFolders.Count() == 0) RemoveDirectoryW(AnsiToWide(company).c_str());
}

bool DeleteFilesAndFolder(const std::string& Folder, const std::string& Ext) {
    const std::string folder = framework::ExcludeTrailingPathDelimiter(Folder);
    if (folder.empty() || Ext.empty()) return false;
    // Never the program's own folder, one that holds it or one inside it, however the path
    // is spelt.
    if (TouchesExeFolder(folder, framework::GetModuleFileNameText())) return false;
    if (IsReparsePoint(folder)) return false;
    // The walk uses the long form: a tree deeper than 260 characters goes as well.
    DeleteMatching(LongPathForm(AnsiToWide(folder)), AnsiToWide(Ext));
    return true;
}

std::string CleanVirtualStore(const std::string& ExeFolder) {
    const std::string localAppData = SpecialFolderDirectory(CSIDL_LOCAL_APPDATA);
    if (localAppData.empty() || ExeFolder.size() < 3) return std::string();
    const std::string path = localAppData + "\\" + "VirtualStore\\" + ExeFolder.substr(3);
    if (!DirectoryExistsWide(AnsiToWide(path))) return std::string();
    DeleteFilesAndFolder(path, "SPK");
    return path;
}
