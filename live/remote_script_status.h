#pragma once

#include "live/live_installation.h"
#include "live/running_live_processes.h"
#include "live/script_disk_state.h"
#include "live/script_runtime_state.h"
#include "model/bridge_health.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

namespace norv {

// Works out the Remote Script status line from what the engine reports about the loaded script,
// the running Live processes, the selected installation, the User Library in force and the last
// check of the script files.
class RemoteScriptStatus {
public:
    struct Inputs {
        BridgeHealth health;  // the engine's report on the loaded script
        bool connected = false;
        std::vector<RunningLiveProcess> running;
        std::optional<LiveInstallation> selected;
        std::optional<QString> library;
        std::optional<ScriptDiskState> disk;
    };

    // Heartbeat ages from the Live link limit on, negative ones and NaN are not fresh.
    static constexpr double freshnessLimit = BridgeHealth::liveLinkedIdleLimit;

    // `restartPending` is pruned to the ids still running, then used.
    static ScriptRuntimeState evaluate(const Inputs& inputs, std::set<std::int32_t>& restartPending);

    // The path with "." and ".." resolved and duplicate or trailing separators removed.
    static QString standardized(const QString& path);
};

}  // namespace norv
