#pragma once
// The Bluetooth server on the BlueZ backend against the fake BlueZ on a private bus, with the
// channels on the stand-in socket family: the fixture of the BlueZ peripheral tests.
#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>
#include <memory>

#include "bluetooth/bluez_peripheral_backend.h"
#include "bluetooth/codec/norv_bluetooth_wire.h"
#include "bluetooth/norv_bluetooth_server.h"
#include "bluetooth/virtual_bluetooth_clock.h"
#include "tests/support/bluetooth/fake_bluez.h"
#include "tests/support/bluetooth/loopback_engine.h"

namespace norv::test {

inline QString lower(const std::string& uuid) { return QString::fromStdString(uuid).toLower(); }

inline QByteArray configuration(std::uint16_t state, std::uint16_t midi) {
    const auto value = NorvBluetoothWire::configurationValue(state, midi);
    return QByteArray(reinterpret_cast<const char*>(value.data()),
                      static_cast<qsizetype>(value.size()));
}

class BluezPeripheralTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fake.ready()) << "dbus-daemon, python3-dbus and python3-gi are needed";
        makeServer();
    }

    void TearDown() override {
        server.reset();
        backend.reset();
        settle();
    }

    void makeServer(BluezPeripheralBackend::Options options = {true, 3000}) {
        server.reset();
        backend = std::make_shared<BluezPeripheralBackend>(fake.connection(), options);
        server = std::make_unique<NorvBluetoothServer>(backend, clock);
        server->onStatus = [this](const QString& s) { statuses << s; };
        server->onEvent = [this](const QString& line) { events << line; };
    }

    void start() {
        server->start(QStringLiteral("Norv Bridge · test"), engine.port(), midiEngine.port());
    }
    bool waitForStatus(const QString& status, int ms = 5000) {
        return waitUntil([&] { return server->status() == status; }, ms);
    }
    bool startDiscoverable() {
        start();
        return waitForStatus(QStringLiteral("DISCOVERABLE"));
    }
    // The PSM published last for a role, from the event lines.
    std::uint16_t psm(const char* role) const {
        const QRegularExpression pattern(
            QStringLiteral("^channel_published psm=(\\d+) role=%1$").arg(QLatin1String(role)));
        std::uint16_t found = 0;
        for (const QString& line : events) {
            const auto match = pattern.match(line);
            if (match.hasMatch()) found = static_cast<std::uint16_t>(match.captured(1).toUInt());
        }
        return found;
    }
    QByteArray read(const std::string& uuid, int offset, QString* error = nullptr) {
        const QDBusMessage reply = fake.control(
            QStringLiteral("ReadValue"), {lower(uuid), QVariant::fromValue(quint16(offset))});
        if (error) *error = reply.errorName();
        return reply.arguments().value(0).toByteArray();
    }
    QStringList eventsStartingWith(const QString& prefix) const {
        return events.filter(QRegularExpression(QStringLiteral("^") + prefix));
    }
    QDBusMessage busCall(const QString& interface, const QString& method,
                         const QList<QVariant>& arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            interface, method);
        message.setArguments(arguments);
        return fake.connection().call(message, QDBus::Block, 3000);
    }
    QString bluezName() {
        return busCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"),
                       {"org.bluez"})
            .arguments()
            .value(0)
            .toString();
    }
    // The adapter that the one advertisement is registered on, or empty.
    QString advertisedOn() {
        const QJsonArray advertisements = fake.state()[QStringLiteral("advertisements")].toArray();
        return advertisements.size() == 1 ? advertisements[0][QStringLiteral("adapter")].toString()
                                          : QString();
    }

    FakeBluez fake;
    LoopbackEngine engine;
    LoopbackEngine midiEngine;
    std::shared_ptr<VirtualBluetoothClock> clock = std::make_shared<VirtualBluetoothClock>();
    std::shared_ptr<BluezPeripheralBackend> backend;
    std::unique_ptr<NorvBluetoothServer> server;
    QStringList statuses;
    QStringList events;
};

}  // namespace norv::test
