// Bandwidth limit in both directions: at most BandwidthLimit bytes per second, counted over
// periods of BandwidthSampling ms (at least 500). Once a period's budget is passed the
// socket pauses its events until a thread timer starts the next period.
#pragma once

#include <memory>

#include "net/InetThreadTimer.h"
#include "net/TimeoutNetSocket.h"

class TCustomThrottledNetSocket : public TCustomTimeoutNetSocket {
public:
    explicit TCustomThrottledNetSocket(framework::TComponent* Owner) : TCustomTimeoutNetSocket(Owner) {}
    ~TCustomThrottledNetSocket() override;

    uint32_t BandwidthLimit() const { return bandwidthLimit_; }
    virtual void SetBandwidthLimit(uint32_t Bytes);
    uint32_t BandwidthSampling() const { return bandwidthSampling_; }
    virtual void SetBandwidthSampling(uint32_t Ms);
    bool ThrottleKeepClock = true;
    int64_t PeriodBytes() const { return periodBytes_; }
    int64_t PeriodBudget() const { return periodBudget_; }
    bool ThrottlePaused() const { return throttlePaused_; }
    bool ThrottleOn() const { return throttleOn_; }

    int ReceiveData(void* Buffer, int Size) override;
    void AttachToThread() override;
    void DetachFromThread() override;

protected:
    void AdoptConnected() override;
    int SendRaw(const void* Data, int Len) override;
    void TriggerSessionClosed(uint16_t ErrCode) override;
    void TransportConnected(uint16_t ErrCode) override;

private:
    void ThrottleStart();
    void ThrottleStop();
    void Tick();
    void ResumeAfterThrottle();
    // The part of Len this period still allows (one byte past the budget at most).
    int Allowed(int Len) const;
    void Count(int Moved);

    uint32_t bandwidthLimit_ = 0;
    uint32_t bandwidthSampling_ = 1000;
    int64_t periodBytes_ = 0;
    int64_t periodBudget_ = 0;
    bool throttlePaused_ = false;
    bool throttleOn_ = false;
    bool timerWasOn_ = false;
    std::unique_ptr<TInetThreadTimer> timer_;
};
