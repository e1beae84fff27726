#pragma once

#include <cstdint>
#include <functional>

namespace norv {

// Time and one-shot timers as the helper's logic sees them. Times are nanoseconds on the
// monotonic clock (CLOCK_MONOTONIC), the same base as MIDI host time. The event loop implements
// this for real; `ManualScheduler` runs it on virtual time in tests.
class Scheduler {
public:
    using TimerId = uint64_t;

    virtual ~Scheduler() = default;

    virtual uint64_t nowNs() const = 0;
    // Wall-clock seconds since 1970, for display only.
    virtual double wallSeconds() const = 0;
    // Runs `callback` once, `delayNs` from now, on the thread that owns the scheduler.
    virtual TimerId schedule(uint64_t delayNs, std::function<void()> callback) = 0;
    // Cancelling an unknown or already fired timer does nothing.
    virtual void cancel(TimerId id) = 0;
};

// A timer registration that cancels itself when destroyed or re-armed.
class Timer {
public:
    explicit Timer(Scheduler& scheduler) : scheduler_(&scheduler) {}
    ~Timer() { cancel(); }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void start(uint64_t delayNs, std::function<void()> callback)
    {
        cancel();
        id_ = scheduler_->schedule(delayNs, [this, cb = std::move(callback)] {
            id_ = 0;
            cb();
        });
    }
    void cancel()
    {
        if (id_ != 0)
            scheduler_->cancel(id_);
        id_ = 0;
    }
    bool active() const { return id_ != 0; }

private:
    Scheduler* scheduler_;
    Scheduler::TimerId id_ = 0;
};

} // namespace norv
