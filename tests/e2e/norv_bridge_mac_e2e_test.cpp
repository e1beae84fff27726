// The built NorvBridgeMac, offscreen with a home of its own, on the demo engine runtime:
// it launches the engine, authenticates, shows the connected state in the sidebar footer,
// and leaves no engine process behind when it ends.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace {

const QString kProgram = QStringLiteral(NORV_BINARY_DIR "/bin/NorvBridgeMac");

// Process ids whose command line mentions `needle` (the engine runs from the runtime copy
// under the test's own data folder, so the folder names exactly our engines).
QList<qint64> processesMentioning(const QString& needle) {
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

class NorvBridgeMacRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::exists(kProgram)) << "build NorvBridgeMac first";
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

    QTemporaryDir home;
    QProcess app;
    QString log;
};

TEST_F(NorvBridgeMacRun, LaunchesTheDemoEngineConnectsAndStopsItOnSigterm) {
    app.start(kProgram, {QStringLiteral("--print-state")});
    ASSERT_TRUE(app.waitForStarted(10000));
    ASSERT_TRUE(waitForState(QStringLiteral("footer=CONNECTED"), 45000)) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("engine=running"))) << log.toStdString();
    EXPECT_FALSE(processesMentioning(home.path()).isEmpty()) << "the engine runs from our own runtime copy";

    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    ASSERT_TRUE(app.waitForFinished(15000)) << log.toStdString();
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_TRUE(waitForNoEngine(5000)) << "no engine process is left";
}

TEST_F(NorvBridgeMacRun, QuitFromSigintWhileStartingLeavesNoEngine) {
    app.start(kProgram, {QStringLiteral("--print-state")});
    ASSERT_TRUE(app.waitForStarted(10000));
    ASSERT_TRUE(waitForState(QStringLiteral("engine=running"), 45000)) << log.toStdString();
    ::kill(static_cast<pid_t>(app.processId()), SIGINT);
    ASSERT_TRUE(app.waitForFinished(15000)) << log.toStdString();
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_TRUE(waitForNoEngine(5000));
}

}  // namespace
