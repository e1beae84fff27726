#include "model/midi_monitor_envelope.h"

#include "model/admin_json_reader.h"

namespace norv {

MidiMonitorEnvelope MidiMonitorEnvelope::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    return MidiMonitorEnvelope{
        .path = r.get<std::string>("path"),
        .args = r.get<std::vector<MidiMonitorBatch>>("args"),
    };
}

}  // namespace norv
