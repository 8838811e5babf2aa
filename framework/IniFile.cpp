#include "framework/IniFile.h"

#include <windows.h>

#include <vector>

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

}  // namespace framework
