// The program's settings store: string values under HKCU\SOFTWARE\Quillmark\VoltAtlas
// (flags as "1" / "0"). GUI thread.
#pragma once

#include <string>

// The settings key, below HKEY_CURRENT_USER.
inline constexpr const char* kSettingsKey = "SOFTWARE\\Quillmark\\VoltAtlas";

// The value's text; empty when the key or the value is absent or the value is of another
// type than a string (its default then holds). A missing key is not created.
std::string ReadSetting(const std::string& Name);
// Writes a REG_SZ value; false when the key could not be opened or created. A refused
// write raises framework::ERegistryException.
bool WriteSetting(const std::string& Name, const std::string& Value);
// WriteSetting(Name, "1" or "0").
bool WriteBoolSetting(const std::string& Name, bool Value);
