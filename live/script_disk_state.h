#pragma once

#include <nlohmann/json_fwd.hpp>

#include <string>

namespace norv {

// The runtime tool's reply to a Remote Script check.
struct ScriptDiskState {
    std::string version;  // version of the script in the bundle
    std::string buildId;  // build identifier of the script in the bundle
    bool exists = false;  // the script is present in the User Library's "Remote Scripts" folder
    bool current = false; // the installed files match the bundle

    // Requires all four keys with their types; other keys are ignored. Throws AdminDecodeError.
    static ScriptDiskState decode(const nlohmann::json& json);

    bool operator==(const ScriptDiskState&) const = default;
};

}  // namespace norv
