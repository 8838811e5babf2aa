// Helpers of the tests that talk to the maker's web server stand-in (tests/peers/update_peer.py,
// started by tests.cmake): its ports and the request lines it received, its test CA in the
// prefix's ROOT store for a test's length, the server base pointed at it, and the lines of a
// program log without their time stamps.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "update/MakerServer.h"

namespace updtest {

// "tls", "otherhost", "selfsigned" or "plain"; empty when the peer is not running.
inline std::string PeerPort(const std::string& name) {
    std::ifstream f("update-peer\\ports.txt");
    std::string n, p;
    while (f >> n >> p)
        if (n == name) return p;
    return "";
}

// The address of a listener, with the peer's answer chosen by the first path segment.
inline std::string PeerBase(const std::string& listener, const std::string& answer = "") {
    const std::string scheme = listener == "plain" ? "http" : "https";
    return scheme + "://127.0.0.1:" + PeerPort(listener) + (answer.empty() ? "" : "/" + answer);
}

// Every request line the peer received so far, oldest first.
inline std::vector<std::string> PeerRequests() {
    std::ifstream f("update-peer\\requests.txt");
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(f, line)) lines.push_back(line);
    return lines;
}

// Points the maker's server at Base for a scope.
struct ServerBase {
    explicit ServerBase(const std::string& Base) { SetMakerServerBase(Base); }
    ~ServerBase() { SetMakerServerBase(""); }
};

// The peer's CA in the current user's Root store (Windows shows it in ROOT) for a scope.
class TrustPeerCa {
public:
    TrustPeerCa() {
        std::ifstream f("update-certs\\ca.der", std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        der_ = ss.str();
        if (der_.empty()) return;
        HCERTSTORE root = OpenRoot();
        if (!root) return;
        added_ = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der_.data()),
                                                  static_cast<DWORD>(der_.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                  nullptr) != FALSE;
        CertCloseStore(root, 0);
    }
    ~TrustPeerCa() {
        if (!added_) return;
        HCERTSTORE root = OpenRoot();
        if (!root) return;
        for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(root, nullptr); c;) {
            PCCERT_CONTEXT next = CertEnumCertificatesInStore(root, CertDuplicateCertificateContext(c));
            if (c->cbCertEncoded == der_.size() && memcmp(c->pbCertEncoded, der_.data(), der_.size()) == 0)
                CertDeleteCertificateFromStore(c);
            else
                CertFreeCertificateContext(c);
            c = next;
        }
        CertCloseStore(root, 0);
    }
    TrustPeerCa(const TrustPeerCa&) = delete;
    TrustPeerCa& operator=(const TrustPeerCa&) = delete;
    bool Added() const { return added_; }

private:
    static HCERTSTORE OpenRoot() {
        return CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    }
    std::string der_;
    bool added_ = false;
};

// A verbose log kept in memory (its folder does not exist, so it is never written).
struct MemoryLog {
    TKLog Log{"Z:\\nonexistent-folder-of-the-tests\\log.txt", true, 1000, false};

    // "Level<TAB>message", oldest first, time stamps dropped.
    std::vector<std::string> Lines() const {
        std::vector<std::string> out;
        for (int i = Log.Lines->Count() - 1; i >= 0; --i) {
            const std::string& l = (*Log.Lines)[i];
            const size_t a = l.find('\t');
            const size_t b = a == std::string::npos ? a : l.find('\t', a + 1);
            out.push_back(b == std::string::npos ? l : l.substr(0, a) + "\t" + l.substr(b + 1));
        }
        return out;
    }
    void Clear() { Log.Lines->Clear(); }
};

// Each line matches its pattern (a regular expression), and there are as many.
inline ::testing::AssertionResult LinesMatch(const std::vector<std::string>& Lines,
                                             const std::vector<std::string>& Patterns) {
    bool ok = Lines.size() == Patterns.size();
    for (size_t i = 0; ok && i < Lines.size(); ++i) ok = std::regex_match(Lines[i], std::regex(Patterns[i]));
    if (ok) return ::testing::AssertionSuccess();
    std::string text = "lines:\n";
    for (const std::string& l : Lines) text += "  " + l + "\n";
    text += "patterns:\n";
    for (const std::string& p : Patterns) text += "  " + p + "\n";
    return ::testing::AssertionFailure() << text;
}

// A regular expression matching Text literally.
inline std::string Literal(const std::string& Text) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(Text, special, R"(\$&)");
}

}  // namespace updtest
