#include "ui/devices/devices_view_model.h"

#include <algorithm>

namespace norv {

DeviceGroups DevicesViewModel::groups(const AdminSnapshot& snapshot) {
    DeviceGroups result;
    for (const BridgeDevice& device : snapshot.devices) {
        if (device.connected) result.connected.push_back(device);
        else if (device.archived.value_or(false)) result.archived.push_back(device);
        else result.known.push_back(device);
    }
    return result;
}

std::vector<RevokedDevice> DevicesViewModel::revoked(const AdminSnapshot& snapshot) {
    std::vector<RevokedDevice> result;
    if (!snapshot.deviceAccess) return result;
    for (const std::string& id : snapshot.deviceAccess->forgotten)
        result.push_back(snapshot.deviceAccess->revokedDevice(id));
    return result;
}

bool DevicesViewModel::cleanEnabled(const AdminSnapshot& snapshot, bool canChange,
                                    const std::set<std::string>& pending) {
    if (!canChange || !pending.empty()) return false;
    const std::size_t count = snapshot.cleanupDeviceIDs().size();
    return count > 0 && count <= cleanupLimit;
}

QString DevicesViewModel::cleanupTitle(const std::optional<std::vector<std::string>>& selection) {
    return QStringLiteral("Clean %1 device records?").arg(selection ? selection->size() : 0);
}

QString DevicesViewModel::cleanupMessage() {
    return QStringLiteral(
        "Permanently remove archived devices and revoked access records, including saved names, assignments and "
        "pairing. These devices will need to pair again.");
}

QString DevicesViewModel::connectedEmptyDetail(const AdminConnectionState& state) {
    return state.isConnected() ? QString() : QStringLiteral("Bridge unavailable");
}

QString DevicesViewModel::groupTitle(const QString& name, std::size_t count) {
    return QStringLiteral("%1 (%2)").arg(name).arg(count);
}

bool DevicesViewModel::certificatesRequired(const AdminSnapshot& snapshot) {
    return snapshot.deviceAccess && snapshot.deviceAccess->requireCertificate.value_or(false);
}

QString DevicesViewModel::revokedButtonTitle(const AdminSnapshot& snapshot) {
    return certificatesRequired(snapshot) ? QStringLiteral("Allow pairing") : QStringLiteral("Allow again");
}

DeviceAccessAction DevicesViewModel::revokedAction(const AdminSnapshot& snapshot) {
    return certificatesRequired(snapshot) ? DeviceAccessAction::pair : DeviceAccessAction::allow;
}

}  // namespace norv
