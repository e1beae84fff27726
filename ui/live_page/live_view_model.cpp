#include "ui/live_page/live_view_model.h"

#include <QDir>
#include <QStringList>

namespace norv {

ScriptRuntimeState LiveViewModel::initialState() {
    return ScriptRuntimeState{QString::fromUtf8("Checking…"), QString(), false};
}

std::vector<LiveViewModel::PickerEntry> LiveViewModel::pickerEntries(
    const std::vector<LiveInstallation>& installations) {
    std::vector<PickerEntry> entries;
    if (installations.empty()) entries.push_back({QStringLiteral("No Live detected"), QString()});
    for (const LiveInstallation& installation : installations) {
        entries.push_back({installation.name + QString::fromUtf8(" · ") + installation.version, installation.id()});
    }
    return entries;
}

QString LiveViewModel::libraryText(const std::optional<QString>& library) {
    return library ? *library : QStringLiteral("User Library not selected");
}

std::optional<QString> LiveViewModel::scriptFolder(const std::optional<QString>& library) {
    if (!library) return std::nullopt;
    return QDir(*library).filePath(QStringLiteral("Remote Scripts/NorvSession"));
}

QString LiveViewModel::bundledText(const std::optional<ScriptDiskState>& disk) {
    if (!disk) return QStringLiteral("Unavailable");
    return QStringLiteral("NorvSession ") + QString::fromStdString(disk->version);
}

QString LiveViewModel::installedText(const std::optional<ScriptDiskState>& disk) {
    if (disk && disk->current) return QStringLiteral("Files verified");
    if (disk && disk->exists) return QStringLiteral("Update or repair available");
    return QStringLiteral("Not installed");
}

QString LiveViewModel::installButtonTitle(const std::optional<ScriptDiskState>& disk) {
    if (disk && disk->current) return QStringLiteral("Up to date");
    if (disk && disk->exists) return QStringLiteral("Update Remote Script");
    return QStringLiteral("Install Remote Script");
}

bool LiveViewModel::installEnabled(bool busy, const std::optional<ScriptDiskState>& disk,
                                   const std::optional<QString>& library,
                                   const std::optional<LiveInstallation>& selected) {
    return !busy && disk && !disk->current && library && selected && selected->supported();
}

QString LiveViewModel::routeStatusText(const std::optional<std::string>& status) {
    if (!status) return QStringLiteral("Unavailable");
    QStringList words = QString::fromStdString(*status).replace(QLatin1Char('_'), QLatin1Char(' ')).split(QLatin1Char(' '));
    for (QString& word : words) {
        if (word.isEmpty()) continue;
        word = word.left(1).toUpper() + word.mid(1).toLower();
    }
    return words.join(QLatin1Char(' '));
}

}  // namespace norv
