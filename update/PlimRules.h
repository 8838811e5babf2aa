// The rule tables of the software-identification chains (PlimFct), as data: each row a
// trigger and an action over the working values of its chain. Internal to update/.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "update/PlimFct.h"

namespace plim {

// ---------------------------------------------------------------------------------------------
// Guard: the chains call one another (version text <-> displayed information) and look at
// sibling files. A file is never identified from inside its own identification, and a
// sibling consulted for a version does not consult siblings of its own.
class TIdentGuard {
public:
    enum TKind { gkVersion, gkDisplay };
    TIdentGuard(TKind Kind, const std::string& FileName);
    ~TIdentGuard();
    TIdentGuard(const TIdentGuard&) = delete;
    TIdentGuard& operator=(const TIdentGuard&) = delete;
    // False when this file is already being identified this way, or the nesting is too deep.
    bool Entered() const { return entered_; }
    // Nesting of version resolutions in progress (1 inside the outermost one).
    static int VersionDepth();
    // The version record of a file already read during the identification in progress.
    static const FileVersionInfoRec* CachedRecord(const std::string& FileName);
    static void CacheRecord(const std::string& FileName, const FileVersionInfoRec& Rec);
    // The raw version resource of a file already read during the identification in progress.
    static const std::string* CachedBlock(const std::string& FileName);
    static void CacheBlock(const std::string& FileName, const std::string& Block);

private:
    TKind kind_;
    std::string key_;
    bool entered_ = false;
};

// The file's version resource laid out as GetFileVersionInfoA fills its buffer (room for the
// ANSI conversions of VerQueryValueA behind it); empty when the file is missing or has none.
// Read once per file in an identification.
std::string VersionBlock(const std::string& FileName);
// The fixed part's file version "a.b.c.d" from VersionBlock; "File not found" for a missing
// file, empty without a version resource.
std::string FixedVersionText(const std::string& FileName);

// ---------------------------------------------------------------------------------------------
// Version text (ResolveFileVersion)

struct TVersionWork {
    std::string FileName;  // redirected; a sibling row may replace it with the sibling's path
    std::string Product;
    std::string Company;
    std::string Base;
    std::string Folder;  // with a trailing delimiter
    FileVersionInfoRec Rec;
    std::string R;
    bool Stop = false;  // set by a row that ends the chain
};

struct TVersionRule {
    const char* Key;  // what the row is about (for readers; not matched)
    std::function<bool(const TVersionWork& W)> Trigger;
    std::function<void(TVersionWork& W)> Action;
    // Rows of the resource-string stage from "Grammarly" on form an if/else chain: a row that
    // fires ends the resolution (no reconciliation, no later rows).
    bool ElseChain = false;
};

// Rows by stage: the base-name probes, before the fixed version, refining it, on the
// resource strings, and after the reconciliation.
extern const std::vector<TVersionRule> kBaseNameProbes;
extern const std::vector<TVersionRule> kVersionRulesBeforeDefault;
extern const std::vector<TVersionRule> kVersionRulesAfterDefault;
extern const std::vector<TVersionRule> kVersionRulesOnStrings;
extern const std::vector<TVersionRule> kVersionRulesAfterReconciliation;

// The generic reconciliation of the fixed version (R) with the resource's version strings.
void Reconcile(TVersionWork& W);

// ---------------------------------------------------------------------------------------------
// Product name (GetFileProductName)

struct TProductWork {
    std::string Path;
    std::string Base;
    std::string Dir;  // with a trailing delimiter
    FileVersionInfoRec Rec;
    std::string R;
};

// The product table's rows run as three lists at their places in the derivation
// (ProductTable.h).

// The derivation on a version record already read (GetFileProductName reads it).
std::string DeriveProductName(const std::string& Path, const FileVersionInfoRec& Rec);

// ---------------------------------------------------------------------------------------------
// Publisher (NormalizeCompanyName)

struct TCompanyWork {
    std::string R;
    std::string Path;
    std::string ProductName;
    std::string Base;
    std::string Dir;  // with a trailing delimiter
};

// Keys match whole words: "begins with" needs the key to end where a word of R ends (so
// "Rovi" is not found in "Rovio Entertainment"), "contains" needs it to stand between word
// boundaries, "ends with" to begin where a word of R begins.
enum class TCompanyTest {
    ctStarts,          // R begins with Key
    ctContains,        // R contains Key
    ctEquals,          // R equals Key
    ctEnds,            // R ends with Key
    ctEqualsCase,      // R equals Key, case-sensitive
    ctLowerStartsCase, // lower-cased R begins with Key, case-sensitive
    ctMask,            // R matches the wildcard mask Key
    ctEmptyProductStarts,   // R empty and the product name begins with Key
    ctEmptyProductContains, // R empty and the product name contains Key
    ctEmptyProductEquals,   // R empty and the product name equals Key
    ctEmptyBaseEquals,      // R empty and the base file name equals Key
    ctEmptyFileStarts,      // R empty and the lower-cased file name begins with Key
    ctCustom,          // Custom decides and acts
};

struct TCompanyRow {
    TCompanyTest Test;
    const char* Key;
    const char* Name;  // the canonical publisher; nullptr for a custom row
    void (*Custom)(TCompanyWork& W) = nullptr;
};

extern const std::vector<TCompanyRow> kPublisherTable;

// Runs every row of the publisher table on W.R, in order.
void ApplyPublisherTable(TCompanyWork& W);

// Case-insensitive wildcard match: "*" any run, "?" one character.
bool MatchesMask(const std::string& Text, const std::string& Mask);

}  // namespace plim
