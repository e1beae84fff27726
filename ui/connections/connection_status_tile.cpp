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
    squareLayout->addWidget(new SymbolLabel(content.symbol, content.tint, 17, square), 0, Qt::AlignCenter);
    row->addWidget(square, 0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    column->setSpacing(3);
    column->addWidget(makeLabel(content.title, NorvTheme::calloutFont(), NorvTheme::secondary(), this));
    column->addWidget(makeLabel(content.value, NorvTheme::headlineFont(), NorvTheme::primary(), this));
    column->addWidget(makeLabel(content.detail, NorvTheme::captionFont(), NorvTheme::secondary(), this));
    column->addStretch();
    row->addLayout(column, 1);
}

void ConnectionStatusTile::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor fill = content_.tint;
    fill.setAlphaF(0.12f);
    painter.fillRect(QRect(0, 0, 32, 32), fill);
}

}  // namespace norv
