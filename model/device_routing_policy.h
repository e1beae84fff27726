#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"

namespace norv {

// The engine's rules for routing devices to Live tracks. The one admin record that also travels
// back to the engine (adminPayload), and the one whose decoder fills in defaults.
struct DeviceRoutingPolicy {
    bool automaticDeviceRoutingEnabled = true;
    bool autoArmEnabled = true;
    bool autoInputRoutingEnabled = true;
    bool restoreInputOnRelease = true;
    bool respectManualOverrides = true;
    double disconnectGraceSeconds = 3.0;
    // "all_ins", "first_assigned" or "last_assigned"; other text is kept as sent.
    std::string sharedInputStrategy = "all_ins";

    // Every key may be missing or null and then takes its default. The three automation fields
    // collapse into one value: "automatic_device_routing_enabled" when given, else
    // (auto arm or auto input routing), each of those two defaulting to true.
    static DeviceRoutingPolicy decode(const nlohmann::json& json);
    static const DeviceRoutingPolicy& defaultPolicy();

    // The argument of the policy command: seven entries under their wire keys.
    nlohmann::json adminPayload() const;

    friend bool operator==(const DeviceRoutingPolicy&, const DeviceRoutingPolicy&) = default;
};

}  // namespace norv
