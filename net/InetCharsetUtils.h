// The charset table: the system's ANSI code page with its properties, and 80 entries pairing
// Windows code pages with their MIME names and display names. Built once at start-up (or on
// first use) and kept for the process; the conversions themselves are in InetUtils.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct TInetCharsetInfo {
    uint8_t Index;        // equal to the position in the table
    uint32_t CodePage;    // 65536: unknown
    std::string MimeNames;  // space-separated aliases, the preferred one first
    std::string DisplayName;
};

// The table for this system (entry 0 is the system's ANSI code page).
const std::vector<TInetCharsetInfo>& InetCharsetTable();
// The table as it is built for a system whose ANSI code page is SystemCodePage.
std::vector<TInetCharsetInfo> InetBuildCharsetTable(UINT SystemCodePage);
// Builds the table now (it is otherwise built on first use).
void InetInitCharsetTable();

// The system ANSI code page, its largest character size (1 when unknown) and whether it is
// a single-byte page.
UINT InetSystemCodePage();
int InetSystemMaxCharSize();
bool InetSystemIsSingleByte();
bool InetIsSingleByteCodePage(UINT CodePage);

// The table index of a code page: 708 gives the entry of 28596, 0 gives 0, unknown pages 1.
int InetCodePageToCharsetIndex(UINT CodePage);
