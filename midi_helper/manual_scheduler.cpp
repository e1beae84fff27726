#include "midi_helper/manual_scheduler.h"

namespace norv {

Scheduler::TimerId ManualScheduler::schedule(uint64_t delayNs, std::function<void()> callback) {
    TimerId id = nextId_++;
    timers_.emplace(std::make_pair(now_ + delayNs, id), std::move(callback));
    return id;
}

void ManualScheduler::cancel(TimerId id) {
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->first.second == id) {
            timers_.erase(it);
            return;
        }
    }
}

void ManualScheduler::advance(uint64_t ns) {
    const uint64_t end = now_ + ns;
    while (!timers_.empty() && timers_.begin()->first.first + lateness_ <= end) {
        auto node = timers_.extract(timers_.begin());
        if (node.key().first + lateness_ > now_) now_ = node.key().first + lateness_;
        node.mapped()();
    }
    now_ = end;
}

}  // namespace norv
