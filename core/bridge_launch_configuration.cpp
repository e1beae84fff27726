#include "core/bridge_launch_configuration.h"

#include <QSettings>

namespace norv {
namespace {

const QString kWireless = QStringLiteral("bridge.connections.wirelessEnabled");
const QString kBonjour = QStringLiteral("bridge.connections.bonjourEnabled");
const QString kIosUSB = QStringLiteral("bridge.connections.iosUSBEnabled");
const QString kAndroidUSB = QStringLiteral("bridge.connections.androidUSBEnabled");
const QString kPublicPort = QStringLiteral("bridge.connections.publicPort");
const QString kBluetooth = QStringLiteral("bridge.connections.bluetoothEnabled");
const QString kApproval = QStringLiteral("bridge.connections.requireDeviceApproval");

bool readBool(const QSettings& settings, const QString& key, bool absent) {
    return settings.contains(key) ? settings.value(key).toBool() : absent;
}

}  // namespace

BridgeLaunchConfiguration BridgeLaunchConfiguration::load(const QSettings& defaults) {
    BridgeLaunchConfiguration value;
    value.wirelessEnabled = readBool(defaults, kWireless, true);
    value.bonjourEnabled = readBool(defaults, kBonjour, true);
    value.iosUSBEnabled = readBool(defaults, kIosUSB, true);
    value.androidUSBEnabled = readBool(defaults, kAndroidUSB, true);
    value.publicPort = defaults.contains(kPublicPort) ? defaults.value(kPublicPort).toInt() : 9311;
    value.bluetoothEnabled = readBool(defaults, kBluetooth, false);
    return value.normalized();
}

BridgeLaunchConfiguration BridgeLaunchConfiguration::loadStandard() {
    return load(*standardSettings());
}

void BridgeLaunchConfiguration::save(QSettings& defaults) const {
    defaults.setValue(kWireless, wirelessEnabled);
    defaults.setValue(kBonjour, wirelessEnabled && bonjourEnabled);
    defaults.setValue(kIosUSB, iosUSBEnabled);
    defaults.setValue(kAndroidUSB, androidUSBEnabled);
    defaults.setValue(kPublicPort, publicPort);
    defaults.setValue(kBluetooth, bluetoothEnabled);
    defaults.setValue(kApproval, true);
}

BridgeLaunchConfiguration BridgeLaunchConfiguration::normalized() const {
    BridgeLaunchConfiguration value = *this;
    value.bonjourEnabled = wirelessEnabled && bonjourEnabled;
    value.requireDeviceApproval = true;
    return value;
}

std::unique_ptr<QSettings> BridgeLaunchConfiguration::standardSettings() {
    return std::make_unique<QSettings>(QStringLiteral("Norv"), QStringLiteral("Norv Bridge"));
}

}  // namespace norv
