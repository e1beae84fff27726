// Shared by the whole-program tests: one NorvBridgeMac run, offscreen, with a home of its own,
// printing its state lines; its engines are found by the home folder in their command line.
#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace norv::e2e {

// Process ids whose command line mentions `needle` (the engine runs from the runtime copy
// under the test's own data folder, so the folder names exactly our engines).
inline QList<qint64> processesMentioning(const QString& needle) {
    QList<qint64> found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric) continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (!cmdline.open(QIODevice::ReadOnly)) continue;
        const QByteArray line = cmdline.readAll().replace('\0', ' ');
        if (line.contains(needle.toUtf8()) && line.contains("run_bridge.py")) found.append(pid);
    }
    return found;
}

class AppRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::SeparateChannels);
    }

    void TearDown() override {
        if (app.state() != QProcess::NotRunning) {
            app.kill();
            app.waitForFinished(5000);
        }
        for (const qint64 pid : processesMentioning(home.path())) ::kill(static_cast<pid_t>(pid), SIGKILL);
    }

    // Reads the program's state lines until one contains `text`, within the bound.
    bool waitForState(const QString& text, int boundMs) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < boundMs) {
            app.waitForReadyRead(200);
            log += QString::fromUtf8(app.readAllStandardError());
            if (log.contains(text)) return true;
            if (app.state() == QProcess::NotRunning) return false;
        }
        return false;
    }

    bool waitForNoEngine(int boundMs) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < boundMs) {
            if (processesMentioning(home.path()).isEmpty()) return true;
            QThread::msleep(100);
        }
        return processesMentioning(home.path()).isEmpty();
    }

    // Starts an installed or unpacked `program`, which finds the demo runtime beside it, until it
    // shows both demo devices connected; then SIGTERM ends it and its engine.
    void connectsToTheDemoAndEndsOnSigterm(const QString& program) {
        app.start(program, {QStringLiteral("--print-state")});
        ASSERT_TRUE(app.waitForStarted(10000));
        ASSERT_TRUE(waitForState(QStringLiteral("footer=CONNECTED devices=2"), 45000)) << log.toStdString();
        EXPECT_FALSE(processesMentioning(home.path()).isEmpty()) << "the engine runs from the runtime copy";
        ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
        ASSERT_TRUE(app.waitForFinished(15000)) << log.toStdString();
        EXPECT_EQ(app.exitCode(), 0);
        EXPECT_TRUE(waitForNoEngine(5000));
    }

    QTemporaryDir home;
    QProcess app;
    QString log;
};

}  // namespace norv::e2e
