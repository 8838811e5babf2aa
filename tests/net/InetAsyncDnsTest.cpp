// Name look-ups of the socket: literals answered at once, the library's asynchronous call
// and the worker pool, cancelling, connecting by name, sockets destroyed with a look-up
// in flight, and the pool's shutdown while a worker is handing over a result.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/InetAsyncDns.h"
#include "net/NetSocket.h"
#include "support/Pump.h"
#include "SocketTestUtil.h"

using testsupport::PumpUntil;

// A name that is no dotted address to the socket (three dots), so it goes through a real
// look-up, but that the system resolves by itself as 127.0.0.1: neither the hosts file
// nor any name server is asked.
static const char kName[] = "127.1";

namespace {
struct Lookup {
    std::unique_ptr<TNetSocket> sock = std::make_unique<TNetSocket>(nullptr);
    std::vector<uint16_t> done;
    explicit Lookup(bool pool) {
        if (pool) sock->ComponentOptions.Include(wsoInetDnsLookup);
        sock->OnDnsLookupDone = [this](framework::TComponent*, uint16_t e) { done.push_back(e); };
    }
};
}  // namespace

TEST(InetAsyncDns, LiteralsAndEmptyNamesAnswerAtOnce) {
    Lookup l(false);
    l.sock->DnsLookup(" 127.0.0.1", IPPROTO_TCP);
    ASSERT_EQ(l.done, std::vector<uint16_t>{0});  // inside the call
    EXPECT_EQ(l.sock->LookupResult(), "127.0.0.1");
    l.done.clear();
    EXPECT_THROW(l.sock->DnsLookup("", IPPROTO_TCP), ESocketException);
    EXPECT_EQ(l.done, std::vector<uint16_t>{WSAEINVAL});  // also when raising

    // IPv6 literals keep their scope id: it names the interface of a link-local address.
    const struct {
        const char* text;
        const char* result;
    } v6[] = {{"fe80::1%12", "fe80::1%12"}, {"fe80::1", "fe80::1"}, {" ::1 ", "::1"}, {"fe80::1%0", "fe80::1"}};
    for (const auto& c : v6) {
        Lookup six(false);
        six.sock->SetSocketFamily(sfAny);
        six.sock->DnsLookup(c.text, IPPROTO_TCP);
        EXPECT_EQ(six.done, std::vector<uint16_t>{0}) << c.text;
        EXPECT_EQ(six.sock->LookupResult(), c.result) << c.text;
    }
}

TEST(InetAsyncDns, ForwardLookupThroughLibraryAndPool) {
    for (bool pool : {false, true}) {
        Lookup l(pool);
        l.sock->DnsLookupTcp(kName);
        EXPECT_TRUE(l.sock->LookupPending());
        ASSERT_TRUE(PumpUntil([&] { return !l.done.empty(); }, 20000)) << pool;
        EXPECT_EQ(l.done, std::vector<uint16_t>{0}) << pool;
        EXPECT_EQ(l.sock->LookupResult(), "127.0.0.1") << pool;
        EXPECT_GE(l.sock->LookupResults().Count(), 1);
        EXPECT_FALSE(l.sock->LookupPending());
    }
}

TEST(InetAsyncDns, AbortReportsInterruptedAndConnectByName) {
    REQUIRE_PEERS();
    for (bool pool : {false, true}) {
        Lookup l(pool);
        l.sock->DnsLookupTcp(kName);
        l.sock->AbortDnsLookup();
        EXPECT_EQ(l.done, std::vector<uint16_t>{WSAEINTR});
        testsupport::PumpFor(200);  // the abandoned result, if any, is ignored
        EXPECT_EQ(l.done.size(), 1u);

        // Connecting by name goes through a look-up and on to the peer.
        Lookup c(pool);
        std::vector<TSocketState> states;
        uint16_t connected = 0xFFFF;
        c.sock->ComponentOptions.Include(wsoAsyncDnsLookup);
        c.sock->OnChangeState = [&](framework::TComponent*, TSocketState, TSocketState n) { states.push_back(n); };
        c.sock->OnSessionConnected = [&](framework::TComponent*, uint16_t e) { connected = e; };
        c.sock->SetAddr(kName);
        c.sock->SetPort(sockettest::PeerPort("echo"));
        c.sock->Connect();
        EXPECT_EQ(c.sock->State(), wsDnsLookup);
        ASSERT_TRUE(PumpUntil([&] { return connected != 0xFFFF; }, 20000));
        EXPECT_EQ(connected, 0);
        EXPECT_EQ(c.done, std::vector<uint16_t>{0});
        ASSERT_GE(states.size(), 3u);
        EXPECT_EQ(states[0], wsDnsLookup);
        EXPECT_EQ(c.sock->GetPeerAddr(), "127.0.0.1");
        c.sock->Abort();
    }
}

