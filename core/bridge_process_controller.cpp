#include "core/bridge_process_controller.h"

#include "core/admin_capability.h"
#include "core/app_log.h"
#include "core/bridge_runtime_files.h"
#include "core/bridge_tls_identity.h"
#include "core/bridge_tls_identity_error.h"
#include "core/bridge_tls_identity_store.h"
#include "core/resource_folder.h"
#include "core/unique_fd.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QFuture>
#include <QPromise>
#include <QThreadPool>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace norv {
namespace {

constexpr int kPortProbeTimeoutMs = 1000;

// The result of work done on a worker thread: a value, or the error's description (and, for
// an identity failure, the vault's reason, which goes to the log rather than the notice).
template <typename T>
struct Outcome {
    std::optional<T> value;
    QString error;
    QString reason;
};

// Runs `work` on the global thread pool and hands its outcome to `done` on the thread of
// `context`; nothing runs once `context` is gone.
template <typename T, typename Work, typename Done>
void runOnWorker(QObject* context, Work work, Done done) {
    auto promise = std::make_shared<QPromise<Outcome<T>>>();
    QFuture<Outcome<T>> future = promise->future();
    promise->start();
    (void)future.then(context, [done = std::move(done)](Outcome<T> outcome) mutable { done(std::move(outcome)); });
    QThreadPool::globalInstance()->start([promise, work = std::move(work)]() mutable {
        Outcome<T> outcome;
        try {
            outcome.value.emplace(work());
        } catch (const BridgeTLSIdentityError& error) {
            outcome.error = error.description();
            outcome.reason = error.reason();
        } catch (const std::exception& error) {
            outcome.error = QString::fromUtf8(error.what());
        } catch (...) {
            outcome.error = QStringLiteral("Unknown failure");
        }
        promise->addResult(std::move(outcome));
        promise->finish();
    });
}

// True when something accepts connections on 127.0.0.1:port. The connect is bounded: a
// listener with a full backlog must not hang the GUI thread.
bool portIsServed(int port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return false;  // no socket: skip the probe
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return true;
    if (errno != EINPROGRESS) return false;
    pollfd waiting{fd.get(), POLLOUT, 0};
    if (::poll(&waiting, 1, kPortProbeTimeoutMs) != 1) return false;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
    return error == 0;
}

// One non-blocking send of the whole line; the socket buffer of a fresh socket holds it.
// MSG_NOSIGNAL: a reader that has gone gives EPIPE, not SIGPIPE.
int sendIdentityLine(int fd, QByteArrayView line) {
    qsizetype sent = 0;
    while (sent < line.size()) {
        const ssize_t count = ::send(fd, line.data() + sent, size_t(line.size() - sent), MSG_NOSIGNAL);
        if (count < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        sent += count;
    }
    return 0;
}

bool isExecutableFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

// The termination status the way the user sees it: the exit code, or the signal number.
int terminationStatus(const QProcess& process) {
    // QProcess reports the signal number as the exit code of a crashed process.
    return process.exitCode();
}

}  // namespace

// The engine of the current launch: its process, the write end of its standard input, its
// admin token, and what its exit means.
struct BridgeProcessController::Engine {
    QProcess* process = nullptr;  // child of the controller, deleted once it has finished
    UniqueFd input;               // our end of the engine's standard input, open for its life
    QString token;                // empty until the token is made
    QByteArray identityLine;
    BridgeLaunchConfiguration configuration;
    bool terminationRequested = false;  // we asked it to end: its exit status is no failure
    bool launchFailed = false;          // a launch failure is already reported
    std::optional<BridgeLaunchConfiguration> restartWith;
};

BridgeProcessController::BridgeProcessController(std::shared_ptr<BridgeTLSIdentityStore> identityStore,
                                                 Options options, QObject* parent)
    : QObject(parent), identityStore_(std::move(identityStore)), options_(std::move(options)) {
    if (!options_.writeIdentityLine) options_.writeIdentityLine = &sendIdentityLine;
    if (!options_.storedConfiguration) options_.storedConfiguration = &BridgeLaunchConfiguration::loadStandard;
}

BridgeProcessController::BridgeProcessController(std::shared_ptr<BridgeTLSIdentityStore> identityStore,
                                                 QObject* parent)
    : BridgeProcessController(std::move(identityStore), Options{}, parent) {}

BridgeProcessController::~BridgeProcessController() {
    // Engine and exporters are our children: none may call back into a half-destroyed object.
    for (QProcess* process : findChildren<QProcess*>(Qt::FindDirectChildrenOnly)) process->disconnect(this);
    if (engine_) {
        AdminCapability::end(engine_->token);
        // Last resort when the owner did not stop the engine first: it must not outlive us.
        // QProcess reaps the killed process when it is destroyed with us.
        if (engine_->process->state() != QProcess::NotRunning) engine_->process->kill();
    }
}

bool BridgeProcessController::hasProcess() const { return engine_ != nullptr; }

qint64 BridgeProcessController::processId() const { return engine_ ? engine_->process->processId() : 0; }

QString BridgeProcessController::resourceFolder() const {
    return options_.resourceFolder.isEmpty() ? applicationResourceFolder() : options_.resourceFolder;
}

// ---- start, restart, stop -------------------------------------------------------------------

void BridgeProcessController::start(const BridgeLaunchConfiguration& configuration) {
    if (engine_ || isPreparing_) return;
    setPreparing(true);
    const quint64 generation = ++launchGeneration_;
    prepare(generation, configuration);
}

void BridgeProcessController::prepare(quint64 generation, const BridgeLaunchConfiguration& configuration) {
    // Paths and environment are read here, on the GUI thread; the workers only get values.
    const QString resources = resourceFolder();
    const std::optional<QString> support =
        options_.supportFolder ? options_.supportFolder : BridgeRuntimeFiles::supportFolder();
    const std::shared_ptr<BridgeTLSIdentityStore> store = identityStore_;

    runOnWorker<BridgeTLSIdentity>(
        this, [store] { return store->loadOrCreate(); },
        [this, generation, configuration, resources, support](Outcome<BridgeTLSIdentity> identity) {
            if (launchGeneration_ != generation) return;
            if (!identity.value) {
                setPreparing(false);
                setLastError(identity.error);
                appendLog(identity.reason.isEmpty()
                              ? QStringLiteral("protected Bridge identity unavailable")
                              : QStringLiteral("protected Bridge identity unavailable: ") + identity.reason);
                return;
            }
            // Only then the runtime copy: the two jobs never run together.
            runOnWorker<std::optional<QString>>(
                this, [resources, support] { return prepareBridgeRuntimeRoot(resources, support); },
                [this, generation, configuration, identity = *identity.value](Outcome<std::optional<QString>> root) {
                    if (launchGeneration_ != generation || !isPreparing_ || engine_) return;
                    setPreparing(false);
                    if (!root.value || !*root.value) {
                        setLastError(QStringLiteral("Could not prepare the bundled Bridge runtime"));
                        return;
                    }
                    QString fingerprint;
                    try {
                        fingerprint = identity.fingerprint();
                    } catch (const std::exception& error) {
                        setLastError(QString::fromUtf8(error.what()));
                        appendLog(QStringLiteral("protected Bridge identity unavailable"));
                        return;
                    }
                    if (identityFingerprint_ != fingerprint) {
                        identityFingerprint_ = fingerprint;
                        Q_EMIT changed();
                    }
                    launch(configuration, identity, **root.value);
                });
        });
}

void BridgeProcessController::restart(std::optional<BridgeLaunchConfiguration> configuration) {
    ++launchGeneration_;
    setPreparing(false);
    BridgeLaunchConfiguration chosen;
    if (configuration) {
        chosen = *configuration;
    } else if (activeConfiguration_) {
        chosen = *activeConfiguration_;
    } else {
        chosen = options_.storedConfiguration();
    }
    chosen = chosen.normalized();
    if (engine_) {
        // The new engine starts once this one has exited (see engineFinished), whether it
        // ends now or had already ended and its exit is still on its way to us.
        engine_->restartWith = chosen;
        requestTermination();
        return;
    }
    start(chosen);
}

void BridgeProcessController::stop() {
    ++launchGeneration_;
    setPreparing(false);
    if (!engine_) return;
    engine_->restartWith.reset();
    requestTermination();
}

void BridgeProcessController::stopForQuit(std::function<void()> done) {
    stop();
    if (!engine_) {
        QMetaObject::invokeMethod(this, std::move(done), Qt::QueuedConnection);
        return;
    }
    quitWaiters_.push_back(std::move(done));
}

void BridgeProcessController::requestTermination() {
    Engine& engine = *engine_;
    engine.terminationRequested = true;
    QProcess* process = engine.process;
    if (process->state() == QProcess::NotRunning) return;
    process->terminate();
    if (process->findChild<QTimer*>(QStringLiteral("killTimer"))) return;
    auto* killTimer = new QTimer(process);
    killTimer->setObjectName(QStringLiteral("killTimer"));
    killTimer->setSingleShot(true);
    connect(killTimer, &QTimer::timeout, process, [process] {
        if (process->state() != QProcess::NotRunning) process->kill();
    });
    killTimer->start(options_.terminationGrace);
}

// ---- launch ---------------------------------------------------------------------------------

QStringList BridgeProcessController::engineArguments(const BridgeLaunchConfiguration& configuration,
                                                     const QString& root, const std::optional<QString>& adbPath) {
    const BridgeLaunchConfiguration value = configuration.normalized();
    QStringList arguments{
        QStringLiteral("-I"),
        QStringLiteral("-B"),
        QStringLiteral("-u"),
        root + QStringLiteral("/tools/run_bridge.py"),
        QStringLiteral("--public-host"),
        value.wirelessEnabled ? QStringLiteral("0.0.0.0") : QStringLiteral("127.0.0.1"),
        QStringLiteral("--public-port"),
        QString::number(value.publicPort),
        QStringLiteral("--no-legacy-shared-midi"),
        QStringLiteral("--managed-stdin"),
        QStringLiteral("--tls-identity-stdin"),
        QStringLiteral("--require-device-approval"),
    };
    if (!value.bonjourEnabled) arguments << QStringLiteral("--no-bonjour");
    if (value.iosUSBEnabled) arguments << QStringLiteral("--usb-tunnel");
    if (value.androidUSBEnabled) {
        arguments << QStringLiteral("--android-adb-tunnel");
        if (adbPath) arguments << QStringLiteral("--android-adb-path") << *adbPath;
    }
    return arguments;
}

void BridgeProcessController::launch(const BridgeLaunchConfiguration& configuration,
                                     const BridgeTLSIdentity& identity, const QString& root) {
    if (engine_) return;
    const BridgeLaunchConfiguration value = configuration.normalized();
    const int port = value.publicPort;
    if (port < 0 || port > 65535) {
        setLastError(QStringLiteral("Wi-Fi port must be between 1024 and 65534"));
        return;
    }
    if (portIsServed(port)) {
        const QString text = QStringLiteral("An external bridge already owns port %1. Stop it before starting the "
                                            "managed bridge.")
                                 .arg(port);
        setLastError(text);
        appendLog(QStringLiteral("launch skipped: ") + text);
        qCWarning(AppLog::process, "Managed bridge launch skipped because port %d is already in use", port);
        return;
    }
    const std::optional<QString> interpreter = BridgeRuntimeFiles::interpreter(root);
    if (!interpreter) {
        setLastError(QStringLiteral("Bundled Python runtime unavailable"));
        return;
    }

    auto engine = std::make_unique<Engine>();
    engine->configuration = value;
    engine->identityLine = identity.encode();
    if (engine->identityLine.size() >= BridgeTLSIdentity::kMaxRecordBytes) {
        launchFailed(BridgeTLSIdentityError::invalidRecord().description());
        return;
    }
    engine->identityLine.append('\n');

    // The engine's standard input: a socket pair, so that our write can report a reader that
    // has gone (EPIPE with MSG_NOSIGNAL) instead of raising SIGPIPE.
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        launchFailed(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    engine->input.reset(ends[0]);
    UniqueFd childEnd(ends[1]);
    ::shutdown(engine->input.get(), SHUT_RD);
    ::fcntl(engine->input.get(), F_SETFL, ::fcntl(engine->input.get(), F_GETFL) | O_NONBLOCK);

    try {
        engine->token = AdminCapability::begin(identity.certificatePEM);
    } catch (const std::exception& error) {
        launchFailed(QString::fromUtf8(error.what()));
        return;
    }

    QProcessEnvironment environment = BridgeRuntimeFiles::environment(QProcessEnvironment::systemEnvironment());
    environment.insert(QStringLiteral("NORV_ADMIN_TOKEN"), engine->token);
    environment.insert(QStringLiteral("PYTHONUNBUFFERED"), QStringLiteral("1"));
    environment.insert(QStringLiteral("PYTHONDONTWRITEBYTECODE"), QStringLiteral("1"));

    auto* process = new QProcess(this);
    engine->process = process;
    process->setProgram(*interpreter);
    process->setArguments(engineArguments(value, root, findADBPath()));
    process->setWorkingDirectory(root);
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setInputChannelMode(QProcess::ForwardedInputChannel);
    const int stdinFd = childEnd.get();
    process->setChildProcessModifier([stdinFd] { ::dup2(stdinFd, STDIN_FILENO); });

    connect(process, &QProcess::readyReadStandardOutput, this,
            [this, process] { diagnosticBuffer_.append(process->readAllStandardOutput()); });
    connect(process, &QProcess::started, this, [this, process] { engineStarted(process); });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) engineFailedToStart(process);
    });
    connect(process, &QProcess::finished, this, [this, process] { engineFinished(process); });

    engine_ = std::move(engine);
    process->start();
    // The child has its copy of the other end (or failed to start); ours must go, so that the
    // engine's end of the socket is the only one left.
}

