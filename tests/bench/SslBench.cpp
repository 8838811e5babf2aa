// The TLS socket's speed, each figure beside a baseline measured in the same run under the
// same Wine: full and resumed TLS 1.3 handshakes per second against openssl s_time (the
// openssl.exe built from the same OpenSSL source, beside this program), and TLS 1.3 bulk
// echo throughput against the plain socket's through the plain echo peer.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <string>

#include "bench/BenchPump.h"
#include "net/SslSocket.h"

namespace {

using bench::Now;
using bench::Pump;

// The peers named in the port file an environment variable points at.
std::map<std::string, std::string> Ports(const char* env) {
    const char* file = std::getenv(env);
    return file ? bench::ReadPorts(file) : std::map<std::string, std::string>();
}

// Handshakes per second of our client: each connection is closed as soon as it is up.
double OurHandshakes(const std::string& port, bool resume, double seconds) {
    TSslContext ctx(nullptr);
    ctx.SetSslSessionCacheModes({sslSESS_CACHE_CLIENT});
    TSslNetSocket s(nullptr);
    s.SetSslContext(&ctx);
    SSL_SESSION* kept = nullptr;
    bool closing = false;
    if (resume) {
        s.OnSslCliNewSession = [&](TCustomSslNetSocket*, void* ss, bool, bool& inc) {
            if (kept) ossl::SSL_SESSION_free(kept);
            kept = static_cast<SSL_SESSION*>(ss);
            inc = true;
            // The ticket came after the handshake; close from the message loop.
            if (!closing) {
                closing = true;
                s.CloseLater();
            }
        };
        s.OnSslCliGetSession = [&](TCustomSslNetSocket*, void*& ss, bool& freeIt) {
            if (kept) ossl::SSL_SESSION_up_ref(kept);
            ss = kept;
            freeIt = true;
        };
    }
    int done = 0, ok = 0, reused = 0;
    s.OnSslHandshakeDone = [&](TCustomSslNetSocket* x, uint16_t e, TX509Base*, bool&) {
        if (e == 0) ++ok;
        if (x->SessionWasReused()) ++reused;
        // A TLS 1.3 ticket comes after the handshake: wait for it before closing.
        if (!resume || (kept && SslSessionReused(x->Ssl()) == 1)) x->Close();
    };
    s.OnDataAvailable = [&](framework::TComponent*, uint16_t) {
        char b[4096];
        while (s.ReceiveData(b, sizeof(b)) > 0) {
        }
    };
    s.OnSessionClosed = [&](framework::TComponent*, uint16_t) {
        ++done;
        closing = false;
    };
    const double t0 = Now();
    int started = 0;
    while (Now() - t0 < seconds) {
        s.SslEnable = true;
        s.SetAddr("127.0.0.1");
        s.SetPort(port);
        s.Connect();
        ++started;
        if (!Pump([&] { return done == started; }, 10)) break;
    }
    const double t = Now() - t0;
    if (kept) ossl::SSL_SESSION_free(kept);
    if (resume && reused < ok / 2) std::printf("  (only %d of %d resumed)\n", reused, ok);
    return ok / t;
}

// openssl s_time's connections per second (real time).
double STime(const std::string& port, bool resume, int seconds) {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir(exe);
    dir = dir.substr(0, dir.find_last_of('\\') + 1);
    std::string cmd = "\"" + dir + "openssl.exe\" s_time -connect 127.0.0.1:" + port + (resume ? " -reuse" : " -new") +
                      " -time " + std::to_string(seconds);
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE rd = nullptr, wr = nullptr;
    if (!CreatePipe(&rd, &wr, &sa, 0)) return -1;
    SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = wr;
    si.hStdError = wr;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(rd);
        CloseHandle(wr);
        return -1;
    }
    CloseHandle(wr);
    std::string out;
    char buf[4096];
    DWORD n;
    while (ReadFile(rd, buf, sizeof(buf), &n, nullptr) && n > 0) out.append(buf, n);
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(rd);
    std::smatch m;
    if (!std::regex_search(out, m, std::regex(R"((\d+) connections in (\d+) real seconds)"))) return -1;
    return std::stod(m[1]) / std::max(1.0, std::stod(m[2]));
}

// Seconds to send Total bytes and read them back through an echo peer.
template <typename Sock>
double Echo(Sock& s, const std::string& port, size_t total, bool tls) {
    const std::string block(1 << 20, 'x');
    size_t got = 0;
    bool ready = false;
    if constexpr (std::is_same_v<Sock, TSslNetSocket>) {
        s.OnSslHandshakeDone = [&](TCustomSslNetSocket*, uint16_t e, TX509Base*, bool&) { ready = e == 0; };
    }
    s.OnSessionConnected = [&](framework::TComponent*, uint16_t e) {
        if (!tls) ready = e == 0;
    };
    std::vector<char> buf(65536);
    s.OnDataAvailable = [&](framework::TComponent*, uint16_t) {
        int n;
        while ((n = s.ReceiveData(buf.data(), int(buf.size()))) > 0) got += size_t(n);
    };
    s.SetAddr("127.0.0.1");
    s.SetPort(port);
    s.Connect();
    if (!Pump([&] { return ready; }, 10)) return -1;
    const double t0 = Now();
    for (size_t off = 0; off < total; off += block.size()) s.Send(block.data(), int(block.size()));
    if (!Pump([&] { return got >= total; }, 300)) return -1;
    const double t = Now() - t0;
    s.Abort();
    return t;
}

}  // namespace

int main() {
    auto tls = Ports("VA_BENCH_TLS_PEERS");
    auto plain = Ports("VA_BENCH_PEERS");
    if (tls.empty() || plain.empty()) {
        std::printf("TLS benchmark: no local peers (run it through tools/bench)\n");
        return 0;
    }
    InetAcquireOpenSsl();
    for (bool resume : {false, true}) {
        const double base = STime(tls["www13"], resume, 5);
        const double ours = OurHandshakes(tls["www13"], resume, 5);
        std::printf("TLS 1.3 %s handshakes: socket %.0f per second, openssl s_time %.0f per second, ratio %.2f\n",
                    resume ? "resumed" : "full", ours, base, base > 0 ? ours / base : 0.0);
    }
    const size_t total = size_t(64) << 20;
    double plainT = 1e9, tlsT = 1e9;
    for (int i = 0; i < 3; ++i) {
        TNetSocket p(nullptr);
        const double a = Echo(p, plain["echo"], total, false);
        TSslContext ctx(nullptr);
        TSslNetSocket t(nullptr);
        t.SetSslContext(&ctx);
        t.SslEnable = true;
        const double b = Echo(t, tls["echo13"], total, true);
        if (a > 0 && a < plainT) plainT = a;
        if (b > 0 && b < tlsT) tlsT = b;
    }
    std::printf("echo 64 MB: TLS 1.3 %.0f MB/s, plain socket %.0f MB/s, ratio %.2f\n", 64 / tlsT, 64 / plainT,
                plainT / tlsT);
    InetReleaseOpenSsl();
    return 0;
}
