#include "ui/theme/norv_symbols.h"

#include <QFile>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>

namespace norv {

namespace {

QString resourcePath(const QString& name) {
    return QStringLiteral(":/norv/symbols/%1.svg").arg(name);
}

}  // namespace

bool NorvSymbols::has(const QString& name) {
    return !name.isEmpty() && QFile::exists(resourcePath(name));
}

QPixmap NorvSymbols::pixmap(const QString& name, const QColor& color, int size, qreal devicePixelRatio) {
    // Rendered once per look: parsing the artwork costs more than the rest of a new card.
    const QString key = QStringLiteral("norv-symbol:%1:%2:%3:%4")
                            .arg(name, color.name(QColor::HexArgb))
                            .arg(size)
                            .arg(devicePixelRatio);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached)) return cached;
    const int pixels = qMax(1, qRound(size * devicePixelRatio));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (has(name)) {
        QSvgRenderer renderer(resourcePath(name));
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, pixels, pixels));
        // The artwork is drawn in black; only its alpha counts, the colour comes from the caller.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    QPixmap result = QPixmap::fromImage(image);
    result.setDevicePixelRatio(devicePixelRatio);
    QPixmapCache::insert(key, result);
    return result;
}

QIcon NorvSymbols::icon(const QString& name, const QColor& color, int size) {
    QIcon icon;
    icon.addPixmap(pixmap(name, color, size, 1.0));
    icon.addPixmap(pixmap(name, color, size, 2.0));
    return icon;
}

void NorvSymbols::tag(QObject* target, const QString& name) {
    target->setProperty("symbolName", name);
}

SymbolLabel::SymbolLabel(QWidget* parent) : QLabel(parent) {}

SymbolLabel::SymbolLabel(const QString& name, const QColor& color, int size, QWidget* parent)
    : QLabel(parent) {
    setSymbol(name, color, size);
}

void SymbolLabel::setSymbol(const QString& name, const QColor& color, int size) {
    if (name == name_ && color == color_ && size == size_ && !pixmap().isNull()) return;
    name_ = name;
    color_ = color;
    size_ = size;
    NorvSymbols::tag(this, name);
    setPixmap(NorvSymbols::pixmap(name, color, size, devicePixelRatioF()));
    setFixedSize(size, size);
}

}  // namespace norv
