#include "core/bridge_launch_configuration.h"

#include "model/settings_keys.h"

#include <QSettings>

namespace norv {
namespace {

namespace keys = settings_keys;

bool readBool(const QSettings& settings, const char* key, bool absent) {
    return settings.contains(key) ? settings.value(key).toBool() : absent;
}

}  // namespace

BridgeLaunchConfiguration BridgeLaunchConfiguration::load(const QSettings& defaults) {
    BridgeLaunchConfiguration value;
    value.wirelessEnabled = readBool(defaults, keys::wirelessEnabled, true);
    value.bonjourEnabled = readBool(defaults, keys::bonjourEnabled, true);
    value.iosUSBEnabled = readBool(defaults, keys::iosUSBEnabled, true);
    value.androidUSBEnabled = readBool(defaults, keys::androidUSBEnabled, true);
    value.publicPort = defaults.contains(keys::publicPort) ? defaults.value(keys::publicPort).toInt() : 9311;
    value.bluetoothEnabled = readBool(defaults, keys::bluetoothEnabled, false);
    return value.normalized();
}

BridgeLaunchConfiguration BridgeLaunchConfiguration::loadStandard() {
    return load(*standardSettings());
}

void BridgeLaunchConfiguration::save(QSettings& defaults) const {
    defaults.setValue(keys::wirelessEnabled, wirelessEnabled);
    defaults.setValue(keys::bonjourEnabled, wirelessEnabled && bonjourEnabled);
    defaults.setValue(keys::iosUSBEnabled, iosUSBEnabled);
    defaults.setValue(keys::androidUSBEnabled, androidUSBEnabled);
    defaults.setValue(keys::publicPort, publicPort);
    defaults.setValue(keys::bluetoothEnabled, bluetoothEnabled);
    defaults.setValue(keys::requireDeviceApproval, true);
}

BridgeLaunchConfiguration BridgeLaunchConfiguration::normalized() const {
    BridgeLaunchConfiguration value = *this;
    value.bonjourEnabled = wirelessEnabled && bonjourEnabled;
    value.requireDeviceApproval = true;
    return value;
}

std::unique_ptr<QSettings> BridgeLaunchConfiguration::standardSettings() {
    return std::make_unique<QSettings>(QString::fromUtf8(keys::organization), QString::fromUtf8(keys::application));
}

}  // namespace norv
