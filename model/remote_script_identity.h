#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"

namespace norv {

// What the running Live Remote Script reports about itself.
struct RemoteScriptIdentity {
    std::optional<std::string> remoteScriptBundleId{};
    std::optional<std::int32_t> remoteScriptProcessId{};  // fails outside the 32-bit range
    std::optional<std::string> remoteScriptDirectory{};
    std::optional<std::string> remoteScriptVersion{};

    static RemoteScriptIdentity decode(const nlohmann::json& json);
    friend bool operator==(const RemoteScriptIdentity&, const RemoteScriptIdentity&) = default;
};

}  // namespace norv
