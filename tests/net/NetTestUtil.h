// Helpers the net tests share: the output folder the CTest checks read, hex text, and one
// HTTP request run to its end.
#pragma once

#include <windows.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "framework/Streams.h"
#include "framework/SysUtils.h"
#include "net/HttpClient.h"
#include "support/Pump.h"

namespace nettest {

// "<current folder>\net-output\", created: the CTest checks read what is written there.
inline std::string OutputFolder() {
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    const std::string folder = framework::IncludeTrailingPathDelimiter(cwd) + "net-output\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

inline std::string Hex(const void* data, size_t len) {
    static const char d[] = "0123456789abcdef";
    std::string r;
    for (size_t i = 0; i < len; ++i) {
        uint8_t b = static_cast<const uint8_t*>(data)[i];
        r += d[b >> 4];
        r += d[b & 15];
    }
    return r;
}
inline std::string Hex(const std::string& s) { return Hex(s.data(), s.size()); }

inline std::string Unhex(const std::string& h) {
    std::string r;
    for (size_t i = 0; i + 1 < h.size(); i += 2) r += char(std::stoi(h.substr(i, 2), nullptr, 16));
    return r;
}

// The port of the HTTP client's byte-exact peer (tests/peers/http_peer.py), "" when it was
// not started.
inline std::string HttpPeerPort() {
    static const std::string port = [] {
        std::ifstream f("net-http-peer\\port");
        std::string p;
        f >> p;
        return p;
    }();
    return port;
}

// Starts Kind on Url (a GET through StartGet) with Body emptied, and pumps until Done, the
// owner's count of OnRequestDone calls, moves past its value at the start; false when the
// request did not end within WaitMs.
inline bool RunHttpRequest(THttpClient& Http, framework::TMemoryStream& Body, const int& Done, const std::string& Url,
                           THttpRequest Kind, unsigned WaitMs) {
    Body.Clear();
    const int before = Done;
    Http.URL = Url;
    if (Kind == httpGET)
        Http.StartGet();
    else
        Http.StartRequest(Kind);
    return testsupport::PumpUntil([&] { return Done > before; }, WaitMs);
}

}  // namespace nettest
