// Software identification: names an executable the way a user names the program (display
// product name and publisher) and tells which version of its product it is. The update
// check asks it about the running program; the rules also look at sibling files, text files
// shipped beside a program and the Uninstall registry keys.
//
// Plain functions over ANSI strings on the calling thread. No state survives a call, except
// the guard that keeps the chains (which consult one another and sibling files) from ever
// identifying a file from inside its own identification.
#pragma once

#include <string>

#include "framework/StringList.h"

namespace plim {

// The identification names files by ANSI text: its rules match names and folders, and the
// code page spells most paths, or their short forms. A file on a volume without short names
// (exFAT, NTFS with 8.3 names off) in a folder the code page cannot spell has no such text;
// while a TWidePath lives, the identification on this thread reads that file, and the files
// beside it, by their wide names. Nested scopes stack.
class TWidePath {
public:
    explicit TWidePath(const std::wstring& FileName);
    ~TWidePath();
    TWidePath(const TWidePath&) = delete;
    TWidePath& operator=(const TWidePath&) = delete;

    // The file's ANSI text: the path, or its short form, as the ANSI calls reach it; else
    // the plain conversion, which the wide names stand behind.
    const std::string& Text() const { return text_; }

private:
    std::string text_;
    size_t registered_ = 0;
};

// The wide name by which the identification reads the file of this ANSI text: a TWidePath's
// file or a file in its folder, else the plain conversion.
std::wstring WideFileName(const std::string& FileName);

}  // namespace plim

// A program's product name and publisher as shown to the user.
struct TDisplayedFileInfo {
    std::string ProductName;
    std::string CompanyName;
};

// The eight standard strings of a version resource; each empty when absent.
struct FileVersionInfoRec {
    std::string FileDescription;
    std::string CompanyName;
    std::string FileVersion;
    std::string InternalName;
    std::string LegalCopyright;
    std::string OriginalFilename;
    std::string ProductName;
    std::string ProductVersion;
};

// ---------------------------------------------------------------------------------------------
// Executable and path utilities

// A Windows PE image; Is64 tells a PE32+ one (false whenever the result is false). Only the
// file's own bytes are read: a DOS header whose e_lfanew points outside the file, or a file
// that ends inside the 248-byte NT header block, is not a PE image.
bool IsPEImage(const std::string& FileName, bool& Is64);
// Under WOW64, a path below the system folder (case-sensitive prefix) has its first
// "\system32\" (any case) replaced by "\sysnative\", so a 32-bit process reads the 64-bit
// file. Every other path is returned as it is.
std::string RedirectSystem32Path(const std::string& Path);
// Trailing URLs, one leading "?", one trailing " -" and a lone "@" go, until nothing changes.
std::string CleanDisplayText(const std::string& Text);
// The value of the last line that holds "<Tag>" (ignoring case); empty when none.
void FindXmlTagValue(const std::string& Tag, const framework::TStringList& Lines, std::string& Value);
void ExtractXmlTagValue(const std::string& Line, const std::string& Tag, std::string& Value);
// The AIR application descriptor beside an executable: Dir + "META-INF\AIR\application.xml".
std::string AirDescriptorPath(const std::string& Dir);

// ---------------------------------------------------------------------------------------------
// Version-resource reading

// All eight fields; the resource's own walker first, Windows' VerQueryValueA as the fall-back.
// ", " in FileVersion and ProductVersion becomes ".". Never raises.
void ReadFileVersionInfo(const std::string& FileName, FileVersionInfoRec& Rec);
// The same for a file named by its wide path (plim::TWidePath).
void ReadFileVersionInfo(const std::wstring& FileName, FileVersionInfoRec& Rec);
// "Key=value" lines for the keys VerQueryValueA finds under the first translation.
void ReadVersionStrings(const std::string& FileName, framework::TStringList& List);

// ---------------------------------------------------------------------------------------------
// Version probes

// The leading run of digits, "." "," and blanks, with "," read as "." and blanks dropped.
std::string LeadingVersionNumber(const std::string& S);
// Only digits and dots (true for the empty text).
bool IsVersionString(const std::string& S);
// Not empty, and the parsed version's parts sum above 0.
bool IsValidVersion(const std::string& S);
std::string GetFfdshowVersion();
// The highest version among the subfolder names (last dot-part dropped) of FileName's folder.
std::string GetHighestVersionSubfolder(const std::string& FileName);

// One-line probes: a fixed product name asked of the Uninstall keys.
std::string GetJDownloaderVersion();
// Folder: the program folder with a trailing delimiter ("changes.txt" is read there).
std::string GetMalwarebytesArVersion(const std::string& Folder);
std::string GetMalwarebytesVersion(const std::string& Folder);
bool IsMalwarebytesInstalled();
std::string GetOpenOfficeVersion();
std::string GetLibreOfficeVersion();
std::string GetGimpVersion();
std::string GetGlimpseVersion();
std::string GetVuzeVersion();
std::string GetXvidVersion();
std::string GetLaunchyVersion();
std::string GetAshampooSnapVersion();
std::string GetAshampooUndeleterVersion();
std::string GetCccpVersion();
std::string GetQuickTimeAlternativeVersion();
std::string GetQtLiteVersion();
std::string GetKLiteVersion();
std::string GetKLite64Version();
std::string GetKLiteMegaVersion();
std::string GetOpenHashTabVersion();
std::string GetHashTabVersion();
std::string GetQtTabBarVersion();
std::string GetPaintNetVersion();

// ---------------------------------------------------------------------------------------------
// File version text

// The version of the product FileName belongs to; normalised to "%d.%d.%d.%d" when valid
// unless KeepRaw. Product and Company may be empty (they are then derived from the file).
// FileName comes back redirected, or as the sibling whose version was taken.
void GetFileVersionText(std::string& FileName, std::string Product, std::string Company, std::string& Version,
                        bool KeepRaw);
// The same for a file named by its wide path (plim::TWidePath).
void GetFileVersionText(const std::wstring& FileName, std::string Product, std::string Company, std::string& Version,
                        bool KeepRaw);
// The resolution chain itself; empty when nothing is found.
void ResolveFileVersion(std::string& FileName, std::string Product, std::string Company, std::string& Version);

// ---------------------------------------------------------------------------------------------
// Product name, publisher, displayed information

std::string GetFileProductName(const std::string& FileName);

std::string GetFileCompanyName(const std::string& FileName, const std::string& ProductName);
// One pass of the publisher table and its clean-up; an empty ProductName is derived.
std::string NormalizeCompanyName(const std::string& Text, const std::string& FileName, std::string ProductName);
// Copyright marks, years, licence sentences and "All Rights Reserved" phrases removed,
// repeated until the text no longer changes.
std::string StripCopyrightNotice(const std::string& Text);

// Product name and publisher of the file (or of a package pseudo-key such as "QTA").
void GetDisplayedFileInfo(const std::string& FileName, TDisplayedFileInfo& Info);
// The same for a file named by its wide path (plim::TWidePath).
void GetDisplayedFileInfo(const std::wstring& FileName, TDisplayedFileInfo& Info);
