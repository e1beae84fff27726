#pragma once
// The rules of the connection settings editor: when a draft differs from the saved
// configuration, when applying it restarts the engine, the footer status and the port field.

#include "core/bridge_launch_configuration.h"
#include "model/admin_snapshot.h"

#include <QColor>
#include <QLocale>
#include <QString>
#include <optional>

namespace norv {

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

class ConnectionsEditorModel {
public:
    ConnectionsEditorModel() = delete;

    // Any of the seven fields differs, both compared in normalised form.
    static bool hasPendingChanges(const BridgeLaunchConfiguration& draft, const BridgeLaunchConfiguration& saved);
    // A difference other than Bluetooth: applying it restarts the engine.
    static bool needsRestart(const BridgeLaunchConfiguration& draft, const BridgeLaunchConfiguration& saved);
    static EditorStatus status(const BridgeLaunchConfiguration& draft, const BridgeLaunchConfiguration& saved,
                               bool engineRunning);
    static bool applyEnabled(const BridgeLaunchConfiguration& draft, const BridgeLaunchConfiguration& saved,
                             bool externalEngine);
    // What "Reset" puts into the draft.
    static BridgeLaunchConfiguration resetConfiguration();
    // Switching Wi-Fi off also switches Bonjour off; switching it on leaves Bonjour as it is.
    static BridgeLaunchConfiguration withWireless(BridgeLaunchConfiguration draft, bool enabled);

    // The port as a plain integer in the locale, without grouping; any integer parses.
    static QString portText(int port, const QLocale& locale = QLocale());
    static std::optional<int> parsePort(const QString& text, const QLocale& locale = QLocale());

    static QString liveSubtitle(const BridgeHealth& health);
    static std::optional<BridgeIdentityLines> identity(const AdminSnapshot& snapshot);
};

}  // namespace norv
