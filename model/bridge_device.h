#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"
#include "model/device_link_quality.h"
#include "model/hash_builder.h"
#include "model/midi_endpoint.h"

namespace norv {

// One device (tablet or phone) as the engine knows it, connected or not.
struct BridgeDevice {
    std::string deviceId{};
    std::string label{};
    std::string platform{};
    std::string model{};
    std::string appVersion{};
    std::string protocolVersion{};
    std::vector<std::string> capabilities{};
    bool connected = false;
    std::int64_t sessionCount = 0;
    std::int64_t connectionCount = 0;
    std::optional<std::string> legacyName{};
    std::optional<std::string> nameStatus{};
    std::optional<std::string> deviceReference{};
    std::optional<bool> midiNamePending{};
    std::optional<bool> archived{};
    std::string autoArmPolicy{};
    std::optional<std::int64_t> assignedTrackLiveId{};  // LiveTrack::liveId
    std::optional<std::int64_t> assignedTrackIndex{};
    std::string assignedTrackName{};
    std::optional<std::string> activeTransport{};
    std::optional<std::vector<std::string>> activeTransports{};
    std::optional<std::string> connectionMode{};
    std::optional<std::vector<std::string>> activeAddresses{};
    std::optional<std::string> lastTransport{};
    std::optional<std::string> lastConnectionMode{};
    std::optional<std::string> lastAddress{};
    std::vector<MidiEndpoint> endpoints{};
    std::optional<std::string> accessState{};
    std::optional<DeviceLinkQuality> linkQuality{};

    const std::string& id() const { return deviceId; }

    // "ipad", "rectangle.portrait" or "display", from the platform name.
    std::string platformSymbol() const;
    // Upper-case transport badge: "USB", "WI-FI", "BLUETOOTH" or "CONNECTED" while connected;
    // "LAST USB", "LAST WI-FI", "LAST BLUETOOTH" or "OFFLINE" otherwise.
    std::string transportLabel() const;

    static BridgeDevice decode(const nlohmann::json& json);
    void hashInto(HashBuilder& h) const;
    friend bool operator==(const BridgeDevice&, const BridgeDevice&) = default;
};

}  // namespace norv

template <>
struct std::hash<norv::BridgeDevice> {
    std::size_t operator()(const norv::BridgeDevice& value) const {
        norv::HashBuilder h;
        value.hashInto(h);
        return h.value();
    }
};
