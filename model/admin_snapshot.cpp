#include "model/admin_snapshot.h"

#include <algorithm>
#include <set>

#include "model/admin_json_reader.h"

namespace norv {

AdminSnapshot AdminSnapshot::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    return AdminSnapshot{
        .bridge = r.get<BridgeHealth>("bridge"),
        .devices = r.get<std::vector<BridgeDevice>>("devices"),
        .liveTracks = r.get<std::vector<LiveTrack>>("liveTracks"),
        .midiEvents = r.get<std::vector<MidiMonitorEvent>>("midiEvents"),
        .uiPreferences = r.get<std::optional<SharedDeviceSettings>>("uiPreferences"),
        .deviceAccess = r.get<std::optional<DeviceAccessSnapshot>>("deviceAccess"),
        .diagnostics = r.get<std::optional<DiagnosticStatus>>("diagnostics"),
        .pairing = r.get<std::optional<PairingCodeSnapshot>>("pairing"),
    };
}

const AdminSnapshot& AdminSnapshot::empty() {
    static const AdminSnapshot snapshot{.bridge = BridgeHealth::empty()};
    return snapshot;
}

std::vector<std::string> AdminSnapshot::cleanupDeviceIDs() const {
    if (!deviceAccess || !deviceAccess->requireCertificate.value_or(false)) return {};
    std::set<std::string> connectedIds;
    for (const BridgeDevice& device : devices) {
        if (device.connected) connectedIds.insert(device.deviceId);
    }
    std::set<std::string> candidates;
    for (const BridgeDevice& device : devices) {
        if (!device.connected && device.archived.value_or(false))
            candidates.insert(device.deviceId);
    }
    candidates.insert(deviceAccess->forgotten.begin(), deviceAccess->forgotten.end());
    std::vector<std::string> result;
    std::set_difference(candidates.begin(), candidates.end(), connectedIds.begin(),
                        connectedIds.end(), std::back_inserter(result));
    return result;
}

}  // namespace norv
