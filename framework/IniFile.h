// TIniFile: a Windows profile file ("[Section]" header lines, "Name=Value" entry lines) read
// and written through the system's profile service, entry by entry.
//
// Reads never fail: a missing file, section or entry gives the default. Every write reports
// whether it reached the file; a read-only file is never written (the check is made here so
// the answer does not depend on how strictly the file system enforces the attribute).
// The file name is made absolute at construction (the profile service would otherwise look
// in the Windows folder).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

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

// The text encodings TMemIniFile reads and writes back: ANSI (the system code page, no byte
// order mark), UTF-8 and little-endian UTF-16, each of the last two with its byte order mark.
enum class TIniEncoding { Ansi, Utf8, Utf16LE };

// TMemIniFile: a profile file read once into memory and written back once. The profile
// service rewrites the whole file at every entry it writes (a file of n entries costs n
// squared) and cuts long values short while still reporting success; this class does
// neither, for files that carry many or long values.
//
// It reads entries as the profile service does: a "[" line that holds a "]" starts a
// section (its name lies between the "[" and the last "]"), an entry line is "name=value"
// (a ";" line and a line without "=" are kept but name no entry; a "[" line without "]" is
// one of those, or an entry when it holds "="); names of sections and entries ignore case
// and the first of a name counts; blanks around names and values do not count, and
// ReadString removes one pair of matching quotes around a value. Lines end at CR, LF or CR LF.
//
// A file that starts with the UTF-8 or the UTF-16 LE byte order mark is read as such and
// written back in the same encoding; any other file as ANSI, and a new file is ANSI. Names
// and values pass in and out in ANSI: an entry of a Unicode file that the code page cannot
// hold exactly is not given out (ReadString gives the default), and stays in the file as it
// was. A file it cannot read is never written (UpdateFile is false): one that could not be
// opened or read, a byte order mark of another encoding (UTF-16 BE, UTF-32), UTF-16 cut in
// the middle of a character or with a lone surrogate, bytes after a UTF-8 mark that are no
// UTF-8, and NUL bytes in a file without a mark (UTF-16 that lost its mark).
class TMemIniFile {
public:
    using TEntries = std::vector<std::pair<std::string, std::string>>;

    // Reads FileName (made absolute); a missing file is an empty one. The file is read and
    // written by its wide name: a folder the code page cannot spell may have no short name.
    explicit TMemIniFile(const std::string& fileName);
    explicit TMemIniFile(const std::wstring& fileName);

    // The name as text for messages.
    const std::string& FileName() const { return fileName_; }
    // False when the file exists but could not be read (see above); it then reads as empty.
    bool Readable() const { return !readFailed_; }
    TIniEncoding Encoding() const { return encoding_; }

    std::string ReadString(const std::string& section, const std::string& ident,
                           const std::string& def) const;
    // The entries of Section in file order, each name once, with their values as ReadString
    // gives them. An entry whose name or value the ANSI code page cannot hold is left out;
    // its name (with the code page's stand-ins) is added to LeftOut when given.
    TEntries ReadSectionEntries(const std::string& section, std::vector<std::string>* leftOut = nullptr) const;

    // Sets the entry (the first of its name) or adds it at the end of its section, the
    // section at the end of the file. The value is written so that ReadString gives it back
    // as it stands (quoted when blanks or quotes at its ends would be lost). False, and
    // nothing changed, when the name or the value cannot stand as one entry line: a line
    // break in either, "=" in the name, a name that is empty, starts with "[" or ";", or
    // has blanks at its ends; and for a section name that a header would not give back:
    // empty, a line break or "]" in it, blanks at its ends.
    bool WriteString(const std::string& section, const std::string& ident, const std::string& value);
    // Signed decimal.
    bool WriteInteger(const std::string& section, const std::string& ident, int32_t value);

    // The whole file as it is to be written, in its encoding: the lines read, changed where
    // entries were set, with CR LF after each.
    std::string Text() const;
    // Writes Text to a new file beside it and puts that in the file's place (ReplaceFileContents),
    // then reads the file back: true only when it holds exactly that text. False, and the
    // file as it was, for a read-only file, a missing folder, a write cut short, and a file
    // that existed but could not be read (writing would lose what it held).
    bool UpdateFile() const;

private:
    struct TLocation {
        size_t line;
        bool added;
    };
    struct TSection {
        std::string header;               // the "[...]" line as read; empty for the lines before any header
        std::vector<std::string> lines;   // as read, without line ends
        size_t lastEntry = 0;             // lines[0, lastEntry) hold every entry line read
        std::vector<std::string> added;   // entries added, written after the last entry read
        std::unordered_map<std::string, TLocation> index;  // lower-case name -> its first line
        std::vector<std::string> names;   // each name once, as first found
    };

    void Parse(const std::string& text);
    // Text as held in memory (the file's ANSI, or UTF-8 for a Unicode file) <-> ANSI.
    std::string ToHeld(const std::string& ansi) const;
    bool ToAnsi(const std::string& held, std::string& ansi) const;
    // The lower-case form of a held name, for looking it up.
    std::string Key(const std::string& held) const;
    const TSection* FindSection(const std::string& name) const;
    std::string& LineAt(TSection& section, const TLocation& at);
    const std::string& LineAt(const TSection& section, const TLocation& at) const;

    std::wstring path_;
    std::string fileName_;
    bool readFailed_ = false;
    TIniEncoding encoding_ = TIniEncoding::Ansi;
    std::vector<TSection> sections_;  // [0]: the lines before the first header
    std::unordered_map<std::string, size_t> sectionIndex_;
};

}  // namespace framework
