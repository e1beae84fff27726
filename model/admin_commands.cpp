#include "model/admin_commands.h"

#include <algorithm>

namespace norv::AdminCommands {

using nlohmann::json;

AdminCommand configureMidiMonitor(bool enabled, int refreshHz) {
    return {"/admin/midi-monitor/configure", json::array({{{"enabled", enabled}, {"refresh_hz", refreshHz}}}), {}};
}

AdminCommand clearMidiMonitor() { return {"/admin/midi-monitor/clear", json::array(), {}}; }

AdminCommand assignTrack(const std::string& deviceId, const std::optional<LiveTrack>& track) {
    json args = json::array();
    args.push_back(deviceId);
    args.push_back(track ? json(track->liveId) : json(nullptr));
    args.push_back(track ? track->name : std::string());
    args.push_back(track && track->index ? json(*track->index) : json(nullptr));
    return {"/admin/device/track/assign", std::move(args), "Assignment saved"};
}

AdminCommand routingPolicy(const DeviceRoutingPolicy& policy) {
    return {"/admin/device/routing/policy", json::array({policy.adminPayload()}), "Routing policy saved"};
}

AdminCommand clearTrackAssignments() {
    return {"/admin/device/track/clear_all", json::array(), "Assignments cleared"};
}

AdminCommand configureDiagnostics(bool detailed) {
    return {"/admin/diagnostics/configure", json::array({detailed}),
            detailed ? "Detailed capture started" : "Detailed capture stopped"};
}

std::optional<AdminCommand> deviceAccess(const std::string& deviceId, DeviceAccessAction action,
                                         const std::optional<std::string>& fingerprint, bool certificatesRequired) {
    json args = json::array({deviceId, std::string(action.rawValue())});
    if (action == DeviceAccessAction::allow && certificatesRequired) {
        if (!fingerprint || fingerprint->empty()) return std::nullopt;
        args.push_back(*fingerprint);
    }
    std::string label;
    switch (action) {
    case DeviceAccessAction::allow: label = "Device allowed"; break;
    case DeviceAccessAction::pair: label = "Pairing allowed"; break;
    case DeviceAccessAction::disconnect: label = "Device disconnected"; break;
    case DeviceAccessAction::forget: label = "Access revoked"; break;
    }
    return AdminCommand{"/admin/device/access", std::move(args), std::move(label)};
}

AdminCommand archiveDevice(const std::string& deviceId, bool archived) {
    return {"/admin/device/archive", json::array({deviceId, archived}),
            archived ? "Device archived" : "Device restored"};
}

AdminCommand renameDevice(const std::string& deviceId, const std::string& name) {
    return {"/admin/device/rename", json::array({deviceId, name}), "Rename requested"};
}

std::optional<AdminCommand> cleanDevices(const std::vector<std::string>& captured,
                                         const std::vector<std::string>& offered) {
    json ids = json::array();
    for (const std::string& id : captured)
        if (std::find(offered.begin(), offered.end(), id) != offered.end()) ids.push_back(id);
    if (ids.empty()) return std::nullopt;
    return AdminCommand{"/admin/devices/clean", json::array({std::move(ids)}), "Device records cleaned"};
}

AdminCommand resetPairing() { return {"/admin/pairing/reset", json::array(), "Pairing reset"}; }

AdminCommand pushDeviceSettings(const std::string& scope) {
    return {"/admin/ui_preferences/push", json::array({scope}), "Settings transfer requested"};
}

AdminCommand reconnectMidi() { return {"/admin/midi/reconnect", json::array(), "MIDI reconnection requested"}; }

}  // namespace norv::AdminCommands
