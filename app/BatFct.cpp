#include "app/BatFct.h"

#include "foundation/JoryUtils.h"
#include "framework/Registry.h"

std::string ReadSetting(const std::string& Name) {
    framework::TRegistry reg(HKEY_CURRENT_USER, Is64BitWindows() ? KEY_READ | KEY_WOW64_64KEY : KEY_ALL_ACCESS);
    // A read never makes the key: after the portable close it must stay gone.
    if (!reg.OpenKey(kSettingsKey, false)) return std::string();
    // A value of another type (a settings.ini may carry it as a number) reads as absent, that
    // is as its default; the settings dialog then writes it back as text.
    const framework::TRegDataType type = reg.GetDataType(Name);
    if (type != framework::TRegDataType::rdString && type != framework::TRegDataType::rdExpandString)
        return std::string();
    return reg.ReadString(Name);
}

bool WriteSetting(const std::string& Name, const std::string& Value) {
    framework::TRegistry reg(HKEY_CURRENT_USER, KEY_ALL_ACCESS);
    if (!reg.OpenKey(kSettingsKey, true)) return false;
    reg.WriteString(Name, Value);
    return true;
}

bool WriteBoolSetting(const std::string& Name, bool Value) { return WriteSetting(Name, Value ? "1" : "0"); }
