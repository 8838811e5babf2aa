// A fresh, empty folder under the temp folder for one test; removed with all it holds.
#pragma once

#include <string>

namespace testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, with a trailing backslash.
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

// Deletes a folder tree (read-only files included); used for clean-up only.
void RemoveTree(const std::string& dir);

}  // namespace testsupport
