#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QStringList>
#include <thread>

#include "bluetooth/codec/norv_bluetooth_wire.h"
#include "bluetooth/norv_bluetooth_server.h"
#include "bluetooth/simulated_bluetooth_peripheral.h"
#include "bluetooth/system_bluetooth_clock.h"
#include "bluetooth/virtual_bluetooth_clock.h"
#include "tests/support/bluetooth/bluetooth_hex.h"
#include "tests/support/bluetooth/loopback_engine.h"

namespace norv {
namespace {

using test::settle;
using test::waitUntil;

BluetoothPlatformError platformError(const std::string& description) {
    return {BluetoothPlatformError::coreBluetoothDomain, 1, description};
}

class NorvBluetoothServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        server->onStatus = [this](const QString& s) {
            statuses << s;
            statusTimes.push_back(clock->uptime());
        };
        server->onEvent = [this](const QString& line) { events << line; };
    }

    void TearDown() override {
        server.reset();
        settle();
    }

    void start() { server->start("Norv Bridge · test", engine.port(), midiEngine.port()); }

    bool startDiscoverable() {
        start();
        return waitUntil([&] { return server->status() == "DISCOVERABLE"; });
    }

    SimulatedPeripheralManager& stateManager() { return *backend->managers().at(0); }
    SimulatedPeripheralManager& midiManager() { return *backend->managers().at(1); }
    std::uint16_t statePSM() { return *stateManager().publishedPSMs().begin(); }
    std::uint16_t midiPSM() { return *midiManager().publishedPSMs().begin(); }

    // Moves virtual time with the event loop running on both sides.
    void step(double seconds) {
        settle();
        clock->advance(seconds);
        settle();
    }

    QStringList eventsStartingWith(const QString& prefix) const { return events.filter(QRegularExpression("^" + prefix)); }

    test::LoopbackEngine engine;
    test::LoopbackEngine midiEngine;
    std::shared_ptr<SimulatedBluetoothPeripheral> backend = std::make_shared<SimulatedBluetoothPeripheral>();
    std::shared_ptr<VirtualBluetoothClock> clock = std::make_shared<VirtualBluetoothClock>();
    std::unique_ptr<NorvBluetoothServer> server = std::make_unique<NorvBluetoothServer>(backend, clock);
    QStringList statuses;
    std::vector<double> statusTimes;
    QStringList events;
};


TEST_F(NorvBluetoothServerTest, StartsUpToDiscoverableAndStopsToOff) {
    EXPECT_EQ(server->status(), "OFF");
    ASSERT_TRUE(startDiscoverable());
    EXPECT_EQ(statuses, (QStringList{"STARTING", "DISCOVERABLE"}));
    const auto statePsm = QString::number(statePSM());
    const auto midiPsm = QString::number(midiPSM());
    EXPECT_EQ(eventsStartingWith("radio_state"),
              (QStringList{"radio_state authorization=3 role=state state=5", "radio_state authorization=3 role=midi state=5"}));
    EXPECT_EQ(eventsStartingWith("channel_published"),
              (QStringList{"channel_published psm=" + statePsm + " role=state", "channel_published psm=" + midiPsm + " role=midi"}));
    EXPECT_EQ(eventsStartingWith("advertising"), QStringList{"advertising midi_psm=" + midiPsm + " state_psm=" + statePsm});

    EXPECT_EQ(stateManager().encryptedPublishRequests(), 1);
    EXPECT_EQ(midiManager().encryptedPublishRequests(), 1);
    ASSERT_EQ(stateManager().services().size(), 1u);
    const auto& service = stateManager().services()[0];
    EXPECT_EQ(service.uuid, NorvBluetoothWire::service);
    EXPECT_TRUE(service.primary);
    ASSERT_EQ(service.characteristics.size(), 2u);
    EXPECT_EQ(service.characteristics[0].uuid, NorvBluetoothWire::configuration);
    EXPECT_EQ(service.characteristics[1].uuid, NorvBluetoothWire::portableConfiguration);
    EXPECT_TRUE(service.characteristics[0].encryptionRequired && service.characteristics[1].encryptionRequired);
    EXPECT_EQ(stateManager().advertisedServices(), std::vector<std::string>{NorvBluetoothWire::service});
    EXPECT_EQ(stateManager().localName(), "Norv Bridge · test");
    EXPECT_TRUE(midiManager().services().empty());

    // A second start changes nothing, not even the name or ports.
    server->start("Other", 1, 2);
    EXPECT_EQ(server->name(), "Norv Bridge · test");
    EXPECT_EQ(server->port(), engine.port());
    EXPECT_EQ(backend->managersCreated(), 2);

    clock->advance(60);  // the publication deadline was cancelled by advertising
    settle();
    EXPECT_EQ(server->status(), "DISCOVERABLE");

    server->stop();
    EXPECT_EQ(statuses.last(), "OFF");
    EXPECT_TRUE(backend->managers().empty());
    server->stop();
    EXPECT_EQ(statuses.size(), 3) << "the same status is not told twice";
}

