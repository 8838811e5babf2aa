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
