#include "model/midi_monitor_batch.h"

#include "model/admin_json_reader.h"

namespace norv {

MidiMonitorBatch MidiMonitorBatch::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    return MidiMonitorBatch{
        .events = r.get<std::vector<MidiMonitorEvent>>("events"),
        .dropped = r.get<std::int64_t>("dropped"),
        .latestSequence = r.get<std::int64_t>("latestSequence"),
        .reset = r.get<bool>("reset"),
    };
}

}  // namespace norv
