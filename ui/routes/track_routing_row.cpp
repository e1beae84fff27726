#include "ui/routes/track_routing_row.h"

#include "ui/routes/route_card.h"
#include "ui/routes/track_routing_labels.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace norv {

namespace {

// A captioned value: small monospaced caption over the value.
QWidget* routingValue(const QString& label, const QString& value, QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(3);
    column->addWidget(makeLabel(label, NorvTheme::systemFont(9, QFont::Bold, true), NorvTheme::secondary(), box));
    column->addWidget(makeLabel(value, NorvTheme::calloutFont(), NorvTheme::primary(), box));
    return box;
}

}  // namespace

TrackRoutingRow::TrackRoutingRow(const DeviceTrackRoutingPlan& plan,
                                 const std::optional<DeviceTrackRoutingStatus>& status, QWidget* parent)
    : QWidget(parent) {
    using Labels = TrackRoutingLabels;
    fillBackground(this, NorvTheme::panelRaised());
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(13, 13, 13, 13);
    column->setSpacing(10);

    const QColor tint = routeTintColor(Labels::trackStatusTint(status));
    auto* head = new QHBoxLayout;
    head->setSpacing(12);
    auto* dot = new QLabel(this);
    dot->setFixedSize(8, 8);
    dot->setStyleSheet(QStringLiteral("background: %1; border-radius: 4px;").arg(NorvTheme::css(tint)));
    head->addWidget(dot);
    head->addWidget(makeLabel(Labels::trackTitle(plan), NorvTheme::headlineFont(), NorvTheme::primary(), this));
    head->addStretch();
    status_ = makeLabel(Labels::trackStatusLabel(plan, status), NorvTheme::systemFont(10, QFont::Bold, true), tint,
                        this);
    head->addWidget(status_);
    column->addLayout(head);

    auto* values = new QHBoxLayout;
    values->setSpacing(26);
    values->addWidget(routingValue(QStringLiteral("DEVICES"), Labels::ownersText(plan), this));
    if (const auto routed = Labels::routedOwnersText(plan)) {
        values->addWidget(routingValue(QStringLiteral("ROUTED"), *routed, this));
    }
    values->addWidget(
        routingValue(QStringLiteral("DESIRED INPUT"), QString::fromStdString(plan.desiredInput), this));
    values->addWidget(routingValue(QStringLiteral("LIVE INPUT"), Labels::liveInputText(status), this));
    values->addStretch();
    const bool armed = Labels::armed(status);
    const QColor armedColor = armed ? NorvTheme::yellow() : NorvTheme::secondary();
    values->addWidget(new SymbolLabel(armed ? QStringLiteral("record.circle.fill") : QStringLiteral("record.circle"),
                                      armedColor, 12, this));
    armed_ = makeLabel(armed ? QStringLiteral("ARMED") : QStringLiteral("NOT ARMED"),
                       NorvTheme::systemFont(10, QFont::Bold, true), armedColor, this);
    values->addWidget(armed_);
    column->addLayout(values);
}

}  // namespace norv
