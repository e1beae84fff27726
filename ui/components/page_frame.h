#pragma once
// The frame every page derives from: a vertical scroll view holding one leading-aligned column,
// 24 pt around. A scrolling page stacks its blocks from the top, 22 pt apart; a filling page
// (a table, a log) gives the height left over to the block it adds with a stretch, 16 pt apart,
// and scrolls only below its minimum height.
//
// Every page has the same contract: `XPage::State` holds values only (copies of what the store
// publishes), `XPage::Actions` what the page sends, `XPage(Actions, parent)` builds it and
// `setState(const State&)` updates it in place, running the page's `XViewModel`; the page
// factory wires the actions to the store and hands it the store's state on every change.

#include "ui/components/retire_widget.h"

#include <QScrollArea>

class QLayout;
class QVBoxLayout;

namespace norv {

class PageFrame : public QScrollArea {
    Q_OBJECT
public:
    enum class Height { scroll, fill };

    explicit PageFrame(QWidget* parent = nullptr, Height height = Height::scroll);
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

