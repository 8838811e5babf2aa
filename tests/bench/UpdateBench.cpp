// What the update check costs, against the local stand-in of the maker's server, all in the
// same process: a full TLS 1.3 handshake with a kept context (the floor of any HTTPS request);
// a bare GET of the check address by a new client and context set up as the checker's, alone
// and with the making and freeing of its client (a check makes a new client and frees the one
// before); and TPlimLite::CheckUpdate to its callback. Prints the medians and the ratios bare
// GET / handshake and check / bare GET, and the longest time the thread that runs the check
// went without handling a message that another thread posts every millisecond (the first
// check of the process, with its identification of the executable, the later ones, and the
// first request of the process that trusts the Windows ROOT store).
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <atomic>
#include <thread>

#include "BenchPump.h"
#include "foundation/Log.h"
#include "foundation/Version.h"
#include "net/HttpClient.h"
#include "net/InetLibeay.h"
#include "net/SslSocket.h"
#include "net/SslContext.h"
#include "update/HttpCusto.h"
#include "update/MakerServer.h"
#include "update/PlimFct.h"
#include "update/PlimLite.h"

namespace {

constexpr int kRounds = 40;

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

HCERTSTORE OpenRoot() {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
}

// The stand-in's CA in the user's Root store for the run; false when it could not be added.
bool TrustCa(const std::string& der, bool trust) {
    HCERTSTORE root = OpenRoot();
    if (!root) return false;
    bool ok = true;
    if (trust) {
        ok = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                              static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                              nullptr) != FALSE;
    } else {
        for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(root, nullptr); c;) {
            PCCERT_CONTEXT next = CertEnumCertificatesInStore(root, CertDuplicateCertificateContext(c));
            if (c->cbCertEncoded == der.size() && memcmp(c->pbCertEncoded, der.data(), der.size()) == 0)
                CertDeleteCertificateFromStore(c);
            else
                CertFreeCertificateContext(c);
            c = next;
        }
    }
    CertCloseStore(root, 0);
    return ok;
}

// Full TLS handshakes with one kept context, each connection closed once it is up; the
// median in seconds, or -1 when none succeeded.
double Handshake(const std::string& port, int count) {
    TSslContext ctx(nullptr);
    TSslNetSocket s(nullptr);
    s.SetSslContext(&ctx);
    bool closed = false;
    bool ok = false;
    double up = 0;
    s.OnSslHandshakeDone = [&](TCustomSslNetSocket* x, uint16_t e, TX509Base*, bool&) {
        ok = e == 0;
        up = bench::Now();
        x->Close();
    };
    s.OnSessionClosed = [&](framework::TComponent*, uint16_t) { closed = true; };
    std::vector<double> times;
    for (int i = 0; i <= count; ++i) {
        closed = ok = false;
        s.SslEnable = true;
        s.SetAddr("127.0.0.1");
        s.SetPort(port);
        const double start = bench::Now();
        s.Connect();
        if (!bench::Pump([&] { return closed; }, 10) || !ok) continue;
        if (i > 0) times.push_back(up - start);  // the first one loads and warms up
    }
    return times.empty() ? -1 : Median(times);
}

// Building a new context set up as the checker's (its trust in the Windows ROOT store
// included), the part of a bare GET that is not the request; median seconds.
double ContextBuild(int count) {
    std::vector<double> times;
    for (int i = 0; i <= count; ++i) {
        const double start = bench::Now();
        TSslContext ctx(nullptr);
        TSslHttpClient http(nullptr);
        http.SetSslContext(&ctx);
        SetupHttpClient(http);
        ctx.BuildSslCtx();
        if (i > 0) times.push_back(bench::Now() - start);
    }
    return Median(times);
}

