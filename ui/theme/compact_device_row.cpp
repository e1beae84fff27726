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
    const QColor tint = device.connected ? NorvTheme::teal() : NorvTheme::secondary();
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 7, 0, 7);
    row->setSpacing(12);
    auto* symbolFrame = new QWidget(this);
    symbolFrame->setFixedWidth(28);
    auto* symbolLayout = new QHBoxLayout(symbolFrame);
    symbolLayout->setContentsMargins(0, 0, 0, 0);
    symbol_ = new SymbolLabel(QString::fromStdString(device.platformSymbol()), tint, 18, symbolFrame);
    symbolLayout->addWidget(symbol_, 0, Qt::AlignCenter);
    row->addWidget(symbolFrame);

    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    column->addWidget(makeLabel(QString::fromStdString(device.label), NorvTheme::headlineFont(), NorvTheme::primary(), this));
    endpoints_ = makeLabel(endpointLine(device), NorvTheme::captionFont(), NorvTheme::secondary(), this);
    endpoints_->setWordWrap(false);
    endpoints_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);  // truncated, never wrapped
    column->addWidget(endpoints_);
    row->addLayout(column, 1);

    transport_ = makeLabel(QString::fromStdString(device.transportLabel()), NorvTheme::systemFont(10, QFont::Bold, true),
                           tint, this);
    row->addWidget(transport_);
}

}  // namespace norv
