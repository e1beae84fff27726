#pragma once
// The frame most pages share: a vertical scroll view holding one leading-aligned column,
// 22 pt between blocks and 24 pt around.

#include <QScrollArea>

class QLayout;
class QVBoxLayout;

namespace norv {

class PageFrame : public QScrollArea {
    Q_OBJECT
public:
    explicit PageFrame(QWidget* parent = nullptr);
    QVBoxLayout* column() const { return column_; }
    QWidget* content() const { return content_; }

private:
    QWidget* content_;
    QVBoxLayout* column_;
};

// A row of a symbol and a text in one colour.
QWidget* makeSymbolText(const QString& symbol, const QString& text, const QColor& color, const QFont& font,
                        QWidget* parent = nullptr);

}  // namespace norv

namespace norv {

// Takes a widget off the page now and deletes it once control is back in the event loop, so a
// button may be discarded from inside its own click.
void discardWidget(QWidget* widget);
// Discards every item of a layout.
void clearLayout(QLayout* layout);

}  // namespace norv
