#pragma once

#include "core/bridge_launch_configuration.h"

#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>
#include <vector>

namespace norv {

// Where the managed engine is in its life, as the supervisor sees it.
enum class EngineState {
    idle,        // no engine and nothing under way
    preparing,   // identity, then runtime copy, are being prepared off the GUI thread
    probing,     // checking that no other program serves the public port
    launching,   // the host sets up the process (synchronously, inside its launch action)
    starting,    // the process exists; its identity line is not written yet
    leaving,     // it closed its standard input before getting its identity: its own exit is
                 // awaited for a moment, and reported as any exit is
    running,     // the engine has its identity line and runs
    stopping,    // asked to end; its exit leaves nothing behind
    restarting,  // asked to end; its exit starts the next engine
};

// One thing the host has to do. The supervisor only decides; the host carries out the actions
// in order and reports what happened as the supervisor's events.
struct EngineAction {
    enum class Kind {
        loadIdentity,    // load or create the TLS identity off the GUI thread → identityLoaded()
        prepareRuntime,  // prepare the runtime copy off the GUI thread → runtimeMissing() /
                         // runtimePrepared() / fingerprintFailed()
        probePort,       // check `port` on 127.0.0.1 without blocking, then the admin port →
                         // portProbed() / adminPortTaken()
        launch,  // set up and start the process for `configuration` → interpreterMissing() /
                 // launchFailed() / processCreated()
        writeIdentity,    // write the identity line → identityWritten() / identityRefused() /
                          // identityWriteFailed()
        startDepartureTimer,  // departureWaitExpired() once an engine that left its standard
                              // input has had its moment to exit
        endCredentials,   // withdraw the launch's admin token, close our end of its standard input
        terminate,        // SIGTERM to the engine, if it still runs
        startGraceTimer,  // graceExpired() once the termination grace has passed
        kill,             // SIGKILL to the engine, if it still runs
        discardProcess,   // the engine process is over: let it go
        log,              // `text` as a "[desktop]" line of the diagnostic log
        appLog,           // `text` in the application's process log, at `level`
        publishChange,    // a published field changed
        processEnded,     // no engine process is left, and none follows
    };

    explicit EngineAction(Kind kind) : kind(kind) {}

    Kind kind;
    quint64 generation = 0;       // loadIdentity, prepareRuntime, probePort
    int port = 0;                 // probePort
    QString text;                 // log, appLog
    QtMsgType level = QtInfoMsg;  // appLog
    std::optional<BridgeLaunchConfiguration> configuration;  // launch: normalised
};

using EngineActions = std::vector<EngineAction>;

// "kind" plus its arguments, for logs and tests: "probePort 3 9311", "log launch failed: …".
QString describe(const EngineAction& action);

// The engine supervisor's state machine, without processes, threads or timers: each event
// returns the actions it asks for.
//
//   idle       --start / restart-->          preparing   (loadIdentity)
//   preparing  --identityLoaded-->           preparing   (prepareRuntime)
//   preparing  --runtimePrepared-->          probing     (probePort)
//   probing    --portProbed(free)-->         launching   (launch)
//   launching  --processCreated-->           starting
//   starting   --processStarted-->           starting    (writeIdentity)
//   probing    --adminPortTaken-->           idle with lastError
//   starting   --identityWritten-->          running
//   starting   --identityRefused-->          leaving     (departure timer)
//   leaving    --departureWaitExpired-->     stopping    (endCredentials, terminate, grace timer;
//                                                         reported as a failed launch)
//   starting   --identityWriteFailed-->      stopping    (endCredentials, terminate, grace timer)
//   starting.. --stop-->                     stopping    (terminate, grace timer)
//   starting.. --restart-->                  restarting  (terminate, grace timer)
//   stopping, restarting --graceExpired-->   same        (kill)
//   restarting --processFinished-->          preparing   (no report of the old exit)
//   any process state --processFinished / processFailedToStart--> idle (processEnded)
//   preparing, probing, launching: a failure --> idle with lastError; stop --> idle
//
// Results for an older generation, and events that do not fit the state, do nothing. Every result of background work carries the launch
// generation it was started for; a start, restart or stop raises the generation, so results of
// overtaken work change nothing.
class EngineSupervisor {
public:
    struct IdentityFailure {
        QString description;  // the user-facing text
        QString reason;       // the vault's detail, for the log only; may be empty
    };

