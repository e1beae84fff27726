#pragma once

#include "core/bridge_launch_configuration.h"
#include "model/machine_names.h"

#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

namespace norv {

// The managed engine's one state and every transition of it. No processes, threads or timers:
// the process controller feeds it events and carries out the actions it returns, in order. The
// outcomes of the launch action are reported while the controller carries it out, and handled
// there and then.
//
//   phase             event                          next              actions
//   idle              Start                          preparing         publish, loadIdentity
//   idle, preparing,  Restart                        preparing         publish, loadIdentity
//     probing
//   preparing         IdentityLoaded                 preparing         prepareRuntime
//   preparing         RuntimePrepared                probing           publish, probePort
//   probing           PortProbed, free               launching         launch
//   launching         ProcessCreated                 starting          publish
//   starting          ProcessStarted                 starting          writeIdentity
//   starting          IdentityWritten                running           log, appLog, publish
//   starting          IdentityRefused                leaving           startDepartureTimer
//   leaving           DepartureWaitExpired           stopping          endCredentials, terminate,
//   starting          IdentityWriteFailed            stopping            startGraceTimer, report
//                                                                        the failed launch, publish
//   preparing         IdentityLoaded failed,         idle              lastError, publish (the
//                       RuntimeMissing,                                  identity failures log)
//                       FingerprintFailed
//   probing           PortProbed, served;            idle              launch skipped: lastError,
//                       AdminPortTaken                                   log, appLog, publish
//   launching         InterpreterMissing             idle              lastError, publish
//   launching         LaunchFailed                   idle              report it, publish
//   preparing,        Stop                           idle              publish
//     probing
//   a process         Stop                           stopping          terminate, startGraceTimer
//   a process         Restart                        restarting        terminate, startGraceTimer
//   stopping,         GraceExpired                   unchanged         kill
//     restarting
//   restarting        ProcessFinished                preparing         endCredentials,
//                                                                        discardProcess, publish,
//                                                                        loadIdentity (no report)
//   a process         ProcessFinished                idle              endCredentials,
//                                                                        discardProcess, log,
//                                                                        publish, processEnded
//   a process         ProcessFailedToStart           idle              endCredentials, report
//                                                                        the failed launch,
//                                                                        discardProcess, publish,
//                                                                        processEnded
//
// "A process" is starting, leaving, running, stopping or restarting; the grace timer is armed
// once per ending engine. Reporting a failed launch sets lastError and logs it (log and appLog).
// Start, Restart and Stop raise the launch generation, and every result of background work
// carries the generation it was started for, so results of overtaken work change nothing.
// "publish" (publishChange) comes only when a published field changed. Every other pair is
// ignored.
class EngineSupervisor {
public:
    // Where the managed engine is in its life.
    enum class Phase {
        idle,        // no engine and nothing under way
        preparing,   // identity, then runtime copy, are being prepared off the GUI thread
        probing,     // checking that no other program serves the public port
        launching,   // the controller sets up the process (synchronously, inside the launch action)
        starting,    // the process exists; its identity line is not written yet
        leaving,     // it closed its standard input before getting its identity: its own exit
                     // is awaited for a moment, and reported as any exit is
        running,     // the engine has its identity line and runs
        stopping,    // asked to end; its exit leaves nothing behind
        restarting,  // asked to end; its exit starts the next engine
    };
    static std::string_view name(Phase phase);

    struct IdentityFailure {
        QString description;  // the user-facing text
        QString reason;       // the vault's detail, for the log only; may be empty
    };
    // Who holds the admin port the engine must bind, when it is not free.
    enum class PortHolder {
        bridge,        // a TLS server: an engine not launched by us answers there
        otherProgram,  // anything else
    };

