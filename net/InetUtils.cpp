#include "net/InetUtils.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "framework/Handles.h"
#include "framework/SysUtils.h"
#include "net/InetCrypt.h"

namespace {

const char kMonthNames[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
const char kDayNames[] = "MonTueWedThuFriSatSun";
const char kHexDigits[] = "0123456789ABCDEF";
const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const double kMsPerDay = 86400000.0;

// Days from 1 March of year 0 style civil arithmetic, shifted so 30 December 1899 is day 0.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
const int64_t kEpochDays = DaysFromCivil(1899, 12, 30);

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Whole days and milliseconds of the day; negative dates keep their time as a positive
// fraction, as the date-time convention has it.
void SplitDate(TDateTime date, int64_t& days, int64_t& ms) {
    double whole = std::trunc(date);
    days = static_cast<int64_t>(whole);
    ms = std::llround(std::fabs(date - whole) * kMsPerDay);
    if (ms >= 86400000) {
        ms -= 86400000;
        days += date < 0 ? -1 : 1;
    }
}

int Num(const std::string& s, size_t pos, size_t len) {
    if (pos >= s.size()) return 0;
    return framework::StrToIntDef(s.substr(pos, len), 0);
}

// ---- random state ----
uint32_t gRandomState = 0;

uint32_t MakeSeed() {
    TMD5Context ctx;
    Md5Init(ctx);
    LARGE_INTEGER pc{};
    uint64_t counter;
    if (QueryPerformanceCounter(&pc))
        counter = static_cast<uint64_t>(pc.QuadPart);
    else
        counter = GetTickCount();
    Md5Update(ctx, &counter, 8);

    framework::UniqueHModule advapi(LoadLibraryA("advapi32.dll"));
    if (advapi) {
        using Acquire = BOOL(WINAPI*)(HCRYPTPROV*, LPCWSTR, LPCWSTR, DWORD, DWORD);
        using Gen = BOOL(WINAPI*)(HCRYPTPROV, DWORD, BYTE*);
        using Release = BOOL(WINAPI*)(HCRYPTPROV, DWORD);
        auto acquire = framework::ProcAs<Acquire>(GetProcAddress(advapi.get(), "CryptAcquireContextW"));
        auto gen = framework::ProcAs<Gen>(GetProcAddress(advapi.get(), "CryptGenRandom"));
        auto release = framework::ProcAs<Release>(GetProcAddress(advapi.get(), "CryptReleaseContext"));
        HCRYPTPROV prov = 0;
        if (acquire && gen && release && acquire(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
            uint8_t extra[8];
            if (gen(prov, sizeof extra, extra)) Md5Update(ctx, extra, sizeof extra);
            release(prov, 0);
        }
    }
    uint8_t digest[16];
    Md5Final(digest, ctx);
    for (int i = 0; i < 12; ++i) {
        uint32_t v;
        std::memcpy(&v, digest + i, 4);
        if (v) return v;
    }
    return 0x92D68CA2;
}

// ---- trust library, kept until the process ends ----
HMODULE gWinTrust = nullptr;
TInetCriticalSection& TrustLock() {
    static TInetCriticalSection cs;
    return cs;
}

std::wstring WideOf(const std::string& s) { return framework::AnsiToWide(s); }

// ---- format settings ----
std::string LocaleText(LCID Locale, LCTYPE Type, const char* Default) {
    char buf[256];
    const int n = GetLocaleInfoA(Locale, Type, buf, sizeof buf);
    return n > 1 ? std::string(buf, size_t(n - 1)) : std::string(Default);
}

TInetFormatSettings LoadFormatSettings() {
    const LCID lc = GetThreadLocale();
    TInetFormatSettings f;
    f.DateSeparator = LocaleText(lc, LOCALE_SDATE, "/");
    f.TimeSeparator = LocaleText(lc, LOCALE_STIME, ":");
    f.ShortDateFormat = LocaleText(lc, LOCALE_SSHORTDATE, "M/d/yyyy");
    f.LongDateFormat = LocaleText(lc, LOCALE_SLONGDATE, "dddd, MMMM d, yyyy");
    f.ShortTimeFormat = LocaleText(lc, LOCALE_SSHORTTIME, "h:mm tt");
    f.LongTimeFormat = LocaleText(lc, LOCALE_STIMEFORMAT, "h:mm:ss tt");
    f.TimeAMString = LocaleText(lc, LOCALE_S1159, "AM");
    f.TimePMString = LocaleText(lc, LOCALE_S2359, "PM");
    f.DecimalSeparator = LocaleText(lc, LOCALE_SDECIMAL, ".");
    f.ThousandSeparator = LocaleText(lc, LOCALE_STHOUSAND, ",");
    for (int i = 0; i < 12; ++i) {
        f.ShortMonthNames[i] = LocaleText(lc, LOCALE_SABBREVMONTHNAME1 + i, "");
        f.LongMonthNames[i] = LocaleText(lc, LOCALE_SMONTHNAME1 + i, "");
    }
    for (int i = 0; i < 7; ++i) {
        f.ShortDayNames[i] = LocaleText(lc, LOCALE_SABBREVDAYNAME1 + i, "");
        f.LongDayNames[i] = LocaleText(lc, LOCALE_SDAYNAME1 + i, "");
    }
    return f;
}

TInetFormatSettings& FormatSettings() {
    static TInetFormatSettings f = LoadFormatSettings();
    return f;
}
// Filled at start-up, on the thread that starts the program.
[[maybe_unused]] const bool gFormatSettingsFilled = (FormatSettings(), true);

}  // namespace

// ---- Format settings ------------------------------------------------------------------------

void InetInitFormatSettings() { FormatSettings() = LoadFormatSettings(); }

const TInetFormatSettings& InetFormatSettings() { return FormatSettings(); }

// ---- Time -----------------------------------------------------------------------------------

uint32_t InetCurrentThreadId() { return GetCurrentThreadId(); }
uint32_t InetTickCount() { return GetTickCount(); }
uint32_t InetTickDiff(uint32_t Start, uint32_t End) { return End - Start; }

int32_t InetTimeZoneBias() {
    TIME_ZONE_INFORMATION tz{};
    switch (GetTimeZoneInformation(&tz)) {
        case TIME_ZONE_ID_STANDARD: return tz.Bias + tz.StandardBias;
        case TIME_ZONE_ID_DAYLIGHT: return tz.Bias + tz.DaylightBias;
        case TIME_ZONE_ID_UNKNOWN: return tz.Bias;
        default: return 0;
    }
}

std::string InetZoneText(int32_t Bias) {
    int32_t a = Bias < 0 ? -Bias : Bias;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%s%.2d%.2d", Bias <= 0 ? "+" : "-", a / 60, a % 60);
    return buf;
}

std::string InetTimeZoneText() { return InetZoneText(InetTimeZoneBias()); }

bool InetTryEncodeDate(int Year, int Month, int Day, TDateTime& Date) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1) return false;
    int dim = kDays[Month - 1] + (Month == 2 && IsLeap(Year) ? 1 : 0);
    if (Day > dim) return false;
    Date = static_cast<double>(DaysFromCivil(Year, Month, Day) - kEpochDays);
    return true;
}

