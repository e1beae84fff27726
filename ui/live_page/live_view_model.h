#pragma once
// The Ableton Live page's texts and enabling rules, as functions of what the Live integration
// and the store publish.

#include "live/live_installation.h"
#include "live/remote_script_status.h"
#include "live/script_disk_state.h"
#include "live/script_runtime_state.h"
#include "model/admin_connection_state.h"
#include "model/bridge_health.h"

#include <QString>
#include <optional>
#include <string>
#include <vector>

namespace norv {

class LiveViewModel {
public:
    struct PickerEntry {
        QString label;
        QString tag;  // the installation's bundle path; empty for "No Live detected"
        friend bool operator==(const PickerEntry&, const PickerEntry&) = default;
    };

    // The status panel until the first update.
    static ScriptRuntimeState initialState();
    // Whether the channel counts as up for the status rules.
    static bool connected(const AdminConnectionState& state) { return state.isConnected(); }

    static std::vector<PickerEntry> pickerEntries(const std::vector<LiveInstallation>& installations);
    static QString libraryText(const std::optional<QString>& library);
    // The Remote Script folder inside the User Library.
    static std::optional<QString> scriptFolder(const std::optional<QString>& library);

    static QString bundledText(const std::optional<ScriptDiskState>& disk);
    static QString installedText(const std::optional<ScriptDiskState>& disk);
    static QString installButtonTitle(const std::optional<ScriptDiskState>& disk);
    static bool installEnabled(bool busy, const std::optional<ScriptDiskState>& disk,
                               const std::optional<QString>& library,
                               const std::optional<LiveInstallation>& selected);
    static bool verifyEnabled(bool busy) { return !busy; }
    static bool openScriptFolderEnabled(const std::optional<ScriptDiskState>& disk) { return disk && disk->exists; }
    static bool openLiveEnabled(const std::optional<LiveInstallation>& selected) { return selected.has_value(); }
    static bool libraryRowEnabled(const std::optional<LiveInstallation>& selected) { return selected.has_value(); }

    // "ready_to_play" reads "Ready To Play"; absent reads "Unavailable".
    static QString routeStatusText(const std::optional<std::string>& status);
    static bool reconnectEnabled(bool canChange, bool pendingEmpty) { return canChange && pendingEmpty; }
};

}  // namespace norv
