#pragma once

#include <QElapsedTimer>

#include "bluetooth/bluetooth_clock.h"

namespace norv {

// Real time on the Qt event loop. A scale below 1 runs every delay and the uptime faster, so
// tests can go through long schedules quickly while still using real timers.
class SystemBluetoothClock : public BluetoothClock {
public:
    explicit SystemBluetoothClock(double scale = 1.0);

    double uptime() const override;
    double wallClock() const override;
    std::unique_ptr<BluetoothTimer> startTimer(double seconds, std::function<void()> fire) override;

private:
    double scale_;
    QElapsedTimer elapsed_;
};

}  // namespace norv
