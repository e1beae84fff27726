#include "ui/routes/routes_view_model.h"

#include <QStringList>

namespace norv {

namespace {

QString qt(const std::string& text) { return QString::fromStdString(text); }

QString joined(const std::vector<std::string>& labels) {
    QStringList list;
    for (const std::string& label : labels) list.append(qt(label));
    return list.join(QStringLiteral(" + "));
}

bool automaticRouting(const AdminSnapshot& snapshot) {
    const auto& policy = snapshot.bridge.deviceRoutingPolicy;
    return policy ? policy->automaticDeviceRoutingEnabled
                  : DeviceRoutingPolicy::defaultPolicy().automaticDeviceRoutingEnabled;
}

bool archived(const BridgeDevice& device) { return device.archived.value_or(false); }

}  // namespace

std::vector<DeviceTrackRoutingPlan> RoutesViewModel::plans(const AdminSnapshot& snapshot) {
    return snapshot.bridge.deviceRoutingPlan.value_or(std::vector<DeviceTrackRoutingPlan>{});
}

std::optional<DeviceTrackRoutingStatus> RoutesViewModel::status(const AdminSnapshot& snapshot,
                                                                   const DeviceTrackRoutingPlan& plan) {
    if (!snapshot.bridge.deviceRoutingStatuses) return std::nullopt;
    for (const DeviceTrackRoutingStatus& status : *snapshot.bridge.deviceRoutingStatuses) {
        if (status.trackLiveId == plan.trackLiveId) return status;
    }
    return std::nullopt;
}

std::vector<BridgeDevice> RoutesViewModel::activeDevices(const AdminSnapshot& snapshot) {
    std::vector<BridgeDevice> result;
    for (const BridgeDevice& device : snapshot.devices) {
        if (device.connected && !archived(device)) result.push_back(device);
    }
    return result;
}

std::vector<BridgeDevice> RoutesViewModel::knownDevices(const AdminSnapshot& snapshot) {
    std::vector<BridgeDevice> result;
    for (const BridgeDevice& device : snapshot.devices) {
        if (!device.connected && !archived(device)) result.push_back(device);
    }
    return result;
}

std::vector<LiveTrack> RoutesViewModel::midiTracks(const AdminSnapshot& snapshot) {
    std::vector<LiveTrack> result;
    for (const LiveTrack& track : snapshot.liveTracks) {
        if (track.hasMidiInput.value_or(false)) result.push_back(track);
    }
    return result;
}

QString RoutesViewModel::knownDevicesTitle(std::size_t count) {
    return QStringLiteral("Known devices (") + QString::number(count) + QStringLiteral(")");
}

QString RoutesViewModel::noPlansTitle(const AdminSnapshot& snapshot) {
    return automaticRouting(snapshot) ? QStringLiteral("No active track route")
                                      : QStringLiteral("Automatic routing is off");
}

QString RoutesViewModel::trackStatusLabel(const DeviceTrackRoutingPlan& plan,
                                             const std::optional<DeviceTrackRoutingStatus>& status) {
    if (!status) return QStringLiteral("WAITING FOR LIVE");
    const std::string& s = status->status;
    if (s == "ready") {
        if (plan.routingMode != "shared") return QStringLiteral("DEDICATED INPUT");
        const std::string strategy = plan.sharedInputStrategy.value_or(std::string());
        if (strategy == "first_assigned") return QString::fromUtf8("SHARED · FIRST");
        if (strategy == "last_assigned") return QString::fromUtf8("SHARED · LAST");
        return QString::fromUtf8("SHARED · ALL INS");
    }
    if (s == "manual_override") return QStringLiteral("MANUAL OVERRIDE");
    if (s == "waiting_for_port") return QStringLiteral("WAITING FOR PORT");
    if (s == "missing_track") return QStringLiteral("TRACK NOT FOUND");
    if (s == "unsupported_track") return QStringLiteral("MIDI TRACK REQUIRED");
    if (s == "arm_failed") return QStringLiteral("ARM FAILED");
    if (s == "input_routing_disabled") return QStringLiteral("ROUTING DISABLED");
    return QStringLiteral("WAITING FOR LIVE");
}

RouteTint RoutesViewModel::trackStatusTint(const std::optional<DeviceTrackRoutingStatus>& status) {
    if (!status) return RouteTint::secondary;
    const std::string& s = status->status;
    if (s == "ready") return RouteTint::teal;
    if (s == "manual_override" || s == "waiting_for_port") return RouteTint::yellow;
    if (s == "missing_track" || s == "unsupported_track" || s == "arm_failed") return RouteTint::red;
    return RouteTint::secondary;
}

QString RoutesViewModel::trackTitle(const DeviceTrackRoutingPlan& plan) {
    if (!plan.trackName.empty()) return qt(plan.trackName);
    return QStringLiteral("Live track ") + QString::number(plan.trackLiveId);
}

QString RoutesViewModel::ownersText(const DeviceTrackRoutingPlan& plan) { return joined(plan.ownerLabels); }

std::optional<QString> RoutesViewModel::routedOwnersText(const DeviceTrackRoutingPlan& plan) {
    if (!plan.routedOwnerLabels || *plan.routedOwnerLabels == plan.ownerLabels) return std::nullopt;
    return joined(*plan.routedOwnerLabels);
}

QString RoutesViewModel::liveInputText(const std::optional<DeviceTrackRoutingStatus>& status) {
    if (!status || status->actualInput.empty()) return QString::fromUtf8("—");
    return qt(status->actualInput);
}

bool RoutesViewModel::armed(const std::optional<DeviceTrackRoutingStatus>& status) {
    return status && status->armed;
}

QString RoutesViewModel::routeLabel(const BridgeDevice& device, const AdminSnapshot& snapshot) {
    if (!snapshot.bridge.liveLinked()) return QStringLiteral("LIVE OFFLINE");
    if (!device.assignedTrackLiveId) return QStringLiteral("UNASSIGNED");
    const std::int64_t assigned = *device.assignedTrackLiveId;
    bool trackExists = false;
    for (const LiveTrack& track : snapshot.liveTracks) trackExists = trackExists || track.liveId == assigned;
    if (!trackExists) return QStringLiteral("TRACK MISSING");
    if (!device.connected) return QStringLiteral("DEVICE OFFLINE");
    if (!automaticRouting(snapshot)) return QStringLiteral("LAYER SELECTED");

    const DeviceTrackRoutingPlan* plan = nullptr;
    if (snapshot.bridge.deviceRoutingPlan) {
        for (const DeviceTrackRoutingPlan& candidate : *snapshot.bridge.deviceRoutingPlan) {
            if (candidate.trackLiveId == assigned) {
                plan = &candidate;
                break;
            }
        }
    }
    if (plan == nullptr) return QStringLiteral("WAITING");
    if (plan->routedDeviceIds) {
        bool routed = false;
        for (const std::string& id : *plan->routedDeviceIds) routed = routed || id == device.deviceId;
        if (!routed) return QStringLiteral("NOT ROUTED");
    }
    const std::optional<DeviceTrackRoutingStatus> found = status(snapshot, *plan);
    if (!found) return QStringLiteral("WAITING FOR LIVE");
    const std::string& s = found->status;
    if (s == "ready") return plan->routingMode == "shared" ? QStringLiteral("SHARED") : QStringLiteral("ROUTED");
    if (s == "waiting_for_port") return QStringLiteral("PORT MISSING");
    if (s == "manual_override") return QStringLiteral("MANUAL OVERRIDE");
    if (s == "arm_failed") return QStringLiteral("ARM FAILED");
    if (s == "missing_track") return QStringLiteral("TRACK MISSING");
    if (s == "unsupported_track") return QStringLiteral("UNSUPPORTED TRACK");
    return QStringLiteral("WAITING FOR LIVE");
}

RouteTint RoutesViewModel::routeTint(const QString& label) {
    if (label == QLatin1String("ROUTED") || label == QLatin1String("SHARED")) return RouteTint::teal;
    if (label == QLatin1String("NOT ROUTED") || label == QLatin1String("PORT MISSING") ||
        label == QLatin1String("MANUAL OVERRIDE")) {
        return RouteTint::yellow;
    }
    if (label == QLatin1String("TRACK MISSING") || label == QLatin1String("ARM FAILED") ||
        label == QLatin1String("UNSUPPORTED TRACK")) {
        return RouteTint::red;
    }
    if (label == QLatin1String("LAYER SELECTED")) return RouteTint::violet;
    return RouteTint::secondary;
}

QString RoutesViewModel::instrumentName(const BridgeDevice& device) {
    for (const MidiEndpoint& endpoint : device.endpoints) {
        if (endpoint.role == "instrument") return qt(endpoint.name);
    }
    return QStringLiteral("Instrument");
}

std::vector<TrackChoice> RoutesViewModel::trackChoices(const BridgeDevice& device, const AdminSnapshot& snapshot) {
    std::vector<TrackChoice> choices{{QStringLiteral("No layer selected"), -1}};
    const std::vector<LiveTrack> tracks = midiTracks(snapshot);
    if (device.assignedTrackLiveId) {
        bool offered = false;
        for (const LiveTrack& track : tracks) offered = offered || track.liveId == *device.assignedTrackLiveId;
        if (!offered) {
            choices.push_back({QString::fromUtf8("Unavailable · ") + qt(device.assignedTrackName),
                               *device.assignedTrackLiveId});
        }
    }
    for (const LiveTrack& track : tracks) choices.push_back({qt(track.name), track.liveId});
    return choices;
}

std::int64_t RoutesViewModel::selectedTrackValue(const BridgeDevice& device) {
    return device.assignedTrackLiveId.value_or(-1);
}

std::optional<LiveTrack> RoutesViewModel::trackForValue(const AdminSnapshot& snapshot, std::int64_t value) {
    for (const LiveTrack& track : snapshot.liveTracks) {
        if (track.liveId == value) return track;
    }
    return std::nullopt;
}

}  // namespace norv
