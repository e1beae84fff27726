#pragma once

#include <vector>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"
#include "model/shared_device_settings_profile.h"
#include "model/shared_device_settings_result.h"

namespace norv {

// The settings profiles the engine holds and the outcome of the last transfer.
struct SharedDeviceSettings {
    std::vector<SharedDeviceSettingsProfile> profiles{};
    SharedDeviceSettingsResult result{};

    static SharedDeviceSettings decode(const nlohmann::json& json);
    friend bool operator==(const SharedDeviceSettings&, const SharedDeviceSettings&) = default;
};

}  // namespace norv
