#include "ui/routes/route_card.h"

#include "ui/routes/track_routing_labels.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace norv {

QColor routeTintColor(RouteTint tint) {
    switch (tint) {
        case RouteTint::teal: return NorvTheme::teal();
        case RouteTint::yellow: return NorvTheme::yellow();
        case RouteTint::red: return NorvTheme::red();
        case RouteTint::violet: return NorvTheme::violet();
        case RouteTint::secondary: break;
    }
    return NorvTheme::secondary();
}

RouteCardContent RouteCardContent::of(const BridgeDevice& device, const AdminSnapshot& snapshot, bool pickerEnabled) {
    return {device, TrackRoutingLabels::trackChoices(device, snapshot), TrackRoutingLabels::routeLabel(device, snapshot),
            pickerEnabled};
}

RouteCard::RouteCard(const RouteCardContent& content, QWidget* parent) : QWidget(parent), content_(content) {
    fillBackground(this, NorvTheme::panelRaised());
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(13, 13, 13, 13);
    row->setSpacing(16);

    symbol_ = new SymbolLabel(this);
    symbol_->setFixedSize(34, 34);
    symbol_->setAlignment(Qt::AlignCenter);
    fillBackground(symbol_, NorvTheme::panel());
    row->addWidget(symbol_);

    auto* names = new QWidget(this);
    names->setMinimumWidth(120);
    names->setMaximumWidth(220);
    auto* column = new QVBoxLayout(names);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    // The name and the transport capsule stay apart however narrow the column gets.
    auto* title = new QHBoxLayout;
    title->setSpacing(8);
    name_ = makeLabel(QString(), NorvTheme::headlineFont(), NorvTheme::primary(), names);
    transport_ = makeLabel(QString(), NorvTheme::systemFont(9, QFont::Bold, true), NorvTheme::teal(), names);
    transport_->setObjectName(QStringLiteral("transport"));
    title->addWidget(name_);
    title->addWidget(transport_);
    title->addStretch();
    column->addLayout(title);
    instrument_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), names);
    column->addWidget(instrument_);
    row->addWidget(names);

    row->addWidget(new SymbolLabel(QStringLiteral("arrow.right"), NorvTheme::secondary(), 14, this));

    picker_ = new QComboBox(this);
    picker_->setAccessibleName(QStringLiteral("Live track"));
    picker_->setMaximumWidth(360);
    picker_->setMinimumWidth(180);
    row->addWidget(picker_);
    row->addStretch();

    route_ = makeLabel(QString(), NorvTheme::systemFont(10, QFont::Bold, true), NorvTheme::secondary(), this);
    row->addWidget(route_);

    // `activated` comes only from the user, never from refilling.
    connect(picker_, &QComboBox::activated, this, &RouteCard::userChose);
    showChoices(content, true);
    setContent(content);
}

void RouteCard::setContent(const RouteCardContent& content) {
    const BridgeDevice& device = content.device;
    const QColor accent = device.connected ? NorvTheme::teal() : NorvTheme::secondary();
    symbol_->setSymbol(QString::fromStdString(device.platformSymbol()), accent, 20);
    name_->setText(QString::fromStdString(device.label));
    transport_->setText(QString::fromStdString(device.transportLabel()));
    transport_->setStyleSheet(QStringLiteral("color: %1;").arg(NorvTheme::css(accent)));
    instrument_->setText(TrackRoutingLabels::instrumentName(device));
    showChoices(content, false);
    picker_->setEnabled(content.pickerEnabled);
    route_->setText(content.route);
    route_->setStyleSheet(QStringLiteral("color: %1;").arg(
        NorvTheme::css(routeTintColor(TrackRoutingLabels::routeTint(content.route)))));
    content_ = content;
}

void RouteCard::showChoices(const RouteCardContent& content, bool first) {
    const std::int64_t selected = TrackRoutingLabels::selectedTrackValue(content.device);
    const QSignalBlocker blocker(picker_);
    if (first || content.choices != content_.choices) {
        picker_->clear();
        for (const TrackChoice& choice : content.choices) {
            picker_->addItem(choice.label, QVariant::fromValue<qint64>(choice.value));
            if (choice.value == selected) picker_->setCurrentIndex(picker_->count() - 1);
        }
        return;
    }
    // Same entries: the index moves only when the engine's assignment moved.
    if (selected == TrackRoutingLabels::selectedTrackValue(content_.device)) return;
    for (int i = 0; i < picker_->count(); ++i)
        if (picker_->itemData(i).value<qint64>() == selected) picker_->setCurrentIndex(i);
}

void RouteCard::userChose(int index) {
    if (index < 0) return;
    const qint64 value = picker_->itemData(index).value<qint64>();
    if (!TrackRoutingLabels::choiceChangesAssignment(content_.device, value)) return;
    Q_EMIT trackChosen(QString::fromStdString(content_.device.deviceId), value);
}

}  // namespace norv
