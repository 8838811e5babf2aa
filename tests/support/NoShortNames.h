// A volume without 8.3 short names (exFAT, the usual format of a stick; NTFS with their
// creation off), as the short-name lookup sees it: every path comes back as it was given.
// Tests put it in framework::ShortPathApi().
#pragma once

#include <windows.h>

#include <cwchar>

namespace testsupport {

inline DWORD WINAPI LongNameBack(LPCWSTR longPath, LPWSTR shortPath, DWORD size) {
    const DWORD n = static_cast<DWORD>(wcslen(longPath));
    if (size <= n) return n + 1;
    wcscpy(shortPath, longPath);
    return n;
}

}  // namespace testsupport
