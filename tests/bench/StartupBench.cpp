// The program's start-up, measured from outside as a user sees it: this launcher starts a
// process and waits until it shows a visible top-level window, then closes it gracefully.
// The program (VA_BENCH_VOLTATLAS) runs beside a floor: this same executable started with
// "--floor", a bare Win32 window that initialises COM/OLE and the common controls and loads
// the DLLs the program loads by name. Runs alternate; the medians and their ratio are printed.
// tools/bench runs it without a network (loopback only), so the program's own requests at
// start-up go nowhere.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchPump.h"

namespace {

constexpr int kRuns = 15;

// ---- the floor program ----

LRESULT CALLBACK FloorProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(h, m, w, l);
}

int Floor(const std::string& programDir) {
    CoInitialize(nullptr);
    OleInitialize(nullptr);
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    // What the program loads by name on its way to its window and first activation.
    for (const char* dll : {"crypt32.dll", "advapi32.dll", "ws2_32.dll", "secur32.dll", "setupapi.dll", "wintrust.dll"})
        LoadLibraryA(dll);
    for (const char* dll : {"libcrypto-3-x64.dll", "libssl-3-x64.dll"}) LoadLibraryA((programDir + dll).c_str());
    WNDCLASSA wc{};
    wc.lpfnWndProc = FloorProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = "StartupFloor";
    RegisterClassA(&wc);
    HWND h = CreateWindowA("StartupFloor", "Floor", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 437, 409,
                           nullptr, nullptr, wc.hInstance, nullptr);
    ShowWindow(h, SW_SHOWNORMAL);
    UpdateWindow(h);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    OleUninitialize();
    CoUninitialize();
    return 0;
}

// ---- the launcher ----

struct TFind {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindVisible(HWND h, LPARAM p) {
    auto* f = reinterpret_cast<TFind*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == f->pid && IsWindowVisible(h) && !GetWindow(h, GW_OWNER)) {
        f->found = h;
        return FALSE;
    }
    return TRUE;
}

// Milliseconds from CreateProcess to the first visible top-level window; -1 on failure.
double StartOnce(const std::string& commandLine) {
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::string cmd = commandLine;
    const double start = bench::Now();
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
    TFind f{pi.dwProcessId, nullptr};
    double shown = -1;
    while (bench::Now() - start < 30) {
        EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&f));
        if (f.found) {
            shown = (bench::Now() - start) * 1e3;
            break;
        }
        if (WaitForSingleObject(pi.hProcess, 1) == WAIT_OBJECT_0) break;
    }
    // Closed as a user closes it, so that it cleans up after itself; it gets time to settle.
    if (f.found) {
        Sleep(300);
        PostMessageA(f.found, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(pi.hProcess, 15000) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 5000);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return shown;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--floor") return Floor(argv[2]);
    const char* exe = std::getenv("VA_BENCH_VOLTATLAS");
    if (!exe || !*exe) {
        std::printf("startup bench: VA_BENCH_VOLTATLAS is needed\n");
        return 1;
    }
    const std::string program = exe;
    const std::string programDir = program.substr(0, program.find_last_of("\\/") + 1);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string floorCmd = "\"" + std::string(self) + "\" --floor \"" + programDir + "\"";
    const std::string programCmd = "\"" + program + "\"";

    std::vector<double> floors, programs;
    int failures = 0;
    // One start of each first: DLLs and fonts into the caches, as after any earlier start.
    StartOnce(floorCmd);
    StartOnce(programCmd);
    for (int i = 0; i < kRuns; ++i) {
        const double f = StartOnce(floorCmd);
        const double p = StartOnce(programCmd);
        if (f < 0 || p < 0) {
            ++failures;
            continue;
        }
        floors.push_back(f);
        programs.push_back(p);
    }
    if (floors.empty()) {
        std::printf("startup bench: no start showed a window\n");
        return 1;
    }
    const double mf = Median(floors), mp = Median(programs);
    std::printf("start to visible window: floor median %.1f ms (%.1f-%.1f), VoltAtlas median %.1f ms (%.1f-%.1f)\n", mf,
                *std::min_element(floors.begin(), floors.end()), *std::max_element(floors.begin(), floors.end()), mp,
                *std::min_element(programs.begin(), programs.end()),
                *std::max_element(programs.begin(), programs.end()));
    std::printf("ratio VoltAtlas / floor: %.2f (target 1.5; %d runs, %d failed)\n", mp / mf,
                static_cast<int>(floors.size()), failures);
    return 0;
}
