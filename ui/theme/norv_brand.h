#pragma once
// The two brand images, read from the application's resource folder.

#include <QIcon>
#include <QString>
#include <optional>

namespace norv {

class NorvBrand {
public:
    NorvBrand() = delete;

    // "<folder of the executable>/../share/norv-bridge".
    static QString resourceDirectory();

    // "NorvAppIcon.svg"; nothing when missing or unreadable. Loaded once.
    static const std::optional<QIcon>& appIcon();
    // "NorvMenuBarIcon.svg" as an 18 × 18 template (mask) image; an empty one when missing.
    static const QIcon& menuBarIcon();

    // The same, uncached, from any folder.
    static std::optional<QIcon> loadAppIcon(const QString& directory);
    static QIcon loadMenuBarIcon(const QString& directory);

    static constexpr int menuBarIconSize = 18;
};

}  // namespace norv
