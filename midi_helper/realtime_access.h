#pragma once

#include <sys/types.h>
#include <string>

namespace norv {

// Real-time scheduling for one thread, the way Linux audio programs get it: SCHED_FIFO directly
// where the process may (RLIMIT_RTPRIO, the audio group, CAP_SYS_NICE), else through RealtimeKit on
// the system bus. The calls are virtual so that tests can refuse either way.
class RealtimeAccess {
public:
    // The priority JACK gives its client threads by default (a server at 10 runs clients at 5).
    static constexpr int kJackDefaultClientPriority = 5;

    virtual ~RealtimeAccess() = default;

    // SCHED_FIFO at `priority` for the calling thread: 0, or the errno of the refusal.
    virtual int setFifo(int priority);
    // Asks RealtimeKit to make thread `tid` of this process SCHED_FIFO at `priority` (lowered to
    // what it allows), after setting RLIMIT_RTTIME within its limit as it requires. Each bus call
    // is bounded. Empty on success, else why not.
    virtual std::string askRealtimeKit(pid_t tid, int priority);
};

struct RealtimeOutcome {
    bool granted = false;
    // Why neither way worked, for the one line on standard error.
    std::string refusal;
};

// The loop's priority: below JACK's client threads (`jackPriority`, -1 when JACK does not run
// real-time or is unknown), so the loop never delays an audio cycle.
int loopRealtimePriority(int jackPriority);

// Asks for real-time scheduling of the calling thread: directly first, then through RealtimeKit.
RealtimeOutcome makeCurrentThreadRealtime(int priority, RealtimeAccess& access);

}  // namespace norv
