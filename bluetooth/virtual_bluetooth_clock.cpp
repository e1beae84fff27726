#include "bluetooth/virtual_bluetooth_clock.h"

#include <algorithm>

namespace norv {

class VirtualTimer : public BluetoothTimer {
public:
    VirtualTimer(VirtualBluetoothClock& clock, std::uint64_t id) : clock_(clock), id_(id) {}
    ~VirtualTimer() override { clock_.timers_.erase(id_); }

private:
    VirtualBluetoothClock& clock_;
    std::uint64_t id_;
};

std::unique_ptr<BluetoothTimer> VirtualBluetoothClock::startTimer(double seconds, std::function<void()> fire) {
    const auto id = nextId_++;
    timers_.emplace(id, Entry{now_ + std::max(0.0, seconds), std::move(fire)});
    return std::make_unique<VirtualTimer>(*this, id);
}

void VirtualBluetoothClock::advance(double seconds) {
    const double target = now_ + std::max(0.0, seconds);
    while (true) {
        auto next = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (it->second.due <= target && (next == timers_.end() || it->second.due < next->second.due)) next = it;
        }
        if (next == timers_.end()) break;
        now_ = std::max(now_, next->second.due);
        auto fire = std::move(next->second.fire);
        timers_.erase(next);  // fired timers are done; their handles erase nothing
        fire();
    }
    now_ = target;
}

double VirtualBluetoothClock::nextDue() const {
    double best = -1;
    for (const auto& [id, entry] : timers_) {
        if (best < 0 || entry.due - now_ < best) best = std::max(0.0, entry.due - now_);
    }
    return best;
}

}  // namespace norv
