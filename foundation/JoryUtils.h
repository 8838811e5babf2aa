// The maker's utility functions the program stands on:
//  - operating-system facts: version texts for the log, WOW64, pre-Vista, the WOW64
//    file-system redirection switch;
//  - installed-software lookups over the Uninstall registry keys (read-only);
//  - the portable settings file "settings.ini", the company key, the per-user data folder
//    and the clean-up of everything the program leaves in the profile.
// Plain functions, GUI thread, no state of their own; the company word is "Quillmark".
#pragma once

#include <windows.h>
#include <lm.h>

#include <cstdint>
#include <string>

#include "framework/StringList.h"

class TKLog;

// ---------------------------------------------------------------------------------------------
// Operating-system facts

// The operating system as these functions ask it. Filled with the real functions; Wine is
// never a WOW64 host, has no redirection to switch and answers one workstation version, so
// tests put answers of their own in its place.
struct TJoryOsApi {
    HMODULE(WINAPI* LoadLibraryA)(LPCSTR);
    HMODULE(WINAPI* GetModuleHandleA)(LPCSTR);
    FARPROC(WINAPI* GetProcAddress)(HMODULE, LPCSTR);
    BOOL(WINAPI* FreeLibrary)(HMODULE);
    NET_API_STATUS(NET_API_FUNCTION* NetWkstaGetInfo)(LMSTR, DWORD, LPBYTE*);
    NET_API_STATUS(NET_API_FUNCTION* NetApiBufferFree)(LPVOID);
    BOOL(WINAPI* GetVersionExA)(LPOSVERSIONINFOA);
};
// The table in use; assign to it to replace the system, RealJoryOsApi() to restore it.
TJoryOsApi& JoryOsApi();
TJoryOsApi RealJoryOsApi();

// "6.1 (Seven)", "10.0.19045 (Windows10)", "4.10 (98SE)", ... or "Unknown".
std::string GetOSVersionText();
// The NT-family text from the workstation version and a build number.
std::string GetNTVersionText(int32_t Build);
// "CurrentBuildNumber" of HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion, or empty.
std::string GetCurrentBuildNumber();
// The ReactOS build text; empty on every other system.
std::string GetReactOSVersionText();
// A 32-bit process on 64-bit Windows. Raises framework::EOSError when kernel32 cannot be
// loaded or IsWow64Process fails.
bool IsWow64();
// The program runs on 64-bit Windows: a 64-bit build, or a 32-bit one under WOW64. This is
// what decides the 64-bit registry view, the Wow6432Node scans and the "64Bits" log line.
bool Is64BitWindows();
// The system version (RtlGetVersion; the workstation query only where that is missing) is
// below 6.0, or cannot be asked.
bool IsPreVista();
// True: switch this thread's WOW64 file-system redirection off; false: back on. Not
// counted: one "on" undoes any number of "off". Does nothing where the switches are missing.
bool DisableWow64Redirection(bool Disable);
// The redirection off for the life of a scope, back on however the scope is left.
class TWow64RedirectionOff {
public:
    TWow64RedirectionOff() { DisableWow64Redirection(true); }
    ~TWow64RedirectionOff() { DisableWow64Redirection(false); }
    TWow64RedirectionOff(const TWow64RedirectionOff&) = delete;
    TWow64RedirectionOff& operator=(const TWow64RedirectionOff&) = delete;
};

// ---------------------------------------------------------------------------------------------
// Installed-software lookups (Uninstall keys of HKLM, its Wow6432Node twin, and HKCU)

// Trim(S without a leading "v"/"V").
std::string TrimVersionPrefix(const std::string& S);

// Names: the header of each Uninstall key, then each entry's REG_SZ DisplayName (else its
// subkey name); Errors: the keys and entries that did not open. Both cleared first.
void ListInstalledSoftware(framework::TStringList& Names, framework::TStringList& Errors);
// Some line of ListInstalledSoftware's Names starts with Prefix (ignoring case).
bool IsSoftwareInstalled(const std::string& Prefix);

