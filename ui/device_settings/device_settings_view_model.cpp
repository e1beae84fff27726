#include "ui/device_settings/device_settings_view_model.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>

namespace norv {

DeviceSettingsViewModel::DeviceSettingsViewModel(const AdminSnapshot& snapshot, bool canChange,
                                                 const std::set<std::string>& pendingActions)
    : snapshot_(snapshot), canChange_(canChange), pendingActions_(pendingActions) {}

std::vector<SettingsProfileRow> DeviceSettingsViewModel::rows() const {
    std::vector<SettingsProfileRow> result;
    if (!snapshot_.uiPreferences) return result;
    for (const SharedDeviceSettingsProfile& profile : snapshot_.uiPreferences->profiles) {
        result.push_back({QString::fromStdString(profile.scope), QString::fromStdString(profile.title()),
                          QString::fromStdString(profile.source),
                          QString::number(profile.count) + QStringLiteral(" settings"),
                          timeOfDay(profile.receivedAt)});
    }
    return result;
}

bool DeviceSettingsViewModel::pushAllowed() const {
    return canChange_ && pendingActions_.empty() &&
           std::any_of(snapshot_.devices.begin(), snapshot_.devices.end(),
                       [](const BridgeDevice& device) { return device.connected; });
}

std::optional<QString> DeviceSettingsViewModel::resultLabel() const {
    if (!snapshot_.uiPreferences) return std::nullopt;
    const std::string label = snapshot_.uiPreferences->result.label();
    if (label.empty()) return std::nullopt;
    return QString::fromStdString(label);
}

QString DeviceSettingsViewModel::timeOfDay(double receivedAt) {
    const QDateTime moment =
        QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(receivedAt * 1000.0), Qt::UTC).toLocalTime();
    return QLocale().toString(moment.time(), QLocale::ShortFormat);
}

}  // namespace norv
