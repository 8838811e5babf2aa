#include "net/InetCharsetUtils.h"

#include <algorithm>
#include <mutex>

namespace {

struct Row {
    uint32_t cp;
    const char* names;
    const char* display;
};

// Entries 2..79. The first name of each row is the preferred MIME name.
const Row kRows[] = {
    {65001, "utf-8 unicode-1-1-utf-8 unicode-2-0-utf-8 x-unicode20utf8", "Unicode (UTF-8)"},
    {1250, "windows-1250 x-cp1250 cp1250", "Central European (Windows)"},
    {1251, "windows-1251 x-cp1251 cp1251", "Cyrillic (Windows)"},
    {1252, "windows-1252 x-ansi cp1252", "Western European (Windows)"},
    {1253, "windows-1253 cp1253", "Greek (Windows)"},
    {1254, "windows-1254 iso-8859-9-windows-latin5 cp1254", "Turkish (Windows)"},
    {1255, "windows-1255 iso-8859-8-windows-hebrew cp1255", "Hebrew (Windows)"},
    {1256, "windows-1256 cp1256", "Arabic (Windows)"},
    {1257, "windows-1257 cp1257", "Baltic (Windows)"},
    {1258, "windows-1258 cp1258", "Vietnamese (Windows)"},
    {28591, "iso-8859-1 iso_8859-1:1987 iso-ir-100 iso_8859-1 latin1 l1 ibm819 cp819 csisoatin1",
     "Western European (ISO)"},
    {28592, "iso-8859-2 iso_8859-2:1987 iso-ir-101 iso_8859-2 latin2 l2 csisolatin2", "Central European (ISO)"},
    {28593, "iso-8859-3 iso_8859-3:1988 iso-ir-109 iso_8859-3 latin3 l3 csisolatin3", ""},
    {28594, "iso-8859-4 iso_8859-4:1988 iso-ir-110 iso_8859-4 latin4 l4 csisolatin4", "Baltic (ISO)"},
    {28595, "iso-8859-5 iso_8859-5:1988 iso-ir-144 iso_8859-5 cyrillic csisolatincyrillic", "Cyrillic (ISO)"},
    {28596, "iso-8859-6 iso_8859-6:1987 iso-ir-127 iso_8859-6 ecma-114 asmo-708 arabic csisolatinarabic",
     "Arabic (ISO)"},
    {28597, "iso-8859-7 iso_8859-7:1987 iso-ir-126 iso_8859-7 elot_928 ecma-118 greek greek8 csisolatingreek",
     "Greek (ISO)"},
    {28598, "iso-8859-8 iso_8859-8:1988 iso-ir-138 iso_8859-8 hebrew csisolatinhebrew", "Hebrew (ISO-Visual)"},
    {38598, "iso-8859-8-i", "Hebrew (ISO-Logical)"},
    {28599, "iso-8859-9 iso_8859-9:1989 iso-ir-148 iso_8859-9 latin5 l5 csisolatin5", "Turkish (ISO)"},
    {28603, "iso-8859-13", "Estonian (ISO)"},
    {28605, "iso-8859-15 iso_8859-15 latin-9 l9", "Latin 9 (ISO)"},
    {50220, "iso-2022-jp", ""},
    {50221, "csiso2022jp", ""},
    {50222, "iso-2022-jp-2", ""},
    {50225, "iso-2022-kr csiso2022kr", ""},
    {50229, "iso-2022-cn", ""},
    {50227, "x-cp50227", ""},
    {51932, "euc-jp cseucpkdfmtjapanese x-euc-jp", ""},
    {20936, "gb_2312-80 x-cp20936", ""},
    {936, "gb2312 csgb2312 gbk cp936 ms936 windows-936", "Chinese Simplified (GB2312)"},
    {52936, "hz-gb-2312", "Chinese Simplified (HZ)"},
    {54936, "gb18030", "Chinese Simplified (GB18030)"},
    {51936, "euc-cn x-euc-cn", ""},
    {20866, "koi8-r cskoi8r koi koi8", "Cyrillic (KOI8-R)"},
    {21866, "koi8-u koi8-ru", "Cyrillic (KOI8-U)"},
    {1200, "utf-16 ucs-2 unicode iso-10646-ucs-2", ""},
    {1201, "utf-16be unicodefffe", ""},
    {65000, "utf-7 csunicode11utf7 unicode-1-1-utf-7 x-unicode20utf7", "Unicode (UTF-7)"},
    {932, "shift_jis csshiftjis ms_kanji sjis x-sjis", "Japanese (JIS)"},
    {950, "big5 cn-big5 csbig5 x-x-big5", "Chinese Traditional (Big5)"},
    {949, "ks_c_5601-1987 csksc56011987 korean ks_c_5601 ks_c_5601-1989 ksc_5601 ksc5601", "Korean"},
    {51949, "euc-kr cseuckr", "Korean (EUC)"},
    {874, "windows-874 tis-620 dos-874 iso-8859-11", "Thai (Windows)"},
    {37, "ibm037 cp037 csibm037 ebcdic-cp-us ebcdic-cp-ca ebcdic-cp-wt ebcdic-cp-nl", ""},
    {437, "ibm437 cp437 437 cspc8codepage437", ""},
    {500, "ibm500 cp500 csibm500 ebcdic-cp-be ebcdic-cp-ch", ""},
    {850, "ibm850 cp850 850 cspc850multilingual", ""},
    {852, "ibm852 cp852 852 cspcp852", ""},
    {855, "ibm855 cp855 855 csibm855", ""},
    {857, "ibm857 cp857 857 csibm857", ""},
    {858, "ibm00858 ccsid00858 cp00858 pc-multilingual-850+euro", ""},
    {860, "ibm860 cp860 860 csibm860", ""},
    {861, "ibm861 cp861 861 cp-is csibm861", ""},
    {862, "ibm862 cp862 862 dos-862 cspc862latinhebrew", ""},
    {863, "ibm863 cp863 863 csibm863", ""},
    {864, "ibm864 cp864 csibm864", ""},
    {865, "ibm865 cp865 865 csibm865", ""},
    {866, "ibm866 cp866 866 csibm866", ""},
    {869, "ibm869 cp869 869 cp-gr csibm869", ""},
    {870, "ibm870 cp870 csibm870 ebcdic-cp-roece ebcdic-cp-yu", ""},
    {1026, "ibm1026 cp1026 csibm1026", ""},
    {1047, "ibm1047 cp1047", ""},
    {1140, "ibm01140 ccsid01140 cp01140 ebcdic-us-37+euro", ""},
    {1141, "ibm01141 ccsid01141 cp01141 ebcdic-de-273+euro", ""},
    {1142, "ibm01142 ccsid01142 cp01142 ebcdic-dk-277+euro", ""},
    {1143, "ibm01143 ccsid01143 cp01143 ebcdic-fi-278+euro", ""},
    {1144, "ibm01144 ccsid01144 cp01144 ebcdic-it-280+euro", ""},
    {1145, "ibm01145 ccsid01145 cp01145 ebcdic-es-284+euro", ""},
    {1146, "ibm01146 ccsid01146 cp01146 ebcdic-gb-285+euro", ""},
    {1147, "ibm01147 ccsid01147 cp01147 ebcdic-fr-297+euro", ""},
    {1148, "ibm01148 ccsid01148 cp01148 ebcdic-international-500+eur", ""},
    {1149, "ibm01149 ccsid01149 cp01149 ebcdic-is-871+euro", ""},
    {10000, "macintosh", ""},
    {12000, "utf-32", ""},
    {12001, "utf-32be", ""},
    {20127, "us-ascii ascii us ansi_x3.4-1968 iso-ir-6 ansi_x3.4-1986 iso_646.irv:1991 iso646-us ibm367 cp367 csascii",
     ""},
    {20261, "t.61-8bit x-cp20261", ""},
};
static_assert(sizeof kRows / sizeof kRows[0] == 78, "entries 2..79");

const uint16_t kSingleByteRanges[][2] = {
    {37, 37},       {437, 437},     {500, 500},     {708, 708},     {720, 720},     {737, 737},
    {775, 775},     {850, 850},     {852, 852},     {855, 855},     {857, 858},     {860, 866},
    {869, 869},     {874, 875},     {1026, 1026},   {1140, 1145},   {1147, 1147},   {1149, 1149},
    {1250, 1258},   {10000, 10000}, {10004, 10007}, {10010, 10010}, {10017, 10017}, {10021, 10021},
    {10029, 10029}, {10079, 10079}, {10081, 10082}, {20105, 20108}, {20127, 20127}, {20269, 20269},
    {20273, 20273}, {20277, 20278}, {20280, 20280}, {20284, 20285}, {20290, 20290}, {20297, 20297},
    {20420, 20420}, {20423, 20424}, {20833, 20833}, {20838, 20838}, {20866, 20866}, {20871, 20871},
    {20880, 20880}, {20905, 20905}, {20924, 20924}, {21025, 21025}, {21027, 21027}, {21866, 21866},
    {28591, 28599}, {28605, 28605}, {38598, 38598}};

int IndexIn(const std::vector<TInetCharsetInfo>& table, UINT cp) {
    if (cp == 0) return 0;
    if (cp == 708) cp = 28596;
    for (size_t i = 2; i < table.size(); ++i)
        if (table[i].CodePage == cp) return int(i);
    return 1;
}

}  // namespace

