// The maker's web server of the app tests (tests/peers/maker_peer.py, started by CTest on a
// free port of 127.0.0.1) and a recorder of what the program hands to the shell.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "components/KitSysUtils.h"

namespace testsupport {

// "http://127.0.0.1:<port>/<scenario>": the base address that makes the peer answer as the
// scenario says (see the peer). Without the peer, a closed port of 127.0.0.1.
std::string MakerPeerBase(const std::string& scenario);
// The request targets the peer received so far, oldest first.
std::vector<std::string> MakerPeerRequests();

// While it lives, the shell launches of the program are recorded instead of run, and
// succeed. `function` tells which helper made the call: "ShellOpen" (ShellExecuteA) or
// "ShellRun" (ShellExecuteExA).
class ShellRecorder {
public:
    struct Call {
        std::string function, file, verb, parameters;
        HWND wnd = nullptr;
        int show = 0;
    };
    ShellRecorder();
    ~ShellRecorder();
    ShellRecorder(const ShellRecorder&) = delete;
    ShellRecorder& operator=(const ShellRecorder&) = delete;

    std::vector<Call> calls;
};

}  // namespace testsupport
