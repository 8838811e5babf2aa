// Every event of the HTTP client and of the HTTPS client, over http and https, with a handler
// that does what owners do: frees the client, frees its owner (the client, its streams and
// its TLS context together), aborts the request, or aborts it and starts anew from
// OnRequestDone. The client lives in pages of its own, so a use after the free faults at
// once. The old request ends once (aborted, or 0 where it had already ended), a start inside
// the event is refused at once, the restart runs to its end with the whole body on a new
// connection, and a freed client hears nothing more.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "net/HttpClient.h"
#include "net/SslContext.h"
#include "support/Paged.h"
#include "support/Pump.h"
#include "OpenSslTestUtil.h"
#include "SocketTestUtil.h"

using framework::TComponent;
using testsupport::Paged;
using testsupport::PumpFor;
using testsupport::PumpUntil;

namespace {

// The pages peer of the TLS peers, with TLS or without.
std::string PagesPort(bool Tls) { return sockettest::PortIn("net-tls-peers\\ports.txt", Tls ? "pages" : "pagesplain"); }

enum class Act { Free, FreeOwner, Abort, AbortRestart };
const char* ActName(Act A) {
    switch (A) {
        case Act::Free: return "free the client";
        case Act::FreeOwner: return "free the owner";
        case Act::Abort: return "Abort()";
        default: return "Abort(), restart from OnRequestDone";
    }
}

// Where the first request goes.
enum class Peer { Pages, Socks, SocksAuth, SocksRefused, CertRequest };

// The client's owner: the client, the streams and the TLS context it uses go together.
struct Owner {
    virtual ~Owner() = default;
    TSslContext ctx{nullptr};
    framework::TMemoryStream body, upload;
    std::unique_ptr<THttpClient> http;
};

struct Walk;

struct Row {
    const char* event;
    const char* variant = "";
    // Over http, over https; neither: the event cannot be reached (why says so).
    bool http = true, https = true;
    const char* why = "";
    const char* version = "1.1";
    const char* path = "/conn";
    THttpRequest kind = httpGET;
    uint16_t oldCode = httpErrAborted;
    // The event comes after the request reported its end (0): the abort, while ready,
    // reports once more at once.
    bool endedBefore = false;
    Peer peer = Peer::Pages;
    // Why freeing the owner (and the TLS context with it) is left out of this row ("" for not).
    const char* ownerSkip = "";
    // Sets the handler that calls Walk::Fire; none for OnRequestDone (the walk's own).
    std::function<void(Walk&)> hook;
};

// One run: the row's event over one scheme with one act. What the test looks at lives here,
// outside the owner, which the act may free.
struct Walk {
    const Row& row;
    const bool tls;
    const Act act;
    Owner* owner = nullptr;
    std::shared_ptr<const bool> alive;
    std::string next;
    struct End {
        uint16_t code;
        int status;
        std::string body;
    };
    std::vector<End> ends;
    size_t endsAtFire = 0;
    bool fired = false, restarted = false, refused = false;
    uint16_t refusedCode = 0;
    std::string refusedText;

    Walk(const Row& R, bool Tls, Act A) : row(R), tls(Tls), act(A) {}
    ~Walk() { delete owner; }
    THttpClient& Http() { return *owner->http; }
    TSslHttpClient& Https() { return static_cast<TSslHttpClient&>(*owner->http); }
    size_t OldEnds() const { return row.endedBefore ? 2 : 1; }
    bool FromDone() const { return std::string(row.event) == "OnRequestDone"; }

