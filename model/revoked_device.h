#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"

namespace norv {

// A device whose access was revoked.
struct RevokedDevice {
    std::string deviceId{};
    std::optional<std::string> deviceLabel{};
    std::optional<std::string> platform{};
    std::optional<std::string> deviceModel{};
    std::optional<std::string> deviceReference{};

    // The label trimmed of white space, or "Unknown device" when that leaves nothing.
    std::string displayName() const;
    // Model, upper-cased platform and reference (else the id), leaving out empty and "unknown"
    // values, joined with " · ".
    std::string details() const;
    // "display" without a platform, else the device platform rule.
    std::string platformSymbol() const;

    static RevokedDevice decode(const nlohmann::json& json);
    friend bool operator==(const RevokedDevice&, const RevokedDevice&) = default;
};

}  // namespace norv
