#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"

namespace norv {

// How the last transfer of shared settings to the connected devices went.
struct SharedDeviceSettingsResult {
    std::optional<std::int64_t> total{};  // absent: no transfer reported
    std::optional<std::int64_t> applied{};
    std::optional<std::int64_t> failed{};
    std::optional<bool> timedOut{};

    // One summary line, e.g. "2 / 3 devices applied · 1 failed"; empty without a transfer.
    std::string label() const;

    static SharedDeviceSettingsResult decode(const nlohmann::json& json);
    friend bool operator==(const SharedDeviceSettingsResult&,
                           const SharedDeviceSettingsResult&) = default;
};

}  // namespace norv