// Posts a message to the thread that made it every millisecond, from a thread of its own.
class TTicker {
public:
    static constexpr UINT kTick = WM_APP + 27;
    TTicker() : target_(GetCurrentThreadId()), thread_([this] {
        while (!stop_) {
            PostThreadMessageA(target_, kTick, 0, 0);
            Sleep(1);
        }
    }) {}
    ~TTicker() {
        stop_ = true;
        thread_.join();
        MSG m;
        while (PeekMessageA(&m, nullptr, kTick, kTick, PM_REMOVE)) {
        }
    }

private:
    DWORD target_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Runs start() from a message, as the menu command starts a check, then the messages until
// done() holds; seconds, or -1 when it did not within 30 s. MaxBlock: the longest gap between
// two ticks handled from the tick before the start to the end.
double Ticked(const std::function<void()>& start, const std::function<bool()>& done, double& MaxBlock) {
    TTicker ticker;
    bool started = false;
    double begin = 0, last = 0;
    MaxBlock = 0;
    const double limit = bench::Now() + 30;
    MSG m;
    while (!(started && done()) && bench::Now() < limit) {
        if (!PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjectsEx(0, nullptr, 50, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            continue;
        }
        if (m.message != TTicker::kTick || m.hwnd) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
            continue;
        }
        const double now = bench::Now();
        if (started) MaxBlock = std::max(MaxBlock, now - last);
        last = now;
        if (!started) {
            started = true;
            begin = bench::Now();
            start();
        }
    }
    if (!started || !done()) return -1;
    // The time from the last tick to the end counts as well.
    MaxBlock = std::max(MaxBlock, bench::Now() - last);
    return bench::Now() - begin;
}

// One check to its callback; seconds, or -1 on failure.
double Check(TPlimLite& lite, const std::string& exe, double& MaxBlock) {
    bool done = false;
    const double t = Ticked([&] { lite.CheckUpdate(exe, nullptr, [&](TPlimLite*) { done = true; }); },
                            [&] { return done; }, MaxBlock);
    return lite.ReplyValid() ? t : -1;
}

// A client set up as the checker's, with its own context, asking for url.
struct TBareClient {
    framework::TMemoryStream body;
    TSslContext ctx{nullptr};
    TSslHttpClient http{nullptr};
    bool done = false;
    uint16_t error = 0;
    explicit TBareClient(const std::string& url) {
        http.SetSslContext(&ctx);
        SetupHttpClient(http);
        http.URL = url;
        http.ReceiveStream = &body;
        http.OnRequestDone = [this](framework::TComponent*, THttpRequest, uint16_t e) {
            done = true;
            error = e;
        };
    }
    bool Ok() const { return done && !error && body.Bytes() == "1.0.0.1"; }
};

// Two GETs by new clients set up as the checker's. Get: from the start of the GET to its
// completion, the client made beforehand and the messages handled without ticks. Whole: from
// the making of the client to its freeing (each check makes a new client and frees the one
// before), under ticks as a check runs; MaxBlock as for a check. Seconds, or -1 on failure.
struct TBare {
    double Get = -1;
    double Whole = -1;
    double MaxBlock = 0;
};

TBare BareGet(const std::string& url, bool plain = true) {
    TBare r;
    if (plain) {
        TBareClient c(url);
        const double start = bench::Now();
        c.http.StartGet();
        if (bench::Pump([&] { return c.done; }, 30) && c.Ok()) r.Get = bench::Now() - start;
    }
    std::unique_ptr<TBareClient> c;
    const double t = Ticked(
        [&] {
            c = std::make_unique<TBareClient>(url);
            c->http.StartGet();
        },
        [&] { return c && c->done; }, r.MaxBlock);
    const double freeing = bench::Now();
    const bool ok = c && c->Ok();
    c.reset();
    if (t >= 0 && ok) r.Whole = t + (bench::Now() - freeing);
    return r;
}

}  // namespace

