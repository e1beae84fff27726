#include "ui/routes/route_card.h"

#include "ui/routes/track_list_model.h"
#include "ui/routes/routes_view_model.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QConcatenateTablesProxyModel>
#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QVBoxLayout>
#include <QtMath>
#include <algorithm>

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
    for (const LiveTrack& track : RoutesViewModel::midiTracks(snapshot))
        tracks.push_back({QString::fromStdString(track.name), track.liveId});
    if (previous && *previous == tracks) return previous;
    return std::make_shared<const std::vector<TrackChoice>>(std::move(tracks));
}

RouteCardContent RouteCardContent::of(const BridgeDevice& device, const AdminSnapshot& snapshot, bool pickerEnabled,
                                      const Tracks& tracks) {
    RouteCardContent content{device, tracks ? tracks : tracksOf(snapshot), std::nullopt,
                             RoutesViewModel::routeLabel(device, snapshot), pickerEnabled};
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

namespace {

// A combo box sizes itself to its widest entry by measuring every entry, twice for each new
// picker; this one takes the tracks' width from the shared list, measured once for all pickers.
// The result is the combo box's own: the widest entry, then the style's frame and arrow.
class TrackPicker : public QComboBox {
public:
    using QComboBox::QComboBox;

    void setSources(const QStandardItemModel* head, const TrackListModel* tracks) {
        head_ = head;
        tracks_ = tracks;
        headWidth_ = -1;
        // A new or renamed track may be the widest.
        connect(tracks, &QAbstractItemModel::rowsInserted, this, &QWidget::updateGeometry);
        connect(tracks, &QAbstractItemModel::rowsRemoved, this, &QWidget::updateGeometry);
        connect(tracks, &QAbstractItemModel::dataChanged, this, &QWidget::updateGeometry);
    }
    // The card's own entries changed.
    void headChanged() {
        headWidth_ = -1;
        updateGeometry();
    }

    QSize sizeHint() const override {
        if (!head_ || !tracks_) return QComboBox::sizeHint();
        const QFontMetrics metrics = fontMetrics();
        if (headWidth_ < 0) {
            headWidth_ = 0;
            for (int row = 0; row < head_->rowCount(); ++row)
                headWidth_ = std::max(headWidth_, metrics.boundingRect(head_->item(row)->text()).width());
            hintWidth_ = -1;
        }
        const int width = std::max(headWidth_, tracks_->widestName(font()));
        if (width == hintWidth_) return hint_;
        const QSize size(width, std::max(qCeil(QFontMetricsF(metrics).height()), 14) + 2);
        QStyleOptionComboBox option;
        initStyleOption(&option);
        hint_ = style()->sizeFromContents(QStyle::CT_ComboBox, &option, size, this);
        hintWidth_ = width;
        return hint_;
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) headWidth_ = -1;
        QComboBox::changeEvent(event);
    }

private:
    const QStandardItemModel* head_ = nullptr;
    const TrackListModel* tracks_ = nullptr;
    mutable int headWidth_ = -1;  // -1: measure again
    mutable int hintWidth_ = -1;  // the entry width `hint_` was made for
    mutable QSize hint_;
};

QStandardItem* choiceItem(const TrackChoice& choice) {
    auto* item = new QStandardItem(choice.label);
    item->setData(QVariant::fromValue<qint64>(choice.value), Qt::UserRole);
    return item;
}

}  // namespace

