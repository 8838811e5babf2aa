#include "MakerPeer.h"

#include <gtest/gtest.h>

#include <fstream>

#include "update/MakerServer.h"

namespace testsupport {

namespace {

std::string PeerPort() {
    std::ifstream f("app-maker-peer\\port");
    std::string port;
    f >> port;
    return port;
}

ShellRecorder* g_recorder = nullptr;

std::string Text(LPCSTR s) { return s ? s : ""; }

HINSTANCE WINAPI RecordOpen(HWND wnd, LPCSTR verb, LPCSTR file, LPCSTR params, LPCSTR, INT show) {
    if (g_recorder) g_recorder->calls.push_back({"ShellOpen", Text(file), Text(verb), Text(params), wnd, show});
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
}

BOOL WINAPI RecordRun(SHELLEXECUTEINFOA* info) {
    if (g_recorder)
        g_recorder->calls.push_back({"ShellRun", Text(info->lpFile), Text(info->lpVerb), Text(info->lpParameters),
                                     info->hwnd, info->nShow});
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
    return TRUE;
}

// No app test may reach the real server: every test starts on the peer's "current" scenario.
class MakerPeerEnvironment : public ::testing::Environment {
public:
    void SetUp() override { SetMakerServerBase(MakerPeerBase("current")); }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new MakerPeerEnvironment);

}  // namespace

std::string MakerPeerBase(const std::string& scenario) {
    const std::string port = PeerPort();
    return "http://127.0.0.1:" + (port.empty() ? std::string("1") : port) + "/" + scenario;
}

std::vector<std::string> MakerPeerRequests() {
    std::ifstream f("app-maker-peer\\requests.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(f, line);) lines.push_back(line);
    return lines;
}

ShellRecorder::ShellRecorder() {
    g_recorder = this;
    KitShellApi() = TKitShellApi{RecordOpen, RecordRun};
}

ShellRecorder::~ShellRecorder() {
    KitShellApi() = RealKitShellApi();
    g_recorder = nullptr;
}

}  // namespace testsupport
