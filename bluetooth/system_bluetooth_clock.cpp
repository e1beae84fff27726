#include "bluetooth/system_bluetooth_clock.h"

#include <QDateTime>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace norv {

namespace {

// The QTimer is deleted at once when the timer is cancelled from outside, and later when it is
// cancelled from inside its own callback.
class QtBluetoothTimer : public BluetoothTimer {
public:
    QtBluetoothTimer(int milliseconds, std::function<void()> fire) : state_(std::make_shared<State>()) {
        state_->timer = new QTimer;
        state_->timer->setSingleShot(true);
        state_->timer->setTimerType(Qt::PreciseTimer);
        state_->fire = std::move(fire);
        QObject::connect(state_->timer, &QTimer::timeout, state_->timer, [state = std::weak_ptr<State>(state_)] {
            const auto s = state.lock();
            if (!s || s->cancelled) return;
            s->firing = true;
            auto fire = s->fire;  // the callback may cancel this timer
            fire();
            s->firing = false;
        });
        state_->timer->start(milliseconds);
    }

    ~QtBluetoothTimer() override {
        state_->cancelled = true;
        state_->timer->stop();
        if (state_->firing) {
            state_->timer->deleteLater();
        } else {
            delete state_->timer;
        }
    }

private:
    struct State {
        QTimer* timer = nullptr;
        std::function<void()> fire;
        bool firing = false;
        bool cancelled = false;
    };
    std::shared_ptr<State> state_;
};

}  // namespace

SystemBluetoothClock::SystemBluetoothClock(double scale) : scale_(scale > 0 ? scale : 1.0) { elapsed_.start(); }

double SystemBluetoothClock::uptime() const { return static_cast<double>(elapsed_.nsecsElapsed()) / 1e9 / scale_; }

double SystemBluetoothClock::wallClock() const {
    return static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

std::unique_ptr<BluetoothTimer> SystemBluetoothClock::startTimer(double seconds, std::function<void()> fire) {
    const double ms = std::ceil(std::max(0.0, seconds) * scale_ * 1000.0);
    return std::make_unique<QtBluetoothTimer>(static_cast<int>(std::min(ms, 2.0e9)), std::move(fire));
}

}  // namespace norv
