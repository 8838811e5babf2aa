#include "foundation/UnicodeUtils.h"

#include <ole2.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "foundation/JoryUtils.h"
#include "framework/Handles.h"
#include "framework/SysUtils.h"

using framework::AnsiToWide;
using framework::SameText;
using framework::WideToAnsi;

// ---------------------------------------------------------------------------------------------
// Start-up

bool DetectWideFileApi() {
    char windows[1024] = {};
    const UINT n = GetWindowsDirectoryA(windows, sizeof windows);
    if (n == 0 || n >= sizeof windows) return false;
    const std::wstring pattern = AnsiToWide(framework::IncludeTrailingPathDelimiter(windows) + "*.*");
    WIN32_FIND_DATAW data;
    const HANDLE h = FindFirstFileW(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return false;
    FindClose(h);
    return true;
}

bool& UseWideFileApi() {
    static bool wide = DetectWideFileApi();
    return wide;
}

void InitUnicodeUtils() {
    static const bool done = [] {
        OleInitialize(nullptr);
        UseWideFileApi() = DetectWideFileApi();
        return true;
    }();
    (void)done;
}

// ---------------------------------------------------------------------------------------------
// Text

bool StrContainsText(const std::string& Sub, const std::string& S) {
    if (Sub.empty()) return false;
    return framework::AnsiLowerCase(S).find(framework::AnsiLowerCase(Sub)) != std::string::npos;
}

std::string StrLeft(const std::string& S, int N) {
    if (N <= 0) return std::string();
    return S.substr(0, static_cast<size_t>(N));
}

std::string StrRight(const std::string& S, int N) {
    if (N <= 0) return std::string();
    const size_t n = static_cast<size_t>(N);
    return n >= S.size() ? S : S.substr(S.size() - n);
}

bool StrStartsText(const std::string& S, const std::string& Prefix) {
    return SameText(StrLeft(S, static_cast<int>(Prefix.size())), Prefix);
}

bool StrEndsText(const std::string& S, const std::string& Suffix) {
    return SameText(StrRight(S, static_cast<int>(Suffix.size())), Suffix);
}

bool StrStartsStr(const std::string& S, const std::string& Prefix) {
    return StrLeft(S, static_cast<int>(Prefix.size())) == Prefix;
}

std::string StrRemovePrefixText(const std::string& S, const std::string& Prefix) {
    if (S.size() >= Prefix.size() && StrStartsText(S, Prefix)) return S.substr(Prefix.size());
    return S;
}

std::string StrRemoveSuffixText(const std::string& S, const std::string& Suffix) {
    if (S.size() >= Suffix.size() && StrEndsText(S, Suffix)) return S.substr(0, S.size() - Suffix.size());
    return S;
}

std::string StrBefore(const std::string& S, const std::string& Sub) {
    const size_t at = S.find(Sub);
    return at == std::string::npos ? S : S.substr(0, at);
}

std::string StrAfter(const std::string& S, const std::string& Sub) {
    const size_t at = S.find(Sub);
    return at == std::string::npos ? S : S.substr(at + Sub.size());
}

int TokenCount(const std::string& S, const std::string& Delims) {
    if (S.empty()) return 0;
    int n = 1;
    for (char c : S)
        if (Delims.find(c) != std::string::npos) ++n;
    return n;
}

std::string GetToken(const std::string& S, int N, const std::string& Delims) {
    if (N < 0) return std::string();
    int index = 0;
    size_t start = 0;
    for (size_t i = 0; i <= S.size(); ++i) {
        if (i == S.size() || Delims.find(S[i]) != std::string::npos) {
            if (index == N) return S.substr(start, i - start);
            ++index;
            start = i + 1;
        }
    }
    return std::string();
}

std::string StripTrailingUrls(const std::string& S) {
    // Drops trailing "http://" and "https://" words one after the other, trimming after each,
    // until the last word is none (or only one word is left). Works on a window of S so that a
    // text of many such words costs one pass, not one copy per word.
    size_t begin = 0, end = S.size();
    auto isSpace = [&S](size_t i) { return static_cast<unsigned char>(S[i]) <= ' '; };
    for (;;) {
        size_t blank = std::string::npos;
        for (size_t i = end; i > begin; --i)
            if (S[i - 1] == ' ') {
                blank = i - 1;
                break;
            }
        if (blank == std::string::npos) break;  // a single word is never changed
        const std::string head = S.substr(blank + 1, std::min<size_t>(end - blank - 1, 8));
        if (!StrStartsText(head, "http://") && !StrStartsText(head, "https://")) break;
        end = blank;
        while (end > begin && isSpace(end - 1)) --end;
        while (begin < end && isSpace(begin)) ++begin;
    }
    return begin == 0 && end == S.size() ? S : S.substr(begin, end - begin);
}

std::string UrlEncode(const std::string& S) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(S.size() * 3);
    for (const char ch : S) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == ' ') {
            out += "%20";
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                   c == '-' || c == '.' || c == '_') {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string ExtractFileBaseName(const std::string& Path) {
    const std::string name = framework::ExtractFileName(Path);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string BoolToYesNo(bool B) { return B ? "Yes" : "No"; }

int32_t IntMax(int32_t A, int32_t B) { return A > B ? A : B; }

// ---------------------------------------------------------------------------------------------
// Files

HANDLE FindFirstFileWide(const std::wstring& PathW, WIN32_FIND_DATAW& FindDataW) {
    if (UseWideFileApi()) return FindFirstFileW(PathW.c_str(), &FindDataW);
    WIN32_FIND_DATAA a;
    const HANDLE h = FindFirstFileA(WideToAnsi(PathW).c_str(), &a);
    if (h == INVALID_HANDLE_VALUE) return h;
    std::memset(&FindDataW, 0, sizeof FindDataW);
    FindDataW.dwFileAttributes = a.dwFileAttributes;
    FindDataW.ftCreationTime = a.ftCreationTime;
    FindDataW.ftLastAccessTime = a.ftLastAccessTime;
    FindDataW.ftLastWriteTime = a.ftLastWriteTime;
    FindDataW.nFileSizeHigh = a.nFileSizeHigh;
    FindDataW.nFileSizeLow = a.nFileSizeLow;
    FindDataW.dwReserved0 = a.dwReserved0;
    FindDataW.dwReserved1 = a.dwReserved1;
    MultiByteToWideChar(CP_ACP, 0, a.cFileName, -1, FindDataW.cFileName, MAX_PATH);
    MultiByteToWideChar(CP_ACP, 0, a.cAlternateFileName, -1, FindDataW.cAlternateFileName, 14);
    FindDataW.cFileName[MAX_PATH - 1] = L'\0';
    FindDataW.cAlternateFileName[13] = L'\0';
    return h;
}

namespace {

// The follow-up of FindFirstFileWide, through the same API family.
BOOL FindNextFileWide(HANDLE h, WIN32_FIND_DATAW& data) {
    if (UseWideFileApi()) return FindNextFileW(h, &data);
    WIN32_FIND_DATAA a;
    if (!FindNextFileA(h, &a)) return FALSE;
    data.dwFileAttributes = a.dwFileAttributes;
    data.nFileSizeHigh = a.nFileSizeHigh;
    data.nFileSizeLow = a.nFileSizeLow;
    MultiByteToWideChar(CP_ACP, 0, a.cFileName, -1, data.cFileName, MAX_PATH);
    data.cFileName[MAX_PATH - 1] = L'\0';
    return TRUE;
}

// Finds the first match of a path; false when nothing matches.
bool FindOne(const std::wstring& path, WIN32_FIND_DATAW& data) {
    framework::UniqueFindHandle h(FindFirstFileWide(path, data));
    return h.valid();
}

// A search pattern rather than a name (the "\\?\" long-path prefix aside).
bool HasWildcard(const std::wstring& path) {
    const size_t start = path.rfind(L"\\\\?\\", 0) == 0 ? 4 : 0;
    return path.find_first_of(L"*?", start) != std::wstring::npos;
}

}  // namespace

bool FileExistsWide(const std::wstring& PathW) {
    if (PathW.empty() || HasWildcard(PathW)) return false;
    WIN32_FIND_DATAW data;
    return FindOne(PathW, data) && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExistsWide(const std::wstring& PathW) {
    // "\\?\C:\" and "\\?\C:" are drive roots as well.
    if (PathW.rfind(L"\\\\?\\", 0) == 0 && PathW.size() >= 6 && PathW.size() <= 7 && PathW[5] == L':')
        return DirectoryExistsWide(PathW.substr(4));
    const size_t n = PathW.size();
    if ((n == 2 && PathW[1] == L':') || (n == 3 && PathW[1] == L':' && PathW[2] == L'\\')) {
        const char root[4] = {static_cast<char>(PathW[0] & 0xFF), ':', '\\', '\0'};
        // DRIVE_UNKNOWN (0) and DRIVE_NO_ROOT_DIR (1): no such drive.
        return GetDriveTypeA(root) > DRIVE_NO_ROOT_DIR;
    }
    if (PathW.empty() || HasWildcard(PathW)) return false;
    // A search for "folder\" finds nothing: look for the folder itself.
    std::wstring path = PathW;
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    if (path.size() == 2 && path[1] == L':') return DirectoryExistsWide(path);
    WIN32_FIND_DATAW data;
    return FindOne(path, data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

BOOL CreateDirectoryWide(const std::wstring& PathW, LPSECURITY_ATTRIBUTES Security) {
    if (!UseWideFileApi()) return CreateDirectoryA(WideToAnsi(PathW).c_str(), Security);
    std::wstring path;
    if (PathW.rfind(L"\\\\?\\", 0) == 0)
        path = PathW;
    else if (PathW.rfind(L"\\\\", 0) == 0)
        path = L"\\\\?\\UNC\\" + PathW.substr(2);
    else
        path = L"\\\\?\\" + PathW;
    return CreateDirectoryW(path.c_str(), Security);
}

DWORD GetFileVersionInfoSizeWide(const std::wstring& PathW, DWORD* Handle) {
    if (UseWideFileApi()) return GetFileVersionInfoSizeW(PathW.c_str(), Handle);
    return GetFileVersionInfoSizeA(WideToAnsi(PathW).c_str(), Handle);
}

BOOL GetFileVersionInfoWide(const std::wstring& PathW, DWORD Handle, DWORD Len, void* Data) {
    if (UseWideFileApi()) return GetFileVersionInfoW(PathW.c_str(), Handle, Len, Data);
    return GetFileVersionInfoA(WideToAnsi(PathW).c_str(), Handle, Len, Data);
}

std::wstring FixedVersionOfBlock(const void* Block) {
    void* info = nullptr;
    UINT len = 0;
    // A root value shorter than the fixed block holds no version (only part of one would be
    // read, the rest would be whatever lay behind it).
    if (!Block || !VerQueryValueA(Block, "\\", &info, &len) || len < sizeof(VS_FIXEDFILEINFO) || !info)
        return std::wstring();
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, info, sizeof fixed);
    wchar_t text[64];
    std::swprintf(text, 64, L"%u.%u.%u.%u", HIWORD(fixed.dwFileVersionMS), LOWORD(fixed.dwFileVersionMS),
                  HIWORD(fixed.dwFileVersionLS), LOWORD(fixed.dwFileVersionLS));
    return text;
}

std::wstring GetFixedFileVersion(const std::wstring& PathW) {
    if (!FileExistsWide(PathW)) return L"File not found";
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeWide(PathW, &handle);
    if (size == 0) return std::wstring();
    std::vector<BYTE> buffer(size);
    if (!GetFileVersionInfoWide(PathW, handle, size, buffer.data())) return std::wstring();
    return FixedVersionOfBlock(buffer.data());
}

int64_t GetFileSizeByFind(const std::wstring& PathW) {
    WIN32_FIND_DATAW data;
    if (!FindOne(PathW, data)) return 0;
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

int64_t GetFileSize64(const std::wstring& PathW) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(PathW.c_str(), GetFileExInfoStandard, &data))
        return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    return GetFileSizeByFind(PathW);
}

bool FileExistsNotEmpty(const std::wstring& PathW) {
    DisableWow64Redirection(true);
    const bool result = FileExistsWide(PathW) && GetFileSize64(PathW) > 0;
    DisableWow64Redirection(false);
    return result;
}

// ---------------------------------------------------------------------------------------------
// Folder walkers

namespace {

enum class Walk { ExtTree, NameTree, Name, Files, SubFolders };

void WalkFolder(const std::string& folder, Walk kind, const std::string& key, framework::TStringList& list) {
    const std::string base = framework::IncludeTrailingPathDelimiter(folder);
    std::vector<std::string> subFolders;
    {
        // Both are undone however the loop is left: a list that refuses an entry throws.
        const TWow64RedirectionOff redirectionOff;
        WIN32_FIND_DATAW data;
        const framework::UniqueFindHandle h(FindFirstFileWide(AnsiToWide(base + "*"), data));
        if (h) {
            do {
                const std::wstring nameW = data.cFileName;
                if (nameW == L"." || nameW == L"..") continue;
                const std::string name = WideToAnsi(nameW);
                const std::string full = base + name;
                const bool isDir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
                switch (kind) {
                    case Walk::ExtTree:
                        if (!isDir && SameText(framework::ExtractFileExt(name), key)) list.Add(full);
                        break;
                    case Walk::NameTree:
                        if (!isDir && SameText(name, key)) list.Add(full);
                        break;
                    case Walk::Name:
                        if (framework::FileExists(full) && SameText(name, key)) list.Add(full);
                        break;
                    case Walk::Files:
                        if (FileExistsWide(AnsiToWide(full))) list.Add(full);
                        break;
                    case Walk::SubFolders:
                        if (DirectoryExistsWide(AnsiToWide(full))) list.Add(full);
                        break;
                }
                // A link may lead back up the tree: walk real folders only.
                if ((kind == Walk::ExtTree || kind == Walk::NameTree) &&
                    !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && DirectoryExistsWide(AnsiToWide(full)))
                    subFolders.push_back(full);
            } while (FindNextFileWide(h.get(), data));
        }
    }
    for (const std::string& sub : subFolders) WalkFolder(sub, kind, key, list);
}

}  // namespace

void FindFilesByExtTree(const std::string& Folder, const std::string& Ext, framework::TStringList& List) {
    WalkFolder(Folder, Walk::ExtTree, Ext, List);
}

void FindFilesByNameTree(const std::string& Folder, const std::string& Name,
                         framework::TStringList& List) {
    WalkFolder(Folder, Walk::NameTree, Name, List);
}

void FindFilesByName(const std::string& Folder, const std::string& Name, framework::TStringList& List) {
    WalkFolder(Folder, Walk::Name, Name, List);
}

void ListFilesInFolder(const std::string& Folder, framework::TStringList& List) {
    WalkFolder(Folder, Walk::Files, std::string(), List);
}

void ListSubFolders(const std::string& Folder, framework::TStringList& List) {
    WalkFolder(Folder, Walk::SubFolders, std::string(), List);
}

std::string DegreeSignIn(UINT CodePage) {
    const wchar_t sign = 0x00B0;
    char buffer[8];
    BOOL usedDefault = FALSE;
    // The UTF pages refuse the default-character question.
    const bool utf = CodePage == CP_UTF8 || CodePage == CP_UTF7;
    const int n = WideCharToMultiByte(CodePage, 0, &sign, 1, buffer, sizeof buffer, nullptr, utf ? nullptr : &usedDefault);
    if (n <= 0 || usedDefault) return std::string();
    return std::string(buffer, n);
}
