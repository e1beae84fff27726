#pragma once

#include <algorithm>
#include <chrono>

namespace norv {

// The admin channel's timers. Tests scale them; the application uses the defaults.
struct AdminChannelTimings {
    std::chrono::milliseconds authentication{3000};  // hello to "/admin/authenticated"
    std::chrono::milliseconds heartbeat{1000};       // snapshot request period
    std::chrono::milliseconds staleness{5000};       // longest time without a snapshot
    std::chrono::milliseconds confirmation{5000};    // request to its action result
    std::chrono::milliseconds reconnect{1500};       // loss to the next connect
    std::chrono::milliseconds shutdown{2000};        // longest wait for the thread on destruction

    // Every timer divided by `divisor` (at least 1 ms each).
    AdminChannelTimings scaledDown(int divisor) const {
        auto scale = [divisor](std::chrono::milliseconds value) {
            return std::max(std::chrono::milliseconds(1), value / divisor);
        };
        return {scale(authentication), scale(heartbeat), scale(staleness), scale(confirmation),
                scale(reconnect), scale(shutdown)};
    }
};

}  // namespace norv
