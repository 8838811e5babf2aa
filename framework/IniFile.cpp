#include "framework/IniFile.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "framework/Handles.h"
#include "framework/SysUtils.h"

namespace framework {

namespace {

// A double-NUL-terminated list from the profile service, grown until it fits.
enum class ListKind { Names, Sections, Lines };

std::vector<std::string> ReadList(const char* section, const std::string& fileName,
                                  ListKind kind = ListKind::Names) {
    std::vector<char> buffer(4096);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        DWORD n = 0;
        switch (kind) {
            case ListKind::Names:
                n = GetPrivateProfileStringA(section, nullptr, "", buffer.data(), size, fileName.c_str());
                break;
            case ListKind::Sections:
                n = GetPrivateProfileSectionNamesA(buffer.data(), size, fileName.c_str());
                break;
            case ListKind::Lines:
                n = GetPrivateProfileSectionA(section, buffer.data(), size, fileName.c_str());
                break;
        }
        if (n + 2 >= size && size < (1u << 26)) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        std::vector<std::string> names;
        const char* p = buffer.data();
        const char* end = buffer.data() + n;
        while (p < end && *p) {
            std::string name(p);
            p += name.size() + 1;
            names.push_back(std::move(name));
        }
        return names;
    }
}

}  // namespace

TIniFile::TIniFile(const std::string& fileName) : fileName_(ExpandFileName(fileName)) {}

std::string TIniFile::ReadString(const std::string& section, const std::string& ident,
                                 const std::string& def) const {
    std::vector<char> buffer(2048);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD n = GetPrivateProfileStringA(section.c_str(), ident.c_str(), def.c_str(),
                                                 buffer.data(), size, fileName_.c_str());
        if (n + 1 >= size && size < (1u << 26)) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        return std::string(buffer.data(), n);
    }
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& ident,
                              int32_t def) const {
    return StrToIntDef(ReadString(section, ident, ""), def);
}

bool TIniFile::Writable() const {
    const DWORD attr = GetFileAttributesA(fileName_.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES) return true;  // created by the write
    return !(attr & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
}

bool TIniFile::WriteString(const std::string& section, const std::string& ident,
                           const std::string& value) {
    if (!Writable()) return false;
    return WritePrivateProfileStringA(section.c_str(), ident.c_str(), value.c_str(),
                                      fileName_.c_str()) != FALSE;
}

bool TIniFile::WriteInteger(const std::string& section, const std::string& ident, int32_t value) {
    return WriteString(section, ident, std::to_string(value));
}

void TIniFile::ReadSections(TStringList& list) const {
    list.Clear();
    for (const std::string& name : ReadList(nullptr, fileName_, ListKind::Sections)) list.Add(name);
}

void TIniFile::ReadSection(const std::string& section, TStringList& list) const {
    list.Clear();
    for (const std::string& name : ReadList(section.c_str(), fileName_)) list.Add(name);
}

void TIniFile::ReadSectionValues(const std::string& section, TStringList& list) const {
    list.Clear();
    for (const std::string& line : ReadList(section.c_str(), fileName_, ListKind::Lines)) list.Add(line);
}

bool TIniFile::SectionExists(const std::string& section) const {
    TStringList sections;
    ReadSections(sections);
    return sections.IndexOf(section) >= 0;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& ident) const {
    TStringList names;
    ReadSection(section, names);
    return names.IndexOf(ident) >= 0;
}

bool TIniFile::EraseSection(const std::string& section) {
    if (!Writable()) return false;
    return WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, fileName_.c_str()) != FALSE;
}

bool TIniFile::DeleteKey(const std::string& section, const std::string& ident) {
    if (!Writable()) return false;
    return WritePrivateProfileStringA(section.c_str(), ident.c_str(), nullptr, fileName_.c_str()) !=
           FALSE;
}

// ---- TMemIniFile ------------------------------------------------------------------------

