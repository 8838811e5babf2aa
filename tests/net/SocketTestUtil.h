// What the socket tests share: the local peers' ports, a blocking query of the sink's
// report, SHA-256 through the system's crypto provider, and test data.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "net/InetWinsock.h"

namespace sockettest {

// Port of a named peer in a peers' ports file ("" when those peers were not started).
inline std::string PortIn(const std::string& file, const std::string& name) {
    static std::map<std::string, std::map<std::string, std::string>> files;
    auto f = files.find(file);
    if (f == files.end()) {
        std::map<std::string, std::string> m;
        std::ifstream in(file);
        std::string n, p;
        while (in >> n >> p) m[n] = p;
        f = files.emplace(file, std::move(m)).first;
    }
    auto it = f->second.find(name);
    return it == f->second.end() ? std::string() : it->second;
}

// Port of a peer of tests/peers/socket_peers.py.
inline std::string PeerPort(const std::string& name) { return PortIn("net-peers\\ports.txt", name); }
// Port of a proxy of tests/peers/proxy_peers.py (and the reference proxies).
inline std::string ProxyPeerPort(const std::string& name) { return PortIn("proxy-peers\\ports.txt", name); }

#define REQUIRE_PEERS()                                                                   \
    if (sockettest::PeerPort("echo").empty()) GTEST_SKIP() << "socket peers not started"

struct SinkReport {
    long long count = -1;
    std::string sha256, end;
    double first = 0, last = 0;
};

// What the sink saw from the client whose local port is ClientPort (blocking, 127.0.0.1).
inline SinkReport QuerySink(int ClientPort) {
    SinkReport r;
    SOCKET s = Winsock::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = Winsock::htons(u_short(std::stoi(PeerPort("report"))));
    a.sin_addr.s_addr = Winsock::inet_addr("127.0.0.1");
    if (Winsock::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        Winsock::closesocket(s);
        return r;
    }
    const std::string q = std::to_string(ClientPort) + "\n";
    Winsock::send(s, q.data(), int(q.size()), 0);
    std::string line;
    char buf[512];
    int n;
    while ((n = Winsock::recv(s, buf, sizeof(buf), 0)) > 0) {
        line.append(buf, size_t(n));
        if (line.find('\n') != std::string::npos) break;
    }
    Winsock::closesocket(s);
    std::istringstream in(line);
    in >> r.count >> r.sha256 >> r.end >> r.first >> r.last;
    return r;
}

inline std::string Sha256Hex(const std::string& data) {
    HCRYPTPROV prov = 0;
    HCRYPTHASH hash = 0;
    std::string out;
    if (CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        if (CryptCreateHash(prov, CALG_SHA_256, 0, 0, &hash)) {
            CryptHashData(hash, reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size()), 0);
            BYTE digest[32];
            DWORD len = sizeof(digest);
            if (CryptGetHashParam(hash, HP_HASHVAL, digest, &len, 0)) {
                char hex[3];
                for (DWORD i = 0; i < len; ++i) {
                    snprintf(hex, sizeof(hex), "%02x", digest[i]);
                    out += hex;
                }
            }
            CryptDestroyHash(hash);
        }
        CryptReleaseContext(prov, 0);
    }
    return out;
}

// Bytes that differ from block to block, so a duplicated or lost block shows (never 0x04).
inline std::string Pattern(size_t n, uint32_t seed = 1) {
    std::string s(n, '\0');
    uint32_t x = seed;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = char(x >> 24);
        if (s[i] == '\x04') s[i] = '\x05';  // the echo peer's end mark
    }
    return s;
}

// A message-only window of the calling thread with its own window procedure (a handler
// another thread's SendMessage reaches at the thread's next look at its queue).
inline HWND MessageWindow(WNDPROC Proc, const char* ClassName) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = ClassName;
    RegisterClassA(&wc);
    return CreateWindowA(ClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

}  // namespace sockettest
