#include "ui/connections/connections_view_model.h"

#include "model/text_rules.h"
#include "ui/theme/norv_theme.h"

#include <QStringList>

namespace norv {

namespace {

bool flag(const std::optional<bool>& value) { return value.value_or(false); }

QString text(const std::string& value) { return QString::fromStdString(value); }

// "%.Nf" and a unit: halves round the way printf rounds them (4.25 gives "4.2"), and the point
// stays a point in every locale.
QString formatted(double value, int decimals, const char* unit) {
    return QString::fromStdString(text_rules::fixedDecimal(value, decimals)) + QLatin1String(unit);
}

// A probe's average round trip, shown only for a fresh measurement with at least one sample.
QString probeTime(const std::optional<DeviceLinkQuality>& quality,
                  const DeviceLinkQuality::Probe DeviceLinkQuality::*probe) {
    if (!quality || !quality->fresh) return QStringLiteral("—");
    const DeviceLinkQuality::Probe& p = (*quality).*probe;
    if (!p.avg || !p.n || *p.n < 1) return QStringLiteral("—");
    return formatted(*p.avg, 1, " ms");
}

}  // namespace

std::vector<StatusTileContent> ConnectionsViewModel::transportTiles(const BridgeHealth& health,
                                                                    const QString& bluetoothStatus,
                                                                    int draftPort) {
    const bool wireless = flag(health.wirelessEnabled);
    const bool usb = flag(health.usbTunnelEnabled);
    const bool adb = flag(health.androidAdbTunnelEnabled);
    const qint64 port = health.publicPort ? *health.publicPort : draftPort;
    return {
        {QStringLiteral("Wi-Fi"),
         wireless ? QStringLiteral("LISTENING") : QStringLiteral("DISABLED"),
         wireless ? QStringLiteral("TCP ") + QString::number(port)
                  : QStringLiteral("USB remains local"),
         QStringLiteral("wifi"), wireless ? NorvTheme::teal() : NorvTheme::secondary()},
        {QStringLiteral("Bluetooth"), bluetoothStatus, QStringLiteral("Direct · iPad / Android"),
         QStringLiteral("antenna.radiowaves.left.and.right"),
         bluetoothStatus == QStringLiteral("DISCOVERABLE") ? NorvTheme::violet()
                                                           : NorvTheme::secondary()},
        {QStringLiteral("iPad / iPhone USB"),
         usb ? QStringLiteral("ENABLED") : QStringLiteral("OFF"),
         QStringLiteral("Native USB tunnel"), QStringLiteral("cable.connector"),
         usb ? NorvTheme::yellow() : NorvTheme::secondary()},
        {QStringLiteral("Android USB"), adb ? QStringLiteral("ENABLED") : QStringLiteral("OFF"),
         QStringLiteral("ADB tunnel"), QStringLiteral("cable.connector.horizontal"),
         adb ? NorvTheme::yellow() : NorvTheme::secondary()},
    };
}

std::vector<DeviceLinkContent> ConnectionsViewModel::deviceLinks(const AdminSnapshot& snapshot) {
    std::vector<DeviceLinkContent> result;
    for (const BridgeDevice& device : snapshot.devices)
        if (device.connected) result.push_back(deviceLink(device));
    return result;
}

DeviceLinkContent ConnectionsViewModel::deviceLink(const BridgeDevice& device) {
    const std::optional<DeviceLinkQuality>& quality = device.linkQuality;
    const qint64 window = quality ? quality->window : 10;
    const bool warn = quality && (!quality->fresh || quality->syncPendingMs >= 3000.0 ||
                                  (quality->state.miss && *quality->state.miss >= 1));
    std::optional<QString> signal;
    if (device.activeTransport == "bluetooth") {
        const QString dbm = quality && quality->fresh && quality->rssi
                                ? formatted(*quality->rssi, 0, " dBm")
                                : QStringLiteral("—");
        signal = QStringLiteral("SIGNAL ") + dbm;
    }
    return DeviceLinkContent{
        text(device.deviceId),
        text(device.platformSymbol()),
        tint(device),
        text(device.label),
        connectionDetail(device),
        QStringLiteral("STATE RTT ") + probeTime(quality, &DeviceLinkQuality::state) +
            QStringLiteral(" · MIDI RTT ") + probeTime(quality, &DeviceLinkQuality::midi) +
            QStringLiteral(" · ") + QString::number(window) + QStringLiteral(" S"),
        warn ? NorvTheme::yellow() : NorvTheme::secondary(),
        signal,
        text(device.transportLabel()),
        modeLabel(device),
    };
}

QString ConnectionsViewModel::modeLabel(const BridgeDevice& device) {
    const std::string mode = text_rules::lowercased(
        device.connectionMode.value_or(device.lastConnectionMode.value_or("unknown")));
    if (mode == "auto_usb") return QStringLiteral("AUTO");
    if (mode == "auto_lan") return QStringLiteral("WI-FI AUTO");
    if (mode == "manual") return QStringLiteral("WI-FI MANUAL");
    if (mode == "usb") return QStringLiteral("USB ONLY");
    if (mode == "bluetooth") return QStringLiteral("DIRECT");
    return QStringLiteral("MODE UNKNOWN");
}

QString ConnectionsViewModel::connectionDetail(const BridgeDevice& device) {
    if (device.activeTransport == "bluetooth") return QStringLiteral("Direct Bluetooth");
    if (device.transportLabel().find("USB") != std::string::npos) {
        return QStringLiteral("Dedicated USB tunnel · ") + QString::number(device.sessionCount) +
               (device.sessionCount == 1 ? QStringLiteral(" session")
                                         : QStringLiteral(" sessions"));
    }
    if (!device.activeAddresses || device.activeAddresses->empty())
        return QStringLiteral("No active address");
    QStringList addresses;
    for (const std::string& address : *device.activeAddresses) addresses.append(text(address));
    return addresses.join(QStringLiteral(" · "));
}

QColor ConnectionsViewModel::tint(const BridgeDevice& device) {
    const std::string transport = text_rules::lowercased(device.activeTransport.value_or(""));
    if (transport == "usb") return NorvTheme::yellow();
    if (transport == "wifi") return NorvTheme::teal();
    if (transport == "bluetooth") return NorvTheme::violet();
    return NorvTheme::secondary();
}

RemoteControlContent ConnectionsViewModel::remoteControl(const BridgeHealth& health) {
    const bool linked = health.liveLinked();
    RemoteControlContent content;
    content.detail =
        (health.remoteControlMidiSource ? text(*health.remoteControlMidiSource)
                                        : QStringLiteral("Norv Session Remote Control")) +
        QStringLiteral(" · ") + QString::number(health.fastControlMidiSentCount.value_or(0)) +
        QStringLiteral(" sent / ") +
        QString::number(health.fastControlMidiReceivedCount.value_or(0)) +
        QStringLiteral(" Live / ") +
        QString::number(health.fastControlMidiFallbackCount.value_or(0)) +
        QStringLiteral(" fallback");
    content.liveText = linked ? QStringLiteral("LIVE LINKED") : QStringLiteral("WAITING FOR LIVE");
    content.liveColor = linked ? NorvTheme::teal() : NorvTheme::secondary();
    if (flag(health.fastControlMidiActive)) {
        content.eventStatus = QStringLiteral("EVENT LANE ACTIVE");
        content.eventColor = NorvTheme::teal();
    } else if (flag(health.remoteControlMidiAvailable)) {
        content.eventStatus = QStringLiteral("EVENT LANE READY");
        content.eventColor = NorvTheme::yellow();
    } else {
        content.eventStatus = QStringLiteral("EVENT LANE OFF");
        content.eventColor = NorvTheme::secondary();
    }
    return content;
}

bool ConnectionsViewModel::hasPendingChanges(const BridgeLaunchConfiguration& draft,
                                             const BridgeLaunchConfiguration& saved) {
    return draft.normalized() != saved.normalized();
}

bool ConnectionsViewModel::needsRestart(const BridgeLaunchConfiguration& draft,
                                        const BridgeLaunchConfiguration& saved) {
    BridgeLaunchConfiguration comparable = saved.normalized();
    comparable.bluetoothEnabled = draft.bluetoothEnabled;
    return draft.normalized() != comparable;
}

EditorStatus ConnectionsViewModel::status(const BridgeLaunchConfiguration& draft,
                                          const BridgeLaunchConfiguration& saved,
                                          bool engineRunning) {
    if (hasPendingChanges(draft, saved)) {
        return {needsRestart(draft, saved) ? QStringLiteral("Restart required")
                                           : QStringLiteral("Changes pending"),
                QStringLiteral("arrow.clockwise"), NorvTheme::yellow()};
    }
    return {engineRunning ? QStringLiteral("Configuration applied")
                          : QStringLiteral("Saved configuration"),
            QStringLiteral("checkmark.circle"), NorvTheme::teal()};
}

bool ConnectionsViewModel::applyEnabled(const BridgeLaunchConfiguration& draft,
                                        const BridgeLaunchConfiguration& saved,
                                        bool externalEngine) {
    return hasPendingChanges(draft, saved) && !externalEngine;
}

BridgeLaunchConfiguration ConnectionsViewModel::resetConfiguration() {
    return BridgeLaunchConfiguration{};
}

BridgeLaunchConfiguration ConnectionsViewModel::withWireless(BridgeLaunchConfiguration draft,
                                                             bool enabled) {
    draft.wirelessEnabled = enabled;
    if (!enabled) draft.bonjourEnabled = false;
    return draft;
}

QString ConnectionsViewModel::portText(int port, const QLocale& locale) {
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    return plain.toString(port);
}

std::optional<int> ConnectionsViewModel::parsePort(const QString& text, const QLocale& locale) {
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const int value = plain.toInt(text.trimmed(), &ok);
    if (!ok) return std::nullopt;
    return value;
}

QString ConnectionsViewModel::liveSubtitle(const BridgeHealth& health) {
    return health.liveLinked() ? QStringLiteral("LIVE CONNECTED") : QStringLiteral("LIVE OFFLINE");
}

std::optional<BridgeIdentityLines> ConnectionsViewModel::identity(const AdminSnapshot& snapshot) {
    if (!snapshot.deviceAccess) return std::nullopt;
    const DeviceAccessSnapshot& access = *snapshot.deviceAccess;
    QStringList parts;
    for (const auto* value : {&access.bridgePlatform, &access.bridgeModel, &access.bridgeReference})
        if (*value && !(*value)->empty()) parts.append(QString::fromStdString(**value));
    return BridgeIdentityLines{access.bridgeName ? QString::fromStdString(*access.bridgeName)
                                                 : QStringLiteral("Norv Bridge"),
                               parts.join(QStringLiteral(" · "))};
}

}  // namespace norv
