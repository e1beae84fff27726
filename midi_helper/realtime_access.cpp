#include "midi_helper/realtime_access.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include <systemd/sd-bus.h>

namespace norv {
namespace {

constexpr const char* kRealtimeKitService = "org.freedesktop.RealtimeKit1";
constexpr const char* kRealtimeKitPath = "/org/freedesktop/RealtimeKit1";
constexpr const char* kSystemBusAddress = "unix:path=/run/dbus/system_bus_socket";
constexpr const char* kNoAnswer = "the system bus did not answer in time";

uint64_t monotonicUs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1'000'000ull + uint64_t(ts.tv_nsec) / 1000;
}

struct BusError {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    ~BusError() { sd_bus_error_free(&error); }
    std::string describe(int status) const {
        if (error.message) return error.message;
        if (error.name) return error.name;
        return std::strerror(-status);
    }
};

}  // namespace

int RealtimeAccess::setFifo(int priority) {
    sched_param param{};
    param.sched_priority = priority;
    return ::pthread_setschedparam(::pthread_self(), SCHED_FIFO | SCHED_RESET_ON_FORK, &param);
}

int limitRealtimeRun(rlim_t atMostUs) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_RTTIME, &limit) != 0) return errno;
    const rlimit was = limit;
    if (atMostUs != RLIM_INFINITY && (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > atMostUs))
        limit.rlim_max = atMostUs;
    // Half the hard limit: time enough for the SIGXCPU handler to demote the thread.
    if (limit.rlim_max != RLIM_INFINITY &&
        (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= limit.rlim_max))
        limit.rlim_cur = limit.rlim_max / 2;
    if ((limit.rlim_cur != was.rlim_cur || limit.rlim_max != was.rlim_max) &&
        ::setrlimit(RLIMIT_RTTIME, &limit) != 0)
        return errno;
    return 0;
}

std::string RealtimeAccess::askRealtimeKit(pid_t tid, int priority) {
    const uint64_t deadline =
        monotonicUs() + uint64_t(std::chrono::microseconds(kRealtimeKitBound).count());
    sd_bus* raw = nullptr;
    if (int status = sd_bus_new(&raw); status < 0)
        return "no system bus (" + std::string(std::strerror(-status)) + ")";
    std::unique_ptr<sd_bus, sd_bus* (*)(sd_bus*)> bus(raw, &sd_bus_close_unref);
    // sd_bus_open_system would wait for the bus's greeting without a bound (90 s): connect and
    // greet here against the deadline instead.
    const char* address = ::secure_getenv("DBUS_SYSTEM_BUS_ADDRESS");
    sd_bus_set_address(bus.get(), address && *address ? address : kSystemBusAddress);
    sd_bus_set_bus_client(bus.get(), 1);
    if (int status = sd_bus_start(bus.get()); status < 0)
        return "no system bus (" + std::string(std::strerror(-status)) + ")";
    while (sd_bus_is_ready(bus.get()) <= 0) {
        const uint64_t now = monotonicUs();
        if (now >= deadline) return kNoAnswer;
        int status = sd_bus_process(bus.get(), nullptr);
        if (status < 0) return "no system bus (" + std::string(std::strerror(-status)) + ")";
        if (status == 0) sd_bus_wait(bus.get(), deadline - now);
    }
    // Each call gets what is left of the deadline.
    auto timeLeft = [&] {
        const uint64_t now = monotonicUs();
        if (now >= deadline) return false;
        sd_bus_set_method_call_timeout(bus.get(), deadline - now);
        return true;
    };

    int32_t maxPriority = 0;
    int64_t maxRealtimeUs = 0;
    {
        BusError error;
        if (!timeLeft()) return kNoAnswer;
        int status = sd_bus_get_property_trivial(bus.get(), kRealtimeKitService, kRealtimeKitPath,
                                                 kRealtimeKitService, "MaxRealtimePriority",
                                                 &error.error, 'i', &maxPriority);
        if (status >= 0 && !timeLeft()) return kNoAnswer;
        if (status >= 0)
            status = sd_bus_get_property_trivial(bus.get(), kRealtimeKitService, kRealtimeKitPath,
                                                 kRealtimeKitService, "RTTimeUSecMax", &error.error,
                                                 'x', &maxRealtimeUs);
        if (status < 0) return error.describe(status);
    }
    if (maxPriority < 1 || maxRealtimeUs < 1) return "it allows no real-time threads";

    // RealtimeKit only serves processes that cannot run away with the CPU: the time a real-time
    // thread may run without blocking must be limited, at most to its figure.
    if (int error = limitRealtimeRun(rlim_t(maxRealtimeUs)); error != 0)
        return std::string("RLIMIT_RTTIME: ") + std::strerror(error);

    BusError error;
    if (!timeLeft()) return kNoAnswer;
    const uint32_t granted = uint32_t(std::clamp(priority, 1, int(maxPriority)));
    int status = sd_bus_call_method(bus.get(), kRealtimeKitService, kRealtimeKitPath,
                                    kRealtimeKitService, "MakeThreadRealtime", &error.error,
                                    nullptr, "tu", uint64_t(tid), granted);
    if (status < 0) return error.describe(status);
    return {};
}

int loopRealtimePriority(int jackPriority) { return jackPriority > 1 ? jackPriority - 1 : 0; }

RealtimeOutcome makeCurrentThreadRealtime(int priority, RealtimeAccess& access) {
    RealtimeOutcome outcome;
    const int direct = access.setFifo(priority);
    if (direct == 0) {
        outcome.granted = true;
        return outcome;
    }
    const std::string viaKit = access.askRealtimeKit(pid_t(::gettid()), priority);
    if (viaKit.empty()) {
        outcome.granted = true;
        return outcome;
    }
    outcome.refusal =
        "SCHED_FIFO: " + std::string(std::strerror(direct)) + "; RealtimeKit: " + viaKit;
    return outcome;
}

}  // namespace norv
