#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"

namespace norv {

// A device waiting for access, with its certificate's SHA-256 fingerprint when it sent one.
struct DeviceAccessRequest {
    std::string deviceId{};
    std::optional<std::string> deviceLabel{};
    std::optional<std::string> platform{};
    std::optional<std::string> certificateSha256{};

    const std::string& id() const { return deviceId; }

    static DeviceAccessRequest decode(const nlohmann::json& json);
    friend bool operator==(const DeviceAccessRequest&, const DeviceAccessRequest&) = default;
};

}  // namespace norv