int main() {
    const std::string portsFile = Env("VA_BENCH_UPDATE_PEER");
    // The program checks its own file: so does this one, which carries the program's version
    // resource (a loaded module's resource is read from its image; another file is mapped anew).
    char own[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, own, MAX_PATH);
    const std::string exe = own;
    std::ifstream ports(portsFile);
    std::string name, port, tlsPort;
    while (ports >> name >> port)
        if (name == "tls") tlsPort = port;
    std::ifstream caFile(Env("VA_BENCH_UPDATE_CA"), std::ios::binary);
    std::stringstream ca;
    ca << caFile.rdbuf();
    if (tlsPort.empty() || ca.str().empty()) {
        std::printf("update bench: VA_BENCH_UPDATE_PEER and VA_BENCH_UPDATE_CA are needed\n");
        return 1;
    }
    if (!TrustCa(ca.str(), true)) {
        std::printf("update bench: the CA could not be added to the Root store\n");
        return 1;
    }
    SetMakerServerBase("https://127.0.0.1:" + tlsPort);
    // The program's link-file downloader keeps OpenSSL loaded from the first activation on;
    // without that, every client freed here would unload it and drop what it caches.
    InetAcquireOpenSsl();

    // The address the checker asks for, built for the bare GET from a copy of the file (the
    // checker's own identification stays the first of the process).
    std::string url;
    {
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        const std::string copy = std::string(temp) + "va-update-bench.exe";
        CopyFileA(exe.c_str(), copy.c_str(), FALSE);
        TDisplayedFileInfo info;
        GetDisplayedFileInfo(copy, info);
        std::string file = copy, version;
        GetFileVersionText(file, "", "", version, false);
        DeleteFileA(copy.c_str());
        url = MakerServerUrl(kUpdateCheckPath) + "?" +
              TPlimLite::CheckQuery(info.ProductName, info.CompanyName, version);
    }

    const double handshake = Handshake(tlsPort, kRounds);
    if (handshake < 0) {
        std::printf("update bench: no TLS handshake with the stand-in succeeded\n");
        TrustCa(ca.str(), false);
        return 1;
    }
    // The first request of the process that trusts the Windows ROOT store decodes its
    // certificates (in the program, the link-file download or the first check, whichever
    // comes first): reported on its own.
    const TBare firstTrusted = BareGet(url, false);

    TKLog log("", false, 1000, false);
    TPlimLite lite(&log, "VoltAtlas");
    std::vector<double> bare, whole, checks, blocks, bareBlocks;
    double firstBlock = 0, firstCheck = 0;
    int failures = 0;
    // The first check of the process identifies the executable; it is reported on its own.
    for (int i = 0; i <= kRounds; ++i) {
        double block = 0;
        const double c = Check(lite, exe, block);
        const TBare b = BareGet(url);
        if (b.Get < 0 || b.Whole < 0 || c < 0) {
            ++failures;
            continue;
        }
        if (i == 0) {
            firstBlock = block;
            firstCheck = c;
            continue;
        }
        bare.push_back(b.Get * 1e3);
        whole.push_back(b.Whole * 1e3);
        checks.push_back(c * 1e3);
        blocks.push_back(block * 1e3);
        bareBlocks.push_back(b.MaxBlock * 1e3);
    }
    TrustCa(ca.str(), false);
    if (bare.empty()) {
        std::printf("update bench: every round failed\n");
        return 1;
    }
    const double mh = handshake * 1e3, mb = Median(bare), mw = Median(whole), mc = Median(checks);
    std::printf("full TLS 1.3 handshake (kept context):             median %.2f ms\n", mh);
    std::printf("  new context as the checker's, built:             median %.2f ms\n", ContextBuild(kRounds) * 1e3);
    std::printf("bare HTTPS GET of the check address (new client): median %.2f ms\n", mb);
    std::printf("  the same with its client made and freed, ticked: median %.2f ms\n", mw);
    std::printf("CheckUpdate to its callback:                       median %.2f ms (first of the process %.2f ms)\n",
                mc, firstCheck * 1e3);
    std::printf("ratio bare GET / handshake: %.2f (target 3)\n", mb / mh);
    std::printf("ratio check / bare GET with its client made and freed: %.2f (target 1.2; against the GET "
                "alone %.2f; %d rounds, %d failed)\n",
                mc / mw, mc / mb, static_cast<int>(bare.size()), failures);
    std::printf("thread blocked by a check: longest %.2f ms, median of the longest per check %.2f ms "
                "(bare GET %.2f ms); first check of the process %.2f ms (target 50)\n",
                *std::max_element(blocks.begin(), blocks.end()), Median(blocks), Median(bareBlocks),
                firstBlock * 1e3);
    std::printf("thread blocked by the first request trusting the Windows ROOT store: %.2f ms\n",
                firstTrusted.MaxBlock * 1e3);
    InetReleaseOpenSsl();
    return 0;
}
