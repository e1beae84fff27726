#include "tests/support/model/monitor_event_fixtures.h"
#include "ui/routes/clear_confirmation.h"
#include "ui/routes/routing_policy_draft.h"
#include "ui/routes/routes_view_model.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <gtest/gtest.h>

namespace norv {
namespace {

using Policy = DeviceRoutingPolicy;
using Labels = RoutesViewModel;

Policy customPolicy() {
    Policy p;
    p.respectManualOverrides = false;
    p.disconnectGraceSeconds = 7.5;
    p.sharedInputStrategy = "last_assigned";
    return p;
}

TEST(RoutingPolicyDraft, FollowsTheEngineUntilEditedAndKeepsEditsUntilMatched) {
    RoutingPolicyDraft draft;
    draft.show(std::nullopt);
    EXPECT_EQ(draft.draft(), Policy::defaultPolicy());
    EXPECT_EQ(draft.statusText(), "Policy applied");

    std::optional<Policy> runtime = customPolicy();
    draft.runtimeChanged(runtime);  // no edits: the draft tracks the engine
    EXPECT_EQ(draft.draft(), *runtime);

    draft.setSharedStrategy(QStringLiteral("first_assigned"), runtime);
    EXPECT_TRUE(draft.hasLocalChanges());
    EXPECT_EQ(draft.statusText(), "Unapplied changes");
    EXPECT_EQ(draft.draft().disconnectGraceSeconds, 7.5);  // travels unchanged
    EXPECT_FALSE(draft.draft().respectManualOverrides);

    Policy other = *runtime;
    other.disconnectGraceSeconds = 1.0;
    draft.runtimeChanged(other);  // the engine moves elsewhere: the edit stays
    EXPECT_TRUE(draft.hasLocalChanges());
    EXPECT_EQ(draft.draft().sharedInputStrategy, "first_assigned");

    Policy applied = *runtime;
    applied.sharedInputStrategy = "first_assigned";
    draft.runtimeChanged(applied);  // the engine reports the draft
    EXPECT_FALSE(draft.hasLocalChanges());
    runtime = applied;

    draft.setSharedStrategy(QStringLiteral("last_assigned"), runtime);
    draft.setSharedStrategy(QStringLiteral("first_assigned"), runtime);  // edited back
    EXPECT_FALSE(draft.hasLocalChanges());

    draft.runtimeChanged(std::nullopt);  // the policy disappears
    EXPECT_EQ(draft.draft(), Policy::defaultPolicy());
}

TEST(RoutingPolicyDraft, SwitchResetAndEnablingRules) {
    RoutingPolicyDraft draft;
    std::optional<Policy> runtime = customPolicy();
    draft.show(runtime);

    draft.setAutomaticRouting(false, runtime);
    EXPECT_FALSE(draft.draft().autoArmEnabled);
    EXPECT_FALSE(draft.draft().autoInputRoutingEnabled);
    EXPECT_EQ(draft.automationDetail(), "Live I/O unchanged");
    EXPECT_FALSE(draft.strategyPickerEnabled(true));
    draft.setAutomaticRouting(true, runtime);
    EXPECT_FALSE(draft.hasLocalChanges());
    EXPECT_TRUE(draft.strategyPickerEnabled(true));

    Policy mixed = *runtime;
    mixed.autoArmEnabled = false;
    draft.show(mixed);
    draft.setAutomaticRouting(true, mixed);  // the three flags move together
    EXPECT_TRUE(draft.draft().autoArmEnabled);
    EXPECT_TRUE(draft.hasLocalChanges());

    draft.reset(runtime);  // the defaults, not the engine's policy
    EXPECT_EQ(draft.draft(), Policy::defaultPolicy());
    EXPECT_TRUE(draft.hasLocalChanges());
    EXPECT_TRUE(draft.applyEnabled(RoutingPolicyDraft::editorEnabled(true, true)));
    EXPECT_FALSE(draft.applyEnabled(RoutingPolicyDraft::editorEnabled(true, false)));
    EXPECT_FALSE(draft.applyEnabled(RoutingPolicyDraft::editorEnabled(false, true)));
    draft.reset(Policy::defaultPolicy());
    EXPECT_FALSE(draft.hasLocalChanges());
    EXPECT_FALSE(draft.applyEnabled(true));
}

TEST(RoutingPolicyDraft, SharedRuleTexts) {
    RoutingPolicyDraft draft;
    const auto texts = [&](const char* strategy) {
        draft.setSharedStrategy(QString::fromUtf8(strategy), std::nullopt);
        return (draft.sharedRuleTitle() + "|" + draft.sharedRuleDetail() + "|" + draft.sharedRuleBadge() + "|" +
                draft.strategyNote() + "|" + QString::number(draft.strategyChoiceIndex()))
            .toStdString();
    };
    EXPECT_EQ(texts("all_ins"), "ALL ASSIGNED DEVICES|All Ins|ALL INS|Includes other enabled MIDI inputs|0");
    EXPECT_EQ(texts("first_assigned"),
              "FIRST DEVICE KEEPS THE ROUTE|First assigned input|FIRST|Other devices: layer selection only|1");
    EXPECT_EQ(texts("last_assigned"),
              "LAST DEVICE TAKES THE ROUTE|Last assigned input|LAST|Other devices: layer selection only|2");
    EXPECT_EQ(texts("Last_Assigned"), "ALL ASSIGNED DEVICES|All Ins|ALL INS|Other devices: layer selection only|-1");
}

TEST(RoutesViewModel, TrackStatusTable) {
    DeviceTrackRoutingPlan plan;
    plan.trackLiveId = 7;
    EXPECT_EQ(Labels::trackStatusLabel(plan, std::nullopt), "WAITING FOR LIVE");
    EXPECT_EQ(Labels::trackStatusTint(std::nullopt), RouteTint::secondary);
    EXPECT_EQ(Labels::trackTitle(plan), "Live track 7");
    EXPECT_EQ(Labels::liveInputText(std::nullopt), QString::fromUtf8("—"));

    DeviceTrackRoutingStatus status;
    const auto row = [&](const char* s, const char* mode = "dedicated",
                         std::optional<std::string> strategy = std::nullopt) {
        status.status = s;
        plan.routingMode = mode;
        plan.sharedInputStrategy = strategy;
        return Labels::trackStatusLabel(plan, status).toStdString();
    };
    EXPECT_EQ(row("ready"), "DEDICATED INPUT");
    EXPECT_EQ(row("ready", "shared", "first_assigned"), "SHARED · FIRST");
    EXPECT_EQ(row("ready", "shared", "last_assigned"), "SHARED · LAST");
    EXPECT_EQ(row("ready", "shared"), "SHARED · ALL INS");
    EXPECT_EQ(row("ready", "shared", "Last_assigned"), "SHARED · ALL INS");
    EXPECT_EQ(row("manual_override"), "MANUAL OVERRIDE");
    EXPECT_EQ(Labels::trackStatusTint(status), RouteTint::yellow);
    EXPECT_EQ(row("waiting_for_port"), "WAITING FOR PORT");
    EXPECT_EQ(row("missing_track"), "TRACK NOT FOUND");
    EXPECT_EQ(Labels::trackStatusTint(status), RouteTint::red);
    EXPECT_EQ(row("unsupported_track"), "MIDI TRACK REQUIRED");
    EXPECT_EQ(row("arm_failed"), "ARM FAILED");
    EXPECT_EQ(row("input_routing_disabled"), "ROUTING DISABLED");
    EXPECT_EQ(Labels::trackStatusTint(status), RouteTint::secondary);
    EXPECT_EQ(row("Ready"), "WAITING FOR LIVE");

    plan.ownerLabels = {"A", "B"};
    plan.routedOwnerLabels = std::vector<std::string>{"B", "A"};
    EXPECT_EQ(Labels::ownersText(plan), "A + B");
    EXPECT_EQ(Labels::routedOwnersText(plan), QStringLiteral("B + A"));  // order counts
    plan.routedOwnerLabels = plan.ownerLabels;
    EXPECT_EQ(Labels::routedOwnersText(plan), std::nullopt);
    status.actualInput = "";
    EXPECT_EQ(Labels::liveInputText(status), QString::fromUtf8("—"));
}

TEST(RoutesViewModel, DeviceRouteLabelsFromTheFixtureSnapshot) {
    AdminSnapshot snapshot = test::fullSnapshot();
    const auto labelOf = [&](const std::string& id) {
        for (const BridgeDevice& device : snapshot.devices) {
            if (device.deviceId == id) return Labels::routeLabel(device, snapshot).toStdString();
        }
        return std::string("no such device");
    };
    EXPECT_EQ(labelOf("ipad-studio-7f3a"), "ROUTED");
    EXPECT_EQ(labelOf("iphone-mini-22c1"), "PORT MISSING");  // its plan lists no routed ids
    EXPECT_EQ(labelOf("pixel-tab-9b04"), "MANUAL OVERRIDE");
    EXPECT_EQ(labelOf("ipad-old-0a11"), "DEVICE OFFLINE");
    EXPECT_EQ(Labels::routeTint(QStringLiteral("MANUAL OVERRIDE")), RouteTint::yellow);

    snapshot.bridge.remoteScriptIdleSeconds = 5.0;  // exactly 5.0 is not linked
    EXPECT_EQ(labelOf("ipad-studio-7f3a"), "LIVE OFFLINE");
    snapshot.bridge.remoteScriptIdleSeconds = 4.999;
    EXPECT_EQ(labelOf("ipad-studio-7f3a"), "ROUTED");

    snapshot.liveTracks.erase(snapshot.liveTracks.begin());  // track 101 gone from Live
    EXPECT_EQ(labelOf("ipad-studio-7f3a"), "TRACK MISSING");
    EXPECT_EQ(Labels::routeTint(QStringLiteral("TRACK MISSING")), RouteTint::red);

    snapshot = test::fullSnapshot();
    snapshot.bridge.deviceRoutingPolicy->automaticDeviceRoutingEnabled = false;
    EXPECT_EQ(labelOf("ipad-studio-7f3a"), "LAYER SELECTED");
    EXPECT_EQ(Labels::routeTint(QStringLiteral("LAYER SELECTED")), RouteTint::violet);
    snapshot.bridge.deviceRoutingPlan = std::vector<DeviceTrackRoutingPlan>{};
    EXPECT_EQ(Labels::noPlansTitle(snapshot), "Automatic routing is off");

    snapshot = test::fullSnapshot();
    auto& statuses = *snapshot.bridge.deviceRoutingStatuses;
    statuses[0].status = "input_routing_disabled";
    EXPECT_EQ(labelOf("ipad-studio-7f3a"), "WAITING FOR LIVE");
    statuses[0].status = "waiting_for_port";
    EXPECT_EQ(labelOf("ipad-studio-7f3a"), "PORT MISSING");
    statuses[0].status = "unsupported_track";
    EXPECT_EQ(labelOf("ipad-studio-7f3a"), "UNSUPPORTED TRACK");
    statuses.erase(statuses.begin());
    EXPECT_EQ(labelOf("ipad-studio-7f3a"), "WAITING FOR LIVE");
    (*snapshot.bridge.deviceRoutingPlan)[0].routedDeviceIds.reset();  // rule skipped
    EXPECT_EQ(labelOf("ipad-studio-7f3a"), "WAITING FOR LIVE");
    snapshot.bridge.deviceRoutingPlan.reset();
    EXPECT_EQ(labelOf("ipad-studio-7f3a"), "WAITING");

    snapshot.devices[0].assignedTrackLiveId.reset();
    EXPECT_EQ(labelOf("ipad-studio-7f3a"), "UNASSIGNED");
}

TEST(RoutesViewModel, DeviceGroupsAndTrackPicker) {
    AdminSnapshot snapshot = test::fullSnapshot();
    EXPECT_EQ(Labels::activeDevices(snapshot).size(), 3u);
    ASSERT_EQ(Labels::knownDevices(snapshot).size(), 1u);  // the archived ones get no card
    EXPECT_EQ(Labels::knownDevicesTitle(1), "Known devices (1)");

    BridgeDevice device = snapshot.devices[0];
    const auto labels = [&] {
        std::vector<std::string> result;
        for (const TrackChoice& choice : Labels::trackChoices(device, snapshot)) {
            result.push_back(choice.label.toStdString() + "=" + std::to_string(choice.value));
        }
        return result;
    };
    EXPECT_EQ(labels(), (std::vector<std::string>{"No layer selected=-1", "Keys=101", "Bass=102", "Pads=103",
                                                  "Drums=104"}));

    device.assignedTrackLiveId = 105;  // exists but has no MIDI input
    device.assignedTrackName = "Vocals";
    EXPECT_EQ(labels()[1], "Unavailable · Vocals=105");
    EXPECT_EQ(Labels::routeLabel(device, snapshot), "WAITING");  // the track exists: later rules apply
    // Choosing the value in force sends nothing; another value does.
    EXPECT_FALSE(Labels::choiceChangesAssignment(device, 105));
    EXPECT_TRUE(Labels::choiceChangesAssignment(device, -1));
    EXPECT_EQ(Labels::trackForValue(snapshot, 105)->name, "Vocals");
    EXPECT_FALSE(Labels::trackForValue(snapshot, -1).has_value());

    device.assignedTrackLiveId.reset();
    EXPECT_FALSE(Labels::choiceChangesAssignment(device, -1));
    EXPECT_EQ(Labels::instrumentName(device), "Norv Studio iPad");
    device.endpoints.clear();
    EXPECT_EQ(Labels::instrumentName(device), "Instrument");

    EXPECT_TRUE(Labels::trackPickerEnabled(true, true, true));
    EXPECT_FALSE(Labels::trackPickerEnabled(true, false, true));
}

// A scheduler under the test's control: it keeps the actions and runs them when told.
struct ManualScheduler {
    struct Entry {
        std::chrono::milliseconds due;
        QPointer<QObject> context;
        std::function<void()> action;
    };
    std::chrono::milliseconds now{0};
    std::vector<Entry> entries;

