// The proxy layers' cost against local reference proxies: receiving 64 MiB from a stream of
// zeros (socat) through a squid CONNECT tunnel and through microsocks, each as a ratio to the
// same socket receiving directly; and the round trips one authenticated tunnel costs, counted
// in squid's access log.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchPump.h"
#include "net/NetSocket.h"

namespace {

using bench::CountLines;
using bench::Now;
using bench::Pump;
using bench::ReadPorts;

constexpr int64_t kTotal = int64_t(64) << 20;

enum class Via { Direct, Squid, Microsocks };

// Seconds from the session's start to the last byte; -1 on failure.
double Receive(Via via, int zeroPort, const std::map<std::string, std::string>& proxies) {
    TNetSocket s(nullptr);
    std::vector<char> buf(65536);
    bool connected = false;
    int64_t got = 0;
    double t0 = 0;
    s.OnSessionConnected = [&](framework::TComponent*, uint16_t e) {
        connected = e == 0;
        t0 = Now();
    };
    s.OnDataAvailable = [&](framework::TComponent*, uint16_t) {
        const int n = s.ReceiveData(buf.data(), int(buf.size()));
        if (n > 0) got += n;
    };
    if (via == Via::Squid) {
        s.SetHttpTunnelServer("127.0.0.1");
        s.SetHttpTunnelPort(proxies.at("squid"));
        s.SetHttpTunnelUsercode("user");
        s.SetHttpTunnelPassword("pass");
        s.SetHttpTunnelAuthType(htatDigest);
    } else if (via == Via::Microsocks) {
        s.SetSocksServer("127.0.0.1");
        s.SetSocksPort(proxies.at("microsocks"));
    }
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(zeroPort));
    s.Connect();
    if (!Pump([&] { return got >= kTotal || s.State() == wsClosed; }, 120)) return -1;
    const double t = Now() - t0;
    s.Abort();
    return connected && got >= kTotal ? t : -1;
}

}  // namespace

int main() {
    const char* zero = std::getenv("VA_BENCH_ZERO_PORT");
    const char* folder = std::getenv("VA_BENCH_PROXIES");
    const std::string dir = folder ? folder : "";
    auto proxies = folder ? ReadPorts(dir + "\\ports.txt") : std::map<std::string, std::string>();
    if (!zero || !proxies.count("squid") || !proxies.count("microsocks")) {
        std::printf("proxy benchmark: no local proxies (run it through tools/bench with squid and microsocks)\n");
        return 0;
    }
    const int zeroPort = std::atoi(zero);
    double direct = 1e9, squid = 1e9, socks = 1e9;
    for (int i = 0; i < 3; ++i) {
        const double d = Receive(Via::Direct, zeroPort, proxies), q = Receive(Via::Squid, zeroPort, proxies),
                     m = Receive(Via::Microsocks, zeroPort, proxies);
        if (d > 0 && d < direct) direct = d;
        if (q > 0 && q < squid) squid = q;
        if (m > 0 && m < socks) socks = m;
    }
    std::printf("receive 64 MiB: direct %.0f MB/s; squid tunnel %.0f MB/s, ratio %.2f; microsocks %.0f MB/s, ratio %.2f\n",
                64 / direct, 64 / squid, direct / squid, 64 / socks, direct / socks);
    // Round trips of one authenticated tunnel: squid logs each answered CONNECT (the 407s at
    // once, the tunnel when it closes).
    const std::string log = dir + "\\squid\\access.log";
    for (THttpTunnelAuthType type : {htatBasic, htatDetect, htatDigest}) {
        const int before = CountLines(log);
        TNetSocket s(nullptr);
        bool done = false;
        int err = -1;
        s.OnSessionConnected = [&](framework::TComponent*, uint16_t e) {
            err = e;
            done = true;
        };
        s.OnDataAvailable = [&](framework::TComponent*, uint16_t) { s.ReceiveAsText(); };
        s.SetHttpTunnelServer("127.0.0.1");
        s.SetHttpTunnelPort(proxies.at("squid"));
        s.SetHttpTunnelUsercode("user");
        s.SetHttpTunnelPassword("pass");
        s.SetHttpTunnelAuthType(type);
        s.SetAddr("127.0.0.1");
        s.SetPort(std::to_string(zeroPort));
        s.Connect();
        Pump([&] { return done; }, 10);
        s.Abort();
        // squid writes the tunnel's line once it sees the close.
        Pump([] { return false; }, 1.5);
        std::printf("CONNECT with %s: %s, %d requests in squid's log\n",
                    type == htatBasic ? "Basic" : type == htatDigest ? "Digest" : "detection",
                    err == 0 ? "granted" : "failed", CountLines(log) - before);
    }
    return 0;
}
