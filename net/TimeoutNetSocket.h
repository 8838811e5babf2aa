// Connect and idle time-outs: a thread timer checks every LimitCheckMs whether connecting
// took longer than ConnectLimitMs (reason 0) or nothing was sent or received for
// IdleLimitMs (reason 1), and fires OnLimitReached once.
#pragma once

#include <functional>
#include <memory>

#include "net/InetThreadTimer.h"
#include "net/SyncNetSocket.h"

// The events the time-out layer adds to the socket's (VA_NET_SOCKET_EVENTS).
#define VA_TIMEOUT_NET_SOCKET_EVENTS(X) X(OnLimitReached)

using TLimitReachedEvent = std::function<void(framework::TComponent* Sender, int Reason)>;

class TCustomTimeoutNetSocket : public TCustomSyncNetSocket {
public:
    explicit TCustomTimeoutNetSocket(framework::TComponent* Owner) : TCustomSyncNetSocket(Owner) {}
    ~TCustomTimeoutNetSocket() override;

    uint32_t ConnectLimitMs = 0;
    uint32_t IdleLimitMs = 0;
    uint32_t LimitCheckMs = 5000;
    bool LimitKeepClock = true;
    TLimitReachedEvent OnLimitReached;

    void Connect() override;
    void AttachToThread() override;
    void DetachFromThread() override;
    bool TimeoutTimerRunning() const { return timer_ && timer_->Enabled(); }

protected:
    void AdoptConnected() override;
    void TriggerSessionClosed(uint16_t ErrCode) override;
    void TransportConnected(uint16_t ErrCode) override;
    virtual void TriggerTimeout(int Reason);

private:
    void StartTimeoutTimer();
    void StopTimeoutTimer();
    void Tick();
    // Connecting, looking up or connected: what the timer watches.
    bool ConnectInProgress() const;

    std::unique_ptr<TInetThreadTimer> timer_;
    uint32_t connectStart_ = 0;
    bool timerWasOn_ = false;
};