    // Events: commands.
    struct Start {
        static constexpr std::string_view kName = "start";
        BridgeLaunchConfiguration configuration;
    };
    // Takes `requested`, else the active configuration, else `stored()`.
    struct Restart {
        static constexpr std::string_view kName = "restart";
        std::optional<BridgeLaunchConfiguration> requested;
        std::function<BridgeLaunchConfiguration()> stored;
    };
    struct Stop {
        static constexpr std::string_view kName = "stop";
    };
    // Events: preparation results.
    struct IdentityLoaded {
        static constexpr std::string_view kName = "identityLoaded";
        quint64 generation;
        std::optional<IdentityFailure> failure;
    };
    struct RuntimeMissing {
        static constexpr std::string_view kName = "runtimeMissing";
        quint64 generation;
    };
    struct FingerprintFailed {
        static constexpr std::string_view kName = "fingerprintFailed";
        quint64 generation;
        QString description;
    };
    struct RuntimePrepared {
        static constexpr std::string_view kName = "runtimePrepared";
        quint64 generation;
        QString fingerprint;
    };
    struct PortProbed {
        static constexpr std::string_view kName = "portProbed";
        quint64 generation;
        bool served;  // something answers on the public port
    };
    struct AdminPortTaken {
        static constexpr std::string_view kName = "adminPortTaken";
        quint64 generation;
        int port;
        PortHolder holder;
    };
    // Events: outcomes of the launch action.
    struct InterpreterMissing {
        static constexpr std::string_view kName = "interpreterMissing";
    };
    struct LaunchFailed {  // no process was made
        static constexpr std::string_view kName = "launchFailed";
        QString description;
    };
    struct ProcessCreated {  // the process is about to start
        static constexpr std::string_view kName = "processCreated";
    };
    // Events: the engine process.
    struct ProcessFailedToStart {
        static constexpr std::string_view kName = "processFailedToStart";
        QString description;
    };
    struct ProcessStarted {
        static constexpr std::string_view kName = "processStarted";
    };
    struct IdentityWritten {
        static constexpr std::string_view kName = "identityWritten";
        qint64 pid;
    };
    // The engine's end of its standard input is closed (EPIPE): it is most likely exiting on
    // its own. Its exit, if it comes within the departure wait, is reported with its status.
    struct IdentityRefused {
        static constexpr std::string_view kName = "identityRefused";
        QString description;
    };
    struct DepartureWaitExpired {
        static constexpr std::string_view kName = "departureWaitExpired";
    };
    struct IdentityWriteFailed {
        static constexpr std::string_view kName = "identityWriteFailed";
        QString description;
    };
    struct GraceExpired {
        static constexpr std::string_view kName = "graceExpired";
    };
    struct ProcessFinished {
        static constexpr std::string_view kName = "processFinished";
        int status;
    };
    using Event =
        std::variant<Start, Restart, Stop, IdentityLoaded, RuntimeMissing, FingerprintFailed,
                     RuntimePrepared, PortProbed, AdminPortTaken, InterpreterMissing, LaunchFailed,
                     ProcessCreated, ProcessFailedToStart, ProcessStarted, IdentityWritten,
                     IdentityRefused, DepartureWaitExpired, IdentityWriteFailed, GraceExpired,
                     ProcessFinished>;

    // Actions.
    // Load or create the TLS identity off the GUI thread → IdentityLoaded.
    struct LoadIdentity {
        static constexpr std::string_view kName = "loadIdentity";
        quint64 generation;
    };
    // Prepare the runtime copy off the GUI thread → RuntimeMissing / RuntimePrepared /
    // FingerprintFailed.
    struct PrepareRuntime {
        static constexpr std::string_view kName = "prepareRuntime";
        quint64 generation;
    };
    // Check `port` on 127.0.0.1 without blocking, then the admin port → PortProbed /
    // AdminPortTaken.
    struct ProbePort {
        static constexpr std::string_view kName = "probePort";
        quint64 generation;
        int port;
    };
    // Set up and start the process → InterpreterMissing / LaunchFailed / ProcessCreated.
    struct Launch {
        static constexpr std::string_view kName = "launch";
        BridgeLaunchConfiguration configuration;  // normalised
    };
    // Write the identity line → IdentityWritten / IdentityRefused / IdentityWriteFailed.
    struct WriteIdentity {
        static constexpr std::string_view kName = "writeIdentity";
    };
    // DepartureWaitExpired once an engine that left its standard input has had its moment.
    struct StartDepartureTimer {
        static constexpr std::string_view kName = "startDepartureTimer";
    };
    // Withdraw the launch's admin token, close our end of its standard input.
    struct EndCredentials {
        static constexpr std::string_view kName = "endCredentials";
    };
    struct Terminate {  // SIGTERM to the engine, if it still runs
        static constexpr std::string_view kName = "terminate";
    };
    struct StartGraceTimer {  // GraceExpired once the termination grace has passed
        static constexpr std::string_view kName = "startGraceTimer";
    };
    struct Kill {  // SIGKILL to the engine, if it still runs
        static constexpr std::string_view kName = "kill";
    };
    struct DiscardProcess {  // the engine process is over: let it go
        static constexpr std::string_view kName = "discardProcess";
    };
    struct Log {  // a "[desktop]" line of the diagnostic log
        static constexpr std::string_view kName = "log";
        QString text;
    };
    struct AppLog {  // a line of the application's process log
        static constexpr std::string_view kName = "appLog";
        QtMsgType level;
        QString text;
    };
    struct PublishChange {  // a published field changed
        static constexpr std::string_view kName = "publishChange";
    };
    struct ProcessEnded {  // no engine process is left, and none follows
        static constexpr std::string_view kName = "processEnded";
    };
    using Action = std::variant<LoadIdentity, PrepareRuntime, ProbePort, Launch, WriteIdentity,
                                StartDepartureTimer, EndCredentials, Terminate, StartGraceTimer,
                                Kill, DiscardProcess, Log, AppLog, PublishChange, ProcessEnded>;
    using Actions = std::vector<Action>;
    static_assert(namesAreDistinct<Event>() && namesAreDistinct<Action>());

