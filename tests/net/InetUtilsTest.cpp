// The shared internet utilities: ticks, dates, random numbers, hex and Base64, splicing,
// hosts, ALPN lists, long paths, file facts and code pages.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>

#include "framework/StringList.h"
#include "framework/SysUtils.h"
#include "net/InetUtils.h"
#include "NetTestUtil.h"
#include "support/TempDir.h"

namespace {

TDateTime Date(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
    TDateTime date = 0, time = 0;
    EXPECT_TRUE(InetTryEncodeDate(y, m, d, date));
    EXPECT_TRUE(InetTryEncodeTime(h, mi, s, time));
    return InetCombineDateTime(date, time);
}

TEST(InetTime, TickDiffCountsAcrossTheWrap) {
    EXPECT_EQ(InetTickDiff(0xFFFFFFF0u, 0x10u), 32u);
    EXPECT_EQ(InetTickDiff(100, 350), 250u);
    EXPECT_EQ(InetCurrentThreadId(), GetCurrentThreadId());
}

TEST(InetTime, ZoneText) {
    EXPECT_EQ(InetZoneText(-60), "+0100");
    EXPECT_EQ(InetZoneText(0), "+0000");
    EXPECT_EQ(InetZoneText(300), "-0500");
    EXPECT_EQ(InetZoneText(-345), "+0545");
}

TEST(InetTime, Rfc822Text) {
    struct {
        TDateTime date;
        const char* text;
    } cases[] = {
        {Date(1994, 11, 6, 8, 49, 37), "Sun, 06 Nov 1994 08:49:37"},
        {Date(1900, 1, 1), "Mon, 01 Jan 1900 00:00:00"},
        {Date(2026, 12, 10, 23, 59, 59), "Thu, 10 Dec 2026 23:59:59"},
        // Before 1900 and the date 0: the day name stays a real one.
        {0, "Sat, 30 Dec 1899 00:00:00"},
        {Date(1899, 12, 29), "Fri, 29 Dec 1899 00:00:00"},
        {Date(1850, 6, 15, 12, 0, 0), "Sat, 15 Jun 1850 12:00:00"},
        {Date(1601, 1, 1), "Mon, 01 Jan 1601 00:00:00"},
    };
    for (const auto& c : cases) EXPECT_EQ(InetRfc822DateText(c.date, false), c.text);
    EXPECT_EQ(InetRfc822DateText(Date(1994, 11, 6), true), "Sun, 06 Nov 1994 00:00:00 " + InetTimeZoneText());
    EXPECT_EQ(InetIso8601Text(Date(2024, 2, 29, 7, 5, 3), false), "2024-02-29T07:05:03");
}

TEST(InetTime, Rfc822Parse) {
    struct {
        const char* text;
        TDateTime want;
    } cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", Date(1994, 11, 6, 8, 49, 37)},
        {"Sun, 6 Nov 1994 08:49:37 GMT", Date(1994, 11, 6, 8, 49, 37)},
        {"Sun, 06 Nov 1994", Date(1994, 11, 6)},      // 16 characters: too short
        {"Sun, 06 Nov 1994 ", Date(1994, 11, 6)},     // date only
        {"Sun, 06 Xyz 1994 08:49:37 GMT", 0},
        {"Sun, 31 Feb 1994 08:49:37 GMT", 0},
        {"Sun, 06 Nov 1994 28:49:37 GMT", Date(1994, 11, 6)},  // bad time: the date alone
        {"", 0},
    };
    for (const auto& c : cases) {
        TDateTime want = std::string(c.text).size() <= 16 ? 0 : c.want;
        EXPECT_DOUBLE_EQ(InetParseRfc822Date(c.text, false), want) << c.text;
    }
}

