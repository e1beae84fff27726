// The engine supervisor's transitions, event by event, without processes, sockets or timers:
// each step checks the actions asked for and the state left behind.
#include "core/engine_supervisor.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace norv {
namespace {

using Actions = std::vector<std::string>;
using Failure = EngineSupervisor::IdentityFailure;

Actions described(const EngineActions& actions) {
    Actions names;
    for (const EngineAction& action : actions) names.push_back(describe(action).toStdString());
    return names;
}

const std::string kStopped = "log: bridge stopped status=";

class EngineSupervisorTest : public ::testing::Test {
protected:
    EngineSupervisorTest() { config.publicPort = 9400; }

    // The events of a good launch, from idle up to `target`.
    void driveTo(EngineState target, const BridgeLaunchConfiguration& configuration) {
        supervisor.start(configuration);
        advanceTo(target);
    }
    void driveTo(EngineState target) { driveTo(target, config); }

    // From preparing, the events of a good launch up to `target`.
    void advanceTo(EngineState target) {
        const quint64 generation = supervisor.launchGeneration();
        const auto reached = [&] { return supervisor.state() == target; };
        if (reached()) return;
        supervisor.identityLoaded(generation);
        supervisor.runtimePrepared(generation, QStringLiteral("ab12"));
        if (reached()) return;
        launchAction = supervisor.portProbed(generation, false).at(0).configuration;
        if (reached()) return;
        supervisor.processCreated();
        if (reached()) return;
        supervisor.processStarted();
        supervisor.identityWritten(42);
        ASSERT_TRUE(reached());
    }

    // A new supervisor in the same place.
    void fresh() { machine_.emplace(); }

