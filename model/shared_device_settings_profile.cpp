#include "model/shared_device_settings_profile.h"

#include "model/admin_json_reader.h"
#include "model/text_rules.h"

namespace norv {

SharedDeviceSettingsProfile SharedDeviceSettingsProfile::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    return SharedDeviceSettingsProfile{
        .scope = r.get<std::string>("scope"),
        .source = r.get<std::string>("source"),
        .receivedAt = r.get<double>("receivedAt"),
        .count = r.get<std::int64_t>("count"),
    };
}

std::string SharedDeviceSettingsProfile::title() const {
    if (scope == "all") return "ALL PAGES + APP";
    if (scope == "instrument") return "PLAY";
    if (scope == "tracks") return "SET";
    if (scope == "repeatPage") return "REPEAT";
    return text_rules::uppercased(scope);
}

}  // namespace norv
