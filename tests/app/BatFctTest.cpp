#include "app/BatFct.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "framework/Registry.h"

namespace {

// The settings key is the program's own: whatever it held before a test is put back after.
class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        HKEY key = nullptr;
        existed_ = RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (!existed_) return;
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD nameLen = sizeof name;
            DWORD type = 0;
            BYTE data[4096];
            DWORD dataLen = sizeof data;
            if (RegEnumValueA(key, i, name, &nameLen, nullptr, &type, data, &dataLen) != ERROR_SUCCESS) break;
            saved_.push_back({std::string(name, nameLen), {type, std::string(data, data + dataLen)}});
        }
        RegCloseKey(key);
        RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
    }

    void TearDown() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
        if (!existed_) return;
        HKEY key = nullptr;
        RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        for (const auto& [name, value] : saved_)
            RegSetValueExA(key, name.c_str(), 0, value.first, reinterpret_cast<const BYTE*>(value.second.data()),
                           static_cast<DWORD>(value.second.size()));
        RegCloseKey(key);
    }

    static bool KeyExists() {
        return framework::TRegistry(HKEY_CURRENT_USER, KEY_READ).KeyExists(kSettingsKey);
    }

    static DWORD StoredType(const std::string& name) {
        framework::TRegistry reg(HKEY_CURRENT_USER, KEY_READ);
        framework::TRegDataInfo info;
        if (!reg.OpenKey(kSettingsKey, false) || !reg.GetDataInfo(name, info)) return REG_NONE;
        return info.RegType;
    }

    bool existed_ = false;
    std::vector<std::pair<std::string, std::pair<DWORD, std::string>>> saved_;
};

// Reading never makes the key (the portable close must leave none behind); a key without
// the value reads as the default too.
TEST_F(SettingsStore, ReadingWithoutAKeyGivesEmptyAndLeavesNoKey) {
    ASSERT_FALSE(KeyExists());
    EXPECT_EQ(ReadSetting("MinSysTray"), "");
    EXPECT_FALSE(KeyExists());
    ASSERT_TRUE(framework::TRegistry().OpenKey(kSettingsKey, true));
    EXPECT_EQ(ReadSetting("MinSysTray"), "");  // the key alone does not make a value
}

TEST_F(SettingsStore, WrittenStringsReadBackAsStoredStrings) {
    EXPECT_TRUE(WriteSetting("Path", "C:\\Program Files\\VoltAtlas\\caf\xe9.exe"));
    EXPECT_EQ(ReadSetting("Path"), "C:\\Program Files\\VoltAtlas\\caf\xe9.exe");
    EXPECT_EQ(StoredType("Path"), static_cast<DWORD>(REG_SZ));
    EXPECT_TRUE(WriteSetting("Path", ""));
    EXPECT_EQ(ReadSetting("Path"), "");
    EXPECT_EQ(StoredType("Path"), static_cast<DWORD>(REG_SZ));
}

TEST_F(SettingsStore, FlagsAreStoredAsOneOrZero) {
    EXPECT_TRUE(WriteBoolSetting("MinSysTray", true));
    EXPECT_EQ(ReadSetting("MinSysTray"), "1");
    // Off is stored as "0", not as a missing value.
    EXPECT_TRUE(WriteBoolSetting("MinSysTray", false));
    EXPECT_EQ(ReadSetting("MinSysTray"), "0");
    EXPECT_EQ(StoredType("MinSysTray"), static_cast<DWORD>(REG_SZ));
}

// A value of another kind (a settings.ini may carry MinSysTray as a number) reads as the
// default, never as an error that would stop the activation or the settings dialog.
TEST_F(SettingsStore, AValueOfAnotherKindReadsAsTheDefault) {
    const struct {
        const char* kind;
        std::function<void(framework::TRegistry&)> write;
        std::string read;
    } cases[] = {
        {"DWORD", [](framework::TRegistry& r) { r.WriteInteger("MinSysTray", 1); }, ""},
        {"binary", [](framework::TRegistry& r) { r.WriteBinaryData("MinSysTray", "1"); }, ""},
        {"expandable text", [](framework::TRegistry& r) { r.WriteExpandString("MinSysTray", "1"); }, "1"},
        {"text", [](framework::TRegistry& r) { r.WriteString("MinSysTray", "1"); }, "1"},
    };
    for (const auto& c : cases) {
        framework::TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kSettingsKey, true));
        c.write(reg);
        EXPECT_EQ(ReadSetting("MinSysTray"), c.read) << c.kind;
    }
}

}  // namespace
