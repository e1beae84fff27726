#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"

namespace norv {

// What the engine intends for one Live track: its owning devices and the input it wants.
struct DeviceTrackRoutingPlan {
    std::int64_t trackLiveId = 0;
    std::optional<std::int64_t> trackIndex{};
    std::string trackName{};
    std::vector<std::string> ownerDeviceIds{};
    std::vector<std::string> ownerLabels{};
    std::optional<std::vector<std::string>> routedDeviceIds{};
    std::optional<std::vector<std::string>> routedOwnerLabels{};
    std::string desiredInput{};
    std::string routingMode{};  // "shared" marks a shared input
    std::optional<std::string> sharedInputStrategy{};

    std::int64_t id() const { return trackLiveId; }

    static DeviceTrackRoutingPlan decode(const nlohmann::json& json);
    friend bool operator==(const DeviceTrackRoutingPlan&, const DeviceTrackRoutingPlan&) = default;
};

}  // namespace norv
