// The store against fakes of the admin client, the engine supervisor and the Bluetooth server.
#include "tests/core/store_test_fixture.h"
#include "tests/support/core/engine_test_support.h"
#include "tests/support/core/log_capture.h"

#include <cmath>

namespace norv {
namespace {

using test::device;
using test::FakeAdminClient;
using test::kApplying;
using test::settle;
using test::StoreTest;
using test::waitUntil;
using namespace std::chrono_literals;

TEST_F(StoreTest, CommandsAreDeduplicatedByPathAndReportApplyingThenLabelOrError) {
    store->command("/admin/devices/clean", nlohmann::json::array(), QStringLiteral("Cleaned"));
    EXPECT_TRUE(admin->requests.empty()) << "nothing is sent while the channel is down";
    EXPECT_FALSE(store->actionMessage().has_value());

    connectOwnEngine();
    store->command("/admin/device/rename", {"a", "One"}, QStringLiteral("Renamed"));
    store->command("/admin/device/rename", {"b", "Two"}, QStringLiteral("Renamed"));
    ASSERT_EQ(admin->requests.size(), 1u);
    EXPECT_EQ(admin->requests[0].args, nlohmann::json({"a", "One"}));
    EXPECT_EQ(store->actionMessage(), kApplying);
    EXPECT_EQ(store->pendingActions(), std::set<std::string>{"/admin/device/rename"});

    admin->complete();
    EXPECT_EQ(store->actionMessage(), QStringLiteral("Renamed"));
    EXPECT_FALSE(store->actionFailed());
    EXPECT_TRUE(store->pendingActions().empty());

    store->command("/admin/device/rename", {"b", "Two"}, QStringLiteral("Renamed"));
    ASSERT_EQ(admin->requests.size(), 1u) << "the path is free again after its completion";
    admin->complete(QStringLiteral("Action not confirmed. Check the Bridge status."));
    EXPECT_EQ(store->actionMessage(), QStringLiteral("Action not confirmed. Check the Bridge status."));
    EXPECT_TRUE(store->actionFailed());

    // A new command clears the failure flag while it is in flight.
    store->command("/admin/pairing/reset", nlohmann::json::array(), QStringLiteral("Pairing reset"));
    EXPECT_FALSE(store->actionFailed());
    EXPECT_EQ(store->actionMessage(), kApplying);

    // An outside engine makes the window read-only: nothing is sent.
    engine->setRunning(false);
    EXPECT_TRUE(store->externalEngine());
    store->command("/admin/devices/clean", nlohmann::json::array(), QStringLiteral("Cleaned"));
    EXPECT_EQ(admin->requests.size(), 1u);
}

TEST_F(StoreTest, CompletionAfterTheStoreIsGoneDoesNothing) {
    connectOwnEngine();
    store->command("/admin/device/rename", {"a", "One"}, QStringLiteral("Renamed"));
    FakeAdminClient::Request request = admin->requests.front();
    store.reset();
    request.completion(std::nullopt);  // must not touch the destroyed store
}

TEST_F(StoreTest, DeviceAccessSendsTheFingerprintOnlyWhenAllowingUnderRequiredCertificates) {
    AdminSnapshot snapshot = AdminSnapshot::empty();
    snapshot.deviceAccess = DeviceAccessSnapshot{};
    snapshot.deviceAccess->requireCertificate = true;
    connectOwnEngine(snapshot);

    store->deviceAccess("pad", DeviceAccessAction::allow, std::string());
    store->deviceAccess("pad", DeviceAccessAction::allow, std::nullopt);
    EXPECT_TRUE(admin->requests.empty());
    EXPECT_FALSE(store->actionMessage().has_value()) << "a refused allow leaves the status line alone";

    store->deviceAccess("pad", DeviceAccessAction::allow, std::string("ab12"));
    ASSERT_EQ(admin->requests.size(), 1u);
    EXPECT_EQ(admin->requests[0].path, "/admin/device/access");
    EXPECT_EQ(admin->requests[0].args, nlohmann::json({"pad", "allow", "ab12"}));
    admin->complete();
    EXPECT_EQ(store->actionMessage(), QStringLiteral("Device allowed"));

    store->deviceAccess("pad", DeviceAccessAction::forget, std::string("ab12"));
    EXPECT_EQ(admin->requests[0].args, nlohmann::json({"pad", "forget"}));
    admin->complete();
    EXPECT_EQ(store->actionMessage(), QStringLiteral("Access revoked"));

    store->deviceAccess("pad", DeviceAccessAction::pair, std::nullopt);
    admin->complete();
    EXPECT_EQ(store->actionMessage(), QStringLiteral("Pairing allowed"));
    store->deviceAccess("pad", DeviceAccessAction::disconnect, std::nullopt);
    admin->complete();
    EXPECT_EQ(store->actionMessage(), QStringLiteral("Device disconnected"));

    // Without the requirement the fingerprint is ignored.
    admin->snapshotHandler(AdminSnapshot::empty());
    store->deviceAccess("pad", DeviceAccessAction::allow, std::string("ab12"));
    EXPECT_EQ(admin->requests[0].args, nlohmann::json({"pad", "allow"}));
}

TEST_F(StoreTest, AdminActionsBuildTheirArguments) {
    connectOwnEngine();
    store->assign(device("pad", true), std::nullopt);
    EXPECT_EQ(admin->requests.back().args, nlohmann::json({"pad", nullptr, "", nullptr}));
    admin->complete();
    EXPECT_EQ(store->actionMessage(), QStringLiteral("Assignment saved"));

    LiveTrack track;
    track.liveId = 7;
    track.name = "Keys";
    store->assign(device("pad", true), track);
    EXPECT_EQ(admin->requests.back().args, nlohmann::json({"pad", 7, "Keys", nullptr}));
    admin->complete();
    track.index = 2;
    store->assign(device("pad", true), track);
    EXPECT_EQ(admin->requests.back().args, nlohmann::json({"pad", 7, "Keys", 2}));
    admin->complete();

    test::LogCapture log;
    store->updateDeviceRoutingPolicy(DeviceRoutingPolicy{});
    EXPECT_EQ(admin->requests.back().args, nlohmann::json::array({DeviceRoutingPolicy{}.adminPayload()}));
    admin->complete();
    DeviceRoutingPolicy policy;
    policy.restoreInputOnRelease = false;
    store->updateDeviceRoutingPolicy(policy);
    admin->complete();
    EXPECT_TRUE(log.contains(QtInfoMsg, test::kRoutingCategory,
                             QStringLiteral("Applied device routing policy automatic=true shared=all_ins "
                                            "restore=false manual_override=true grace=3.000000")));
    store->clearDeviceTrackAssignments();
    admin->complete();
    EXPECT_TRUE(log.contains(QtWarningMsg, test::kRoutingCategory,
                             QStringLiteral("Cleared all device track assignments")));  // default level

    store->setDetailedDiagnostics(false);
    EXPECT_EQ(admin->requests.back().args, nlohmann::json({false}));
    admin->complete();
    EXPECT_EQ(store->actionMessage(), QStringLiteral("Detailed capture stopped"));

    admin->stateHandler(AdminConnectionState::connecting());
    store->setDetailedDiagnostics(true);
    EXPECT_TRUE(admin->requests.empty());
}

TEST_F(StoreTest, PortValidationRefusesOutOfRangeAndReservedPorts) {
    const QString range = QStringLiteral("Wi-Fi port must be between 1024 and 65534");
    const QString reserved = QStringLiteral("Wi-Fi port and the next port must not use 9313\u20139315");
    BridgeLaunchConfiguration configuration;
    for (int port : {1023, 65535, 0, -1}) {
        configuration.publicPort = port;
        EXPECT_FALSE(store->validConfiguration(configuration)) << port;
        EXPECT_EQ(store->actionMessage(), range);
        EXPECT_TRUE(store->actionFailed());
    }
    for (int port : {9312, 9313, 9314, 9315}) {
        configuration.publicPort = port;
        EXPECT_FALSE(store->validConfiguration(configuration)) << port;
        EXPECT_EQ(store->actionMessage(), reserved);
    }
    store->dismissActionMessage();
    for (int port : {9311, 9316, 65534, 1024}) {
        configuration.publicPort = port;
        EXPECT_TRUE(store->validConfiguration(configuration)) << port;
    }
    EXPECT_FALSE(store->actionMessage().has_value());

    // An invalid stored port starts nothing.
    configuration.publicPort = 80;
    configuration.save(*settings);
    makeStore();
    store->startBridge();
    EXPECT_TRUE(engine->starts.empty());
    EXPECT_EQ(store->actionMessage(), range);
}

TEST_F(StoreTest, ApplyingRestartsForEngineSettingsButOnlyTouchesBluetoothForItsSwitch) {
    connectOwnEngine(withDevices({device("pad", true)}));

    // Bluetooth only: no question, saved, server started, no restart.
    BridgeLaunchConfiguration next = store->launchConfiguration();
    next.bluetoothEnabled = true;
    store->applyConnectionConfiguration(next);
    EXPECT_TRUE(dialogs.asked.empty());
    EXPECT_TRUE(engine->restarts.empty());
    EXPECT_TRUE(BridgeLaunchConfiguration::load(*settings).bluetoothEnabled);
    ASSERT_EQ(bluetooth->starts.size(), 1u);

    // An engine setting with a device connected asks; refusing changes nothing.
    next.iosUSBEnabled = false;
    dialogs.answers = {false};
    store->applyConnectionConfiguration(next);
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].message, QStringLiteral("Apply and restart?"));
    EXPECT_TRUE(store->launchConfiguration().iosUSBEnabled);
    EXPECT_TRUE(BridgeLaunchConfiguration::load(*settings).iosUSBEnabled);