TEST_F(NorvBluetoothServerTest, StopCleansUpEverythingThePlatformHeld) {
    ASSERT_TRUE(startDiscoverable());
    const std::vector<std::uint16_t> psms{statePSM(), midiPSM()};
    server->stop();
    const auto& cleanUp = backend->cleanUp();
    EXPECT_EQ(cleanUp.unpublishedPSMs, psms);
    EXPECT_EQ(cleanUp.removedServices, std::vector<std::string>{NorvBluetoothWire::service});
    EXPECT_EQ(cleanUp.clearedDelegates, 2);
    EXPECT_TRUE(cleanUp.leftovers.empty()) << cleanUp.leftovers.front();
}

TEST_F(NorvBluetoothServerTest, CallsFromAnotherThreadAreRefusedAndLogged) {
    static QStringList warnings;
    warnings.clear();
    const auto previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtWarningMsg) warnings << text;
    });
    std::thread([this] { start(); }).join();
    EXPECT_FALSE(server->running());
    ASSERT_TRUE(startDiscoverable());
    std::thread([this] { server->stop(); }).join();
    qInstallMessageHandler(previous);
    EXPECT_EQ(server->status(), "DISCOVERABLE");
    ASSERT_EQ(warnings.size(), 2);
    EXPECT_TRUE(warnings[0].contains("start refused")) << warnings[0].toStdString();
    EXPECT_TRUE(warnings[1].contains("stop refused")) << warnings[1].toStdString();
}

TEST_F(NorvBluetoothServerTest, PublishesOnlyOnceBothRadiosArePoweredOn) {
    backend = std::make_shared<SimulatedBluetoothPeripheral>(radioUnknown);
    server = std::make_unique<NorvBluetoothServer>(backend, clock);
    SetUp();
    start();
    settle();
    stateManager().setRadioState(radioPoweredOn);
    settle();
    EXPECT_EQ(stateManager().publishRequests() + midiManager().publishRequests(), 0);
    midiManager().setRadioState(radioPoweredOn);
    ASSERT_TRUE(waitUntil([&] { return server->status() == "DISCOVERABLE"; }));
    EXPECT_EQ(stateManager().publishRequests(), 1);
}

TEST_F(NorvBluetoothServerTest, RetriesAfterOneThreeAndTenSecondsThenAsksForARestart) {
    backend->publishError = platformError("publication refused");
    start();
    step(0);
    step(1.0);
    step(3.0);
    step(10.0);
    EXPECT_EQ(statuses, (QStringList{"STARTING", "RETRYING", "STARTING", "RETRYING", "STARTING", "RETRYING", "STARTING",
                                     "RESTART BLUETOOTH"}));
    EXPECT_EQ(statusTimes, (std::vector<double>{0, 0, 1, 1, 4, 4, 14, 14}));
    EXPECT_EQ(eventsStartingWith("startup_failed").size(), 4);
    EXPECT_EQ(eventsStartingWith("startup_failed")[0], "startup_failed reason=publication refused");

    // No fifth attempt by itself: the fresh managers publish nothing.
    step(100);
    EXPECT_EQ(server->status(), "RESTART BLUETOOTH");
    EXPECT_EQ(backend->managersCreated(), 10);
    EXPECT_EQ(stateManager().publishRequests() + midiManager().publishRequests(), 0);

    // The radio going off and on again starts afresh.
    backend->publishError.reset();
    backend->setRadioState(radioPoweredOff);
    settle();
    EXPECT_EQ(server->status(), "BLUETOOTH OFF");
    backend->setRadioState(radioPoweredOn);
    ASSERT_TRUE(waitUntil([&] { return server->status() == "DISCOVERABLE"; }));
    EXPECT_EQ(statuses.mid(8), (QStringList{"BLUETOOTH OFF", "STARTING", "DISCOVERABLE"}));
}

