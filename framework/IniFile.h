// TIniFile: a Windows profile file ("[Section]" header lines, "Name=Value" entry lines) read
// and written through the system's profile service, entry by entry.
//
// Reads never fail: a missing file, section or entry gives the default. Every write reports
// whether it reached the file; a read-only file is never written (the check is made here so
// the answer does not depend on how strictly the file system enforces the attribute).
// The file name is made absolute at construction (the profile service would otherwise look
// in the Windows folder).
#pragma once

#include <cstdint>
#include <string>

#include "framework/StringList.h"

namespace framework {

class TIniFile {
public:
    explicit TIniFile(const std::string& fileName);

    const std::string& FileName() const { return fileName_; }

    std::string ReadString(const std::string& section, const std::string& ident,
                           const std::string& def) const;
    // Signed decimal, or hexadecimal after "$" or "0x"/"0X" (SysUtils TryStrToInt); any other
    // text, and a missing entry, give Def.
    int32_t ReadInteger(const std::string& section, const std::string& ident, int32_t def) const;

    bool WriteString(const std::string& section, const std::string& ident, const std::string& value);
    // Signed decimal.
    bool WriteInteger(const std::string& section, const std::string& ident, int32_t value);

    // Replace List's contents with the section names / the entry names of Section, in file order.
    void ReadSections(TStringList& list) const;
    void ReadSection(const std::string& section, TStringList& list) const;
    // Replace List's contents with the lines of Section as the profile service keeps them
    // ("name=value", or the bare name of a line without "="; quotes around a value are not
    // removed), in file order: one reading of the file for the whole section.
    void ReadSectionValues(const std::string& section, TStringList& list) const;
    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& ident) const;

    bool EraseSection(const std::string& section);
    bool DeleteKey(const std::string& section, const std::string& ident);

private:
    bool Writable() const;

    std::string fileName_;
};

}  // namespace framework
