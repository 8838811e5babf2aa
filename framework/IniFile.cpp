#include "framework/IniFile.h"

#include <windows.h>

#include <cstdint>
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

// A name that a profile file keeps as one entry of that name.
bool IsProfileEntryName(const std::string& name) {
    return !name.empty() && !HasLineBreak(name) && name.find('=') == std::string::npos && name.front() != '[' &&
           name.front() != ';' && !IsProfileBlank(name.front()) && !IsProfileBlank(name.back());
}

// What a line is to the profile service. A comment, a blank line and a line without "="
// name no entry; they are kept as they are.
enum class TLineKind { Other, Header, Entry };

TLineKind KindOf(const std::string& line, size_t& start) {
    start = 0;
    while (start < line.size() && IsProfileBlank(line[start])) ++start;
    if (start == line.size() || line[start] == ';') return TLineKind::Other;
    if (line[start] == '[') return TLineKind::Header;
    return line.find('=', start) != std::string::npos ? TLineKind::Entry : TLineKind::Other;
}

// The section name of a header line: between "[" and the last "]" (or the line's end).
std::string HeaderName(const std::string& line, size_t start) {
    const size_t close = line.rfind(']');
    return TrimBlanks(line, start + 1, close != std::string::npos && close > start ? close : line.size());
}

std::string EntryName(const std::string& line) {
    return TrimBlanks(line, 0, line.find('='));
}

std::string EntryValue(const std::string& line) { return ProfileUnquote(TrimBlanks(line, line.find('=') + 1)); }

std::string Key(const std::string& name) { return AnsiLowerCase(name); }

// The value in the form that reads back as the same string: blanks around a value and one
// pair of quotes are not part of it when read, so such a value is quoted.
std::string QuotedIfNeeded(const std::string& value) {
    if (value.empty()) return value;
    const bool blanks = IsProfileBlank(value.front()) || IsProfileBlank(value.back());
    return blanks || ProfileUnquote(value) != value ? '"' + value + '"' : value;
}

}  // namespace

TMemIniFile::TMemIniFile(const std::string& fileName) : TMemIniFile(AnsiToWide(fileName)) {}

TMemIniFile::TMemIniFile(const std::wstring& fileName)
    : path_(ExpandFileNameWide(fileName)), fileName_(PathForAnsiApi(path_)) {
    sections_.emplace_back();
    const std::wstring& path = path_;
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        readFailed_ = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
        return;
    }
    LARGE_INTEGER size{};
    std::string text;
    DWORD read = 0;
    readFailed_ = !GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFFFFFF;
    if (!readFailed_ && size.QuadPart > 0) {
        text.resize(static_cast<size_t>(size.QuadPart));
        readFailed_ = !::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr) ||
                      read != text.size();
    }
    if (!readFailed_) Parse(text);
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
    const auto it = sectionIndex_.find(Key(name));
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
    const auto it = s->index.find(Key(ident));
    return it == s->index.end() ? def : EntryValue(LineAt(*s, it->second));
}

TMemIniFile::TEntries TMemIniFile::ReadSectionEntries(const std::string& section) const {
    TEntries entries;
    const TSection* s = FindSection(section);
    if (!s) return entries;
    entries.reserve(s->names.size());
    for (const std::string& name : s->names)
        entries.emplace_back(name, EntryValue(LineAt(*s, s->index.at(Key(name)))));
    return entries;
}

bool TMemIniFile::WriteString(const std::string& section, const std::string& ident, const std::string& value) {
    if (!IsProfileEntryName(ident) || HasLineBreak(value) || section.empty() || HasLineBreak(section) ||
        section.find(']') != std::string::npos)
        return false;
    auto found = sectionIndex_.find(Key(section));
    if (found == sectionIndex_.end()) {
        found = sectionIndex_.emplace(Key(section), sections_.size()).first;
        sections_.emplace_back();
        sections_.back().header = "[" + section + "]";
    }
    TSection& s = sections_[found->second];
    const std::string key = Key(ident);
    const auto at = s.index.find(key);
    if (at != s.index.end()) {
        // The entry keeps its place and the file's spelling of its name.
        std::string& line = LineAt(s, at->second);
        line = EntryName(line) + "=" + QuotedIfNeeded(value);
        return true;
    }
    s.index.emplace(key, TLocation{s.added.size(), true});
    s.names.push_back(ident);
    s.added.push_back(ident + "=" + QuotedIfNeeded(value));
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
    return text;
}

bool TMemIniFile::UpdateFile() const {
    if (readFailed_) return false;
    const std::wstring& path = path_;
    const DWORD attr = GetFileAttributesW(path.c_str());
    // Checked here, so the answer does not depend on how strictly the file system enforces
    // the attribute.
    if (attr != INVALID_FILE_ATTRIBUTES && (attr & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) return false;
    const std::string text = Text();
    if (text.size() > 0x7FFFFFFF) return false;
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    if ((!text.empty() && (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
                           written != text.size())) ||
        !SetEndOfFile(file.get()) || !FlushFileBuffers(file.get()))
        return false;
    // What reached the file is what counts.
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || static_cast<uint64_t>(size.QuadPart) != text.size()) return false;
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file.get(), zero, nullptr, FILE_BEGIN)) return false;
    std::string back(text.size(), '\0');
    DWORD read = 0;
    if (!back.empty() &&
        (!::ReadFile(file.get(), back.data(), static_cast<DWORD>(back.size()), &read, nullptr) || read != back.size()))
        return false;
    return back == text;
}

}  // namespace framework
