// File-name and file-system basics the units take for granted: path splitting, existence
// tests and whole-file reads and writes (ANSI paths, the system code page); the text and
// number conversions and the operating-system error exception that go with them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "framework/Exception.h"

namespace framework {

// A failed system call: the message is the system's text for the error code.
class EOSError : public Exception {
public:
    EOSError(const std::string& message, DWORD errorCode) : Exception(message), ErrorCode(errorCode) {}
    DWORD ErrorCode;
};

// The system's message text for an error code (no trailing line break; empty when unknown).
std::string SysErrorMessage(DWORD errorCode);
// Raises EOSError for GetLastError() ("System Error.  Code: %u.\r\n<text>").
[[noreturn]] void RaiseLastOSError();

// "C:\a\b.txt" -> "C:\a\" (up to and including the last '\', '/' or ':').
std::string ExtractFilePath(const std::string& fileName);
// "C:\a\b.txt" -> "C:\a" (no trailing delimiter, except for a drive root "C:\").
std::string ExtractFileDir(const std::string& fileName);
// "C:\a\b.txt" -> "b.txt".
std::string ExtractFileName(const std::string& fileName);
// "C:\a\b.txt" -> ".txt" (empty when there is no extension).
std::string ExtractFileExt(const std::string& fileName);
std::string IncludeTrailingPathDelimiter(const std::string& path);
std::string ExcludeTrailingPathDelimiter(const std::string& path);

// A file (not a folder) exists at the path.
bool FileExists(const std::string& fileName);
// A folder exists at the path.
bool DirectoryExists(const std::string& dir);
// Creates the folder and any missing parents; true when the folder exists afterwards.
bool ForceDirectories(const std::string& dir);

// Reads the whole file; false (and data untouched) when it cannot be opened or read.
bool ReadFileBytes(const std::string& fileName, std::string& data);
bool ReadFileBytes(const std::wstring& fileName, std::string& data);
// Creates or replaces the file with the bytes; false when any step fails.
bool WriteFileBytes(const std::string& fileName, const std::string& data);
// Writes Data to FileName as a whole: a temporary file in the same folder, then a rename over
// FileName. On any failure FileName is untouched, the temporary file is gone and Error holds
// the cause.
bool ReplaceFileContents(const std::string& FileName, const std::string& Data, std::string& Error);
bool ReplaceFileContents(const std::wstring& FileName, const std::string& Data, std::string& Error);
// The version resource of a file as GetFileVersionInfoW fills it, read by the file's wide
// name; false (Block untouched) when the file has none or it cannot be read.
bool ReadVersionResource(const std::wstring& FileName, std::string& Block);

// The full path of a module's file; nullptr gives the running executable.
std::wstring GetModuleFileNameWide(HMODULE module = nullptr);
// The same path as text for the log and the title (PathForAnsiApi). Files are read by the
// wide path (GetModuleFileNameWide): on a volume without short names this text may not
// reach the file.
std::string GetModuleFileNameText(HMODULE module = nullptr);
// A path of an existing file or folder in the ANSI code page, such that the ANSI calls reach
// it: the path itself when the code page spells it, else with the short (8.3) name of each
// file or folder name that the code page cannot spell. False when there is no such spelling
// (the path does not exist, or its volume keeps no short names: exFAT, NTFS with 8.3 names
// off); Ansi is then the plain conversion, fit for display only.
bool TryPathForAnsiApi(const std::wstring& path, std::string& ansi);
// TryPathForAnsiApi's text, whether or not it reaches the file: for display and the log.
std::string PathForAnsiApi(const std::wstring& path);
// The short-name lookup PathForAnsiApi uses; tests answer as a volume without short names.
struct TShortPathApi {
    DWORD(WINAPI* GetShortPathNameW)(LPCWSTR longPath, LPWSTR shortPath, DWORD size);
};
TShortPathApi& ShortPathApi();
// The full form of a path relative to the current folder (unchanged when that fails).
std::string ExpandFileName(const std::string& fileName);
std::wstring ExpandFileNameWide(const std::wstring& fileName);

// Text helpers (ANSI code page). Trim removes blanks and control characters (<= ' ').
std::string Trim(const std::string& s);
std::string TrimLeft(const std::string& s);
std::string TrimRight(const std::string& s);
std::string AnsiLowerCase(const std::string& s);
std::string AnsiUpperCase(const std::string& s);

// Whole-text decimal with an optional sign, nothing else around it (no blanks).
bool TryStrToInt64(const std::string& s, int64_t& value);
// Integer text as the settings files hold it: signed decimal, or hexadecimal when it starts
// with "$" or with "0x"/"0X" and more follows (up to 8 digits, wrapping into 32 bits).
bool TryStrToInt(const std::string& s, int32_t& value);
int32_t StrToIntDef(const std::string& s, int32_t def);

// ANSI (system code page) <-> UTF-16.
std::wstring AnsiToWide(const std::string& s);
std::string WideToAnsi(const std::wstring& s);
// Wide in the code page when it comes back from there as it was: false (Ansi then holds the
// code page's stand-ins) for a character the code page cannot hold.
bool WideToAnsiExactly(const std::wstring& wide, std::string& ansi);

// The parameters after the program name in a command line (GetCommandLineW's), split as
// CommandLineToArgvW splits them, in the ANSI code page.
std::vector<std::string> CommandLineParams(const wchar_t* commandLine);

}  // namespace framework