bool InetTryEncodeTime(int Hour, int Min, int Sec, TDateTime& Time) {
    if (Hour < 0 || Hour > 23 || Min < 0 || Min > 59 || Sec < 0 || Sec > 59) return false;
    Time = (Hour * 3600.0 + Min * 60.0 + Sec) / 86400.0;
    return true;
}

TDateTime InetCombineDateTime(TDateTime Date, TDateTime Time) { return Date < 0 ? Date - Time : Date + Time; }

void InetDecodeDateTime(TDateTime Date, int& Year, int& Month, int& Day, int& Hour, int& Min, int& Sec) {
    int64_t days, ms;
    SplitDate(Date, days, ms);
    CivilFromDays(days + kEpochDays, Year, Month, Day);
    int64_t s = ms / 1000;
    Hour = static_cast<int>(s / 3600);
    Min = static_cast<int>(s / 60 % 60);
    Sec = static_cast<int>(s % 60);
}

int InetDayOfWeekIndex(TDateTime Date) {
    int64_t days, ms;
    SplitDate(Date, days, ms);
    // Day 2 (1 January 1900) was a Monday; a floored remainder keeps older dates in range.
    int64_t r = (days - 2) % 7;
    return static_cast<int>(r < 0 ? r + 7 : r);
}

TDateTime InetNow() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    TDateTime d = 0, t = 0;
    InetTryEncodeDate(st.wYear, st.wMonth, st.wDay, d);
    InetTryEncodeTime(st.wHour, st.wMinute, st.wSecond, t);
    return d + t + st.wMilliseconds / kMsPerDay;
}

