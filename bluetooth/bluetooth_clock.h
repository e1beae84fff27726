#pragma once

#include <functional>
#include <memory>

namespace norv {

// A pending one-shot timer; destroying it cancels it. It may be destroyed from inside its own callback.
class BluetoothTimer {
public:
    virtual ~BluetoothTimer() = default;
};

// Time as the Bluetooth transport sees it, injectable so tests run in virtual or scaled time.
class BluetoothClock {
public:
    virtual ~BluetoothClock() = default;

    // Monotonic seconds since an arbitrary start.
    virtual double uptime() const = 0;
    // Wall-clock seconds since 1970.
    virtual double wallClock() const = 0;
    // Calls `fire` once after `seconds` on the event loop, unless the returned timer is gone by then.
    virtual std::unique_ptr<BluetoothTimer> startTimer(double seconds, std::function<void()> fire) = 0;
};

}  // namespace norv
