#include "framework/SysUtils.h"

#include <atomic>
#include <cwchar>

#include <windows.h>
#include <shellapi.h>

#include <algorithm>

#include "framework/Handles.h"

namespace framework {

namespace {
bool IsDelimiter(char c) { return c == '\\' || c == '/' || c == ':'; }

size_t LastDelimiter(const std::string& s) {
    for (size_t i = s.size(); i > 0; --i)
        if (IsDelimiter(s[i - 1])) return i - 1;
    return std::string::npos;
}
}  // namespace

std::string ExtractFilePath(const std::string& fileName) {
    const size_t at = LastDelimiter(fileName);
    return at == std::string::npos ? std::string() : fileName.substr(0, at + 1);
}

std::string ExtractFileDir(const std::string& fileName) {
    const size_t at = LastDelimiter(fileName);
    if (at == std::string::npos) return std::string();
    // Keep the delimiter of a root ("C:\" or "\").
    if (at > 0 && fileName[at] != ':' && !IsDelimiter(fileName[at - 1]))
        return fileName.substr(0, at);
    return fileName.substr(0, at + 1);
}

std::string ExtractFileName(const std::string& fileName) {
    const size_t at = LastDelimiter(fileName);
    return at == std::string::npos ? fileName : fileName.substr(at + 1);
}

std::string ExtractFileExt(const std::string& fileName) {
    const std::string name = ExtractFileName(fileName);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
    if (!path.empty() && path.back() == '\\') return path;
    return path + '\\';
}

std::string ExcludeTrailingPathDelimiter(const std::string& path) {
    std::string p = path;
    while (!p.empty() && p.back() == '\\') p.pop_back();
    return p;
}

bool FileExists(const std::string& fileName) {
    const DWORD attr = GetFileAttributesA(fileName.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& dir) {
    if (dir.empty()) return false;
    const DWORD attr = GetFileAttributesA(dir.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceDirectories(const std::string& dir) {
    const std::string d = ExcludeTrailingPathDelimiter(dir);
    if (d.empty()) return false;
    if (DirectoryExists(d)) return true;
    const std::string parent = ExtractFileDir(d);
    if (!parent.empty() && parent != d && !ForceDirectories(parent)) return false;
    return CreateDirectoryA(d.c_str(), nullptr) || DirectoryExists(d);
}

bool ReadFileBytes(const std::wstring& fileName, std::string& data) {
    UniqueHandle file(CreateFileW(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFFFFFF) return false;
    std::string buffer(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!buffer.empty() &&
        (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) ||
         read != buffer.size()))
        return false;
    data = std::move(buffer);
    return true;
}

bool ReadFileBytes(const std::string& fileName, std::string& data) { return ReadFileBytes(AnsiToWide(fileName), data); }

bool WriteFileBytes(const std::string& fileName, const std::string& data) {
    UniqueHandle file(CreateFileA(fileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    if (!data.empty() &&
        (!::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) ||
         written != data.size()))
        return false;
    return true;
}

bool ReplaceFileContents(const std::wstring& FileName, const std::string& Data, std::string& Error) {
    // A read-only file is not replaced, whether or not the rename would be refused.
    const DWORD attr = GetFileAttributesW(FileName.c_str());
    if (attr != INVALID_FILE_ATTRIBUTES && (attr & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
        Error = SysErrorMessage(ERROR_ACCESS_DENIED);
        return false;
    }
    const size_t cut = FileName.find_last_of(L"\\/:");
    const std::wstring folder = cut == std::wstring::npos ? std::wstring() : FileName.substr(0, cut + 1);
    // A name of its own beside the file (GetTempFileName would limit the folder to 246
    // characters); CREATE_NEW never takes over another file.
    static std::atomic<unsigned> serial{0};
    std::wstring temp;
    UniqueHandle file;
    DWORD lastError = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100 && !file; ++attempt) {
        wchar_t name[40];
        swprintf(name, 40, L"~va%08lX%04X.tmp", static_cast<unsigned long>(GetCurrentProcessId()),
                 (serial.fetch_add(1) + GetTickCount()) & 0xFFFF);
        temp = folder + name;
        file.reset(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            lastError = GetLastError();
            if (lastError != ERROR_FILE_EXISTS && lastError != ERROR_ALREADY_EXISTS) break;
        }
    }
    if (!file) {
        Error = SysErrorMessage(lastError);
        return false;
    }
    bool ok = true;
    size_t done = 0;
    while (ok && done < Data.size()) {
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(Data.size() - done, 1u << 20));
        DWORD written = 0;
        ok = ::WriteFile(file.get(), Data.data() + done, piece, &written, nullptr) && written == piece;
        done += written;
    }
    ok = ok && FlushFileBuffers(file.get());
    if (!ok) Error = SysErrorMessage(GetLastError());
    file.reset();
    // The rename is the only step that touches FileName: before it the old file is whole.
    if (ok && !MoveFileExW(temp.c_str(), FileName.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        Error = SysErrorMessage(GetLastError());
        ok = false;
    }
    if (!ok) {
        DeleteFileW(temp.c_str());
        return false;
    }
    // The new file keeps the old one's hidden, system and archive attributes.
    if (attr != INVALID_FILE_ATTRIBUTES && attr != FILE_ATTRIBUTE_ARCHIVE && attr != FILE_ATTRIBUTE_NORMAL)
        SetFileAttributesW(FileName.c_str(), attr);
    return true;
}

bool ReadVersionResource(const std::wstring& FileName, std::string& Block) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(FileName.c_str(), &handle);
    if (size == 0) return false;
    std::string data(size, '\0');
    if (!GetFileVersionInfoW(FileName.c_str(), handle, size, data.data())) return false;
    Block = std::move(data);
    return true;
}

bool ReplaceFileContents(const std::string& FileName, const std::string& Data, std::string& Error) {
    return ReplaceFileContents(AnsiToWide(FileName), Data, Error);
}

}  // namespace framework

namespace framework {

std::string SysErrorMessage(DWORD errorCode) {
    char* buffer = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, errorCode, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = n && buffer ? std::string(buffer, n) : std::string();
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

void RaiseLastOSError() {
    const DWORD code = GetLastError();
    throw EOSError("System Error.  Code: " + std::to_string(code) + ".\r\n" + SysErrorMessage(code),
                   code);
}

std::wstring GetModuleFileNameWide(HMODULE module) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::wstring();
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        // Beyond the longest path there is: cut, as the system did.
        if (buffer.size() >= 32768) return buffer;
        buffer.resize(buffer.size() * 2);
    }
}

std::string GetModuleFileNameText(HMODULE module) { return PathForAnsiApi(GetModuleFileNameWide(module)); }

namespace {

std::vector<std::wstring> PathParts(const std::wstring& path) {
    std::vector<std::wstring> parts(1);
    for (const wchar_t c : path) {
        if (c == L'\\')
            parts.emplace_back();
        else
            parts.back().push_back(c);
    }
    return parts;
}

bool AnsiCanSpell(const std::wstring& text) {
    std::string ansi;
    return WideToAnsiExactly(text, ansi);
}

}  // namespace

TShortPathApi& ShortPathApi() {
    static TShortPathApi api{&::GetShortPathNameW};
    return api;
}

bool TryPathForAnsiApi(const std::wstring& path, std::string& ansi) {
    ansi = WideToAnsi(path);
    if (AnsiCanSpell(path)) return true;
    // A name the code page cannot spell comes back with '?' (or a look-alike) in its place,
    // which names no file. Its short name can be spelled, where the volume keeps short names
    // (exFAT and NTFS with 8.3 names off keep none: the long name comes back); every name
    // that can be spelled stays long, so file and folder names read as before.
    const DWORD n = ShortPathApi().GetShortPathNameW(path.c_str(), nullptr, 0);
    if (n == 0) return false;
    std::wstring shortPath(n, L'\0');
    const DWORD m = ShortPathApi().GetShortPathNameW(path.c_str(), shortPath.data(), n);
    if (m == 0 || m >= n) return false;
    shortPath.resize(m);
    const std::vector<std::wstring> longParts = PathParts(path);
    const std::vector<std::wstring> shortParts = PathParts(shortPath);
    std::wstring mixed = shortPath;
    if (longParts.size() == shortParts.size()) {
        mixed.clear();
        for (size_t i = 0; i < longParts.size(); ++i) {
            if (i > 0) mixed.push_back(L'\\');
            mixed += AnsiCanSpell(longParts[i]) ? longParts[i] : shortParts[i];
        }
    }
    if (!AnsiCanSpell(mixed)) return false;
    ansi = WideToAnsi(mixed);
    return true;
}

std::string PathForAnsiApi(const std::wstring& path) {
    std::string ansi;
    TryPathForAnsiApi(path, ansi);
    return ansi;
}

std::wstring ExpandFileNameWide(const std::wstring& fileName) {
    if (fileName.empty()) return fileName;
    const DWORD needed = GetFullPathNameW(fileName.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return fileName;
    std::wstring full(needed, L'\0');
    const DWORD n = GetFullPathNameW(fileName.c_str(), needed, full.data(), nullptr);
    if (n == 0 || n >= needed) return fileName;
    full.resize(n);
    return full;
}

std::string ExpandFileName(const std::string& fileName) {
    return fileName.empty() ? fileName : WideToAnsi(ExpandFileNameWide(AnsiToWide(fileName)));
}

std::string TrimLeft(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ') ++i;
    return s.substr(i);
}

std::string TrimRight(const std::string& s) {
    size_t n = s.size();
    while (n > 0 && static_cast<unsigned char>(s[n - 1]) <= ' ') --n;
    return s.substr(0, n);
}

std::string Trim(const std::string& s) { return TrimLeft(TrimRight(s)); }

std::string AnsiLowerCase(const std::string& s) {
    std::string r = s;
    if (!r.empty()) CharLowerBuffA(r.data(), static_cast<DWORD>(r.size()));
    return r;
}

std::string AnsiUpperCase(const std::string& s) {
    std::string r = s;
    if (!r.empty()) CharUpperBuffA(r.data(), static_cast<DWORD>(r.size()));
    return r;
}

bool TryStrToInt64(const std::string& s, int64_t& value) {
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i == s.size()) return false;
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? 9223372036854775808ull : 9223372036854775807ull;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        const unsigned digit = static_cast<unsigned>(s[i] - '0');
        if (magnitude > (limit - digit) / 10) return false;
        magnitude = magnitude * 10 + digit;
    }
    value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

bool TryStrToInt(const std::string& s, int32_t& value) {
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    const std::string rest = s.substr(i);
    std::string hex;
    if (!rest.empty() && rest[0] == '$')
        hex = rest.substr(1);
    else if (rest.size() > 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X'))
        hex = rest.substr(2);
    else {
        int64_t v = 0;
        if (!TryStrToInt64(rest, v) || rest.empty() || rest[0] == '+' || rest[0] == '-') return false;
        if (negative) v = -v;
        if (v < INT32_MIN || v > INT32_MAX) return false;
        value = static_cast<int32_t>(v);
        return true;
    }
    if (hex.empty() || hex.size() > 8) return false;
    uint32_t u = 0;
    for (char c : hex) {
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        u = u * 16 + d;
    }
    if (negative) u = 0u - u;
    value = static_cast<int32_t>(u);
    return true;
}

int32_t StrToIntDef(const std::string& s, int32_t def) {
    int32_t v = 0;
    return TryStrToInt(s, v) ? v : def;
}

std::wstring AnsiToWide(const std::string& s) {
    if (s.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string WideToAnsi(const std::wstring& s) {
    if (s.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string a(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, s.data(), static_cast<int>(s.size()), a.data(), n, nullptr,
                            nullptr);
    return a;
}

bool WideToAnsiExactly(const std::wstring& wide, std::string& ansi) {
    ansi = WideToAnsi(wide);
    return AnsiToWide(ansi) == wide;
}

std::vector<std::string> CommandLineParams(const wchar_t* commandLine) {
    std::vector<std::string> params;
    if (!commandLine) return params;
    // Most starts have no parameter: that is seen without CommandLineToArgvW, whose DLL
    // (shell32, some 4 ms to load under Wine) the program needs only later. The program name
    // ends at the next quote when it starts with one, else at the first blank or tab.
    const wchar_t* p = commandLine;
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"') ++p;
        if (*p) ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t') ++p;
    }
    while (*p == L' ' || *p == L'\t') ++p;
    if (!*p) return params;
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(commandLine, &count);
    if (!args) return params;
    for (int i = 1; i < count; ++i) params.push_back(WideToAnsi(args[i]));
    LocalFree(args);
    return params;
}

}  // namespace framework