std::string InetRfc822DateText(TDateTime Date, bool WithZone) {
    int y, mo, d, h, mi, s;
    InetDecodeDateTime(Date, y, mo, d, h, mi, s);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3s, %2.2d %.3s %4.4d %2.2d:%2.2d:%2.2d", kDayNames + 3 * InetDayOfWeekIndex(Date),
                  d, kMonthNames + 3 * (mo - 1), y, h, mi, s);
    std::string r = buf;
    if (WithZone) r += " " + InetTimeZoneText();
    return r;
}

TDateTime InetParseRfc822Date(const std::string& Text, bool ToLocal) {
    if (Text.size() <= 16) return 0;
    std::string s = Text;
    if (s[6] == ' ') s.insert(5, "0");  // one-digit day: "Sun, 6 Nov 1994"
    int day = Num(s, 5, 2);
    size_t pos = std::string(kMonthNames).find(s.substr(8, 3));
    if (pos == std::string::npos || pos % 3 != 0) return 0;
    int month = static_cast<int>(pos / 3) + 1;
    int year = Num(s, 12, 4);
    TDateTime date;
    if (!InetTryEncodeDate(year, month, day, date)) return 0;
    if (s.size() > 24) {
        TDateTime t;
        if (InetTryEncodeTime(Num(s, 17, 2), Num(s, 20, 2), Num(s, 23, 2), t)) date = InetCombineDateTime(date, t);
    }
    if (ToLocal && s.size() > 28) {
        char sign = s[26];
        if (sign == '+' || sign == '-') {
            // Hours and minutes of the offset: zones such as +0545 have more than half hours.
            int offMin = s.size() > 30 ? Num(s, 29, 2) : 0;
            int minutes = Num(s, 27, 2) * 60 + (offMin >= 0 && offMin < 60 ? offMin : 0);
            date += (sign == '+' ? -minutes : minutes) / 1440.0;
        }
        date -= InetTimeZoneBias() / 1440.0;
    }
    return date;
}

std::string InetIso8601Text(TDateTime Date, bool WithZone) {
    int y, mo, d, h, mi, s;
    InetDecodeDateTime(Date, y, mo, d, h, mi, s);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d", y, mo, d, h, mi, s);
    std::string r = buf;
    if (WithZone) r += InetTimeZoneText();
    return r;
}

TDateTime InetFileTimeToDate(const FILETIME& Time) {
    uint64_t v = uint64_t(Time.dwHighDateTime) << 32 | Time.dwLowDateTime;
    return static_cast<double>(v) / 864000000000.0 - 109205.0;
}

// ---- Random ---------------------------------------------------------------------------------

uint32_t InetRandom(uint32_t N) {
    if (gRandomState == 0) gRandomState = MakeSeed();
    uint32_t s = gRandomState;
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    gRandomState = s;
    return static_cast<uint32_t>((uint64_t(N) * s) >> 32);
}

// ---- Text -----------------------------------------------------------------------------------

