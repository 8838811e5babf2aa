// The bytes of a text file in the encodings the settings files come in: UTF-16 LE and UTF-8,
// each with its byte order mark, and ANSI (the system code page).
#pragma once

#include <windows.h>

#include <string>

#include "framework/SysUtils.h"

namespace testsupport {

inline std::string Utf16LeBytes(const std::wstring& text) {
    return std::string("\xFF\xFE", 2) + std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

inline std::string Utf8Bytes(const std::wstring& text) {
    std::string bytes(text.size() * 4, '\0');
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                                      static_cast<int>(bytes.size()), nullptr, nullptr);
    bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return "\xEF\xBB\xBF" + bytes;
}

inline std::string AnsiBytes(const std::wstring& text) { return framework::WideToAnsi(text); }

}  // namespace testsupport
