// A handler that aborts the running request and starts a new one from inside one of the
// client's events, for every event: the old request ends once, and the new one either runs
// to its end or is refused at once, then runs when started from OnRequestDone; it never
// fails later with a code that has nothing to do with it.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "net/HttpClient.h"
#include "support/Pump.h"
#include "NetTestUtil.h"
#include "SocketTestUtil.h"

using testsupport::PumpUntil;

namespace {

using nettest::HttpPeerPort;

std::string AuthPeerPort() { return sockettest::PortIn("net-auth-peer\\ports.txt", "plain"); }

struct Reentry {
    std::unique_ptr<THttpClient> http = std::make_unique<THttpClient>(nullptr);
    framework::TMemoryStream body, upload;
    std::string next;
    bool fired = false, refused = false, restarted = false;
    uint16_t refusedCode = 0;
    std::string refusedText;
    struct End {
        uint16_t code;
        int status;
        std::string body;
    };
    std::vector<End> ends;

    Reentry() {
        http->ReceiveStream = &body;
        http->OnRequestDone = [this](framework::TComponent*, THttpRequest, uint16_t e) {
            ends.push_back({e, http->StatusCode(), body.Bytes()});
            // Refused inside the event: OnRequestDone is where a new request starts.
            if (ends.size() == 1 && refused) StartNext();
        };
    }
    void StartNext() {
        restarted = true;
        body.Clear();
        http->URL = next;
        http->StartGet();
    }
    // What the handler under test does, once.
    void Fire() {
        if (fired) return;
        fired = true;
        http->Abort();
        try {
            body.Clear();
            http->URL = next;
            http->StartGet();
        } catch (const EHttpException& e) {
            refused = true;
            refusedCode = e.ErrorCode;
            refusedText = e.what();
        }
    }
};

struct ReentryCase {
    const char* event;
    const char* version;
    bool auth;          // on the auth peer, else on the http peer
    const char* path;
    THttpRequest kind;
    uint16_t oldCode;   // 0 where the event comes when the old request is already ready
    std::function<void(Reentry&)> hook;
};

TEST(HttpClientReentry, AbortAndStartFromEveryEvent) {
    if (HttpPeerPort().empty() || AuthPeerPort().empty()) GTEST_SKIP() << "http or auth peer not started";
    using framework::TComponent;
    auto notify = [](framework::TNotifyEvent THttpClient::*Event) {
        return [Event](Reentry& r) { (*r.http).*Event = [&r](TComponent*) { r.Fire(); }; };
    };
    const ReentryCase cases[] = {
        {"OnStateChange", "1.1", false, "/conn", httpGET, httpErrAborted, notify(&THttpClient::OnStateChange)},
        {"OnSelectDns", "1.1", false, "/conn", httpGET, httpErrAborted,
         [](Reentry& r) {
             r.http->OnSelectDns = [&r](TComponent*, framework::TStringList&, std::string&) { r.Fire(); };
         }},
        {"OnSessionConnected", "1.1", false, "/conn", httpGET, httpErrAborted, notify(&THttpClient::OnSessionConnected)},
        {"OnRequestHeaderBegin", "1.1", false, "/conn", httpGET, httpErrAborted,
         notify(&THttpClient::OnRequestHeaderBegin)},
        {"OnBeforeHeaderSend", "1.1", false, "/conn", httpGET, httpErrAborted,
         [](Reentry& r) {
             r.http->OnBeforeHeaderSend = [&r](TComponent*, const std::string&, framework::TStringList&) { r.Fire(); };
         }},
        {"OnCommand", "1.1", false, "/conn", httpGET, httpErrAborted,
         [](Reentry& r) { r.http->OnCommand = [&r](TComponent*, std::string&) { r.Fire(); }; }},
        {"OnRequestHeaderEnd", "1.1", false, "/conn", httpGET, httpErrAborted, notify(&THttpClient::OnRequestHeaderEnd)},
        {"OnSendBegin", "1.1", false, "/echo", httpPOST, httpErrAborted, notify(&THttpClient::OnSendBegin)},
        {"OnSendData", "1.1", false, "/echo", httpPOST, httpErrAborted,
         [](Reentry& r) { r.http->OnSendData = [&r](TComponent*, const void*, int) { r.Fire(); }; }},
        {"OnSendEnd", "1.1", false, "/echo", httpPOST, httpErrAborted, notify(&THttpClient::OnSendEnd)},
        {"OnHeaderBegin", "1.1", false, "/conn", httpGET, httpErrAborted, notify(&THttpClient::OnHeaderBegin)},
        {"OnHeaderData", "1.1", false, "/conn", httpGET, httpErrAborted, notify(&THttpClient::OnHeaderData)},
        {"OnCookie", "1.1", true, "/moved", httpGET, httpErrAborted,
         [](Reentry& r) { r.http->OnCookie = [&r](TComponent*, const std::string&, bool&) { r.Fire(); }; }},
        {"OnHeaderEnd", "1.1", false, "/conn", httpGET, httpErrAborted, notify(&THttpClient::OnHeaderEnd)},
        {"OnDocBegin", "1.1", false, "/conn", httpGET, httpErrAborted, notify(&THttpClient::OnDocBegin)},
        {"OnDocData", "1.1", false, "/conn", httpGET, httpErrAborted,
         [](Reentry& r) { r.http->OnDocData = [&r](TComponent*, const void*, int) { r.Fire(); }; }},
        {"OnDocEnd", "1.1", false, "/conn", httpGET, httpErrAborted, notify(&THttpClient::OnDocEnd)},
        {"OnLocationChange kept", "1.1", false, "/chain/1", httpGET, httpErrAborted,
         notify(&THttpClient::OnLocationChange)},
        {"OnLocationChange closed", "1.0", false, "/chain/1", httpGET, httpErrAborted,
         notify(&THttpClient::OnLocationChange)},
        {"OnLocationChangeExceeded", "1.1", false, "/chain/2", httpGET, httpErrAborted,
         [](Reentry& r) {
             r.http->LocationChangeMaxCount = 0;
             r.http->OnLocationChangeExceeded = [&r](TComponent*, int32_t, bool& allow) {
                 allow = true;
                 r.Fire();
             };
         }},
        {"OnSessionClosed", "1.0", false, "/conn", httpGET, httpErrAborted, notify(&THttpClient::OnSessionClosed)},
        // The 401 has ended: the client is ready while it asks, so the abort reports 0.
        {"OnBeforeAuth", "1.1", true, "/basic", httpGET, 0,
         [](Reentry& r) {
             r.http->Username = "user";
             r.http->Password = "pass";
             r.http->OnBeforeAuth = [&r](TComponent*, THttpAuthType, bool, const std::string&, bool&) { r.Fire(); };
         }},
    };
    for (const ReentryCase& c : cases) {
        SCOPED_TRACE(std::string(c.event) + " HTTP/" + c.version);
        Reentry r;
        r.http->SetRequestVer(c.version);
        r.next = "http://127.0.0.1:" + HttpPeerPort() + "/conn";
        r.upload.WriteBuffer("payload", 7);
        r.upload.SetPosition(0);
        r.http->UploadStream = &r.upload;
        c.hook(r);
        r.http->URL = "http://127.0.0.1:" + (c.auth ? AuthPeerPort() : HttpPeerPort()) + c.path;
        r.http->StartRequest(c.kind);
        ASSERT_TRUE(PumpUntil([&] { return r.fired && !r.ends.empty(); }, 10000)) << r.fired;
        // Ended inside the event (an abort while ready reports at once): started from here.
        if (r.refused && !r.restarted) {
            ASSERT_EQ(r.http->State(), hcsReady);
            r.StartNext();
        }
        ASSERT_TRUE(PumpUntil([&] { return r.ends.size() >= 2; }, 10000)) << r.ends.size();
        testsupport::PumpFor(300);
        ASSERT_EQ(r.ends.size(), 2u);
        EXPECT_EQ(r.ends[0].code, c.oldCode);
        if (r.refused) {
            EXPECT_EQ(r.refusedCode, httpErrBusy) << r.refusedText;
            EXPECT_NE(r.refusedText.find("OnRequestDone"), std::string::npos) << r.refusedText;
        }
        EXPECT_EQ(r.ends[1].code, 0) << r.http->ReasonPhrase();
        EXPECT_EQ(r.ends[1].status, 200);
        EXPECT_EQ(r.ends[1].body.substr(r.ends[1].body.find(' ') + 1), "1") << r.ends[1].body;
        EXPECT_EQ(r.http->State(), hcsReady);
    }
}

}  // namespace
