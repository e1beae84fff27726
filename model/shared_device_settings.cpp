#include "model/shared_device_settings.h"

#include "model/admin_json_reader.h"

namespace norv {

SharedDeviceSettings SharedDeviceSettings::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    return SharedDeviceSettings{
        .profiles = r.get<std::vector<SharedDeviceSettingsProfile>>("profiles"),
        .result = r.get<SharedDeviceSettingsResult>("result"),
    };
}

}  // namespace norv
