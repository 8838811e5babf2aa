// Host names a peer sends back to Unicode: an ordinary name against one with a huge "xn--"
// label (88 KB, as a hostile peer may send). A label over 63 characters can never be
// valid, so the long name should cost about what its length costs to copy, not what the
// decoder's square-of-the-length work would. Printed as a ratio to the ordinary name.
#include <windows.h>

#include <cstdio>
#include <string>

#include "net/InetIdn.h"

namespace {
double Seconds(const std::string& host, int rounds) {
    LARGE_INTEGER freq, a, b;
    QueryPerformanceFrequency(&freq);
    size_t sink = 0;
    QueryPerformanceCounter(&a);
    for (int i = 0; i < rounds; ++i) sink += InetHostToUnicode(host).size();
    QueryPerformanceCounter(&b);
    if (sink == 0) std::printf("(nothing converted)\n");
    return double(b.QuadPart - a.QuadPart) / double(freq.QuadPart) / rounds;
}
}  // namespace

int main() {
    const std::string ordinary = "www.xn--bcher-kva.example";
    // Digits that decode to ever more code points: the decoder's worst case.
    std::string label = "xn--";
    while (label.size() < 88 * 1024) label += "ba";
    const std::string hostile = label + ".example";
    const double base = Seconds(ordinary, 20000);
    const double big = Seconds(hostile, 20);
    std::printf("InetHostToUnicode: ordinary name %.2f us, 88 KB xn-- label %.1f us, ratio %.0f\n", base * 1e6,
                big * 1e6, big / base);
    return 0;
}
