#include "ui/connections/device_connection_row.h"

#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace norv {

DeviceConnectionRow::DeviceConnectionRow(const DeviceLinkContent& content, QWidget* parent) : QWidget(parent) {
    fillBackground(this, NorvTheme::panelRaised());
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(13);
    symbol_ = new SymbolLabel(this);
    row->addWidget(symbol_);
    auto* column = new QVBoxLayout;
    column->setSpacing(3);
    label_ = makeLabel(QString(), NorvTheme::headlineFont(), NorvTheme::primary(), this);
    detail_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), this);
    link_ = makeLabel(QString(), NorvTheme::systemFont(11, QFont::Medium, true), NorvTheme::secondary(), this);
    link_->setObjectName(QStringLiteral("linkLine"));
    signal_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), this);
    for (QLabel* label : {label_, detail_, link_, signal_}) column->addWidget(label);
    row->addLayout(column);
    row->addStretch();
    // Transport over mode, centred on each other, 4 pt apart, the pair centred in the row.
    auto* trailing = new QVBoxLayout;
    trailing->setSpacing(4);
    transport_ = makeLabel(QString(), NorvTheme::systemFont(10, QFont::Bold, true), NorvTheme::secondary(), this);
    transport_->setObjectName(QStringLiteral("transport"));
    mode_ = makeLabel(QString(), NorvTheme::systemFont(9, QFont::DemiBold, true), NorvTheme::secondary(), this);
    mode_->setObjectName(QStringLiteral("mode"));
    trailing->addWidget(transport_, 0, Qt::AlignHCenter);
    trailing->addWidget(mode_, 0, Qt::AlignHCenter);
    row->addLayout(trailing);
    row->setAlignment(trailing, Qt::AlignVCenter);
    setContent(content);
}

void DeviceConnectionRow::setContent(const DeviceLinkContent& content) {
    setObjectName(content.deviceId);
    symbol_->setSymbol(content.symbol, content.tint, 22);
    label_->setText(content.label);
    detail_->setText(content.detail);
    link_->setText(content.linkLine);
    setTextColor(link_, content.linkColor);
    signal_->setText(content.signalLine.value_or(QString()));
    signal_->setVisible(content.signalLine.has_value());
    transport_->setText(content.transport);
    setTextColor(transport_, content.tint);
    mode_->setText(content.mode);
}

}  // namespace norv
