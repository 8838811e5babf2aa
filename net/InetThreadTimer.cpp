#include "net/InetThreadTimer.h"

#include <algorithm>
#include <memory>

#include "framework/Handles.h"
#include "framework/SysUtils.h"

namespace {
TInetCriticalSection& PoolLock() {
    static TInetCriticalSection* cs = new TInetCriticalSection;  // kept: clocks outlive statics
    return *cs;
}
}  // namespace

struct TInetClock::Worker {
    TInetClock* Clock = nullptr;
    framework::UniqueKernelHandle Thread;
    framework::UniqueKernelHandle WakeEvent;  // auto-reset
    std::atomic<uint32_t> WaitMs{TInetClockPool::Resolution};
    std::atomic<bool> Terminated{false};
    std::atomic<bool> Finished{false};
};

// ---- Timer ----------------------------------------------------------------------------------

TInetThreadTimer::TInetThreadTimer(TInetWndControl* Owner) : TInetTimer(Owner), owningClock_(InetClockPool().GetClock()) {}

TInetThreadTimer::~TInetThreadTimer() {
    *alive_ = false;
    enabled_ = false;
    owningClock_->RemoveTimer(this);
    InetClockPool().ReleaseClock(owningClock_);
}

void TInetThreadTimer::SetKeepClockAlive(bool Value) { owningClock_->KeepWorkerAlive = Value; }

void TInetThreadTimer::UpdateTimer() {
    owningClock_->RemoveTimer(this);
    if (!enabled_ || interval_ == 0 || !onTimer_ || !ownerControl_) return;
    try {
        owningClock_->AddTimer(this);
    } catch (...) {
        enabled_ = false;
        throw;
    }
    lastArmTick_ = InetTickCount();
}

void TInetThreadTimer::Disarm() { owningClock_->RemoveTimer(this); }

void TInetThreadTimer::TimerFired(framework::TMessage& Msg) {
    auto alive = alive_;
    TInetClock* clock = owningClock_;
    if (enabled_ && onTimer_) {
        auto handler = onTimer_;
        handler(this);
    }
    if (*alive) clock->MessageHandled(this);
}

// ---- Clock ----------------------------------------------------------------------------------

TInetClock::~TInetClock() {
    Worker* w = nullptr;
    {
        TInetLock lock(armLock_);
        w = worker_;
        worker_ = nullptr;
    }
    if (w) StopWorker(w);
}

void TInetClock::StopWorker(Worker* W) {
    W->Terminated = true;
    SetEvent(W->WakeEvent.get());
    WaitForSingleObject(W->Thread.get(), INFINITE);
    delete W;
}

bool TInetClock::HasWorker() {
    TInetLock lock(armLock_);
    return worker_ && !worker_->Finished && worker_->WaitMs != INFINITE;
}

int TInetClock::TimerCount() {
    TInetLock lock(listLock_);
    return int(timers_.size());
}

void TInetClock::AddTimer(TInetThreadTimer* Timer) {
    TInetLock arm(armLock_);
    if (worker_ && worker_->Finished) {
        StopWorker(worker_);
        worker_ = nullptr;
    }
    // The owner's window, made now when it has none: ticks are posted to it.
    HWND wnd = Timer->OwnerControl() ? Timer->OwnerControl()->GetHandle() : nullptr;
    TInetLock list(listLock_);
    if (std::find(timers_.begin(), timers_.end(), Timer) != timers_.end())
        throw EInetTimerException("Timer already exists");
    if (!worker_) {
        auto w = std::make_unique<Worker>();
        w->Clock = this;
        w->WakeEvent.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
        if (w->WakeEvent) w->Thread.reset(CreateThread(nullptr, 0, &Run, w.get(), 0, nullptr));
        if (!w->Thread) throw EInetTimerException(framework::SysErrorMessage(GetLastError()));
        worker_ = w.release();
    }
    Timer->periodStart_ = InetTickCount();
    // A tick posted before a disarm may still wait in the window's queue; it still ends in
    // MessageHandled, so a re-arm on the same window keeps it counted: never two in flight.
    // On another window the old tick is gone with its window.
    Timer->tickPending_ = Timer->tickPending_ && !Timer->targetGone_ && Timer->targetWindow_ == wnd;
    Timer->targetWindow_ = wnd;
    Timer->targetGone_ = false;
    timers_.push_back(Timer);
    if (worker_->WaitMs == INFINITE) {
        worker_->WaitMs = TInetClockPool::Resolution;
        SetEvent(worker_->WakeEvent.get());
    }
}

