#pragma once
// A large admin snapshot body for the benchmarks: `deviceCount` devices (a few archived or
// offline), 128 Live tracks, a routing plan and status for every assigned track, and
// `midiEventCount` recent MIDI events.

#include <nlohmann/json.hpp>

namespace norv::bench {

// `variant` changes the link figures of the first device, so two variants differ in exactly
// one device's values.
nlohmann::json largeSnapshotJson(int deviceCount = 64, int variant = 0, int midiEventCount = 0);

}  // namespace norv::bench