RouteCard::RouteCard(const RouteCardContent& content, TrackListModel* tracks, QWidget* parent)
    : QWidget(parent), content_(content) {
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

    auto* picker = new TrackPicker(this);
    picker_ = picker;
    picker_->setAccessibleName(QStringLiteral("Live track"));
    picker_->setMaximumWidth(360);
    picker_->setMinimumWidth(180);
    row->addWidget(picker_);
    row->addStretch();

    route_ = makeLabel(QString(), NorvTheme::systemFont(10, QFont::Bold, true), NorvTheme::secondary(), this);
    row->addWidget(route_);

    // Made after the picker, so they outlive it when the card goes.
    auto* choices = new QConcatenateTablesProxyModel(this);
    head_ = new QStandardItemModel(this);
    head_->appendRow(choiceItem({QStringLiteral("No layer selected"), -1}));
    if (content.unavailable) head_->appendRow(choiceItem(*content.unavailable));
    tracks_ = tracks ? tracks : new TrackListModel(this);
    tracks_->setTracks(content.tracks);
    choices->addSourceModel(head_);
    choices->addSourceModel(tracks_);
    picker->setSources(head_, tracks_);
    {
        const QSignalBlocker blocker(picker_);
        picker_->setModel(choices);
        selectValue(RoutesViewModel::selectedTrackValue(content.device));
    }

    // `activated` comes only from the user, never from state.
    connect(picker_, &QComboBox::activated, this, &RouteCard::userChose);
    setContent(content);
}

void RouteCard::setContent(const RouteCardContent& content) {
    const BridgeDevice& device = content.device;
    const QColor accent = device.connected ? NorvTheme::teal() : NorvTheme::secondary();
    symbol_->setSymbol(QString::fromStdString(device.platformSymbol()), accent, 20);
    name_->setText(QString::fromStdString(device.label));
    transport_->setText(QString::fromStdString(device.transportLabel()));
    setTextColor(transport_, accent);
    instrument_->setText(RoutesViewModel::instrumentName(device));
    showChoices(content);
    picker_->setEnabled(content.pickerEnabled);
    route_->setText(content.route);
    setTextColor(route_, routeTintColor(RoutesViewModel::routeTint(content.route)));
    content_ = content;
}

void RouteCard::showChoices(const RouteCardContent& content) {
    const QSignalBlocker blocker(picker_);
    tracks_->setTracks(content.tracks);  // a no-op when the list's owner already did
    const std::int64_t selected = RoutesViewModel::selectedTrackValue(content.device);
    if (!content.sameChoices(content_)) {
        setUnavailable(content.unavailable);
        selectValue(selected);
        return;
    }
    // Same entries: a closed picker shows the assignment, also after a refused choice.
    if (!picker_->view()->isVisible()) selectValue(selected);
}

void RouteCard::showAssignment() {
    if (picker_->view()->isVisible()) return;  // the user is choosing
    const QSignalBlocker blocker(picker_);
    selectValue(RoutesViewModel::selectedTrackValue(content_.device));
}

void RouteCard::setUnavailable(const std::optional<TrackChoice>& unavailable) {
    const bool shown = head_->rowCount() > 1;
    if (unavailable && shown) {
        QStandardItem* item = head_->item(1);
        item->setText(unavailable->label);
        item->setData(QVariant::fromValue<qint64>(unavailable->value), Qt::UserRole);
    } else if (unavailable) {
        head_->appendRow(choiceItem(*unavailable));
    } else if (shown) {
        head_->removeRow(1);
    }
    static_cast<TrackPicker*>(picker_)->headChanged();
}

void RouteCard::selectValue(std::int64_t value) {
    int index = -1;
    for (int row = 0; row < head_->rowCount() && index < 0; ++row)
        if (head_->item(row)->data(Qt::UserRole).value<qint64>() == value) index = row;
    if (index < 0 && value >= 0) {
        const int row = tracks_->rowOf(value);
        if (row >= 0) index = head_->rowCount() + row;
    }
    if (index != picker_->currentIndex()) picker_->setCurrentIndex(index);
}

void RouteCard::userChose(int index) {
    if (index < 0) return;
    const qint64 value = picker_->itemData(index).value<qint64>();
    if (!RoutesViewModel::choiceChangesAssignment(content_.device, value)) return;
    Q_EMIT trackChosen(QString::fromStdString(content_.device.deviceId), value);
}

}  // namespace norv
