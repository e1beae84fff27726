#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"
#include "model/midi_monitor_batch.h"

namespace norv {

// The body of "/admin/midi-monitor/events". An empty `args` is valid and means nothing to
// apply; otherwise only the first element is used, though every element must decode.
struct MidiMonitorEnvelope {
    std::string path{};
    std::vector<MidiMonitorBatch> args{};

    static MidiMonitorEnvelope decode(const nlohmann::json& json);
    friend bool operator==(const MidiMonitorEnvelope&, const MidiMonitorEnvelope&) = default;
};

}  // namespace norv