TEST_F(NorvBluetoothServerTest, EveryStartupFailureSchedulesARestartWithItsReason) {
    struct Case {
        std::function<void(SimulatedBluetoothPeripheral&)> arrange;
        double wait;
        QString reason;
    };
    const std::vector<Case> cases{
        {[](auto& b) { b.autoPublish = false; }, 12.0, "Bluetooth publication timed out"},
        {[](auto& b) { b.serviceError = platformError("no service"); }, 0, "no service"},
        {[](auto& b) { b.advertisingError = platformError("no adverts"); }, 0, "no adverts"},
        {[](auto& b) { b.advertisingRefused = true; }, 0, "Bluetooth advertising unavailable"},
        {[](auto& b) { b.publishError = platformError(std::string(300, 'r')); }, 0, QString(240, 'r')},
        // A cut at 240 would split the pair that encodes U+1F600: the value ends before it.
        {[](auto& b) { b.publishError = platformError(std::string(239, 'r') + "\xF0\x9F\x98\x80 tail"); }, 0,
         QString(239, 'r')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason.left(40).toStdString());
        server->stop();
        backend = std::make_shared<SimulatedBluetoothPeripheral>();
        c.arrange(*backend);
        server = std::make_unique<NorvBluetoothServer>(backend, clock);
        events.clear();
        SetUp();
        start();
        step(0);
        if (c.wait > 0) {
            step(c.wait - 0.001);
            EXPECT_EQ(server->status(), "STARTING");
            step(0.001);
        }
        EXPECT_EQ(server->status(), "RETRYING");
        EXPECT_EQ(eventsStartingWith("startup_failed"), QStringList{"startup_failed reason=" + c.reason});
    }
}

TEST_F(NorvBluetoothServerTest, RadioStatesShowTheirStatusAndCloseThePipes) {
    ASSERT_TRUE(startDiscoverable());
    const auto central = stateManager().openChannel(statePSM(), QUuid::createUuid());
    ASSERT_TRUE(engine.waitForConnection());
    for (const auto& [state, word] : std::vector<std::pair<int, QString>>{
             {radioUnauthorized, "PERMISSION REQUIRED"}, {radioPoweredOff, "BLUETOOTH OFF"},
             {radioResetting, "UNAVAILABLE"}, {radioUnsupported, "UNAVAILABLE"}}) {
        stateManager().setRadioState(state);
        settle();
        EXPECT_EQ(server->status(), word);
    }
    EXPECT_TRUE(central->closedByPeripheral());
    EXPECT_EQ(eventsStartingWith("state_closed"), QStringList{"state_closed reason=radio unavailable"});
    EXPECT_FALSE(stateManager().isAdvertising());
    EXPECT_EQ(server->openPipes(), 0u);
}

TEST_F(NorvBluetoothServerTest, OnlyNewDistinctPSMsAreKept) {
    backend->autoPublish = false;
    start();
    settle();
    stateManager().reportPublished(0);
    stateManager().reportPublished(0x90);
    stateManager().reportPublished(0x91);  // a second PSM for the state role
    midiManager().reportPublished(0x90);   // the state PSM again: kept, not unpublished
    EXPECT_EQ(stateManager().unpublished(), (std::vector<std::uint16_t>{0, 0x91}));
    EXPECT_TRUE(midiManager().unpublished().empty());
    EXPECT_TRUE(stateManager().services().empty());
    midiManager().reportPublished(0x92);
    ASSERT_TRUE(waitUntil([&] { return server->status() == "DISCOVERABLE"; }));
    EXPECT_EQ(stateManager().read(NorvBluetoothWire::configuration, 0).second,
              test::ascii(NorvBluetoothWire::configurationValue(0x90, 0x92)));
}

