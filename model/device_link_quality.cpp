#include "model/device_link_quality.h"

#include "model/admin_json_reader.h"

namespace norv {

DeviceLinkQuality::Probe DeviceLinkQuality::Probe::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    return Probe{
        .avg = r.get<std::optional<double>>("avg"),
        .max = r.get<std::optional<double>>("max"),
        .n = r.get<std::optional<std::int64_t>>("n"),
        .miss = r.get<std::optional<std::int64_t>>("miss"),
    };
}

DeviceLinkQuality DeviceLinkQuality::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    return DeviceLinkQuality{
        .window = r.get<std::int64_t>("window"),
        .state = r.get<Probe>("state"),
        .midi = r.get<Probe>("midi"),
        .rssi = r.get<std::optional<double>>("rssi"),
        .fresh = r.get<bool>("fresh"),
        .syncPendingMs = r.get<double>("syncPendingMs"),
        .ageMs = r.get<double>("ageMs"),
    };
}

}  // namespace norv