// The local bias and ToLocal; the zone-specific entries (net_tz_*) run this under several TZ
// values and pass the bias Wine should then report.
TEST(InetTime, LocalConversion) {
    const int32_t bias = InetTimeZoneBias();
    if (const char* want = std::getenv("VA_TZ_BIAS")) {
        EXPECT_EQ(bias, std::atoi(want));
        EXPECT_EQ(InetTimeZoneText(), std::getenv("VA_TZ_TEXT"));
    }
    const TDateTime utc = Date(1994, 11, 6, 8, 49, 37);
    const double minute = 1.0 / 1440;
    EXPECT_NEAR(InetParseRfc822Date("Sun, 06 Nov 1994 08:49:37 GMT", true), utc - bias * minute, 1e-7);
    // "+0130": 90 minutes subtracted, then the local bias.
    EXPECT_NEAR(InetParseRfc822Date("Sun, 06 Nov 1994 08:49:37 +0130", true), utc - 90 * minute - bias * minute, 1e-7);
    EXPECT_NEAR(InetParseRfc822Date("Sun, 06 Nov 1994 08:49:37 -0200", true), utc + 120 * minute - bias * minute, 1e-7);
    // Minutes of the offset are read whole (+0545 is not +0500).
    EXPECT_NEAR(InetParseRfc822Date("Sun, 06 Nov 1994 08:49:37 +0545", true), utc - 345 * minute - bias * minute, 1e-7);
    // Round trip through the zone text of this machine.
    const TDateTime local = Date(2026, 3, 1, 12, 0, 0);
    EXPECT_NEAR(InetParseRfc822Date(InetRfc822DateText(local, true), true), local, 1e-7);
}

TEST(InetTime, FileTimeToDate) {
    SYSTEMTIME st{};
    st.wYear = 2001;
    st.wMonth = 9;
    st.wDay = 9;
    st.wHour = 1;
    st.wMinute = 46;
    st.wSecond = 40;
    FILETIME ft;
    ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
    EXPECT_NEAR(InetFileTimeToDate(ft), Date(2001, 9, 9, 1, 46, 40), 1e-8);
}

// The unit's formats follow the thread locale they are filled from.
TEST(InetFormats, FollowTheThreadLocale) {
    const LCID original = GetThreadLocale();
    const TInetFormatSettings atStart = InetFormatSettings();
    struct Case {
        LANGID lang;
        const char *date, *decimal, *thousand, *january, *monday, *shortMonday;
    };
    for (const Case& c : {Case{0x0409, "/", ".", ",", "January", "Monday", "Mon"},
                          Case{0x0407, ".", ",", ".", "Januar", "Montag", "Mo"}}) {
        // (Short day names differ between systems in a trailing dot: compared by prefix.)
        ASSERT_TRUE(SetThreadLocale(MAKELCID(c.lang, SORT_DEFAULT)));
        InetInitFormatSettings();
        const TInetFormatSettings& f = InetFormatSettings();
        EXPECT_EQ(f.DateSeparator, c.date) << c.lang;
        EXPECT_EQ(f.TimeSeparator, ":") << c.lang;
        EXPECT_EQ(f.DecimalSeparator, c.decimal) << c.lang;
        EXPECT_EQ(f.ThousandSeparator, c.thousand) << c.lang;
        EXPECT_EQ(f.LongMonthNames[0], c.january) << c.lang;
        EXPECT_EQ(f.LongDayNames[0], c.monday) << c.lang;
        EXPECT_EQ(f.ShortDayNames[0].rfind(c.shortMonday, 0), 0u) << f.ShortDayNames[0];
        EXPECT_NE(f.ShortDateFormat.find(c.date), std::string::npos) << f.ShortDateFormat;
        EXPECT_NE(f.LongTimeFormat.find(':'), std::string::npos) << f.LongTimeFormat;
    }
    SetThreadLocale(original);
    InetInitFormatSettings();
    EXPECT_EQ(InetFormatSettings().DecimalSeparator, atStart.DecimalSeparator);
    EXPECT_EQ(InetFormatSettings().ShortDateFormat, atStart.ShortDateFormat);
    EXPECT_FALSE(atStart.ShortDateFormat.empty());  // filled at start-up
}

TEST(InetRandom, StaysInRangeAndSpreads) {
    int seen[10] = {};
    for (int i = 0; i < 10000; ++i) {
        uint32_t v = InetRandom(10);
        ASSERT_LT(v, 10u);
        ++seen[v];
    }
    for (int n : seen) EXPECT_GT(n, 700);  // 1000 expected each
    EXPECT_EQ(InetRandom(0), 0u);
}

TEST(InetText, Hex) {
    const unsigned char bytes[] = {0x00, 0xAB, 0x7F, 0x10};
    EXPECT_EQ(InetBytesToHex(bytes, 4), "00AB7F10");
    EXPECT_EQ(InetBytesToHex(bytes, 0), "");
    EXPECT_EQ(InetBytesToHex(nullptr, 4), "");
    EXPECT_EQ(InetBytesToHexSep(bytes, 4, ':'), "00:AB:7F:10");
    EXPECT_EQ(InetBytesToHex(std::string("\x01\xfe", 2)), "01FE");
    const std::string digits = "0123456789abcdefABCDEF";
    for (size_t i = 0; i < digits.size(); ++i) {
        EXPECT_TRUE(InetIsHexDigit(digits[i]));
        EXPECT_EQ(InetHexDigitValue(digits[i]), i < 16 ? int(i) : int(i) - 6);
    }
    EXPECT_FALSE(InetIsHexDigit('g'));
    EXPECT_FALSE(InetIsHexDigit(' '));
}

