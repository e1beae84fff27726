#include "midi_helper/loop_realtime.h"

#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "midi_helper/event_loop.h"
#include "midi_helper/realtime_access.h"

namespace norv {
namespace {

// What the SIGXCPU handler shares with the loop: lock-free atomics only.
std::atomic<pid_t> loopThread{0};
std::atomic<bool> loopRealtime{false};
std::atomic<bool> retryWanted{false};
std::atomic<bool> demotionSaid{false};
static_assert(std::atomic<pid_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

constexpr char kDemoted[] =
    "NorvMIDIHelper: the MIDI loop ran past its real-time CPU limit without sleeping (a flood?) "
    "and now runs at ordinary priority; it asks for real-time again once it is idle.\n";

// Async-signal-safe: system calls and atomics only.
void onRealtimeLimit(int) {
    const int savedErrno = errno;
    const pid_t thread = loopThread.load();
    if (thread != 0 && loopRealtime.exchange(false)) {
        sched_param ordinary{};
        ::sched_setscheduler(thread, SCHED_OTHER | SCHED_RESET_ON_FORK, &ordinary);
        retryWanted.store(true);
        if (!demotionSaid.exchange(true)) [[maybe_unused]]
            auto ignored = ::write(2, kDemoted, sizeof kDemoted - 1);
    } else {
        // Not the loop's limit (RLIMIT_CPU, say): what SIGXCPU does by default.
        ::signal(SIGXCPU, SIG_DFL);
        ::raise(SIGXCPU);
    }
    errno = savedErrno;
}

// The time the calling thread has been running or waiting to run: what it spent neither asleep
// nor blocked. A thread that a flood keeps busy waits to run on a loaded machine instead of
// running, so CPU time alone would not tell.
uint64_t threadBusyNs() {
    if (FILE* stats = std::fopen("/proc/thread-self/schedstat", "re")) {
        unsigned long long running = 0, waiting = 0;
        const bool read = std::fscanf(stats, "%llu %llu", &running, &waiting) == 2;
        std::fclose(stats);
        if (read) return running + waiting;
    }
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return uint64_t(ts.tv_sec) * 1'000'000'000ull + uint64_t(ts.tv_nsec);
}

void installHandler() {
    struct sigaction action {};
    action.sa_handler = &onRealtimeLimit;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGXCPU, &action, nullptr);
}

}  // namespace

LoopRealtime::LoopRealtime(EventLoop& loop, RealtimeAccess& access)
    : loop_(loop), access_(access), retryTimer_(loop) {}

LoopRealtime::~LoopRealtime() {
    loopRealtime.store(false);
    loopThread.store(0);
    retryWanted.store(false);
}

void LoopRealtime::raise(int jackPriority) {
    priority_ = loopRealtimePriority(jackPriority);
    if (priority_ == 0) return;
    loopThread.store(pid_t(::gettid()));
    installHandler();
    loop_.setIdleHook(&retryWanted, [this] { retry(); });
    std::string refusal;
    if (!ask(&refusal))
        std::fprintf(stderr,
                     "NorvMIDIHelper: the MIDI loop runs without real-time priority (%s), "
                     "so its timing may slip on a busy machine. Add the user to the audio "
                     "group or run RealtimeKit.\n",
                     refusal.c_str());
}

bool LoopRealtime::ask(std::string* refusal) {
    // A limit the process brings gets the same soft limit below it as RealtimeKit's does; without
    // one the direct way sets none.
    limitRealtimeRun(RLIM_INFINITY);
    // Marked first: the limit may run out before this thread learns that it was granted.
    loopRealtime.store(true);
    RealtimeOutcome outcome = makeCurrentThreadRealtime(priority_, access_);
    if (!outcome.granted) {
        loopRealtime.store(false);
        if (refusal) *refusal = outcome.refusal;
    }
    return outcome.granted;
}

void LoopRealtime::retry() {
    retryWanted.store(false);
    if (retriesLeft_ == 0) return;
    // Slept, and mostly: a loop that a flood keeps busy even at ordinary priority would use up
    // its tries for nothing. So it watches a period at a time, from the first sleep after the
    // demotion, until it was busy for less than half of one.
    const uint64_t now = loop_.nowNs();
    const uint64_t busy = threadBusyNs();
    const bool quiet = checkedAtNs_ != 0 && (busy - busyAtCheckNs_) * 2 < now - checkedAtNs_;
    if (!quiet) {
        checkedAtNs_ = now;
        busyAtCheckNs_ = busy;
        retryTimer_.start(kRetryAfterNs, [] { retryWanted.store(true); });
        return;
    }
    checkedAtNs_ = 0;
    --retriesLeft_;
    // The kernel raised the soft limit when it sent SIGXCPU; `ask` puts it back below the hard one.
    ask(nullptr);
}

}  // namespace norv