TEST_F(NorvBluetoothServerTest, ReadRequestsAnswerEveryOffsetAndRefuseTheRest) {
    start();
    settle(0);
    EXPECT_EQ(stateManager().read(NorvBluetoothWire::configuration, 0).first, 0x06) << "before both PSMs are known";
    ASSERT_TRUE(waitUntil([&] { return server->status() == "DISCOVERABLE"; }));

    const auto value = test::ascii(NorvBluetoothWire::configurationValue(statePSM(), midiPSM()));
    for (const char* characteristic : {NorvBluetoothWire::configuration, NorvBluetoothWire::portableConfiguration}) {
        for (long offset = 0; offset <= static_cast<long>(value.size()); ++offset) {
            const auto [result, got] = stateManager().read(characteristic, offset);
            EXPECT_EQ(result, 0);
            EXPECT_EQ(got, BluetoothBytes(value.begin() + offset, value.end()));
        }
        EXPECT_EQ(stateManager().read(characteristic, static_cast<long>(value.size()) + 1).first, 0x07);
        EXPECT_EQ(stateManager().read(characteristic, -1).first, 0x07);
    }
    EXPECT_EQ(stateManager().read("D017D260-38CF-4D3A-B9DD-6722585F8009", 0).first, 0x06);
    EXPECT_EQ(midiManager().read(NorvBluetoothWire::configuration, 0).first, 0x0E);
}

TEST_F(NorvBluetoothServerTest, AdmitsChannelsByRoleAndCentral) {
    ASSERT_TRUE(startDiscoverable());
    const QUuid a = QUuid::createUuid();
    const QUuid b = QUuid::createUuid();

    const auto lonelyMidi = midiManager().openChannel(midiPSM(), b);  // no state pipe for b
    const auto stranger = stateManager().openChannel(0x00f0, a);       // neither PSM
    settle();
    EXPECT_TRUE(lonelyMidi->closedByPeripheral());
    EXPECT_TRUE(stranger->closedByPeripheral());
    EXPECT_TRUE(events.filter("channel_open").isEmpty());

    const auto state = stateManager().openChannel(statePSM(), a);
    ASSERT_TRUE(engine.waitForConnection());
    const auto midi1 = midiManager().openChannel(midiPSM(), a);
    const auto midi2 = midiManager().openChannel(midiPSM(), a);
    const auto midi3 = midiManager().openChannel(midiPSM(), a);
    settle();
    EXPECT_FALSE(midi1->closedByPeripheral());
    EXPECT_FALSE(midi2->closedByPeripheral());
    EXPECT_TRUE(midi3->closedByPeripheral()) << "at most two MIDI channels per central";
    const auto psmText = QString::number(statePSM());
    EXPECT_EQ(eventsStartingWith("channel_open"),
              (QStringList{"channel_open psm=" + psmText, "channel_open psm=" + QString::number(midiPSM()),
                           "channel_open psm=" + QString::number(midiPSM())}));
    EXPECT_FALSE(events.join('\n').contains(a.toString(QUuid::WithoutBraces))) << "lines never name a central";

    // Both directions flow: the state stream to the engine's port, MIDI to the secure port.
    state->centralWrite(test::ascii("state"));
    midi1->centralWrite(test::concat({test::hex("00 00"), test::ascii("x")}));  // port 0: refused
    midi2->centralWrite(std::vector<std::uint8_t>{static_cast<std::uint8_t>(midiEngine.port() >> 8),
                                                  static_cast<std::uint8_t>(midiEngine.port() & 0xff), 'm'});
    ASSERT_TRUE(waitUntil([&] { return engine.received() == "state" && midiEngine.received() == "m"; }));
    EXPECT_TRUE(events.contains("midi_closed reason=midi endpoint not advertised"));
    EXPECT_TRUE(events.contains("pipe message=tcp ready psm=" + psmText));
    EXPECT_TRUE(events.contains("pipe message=midi endpoint " + QString::number(midiEngine.port()) +
                                " psm=" + QString::number(midiPSM())));

    // Failed opens are reported; a channel that came with an error is closed, not kept.
    const auto broken = SimulatedBluetoothChannel::create(statePSM(), a);
    stateManager().failChannelOpen(platformError("encryption failed"), broken);
    stateManager().failChannelOpen(std::nullopt);
    settle();
    EXPECT_EQ(eventsStartingWith("open_failed"), (QStringList{"open_failed error=encryption failed", "open_failed error=nil"}));
    EXPECT_TRUE(broken->closedByPeripheral());

    // A manager that is not one of the server's own gets its channel closed.
    auto foreign = backend->createManager(nullptr);
    const auto late = SimulatedBluetoothChannel::create(statePSM(), a);
    server->peripheralManagerDidOpenChannel(*foreign, late, std::nullopt);
    EXPECT_TRUE(late->closedByPeripheral());
}

