// The HTTP client through proxies: 64 MiB fetched from nginx (plain HTTP) directly, through
// squid (Basic) and through microsocks, and from a TLS server directly and through squid's
// CONNECT tunnel (Basic) and microsocks, each as a ratio to the direct fetch of the same
// server (best of five each, timed from the connection on); then the requests squid logs
// for an authenticated GET with each method, and for a second one on the kept connection.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "bench/BenchPump.h"
#include "net/HttpClient.h"
#include "net/InetLibeay.h"
#include "net/SslSocket.h"

namespace {

using bench::CountLines;
using bench::Now;
using bench::Pump;
using bench::ReadPorts;
using bench::TCountingStream;

constexpr int64_t kSize = int64_t(64) << 20;

enum class Via { Direct, Squid, Microsocks };

struct Setup {
    std::map<std::string, std::string> proxies;
    TSslContext* ssl = nullptr;
};

void UseProxy(THttpClient& http, Via via, const Setup& s) {
    if (via == Via::Squid) {
        http.Proxy = "127.0.0.1:" + s.proxies.at("squid");
        http.ProxyUsername = "user";
        http.ProxyPassword = "pass";
        http.ProxyAuth = httpAuthBasic;
    } else if (via == Via::Microsocks) {
        http.SocksServer = "127.0.0.1";
        http.SocksPort = s.proxies.at("microsocks");
        http.SocksLevel = "5";
    }
}

// Seconds for the whole GET of Url, or -1.
double Fetch(const std::string& url, Via via, const Setup& s, int64_t expect) {
    TSslHttpClient http(nullptr);
    if (s.ssl) http.SetSslContext(s.ssl);
    http.SetRequestVer("1.1");
    UseProxy(http, via, s);
    TCountingStream sink;
    bool done = false;
    uint16_t err = 0xFFFF;
    http.ReceiveStream = &sink;
    http.OnRequestDone = [&](framework::TComponent*, THttpRequest, uint16_t e) {
        done = true;
        err = e;
    };
    http.URL = url;
    if (url.compare(0, 5, "http:") == 0) {
        // A range, so the same 64 MiB come from nginx's larger file.
        http.ContentRangeBegin = "0";
        http.ContentRangeEnd = std::to_string(expect - 1);
    }
    // From the connection on: the direct fetch looks its address up, SOCKS 5 does not.
    double t0 = 0;
    http.OnSessionConnected = [&](framework::TComponent*) {
        if (t0 == 0) t0 = Now();
    };
    // Through microsocks only when the connection went to it: a direct fetch is no SOCKS figure.
    int socksConnections = 0;
    http.OnSocksConnected = [&](framework::TComponent*, uint16_t e) {
        if (e == 0) ++socksConnections;
    };
    http.StartGet();
    if (!Pump([&] { return done; }, 120)) return -1;
    const double t = Now() - t0;
    if ((via == Via::Microsocks) != (socksConnections > 0)) return -1;
    return err == 0 && sink.pos_ == expect && http.StatusCode() / 100 == 2 ? t : -1;
}

void Speeds(const char* what, const std::string& url, const Setup& s) {
    double best[3] = {1e9, 1e9, 1e9};
    for (int i = 0; i < 5; ++i) {
        for (Via via : {Via::Direct, Via::Squid, Via::Microsocks}) {
            const double t = Fetch(url, via, s, kSize);
            if (t > 0 && t < best[int(via)]) best[int(via)] = t;
        }
    }
    auto mbs = [](double t) { return t < 1e9 ? 64 / t : 0.0; };
    std::printf("%s 64 MiB: direct %.0f MB/s; squid %.0f MB/s, ratio %.2f; microsocks %.0f MB/s, ratio %.2f\n", what,
                mbs(best[0]), mbs(best[1]), best[1] < 1e9 ? best[0] / best[1] : 0.0, mbs(best[2]),
                best[2] < 1e9 ? best[0] / best[2] : 0.0);
}

struct Method {
    const char* name;
    THttpAuthType preset;
    bool refuseNtlm;
};

// Requests squid logs for one authenticated GET, then for a second one on the kept
// connection. A tunnel is logged once, when it closes: there the count covers both GETs.
void RoundTrips(const std::string& url, const std::string& log, const Setup& s) {
    const bool tunnel = url.compare(0, 6, "https:") == 0;
    const Method methods[] = {
        {"Basic sent at once", httpAuthBasic, false},
        {"Basic after 407", httpAuthNone, true},
        {"Digest", httpAuthDigest, true},
        {"NTLM negotiate first", httpAuthNtlm, false},
        {"NTLM after 407", httpAuthNone, false},
    };
    for (const Method& m : methods) {
        int trips[2] = {0, 0};
        int status[2] = {0, 0};
        const int start = CountLines(log);
        {
            TSslHttpClient http(nullptr);
            if (s.ssl) http.SetSslContext(s.ssl);
            http.SetRequestVer("1.1");
            http.Proxy = "127.0.0.1:" + s.proxies.at("squid");
            http.ProxyUsername = "user";
            http.ProxyPassword = "pass";
            http.ProxyAuth = m.preset;
            http.OnBeforeAuth = [&](framework::TComponent*, THttpAuthType t, bool, const std::string&, bool& allow) {
                if (m.refuseNtlm && t == httpAuthNtlm) allow = false;
            };
            framework::TMemoryStream body;
            http.ReceiveStream = &body;
            int done = 0;
            http.OnRequestDone = [&](framework::TComponent*, THttpRequest, uint16_t) { ++done; };
            for (int i = 0; i < 2; ++i) {
                const int before = CountLines(log);
                http.URL = url;
                http.StartGet();
                Pump([&] { return done > i; }, 20);
                status[i] = http.StatusCode();
                Pump([] { return false; }, 0.5);
                trips[i] = CountLines(log) - before;
            }
        }
        Pump([] { return false; }, 1.0);
        if (tunnel)
            std::printf("through squid's tunnel, %s: %d requests for two GETs on one connection (status %d, %d)\n",
                        m.name, CountLines(log) - start, status[0], status[1]);
        else
            std::printf("through squid, %s: %d requests (status %d), then %d on the kept connection (status %d)\n",
                        m.name, trips[0], status[0], trips[1], status[1]);
    }
}

}  // namespace

