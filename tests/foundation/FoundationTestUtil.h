// Fixtures the foundation tests share: registry keys removed after a test, Unix symbolic
// links made from inside Wine, an executable with a chosen file version, the output folder
// the CTest checks read, and a recording stand-in for the operating-system answers.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/JoryUtils.h"
#include "framework/Handles.h"
#include "framework/SysUtils.h"

namespace footest {

// Deletes the key tree (in the given view) when the guard goes.
class RegKeyGuard {
public:
    RegKeyGuard(HKEY root, std::string path, REGSAM view = 0) : root_(root), path_(std::move(path)), view_(view) {}
    ~RegKeyGuard() { Delete(); }
    RegKeyGuard(const RegKeyGuard&) = delete;
    RegKeyGuard& operator=(const RegKeyGuard&) = delete;
    void Delete() {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root_, path_.c_str(), 0, KEY_ALL_ACCESS | view_, &key) == ERROR_SUCCESS) {
            RegDeleteTreeA(key, nullptr);
            RegCloseKey(key);
        }
        RegDeleteKeyExA(root_, path_.c_str(), view_, 0);
    }

private:
    HKEY root_;
    std::string path_;
    REGSAM view_;
};

// The Unix path Wine gives a Windows path.
inline std::string UnixPath(const std::string& windowsPath) {
    using TGetUnix = char*(CDECL*)(LPCWSTR);
    const auto getUnix = framework::ProcAs<TGetUnix>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    if (!getUnix) return std::string();
    char* unix = getUnix(framework::AnsiToWide(windowsPath).c_str());
    if (!unix) return std::string();
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

// Starts a Unix program given by its Unix path (Wine runs those too, though it can neither
// wait for them nor pass their exit codes on).
inline bool StartUnix(const char* program, std::string command) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

// Waits up to five seconds for a path to appear (or to go).
inline bool AwaitPath(const std::string& path, bool present) {
    for (int i = 0; i < 100; ++i) {
        if ((GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) == present) return true;
        Sleep(50);
    }
    return false;
}

// Makes a Unix symbolic link: Wine has no Windows call that makes one.
inline bool MakeUnixSymlink(const std::string& target, const std::string& link) {
    const std::string t = UnixPath(framework::ExcludeTrailingPathDelimiter(target));
    const std::string l = UnixPath(link);
    if (t.empty() || l.empty()) return false;
    return StartUnix("/bin/ln", "ln -s \"" + t + "\" \"" + l + "\"") && AwaitPath(link, true);
}

// Removes the link itself (Wine's own calls act on its target).
inline void RemoveUnixLink(const std::string& link) {
    const std::string l = UnixPath(link);
    if (!l.empty() && StartUnix("/bin/rm", "rm -f \"" + l + "\"")) AwaitPath(link, false);
}

// Copies the running test program to Path and gives it a version resource holding only the
// fixed file version ms.ls.
inline bool MakeVersionedExe(const std::string& path, DWORD versionMS, DWORD versionLS) {
    if (!CopyFileA(framework::GetModuleFileNameText().c_str(), path.c_str(), FALSE)) return false;
    // VS_VERSIONINFO: header, key "VS_VERSION_INFO", padding to 32 bits, the fixed part.
    std::vector<BYTE> block(92, 0);
    auto put16 = [&](size_t at, WORD v) { std::memcpy(&block[at], &v, 2); };
    put16(0, 92);
    put16(2, sizeof(VS_FIXEDFILEINFO));
    put16(4, 0);
    const wchar_t key[] = L"VS_VERSION_INFO";
    std::memcpy(&block[6], key, sizeof key);
    VS_FIXEDFILEINFO fixed{};
    fixed.dwSignature = 0xFEEF04BD;
    fixed.dwStrucVersion = 0x00010000;
    fixed.dwFileVersionMS = versionMS;
    fixed.dwFileVersionLS = versionLS;
    fixed.dwProductVersionMS = versionMS;
    fixed.dwProductVersionLS = versionLS;
    fixed.dwFileOS = VOS_NT_WINDOWS32;
    fixed.dwFileType = VFT_APP;
    std::memcpy(&block[40], &fixed, sizeof fixed);
    HANDLE update = BeginUpdateResourceA(path.c_str(), FALSE);
    if (!update) return false;
    if (!UpdateResourceA(update, MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                         block.data(), static_cast<DWORD>(block.size()))) {
        EndUpdateResourceA(update, TRUE);
        return false;
    }
    return EndUpdateResourceA(update, FALSE) != FALSE;
}

// "<current folder>\foundation-output\", created: the CTest checks read what is written there.
inline std::string OutputFolder() {
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    const std::string folder = framework::IncludeTrailingPathDelimiter(cwd) + "foundation-output\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

// A recording stand-in for the operating system's answers; Install() puts it in place,
// the destructor restores the real table.
struct FakeOs {
    // Workstation query.
    bool wkstaOk = true;
    DWORD major = 10, minor = 0;
    int wkstaCalls = 0;
    std::vector<void*> freed;
    WKSTA_INFO_100 info{};
    // ntdll's RtlGetVersion.
    bool haveRtl = true, rtlOk = true;
    DWORD rtlMajor = 10;
    int rtlCalls = 0;
    // GetVersionExA.
    bool versionOk = true;
    OSVERSIONINFOA version{};
    // kernel32 and its entry points.
    bool loadOk = true;
    bool haveIsWow64 = true, isWow64Answer = false, isWow64Fails = false;
    bool haveEnable = true, haveDisable = true;
    int loads = 0, frees = 0, disables = 0, enables = 0;
    std::vector<BOOLEAN> enableArgs;

    static FakeOs*& Current() {
        static FakeOs* current = nullptr;
        return current;
    }

    FakeOs() {
        version.dwPlatformId = VER_PLATFORM_WIN32_NT;
        version.dwMajorVersion = 10;
        Current() = this;
        JoryOsApi() = TJoryOsApi{Load, Module, Proc, Free, Wksta, BufferFree, GetVersionA};
    }
    ~FakeOs() {
        JoryOsApi() = RealJoryOsApi();
        Current() = nullptr;
    }
    FakeOs(const FakeOs&) = delete;
    FakeOs& operator=(const FakeOs&) = delete;

    static HMODULE Kernel() { return reinterpret_cast<HMODULE>(0x7A000000); }

    static HMODULE WINAPI Load(LPCSTR) {
        ++Current()->loads;
        if (Current()->loadOk) return Kernel();
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    static HMODULE WINAPI Module(LPCSTR) { return Current()->loadOk ? Kernel() : nullptr; }
    static BOOL WINAPI Free(HMODULE) {
        ++Current()->frees;
        return TRUE;
    }
    static BOOL WINAPI IsWow64Process(HANDLE, PBOOL answer) {
        if (Current()->isWow64Fails) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        *answer = Current()->isWow64Answer;
        return TRUE;
    }
    static BOOL WINAPI Disable(PVOID* old) {
        ++Current()->disables;
        if (old) *old = nullptr;
        return TRUE;
    }
    static BOOLEAN WINAPI Enable(BOOLEAN arg) {
        ++Current()->enables;
        Current()->enableArgs.push_back(arg);
        return TRUE;
    }
    template <typename F>
    static FARPROC AsProc(F f) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(f));
    }
    static FARPROC WINAPI Proc(HMODULE, LPCSTR name) {
        FakeOs& os = *Current();
        const std::string n = name;
        if (n == "IsWow64Process" && os.haveIsWow64) return AsProc(&IsWow64Process);
        if (n == "Wow64DisableWow64FsRedirection" && os.haveDisable) return AsProc(&Disable);
        if (n == "Wow64EnableWow64FsRedirection" && os.haveEnable) return AsProc(&Enable);
        if (n == "RtlGetVersion" && os.haveRtl) return AsProc(&RtlGetVersion);
        return nullptr;
    }
    static LONG WINAPI RtlGetVersion(PRTL_OSVERSIONINFOW out) {
        FakeOs& os = *Current();
        ++os.rtlCalls;
        EXPECT_EQ(out->dwOSVersionInfoSize, sizeof(RTL_OSVERSIONINFOW));
        if (!os.rtlOk) return static_cast<LONG>(0xC0000001L);
        out->dwMajorVersion = os.rtlMajor;
        return 0;
    }
    static NET_API_STATUS NET_API_FUNCTION Wksta(LMSTR server, DWORD level, LPBYTE* buffer) {
        FakeOs& os = *Current();
        ++os.wkstaCalls;
        EXPECT_EQ(server, nullptr);
        EXPECT_EQ(level, 100u);
        if (!os.wkstaOk) return ERROR_ACCESS_DENIED;
        os.info.wki100_platform_id = 500;
        os.info.wki100_ver_major = os.major;
        os.info.wki100_ver_minor = os.minor;
        *buffer = reinterpret_cast<LPBYTE>(&os.info);
        return NERR_Success;
    }
    static NET_API_STATUS NET_API_FUNCTION BufferFree(LPVOID buffer) {
        Current()->freed.push_back(buffer);
        return NERR_Success;
    }
    static BOOL WINAPI GetVersionA(LPOSVERSIONINFOA out) {
        FakeOs& os = *Current();
        EXPECT_EQ(out->dwOSVersionInfoSize, 148u);
        if (!os.versionOk) return FALSE;
        const DWORD size = out->dwOSVersionInfoSize;
        *out = os.version;
        out->dwOSVersionInfoSize = size;
        return TRUE;
    }
};

}  // namespace footest
