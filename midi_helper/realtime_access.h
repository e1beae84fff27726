#pragma once

#include <sys/resource.h>
#include <sys/types.h>
#include <chrono>
#include <string>

namespace norv {

// Real-time scheduling for one thread, the way Linux audio programs get it: SCHED_FIFO directly
// where the process may (RLIMIT_RTPRIO, the audio group, CAP_SYS_NICE), else through RealtimeKit on
// the system bus. The calls are virtual so that tests can refuse either way.
class RealtimeAccess {
public:
    // The whole RealtimeKit exchange, connecting to the bus included.
    static constexpr std::chrono::milliseconds kRealtimeKitBound{1000};

    virtual ~RealtimeAccess() = default;

    // SCHED_FIFO at `priority` for the calling thread: 0, or the errno of the refusal.
    virtual int setFifo(int priority);
    // Asks RealtimeKit to make thread `tid` of this process SCHED_FIFO at `priority` (lowered to
    // what it allows), after limiting RLIMIT_RTTIME as it requires (`limitRealtimeRun`). Bounded
    // by kRealtimeKitBound as a whole. Empty on success, else why not.
    virtual std::string askRealtimeKit(pid_t tid, int priority);
};

struct RealtimeOutcome {
    bool granted = false;
    // Why neither way worked, for the one line on standard error.
    std::string refusal;
};

// The loop's priority: below JACK's process thread (`jackPriority`, -1 when it does not run
// real-time), so the loop never delays an audio cycle. 0 means none: a loop that outranks a JACK
// server which is not real-time takes its cycles.
int loopRealtimePriority(int jackPriority);

// Asks for real-time scheduling of the calling thread: directly first, then through RealtimeKit.
RealtimeOutcome makeCurrentThreadRealtime(int priority, RealtimeAccess& access);

// Lowers RLIMIT_RTTIME's hard limit to at most `atMostUs` (RLIM_INFINITY keeps it) and puts the
// soft limit below the hard one, so that SIGXCPU comes well before the kernel's SIGKILL. A process
// without a limit keeps none. 0, or the errno.
int limitRealtimeRun(rlim_t atMostUs);

}  // namespace norv
