#pragma once
// The read-only panels of the Connections page as values: transport tiles, one line per
// connected device with its link quality, and the Remote Control status.

#include "model/admin_snapshot.h"

#include <QColor>
#include <QString>
#include <optional>
#include <vector>

namespace norv {

struct StatusTileContent {
    QString title;
    QString value;
    QString detail;
    QString symbol;
    QColor tint;

    bool operator==(const StatusTileContent&) const = default;
};

struct DeviceLinkContent {
    QString deviceId;
    QString symbol;
    QColor tint;
    QString label;
    QString detail;                    // connection detail
    QString linkLine;                  // "STATE RTT 4.2 ms · MIDI RTT 3.1 ms · 10 S"
    QColor linkColor;
    std::optional<QString> signalLine; // "SIGNAL -61 dBm", Bluetooth only
    QString transport;
    QString mode;

    bool operator==(const DeviceLinkContent&) const = default;
};

struct RemoteControlContent {
    QString detail;
    QString liveText;
    QColor liveColor;
    QString eventStatus;
    QColor eventColor;

    bool operator==(const RemoteControlContent&) const = default;
};

class ConnectionStatusModel {
public:
    ConnectionStatusModel() = delete;

    // Wi-Fi, Bluetooth, iPad / iPhone USB and Android USB, from the engine's report; the
    // draft's port stands in while the engine reports none.
    static std::vector<StatusTileContent> transportTiles(const BridgeHealth& health, const QString& bluetoothStatus,
                                                         int draftPort);
    // One entry per connected device, in engine order.
    static std::vector<DeviceLinkContent> deviceLinks(const AdminSnapshot& snapshot);
    static DeviceLinkContent deviceLink(const BridgeDevice& device);
    static QString modeLabel(const BridgeDevice& device);
    static QString connectionDetail(const BridgeDevice& device);
    static QColor tint(const BridgeDevice& device);
    static RemoteControlContent remoteControl(const BridgeHealth& health);
};

}  // namespace norv
