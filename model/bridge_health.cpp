#include "model/bridge_health.h"

#include "model/admin_json_reader.h"

namespace norv {

BridgeHealth BridgeHealth::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    using Text = std::optional<std::string>;
    using Integer = std::optional<std::int64_t>;
    using Real = std::optional<double>;
    using Flag = std::optional<bool>;
    using TextList = std::optional<std::vector<std::string>>;
    return BridgeHealth{
        .bridgeRunning = r.get<Flag>("bridgeRunning"),
        .bridgeVersion = r.get<Text>("bridgeVersion"),
        .protocolVersion = r.get<Text>("protocolVersion"),
        .clientCount = r.get<Integer>("clientCount"),
        .clientIds = r.get<TextList>("clientIds"),
        .upstreamIdleSeconds = r.get<Real>("upstreamIdleSeconds"),
        .remoteScriptIdleSeconds = r.get<Real>("remoteScriptIdleSeconds"),
        .remoteScriptHeartbeatIdleSeconds = r.get<Real>("remoteScriptHeartbeatIdleSeconds"),
        .remoteScriptRuntime = r.get<std::optional<RemoteScriptIdentity>>("remoteScriptRuntime"),
        .maxIdleSeconds = r.get<Real>("maxIdleSeconds"),
        .surfaceMidiAvailable = r.get<Flag>("surfaceMidiAvailable"),
        .surfaceMidiSource = r.get<Text>("surfaceMidiSource"),
        .surfaceMidiSentCount = r.get<Integer>("surfaceMidiSentCount"),
        .remoteControlMidiAvailable = r.get<Flag>("remoteControlMidiAvailable"),
        .remoteControlMidiSource = r.get<Text>("remoteControlMidiSource"),
        .fastControlMidiActive = r.get<Flag>("fastControlMidiActive"),
        .fastControlMidiSentCount = r.get<Integer>("fastControlMidiSentCount"),
        .fastControlMidiReceivedCount = r.get<Integer>("fastControlMidiReceivedCount"),
        .fastControlMidiFallbackCount = r.get<Integer>("fastControlMidiFallbackCount"),
        .instrumentMidiAvailable = r.get<Flag>("instrumentMidiAvailable"),
        .instrumentMidiSource = r.get<Text>("instrumentMidiSource"),
        .instrumentMidiSentCount = r.get<Integer>("instrumentMidiSentCount"),
        .instrumentMidiTcpClientCount = r.get<Integer>("instrumentMidiTcpClientCount"),
        .instrumentMidiLiveRouteStatus = r.get<Text>("instrumentMidiLiveRouteStatus"),
        .instrumentMidiLiveRouteSummary = r.get<Text>("instrumentMidiLiveRouteSummary"),
        .publicHost = r.get<Text>("publicHost"),
        .publicPort = r.get<Integer>("publicPort"),
        .wirelessEnabled = r.get<Flag>("wirelessEnabled"),
        .bonjourEnabled = r.get<Flag>("bonjourEnabled"),
        .bonjourAdvertised = r.get<Flag>("bonjourAdvertised"),
        .usbTunnelEnabled = r.get<Flag>("usbTunnelEnabled"),
        .androidAdbTunnelEnabled = r.get<Flag>("androidAdbTunnelEnabled"),
        .localAddresses = r.get<TextList>("localAddresses"),
        .legacySharedMidiEnabled = r.get<Flag>("legacySharedMidiEnabled"),
        .deviceRoutingPolicy = r.get<std::optional<DeviceRoutingPolicy>>("deviceRoutingPolicy"),
        .deviceRoutingPlan =
            r.get<std::optional<std::vector<DeviceTrackRoutingPlan>>>("deviceRoutingPlan"),
        .deviceRoutingStatuses =
            r.get<std::optional<std::vector<DeviceTrackRoutingStatus>>>("deviceRoutingStatuses"),
    };
}

const BridgeHealth& BridgeHealth::empty() {
    static const BridgeHealth health = [] {
        BridgeHealth h;
        h.bridgeRunning = false;
        h.surfaceMidiAvailable = false;
        h.remoteControlMidiAvailable = false;
        h.fastControlMidiActive = false;
        h.instrumentMidiAvailable = false;
        h.clientCount = 0;
        h.surfaceMidiSentCount = 0;
        h.fastControlMidiSentCount = 0;
        h.fastControlMidiReceivedCount = 0;
        h.fastControlMidiFallbackCount = 0;
        h.instrumentMidiSentCount = 0;
        h.instrumentMidiTcpClientCount = 0;
        h.clientIds.emplace();
        h.deviceRoutingPlan.emplace();
        h.deviceRoutingStatuses.emplace();
        return h;
    }();
    return health;
}

}  // namespace norv
