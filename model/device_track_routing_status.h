#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"

namespace norv {

// A track's routing plan plus what Live actually shows for it.
struct DeviceTrackRoutingStatus {
    std::int64_t trackLiveId = 0;
    std::optional<std::int64_t> trackIndex{};
    std::string trackName{};
    std::vector<std::string> ownerDeviceIds{};
    std::vector<std::string> ownerLabels{};
    std::optional<std::vector<std::string>> routedDeviceIds{};
    std::optional<std::vector<std::string>> routedOwnerLabels{};
    std::string desiredInput{};
    std::string routingMode{};
    std::optional<std::string> sharedInputStrategy{};
    // "ready", "manual_override", "waiting_for_port", "missing_track", "unsupported_track",
    // "arm_failed", "input_routing_disabled"; other text is kept as sent.
    std::string status{};
    std::string actualInput{};
    bool portVisible = false;
    bool armed = false;
    bool manualOverride = false;

    std::int64_t id() const { return trackLiveId; }

    static DeviceTrackRoutingStatus decode(const nlohmann::json& json);
    friend bool operator==(const DeviceTrackRoutingStatus&,
                           const DeviceTrackRoutingStatus&) = default;
};

}  // namespace norv