    // Accepting saves, stops Bluetooth and restarts with the normalised configuration.
    next.wirelessEnabled = false;
    next.bonjourEnabled = true;
    next.requireDeviceApproval = false;
    dialogs.answers = {true};
    test::LogCapture log;
    store->applyConnectionConfiguration(next);
    ASSERT_EQ(engine->restarts.size(), 1u);
    const BridgeLaunchConfiguration& applied = engine->restarts[0];
    auto word = [](bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); };
    EXPECT_TRUE(log.contains(
        QtInfoMsg, test::kConnectionCategory,
        QStringLiteral("Applying connection config wireless=%1 bonjour=%2 ios_usb=%3 android_usb=%4 port=%5")
            .arg(word(applied.wirelessEnabled), word(applied.bonjourEnabled), word(applied.iosUSBEnabled),
                 word(applied.androidUSBEnabled))
            .arg(applied.publicPort)));
    EXPECT_FALSE(engine->restarts[0].bonjourEnabled);
    EXPECT_TRUE(engine->restarts[0].requireDeviceApproval);
    EXPECT_FALSE(bluetooth->running);
    EXPECT_FALSE(store->bluetoothPort().has_value());
    EXPECT_EQ(store->launchConfiguration(), engine->restarts[0]);
    EXPECT_EQ(BridgeLaunchConfiguration::load(*settings), engine->restarts[0]);

    // The same configuration again: no question, no restart, Bluetooth follows its switch.
    store->applyConnectionConfiguration(store->launchConfiguration());
    EXPECT_EQ(dialogs.asked.size(), 2u);
    EXPECT_EQ(engine->restarts.size(), 1u);
    EXPECT_TRUE(bluetooth->running);

    // An invalid port is refused before anything is saved.
    next = store->launchConfiguration();
    next.publicPort = 9314;
    store->applyConnectionConfiguration(next);
    EXPECT_EQ(BridgeLaunchConfiguration::load(*settings).publicPort, 9311);
}