TEST(InetAsyncDns, SocketsDestroyedRightAfterStartingALookup) {
    for (bool pool : {false, true}) {
        int events = 0;
        for (int i = 0; i < 500; ++i) {
            auto s = std::make_unique<TNetSocket>(nullptr);
            if (pool) s->ComponentOptions.Include(wsoInetDnsLookup);
            s->OnDnsLookupDone = [&](framework::TComponent*, uint16_t) { ++events; };
            s->DnsLookupTcp(kName);
            s.reset();
            if (i % 50 == 0) testsupport::PumpFor(5);
        }
        testsupport::PumpFor(500);
        EXPECT_EQ(events, 0) << pool;
        // Look-ups still work afterwards.
        Lookup l(pool);
        l.sock->DnsLookupTcp(kName);
        ASSERT_TRUE(PumpUntil([&] { return !l.done.empty(); }, 20000)) << pool;
        EXPECT_EQ(l.done, std::vector<uint16_t>{0});
    }
    EXPECT_EQ(InetDnsPoolStore().Count(), 0);
}

TEST(InetAsyncDns, PoolShutdownWhileAWorkerHandsOverAResult) {
    for (int i = 0; i < 5; ++i) {
        Lookup l(true);
        l.sock->DnsLookupTcp(kName);
        // Not pumping: the worker finishes and waits inside SendMessage to this thread.
        Sleep(300);
        l.sock.reset();  // the last socket of the thread takes the pool down
        EXPECT_TRUE(l.done.empty());
    }
    EXPECT_EQ(InetDnsPoolStore().Count(), 0);
}

// Address to name: the library's call, the pool, and the blocking forms, which fire
// OnDnsLookupDone before they return. All ask the same system resolver, so all give the
// name the blocking IPv4 form gives.
TEST(InetAsyncDns, ReverseLookups) {
    Lookup sync(false);
    sync.sock->ReverseLookupSyncTcp("127.0.0.1");
    ASSERT_EQ(sync.done, std::vector<uint16_t>{0});
    const std::string name = sync.sock->LookupResult();
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(sync.sock->LookupResults()[0], name);

    struct Case {
        bool pool;
        bool blocking;
        TSocketFamily family;
    };
    for (const Case& c : {Case{false, false, sfIPv4}, Case{true, false, sfIPv4}, Case{false, false, sfAny},
                          Case{false, true, sfAny}, Case{false, true, sfAnyIPv4}}) {
        Lookup l(c.pool);
        l.sock->SetSocketFamily(c.family);
        if (c.blocking) {
            l.sock->ReverseLookupSyncTcp(" 127.0.0.1");
            EXPECT_EQ(l.done, std::vector<uint16_t>{0}) << c.pool << c.family;
        } else {
            l.sock->ReverseLookupTcp("127.0.0.1");
            EXPECT_TRUE(l.done.empty());
            ASSERT_TRUE(PumpUntil([&] { return !l.done.empty(); }, 20000)) << c.pool << c.family;
            EXPECT_EQ(l.done, std::vector<uint16_t>{0}) << c.pool << c.family;
        }
        EXPECT_EQ(l.sock->LookupResult(), name) << c.pool << c.family;
        ASSERT_GE(l.sock->LookupResults().Count(), 1);
        EXPECT_EQ(l.sock->LookupResults()[0], name);
        EXPECT_FALSE(l.sock->LookupPending());
    }

    // Empty and over-long addresses: raised, and reported as done with 10022 all the same.
    for (const std::string& bad : {std::string(), std::string(257, '1')}) {
        for (bool blocking : {false, true}) {
            if (!blocking && !bad.empty()) continue;  // only the blocking form has a limit
            Lookup l(false);
            if (blocking)
                EXPECT_THROW(l.sock->ReverseLookupSyncTcp(bad), ESocketException);
            else
                EXPECT_THROW(l.sock->ReverseLookupTcp(bad), ESocketException);
            EXPECT_EQ(l.done, std::vector<uint16_t>{WSAEINVAL}) << bad.size() << blocking;
        }
    }
}

