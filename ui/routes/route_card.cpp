#include "ui/routes/route_card.h"

#include "ui/routes/track_routing_labels.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QComboBox>
#include <algorithm>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QStandardItemModel>
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

RouteCardContent::Tracks RouteCardContent::tracksOf(const AdminSnapshot& snapshot, const Tracks& previous) {
    std::vector<TrackChoice> tracks;
    for (const LiveTrack& track : TrackRoutingLabels::midiTracks(snapshot))
        tracks.push_back({QString::fromStdString(track.name), track.liveId});
    if (previous && *previous == tracks) return previous;
    return std::make_shared<const std::vector<TrackChoice>>(std::move(tracks));
}

RouteCardContent RouteCardContent::of(const BridgeDevice& device, const AdminSnapshot& snapshot, bool pickerEnabled,
                                      const Tracks& tracks) {
    RouteCardContent content{device, tracks ? tracks : tracksOf(snapshot), std::nullopt,
                             TrackRoutingLabels::routeLabel(device, snapshot), pickerEnabled};
    if (device.assignedTrackLiveId) {
        const std::int64_t assigned = *device.assignedTrackLiveId;
        const auto& offered = *content.tracks;
        if (std::none_of(offered.begin(), offered.end(), [&](const TrackChoice& c) { return c.value == assigned; }))
            content.unavailable = TrackChoice{QString::fromUtf8("Unavailable · ") +
                                                  QString::fromStdString(device.assignedTrackName),
                                              assigned};
    }
    return content;
}

std::vector<TrackChoice> RouteCardContent::choices() const {
    std::vector<TrackChoice> result{{QStringLiteral("No layer selected"), -1}};
    if (unavailable) result.push_back(*unavailable);
    if (tracks) result.insert(result.end(), tracks->begin(), tracks->end());
    return result;
}

bool RouteCardContent::sameChoices(const RouteCardContent& other) const {
    if (unavailable != other.unavailable) return false;
    if (tracks == other.tracks) return true;
    return tracks && other.tracks && *tracks == *other.tracks;
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
    setTextColor(transport_, accent);
    instrument_->setText(TrackRoutingLabels::instrumentName(device));
    showChoices(content, false);
    picker_->setEnabled(content.pickerEnabled);
    route_->setText(content.route);
    setTextColor(route_, routeTintColor(TrackRoutingLabels::routeTint(content.route)));
    content_ = content;
}

void RouteCard::showChoices(const RouteCardContent& content, bool first) {
    const std::int64_t selected = TrackRoutingLabels::selectedTrackValue(content.device);
    const QSignalBlocker blocker(picker_);
    if (first || !content.sameChoices(content_)) {
        // Filled in one insertion: a hundred tracks one by one would relayout the combo box each time.
        picker_->clear();
        QList<QStandardItem*> items;
        int current = -1;
        for (const TrackChoice& choice : content.choices()) {
            auto* item = new QStandardItem(choice.label);
            item->setData(QVariant::fromValue<qint64>(choice.value), Qt::UserRole);
            if (choice.value == selected) current = static_cast<int>(items.size());
            items.append(item);
        }
        static_cast<QStandardItemModel*>(picker_->model())->invisibleRootItem()->appendRows(items);
        picker_->setCurrentIndex(current);
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