int main() {
    const char* nginx = std::getenv("VA_BENCH_NGINX_PORT");
    const char* proxies = std::getenv("VA_BENCH_PROXIES");
    const char* auth = std::getenv("VA_BENCH_AUTH_PEER");
    Setup s;
    if (proxies) s.proxies = ReadPorts(std::string(proxies) + "\\ports.txt");
    const auto authPorts = auth ? ReadPorts(auth) : std::map<std::string, std::string>();
    if (!nginx || !s.proxies.count("squid") || !s.proxies.count("microsocks") || !authPorts.count("tls1")) {
        std::printf("http proxy benchmark: no local peers (run it through tools/bench with squid and microsocks)\n");
        return 0;
    }
    Speeds("http GET from nginx", "http://127.0.0.1:" + std::string(nginx) + "/big.bin", s);
    try {
        InetAcquireOpenSsl();
    } catch (const std::exception& e) {
        std::printf("https through proxies: no OpenSSL (%s)\n", e.what());
        return 0;
    }
    TSslContext ctx(nullptr);
    s.ssl = &ctx;
    Speeds("https GET from a python TLS server", "https://127.0.0.1:" + authPorts.at("tls1") + "/zeros?mb=64", s);
    const std::string log = std::string(proxies) + "\\squid\\access.log";
    std::printf("-- plain requests\n");
    RoundTrips("http://127.0.0.1:" + authPorts.at("plain") + "/echo", log, s);
    std::printf("-- https through the tunnel\n");
    RoundTrips("https://127.0.0.1:" + authPorts.at("tls1") + "/echo", log, s);
    InetReleaseOpenSsl();
    return 0;
}