std::string InetBytesToHex(const void* Data, ptrdiff_t Len) {
    std::string r;
    if (!Data || Len <= 0) return r;
    const uint8_t* p = static_cast<const uint8_t*>(Data);
    r.reserve(size_t(Len) * 2);
    for (ptrdiff_t i = 0; i < Len; ++i) {
        r += kHexDigits[p[i] >> 4];
        r += kHexDigits[p[i] & 15];
    }
    return r;
}

std::string InetBytesToHex(const std::string& Data) { return InetBytesToHex(Data.data(), ptrdiff_t(Data.size())); }

std::string InetBytesToHexSep(const void* Data, ptrdiff_t Len, char Sep) {
    std::string r;
    if (!Data || Len <= 0) return r;
    const uint8_t* p = static_cast<const uint8_t*>(Data);
    for (ptrdiff_t i = 0; i < Len; ++i) {
        if (i) r += Sep;
        r += kHexDigits[p[i] >> 4];
        r += kHexDigits[p[i] & 15];
    }
    return r;
}

int InetHexDigitValue(char C) {
    if (C >= '0' && C <= '9') return C - '0';
    return (static_cast<unsigned char>(C) & 15) + 9;
}

bool InetIsHexDigit(char C) {
    return (C >= '0' && C <= '9') || (C >= 'a' && C <= 'f') || (C >= 'A' && C <= 'F');
}

