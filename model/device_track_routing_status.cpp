#include "model/device_track_routing_status.h"

#include "model/admin_json_reader.h"

namespace norv {

DeviceTrackRoutingStatus DeviceTrackRoutingStatus::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    return DeviceTrackRoutingStatus{
        .trackLiveId = r.get<std::int64_t>("trackLiveId"),
        .trackIndex = r.get<std::optional<std::int64_t>>("trackIndex"),
        .trackName = r.get<std::string>("trackName"),
        .ownerDeviceIds = r.get<std::vector<std::string>>("ownerDeviceIds"),
        .ownerLabels = r.get<std::vector<std::string>>("ownerLabels"),
        .routedDeviceIds = r.get<std::optional<std::vector<std::string>>>("routedDeviceIds"),
        .routedOwnerLabels = r.get<std::optional<std::vector<std::string>>>("routedOwnerLabels"),
        .desiredInput = r.get<std::string>("desiredInput"),
        .routingMode = r.get<std::string>("routingMode"),
        .sharedInputStrategy = r.get<std::optional<std::string>>("sharedInputStrategy"),
        .status = r.get<std::string>("status"),
        .actualInput = r.get<std::string>("actualInput"),
        .portVisible = r.get<bool>("portVisible"),
        .armed = r.get<bool>("armed"),
        .manualOverride = r.get<bool>("manualOverride"),
    };
}

}  // namespace norv
