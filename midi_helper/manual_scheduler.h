#pragma once

#include <map>
#include <utility>

#include "midi_helper/scheduler.h"

namespace norv {

// Virtual time for tests: nothing moves until `advance` is called; due timers then run in order.
class ManualScheduler : public Scheduler {
public:
    explicit ManualScheduler(uint64_t startNs = 1'000'000'000) : now_(startNs) {}

    uint64_t nowNs() const override { return now_; }
    double wallSeconds() const override { return 1.7e9 + double(now_) / 1e9; }
    TimerId schedule(uint64_t delayNs, std::function<void()> callback) override;
    void cancel(TimerId id) override;

    // Moves time forward by `ns`, running every timer that falls due on the way.
    void advance(uint64_t ns);
    size_t pendingTimers() const { return timers_.size(); }
    // Makes every timer run `ns` after it falls due, as on a busy loop.
    void setTimerLateness(uint64_t ns) { lateness_ = ns; }

private:
    uint64_t now_;
    uint64_t lateness_ = 0;
    TimerId nextId_ = 1;
    // Ordered by due time, then by creation.
    std::map<std::pair<uint64_t, TimerId>, std::function<void()>> timers_;
};

}  // namespace norv
