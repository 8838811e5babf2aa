// Name look-ups off the window's thread: a pool of worker threads that call getaddrinfo and
// getnameinfo and hand each result back to the asking window with SendMessage, one pool per
// thread that owns sockets (found through a lock-guarded per-thread store). The socket
// core starts and receives the look-ups; this unit holds the pool, the store and the
// blocking resolver the workers run.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/StringList.h"
#include "net/InetAvlTree.h"
#include "net/InetUtils.h"
#include "net/InetWndControl.h"
#include "net/NetSocketTypes.h"

// The target (Id, Claim) names who asked: with a claim the result goes out as the window
// control's sent result, reaching the claim's owner only (see TInetSentTarget); without one
// (a plain window) it is message Id itself.
struct TInetAsyncDnsLookupRequest : TInetSentTarget {
    HWND NotifyWindow = nullptr;
    int IpProtocol = 0;
    uint8_t Progress = 0;  // 0 queued, 1 running, 2 result being delivered
    bool IsReverse = false;
    bool Cancelled = false;
    TSocketFamily Family = sfIPv4;
    std::string HostText;
    // The worker's list while the result message is handled; not owned.
    framework::TStringList* Results = nullptr;
};

class TInetAsyncDnsLookupThread;

class TInetAsyncDnsLookup {
public:
    // MaxWorkers at least 1, MinWorkers at most MaxWorkers; idle workers above MinWorkers
    // end after IdleSeconds.
    TInetAsyncDnsLookup(uint8_t MinWorkers, uint8_t MaxWorkers, uint32_t IdleSeconds);
    // Stops and waits for every worker. A worker may be inside SendMessage to this very
    // thread: the wait keeps handling sent messages, and a pool freed from inside the
    // handler of such a message answers it first, so neither can deadlock.
    ~TInetAsyncDnsLookup();
    TInetAsyncDnsLookup(const TInetAsyncDnsLookup&) = delete;
    TInetAsyncDnsLookup& operator=(const TInetAsyncDnsLookup&) = delete;

    // The queued request, or nullptr with the last socket error set (10092: no IPv6).
    // The result arrives as NotifyMsg with wParam = the request and the error in the high
    // word of lParam; with a Claim of NotifyMsg (a window control's id) it is sent as
    // InetSentResultMessage(), wParam the request's TInetSentTarget.
    TInetAsyncDnsLookupRequest* QueueRequest(HWND NotifyWindow, UINT NotifyMsg, int IpProtocol, bool IsReverse,
                                             const std::string& HostText, TSocketFamily Family,
                                             uint64_t Claim = 0);
    // 0, or -1 with the last socket error (10022 unknown, 10092 no IPv6 for an IPv6
    // request, 10037 being delivered).
    int CancelRequest(TInetAsyncDnsLookupRequest* Request);
    void SetWorkerLimits(uint8_t Min, uint8_t Max);
    int WorkerCount();
    int PendingCount();

private:
    friend class TInetAsyncDnsLookupThread;
    TInetAsyncDnsLookupRequest* TakeNext(TInetAsyncDnsLookupThread* Worker);
    void Finish(TInetAsyncDnsLookupRequest* Request);

    std::vector<TInetAsyncDnsLookupRequest*> pending_;
    TInetCriticalSection pendingLock_;
    std::vector<TInetAsyncDnsLookupThread*> workers_;
    TInetCriticalSection workersLock_;
    uint8_t minWorkers_, maxWorkers_;
    uint32_t idleMs_;
    std::atomic<bool> shuttingDown_{false};
};

// The per-thread values of a process: entries {thread, users, value} in a tree by thread.
class TThreadLocalStore {
public:
    void Lock() { lock_.Enter(); }
    void Unlock() { lock_.Leave(); }
    // The value slot of ThreadId, the entry made with one user or its users counted up.
    void** Acquire(uint32_t ThreadId);
    // Counts a user down; when it was the last, removes the entry and returns its value.
    void* Release(uint32_t ThreadId);
    int Count() const { return tree_.Count(); }

private:
    TInetCriticalSection lock_;
    TThreadStoreTree tree_;
};

// The store of the per-thread DNS pools.
TThreadLocalStore& InetDnsPoolStore();

// Forward (addresses as text) or reverse (host names) look-up into List; 0 or the socket
// error. With sfAnyIPv4 the IPv4 addresses come first, with sfAnyIPv6 the IPv6 ones.
int ResolveBlocking(const std::string& Name, bool Reverse, TSocketFamily Family, int Protocol,
                    framework::TStringList& List);