void TInetClock::RemoveTimer(TInetThreadTimer* Timer) {
    TInetLock arm(armLock_);
    bool empty;
    {
        TInetLock list(listLock_);
        auto it = std::find(timers_.begin(), timers_.end(), Timer);
        if (it == timers_.end()) return;
        timers_.erase(it);
        empty = timers_.empty();
    }
    if (!empty || !worker_) return;
    if (KeepWorkerAlive) {
        worker_->WaitMs = INFINITE;
        SetEvent(worker_->WakeEvent.get());
    } else {
        StopWorker(worker_);
        worker_ = nullptr;
    }
}

void TInetClock::MessageHandled(TInetThreadTimer* Timer) {
    TInetLock list(listLock_);
    Timer->tickPending_ = false;
    Timer->periodStart_ = InetTickCount();
}

DWORD WINAPI TInetClock::Run(void* Param) {
    auto* w = static_cast<Worker*>(Param);
    TInetClock* clock = w->Clock;
    try {
        const UINT msg = InetThreadTimerMessage();
        while (!w->Terminated) {
            const DWORD r = WaitForSingleObject(w->WakeEvent.get(), w->WaitMs);
            if (w->Terminated) break;
            if (r == WAIT_OBJECT_0) continue;  // new wait time or a new timer
            if (r == WAIT_ABANDONED) break;
            if (r != WAIT_TIMEOUT) throw EInetTimerException(framework::SysErrorMessage(GetLastError()));
            const uint32_t now = InetTickCount();
            TInetLock list(clock->listLock_);
            for (TInetThreadTimer* t : clock->timers_) {
                if (w->Terminated) break;
                if (t->targetGone_) continue;
                if (t->tickPending_) {
                    t->periodStart_ = now;
                    continue;
                }
                if (InetTickDiff(t->periodStart_, now) < t->interval_) continue;
                if (PostMessageA(t->targetWindow_, msg, WPARAM(t), LPARAM(t->TimerId()))) {
                    t->periodStart_ = now;
                    t->tickPending_ = true;
                    continue;
                }
                const DWORD err = GetLastError();
                if (err == ERROR_INVALID_WINDOW_HANDLE) t->targetGone_ = true;  // never posted again
                if (err == ERROR_NOT_ENOUGH_QUOTA) break;
            }
        }
    } catch (const std::exception&) {
        // A failed wait: nobody to hand it to on this thread, which ends silently; the next
        // arm starts a new one.
    }
    // The timers are no longer served: a later arm finds none of them listed and starts a
    // new thread for them.
    w->Finished = true;
    {
        TInetLock list(clock->listLock_);
        clock->timers_.clear();
    }
    return 0;
}

// ---- Pool -----------------------------------------------------------------------------------

TInetClockPool& InetClockPool() {
    static TInetClockPool* pool = new TInetClockPool;
    return *pool;
}

TInetClock* TInetClockPool::GetClock() {
    TInetLock lock(PoolLock());
    for (Entry& e : clocks_) {
        if (e.Users < TimersPerClock) {
            ++e.Users;
            return e.Clock;
        }
    }
    clocks_.push_back({new TInetClock(this), 1});
    return clocks_.back().Clock;
}

void TInetClockPool::ReleaseClock(TInetClock* Clock) {
    TInetClock* gone = nullptr;
    {
        TInetLock lock(PoolLock());
        for (auto it = clocks_.begin(); it != clocks_.end(); ++it) {
            if (it->Clock != Clock) continue;
            if (it->Users > 1 || !Clock->KeepWorkerAlive) --it->Users;
            if (it->Users <= 0) {
                gone = Clock;
                clocks_.erase(it);
            }
            break;
        }
    }
    delete gone;  // outside the pool lock: it waits for the clock thread
}

int TInetClockPool::ClockCount() {
    TInetLock lock(PoolLock());
    return int(clocks_.size());
}
