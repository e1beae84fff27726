// The BlueZ backend over time: adapters coming, going and switching power, several adapters,
// BlueZ leaving, restarting and answering late, against the fake BlueZ.
#include <QDBusArgument>
#include <QDBusMetaType>

#include "tests/bluetooth/bluez_peripheral_fixture.h"

namespace norv {
namespace {

using test::BluezPeripheralTest;
using test::settle;
using test::waitUntil;

TEST_F(BluezPeripheralTest, APowerChangeRightAfterAnAdapterAppearsIsNotMissed) {
    ASSERT_TRUE(startDiscoverable());
    fake.control(QStringLiteral("RemoveAdapter"));
    ASSERT_TRUE(waitForStatus(QStringLiteral("UNAVAILABLE")));
    // Added unpowered and powered at once, before any subscription could see the change.
    fake.control(QStringLiteral("Plug"), {"hci0", false, true});
    EXPECT_TRUE(waitForStatus(QStringLiteral("DISCOVERABLE"))) << statuses.join(',').toStdString();
}

TEST_F(BluezPeripheralTest, AReleaseAsTheAdapterOrBluezGoesIsNoStartupFailure) {
    ASSERT_TRUE(startDiscoverable());
    statuses.clear();
    fake.control(QStringLiteral("RemoveAdapter"));  // Release first, InterfacesRemoved later
    ASSERT_TRUE(waitForStatus(QStringLiteral("UNAVAILABLE"))) << statuses.join(',').toStdString();
    fake.control(QStringLiteral("AddAdapter"), {true});
    ASSERT_TRUE(waitForStatus(QStringLiteral("DISCOVERABLE")));

    const QString before = bluezName();
    fake.control(QStringLiteral("LeaveBus"));  // Release first, then the name goes
    ASSERT_TRUE(waitForStatus(QStringLiteral("UNAVAILABLE"))) << statuses.join(',').toStdString();
    fake.control(QStringLiteral("JoinBus"));
    ASSERT_TRUE(waitForStatus(QStringLiteral("DISCOVERABLE")));
    EXPECT_EQ(statuses.join(','),
              "UNAVAILABLE,STARTING,DISCOVERABLE,UNAVAILABLE,STARTING,DISCOVERABLE");
    EXPECT_TRUE(eventsStartingWith("startup_failed").isEmpty());

    // The restarted daemon has a new unique name, and its signals are the ones followed.
    EXPECT_NE(bluezName(), before);
    fake.control(QStringLiteral("SetPowered"), {false});
    EXPECT_TRUE(waitForStatus(QStringLiteral("BLUETOOTH OFF")));
}

TEST_F(BluezPeripheralTest, ObjectReadsThatTimeOutAreRetriedAndBluezIsFollowedMeanwhile) {
    fake.control(QStringLiteral("DelayObjectReads"), {100, 1000});
    makeServer({true, 200, 50, 200});
    ASSERT_TRUE(waitUntil([&] { return backend->known(); }));
    EXPECT_EQ(backend->radioState(), radioUnsupported);
    // BlueZ's name is known without an answer to the object read, so its signals count.
    fake.control(QStringLiteral("Plug"), {"hci1", true, false});
    ASSERT_TRUE(waitUntil([&] { return backend->radioState() == radioPoweredOn; }));
    EXPECT_EQ(backend->adapterPath(), "/org/bluez/hci1");
    // Once BlueZ answers, a retry learns of the powered adapter it had before.
    fake.control(QStringLiteral("SetPoweredOf"), {"hci1", false});
    fake.control(QStringLiteral("DelayObjectReads"), {0, 0});
    EXPECT_TRUE(waitUntil([&] {
        return backend->adapterPath() == "/org/bluez/hci0" &&
               backend->radioState() == radioPoweredOn;
    }));
}

TEST_F(BluezPeripheralTest, APoweredAdapterIsPreferredAndFollowedWhileAnotherIsOff) {
    fake.control(QStringLiteral("SetPowered"), {false});
    fake.control(QStringLiteral("Plug"), {"hci1", true, false});
    makeServer();
    ASSERT_TRUE(startDiscoverable()) << statuses.join(',').toStdString();
    EXPECT_EQ(advertisedOn(), "/org/bluez/hci1");

    fake.control(QStringLiteral("SetPowered"), {true});
    fake.control(QStringLiteral("Unplug"), {"hci1"});
    EXPECT_TRUE(waitUntil([&] {
        return server->status() == "DISCOVERABLE" && advertisedOn() == "/org/bluez/hci0";
    })) << statuses.join(',').toStdString();

    // The followed adapter switched off while another is on: the one that is on serves.
    fake.control(QStringLiteral("Plug"), {"hci1", true, false});
    settle(200);
    EXPECT_EQ(advertisedOn(), "/org/bluez/hci0") << "a powered adapter is kept";
    fake.control(QStringLiteral("SetPowered"), {false});
    EXPECT_TRUE(waitUntil([&] {
        return server->status() == "DISCOVERABLE" && advertisedOn() == "/org/bluez/hci1";
    })) << statuses.join(',').toStdString();
}

TEST_F(BluezPeripheralTest, AdapterPropertyChangesAreSubscribedFromBluezOnItsAdapterOnly) {
    ASSERT_TRUE(waitUntil([&] { return backend->radioState() == radioPoweredOn; }));
    const QString bluez = bluezName();
    const QDBusMessage all = busCall(QStringLiteral("org.freedesktop.DBus.Debug.Stats"),
                                     QStringLiteral("GetAllMatchRules"), {});
    const auto rules = qdbus_cast<QMap<QString, QStringList>>(all.arguments().value(0))
                           .value(fake.connection().baseService())
                           .filter(QStringLiteral("PropertiesChanged"));
    ASSERT_EQ(rules.size(), 1) << all.errorMessage().toStdString();
    EXPECT_TRUE(rules[0].contains(QStringLiteral("sender='%1'").arg(bluez)))
        << rules[0].toStdString();
    EXPECT_TRUE(rules[0].contains(QStringLiteral("path='/org/bluez/hci0'")))
        << rules[0].toStdString();
}

}  // namespace
}  // namespace norv
