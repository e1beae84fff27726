#pragma once
// Every request the application sends the engine over the admin channel: its path, its
// arguments and the notice shown once the engine confirms it. Pure builders; the store sends.

#include "model/device_access_action.h"
#include "model/device_routing_policy.h"
#include "model/live_track.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace norv {

struct AdminCommand {
    std::string path;
    nlohmann::json args = nlohmann::json::array();
    // The status notice after the engine confirmed it; empty for frames sent without confirmation.
    std::string label;

    friend bool operator==(const AdminCommand&, const AdminCommand&) = default;
};

namespace AdminCommands {

// Unconfirmed frames of the MIDI monitor.
AdminCommand configureMidiMonitor(bool enabled, int refreshHz);
AdminCommand clearMidiMonitor();

// Routing: the track is [liveId or null, name or "", index or null]; no track clears the device's.
AdminCommand assignTrack(const std::string& deviceId, const std::optional<LiveTrack>& track);
AdminCommand routingPolicy(const DeviceRoutingPolicy& policy);
AdminCommand clearTrackAssignments();

AdminCommand configureDiagnostics(bool detailed);

// Devices. Allowing while the engine requires certificates carries the device's certificate
// fingerprint and is not sent without one; no other action carries it.
std::optional<AdminCommand> deviceAccess(const std::string& deviceId, DeviceAccessAction action,
                                         const std::optional<std::string>& fingerprint, bool certificatesRequired);
AdminCommand archiveDevice(const std::string& deviceId, bool archived);
// The name goes as typed, not trimmed.
AdminCommand renameDevice(const std::string& deviceId, const std::string& name);
// Those of `captured` still in `offered`, in captured order, as one list argument; none when
// none is left.
std::optional<AdminCommand> cleanDevices(const std::vector<std::string>& captured,
                                         const std::vector<std::string>& offered);
AdminCommand resetPairing();

// One shared settings profile, by its scope, to the connected devices.
AdminCommand pushDeviceSettings(const std::string& scope);
AdminCommand reconnectMidi();

}  // namespace AdminCommands

}  // namespace norv