namespace {

bool IsProfileBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string TrimBlanks(const std::string& s, size_t from = 0, size_t to = std::string::npos) {
    if (to > s.size()) to = s.size();
    while (from < to && IsProfileBlank(s[from])) ++from;
    while (to > from && IsProfileBlank(s[to - 1])) --to;
    return s.substr(from, to - from);
}

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// The one pair of matching quotes (" or ') the profile service removes around a value.
std::string ProfileUnquote(const std::string& raw) {
    if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') && raw.back() == raw.front())
        return raw.substr(1, raw.size() - 2);
    return raw;
}

bool HasBlankEnds(const std::string& name) {
    return !name.empty() && (IsProfileBlank(name.front()) || IsProfileBlank(name.back()));
}

// A name that a profile file keeps as one entry of that name.
bool IsProfileEntryName(const std::string& name) {
    return !name.empty() && !HasLineBreak(name) && name.find('=') == std::string::npos && name.front() != '[' &&
           name.front() != ';' && !HasBlankEnds(name);
}

// A name that a header line "[name]" gives back as it stands: the reader trims the blanks
// inside the brackets and ends the name at the last "]".
bool IsProfileSectionName(const std::string& name) {
    return !name.empty() && !HasLineBreak(name) && name.find(']') == std::string::npos && !HasBlankEnds(name);
}

// What a line is to the profile service. A comment, a blank line and a line without "="
// name no entry; they are kept as they are. A "[" line is a header only when a "]" closes
// it; without one it is read like any other line.
enum class TLineKind { Other, Header, Entry };

TLineKind KindOf(const std::string& line, size_t& start) {
    start = 0;
    while (start < line.size() && IsProfileBlank(line[start])) ++start;
    if (start == line.size() || line[start] == ';') return TLineKind::Other;
    if (line[start] == '[' && line.find(']', start) != std::string::npos) return TLineKind::Header;
    return line.find('=', start) != std::string::npos ? TLineKind::Entry : TLineKind::Other;
}

// The section name of a header line: between "[" and the last "]".
std::string HeaderName(const std::string& line, size_t start) {
    return TrimBlanks(line, start + 1, line.rfind(']'));
}

std::string EntryName(const std::string& line) {
    return TrimBlanks(line, 0, line.find('='));
}

std::string EntryValue(const std::string& line) { return ProfileUnquote(TrimBlanks(line, line.find('=') + 1)); }

// The value in the form that reads back as the same string: blanks around a value and one
// pair of quotes are not part of it when read, so such a value is quoted.
std::string QuotedIfNeeded(const std::string& value) {
    if (value.empty()) return value;
    const bool blanks = IsProfileBlank(value.front()) || IsProfileBlank(value.back());
    return blanks || ProfileUnquote(value) != value ? '"' + value + '"' : value;
}

// ---- Encodings. A Unicode file is held as UTF-8 in memory: the characters the reader looks
// for are ASCII, and every character of the file survives until it is written back.

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr char kUtf16LeBom[] = "\xFF\xFE";

bool StartsWith(const std::string& s, const char* prefix, size_t n) { return s.compare(0, n, prefix, n) == 0; }

// UTF-8 -> UTF-16; false for bytes that are no UTF-8.
bool Utf8ToWide(const char* p, size_t n, std::wstring& wide) {
    wide.clear();
    if (n == 0) return true;
    const int size = static_cast<int>(n);
    const int m = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, p, size, nullptr, 0);
    if (m <= 0) return false;
    wide.resize(static_cast<size_t>(m));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, p, size, wide.data(), m) == m;
}

std::wstring Utf8ToWide(const std::string& s) {
    std::wstring wide;
    Utf8ToWide(s.data(), s.size(), wide);
    return wide;
}

// UTF-16 (its surrogates paired) -> UTF-8.
std::string WideToUtf8(const std::wstring& w) {
    if (w.empty()) return std::string();
    const int size = static_cast<int>(w.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), size, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, w.data(), size, s.data(), n, nullptr, nullptr);
    return s;
}

// Little-endian UTF-16 -> UTF-8; false for an odd byte count or a surrogate without its pair.
bool Utf16LeToUtf8(const char* p, size_t n, std::string& text) {
    if (n % 2 != 0) return false;
    std::wstring wide(n / 2, L'\0');
    std::memcpy(wide.data(), p, n);
    for (size_t i = 0; i < wide.size(); ++i) {
        const wchar_t c = wide[i];
        if (c >= 0xDC00 && c <= 0xDFFF) return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == wide.size() || wide[i + 1] < 0xDC00 || wide[i + 1] > 0xDFFF) return false;
            ++i;
        }
    }
    text = WideToUtf8(wide);
    return true;
}

