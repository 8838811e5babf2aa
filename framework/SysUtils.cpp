#include "framework/SysUtils.h"

#include <windows.h>

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

bool ReadFileBytes(const std::string& fileName, std::string& data) {
    UniqueHandle file(CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
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

}  // namespace framework
