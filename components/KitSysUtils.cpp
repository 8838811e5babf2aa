#include "components/KitSysUtils.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "framework/Handles.h"
#include "framework/Registry.h"
#include "framework/SysUtils.h"

using framework::AnsiToWide;
using framework::WideToAnsi;

namespace {

std::string Win32ErrorText(const std::string& msg, uint32_t code, const std::string& systemText) {
    return "Win32 error: " + systemText + " (" + std::to_string(code) + ")\r\n" + msg;
}

}  // namespace

EKitWin32Error::EKitWin32Error(const std::string& Msg) : EKitWin32Error(Msg, GetLastError()) {}

EKitWin32Error::EKitWin32Error(const std::string& Msg, uint32_t ErrorCode)
    : EKitError(Win32ErrorText(Msg, ErrorCode, framework::SysErrorMessage(ErrorCode))),
      LastError(ErrorCode),
      LastErrorMsg(framework::SysErrorMessage(ErrorCode)) {}

TKitShellApi RealKitShellApi() { return TKitShellApi{::ShellExecuteA, ::ShellExecuteExA}; }

TKitShellApi& KitShellApi() {
    static TKitShellApi api = RealKitShellApi();
    return api;
}

// ---------------------------------------------------------------------------------------------
// Shell

std::wstring ItemIdListToPathWide(PCIDLIST_ABSOLUTE IdList) {
    wchar_t path[MAX_PATH + 1] = {};
    if (!IdList || !SHGetPathFromIDListW(IdList, path)) return std::wstring();
    path[MAX_PATH] = L'\0';
    return std::wstring(path, wcsnlen(path, MAX_PATH));
}

namespace {

// The ANSI text that reaches Path; empty when there is none (the plain conversion of a name
// the code page cannot spell names no folder).
std::string Reachable(const std::wstring& Path) {
    std::string text;
    if (Path.empty() || !framework::TryPathForAnsiApi(Path, text)) return std::string();
    return text;
}

}  // namespace

std::string ItemIdListToPath(PCIDLIST_ABSOLUTE IdList) { return Reachable(ItemIdListToPathWide(IdList)); }

std::wstring SpecialFolderDirectoryWide(int CSIDL) {
    PIDLIST_ABSOLUTE list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL, &list)) || !list) return std::wstring();
    std::wstring path = ItemIdListToPathWide(list);
    CoTaskMemFree(list);
    return path;
}

std::string SpecialFolderDirectory(int CSIDL) { return Reachable(SpecialFolderDirectoryWide(CSIDL)); }

bool ShellRun(const std::string& FileName, const std::string& Parameters, const std::string& Verb,
              int ShowCmd) {
    SHELLEXECUTEINFOA info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_DOENVSUBST | SEE_MASK_FLAG_NO_UI;
    info.hwnd = nullptr;
    info.lpVerb = Verb.empty() ? nullptr : Verb.c_str();
    info.lpFile = FileName.c_str();
    info.lpParameters = Parameters.empty() ? nullptr : Parameters.c_str();
    info.lpDirectory = nullptr;
    info.nShow = ShowCmd;
    return KitShellApi().ShellExecuteExA(&info) != FALSE;
}

bool ShellOpen(HWND Wnd, const std::string& Verb, const std::string& FileName, int ShowCmd,
               const std::string& Directory, const std::string& Parameters) {
    auto orNull = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
    const HINSTANCE r = KitShellApi().ShellExecuteA(Wnd, orNull(Verb), FileName.c_str(),
                                                    orNull(Parameters), orNull(Directory), ShowCmd);
    return reinterpret_cast<INT_PTR>(r) > 32;
}

// ---------------------------------------------------------------------------------------------
// Platform facts

bool IsWinNT() {
    static const bool nt = [] {
        OSVERSIONINFOA info;
        std::memset(&info, 0, sizeof info);
        info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        const BOOL ok = GetVersionExA(&info);
#pragma GCC diagnostic pop
        return ok && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
    }();
    return nt;
}

bool UserIsAdmin() { return IsTokenInAliasGroup(DOMAIN_ALIAS_RID_ADMINS); }

bool IsTokenInAliasGroup(DWORD Rid) {
    if (!IsWinNT()) return true;

    HANDLE raw = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &raw)) {
        if (GetLastError() != ERROR_NO_TOKEN) return false;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    }
    framework::UniqueKernelHandle token(raw);

    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, Rid, 0, 0, 0, 0, 0, 0, &sid))
        framework::RaiseLastOSError();
    std::unique_ptr<void, decltype(&FreeSid)> sidOwner(sid, &FreeSid);

    DWORD size = 0;
    if (GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &size) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        framework::RaiseLastOSError();
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token.get(), TokenGroups, buffer.data(), size, &size))
        framework::RaiseLastOSError();

    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        if (EqualSid(groups->Groups[i].Sid, sid))
            return (groups->Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY) == 0;
    }
    return false;
}

