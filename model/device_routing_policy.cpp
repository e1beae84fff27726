#include "model/device_routing_policy.h"

#include <optional>

#include "model/admin_json_reader.h"

namespace norv {

DeviceRoutingPolicy DeviceRoutingPolicy::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    const bool autoArm = r.get<std::optional<bool>>("autoArmEnabled").value_or(true);
    const bool autoInput = r.get<std::optional<bool>>("autoInputRoutingEnabled").value_or(true);
    const bool automatic =
        r.get<std::optional<bool>>("automaticDeviceRoutingEnabled").value_or(autoArm || autoInput);
    return DeviceRoutingPolicy{
        .automaticDeviceRoutingEnabled = automatic,
        .autoArmEnabled = automatic,
        .autoInputRoutingEnabled = automatic,
        .restoreInputOnRelease = r.get<std::optional<bool>>("restoreInputOnRelease").value_or(true),
        .respectManualOverrides =
            r.get<std::optional<bool>>("respectManualOverrides").value_or(true),
        .disconnectGraceSeconds =
            r.get<std::optional<double>>("disconnectGraceSeconds").value_or(3.0),
        .sharedInputStrategy =
            r.get<std::optional<std::string>>("sharedInputStrategy").value_or("all_ins"),
    };
}

const DeviceRoutingPolicy& DeviceRoutingPolicy::defaultPolicy() {
    static const DeviceRoutingPolicy policy{};
    return policy;
}

nlohmann::json DeviceRoutingPolicy::adminPayload() const {
    return nlohmann::json{
        {"automatic_device_routing_enabled", automaticDeviceRoutingEnabled},
        {"auto_arm_enabled", autoArmEnabled},
        {"auto_input_routing_enabled", autoInputRoutingEnabled},
        {"restore_input_on_release", restoreInputOnRelease},
        {"respect_manual_overrides", respectManualOverrides},
        {"disconnect_grace_seconds", disconnectGraceSeconds},
        {"shared_input_strategy", sharedInputStrategy},
    };
}

}  // namespace norv
