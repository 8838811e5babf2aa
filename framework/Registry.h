// TRegistry: one open registry key at a time under a chosen root, with the access mask the
// caller asks for (KEY_WOW64_64KEY / KEY_WOW64_32KEY included: the same mask is used for
// every key the object opens, creates, enumerates or deletes).
//
// Key paths are always taken from the root key (a leading backslash is allowed). Names and
// texts are ANSI; the object talks to the wide registry API and converts. A string value
// reads up to its first NUL, as the system's own readers take it; a value stored without a
// terminator keeps its last character. Key names the ANSI code page cannot spell are
// enumerated and opened wide. Readers and writers of values raise ERegistryException on
// failure; the openers and the enumerations return false.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/Exception.h"
#include "framework/Handles.h"
#include "framework/StringList.h"

namespace framework {

class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

enum class TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

struct TRegDataInfo {
    DWORD RegType = REG_NONE;  // the stored type, as the system reports it
    DWORD DataSize = 0;        // bytes, as stored
};

class TRegistry {
public:
    // The default access is full access (KEY_ALL_ACCESS); the root is HKEY_CURRENT_USER.
    explicit TRegistry(REGSAM access = KEY_ALL_ACCESS);
    TRegistry(HKEY root, REGSAM access);
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    HKEY RootKey() const { return root_; }
    // Closes the current key.
    void SetRootKey(HKEY root);
    REGSAM Access() const { return access_; }
    void SetAccess(REGSAM access) { access_ = access; }
    HKEY CurrentKey() const { return key_.get(); }
    std::string CurrentPath() const;

    // Closes the current key and opens Key with Access; CanCreate creates it (and its
    // missing parents) when absent. False when it cannot be opened; the system's error
    // code is then in LastError().
    bool OpenKey(const std::string& key, bool canCreate);
    bool OpenKey(const std::wstring& key, bool canCreate);
    void CloseKey();
    LONG LastError() const { return lastError_; }

    // Whether Key exists (opened for query with the view bits of Access; nothing created).
    bool KeyExists(const std::string& key) const;

    // Values of the current key.
    bool ValueExists(const std::string& name) const;
    bool GetDataInfo(const std::string& name, TRegDataInfo& info) const;
    // rdUnknown also for a missing value.
    TRegDataType GetDataType(const std::string& name) const;

    // REG_SZ or REG_EXPAND_SZ (unexpanded). A missing value reads as the empty text;
    // another type raises.
    std::string ReadString(const std::string& name) const;
    // The same text as stored (a path the ANSI code page cannot spell reads as itself).
    std::wstring ReadStringWide(const std::string& name) const;
    // REG_DWORD only; a missing value or another type raises.
    int32_t ReadInteger(const std::string& name) const;
    // The raw bytes of a value of any type; a missing value raises.
    std::string ReadBinaryData(const std::string& name) const;

    void WriteString(const std::string& name, const std::string& value);
    // A text the ANSI code page cannot spell (a path, say), stored as it is.
    void WriteString(const std::string& name, const std::wstring& value);
    void WriteExpandString(const std::string& name, const std::string& value);
    void WriteInteger(const std::string& name, int32_t value);
    void WriteBinaryData(const std::string& name, const std::string& bytes);
    // Any type, the bytes as given (tests and exotic values).
    void WriteRawData(const std::string& name, DWORD type, const void* data, DWORD size);

    // Replace List's contents with the names under the current key; false when none is open
    // or the enumeration fails (List then empty).
    bool GetKeyNames(TStringList& list) const;
    // The names as stored, for reopening a key whose name the ANSI code page cannot spell.
    bool GetKeyNames(std::vector<std::wstring>& names) const;
    bool GetValueNames(TStringList& list) const;
    // Every value of the current key with its name, type and data, one registry call each
    // (asked by name it would be three: the type, the size, the data). False when none is
    // open or the enumeration fails.
    bool ForEachValue(const std::function<void(const std::wstring& name, DWORD type,
                                               const std::vector<BYTE>& data)>& visit) const;
    bool HasSubKeys() const;

    // Deletes Key with every subkey and value under it (from the root; the current key is
    // closed first when it lies inside). False when it is absent or could not be deleted
    // completely.
    bool DeleteKey(const std::string& key);
    bool DeleteValue(const std::string& name);

private:
    void Require(const char* what) const;
    [[noreturn]] void Fail(const std::string& what, const std::string& name) const;
    void Write(const std::string& name, DWORD type, const void* data, DWORD size);

    HKEY root_ = HKEY_CURRENT_USER;
    REGSAM access_ = KEY_ALL_ACCESS;
    UniqueHKey key_;
    std::wstring path_;
    LONG lastError_ = ERROR_SUCCESS;
};

// The text of string data as RegQueryValueExW returned it: up to its first NUL.
std::wstring RegStringDataWide(const std::vector<BYTE>& data);
// The same in the ANSI code page.
std::string RegStringDataText(const std::vector<BYTE>& data);

// The root key's long name ("HKEY_CURRENT_USER"), or "$%.8x" of an unknown handle.
std::string RootKeyName(HKEY root);

}  // namespace framework
