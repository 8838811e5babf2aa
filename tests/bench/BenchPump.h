// A clock and a message pump shared by the benchmark programs (they do not link the test
// support library, which brings GoogleTest's main).
#pragma once

#include <windows.h>

#include <functional>

namespace bench {

// Seconds on the performance counter.
inline double Now() {
    static const LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(freq.QuadPart);
}

// Dispatches this thread's messages until done() holds or limitSeconds pass; whether it held.
inline bool Pump(const std::function<bool()>& done, double limitSeconds) {
    const double end = Now() + limitSeconds;
    MSG m;
    while (!done()) {
        // Messages sent from other threads are handled inside PeekMessage.
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
            if (done()) return true;
        }
        if (done()) return true;
        if (Now() > end) return false;
        MsgWaitForMultipleObjectsEx(0, nullptr, 50, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    return true;
}

}  // namespace bench
