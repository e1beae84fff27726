#pragma once

#include "core/bridge_launch_configuration.h"
#include "core/diagnostic_log_buffer.h"
#include "core/diagnostics_export_error.h"
#include "core/engine_supervisor.h"

#include <QByteArrayView>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace norv {

class BridgeTLSIdentityStore;
class DiagnosticsExporter;

// The engine host: the Qt side of the engine supervisor. `EngineSupervisor` decides what
// happens; this class feeds it events and carries out its actions. It prepares the TLS identity
// and the runtime copy on worker threads, probes the public port without blocking, launches the
// engine (a QProcess on the GUI thread) with its command line, reduced environment and identity
// line on standard input, feeds its output into the diagnostic log buffer, and reports its exit.
// Every field is read and written on the GUI thread; `changed()` fires after any published
// field changed.
//
// Engines that this controller ends itself get SIGTERM and, when still alive after the grace
// period, SIGKILL. Diagnostics export and the adb lookup are units of their own
// (`DiagnosticsExporter`, `AdbLookup`); the entry points here delegate to them.
class BridgeProcessController : public QObject {
    Q_OBJECT

public:
    struct Options {
        // The application's resource folder; empty: applicationResourceFolder().
        QString resourceFolder;
        // The per-user support folder for runtime copies; none: BridgeRuntimeFiles::supportFolder(),
        // read on the GUI thread at each start.
        std::optional<QString> supportFolder;
        // How long an engine or exporter may take to end after SIGTERM before it gets SIGKILL.
        std::chrono::milliseconds terminationGrace{3000};
        // How long a diagnostics export may run.
        std::chrono::milliseconds exportTimeout{30000};
        // How long the port probe may wait for its connect.
        std::chrono::milliseconds portProbeTimeout{1000};
        // The engine's admin port on 127.0.0.1, checked before each launch, and how long the
        // check may wait for a handshake from whatever holds it.
        int adminPort = 9315;
        std::chrono::milliseconds adminPortProbeTimeout{3000};
        // How long an engine that closed its standard input before getting its identity may take
        // to exit on its own before it counts as a failed launch.
        std::chrono::milliseconds departureWait{1000};
        // The stored configuration, for a restart without one and without an active one.
        std::function<BridgeLaunchConfiguration()> storedConfiguration = &BridgeLaunchConfiguration::loadStandard;
        // Writes the identity line to the engine's standard input; returns 0 or an errno.
        // Replaceable so tests can make the write fail.
        std::function<int(int fd, QByteArrayView line)> writeIdentityLine;
    };

    using ExportCompletion = std::function<void(std::optional<DiagnosticsExportError>)>;

    BridgeProcessController(std::shared_ptr<BridgeTLSIdentityStore> identityStore, Options options,
                            QObject* parent = nullptr);
    explicit BridgeProcessController(std::shared_ptr<BridgeTLSIdentityStore> identityStore,
                                     QObject* parent = nullptr);
    // An engine still running here gets SIGKILL: it is never left behind.
    ~BridgeProcessController() override;

    // Published state.
    bool isRunning() const { return supervisor_.isRunning(); }
    bool isPreparing() const { return supervisor_.isPreparing(); }
    const std::optional<QString>& identityFingerprint() const { return supervisor_.identityFingerprint(); }
    const std::optional<QString>& lastError() const { return supervisor_.lastError(); }
    const QStringList& logLines() const { return logLines_; }
    const std::optional<BridgeLaunchConfiguration>& activeConfiguration() const {
        return supervisor_.activeConfiguration();
    }
    quint64 launchGeneration() const { return supervisor_.launchGeneration(); }
    EngineSupervisor::Phase phase() const { return supervisor_.phase(); }
    // An engine process of this controller exists (starting, running or ending).
    bool hasProcess() const;
    // Its process id, or 0.
    qint64 processId() const;
    DiagnosticLogBuffer& diagnosticBuffer() { return diagnosticBuffer_; }

