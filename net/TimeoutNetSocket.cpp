#include "net/TimeoutNetSocket.h"

TCustomTimeoutNetSocket::~TCustomTimeoutNetSocket() { DisposeSocket(); }

void TCustomTimeoutNetSocket::StartTimeoutTimer() {
    if (!timer_) {
        timer_ = std::make_unique<TInetThreadTimer>(this);
        timer_->SetKeepClockAlive(LimitKeepClock);
        timer_->SetEnabled(false);
        timer_->SetOnTimer([this](framework::TComponent*) { Tick(); });
    }
    if (ActivityCounter())
        ActivityCounter()->Sent(InetTickCount());
    else
        CreateCounter();
    timer_->SetInterval(LimitCheckMs);
    timer_->SetEnabled(true);
}

void TCustomTimeoutNetSocket::StopTimeoutTimer() {
    if (timer_ && timer_->Enabled() && OwnerThread() != 0) timer_->SetEnabled(false);
}

void TCustomTimeoutNetSocket::Connect() {
    // Armed before the inherited Connect (a look-up counts towards the limit); a Connect that
    // ends at once, raising or reporting to OnError, leaves nothing to time.
    const bool arm = ConnectLimitMs > 0 || IdleLimitMs > 0;
    if (arm) {
        StartTimeoutTimer();
        connectStart_ = InetTickCount();
    }
    const TFireWatch watch(*this);
    try {
        TCustomSyncNetSocket::Connect();
    } catch (...) {
        if (watch.Alive() && !ConnectInProgress()) StopTimeoutTimer();
        throw;
    }
    if (watch.Alive() && arm && !ConnectInProgress()) StopTimeoutTimer();
}

bool TCustomTimeoutNetSocket::ConnectInProgress() const {
    return State() == wsDnsLookup || (HSocket() != INVALID_SOCKET && State() != wsClosed);
}

void TCustomTimeoutNetSocket::TransportConnected(uint16_t ErrCode) {
    if (ErrCode != 0 || IdleLimitMs == 0)
        StopTimeoutTimer();
    else
        StartTimeoutTimer();
    TCustomSyncNetSocket::TransportConnected(ErrCode);
}

void TCustomTimeoutNetSocket::AdoptConnected() {
    if (IdleLimitMs > 0)
        StartTimeoutTimer();
    else
        StopTimeoutTimer();
    TCustomSyncNetSocket::AdoptConnected();
}

void TCustomTimeoutNetSocket::TriggerSessionClosed(uint16_t ErrCode) {
    StopTimeoutTimer();
    TCustomSyncNetSocket::TriggerSessionClosed(ErrCode);
}

void TCustomTimeoutNetSocket::Tick() {
    // A look-up that failed or was aborted, or a connection gone without a close event:
    // nothing is left to time, and a stale limit must not reach the next connection.
    if (!ConnectInProgress()) {
        StopTimeoutTimer();
        return;
    }
    const uint32_t now = InetTickCount();
    if (ConnectLimitMs > 0 && State() != wsConnected) {
        if (InetTickDiff(connectStart_, now) > ConnectLimitMs) {
            StopTimeoutTimer();
            TriggerTimeout(0);
        }
        return;
    }
    if (IdleLimitMs > 0 && ActivityCounter()) {
        if (InetTickDiff(ActivityCounter()->LatestActivityTick(now), now) > IdleLimitMs) {
            StopTimeoutTimer();
            TriggerTimeout(1);
        }
        return;
    }
    StopTimeoutTimer();
}

void TCustomTimeoutNetSocket::TriggerTimeout(int Reason) { (void)FireEvent(OnLimitReached, this, Reason); }

void TCustomTimeoutNetSocket::DetachFromThread() {
    if (GetCurrentThreadId() == OwnerThread()) {
        timerWasOn_ = timer_ && timer_->Enabled();
        StopTimeoutTimer();
    }
    TCustomSyncNetSocket::DetachFromThread();
}

void TCustomTimeoutNetSocket::AttachToThread() {
    TCustomSyncNetSocket::AttachToThread();
    if (timerWasOn_ && timer_) timer_->SetEnabled(true);
    timerWasOn_ = false;
}
