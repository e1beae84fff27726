#include "model/device_access_request.h"

#include "model/admin_json_reader.h"

namespace norv {

DeviceAccessRequest DeviceAccessRequest::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    return DeviceAccessRequest{
        .deviceId = r.get<std::string>("deviceId"),
        .deviceLabel = r.get<std::optional<std::string>>("deviceLabel"),
        .platform = r.get<std::optional<std::string>>("platform"),
        .certificateSha256 = r.get<std::optional<std::string>>("certificateSha256"),
    };
}

}  // namespace norv