void BridgeProcessController::engineStarted(QProcess* process) {
    if (!engine_ || engine_->process != process || engine_->terminationRequested) return;
    Engine& engine = *engine_;
    const int error = options_.writeIdentityLine(engine.input.get(), engine.identityLine);
    engine.identityLine.fill('\0');
    engine.identityLine.clear();
    if (error != 0) {
        launchFailed(QString::fromLocal8Bit(std::strerror(error)));
        return;
    }
    setRunning(true);
    if (activeConfiguration_ != engine.configuration) activeConfiguration_ = engine.configuration;
    setLastError(std::nullopt);
    const qint64 pid = process->processId();
    appendLog(QStringLiteral("started bridge pid=%1").arg(pid));
    qCInfo(AppLog::process, "Started bridge pid=%lld", static_cast<long long>(pid));
    Q_EMIT changed();
}

void BridgeProcessController::engineFailedToStart(QProcess* process) {
    if (!engine_ || engine_->process != process) return;
    const QString description = process->errorString();
    launchFailed(description);
}

// A launch that did not lead to a running engine: the token is withdrawn, our end of standard
// input closed, and a process that did start is ended; its exit (reported later) does not
// replace this failure.
void BridgeProcessController::launchFailed(const QString& description) {
    if (engine_ && !engine_->launchFailed) {
        Engine& engine = *engine_;
        engine.launchFailed = true;
        AdminCapability::end(engine.token);
        engine.input.reset();
        const bool started = engine.process->state() != QProcess::NotRunning;
        if (started) requestTermination();
        setLastError(description);
        appendLog(QStringLiteral("launch failed: ") + description);
        qCCritical(AppLog::process, "Bridge launch failed: %s", qUtf8Printable(description));
        if (!started) {
            // Never started: no exit will be reported.
            engine.process->disconnect(this);
            engine.process->deleteLater();
            engine_.reset();
            engineGone();
        }
        return;
    }
    setLastError(description);
    appendLog(QStringLiteral("launch failed: ") + description);
    qCCritical(AppLog::process, "Bridge launch failed: %s", qUtf8Printable(description));
}

