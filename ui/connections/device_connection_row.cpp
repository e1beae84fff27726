#include "ui/connections/device_connection_row.h"

#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace norv {

DeviceConnectionRow::DeviceConnectionRow(const DeviceLinkContent& content, QWidget* parent) : QWidget(parent) {
    setObjectName(content.deviceId);
    fillBackground(this, NorvTheme::panelRaised());
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(13);
    auto* symbol = new SymbolLabel(content.symbol, content.tint, 22, this);
    row->addWidget(symbol);
    auto* column = new QVBoxLayout;
    column->setSpacing(3);
    column->addWidget(makeLabel(content.label, NorvTheme::headlineFont(), NorvTheme::primary(), this));
    column->addWidget(makeLabel(content.detail, NorvTheme::captionFont(), NorvTheme::secondary(), this));
    QLabel* link = makeLabel(content.linkLine, NorvTheme::systemFont(11, QFont::Medium, true), content.linkColor, this);
    link->setObjectName(QStringLiteral("linkLine"));
    column->addWidget(link);
    if (content.signalLine)
        column->addWidget(makeLabel(*content.signalLine, NorvTheme::captionFont(), NorvTheme::secondary(), this));
    row->addLayout(column);
    row->addStretch();
    auto* trailing = new QVBoxLayout;
    trailing->setSpacing(4);
    QLabel* transport = makeLabel(content.transport, NorvTheme::systemFont(10, QFont::Bold, true), content.tint, this);
    transport->setAlignment(Qt::AlignRight);
    trailing->addWidget(transport, 0, Qt::AlignRight);
    QLabel* mode = makeLabel(content.mode, NorvTheme::systemFont(9, QFont::DemiBold, true), NorvTheme::secondary(), this);
    trailing->addWidget(mode, 0, Qt::AlignRight);
    row->addLayout(trailing);
}

}  // namespace norv
