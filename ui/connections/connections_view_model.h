#pragma once
// What the Connections page shows, as values: transport tiles, one line per connected device
// with its link quality, the Remote Control status, the engine's identity, and the rules of the
// connection settings editor (when a draft differs from the saved configuration, when applying
// it restarts the engine, the footer status and the port field).

#include "core/bridge_launch_configuration.h"
#include "model/admin_snapshot.h"

#include <QColor>
#include <QLocale>
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
    QString detail;    // connection detail
    QString linkLine;  // "STATE RTT 4.2 ms · MIDI RTT 3.1 ms · 10 S"
    QColor linkColor;
    std::optional<QString> signalLine;  // "SIGNAL -61 dBm", Bluetooth only
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

struct EditorStatus {
    QString text;
    QString symbol;
    QColor tint;

    bool operator==(const EditorStatus&) const = default;
};

// The engine's own identity as the Connections page shows it.
struct BridgeIdentityLines {
    QString name;     // "Norv Bridge" when the engine names none
    QString details;  // platform · model · reference, the present and non-empty ones

    bool operator==(const BridgeIdentityLines&) const = default;
};

class ConnectionsViewModel {
public:
    ConnectionsViewModel() = delete;

    // Wi-Fi, Bluetooth, iPad / iPhone USB and Android USB, from the engine's report; the
    // draft's port stands in while the engine reports none.
    static std::vector<StatusTileContent> transportTiles(const BridgeHealth& health,
                                                         const QString& bluetoothStatus,
                                                         int draftPort);
    // One entry per connected device, in engine order.
    static std::vector<DeviceLinkContent> deviceLinks(const AdminSnapshot& snapshot);
    static DeviceLinkContent deviceLink(const BridgeDevice& device);
    static QString modeLabel(const BridgeDevice& device);
    static QString connectionDetail(const BridgeDevice& device);
    static QColor tint(const BridgeDevice& device);
    static RemoteControlContent remoteControl(const BridgeHealth& health);
    static QString liveSubtitle(const BridgeHealth& health);
    static std::optional<BridgeIdentityLines> identity(const AdminSnapshot& snapshot);

    // The settings editor.
    // Any of the seven fields differs, both compared in normalised form.
    static bool hasPendingChanges(const BridgeLaunchConfiguration& draft,
                                  const BridgeLaunchConfiguration& saved);
    // A difference other than Bluetooth: applying it restarts the engine.
    static bool needsRestart(const BridgeLaunchConfiguration& draft,
                             const BridgeLaunchConfiguration& saved);
    static EditorStatus status(const BridgeLaunchConfiguration& draft,
                               const BridgeLaunchConfiguration& saved, bool engineRunning);
    static bool applyEnabled(const BridgeLaunchConfiguration& draft,
                             const BridgeLaunchConfiguration& saved, bool externalEngine);
    // What "Reset" puts into the draft.
    static BridgeLaunchConfiguration resetConfiguration();
    // Switching Wi-Fi off also switches Bonjour off; switching it on leaves Bonjour as it is.
    static BridgeLaunchConfiguration withWireless(BridgeLaunchConfiguration draft, bool enabled);

    // The port as a plain integer in the locale, without grouping; any integer parses.
    static QString portText(int port, const QLocale& locale = QLocale());
    static std::optional<int> parsePort(const QString& text, const QLocale& locale = QLocale());
};

}  // namespace norv
