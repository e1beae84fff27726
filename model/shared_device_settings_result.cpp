#include "model/shared_device_settings_result.h"

#include "model/admin_json_reader.h"

namespace norv {

SharedDeviceSettingsResult SharedDeviceSettingsResult::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    return SharedDeviceSettingsResult{
        .total = r.get<std::optional<std::int64_t>>("total"),
        .applied = r.get<std::optional<std::int64_t>>("applied"),
        .failed = r.get<std::optional<std::int64_t>>("failed"),
        .timedOut = r.get<std::optional<bool>>("timedOut"),
    };
}

std::string SharedDeviceSettingsResult::label() const {
    if (!total) return {};
    if (*total == 0) return "No compatible devices connected";
    std::string text =
        std::to_string(applied.value_or(0)) + " / " + std::to_string(*total) + " devices applied";
    if (failed && *failed >= 1) text += " · " + std::to_string(*failed) + " failed";
    if (timedOut.value_or(false)) text += " · Response timed out";
    return text;
}

}  // namespace norv
