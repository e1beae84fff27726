#pragma once
// Starts a private D-Bus daemon and the fake BlueZ on it (tests/fixtures/fake_bluez), and drives
// the fake through its control interface. Every wait is bounded; both processes end with it.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QVariant>

#include "tests/support/bluetooth/loopback_engine.h"
#include "tests/support/private_bus_config.h"

namespace norv::test {

class FakeBluez {
public:
    // `refuseBluez`: the bus policy refuses every message to org.bluez, as a system bus does for
    // users without permission.
    explicit FakeBluez(bool refuseBluez = false) {
        address_ = QStringLiteral("unix:path=") + dir_.filePath(QStringLiteral("bus"));
        QFile config(dir_.filePath(QStringLiteral("bus.conf")));
        if (!config.open(QIODevice::WriteOnly)) return;
        config.write(privateBusConfig(
            address_, refuseBluez ? QStringLiteral(R"(<deny send_destination="org.bluez"/>)") : QString()));
        config.close();
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                       QStringLiteral("--config-file=") + config.fileName()});
        if (!waitUntil([&] { return QFile::exists(dir_.filePath(QStringLiteral("bus"))); }, 5000))
            return;
        fake_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // Debian's own interpreter, which python3-dbus and python3-gi serve.
        fake_.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(NORV_FIXTURES_DIR "/fake_bluez/fake_bluez.py"), address_});
        QByteArray out;
        if (!waitUntil(
                [&] {
                    out += fake_.readAllStandardOutput();
                    return out.contains("ready") || fake_.state() == QProcess::NotRunning;
                },
                10000) ||
            !out.contains("ready")) {
            return;
        }
        connectionName_ = QStringLiteral("norv-test-%1").arg(reinterpret_cast<quintptr>(this));
        ready_ = QDBusConnection::connectToBus(address_, connectionName_).isConnected();
    }

    ~FakeBluez() {
        if (!connectionName_.isEmpty()) QDBusConnection::disconnectFromBus(connectionName_);
        for (QProcess* process : {&fake_, &daemon_}) {
            if (process->state() == QProcess::NotRunning) continue;
            process->terminate();
            if (!process->waitForFinished(3000)) {
                process->kill();
                process->waitForFinished(3000);
            }
        }
    }

    bool ready() const { return ready_; }
    QString address() const { return address_; }
    QDBusConnection connection() const { return QDBusConnection(connectionName_); }

    // Calls the fake's control interface with the event loop running; an error reply when it
    // does not answer within `ms`.
    QDBusMessage control(const QString& method, const QList<QVariant>& arguments = {},
                         int ms = 5000) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QStringLiteral("org.norv.FakeBluez"), QStringLiteral("/org/norv/FakeBluez"),
            QStringLiteral("org.norv.FakeBluez1"), method);
        message.setArguments(arguments);
        QDBusPendingCall pending = connection().asyncCall(message, ms);
        waitUntil([&] { return pending.isFinished(); }, ms + 1000);
        return pending.isFinished()
                   ? pending.reply()
                   : message.createErrorReply(QStringLiteral("test.Timeout"), method);
    }

    QJsonObject state() {
        const QDBusMessage reply = control(QStringLiteral("State"));
        return QJsonDocument::fromJson(reply.arguments().value(0).toString().toUtf8()).object();
    }

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QProcess fake_;
    QString address_;
    QString connectionName_;
    bool ready_ = false;
};

}  // namespace norv::test
