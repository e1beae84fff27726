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

    void start(uint64_t delayNs, std::function<void()> callback) {
        cancel();
        // The callback stays here and the scheduler gets a small closure that fits in a
        // std::function without a heap block of its own: periodic timers start several times a
        // second.
        callback_ = std::move(callback);
        id_ = scheduler_->schedule(delayNs, [this] {
            id_ = 0;
            auto callback = std::move(callback_);  // the callback may restart this timer
            callback();
        });
    }
    void cancel() {
        if (id_ != 0) scheduler_->cancel(id_);
        id_ = 0;
        callback_ = nullptr;
    }
    bool active() const { return id_ != 0; }

private:
    Scheduler* scheduler_;
    Scheduler::TimerId id_ = 0;
    std::function<void()> callback_;
};

// A timer that runs at a fixed rate: each run is due one period after the previous one was due,
// however late that one ran, so handling time does not stretch the period. Runs that a busy loop
// missed entirely are skipped, not made up in a burst.
class PeriodicTimer {
public:
    explicit PeriodicTimer(Scheduler& scheduler) : scheduler_(&scheduler), timer_(scheduler) {}

    void start(uint64_t firstDelayNs, uint64_t periodNs, std::function<void()> callback) {
        periodNs_ = periodNs;
        callback_ = std::move(callback);
        dueNs_ = scheduler_->nowNs() + firstDelayNs;
        timer_.start(firstDelayNs, [this] { fire(); });
    }
    void cancel() { timer_.cancel(); }
    bool active() const { return timer_.active(); }

private:
    void fire() {
        const uint64_t now = scheduler_->nowNs();
        dueNs_ += periodNs_;
        if (dueNs_ <= now) dueNs_ += (now - dueNs_) / periodNs_ * periodNs_ + periodNs_;
        timer_.start(dueNs_ - now, [this] { fire(); });
        auto callback = callback_;  // the callback may restart this timer
        callback();
    }

    Scheduler* scheduler_;
    Timer timer_;
    uint64_t periodNs_ = 1;
    uint64_t dueNs_ = 0;
    std::function<void()> callback_;
};

}  // namespace norv