std::string InetBase64Encode(const void* Data, size_t Len) {
    const uint8_t* p = static_cast<const uint8_t*>(Data);
    std::string r;
    r.reserve((Len + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= Len; i += 3) {
        uint32_t v = uint32_t(p[i]) << 16 | uint32_t(p[i + 1]) << 8 | p[i + 2];
        r += kBase64[v >> 18];
        r += kBase64[(v >> 12) & 63];
        r += kBase64[(v >> 6) & 63];
        r += kBase64[v & 63];
    }
    if (Len - i == 1) {
        uint32_t v = uint32_t(p[i]) << 16;
        r += kBase64[v >> 18];
        r += kBase64[(v >> 12) & 63];
        r += "==";
    } else if (Len - i == 2) {
        uint32_t v = uint32_t(p[i]) << 16 | uint32_t(p[i + 1]) << 8;
        r += kBase64[v >> 18];
        r += kBase64[(v >> 12) & 63];
        r += kBase64[(v >> 6) & 63];
        r += '=';
    }
    return r;
}

std::string InetBase64Encode(const std::string& Data) { return InetBase64Encode(Data.data(), Data.size()); }

bool InetBase64Decode(const std::string& Text, std::string& Data) {
    Data.clear();
    std::string s;
    s.reserve(Text.size());
    for (char c : Text)
        if (c != '\r' && c != '\n') s += c;
    if (s.size() % 4 != 0) return false;
    auto value = [](char c) -> int {
        const char* p = c ? std::strchr(kBase64, c) : nullptr;
        return p ? int(p - kBase64) : -1;
    };
    std::string out;
    out.reserve(s.size() / 4 * 3);
    for (size_t i = 0; i < s.size(); i += 4) {
        bool last = i + 4 == s.size();
        int a = value(s[i]), b = value(s[i + 1]);
        if (a < 0 || b < 0) return false;
        char c3 = s[i + 2], c4 = s[i + 3];
        if (c3 == '=') {
            // "xx==": one byte, and only at the very end.
            if (c4 != '=' || !last) return false;
            out += char(a << 2 | b >> 4);
            break;
        }
        int c = value(c3);
        if (c < 0) return false;
        if (c4 == '=') {
            if (!last) return false;
            out += char(a << 2 | b >> 4);
            out += char((b & 15) << 4 | c >> 2);
            break;
        }
        int d = value(c4);
        if (d < 0) return false;
        out += char(a << 2 | b >> 4);
        out += char((b & 15) << 4 | c >> 2);
        out += char((c & 3) << 6 | d);
    }
    Data = std::move(out);
    return true;
}

std::string InetBase64Decode(const std::string& Text) {
    std::string r;
    InetBase64Decode(Text, r);
    return r;
}

int64_t InetParseDecimal(const char* P) {
    if (!P) return 0;
    while (*P == ' ') ++P;
    int64_t v = 0;
    const int64_t max = std::numeric_limits<int64_t>::max();
    for (; *P >= '0' && *P <= '9'; ++P) {
        int digit = *P - '0';
        v = v > (max - digit) / 10 ? max : v * 10 + digit;
    }
    return v;
}

std::string InetIntToText(int64_t V) { return std::to_string(V); }

std::string InetTrimBlanks(const std::string& S) { return framework::Trim(S); }

std::string InetAsciiLower(const std::string& S) {
    std::string r = S;
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    return r;
}

std::string InetAsciiUpper(const std::string& S) {
    std::string r = S;
    InetAsciiUpperInPlace(r);
    return r;
}

void InetAsciiUpperInPlace(std::string& S) {
    for (char& c : S)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
}

int InetTextCompare(const std::string& A, const std::string& B) {
    return InetStrCompare(InetAsciiLower(A), InetAsciiLower(B));
}

int InetStrCompare(const std::string& A, const std::string& B) {
    int r = A.compare(B);
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

size_t InetZStrLength(const char* S) { return S ? std::strlen(S) : 0; }

size_t InetFindFrom(const std::string& Sub, const std::string& S, size_t Offset) {
    if (Sub.empty() || Offset == 0) return 0;
    size_t p = S.find(Sub, Offset - 1);
    return p == std::string::npos ? 0 : p + 1;
}

bool InetStartsText(const std::string& Text, const std::string& Prefix) {
    return Text.size() >= Prefix.size() && InetTextCompare(Text.substr(0, Prefix.size()), Prefix) == 0;
}

bool InetContainsZ(const char* S, const char* Sub) { return S && Sub && std::strstr(S, Sub) != nullptr; }

size_t InetSplice(const std::string& Source, size_t SourceOffset, std::string& Dest, size_t Count, size_t DestPos) {
    if (DestPos == 0 || SourceOffset >= Source.size()) return 0;
    Count = std::min(Count, Source.size() - SourceOffset);
    if (Count == 0) return 0;
    // DestPos + Count - 1 must not wrap round to a small size: nothing fits that far.
    if (DestPos - 1 > Dest.max_size() - Count) return 0;
    if (Dest.size() < DestPos + Count - 1) Dest.resize(DestPos + Count - 1);
    std::memcpy(&Dest[DestPos - 1], Source.data() + SourceOffset, Count);
    return Count;
}

void InetMoveWithin(std::string& S, size_t From, size_t To, size_t Count) {
    if (From >= S.size() || To >= S.size()) return;
    Count = std::min({Count, S.size() - From, S.size() - To});
    std::memmove(&S[To], S.data() + From, Count);
}

uint32_t InetSwapWord(uint32_t V) { return (V & 0xFFFF0000u) | (V & 0xFF) << 8 | (V >> 8 & 0xFF); }
uint32_t InetPackWords(uint32_t Low, uint32_t High) { return High << 16 | (Low & 0xFFFF); }
uint32_t InetHighWord(uint32_t V) { return V >> 16; }

std::string InetExceptionText(const std::exception* E) { return E ? framework::Trim(E->what()) : std::string(); }

// ---- Hosts ----------------------------------------------------------------------------------

std::string InetBracketHost(const std::string& Host) {
    if (Host.find('.') != std::string::npos || Host.find('[') != std::string::npos ||
        Host.find(':') == std::string::npos)
        return Host;
    return "[" + Host + "]";
}

std::string InetHostAndPort(const std::string& Host, const std::string& Port) {
    return InetBracketHost(Host) + ":" + Port;
}

// ---- ALPN -----------------------------------------------------------------------------------

int InetAlpnWireToList(const uint8_t* Buffer, size_t Len, framework::TStringList* List) {
    if (!List) return 0;
    List->Clear();
    if (!Buffer) return 0;
    size_t i = 0;
    while (i < Len) {
        size_t n = Buffer[i];
        if (n == 0 || i + 1 + n > Len) return 0;
        List->Add(std::string(reinterpret_cast<const char*>(Buffer + i + 1), n));
        i += 1 + n;
    }
    return List->Count();
}

std::string InetAlpnWireToCsv(const uint8_t* Buffer, size_t Len) {
    framework::TStringList list;
    InetAlpnWireToList(Buffer, Len, &list);
    std::string r;
    for (int i = 0; i < list.Count(); ++i) {
        if (i) r += ',';
        r += list[i];
    }
    return r;
}

size_t InetAlpnListToWire(const framework::TStringList* List, std::vector<uint8_t>& Wire) {
    Wire.clear();
    if (!List) return 0;
    for (int i = 0; i < List->Count(); ++i) {
        const std::string& name = (*List)[i];
        if (name.empty()) continue;
        // One length byte: a longer name would wrap and corrupt the list.
        if (name.size() > 255) {
            Wire.clear();
            return 0;
        }
        Wire.push_back(static_cast<uint8_t>(name.size()));
        Wire.insert(Wire.end(), name.begin(), name.end());
    }
    return Wire.size();
}

// ---- Files ----------------------------------------------------------------------------------

std::string InetLongPath(const std::string& Path) {
    if (Path.size() < 241 || Path.rfind("\\\\?\\", 0) == 0) return Path;
    if (Path.rfind("\\\\", 0) == 0) return "\\\\?\\UNC\\" + Path.substr(2);
    return "\\\\?\\" + Path;
}

bool InetFileInfo(const std::string& Name, int64_t& Size, TDateTime& Date) {
    Size = -1;
    Date = 0;
    WIN32_FIND_DATAW fd{};
    framework::UniqueFindHandle h(FindFirstFileW(WideOf(InetLongPath(Name)).c_str(), &fd));
    if (!h) return false;
    Size = int64_t(uint64_t(fd.nFileSizeHigh) << 32 | fd.nFileSizeLow);
    Date = InetFileTimeToDate(fd.ftLastWriteTime);
    return true;
}

int64_t InetFileSizeOf(const std::string& Name) {
    int64_t size;
    TDateTime date;
    InetFileInfo(Name, size, date);
    return size;
}

bool InetFileVersionStrings(const std::string& FileName, std::string& Version, std::string& Description) {
    return InetFileVersionStrings(framework::AnsiToWide(FileName), Version, Description);
}

bool InetFileVersionStrings(const std::wstring& FileName, std::string& Version, std::string& Description) {
    Version.clear();
    Description.clear();
    std::string data;
    if (!framework::ReadVersionResource(FileName, data)) return false;
    std::string key = "040904E4";
    void* p = nullptr;
    UINT len = 0;
    if (VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &p, &len) && p && len >= 4) {
        WORD lang, cp;
        std::memcpy(&lang, p, 2);
        std::memcpy(&cp, static_cast<char*>(p) + 2, 2);
        if (lang == 0) lang = 1033;
        if (cp == 0) cp = 1252;
        char buf[16];
        std::snprintf(buf, sizeof buf, "%.4x%.4x", lang, cp);
        key = buf;
    }
    auto query = [&](const char* name, std::string& out) {
        void* v = nullptr;
        UINT n = 0;
        std::string path = "\\StringFileInfo\\" + key + "\\" + name;
        if (!VerQueryValueA(data.data(), path.c_str(), &v, &n) || !v) return false;
        out = std::string(static_cast<const char*>(v), strnlen(static_cast<const char*>(v), n));
        return true;
    };
    query("FileDescription", Description);
    return query("FileVersion", Version);
}

std::string InetTrustResultText(LONG Result) {
    switch (static_cast<DWORD>(Result)) {
        case 0: return "Trusted Code";
        case 0x80092026: return "Local Security Options Prevent Verification";
        case 0x80096010: return "Code has been Modified";
        case 0x800B0001: return "Trust Provider Unknown";
        case 0x800B0002: return "Trust Provider Action Unknown";
        case 0x800B0003: return "Trust Provider Form Unknown";
        case 0x800B0004: return "Not Trusted Code";
        case 0x800B0100: return "Unsigned Code";
        case 0x800B0101: return "Signed Code But Certificate Expired";
        case 0x800B0109: return "Signed Code But Certificate Root Not Trusted";
        case 0x800B010A: return "Signed Code But Certificate Chain Not Trusted";
        case 0x800B010D: return "Signed Code But With Untrusted Test Certificate";
        case 0x800B0111: return "Certificate Marked as Untrusted by the User";
        default: return "Trust Error: " + framework::SysErrorMessage(static_cast<DWORD>(Result));
    }
}

LONG InetVerifyTrust(const std::string& FileName, bool HashOnly, bool Lifetime, std::string& Text) {
    using VerifyFn = LONG(WINAPI*)(HWND, GUID*, LPVOID);
    VerifyFn verify = nullptr;
    {
        TInetLock lock(TrustLock());
        if (!gWinTrust) gWinTrust = LoadLibraryA("WINTRUST.DLL");
        if (!gWinTrust) {
            Text = "WINTRUST.DLL Not Found";
            return -1;
        }
        verify = framework::ProcAs<VerifyFn>(GetProcAddress(gWinTrust, "WinVerifyTrust"));
    }
    if (!verify) {
        Text = "WinVerifyTrust Not Found";
        return -1;
    }
    std::wstring wide = WideOf(FileName);
    if (GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) {
        Text = "Program File Not Found - " + FileName;
        return -1;
    }
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = wide.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = 0;
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | (HashOnly ? WTD_HASH_ONLY_FLAG : 0) |
                       (Lifetime ? WTD_LIFETIME_SIGNING_FLAG : 0);
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    LONG r = verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    Text = InetTrustResultText(r);
    return r;
}

// ---- Code pages -----------------------------------------------------------------------------

UINT InetAnsiCodePage() {
    static const UINT cp = GetACP();
    return cp;
}

std::string InetWideToAnsi(const std::wstring& Text, UINT CodePage) {
    if (Text.empty()) return {};
    if (CodePage == 0) CodePage = InetAnsiCodePage();
    int n = WideCharToMultiByte(CodePage, 0, Text.data(), int(Text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string r(size_t(n), '\0');
    n = WideCharToMultiByte(CodePage, 0, Text.data(), int(Text.size()), &r[0], n, nullptr, nullptr);
    if (n <= 0) return {};
    r.resize(size_t(n));
    return r;
}

std::wstring InetAnsiToWide(const std::string& Text, UINT CodePage) {
    if (Text.empty()) return {};
    if (CodePage == 0) CodePage = InetAnsiCodePage();
    int n = MultiByteToWideChar(CodePage, 0, Text.data(), int(Text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring r(size_t(n), L'\0');
    n = MultiByteToWideChar(CodePage, 0, Text.data(), int(Text.size()), &r[0], n);
    if (n <= 0) return {};
    r.resize(size_t(n));
    return r;
}

std::string InetConvertCodePage(const std::string& Text, UINT FromCodePage, UINT ToCodePage) {
    if (Text.empty() || FromCodePage == ToCodePage) return Text;
    std::wstring wide = InetAnsiToWide(Text, FromCodePage);
    if (wide.empty()) return {};
    return InetWideToAnsi(wide, ToCodePage);
}

std::string InetToUtf8(const std::string& Text, UINT CodePage) {
    return InetConvertCodePage(Text, CodePage ? CodePage : InetAnsiCodePage(), CP_UTF8);
}

std::string InetFromUtf8(const std::string& Text, UINT CodePage) {
    return InetConvertCodePage(Text, CP_UTF8, CodePage ? CodePage : InetAnsiCodePage());
}
