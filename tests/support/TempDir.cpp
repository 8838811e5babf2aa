#include "support/TempDir.h"

#include <windows.h>

#include <atomic>
#include <stdexcept>

namespace testsupport {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    char temp[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n > MAX_PATH) throw std::runtime_error("no temp folder");
    for (;;) {
        path_ = std::string(temp) + "va-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(counter++) + "\\";
        if (CreateDirectoryA(path_.c_str(), nullptr)) return;
        if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot create " + path_);
    }
}

TempDir::~TempDir() { RemoveTree(path_); }

void RemoveTree(const std::string& dir) {
    std::string base = dir;
    if (!base.empty() && base.back() != '\\') base += '\\';
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((base + "*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            const std::string full = base + name;
            SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                RemoveTree(full);
            else if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryA(full.c_str());
            else
                DeleteFileA(full.c_str());
        } while (FindNextFileA(find, &fd));
        FindClose(find);
    }
    RemoveDirectoryA(base.c_str());
}

}  // namespace testsupport