TEST_F(NorvBluetoothServerTest, StatePipeEndingTakesItsCentralsMidiPipesAlong) {
    ASSERT_TRUE(startDiscoverable());
    const QUuid a = QUuid::createUuid();
    const auto first = stateManager().openChannel(statePSM(), a);
    ASSERT_TRUE(engine.waitForConnection());
    const auto midi = midiManager().openChannel(midiPSM(), a);
    settle();

    // A second state channel from the same central replaces the first.
    const auto second = stateManager().openChannel(statePSM(), a);
    ASSERT_TRUE(engine.waitForConnection(2));
    EXPECT_TRUE(first->closedByPeripheral());
    EXPECT_TRUE(midi->closedByPeripheral());
    EXPECT_EQ(eventsStartingWith("(state|midi)_closed"),
              (QStringList{"midi_closed reason=state disconnected", "state_closed reason=state replaced"}));

    // The new state pipe is the central's: its MIDI channel is admitted, and closes with it.
    const auto midi2 = midiManager().openChannel(midiPSM(), a);
    settle();
    EXPECT_FALSE(midi2->closedByPeripheral());
    second->centralClose();
    ASSERT_TRUE(waitUntil([&] { return midi2->closedByPeripheral(); }));
    EXPECT_EQ(eventsStartingWith("(state|midi)_closed").mid(2),
              (QStringList{"midi_closed reason=state disconnected", "state_closed reason=bluetooth closed"}));

    // The engine closing the state stream ends the pipe too.
    const auto third = stateManager().openChannel(statePSM(), a);
    ASSERT_TRUE(engine.waitForConnection(3));
    ASSERT_TRUE(waitUntil([&] { return engine.connection(2) && engine.connection(2)->state() == QAbstractSocket::ConnectedState; }));
    engine.connection(2)->disconnectFromHost();
    ASSERT_TRUE(waitUntil([&] { return third->closedByPeripheral(); }));
    EXPECT_EQ(events.filter("state_closed").last(), "state_closed reason=tcp end");
    EXPECT_EQ(server->openPipes(), 0u);
}

TEST_F(NorvBluetoothServerTest, ClosingManyPipesWhileTheTablesChangeIsSafe) {
    ASSERT_TRUE(startDiscoverable());
    std::vector<std::shared_ptr<SimulatedBluetoothChannel>> channels;
    for (int i = 0; i < 4; ++i) {
        const QUuid peer = QUuid::createUuid();
        channels.push_back(stateManager().openChannel(statePSM(), peer));
        settle(0);
        channels.push_back(midiManager().openChannel(midiPSM(), peer));
        channels.push_back(midiManager().openChannel(midiPSM(), peer));
        settle(0);
    }
    ASSERT_TRUE(waitUntil([&] { return server->openPipes() == 12; }));

    // The owner stops the server from inside a close event, in the middle of a teardown walk.
    server->onEvent = [this](const QString& line) {
        events << line;
        if (line.startsWith("midi_closed")) server->stop();
    };
    channels[0]->centralClose();
    ASSERT_TRUE(waitUntil([&] { return server->status() == "OFF"; }));
    settle();
    for (const auto& c : channels) EXPECT_TRUE(c->closedByPeripheral());
    EXPECT_EQ(server->openPipes(), 0u);
    EXPECT_EQ(events.filter(QRegularExpression("^(state|midi)_closed")).size(), 12);
    EXPECT_EQ(events.filter("state_closed").size(), 4);
    EXPECT_EQ(events.filter("reason=bluetooth closed").size(), 1);
}

TEST_F(NorvBluetoothServerTest, RetryScheduleRunsOnRealTimersScaledDown) {
    backend->publishError = platformError("publication refused");
    const auto scaled = std::make_shared<SystemBluetoothClock>(0.01);  // 14 s of retries in about 140 ms
    server = std::make_unique<NorvBluetoothServer>(backend, scaled);
    SetUp();
    statusTimes.clear();
    server->onStatus = [&](const QString& s) {
        statuses << s;
        statusTimes.push_back(scaled->uptime());
    };
    start();
    ASSERT_TRUE(waitUntil([&] { return server->status() == "RESTART BLUETOOTH"; }));
    ASSERT_EQ(statuses.size(), 8);
    // Each retry comes after its delay (scaled time), never before.
    EXPECT_GE(statusTimes[2] - statusTimes[1], 1.0);
    EXPECT_GE(statusTimes[4] - statusTimes[3], 3.0);
    EXPECT_GE(statusTimes[6] - statusTimes[5], 10.0);
}

}  // namespace
}  // namespace norv
