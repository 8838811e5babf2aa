// Folders the picture tests share with their CTest steps: fixtures made beforehand by
// Debian's own GIF, icon and imaging tools, and an output folder that independent readers
// check afterwards.
#pragma once

#include <windows.h>

#include <string>

#include "framework/SysUtils.h"

namespace picturefiles {

// "<current folder>\<name>\", created when missing.
inline std::string Folder(const std::string& name) {
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    const std::string folder = framework::IncludeTrailingPathDelimiter(cwd) + name + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}
// Made by tests/components/make_picture_fixtures.sh before the test runs.
inline std::string Fixture(const std::string& file) { return Folder("picture-fixtures") + file; }
// Read by the checks that run after the test.
inline std::string Output(const std::string& file) { return Folder("picture-output") + file; }

inline std::string ReadAll(const std::string& file) {
    std::string data;
    framework::ReadFileBytes(file, data);
    return data;
}

}  // namespace picturefiles
