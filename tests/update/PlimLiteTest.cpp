// The update checker against the maker's web server stand-in: the exact query of the running
// x64 executable, the server's replies (versions, texts, error pages) with the log lines and
// the two flags, and the ways a check fails (certificates, a relocation to http, a stalled
// server, no server at all) - each ending the check with Busy cleared and one callback.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "IdentTestUtil.h"
#include "UpdatePeerUtil.h"
#include "net/HttpClient.h"
#include "support/Pump.h"
#include "support/TempDir.h"
#include "update/CheckIdentity.h"
#include "update/HttpCusto.h"
#include "update/PlimLite.h"

using testsupport::PumpUntil;
using updtest::Literal;
using updtest::LinesMatch;
using updtest::PeerBase;

namespace {

const std::string kTitle = "VoltAtlas";
const std::string kInit = "Info\tVoltAtlas Update self check : Initialization";

class PlimLiteTest : public updtest::PeerTest {
protected:
    void SetUp() override {
        updtest::PeerTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        exe_ = identtest::VoltAtlasExe();
        ASSERT_FALSE(exe_.empty());
    }
    void TearDown() override {
        HttpIdleTimeoutMs = 10000;
        HttpRequestLimitMs = 30000;
    }

    // Runs one check against Base and waits for its callback.
    void Check(TPlimLite& lite, const std::string& base) {
        updtest::ServerBase server(base);
        calls_ = 0;
        lite.CheckUpdate(exe_, nullptr, [this](TPlimLite* sender) {
            ++calls_;
            busyInCallback_ = sender->Busy();
        });
        ASSERT_TRUE(PumpUntil([&] { return calls_ > 0; }, 30000)) << base;
        // One callback only, even with the connection's close still to come.
        testsupport::PumpFor(100);
        EXPECT_EQ(calls_, 1);
        EXPECT_FALSE(busyInCallback_);
        EXPECT_FALSE(lite.Busy());
    }

    std::string exe_;
    int calls_ = 0;
    bool busyInCallback_ = true;
};

TEST_F(PlimLiteTest, QueryOfTheRunningX64Program) {
    updtest::MemoryLog log;
    TPlimLite lite(&log.Log, kTitle);
    Check(lite, PeerBase("tls"));
    const auto requests = updtest::PeerRequests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back(),
              "GET /plim/check.php?uid=0&ProductName=VoltAtlas%20%2864%20bits%29&Company=Quillmark&VH=65536&VL=1 "
              "HTTP/1.1");
    EXPECT_EQ(lite.CurrentHigh(), 65536u);
    EXPECT_EQ(lite.CurrentLow(), 1u);
    EXPECT_TRUE(lite.ReplyValid());
    EXPECT_FALSE(lite.UpdateAvailable());
    EXPECT_TRUE(LinesMatch(log.Lines(), {Literal(kInit), R"(Info\tVoltAtlas Update self check : Server replied 1\.0\.0\.1 in \d+ms)"}));
}

