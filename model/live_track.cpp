#include "model/live_track.h"

#include "model/admin_json_reader.h"

namespace norv {

LiveTrack LiveTrack::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    return LiveTrack{
        .liveId = r.get<std::int64_t>("liveId"),
        .index = r.get<std::optional<std::int64_t>>("index"),
        .name = r.get<std::string>("name"),
        .color = r.get<std::optional<std::string>>("color"),
        .canBeArmed = r.get<bool>("canBeArmed"),
        .hasMidiInput = r.get<std::optional<bool>>("hasMidiInput"),
        .isArmed = r.get<bool>("isArmed"),
    };
}

}  // namespace norv
