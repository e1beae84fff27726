#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"

namespace norv {

// The state of the pairing code a new device must enter.
struct PairingCodeSnapshot {
    std::string status{};  // the banner shows for "waiting" and "locked"
    std::optional<std::string> code{};
    std::optional<std::string> deviceLabel{};
    std::optional<std::int64_t> expiresIn{};  // seconds

    static PairingCodeSnapshot decode(const nlohmann::json& json);
    friend bool operator==(const PairingCodeSnapshot&, const PairingCodeSnapshot&) = default;
};

}  // namespace norv
