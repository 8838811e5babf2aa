// The HTTP client's speed: a 256 MiB GET from nginx into a counting sink, against a blocking
// Winsock client sending the same request in this process: five rounds, the two ways
// alternating; best of each and the median of the per-round ratios (the machine's load moves
// both).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchPump.h"
#include "net/HttpClient.h"
#include "net/InetWinsock.h"

namespace {

using bench::Now;
using bench::TCountingStream;

constexpr int64_t kSize = int64_t(256) << 20;

// Seconds for the whole answer, header included, or -1.
double Blocking(int port) {
    const double t0 = Now();
    SOCKET s = Winsock::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = Winsock::htons(u_short(port));
    a.sin_addr.s_addr = Winsock::inet_addr("127.0.0.1");
    if (Winsock::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) return -1;
    const std::string req = "GET /big.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    Winsock::send(s, req.data(), int(req.size()), 0);
    // The same read size as the client's.
    std::vector<char> buf(1024 * 1024);
    int64_t got = 0;
    int n;
    while ((n = Winsock::recv(s, buf.data(), int(buf.size()), 0)) > 0) got += n;
    Winsock::closesocket(s);
    return got > kSize ? Now() - t0 : -1;
}

double Client(int port) {
    THttpClient http(nullptr);
    TCountingStream sink;
    bool done = false;
    uint16_t err = 0xFFFF;
    http.ReceiveStream = &sink;
    http.OnRequestDone = [&](framework::TComponent*, THttpRequest, uint16_t e) {
        done = true;
        err = e;
    };
    http.URL = "http://127.0.0.1:" + std::to_string(port) + "/big.bin";
    const double t0 = Now();
    http.StartGet();
    MSG m;
    while (!done && GetMessageA(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    const double t = Now() - t0;
    return err == 0 && sink.pos_ == kSize ? t : -1;
}

}  // namespace

int main() {
    const char* port = std::getenv("VA_BENCH_NGINX_PORT");
    if (!port) {
        std::printf("http benchmark: no nginx (run it through tools/bench)\n");
        return 0;
    }
    const int p = std::atoi(port);
    double blocking = 1e9, client = 1e9;
    std::vector<double> ratios;
    for (int i = 0; i < 5; ++i) {
        const double b = Blocking(p), c = Client(p);
        if (b > 0 && b < blocking) blocking = b;
        if (c > 0 && c < client) client = c;
        if (b > 0 && c > 0) ratios.push_back(b / c);
    }
    std::sort(ratios.begin(), ratios.end());
    if (client >= 1e9 || blocking >= 1e9) {
        std::printf("http GET 256 MiB: failed (client %s, blocking %s)\n", client < 1e9 ? "ok" : "failed",
                    blocking < 1e9 ? "ok" : "failed");
        return 1;
    }
    std::printf("http GET 256 MiB from nginx: client %.0f MB/s, blocking Winsock client %.0f MB/s (best of 5 "
                "each), ratio of the bests %.2f, median ratio per round %.2f\n",
                256 / client, 256 / blocking, blocking / client, ratios.empty() ? 0.0 : ratios[ratios.size() / 2]);
    return 0;
}
