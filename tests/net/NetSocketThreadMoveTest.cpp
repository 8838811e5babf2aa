// A socket moved to another thread (DetachFromThread here, AttachToThread there) with work
// still pending: a look-up of either kind, a posted CloseLater, the flush limit of a Close.
// The work goes along and ends in its event on the new thread.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "net/NetSocket.h"
#include "support/Pump.h"
#include "SocketTestUtil.h"

using sockettest::PeerPort;
using testsupport::PumpUntil;

namespace {

// What the socket reported, and on which thread.
struct Moved {
    TNetSocket sock{nullptr};
    std::vector<uint16_t> connected, closed, lookups;
    std::vector<DWORD> threads;
    Moved() {
        auto note = [this](std::vector<uint16_t>& v, uint16_t e) {
            v.push_back(e);
            threads.push_back(GetCurrentThreadId());
        };
        sock.OnSessionConnected = [this, note](framework::TComponent*, uint16_t e) { note(connected, e); };
        sock.OnSessionClosed = [this, note](framework::TComponent*, uint16_t e) { note(closed, e); };
        sock.OnDnsLookupDone = [this, note](framework::TComponent*, uint16_t e) { note(lookups, e); };
    }
    // Detaches here, attaches on a new thread and pumps there until Done (or 20 s), then
    // comes back. The thread's id, 0 when Done did not hold there.
    DWORD MoveAndPump(const std::function<bool()>& Done) {
        sock.DetachFromThread();
        DWORD ran = 0;
        std::thread([&] {
            sock.AttachToThread();
            if (PumpUntil(Done, 20000)) ran = GetCurrentThreadId();
            sock.DetachFromThread();
        }).join();
        sock.AttachToThread();
        return ran;
    }
};

bool AllOn(const std::vector<DWORD>& Threads, DWORD Thread) {
    for (DWORD t : Threads)
        if (t != Thread) return false;
    return !Threads.empty();
}

}  // namespace

// A look-up moved while pending: asked again from the new thread, it answers there; one for a
// connect goes on to connect. Both the library's and the pool's look-up.
TEST(NetSocketThreadMove, PendingLookupGoesAlong) {
    REQUIRE_PEERS();
    for (bool pool : {false, true}) {
        for (bool connect : {false, true}) {
            Moved m;
            if (pool) m.sock.ComponentOptions.Include(wsoInetDnsLookup);
            if (connect) {
                m.sock.ComponentOptions.Include(wsoAsyncDnsLookup);
                m.sock.SetAddr("localhost");
                m.sock.SetPort(PeerPort("echo"));
                m.sock.Connect();
                ASSERT_EQ(m.sock.State(), wsDnsLookup);
            } else {
                m.sock.DnsLookupTcp("localhost");
            }
            ASSERT_TRUE(m.sock.LookupPending());
            const DWORD there =
                m.MoveAndPump([&] { return connect ? !m.connected.empty() : !m.lookups.empty(); });
            ASSERT_NE(there, 0u) << pool << connect;
            EXPECT_EQ(m.lookups, std::vector<uint16_t>{0}) << pool << connect;
            EXPECT_EQ(m.sock.LookupResult(), "127.0.0.1");
            if (connect) {
                EXPECT_EQ(m.connected, std::vector<uint16_t>{0}) << pool;
                EXPECT_EQ(m.sock.State(), wsConnected);
            }
            EXPECT_TRUE(AllOn(m.threads, there)) << pool << connect;
            // Nothing is left behind: the socket is free for the next connection.
            m.sock.Abort();
            m.sock.SetAddr("127.0.0.1");
            m.sock.SetPort(PeerPort("echo"));
            m.sock.Connect();
            EXPECT_TRUE(PumpUntil([&] { return m.connected.size() == (connect ? 2u : 1u); }, 10000));
            m.sock.Abort();
        }
    }
}

// A CloseLater posted before the move closes on the new thread.
TEST(NetSocketThreadMove, PostedCloseLaterGoesAlong) {
    REQUIRE_PEERS();
    Moved m;
    m.sock.SetAddr("127.0.0.1");
    m.sock.SetPort(PeerPort("echo"));
    m.sock.Connect();
    ASSERT_TRUE(PumpUntil([&] { return !m.connected.empty(); }, 10000));
    m.threads.clear();
    m.sock.CloseLater();
    const DWORD there = m.MoveAndPump([&] { return !m.closed.empty(); });
    ASSERT_NE(there, 0u);
    EXPECT_EQ(m.closed, std::vector<uint16_t>{0});
    EXPECT_TRUE(AllOn(m.threads, there));
    EXPECT_EQ(m.sock.State(), wsClosed);
}

// The flush limit of a Close towards a peer that never reads ends the connection on the new
// thread (10060), not never.
TEST(NetSocketThreadMove, FlushLimitGoesAlong) {
    REQUIRE_PEERS();
    Moved m;
    m.sock.FlushTimeout = 1;
    m.sock.SetAddr("127.0.0.1");
    m.sock.SetPort(PeerPort("silent"));
    m.sock.Connect();
    ASSERT_TRUE(PumpUntil([&] { return !m.connected.empty(); }, 10000));
    m.threads.clear();
    const std::string piece(1 << 20, 'x');
    while (m.sock.QueuedBytes() == 0) ASSERT_EQ(m.sock.SendText(piece), int(piece.size()));
    m.sock.Close();
    ASSERT_TRUE(m.sock.ClosePending());
    const DWORD there = m.MoveAndPump([&] { return !m.closed.empty(); });
    ASSERT_NE(there, 0u);
    EXPECT_EQ(m.closed, std::vector<uint16_t>{WSAETIMEDOUT});
    EXPECT_TRUE(AllOn(m.threads, there));
}
