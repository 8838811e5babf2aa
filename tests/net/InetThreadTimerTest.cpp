// Thread timers: ticks on the owner's thread, a timer whose handler frees it and its
// owner, arming rules, and the pool of clock threads.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "net/InetThreadTimer.h"
#include "net/NetSocket.h"
#include "support/Pump.h"

using testsupport::PumpUntil;

TEST(InetThreadTimer, TicksOnTheOwnersThread) {
    TNetSocket owner(nullptr);
    TInetThreadTimer t(&owner);
    int ticks = 0;
    DWORD thread = 0;
    t.SetInterval(50);
    t.SetOnTimer([&](framework::TComponent*) {
        ++ticks;
        thread = GetCurrentThreadId();
    });
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }, 5000));
    EXPECT_EQ(thread, GetCurrentThreadId());
    EXPECT_TRUE(t.OwningClock()->HasWorker());
    t.SetEnabled(false);
    const int at = ticks;
    testsupport::PumpFor(300);
    EXPECT_EQ(ticks, at);
    EXPECT_EQ(t.OwningClock()->TimerCount(), 0);
}

TEST(InetThreadTimer, HandlerThatFreesTimerAndOwner) {
    // Clocks kept alive by sockets of earlier tests stay; this test adds none for good.
    const int clocks = InetClockPool().ClockCount();
    for (int i = 0; i < 20; ++i) {
        auto* owner = new TNetSocket(nullptr);
        auto* t = new TInetThreadTimer(owner);
        TInetClock* clock = t->OwningClock();
        bool fired = false;
        t->SetInterval(10);
        t->SetOnTimer([&](framework::TComponent*) {
            fired = true;
            delete t;
            delete owner;
        });
        ASSERT_TRUE(PumpUntil([&] { return fired; }, 5000));
        (void)clock;
    }
    testsupport::PumpFor(100);
    EXPECT_EQ(InetClockPool().ClockCount(), clocks);
}

TEST(InetThreadTimer, ArmingTwiceAndAClockPerThousandTimers) {
    TNetSocket owner(nullptr);
    TInetThreadTimer t(&owner);
    t.SetInterval(1000);
    t.SetOnTimer([](framework::TComponent*) {});
    try {
        t.OwningClock()->AddTimer(&t);
        FAIL();
    } catch (const EInetTimerException& e) {
        EXPECT_STREQ(e.what(), "Timer already exists");
    }
    const int clocks = InetClockPool().ClockCount();
    std::vector<std::unique_ptr<TInetThreadTimer>> many;
    for (int i = 0; i < 1000; ++i) many.push_back(std::make_unique<TInetThreadTimer>(&owner));
    EXPECT_GT(InetClockPool().ClockCount(), clocks);  // no clock serves more than 1000
    EXPECT_NE(many.back()->OwningClock(), t.OwningClock());
    many.clear();
    EXPECT_EQ(InetClockPool().ClockCount(), clocks);
}

// Disarmed and re-armed while its last tick still waits in the queue: that tick is still
// the one in flight, so the clock posts no second one until it has been handled.
TEST(InetThreadTimer, ReArmedWithATickStillQueued) {
    TNetSocket owner(nullptr);
    TInetThreadTimer t(&owner);
    int ticks = 0;
    t.SetInterval(50);
    t.SetOnTimer([&](framework::TComponent*) { ++ticks; });
    HWND wnd = owner.WindowHandle();
    const UINT msg = InetThreadTimerMessage();
    // Queued ticks of this timer, taken out of the queue (nothing is pumped meanwhile).
    std::vector<MSG> queued;
    auto take = [&] {
        MSG m;
        while (PeekMessageA(&m, wnd, msg, msg, PM_REMOVE | PM_QS_POSTMESSAGE))
            if (UINT_PTR(m.lParam) == t.TimerId()) queued.push_back(m);
    };
    for (int i = 0; i < 500 && queued.empty(); ++i) {
        Sleep(10);
        take();
    }
    ASSERT_EQ(queued.size(), 1u);
    ASSERT_TRUE(PostMessageA(wnd, msg, queued[0].wParam, queued[0].lParam));  // back in the queue
    queued.clear();
    t.SetEnabled(false);
    t.SetEnabled(true);
    Sleep(600);  // several periods, none of which may post a second tick
    take();
    EXPECT_EQ(queued.size(), 1u);
    for (const MSG& m : queued) DispatchMessageA(&m);
    EXPECT_EQ(ticks, int(queued.size()));
    // Handled: the timer ticks on.
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }, 5000));
}
