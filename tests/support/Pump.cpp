#include "support/Pump.h"

#include <windows.h>

namespace testsupport {

namespace {
void DispatchPending() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}
}  // namespace

bool PumpUntil(const std::function<bool()>& condition, unsigned timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        DispatchPending();
        if (condition()) return true;
        if (GetTickCount64() >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void PumpFor(unsigned ms) {
    PumpUntil([] { return false; }, ms);
}

}  // namespace testsupport
