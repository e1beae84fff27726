#include "ui/routes/routes_page_view.h"

#include "ui/routes/clear_confirmation.h"
#include "ui/routes/route_card.h"
#include "ui/routes/routing_policy_draft.h"
#include "ui/routes/routing_policy_editor.h"
#include "ui/routes/track_routing_labels.h"
#include "ui/routes/track_routing_row.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace norv {

namespace {

QToolButton* disclosure(const QString& title, bool open, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setText(title);
    button->setCheckable(true);
    button->setChecked(open);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    button->setAutoRaise(true);
    return button;
}

void retire(QWidget* widget) {
    if (widget == nullptr) return;
    widget->hide();
    widget->deleteLater();
}

NorvPanel* block(const QString& title, QVBoxLayout*& content, QWidget* parent) {
    auto* panel = new NorvPanel(parent);
    content = panel->contentLayout();
    content->setSpacing(14);
    content->addWidget(makeLabel(title, NorvTheme::sectionFont(), NorvTheme::secondary(), panel));
    return panel;
}

}  // namespace

RoutesPageView::RoutesPageView(Actions actions, ClearConfirmation* confirmation, QWidget* parent)
    : QWidget(parent), actions_(std::move(actions)) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    outer->addWidget(scroll);
    auto* page = new QWidget(scroll);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(22);
    scroll->setWidget(page);

    column->addWidget(new PageHeader(QStringLiteral("LIVE ROUTING"), QStringLiteral("Routes & auto-arm"),
                                     QString::fromUtf8("Live inputs · Device assignments"), page));
    column->addWidget(block(QStringLiteral("DEVICE ASSIGNMENTS"), devicesContent_, page));
    tracks_ = block(QStringLiteral("TRACK ROUTING"), tracksContent_, page);
    column->addWidget(tracks_);

    // "Routing options", collapsed at first.
    auto* options = disclosure(QStringLiteral("Routing options"), false, page);
    column->addWidget(options);
    if (confirmation == nullptr) confirmation = new ClearConfirmation(this);
    editor_ = new RoutingPolicyEditor(confirmation, page);
    auto* editorPanel = norvPanel(editor_, page);
    editorPanel->setVisible(false);
    column->addWidget(editorPanel);
    column->addStretch();
    connect(options, &QToolButton::toggled, this, [options, editorPanel](bool open) {
        options->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        editorPanel->setVisible(open);
    });
    connect(editor_, &RoutingPolicyEditor::applyRequested, this, [this](const DeviceRoutingPolicy& policy) {
        if (actions_.applyPolicy) actions_.applyPolicy(policy);
    });
    connect(editor_, &RoutingPolicyEditor::clearRequested, this, [this] {
        if (actions_.clearAssignments) actions_.clearAssignments();
    });
}

void RoutesPageView::show(const AdminSnapshot& snapshot, bool canChange, bool pendingEmpty) {
    editor_->show(snapshot.bridge.deviceRoutingPolicy, RoutingPolicyDraft::editorEnabled(canChange, pendingEmpty));
    rebuild(snapshot, canChange, pendingEmpty);
}

void RoutesPageView::update(const AdminSnapshot& snapshot, bool canChange, bool pendingEmpty) {
    editor_->update(snapshot.bridge.deviceRoutingPolicy, RoutingPolicyDraft::editorEnabled(canChange, pendingEmpty));
    rebuild(snapshot, canChange, pendingEmpty);
}

void RoutesPageView::rebuild(const AdminSnapshot& snapshot, bool canChange, bool pendingEmpty) {
    using Labels = TrackRoutingLabels;
    snapshot_ = snapshot;
    const bool pickerEnabled = Labels::trackPickerEnabled(canChange, Labels::liveLinked(snapshot.bridge), pendingEmpty);

    // Replaced, not deleted here: a card may be in the middle of reporting the user's choice.
    retire(devicesBody_);
    cards_.clear();
    knownToggle_ = nullptr;
    devicesBody_ = new QWidget(this);
    auto* devices = new QVBoxLayout(devicesBody_);
    devices->setContentsMargins(0, 0, 0, 0);
    devices->setSpacing(14);
    const auto addCard = [&](const BridgeDevice& device, QVBoxLayout* into, QWidget* parent) {
        auto* card = new RouteCard(device, snapshot, pickerEnabled, parent);
        connect(card, &RouteCard::trackChosen, this, [this](const QString& deviceId, qint64 liveId) {
            if (!actions_.assign) return;
            for (const BridgeDevice& known : snapshot_.devices) {
                if (QString::fromStdString(known.deviceId) == deviceId) {
                    actions_.assign(known, Labels::trackForValue(snapshot_, liveId));
                    return;
                }
            }
        });
        into->addWidget(card);
        cards_.push_back(card);
    };
    if (snapshot.devices.empty()) {
        devices->addWidget(new EmptyState(QStringLiteral("ipad.and.arrow.forward"), QStringLiteral("No device routes"),
                                          QStringLiteral("No tablet connected"), devicesBody_));
    } else {
        for (const BridgeDevice& device : Labels::activeDevices(snapshot)) addCard(device, devices, devicesBody_);
        const auto known = Labels::knownDevices(snapshot);
        if (!known.empty()) {
            knownToggle_ = disclosure(Labels::knownDevicesTitle(known.size()), knownOpen_, devicesBody_);
            devices->addWidget(knownToggle_);
            auto* group = new QWidget(devicesBody_);
            auto* groupLayout = new QVBoxLayout(group);
            groupLayout->setContentsMargins(0, 0, 0, 0);
            groupLayout->setSpacing(14);
            for (const BridgeDevice& device : known) addCard(device, groupLayout, group);
            group->setVisible(knownOpen_);
            devices->addWidget(group);
            QToolButton* toggle = knownToggle_;
            connect(toggle, &QToolButton::toggled, this, [this, toggle, group](bool open) {
                knownOpen_ = open;
                toggle->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
                group->setVisible(open);
            });
        }
    }
    devicesContent_->addWidget(devicesBody_);

    retire(tracksBody_);
    tracksBody_ = new QWidget(this);
    auto* rows = new QVBoxLayout(tracksBody_);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(14);
    const auto plans = Labels::plans(snapshot);
    if (plans.empty()) {
        rows->addWidget(new EmptyState(QStringLiteral("arrow.triangle.branch"), Labels::noPlansTitle(snapshot), QString(),
                                       tracksBody_));
    }
    for (const DeviceTrackRoutingPlan& plan : plans) {
        rows->addWidget(new TrackRoutingRow(plan, Labels::status(snapshot, plan), tracksBody_));
    }
    tracksContent_->addWidget(tracksBody_);
}

}  // namespace norv
