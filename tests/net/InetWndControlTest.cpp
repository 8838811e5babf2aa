// The hidden message window: message ids per window, queued messages of freed ids, windows
// and the class coming and going, thread moves, background exceptions, self-destruction from
// a handler, and window timers (stale ticks, a timer that frees its owner).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "net/InetWndControl.h"
#include "support/Pump.h"

using framework::TMessage;

namespace {

// A component with Extra ids of its own that records what arrives on them.
class Probe : public TInetWndControl {
public:
    explicit Probe(int extra = 2) : TInetWndControl(nullptr), extra_(extra) {}
    ~Probe() override { BeginDestroy(); }

    std::vector<UINT> ids;
    std::vector<std::pair<UINT, WPARAM>> got;
    std::function<void(Probe*, TMessage&)> onMsg;
    int aborts = 0;

    using TInetWndControl::AllocateHiddenWindow;
    using TInetWndControl::HandleBgException;

protected:
    int MessageIdCount() override { return TInetWndControl::MessageIdCount() + extra_; }
    void TakeMessageIds() override {
        TInetWndControl::TakeMessageIds();
        for (int i = 0; i < extra_; ++i) ids.push_back(HandlerRef()->ClaimMessageId(this));
    }
    void ReturnMessageIds() override {
        for (UINT& id : ids) HandlerRef()->FreeMessageId(id);
        ids.clear();
        TInetWndControl::ReturnMessageIds();
    }
    void WndProc(TMessage& m) override {
        if (std::find(ids.begin(), ids.end(), m.Msg) == ids.end()) return TInetWndControl::WndProc(m);
        auto alive = AliveToken();
        try {
            got.emplace_back(m.Msg, m.WParam);
            if (onMsg) {
                auto handler = onMsg;
                handler(this, m);
            }
        } catch (const std::exception& e) {
            if (*alive) HandleBgException(e, "Probe.WndProc");
        }
    }
    void AbortAfterException(const std::exception&) override { ++aborts; }

private:
    int extra_;
};

bool ClassRegistered() {
    WNDCLASSA wc;
    return GetClassInfoA(GetModuleHandleA(nullptr), "InetWndControlWindowClass", &wc) != FALSE;
}

TEST(HiddenWindow, IdsShareAWindowUntilItIsFull) {
    const int windowsBefore = InetHiddenWindowCount();
    Probe a(60), b(30), c(60);
    a.GetHandle();
    b.GetHandle();
    EXPECT_EQ(a.IdRelease(), UINT(WM_USER + 1));
    EXPECT_EQ(a.ids.front(), UINT(WM_USER + 2));
    EXPECT_EQ(b.WindowHandle(), a.WindowHandle());
    EXPECT_EQ(b.IdRelease(), UINT(WM_USER + 62));
    EXPECT_EQ(a.HandlerRef()->FreeIdCount(), 100 - 61 - 31);
    // 61 more ids do not fit: a second window, with ids from the same start.
    c.GetHandle();
    EXPECT_NE(c.WindowHandle(), a.WindowHandle());
    EXPECT_EQ(c.IdRelease(), UINT(WM_USER + 1));
    EXPECT_EQ(InetHiddenWindowCount(), windowsBefore + 2);
    EXPECT_EQ(c.OwnerThread(), GetCurrentThreadId());
    Probe tooMany(100);
    try {
        tooMany.GetHandle();
        FAIL() << "no exception";
    } catch (const EInetException& e) {
        EXPECT_STREQ(e.what(), "INET message IDs out of bounds!");
    }
    EXPECT_EQ(tooMany.WindowHandle(), nullptr);
}

TEST(HiddenWindow, IdErrors) {
    Probe a(1);
    a.GetHandle();
    TInetWndHandler* h = a.HandlerRef();
    UINT outside = WM_USER + 150, unused = WM_USER + 50, none = 0;
    EXPECT_THROW(h->FreeMessageId(outside), EInetException);
    try {
        h->FreeMessageId(unused);
        FAIL();
    } catch (const EInetException& e) {
        EXPECT_STREQ(e.what(), "Msg not registered");
    }
    h->FreeMessageId(none);  // nothing for 0
    TInetWndHandler fresh;   // MsgLow not set
    EXPECT_THROW(fresh.ClaimMessageId(&a), EInetException);
}

TEST(HiddenWindow, LastIdTakesTheWindowAndTheClassWithIt) {
    const int before = InetHiddenWindowCount();
    ASSERT_EQ(before, 0) << "another test left a hidden window";
    HWND wnd;
    {
        Probe a;
        wnd = a.GetHandle();
        EXPECT_TRUE(IsWindow(wnd));
        EXPECT_TRUE(ClassRegistered());
        EXPECT_EQ(InetHiddenWindowCount(), 1);
    }
    EXPECT_FALSE(IsWindow(wnd));
    EXPECT_EQ(InetHiddenWindowCount(), 0);
    EXPECT_FALSE(ClassRegistered());
    EXPECT_EQ(InetWndHandlerPool().ListCount(), 0u);
    Probe again;
    EXPECT_TRUE(IsWindow(again.GetHandle()));
    EXPECT_TRUE(ClassRegistered());
}

namespace {
// Blocks until a message another thread sent is waiting in this thread's queue.
void WaitForIncomingSentMessage() {
    while (!(HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE)) Sleep(1);
}
}  // namespace

// A message posted just before a component goes must not reach the next owner of its id.
TEST(HiddenWindow, QueuedMessagesOfAFreedIdAreDropped) {
    Probe keeper(1);  // keeps the window alive
    keeper.GetHandle();
    auto first = std::make_unique<Probe>(1);
    first->GetHandle();
    const UINT id = first->ids[0];
    ASSERT_TRUE(PostMessageA(first->WindowHandle(), id, 77, 0));
    ASSERT_TRUE(PostMessageA(first->WindowHandle(), id, 78, 0));
    first.reset();
    Probe second(1);
    second.GetHandle();
    ASSERT_EQ(second.ids[0], id) << "the freed id is the lowest free one";
    ASSERT_TRUE(PostMessageA(second.WindowHandle(), id, 99, 0));
    // Sent by another thread, it reaches the new owner however soon it comes (here: while
    // the stale messages are still queued).
    std::thread sender([&] { SendMessageA(second.WindowHandle(), id, 98, 0); });
    WaitForIncomingSentMessage();
    ASSERT_TRUE(testsupport::PumpUntil([&] { return second.got.size() >= 2; }));
    sender.join();
    testsupport::PumpFor(50);
    ASSERT_EQ(second.got.size(), 2u);
    EXPECT_EQ(second.got[0].second, 98u);
    EXPECT_EQ(second.got[1].second, 99u);
}

// Another thread sends to the window (as the look-up workers do) while a component of the
// same window is released. The sent message's handler frees the window's last other
// component, and with it the handler: it must not run inside the release (nor under the
// pool lock, where another thread's GetHandle would wait for it), but afterwards.
TEST(HiddenWindow, MessageSentFromAnotherThreadDuringARelease) {
    auto* leaving = new Probe(1);
    auto* target = new Probe(1);
    leaving->GetHandle();
    target->GetHandle();
    ASSERT_EQ(leaving->WindowHandle(), target->WindowHandle());
    HWND wnd = target->WindowHandle();
    const UINT id = target->ids[0];
    auto targetAlive = target->AliveToken();
    bool releasing = false;
    std::vector<bool> ranDuringRelease;
    target->onMsg = [&](Probe* self, TMessage&) {
        ranDuringRelease.push_back(releasing);
        delete self;  // the window's last component: the handler goes too
    };
    LRESULT sent = -1;
    std::thread sender([&] { sent = SendMessageA(wnd, id, 5, 0); });
    WaitForIncomingSentMessage();
    releasing = true;
    delete leaving;
    releasing = false;
    EXPECT_TRUE(ranDuringRelease.empty());
    ASSERT_TRUE(testsupport::PumpUntil([&] { return !*targetAlive; }));
    sender.join();
    EXPECT_EQ(ranDuringRelease, std::vector<bool>{false});
    EXPECT_EQ(sent, 0);
    EXPECT_FALSE(IsWindow(wnd));
    EXPECT_EQ(InetHiddenWindowCount(), 0);
}

TEST(HiddenWindow, MessagesOfOtherIdsAndHooks) {
    Probe a(1);
    a.GetHandle();
    std::vector<UINT> hooked;
    a.HandlerRef()->MessageHook = [&](TInetWndHandler*, TMessage& m, bool& handled) {
        hooked.push_back(m.Msg);
        handled = m.Msg == WM_APP + 5;
    };
    PostMessageA(a.WindowHandle(), WM_APP + 5, 0, 0);
    PostMessageA(a.WindowHandle(), a.ids[0], 1, 0);
    testsupport::PumpFor(50);
    EXPECT_EQ(hooked, std::vector<UINT>{WM_APP + 5});
    EXPECT_EQ(a.got.size(), 1u);
}

// The last component of a window frees itself from its own handler: the window and its
// handler go while the window procedure still runs.
TEST(HiddenWindow, ComponentFreedInsideItsOwnHandler) {
    auto* p = new Probe(1);
    p->GetHandle();
    auto alive = p->AliveToken();
    p->onMsg = [](Probe* self, TMessage&) {
        delete self;
        throw std::runtime_error("after the component went");  // must not reach it
    };
    PostMessageA(p->WindowHandle(), p->ids[0], 0, 0);
    ASSERT_TRUE(testsupport::PumpUntil([&] { return !*alive; }));
    EXPECT_EQ(InetHiddenWindowCount(), 0);
    Probe next;
    EXPECT_TRUE(IsWindow(next.GetHandle()));
}

TEST(HiddenWindow, ReleaseLater) {
    auto* p = new Probe(1);
    p->GetHandle();
    auto alive = p->AliveToken();
    p->onMsg = [](Probe* self, TMessage&) { self->ReleaseLater(); };
    PostMessageA(p->WindowHandle(), p->ids[0], 0, 0);
    ASSERT_TRUE(testsupport::PumpUntil([&] { return !*alive; }));
    EXPECT_EQ(InetHiddenWindowCount(), 0);
}

TEST(HiddenWindow, ThreadMoves) {
    Probe p(1);
    HWND first = p.GetHandle();
    try {
        p.AttachToThread();
        FAIL();
    } catch (const EInetException& e) {
        EXPECT_STREQ(e.what(), "Cannot attach when not detached");
    }
    std::string fromOther;
    std::thread([&] {
        try {
            p.DetachFromThread();
        } catch (const EInetException& e) {
            fromOther = e.what();
        }
    }).join();
    EXPECT_EQ(fromOther, "Cannot detach from another thread");
    p.DetachFromThread();
    EXPECT_EQ(p.WindowHandle(), nullptr);
    EXPECT_FALSE(IsWindow(first));
    DWORD otherThread = 0;
    HWND otherWnd = nullptr;
    std::thread([&] {
        p.AttachToThread();
        otherThread = GetCurrentThreadId();
        otherWnd = p.WindowHandle();
        EXPECT_EQ(GetWindowThreadProcessId(otherWnd, nullptr), otherThread);
        p.DetachFromThread();  // windows die with their thread
    }).join();
    EXPECT_NE(otherWnd, nullptr);
    EXPECT_EQ(p.OwnerThread(), 0u);
    p.AttachToThread();
    EXPECT_EQ(p.OwnerThread(), GetCurrentThreadId());
}

TEST(HiddenWindow, BackgroundExceptions) {
    Probe p(1);
    p.GetHandle();
    std::vector<std::string> seen;
    bool allowClose = true;
    p.SetOnBgException([&](framework::TComponent* sender, const std::exception& e, bool& canClose) {
        EXPECT_EQ(sender, &p);
        seen.push_back(e.what());
        canClose = allowClose;
    });
    p.onMsg = [](Probe*, TMessage& m) {
        if (m.WParam == 1) throw std::runtime_error("boom");
        if (m.WParam == 2) throw EAbort();
    };
    PostMessageA(p.WindowHandle(), p.ids[0], 1, 0);
    testsupport::PumpFor(30);
    EXPECT_EQ(seen, std::vector<std::string>{"boom"});
    EXPECT_EQ(p.aborts, 1);
    allowClose = false;
    PostMessageA(p.WindowHandle(), p.ids[0], 1, 0);
    PostMessageA(p.WindowHandle(), p.ids[0], 2, 0);  // silent
    testsupport::PumpFor(30);
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_EQ(p.aborts, 1);
    // Without a handler the exception still aborts, and is reported to nobody by default.
    p.SetOnBgException(nullptr);
    p.AbortNotify = [&](const std::exception& e) { seen.push_back(std::string("notify ") + e.what()); };
    PostMessageA(p.WindowHandle(), p.ids[0], 1, 0);
    testsupport::PumpFor(30);
    EXPECT_EQ(seen.back(), "notify boom");
    EXPECT_EQ(p.aborts, 2);
}

// Records what the pumps tell it about WM_QUIT.
class QuitProbe : public Probe {
public:
    QuitProbe() : Probe(1) {}
    std::vector<bool> told;
    void SetTerminated(bool Value) override {
        told.push_back(Value);
        Probe::SetTerminated(Value);
    }
};

TEST(HiddenWindow, PumpsAndQuit) {
    QuitProbe p;
    p.GetHandle();
    p.SetMultiThreaded(true);
    PostMessageA(p.WindowHandle(), p.ids[0], 5, 0);
    int hooked = 0;
    p.SetPumpHook([&](TInetWndControl* sender) {
        EXPECT_EQ(sender, &p);
        ++hooked;
    });
    p.PumpMessages();  // the hook instead of the pump
    EXPECT_EQ(hooked, 1);
    EXPECT_TRUE(p.got.empty());
    p.SetPumpHook(nullptr);
    p.PumpMessages();
    ASSERT_EQ(p.got.size(), 1u);
    EXPECT_FALSE(p.PumpOneMessage());
    PostQuitMessage(0);
    EXPECT_TRUE(p.PumpOneMessage());
    EXPECT_TRUE(p.GetTerminated());
    // Through the virtual setter, as the message loop does: a layer that overrides it hears.
    EXPECT_EQ(p.told, std::vector<bool>{true});
}

// ---- timers ----

// A component that owns its timer, as components do.
class TimerOwner : public TInetWndControl {
public:
    TimerOwner() : TInetWndControl(nullptr) {
        GetHandle();
        timer = std::make_unique<TInetTimer>(this);
    }
    ~TimerOwner() override {
        timer.reset();
        BeginDestroy();
    }
    std::unique_ptr<TInetTimer> timer;
};

TEST(InetTimerTest, FiresAndObeysItsSettings) {
    EXPECT_THROW(TInetTimer(nullptr), EInetTimerException);
    TimerOwner owner;
    TInetTimer& t = *owner.timer;
    EXPECT_TRUE(t.Enabled());
    EXPECT_EQ(t.Interval(), 1000u);
    int ticks = 0;
    t.SetInterval(20);
    EXPECT_FALSE(t.Armed());  // no handler yet
    t.SetOnTimer([&](framework::TComponent* s) {
        EXPECT_EQ(s, &t);
        ++ticks;
    });
    EXPECT_TRUE(t.Armed());
    ASSERT_TRUE(testsupport::PumpUntil([&] { return ticks >= 3; }));
    // Setting Enabled to its value does not re-arm the system timer.
    const uint32_t armed = t.LastArmTick();
    Sleep(30);
    t.SetEnabled(true);
    EXPECT_EQ(t.LastArmTick(), armed);
    t.SetInterval(0);
    EXPECT_FALSE(t.Armed());
    t.SetInterval(20);
    EXPECT_TRUE(t.Armed());
    t.SetEnabled(false);
    EXPECT_FALSE(t.Armed());
    ticks = 0;
    testsupport::PumpFor(80);
    EXPECT_EQ(ticks, 0);
}

TEST(InetTimerTest, SettersNeedAWindow) {
    Probe windowless(0);
    TInetTimer t(&windowless);
    try {
        t.SetInterval(5);
        FAIL();
    } catch (const EInetTimerException& e) {
        EXPECT_STREQ(e.what(), "No window available");
    }
}

// WM_TIMER messages that name no live timer: a freed one, a garbage value, a thread-timer
// id through the wrong message.
TEST(InetTimerTest, StaleAndForeignTimerMessagesAreIgnored) {
    TimerOwner owner;
    int ticks = 0;
    owner.timer->SetInterval(10000);
    owner.timer->SetOnTimer([&](framework::TComponent*) { ++ticks; });
    const UINT_PTR liveId = owner.timer->TimerId();
    auto stale = std::make_unique<TInetTimer>(&owner);
    const UINT_PTR staleId = stale->TimerId();
    stale.reset();
    HWND wnd = owner.WindowHandle();
    PostMessageA(wnd, WM_TIMER, staleId, 0);
    PostMessageA(wnd, WM_TIMER, 0x1234, 0);
    PostMessageA(wnd, WM_TIMER, reinterpret_cast<WPARAM>(&owner), 0);
    PostMessageA(wnd, InetThreadTimerMessage(), 0, LPARAM(liveId));
    testsupport::PumpFor(50);
    EXPECT_EQ(ticks, 0);
    PostMessageA(wnd, WM_TIMER, liveId, 0);  // the live one does fire
    testsupport::PumpFor(30);
    EXPECT_EQ(ticks, 1);
    // Ids are never reused.
    TInetTimer another(&owner);
    EXPECT_NE(another.TimerId(), staleId);
}

// The handler frees the timer's owner, and with it the timer, from inside the tick.
TEST(InetTimerTest, HandlerFreesItsOwner) {
    auto* owner = new TimerOwner;
    auto alive = owner->AliveToken();
    int ticks = 0;
    owner->timer->SetInterval(10);
    owner->timer->SetOnTimer([&ticks, owner](framework::TComponent*) {
        ++ticks;
        delete owner;
    });
    ASSERT_TRUE(testsupport::PumpUntil([&] { return !*alive; }));
    testsupport::PumpFor(50);
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(InetHiddenWindowCount(), 0);
}

// A timer that outlives its owner forgets it and stops.
TEST(InetTimerTest, OwnerGoesFirst) {
    auto owner = std::make_unique<TimerOwner>();
    std::unique_ptr<TInetTimer> t = std::move(owner->timer);
    int ticks = 0;
    t->SetInterval(10);
    t->SetOnTimer([&](framework::TComponent*) { ++ticks; });
    owner.reset();
    EXPECT_EQ(t->OwnerControl(), nullptr);
    EXPECT_FALSE(t->Armed());
    testsupport::PumpFor(50);
    EXPECT_EQ(ticks, 0);
    EXPECT_THROW(t->SetInterval(20), EInetTimerException);
}

}  // namespace
