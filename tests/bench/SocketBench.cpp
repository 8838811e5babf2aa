// The socket's speed against local peers, each figure beside a baseline in this process:
// receiving 512 MB from a stream of zeros (socat) through the socket's events against a
// blocking recv loop, connect/close cycles per second, and name look-ups per second
// through the library's asynchronous call and through the worker pool.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "net/InetWinsock.h"
#include "net/NetSocket.h"

namespace {

double Now() {
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(freq.QuadPart);
}

bool Pump(const std::function<bool()>& done, double limitSeconds) {
    const double end = Now() + limitSeconds;
    MSG m;
    while (!done()) {
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
            if (done()) return true;
        }
        // Messages sent from other threads were handled inside PeekMessage.
        if (done()) return true;
        if (Now() > end) return false;
        MsgWaitForMultipleObjectsEx(0, nullptr, 50, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    return true;
}

constexpr int64_t kTotal = int64_t(512) << 20;

double BlockingReceive(int port) {
    SOCKET s = Winsock::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = Winsock::htons(u_short(port));
    a.sin_addr.s_addr = Winsock::inet_addr("127.0.0.1");
    if (Winsock::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) return -1;
    std::vector<char> buf(65536);
    int64_t got = 0;
    const double t0 = Now();
    while (got < kTotal) {
        const int n = Winsock::recv(s, buf.data(), int(buf.size()), 0);
        if (n <= 0) return -1;
        got += n;
    }
    const double t = Now() - t0;
    Winsock::closesocket(s);
    return t;
}

double SocketReceive(int port) {
    TNetSocket s(nullptr);
    std::vector<char> buf(65536);
    bool connected = false;
    int64_t got = 0;
    int reads = 0;
    double t0 = 0;
    s.OnSessionConnected = [&](framework::TComponent*, uint16_t e) {
        connected = e == 0;
        t0 = Now();
    };
    s.OnDataAvailable = [&](framework::TComponent*, uint16_t) {
        const int n = s.ReceiveData(buf.data(), int(buf.size()));
        ++reads;
        if (n > 0) got += n;
    };
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
    s.Connect();
    if (!Pump([&] { return got >= kTotal || s.State() == wsClosed; }, 120)) return -1;
    const double t = Now() - t0;
    s.Abort();
    if (std::getenv("VA_BENCH_VERBOSE")) std::printf("  events: %d reads of 64 KB at most\n", reads);
    return got >= kTotal ? t : -1;
}

std::map<std::string, std::string> Peers() {
    std::map<std::string, std::string> m;
    const char* file = std::getenv("VA_BENCH_PEERS");
    if (!file) return m;
    std::ifstream f(file);
    std::string n, p;
    while (f >> n >> p) m[n] = p;
    return m;
}

}  // namespace

int main() {
    const char* zero = std::getenv("VA_BENCH_ZERO_PORT");
    auto peers = Peers();
    if (!zero || peers.empty()) {
        std::printf("socket benchmark: no local peers (run it through tools/bench)\n");
        return 0;
    }
    const int zeroPort = std::atoi(zero);

    // Receive: five rounds, the two ways alternating; best of each and the median of the
    // per-round ratios (the machine's load moves both).
    double blocking = 1e9, events = 1e9;
    std::vector<double> ratios;
    for (int i = 0; i < 5; ++i) {
        const double b = BlockingReceive(zeroPort), e = SocketReceive(zeroPort);
        if (b > 0 && b < blocking) blocking = b;
        if (e > 0 && e < events) events = e;
        if (b > 0 && e > 0) ratios.push_back(b / e);
        if (std::getenv("VA_BENCH_VERBOSE")) std::printf("  round %d: blocking %.3f s, events %.3f s\n", i, b, e);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("receive 512 MB: socket events %.0f MB/s, blocking recv loop %.0f MB/s (best of 5 each), "
                "ratio of the bests %.2f, median ratio per round %.2f\n",
                512 / events, 512 / blocking, blocking / events, ratios.empty() ? 0.0 : ratios[ratios.size() / 2]);

    // Connect/close cycles against the peer that writes and closes.
    {
        TNetSocket s(nullptr);
        int closes = 0, connects = 0;
        s.OnSessionConnected = [&](framework::TComponent*, uint16_t) { ++connects; };
        s.OnSessionClosed = [&](framework::TComponent*, uint16_t) { ++closes; };
        s.OnDataAvailable = [&](framework::TComponent*, uint16_t) { s.ReceiveAsText(); };
        const int n = 500;
        const double t0 = Now();
        for (int i = 0; i < n; ++i) {
            s.SetAddr("127.0.0.1");
            s.SetPort(peers["fin"]);
            s.Connect();
            if (!Pump([&] { return closes == i + 1; }, 10)) break;
        }
        const double t = Now() - t0;
        std::printf("connect/close cycles (peer writes and closes): %d in %.2f s, %.0f per second\n", closes, t,
                    closes / t);
    }

    // Look-ups of "127.1" (a name to the socket, resolved numerically by the system: no
    // hosts file, no name server), one after the other.
    for (bool pool : {false, true}) {
        TNetSocket s(nullptr);
        if (pool) s.ComponentOptions.Include(wsoInetDnsLookup);
        int done = 0;
        s.OnDnsLookupDone = [&](framework::TComponent*, uint16_t) { ++done; };
        const int n = 1000;
        const double t0 = Now();
        for (int i = 0; i < n; ++i) {
            s.DnsLookupTcp("127.1");
            if (!Pump([&] { return done == i + 1; }, 10)) break;
        }
        const double t = Now() - t0;
        // The same names resolved by the blocking call on this thread, for scale.
        const double b0 = Now();
        for (int i = 0; i < n; ++i) Winsock::gethostbyname("127.1");
        const double b = Now() - b0;
        std::printf("look-ups of 127.1 (%s): %.0f per second; blocking gethostbyname %.0f per second\n",
                    pool ? "worker pool" : "library call", done / t, n / b);
    }
    return 0;
}
