#pragma once

#include <QAnyStringView>
#include <QString>

#include <memory>
#include <optional>

class QSettings;

namespace norv {

// The Live integration's persisted choices, as strings under "bridge.live." keys.
// Keys that hold a path are escaped so the settings store does not split them into groups.
class LiveSettings {
public:
    // Uses `settings` when given (not owned), otherwise the application's own settings
    // (organisation "Norv", application "Norv Bridge").
    explicit LiveSettings(QSettings* settings = nullptr);
    ~LiveSettings();
    LiveSettings(const LiveSettings&) = delete;
    LiveSettings& operator=(const LiveSettings&) = delete;

    std::optional<QString> selected() const;
    void setSelected(const QString& id);

    std::optional<QString> custom() const;
    void setCustom(const QString& bundlePath);

    // The User Library the user chose for one installation; absent means the detected one.
    std::optional<QString> library(const QString& installationId) const;
    void setLibrary(const QString& installationId, const std::optional<QString>& path);

    // "bridge.live.library." followed by the installation id, with "%", "/" and "\" percent-encoded.
    static QString libraryKey(const QString& installationId);

private:
    std::optional<QString> string(QAnyStringView key) const;

    std::unique_ptr<QSettings> owned_;
    QSettings* settings_;
};

}  // namespace norv
