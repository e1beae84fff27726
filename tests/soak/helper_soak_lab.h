#pragma once

// The Repeat lab's side of the helper's repeat exchange, for the soak's rounds with the lab: it
// answers every request with an acknowledgement of the request's generation, and now and then
// falls silent for a while so that the helper has to silence the owner's notes.

#include <cstdint>
#include <optional>

#include "helper_soak_senders.h"

namespace norv::test {

class RepeatLab {
public:
    RepeatLab();

    // The loopback port the helper sends its requests to (its "--native-repeat-port").
    int port() const { return port_; }
    // Reads the requests that came in and answers them, unless silent.
    void service(Rng& rng, SoakClock::time_point now);

    int64_t requests = 0, acknowledgements = 0, silences = 0;

private:
    UniqueFd fd_;
    int port_ = 0;
    std::optional<SoakClock::time_point> silentUntil_;
};

} // namespace norv::test