// Highest TrimVersionPrefix(DisplayVersion) of the entries whose DisplayName contains Name:
// HKLM (both views), then HKCU when that gave nothing. The InFolder form also wants the
// entry to lie in Folder (InstallLocation; else the folder of DisPlayIcon, then of
// UninstallString); an empty Folder matches every entry.
std::string GetUninstallVersion(const std::string& Name);
std::string GetUninstallVersionInFolder(const std::string& Name, const std::string& Folder);
std::string GetUninstallVersionInFolder(const std::string& Name, const std::wstring& Folder);
// The DisplayName (or its Inno Setup icon group) / the Publisher of the last entry lying in
// Folder (InstallLocation, else the folder of DisPlayIcon): HKLM, then HKCU.
std::string GetUninstallDisplayNameForFolder(const std::string& Folder);
std::string GetUninstallDisplayNameForFolder(const std::wstring& Folder);
std::string GetUninstallPublisherForFolder(const std::string& Folder);
std::string GetUninstallPublisherForFolder(const std::wstring& Folder);
// HKLM only. Words are tokens split at blanks and hyphens.
std::string UninstallVersionByNameContains(const std::string& Name);
std::string UninstallVersionByFirstWord(const std::string& Name);
std::string UninstallLastWordByNamePrefix(const std::string& Name);
std::string UninstallSecondWordByFirstWord(const std::string& Name);
std::string UninstallVersionWith(const std::string& Name, const std::string& Extra);
std::string UninstallVersionWithout(const std::string& Name, const std::string& Extra);
// HKCU only: the Yamicsoft Windows manager's version.
std::string GetYamicsoftManagerVersion();

// ---------------------------------------------------------------------------------------------
// Portable settings, company key and data folder

// Copies "settings.ini" ([Settings] strings, [Settings_DWORD] integers) into
// HKCU\SOFTWARE\Quillmark\<Name>; the file may be ANSI, UTF-8 or UTF-16 LE (see
// TMemIniFile) and is read by its wide name (the program's folder may have no ANSI
// spelling). Silent on every failure, except these, each with a line in Errors when given: a
// file that exists but cannot be read imports nothing; an entry the registry refuses, or
// whose name or value the ANSI code page cannot hold, is left out alone.
void ImportIniSettings(const std::string& Name, const std::wstring& IniFileName,
                       framework::TStringList* Errors = nullptr);
void ImportIniSettings(const std::string& Name, const std::string& IniFileName,
                       framework::TStringList* Errors = nullptr);
// Copies the key's REG_SZ and REG_DWORD values into the file, writing it once, in the
// file's own encoding, through a temporary file (a write cut short leaves the old file);
// entries of the file that the key does not hold stay. True when every one of them reached
// the file: false for a read-only, locked or unwritable file, for a file that cannot be
// read (it is left as it is), and when a value was left out because its name or text cannot
// stand as one entry line (a line break, "=" in the name...) or is not ANSI text; each of
// those gets an Error line in Log. A value that keeps blanks at its ends or quotes around
// it is written in quotes, so that it reads back as stored.
bool ExportIniSettings(const std::string& Name, const std::wstring& IniFileName, TKLog* Log = nullptr);
bool ExportIniSettings(const std::string& Name, const std::string& IniFileName, TKLog* Log = nullptr);
void DeleteProductSettingsKey(const std::string& Name);
// Data is stored as given: a path the ANSI code page cannot spell stays the path it is.
void WriteCompanyValue(const std::string& Name, const std::wstring& Data);
void DeleteCompanyValue(const std::string& Name);
// Deletes HKCU\SOFTWARE\Quillmark when it holds neither subkeys nor values.
void DeleteCompanyKeyIfEmpty();

// <AppData>\Quillmark\<Name>\ (created on demand, by its wide name), else the executable's
// folder. The result is ANSI text that reaches the folder (short names where the code page
// cannot spell one); where there is none (a profile outside the code page on a volume without
// short names) the executable's folder stands in and Problem, when given, says why.
std::string GetDataFolder(const std::string& ExeFileName, const std::string& Name, std::string* Problem = nullptr);
// <AppData>\Quillmark\<Name>\ as it would be, without creating anything; empty when the
// application-data folder is unknown.
std::string GetUserDataFolder(const std::string& Name);
// Deletes the per-user data folder with all it holds; never the executable's folder (the
// fall-back of GetDataFolder), nor a folder that holds the executable.
// Refused as well when a link lies between the application-data folder and the data folder.
bool DeleteDataFolder(const std::string& ExeFileName, const std::string& Name);
// The same below a given application-data folder.
bool DeleteDataFolderIn(const std::string& AppData, const std::string& ExeFileName, const std::string& Name);
// Removes <AppData>\Quillmark when it has no subfolders (the system refuses while files remain).
void RemoveCompanyDataFolderIfEmpty();
// Deletes Folder's entries matching "*.<Ext>" (recursing into matching folders), read-only
// ones included, then Folder itself. Refuses (false) the running executable's folder, a
// folder that holds it or lies inside it (compared where the file system puts them, so any
// spelling of the path counts), and a folder that is a link; never follows a junction or
// symbolic link out of the tree.
bool DeleteFilesAndFolder(const std::string& Folder, const std::string& Ext);
// Deletes the "*.SPK" entries of the program's VirtualStore shadow folder and the folder;
// returns its path when it existed, else empty.
std::string CleanVirtualStore(const std::string& ExeFolder);
