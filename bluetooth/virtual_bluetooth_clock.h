#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>

#include "bluetooth/bluetooth_clock.h"

namespace norv {

// Virtual time for tests: nothing moves until advance(), which fires due timers in order.
// It must outlive the timers it hands out.
class VirtualBluetoothClock : public BluetoothClock {
public:
    explicit VirtualBluetoothClock(double wallClockStart = 1800000000.0) : wallStart_(wallClockStart) {}

    double uptime() const override { return now_; }
    double wallClock() const override { return wallStart_ + now_; }
    std::unique_ptr<BluetoothTimer> startTimer(double seconds, std::function<void()> fire) override;

    // Moves time forward by `seconds`, firing every timer that falls due on the way, timers
    // started meanwhile included.
    void advance(double seconds);
    std::size_t pendingTimers() const { return timers_.size(); }
    // Seconds until the earliest pending timer, or a negative value when none is pending.
    double nextDue() const;

private:
    friend class VirtualTimer;
    struct Entry {
        double due;
        std::function<void()> fire;
    };

    double wallStart_;
    double now_ = 0;
    std::uint64_t nextId_ = 0;
    std::map<std::uint64_t, Entry> timers_;
};

}  // namespace norv
