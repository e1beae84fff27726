// The built NorvBridgeMac, offscreen with a home of its own, on the demo engine runtime:
// it launches the engine, authenticates, shows the connected state in the sidebar footer,
// and leaves no engine process behind when it ends.
#include "tests/e2e/app_run.h"

namespace {

using norv::e2e::processesMentioning;

const QString kProgram = QStringLiteral(NORV_BINARY_DIR "/bin/NorvBridgeMac");

class NorvBridgeMacRun : public norv::e2e::AppRun {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::exists(kProgram)) << "build NorvBridgeMac first";
        AppRun::SetUp();
    }
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
