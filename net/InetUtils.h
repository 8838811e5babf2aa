// Plain procedures the whole internet client shares: ticks and their differences, the
// time-zone offset, RFC 822 dates (HTTP) and ISO 8601 text, a small random generator seeded
// from MD5, a critical section, hexadecimal and Base64 text, ASCII case and comparison
// helpers, splicing, host and port text with IPv6 brackets, the TLS ALPN list wire format,
// file size, time and version strings with long paths, an Authenticode check, and the
// conversions between code pages.
//
// Dates are the framework's date-time: days since 30 December 1899, the fraction the time
// of day. Texts are ANSI unless a function says otherwise. Nothing here keeps state between
// calls except the random state, the cached ANSI code page, the trust library handle and the
// format settings.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "framework/StringList.h"

using TDateTime = double;

// ---- Time -----------------------------------------------------------------------------------

uint32_t InetCurrentThreadId();
uint32_t InetTickCount();
// Milliseconds from Start to End, modulo 2^32 (a wrap of the counter is counted right).
uint32_t InetTickDiff(uint32_t Start, uint32_t End);

// Minutes with UTC = local + bias, standard or daylight part included; 0 when unknown.
int32_t InetTimeZoneBias();
// "+hhmm" / "-hhmm" as the zone of a local time with this bias ("+" for 0 and negative).
std::string InetZoneText(int32_t Bias);
std::string InetTimeZoneText();

// Calendar helpers over TDateTime (proleptic Gregorian; false / 0 for impossible values).
bool InetTryEncodeDate(int Year, int Month, int Day, TDateTime& Date);
bool InetTryEncodeTime(int Hour, int Min, int Sec, TDateTime& Time);
// A date plus a time of day (before 30 December 1899 the time counts away from zero).
TDateTime InetCombineDateTime(TDateTime Date, TDateTime Time);
void InetDecodeDateTime(TDateTime Date, int& Year, int& Month, int& Day, int& Hour, int& Min, int& Sec);
// 0 = Monday .. 6 = Sunday; never negative, also for dates before 1900.
int InetDayOfWeekIndex(TDateTime Date);
TDateTime InetNow();

// "Sun, 06 Nov 1994 08:49:37" and, WithZone, " +0100".
std::string InetRfc822DateText(TDateTime Date, bool WithZone);
// The date of an RFC 822 text, 0 when it cannot be read. ToLocal applies a numeric offset
// (giving UTC) and then the local bias (giving local time).
TDateTime InetParseRfc822Date(const std::string& Text, bool ToLocal);
// "yyyy-mm-ddThh:nn:ss" and, WithZone, the zone text.
std::string InetIso8601Text(TDateTime Date, bool WithZone);
TDateTime InetFileTimeToDate(const FILETIME& Time);

// ---- Format settings ------------------------------------------------------------------------

// The thread locale's date, time and number formats, as the system gives them (pictures
// such as "M/d/yyyy" and "h:mm:ss tt").
struct TInetFormatSettings {
    std::string DateSeparator, TimeSeparator;
    std::string ShortDateFormat, LongDateFormat, ShortTimeFormat, LongTimeFormat;
    std::string TimeAMString, TimePMString;
    std::string DecimalSeparator, ThousandSeparator;
    std::string ShortMonthNames[12], LongMonthNames[12];
    std::string ShortDayNames[7], LongDayNames[7];  // Monday first
};
// Fills the unit's settings from the calling thread's locale; done at start-up. Not
// guarded: call it before other threads read the settings.
void InetInitFormatSettings();
const TInetFormatSettings& InetFormatSettings();

// ---- Random ---------------------------------------------------------------------------------

// 0 .. N-1 (xorshift state, seeded on first use from MD5 over the performance counter and,
// when it works, the system's random generator).
uint32_t InetRandom(uint32_t N);

// ---- Locking --------------------------------------------------------------------------------

class TInetCriticalSection {
public:
    TInetCriticalSection() { InitializeCriticalSection(&cs_); }
    ~TInetCriticalSection() { DeleteCriticalSection(&cs_); }
    TInetCriticalSection(const TInetCriticalSection&) = delete;
    TInetCriticalSection& operator=(const TInetCriticalSection&) = delete;
    void Enter() { EnterCriticalSection(&cs_); }
    void Leave() { LeaveCriticalSection(&cs_); }
    bool TryEnter() { return TryEnterCriticalSection(&cs_) != FALSE; }

private:
    CRITICAL_SECTION cs_;
};

// Holds a TInetCriticalSection for a scope.
class TInetLock {
public:
    explicit TInetLock(TInetCriticalSection& cs) : cs_(cs) { cs_.Enter(); }
    ~TInetLock() { cs_.Leave(); }
    TInetLock(const TInetLock&) = delete;
    TInetLock& operator=(const TInetLock&) = delete;

private:
    TInetCriticalSection& cs_;
};

// Takes a TInetCriticalSection only when it is free; holds it for the scope when it got it.
class TInetTryLock {
public:
    explicit TInetTryLock(TInetCriticalSection& cs) : cs_(cs), locked_(cs.TryEnter()) {}
    ~TInetTryLock() {
        if (locked_) cs_.Leave();
    }
    TInetTryLock(const TInetTryLock&) = delete;
    TInetTryLock& operator=(const TInetTryLock&) = delete;
    bool Locked() const { return locked_; }

private:
    TInetCriticalSection& cs_;
    bool locked_;
};

// ---- Text -----------------------------------------------------------------------------------

