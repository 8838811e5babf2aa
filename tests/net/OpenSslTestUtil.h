// Helpers of the TLS tests: the certificates the CTest fixture made (and what the host's
// openssl read from them), an OpenSSL acquisition for a test's length, and a TLS handshake
// between two contexts over an in-memory BIO pair (no network).
#pragma once

#include <windows.h>

#include <atomic>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "framework/SysUtils.h"
#include "net/SslContext.h"

namespace ssltest {

// "<current folder>\net-certs\": written by make_certs.sh before the test runs.
inline std::string CertFolder() {
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    return framework::IncludeTrailingPathDelimiter(cwd) + "net-certs\\";
}
inline std::string CertPath(const std::string& name) { return CertFolder() + name; }

inline std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// The key=value lines openssl wrote about a certificate.
inline std::map<std::string, std::string> Oracle(const std::string& name) {
    std::map<std::string, std::string> m;
    std::istringstream in(ReadFile(CertPath(name + ".txt")));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t eq = line.find('=');
        if (eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return m;
}

// One OpenSSL acquisition (the real DLLs beside the test program).
struct OpenSslScope {
    OpenSslScope() { InetAcquireOpenSsl(); }
    ~OpenSslScope() { InetReleaseOpenSsl(); }
};

struct HandshakeResult {
    bool ok = false;
    long verifyResult = -1;
    int version = 0;
    std::string cipher;
    long reused = -1;
    SSL_SESSION* session = nullptr;  // the client's, when asked for; the caller frees it
};

// Runs a handshake between a client SSL of Client and a server SSL of Server (both built
// first). The client asks for HostName (SNI and host check) and offers Session.
inline HandshakeResult Handshake(TSslContext& Server, TSslContext& Client, const std::string& HostName,
                                 SSL_SESSION* Session = nullptr, bool KeepSession = false) {
    if (!Server.IsCtxInitialized()) Server.BuildSslCtx();
    if (!Client.IsCtxInitialized()) Client.BuildSslCtx();
    HandshakeResult r;
    SSL* s = ossl::SSL_new(Server.SslCtx());
    SSL* c = ossl::SSL_new(Client.SslCtx());
    BIO *bc = nullptr, *bs = nullptr;
    ossl::BIO_new_bio_pair(&bc, 0, &bs, 0);
    ossl::SSL_set_bio(c, bc, bc);
    ossl::SSL_set_bio(s, bs, bs);
    ossl::SSL_set_connect_state(c);
    ossl::SSL_set_accept_state(s);
    Client.PrepareClientSsl(c, HostName);
    if (Session) ossl::SSL_set_session(c, Session);
    bool cDone = false, sDone = false, failed = false;
    for (int i = 0; i < 50 && !(cDone && sDone) && !failed; ++i) {
        if (!cDone) {
            const int rc = ossl::SSL_do_handshake(c);
            if (rc == 1) cDone = true;
            else {
                const int e = ossl::SSL_get_error(c, rc);
                if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) failed = true;
            }
        }
        if (!sDone) {
            const int rs = ossl::SSL_do_handshake(s);
            if (rs == 1) sDone = true;
            else {
                const int e = ossl::SSL_get_error(s, rs);
                if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) failed = true;
            }
        }
    }
    ossl::ERR_clear_error();
    r.ok = cDone && sDone && !failed;
    r.verifyResult = ossl::SSL_get_verify_result(c);
    r.version = ossl::SSL_version(c);
    if (const SSL_CIPHER* ci = ossl::SSL_get_current_cipher(c)) r.cipher = ossl::SSL_CIPHER_get_name(ci);
    r.reused = SslSessionReused(c);
    if (KeepSession) r.session = ossl::SSL_get1_session(c);
    // A connection closed without a shutdown would make its session unusable.
    if (r.ok) {
        ossl::SSL_set_shutdown(c, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
        ossl::SSL_set_shutdown(s, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
    }
    ossl::SSL_free(c);
    ossl::SSL_free(s);
    return r;
}

// A server context with our CA's RSA server certificate and key.
inline void SetUpServer(TSslContext& Server, const std::string& Name = "server") {
    Server.SetSslCertFile(CertPath(Name + ".pem"));
    Server.SetSslPrivKeyFile(CertPath(Name + ".key"));
}

// The DER bytes of the first certificate of a PEM file.
inline std::string DerOf(const std::string& pemFile) {
    BIO* b = ossl::BIO_new_file(pemFile.c_str(), "rb");
    X509* x = b ? ossl::PEM_read_bio_X509(b, nullptr, nullptr, nullptr) : nullptr;
    if (b) ossl::BIO_free(b);
    if (!x) return "";
    unsigned char* out = nullptr;
    const int n = ossl::i2d_X509(x, &out);
    std::string der(reinterpret_cast<char*>(out), n > 0 ? n : 0);
    SslCryptoFree(out);
    ossl::X509_free(x);
    return der;
}

// A client that verifies its peer against CAFile.
inline void SetUpVerifyingClient(TSslContext& Client, const std::string& CAFile) {
    Client.SetSslCAFile(CAFile);
    Client.SetSslVerifyPeer(true);
}

// Stands in for the reading of the Windows certificate stores until the test lets it go, and
// gives the test CA only: whatever a request trusts, it trusts through what was read.
class HeldRootReader {
public:
    HeldRootReader() : gate_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        const std::string ca = DerOf(CertPath("ca.pem"));
        InetSetWindowsRootReader([this, ca] {
            thread = GetCurrentThreadId();
            ++reads;
            // Bounded: a read on the requesting thread fails the test instead of hanging it.
            WaitForSingleObject(gate_, 5000);
            return std::vector<std::string>{ca};
        });
    }
    ~HeldRootReader() {
        Release();
        InetSetWindowsRootReader(nullptr);
        CloseHandle(gate_);
    }
    void Release() { SetEvent(gate_); }
    std::atomic<int> reads{0};
    std::atomic<DWORD> thread{0};

private:
    HANDLE gate_;
};

}  // namespace ssltest
