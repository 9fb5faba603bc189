#pragma once
// The engines' timer seam over a QTimer, for the Qt windows.

#include "protocol/link.h"

#include <QTimer>

namespace orv {

// A window timer: enabling a running timer keeps its phase (QTimer::start would restart it).
class TTimerAdapter final : public ITimer {
public:
    explicit TTimerAdapter(QTimer& timer) : timer_(timer) {}
    void Enable() override {
        if (!timer_.isActive())
            timer_.start();
    }
    void Disable() override { timer_.stop(); }
    bool Enabled() const override { return timer_.isActive(); }
    void SetInterval(int ms) override { timer_.setInterval(ms); }

private:
    QTimer& timer_;
};

} // namespace orv
