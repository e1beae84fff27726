#pragma once

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>

namespace norv {

// The runtime tool's reply to a Remote Script install.
struct ScriptInstallResult {
    bool changed = false;               // files were written
    std::optional<std::string> backup;  // where a previous script was set aside; null counts as absent

    // Requires "changed"; "backup" may be absent or null. Throws AdminDecodeError.
    static ScriptInstallResult decode(const nlohmann::json& json);

    bool operator==(const ScriptInstallResult&) const = default;
};

}  // namespace norv