    EngineState state() const { return state_; }
    quint64 launchGeneration() const { return generation_; }
    bool isRunning() const { return published_.isRunning; }
    bool isPreparing() const {
        return state_ == EngineState::preparing || state_ == EngineState::probing;
    }
    // An engine process exists: starting, running or ending.
    bool hasProcess() const;
    const std::optional<QString>& lastError() const { return published_.lastError; }
    const std::optional<QString>& identityFingerprint() const {
        return published_.identityFingerprint;
    }
    const std::optional<BridgeLaunchConfiguration>& activeConfiguration() const {
        return published_.activeConfiguration;
    }

    // Commands.
    EngineActions start(const BridgeLaunchConfiguration& configuration);
    // Takes `requested`, else the active configuration, else `stored()`.
    EngineActions restart(std::optional<BridgeLaunchConfiguration> requested,
                          const std::function<BridgeLaunchConfiguration()>& stored);
    EngineActions stop();

    // Preparation results.
    EngineActions identityLoaded(quint64 generation,
                                 std::optional<IdentityFailure> failure = std::nullopt);
    EngineActions runtimeMissing(quint64 generation);
    EngineActions fingerprintFailed(quint64 generation, const QString& description);
    EngineActions runtimePrepared(quint64 generation, const QString& fingerprint);
    EngineActions portProbed(quint64 generation, bool served);
    // Who holds the admin port the engine must bind, when it is not free.
    enum class PortHolder {
        bridge,        // a TLS server: an engine not launched by us answers there
        otherProgram,  // anything else
    };
    EngineActions adminPortTaken(quint64 generation, int port, PortHolder holder);

    // Outcomes of the launch action, reported while the host carries it out.
    EngineActions interpreterMissing();
    EngineActions launchFailed(const QString& description);  // no process was made
    EngineActions processCreated();                          // the process is about to start

    // The engine process.
    EngineActions processFailedToStart(const QString& description);
    EngineActions processStarted();
    EngineActions identityWritten(qint64 pid);
    // The engine's end of its standard input is closed (EPIPE): it is most likely exiting on
    // its own. Its exit, if it comes within the departure wait, is reported with its status.
    EngineActions identityRefused(const QString& description);
    EngineActions departureWaitExpired();
    EngineActions identityWriteFailed(const QString& description);
    EngineActions graceExpired();
    EngineActions processFinished(int status);

private:
    struct Published {
        bool isRunning = false;
        bool isPreparing = false;
        std::optional<QString> lastError;
        std::optional<QString> identityFingerprint;
        std::optional<BridgeLaunchConfiguration> activeConfiguration;
        bool operator==(const Published&) const = default;
    };

    bool isCurrentPreparation(quint64 generation, EngineState expected) const;
    void beginPreparation(const BridgeLaunchConfiguration& configuration, EngineActions& actions);
    void requestEnd(EngineState ending, EngineActions& actions);
    void failPreparation(const QString& error, const std::optional<QString>& logLine,
                         EngineActions& actions);
    void reportLaunchFailure(const QString& description, EngineActions& actions);
    void skipLaunch(const QString& text, const QString& appLogText, EngineActions& actions);
    // Appends publishChange when a published field differs from what was published last.
    void publish(EngineActions& actions);

    EngineState state_ = EngineState::idle;
    quint64 generation_ = 0;
    BridgeLaunchConfiguration configuration_;               // of the launch under way
    std::optional<BridgeLaunchConfiguration> restartWith_;  // while restarting
    QString refusal_;  // while leaving: the failed write, reported if the engine stays
    Published published_;
    Published lastPublished_;
};

}  // namespace norv
