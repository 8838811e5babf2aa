// A clock, a message pump, a counting sink and small file readers shared by the benchmark
// programs (they do not link the test support library, which brings GoogleTest's main).
#pragma once

#include <windows.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "framework/Streams.h"

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

// Counts what is written and keeps nothing.
class TCountingStream : public framework::TStream {
public:
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void*, int64_t count) override {
        pos_ += count;
        return count;
    }
    int64_t Seek(int64_t offset, framework::TSeekOrigin origin) override {
        if (origin == framework::TSeekOrigin::soBeginning)
            pos_ = offset;
        else if (origin == framework::TSeekOrigin::soCurrent)
            pos_ += offset;
        return pos_;
    }
    int64_t pos_ = 0;
};

// The "name port" lines a peer script writes, by name; empty when the file is missing.
inline std::map<std::string, std::string> ReadPorts(const std::string& file) {
    std::map<std::string, std::string> m;
    std::ifstream f(file);
    std::string n, p;
    while (f >> n >> p) m[n] = p;
    return m;
}

// Lines of a text file (a proxy's access log), 0 when it is missing.
inline int CountLines(const std::string& file) {
    std::ifstream f(file);
    int n = 0;
    std::string line;
    while (std::getline(f, line)) ++n;
    return n;
}

}  // namespace bench
