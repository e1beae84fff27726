#include "ui/theme/page_components.h"

#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace norv {

QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void setTextColor(QLabel* label, const QColor& color) {
    if (label->palette().color(QPalette::WindowText) == color) return;
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

PageHeader::PageHeader(const QString& eyebrow, const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    eyebrow_ = makeLabel(eyebrow, NorvTheme::sectionFont(), NorvTheme::secondary(), this);
    title_ = makeLabel(title, NorvTheme::systemFont(24, QFont::DemiBold), NorvTheme::primary(), this);
    column->addWidget(eyebrow_);
    column->addWidget(title_);
    if (!subtitle.isEmpty()) {
        subtitle_ = makeLabel(subtitle, NorvTheme::bodyFont(), NorvTheme::secondary(), this);
        subtitle_->setWordWrap(true);
        column->addWidget(subtitle_);
    }
}

void PageHeader::setSubtitle(const QString& subtitle) {
    if (!subtitle_) {
        if (subtitle.isEmpty()) return;
        subtitle_ = makeLabel(subtitle, NorvTheme::bodyFont(), NorvTheme::secondary(), this);
        subtitle_->setWordWrap(true);
        layout()->addWidget(subtitle_);
        return;
    }
    subtitle_->setText(subtitle);
    subtitle_->setVisible(!subtitle.isEmpty());
}

EmptyState::EmptyState(const QString& symbol, const QString& title, const QString& detail, QWidget* parent)
    : QWidget(parent) {
    setMinimumHeight(150);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* column = new QVBoxLayout(this);
    column->setSpacing(10);
    column->addStretch();
    symbol_ = new SymbolLabel(symbol, NorvTheme::secondary(), 28, this);
    column->addWidget(symbol_, 0, Qt::AlignHCenter);
    title_ = makeLabel(title, NorvTheme::headlineFont(), NorvTheme::primary(), this);
    title_->setAlignment(Qt::AlignHCenter);
    column->addWidget(title_, 0, Qt::AlignHCenter);
    if (!detail.isEmpty()) {
        detail_ = makeLabel(detail, NorvTheme::calloutFont(), NorvTheme::secondary(), this);
        detail_->setAlignment(Qt::AlignHCenter);
        detail_->setWordWrap(true);
        column->addWidget(detail_);
    }
    column->addStretch();
}

TintedSquare::TintedSquare(const QString& symbol, const QColor& tint, int side, int symbolSize, QWidget* parent)
    : QWidget(parent), tint_(tint), symbolSize_(symbolSize) {
    setFixedSize(side, side);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    symbol_ = new SymbolLabel(symbol, tint, symbolSize, this);
    layout->addWidget(symbol_, 0, Qt::AlignCenter);
}

void TintedSquare::setSymbol(const QString& symbol, const QColor& tint) {
    symbol_->setSymbol(symbol, tint, symbolSize_);
    if (tint == tint_) return;
    tint_ = tint;
    update();
}

void TintedSquare::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor fill = tint_;
    fill.setAlphaF(0.12f);
    painter.fillRect(rect(), fill);
}

StatusCard::StatusCard(const QString& title, const QString& value, const QString& detail, const QString& symbol,
                       const QColor& tint, QWidget* parent)
    : QWidget(parent) {
    setMinimumHeight(88);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(14);
    tile_ = new TintedSquare(symbol, tint, 34, 20, this);
    symbol_ = tile_->symbolLabel();
    row->addWidget(tile_, 0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    column->addWidget(makeLabel(title, NorvTheme::bodyFont(), NorvTheme::secondary(), this));
    value_ = makeLabel(value, NorvTheme::title2Font(), NorvTheme::primary(), this);
    column->addWidget(value_);
    detail_ = makeLabel(detail, NorvTheme::captionFont(), NorvTheme::secondary(), this);
    detail_->setWordWrap(true);
    column->addWidget(detail_);
    column->addStretch();
    row->addLayout(column, 1);
}

void StatusCard::setValues(const QString& value, const QString& detail, const QString& symbol, const QColor& tint) {
    tile_->setSymbol(symbol, tint);
    value_->setText(value);
    detail_->setText(detail);
}

}  // namespace norv
