#include "ui/connections/connections_editor_model.h"

#include "ui/overview/overview_view_model.h"
#include "ui/theme/norv_theme.h"

#include <QStringList>

namespace norv {

bool ConnectionsEditorModel::hasPendingChanges(const BridgeLaunchConfiguration& draft,
                                               const BridgeLaunchConfiguration& saved) {
    return draft.normalized() != saved.normalized();
}

bool ConnectionsEditorModel::needsRestart(const BridgeLaunchConfiguration& draft,
                                          const BridgeLaunchConfiguration& saved) {
    BridgeLaunchConfiguration comparable = saved.normalized();
    comparable.bluetoothEnabled = draft.bluetoothEnabled;
    return draft.normalized() != comparable;
}

EditorStatus ConnectionsEditorModel::status(const BridgeLaunchConfiguration& draft,
                                            const BridgeLaunchConfiguration& saved, bool engineRunning) {
    if (hasPendingChanges(draft, saved)) {
        return {needsRestart(draft, saved) ? QStringLiteral("Restart required") : QStringLiteral("Changes pending"),
                QStringLiteral("arrow.clockwise"), NorvTheme::yellow()};
    }
    return {engineRunning ? QStringLiteral("Configuration applied") : QStringLiteral("Saved configuration"),
            QStringLiteral("checkmark.circle"), NorvTheme::teal()};
}

bool ConnectionsEditorModel::applyEnabled(const BridgeLaunchConfiguration& draft,
                                          const BridgeLaunchConfiguration& saved, bool externalEngine) {
    return hasPendingChanges(draft, saved) && !externalEngine;
}

BridgeLaunchConfiguration ConnectionsEditorModel::resetConfiguration() {
    return BridgeLaunchConfiguration{};
}

BridgeLaunchConfiguration ConnectionsEditorModel::withWireless(BridgeLaunchConfiguration draft, bool enabled) {
    draft.wirelessEnabled = enabled;
    if (!enabled) draft.bonjourEnabled = false;
    return draft;
}

QString ConnectionsEditorModel::portText(int port, const QLocale& locale) {
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    return plain.toString(port);
}

std::optional<int> ConnectionsEditorModel::parsePort(const QString& text, const QLocale& locale) {
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const int value = plain.toInt(text.trimmed(), &ok);
    if (!ok) return std::nullopt;
    return value;
}

QString ConnectionsEditorModel::liveSubtitle(const BridgeHealth& health) {
    return health.liveLinked() ? QStringLiteral("LIVE CONNECTED") : QStringLiteral("LIVE OFFLINE");
}

std::optional<BridgeIdentityLines> ConnectionsEditorModel::identity(const AdminSnapshot& snapshot) {
    if (!snapshot.deviceAccess) return std::nullopt;
    const DeviceAccessSnapshot& access = *snapshot.deviceAccess;
    QStringList parts;
    for (const auto* value : {&access.bridgePlatform, &access.bridgeModel, &access.bridgeReference})
        if (*value && !(*value)->empty()) parts.append(QString::fromStdString(**value));
    return BridgeIdentityLines{
        access.bridgeName ? QString::fromStdString(*access.bridgeName) : QStringLiteral("Norv Bridge"),
        parts.join(QStringLiteral(" · "))};
}

}  // namespace norv
