// What the update check tells the server about a program: its displayed product and company
// names and its file version text, as the identification library derives them. Identifying
// a file reads it and looks at its folder and the installed-software list, and the running
// program's file does not change while it runs: the answer is kept once per process for each
// file, and asked again only when the file's size or last write time is no longer what it was.
#pragma once

#include <string>

struct TCheckIdentity {
    std::string ProductName;
    std::string CompanyName;
    std::string VersionText;
};

// The identity of the executable ExePath; thread-safe. A caller that finds the same file being
// identified on another thread waits for that answer. Exceptions of the identification
// reach the caller and nothing is kept for that file.
// The file is read by its wide path (a folder the code page cannot spell may have no short
// name); the ANSI form is the same call on the converted text.
TCheckIdentity GetCheckIdentity(const std::wstring& ExePath);
TCheckIdentity GetCheckIdentity(const std::string& ExePath);
// Forgets every kept identity (tests).
void ClearCheckIdentities();
// How many times an identity was really computed in this process (tests, benchmarks).
unsigned CheckIdentityComputations();
