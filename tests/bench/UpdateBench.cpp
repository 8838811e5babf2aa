// What the update check costs beyond its request: TPlimLite::CheckUpdate to its callback
// (identification of the executable, then the HTTPS GET) against a bare GET of the same
// address by a fresh client set up the same way, in the same process, against the local
// stand-in of the maker's server. Prints per-check medians and their ratio.
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

#include "BenchPump.h"
#include "foundation/Log.h"
#include "foundation/Version.h"
#include "net/HttpClient.h"
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

// One GET by a new client, as the checker makes one per check; seconds, or -1 on failure.
double BareGet(const std::string& url) {
    framework::TMemoryStream body;
    TSslContext ctx(nullptr);
    TSslHttpClient http(nullptr);
    http.SetSslContext(&ctx);
    SetupHttpClient(http);
    http.URL = url;
    http.ReceiveStream = &body;
    bool done = false;
    uint16_t error = 0;
    http.OnRequestDone = [&](framework::TComponent*, THttpRequest, uint16_t e) {
        done = true;
        error = e;
    };
    const double start = bench::Now();
    http.StartGet();
    if (!bench::Pump([&] { return done; }, 30) || error || body.Bytes() != "1.0.0.1") return -1;
    return bench::Now() - start;
}

// One check to its callback; seconds, or -1 on failure.
double Check(TPlimLite& lite, const std::string& exe) {
    bool done = false;
    const double start = bench::Now();
    lite.CheckUpdate(exe, nullptr, [&](TPlimLite*) { done = true; });
    if (!bench::Pump([&] { return done; }, 30) || !lite.ReplyValid) return -1;
    return bench::Now() - start;
}

}  // namespace

int main() {
    const std::string portsFile = Env("VA_BENCH_UPDATE_PEER");
    const std::string exe = Env("VA_BENCH_VOLTATLAS");
    std::ifstream ports(portsFile);
    std::string name, port, tlsPort;
    while (ports >> name >> port)
        if (name == "tls") tlsPort = port;
    std::ifstream caFile(Env("VA_BENCH_UPDATE_CA"), std::ios::binary);
    std::stringstream ca;
    ca << caFile.rdbuf();
    if (tlsPort.empty() || exe.empty() || ca.str().empty()) {
        std::printf("update bench: VA_BENCH_UPDATE_PEER, VA_BENCH_UPDATE_CA and VA_BENCH_VOLTATLAS are needed\n");
        return 1;
    }
    if (!TrustCa(ca.str(), true)) {
        std::printf("update bench: the CA could not be added to the Root store\n");
        return 1;
    }
    SetMakerServerBase("https://127.0.0.1:" + tlsPort);

    // The address the checker asks for, built once for the bare GET.
    TDisplayedFileInfo info;
    GetDisplayedFileInfo(exe, info);
    std::string file = exe, version;
    GetFileVersionText(file, "", "", version, false);
    const std::string url =
        MakerServerUrl(kUpdateCheckPath) + "?" + TPlimLite::CheckQuery(info.ProductName, info.CompanyName, version);

    TKLog log("", false, 1000, false);
    TPlimLite lite(&log, "VoltAtlas");
    std::vector<double> bare, checks;
    int failures = 0;
    // The first round warms up OpenSSL, the connection path and the file cache.
    for (int i = 0; i <= kRounds; ++i) {
        const double b = BareGet(url);
        const double c = Check(lite, exe);
        if (b < 0 || c < 0) {
            ++failures;
            continue;
        }
        if (i == 0) continue;
        bare.push_back(b * 1e3);
        checks.push_back(c * 1e3);
    }
    TrustCa(ca.str(), false);
    if (bare.empty()) {
        std::printf("update bench: every round failed\n");
        return 1;
    }
    const double mb = Median(bare), mc = Median(checks);
    std::printf("bare HTTPS GET of the check address (new client): median %.2f ms\n", mb);
    std::printf("CheckUpdate to its callback:                       median %.2f ms\n", mc);
    std::printf("ratio check / bare GET: %.2f  (identification share ~%.2f ms; %d rounds, %d failed)\n", mc / mb,
                mc - mb, static_cast<int>(bare.size()), failures);
    return 0;
}
