#include "net/InetAsyncDns.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "framework/Handles.h"
#include "framework/SysUtils.h"
#include "net/InetAddress.h"
#include "net/InetIdn.h"
#include "net/InetWinsock.h"

class TInetAsyncDnsLookupThread {
public:
    explicit TInetAsyncDnsLookupThread(TInetAsyncDnsLookup* Pool)
        : OwnerPool(Pool), WakeEvent(CreateEventA(nullptr, TRUE, TRUE, nullptr)) {}
    bool Start() {
        Thread.reset(CreateThread(nullptr, 0, &Run, this, 0, nullptr));
        return Thread.valid();
    }
    static DWORD WINAPI Run(void* self) {
        static_cast<TInetAsyncDnsLookupThread*>(self)->Loop();
        return 0;
    }
    void Loop();

    TInetAsyncDnsLookup* OwnerPool;
    framework::TStringList WorkerResults;
    framework::UniqueKernelHandle WakeEvent;
    framework::UniqueKernelHandle Thread;
    bool Engaged = false;  // under the pool's workers lock
    // The thread whose window the worker is handing a result to, 0 when none.
    std::atomic<DWORD> DeliveringTo{0};
    std::atomic<bool> Terminated{false};
};

void TInetAsyncDnsLookupThread::Loop() {
    TInetAsyncDnsLookup* pool = OwnerPool;
    bool freeSelf = false;
    while (!Terminated) {
        const DWORD w = WaitForSingleObject(WakeEvent.get(), pool->idleMs_);
        if (Terminated) break;
        if (w == WAIT_TIMEOUT) {
            {
                TInetTryLock lock(pool->workersLock_);
                if (lock.Locked() && !Engaged && !Terminated && pool->workers_.size() > pool->minWorkers_) {
                    pool->workers_.erase(std::find(pool->workers_.begin(), pool->workers_.end(), this));
                    freeSelf = true;
                }
            }
            if (freeSelf) break;  // the pool no longer knows us: touch nothing of it
            continue;
        }
        if (w != WAIT_OBJECT_0) {
            // The event is unusable: leave the pool, or it would count on a worker that
            // never wakes again (and requests would wait in the queue for ever).
            TInetLock lock(pool->workersLock_);
            auto it = std::find(pool->workers_.begin(), pool->workers_.end(), this);
            if (it != pool->workers_.end()) {
                pool->workers_.erase(it);
                freeSelf = true;
            }
            break;
        }
        TInetAsyncDnsLookupRequest* req = pool->TakeNext(this);
        if (!req) continue;
        int code = 0;
        {
            TInetLock lock(pool->pendingLock_);
            if (req->Cancelled) code = -1;
        }
        if (code == 0) {
            IncrementInUse();
            code = ResolveBlocking(req->HostText, req->IsReverse, req->Family, req->IpProtocol, WorkerResults);
            DecrementInUse();
        } else {
            code = 0;
        }
        bool deliver = false;
        if (!Terminated && IsWindow(req->NotifyWindow)) {
            TInetLock lock(pool->pendingLock_);
            if (!req->Cancelled) {
                req->Progress = 2;
                req->Results = &WorkerResults;
                DeliveringTo = GetWindowThreadProcessId(req->NotifyWindow, nullptr);
                deliver = true;
            }
        }
        // No lock is held here: the owner thread may take any of them while it handles this.
        const LPARAM result = LPARAM(MAKELONG(0, uint16_t(code)));
        if (deliver && req->Claim != 0)
            SendMessageA(req->NotifyWindow, InetSentResultMessage(), WPARAM(static_cast<TInetSentTarget*>(req)), result);
        else if (deliver)
            SendMessageA(req->NotifyWindow, req->Id, WPARAM(req), result);
        DeliveringTo = 0;
        pool->Finish(req);
    }
    if (freeSelf) delete this;
}

TInetAsyncDnsLookup::TInetAsyncDnsLookup(uint8_t MinWorkers, uint8_t MaxWorkers, uint32_t IdleSeconds)
    : minWorkers_(0), maxWorkers_(1), idleMs_(IdleSeconds * 1000) {
    SetWorkerLimits(MinWorkers, MaxWorkers);
}

