// The built NorvBridgeMac in desktop sessions as users have them: on X11 with a tray host (one
// application per session, the tray's click), and on a Wayland compositor.
#include "tests/e2e/app_run.h"
#include "tests/e2e/desktop_session.h"

namespace {

using norv::e2e::DesktopSession;
using norv::e2e::processesMentioning;

const QString kProgram = QStringLiteral(NORV_BINARY_DIR "/bin/NorvBridgeMac");

// This session's NorvBridgeMac processes: those run from the built program with our home.
QList<qint64> applicationsOf(const QString& home) {
    QList<qint64> found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile exe(QStringLiteral("/proc/%1/cmdline").arg(entry));
        QFile environment(QStringLiteral("/proc/%1/environ").arg(entry));
        if (!exe.open(QIODevice::ReadOnly) || !exe.readAll().startsWith(kProgram.toUtf8() + '\0')) continue;
        if (environment.open(QIODevice::ReadOnly) && environment.readAll().split('\0').contains("HOME=" + home.toUtf8()))
            found.append(entry.toLongLong());
    }
    return found;
}

class DesktopRun : public norv::e2e::AppRun {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::exists(kProgram)) << "build NorvBridgeMac first";
        AppRun::SetUp();
        ASSERT_TRUE(session.ready()) << "private bus and keyring";
    }

    // The first instance on X11 with a tray, its engine running, its window closed into the tray
    // as a window manager closes it.
    void startHiddenInTheTray() {
        ASSERT_TRUE(session.startX());
        ASSERT_TRUE(session.startTrayHost());
        app.setProcessEnvironment(session.environment(app.processEnvironment()));
        app.start(kProgram, {QStringLiteral("--print-state")});
        ASSERT_TRUE(app.waitForStarted(10000));
        ASSERT_TRUE(waitForState(QStringLiteral("engine=running window=shown"), 45000)) << log.toStdString();
        ASSERT_TRUE(session.trayHost().waitForOutput("registered ", 10000)) << "the item registers with the tray";
        ASSERT_TRUE(norv::e2e::waitUntil([&] { return session.closeWindowsOf(app.processId()) > 0; }, 10000));
        ASSERT_TRUE(waitForState(QStringLiteral("window=hidden"), 10000)) << log.toStdString();
        log.clear();
    }

    DesktopSession session;
};

TEST_F(DesktopRun, ASecondLaunchHandsOverToTheFirstWhichShowsItsWindow) {
    startHiddenInTheTray();
    QProcess second;
    QProcessEnvironment env = app.processEnvironment();
    second.setProcessEnvironment(env);
    // Printing arguments never reach the first.
    second.start(kProgram, {QStringLiteral("--version")});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);

    // As an X11 launcher starts it: with a startup id, which the first window takes on.
    env.insert(QStringLiteral("DESKTOP_STARTUP_ID"), QStringLiteral("norv-test_TIME1234"));
    second.setProcessEnvironment(env);
    DesktopSession::StartupInfoListener feedback(session.display());
    QElapsedTimer launched;
    launched.start();
    second.start(kProgram, {QStringLiteral("--print-state")});
    ASSERT_TRUE(second.waitForFinished(10000));
    const qint64 tookMs = launched.elapsed();
    const QByteArray secondErrors = second.readAllStandardError();
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << secondErrors.toStdString();
    EXPECT_LT(tookMs, 5000) << "the hand-over is prompt";
    std::printf("second launch ended after %lld ms\n", static_cast<long long>(tookMs));
    EXPECT_FALSE(secondErrors.contains("norv-state")) << "it made no window or store";

    ASSERT_TRUE(waitForState(QStringLiteral("window=shown"), 10000)) << log.toStdString();
    EXPECT_EQ(session.startupIdsOf(app.processId()), QByteArray("norv-test_TIME1234"));
    EXPECT_EQ(feedback.waitForMessage(5000), QByteArray("remove: ID=norv-test_TIME1234")) << "the launch feedback ends";
    EXPECT_EQ(applicationsOf(home.path()), QList<qint64>{app.processId()});
    EXPECT_EQ(processesMentioning(home.path()).size(), 1) << "one engine";
    EXPECT_EQ(app.state(), QProcess::Running);
}

TEST_F(DesktopRun, TheTraysLeftClickShowsTheHiddenWindow) {
    startHiddenInTheTray();
    EXPECT_EQ(session.tray("activate host-token-1"), QByteArray("activated 1"));
    ASSERT_TRUE(waitForState(QStringLiteral("window=shown"), 10000)) << log.toStdString();
    EXPECT_EQ(app.state(), QProcess::Running);
}

// On a Wayland compositor, with leak checking on: the window opens on Qt's Wayland platform
// (named without a fallback, so X11 cannot stand in) and connects to the demo engine.
TEST_F(DesktopRun, OnWaylandTheWindowOpensAndConnectsWithoutALeakReport) {
    ASSERT_TRUE(session.startWayland()) << session.compositorOutput().toStdString();
    QProcessEnvironment env = session.environment(app.processEnvironment());
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=1"));
    app.setProcessEnvironment(env);
    app.start(kProgram, {QStringLiteral("--print-state")});
    ASSERT_TRUE(app.waitForStarted(10000));
    ASSERT_TRUE(waitForState(QStringLiteral("footer=CONNECTED devices=2_devices engine=running window=shown"), 45000))
        << log.toStdString();
    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    ASSERT_TRUE(app.waitForFinished(30000)) << log.toStdString();
    log += QString::fromUtf8(app.readAllStandardError());
    std::printf("%s", qPrintable(log));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0) << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("LeakSanitizer"))) << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("Could not load the Qt platform plugin")));
    EXPECT_TRUE(waitForNoEngine(5000));
}

}  // namespace
