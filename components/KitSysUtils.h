// Shell and system helpers: shell special folders, handing a file or an address to the
// shell, the administrator and 64-bit Windows tests, late binding of API entry points, the
// component exceptions (EKit...) and registry readers that never fail. GUI thread.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdint>
#include <string>

#include "framework/Exception.h"

// Base of the component family; raised by late binding.
class EKitError : public framework::Exception {
public:
    using framework::Exception::Exception;
};

class EKitInternalError : public EKitError {
public:
    using EKitError::EKitError;
};

// Carries the calling thread's last Win32 error, taken at construction. The text is
// "Win32 error: <system message> (<code>)\r\n<Msg>".
class EKitWin32Error : public EKitError {
public:
    explicit EKitWin32Error(const std::string& Msg);
    EKitWin32Error(const std::string& Msg, uint32_t ErrorCode);

    uint32_t LastError;
    std::string LastErrorMsg;
};

class EKitEventError : public EKitWin32Error {
public:
    using EKitWin32Error::EKitWin32Error;
};

class EKitRegistryError : public EKitError {
public:
    using EKitError::EKitError;
};

class EKitFileVersionInfoError : public EKitError {
public:
    using EKitError::EKitError;
};

// The shell launches as the helpers reach them. Filled with the real functions; tests put
// recorders in their place so nothing is opened for real.
struct TKitShellApi {
    HINSTANCE(WINAPI* ShellExecuteA)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
    BOOL(WINAPI* ShellExecuteExA)(SHELLEXECUTEINFOA*);
};
TKitShellApi& KitShellApi();
TKitShellApi RealKitShellApi();

// The path of a shell special folder (CSIDL_...), empty on any failure.
std::wstring SpecialFolderDirectoryWide(int CSIDL);
// The same as the ANSI calls reach it (framework::TryPathForAnsiApi: short names where the
// code page cannot spell a name); empty on any failure, a folder without such a spelling
// (a profile outside the code page on a volume without short names) included.
std::string SpecialFolderDirectory(int CSIDL);
// The file-system path of an item-id list, empty on failure.
std::wstring ItemIdListToPathWide(PCIDLIST_ABSOLUTE IdList);
// The same as the ANSI calls reach it, empty also when no ANSI text reaches it.
std::string ItemIdListToPath(PCIDLIST_ABSOLUTE IdList);

// ShellExecuteExA with environment substitution and no error UI; an empty Parameters or
// Verb is passed as a null pointer. True when the shell accepted it.
bool ShellRun(const std::string& FileName, const std::string& Parameters, const std::string& Verb,
              int ShowCmd);
// ShellExecuteA; success when its result is above 32. Empty texts are passed as null pointers.
bool ShellOpen(HWND Wnd, const std::string& Verb, const std::string& FileName, int ShowCmd,
               const std::string& Directory, const std::string& Parameters);

// The process or thread token holds the Administrators group (not as deny-only).
bool UserIsAdmin();
// The token holds the builtin alias group RID, not deny-only. True off the NT platform.
// False when no token opens; raises framework::EOSError when the group query fails.
bool IsTokenInAliasGroup(DWORD Rid);

// The native processor is x64 or IA-64.
bool Is64BitSystem();
// GetNativeSystemInfo when kernel32 has it (true), else GetSystemInfo (false).
bool QueryNativeSystemInfo(SYSTEM_INFO& Info);

// Fills Slot with ModuleName!EntryName unless it already holds an address. Raises EKitError
// "Library not found: %s" / "Function not found: %s.%s".
void BindApiEntry(FARPROC& Slot, const char* ModuleName, const char* EntryName);
// CancelIo, bound late through BindApiEntry.
BOOL KitCancelIo(HANDLE File);

// Per-thread registry view choice (0 = the process default); indexes the view table.
extern thread_local uint8_t ThreadRegistryView;
// The view flag the registry readers add: KEY_WOW64_64KEY / _32KEY or 0.
REGSAM RegistryViewFlag();

// Registry readers. KeyPath may start with a root-key name ("HKEY_LOCAL_MACHINE\",
// "HKLM\", optionally after one backslash), which must name RootKey itself. With
// RaiseOnError false they return false instead of raising EKitRegistryError.
bool RegReadString(HKEY RootKey, const std::string& KeyPath, const std::string& ValueName,
                   std::string& Value, bool RaiseOnError);
// REG_SZ / REG_EXPAND_SZ as signed decimal text, or up to 8 bytes of REG_BINARY, REG_DWORD,
// REG_QWORD; the result is the low 32 bits.
bool RegReadDWord(HKEY RootKey, const std::string& KeyPath, const std::string& ValueName,
                  uint32_t& Value, bool RaiseOnError);
std::string ReadRegStringOrDefault(HKEY RootKey, const std::string& KeyPath,
                                   const std::string& ValueName, const std::string& Default);
uint32_t ReadRegDWordOrDefault(HKEY RootKey, const std::string& KeyPath, const std::string& ValueName,
                               uint32_t Default);

// The system is of the NT family (platform id 2).
bool IsWinNT();

// Character helpers: hexadecimal digit (A-F, a-f or the locale's digit class), CR or LF.
bool CharIsHexDigit(char C);
bool CharIsReturn(char C);
// Cuts S at its first NUL.
void StrResetLength(std::string& S);
