#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"
#include "model/hash_builder.h"

namespace norv {

// One MIDI endpoint of a device.
struct MidiEndpoint {
    std::string role{};
    std::string name{};
    std::int64_t sourceUniqueId = 0;
    std::int64_t destinationUniqueId = 0;

    // role + ":" + sourceUniqueId, e.g. "instrument:1234".
    std::string id() const { return role + ":" + std::to_string(sourceUniqueId); }

    static MidiEndpoint decode(const nlohmann::json& json);
    void hashInto(HashBuilder& h) const {
        h.add(role);
        h.add(name);
        h.add(sourceUniqueId);
        h.add(destinationUniqueId);
    }
    friend bool operator==(const MidiEndpoint&, const MidiEndpoint&) = default;
};

}  // namespace norv

template <>
struct std::hash<norv::MidiEndpoint> {
    std::size_t operator()(const norv::MidiEndpoint& value) const {
        norv::HashBuilder h;
        value.hashInto(h);
        return h.value();
    }
};
