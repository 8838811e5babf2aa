// The HTTP client against nginx (tests/peers/nginx/http_site.sh): connection reuse proved by
// nginx's own access log, chunked gzip bodies stored as they came, relocations and their
// limit, HEAD, 304 and basic authentication's 401. The bodies are written next to the site,
// where a later check fetches the same URLs with curl and compares.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "net/HttpClient.h"
#include "support/Pump.h"

using testsupport::PumpUntil;

namespace {

const char* const SiteDir = "peers\\nginx-http\\";

std::string NginxPort() {
    std::ifstream f(std::string(SiteDir) + "port");
    std::string p;
    f >> p;
    return p;
}

#define REQUIRE_NGINX()                                                            \
    if (!std::getenv("VA_NGINX_HTTP") || NginxPort().empty())                      \
    GTEST_SKIP() << "nginx not started"

std::string Base() { return "http://127.0.0.1:" + NginxPort(); }

struct Client {
    std::unique_ptr<THttpClient> http = std::make_unique<THttpClient>(nullptr);
    framework::TMemoryStream body;
    int done = 0;
    uint16_t err = 0xFFFF;

    Client() {
        http->ReceiveStream = &body;
        http->OnRequestDone = [this](framework::TComponent*, THttpRequest, uint16_t e) {
            ++done;
            err = e;
        };
    }
    bool Run(const std::string& Path, THttpRequest Kind = httpGET) {
        body.Clear();
        const int before = done;
        http->URL = Base() + Path;
        if (Kind == httpGET)
            http->StartGet();
        else
            http->StartRequest(Kind);
        return PumpUntil([&] { return done > before; }, 30000);
    }
    void Save(const std::string& Name) const {
        std::ofstream f(std::string(SiteDir) + "client-" + Name + ".bin", std::ios::binary);
        f << body.Bytes();
    }
};

// "connection number method uri status" lines of the access log.
struct LogLine {
    long connection = 0, number = 0;
    std::string method, uri;
    int status = 0;
};

std::vector<LogLine> AccessLog() {
    std::vector<LogLine> out;
    std::ifstream f(std::string(SiteDir) + "access.log");
    std::string line;
    while (std::getline(f, line)) {
        std::istringstream in(line);
        LogLine l;
        in >> l.connection >> l.number >> l.method >> l.uri >> l.status;
        out.push_back(l);
    }
    return out;
}

TEST(HttpNginx, KeepAliveReuseShowsInTheAccessLog) {
    REQUIRE_NGINX();
    Client cl;
    cl.http->SetRequestVer("1.1");
    const size_t before = AccessLog().size();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(cl.Run("/file.txt?reuse=" + std::to_string(i)));
        EXPECT_EQ(cl.err, 0);
        EXPECT_EQ(cl.http->StatusCode(), 200);
    }
    // A relocation on the same host goes over the same connection too.
    ASSERT_TRUE(cl.Run("/r302"));
    EXPECT_EQ(cl.err, 0);
    const std::vector<LogLine> log = AccessLog();
    ASSERT_EQ(log.size(), before + 5);
    for (size_t i = before; i < log.size(); ++i) {
        EXPECT_EQ(log[i].connection, log[before].connection) << i;
        EXPECT_EQ(log[i].number, long(i - before + 1)) << i;
    }
    EXPECT_EQ(log.back().uri, "/file.txt");

    // HTTP/1.0: one connection per request.
    Client old;
    ASSERT_TRUE(old.Run("/file.txt"));
    ASSERT_TRUE(old.Run("/file.txt"));
    const std::vector<LogLine> log2 = AccessLog();
    ASSERT_EQ(log2.size(), log.size() + 2);
    EXPECT_NE(log2[log2.size() - 1].connection, log2[log2.size() - 2].connection);
    EXPECT_EQ(log2.back().number, 1);
}

TEST(HttpNginx, ChunkedGzipIsStoredUndecoded) {
    REQUIRE_NGINX();
    Client cl;
    cl.http->SetRequestVer("1.1");
    cl.http->ExtraHeaders().Add("Accept-Encoding: gzip");
    ASSERT_TRUE(cl.Run("/file.txt"));
    EXPECT_EQ(cl.err, 0);
    EXPECT_EQ(cl.http->TransferEncoding(), "chunked");
    EXPECT_EQ(cl.http->ContentEncoding(), "gzip");
    ASSERT_GT(cl.body.Bytes().size(), 10u);
    EXPECT_EQ(uint8_t(cl.body.Bytes()[0]), 0x1F);
    EXPECT_EQ(uint8_t(cl.body.Bytes()[1]), 0x8B);
    EXPECT_EQ(cl.http->ReceivedCount(), int64_t(cl.body.Bytes().size()));
    cl.Save("gzip");

    Client plain;
    ASSERT_TRUE(plain.Run("/file.txt"));
    EXPECT_EQ(plain.http->ContentLength(), int64_t(plain.body.Bytes().size()));
    EXPECT_EQ(plain.body.Bytes().substr(0, 33), "line 00000 of the reference file\n");
    plain.Save("plain");
}

TEST(HttpNginx, RelocationsAndTheirLimit) {
    REQUIRE_NGINX();
    for (const char* r : {"/r301", "/r302", "/r303", "/r307", "/r308"}) {
        SCOPED_TRACE(r);
        Client cl;
        cl.http->SetRequestVer("1.1");
        ASSERT_TRUE(cl.Run(r));
        EXPECT_EQ(cl.err, 0);
        EXPECT_EQ(cl.http->StatusCode(), 200);
        EXPECT_EQ(cl.http->Location(), Base() + "/file.txt");
        EXPECT_EQ(cl.body.Bytes().substr(0, 10), "line 00000");
        EXPECT_EQ(cl.http->DocumentName(), "file.txt");
    }
    Client loop;
    loop.http->SetRequestVer("1.1");
    ASSERT_TRUE(loop.Run("/loop"));
    EXPECT_EQ(loop.err, 0);
    EXPECT_EQ(loop.http->StatusCode(), 302);
    EXPECT_EQ(loop.http->LocationChangeCurCount(), loop.http->LocationChangeMaxCount + 1);
    loop.Save("loop");
}

TEST(HttpNginx, HeadNotModifiedAndBasicAuthentication) {
    REQUIRE_NGINX();
    Client cl;
    cl.http->SetRequestVer("1.1");
    ASSERT_TRUE(cl.Run("/file.txt", httpHEAD));
    EXPECT_EQ(cl.err, 0);
    EXPECT_EQ(cl.http->StatusCode(), 200);
    EXPECT_GT(cl.http->ContentLength(), 100000);
    EXPECT_EQ(cl.http->ReceivedCount(), 0);
    EXPECT_TRUE(cl.body.Bytes().empty());

    cl.http->ModifiedSince = InetNow() + 1;
    ASSERT_TRUE(cl.Run("/file.txt"));
    EXPECT_EQ(cl.err, 0);
    EXPECT_EQ(cl.http->StatusCode(), 304);
    EXPECT_TRUE(cl.body.Bytes().empty());
    cl.http->ModifiedSince = 0;

    ASSERT_TRUE(cl.Run("/private/"));
    EXPECT_EQ(cl.err, 0);
    EXPECT_EQ(cl.http->StatusCode(), 401);
    // The connection is still good afterwards.
    ASSERT_TRUE(cl.Run("/file.txt"));
    EXPECT_EQ(cl.http->StatusCode(), 200);
    const std::vector<LogLine> log = AccessLog();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log.back().number, 4);
}

}  // namespace