// The file's bytes -> its encoding and its text as held in memory; false for a file this
// class cannot read, which is then never written: a byte order mark of an encoding other
// than UTF-8 or UTF-16 LE, UTF-16 that is cut or has a lone surrogate, bytes after a UTF-8
// mark that are no UTF-8, and NUL bytes in a file without a mark (UTF-16 that lost its mark;
// written back as ANSI it would be mangled).
bool DecodeFile(const std::string& bytes, TIniEncoding& encoding, std::string& text) {
    if (StartsWith(bytes, kUtf8Bom, 3)) {
        encoding = TIniEncoding::Utf8;
        std::wstring wide;
        if (!Utf8ToWide(bytes.data() + 3, bytes.size() - 3, wide)) return false;
        text = bytes.substr(3);
        return true;
    }
    if (StartsWith(bytes, "\xFF\xFE\0\0", 4) || StartsWith(bytes, "\0\0\xFE\xFF", 4) ||
        StartsWith(bytes, "\xFE\xFF", 2))
        return false;  // UTF-32 LE, UTF-32 BE, UTF-16 BE
    if (StartsWith(bytes, kUtf16LeBom, 2)) {
        encoding = TIniEncoding::Utf16LE;
        return Utf16LeToUtf8(bytes.data() + 2, bytes.size() - 2, text);
    }
    encoding = TIniEncoding::Ansi;
    if (bytes.find('\0') != std::string::npos) return false;
    text = bytes;
    return true;
}

}  // namespace

TMemIniFile::TMemIniFile(const std::string& fileName) : TMemIniFile(AnsiToWide(fileName)) {}

TMemIniFile::TMemIniFile(const std::wstring& fileName)
    : path_(ExpandFileNameWide(fileName)), fileName_(PathForAnsiApi(path_)) {
    sections_.emplace_back();
    std::string bytes;
    // A missing file is an empty one; one that is there but cannot be read is never written.
    if (!ReadFileBytes(path_, bytes)) {
        readFailed_ = GetFileAttributesW(path_.c_str()) != INVALID_FILE_ATTRIBUTES;
        return;
    }
    std::string text;
    readFailed_ = !DecodeFile(bytes, encoding_, text);
    if (!readFailed_) Parse(text);
}

std::string TMemIniFile::ToHeld(const std::string& ansi) const {
    return encoding_ == TIniEncoding::Ansi ? ansi : WideToUtf8(AnsiToWide(ansi));
}

bool TMemIniFile::ToAnsi(const std::string& held, std::string& ansi) const {
    if (encoding_ == TIniEncoding::Ansi) {
        ansi = held;
        return true;
    }
    return WideToAnsiExactly(Utf8ToWide(held), ansi);
}

std::string TMemIniFile::Key(const std::string& held) const {
    if (encoding_ == TIniEncoding::Ansi) return AnsiLowerCase(held);
    std::wstring wide = Utf8ToWide(held);
    if (!wide.empty()) CharLowerBuffW(wide.data(), static_cast<DWORD>(wide.size()));
    return WideToUtf8(wide);
}

void TMemIniFile::Parse(const std::string& text) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);

        size_t start = 0;
        switch (KindOf(line, start)) {
            case TLineKind::Header: {
                const std::string key = Key(HeaderName(line, start));
                sectionIndex_.emplace(key, sections_.size());  // the first of a name counts
                sections_.emplace_back();
                sections_.back().header = std::move(line);
                continue;
            }
            case TLineKind::Entry: {
                TSection& section = sections_.back();
                const std::string name = EntryName(line);
                if (!name.empty() &&
                    section.index.emplace(Key(name), TLocation{section.lines.size(), false}).second)
                    section.names.push_back(name);
                section.lines.push_back(std::move(line));
                section.lastEntry = section.lines.size();
                continue;
            }
            case TLineKind::Other:
                sections_.back().lines.push_back(std::move(line));
                continue;
        }
    }
}

