#include "midi_helper/realtime_access.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <systemd/sd-bus.h>

namespace norv {
namespace {

constexpr const char* kRealtimeKitService = "org.freedesktop.RealtimeKit1";
constexpr const char* kRealtimeKitPath = "/org/freedesktop/RealtimeKit1";
constexpr uint64_t kBusCallTimeoutUs = 500'000;

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

std::string RealtimeAccess::askRealtimeKit(pid_t tid, int priority) {
    sd_bus* raw = nullptr;
    if (int status = sd_bus_open_system(&raw); status < 0)
        return "no system bus (" + std::string(std::strerror(-status)) + ")";
    std::unique_ptr<sd_bus, sd_bus* (*)(sd_bus*)> bus(raw, &sd_bus_flush_close_unref);
    sd_bus_set_method_call_timeout(bus.get(), kBusCallTimeoutUs);

    int32_t maxPriority = 0;
    int64_t maxRealtimeUs = 0;
    {
        BusError error;
        int status = sd_bus_get_property_trivial(bus.get(), kRealtimeKitService, kRealtimeKitPath,
                                                 kRealtimeKitService, "MaxRealtimePriority",
                                                 &error.error, 'i', &maxPriority);
        if (status >= 0)
            status = sd_bus_get_property_trivial(bus.get(), kRealtimeKitService, kRealtimeKitPath,
                                                 kRealtimeKitService, "RTTimeUSecMax", &error.error,
                                                 'x', &maxRealtimeUs);
        if (status < 0) return error.describe(status);
    }
    if (maxPriority < 1 || maxRealtimeUs < 1) return "it allows no real-time threads";

    // RealtimeKit only serves processes that cannot run away with the CPU: the time a real-time
    // thread may run without blocking must be limited, at most to its figure.
    rlimit limit{};
    if (::getrlimit(RLIMIT_RTTIME, &limit) != 0)
        return std::string("RLIMIT_RTTIME: ") + std::strerror(errno);
    const rlim_t allowed = rlim_t(maxRealtimeUs);
    if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > allowed) limit.rlim_max = allowed;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > limit.rlim_max)
        limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_RTTIME, &limit) != 0)
        return std::string("RLIMIT_RTTIME: ") + std::strerror(errno);

    BusError error;
    const uint32_t granted = uint32_t(std::clamp(priority, 1, int(maxPriority)));
    int status = sd_bus_call_method(bus.get(), kRealtimeKitService, kRealtimeKitPath,
                                    kRealtimeKitService, "MakeThreadRealtime", &error.error,
                                    nullptr, "tu", uint64_t(tid), granted);
    if (status < 0) return error.describe(status);
    return {};
}

int loopRealtimePriority(int jackPriority) {
    const int below = jackPriority > 0 ? jackPriority : RealtimeAccess::kJackDefaultClientPriority;
    return std::max(below - 1, 1);
}

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
