#include "ui/components/page_frame.h"

#include "ui/components/grow_before_layout.h"
#include "ui/theme/norv_button_style.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace norv {

PageFrame::PageFrame(QWidget* parent, Height height)
    : QScrollArea(parent), content_(new QWidget), column_(new QVBoxLayout) {
    const bool scrolling = height == Height::scroll;
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setVerticalScrollBarPolicy(scrolling ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    content_->setLayout(column_);
    growBeforeLayout(content_);
    content_->setStyleSheet(NorvButtonStyle::styleSheet());
    fillBackground(content_, NorvTheme::background());
    column_->setContentsMargins(24, 24, 24, 24);
    column_->setSpacing(scrolling ? 22 : 16);
    if (scrolling) column_->setAlignment(Qt::AlignTop);
    setWidget(content_);
}

QWidget* makeSymbolText(const QString& symbol, const QString& text, const QColor& color, const QFont& font,
                        QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(new SymbolLabel(symbol, color, QFontInfo(font).pixelSize() + 2, row));
    QLabel* label = makeLabel(text, font, color, row);
    label->setObjectName(QStringLiteral("text"));
    layout->addWidget(label);
    layout->addStretch();
    NorvSymbols::tag(row, symbol);
    return row;
}

}  // namespace norv

