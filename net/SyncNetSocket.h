// Waiting on a socket: pump the thread's messages until a flag that an event handler sets
// becomes true, sleeping in MsgWaitForMultipleObjectsEx between messages (never spinning).
#pragma once

#include <functional>

#include "net/LineNetSocket.h"

class TCustomSyncNetSocket : public TCustomLineNetSocket {
public:
    explicit TCustomSyncNetSocket(framework::TComponent* Owner) : TCustomLineNetSocket(Owner) {}
    ~TCustomSyncNetSocket() override { DisposeSocket(); }

    // 0 waits without a limit (and still wakes for every message).
    uint32_t WaitLimitMs = 0;

    // Flag := false, Proc, then the wait. 0, or 12001 when the limit passed, the thread
    // terminates or the socket was destroyed while waiting.
    virtual int RunAndWait(bool& Flag, const std::function<void()>& Proc);
    virtual int WaitUntilSet(bool& Flag);
};
