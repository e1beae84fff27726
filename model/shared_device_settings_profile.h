#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"

namespace norv {

// One group of interface settings a tablet shared through the engine.
struct SharedDeviceSettingsProfile {
    std::string scope{};  // the identity
    std::string source{};
    double receivedAt = 0.0;  // seconds since 1970
    std::int64_t count = 0;

    const std::string& id() const { return scope; }
    // Upper-case heading: "ALL PAGES + APP", "PLAY", "SET", "REPEAT", else the scope upper-cased.
    std::string title() const;

    static SharedDeviceSettingsProfile decode(const nlohmann::json& json);
    friend bool operator==(const SharedDeviceSettingsProfile&,
                           const SharedDeviceSettingsProfile&) = default;
};

}  // namespace norv
