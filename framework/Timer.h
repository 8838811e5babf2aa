// TTimer: OnTimer every Interval milliseconds while Enabled, from a window timer on a
// message-only window of its own (so it ticks inside the thread's message loop).
#pragma once

#include <memory>

#include "framework/Component.h"
#include "framework/Controls.h"

namespace framework {

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner);
    ~TTimer() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);
    unsigned Interval() const { return interval_; }
    void SetInterval(unsigned ms);
    TNotifyEvent OnTimer;

private:
    void Update();
    std::unique_ptr<TMessageWindow> window_;
    bool enabled_ = true;
    unsigned interval_ = 1000;
};

}  // namespace framework