namespace {
// A plain window whose messages go to OnMessage.
struct NotifyWindow {
    std::function<void(UINT, WPARAM, LPARAM)> OnMessage;
    HWND Wnd = nullptr;
    NotifyWindow() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
            auto* self = reinterpret_cast<NotifyWindow*>(GetWindowLongPtrA(w, GWLP_USERDATA));
            if (self && m == WM_APP + 1 && self->OnMessage) {
                self->OnMessage(m, wp, lp);
                return 0;
            }
            return DefWindowProcA(w, m, wp, lp);
        };
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "InetAsyncDnsTestWindow";
        RegisterClassA(&wc);
        Wnd = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrA(Wnd, GWLP_USERDATA, LONG_PTR(this));
    }
    ~NotifyWindow() { DestroyWindow(Wnd); }
};
}  // namespace

// The result's handler frees the pool (the thread's last socket going from its own
// OnDnsLookupDone): the pool's end must not wait for the worker that is still inside the
// SendMessage delivering that very result.
TEST(InetAsyncDns, PoolFreedFromTheHandlerOfItsOwnResult) {
    // Straight on the pool.
    {
        NotifyWindow w;
        auto* pool = new TInetAsyncDnsLookup(0, 2, 60);
        std::vector<std::string> got;
        bool freed = false;
        w.OnMessage = [&](UINT, WPARAM wp, LPARAM lp) {
            auto* req = reinterpret_cast<TInetAsyncDnsLookupRequest*>(wp);
            got.push_back(std::to_string(HIWORD(lp)));
            if (req->Results && req->Results->Count() > 0) got.push_back((*req->Results)[0]);
            delete pool;
            freed = true;
        };
        ASSERT_NE(pool->QueueRequest(w.Wnd, WM_APP + 1, IPPROTO_TCP, false, kName, sfAnyIPv4), nullptr);
        ASSERT_TRUE(PumpUntil([&] { return freed; }, 20000));
        EXPECT_EQ(got, (std::vector<std::string>{"0", "127.0.0.1"}));
    }
    // Through the thread's only pool-using socket, freed from its own OnDnsLookupDone.
    for (bool reverse : {false, true}) {
        const int stores = InetDnsPoolStore().Count();
        Lookup l(true);
        l.sock->OnDnsLookupDone = [&](framework::TComponent*, uint16_t e) {
            l.done.push_back(e);
            l.sock.reset();
        };
        if (reverse)
            l.sock->ReverseLookupTcp("127.0.0.1");
        else
            l.sock->DnsLookupTcp(kName);
        ASSERT_TRUE(PumpUntil([&] { return !l.sock; }, 20000)) << reverse;
        EXPECT_EQ(l.done, std::vector<uint16_t>{0}) << reverse;
        EXPECT_EQ(InetDnsPoolStore().Count(), stores) << reverse;
    }
}

TEST(InetAsyncDns, BlockingResolverAndThreadStore) {
    framework::TStringList list;
    ASSERT_EQ(ResolveBlocking(kName, false, sfAnyIPv4, IPPROTO_TCP, list), 0);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list[0], "127.0.0.1");
    ASSERT_EQ(ResolveBlocking("::1", false, sfAny, IPPROTO_TCP, list), 0);
    EXPECT_EQ(list[0], "::1");
    // Reverse look-ups take literal addresses only: refused without asking anyone.
    EXPECT_NE(ResolveBlocking("not-an-address", true, sfIPv4, IPPROTO_TCP, list), 0);

    TThreadLocalStore store;
    void** a = store.Acquire(7);
    *a = &store;
    EXPECT_EQ(store.Acquire(7), a);
    EXPECT_EQ(store.Release(7), nullptr);  // one user left
    EXPECT_EQ(store.Release(7), &store);
    EXPECT_EQ(store.Count(), 0);
    EXPECT_EQ(store.Release(7), nullptr);
}

