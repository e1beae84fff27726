#include "ui/overview/overview_page.h"

#include "ui/components/adaptive_grid.h"
#include "ui/components/grow_before_layout.h"
#include "ui/overview/overview_view_model.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace norv {

namespace {

NorvPanel* makeActionBanner(QLabel*& text, QPushButton*& retry, QWidget* parent) {
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
    text = makeLabel(QString(), NorvTheme::calloutFont(), NorvTheme::secondary(), panel);
    text->setWordWrap(true);
    text->setObjectName(QStringLiteral("lastError"));
    column->addWidget(text);
    retry = new QPushButton(QStringLiteral("Try Again"), panel);
    retry->setObjectName(QStringLiteral("retryBridge"));
    retry->hide();
    column->addWidget(retry, 0, Qt::AlignLeft);
    row->addLayout(column, 1);
    panel->contentLayout()->addLayout(row);
    return panel;
}

}  // namespace

OverviewPage::OverviewPage(Actions actions, QWidget* parent)
    : PageFrame(parent), actions_(std::move(actions)) {
    setObjectName(QStringLiteral("page_overview"));
    column()->addWidget(new PageHeader(QStringLiteral("NORV BRIDGE"), QStringLiteral("Overview"),
                                       QStringLiteral("Live · MIDI · Devices"), content()));
    banner_ = makeActionBanner(bannerText_, retry_, content());
    banner_->hide();
    connect(retry_, &QPushButton::clicked, this, [this] {
        if (actions_.retry) actions_.retry();
    });
    column()->addWidget(banner_);

    grid_ = new AdaptiveGrid(310, 14, content());
    cards_ = {grid_, [](const StatusCardContent& card) { return card.title.toStdString(); },
              [this](const StatusCardContent& card) {
                  auto* widget = new StatusCard(card.title, card.value, card.detail, card.symbol, card.tint, grid_);
                  widget->setObjectName(QStringLiteral("statusCard_") + card.title);
                  return widget;
              },
              [](StatusCard* widget, const StatusCardContent& card) {
                  widget->setValues(card.value, card.detail, card.symbol, card.tint);
              }};
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
        connect(button, &QPushButton::clicked, this, [this, target] {
            if (actions_.select) actions_.select(target);
        });
        shortcuts->addWidget(button);
    }
    shortcuts->addStretch();
    column()->addLayout(shortcuts);

    auto* hardware = new NorvPanel(content());
    hardware->setObjectName(QStringLiteral("hardwarePanel"));
    QVBoxLayout* list = hardware->contentLayout();
    list->setSpacing(0);
    list->addWidget(makeLabel(QStringLiteral("CONNECTED HARDWARE"), NorvTheme::sectionFont(), NorvTheme::secondary(),
                              hardware));
    list->addSpacing(14);
    noHardware_ = new EmptyState(QStringLiteral("ipad.and.arrow.forward"), QStringLiteral("Connect a Norv device"),
                                 QStringLiteral("No tablet connected"), hardware);
    list->addWidget(noHardware_);
    hardwareRows_ = {list, [](const BridgeDevice& device) { return device.deviceId; },
                     [hardware](const BridgeDevice& device) { return new CompactDeviceRow(device, hardware); }, 3};
    growBeforeLayout(hardware);
    hardware_ = hardware;
    column()->addWidget(hardware_);
    column()->addStretch();
}

QWidget* OverviewPage::actionBanner() const { return banner_->isHidden() ? nullptr : banner_; }

void OverviewPage::setState(const State& state) {
    const OverviewViewModel model(state.snapshot, state.connection);
    banner_->setVisible(state.hostError.has_value());
    bannerText_->setText(state.hostError.value_or(QString()));
    retry_->setVisible(state.offerRetry);

    cards_.sync(model.statusCards());

    const std::vector<BridgeDevice> devices = model.connectedDevices();
    noHardware_->setVisible(devices.empty());
    hardwareRows_.sync(devices);
}

}  // namespace norv
