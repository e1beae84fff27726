#include "ui/overview/overview_page.h"

#include "core/bridge_store.h"
#include "ui/overview/adaptive_grid.h"
#include "ui/overview/overview_view_model.h"
#include "ui/theme/compact_device_row.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace norv {

namespace {

QWidget* makeActionBanner(const QString& error, QWidget* parent) {
    auto* panel = new NorvPanel(parent);
    panel->setObjectName(QStringLiteral("actionBanner"));
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    row->addWidget(new SymbolLabel(QStringLiteral("exclamationmark.triangle.fill"), NorvTheme::yellow(), 18, panel),
                   0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    column->addWidget(makeLabel(QStringLiteral("Bridge action required"), NorvTheme::headlineFont(),
                                NorvTheme::primary(), panel));
    QLabel* text = makeLabel(error, NorvTheme::calloutFont(), NorvTheme::secondary(), panel);
    text->setWordWrap(true);
    text->setObjectName(QStringLiteral("lastError"));
    column->addWidget(text);
    row->addLayout(column, 1);
    panel->contentLayout()->addLayout(row);
    return panel;
}

}  // namespace

OverviewPage::OverviewPage(BridgeStore& store, HostError hostError, QWidget* parent)
    : PageFrame(parent), store_(store), hostError_(std::move(hostError)) {
    setObjectName(QStringLiteral("page_overview"));
    column()->addWidget(new PageHeader(QStringLiteral("NORV BRIDGE"), QStringLiteral("Overview"),
                                       QStringLiteral("Live · MIDI · Devices"), content()));

    grid_ = new AdaptiveGrid(310, 14, content());
    column()->addWidget(grid_);

    auto* shortcuts = new QHBoxLayout;
    const std::pair<QString, BridgeSection> targets[] = {
        {QStringLiteral("Connections"), BridgeSection::connections},
        {QStringLiteral("Routes"), BridgeSection::routes},
        {QStringLiteral("Diagnostics"), BridgeSection::logs},
    };
    for (const auto& [title, section] : targets) {
        auto* button = new QPushButton(title, content());
        const BridgeSection target = section;
        connect(button, &QPushButton::clicked, this, [this, target] { store_.setSelection(target); });
        shortcuts->addWidget(button);
    }
    shortcuts->addStretch();
    column()->addLayout(shortcuts);

    auto* hardware = new NorvPanel(content());
    hardware->setObjectName(QStringLiteral("hardwarePanel"));
    hardware->contentLayout()->setSpacing(14);
    hardware->contentLayout()->addWidget(makeLabel(QStringLiteral("CONNECTED HARDWARE"), NorvTheme::sectionFont(),
                                                   NorvTheme::secondary(), hardware));
    hardwareList_ = new QVBoxLayout;
    hardwareList_->setSpacing(0);
    hardware->contentLayout()->addLayout(hardwareList_);
    hardware_ = hardware;
    column()->addWidget(hardware_);
    column()->addStretch();

    connect(&store_, &BridgeStore::changed, this, &OverviewPage::refresh);
    refresh();
}

void OverviewPage::refresh() {
    const OverviewViewModel model(store_.snapshot(), store_.connectionState());
    const std::optional<QString> error = hostError_ ? hostError_() : std::nullopt;
    const std::vector<StatusCardContent> cards = model.statusCards();
    const std::vector<BridgeDevice> devices = model.connectedDevices();

    // Rebuild only what changed since the last redraw.
    QString key = error ? QStringLiteral("E") + *error : QStringLiteral("-");
    for (const StatusCardContent& card : cards)
        key += QLatin1Char('|') + card.value + card.detail + card.tint.name();
    for (const BridgeDevice& device : devices)
        key += QLatin1Char('|') + QString::number(qHash(std::hash<BridgeDevice>{}(device)));
    if (key == shownKey_) return;
    shownKey_ = key;

    discardWidget(banner_);
    banner_ = nullptr;
    if (error) {
        banner_ = makeActionBanner(*error, content());
        column()->insertWidget(1, banner_);
    }

    grid_->clear();
    for (const StatusCardContent& card : cards) {
        auto* widget = new StatusCard(card.title, card.value, card.detail, card.symbol, card.tint);
        widget->setObjectName(QStringLiteral("statusCard_") + card.title);
        grid_->addItem(widget);
    }

    clearLayout(hardwareList_);
    if (devices.empty()) {
        hardwareList_->addWidget(new EmptyState(QStringLiteral("ipad.and.arrow.forward"),
                                                QStringLiteral("Connect a Norv device"),
                                                QStringLiteral("No tablet connected"), hardware_));
    } else {
        for (const BridgeDevice& device : devices) {
            auto* row = new CompactDeviceRow(device, hardware_);
            row->setObjectName(QString::fromStdString(device.deviceId));
            hardwareList_->addWidget(row);
        }
    }
}

}  // namespace norv