bool QueryNativeSystemInfo(SYSTEM_INFO& Info) {
    std::memset(&Info, 0, sizeof Info);
    using TGetNativeSystemInfo = void(WINAPI*)(LPSYSTEM_INFO);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto native = kernel ? framework::ProcAs<TGetNativeSystemInfo>(
                                     GetProcAddress(kernel, "GetNativeSystemInfo"))
                               : nullptr;
    if (native) {
        native(&Info);
        return true;
    }
    GetSystemInfo(&Info);
    return false;
}

bool Is64BitSystem() {
    SYSTEM_INFO info;
    QueryNativeSystemInfo(info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
           info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
}

// ---------------------------------------------------------------------------------------------
// Late binding

void BindApiEntry(FARPROC& Slot, const char* ModuleName, const char* EntryName) {
    if (Slot) return;
    HMODULE module = GetModuleHandleA(ModuleName);
    if (!module) {
        const UINT previous = SetErrorMode(SEM_NOOPENFILEERRORBOX);
        module = LoadLibraryA(ModuleName);
        SetErrorMode(previous);
    }
    if (!module) throw EKitError(std::string("Library not found: ") + ModuleName);
    Slot = GetProcAddress(module, EntryName);
    if (!Slot)
        throw EKitError(std::string("Function not found: ") + ModuleName + "." + EntryName);
}

BOOL KitCancelIo(HANDLE File) {
    static FARPROC slot = nullptr;
    BindApiEntry(slot, "kernel32.dll", "CancelIo");
    return framework::ProcAs<BOOL(WINAPI*)(HANDLE)>(slot)(File);
}

// ---------------------------------------------------------------------------------------------
// Registry readers

thread_local uint8_t ThreadRegistryView = 0;

REGSAM RegistryViewFlag() {
    // [64-bit Windows][view setting]
    static const REGSAM kViews[2][4] = {{0, 0, 0, 0},
                                        {0, KEY_WOW64_64KEY, KEY_WOW64_32KEY, KEY_WOW64_64KEY}};
    static int is64 = -1;
    if (is64 < 0) is64 = Is64BitSystem() ? 1 : 0;
    return kViews[is64][ThreadRegistryView & 3];
}

namespace {

struct TRootKeyName {
    HKEY Key;
    const char* Name;
};

const TRootKeyName kRootKeyNames[14] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
    {HKEY_USERS, "HKEY_USERS"},
    {HKEY_PERFORMANCE_DATA, "HKEY_PERFORMANCE_DATA"},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"},
    {HKEY_DYN_DATA, "HKEY_DYN_DATA"},
    {HKEY_CLASSES_ROOT, "HKCR"},
    {HKEY_CURRENT_USER, "HKCU"},
    {HKEY_LOCAL_MACHINE, "HKLM"},
    {HKEY_USERS, "HKUS"},
    {HKEY_PERFORMANCE_DATA, "HKPD"},
    {HKEY_CURRENT_CONFIG, "HKCC"},
    {HKEY_DYN_DATA, "HKDD"},
};

std::string RootName(HKEY root) {
    for (int i = 0; i < 7; ++i)
        if (kRootKeyNames[i].Key == root) return kRootKeyNames[i].Name;
    char text[16];
    std::snprintf(text, sizeof text, "$%.8x",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(root) & 0xFFFFFFFFu));
    return text;
}

// The sub-key of KeyPath once a leading root-key name is taken off.
std::string RelativeKey(HKEY root, const std::string& keyPath) {
    const size_t start = !keyPath.empty() && keyPath[0] == '\\' ? 1 : 0;
    for (const TRootKeyName& row : kRootKeyNames) {
        const size_t n = std::strlen(row.Name);
        if (keyPath.size() < start + n + 1 || keyPath[start + n] != '\\') continue;
        if (CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, keyPath.data() + start,
                           static_cast<int>(n), row.Name, static_cast<int>(n)) != CSTR_EQUAL)
            continue;
        if (row.Key != root) throw EKitRegistryError("\"" + keyPath + "\" does not match RootKey");
        return keyPath.substr(start + n + 1);
    }
    return keyPath;
}

// Opens the key, or reports why not.
class RegReader {
public:
    RegReader(HKEY root, const std::string& keyPath, const std::string& valueName, bool raise)
        : root_(root), key_(RelativeKey(root, keyPath)), value_(valueName), raise_(raise) {}

    bool Open() {
        const REGSAM access = KEY_READ | ((KEY_READ & 0x300) ? 0 : RegistryViewFlag());
        HKEY opened = nullptr;
        LONG rc;
        if (IsWinNT())
            rc = RegOpenKeyExW(root_, AnsiToWide(key_).c_str(), 0, access, &opened);
        else
            rc = RegOpenKeyExA(root_, key_.c_str(), 0, access, &opened);
        if (rc == ERROR_SUCCESS) {
            handle_.reset(opened);
            return true;
        }
        return Fail("Unable to open key \"" + RootName(root_) + "\\" + key_ + "\" for read");
    }