    ClearConfirmation::Scheduler scheduler() {
        return [this](std::chrono::milliseconds delay, QObject* context, std::function<void()> action) {
            entries.push_back({now + delay, context, std::move(action)});
        };
    }
    void advanceTo(std::chrono::milliseconds t) {
        now = t;
        for (Entry& entry : entries) {
            if (entry.action && entry.due <= now) {
                auto action = std::move(entry.action);
                entry.action = nullptr;
                if (entry.context) action();
            }
        }
    }
};

TEST(ClearConfirmation, SecondPressWithinFourSecondsClears) {
    using namespace std::chrono_literals;
    ManualScheduler clock;
    ClearConfirmation confirmation(clock.scheduler(), ClearConfirmation::kLapse);
    int clears = 0;
    const auto clear = [&] { ++clears; };

    EXPECT_EQ(confirmation.title(), "Clear assignments");
    confirmation.press(clear);
    EXPECT_EQ(confirmation.title(), "Confirm clear");
    clock.advanceTo(3999ms);
    EXPECT_TRUE(confirmation.pending());
    clock.advanceTo(4000ms);  // lapses, nothing sent
    EXPECT_FALSE(confirmation.pending());
    EXPECT_EQ(clears, 0);

    // Press at 10 s, confirm at 11 s, press again at 13.1 s: the new window lasts its own 4 s.
    clock.advanceTo(10000ms);
    confirmation.press(clear);
    clock.advanceTo(11000ms);
    confirmation.press(clear);
    EXPECT_EQ(clears, 1);
    EXPECT_EQ(confirmation.title(), "Clear assignments");
    clock.advanceTo(13100ms);
    confirmation.press(clear);
    clock.advanceTo(17099ms);
    EXPECT_TRUE(confirmation.pending()) << "the first window's lapse ended the second";
    clock.advanceTo(17100ms);
    EXPECT_FALSE(confirmation.pending());
    EXPECT_EQ(clears, 1);
}

// The application's own timer never ends the window before its 4 s.
TEST(ClearConfirmation, TheWindowNeverLapsesBeforeFourSeconds) {
    ClearConfirmation confirmation;
    QElapsedTimer waited;
    waited.start();  // before the press arms the timer: an on-time lapse reads 4000 ms or more
    confirmation.press([] {});
    while (confirmation.pending() && waited.elapsed() < 6000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_FALSE(confirmation.pending());
    EXPECT_GE(waited.elapsed(), 4000);
}

TEST(ClearConfirmation, RealTimerLapsesAndOutlivesNoOwner) {
    using namespace std::chrono_literals;
    const auto singleShot = [](std::chrono::milliseconds delay, QObject* context, std::function<void()> action) {
        QTimer::singleShot(delay, context, std::move(action));
    };
    auto* confirmation = new ClearConfirmation(singleShot, 30ms);
    confirmation->press([] {});
    QElapsedTimer waited;
    waited.start();
    while (confirmation->pending() && waited.elapsed() < 2000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_FALSE(confirmation->pending());

    confirmation->press([] {});
    delete confirmation;  // the pending lapse must not touch the deleted object
    waited.restart();
    while (waited.elapsed() < 80) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

}  // namespace
}  // namespace norv
