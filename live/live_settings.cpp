#include "live/live_settings.h"

#include <QSettings>

namespace norv {

namespace {
const QString selectedKey = QStringLiteral("bridge.live.selected");
const QString customKey = QStringLiteral("bridge.live.custom");
const QString libraryPrefix = QStringLiteral("bridge.live.library.");
}  // namespace

LiveSettings::LiveSettings(QSettings* settings)
    : owned_(settings ? nullptr : std::make_unique<QSettings>(QStringLiteral("Norv"), QStringLiteral("Norv Bridge"))),
      settings_(settings ? settings : owned_.get()) {}

LiveSettings::~LiveSettings() = default;

std::optional<QString> LiveSettings::string(const QString& key) const {
    const QVariant value = settings_->value(key);
    // Only strings count; another type stored under the key is treated as absent.
    if (!value.isValid() || value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

std::optional<QString> LiveSettings::selected() const {
    return string(selectedKey);
}

void LiveSettings::setSelected(const QString& id) {
    settings_->setValue(selectedKey, id);
}

std::optional<QString> LiveSettings::custom() const {
    return string(customKey);
}

void LiveSettings::setCustom(const QString& bundlePath) {
    settings_->setValue(customKey, bundlePath);
}

std::optional<QString> LiveSettings::library(const QString& installationId) const {
    return string(libraryKey(installationId));
}

void LiveSettings::setLibrary(const QString& installationId, const std::optional<QString>& path) {
    if (path)
        settings_->setValue(libraryKey(installationId), *path);
    else
        settings_->remove(libraryKey(installationId));
}

QString LiveSettings::libraryKey(const QString& installationId) {
    QString escaped;
    escaped.reserve(installationId.size());
    for (QChar c : installationId) {
        if (c == QLatin1Char('%'))
            escaped += QLatin1String("%25");
        else if (c == QLatin1Char('/'))
            escaped += QLatin1String("%2F");
        else if (c == QLatin1Char('\\'))
            escaped += QLatin1String("%5C");
        else
            escaped += c;
    }
    return libraryPrefix + escaped;
}

}  // namespace norv
