#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"
#include "model/bridge_device.h"
#include "model/bridge_health.h"
#include "model/device_access_snapshot.h"
#include "model/diagnostic_status.h"
#include "model/live_track.h"
#include "model/midi_monitor_event.h"
#include "model/pairing_code_snapshot.h"
#include "model/shared_device_settings.h"

namespace norv {

// The engine's whole state as last received; the root of every admin record.
struct AdminSnapshot {
    BridgeHealth bridge{};
    std::vector<BridgeDevice> devices{};  // engine order
    std::vector<LiveTrack> liveTracks{};
    std::vector<MidiMonitorEvent> midiEvents{};
    std::optional<SharedDeviceSettings> uiPreferences{};
    std::optional<DeviceAccessSnapshot> deviceAccess{};
    std::optional<DiagnosticStatus> diagnostics{};
    std::optional<PairingCodeSnapshot> pairing{};

    // The state before the first snapshot: BridgeHealth::empty(), no lists, no optionals.
    static const AdminSnapshot& empty();

    // Device ids the engine may forget ("Clean devices"): only while certificates are required,
    // the offline archived devices and the forgotten ids, minus every connected device, each
    // once, sorted.
    std::vector<std::string> cleanupDeviceIDs() const;

    static AdminSnapshot decode(const nlohmann::json& json);
    friend bool operator==(const AdminSnapshot&, const AdminSnapshot&) = default;
};

}  // namespace norv