bool InetIsSingleByteCodePage(UINT CodePage) {
    for (const auto& r : kSingleByteRanges)
        if (CodePage >= r[0] && CodePage <= r[1]) return true;
    return false;
}

UINT InetSystemCodePage() {
    static const UINT cp = GetACP();
    return cp;
}

int InetSystemMaxCharSize() {
    static const int size = [] {
        CPINFO info{};
        return GetCPInfo(InetSystemCodePage(), &info) ? int(info.MaxCharSize) : 1;
    }();
    return size;
}

bool InetSystemIsSingleByte() { return InetIsSingleByteCodePage(InetSystemCodePage()); }

std::vector<TInetCharsetInfo> InetBuildCharsetTable(UINT SystemCodePage) {
    std::vector<TInetCharsetInfo> table;
    table.push_back({0, SystemCodePage, "dummy", ""});
    table.push_back({1, 65536, "", ""});
    for (const Row& r : kRows) table.push_back({uint8_t(table.size()), r.cp, r.names, r.display});
    int own = IndexIn(table, SystemCodePage);
    table[0].MimeNames = own == 1 ? std::string() : table[size_t(own)].MimeNames;
    return table;
}

const std::vector<TInetCharsetInfo>& InetCharsetTable() {
    static const std::vector<TInetCharsetInfo> table = InetBuildCharsetTable(InetSystemCodePage());
    return table;
}

void InetInitCharsetTable() { InetCharsetTable(); }

int InetCodePageToCharsetIndex(UINT CodePage) { return IndexIn(InetCharsetTable(), CodePage); }