// Two upper-case digits per byte; empty for Len <= 0 or no data.
std::string InetBytesToHex(const void* Data, ptrdiff_t Len);
std::string InetBytesToHex(const std::string& Data);
// The same with Sep between the bytes (Len * 3 - 1 characters).
std::string InetBytesToHexSep(const void* Data, ptrdiff_t Len, char Sep);
// 0..9 for digits, else (C and 15) + 9 (10..15 for letters a-f / A-F; others unchecked).
int InetHexDigitValue(char C);
bool InetIsHexDigit(char C);

// RFC 4648 with "=" padding.
std::string InetBase64Encode(const std::string& Data);
std::string InetBase64Encode(const void* Data, size_t Len);
// Skips CR and LF; false (and Data empty) for a byte outside the alphabet, a length that is
// not a multiple of 4, or padding anywhere but at the end.
bool InetBase64Decode(const std::string& Text, std::string& Data);
std::string InetBase64Decode(const std::string& Text);

// Skips leading blanks (space only), then reads decimal digits up to the first non-digit;
// 0 for nullptr; saturates instead of overflowing.
int64_t InetParseDecimal(const char* P);
std::string InetIntToText(int64_t V);
// Without blanks and control characters at both ends.
std::string InetTrimBlanks(const std::string& S);
std::string InetAsciiLower(const std::string& S);
std::string InetAsciiUpper(const std::string& S);
// Only "a".."z" change.
void InetAsciiUpperInPlace(std::string& S);
// <0, 0, >0 like strcmp; Text ignores ASCII case.
int InetTextCompare(const std::string& A, const std::string& B);
int InetStrCompare(const std::string& A, const std::string& B);
size_t InetZStrLength(const char* S);
// 1-based position of Sub in S at or after 1-based Offset; 0 when absent.
size_t InetFindFrom(const std::string& Sub, const std::string& S, size_t Offset);
// Text begins with Prefix, ignoring ASCII case.
bool InetStartsText(const std::string& Text, const std::string& Prefix);
// Zero-terminated substring search.
bool InetContainsZ(const char* S, const char* Sub);
// Copies Count bytes of Source from 0-based SourceOffset to 1-based DestPos of Dest, growing
// Dest to at least DestPos + Count - 1 characters. Never copies more than Source holds from
// SourceOffset; returns the number copied (0 when the end would lie beyond any string).
size_t InetSplice(const std::string& Source, size_t SourceOffset, std::string& Dest, size_t Count, size_t DestPos);
// Moves Count bytes of S from 0-based From to 0-based To, cut to what S holds.
void InetMoveWithin(std::string& S, size_t From, size_t To, size_t Count);
uint32_t InetSwapWord(uint32_t V);
uint32_t InetPackWords(uint32_t Low, uint32_t High);
uint32_t InetHighWord(uint32_t V);
// The trimmed message of an exception; empty for none.
std::string InetExceptionText(const std::exception* E);

// ---- Hosts ----------------------------------------------------------------------------------

// Host unchanged when it holds "." or "[" or no ":"; otherwise "[" Host "]".
std::string InetBracketHost(const std::string& Host);
std::string InetHostAndPort(const std::string& Host, const std::string& Port);

// ---- ALPN (each name preceded by its length byte) --------------------------------------------

// Clears List and adds each name; a zero length or a name past the end stops with 0 (the
// names before it stay); otherwise the name count. Nil List gives 0.
int InetAlpnWireToList(const uint8_t* Buffer, size_t Len, framework::TStringList* List);
std::string InetAlpnWireToCsv(const uint8_t* Buffer, size_t Len);
// The wire form of the non-empty names; returns its length. A name longer than 255 bytes
// cannot be written: the result is then 0 and Wire empty.
size_t InetAlpnListToWire(const framework::TStringList* List, std::vector<uint8_t>& Wire);

// ---- Files ----------------------------------------------------------------------------------

// "\\?\" form of a path of 241 characters or more ("\\?\UNC\" for "\\server\..." paths).
std::string InetLongPath(const std::string& Path);
// Size and last-write time (UTC) of a file; false, -1 and 0 when it is not found.
bool InetFileInfo(const std::string& Name, int64_t& Size, TDateTime& Date);
int64_t InetFileSizeOf(const std::string& Name);
// "FileVersion" and "FileDescription" of the file's version resource; true when the version
// string was found.
bool InetFileVersionStrings(const std::string& FileName, std::string& Version, std::string& Description);
// The same for a file named by its wide path.
bool InetFileVersionStrings(const std::wstring& FileName, std::string& Version, std::string& Description);
// The WinVerifyTrust result for the file and its text ("Trusted Code", "Unsigned Code", ...).
LONG InetVerifyTrust(const std::string& FileName, bool HashOnly, bool Lifetime, std::string& Text);
// The text of a WinVerifyTrust result.
std::string InetTrustResultText(LONG Result);

// ---- Code pages -----------------------------------------------------------------------------
// Code page 0 is the system ANSI code page. A page the system cannot convert (UTF-16 and
// UTF-32 are no multi-byte pages) gives an empty text.

UINT InetAnsiCodePage();
std::string InetWideToAnsi(const std::wstring& Text, UINT CodePage = 0);
std::wstring InetAnsiToWide(const std::string& Text, UINT CodePage = 0);
// Text unchanged when empty or the pages are equal; empty when a step fails.
std::string InetConvertCodePage(const std::string& Text, UINT FromCodePage, UINT ToCodePage);
std::string InetToUtf8(const std::string& Text, UINT CodePage = 0);
std::string InetFromUtf8(const std::string& Text, UINT CodePage = 0);
