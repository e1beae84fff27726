#include "ui/theme/compact_device_row.h"

#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <unordered_set>

namespace norv {

std::vector<MidiEndpoint> physicalEndpoints(const BridgeDevice& device) {
    std::vector<MidiEndpoint> result;
    std::unordered_set<std::int64_t> seen;
    for (const MidiEndpoint& endpoint : device.endpoints) {
        if (seen.insert(endpoint.sourceUniqueId).second) result.push_back(endpoint);
    }
    return result;
}

QString CompactDeviceRow::endpointLine(const BridgeDevice& device) {
    QStringList names;
    for (const MidiEndpoint& endpoint : physicalEndpoints(device)) names.append(QString::fromStdString(endpoint.name));
    return names.join(QStringLiteral("  "));
}

CompactDeviceRow::CompactDeviceRow(const BridgeDevice& device, QWidget* parent) : QWidget(parent) {
    setObjectName(QString::fromStdString(device.deviceId));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 7, 0, 7);
    row->setSpacing(12);
    auto* symbolFrame = new QWidget(this);
    symbolFrame->setFixedWidth(28);
    auto* symbolLayout = new QHBoxLayout(symbolFrame);
    symbolLayout->setContentsMargins(0, 0, 0, 0);
    symbol_ = new SymbolLabel(symbolFrame);
    symbolLayout->addWidget(symbol_, 0, Qt::AlignCenter);
    row->addWidget(symbolFrame);

    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    label_ = makeLabel(QString(), NorvTheme::headlineFont(), NorvTheme::primary(), this);
    column->addWidget(label_);
    endpoints_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), this);
    endpoints_->setWordWrap(false);
    endpoints_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);  // truncated, never wrapped
    column->addWidget(endpoints_);
    row->addLayout(column, 1);

    transport_ = makeLabel(QString(), NorvTheme::systemFont(10, QFont::Bold, true), NorvTheme::secondary(), this);
    row->addWidget(transport_);
    setContent(device);
}

void CompactDeviceRow::setContent(const BridgeDevice& device) {
    const QColor tint = device.connected ? NorvTheme::teal() : NorvTheme::secondary();
    symbol_->setSymbol(QString::fromStdString(device.platformSymbol()), tint, 18);
    label_->setText(QString::fromStdString(device.label));
    endpoints_->setText(endpointLine(device));
    transport_->setText(QString::fromStdString(device.transportLabel()));
    setTextColor(transport_, tint);
}

}  // namespace norv
