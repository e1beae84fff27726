#include "model/midi_endpoint.h"

#include "model/admin_json_reader.h"

namespace norv {

MidiEndpoint MidiEndpoint::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    return MidiEndpoint{
        .role = r.get<std::string>("role"),
        .name = r.get<std::string>("name"),
        .sourceUniqueId = r.get<std::int64_t>("sourceUniqueId"),
        .destinationUniqueId = r.get<std::int64_t>("destinationUniqueId"),
    };
}

}  // namespace norv
