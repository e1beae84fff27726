#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"
#include "model/device_access_request.h"
#include "model/revoked_device.h"

namespace norv {

// The engine's access policy: its own identity as devices see it, whether approval and
// certificates are required, pending requests, forgotten device ids and revoked devices.
struct DeviceAccessSnapshot {
    std::optional<std::string> bridgeId{};
    std::optional<std::string> bridgeName{};
    std::optional<std::string> bridgePlatform{};
    std::optional<std::string> bridgeModel{};
    std::optional<std::string> bridgeReference{};
    bool requireApproval = false;
    std::optional<bool> requireCertificate{};
    // Device id -> certificate fingerprint; keys are kept exactly as sent.
    std::optional<std::map<std::string, std::string>> certificates{};
    std::vector<DeviceAccessRequest> requests{};
    std::vector<std::string> forgotten{};  // BridgeDevice::deviceId values
    std::optional<std::vector<RevokedDevice>> revokedDevices{};

    // The first revoked entry for `deviceId`, or a record holding only that id.
    RevokedDevice revokedDevice(std::string_view deviceId) const;

    static DeviceAccessSnapshot decode(const nlohmann::json& json);
    friend bool operator==(const DeviceAccessSnapshot&, const DeviceAccessSnapshot&) = default;
};

}  // namespace norv
