#pragma once
// The frame most pages share: a vertical scroll view holding one leading-aligned column,
// 22 pt between blocks and 24 pt around.

#include "ui/components/retire_widget.h"

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