TEST(InetText, Base64) {
    struct {
        const char* data;
        const char* text;
    } cases[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}};
    for (const auto& c : cases) {
        EXPECT_EQ(InetBase64Encode(c.data), c.text);
        std::string back;
        EXPECT_TRUE(InetBase64Decode(c.text, back));
        EXPECT_EQ(back, c.data);
    }
    std::string back;
    EXPECT_TRUE(InetBase64Decode("Zm9v\r\nYmFy", back));
    EXPECT_EQ(back, "foobar");
    // Refused: bytes outside the alphabet, lengths that are not whole groups, padding inside.
    for (const char* bad : {"Zm9", "Z", "Zm9v!mFy", "Zm=v", "Zg==Zm9v", "Z===", "=AAA", "Zg=x"}) {
        back = "untouched";
        EXPECT_FALSE(InetBase64Decode(bad, back)) << bad;
        EXPECT_EQ(back, "") << bad;
    }
    std::string withNul("Zm9v", 4);
    withNul += '\0';
    withNul += "AAA";
    EXPECT_FALSE(InetBase64Decode(withNul, back));
}

// All byte values and lengths 0..70 for python's base64 to read back (net_base64_python).
TEST(InetText, WritesBase64ForThePythonCheck) {
    std::ofstream f(nettest::OutputFolder() + "base64.txt", std::ios::binary);
    ASSERT_TRUE(f);
    std::string all;
    for (int i = 0; i < 256; ++i) all += char(i);
    for (size_t n = 0; n <= 70; ++n) {
        std::string data = all.substr((n * 37) % 200, n);
        std::string text = InetBase64Encode(data);
        std::string back;
        EXPECT_TRUE(InetBase64Decode(text, back));
        EXPECT_EQ(back, data);
        f << nettest::Hex(data) << ' ' << text << '\n';
    }
    f << nettest::Hex(all) << ' ' << InetBase64Encode(all) << '\n';
}

TEST(InetText, NumbersCaseAndSearch) {
    EXPECT_EQ(InetParseDecimal(nullptr), 0);
    EXPECT_EQ(InetParseDecimal("   1234xyz"), 1234);
    EXPECT_EQ(InetParseDecimal("\t12"), 0);
    EXPECT_EQ(InetParseDecimal("99999999999999999999999"), INT64_MAX);
    EXPECT_EQ(InetTrimBlanks("\t a b \r\n"), "a b");
    EXPECT_EQ(InetAsciiLower("ÀBC-x"), "Àbc-x");
    EXPECT_EQ(InetAsciiUpper("àbc-X"), "àBC-X");
    EXPECT_EQ(InetTextCompare("Content-Length", "content-length"), 0);
    EXPECT_NE(InetStrCompare("Content-Length", "content-length"), 0);
    EXPECT_LT(InetTextCompare("a", "B"), 0);
    EXPECT_EQ(InetFindFrom("ab", "xxabxxab", 1), 3u);
    EXPECT_EQ(InetFindFrom("ab", "xxabxxab", 4), 7u);
    EXPECT_EQ(InetFindFrom("ab", "xxabxxab", 8), 0u);
    EXPECT_TRUE(InetStartsText("HTTP/1.1 200", "http/"));
    EXPECT_FALSE(InetStartsText("HT", "http/"));
    EXPECT_TRUE(InetContainsZ("chunked, gzip", "gzip"));
    EXPECT_EQ(InetZStrLength(nullptr), 0u);
    EXPECT_EQ(InetSwapWord(0x12345678u), 0x12347856u);
    EXPECT_EQ(InetPackWords(0x12345678u, 0x9ABCu), 0x9ABC5678u);
    EXPECT_EQ(InetHighWord(0x9ABC5678u), 0x9ABCu);
    std::runtime_error e("  boom \r\n");
    EXPECT_EQ(InetExceptionText(&e), "boom");
    EXPECT_EQ(InetExceptionText(nullptr), "");
}

