// The charset table and conversions of single-byte code pages; python's codecs read what
// this test converted (net_codepages_python).
#include <gtest/gtest.h>

#include <fstream>

#include "net/InetCharsetUtils.h"
#include "net/InetUtils.h"
#include "NetTestUtil.h"

namespace {

TEST(InetCharset, TableShape) {
    const auto& table = InetCharsetTable();
    ASSERT_EQ(table.size(), 80u);
    for (size_t i = 0; i < table.size(); ++i) EXPECT_EQ(table[i].Index, i);
    EXPECT_EQ(table[0].CodePage, 1252u);
    EXPECT_EQ(table[0].MimeNames, table[5].MimeNames);
    EXPECT_EQ(table[0].MimeNames.rfind("windows-1252", 0), 0u);
    EXPECT_EQ(table[1].CodePage, 65536u);
    EXPECT_EQ(table[1].MimeNames, "");
    struct {
        size_t index;
        uint32_t cp;
        const char* first;
        const char* display;
    } rows[] = {{2, 65001, "utf-8", "Unicode (UTF-8)"}, {17, 28596, "iso-8859-6", "Arabic (ISO)"},
                {20, 38598, "iso-8859-8-i", "Hebrew (ISO-Logical)"}, {38, 1200, "utf-16", ""},
                {41, 932, "shift_jis", "Japanese (JIS)"}, {45, 874, "windows-874", "Thai (Windows)"},
                {53, 858, "ibm00858", ""}, {75, 10000, "macintosh", ""}, {79, 20261, "t.61-8bit", ""}};
    for (const auto& r : rows) {
        const auto& e = table[r.index];
        EXPECT_EQ(e.CodePage, r.cp) << r.index;
        EXPECT_EQ(e.MimeNames.substr(0, e.MimeNames.find(' ')), r.first) << r.index;
        EXPECT_EQ(e.DisplayName, r.display) << r.index;
    }
    EXPECT_EQ(table[12].MimeNames, "iso-8859-1 iso_8859-1:1987 iso-ir-100 iso_8859-1 latin1 l1 ibm819 cp819 csisoatin1");
    EXPECT_EQ(table[32].MimeNames, "gb2312 csgb2312 gbk cp936 ms936 windows-936");
    EXPECT_EQ(table[73].MimeNames, "ibm01148 ccsid01148 cp01148 ebcdic-international-500+eur");
}

TEST(InetCharset, IndexAndSystemEntry) {
    EXPECT_EQ(InetCodePageToCharsetIndex(0), 0);
    EXPECT_EQ(InetCodePageToCharsetIndex(708), 17);
    EXPECT_EQ(InetCodePageToCharsetIndex(28596), 17);
    EXPECT_EQ(InetCodePageToCharsetIndex(1252), 5);
    EXPECT_EQ(InetCodePageToCharsetIndex(12345), 1);
    // A system on code page 708 carries entry 17's names; an unknown page none.
    auto arabic = InetBuildCharsetTable(708);
    EXPECT_EQ(arabic[0].CodePage, 708u);
    EXPECT_EQ(arabic[0].MimeNames, arabic[17].MimeNames);
    EXPECT_EQ(InetBuildCharsetTable(12345)[0].MimeNames, "");

    EXPECT_EQ(InetSystemCodePage(), 1252u);
    EXPECT_EQ(InetSystemMaxCharSize(), 1);
    EXPECT_TRUE(InetSystemIsSingleByte());
    for (UINT cp : {37u, 858u, 861u, 875u, 1148u - 1u, 1258u, 10082u, 28599u, 38598u}) EXPECT_TRUE(InetIsSingleByteCodePage(cp)) << cp;
    for (UINT cp : {65001u, 932u, 1146u, 1148u, 859u, 20936u, 28603u}) EXPECT_FALSE(InetIsSingleByteCodePage(cp)) << cp;
}

// Every byte of each single-byte page of the table, converted to UTF-8 one at a time:
// "cp hex,hex,..." per line, "-" for a byte the system does not convert.
TEST(InetCharset, WritesSingleBytePagesForThePythonCheck) {
    std::ofstream f(nettest::OutputFolder() + "codepages.txt", std::ios::binary);
    ASSERT_TRUE(f);
    int converted = 0;
    for (const auto& e : InetCharsetTable()) {
        if (e.Index < 2 || !InetIsSingleByteCodePage(e.CodePage)) continue;
        std::string line = std::to_string(e.CodePage) + " ";
        bool any = false;
        for (int b = 0; b < 256; ++b) {
            std::string utf8 = InetToUtf8(std::string(1, char(b)), e.CodePage);
            if (b) line += ",";
            line += utf8.empty() ? "-" : nettest::Hex(utf8);
            any = any || !utf8.empty();
        }
        if (any) {
            ++converted;
            f << line << "\n";
        }
    }
    EXPECT_GE(converted, 30);
}

}  // namespace
