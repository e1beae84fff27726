#include "ui/theme/norv_brand.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QSvgRenderer>

namespace norv {

namespace {

std::optional<QString> resourceFile(const QString& directory, const QString& name) {
    const QString path = QDir(directory).filePath(name);
    if (!QFileInfo(path).isFile()) return std::nullopt;
    return path;
}

QPixmap renderSvg(const QString& path, int size) {
    QSvgRenderer renderer(path);
    if (!renderer.isValid()) return {};
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QSizeF natural = renderer.defaultSize();
    if (natural.isEmpty()) natural = QSizeF(size, size);
    // Fit inside the square, keeping the aspect ratio, centred.
    const QSizeF fitted = natural.scaled(QSizeF(size, size), Qt::KeepAspectRatio);
    renderer.render(&painter, QRectF(QPointF((size - fitted.width()) / 2.0, (size - fitted.height()) / 2.0), fitted));
    painter.end();
    return QPixmap::fromImage(image);
}

}  // namespace

QString NorvBrand::resourceDirectory() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/norv-bridge"));
}

std::optional<QIcon> NorvBrand::loadAppIcon(const QString& directory) {
    const auto path = resourceFile(directory, QStringLiteral("NorvAppIcon.svg"));
    if (!path) return std::nullopt;
    QIcon icon;
    for (int size : {16, 32, 64, 128, 256}) {
        const QPixmap pixmap = renderSvg(*path, size);
        if (pixmap.isNull()) return std::nullopt;
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon NorvBrand::loadMenuBarIcon(const QString& directory) {
    QPixmap pixmap;
    if (const auto path = resourceFile(directory, QStringLiteral("NorvMenuBarIcon.svg"))) {
        pixmap = renderSvg(*path, menuBarIconSize);
    }
    if (pixmap.isNull()) {
        pixmap = QPixmap(menuBarIconSize, menuBarIconSize);
        pixmap.fill(Qt::transparent);
    }
    QIcon icon(pixmap);
    icon.setIsMask(true);  // drawn by its alpha only; the tray tints it
    return icon;
}

const std::optional<QIcon>& NorvBrand::appIcon() {
    static const std::optional<QIcon> icon = loadAppIcon(resourceDirectory());
    return icon;
}

const QIcon& NorvBrand::menuBarIcon() {
    static const QIcon icon = loadMenuBarIcon(resourceDirectory());
    return icon;
}

}  // namespace norv
