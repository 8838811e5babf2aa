#include "framework/Registry.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "framework/SysUtils.h"

namespace framework {

namespace {

constexpr REGSAM kViewBits = KEY_WOW64_64KEY | KEY_WOW64_32KEY;

std::wstring KeyPathW(const std::wstring& key) {
    size_t start = 0;
    while (start < key.size() && key[start] == L'\\') ++start;
    std::wstring path = key.substr(start);
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

std::wstring KeyPathW(const std::string& key) { return KeyPathW(AnsiToWide(key)); }

LONG QueryValue(HKEY key, const std::wstring& name, DWORD& type, std::vector<BYTE>& data) {
    for (;;) {
        DWORD size = static_cast<DWORD>(data.size());
        LONG rc = RegQueryValueExW(key, name.c_str(), nullptr, &type, data.empty() ? nullptr : data.data(),
                                   &size);
        if (rc == ERROR_MORE_DATA || (rc == ERROR_SUCCESS && data.empty() && size > 0)) {
            data.resize(size);
            continue;
        }
        if (rc == ERROR_SUCCESS) data.resize(size);
        return rc;
    }
}

// Deletes the subtree under `parent\name` and then the key itself.
LONG DeleteTree(HKEY parent, const std::wstring& name, REGSAM view) {
    HKEY opened = nullptr;
    LONG rc = RegOpenKeyExW(parent, name.c_str(), 0,
                            KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE | view, &opened);
    if (rc != ERROR_SUCCESS) return rc;
    UniqueHKey key(opened);
    // Collect the names first: deleting while enumerating shifts the indexes.
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t child[256];
        DWORD len = 256;
        const LONG e = RegEnumKeyExW(key.get(), i, child, &len, nullptr, nullptr, nullptr, nullptr);
        if (e != ERROR_SUCCESS) break;
        children.emplace_back(child, len);
    }
    LONG result = ERROR_SUCCESS;
    for (const std::wstring& child : children) {
        const LONG e = DeleteTree(key.get(), child, view);
        if (e != ERROR_SUCCESS) result = e;
    }
    key.reset();
    if (result != ERROR_SUCCESS) return result;
    return RegDeleteKeyExW(parent, name.c_str(), view, 0);
}

// Registry paths ignore case.
std::wstring LowerW(std::wstring s) {
    if (!s.empty()) CharLowerBuffW(s.data(), static_cast<DWORD>(s.size()));
    return s;
}

}  // namespace

std::wstring RegStringDataWide(const std::vector<BYTE>& data) {
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    // The system's own readers of a string stop at its first NUL: whatever was stored behind
    // one is not part of the text.
    const size_t nul = text.find(L'\0');
    if (nul != std::wstring::npos) text.resize(nul);
    return text;
}

std::string RegStringDataText(const std::vector<BYTE>& data) { return WideToAnsi(RegStringDataWide(data)); }

std::string RootKeyName(HKEY root) {
    static const struct {
        HKEY key;
        const char* name;
    } kNames[] = {
        {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},     {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
        {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},   {HKEY_USERS, "HKEY_USERS"},
        {HKEY_PERFORMANCE_DATA, "HKEY_PERFORMANCE_DATA"}, {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"},
        {HKEY_DYN_DATA, "HKEY_DYN_DATA"},
    };
    for (const auto& n : kNames)
        if (n.key == root) return n.name;
    char text[16];
    std::snprintf(text, sizeof text, "$%.8x",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(root) & 0xFFFFFFFFu));
    return text;
}

TRegistry::TRegistry(REGSAM access) : access_(access) {}

TRegistry::TRegistry(HKEY root, REGSAM access) : root_(root), access_(access) {}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(HKEY root) {
    CloseKey();
    root_ = root;
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
    return OpenKey(AnsiToWide(key), canCreate);
}

bool TRegistry::OpenKey(const std::wstring& key, bool canCreate) {
    CloseKey();
    const std::wstring path = KeyPathW(key);
    HKEY opened = nullptr;
    LONG rc;
    if (canCreate)
        rc = RegCreateKeyExW(root_, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access_, nullptr,
                             &opened, nullptr);
    else
        rc = RegOpenKeyExW(root_, path.c_str(), 0, access_, &opened);
    lastError_ = rc;
    if (rc != ERROR_SUCCESS) return false;
    key_.reset(opened);
    path_ = path;
    return true;
}

std::string TRegistry::CurrentPath() const { return WideToAnsi(path_); }

void TRegistry::CloseKey() {
    key_.reset();
    path_.clear();
}

bool TRegistry::KeyExists(const std::string& key) const {
    HKEY opened = nullptr;
    const LONG rc = RegOpenKeyExW(root_, KeyPathW(key).c_str(), 0,
                                  KEY_QUERY_VALUE | (access_ & kViewBits), &opened);
    const UniqueHKey owned(rc == ERROR_SUCCESS ? opened : nullptr);
    if (owned) return true;
    // A key we may not query still exists.
    return rc == ERROR_ACCESS_DENIED;
}

void TRegistry::Require(const char* what) const {
    if (!key_) throw ERegistryException(std::string("No registry key is open to ") + what);
}

void TRegistry::Fail(const std::string& what, const std::string& name) const {
    throw ERegistryException(what + " '" + name + "'");
}

bool TRegistry::ValueExists(const std::string& name) const {
    TRegDataInfo info;
    return GetDataInfo(name, info);
}

bool TRegistry::GetDataInfo(const std::string& name, TRegDataInfo& info) const {
    info = TRegDataInfo{};
    if (!key_) return false;
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(key_.get(), AnsiToWide(name).c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    info.RegType = type;
    info.DataSize = size;
    return true;
}

TRegDataType TRegistry::GetDataType(const std::string& name) const {
    TRegDataInfo info;
    if (!GetDataInfo(name, info)) return TRegDataType::rdUnknown;
    switch (info.RegType) {
        case REG_SZ: return TRegDataType::rdString;
        case REG_EXPAND_SZ: return TRegDataType::rdExpandString;
        case REG_DWORD: return TRegDataType::rdInteger;
        case REG_BINARY: return TRegDataType::rdBinary;
        default: return TRegDataType::rdUnknown;
    }
}

std::string TRegistry::ReadString(const std::string& name) const {
    return WideToAnsi(ReadStringWide(name));
}

std::wstring TRegistry::ReadStringWide(const std::string& name) const {
    Require("read");
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    const LONG rc = QueryValue(key_.get(), AnsiToWide(name), type, data);
    if (rc == ERROR_FILE_NOT_FOUND) return std::wstring();
    if (rc != ERROR_SUCCESS) Fail("Failed to get data for", name);
    if (type != REG_SZ && type != REG_EXPAND_SZ) Fail("Invalid data type for", name);
    return RegStringDataWide(data);
}

int32_t TRegistry::ReadInteger(const std::string& name) const {
    Require("read");
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    if (QueryValue(key_.get(), AnsiToWide(name), type, data) != ERROR_SUCCESS)
        Fail("Failed to get data for", name);
    if (type != REG_DWORD || data.size() != sizeof(DWORD)) Fail("Invalid data type for", name);
    int32_t value;
    memcpy(&value, data.data(), sizeof value);
    return value;
}

std::string TRegistry::ReadBinaryData(const std::string& name) const {
    Require("read");
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    if (QueryValue(key_.get(), AnsiToWide(name), type, data) != ERROR_SUCCESS)
        Fail("Failed to get data for", name);
    return std::string(data.begin(), data.end());
}

void TRegistry::Write(const std::string& name, DWORD type, const void* data, DWORD size) {
    Require("write");
    const LONG rc = RegSetValueExW(key_.get(), AnsiToWide(name).c_str(), 0, type,
                                   static_cast<const BYTE*>(data), size);
    lastError_ = rc;
    if (rc != ERROR_SUCCESS) Fail("Failed to set data for", name);
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
    WriteString(name, AnsiToWide(value));
}

void TRegistry::WriteString(const std::string& name, const std::wstring& value) {
    Write(name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void TRegistry::WriteExpandString(const std::string& name, const std::string& value) {
    const std::wstring w = AnsiToWide(value);
    Write(name, REG_EXPAND_SZ, w.c_str(), static_cast<DWORD>((w.size() + 1) * sizeof(wchar_t)));
}

void TRegistry::WriteInteger(const std::string& name, int32_t value) {
    Write(name, REG_DWORD, &value, sizeof value);
}

void TRegistry::WriteBinaryData(const std::string& name, const std::string& bytes) {
    Write(name, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
}

void TRegistry::WriteRawData(const std::string& name, DWORD type, const void* data, DWORD size) {
    Write(name, type, data, size);
}

bool TRegistry::GetKeyNames(TStringList& list) const {
    list.Clear();
    std::vector<std::wstring> names;
    if (!GetKeyNames(names)) return false;
    for (const std::wstring& name : names) list.Add(WideToAnsi(name));
    return true;
}

bool TRegistry::GetKeyNames(std::vector<std::wstring>& names) const {
    names.clear();
    if (!key_) return false;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD len = 256;
        const LONG rc = RegEnumKeyExW(key_.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) return true;
        if (rc != ERROR_SUCCESS) {
            names.clear();
            return false;
        }
        names.emplace_back(name, len);
    }
}

bool TRegistry::GetValueNames(TStringList& list) const {
    list.Clear();
    if (!key_) return false;
    DWORD maxLen = 0;
    if (RegQueryInfoKeyW(key_.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxLen,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    std::vector<wchar_t> name(maxLen + 1);
    for (DWORD i = 0;; ++i) {
        DWORD len = static_cast<DWORD>(name.size());
        const LONG rc = RegEnumValueW(key_.get(), i, name.data(), &len, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) return true;
        if (rc != ERROR_SUCCESS) {
            list.Clear();
            return false;
        }
        list.Add(WideToAnsi(std::wstring(name.data(), len)));
    }
}

bool TRegistry::ForEachValue(const std::function<void(const std::wstring& name, DWORD type,
                                                        const std::vector<BYTE>& data)>& visit) const {
    if (!key_) return false;
    DWORD maxName = 0;
    DWORD maxData = 0;
    if (RegQueryInfoKeyW(key_.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName,
                         &maxData, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    std::vector<wchar_t> name(maxName + 1);
    std::vector<BYTE> data(maxData + sizeof(wchar_t));
    for (DWORD i = 0;;) {
        DWORD nameLen = static_cast<DWORD>(name.size());
        DWORD dataLen = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        const LONG rc = RegEnumValueW(key_.get(), i, name.data(), &nameLen, nullptr, &type, data.data(), &dataLen);
        if (rc == ERROR_NO_MORE_ITEMS) return true;
        if (rc == ERROR_MORE_DATA) {
            // Grown since the key was asked: ask again with room for it.
            name.resize(std::max<size_t>(name.size() * 2, 16384 + 1));
            data.resize(std::max<size_t>(data.size() * 2, dataLen + sizeof(wchar_t)));
            continue;
        }
        if (rc != ERROR_SUCCESS) return false;
        visit(std::wstring(name.data(), nameLen), type, std::vector<BYTE>(data.begin(), data.begin() + dataLen));
        ++i;
    }
}

bool TRegistry::HasSubKeys() const {
    if (!key_) return false;
    DWORD subKeys = 0;
    if (RegQueryInfoKeyW(key_.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    return subKeys > 0;
}

bool TRegistry::DeleteKey(const std::string& key) {
    const std::wstring path = KeyPathW(key);
    if (path.empty()) return false;  // never the root itself
    if (key_) {
        // Close the current key when it is the one deleted or lies inside it.
        const std::wstring target = LowerW(path);
        const std::wstring current = LowerW(path_);
        if (current == target || current.rfind(target + L"\\", 0) == 0) CloseKey();
    }
    const size_t slash = path.rfind(L'\\');
    const std::wstring parentPath = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
    const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    UniqueHKey opened;
    if (!parentPath.empty()) {
        HKEY parent = nullptr;
        const LONG rc = RegOpenKeyExW(root_, parentPath.c_str(), 0,
                                      KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | (access_ & kViewBits),
                                      &parent);
        lastError_ = rc;
        if (rc != ERROR_SUCCESS) return false;
        opened.reset(parent);
    }
    const LONG rc = DeleteTree(opened ? opened.get() : root_, name, access_ & kViewBits);
    opened.reset();
    lastError_ = rc;
    return rc == ERROR_SUCCESS;
}

bool TRegistry::DeleteValue(const std::string& name) {
    if (!key_) return false;
    const LONG rc = RegDeleteValueW(key_.get(), AnsiToWide(name).c_str());
    lastError_ = rc;
    return rc == ERROR_SUCCESS;
}

}  // namespace framework