const TMemIniFile::TSection* TMemIniFile::FindSection(const std::string& name) const {
    const auto it = sectionIndex_.find(Key(ToHeld(name)));
    return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

std::string& TMemIniFile::LineAt(TSection& section, const TLocation& at) {
    return at.added ? section.added[at.line] : section.lines[at.line];
}

const std::string& TMemIniFile::LineAt(const TSection& section, const TLocation& at) const {
    return at.added ? section.added[at.line] : section.lines[at.line];
}

std::string TMemIniFile::ReadString(const std::string& section, const std::string& ident,
                                    const std::string& def) const {
    const TSection* s = FindSection(section);
    if (!s) return def;
    const auto it = s->index.find(Key(ToHeld(ident)));
    std::string value;
    return it != s->index.end() && ToAnsi(EntryValue(LineAt(*s, it->second)), value) ? value : def;
}

TMemIniFile::TEntries TMemIniFile::ReadSectionEntries(const std::string& section,
                                                      std::vector<std::string>* leftOut) const {
    TEntries entries;
    const TSection* s = FindSection(section);
    if (!s) return entries;
    entries.reserve(s->names.size());
    for (const std::string& name : s->names) {
        std::string ansiName;
        std::string value;
        const bool nameFits = ToAnsi(name, ansiName);
        if (nameFits && ToAnsi(EntryValue(LineAt(*s, s->index.at(Key(name)))), value))
            entries.emplace_back(std::move(ansiName), std::move(value));
        else if (leftOut)
            leftOut->push_back(nameFits ? ansiName : WideToAnsi(Utf8ToWide(name)));
    }
    return entries;
}

bool TMemIniFile::WriteString(const std::string& section, const std::string& ident, const std::string& value) {
    if (!IsProfileEntryName(ident) || HasLineBreak(value) || !IsProfileSectionName(section)) return false;
    const std::string heldSection = ToHeld(section);
    auto found = sectionIndex_.find(Key(heldSection));
    if (found == sectionIndex_.end()) {
        found = sectionIndex_.emplace(Key(heldSection), sections_.size()).first;
        sections_.emplace_back();
        sections_.back().header = "[" + heldSection + "]";
    }
    TSection& s = sections_[found->second];
    const std::string heldIdent = ToHeld(ident);
    const std::string key = Key(heldIdent);
    const std::string heldValue = QuotedIfNeeded(ToHeld(value));
    const auto at = s.index.find(key);
    if (at != s.index.end()) {
        // The entry keeps its place and the file's spelling of its name.
        std::string& line = LineAt(s, at->second);
        line = EntryName(line) + "=" + heldValue;
        return true;
    }
    s.index.emplace(key, TLocation{s.added.size(), true});
    s.names.push_back(heldIdent);
    s.added.push_back(heldIdent + "=" + heldValue);
    return true;
}

bool TMemIniFile::WriteInteger(const std::string& section, const std::string& ident, int32_t value) {
    return WriteString(section, ident, std::to_string(value));
}

std::string TMemIniFile::Text() const {
    size_t size = 0;
    for (const TSection& s : sections_) {
        size += s.header.size() + 2;
        for (const std::string& line : s.lines) size += line.size() + 2;
        for (const std::string& line : s.added) size += line.size() + 2;
    }
    std::string text;
    text.reserve(size);
    const auto put = [&](const std::string& line) {
        text += line;
        text += "\r\n";
    };
    for (const TSection& s : sections_) {
        if (!s.header.empty()) put(s.header);
        for (size_t i = 0; i < s.lastEntry; ++i) put(s.lines[i]);
        for (const std::string& line : s.added) put(line);
        for (size_t i = s.lastEntry; i < s.lines.size(); ++i) put(s.lines[i]);
    }
    switch (encoding_) {
        case TIniEncoding::Ansi:
            return text;
        case TIniEncoding::Utf8:
            return kUtf8Bom + text;
        case TIniEncoding::Utf16LE: {
            const std::wstring wide = Utf8ToWide(text);
            std::string bytes(kUtf16LeBom, 2);
            bytes.append(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
            return bytes;
        }
    }
    return text;
}

bool TMemIniFile::UpdateFile() const {
    if (readFailed_) return false;
    const std::string bytes = Text();
    if (bytes.size() > 0x7FFFFFFF) return false;
    // Through a file beside it and a rename: a write cut short (a full disk, the power gone)
    // leaves the old file whole.
    std::string error;
    if (!ReplaceFileContents(path_, bytes, error)) return false;
    // What reached the file is what counts.
    std::string back;
    return ReadFileBytes(path_, back) && back == bytes;
}

}  // namespace framework