TEST_F(PlimLiteTest, ServerReplies) {
    const struct {
        const char* answer;
        const char* shown;    // the version in the Info line
        const char* verbose;  // the Verbose line after it, if any
        bool valid, newer;
    } cases[] = {
        {"equal", "1.0.0.1", nullptr, true, false},
        {"newer", "1.0.0.2", nullptr, true, true},
        {"short", "1.15.0.0", nullptr, true, true},
        // The line break spoils the last part: 1.0.0.0 is older than the running 1.0.0.1.
        {"newline", "1.0.0.0", nullptr, true, false},
        {"empty", "0.0.0.0", "0 Cause : OK", false, false},
        {"zero", "0.0.0.0", "0 Cause : OK", false, false},
        {"html", "0.0.0.0", "0 Cause : OK", false, false},
        // Error pages are not the service's answer, even when they read as a newer version.
        {"notfound", "0.0.0.0", "404 Cause : Not Found", false, false},
        {"servererror", "0.0.0.0", "500 Cause : Internal Server Error", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        updtest::MemoryLog log;
        TPlimLite lite(&log.Log, kTitle);
        Check(lite, PeerBase("tls", c.answer));
        EXPECT_EQ(updtest::PeerRequests().back().rfind(std::string("GET /") + c.answer + "/plim/check.php?uid=0&", 0), 0u);
        EXPECT_EQ(lite.ReplyValid(), c.valid);
        EXPECT_EQ(lite.UpdateAvailable(), c.newer);
        std::vector<std::string> expected = {
            Literal(kInit),
            "Info\\tVoltAtlas Update self check : Server replied " + Literal(c.shown) + " in \\d+ms"};
        if (c.verbose) expected.push_back(Literal(std::string("Verbose\tVoltAtlas Update self check : Server error (") + c.verbose + ")"));
        EXPECT_TRUE(LinesMatch(log.Lines(), expected));
    }
}

TEST_F(PlimLiteTest, FailedChecksEndWithAnErrorLine) {
    HttpIdleTimeoutMs = 1500;
    HttpRequestLimitMs = 5000;
    const std::string closedPort = updtest::ClosedPort();
    ASSERT_FALSE(closedPort.empty());
    const struct {
        const char* what;
        std::string base;
        int code;
        bool refusedTls;
    } cases[] = {
        // The client drops a connection whose certificate does not verify.
        {"certificate for another host", PeerBase("otherhost"), httpErrSslHandshake, true},
        {"self-signed certificate", PeerBase("selfsigned"), httpErrSslHandshake, true},
        {"relocation to http", PeerBase("tls", "tohttp"), httpErrInsecureRelocation, false},
        {"stalled server", PeerBase("tls", "stall"), httpErrTimeout, false},
        // Never idle, never done: the whole request's limit ends it.
        {"trickling server", PeerBase("tls", "trickle"), httpErrTimeout, false},
        {"no server", "https://127.0.0.1:" + closedPort, WSAECONNREFUSED, false},
        {"oversized reply", PeerBase("tls", "huge"), httpErrException, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        updtest::MemoryLog log;
        TPlimLite lite(&log.Log, kTitle);
        const size_t before = updtest::PeerRequests().size();
        Check(lite, c.base);
        EXPECT_FALSE(lite.ReplyValid());
        EXPECT_FALSE(lite.UpdateAvailable());
        EXPECT_TRUE(LinesMatch(log.Lines(), {Literal(kInit), Literal("Error\tVoltAtlas Update self check : Server error (" +
                                                                     std::to_string(c.code) + ")")}));
        // A refused certificate gets no request; the relocation is not followed to http.
        const auto requests = updtest::PeerRequests();
        for (size_t i = before; i < requests.size(); ++i)
            EXPECT_EQ(requests[i].find("GET /newer/"), std::string::npos) << requests[i];
        if (c.refusedTls) {
            EXPECT_EQ(requests.size(), before);
        }
    }
}

TEST_F(PlimLiteTest, BusyWhileCheckingAndANewClientPerCheck) {
    updtest::MemoryLog log;
    TPlimLite lite(&log.Log, kTitle);
    updtest::ServerBase server(PeerBase("tls", "newer"));
    int calls = 0;
    lite.CheckUpdate(exe_, nullptr, [&](TPlimLite*) { ++calls; });
    EXPECT_TRUE(lite.Busy());
    EXPECT_EQ(calls, 0) << "the callback comes from the message loop";
    const TSslHttpClient* first = lite.Http.get();
    ASSERT_TRUE(PumpUntil([&] { return calls == 1; }, 30000));
    EXPECT_TRUE(lite.UpdateAvailable());
    EXPECT_EQ(lite.Http.get(), first) << "kept until the next check";

    // A second check from inside the callback of the first: the calling client survives.
    SetMakerServerBase(PeerBase("tls", "equal"));
    int second = 0;
    lite.CheckUpdate(exe_, nullptr, [&](TPlimLite* sender) {
        if (++second == 1) sender->CheckUpdate(exe_, nullptr, [&](TPlimLite*) { ++second; });
    });
    ASSERT_TRUE(PumpUntil([&] { return second == 2; }, 30000));
    EXPECT_FALSE(lite.Busy());
    EXPECT_TRUE(lite.ReplyValid());
    EXPECT_FALSE(lite.UpdateAvailable()) << "flags are reset by each check";
}

TEST_F(PlimLiteTest, ANewCheckKeepsTheThreadsSocketWindow) {
    // The client of the check before is freed only once the new one is made: freeing the
    // thread's last client first would take the thread's hidden socket window with it, to be
    // made again at once.
    updtest::MemoryLog log;
    TPlimLite lite(&log.Log, kTitle);
    Check(lite, PeerBase("tls", "equal"));
    ASSERT_TRUE(lite.Http);
    const HWND window = lite.Http->WindowHandle();
    ASSERT_TRUE(window && IsWindow(window));
    Check(lite, PeerBase("tls", "newer"));
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(lite.Http->WindowHandle(), window);
    EXPECT_TRUE(lite.UpdateAvailable());
}

TEST_F(PlimLiteTest, FreedFromItsOwnCallback) {
    // The program closing while the answer arrives: the callback frees the checker.
    updtest::MemoryLog log;
    auto lite = std::make_unique<TPlimLite>(&log.Log, kTitle);
    updtest::ServerBase server(PeerBase("tls", "equal"));
    bool called = false;
    lite->CheckUpdate(exe_, nullptr, [&](TPlimLite* sender) {
        called = true;
        EXPECT_EQ(sender, lite.get());
        lite.reset();
    });
    ASSERT_TRUE(PumpUntil([&] { return called; }, 30000));
    EXPECT_EQ(lite, nullptr);
    testsupport::PumpFor(200);
}

TEST_F(PlimLiteTest, IdentifiesEachFileOnceUntilItChanges) {
    // Copies of the program in a folder of their own: one of them is rewritten on the way.
    testsupport::TempDir dir;
    const std::string first = dir.File("VoltAtlas.exe"), second = dir.File("Other.exe");
    ASSERT_TRUE(CopyFileA(exe_.c_str(), first.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(exe_.c_str(), second.c_str(), FALSE));
    updtest::MemoryLog log;
    TPlimLite lite(&log.Log, kTitle);
    std::string firstQuery;
    const struct {
        const char* step;
        const std::string& file;
        bool touch;      // the file's write time changes before the check
        unsigned added;  // identifications the check makes
    } steps[] = {
        {"first check", first, false, 1},
        {"again", first, false, 0},
        {"another file", second, false, 1},
        {"the first again", first, false, 0},
        {"the first rewritten", first, true, 1},
        {"and again", first, false, 0},
    };
    ClearCheckIdentities();
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        if (s.touch) {
            HANDLE h = CreateFileA(s.file.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
            FILETIME written;
            GetSystemTimeAsFileTime(&written);
            reinterpret_cast<ULARGE_INTEGER&>(written).QuadPart += 10000000ull * 3600;  // an hour on
            EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &written));
            CloseHandle(h);
        }
        const unsigned before = CheckIdentityComputations();
        exe_ = s.file;
        Check(lite, PeerBase("tls", "equal"));
        EXPECT_EQ(CheckIdentityComputations() - before, s.added);
        // The kept identity is the one a fresh identification gives.
        const std::string query = updtest::PeerRequests().back();
        EXPECT_NE(query.find("ProductName=VoltAtlas%20%2864%20bits%29&Company=Quillmark&VH=65536&VL=1 "),
                  std::string::npos)
            << query;
        EXPECT_TRUE(lite.ReplyValid());
    }
}

TEST(PlimLiteQuery, Encoding) {
    EXPECT_EQ(TPlimLite::CheckQuery("VoltAtlas", "Quillmark", "1.14.5.27"),
              "uid=0&ProductName=VoltAtlas&Company=Quillmark&VH=65550&VL=327707");
    // Unsigned halves, reserved characters escaped.
    EXPECT_EQ(TPlimLite::CheckQuery("A&B=C", "Q M", "65535.65535.65535.65535"),
              "uid=0&ProductName=A%26B%3DC&Company=Q%20M&VH=4294967295&VL=4294967295");
}

}  // namespace
