// Timers without system timers: a shared background clock thread watches many timers and,
// when one is due, posts the registered thread-timer message to its owner's hidden window,
// where the timer fires on the owner's thread. One clock thread serves up to 1000 timers
// and looks every 100 ms, so a period is rounded up to the next 100 ms after the previous
// tick was handled. At most one tick per timer is in flight.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "net/InetUtils.h"
#include "net/InetWndControl.h"

class TInetClock;

class TInetThreadTimer : public TInetTimer {
public:
    explicit TInetThreadTimer(TInetWndControl* Owner);
    ~TInetThreadTimer() override;

    // Keeps the clock's thread parked rather than ended while it has no armed timer.
    void SetKeepClockAlive(bool Value);
    TInetClock* OwningClock() const { return owningClock_; }

protected:
    void UpdateTimer() override;
    // Fires OnTimer; the handler may free the timer (and its owner): nothing of it is
    // touched afterwards then.
    void TimerFired(framework::TMessage& Msg) override;
    bool IsThreadTimer() const override { return true; }
    void Disarm() override;

private:
    friend class TInetClock;
    TInetClock* owningClock_;
    // Guarded by the clock's list lock.
    uint32_t periodStart_ = 0;
    bool tickPending_ = false;
    HWND targetWindow_ = nullptr;
    bool targetGone_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class TInetClockPool;

// One clock thread and the timers it serves.
class TInetClock {
public:
    explicit TInetClock(TInetClockPool* Pool) : pool_(Pool) {}
    ~TInetClock();
    // Raises EInetTimerException "Timer already exists" for a timer already armed.
    void AddTimer(TInetThreadTimer* Timer);
    void RemoveTimer(TInetThreadTimer* Timer);
    void MessageHandled(TInetThreadTimer* Timer);
    bool KeepWorkerAlive = false;
    // Whether the clock's thread runs now (for tests and diagnostics).
    bool HasWorker();
    int TimerCount();

private:
    struct Worker;
    void StopWorker(Worker* W);
    static DWORD WINAPI Run(void* Param);

    TInetClockPool* pool_;
    std::vector<TInetThreadTimer*> timers_;
    TInetCriticalSection listLock_;
    TInetCriticalSection armLock_;
    Worker* worker_ = nullptr;
};

// The process's clocks, each with the number of timers using it.
class TInetClockPool {
public:
    static constexpr int TimersPerClock = 1000;
    static constexpr uint32_t Resolution = 100;
    TInetClock* GetClock();
    void ReleaseClock(TInetClock* Clock);
    int ClockCount();

private:
    struct Entry {
        TInetClock* Clock;
        int Users;
    };
    std::vector<Entry> clocks_;
};

TInetClockPool& InetClockPool();
