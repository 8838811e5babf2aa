// Every event of the socket (the core's list and what line mode and the time-out layer add)
// with a handler that frees the socket, aborts it, or aborts it and connects again, against
// the local peers. The socket sits in pages of its own, so a use after its free faults at
// once. An event of the lists without a case here fails the walk.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/NetSocket.h"
#include "support/Paged.h"
#include "support/Pump.h"
#include "SocketTestUtil.h"

using sockettest::PeerPort;
using testsupport::PumpFor;
using testsupport::PumpUntil;

namespace {

enum class Act { Free, Abort, Restart };
const char* ActName(Act A) { return A == Act::Free ? "free" : A == Act::Abort ? "abort" : "abort+connect"; }

// How the event is reached.
enum class Setup {
    Echo,        // connect to the echo peer, send a line once connected
    Refused,     // connect to a port where nothing listens
    Fin,         // connect to the peer that sends a line and closes
    Lookup,      // connect by name, the library's look-up
    LookupPool,  // connect by name, the pool's look-up
    Listen,      // listen on 127.0.0.1, a client connects
    NoPort,      // Connect without a port, the error to OnError
    NoPortRaise, // the same to onException
    Throw,       // echo, and the first OnDataAvailable throws (a background exception)
    LongLine,    // echo in line mode, a line longer than LineLimit
    Idle,        // the silent peer with an idle limit
};

struct Case {
    Setup setup;
    // The firing to act on (the first for which it holds); nullptr: the first firing.
    std::function<bool(TSocketState NewState)> when;
    // Why the event cannot be reached here; nullptr when it can.
    const char* unreachable = nullptr;
};

// The firing that enters state S.
std::function<bool(TSocketState)> Into(TSocketState S) {
    return [S](TSocketState N) { return N == S; };
}

// The cases, by event name. Several cases per event walk its different firings.
const std::multimap<std::string, Case>& Cases() {
    static const std::multimap<std::string, Case> cases = {
        {"OnDataAvailable", {Setup::Echo}},
        {"OnDataSent", {Setup::Echo}},
        {"OnSessionClosed", {Setup::Fin}},
        {"OnSessionAvailable", {Setup::Listen}},
        {"OnSessionConnected", {Setup::Echo}},
        {"OnSessionConnected", {Setup::Refused}},
        {"OnSendData", {Setup::Echo}},
        {"OnChangeState", {Setup::Lookup, Into(wsDnsLookup)}},
        {"OnChangeState", {Setup::Echo, Into(wsOpened)}},
        {"OnChangeState", {Setup::Echo, Into(wsConnecting)}},
        {"OnChangeState", {Setup::Echo, Into(wsConnected)}},
        {"OnChangeState", {Setup::Fin, Into(wsClosed)}},
        {"OnChangeState", {Setup::Listen, Into(wsBound)}},
        {"OnChangeState", {Setup::Listen, Into(wsListening)}},
        {"OnDnsLookupDone", {Setup::Lookup}},
        {"OnDnsLookupDone", {Setup::LookupPool}},
        {"OnError", {Setup::NoPort}},
        {"onException", {Setup::NoPortRaise}},
        // Loopback under Wine sees no change of addresses or routes.
        {"OnAddressListChanged", {Setup::Echo, nullptr, "no address list change on loopback"}},
        {"OnRoutingInterfaceChanged", {Setup::Echo, nullptr, "no routing change on loopback"}},
        {"OnBgException", {Setup::Throw}},
        {"OnLineLimitExceeded", {Setup::LongLine}},
        {"OnLimitReached", {Setup::Idle}},
    };
    return cases;
}

#define VA_WALK_NAME(E) #E,
const char* const kEvents[] = {VA_NET_SOCKET_EVENTS(VA_WALK_NAME) VA_LINE_NET_SOCKET_EVENTS(VA_WALK_NAME)
                                   VA_TIMEOUT_NET_SOCKET_EVENTS(VA_WALK_NAME)};
#undef VA_WALK_NAME

// One socket, every handler set; the target event's handler acts once.
class Walk {
public:
    Walk(std::string Event, const Case& C, Act A) : event_(std::move(Event)), case_(C), act_(A) {
        s_ = new testsupport::Paged<TNetSocket>(nullptr);
        TNetSocket& s = *s_;
        s.OnDataAvailable = [this](framework::TComponent*, uint16_t e) {
            if (Hit("OnDataAvailable", e)) return;
            if (case_.setup == Setup::Throw && !thrown_) {
                thrown_ = true;
                throw std::runtime_error("from the handler");
            }
            received_ += s_->ReceiveAsText();
        };
        s.OnDataSent = [this](framework::TComponent*, uint16_t e) { Hit("OnDataSent", e); };
        s.OnSessionClosed = [this](framework::TComponent*, uint16_t e) { Hit("OnSessionClosed", e); };
        s.OnSessionAvailable = [this](framework::TComponent*, uint16_t e) {
            if (Hit("OnSessionAvailable", e)) return;
            const SOCKET a = s_->Accept();
            if (a != INVALID_SOCKET) Winsock::closesocket(a);
        };
        s.OnSessionConnected = [this](framework::TComponent*, uint16_t e) {
            if (Hit("OnSessionConnected", e)) return;
            if (e == 0 && !restarted_ && (case_.setup == Setup::Echo || case_.setup == Setup::Throw))
                s_->SendText("hello\r\n");
            if (e == 0 && !restarted_ && case_.setup == Setup::LongLine) s_->SendText("0123456789abcdefghij");
        };
        s.OnSendData = [this](framework::TComponent*, int n) { Hit("OnSendData", uint16_t(n)); };
        s.OnChangeState = [this](framework::TComponent*, TSocketState, TSocketState n) {
            Hit("OnChangeState", uint16_t(n), n);
        };
        s.OnDnsLookupDone = [this](framework::TComponent*, uint16_t e) { Hit("OnDnsLookupDone", e); };
        if (case_.setup == Setup::NoPort) s.OnError = [this](framework::TComponent*) { Hit("OnError", 0); };
        if (case_.setup == Setup::NoPortRaise)
            s.onException = [this](framework::TComponent*, ESocketException&) { Hit("onException", 0); };
        s.OnAddressListChanged = [this](framework::TComponent*, uint16_t e) { Hit("OnAddressListChanged", e); };
        s.OnRoutingInterfaceChanged = [this](framework::TComponent*, uint16_t e) {
            Hit("OnRoutingInterfaceChanged", e);
        };
        s.SetOnBgException([this](framework::TComponent*, const std::exception&, bool&) { Hit("OnBgException", 0); });
        s.OnLineLimitExceeded = [this](framework::TComponent*, int n, bool&) {
            Hit("OnLineLimitExceeded", uint16_t(n));
        };
        s.OnLimitReached = [this](framework::TComponent*, int r) { Hit("OnLimitReached", uint16_t(r)); };
    }
    ~Walk() {
        if (s_) delete s_;
    }

