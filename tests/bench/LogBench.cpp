// How long 100,000 lines take to go into a log capped at 10,000 lines.
#include <windows.h>

#include <cstdio>

#include "foundation/Log.h"

int main() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string file = std::string(temp) + "va-logbench.log";
    constexpr int kLines = 100000;
    LARGE_INTEGER freq, start, stop;
    QueryPerformanceFrequency(&freq);
    {
        TKLog log(file, false, 10000, false);
        QueryPerformanceCounter(&start);
        for (int i = 0; i < kLines; ++i) log.Add("Battery status line number " + std::to_string(i), 1);
        QueryPerformanceCounter(&stop);
        std::printf("log lines kept: %d\n", log.Lines->Count());
    }
    DeleteFileA(file.c_str());
    const double ms = 1000.0 * (stop.QuadPart - start.QuadPart) / freq.QuadPart;
    std::printf("%d Add calls into a log capped at 10000 lines: %.1f ms (%.2f us per line)\n", kLines,
                ms, 1000.0 * ms / kLines);
    return 0;
}
