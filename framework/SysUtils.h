// File-name and file-system basics the units take for granted: path splitting, existence
// tests and whole-file reads and writes (ANSI paths, the system code page).
#pragma once

#include <string>

namespace framework {

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
// Creates or replaces the file with the bytes; false when any step fails.
bool WriteFileBytes(const std::string& fileName, const std::string& data);

}  // namespace framework
