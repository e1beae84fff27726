// The engine supervisor's transitions, event by event, without processes, sockets or timers:
// each step checks the actions asked for and the state left behind.
#include "core/engine_supervisor.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace norv {
namespace {

using Actions = std::vector<std::string>;
using S = EngineSupervisor;
using Phase = S::Phase;
using Failure = S::IdentityFailure;

Actions described(const S::Actions& actions) {
    Actions names;
    for (const S::Action& action : actions) names.push_back(describe(action).toStdString());
    return names;
}

const std::string kStopped = "log: bridge stopped status=";

class EngineSupervisorTest : public ::testing::Test {
protected:
    EngineSupervisorTest() { config.publicPort = 9400; }

    // The events of a good launch, from idle up to `target`.
    void driveTo(Phase target, const BridgeLaunchConfiguration& configuration) {
        supervisor.handle(S::Start{configuration});
        advanceTo(target);
    }
    void driveTo(Phase target) { driveTo(target, config); }

    // From preparing, the events of a good launch up to `target`.
    void advanceTo(Phase target) {
        const quint64 generation = supervisor.launchGeneration();
        const auto reached = [&] { return supervisor.phase() == target; };
        if (reached()) return;
        supervisor.handle(S::IdentityLoaded{generation, std::nullopt});
        supervisor.handle(S::RuntimePrepared{generation, QStringLiteral("ab12")});
        if (reached()) return;
        launchAction = std::get<S::Launch>(supervisor.handle(S::PortProbed{generation, false}).at(0)).configuration;
        if (reached()) return;
        supervisor.handle(S::ProcessCreated{});
        if (reached()) return;
        supervisor.handle(S::ProcessStarted{});
        supervisor.handle(S::IdentityWritten{42});
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
    driveTo(Phase::probing);
    supervisor.handle(S::PortProbed{1, true});
    ASSERT_TRUE(supervisor.lastError().has_value());

    BridgeLaunchConfiguration loopback = config;
    loopback.wirelessEnabled = false;  // Bonjour only with Wi-Fi
    loopback.requireDeviceApproval = false;
    EXPECT_EQ(described(supervisor.handle(S::Start{loopback})), Actions({"publishChange", "loadIdentity 2"}));
    EXPECT_TRUE(supervisor.isPreparing());
    EXPECT_EQ(described(supervisor.handle(S::IdentityLoaded{2, std::nullopt})), Actions({"prepareRuntime 2"}));
    // A new fingerprint is published; preparing and probing are both "preparing".
    EXPECT_EQ(described(supervisor.handle(S::RuntimePrepared{2, QStringLiteral("cd34")})),
              Actions({"publishChange", "probePort 2 9400"}));
    EXPECT_EQ(supervisor.phase(), Phase::probing);
    EXPECT_TRUE(supervisor.isPreparing());
    EXPECT_EQ(supervisor.identityFingerprint(), QStringLiteral("cd34"));

    const S::Actions launch = supervisor.handle(S::PortProbed{2, false});
    EXPECT_EQ(described(launch), Actions({"launch"}));
    EXPECT_EQ(std::get<S::Launch>(launch.at(0)).configuration, loopback.normalized());
    EXPECT_EQ(described(supervisor.handle(S::ProcessCreated{})), Actions({"publishChange"}));
    EXPECT_FALSE(supervisor.isPreparing());
    EXPECT_TRUE(supervisor.hasProcess());
    EXPECT_FALSE(supervisor.isRunning());
    EXPECT_EQ(described(supervisor.handle(S::ProcessStarted{})), Actions({"writeIdentity"}));
    EXPECT_EQ(described(supervisor.handle(S::IdentityWritten{42})),
              Actions({"log: started bridge pid=42", "appLog info: Started bridge pid=42",
                       "publishChange"}));
    EXPECT_EQ(supervisor.phase(), Phase::running);
    EXPECT_TRUE(supervisor.isRunning());
    EXPECT_FALSE(supervisor.lastError().has_value());
    EXPECT_EQ(supervisor.activeConfiguration(), loopback.normalized());
    EXPECT_FALSE(supervisor.activeConfiguration()->bonjourEnabled);
    EXPECT_TRUE(supervisor.activeConfiguration()->requireDeviceApproval);
}

TEST_F(EngineSupervisorTest, StartDoesNothingWhileAnEngineExistsOrIsOnItsWay) {
    const auto busy = [this](Phase state, bool ending) {
        fresh();
        driveTo(state);
        if (ending) supervisor.handle(S::Stop{});
        const quint64 generation = supervisor.launchGeneration();
        EXPECT_TRUE(supervisor.handle(S::Start{config}).empty()) << int(state);
        EXPECT_EQ(supervisor.launchGeneration(), generation);
    };
    for (Phase state : {Phase::preparing, Phase::probing, Phase::starting, Phase::running})
        busy(state, false);
    busy(Phase::running, true);  // stopping
}

// Every failure before a process exists returns to idle with its text, and ends no process.
TEST_F(EngineSupervisorTest, FailuresBeforeAProcessExistsReturnToIdle) {
    const QString portText = QStringLiteral(
        "An external bridge already owns port 9400. Stop it before starting the managed bridge.");
    struct Row {
        Phase from;
        std::function<S::Actions(EngineSupervisor&, quint64)> event;
        QString lastError;
        Actions actions;
    };
    const std::vector<Row> rows = {
        {Phase::preparing,
         [](auto& s, quint64 g) {
             return s.handle(S::IdentityLoaded{
                 g, Failure{QStringLiteral("unavailable"), QStringLiteral("vault status -25308")}});
         },
         QStringLiteral("unavailable"),
         {"log: protected Bridge identity unavailable: vault status -25308", "publishChange"}},
        {Phase::preparing,
         [](auto& s, quint64 g) {
             return s.handle(S::IdentityLoaded{g, Failure{QStringLiteral("unavailable"), {}}});
         },
         QStringLiteral("unavailable"),
         {"log: protected Bridge identity unavailable", "publishChange"}},
        {Phase::preparing,
         [](auto& s, quint64 g) { return s.handle(S::RuntimeMissing{g}); },
         QStringLiteral("Could not prepare the bundled Bridge runtime"),
         {"publishChange"}},
        {Phase::preparing,
         [](auto& s, quint64 g) {
             return s.handle(S::FingerprintFailed{g, QStringLiteral("bad certificate")});
         },
         QStringLiteral("bad certificate"),
         {"log: protected Bridge identity unavailable", "publishChange"}},
        {Phase::probing,
         [](auto& s, quint64 g) { return s.handle(S::PortProbed{g, true}); },
         portText,
         {("log: launch skipped: " + portText).toStdString(),
          "appLog warning: Managed bridge launch skipped because port 9400 is already in use",
          "publishChange"}},
        {Phase::launching,
         [](auto& s, quint64) { return s.handle(S::InterpreterMissing{}); },
         QStringLiteral("Bundled Python runtime unavailable"),
         {"publishChange"}},
        {Phase::launching,
         [](auto& s, quint64) { return s.handle(S::LaunchFailed{QStringLiteral("damaged")}); },
         QStringLiteral("damaged"),
         {"log: launch failed: damaged", "appLog critical: Bridge launch failed: damaged",
          "publishChange"}},
    };
    for (const Row& row : rows) {
        fresh();
        driveTo(row.from);
        EXPECT_EQ(described(row.event(supervisor, supervisor.launchGeneration())), row.actions);
        EXPECT_EQ(supervisor.phase(), Phase::idle);
        EXPECT_EQ(supervisor.lastError(), row.lastError);
        EXPECT_FALSE(supervisor.isPreparing());
    }

    fresh();
    config.publicPort = 70000;  // cannot be probed or passed
    driveTo(Phase::preparing);
    EXPECT_EQ(described(supervisor.handle(S::RuntimePrepared{1, QStringLiteral("ab12")})),
              Actions({"publishChange"}));
    EXPECT_EQ(supervisor.lastError(), QStringLiteral("Wi-Fi port must be between 1024 and 65534"));
}

TEST_F(EngineSupervisorTest, ResultsOfOvertakenWorkChangeNothing) {
    driveTo(Phase::preparing);
    supervisor.handle(S::Restart{std::nullopt, [this] { return config; }});
    ASSERT_EQ(supervisor.launchGeneration(), 3u);  // raised by the restart and by its start
    EXPECT_TRUE(
        supervisor.handle(S::IdentityLoaded{1, Failure{QStringLiteral("first preparation failed late"), {}}})
            .empty());
    EXPECT_TRUE(supervisor.handle(S::RuntimeMissing{1}).empty());
    EXPECT_TRUE(supervisor.handle(S::FingerprintFailed{1, QStringLiteral("late")}).empty());
    EXPECT_TRUE(supervisor.handle(S::RuntimePrepared{1, QStringLiteral("ab12")}).empty());
    EXPECT_FALSE(supervisor.lastError().has_value());
    EXPECT_EQ(supervisor.phase(), Phase::preparing);

    // Stopped while probing: the probe's answer is dropped.
    advanceTo(Phase::probing);
    EXPECT_EQ(described(supervisor.handle(S::Stop{})), Actions({"publishChange"}));
    EXPECT_EQ(supervisor.phase(), Phase::idle);
    EXPECT_TRUE(supervisor.handle(S::PortProbed{3, true}).empty());
    EXPECT_TRUE(supervisor.handle(S::PortProbed{3, false}).empty());
    EXPECT_FALSE(supervisor.lastError().has_value());
}

TEST_F(EngineSupervisorTest, TheExitOfARunningEngineIsReportedUnlessItsStatusIsZero) {
    for (int status : {0, 3}) {
        fresh();
        driveTo(Phase::running);
        EXPECT_EQ(described(supervisor.handle(S::ProcessFinished{status})),
                  Actions({"endCredentials", "discardProcess", kStopped + std::to_string(status),
                           "publishChange", "processEnded"}));
        EXPECT_EQ(supervisor.phase(), Phase::idle);
        EXPECT_FALSE(supervisor.isRunning());
        EXPECT_EQ(supervisor.lastError(),
                  status == 0 ? std::nullopt
                              : std::optional(QStringLiteral("Bridge exited with status 3")));
        EXPECT_TRUE(supervisor.handle(S::ProcessFinished{status}).empty());  // once per process
    }
}

TEST_F(EngineSupervisorTest, AStoppedEngineGetsSigtermThenSigkillAndItsExitIsNoFailure) {
    driveTo(Phase::running);
    const quint64 generation = supervisor.launchGeneration();
    EXPECT_EQ(described(supervisor.handle(S::Stop{})), Actions({"terminate", "startGraceTimer"}));
    EXPECT_EQ(supervisor.launchGeneration(), generation + 1);
    EXPECT_EQ(supervisor.phase(), Phase::stopping);
    EXPECT_TRUE(supervisor.isRunning());                              // until its exit is handled
    EXPECT_EQ(described(supervisor.handle(S::Stop{})), Actions({"terminate"}));  // one grace timer per engine
    EXPECT_EQ(described(supervisor.handle(S::GraceExpired{})), Actions({"kill"}));
    EXPECT_EQ(described(supervisor.handle(S::ProcessFinished{9})),
              Actions({"endCredentials", "discardProcess", kStopped + "9", "publishChange",
                       "processEnded"}));
    EXPECT_FALSE(supervisor.lastError().has_value());
    EXPECT_TRUE(supervisor.handle(S::GraceExpired{}).empty());
}

// Also the engine that died before its exit was handled: the restart asks it to end, and its
// exit, whenever it is handled, starts the next one.
TEST_F(EngineSupervisorTest, RestartOfARunningEngineStartsTheNextOneSilentlyAfterItsExit) {
    driveTo(Phase::running);
    BridgeLaunchConfiguration changed = config;
    changed.iosUSBEnabled = false;
    EXPECT_EQ(described(supervisor.handle(S::Restart{changed, {}})),
              Actions({"terminate", "startGraceTimer"}));
    EXPECT_EQ(supervisor.phase(), Phase::restarting);
    EXPECT_EQ(described(supervisor.handle(S::ProcessFinished{9})),
              Actions({"endCredentials", "discardProcess", "publishChange", "loadIdentity 3"}));
    EXPECT_FALSE(supervisor.lastError().has_value());
    advanceTo(Phase::running);
    EXPECT_EQ(supervisor.activeConfiguration(), changed);

    // A stop (quit) after a restart cancels the restart: the exit leaves nothing behind.
    supervisor.handle(S::Restart{std::nullopt, {}});
    EXPECT_EQ(described(supervisor.handle(S::Stop{})), Actions({"terminate"}));
    EXPECT_EQ(described(supervisor.handle(S::ProcessFinished{9})),
              Actions({"endCredentials", "discardProcess", kStopped + "9", "publishChange",
                       "processEnded"}));
    EXPECT_EQ(supervisor.phase(), Phase::idle);
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

    supervisor.handle(S::Restart{std::nullopt, storedConfiguration});  // nothing active yet
    advanceTo(Phase::running);
    EXPECT_EQ(launchAction, stored.normalized());
    EXPECT_EQ(storedReads, 1);

    supervisor.handle(S::Restart{std::nullopt, storedConfiguration});
    supervisor.handle(S::ProcessFinished{15});
    advanceTo(Phase::running);
    EXPECT_EQ(launchAction, stored.normalized());  // the active one
    EXPECT_EQ(storedReads, 1);

    supervisor.handle(S::Restart{config, storedConfiguration});
    supervisor.handle(S::ProcessFinished{15});
    advanceTo(Phase::running);
    EXPECT_EQ(launchAction, config);
    EXPECT_EQ(storedReads, 1);
}

TEST_F(EngineSupervisorTest, AnEngineProcessThatFailsOrIsStoppedWhileStarting) {
    // The identity line cannot be written: reported, the engine ended, its exit no new failure.
    driveTo(Phase::starting);
    supervisor.handle(S::ProcessStarted{});
    EXPECT_EQ(described(supervisor.handle(S::IdentityWriteFailed{QStringLiteral("Broken pipe")})),
              Actions({"endCredentials", "terminate", "startGraceTimer",
                       "log: launch failed: Broken pipe",
                       "appLog critical: Bridge launch failed: Broken pipe", "publishChange"}));
    EXPECT_FALSE(supervisor.isRunning());
    EXPECT_EQ(described(supervisor.handle(S::ProcessFinished{15})),
              Actions({"endCredentials", "discardProcess", kStopped + "15", "processEnded"}));
    EXPECT_EQ(supervisor.lastError(), QStringLiteral("Broken pipe"));

    // The process never starts: no exit follows.
    driveTo(Phase::starting);
    EXPECT_EQ(described(supervisor.handle(S::ProcessFailedToStart{QStringLiteral("no such file")})),
              Actions({"endCredentials", "log: launch failed: no such file",
                       "appLog critical: Bridge launch failed: no such file", "discardProcess",
                       "publishChange", "processEnded"}));
    EXPECT_EQ(supervisor.phase(), Phase::idle);

    // Stopped before it started: it never gets its identity.
    driveTo(Phase::starting);
    EXPECT_EQ(described(supervisor.handle(S::Stop{})), Actions({"terminate", "startGraceTimer"}));
    EXPECT_TRUE(supervisor.handle(S::ProcessStarted{}).empty());
    supervisor.handle(S::ProcessFinished{15});
    EXPECT_EQ(supervisor.lastError(),
              QStringLiteral("no such file"));  // unchanged by the asked-for exit
    EXPECT_FALSE(supervisor.activeConfiguration().has_value());
}

// An engine that exits on its own before reading its identity leaves our write without a reader:
// its exit is its own and is reported with its status, never as a launch failure. One that
// closed its input but stays is a failed launch after the departure wait.
TEST_F(EngineSupervisorTest, AnEngineThatLeavesBeforeReadingItsIdentityIsReportedWithItsStatus) {
    driveTo(Phase::starting);
    EXPECT_EQ(described(supervisor.handle(S::ProcessStarted{})), Actions({"writeIdentity"}));
    EXPECT_EQ(described(supervisor.handle(S::IdentityRefused{QStringLiteral("Broken pipe")})),
              Actions({"startDepartureTimer"}));
    EXPECT_EQ(supervisor.phase(), Phase::leaving);
    EXPECT_FALSE(supervisor.isRunning());
    EXPECT_EQ(described(supervisor.handle(S::ProcessFinished{3})),
              Actions({"endCredentials", "discardProcess", kStopped + "3", "publishChange", "processEnded"}));
    EXPECT_EQ(supervisor.lastError(), QStringLiteral("Bridge exited with status 3"));
    EXPECT_TRUE(supervisor.handle(S::DepartureWaitExpired{}).empty());

    fresh();
    driveTo(Phase::starting);
    supervisor.handle(S::ProcessStarted{});
    supervisor.handle(S::IdentityRefused{QStringLiteral("Broken pipe")});
    EXPECT_EQ(described(supervisor.handle(S::DepartureWaitExpired{})),
              Actions({"endCredentials", "terminate", "startGraceTimer", "log: launch failed: Broken pipe",
                       "appLog critical: Bridge launch failed: Broken pipe", "publishChange"}));
    supervisor.handle(S::ProcessFinished{15});
    EXPECT_EQ(supervisor.lastError(), QStringLiteral("Broken pipe"));  // the exit was asked for

    // Stopped while leaving: the exit is one we asked for, and the wait's end changes nothing.
    fresh();
    driveTo(Phase::starting);
    supervisor.handle(S::ProcessStarted{});
    supervisor.handle(S::IdentityRefused{QStringLiteral("Broken pipe")});
    EXPECT_EQ(described(supervisor.handle(S::Stop{})), Actions({"terminate", "startGraceTimer"}));
    EXPECT_TRUE(supervisor.handle(S::DepartureWaitExpired{}).empty());
    supervisor.handle(S::ProcessFinished{15});
    EXPECT_FALSE(supervisor.lastError().has_value());
}

// The admin port the engine must bind: held by an engine that answers TLS, the Part's external
// bridge texts; held by anything else, the port and "another program" are named.
TEST_F(EngineSupervisorTest, AnAdminPortHeldByAnotherProgramOrAnExternalBridgeSkipsTheLaunch) {
    driveTo(Phase::probing);
    quint64 generation = supervisor.launchGeneration();
    EXPECT_EQ(described(supervisor.handle(S::AdminPortTaken{generation, 9315, EngineSupervisor::PortHolder::otherProgram})),
              Actions({"log: launch skipped: The managed bridge cannot start: port 9315 is in use by another program.",
                       "appLog warning: Managed bridge launch skipped because port 9315 is in use by another program",
                       "publishChange"}));
    EXPECT_EQ(supervisor.phase(), Phase::idle);
    EXPECT_EQ(supervisor.lastError(),
              QStringLiteral("The managed bridge cannot start: port 9315 is in use by another program."));

    driveTo(Phase::probing);
    generation = supervisor.launchGeneration();
    EXPECT_TRUE(supervisor.handle(S::AdminPortTaken{generation - 1, 9315, EngineSupervisor::PortHolder::bridge}).empty());
    EXPECT_EQ(described(supervisor.handle(S::AdminPortTaken{generation, 9315, EngineSupervisor::PortHolder::bridge})),
              Actions({"log: launch skipped: An external bridge already owns port 9315. Stop it before starting "
                       "the managed bridge.",
                       "appLog warning: Managed bridge launch skipped because port 9315 is already in use",
                       "publishChange"}));
    EXPECT_EQ(supervisor.phase(), Phase::idle);
}

}  // namespace
}  // namespace norv
