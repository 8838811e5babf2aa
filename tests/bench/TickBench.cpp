// The cost of one timer tick of the main window (enumerate, query, refresh) against the
// fake battery driver: median and spread of many ticks.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "../app/FakeBatteryDriver.h"
#include "app/MainDlg.h"

int main() {
    testsupport::FakeBatteryDriver driver;
    driver.batteries = {testsupport::FullBattery("\\\\?\\battery#1")};
    auto dlg = std::make_unique<TMainDlg>(nullptr, std::vector<std::string>{});
    dlg->Tmr->SetEnabled(false);
    dlg->AppEvtActivate(dlg.get());

    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    std::vector<double> us;
    for (int i = 0; i < 2000; ++i) {
        driver.batteries[0].status.Rate = -9000 - (i % 50);  // captions change, as in real use
        LARGE_INTEGER a, b;
        QueryPerformanceCounter(&a);
        dlg->TmrTimer(dlg->Tmr.get());
        QueryPerformanceCounter(&b);
        us.push_back(1e6 * (b.QuadPart - a.QuadPart) / freq.QuadPart);
    }
    std::sort(us.begin(), us.end());
    std::printf("one tick (enumerate, query, refresh), %zu ticks: median %.1f us, 90th %.1f us, max %.1f us\n",
                us.size(), us[us.size() / 2], us[us.size() * 9 / 10], us.back());
    dlg.reset();
    return 0;
}
