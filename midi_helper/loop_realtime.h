#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "midi_helper/scheduler.h"

namespace norv {

class EventLoop;
class RealtimeAccess;

// The loop thread's real-time scheduling for the life of the loop. It asks for it only below a
// JACK server that runs its process threads real-time. Under a limit on how long a real-time
// thread may run without sleeping (RLIMIT_RTTIME: RealtimeKit sets one, a process may bring one),
// a loop that a flood keeps from sleeping would be killed by the kernel; instead SIGXCPU, which
// comes first, moves it back to ordinary scheduling, and it asks again once it has been mostly
// asleep, a few times at most. One per process: the signal handler's state is the process's.
class LoopRealtime {
public:
    // Tries after demotions, each once the loop was busy for less than half of a period this long.
    static constexpr int kRetries = 3;
    static constexpr uint64_t kRetryAfterNs = 1'000'000'000;

    LoopRealtime(EventLoop& loop, RealtimeAccess& access);
    ~LoopRealtime();
    LoopRealtime(const LoopRealtime&) = delete;
    LoopRealtime& operator=(const LoopRealtime&) = delete;

    // On the loop thread: real-time below `jackPriority` (-1: JACK is not real-time, and nor is
    // the loop). A refusal is said once on standard error.
    void raise(int jackPriority);

private:
    // On the loop, as it is about to sleep after a demotion.
    void retry();
    // Real-time at `priority_`, with the limit handled; false when refused.
    bool ask(std::string* refusal);

    EventLoop& loop_;
    RealtimeAccess& access_;
    int priority_ = 0;
    int retriesLeft_ = kRetries;
    Timer retryTimer_;
    // The start of the period being watched (0: none yet), and how long the loop had been busy.
    uint64_t checkedAtNs_ = 0;
    uint64_t busyAtCheckNs_ = 0;
};

}  // namespace norv
