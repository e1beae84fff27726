#pragma once

#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"
#include "model/midi_monitor_event.h"

namespace norv {

// One delivery of monitored MIDI events.
struct MidiMonitorBatch {
    std::vector<MidiMonitorEvent> events{};  // oldest first
    std::int64_t dropped = 0;                // events the engine did not deliver
    std::int64_t latestSequence = 0;
    bool reset = false;  // the receiver drops what it holds before taking these

    static MidiMonitorBatch decode(const nlohmann::json& json);
    friend bool operator==(const MidiMonitorBatch&, const MidiMonitorBatch&) = default;
};

}  // namespace norv
