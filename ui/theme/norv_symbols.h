#pragma once
// Our own symbol set, keyed by the symbol names the window uses ("lock", "play.fill", ...).
// Every widget or action that shows a symbol carries its name in the property "symbolName".

#include <QColor>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QString>

namespace norv {

class NorvSymbols {
public:
    NorvSymbols() = delete;

    static bool has(const QString& name);
    // The symbol drawn in one colour; a transparent pixmap for an unknown name.
    static QPixmap pixmap(const QString& name, const QColor& color, int size, qreal devicePixelRatio = 1.0);
    static QIcon icon(const QString& name, const QColor& color, int size = 16);
    // Records the name on a widget or action so it can be checked without pixels.
    static void tag(QObject* target, const QString& name);
};

// A label that shows one symbol in one colour.
class SymbolLabel : public QLabel {
    Q_OBJECT
public:
    explicit SymbolLabel(QWidget* parent = nullptr);
    SymbolLabel(const QString& name, const QColor& color, int size, QWidget* parent = nullptr);

    void setSymbol(const QString& name, const QColor& color, int size);
    QString symbolName() const { return name_; }

private:
    QString name_;
    QColor color_;
    int size_ = 16;
};

}  // namespace norv
