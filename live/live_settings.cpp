#include "live/live_settings.h"

#include "model/settings_keys.h"

#include <QSettings>

namespace norv {

namespace keys = settings_keys;

LiveSettings::LiveSettings(QSettings* settings)
    : owned_(settings ? nullptr : std::make_unique<QSettings>(QString::fromUtf8(keys::organization),
                                                                 QString::fromUtf8(keys::application))),
      settings_(settings ? settings : owned_.get()) {}

LiveSettings::~LiveSettings() = default;

std::optional<QString> LiveSettings::string(QAnyStringView key) const {
    const QVariant value = settings_->value(key);
    // Only strings count; another type stored under the key is treated as absent.
    if (!value.isValid() || value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

std::optional<QString> LiveSettings::selected() const {
    return string(keys::liveSelected);
}

void LiveSettings::setSelected(const QString& id) {
    settings_->setValue(keys::liveSelected, id);
}

std::optional<QString> LiveSettings::custom() const {
    return string(keys::liveCustom);
}

void LiveSettings::setCustom(const QString& bundlePath) {
    settings_->setValue(keys::liveCustom, bundlePath);
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
    return QString::fromUtf8(keys::liveLibraryPrefix) + escaped;
}

}  // namespace norv
