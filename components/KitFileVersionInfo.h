// File version information: the version resource of any file on disk (or of any byte
// buffer holding one), with its fixed part, its language tables and its name=value strings;
// plus the file-presence test, the module path and the fixed-part reader the start-up code
// uses on their own.
//
// The resource is read byte by byte: every block is bounded by its parent and by the buffer,
// so a hostile resource is reported as "no version information", never read past its end.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "components/KitSysUtils.h"
#include "framework/StringList.h"

// The file's attributes can be read and the path is not a folder; an empty path gives false.
// Files are reached by their wide names; the ANSI forms are the same call on the converted text.
bool FileIsPresent(const std::wstring& Path);
bool FileIsPresent(const std::string& Path);
// The module's file (nullptr: the running executable) as the ANSI calls reach it
// (framework::GetModuleFileNameText).
std::string ModuleFullPath(HMODULE Module);
// The 52-byte fixed part of the file's version resource; false when there is none.
bool ReadFixedFileInfo(const std::wstring& Path, VS_FIXEDFILEINFO& Info);
bool ReadFixedFileInfo(const std::string& Path, VS_FIXEDFILEINFO& Info);

enum class TKitFileFlag { ffDebug, ffInfoInferred, ffPatched, ffPreRelease, ffPrivateBuild, ffSpecialBuild };

class TKitFileVersionInfo {
public:
    // Reads the file's resource. Raises EKitFileVersionInfoError "The file %s does not
    // exist" or "File contains no version information", and framework::EOSError when
    // GetFileVersionInfoW fails.
    explicit TKitFileVersionInfo(const std::wstring& FileName);
    explicit TKitFileVersionInfo(const std::string& FileName);
    // Parses a resource held in memory (as GetFileVersionInfoA returns it); raises
    // "File contains no version information" when it is invalid.
    static std::unique_ptr<TKitFileVersionInfo> FromBuffer(std::string Data);

    ~TKitFileVersionInfo();
    TKitFileVersionInfo(const TKitFileVersionInfo&) = delete;
    TKitFileVersionInfo& operator=(const TKitFileVersionInfo&) = delete;

    // 1 "Comments", 2 "CompanyName", 3 "FileDescription", 4 "FileVersion", 5 "InternalName",
    // 6 "LegalCopyright", 7 "LegalTradeMarks", 8 "OriginalFilename", 9 "ProductName",
    // 10 "ProductVersion", 11 "SpecialBuild", 12 "PrivateBuild"; empty when absent or when
    // the index lies outside 1..12.
    std::string GetStandardKey(int Index) const;
    static const char* StandardKeyName(int Index);

    const VS_FIXEDFILEINFO& FixedInfo() const { return fixedInfo_; }
    // "name=value" of every string of every table; the object is the table's 0-based number.
    const framework::TStringList& ItemList() const { return *itemList_; }
    // The entries of the selected table; the object is that table's language value.
    const framework::TStringList& Items() const { return *items_; }
    // One per string table: low word language id, high word code page.
    const std::vector<uint32_t>& Languages() const { return languages_; }
    // The "Translation" values of "VarFileInfo".
    const std::vector<uint32_t>& Translations() const { return translations_; }
    bool HasFileFlag(TKitFileFlag Flag) const;
    int LanguageIndex() const { return languageIndex_; }
    const std::string& RawBuffer() const { return buffer_; }

private:
    TKitFileVersionInfo() = default;
    void Parse();

    std::string buffer_;
    VS_FIXEDFILEINFO fixedInfo_{};
    std::unique_ptr<framework::TStringList> itemList_;
    std::unique_ptr<framework::TStringList> items_;
    std::vector<uint32_t> languages_;
    std::vector<uint32_t> translations_;
    uint32_t fileFlags_ = 0;
    int languageIndex_ = 0;
};