TEST_F(StoreTest, MenuBarSymbolFollowsConnectionAndLiveLink) {
    EXPECT_EQ(store->menuBarSymbol(), QStringLiteral("cable.connector.slash"));
    connectOwnEngine();
    EXPECT_EQ(store->menuBarSymbol(), QStringLiteral("cable.connector"));
    const auto withIdle = [&](std::optional<double> idle) {
        AdminSnapshot s = AdminSnapshot::empty();
        s.bridge.remoteScriptIdleSeconds = idle;
        admin->snapshotHandler(s);
        return store->menuBarSymbol();
    };
    EXPECT_EQ(withIdle(4.99), QStringLiteral("point.3.connected.trianglepath.dotted"));
    EXPECT_EQ(withIdle(5.0), QStringLiteral("cable.connector"));
    EXPECT_EQ(withIdle(std::nan("")), QStringLiteral("cable.connector"));
    admin->stateHandler(AdminConnectionState::connecting());
    EXPECT_EQ(store->menuBarSymbol(), QStringLiteral("cable.connector.slash"));
}

TEST_F(StoreTest, BluetoothRunsOnlyForTheOwnConnectedEngineWithItsSwitchOn) {
    BridgeLaunchConfiguration configuration;
    configuration.bluetoothEnabled = true;
    configuration.save(*settings);
    makeStore();
    store->start();
    admin->stateHandler(AdminConnectionState::connected());
    EXPECT_TRUE(store->externalEngine());
    EXPECT_TRUE(bluetooth->starts.empty()) << "never for an outside engine";

    // Applying the unchanged configuration is the public way to have the store look at Bluetooth again.
    const auto reconsiderBluetooth = [&] { store->applyConnectionConfiguration(store->launchConfiguration()); };
    engine->setRunning(true);
    reconsiderBluetooth();
    ASSERT_EQ(bluetooth->starts.size(), 1u);
    EXPECT_EQ(bluetooth->starts[0].name, QStringLiteral("Norv Bridge \u00B7 Studio"));
    EXPECT_EQ(bluetooth->starts[0].port, 9311);
    EXPECT_EQ(bluetooth->starts[0].secureMidiPort, 9312);
    reconsiderBluetooth();
    EXPECT_EQ(bluetooth->starts.size(), 1u) << "already serving this port";

    admin->stateHandler(AdminConnectionState::disconnected("Bridge unavailable"));
    EXPECT_FALSE(bluetooth->running);
    admin->stateHandler(AdminConnectionState::connected());
    EXPECT_EQ(bluetooth->starts.size(), 2u);

    bluetooth->onStatus(QStringLiteral("DISCOVERABLE"));
    EXPECT_EQ(store->bluetoothStatus(), QStringLiteral("DISCOVERABLE"));
    EXPECT_EQ(BridgeStore::bluetoothName(QString()), QStringLiteral("Norv Bridge \u00B7 Mac"));
}

