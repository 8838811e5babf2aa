#include "framework/Timer.h"

#include "framework/Forms.h"

namespace framework {

TTimer::TTimer(TComponent* owner) : TComponent(owner) {
    window_ = std::make_unique<TMessageWindow>([this](TMessage& m) {
        if (m.Msg != WM_TIMER) return false;
        if (enabled_ && OnTimer) OnTimer(this);
        return true;
    }, true);
    Update();
}

TTimer::~TTimer() {
    MarkDestroying();
    KillTimer(window_->Handle(), 1);
}

void TTimer::Update() {
    KillTimer(window_->Handle(), 1);
    if (enabled_ && interval_ > 0 && !SetTimer(window_->Handle(), 1, interval_, nullptr))
        throw Exception("Not enough timers available");
}

void TTimer::SetEnabled(bool v) {
    if (v == enabled_) return;
    enabled_ = v;
    Update();
}

void TTimer::SetInterval(unsigned ms) {
    if (ms == interval_) return;
    interval_ = ms;
    Update();
}

}  // namespace framework