void BridgeProcessController::engineGone() {
    Q_EMIT processEnded();
    for (auto& done : std::exchange(quitWaiters_, {})) done();
}

// Termination handling, on the GUI thread, once per engine process.
void BridgeProcessController::engineFinished(QProcess* process) {
    if (!engine_ || engine_->process != process) return;
    std::unique_ptr<Engine> ended = std::move(engine_);
    AdminCapability::end(ended->token);
    diagnosticBuffer_.append(process->readAllStandardOutput());
    diagnosticBuffer_.finish();
    ended->input.reset();
    process->disconnect(this);
    process->deleteLater();
    setRunning(false);

    if (ended->restartWith) {
        // Restart: no status message and no log line for the old engine's exit.
        start(*ended->restartWith);
        Q_EMIT changed();
        return;
    }
    const int status = terminationStatus(*process);
    // An exit we asked for (stop, quit, a failed launch) is not a failure of the engine.
    if (status != 0 && !ended->terminationRequested) {
        setLastError(QStringLiteral("Bridge exited with status %1").arg(status));
    }
    appendLog(QStringLiteral("bridge stopped status=%1").arg(status));
    Q_EMIT changed();
    engineGone();
}

// ---- diagnostics export ----------------------------------------------------------------------

void BridgeProcessController::exportDiagnostics(const QString& destination, ExportCompletion completion) {
    const auto fail = [this, &completion](int code, const QString& message) {
        QMetaObject::invokeMethod(
            this, [completion, code, message] { completion(DiagnosticsExportError{code, message}); },
            Qt::QueuedConnection);
    };
    const std::optional<QString> root = findReadOnlyRuntimeRoot(resourceFolder());
    if (!root) return fail(1, QStringLiteral("Bundled diagnostic exporter unavailable"));
    QString version = QCoreApplication::applicationVersion();
    if (version.isEmpty()) version = QStringLiteral("development");
    const std::optional<QString> interpreter = BridgeRuntimeFiles::interpreter(*root);
    if (!interpreter) return fail(1, QStringLiteral("Bundled Python runtime unavailable"));

    QProcessEnvironment environment = BridgeRuntimeFiles::environment(QProcessEnvironment::systemEnvironment());
    if (const auto identity = AdminCapability::current()) {
        environment.insert(QStringLiteral("NORV_ADMIN_TOKEN"), identity->token);
        if (identity->certificatePEM)
            environment.insert(QStringLiteral("NORV_ADMIN_CERTIFICATE_PEM"), *identity->certificatePEM);
    }

    auto* process = new QProcess(this);
    process->setProgram(*interpreter);
    process->setArguments({QStringLiteral("-I"), QStringLiteral("-B"), QStringLiteral("-u"),
                           *root + QStringLiteral("/tools/run_bridge.py"), QStringLiteral("--export-diagnostics"),
                           destination, QStringLiteral("--desktop-version"), version});
    process->setProcessEnvironment(environment);
    process->setInputChannelMode(QProcess::ForwardedInputChannel);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());

    // One outcome per export: the first of exit, failure to start and time-out.
    auto pending = std::make_shared<ExportCompletion>(std::move(completion));
    const auto finish = [pending](std::optional<DiagnosticsExportError> outcome) {
        if (!*pending) return;
        std::exchange(*pending, nullptr)(std::move(outcome));
    };
    auto* deadline = new QTimer(process);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this, [this, process, finish] {
        if (process->state() == QProcess::NotRunning) return;
        // The exporter is ended without waiting; it is deleted once it has exited.
        process->terminate();
        QTimer::singleShot(options_.terminationGrace, process, [process] {
            if (process->state() != QProcess::NotRunning) process->kill();
        });
        finish(DiagnosticsExportError{2, QStringLiteral("Diagnostic export timed out. Try again.")});
    });
    connect(process, &QProcess::finished, this, [process, deadline, finish] {
        deadline->stop();
        process->deleteLater();
        const int status = terminationStatus(*process);
        if (status == 0) {
            finish(std::nullopt);
        } else {
            finish(DiagnosticsExportError{status,
                                          QStringLiteral("Could not export diagnostics. Check the destination folder.")});
        }
    });
    connect(process, &QProcess::errorOccurred, this, [process, finish](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        process->deleteLater();
        finish(DiagnosticsExportError{1, process->errorString()});
    });
    process->start();
    deadline->start(options_.exportTimeout);
}

