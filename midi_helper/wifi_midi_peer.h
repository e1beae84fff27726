#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "midi_helper/midi_peer.h"

namespace norv {

// One wireless sender under one token: its note state, the sequences it has reached, its clock
// offset along the fastest recent path and the note releases deferred to sound like taps.
// Times are microseconds on the helper's monotonic clock.
struct WifiMidiPeer {
    std::shared_ptr<MidiPeer> midi;
    uint64_t token = 0;
    uint64_t packetSequence = 0;
    uint64_t eventSequence = 0;
    double offset = 0.0;                      // helper clock minus sender clock
    double lastSeen = 0.0;                    // helper time of the last packet that arrived in time
    std::map<int, double> recoveredReleases;  // key → due time
};

}  // namespace norv