TEST(InetText, SpliceNeverCopiesMoreThanTheSourceHolds) {
    std::string dest = "abc";
    EXPECT_EQ(InetSplice("XYZ", 1, dest, 2, 3), 2u);
    EXPECT_EQ(dest, "abYZ");
    dest = "ab";
    EXPECT_EQ(InetSplice("XYZ", 1, dest, 100, 5), 2u);  // only "YZ" exists
    EXPECT_EQ(dest, std::string("ab\0\0YZ", 6));
    EXPECT_EQ(InetSplice("XYZ", 3, dest, 1, 1), 0u);
    EXPECT_EQ(InetSplice("XYZ", 0, dest, 1, 0), 0u);
    // Positions whose end lies past any string: refused, Dest untouched (no wrap-round).
    for (size_t pos : {SIZE_MAX, SIZE_MAX - 1, dest.max_size()}) {
        EXPECT_EQ(InetSplice("XYZ", 0, dest, 3, pos), 0u) << pos;
        EXPECT_EQ(dest, std::string("ab\0\0YZ", 6));
    }
    std::string s = "0123456789";
    InetMoveWithin(s, 0, 5, 100);
    EXPECT_EQ(s, "0123401234");
    InetMoveWithin(s, 20, 0, 3);
    EXPECT_EQ(s, "0123401234");
}

TEST(InetHosts, Brackets) {
    EXPECT_EQ(InetBracketHost("::1"), "[::1]");
    EXPECT_EQ(InetBracketHost("[::1]"), "[::1]");
    EXPECT_EQ(InetBracketHost("::ffff:1.2.3.4"), "::ffff:1.2.3.4");
    EXPECT_EQ(InetBracketHost("example.com"), "example.com");
    EXPECT_EQ(InetHostAndPort("fe80::1", "443"), "[fe80::1]:443");
    EXPECT_EQ(InetHostAndPort("localhost", "80"), "localhost:80");
}

TEST(InetAlpn, WireAndList) {
    const uint8_t wire[] = {2, 'h', '2', 8, 'h', 't', 't', 'p', '/', '1', '.', '1'};
    framework::TStringList list;
    EXPECT_EQ(InetAlpnWireToList(wire, sizeof wire, &list), 2);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0], "h2");
    EXPECT_EQ(list[1], "http/1.1");
    EXPECT_EQ(InetAlpnWireToCsv(wire, sizeof wire), "h2,http/1.1");
    // A trailing length pointing past the end: 0, the first names kept.
    const uint8_t past[] = {2, 'h', '2', 9, 'h', 't', 't', 'p'};
    EXPECT_EQ(InetAlpnWireToList(past, sizeof past, &list), 0);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list[0], "h2");
    EXPECT_EQ(InetAlpnWireToCsv(past, sizeof past), "h2");
    const uint8_t zero[] = {2, 'h', '2', 0, 1, 'x'};
    EXPECT_EQ(InetAlpnWireToList(zero, sizeof zero, &list), 0);
    EXPECT_EQ(InetAlpnWireToList(wire, sizeof wire, nullptr), 0);

    framework::TStringList names;
    names.Add("h2");
    names.Add("");
    names.Add("http/1.1");
    std::vector<uint8_t> out;
    EXPECT_EQ(InetAlpnListToWire(&names, out), 12u);
    EXPECT_EQ(out, std::vector<uint8_t>(wire, wire + sizeof wire));
    EXPECT_EQ(InetAlpnListToWire(nullptr, out), 0u);
    names.Add(std::string(255, 'a'));
    EXPECT_EQ(InetAlpnListToWire(&names, out), 12u + 256u);
    names.Add(std::string(256, 'b'));  // no length byte can say 256
    EXPECT_EQ(InetAlpnListToWire(&names, out), 0u);
    EXPECT_TRUE(out.empty());
}

TEST(InetFiles, LongPaths) {
    const std::string p240 = "C:\\" + std::string(237, 'a');
    EXPECT_EQ(InetLongPath(p240), p240);
    const std::string p241 = p240 + "b";
    EXPECT_EQ(InetLongPath(p241), "\\\\?\\" + p241);
    const std::string unc = "\\\\server\\" + std::string(232, 'c');
    ASSERT_EQ(unc.size(), 241u);
    EXPECT_EQ(InetLongPath(unc), "\\\\?\\UNC\\server\\" + std::string(232, 'c'));
    EXPECT_EQ(InetLongPath("\\\\?\\" + p241), "\\\\?\\" + p241);
}