namespace {
// Components that write down a release they never asked for instead of going.
struct FreeWatch {
    bool freedByMessage = false;
};
class WatchedControl : public TInetWndControl {
public:
    explicit WatchedControl(FreeWatch& W) : TInetWndControl(nullptr), w_(W) {}
    ~WatchedControl() override { BeginDestroy(); }

protected:
    void FreeSelf() override { w_.freedByMessage = true; }

private:
    FreeWatch& w_;
};
class WatchedSocket : public TNetSocket {
public:
    explicit WatchedSocket(FreeWatch& W) : TNetSocket(nullptr), w_(W) {}
    UINT LookupId() const { return idLookupDone_; }

protected:
    void FreeSelf() override { w_.freedByMessage = true; }

private:
    FreeWatch& w_;
};

// Takes the free ids of Wnd below Id with fillers (watched by FillerWatch), then makes the
// component (a control or a socket, watched by Watch) whose release id is Id.
std::unique_ptr<TInetWndControl> TakeId(UINT Id, HWND Wnd, bool Socket, FreeWatch& Watch, FreeWatch& FillerWatch,
                                        std::vector<std::unique_ptr<WatchedControl>>& Fillers) {
    for (;;) {
        auto f = std::make_unique<WatchedControl>(FillerWatch);
        f->GetHandle();
        EXPECT_EQ(f->WindowHandle(), Wnd);
        if (f->IdRelease() == Id) break;  // f goes: its id is the next free one
        EXPECT_LT(f->IdRelease(), Id);
        if (f->IdRelease() > Id) return nullptr;
        Fillers.push_back(std::move(f));
    }
    std::unique_ptr<TInetWndControl> b;
    if (Socket)
        b = std::make_unique<WatchedSocket>(Watch);
    else
        b = std::make_unique<WatchedControl>(Watch);
    b->GetHandle();
    EXPECT_EQ(b->IdRelease(), Id) << Socket;
    return b;
}
}  // namespace

// A pool result the worker sends after its socket went (past the cancel: the worker already
// waits inside SendMessage) must not reach the component that took the socket's look-up id
// next: as that component's release message it would destroy it.
TEST(InetAsyncDns, ResultOfAFreedSocketNeverReachesTheNextOwnerOfItsId) {
    for (bool nextIsSocket : {false, true}) {
        // C keeps the thread's pool alive across A's end.
        Lookup c(true);
        c.sock->DnsLookupTcp(kName);
        ASSERT_TRUE(PumpUntil([&] { return !c.done.empty(); }, 20000));

        FreeWatch watch;
        auto a = std::make_unique<WatchedSocket>(watch);
        a->ComponentOptions.Include(wsoInetDnsLookup);
        std::vector<uint16_t> aDone;
        a->OnDnsLookupDone = [&](framework::TComponent*, uint16_t e) { aDone.push_back(e); };
        a->DnsLookupTcp(kName);
        const UINT lookupId = a->LookupId();
        const HWND wnd = a->WindowHandle();
        ASSERT_EQ(wnd, c.sock->WindowHandle());
        Sleep(500);  // not pumping: the worker is done and waits inside SendMessage
        a.reset();

        // Ids below A's look-up id are taken, so the next component gets it first.
        std::vector<std::unique_ptr<WatchedControl>> fillers;
        FreeWatch fillerWatch;
        auto b = TakeId(lookupId, wnd, nextIsSocket, watch, fillerWatch, fillers);
        ASSERT_TRUE(b && b->IdRelease() == lookupId) << nextIsSocket;

        // Pump until the worker's result is through.
        void** slot = InetDnsPoolStore().Acquire(GetCurrentThreadId());
        auto* pool = static_cast<TInetAsyncDnsLookup*>(*slot);
        EXPECT_TRUE(PumpUntil([&] { return pool->PendingCount() == 0; }, 20000));
        InetDnsPoolStore().Release(GetCurrentThreadId());
        testsupport::PumpFor(50);
        EXPECT_FALSE(watch.freedByMessage) << nextIsSocket;
        EXPECT_FALSE(fillerWatch.freedByMessage) << nextIsSocket;
        EXPECT_TRUE(aDone.empty());
        EXPECT_EQ(c.done, std::vector<uint16_t>{0});
    }
}

