// String and file helpers shared by the settings code, the update check and the
// software-identification code: case-insensitive tests and trims, tokens, URL encoding, the
// fixed file version, file sizes, folder walkers that work behind the WOW64 file-system
// redirection, and file functions that use the wide API (with long-path prefixes) when the
// system has it, the ANSI API otherwise.
//
// Texts are ANSI; positions 1-based where a count is asked for; "ignoring case" is the
// locale-aware comparison of framework::SameText.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "framework/StringList.h"

// Start-up work, once on the main thread before any form exists: OleInitialize and the
// choice between the wide and the ANSI file functions.
void InitUnicodeUtils();
// True when FindFirstFileW works on the Windows folder (false where the wide calls are stubs).
bool DetectWideFileApi();
// The process-wide choice the file functions follow (set from DetectWideFileApi on first use).
bool& UseWideFileApi();

// Text functions.
bool StrContainsText(const std::string& Sub, const std::string& S);
bool StrStartsText(const std::string& S, const std::string& Prefix);
bool StrEndsText(const std::string& S, const std::string& Suffix);
bool StrStartsStr(const std::string& S, const std::string& Prefix);
std::string StrRemovePrefixText(const std::string& S, const std::string& Prefix);
std::string StrRemoveSuffixText(const std::string& S, const std::string& Suffix);
std::string StrLeft(const std::string& S, int N);
std::string StrRight(const std::string& S, int N);
std::string StrBefore(const std::string& S, const std::string& Sub);
std::string StrAfter(const std::string& S, const std::string& Sub);
// 0 for an empty S, else 1 + the number of characters of S that are in Delims.
int TokenCount(const std::string& S, const std::string& Delims);
// The zero-based N-th token; every delimiter ends a token, so neighbours make empty tokens.
std::string GetToken(const std::string& S, int N, const std::string& Delims);
// S without its trailing blank-separated "http://" and "https://" words (a single word stays).
std::string StripTrailingUrls(const std::string& S);
// Blank -> %20; A-Z a-z 0-9 - . _ stay; every other byte -> %XX (upper-case hex).
std::string UrlEncode(const std::string& S);
// The file name without its last extension ("a.tar.gz" -> "a.tar", ".ini" -> "").
std::string ExtractFileBaseName(const std::string& Path);
std::string BoolToYesNo(bool B);
// The degree sign (U+00B0) in the code page (CP_ACP: the system's ANSI page), the page's best
// fit where it has no sign of its own; empty when the page gives only its default character.
std::string DegreeSignIn(UINT CodePage);
int32_t IntMax(int32_t A, int32_t B);

// File functions (wide paths).
HANDLE FindFirstFileWide(const std::wstring& PathW, WIN32_FIND_DATAW& FindDataW);
bool FileExistsWide(const std::wstring& PathW);
// A drive root ("C:" or "C:\") exists when the drive has a root directory; any other path
// is searched for.
bool DirectoryExistsWide(const std::wstring& PathW);
BOOL CreateDirectoryWide(const std::wstring& PathW, LPSECURITY_ATTRIBUTES Security);
DWORD GetFileVersionInfoSizeWide(const std::wstring& PathW, DWORD* Handle);
BOOL GetFileVersionInfoWide(const std::wstring& PathW, DWORD Handle, DWORD Len, void* Data);
// "a.b.c.d" of the fixed file version; empty without a version resource, "File not found"
// when the file is missing.
std::wstring GetFixedFileVersion(const std::wstring& PathW);
// The same from a version resource already read (GetFileVersionInfo's buffer); empty when it
// holds no fixed part.
std::wstring FixedVersionOfBlock(const void* Block);
int64_t GetFileSize64(const std::wstring& PathW);
int64_t GetFileSizeByFind(const std::wstring& PathW);
// Exists and is larger than 0 bytes (looked at with the WOW64 redirection off).
bool FileExistsNotEmpty(const std::wstring& PathW);

// Folder walkers: append full paths to List (never cleared), with the WOW64 redirection off
// around each search. The recursive ones do not descend into junctions or symbolic links.
void FindFilesByExtTree(const std::string& Folder, const std::string& Ext, framework::TStringList& List);
void FindFilesByNameTree(const std::string& Folder, const std::string& Name,
                         framework::TStringList& List);
void FindFilesByName(const std::string& Folder, const std::string& Name, framework::TStringList& List);
void ListFilesInFolder(const std::string& Folder, framework::TStringList& List);
void ListSubFolders(const std::string& Folder, framework::TStringList& List);
