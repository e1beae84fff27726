// The Bluetooth server on the BlueZ backend, against the fake BlueZ on a private bus, with the
// channels on the stand-in socket family.
#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QDir>
#include <QJsonArray>
#include <QRegularExpression>
#include <QStringList>
#include <QThread>
#include <tuple>

#include "bluetooth/bluez_dbus_types.h"
#include "tests/bluetooth/bluez_peripheral_fixture.h"
#include "tests/support/bluetooth/stand_in_central.h"

namespace norv {
namespace {

using test::BluezPeripheralTest;
using test::configuration;
using test::lower;
using test::settle;
using test::waitUntil;

TEST_F(BluezPeripheralTest, RegistersTheServiceTreeAndAdvertisementThenServesTheConfiguration) {
    ASSERT_TRUE(startDiscoverable()) << events.join('\n').toStdString();
    EXPECT_EQ(psm("state"), 0x0080);
    EXPECT_EQ(psm("midi"), 0x0081);

    const QJsonObject state = fake.state();
    const QJsonArray applications = state[QStringLiteral("applications")].toArray();
    ASSERT_EQ(applications.size(), 1);
    const QJsonArray services = applications[0][QStringLiteral("services")].toArray();
    ASSERT_EQ(services.size(), 1);
    EXPECT_EQ(services[0][QStringLiteral("uuid")].toString(), lower(NorvBluetoothWire::service));
    EXPECT_TRUE(services[0][QStringLiteral("primary")].toBool());
    const QJsonArray characteristics = services[0][QStringLiteral("characteristics")].toArray();
    ASSERT_EQ(characteristics.size(), 2);
    EXPECT_EQ(characteristics[0][QStringLiteral("uuid")].toString(),
              lower(NorvBluetoothWire::configuration));
    EXPECT_EQ(characteristics[1][QStringLiteral("uuid")].toString(),
              lower(NorvBluetoothWire::portableConfiguration));
    for (const auto& characteristic : characteristics) {
        EXPECT_EQ(characteristic[QStringLiteral("flags")].toArray(),
                  (QJsonArray{"read", "encrypt-read"}));
    }
    const QJsonArray advertisements = state[QStringLiteral("advertisements")].toArray();
    ASSERT_EQ(advertisements.size(), 1);
    EXPECT_EQ(advertisements[0][QStringLiteral("Type")].toString(), "peripheral");
    EXPECT_EQ(advertisements[0][QStringLiteral("ServiceUUIDs")].toArray(),
              QJsonArray{lower(NorvBluetoothWire::service)});
    EXPECT_EQ(advertisements[0][QStringLiteral("LocalName")].toString(), "Norv Bridge · test");

    // Reads reach the server with the UUIDs as it spelled them, and answer with both PSMs.
    const QByteArray value = configuration(0x0080, 0x0081);
    QString error;
    EXPECT_EQ(read(NorvBluetoothWire::configuration, 0, &error), value) << error.toStdString();
    EXPECT_EQ(read(NorvBluetoothWire::portableConfiguration, 5), value.mid(5));
    EXPECT_EQ(read(NorvBluetoothWire::configuration, static_cast<int>(value.size())), QByteArray());
    read(NorvBluetoothWire::configuration, static_cast<int>(value.size()) + 1, &error);
    EXPECT_EQ(error, "org.bluez.Error.InvalidOffset");
}

// Answers every read with a fixed ATT result.
class FixedReads : public BluetoothPeripheralManagerDelegate {
public:
    int result = 0;
    void peripheralManagerDidUpdateState(BluetoothPeripheralManager&) override {}
    void peripheralManagerDidPublishChannel(BluetoothPeripheralManager&, std::uint16_t,
                                            const std::optional<BluetoothPlatformError>&) override {
    }
    void peripheralManagerDidAddService(
        BluetoothPeripheralManager&, const std::string&,
        const std::optional<BluetoothPlatformError>& error) override {
        added = !error;
    }
    void peripheralManagerDidStartAdvertising(
        BluetoothPeripheralManager&, const std::optional<BluetoothPlatformError>&) override {}
    void peripheralManagerDidReceiveRead(BluetoothPeripheralManager& manager,
                                         BluetoothReadRequest& request) override {
        characteristic = request.characteristic;
        onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        request.value = {'o', 'k'};
        manager.respond(request, result);
    }
    void peripheralManagerDidOpenChannel(BluetoothPeripheralManager&,
                                         std::shared_ptr<BluetoothL2capChannel>,
                                         const std::optional<BluetoothPlatformError>&) override {}
    bool added = false;
    std::string characteristic;
    bool onMainThread = false;
};

TEST_F(BluezPeripheralTest, AttResultsTravelAsBluezErrors) {
    ASSERT_TRUE(waitUntil([&] { return backend->known(); }));
    FixedReads delegate;
    const auto manager = backend->createManager(&delegate);
    BluetoothGattService service{"D017D260-38CF-4D3A-B9DD-6722585F80AA",
                                 true,
                                 {{"D017D260-38CF-4D3A-B9DD-6722585F80AB", true, true}}};
    manager->addService(service);
    ASSERT_TRUE(waitUntil([&] { return delegate.added; }));
    QString error;
    EXPECT_EQ(read(service.characteristics[0].uuid, 0, &error), "ok");
    EXPECT_EQ(delegate.characteristic, service.characteristics[0].uuid)
        << "handed back in the spelling given";
    EXPECT_TRUE(delegate.onMainThread) << "reads reach the delegate on the event-loop thread";
    for (const auto& [result, name] :
         std::vector<std::pair<int, QString>>{{0x06, "org.bluez.Error.NotSupported"},
                                              {0x0E, "org.freedesktop.DBus.Error.Failed"},
                                              {0x07, "org.bluez.Error.InvalidOffset"}}) {
        delegate.result = result;
        read(service.characteristics[0].uuid, 0, &error);
        EXPECT_EQ(error, name) << result;
        // What the central gets, as BlueZ maps the error name and message.
        const QDBusMessage att = fake.control(
            QStringLiteral("ReadAtt"),
            {lower(service.characteristics[0].uuid), QVariant::fromValue(quint16(0))});
        EXPECT_EQ(att.arguments().value(0).toInt(), result) << att.errorMessage().toStdString();
    }
    manager->setDelegate(nullptr);
}

TEST_F(BluezPeripheralTest, PowerOffClosesEveryPipeAndPowerOnPublishesAnew) {
    ASSERT_TRUE(startDiscoverable());
    test::StandInCentral central(backend->standInFolder(), psm("state"));
    ASSERT_TRUE(central.connected());
    ASSERT_TRUE(engine.waitForConnection());

    fake.control(QStringLiteral("SetPowered"), {false});
    ASSERT_TRUE(waitForStatus(QStringLiteral("BLUETOOTH OFF")));
    EXPECT_TRUE(
        eventsStartingWith("state_closed").contains("state_closed reason=radio unavailable"));
    EXPECT_TRUE(central.endedByPeripheral());
    EXPECT_TRUE(eventsStartingWith("radio_state")
                    .contains("radio_state authorization=3 role=state state=4"));

    statuses.clear();
    fake.control(QStringLiteral("SetPowered"), {true});
    ASSERT_TRUE(waitForStatus(QStringLiteral("DISCOVERABLE")));
    EXPECT_EQ(statuses, (QStringList{"STARTING", "DISCOVERABLE"}));
    EXPECT_EQ(psm("state"), 0x0082) << "the new channels are published afresh";
    ASSERT_TRUE(waitUntil(
        [&] { return fake.state()[QStringLiteral("applications")].toArray().size() == 1; }));
    EXPECT_EQ(fake.state()[QStringLiteral("advertisements")].toArray().size(), 1)
        << "the old registrations are gone";
    EXPECT_EQ(read(NorvBluetoothWire::configuration, 0), configuration(0x0082, 0x0083));

    // An adapter that goes away leaves Bluetooth unavailable until one comes back.
    fake.control(QStringLiteral("RemoveAdapter"));
    ASSERT_TRUE(waitForStatus(QStringLiteral("UNAVAILABLE")));
    fake.control(QStringLiteral("AddAdapter"), {true});
    EXPECT_TRUE(waitForStatus(QStringLiteral("DISCOVERABLE")));
}

TEST_F(BluezPeripheralTest, RefusedRegistrationsRetryOnScheduleThenAskForARestart) {
    fake.control(QStringLiteral("RefuseRegistrations"), {100});
    start();
    ASSERT_TRUE(waitForStatus(QStringLiteral("RETRYING")));
    for (const double delay : {1.0, 3.0}) {
        clock->advance(delay);
        ASSERT_TRUE(
            waitUntil([&] { return statuses.count("RETRYING") == (delay == 1.0 ? 2 : 3); }));
    }
    clock->advance(10.0);
    ASSERT_TRUE(waitForStatus(QStringLiteral("RESTART BLUETOOTH")));
    const QStringList failures = eventsStartingWith("startup_failed");
    ASSERT_EQ(failures.size(), 4);
    EXPECT_EQ(failures[0], "startup_failed reason=org.bluez.Error.Failed: registration refused");
    clock->advance(60.0);
    settle(100);
    EXPECT_EQ(server->status(), "RESTART BLUETOOTH") << "no fifth attempt by itself";
}

TEST_F(BluezPeripheralTest, StopUnregistersEverythingAndClosesTheListeningSockets) {
    ASSERT_TRUE(startDiscoverable());
    const QString folder = backend->standInFolder();
    EXPECT_EQ(QDir(folder).entryList(QDir::System).size(), 2);
    server->stop();
    EXPECT_EQ(server->status(), "OFF");
    EXPECT_TRUE(QDir(folder).entryList(QDir::System).isEmpty());
    test::StandInCentral late(folder, 0x0080);
    EXPECT_FALSE(late.connected());
    ASSERT_TRUE(waitUntil([&] {
        const QJsonObject state = fake.state();
        return state[QStringLiteral("applications")].toArray().isEmpty() &&
               state[QStringLiteral("advertisements")].toArray().isEmpty();
    }));
    const QJsonArray calls = fake.state()[QStringLiteral("calls")].toArray();
    EXPECT_TRUE(calls.contains("UnregisterApplication"));
    EXPECT_TRUE(calls.contains("UnregisterAdvertisement"));
}

TEST_F(BluezPeripheralTest, ChannelsCarryWholePacketsBothWaysUntilTheCentralGoes) {
    ASSERT_TRUE(startDiscoverable());
    test::StandInCentral central(backend->standInFolder(), psm("state"));
    ASSERT_TRUE(central.connected());
    ASSERT_TRUE(engine.waitForConnection());
    ASSERT_TRUE(waitUntil(
        [&] { return events.contains(QStringLiteral("pipe message=tcp ready psm=128")); }));

    QByteArray large(10000, '\0');
    for (int i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7);
    ASSERT_TRUE(central.send("hello"));
    // Packets of the channel's incoming MTU; the central waits while the socket is full.
    for (qsizetype at = 0; at < large.size(); at += 672) {
        const QByteArray packet = large.mid(at, 672);
        ASSERT_TRUE(waitUntil([&] { return central.send(packet); }));
    }
    ASSERT_TRUE(waitUntil([&] { return engine.received().size() >= 5 + large.size(); }));
    EXPECT_EQ(engine.received(), "hello" + large) << "every packet arrives whole, in order";

    const QByteArray reply(5000, 'r');
    engine.connection()->write(reply);
    EXPECT_EQ(central.receive(reply.size()), reply);
    for (const auto size : central.packetSizes) EXPECT_LE(size, 1024u);

    // The same central's MIDI channel names the secure MIDI port in its first two bytes.
    test::StandInCentral midi(backend->standInFolder(), psm("midi"));
    ASSERT_TRUE(midi.connected());
    const std::uint16_t port = midiEngine.port();
    QByteArray handshake;
    handshake.append(static_cast<char>(port >> 8)).append(static_cast<char>(port & 0xFF));
    ASSERT_TRUE(midi.send(QByteArray()));  // an empty packet is not the end of the channel
    ASSERT_TRUE(midi.send(handshake));
    ASSERT_TRUE(midi.send("note"));
    ASSERT_TRUE(midiEngine.waitForConnection()) << events.join(QLatin1Char(10)).toStdString();
    ASSERT_TRUE(waitUntil([&] { return midiEngine.received() == "note"; }));

    central.close();
    EXPECT_TRUE(midi.endedByPeripheral()) << "its state channel going takes the MIDI channel along";
    ASSERT_TRUE(waitUntil([&] { return !eventsStartingWith("state_closed").isEmpty(); }));
    EXPECT_EQ(eventsStartingWith("state_closed"),
              QStringList{"state_closed reason=bluetooth closed"});
    EXPECT_TRUE(
        eventsStartingWith("midi_closed").contains("midi_closed reason=state disconnected"));
    EXPECT_EQ(server->openPipes(), 0u);
}

TEST_F(BluezPeripheralTest, AdvertisesAsDiscoverableWithTheNameCutOnACharacterBoundary) {
    // 28 bytes, then a two-byte "·" across BlueZ's 29-byte limit.
    server->start(QStringLiteral("Norv Bridge · Studio Rack A·B"), engine.port(), midiEngine.port());
    ASSERT_TRUE(waitForStatus(QStringLiteral("DISCOVERABLE")));
    const QJsonArray advertisements = fake.state()[QStringLiteral("advertisements")].toArray();
    ASSERT_EQ(advertisements.size(), 1);
    EXPECT_TRUE(advertisements[0][QStringLiteral("Discoverable")].toBool())
        << "scanners skip an advertisement without the Flags field";
    EXPECT_EQ(advertisements[0][QStringLiteral("LocalName")].toString(),
              "Norv Bridge · Studio Rack A");
}

TEST_F(BluezPeripheralTest, AnAdapterThatIsNotPairableIsShownUntilItIs) {
    ASSERT_TRUE(waitUntil([&] { return backend->known(); }));
    fake.control(QStringLiteral("SetPairable"), {false});
    start();
    ASSERT_TRUE(waitForStatus(QStringLiteral("NOT PAIRABLE"))) << statuses.join(',').toStdString();
    EXPECT_TRUE(events.contains("pairing pairable=false"));
    fake.control(QStringLiteral("SetPairable"), {true});
    ASSERT_TRUE(waitForStatus(QStringLiteral("DISCOVERABLE")));
    EXPECT_TRUE(events.contains("pairing pairable=true"));
}

TEST_F(BluezPeripheralTest, AnAdvertisementBluezReleasesIsRegisteredAgain) {
    ASSERT_TRUE(startDiscoverable());
    statuses.clear();
    fake.control(QStringLiteral("ReleaseAdvertisements"));
    ASSERT_TRUE(waitUntil([&] { return statuses.contains("STARTING"); }));
    ASSERT_TRUE(waitForStatus(QStringLiteral("DISCOVERABLE")));
    EXPECT_EQ(statuses, (QStringList{"STARTING", "DISCOVERABLE"}));
    EXPECT_EQ(fake.state()[QStringLiteral("advertisements")].toArray().size(), 1);
}

TEST_F(BluezPeripheralTest, TheLastPacketsBeforeTheCentralHangsUpReachTheEngine) {
    ASSERT_TRUE(startDiscoverable());
    test::StandInCentral central(backend->standInFolder(), psm("state"));
    ASSERT_TRUE(central.connected());
    ASSERT_TRUE(engine.waitForConnection());
    QByteArray sent;
    for (const char fill : {'a', 'b', 'c', 'd', 'e'}) {
        const QByteArray packet(600, fill);
        ASSERT_TRUE(central.send(packet));
        sent += packet;
    }
    central.close();
    ASSERT_TRUE(waitUntil([&] { return !eventsStartingWith("state_closed").isEmpty(); }));
    EXPECT_TRUE(waitUntil([&] { return engine.received().size() >= sent.size(); }));
    EXPECT_EQ(engine.received(), sent);
}

// A GATT application and an advertisement with whatever flags and properties a test gives.
class RawBluezObjects : public QDBusVirtualObject {
public:
    QStringList flags;
    QVariantMap advertisement;
    std::pair<QString, QString> readError;  // the name and message every read fails with

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() == QLatin1String("GetManagedObjects")) {
            const QDBusObjectPath service(QStringLiteral("/raw/service0"));
            BluezManagedObjects objects;
            objects[service] = {{QStringLiteral("org.bluez.GattService1"),
                                 {{QStringLiteral("UUID"), QStringLiteral("d017d260-0000-0000-0000-000000000001")},
                                  {QStringLiteral("Primary"), true}}}};
            objects[QDBusObjectPath(QStringLiteral("/raw/service0/char0"))] = {
                {QStringLiteral("org.bluez.GattCharacteristic1"),
                 {{QStringLiteral("UUID"), QStringLiteral("d017d260-0000-0000-0000-000000000002")},
                  {QStringLiteral("Service"), QVariant::fromValue(service)},
                  {QStringLiteral("Flags"), flags}}}};
            connection.send(message.createReply(QVariant::fromValue(objects)));
        } else if (message.member() == QLatin1String("GetAll")) {
            connection.send(message.createReply(advertisement));
        } else if (message.member() == QLatin1String("ReadValue")) {
            connection.send(message.createErrorReply(readError.first, readError.second));
        } else {
            return false;
        }
        return true;
    }
    QString introspect(const QString&) const override { return {}; }
};