    bool FailValue() {
        return Fail("Unable to open key \"" + RootName(root_) + "\\" + key_ + "\" and access value \"" +
                    value_ + "\"");
    }
    bool FailKind() {
        return Fail("\"" + RootName(root_) + "\\" + key_ + "\\" + value_ + "\" is of wrong kind or size");
    }

    // The value's type and data (wide API on NT).
    bool Query(DWORD& type, std::vector<BYTE>& data) {
        for (;;) {
            DWORD size = static_cast<DWORD>(data.size());
            LONG rc;
            if (IsWinNT())
                rc = RegQueryValueExW(handle_.get(), AnsiToWide(value_).c_str(), nullptr, &type,
                                      data.empty() ? nullptr : data.data(), &size);
            else
                rc = RegQueryValueExA(handle_.get(), value_.c_str(), nullptr, &type,
                                      data.empty() ? nullptr : data.data(), &size);
            if (rc == ERROR_MORE_DATA || (rc == ERROR_SUCCESS && data.empty() && size > 0)) {
                data.resize(size);
                continue;
            }
            if (rc != ERROR_SUCCESS) return false;
            data.resize(size);
            return true;
        }
    }

    // String data as text, up to its first NUL.
    static std::string Text(const std::vector<BYTE>& data) {
        if (IsWinNT()) return framework::RegStringDataText(data);
        std::string a(data.begin(), data.end());
        StrResetLength(a);
        return a;
    }

    HKEY handle() const { return handle_.get(); }
    const std::string& value() const { return value_; }

private:
    bool Fail(const std::string& message) {
        if (raise_) throw EKitRegistryError(message);
        return false;
    }

    HKEY root_;
    std::string key_;
    std::string value_;
    bool raise_;
    framework::UniqueHKey handle_;
};

}  // namespace

bool RegReadString(HKEY RootKey, const std::string& KeyPath, const std::string& ValueName,
                   std::string& Value, bool RaiseOnError) {
    RegReader reader(RootKey, KeyPath, ValueName, RaiseOnError);
    if (!reader.Open()) return false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    if (!reader.Query(type, data)) return reader.FailValue();
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_BINARY) return reader.FailKind();
    Value = RegReader::Text(data);
    return true;
}

bool RegReadDWord(HKEY RootKey, const std::string& KeyPath, const std::string& ValueName,
                  uint32_t& Value, bool RaiseOnError) {
    RegReader reader(RootKey, KeyPath, ValueName, RaiseOnError);
    if (!reader.Open()) return false;
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExA(reader.handle(), ValueName.c_str(), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
        return reader.FailValue();
    std::vector<BYTE> data;
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        if (!reader.Query(type, data)) return reader.FailValue();
        int64_t v = 0;
        if (!framework::TryStrToInt64(RegReader::Text(data), v)) return reader.FailKind();
        Value = static_cast<uint32_t>(static_cast<uint64_t>(v));
        return true;
    }
    if ((type != REG_BINARY && type != REG_DWORD && type != REG_QWORD) || size > 8)
        return reader.FailKind();
    if (!reader.Query(type, data)) return reader.FailValue();
    if (data.size() > 8) return reader.FailKind();
    uint64_t v = 0;
    std::memcpy(&v, data.data(), data.size());
    Value = static_cast<uint32_t>(v);
    return true;
}

std::string ReadRegStringOrDefault(HKEY RootKey, const std::string& KeyPath,
                                   const std::string& ValueName, const std::string& Default) {
    try {
        std::string value;
        if (RegReadString(RootKey, KeyPath, ValueName, value, false)) return value;
    } catch (...) {
    }
    return Default;
}

uint32_t ReadRegDWordOrDefault(HKEY RootKey, const std::string& KeyPath, const std::string& ValueName,
                               uint32_t Default) {
    try {
        uint32_t value = 0;
        if (RegReadDWord(RootKey, KeyPath, ValueName, value, false)) return value;
    } catch (...) {
    }
    return Default;
}

// ---------------------------------------------------------------------------------------------
// Characters

namespace {
const WORD* CharTypes() {
    static WORD types[256];
    static const bool built = [] {
        char chars[256];
        for (int i = 0; i < 256; ++i) chars[i] = static_cast<char>(i);
        if (!GetStringTypeExA(LOCALE_USER_DEFAULT, CT_CTYPE1, chars, 256, types))
            std::memset(types, 0, sizeof types);
        return true;
    }();
    (void)built;
    return types;
}
}  // namespace

bool CharIsHexDigit(char C) {
    if ((C >= 'A' && C <= 'F') || (C >= 'a' && C <= 'f')) return true;
    return (CharTypes()[static_cast<unsigned char>(C)] & C1_DIGIT) != 0;
}

bool CharIsReturn(char C) { return C == '\r' || C == '\n'; }

void StrResetLength(std::string& S) {
    const size_t nul = S.find('\0');
    if (nul != std::string::npos) S.resize(nul);
}
