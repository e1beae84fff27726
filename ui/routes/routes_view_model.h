#pragma once
// What the Routes page derives from one snapshot: the per-track status labels, each device's
// route label, the track picker's choices and the device groups. Pure functions of the snapshot.

#include "model/admin_snapshot.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace norv {

// Theme colours the labels are drawn in.
enum class RouteTint { secondary, teal, yellow, red, violet };

struct TrackChoice {
    QString label;
    std::int64_t value = -1;  // a track's liveId, or -1 for no track
    friend bool operator==(const TrackChoice&, const TrackChoice&) = default;
};

class RoutesViewModel {
public:
    static std::vector<DeviceTrackRoutingPlan> plans(const AdminSnapshot& snapshot);
    // The first status for the plan's track, if any.
    static std::optional<DeviceTrackRoutingStatus> status(const AdminSnapshot& snapshot,
                                                          const DeviceTrackRoutingPlan& plan);
    static std::vector<BridgeDevice> activeDevices(const AdminSnapshot& snapshot);
    static std::vector<BridgeDevice> knownDevices(const AdminSnapshot& snapshot);
    static std::vector<LiveTrack> midiTracks(const AdminSnapshot& snapshot);
    static QString knownDevicesTitle(std::size_t count);  // "Known devices (2)"
    static QString noPlansTitle(const AdminSnapshot& snapshot);

    // One track row.
    static QString trackStatusLabel(const DeviceTrackRoutingPlan& plan,
                                    const std::optional<DeviceTrackRoutingStatus>& status);
    static RouteTint trackStatusTint(const std::optional<DeviceTrackRoutingStatus>& status);
    static QString trackTitle(const DeviceTrackRoutingPlan& plan);
    static QString ownersText(const DeviceTrackRoutingPlan& plan);
    // The routed owners, only when they differ from the owners.
    static std::optional<QString> routedOwnersText(const DeviceTrackRoutingPlan& plan);
    static QString liveInputText(const std::optional<DeviceTrackRoutingStatus>& status);
    static bool armed(const std::optional<DeviceTrackRoutingStatus>& status);

    // One device card.
    static QString routeLabel(const BridgeDevice& device, const AdminSnapshot& snapshot);
    static RouteTint routeTint(const QString& label);
    static QString instrumentName(const BridgeDevice& device);
    // The picker's choices, in order, and the value it shows as chosen.
    static std::vector<TrackChoice> trackChoices(const BridgeDevice& device, const AdminSnapshot& snapshot);
    static std::int64_t selectedTrackValue(const BridgeDevice& device);
    // The track a chosen value stands for (any Live track, not only MIDI ones); none for -1 or
    // an id that no track has.
    static std::optional<LiveTrack> trackForValue(const AdminSnapshot& snapshot, std::int64_t value);
    // Whether choosing `value` is a change worth sending: not the value already in force.
    static bool choiceChangesAssignment(const BridgeDevice& device, std::int64_t value) {
        return value != selectedTrackValue(device);
    }
    static bool trackPickerEnabled(bool canChange, bool linked, bool pendingEmpty) {
        return canChange && linked && pendingEmpty;
    }
};

}  // namespace norv