// The library's answer comes by itself after its socket went (the cancel does not stop it
// everywhere): it reaches nobody, not the component that took the look-up id next.
TEST(InetAsyncDns, LibraryResultOfAFreedSocketNeverReachesTheNextOwnerOfItsId) {
    for (bool nextIsSocket : {false, true}) {
        Lookup c(false);  // keeps the window across A's end
        for (int round = 0; round < 20; ++round) {
            FreeWatch watch, fillerWatch;
            auto a = std::make_unique<WatchedSocket>(watch);
            std::vector<uint16_t> aDone;
            a->OnDnsLookupDone = [&](framework::TComponent*, uint16_t e) { aDone.push_back(e); };
            a->DnsLookupTcp("localhost");
            ASSERT_TRUE(a->LookupPending());
            const UINT lookupId = a->LookupId();
            const HWND wnd = a->WindowHandle();
            ASSERT_EQ(wnd, c.sock->WindowHandle());
            a.reset();
            std::vector<std::unique_ptr<WatchedControl>> fillers;
            auto b = TakeId(lookupId, wnd, nextIsSocket, watch, fillerWatch, fillers);
            ASSERT_TRUE(b && b->IdRelease() == lookupId) << nextIsSocket;
            testsupport::PumpFor(300);
            EXPECT_FALSE(watch.freedByMessage) << nextIsSocket << " round " << round;
            EXPECT_FALSE(fillerWatch.freedByMessage) << nextIsSocket << " round " << round;
            EXPECT_TRUE(aDone.empty());
            // Nothing of A's stays in the window's table.
            b.reset();
            fillers.clear();
            EXPECT_EQ(c.sock->HandlerRef()->ClaimedCount(), 0u);
        }
    }
}

namespace {
// A layer whose Connect raises when the look-up's continuation calls it again.
class RaisingOnContinue : public TNetSocket {
public:
    RaisingOnContinue() : TNetSocket(nullptr) {}
    int calls = 0;
    void Connect() override {
        if (++calls == 2) throw ESocketException("refused by the layer");
        TNetSocket::Connect();
    }
};
}  // namespace

// A connect by name that fails after the look-up, before any handle exists: the owner
// hears it as a failed connect, not only through the background exception.
TEST(InetAsyncDns, ConnectFailingAfterTheLookupEndsInAnEvent) {
    for (bool pool : {false, true}) {
        RaisingOnContinue s;
        if (pool) s.ComponentOptions.Include(wsoInetDnsLookup);
        s.ComponentOptions.Include(wsoAsyncDnsLookup);
        std::vector<uint16_t> connected, closed;
        std::vector<std::string> bg;
        s.OnSessionConnected = [&](framework::TComponent*, uint16_t e) { connected.push_back(e); };
        s.OnSessionClosed = [&](framework::TComponent*, uint16_t e) { closed.push_back(e); };
        s.SetOnBgException([&](framework::TComponent*, const std::exception& e, bool&) { bg.push_back(e.what()); });
        s.SetAddr(kName);
        s.SetPort("9");
        s.Connect();
        EXPECT_EQ(s.State(), wsDnsLookup);
        ASSERT_TRUE(PumpUntil([&] { return !bg.empty(); }, 20000)) << pool;
        testsupport::PumpFor(50);
        EXPECT_EQ(s.calls, 2);
        EXPECT_EQ(connected, std::vector<uint16_t>{WSAEINVAL}) << pool;
        EXPECT_TRUE(closed.empty());
        EXPECT_EQ(s.State(), wsClosed);
    }
}