TInetAsyncDnsLookup::~TInetAsyncDnsLookup() {
    shuttingDown_ = true;
    std::vector<TInetAsyncDnsLookupThread*> workers;
    {
        TInetLock lock(workersLock_);
        workers.swap(workers_);
    }
    bool deliveringHere = false;
    for (auto* w : workers) {
        w->Terminated = true;
        SetEvent(w->WakeEvent.get());
        deliveringHere = deliveringHere || w->DeliveringTo == GetCurrentThreadId();
    }
    // Freed from the handler of a result a worker sent: that worker waits inside SendMessage
    // until the handler returns, and the handler waits here for the worker. Answer the
    // message now so the worker can end; the handler has taken what it needed of it.
    if (deliveringHere && InSendMessage()) ReplyMessage(0);
    for (auto* w : workers) {
        // Keep handling messages sent to this thread: a worker may be inside SendMessage.
        const HANDLE thread = w->Thread.get();
        for (;;) {
            const DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
            if (r != WAIT_OBJECT_0 + 1) break;
            MSG m;
            PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        delete w;
    }
    TInetLock lock(pendingLock_);
    for (auto* r : pending_) delete r;
    pending_.clear();
}

void TInetAsyncDnsLookup::SetWorkerLimits(uint8_t Min, uint8_t Max) {
    TInetLock lock(workersLock_);
    maxWorkers_ = std::max<uint8_t>(Max, 1);
    minWorkers_ = std::min(Min, maxWorkers_);
}

int TInetAsyncDnsLookup::WorkerCount() {
    TInetLock lock(workersLock_);
    return int(workers_.size());
}

int TInetAsyncDnsLookup::PendingCount() {
    TInetLock lock(pendingLock_);
    return int(pending_.size());
}

TInetAsyncDnsLookupRequest* TInetAsyncDnsLookup::QueueRequest(HWND NotifyWindow, UINT NotifyMsg, int IpProtocol,
                                                              bool IsReverse, const std::string& HostText,
                                                              TSocketFamily Family, uint64_t Claim) {
    auto* req = new TInetAsyncDnsLookupRequest;
    {
        TInetLock lock(pendingLock_);
        if (Family == sfIPv6 && !HasIPv6Api()) {
            delete req;
            WinsockSetLastError(WSAVERNOTSUPPORTED);
            return nullptr;
        }
        req->NotifyWindow = NotifyWindow;
        req->Id = NotifyMsg;
        req->Claim = Claim;
        req->IpProtocol = IpProtocol;
        req->IsReverse = IsReverse;
        req->HostText = HostText;
        req->Family = Family;
        pending_.push_back(req);
    }
    TInetLock lock(workersLock_);
    for (auto* w : workers_) {
        if (!w->Engaged) {
            w->Engaged = true;
            SetEvent(w->WakeEvent.get());
            return req;
        }
    }
    if (workers_.size() < maxWorkers_) {
        auto* w = new TInetAsyncDnsLookupThread(this);
        w->Engaged = true;
        if (w->WakeEvent && w->Start())
            workers_.push_back(w);
        else
            delete w;  // the request waits for a worker that is free later
    }
    return req;
}

TInetAsyncDnsLookupRequest* TInetAsyncDnsLookup::TakeNext(TInetAsyncDnsLookupThread* Worker) {
    TInetLock lock(pendingLock_);
    if (!shuttingDown_) {
        for (auto* r : pending_) {
            if (r->Progress == 0) {
                r->Progress = 1;
                return r;
            }
        }
    }
    // Idle: decided under the queue lock, so a request queued now finds us not engaged.
    TInetLock wl(workersLock_);
    ResetEvent(Worker->WakeEvent.get());
    Worker->Engaged = false;
    return nullptr;
}

void TInetAsyncDnsLookup::Finish(TInetAsyncDnsLookupRequest* Request) {
    TInetLock lock(pendingLock_);
    auto it = std::find(pending_.begin(), pending_.end(), Request);
    if (it != pending_.end()) pending_.erase(it);
    delete Request;
}

int TInetAsyncDnsLookup::CancelRequest(TInetAsyncDnsLookupRequest* Request) {
    TInetLock lock(pendingLock_);
    auto it = std::find(pending_.begin(), pending_.end(), Request);
    if (it == pending_.end()) {
        WinsockSetLastError(WSAEINVAL);
        return -1;
    }
    if (Request->Family == sfIPv6 && !HasIPv6Api()) {
        WinsockSetLastError(WSAVERNOTSUPPORTED);
        return -1;
    }
    switch (Request->Progress) {
        case 0:
            pending_.erase(it);
            delete Request;
            return 0;
        case 1:
            Request->Cancelled = true;
            return 0;
        default:
            WinsockSetLastError(WSAEALREADY);
            return -1;
    }
}

// ---- Store ----------------------------------------------------------------------------------

void** TThreadLocalStore::Acquire(uint32_t ThreadId) {
    TInetLock lock(lock_);
    TThreadStoreEntry key;
    key.OwnerThread = ThreadId;
    bool found;
    auto* e = static_cast<TThreadStoreEntry*>(tree_.Find(&key, found));
    if (!e) {
        e = new TThreadStoreEntry;
        e->OwnerThread = ThreadId;
        tree_.Insert(e);
    }
    ++e->Users;
    return &e->Value;
}

void* TThreadLocalStore::Release(uint32_t ThreadId) {
    TInetLock lock(lock_);
    TThreadStoreEntry key;
    key.OwnerThread = ThreadId;
    bool found;
    auto* e = static_cast<TThreadStoreEntry*>(tree_.Find(&key, found));
    if (!e) return nullptr;
    if (--e->Users > 0) return nullptr;
    void* value = e->Value;
    tree_.Remove(&key);
    return value;
}

TThreadLocalStore& InetDnsPoolStore() {
    static TThreadLocalStore* store = new TThreadLocalStore;  // kept: threads may outlive statics
    return *store;
}

// ---- Blocking resolver ----------------------------------------------------------------------

int ResolveBlocking(const std::string& Name, bool Reverse, TSocketFamily Family, int Protocol,
                    framework::TStringList& List) {
    List.Clear();
    addrinfo hints{};
    hints.ai_family = Family == sfIPv4 ? AF_INET : Family == sfIPv6 ? AF_INET6 : AF_UNSPEC;
    hints.ai_flags = Reverse ? AI_NUMERICHOST : 0;
    hints.ai_protocol = Protocol;
    addrinfo* res = nullptr;
    const int rc = Winsock::getaddrinfo(Name.c_str(), nullptr, &hints, &res);
    if (rc != 0) return rc;
    const TUniqueAddrInfo owned(res);
    int result = 0;
    int preferredCount = 0;  // with sfAnyIPv4/6: the preferred family's addresses lead
    for (const addrinfo* p = res; p; p = p->ai_next) {
        if (p->ai_family != AF_INET && p->ai_family != AF_INET6) continue;
        if (Reverse) {
            char host[1025];
            if (Winsock::getnameinfo(p->ai_addr, socklen_t(p->ai_addrlen), host, sizeof(host), nullptr, 0, 0) != 0) {
                result = WinsockGetLastError();
                break;
            }
            List.Add(InetWideToAnsi(InetHostToUnicode(host)));
            continue;
        }
        std::string text;
        if (p->ai_family == AF_INET)
            text = IPv4ToText(reinterpret_cast<const sockaddr_in*>(p->ai_addr)->sin_addr.s_addr);
        else
            text = IPv6ToText(reinterpret_cast<const sockaddr_in6*>(p->ai_addr)->sin6_addr);
        const bool preferred = (Family == sfAnyIPv4 && p->ai_family == AF_INET) ||
                               (Family == sfAnyIPv6 && p->ai_family == AF_INET6);
        if (preferred) {
            List.Insert(preferredCount++, text);
        } else {
            List.Add(text);
        }
    }
    return result;
}
