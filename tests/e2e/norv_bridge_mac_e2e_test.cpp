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

// The command line is answered before the application object exists: with no display to open and
// no session bus to reach the program still answers, and nothing lands in its home.
TEST_F(NorvBridgeMacRun, AnswersHelpVersionAndAMistypedOptionWithoutWindowBusOrKeyring) {
    QProcessEnvironment env = app.processEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + home.filePath(QStringLiteral("no-bus")));
    app.setProcessEnvironment(env);
    const struct {
        const char* option;
        int status;
        const char* output;
        const char* error;
    } cases[] = {
        {"--help", 0, "Usage: NorvBridgeMac [options]\n", ""},
        {"--version", 0, "NorvBridgeMac " NORV_PROJECT_VERSION "\n", ""},
        {"--no-such-option", 2, "", "NorvBridgeMac: Unknown option 'no-such-option'.\n\nUsage: NorvBridgeMac [options]\n"},
    };
    for (const auto& c : cases) {
        app.start(kProgram, {QLatin1String(c.option)});
        ASSERT_TRUE(app.waitForFinished(10000)) << c.option;
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit) << c.option;
        EXPECT_EQ(app.exitCode(), c.status) << c.option;
        // The expected text begins the stream; an empty one means the stream stays empty.
        for (const auto& [stream, expected] : {std::pair{app.readAllStandardOutput(), c.output},
                                               std::pair{app.readAllStandardError(), c.error}})
            EXPECT_TRUE(*expected ? stream.startsWith(expected) : stream.isEmpty()) << c.option << ": " << stream.toStdString();
    }
    EXPECT_TRUE(QDir(home.path()).isEmpty()) << "no settings, runtime copy or keyring file was made";
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