    void Build() {
        owner = new Paged<Owner>();
        if (tls) {
            owner->http.reset(new Paged<TSslHttpClient>(nullptr));
            // A name the certificate does not carry goes through SOCKS: not verified there.
            const bool socks = row.peer == Peer::Socks || row.peer == Peer::SocksAuth || row.peer == Peer::SocksRefused;
            if (!socks) ssltest::SetUpVerifyingClient(owner->ctx, ssltest::CertPath("ca.pem"));
            Https().SetSslContext(&owner->ctx);
        } else {
            owner->http.reset(new Paged<THttpClient>(nullptr));
        }
        alive = Http().AliveToken();
        Http().ReceiveStream = &owner->body;
        owner->upload.WriteBuffer("payload", 7);
        owner->upload.SetPosition(0);
        Http().UploadStream = &owner->upload;
        Http().SetRequestVer(row.version);
        const std::string scheme = tls ? "https://" : "http://";
        std::string host = "127.0.0.1";
        if (row.peer != Peer::Pages && row.peer != Peer::CertRequest) {
            const bool auth = row.peer == Peer::SocksAuth;
            Http().SocksServer = "127.0.0.1";
            Http().SocksPort = sockettest::ProxyPeerPort(auth ? "socks5auth" : "socks5");
            if (auth) {
                Http().SocksUsercode = "user";
                Http().SocksPassword = "pass";
                Http().SocksAuthentication = socksAuthenticateUsercode;
            }
            host = "fwd.test";
        }
        next = scheme + host + ":" + PagesPort(tls) + "/conn";
        if (row.peer == Peer::CertRequest)
            Http().URL = "https://127.0.0.1:" + sockettest::PortIn("net-tls-peers\\ports.txt", "cert13") + "/";
        else
            Http().URL = scheme + (row.peer == Peer::SocksRefused ? std::string("refuse.test") : host) + ":" + PagesPort(tls) +
                         row.path;
        Http().OnRequestDone = [this](TComponent*, THttpRequest, uint16_t e) {
            ends.push_back({e, Http().StatusCode(), owner->body.Bytes()});
            if (FromDone()) Fire();
            if (!*alive || act != Act::AbortRestart || !fired || restarted || ends.size() != OldEnds()) return;
            // The aborted request's end: where a new one starts.
            TryStartNext();
        };
        if (row.hook) row.hook(*this);
    }
    void StartNext() {
        owner->body.Clear();
        Http().URL = next;
        restarted = true;
        try {
            Http().StartGet();
        } catch (...) {
            restarted = false;
            throw;
        }
    }
    // A start that may be refused: the refusal is what the row checks.
    void TryStartNext() {
        try {
            StartNext();
        } catch (const EHttpException& e) {
            refused = true;
            refusedCode = e.ErrorCode;
            refusedText = e.what();
        }
    }
    // What the handler under test does, once.
    void Fire() {
        if (fired) return;
        fired = true;
        endsAtFire = ends.size();
        switch (act) {
            case Act::Free: delete owner->http.release(); break;
            case Act::FreeOwner: {
                Owner* o = owner;
                owner = nullptr;
                delete o;
                break;
            }
            case Act::Abort:
                Http().Abort();
                // The code that fired the event still works on the request: refused at once
                // (OnRequestDone is where a request starts, and the start is taken there).
                if (FromDone()) break;
                TryStartNext();
                break;
            case Act::AbortRestart: Http().Abort(); break;
        }
    }
};

// The handler of a plain notification event.
std::function<void(Walk&)> Notify(framework::TNotifyEvent THttpClient::*Event) {
    return [Event](Walk& w) { w.Http().*Event = [&w](TComponent*) { w.Fire(); }; };
}

std::vector<Row> Rows() {
    using S = std::string;
    return {
        {.event = "OnTrace", .http = false, .https = false, .why = "no code of the client fires it"},
        {.event = "OnSocketError", .http = false, .https = false, .why = "no code of the client fires it"},
        {.event = "OnStateChange", .hook = Notify(&THttpClient::OnStateChange)},
        {.event = "OnSelectDns",
         .hook = [](Walk& w) { w.Http().OnSelectDns = [&w](TComponent*, framework::TStringList&, S&) { w.Fire(); }; }},
        {.event = "OnSessionConnected", .hook = Notify(&THttpClient::OnSessionConnected)},
        {.event = "OnRequestHeaderBegin", .hook = Notify(&THttpClient::OnRequestHeaderBegin)},
        {.event = "OnBeforeHeaderSend",
         .hook =
             [](Walk& w) {
                 w.Http().OnBeforeHeaderSend = [&w](TComponent*, const S&, framework::TStringList&) { w.Fire(); };
             }},
        {.event = "OnCommand", .hook = [](Walk& w) { w.Http().OnCommand = [&w](TComponent*, S&) { w.Fire(); }; }},
        {.event = "OnRequestHeaderEnd", .hook = Notify(&THttpClient::OnRequestHeaderEnd)},
        {.event = "OnSendBegin", .path = "/echo", .kind = httpPOST, .hook = Notify(&THttpClient::OnSendBegin)},
        {.event = "OnSendData",
         .path = "/echo",
         .kind = httpPOST,
         .hook = [](Walk& w) { w.Http().OnSendData = [&w](TComponent*, const void*, int) { w.Fire(); }; }},
        {.event = "OnSendEnd", .path = "/echo", .kind = httpPOST, .hook = Notify(&THttpClient::OnSendEnd)},
        {.event = "OnHeaderBegin", .hook = Notify(&THttpClient::OnHeaderBegin)},
        {.event = "OnHeaderData", .hook = Notify(&THttpClient::OnHeaderData)},
        {.event = "OnCookie",
         .path = "/cookie",
         .hook = [](Walk& w) { w.Http().OnCookie = [&w](TComponent*, const S&, bool&) { w.Fire(); }; }},
        {.event = "OnHeaderEnd", .hook = Notify(&THttpClient::OnHeaderEnd)},
        {.event = "OnDocBegin", .hook = Notify(&THttpClient::OnDocBegin)},
        {.event = "OnDocData",
         .hook = [](Walk& w) { w.Http().OnDocData = [&w](TComponent*, const void*, int) { w.Fire(); }; }},
        {.event = "OnDocEnd", .hook = Notify(&THttpClient::OnDocEnd)},
        {.event = "OnLocationChange", .variant = "kept", .path = "/chain/1", .hook = Notify(&THttpClient::OnLocationChange)},
        {.event = "OnLocationChange",
         .variant = "closed",
         .version = "1.0",
         .path = "/chain/1",
         .hook = Notify(&THttpClient::OnLocationChange)},
        {.event = "OnLocationChangeExceeded",
         .path = "/chain/2",
         .hook =
             [](Walk& w) {
                 w.Http().LocationChangeMaxCount = 0;
                 w.Http().OnLocationChangeExceeded = [&w](TComponent*, int32_t, bool& allow) {
                     allow = true;
                     w.Fire();
                 };
             }},
        {.event = "OnSessionClosed", .version = "1.0", .hook = Notify(&THttpClient::OnSessionClosed)},
        // The 401 has ended and the client is ready while it asks: an abort still ends the
        // request as aborted, never with the 401's "success".
        {.event = "OnBeforeAuth",
         .path = "/basic",
         .hook =
             [](Walk& w) {
                 w.Http().Username = "user";
                 w.Http().Password = "pass";
                 w.Http().OnBeforeAuth = [&w](TComponent*, THttpAuthType, bool, const S&, bool&) { w.Fire(); };
             }},
        {.event = "OnRequestDone", .oldCode = 0, .endedBefore = true},
        // Bytes nobody asked for, after the answer was reported.
        {.event = "OnDataPush",
         .path = "/push",
         .oldCode = 0,
         .endedBefore = true,
         .hook = [](Walk& w) { w.Http().OnDataPush = [&w](TComponent*, uint16_t) { w.Fire(); }; }},
        {.event = "OnDataPush2", .path = "/garbage", .hook = [](Walk& w) {
             w.Http().OnDataPush2 = [&w](TComponent*) { w.Fire(); };
         }},
        {.event = "OnSocksConnected",
         .peer = Peer::Socks,
         .hook = [](Walk& w) { w.Http().OnSocksConnected = [&w](TComponent*, uint16_t) { w.Fire(); }; }},
        {.event = "OnSocksAuthState",
         .peer = Peer::SocksAuth,
         .hook = [](Walk& w) { w.Http().OnSocksAuthState = [&w](TComponent*, TSocksAuthState) { w.Fire(); }; }},
        {.event = "OnSocksError",
         .peer = Peer::SocksRefused,
         .hook = [](Walk& w) { w.Http().OnSocksError = [&w](TComponent*, uint16_t, const S&) { w.Fire(); }; }},
        {.event = "OnSslVerifyPeer",
         .http = false,
         .hook =
             [](Walk& w) { w.Https().OnSslVerifyPeer = [&w](TCustomSslNetSocket*, int&, TX509Base*) { w.Fire(); }; }},
        // The TLS socket goes on with its context after the handler; the context's owner
        // freeing it there is the TLS socket's to survive.
        {.event = "OnSslCliGetSession",
         .http = false,
         .ownerSkip = "the TLS socket uses the freed context after the event",
         .hook =
             [](Walk& w) {
                 w.Https().OnSslCliGetSession = [&w](TCustomSslNetSocket*, void*&, bool&) { w.Fire(); };
             }},
        {.event = "OnSslCliNewSession",
         .http = false,
         .hook =
             [](Walk& w) {
                 // Client sessions are reported only while the context caches them.
                 w.owner->ctx.SetSslSessionCacheModes({sslSESS_CACHE_CLIENT});
                 w.Https().OnSslCliNewSession = [&w](TCustomSslNetSocket*, void*, bool, bool&) { w.Fire(); };
             }},
        {.event = "OnSslHandshakeDone",
         .http = false,
         .hook =
             [](Walk& w) {
                 w.Https().OnSslHandshakeDone = [&w](TCustomSslNetSocket*, uint16_t, TX509Base*, bool&) { w.Fire(); };
             }},
        // A server that asks for a client certificate (s_server); the restart goes to the pages.
        {.event = "OnSslCliCertRequest",
         .http = false,
         .peer = Peer::CertRequest,
         .hook =
             [](Walk& w) { w.Https().OnSslCliCertRequest = [&w](TCustomSslNetSocket*, TX509Base*&) { w.Fire(); }; }},
    };
}

TEST(HttpClientReentry, EveryEventFreedAbortedAndRestarted) {
    if (PagesPort(true).empty() || PagesPort(false).empty()) GTEST_SKIP() << "TLS peers not started";
    if (sockettest::ProxyPeerPort("socks5").empty()) GTEST_SKIP() << "proxy peers not started";
    const std::vector<Row> rows = Rows();
    // Every event of the lists has a row, and every row names one of them.
    std::set<std::string> listed, covered;
#define VA_LIST_EVENT(E) listed.insert(#E);
    VA_NET_HTTP_CLIENT_EVENTS(VA_LIST_EVENT)
    VA_NET_HTTPS_CLIENT_EVENTS(VA_LIST_EVENT)
#undef VA_LIST_EVENT
    for (const Row& r : rows) {
        EXPECT_TRUE(listed.count(r.event)) << r.event << " is no event of the client";
        covered.insert(r.event);
    }
    for (const std::string& e : listed) EXPECT_TRUE(covered.count(e)) << e << " has no row";

    ssltest::OpenSslScope ssl;
    for (const Row& row : rows) {
        if (!row.http && !row.https) {
            EXPECT_STRNE(row.why, "") << row.event;
            continue;
        }
        for (const bool tls : {false, true}) {
            if (!(tls ? row.https : row.http)) continue;
            for (const Act act : {Act::Free, Act::FreeOwner, Act::Abort, Act::AbortRestart}) {
                SCOPED_TRACE(std::string(row.event) + " " + row.variant + (tls ? " https " : " http ") + ActName(act));
                if (act == Act::FreeOwner && *row.ownerSkip) continue;
                Walk w(row, tls, act);
                w.Build();
                w.Http().StartRequest(row.kind);
                if (!PumpUntil([&] { return w.fired; }, 15000)) {
                    ADD_FAILURE() << "the event did not come";
                    continue;
                }
                if (act == Act::Free || act == Act::FreeOwner) {
                    PumpFor(200);
                    EXPECT_FALSE(*w.alive);
                    EXPECT_EQ(w.ends.size(), w.endsAtFire) << "a freed client reported";
                    continue;
                }
                ASSERT_TRUE(PumpUntil([&] { return w.ends.size() >= w.OldEnds(); }, 10000)) << w.ends.size();
                if (act == Act::AbortRestart) {
                    // Refused inside the event the abort reported from: started once it returned.
                    if (w.refused && !w.restarted) {
                        EXPECT_EQ(w.refusedCode, httpErrBusy) << w.refusedText;
                        ASSERT_EQ(w.Http().State(), hcsReady);
                        w.StartNext();
                    }
                    ASSERT_TRUE(PumpUntil([&] { return w.ends.size() > w.OldEnds(); }, 15000)) << w.ends.size();
                }
                PumpFor(200);
                const size_t expected = w.OldEnds() + (act == Act::AbortRestart ? 1 : 0);
                ASSERT_EQ(w.ends.size(), expected);
                for (size_t i = 0; i < w.OldEnds(); ++i)
                    EXPECT_EQ(w.ends[i].code, i + 1 == w.OldEnds() ? row.oldCode : 0) << "end " << i;
                if (w.ends[w.OldEnds() - 1].code) {
                    EXPECT_NE(w.ends[w.OldEnds() - 1].status, 200);
                }
                if (act == Act::Abort && !w.FromDone()) {
                    EXPECT_TRUE(w.refused) << "a start inside the event was taken";
                    EXPECT_EQ(w.refusedCode, httpErrBusy) << w.refusedText;
                    EXPECT_NE(w.refusedText.find("OnRequestDone"), std::string::npos) << w.refusedText;
                }
                if (act == Act::AbortRestart) {
                    const Walk::End& e = w.ends.back();
                    EXPECT_EQ(e.code, 0) << w.Http().ReasonPhrase();
                    EXPECT_EQ(e.status, 200);
                    // "<connection> 1": the whole body, on a connection of its own.
                    EXPECT_EQ(e.body.substr(e.body.find(' ') + 1), "1") << e.body;
                }
                EXPECT_EQ(w.Http().State(), hcsReady);
            }
        }
    }
}

// The request ends (the owner's Abort, the whole-request limit, RequestAndWait's time-out)
// and the client is freed as it enters a state of that end: by the owner's OnStateChange
// itself, or by a message another thread sent, taken while that handler looks at its
// messages. Nothing of the client is touched afterwards.
TEST(HttpClientReentry, FreedWhileTheRequestEnds) {
    if (PagesPort(false).empty()) GTEST_SKIP() << "TLS peers not started";
    enum class End { Abort, RequestLimit, WaitTimeout };
    for (const End end : {End::Abort, End::RequestLimit, End::WaitTimeout}) {
        for (const THttpClientState at : {hcsAborting, hcsReady}) {
            for (const bool sent : {false, true}) {
                SCOPED_TRACE(std::string(end == End::Abort ? "Abort()" : end == End::RequestLimit ? "RequestLimitMs" : "RequestAndWait") +
                             (at == hcsAborting ? " aborting" : " ready") + (sent ? " sent message" : " handler"));
                THttpClient* http = new Paged<THttpClient>(nullptr);
                const auto alive = http->AliveToken();
                int done = 0;
                http->OnRequestDone = [&](TComponent*, THttpRequest, uint16_t) { ++done; };
                http->URL = "http://127.0.0.1:" + PagesPort(false) + "/stall";
                // 1: send the release now; 2: the state never came, send nothing.
                std::atomic<int> go{0};
                std::thread sender;
                if (sent) {
                    const HWND wnd = http->GetHandle();
                    const UINT id = http->IdRelease();
                    sender = std::thread([&go, wnd, id] {
                        while (go == 0) Sleep(1);
                        if (go == 1) SendMessageA(wnd, id, 0, 0);
                    });
                }
                bool freedAt = false;
                http->OnStateChange = [&, at, sent](TComponent*) {
                    if (freedAt || http->State() != at) return;
                    freedAt = true;
                    if (!sent) {
                        delete http;
                        return;
                    }
                    go = 1;
                    MSG m;
                    for (int i = 0; i < 5000 && *alive; ++i) {
                        PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
                        Sleep(1);
                    }
                };
                if (end == End::RequestLimit) http->RequestLimitMs = 500;
                if (end == End::WaitTimeout) {
                    http->Timeout = 1;
                    http->ResponseNoException = true;
                    http->RequestAndWait(httpGET);
                } else {
                    http->StartGet();
                    if (end == End::Abort) {
                        ASSERT_TRUE(PumpUntil([&] { return http->State() == hcsAwaitHeader; }, 10000));
                        http->Abort();
                    }
                }
                EXPECT_TRUE(PumpUntil([&] { return !*alive; }, 10000));
                if (go == 0) go = 2;
                if (sender.joinable()) sender.join();
                PumpFor(100);
                EXPECT_EQ(done, 0);
                if (*alive) delete http;
            }
        }
    }
}

// A request moved to another thread once it started: its limit comes along and ends it
// there, with its OnRequestDone on the new thread.
TEST(HttpClientReentry, AMovedRequestEndsOnItsNewThread) {
    if (PagesPort(false).empty()) GTEST_SKIP() << "TLS peers not started";
    auto http = std::make_unique<THttpClient>(nullptr);
    http->SetMultiThreaded(true);
    http->RequestLimitMs = 1000;
    std::atomic<int> done{0};
    std::atomic<uint16_t> code{0xFFFF};
    std::atomic<DWORD> doneThread{0};
    http->OnRequestDone = [&](TComponent*, THttpRequest, uint16_t e) {
        code = e;
        doneThread = GetCurrentThreadId();
        ++done;
    };
    http->URL = "http://127.0.0.1:" + PagesPort(false) + "/stall";
    http->StartGet();
    ASSERT_TRUE(PumpUntil([&] { return http->State() == hcsAwaitHeader; }, 10000));
    http->DetachFromThread();
    DWORD worker = 0;
    std::thread t([&] {
        worker = GetCurrentThreadId();
        http->AttachToThread();
        const DWORD start = GetTickCount();
        while (done == 0 && GetTickCount() - start < 10000) {
            MsgWaitForMultipleObjectsEx(0, nullptr, 50, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            http->PumpAllMessages();
        }
        http->PumpAllMessages();
        http.reset();
    });
    t.join();
    EXPECT_EQ(done, 1);
    EXPECT_EQ(code, httpErrTimeout);
    EXPECT_EQ(doneThread, worker);
}

}  // namespace