    void Start() {
        TNetSocket& s = *s_;
        switch (case_.setup) {
            case Setup::Lookup:
            case Setup::LookupPool:
                s.ComponentOptions.Include(wsoAsyncDnsLookup);
                if (case_.setup == Setup::LookupPool) s.ComponentOptions.Include(wsoInetDnsLookup);
                return Connect("localhost", "echo");
            case Setup::Listen: {
                s.SetAddr("127.0.0.1");
                s.SetPort("0");
                Guard([&] { s_->Listen(); });
                if (!s_ || s_->State() != wsListening) return;
                client_ = Winsock::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
                sockaddr_in a{};
                a.sin_family = AF_INET;
                a.sin_port = Winsock::htons(u_short(std::stoi(s_->LocalPortText())));
                a.sin_addr.s_addr = Winsock::inet_addr("127.0.0.1");
                Winsock::connect(client_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
                return;
            }
            case Setup::NoPort:
            case Setup::NoPortRaise:
                s.SetAddr("127.0.0.1");
                return Guard([&] { s_->Connect(); });
            case Setup::LongLine:
                s.SetLineMode(true);
                s.LineLimit = 8;
                return Connect("127.0.0.1", "echo");
            case Setup::Idle:
                s.IdleLimitMs = 300;
                s.LimitCheckMs = 100;
                return Connect("127.0.0.1", "silent");
            case Setup::Refused: return Connect("127.0.0.1", "refused");
            case Setup::Fin: return Connect("127.0.0.1", "fin");
            default: return Connect("127.0.0.1", "echo");
        }
    }

    // Runs the case and checks what follows the act.
    void Run() {
        Start();
        ASSERT_TRUE(PumpUntil([&] { return acted_; }, 15000)) << "never fired";
        if (client_ != INVALID_SOCKET) Winsock::closesocket(client_);
        switch (act_) {
            case Act::Free:
                // Whatever is still queued for the freed socket goes nowhere.
                PumpFor(200);
                EXPECT_EQ(s_, nullptr);
                break;
            case Act::Abort:
                PumpFor(200);
                ASSERT_NE(s_, nullptr);
                EXPECT_EQ(s_->State(), wsClosed);
                EXPECT_EQ(s_->HSocket(), INVALID_SOCKET);
                EXPECT_TRUE(after_.empty()) << "after the abort: " << Join(after_);
                break;
            case Act::Restart: {
                ASSERT_NE(s_, nullptr);
                // The new connection runs undisturbed by anything of the old one.
                ASSERT_TRUE(PumpUntil([&] { return s_->State() == wsConnected && Outcome() != nullptr; }, 10000))
                    << Join(after_);
                EXPECT_EQ(std::string(Outcome()), "OnSessionConnected(0)") << Join(after_);
                received_.clear();
                s_->SendText("ping\r\n");
                EXPECT_TRUE(PumpUntil([&] { return received_.size() >= 6; }, 10000)) << Join(after_);
                EXPECT_EQ(received_, "ping\r\n");
                EXPECT_EQ(s_->State(), wsConnected) << Join(after_);
                break;
            }
        }
    }

private:
    // Records the event; true when the handler acted (the socket may be gone then).
    bool Hit(const char* Name, uint16_t Arg, TSocketState NewState = wsInvalidState) {
        const std::string entry = std::string(Name) + "(" + std::to_string(Arg) + ")";
        if (acted_ && !inAct_) after_.push_back(entry);
        if (acted_ || Name != event_ || (case_.when && !case_.when(NewState))) return false;
        acted_ = inAct_ = true;
        switch (act_) {
            case Act::Free:
                delete s_;
                s_ = nullptr;
                break;
            case Act::Abort: s_->Abort(); break;
            case Act::Restart:
                s_->Abort();
                restarted_ = true;
                s_->SetAddr("127.0.0.1");
                s_->SetPort(PeerPort("echo"));
                s_->Connect();
                break;
        }
        inAct_ = false;
        return true;
    }
    void Connect(const std::string& Addr, const std::string& Peer) {
        s_->SetAddr(Addr);
        s_->SetPort(PeerPort(Peer));
        Guard([&] { s_->Connect(); });
    }
    // A handler's act may make the operation report an error by raising: that is no event.
    void Guard(const std::function<void()>& F) {
        try {
            F();
        } catch (const ESocketException&) {
        }
    }
    // The first connect or close report after the act.
    const char* Outcome() const {
        for (const std::string& e : after_)
            if (e.rfind("OnSessionConnected", 0) == 0 || e.rfind("OnSessionClosed", 0) == 0) return e.c_str();
        return nullptr;
    }
    static std::string Join(const std::vector<std::string>& V) {
        std::string r;
        for (const auto& e : V) r += e + " ";
        return r;
    }

    std::string event_;
    const Case& case_;
    Act act_;
    TNetSocket* s_ = nullptr;
    SOCKET client_ = INVALID_SOCKET;
    bool acted_ = false, inAct_ = false, restarted_ = false, thrown_ = false;
    std::vector<std::string> after_;
    std::string received_;
};

}  // namespace

TEST(SocketEventWalk, EveryEventHasACase) {
    for (const char* e : kEvents) EXPECT_GT(Cases().count(e), 0u) << e << " has no case in the walk";
    for (const auto& [name, c] : Cases()) {
        bool listed = false;
        for (const char* e : kEvents) listed = listed || name == e;
        EXPECT_TRUE(listed) << name << " is no event of the lists";
    }
}

TEST(SocketEventWalk, FreeAbortAndRestartFromEveryEvent) {
    REQUIRE_PEERS();
    int n = 0;
    for (const auto& [name, c] : Cases()) {
        if (c.unreachable) continue;
        for (Act a : {Act::Free, Act::Abort, Act::Restart}) {
            SCOPED_TRACE(name + " (case " + std::to_string(n) + ") " + ActName(a));
            Walk w(name, c, a);
            w.Run();
        }
        ++n;
    }
}
