// How long 100,000 lines take to go into a log capped at 10,000 lines, against a baseline in
// the same process: the same lines pushed into and dropped from a plain capped list, and
// the same list with a time stamp made for every line.
#include <windows.h>

#include <cstdio>
#include <deque>
#include <string>

#include "foundation/Log.h"
#include "bench/BenchPump.h"

namespace {

constexpr int kLines = 100000;
constexpr int kCap = 10000;

}  // namespace

int main() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string file = std::string(temp) + "va-logbench.log";
    double start = 0, stop = 0;

    // Baseline: the message text made and a line of the same length kept in a capped list.
    std::deque<std::string> plain;
    start = bench::Now();
    for (int i = 0; i < kLines; ++i) {
        std::string line = "Info\t[26-12-10 12:00:00]\tBattery status line number " + std::to_string(i);
        plain.push_front(std::move(line));
        if (static_cast<int>(plain.size()) > kCap) plain.pop_back();
    }
    stop = bench::Now();
    const double baseMs = 1000.0 * (stop - start);

    // Reference: the same lines into the same list with the time stamp read and formatted
    // for every line, as the log once did.
    {
        framework::TStringList lines;
        start = bench::Now();
        for (int i = 0; i < kLines; ++i) {
            SYSTEMTIME now;
            GetLocalTime(&now);
            lines.Insert(0, std::string("Info") + '\t' + FormatLogTimeStamp(now) + '\t' +
                                "Battery status line number " + std::to_string(i));
            if (lines.Count() > kCap) lines.Delete(lines.Count() - 1);
        }
        stop = bench::Now();
    }
    const double perLineMs = 1000.0 * (stop - start);

    double logMs = 0;
    {
        TKLog log(file, false, kCap, false);
        start = bench::Now();
        for (int i = 0; i < kLines; ++i) log.Add("Battery status line number " + std::to_string(i), 1);
        stop = bench::Now();
        logMs = 1000.0 * (stop - start);
        std::printf("log lines kept: %d (baseline %zu)\n", log.Lines->Count(), plain.size());
    }
    DeleteFileA(file.c_str());
    std::printf("%d Add calls into a log capped at %d lines: %.1f ms (%.2f us per line)\n", kLines, kCap, logMs,
                1000.0 * logMs / kLines);
    std::printf("baseline (capped list of the same lines): %.1f ms; ratio log / baseline: %.2f\n", baseMs,
                logMs / baseMs);
    std::printf("reference (stamp made for every line): %.1f ms; ratio reference / baseline: %.2f\n", perLineMs,
                perLineMs / baseMs);
    return 0;
}
