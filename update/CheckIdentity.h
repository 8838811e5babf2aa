// What the update check tells the server about a program: its displayed product and company
// names and its file version text, as the identification library derives them. Identifying
// an executable costs far more than the check's request, and the running program's file does
// not change while it runs: the answer is kept once per process for each file, and asked
// again only when the file's size or last write time is no longer what it was.
#pragma once

#include <string>
#include <thread>

struct TCheckIdentity {
    std::string ProductName;
    std::string CompanyName;
    std::string VersionText;
};

// The identity of the executable ExePath; thread-safe. A caller that finds the same file being
// identified on another thread waits for that answer. Exceptions of the identification
// reach the caller and nothing is kept for that file.
TCheckIdentity GetCheckIdentity(const std::string& ExePath);
// Identifies ExePath on a thread of its own, so that a later GetCheckIdentity finds the
// answer kept (or waits only for the rest of this identification). Failures are dropped.
// Destruction waits for the thread.
class TIdentityPrefetch {
public:
    explicit TIdentityPrefetch(const std::string& ExePath);
    ~TIdentityPrefetch();
    TIdentityPrefetch(const TIdentityPrefetch&) = delete;
    TIdentityPrefetch& operator=(const TIdentityPrefetch&) = delete;

private:
    std::thread thread_;
};
// Forgets every kept identity (tests).
void ClearCheckIdentities();
// How many times an identity was really computed in this process (tests, benchmarks).
unsigned CheckIdentityComputations();
