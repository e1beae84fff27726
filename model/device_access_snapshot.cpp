#include "model/device_access_snapshot.h"

#include "model/admin_json_reader.h"

namespace norv {

DeviceAccessSnapshot DeviceAccessSnapshot::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    using Text = std::optional<std::string>;
    return DeviceAccessSnapshot{
        .bridgeId = r.get<Text>("bridgeId"),
        .bridgeName = r.get<Text>("bridgeName"),
        .bridgePlatform = r.get<Text>("bridgePlatform"),
        .bridgeModel = r.get<Text>("bridgeModel"),
        .bridgeReference = r.get<Text>("bridgeReference"),
        .requireApproval = r.get<bool>("requireApproval"),
        .requireCertificate = r.get<std::optional<bool>>("requireCertificate"),
        .certificates = r.get<std::optional<std::map<std::string, std::string>>>("certificates"),
        .requests = r.get<std::vector<DeviceAccessRequest>>("requests"),
        .forgotten = r.get<std::vector<std::string>>("forgotten"),
        .revokedDevices = r.get<std::optional<std::vector<RevokedDevice>>>("revokedDevices"),
    };
}

RevokedDevice DeviceAccessSnapshot::revokedDevice(std::string_view deviceId) const {
    if (revokedDevices) {
        for (const RevokedDevice& device : *revokedDevices) {
            if (device.deviceId == deviceId) return device;
        }
    }
    return RevokedDevice{.deviceId = std::string(deviceId)};
}

}  // namespace norv