TEST_F(StoreTest, RepeatedStatesPublishNothingAndDisconnectDropsTheSnapshot) {
    store->start();
    int changeCount = 0;
    QObject::connect(store.get(), &BridgeStore::changed, store.get(), [&] { ++changeCount; });
    const auto changes = [&] { return changeCount; };
    admin->stateHandler(AdminConnectionState::connected());
    admin->snapshotHandler(withDevices({device("pad", true)}));
    const int afterConnect = changes();
    const std::size_t subscriptions = admin->sentOn("/admin/midi-monitor/configure").size();
    admin->stateHandler(AdminConnectionState::connected());
    EXPECT_EQ(changes(), afterConnect);
    EXPECT_EQ(admin->sentOn("/admin/midi-monitor/configure").size(), subscriptions);

    admin->stateHandler(AdminConnectionState::disconnected("one"));
    EXPECT_TRUE(store->snapshot().devices.empty());
    const int afterDrop = changes();
    admin->stateHandler(AdminConnectionState::disconnected("two"));
    EXPECT_GT(changes(), afterDrop) << "another reason is another state";
}

TEST_F(StoreTest, StartRunsOnceAndLaunchesOnlyWhenNoEngineAnswers) {
    store->start();
    store->start();
    EXPECT_EQ(admin->startCount, 1);
    EXPECT_TRUE(waitUntil([&] { return !engine->starts.empty(); }, 2s));
    settle(60ms);
    EXPECT_EQ(engine->starts.size(), 1u) << "one start check";

    makeStore();
    store->start();
    admin->stateHandler(AdminConnectionState::connected());
    settle(80ms);
    EXPECT_TRUE(engine->starts.empty());
    EXPECT_TRUE(store->externalEngine());
    EXPECT_FALSE(store->canChange());
    store->startBridge();
    store->restartBridge();
    EXPECT_TRUE(engine->starts.empty());
    EXPECT_TRUE(engine->restarts.empty());
}

TEST_F(StoreTest, InterruptionsAskOnlyWhenTheOwnEngineServesConnectedDevices) {
    store->stopBridge();
    EXPECT_EQ(engine->terminations, 0);
    EXPECT_TRUE(dialogs.asked.empty());

    connectOwnEngine(withDevices({device("pad", false)}));
    EXPECT_TRUE(store->confirmInterruption(QStringLiteral("Quit Bridge")));
    EXPECT_TRUE(dialogs.asked.empty());

    admin->snapshotHandler(withDevices({device("pad", false), device("phone", true)}));
    dialogs.answers = {false};
    store->stopBridge();
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].message, QStringLiteral("Stop Bridge?"));
    EXPECT_EQ(dialogs.asked[0].informativeText,
              QStringLiteral("Connected devices will disconnect and playing notes will stop."));
    EXPECT_EQ(dialogs.asked[0].confirmButton, QStringLiteral("Stop Bridge"));
    EXPECT_EQ(dialogs.asked[0].cancelButton, QStringLiteral("Cancel"));
    EXPECT_EQ(engine->terminations, 0);

    dialogs.answers = {false};
    store->restartBridge();
    EXPECT_TRUE(engine->restarts.empty());
    dialogs.answers = {true};
    store->restartBridge();
    EXPECT_EQ(engine->restarts.size(), 1u);

    const int stopsBefore = bluetooth->stops;
    dialogs.answers = {true};
    store->stopBridge();
    EXPECT_EQ(engine->terminations, 1);
    EXPECT_GT(bluetooth->stops, stopsBefore);
}

TEST_F(StoreTest, DeviceLabelsAndConnectedCount) {
    connectOwnEngine(withDevices({device("shared", true, "Not shared"), device("pad", false, "")}));
    EXPECT_EQ(store->deviceLabel("shared"), "Shared");
    EXPECT_EQ(store->deviceLabel("pad"), "");
    EXPECT_EQ(store->deviceLabel("ghost"), "ghost");
    EXPECT_EQ(store->connectedDeviceCount(), 1);

    store->toggleMidiMessageFamily(MidiMessageFamily::notes);
    EXPECT_FALSE(store->midiMonitorFilter().families.contains(MidiMessageFamily::notes));
    store->toggleMidiMessageFamily(MidiMessageFamily::notes);
    EXPECT_EQ(store->midiMonitorFilter().families.count(), 5);
}

}  // namespace
}  // namespace norv