// ---- logs -----------------------------------------------------------------------------------

void BridgeProcessController::appendLog(const QString& message) {
    const QString time = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    diagnosticBuffer_.appendLine(time + QStringLiteral(" INFO [desktop] ") + message);
}

void BridgeProcessController::refreshLogs() {
    QStringList lines = diagnosticBuffer_.lines();
    if (lines == logLines_) return;
    logLines_ = std::move(lines);
    Q_EMIT changed();
}

// ---- published-state setters ----------------------------------------------------------------

void BridgeProcessController::setRunning(bool value) {
    if (isRunning_ == value) return;
    isRunning_ = value;
    Q_EMIT changed();
}

void BridgeProcessController::setPreparing(bool value) {
    if (isPreparing_ == value) return;
    isPreparing_ = value;
    Q_EMIT changed();
}

void BridgeProcessController::setLastError(std::optional<QString> value) {
    if (lastError_ == value) return;
    lastError_ = std::move(value);
    Q_EMIT changed();
}

// ---- runtime and adb ------------------------------------------------------------------------

std::optional<QString> BridgeProcessController::findADBPath() {
    QStringList candidates;
    if (qEnvironmentVariableIsSet("NORV_ANDROID_ADB_PATH")) candidates << qEnvironmentVariable("NORV_ANDROID_ADB_PATH");
    const QString home = qEnvironmentVariable("HOME");
    if (!home.isEmpty()) candidates << home + QStringLiteral("/Android/Sdk/platform-tools/adb");
    candidates << QStringLiteral("/usr/local/bin/adb") << QStringLiteral("/usr/bin/adb");
    for (const QString& candidate : candidates) {
        if (isExecutableFile(candidate)) return candidate;
    }
    return std::nullopt;
}

std::optional<QString> BridgeProcessController::prepareBridgeRuntimeRoot(const QString& resourceFolder,
                                                                         const std::optional<QString>& supportFolder) {
    return BridgeRuntimeFiles::managedRoot(resourceFolder, supportFolder);
}

std::optional<QString> BridgeProcessController::findReadOnlyRuntimeRoot(const QString& resourceFolder) {
    return BridgeRuntimeFiles::shippedRoot(resourceFolder);
}

}  // namespace norv