TEST_F(BluezPeripheralTest, TheFakeRefusesAndAnswersWhatBluezDoes) {
    RawBluezObjects raw;
    ASSERT_TRUE(fake.connection().registerVirtualObject(QStringLiteral("/raw"), &raw,
                                                        QDBusConnection::SubPath));
    const auto registerAt = [&](const QString& interface, const QString& method,
                                const QString& path) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QStringLiteral("org.bluez"), QStringLiteral("/org/bluez/hci0"), interface, method);
        message.setArguments({QVariant::fromValue(QDBusObjectPath(path)), QVariantMap()});
        QDBusPendingCall pending = fake.connection().asyncCall(message, 3000);
        waitUntil([&] { return pending.isFinished(); }, 4000);
        return pending.reply().errorName();
    };
    const QString application = QStringLiteral("org.bluez.GattManager1");
    const QString advertising = QStringLiteral("org.bluez.LEAdvertisingManager1");
    raw.flags = {QStringLiteral("read"), QStringLiteral("read-encrypted")};
    EXPECT_EQ(registerAt(application, QStringLiteral("RegisterApplication"), "/raw"),
              "org.bluez.Error.Failed");
    EXPECT_EQ(registerAt(advertising, QStringLiteral("RegisterAdvertisement"), "/raw/adv"),
              "org.bluez.Error.Failed")
        << "an advertisement without a Type";
    raw.advertisement = {{QStringLiteral("Type"), QStringLiteral("central")}};
    EXPECT_EQ(registerAt(advertising, QStringLiteral("RegisterAdvertisement"), "/raw/adv"),
              "org.bluez.Error.Failed");
    raw.flags = {QStringLiteral("read"), QStringLiteral("encrypt-read")};
    raw.advertisement = {{QStringLiteral("Type"), QStringLiteral("peripheral")}};
    EXPECT_EQ(registerAt(application, QStringLiteral("RegisterApplication"), "/raw"), "");
    EXPECT_EQ(registerAt(advertising, QStringLiteral("RegisterAdvertisement"), "/raw/adv"), "");

    // What a central reads: BlueZ takes an application error from the whole message of
    // org.bluez.Error.Failed as strtol with base 0 reads it; anything else is an Unlikely Error.
    for (const auto& [name, text, att] : std::vector<std::tuple<QString, QString, int>>{
             {"org.bluez.Error.Failed", "0x0e", 0x0E},
             {"org.bluez.Error.Failed", "0x85", 0x85},
             {"org.bluez.Error.Failed", "133", 0x85},
             {"org.bluez.Error.Failed", "refused", 0x0E},
             {"org.freedesktop.DBus.Error.Failed", "0x85", 0x0E}}) {
        raw.readError = {name, text};
        const QDBusMessage reply = fake.control(
            QStringLiteral("ReadAtt"), {QStringLiteral("d017d260-0000-0000-0000-000000000002"),
                                        QVariant::fromValue(quint16(0))});
        EXPECT_EQ(reply.arguments().value(0).toInt(), att)
            << name.toStdString() << " " << text.toStdString();
    }
    fake.connection().unregisterObject(QStringLiteral("/raw"), QDBusConnection::UnregisterTree);
}

TEST(BluezAccess, RefusedByTheBusPolicyAsksForPermission) {
    test::FakeBluez fake(true);
    ASSERT_TRUE(fake.ready());
    auto backend = std::make_shared<BluezPeripheralBackend>(
        fake.connection(), BluezPeripheralBackend::Options{true, 3000});
    NorvBluetoothServer server(backend);
    server.start(QStringLiteral("n"), 1, 2);
    EXPECT_TRUE(waitUntil([&] { return server.status() == "PERMISSION REQUIRED"; }));
    EXPECT_EQ(backend->authorization(), 2);
}

}  // namespace
}  // namespace norv
