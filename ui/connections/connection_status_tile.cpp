#include "ui/connections/connection_status_tile.h"

#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace norv {

ConnectionStatusTile::ConnectionStatusTile(const StatusTileContent& content, QWidget* parent)
    : QWidget(parent), content_(content) {
    setMinimumHeight(76);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setObjectName(QStringLiteral("tile_") + content.title);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    auto* square = new QWidget(this);
    square->setFixedSize(32, 32);
    auto* squareLayout = new QVBoxLayout(square);
    squareLayout->setContentsMargins(0, 0, 0, 0);
    symbol_ = new SymbolLabel(content.symbol, content.tint, 17, square);
    squareLayout->addWidget(symbol_, 0, Qt::AlignCenter);
    row->addWidget(square, 0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    column->setSpacing(3);
    title_ = makeLabel(content.title, NorvTheme::calloutFont(), NorvTheme::secondary(), this);
    value_ = makeLabel(content.value, NorvTheme::headlineFont(), NorvTheme::primary(), this);
    detail_ = makeLabel(content.detail, NorvTheme::captionFont(), NorvTheme::secondary(), this);
    for (QLabel* label : {title_, value_, detail_}) column->addWidget(label);
    column->addStretch();
    row->addLayout(column, 1);
}

void ConnectionStatusTile::setContent(const StatusTileContent& content) {
    if (content == content_) return;
    const bool tintChanged = content.tint != content_.tint;
    content_ = content;
    setObjectName(QStringLiteral("tile_") + content.title);
    symbol_->setSymbol(content.symbol, content.tint, 17);
    title_->setText(content.title);
    value_->setText(content.value);
    detail_->setText(content.detail);
    if (tintChanged) update();
}

void ConnectionStatusTile::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor fill = content_.tint;
    fill.setAlphaF(0.12f);
    painter.fillRect(QRect(0, 0, 32, 32), fill);
}

}  // namespace norv