    Actions handle(const Event& event);

    Phase phase() const { return phase_; }
    quint64 launchGeneration() const { return generation_; }
    bool isRunning() const { return published_.isRunning; }
    bool isPreparing() const { return phase_ == Phase::preparing || phase_ == Phase::probing; }
    // An engine process exists: starting, running or ending.
    bool hasProcess() const;
    const std::optional<QString>& lastError() const { return published_.lastError; }
    const std::optional<QString>& identityFingerprint() const {
        return published_.identityFingerprint;
    }
    const std::optional<BridgeLaunchConfiguration>& activeConfiguration() const {
        return published_.activeConfiguration;
    }

private:
    struct Published {
        bool isRunning = false;
        bool isPreparing = false;
        std::optional<QString> lastError;
        std::optional<QString> identityFingerprint;
        std::optional<BridgeLaunchConfiguration> activeConfiguration;
        bool operator==(const Published&) const = default;
    };

    void on(const Start& event);
    void on(const Restart& event);
    void on(const Stop&);
    void on(const IdentityLoaded& event);
    void on(const RuntimeMissing& event);
    void on(const FingerprintFailed& event);
    void on(const RuntimePrepared& event);
    void on(const PortProbed& event);
    void on(const AdminPortTaken& event);
    void on(const InterpreterMissing&);
    void on(const LaunchFailed& event);
    void on(const ProcessCreated&);
    void on(const ProcessFailedToStart& event);
    void on(const ProcessStarted&);
    void on(const IdentityWritten& event);
    void on(const IdentityRefused& event);
    void on(const DepartureWaitExpired&);
    void on(const IdentityWriteFailed& event);
    void on(const GraceExpired&);
    void on(const ProcessFinished& event);

    bool isCurrentPreparation(quint64 generation, Phase expected) const;
    void beginPreparation(const BridgeLaunchConfiguration& configuration);
    void requestEnd(Phase ending);
    void failPreparation(const QString& error, const std::optional<QString>& logLine);
    void reportLaunchFailure(const QString& description);
    void skipLaunch(const QString& text, const QString& appLogText);
    // Appends PublishChange when a published field differs from what was published last.
    void publish();

    Phase phase_ = Phase::idle;
    quint64 generation_ = 0;
    BridgeLaunchConfiguration configuration_;               // of the launch under way
    std::optional<BridgeLaunchConfiguration> restartWith_;  // while restarting
    QString refusal_;  // while leaving: the failed write, reported if the engine stays
    Published published_;
    Published lastPublished_;

    Actions actions_;  // set for the duration of one handle() call
};

// The action's name plus its arguments, for logs and tests: "probePort 3 9311",
// "log: launch failed: …", "appLog warning: …".
QString describe(const EngineSupervisor::Action& action);

}  // namespace norv