    // Prepares identity and runtime, then launches. Does nothing while an engine exists or is
    // being prepared.
    void start(const BridgeLaunchConfiguration& configuration);
    // Drops any preparation under way and starts again with the given configuration, else the
    // active one, else the stored one; a running engine is ended first, and the new one starts
    // as soon as the old one has exited.
    void restart(std::optional<BridgeLaunchConfiguration> configuration = std::nullopt);
    // Drops any preparation and pending restart and ends the engine, if any.
    void stop();
    // For application quit: stop(), then `done` on the GUI thread once no engine process is
    // left, within about the termination grace.
    void stopForQuit(std::function<void()> done);

    // Copies the buffer's lines into logLines(); fires changed() only on a real change.
    void refreshLogs();

    // Runs the shipped engine script in export mode to write a diagnostics archive to
    // `destination`. `completion` runs later on the GUI thread with nothing on success or the
    // error. Does not touch the published state.
    void exportDiagnostics(const QString& destination, ExportCompletion completion);

    // The engine's command line after the interpreter.
    static QStringList engineArguments(const BridgeLaunchConfiguration& configuration, const QString& root,
                                       const std::optional<QString>& adbPath);
    // The adb program handed to the engine: $NORV_ANDROID_ADB_PATH, then the usual install
    // locations; the first that names an executable file.
    static std::optional<QString> findADBPath();
    // The runtime root for a managed launch: the verified copy (blocks; not on the GUI thread).
    static std::optional<QString> prepareBridgeRuntimeRoot(const QString& resourceFolder,
                                                           const std::optional<QString>& supportFolder);
    // The shipped runtime root, used in place without copying.
    static std::optional<QString> findReadOnlyRuntimeRoot(const QString& resourceFolder);

Q_SIGNALS:
    void changed();
    // The engine process of this controller has ended and nothing replaces it yet.
    void processEnded();

private:
    struct Engine;
    struct PreparedLaunch;

    using Supervisor = EngineSupervisor;

    QString resourceFolder() const;
    // Hands the event to the supervisor and carries out its actions in order. An action may
    // report an outcome at once (the launch does): that event is handled right there.
    void dispatch(const Supervisor::Event& event);
    void logTransition(Supervisor::Phase before, const Supervisor::Event& event,
                       const Supervisor::Actions& actions) const;
    void perform(const Supervisor::LoadIdentity& action);
    void perform(const Supervisor::PrepareRuntime& action);
    void perform(const Supervisor::ProbePort& action);
    void perform(const Supervisor::Launch& action);
    void perform(const Supervisor::WriteIdentity&);
    void perform(const Supervisor::StartDepartureTimer&);
    void perform(const Supervisor::EndCredentials&);
    void perform(const Supervisor::Terminate&) { signalEngine(false); }
    void perform(const Supervisor::StartGraceTimer&);
    void perform(const Supervisor::Kill&) { signalEngine(true); }
    void perform(const Supervisor::DiscardProcess&);
    void perform(const Supervisor::Log& action) { appendLog(action.text); }
    void perform(const Supervisor::AppLog& action);
    void perform(const Supervisor::PublishChange&) { Q_EMIT changed(); }
    void perform(const Supervisor::ProcessEnded&);
    QProcess* makeEngineProcess(const QString& interpreter, const BridgeLaunchConfiguration& configuration,
                                const QString& root, const QString& token, int stdinFd);
    // A single-shot precise timer owned by the engine's process: gone with it.
    void afterOnEngine(std::chrono::milliseconds delay, Supervisor::Event event);
    void signalEngine(bool kill);
    void engineFinished(QProcess* process);
    bool isCurrent(const QProcess* process) const;
    void appendLog(const QString& message);

    std::shared_ptr<BridgeTLSIdentityStore> identityStore_;
    Options options_;
    EngineSupervisor supervisor_;
    QStringList logLines_;
    DiagnosticLogBuffer diagnosticBuffer_{1000, 8192};
    std::unique_ptr<PreparedLaunch> prepared_;  // identity and root between preparation and launch
    std::unique_ptr<Engine> engine_;
    DiagnosticsExporter* exporter_ = nullptr;  // child
    std::vector<std::function<void()>> quitWaiters_;
};

}  // namespace norv
