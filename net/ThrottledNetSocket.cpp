#include "net/ThrottledNetSocket.h"

#include <algorithm>

#include "net/InetWinsock.h"

TCustomThrottledNetSocket::~TCustomThrottledNetSocket() { DisposeSocket(); }

void TCustomThrottledNetSocket::SetBandwidthLimit(uint32_t Bytes) {
    if (Bytes == bandwidthLimit_) return;
    bandwidthLimit_ = Bytes;
    if (timer_) ThrottleStart();
}

void TCustomThrottledNetSocket::SetBandwidthSampling(uint32_t Ms) {
    Ms = std::max<uint32_t>(Ms, 500);
    if (Ms == bandwidthSampling_) return;
    bandwidthSampling_ = Ms;
    if (timer_) ThrottleStart();
}

void TCustomThrottledNetSocket::ThrottleStart() {
    periodBytes_ = 0;
    if (bandwidthLimit_ == 0) {
        ThrottleStop();
        return;
    }
    // A new limit or period while paused starts afresh: the pause ends with it.
    const bool wasPaused = throttlePaused_;
    if (!timer_) {
        timer_ = std::make_unique<TInetThreadTimer>(this);
        timer_->SetKeepClockAlive(ThrottleKeepClock);
        timer_->SetEnabled(false);
        timer_->SetOnTimer([this](framework::TComponent*) { Tick(); });
    }
    timer_->SetInterval(bandwidthSampling_);
    timer_->SetEnabled(true);
    periodBudget_ = std::min<int64_t>(int64_t(bandwidthLimit_) * bandwidthSampling_ / 1000, 2147483647);
    throttlePaused_ = false;
    ComponentOptions.Include(wsoNoReceiveLoop);
    throttleOn_ = true;
    if (wasPaused) ResumeAfterThrottle();
}

void TCustomThrottledNetSocket::ThrottleStop() {
    if (timer_ && timer_->Enabled() && OwnerThread() != 0) timer_->SetEnabled(false);
    throttleOn_ = false;
    if (throttlePaused_) {
        throttlePaused_ = false;
        ResumeAfterThrottle();
    }
}

void TCustomThrottledNetSocket::ResumeAfterThrottle() {
    // Selecting the events again brings FD_READ / FD_WRITE for what waits meanwhile.
    if (HSocket() != INVALID_SOCKET) Resume();
}

int TCustomThrottledNetSocket::Allowed(int Len) const {
    // A transfer that would pass the budget is shortened to one byte past it, which spends
    // the period. A period that landed exactly on its budget still lets that one byte
    // through and pauses: never an unshortened transfer.
    if (periodBytes_ + Len <= periodBudget_) return Len;
    return int(std::min<int64_t>(Len, std::max<int64_t>(periodBudget_ - periodBytes_ + 1, 1)));
}

void TCustomThrottledNetSocket::Count(int Moved) {
    if (Moved > 0) periodBytes_ += Moved;
    if (periodBytes_ > periodBudget_ && !throttlePaused_) {
        throttlePaused_ = true;
        Pause();
    }
}

int TCustomThrottledNetSocket::SendRaw(const void* Data, int Len) {
    if (!throttleOn_) return TCustomTimeoutNetSocket::SendRaw(Data, Len);
    if (throttlePaused_) {
        // The period is spent: wait for the next one as if the system were full.
        return 0;
    }
    const int n = TCustomTimeoutNetSocket::SendRaw(Data, Allowed(Len));
    Count(n);
    return n;
}

int TCustomThrottledNetSocket::ReceiveData(void* Buffer, int Size) {
    // The close pass reads whole: paced, a long tail held the thread for minutes.
    if (!throttleOn_ || !ComponentOptions.Has(wsoNoReceiveLoop) || InClosePass())
        return TCustomTimeoutNetSocket::ReceiveData(Buffer, Size);
    const int n = TCustomTimeoutNetSocket::ReceiveData(Buffer, Allowed(Size));
    Count(n);
    return n;
}

void TCustomThrottledNetSocket::Tick() {
    if (throttlePaused_) {
        throttlePaused_ = false;
        periodBytes_ = std::min(std::max<int64_t>(periodBytes_ - periodBudget_, 0), periodBudget_);
        ResumeAfterThrottle();
    } else {
        periodBytes_ = 0;
    }
}

void TCustomThrottledNetSocket::TransportConnected(uint16_t ErrCode) {
    if (ErrCode == 0) ThrottleStart();
    // The handler may have freed the socket or started another connection.
    if (Fired([&] { TCustomTimeoutNetSocket::TransportConnected(ErrCode); }) && ErrCode != 0) ThrottleStop();
}

void TCustomThrottledNetSocket::AdoptConnected() {
    if (Fired([&] { TCustomTimeoutNetSocket::AdoptConnected(); })) ThrottleStart();
}

void TCustomThrottledNetSocket::TriggerSessionClosed(uint16_t ErrCode) {
    ThrottleStop();
    TCustomTimeoutNetSocket::TriggerSessionClosed(ErrCode);
}

void TCustomThrottledNetSocket::DetachFromThread() {
    if (GetCurrentThreadId() == OwnerThread()) {
        timerWasOn_ = timer_ && timer_->Enabled();
        if (timer_ && timer_->Enabled()) timer_->SetEnabled(false);
    }
    TCustomTimeoutNetSocket::DetachFromThread();
}

void TCustomThrottledNetSocket::AttachToThread() {
    TCustomTimeoutNetSocket::AttachToThread();
    if (timerWasOn_ && timer_) timer_->SetEnabled(true);
    timerWasOn_ = false;
}
