// The built application with Bluetooth switched on, against the fake BlueZ on a private bus
// standing in for the system bus, on the demo engine runtime. NorvBridgeMacStandIn, the same
// application assembled with stand-in channels, lets a central read the configuration and pipe
// bytes to the engine's port; the shipped NorvBridgeMac meets this kernel's refusal of Bluetooth
// sockets and says Bluetooth is unavailable.
#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <csignal>

#include "tests/support/bluetooth/fake_bluez.h"
#include "tests/support/bluetooth/stand_in_central.h"

namespace {

using norv::test::waitUntil;

const QString kProgram = QStringLiteral(NORV_BINARY_DIR "/bin/NorvBridgeMac");
const QString kStandInProgram = QStringLiteral(NORV_BINARY_DIR "/tests/NorvBridgeMacStandIn");

class BluetoothOnBluez : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::exists(kProgram)) << "build NorvBridgeMac first";
        ASSERT_TRUE(QFile::exists(kStandInProgram)) << "build NorvBridgeMacStandIn first";
        ASSERT_TRUE(fake.ready()) << "dbus-daemon, python3-dbus and python3-gi are needed";
        // The engine's public port must be free when the engine launches; the test takes it over
        // once Bluetooth is up.
        publicPort = norv::test::LoopbackEngine::closedPort();
        QSettings settings(home.filePath(QStringLiteral("config/Norv/Norv Bridge.conf")),
                           QSettings::IniFormat);
        settings.setValue(QStringLiteral("bridge.connections.bluetoothEnabled"), true);
        settings.setValue(QStringLiteral("bridge.connections.publicPort"), publicPort);
        settings.sync();
        QDir().mkpath(home.filePath(QStringLiteral("run")));
        QFile::setPermissions(home.filePath(QStringLiteral("run")), QFileDevice::ReadOwner |
                                                                        QFileDevice::WriteOwner |
                                                                        QFileDevice::ExeOwner);

        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), fake.address());
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        app.setProcessChannelMode(QProcess::SeparateChannels);
    }

    void TearDown() override {
        if (app.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
            if (!app.waitForFinished(15000)) {
                app.kill();
                app.waitForFinished(5000);
            }
        }
    }

    void launch(const QString& program) {
        app.setProcessEnvironment(env);
        app.start(program, {QStringLiteral("--print-state")});
        ASSERT_TRUE(app.waitForStarted(10000));
    }

    // Collects the program's log until it holds `text`; when `seenAt` is given, the time each
    // chunk arrived is kept so the caller can tell when a line first showed.
    bool waitForLog(const QString& text, int ms) {
        return waitUntil(
                   [&] {
                       const QString chunk = QString::fromUtf8(app.readAllStandardError());
                       if (!chunk.isEmpty()) {
                           log += chunk;
                           arrivals.push_back({log.size(), clock.elapsed()});
                       }
                       return log.contains(text) || app.state() == QProcess::NotRunning;
                   },
                   ms) &&
               log.contains(text);
    }

    // When the log first held `text`, in ms since the test began.
    qint64 firstSeen(const QString& text) const {
        const qsizetype at = log.indexOf(text);
        for (const auto& [size, time] : arrivals) {
            if (at >= 0 && at + text.size() <= size) return time;
        }
        return -1;
    }

    norv::test::FakeBluez fake;
    QTemporaryDir home;
    std::uint16_t publicPort = 0;
    QTcpServer enginePort;  // listens on the public port, where state channels are piped
    QProcessEnvironment env;
    QProcess app;
    QString log;
    QElapsedTimer clock = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    std::vector<std::pair<qsizetype, qint64>> arrivals;
};

TEST_F(BluetoothOnBluez, StandInChannelsCarryACentralToTheEngine) {
    launch(kStandInProgram);
    ASSERT_TRUE(waitForLog(QStringLiteral("Bluetooth status DISCOVERABLE"), 60000))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("L2CAP channels go to stand-in sockets")))
        << "the log says the channels are stand-ins";

    const auto folder =
        QRegularExpression(QStringLiteral("AF_UNIX sockets in (\\S+)")).match(log).captured(1);
    ASSERT_FALSE(folder.isEmpty()) << log.toStdString();
    EXPECT_TRUE(folder.startsWith(home.filePath(QStringLiteral("run"))));

    // The configuration a central reads names both channels.
    const QDBusMessage reply = fake.control(
        QStringLiteral("ReadValue"),
        {QStringLiteral("d017d260-38cf-4d3a-b9dd-6722585f8002"), QVariant::fromValue(quint16(0))});
    const QJsonObject configuration =
        QJsonDocument::fromJson(reply.arguments().value(0).toByteArray()).object();
    ASSERT_EQ(configuration.value(QStringLiteral("state")).toInt(), 0x80)
        << reply.errorMessage().toStdString();
    EXPECT_EQ(configuration.value(QStringLiteral("midi")).toInt(), 0x81);
    const QJsonObject advertisement =
        fake.state()[QStringLiteral("advertisements")].toArray().at(0).toObject();
    EXPECT_TRUE(advertisement[QStringLiteral("LocalName")].toString().startsWith(
        QStringLiteral("Norv Bridge · ")));

    ASSERT_TRUE(enginePort.listen(QHostAddress::LocalHost, publicPort));
    norv::test::StandInCentral central(folder, 0x80);
    ASSERT_TRUE(central.connected());
    ASSERT_TRUE(waitUntil([&] { return enginePort.hasPendingConnections(); }, 10000));
    QTcpSocket* engine = enginePort.nextPendingConnection();
    ASSERT_TRUE(central.send("state hello"));
    QByteArray atEngine;
    ASSERT_TRUE(waitUntil(
        [&] {
            atEngine += engine->readAll();
            return atEngine.size() >= 11;
        },
        10000));
    EXPECT_EQ(atEngine, "state hello");
    engine->write("engine state");
    EXPECT_EQ(central.receive(12, 10000), "engine state");

    central.close();
    EXPECT_TRUE(waitForLog(QStringLiteral("state_closed reason=bluetooth closed"), 10000))
        << log.toStdString();
}

TEST_F(BluetoothOnBluez, KernelWithoutBluetoothShowsUnavailableWithinASecondAndSaysWhy) {
    // The shipped program takes no switch from its environment: the variable that once turned
    // stand-in channels on changes nothing.
    env.insert(QStringLiteral("NORV_BLUEZ_FAKE_L2CAP"), QStringLiteral("1"));
    launch(kProgram);
    ASSERT_TRUE(waitForLog(QStringLiteral("Bluetooth status UNAVAILABLE"), 60000))
        << log.toStdString();
    const qint64 started = firstSeen(QStringLiteral("Bluetooth status STARTING"));
    ASSERT_GE(started, 0) << log.toStdString();
    EXPECT_LE(firstSeen(QStringLiteral("Bluetooth status UNAVAILABLE")) - started, 1000);
    EXPECT_TRUE(log.contains(QStringLiteral("the kernel refuses LE L2CAP sockets")))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("radio_state authorization=3 role=state state=2")))
        << log.toStdString();
}

}  // namespace
