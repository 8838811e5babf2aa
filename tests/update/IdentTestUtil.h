// Fixtures the identification tests share: where the build put the fixture DLLs, the
// program and Wine's own PE files; a version-resource builder for hostile blobs; Uninstall
// entries written into both registry views and removed afterwards.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "framework/Registry.h"
#include "framework/SysUtils.h"

namespace identtest {

// A Unix path from the environment as Wine's Z: drive sees it, with a trailing backslash
// when Folder.
inline std::string EnvPath(const char* name, bool folder) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::string();
    std::string path = std::string("Z:") + value;
    for (char& c : path)
        if (c == '/') c = '\\';
    return folder ? framework::IncludeTrailingPathDelimiter(path) : path;
}

inline std::string FixtureDir() { return EnvPath("VA_FIXTURES", true); }
inline std::string Fixture(const std::string& name) { return FixtureDir() + name; }
inline std::string VoltAtlasExe() { return EnvPath("VA_VOLTATLAS", false); }
inline std::string WinePeDir() { return EnvPath("VA_WINE_PE_DIR", true); }

// Copies a fixture to Path (creating its folder).
inline void CopyFixture(const std::string& name, const std::string& path) {
    framework::ForceDirectories(framework::ExtractFilePath(path));
    ASSERT_TRUE(CopyFileA(Fixture(name).c_str(), path.c_str(), FALSE)) << name << " -> " << path;
}

inline void WriteText(const std::string& path, const std::string& text) {
    framework::ForceDirectories(framework::ExtractFilePath(path));
    ASSERT_TRUE(framework::WriteFileBytes(path, text)) << path;
}

// ---------------------------------------------------------------------------------------------
// Version resources written byte by byte (32-bit layout).

class Blob {
public:
    static void Pad(std::string& b) {
        while (b.size() % 4) b.push_back('\0');
    }
    static void Put16(std::string& b, size_t at, uint16_t v) {
        b[at] = static_cast<char>(v & 0xFF);
        b[at + 1] = static_cast<char>(v >> 8);
    }
    // A block: header, key, padding, value, padding, children. Length may be forced.
    static std::string Block(const std::string& key, const std::string& value, uint16_t type, uint16_t vlen,
                             const std::string& children = std::string(), int forcedLength = -1) {
        std::string b(6, '\0');
        for (char c : key) {
            b.push_back(c);
            b.push_back('\0');
        }
        b.append(2, '\0');
        Pad(b);
        b += value;
        if (!children.empty()) {
            Pad(b);
            b += children;
        }
        Put16(b, 0, static_cast<uint16_t>(forcedLength >= 0 ? forcedLength : b.size()));
        Put16(b, 2, vlen);
        Put16(b, 4, type);
        Pad(b);
        return b;
    }
    static std::string Wide(const std::string& s) {
        std::string w;
        for (char c : s) {
            w.push_back(c);
            w.push_back('\0');
        }
        return w + std::string(2, '\0');
    }
    static std::string Text(const std::string& key, const std::string& value) {
        return Block(key, Wide(value), 1, static_cast<uint16_t>(value.size() + 1));
    }
    static std::string Binary(const std::string& key, const std::string& bytes, uint16_t vlen) {
        return Block(key, bytes, 0, vlen);
    }
    static std::string Fixed(uint32_t ms, uint32_t ls, uint32_t flags = 0) {
        VS_FIXEDFILEINFO f{};
        f.dwSignature = VS_FFI_SIGNATURE;
        f.dwStrucVersion = 0x00010000;
        f.dwFileVersionMS = f.dwProductVersionMS = ms;
        f.dwFileVersionLS = f.dwProductVersionLS = ls;
        f.dwFileFlagsMask = 0x3F;
        f.dwFileFlags = flags;
        return std::string(reinterpret_cast<const char*>(&f), sizeof f);
    }
    static std::string Table(const std::string& langKey, const std::string& entries) {
        return Block(langKey, std::string(), 1, 0, entries);
    }
    static std::string Root(const std::string& children, uint32_t flags = 0) {
        return Block("VS_VERSION_INFO", Fixed(0x00010002, 0x00030004, flags), 0, 52, children);
    }
    static std::string Strings(const std::string& tables) { return Block("StringFileInfo", std::string(), 1, 0, tables); }
    static std::string Translation(const std::vector<uint32_t>& values) {
        std::string v;
        for (uint32_t t : values) v.append(reinterpret_cast<const char*>(&t), 4);
        return Block("VarFileInfo", std::string(), 1, 0, Block("Translation", v, 0, static_cast<uint16_t>(v.size())));
    }
};

// ---------------------------------------------------------------------------------------------
// Uninstall entries in HKLM (both views) and HKCU, removed when the fixture goes.

enum class Hive { User, Machine64, Machine32 };

class UninstallEntries {
public:
    UninstallEntries() = default;
    ~UninstallEntries() {
        for (const auto& [root, view, path] : made_) {
            framework::TRegistry reg(root, KEY_ALL_ACCESS | view);
            reg.DeleteKey(path);
        }
    }
    UninstallEntries(const UninstallEntries&) = delete;
    UninstallEntries& operator=(const UninstallEntries&) = delete;

    void Add(Hive hive, const std::string& subkey, const std::vector<std::pair<std::string, std::string>>& values) {
        const HKEY root = hive == Hive::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        const REGSAM view = hive == Hive::Machine32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
        const std::string path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + subkey;
        framework::TRegistry reg(root, KEY_ALL_ACCESS | view);
        ASSERT_TRUE(reg.OpenKey(path, true)) << path;
        made_.push_back({root, view, path});
        for (const auto& [name, value] : values) reg.WriteString(name, value);
    }

private:
    struct Made {
        HKEY root;
        REGSAM view;
        std::string path;
    };
    std::vector<Made> made_;
};

}  // namespace identtest
