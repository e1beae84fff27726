#include "ui/routes/routes_page.h"

#include "ui/components/grow_before_layout.h"
#include "ui/components/page_disclosure.h"
#include "ui/routes/clear_confirmation.h"
#include "ui/routes/routing_policy_draft.h"
#include "ui/routes/routing_policy_editor.h"
#include "ui/routes/track_list_model.h"
#include "ui/routes/routes_view_model.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QToolButton>
#include <QVBoxLayout>

namespace norv {

namespace {

using Model = RoutesViewModel;

NorvPanel* block(const QString& title, QWidget* parent) {
    auto* panel = new NorvPanel(parent);
    panel->contentLayout()->setSpacing(14);
    panel->contentLayout()->addWidget(makeLabel(title, NorvTheme::sectionFont(), NorvTheme::secondary(), panel));
    return panel;
}

QVBoxLayout* stack(QWidget* box) {
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    return layout;
}

std::string cardKey(const RouteCardContent& content) { return content.device.deviceId; }
std::string rowKey(const TrackRowContent& content) { return std::to_string(content.plan.trackLiveId); }

}  // namespace

RoutesPage::RoutesPage(Actions actions, QWidget* parent) : PageFrame(parent), actions_(std::move(actions)) {
    setObjectName(QStringLiteral("page_routes"));
    QWidget* page = content();
    QVBoxLayout* column = this->column();

    column->addWidget(new PageHeader(QStringLiteral("LIVE ROUTING"), QStringLiteral("Routes & auto-arm"),
                                     QString::fromUtf8("Live inputs · Device assignments"), page));

    NorvPanel* devices = block(QStringLiteral("DEVICE ASSIGNMENTS"), page);
    noDevices_ = new EmptyState(QStringLiteral("ipad.and.arrow.forward"), QStringLiteral("No device routes"),
                                QStringLiteral("No tablet connected"), devices);
    noDevices_->hide();
    devices->contentLayout()->addWidget(noDevices_);
    activeBox_ = new QWidget(devices);
    devices->contentLayout()->addWidget(activeBox_);
    known_ = new PageDisclosure(QString(), devices);
    known_->bodyLayout()->setContentsMargins(0, 14, 0, 0);
    known_->bodyLayout()->setSpacing(14);
    known_->hide();
    devices->contentLayout()->addWidget(known_);
    column->addWidget(devices);
    const auto create = [this](QWidget* parent) {
        return [this, parent](const RouteCardContent& content) { return makeCard(content, parent); };
    };
    activeCards_ = {stack(activeBox_), cardKey, create(activeBox_)};
    growBeforeLayout(activeBox_);
    growBeforeLayout(devices);
    knownCards_ = {known_->bodyLayout(), cardKey, create(known_->body())};

    NorvPanel* tracks = block(QStringLiteral("TRACK ROUTING"), page);
    tracksBlock_ = tracks;
    noPlans_ = new EmptyState(QStringLiteral("arrow.triangle.branch"), QStringLiteral("No active track route"),
                              QString(), tracks);
    noPlans_->hide();
    tracks->contentLayout()->addWidget(noPlans_);
    auto* rowsBox = new QWidget(tracks);
    tracks->contentLayout()->addWidget(rowsBox);
    trackRows_ = {stack(rowsBox), rowKey,
                  [rowsBox](const TrackRowContent& content) { return new TrackRoutingRow(content, rowsBox); }};
    growBeforeLayout(rowsBox);
    growBeforeLayout(tracks);
    column->addWidget(tracks);

    // "Routing options", collapsed at first.
    auto* options = new PageDisclosure(QStringLiteral("Routing options"), page);
    editor_ = new RoutingPolicyEditor(new ClearConfirmation(this), options->body());
    options->bodyLayout()->addWidget(norvPanel(editor_, options->body()));
    column->addWidget(options);
    column->addStretch();
    connect(editor_, &RoutingPolicyEditor::applyRequested, this, [this](const DeviceRoutingPolicy& policy) {
        if (actions_.applyPolicy) actions_.applyPolicy(policy);
    });
    connect(editor_, &RoutingPolicyEditor::clearRequested, this, [this] {
        if (actions_.clearAssignments) actions_.clearAssignments();
    });
    // A child made after the page's content, so the cards that read it are deleted before it.
    trackList_ = new TrackListModel(this);
}

RouteCard* RoutesPage::makeCard(const RouteCardContent& content, QWidget* parent) {
    auto* card = new RouteCard(content, trackList_, parent);
    connect(card, &RouteCard::trackChosen, this, &RoutesPage::assign);
    return card;
}

void RoutesPage::assign(const QString& deviceId, qint64 liveId) {
    if (!actions_.assign) return;
    for (const RouteCard* card : cards()) {
        if (QString::fromStdString(card->deviceId()) != deviceId) continue;
        std::optional<LiveTrack> track;
        for (const LiveTrack& candidate : liveTracks_)
            if (candidate.liveId == liveId) track = candidate;
        actions_.assign(card->device(), track);  // the device as the card last showed it
        return;
    }
}

std::vector<RouteCard*> RoutesPage::cards() const {
    std::vector<RouteCard*> result = activeCards_.widgets();
    for (RouteCard* card : knownCards_.widgets()) result.push_back(card);
    return result;
}

QToolButton* RoutesPage::knownDevicesToggle() const { return known_->isHidden() ? nullptr : known_->toggle(); }

void RoutesPage::setState(const State& state) {
    const AdminSnapshot& snapshot = state.snapshot;
    const bool nothingPending = state.pendingActions.empty();
    const bool editable = RoutingPolicyDraft::editorEnabled(state.canChange, nothingPending);
    if (!shown_) editor_->startFrom(snapshot.bridge.deviceRoutingPolicy, editable);
    else editor_->followEngine(snapshot.bridge.deviceRoutingPolicy, editable);
    shown_ = true;
    if (liveTracks_ != snapshot.liveTracks) liveTracks_ = snapshot.liveTracks;

    const bool pickerEnabled =
        Model::trackPickerEnabled(state.canChange, snapshot.bridge.liveLinked(), nothingPending);
    tracks_ = RouteCardContent::tracksOf(snapshot, tracks_);
    trackList_->setTracks(tracks_);  // every card's picker follows: rows in and out, renames
    const auto contents = [&](const std::vector<BridgeDevice>& devices) {
        std::vector<RouteCardContent> result;
        result.reserve(devices.size());
        for (const BridgeDevice& device : devices)
            result.push_back(RouteCardContent::of(device, snapshot, pickerEnabled, tracks_));
        return result;
    };
    const bool none = snapshot.devices.empty();
    noDevices_->setVisible(none);
    activeCards_.sync(none ? std::vector<RouteCardContent>{} : contents(Model::activeDevices(snapshot)));
    const std::vector<BridgeDevice> known = none ? std::vector<BridgeDevice>{} : Model::knownDevices(snapshot);
    knownCards_.sync(contents(known));
    // A card whose content did not change may still show a choice the engine refused.
    for (RouteCard* card : cards()) card->showAssignment();
    known_->setVisible(!known.empty());
    if (!known.empty()) known_->setTitle(Model::knownDevicesTitle(known.size()));

    std::vector<TrackRowContent> rows;
    for (const DeviceTrackRoutingPlan& plan : Model::plans(snapshot)) rows.push_back({plan, Model::status(snapshot, plan)});
    noPlans_->setVisible(rows.empty());
    if (rows.empty()) noPlans_->titleLabel()->setText(Model::noPlansTitle(snapshot));
    trackRows_.sync(rows);
}

}  // namespace norv