TEST(InetFiles, SizeTimeAndVersion) {
    testsupport::TempDir dir;
    // A file deep enough to need the long form.
    std::string folder = dir.Path();
    while (folder.size() < 300) {
        folder += std::string(40, 'd') + "\\";
        ASSERT_TRUE(CreateDirectoryW(framework::AnsiToWide(InetLongPath(folder)).c_str(), nullptr));
    }
    const std::string name = folder + "data.bin";
    {
        HANDLE h = CreateFileW(framework::AnsiToWide(InetLongPath(name)).c_str(), GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD written;
        WriteFile(h, "12345", 5, &written, nullptr);
        CloseHandle(h);
    }
    int64_t size;
    TDateTime date;
    ASSERT_TRUE(InetFileInfo(name, size, date));
    EXPECT_EQ(size, 5);
    SYSTEMTIME now;
    GetSystemTime(&now);
    TDateTime today = 0;
    InetTryEncodeDate(now.wYear, now.wMonth, now.wDay, today);
    EXPECT_NEAR(date, today + (now.wHour * 60 + now.wMinute) / 1440.0, 0.01);
    EXPECT_EQ(InetFileSizeOf(name), 5);
    EXPECT_FALSE(InetFileInfo(folder + "missing", size, date));
    EXPECT_EQ(size, -1);
    EXPECT_EQ(date, 0);

    std::string version = "x", description = "y";
    EXPECT_FALSE(InetFileVersionStrings(name, version, description));
    EXPECT_EQ(version, "");
    EXPECT_EQ(description, "");
    // Wine's own DLLs carry version resources.
    char sys[MAX_PATH];
    GetSystemDirectoryA(sys, MAX_PATH);
    EXPECT_TRUE(InetFileVersionStrings(std::string(sys) + "\\kernel32.dll", version, description));
    EXPECT_FALSE(version.empty());
}

TEST(InetFiles, TrustTexts) {
    std::string text;
    EXPECT_EQ(InetVerifyTrust("C:\\no\\such\\file.exe", false, false, text), -1);
    EXPECT_EQ(text, "Program File Not Found - C:\\no\\such\\file.exe");
    // The test program itself is not signed.
    const LONG own = InetVerifyTrust(framework::GetModuleFileNameText(), false, false, text);
    EXPECT_NE(own, 0);
    EXPECT_EQ(text, InetTrustResultText(own));
    EXPECT_EQ(InetTrustResultText(0), "Trusted Code");
    EXPECT_EQ(InetTrustResultText(LONG(0x800B0100)), "Unsigned Code");
    EXPECT_EQ(InetTrustResultText(LONG(0x800B0111)), "Certificate Marked as Untrusted by the User");
    EXPECT_EQ(InetTrustResultText(LONG(0x80070002)).rfind("Trust Error: ", 0), 0u);
}

TEST(InetCodePages, Conversions) {
    const std::string latin1 = "caf\xe9 \xfc";
    EXPECT_EQ(InetToUtf8(latin1, 1252), "caf\xc3\xa9 \xc3\xbc");
    EXPECT_EQ(InetFromUtf8("caf\xc3\xa9 \xc3\xbc", 1252), latin1);
    EXPECT_EQ(InetToUtf8(latin1), "caf\xc3\xa9 \xc3\xbc");  // 0: the ANSI page, 1252 here
    EXPECT_EQ(InetConvertCodePage(latin1, 1252, 1252), latin1);
    EXPECT_EQ(InetConvertCodePage("", 1252, 65001), "");
    EXPECT_EQ(InetConvertCodePage("\xc0\xc1", 1251, 65001), "\xd0\x90\xd0\x91");
    // Longer than any small working buffer: the same as piece by piece.
    std::string longText;
    for (int i = 0; i < 5000; ++i) longText += char(0xA0 + i % 96);
    std::string want;
    for (int i = 0; i < 5000; ++i) want += InetToUtf8(std::string(1, char(0xA0 + i % 96)), 1252);
    EXPECT_EQ(InetToUtf8(longText, 1252), want);
    // UTF-16 and UTF-32 are no multi-byte pages: empty, never garbage.
    for (UINT cp : {1200u, 1201u, 12000u, 12001u}) {
        EXPECT_EQ(InetConvertCodePage("abc", cp, 65001), "") << cp;
        EXPECT_EQ(InetConvertCodePage("abc", 65001, cp), "") << cp;
    }
    EXPECT_EQ(InetConvertCodePage("abc", 12345, 65001), "");
    EXPECT_EQ(InetWideToAnsi(L"\u00e9", 1252), "\xe9");
}

}  // namespace
