// International domain names: host names with non-ASCII letters to their ASCII ("xn--")
// form before look-ups and Host headers, and back. Punycode (RFC 3492) for one label, with
// the label-by-label ToASCII and ToUnicode steps of IDNA (RFC 3490) around it; no nameprep.
//
// Labels are separated by ".", U+3002, U+FF0E or U+FF61 on input, by "." on output. With the
// STD3 rules a label holds only letters, digits, "-" and non-ASCII characters, and neither
// begins nor ends with "-"; every converted label is 1 to 63 characters long.
#pragma once

#include <string>

// The ASCII form of Host; Error when a label failed (the result then holds the labels
// converted before it). The last label is always checked with the STD3 rules.
std::string InetHostToAsciiEx(const std::wstring& Host, bool UseStd3, bool& Error);
// The same for a host in the ANSI code page.
std::string InetHostToAsciiEx(const std::string& Host, bool UseStd3, bool& Error);
// Without the STD3 rules; on error the plain ANSI form of the whole name.
std::string InetHostToAscii(const std::wstring& Host);
// The Unicode form; an "xn--" label that does not decode and encode back to itself stays.
std::wstring InetHostToUnicode(const std::string& Host);

// Punycode of one label (UTF-16, surrogate pairs taken as one code point) and back. Error
// on overflow, on an upper-case or other non-digit character when decoding, or on a
// decoded value that is no Unicode scalar value.
std::string InetPunycodeEncode(const std::wstring& Label, bool& Error);
std::wstring InetPunycodeDecode(const std::string& Label, bool& Error);