    std::optional<EngineSupervisor> machine_{std::in_place};
    EngineSupervisor& supervisor = *machine_;
    BridgeLaunchConfiguration config;
    std::optional<BridgeLaunchConfiguration> launchAction;
};

TEST_F(EngineSupervisorTest, AGoodLaunchGoesThroughEveryStepAndClearsTheLastError) {
    driveTo(EngineState::probing);
    supervisor.portProbed(1, true);
    ASSERT_TRUE(supervisor.lastError().has_value());

    BridgeLaunchConfiguration loopback = config;
    loopback.wirelessEnabled = false;  // Bonjour only with Wi-Fi
    loopback.requireDeviceApproval = false;
    EXPECT_EQ(described(supervisor.start(loopback)), Actions({"publishChange", "loadIdentity 2"}));
    EXPECT_TRUE(supervisor.isPreparing());
    EXPECT_EQ(described(supervisor.identityLoaded(2)), Actions({"prepareRuntime 2"}));
    // A new fingerprint is published; preparing and probing are both "preparing".
    EXPECT_EQ(described(supervisor.runtimePrepared(2, QStringLiteral("cd34"))),
              Actions({"publishChange", "probePort 2 9400"}));
    EXPECT_EQ(supervisor.state(), EngineState::probing);
    EXPECT_TRUE(supervisor.isPreparing());
    EXPECT_EQ(supervisor.identityFingerprint(), QStringLiteral("cd34"));

    const EngineActions launch = supervisor.portProbed(2, false);
    EXPECT_EQ(described(launch), Actions({"launch"}));
    EXPECT_EQ(launch.at(0).configuration, loopback.normalized());
    EXPECT_EQ(described(supervisor.processCreated()), Actions({"publishChange"}));
    EXPECT_FALSE(supervisor.isPreparing());
    EXPECT_TRUE(supervisor.hasProcess());
    EXPECT_FALSE(supervisor.isRunning());
    EXPECT_EQ(described(supervisor.processStarted()), Actions({"writeIdentity"}));
    EXPECT_EQ(described(supervisor.identityWritten(42)),
              Actions({"log: started bridge pid=42", "appLog info: Started bridge pid=42",
                       "publishChange"}));
    EXPECT_EQ(supervisor.state(), EngineState::running);
    EXPECT_TRUE(supervisor.isRunning());
    EXPECT_FALSE(supervisor.lastError().has_value());
    EXPECT_EQ(supervisor.activeConfiguration(), loopback.normalized());
    EXPECT_FALSE(supervisor.activeConfiguration()->bonjourEnabled);
    EXPECT_TRUE(supervisor.activeConfiguration()->requireDeviceApproval);
}

TEST_F(EngineSupervisorTest, StartDoesNothingWhileAnEngineExistsOrIsOnItsWay) {
    const auto busy = [this](EngineState state, bool ending) {
        fresh();
        driveTo(state);
        if (ending) supervisor.stop();
        const quint64 generation = supervisor.launchGeneration();
        EXPECT_TRUE(supervisor.start(config).empty()) << int(state);
        EXPECT_EQ(supervisor.launchGeneration(), generation);
    };
    for (EngineState state : {EngineState::preparing, EngineState::probing, EngineState::starting,
                              EngineState::running})
        busy(state, false);
    busy(EngineState::running, true);  // stopping
}

// Every failure before a process exists returns to idle with its text, and ends no process.
TEST_F(EngineSupervisorTest, FailuresBeforeAProcessExistsReturnToIdle) {
    const QString portText = QStringLiteral(
        "An external bridge already owns port 9400. Stop it before starting the managed bridge.");
    struct Row {
        EngineState from;
        std::function<EngineActions(EngineSupervisor&, quint64)> event;
        QString lastError;
        Actions actions;
    };
    const std::vector<Row> rows = {
        {EngineState::preparing,
         [](auto& s, quint64 g) {
             return s.identityLoaded(
                 g, Failure{QStringLiteral("unavailable"), QStringLiteral("vault status -25308")});
         },
         QStringLiteral("unavailable"),
         {"log: protected Bridge identity unavailable: vault status -25308", "publishChange"}},
        {EngineState::preparing,
         [](auto& s, quint64 g) {
             return s.identityLoaded(g, Failure{QStringLiteral("unavailable"), {}});
         },
         QStringLiteral("unavailable"),
         {"log: protected Bridge identity unavailable", "publishChange"}},
        {EngineState::preparing,
         [](auto& s, quint64 g) { return s.runtimeMissing(g); },
         QStringLiteral("Could not prepare the bundled Bridge runtime"),
         {"publishChange"}},
        {EngineState::preparing,
         [](auto& s, quint64 g) {
             return s.fingerprintFailed(g, QStringLiteral("bad certificate"));
         },
         QStringLiteral("bad certificate"),
         {"log: protected Bridge identity unavailable", "publishChange"}},
        {EngineState::probing,
         [](auto& s, quint64 g) { return s.portProbed(g, true); },
         portText,
         {("log: launch skipped: " + portText).toStdString(),
          "appLog warning: Managed bridge launch skipped because port 9400 is already in use",
          "publishChange"}},
        {EngineState::launching,
         [](auto& s, quint64) { return s.interpreterMissing(); },
         QStringLiteral("Bundled Python runtime unavailable"),
         {"publishChange"}},
        {EngineState::launching,
         [](auto& s, quint64) { return s.launchFailed(QStringLiteral("damaged")); },
         QStringLiteral("damaged"),
         {"log: launch failed: damaged", "appLog critical: Bridge launch failed: damaged",
          "publishChange"}},
    };
    for (const Row& row : rows) {
        fresh();
        driveTo(row.from);
        EXPECT_EQ(described(row.event(supervisor, supervisor.launchGeneration())), row.actions);
        EXPECT_EQ(supervisor.state(), EngineState::idle);
        EXPECT_EQ(supervisor.lastError(), row.lastError);
        EXPECT_FALSE(supervisor.isPreparing());
    }

    fresh();
    config.publicPort = 70000;  // cannot be probed or passed
    driveTo(EngineState::preparing);
    EXPECT_EQ(described(supervisor.runtimePrepared(1, QStringLiteral("ab12"))),
              Actions({"publishChange"}));
    EXPECT_EQ(supervisor.lastError(), QStringLiteral("Wi-Fi port must be between 1024 and 65534"));
}

TEST_F(EngineSupervisorTest, ResultsOfOvertakenWorkChangeNothing) {
    driveTo(EngineState::preparing);
    supervisor.restart(std::nullopt, [this] { return config; });
    ASSERT_EQ(supervisor.launchGeneration(), 3u);  // raised by the restart and by its start
    EXPECT_TRUE(
        supervisor.identityLoaded(1, Failure{QStringLiteral("first preparation failed late"), {}})
            .empty());
    EXPECT_TRUE(supervisor.runtimeMissing(1).empty());
    EXPECT_TRUE(supervisor.fingerprintFailed(1, QStringLiteral("late")).empty());
    EXPECT_TRUE(supervisor.runtimePrepared(1, QStringLiteral("ab12")).empty());
    EXPECT_FALSE(supervisor.lastError().has_value());
    EXPECT_EQ(supervisor.state(), EngineState::preparing);

    // Stopped while probing: the probe's answer is dropped.
    advanceTo(EngineState::probing);
    EXPECT_EQ(described(supervisor.stop()), Actions({"publishChange"}));
    EXPECT_EQ(supervisor.state(), EngineState::idle);
    EXPECT_TRUE(supervisor.portProbed(3, true).empty());
    EXPECT_TRUE(supervisor.portProbed(3, false).empty());
    EXPECT_FALSE(supervisor.lastError().has_value());
}

TEST_F(EngineSupervisorTest, TheExitOfARunningEngineIsReportedUnlessItsStatusIsZero) {
    for (int status : {0, 3}) {
        fresh();
        driveTo(EngineState::running);
        EXPECT_EQ(described(supervisor.processFinished(status)),
                  Actions({"endCredentials", "discardProcess", kStopped + std::to_string(status),
                           "publishChange", "processEnded"}));
        EXPECT_EQ(supervisor.state(), EngineState::idle);
        EXPECT_FALSE(supervisor.isRunning());
        EXPECT_EQ(supervisor.lastError(),
                  status == 0 ? std::nullopt
                              : std::optional(QStringLiteral("Bridge exited with status 3")));
        EXPECT_TRUE(supervisor.processFinished(status).empty());  // once per process
    }
}

TEST_F(EngineSupervisorTest, AStoppedEngineGetsSigtermThenSigkillAndItsExitIsNoFailure) {
    driveTo(EngineState::running);
    const quint64 generation = supervisor.launchGeneration();
    EXPECT_EQ(described(supervisor.stop()), Actions({"terminate", "startGraceTimer"}));
    EXPECT_EQ(supervisor.launchGeneration(), generation + 1);
    EXPECT_EQ(supervisor.state(), EngineState::stopping);
    EXPECT_TRUE(supervisor.isRunning());                              // until its exit is handled
    EXPECT_EQ(described(supervisor.stop()), Actions({"terminate"}));  // one grace timer per engine
    EXPECT_EQ(described(supervisor.graceExpired()), Actions({"kill"}));
    EXPECT_EQ(described(supervisor.processFinished(9)),
              Actions({"endCredentials", "discardProcess", kStopped + "9", "publishChange",
                       "processEnded"}));
    EXPECT_FALSE(supervisor.lastError().has_value());
    EXPECT_TRUE(supervisor.graceExpired().empty());
}

// Also the engine that died before its exit was handled: the restart asks it to end, and its
// exit, whenever it is handled, starts the next one.
TEST_F(EngineSupervisorTest, RestartOfARunningEngineStartsTheNextOneSilentlyAfterItsExit) {
    driveTo(EngineState::running);
    BridgeLaunchConfiguration changed = config;
    changed.iosUSBEnabled = false;
    EXPECT_EQ(described(supervisor.restart(changed, {})),
              Actions({"terminate", "startGraceTimer"}));
    EXPECT_EQ(supervisor.state(), EngineState::restarting);
    EXPECT_EQ(described(supervisor.processFinished(9)),
              Actions({"endCredentials", "discardProcess", "publishChange", "loadIdentity 3"}));
    EXPECT_FALSE(supervisor.lastError().has_value());
    advanceTo(EngineState::running);
    EXPECT_EQ(supervisor.activeConfiguration(), changed);

    // A stop (quit) after a restart cancels the restart: the exit leaves nothing behind.
    supervisor.restart(std::nullopt, {});
    EXPECT_EQ(described(supervisor.stop()), Actions({"terminate"}));
    EXPECT_EQ(described(supervisor.processFinished(9)),
              Actions({"endCredentials", "discardProcess", kStopped + "9", "publishChange",
                       "processEnded"}));
    EXPECT_EQ(supervisor.state(), EngineState::idle);
    EXPECT_FALSE(supervisor.lastError().has_value());
}

TEST_F(EngineSupervisorTest, RestartTakesTheGivenThenTheActiveThenTheStoredConfiguration) {
    BridgeLaunchConfiguration stored = config;
    stored.publicPort = 9500;
    stored.wirelessEnabled = false;
    int storedReads = 0;
    const auto storedConfiguration = [&] {
        ++storedReads;
        return stored;
    };

    supervisor.restart(std::nullopt, storedConfiguration);  // nothing active yet
    advanceTo(EngineState::running);
    EXPECT_EQ(launchAction, stored.normalized());
    EXPECT_EQ(storedReads, 1);

    supervisor.restart(std::nullopt, storedConfiguration);
    supervisor.processFinished(15);
    advanceTo(EngineState::running);
    EXPECT_EQ(launchAction, stored.normalized());  // the active one
    EXPECT_EQ(storedReads, 1);

    supervisor.restart(config, storedConfiguration);
    supervisor.processFinished(15);
    advanceTo(EngineState::running);
    EXPECT_EQ(launchAction, config);
    EXPECT_EQ(storedReads, 1);
}

TEST_F(EngineSupervisorTest, AnEngineProcessThatFailsOrIsStoppedWhileStarting) {
    // The identity line cannot be written: reported, the engine ended, its exit no new failure.
    driveTo(EngineState::starting);
    supervisor.processStarted();
    EXPECT_EQ(described(supervisor.identityWriteFailed(QStringLiteral("Broken pipe"))),
              Actions({"endCredentials", "terminate", "startGraceTimer",
                       "log: launch failed: Broken pipe",
                       "appLog critical: Bridge launch failed: Broken pipe", "publishChange"}));
    EXPECT_FALSE(supervisor.isRunning());
    EXPECT_EQ(described(supervisor.processFinished(15)),
              Actions({"endCredentials", "discardProcess", kStopped + "15", "processEnded"}));
    EXPECT_EQ(supervisor.lastError(), QStringLiteral("Broken pipe"));

    // The process never starts: no exit follows.
    driveTo(EngineState::starting);
    EXPECT_EQ(described(supervisor.processFailedToStart(QStringLiteral("no such file"))),
              Actions({"endCredentials", "log: launch failed: no such file",
                       "appLog critical: Bridge launch failed: no such file", "discardProcess",
                       "publishChange", "processEnded"}));
    EXPECT_EQ(supervisor.state(), EngineState::idle);

    // Stopped before it started: it never gets its identity.
    driveTo(EngineState::starting);
    EXPECT_EQ(described(supervisor.stop()), Actions({"terminate", "startGraceTimer"}));
    EXPECT_TRUE(supervisor.processStarted().empty());
    supervisor.processFinished(15);
    EXPECT_EQ(supervisor.lastError(),
              QStringLiteral("no such file"));  // unchanged by the asked-for exit
    EXPECT_FALSE(supervisor.activeConfiguration().has_value());
}

// An engine that exits on its own before reading its identity leaves our write without a reader:
// its exit is its own and is reported with its status, never as a launch failure. One that
// closed its input but stays is a failed launch after the departure wait.
TEST_F(EngineSupervisorTest, AnEngineThatLeavesBeforeReadingItsIdentityIsReportedWithItsStatus) {
    driveTo(EngineState::starting);
    EXPECT_EQ(described(supervisor.processStarted()), Actions({"writeIdentity"}));
    EXPECT_EQ(described(supervisor.identityRefused(QStringLiteral("Broken pipe"))),
              Actions({"startDepartureTimer"}));
    EXPECT_EQ(supervisor.state(), EngineState::leaving);
    EXPECT_FALSE(supervisor.isRunning());
    EXPECT_EQ(described(supervisor.processFinished(3)),
              Actions({"endCredentials", "discardProcess", kStopped + "3", "publishChange", "processEnded"}));
    EXPECT_EQ(supervisor.lastError(), QStringLiteral("Bridge exited with status 3"));
    EXPECT_TRUE(supervisor.departureWaitExpired().empty());

    fresh();
    driveTo(EngineState::starting);
    supervisor.processStarted();
    supervisor.identityRefused(QStringLiteral("Broken pipe"));
    EXPECT_EQ(described(supervisor.departureWaitExpired()),
              Actions({"endCredentials", "terminate", "startGraceTimer", "log: launch failed: Broken pipe",
                       "appLog critical: Bridge launch failed: Broken pipe", "publishChange"}));
    supervisor.processFinished(15);
    EXPECT_EQ(supervisor.lastError(), QStringLiteral("Broken pipe"));  // the exit was asked for

    // Stopped while leaving: the exit is one we asked for, and the wait's end changes nothing.
    fresh();
    driveTo(EngineState::starting);
    supervisor.processStarted();
    supervisor.identityRefused(QStringLiteral("Broken pipe"));
    EXPECT_EQ(described(supervisor.stop()), Actions({"terminate", "startGraceTimer"}));
    EXPECT_TRUE(supervisor.departureWaitExpired().empty());
    supervisor.processFinished(15);
    EXPECT_FALSE(supervisor.lastError().has_value());
}

// The admin port the engine must bind: held by an engine that answers TLS, the Part's external
// bridge texts; held by anything else, the port and "another program" are named.
TEST_F(EngineSupervisorTest, AnAdminPortHeldByAnotherProgramOrAnExternalBridgeSkipsTheLaunch) {
    driveTo(EngineState::probing);
    quint64 generation = supervisor.launchGeneration();
    EXPECT_EQ(described(supervisor.adminPortTaken(generation, 9315, EngineSupervisor::PortHolder::otherProgram)),
              Actions({"log: launch skipped: The managed bridge cannot start: port 9315 is in use by another program.",
                       "appLog warning: Managed bridge launch skipped because port 9315 is in use by another program",
                       "publishChange"}));
    EXPECT_EQ(supervisor.state(), EngineState::idle);
    EXPECT_EQ(supervisor.lastError(),
              QStringLiteral("The managed bridge cannot start: port 9315 is in use by another program."));

    driveTo(EngineState::probing);
    generation = supervisor.launchGeneration();
    EXPECT_TRUE(supervisor.adminPortTaken(generation - 1, 9315, EngineSupervisor::PortHolder::bridge).empty());
    EXPECT_EQ(described(supervisor.adminPortTaken(generation, 9315, EngineSupervisor::PortHolder::bridge)),
              Actions({"log: launch skipped: An external bridge already owns port 9315. Stop it before starting "
                       "the managed bridge.",
                       "appLog warning: Managed bridge launch skipped because port 9315 is already in use",
                       "publishChange"}));
    EXPECT_EQ(supervisor.state(), EngineState::idle);
}

}  // namespace
}  // namespace norv
