#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"
#include "model/device_routing_policy.h"
#include "model/device_track_routing_plan.h"
#include "model/device_track_routing_status.h"
#include "model/remote_script_identity.h"

namespace norv {

// The engine's report on itself. Every field is optional; an absent Boolean differs from false.
struct BridgeHealth {
    std::optional<bool> bridgeRunning{};
    std::optional<std::string> bridgeVersion{};
    std::optional<std::string> protocolVersion{};
    std::optional<std::int64_t> clientCount{};
    std::optional<std::vector<std::string>> clientIds{};
    std::optional<double> upstreamIdleSeconds{};
    std::optional<double> remoteScriptIdleSeconds{};  // see liveLinked()
    std::optional<double> remoteScriptHeartbeatIdleSeconds{};
    std::optional<RemoteScriptIdentity> remoteScriptRuntime{};
    std::optional<double> maxIdleSeconds{};
    std::optional<bool> surfaceMidiAvailable{};
    std::optional<std::string> surfaceMidiSource{};
    std::optional<std::int64_t> surfaceMidiSentCount{};
    std::optional<bool> remoteControlMidiAvailable{};
    std::optional<std::string> remoteControlMidiSource{};
    std::optional<bool> fastControlMidiActive{};
    std::optional<std::int64_t> fastControlMidiSentCount{};
    std::optional<std::int64_t> fastControlMidiReceivedCount{};
    std::optional<std::int64_t> fastControlMidiFallbackCount{};
    std::optional<bool> instrumentMidiAvailable{};
    std::optional<std::string> instrumentMidiSource{};
    std::optional<std::int64_t> instrumentMidiSentCount{};
    std::optional<std::int64_t> instrumentMidiTcpClientCount{};
    std::optional<std::string> instrumentMidiLiveRouteStatus{};
    std::optional<std::string> instrumentMidiLiveRouteSummary{};
    std::optional<std::string> publicHost{};
    std::optional<std::int64_t> publicPort{};
    std::optional<bool> wirelessEnabled{};
    std::optional<bool> bonjourEnabled{};
    std::optional<bool> bonjourAdvertised{};
    std::optional<bool> usbTunnelEnabled{};
    std::optional<bool> androidAdbTunnelEnabled{};
    std::optional<std::vector<std::string>> localAddresses{};
    std::optional<bool> legacySharedMidiEnabled{};
    std::optional<DeviceRoutingPolicy> deviceRoutingPolicy{};
    std::optional<std::vector<DeviceTrackRoutingPlan>> deviceRoutingPlan{};
    std::optional<std::vector<DeviceTrackRoutingStatus>> deviceRoutingStatuses{};

    // Live counts as linked while the engine heard the Remote Script less than this long ago.
    static constexpr double liveLinkedIdleLimit = 5.0;
    // An absent age, the limit itself and NaN do not count as linked.
    bool liveLinked() const { return remoteScriptIdleSeconds && *remoteScriptIdleSeconds < liveLinkedIdleLimit; }

    static BridgeHealth decode(const nlohmann::json& json);
    // The health shown before the first snapshot: lanes and the bridge off, counters 0, client
    // ids and routing lists empty, everything else absent.
    static const BridgeHealth& empty();

    friend bool operator==(const BridgeHealth&, const BridgeHealth&) = default;
};

}  // namespace norv
