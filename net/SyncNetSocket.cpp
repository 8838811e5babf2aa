#include "net/SyncNetSocket.h"

int TCustomSyncNetSocket::RunAndWait(bool& Flag, const std::function<void()>& Proc) {
    Flag = false;
    if (Proc) Proc();
    return WaitUntilSet(Flag);
}

int TCustomSyncNetSocket::WaitUntilSet(bool& Flag) {
    constexpr int kTimedOut = 12001;
    const TFireWatch watch(*this);
    const uint32_t start = InetTickCount();
    const uint32_t limit = WaitLimitMs;
    while (!Flag) {
        uint32_t wait = INFINITE;
        if (limit > 0) {
            const uint32_t elapsed = InetTickDiff(start, InetTickCount());
            if (elapsed >= limit) return kTimedOut;
            wait = limit - elapsed;
        }
        if (GetTerminated()) return kTimedOut;
        PumpMessages();
        if (!watch.Alive()) return kTimedOut;
        if (Flag) break;
        // Sleeps until a message arrives (also one already seen but not yet handled).
        MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    return 0;
}
