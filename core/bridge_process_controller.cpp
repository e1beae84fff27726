#include "core/bridge_process_controller.h"

#include "core/adb_lookup.h"
#include "core/admin_capability.h"
#include "core/app_log.h"
#include "core/bridge_runtime_files.h"
#include "core/bridge_tls_identity.h"
#include "core/bridge_tls_identity_error.h"
#include "core/bridge_tls_identity_store.h"
#include "core/diagnostics_exporter.h"
#include "core/port_probe.h"
#include "core/process_hardening.h"
#include "core/resource_folder.h"
#include "core/unique_fd.h"
#include "model/text_rules.h"

#include <QDateTime>
#include <QFuture>
#include <QPromise>
#include <QThreadPool>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace norv {
namespace {

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

QString errnoText(int error) { return QString::fromStdString(text_rules::errorText(error)); }

}  // namespace

// What a finished preparation hands to the launch: the identity and the runtime root. The key
// is overwritten once the launch is over with it.
struct BridgeProcessController::PreparedLaunch {
    quint64 generation = 0;
    BridgeTLSIdentity identity;
    QString root;

    ~PreparedLaunch() { ProcessHardening::wipe(identity.privateKeyPEM); }
};

// The engine process of the current launch, the write end of its standard input and its admin
// token: the host-side resources the supervisor's actions act on.
struct BridgeProcessController::Engine {
    QProcess* process = nullptr;  // child of the controller, deleted once it is over
    UniqueFd input;               // our end of the engine's standard input, open for its life
    QString token;                // empty until the token is made
    QByteArray identityLine;      // overwritten once written, or when the launch ends without it

    ~Engine() { ProcessHardening::wipe(identityLine); }
};

BridgeProcessController::BridgeProcessController(std::shared_ptr<BridgeTLSIdentityStore> identityStore,
                                                 Options options, QObject* parent)
    : QObject(parent), identityStore_(std::move(identityStore)), options_(std::move(options)) {
    if (!options_.writeIdentityLine) options_.writeIdentityLine = &sendIdentityLine;
    if (!options_.storedConfiguration) options_.storedConfiguration = &BridgeLaunchConfiguration::loadStandard;
    exporter_ = new DiagnosticsExporter(options_.exportTimeout, options_.terminationGrace, this);
}

BridgeProcessController::BridgeProcessController(std::shared_ptr<BridgeTLSIdentityStore> identityStore,
                                                 QObject* parent)
    : BridgeProcessController(std::move(identityStore), Options{}, parent) {}

BridgeProcessController::~BridgeProcessController() {
    // The engine is our child: it must not call back into a half-destroyed object.
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

// ---- commands -------------------------------------------------------------------------------

void BridgeProcessController::start(const BridgeLaunchConfiguration& configuration) {
    dispatch(Supervisor::Start{configuration});
}

void BridgeProcessController::restart(std::optional<BridgeLaunchConfiguration> configuration) {
    prepared_.reset();
    dispatch(Supervisor::Restart{std::move(configuration), options_.storedConfiguration});
}

void BridgeProcessController::stop() {
    prepared_.reset();
    dispatch(Supervisor::Stop{});
}

void BridgeProcessController::stopForQuit(std::function<void()> done) {
    stop();
    if (!engine_) {
        QMetaObject::invokeMethod(this, std::move(done), Qt::QueuedConnection);
        return;
    }
    quitWaiters_.push_back(std::move(done));
}

// ---- carrying out the supervisor's actions ----------------------------------------------------

void BridgeProcessController::dispatch(const Supervisor::Event& event) {
    const Supervisor::Phase before = supervisor_.phase();
    const Supervisor::Actions actions = supervisor_.handle(event);
    logTransition(before, event, actions);
    for (const auto& action : actions) std::visit([this](const auto& a) { perform(a); }, action);
}

// One debug line per event that changes the phase or asks for something; enable with
// QT_LOGGING_RULES="org.norv.session.bridge.Process.debug=true".
void BridgeProcessController::logTransition(Supervisor::Phase before, const Supervisor::Event& event,
                                            const Supervisor::Actions& actions) const {
    if (!AppLog::process().isDebugEnabled()) return;
    if (actions.empty() && supervisor_.phase() == before) return;
    QString done;
    for (const auto& action : actions) {
        if (!done.isEmpty()) done += QLatin1Char(',');
        done += QLatin1String(nameOf(action));
    }
    qCDebug(AppLog::process, "engine supervisor %s --%s--> %s [%s]", Supervisor::name(before).data(),
            nameOf(event).data(), Supervisor::name(supervisor_.phase()).data(), qUtf8Printable(done));
}

void BridgeProcessController::perform(const Supervisor::AppLog& action) {
    if (action.level == QtInfoMsg) qCInfo(AppLog::process, "%s", qUtf8Printable(action.text));
    else if (action.level == QtWarningMsg) qCWarning(AppLog::process, "%s", qUtf8Printable(action.text));
    else qCCritical(AppLog::process, "%s", qUtf8Printable(action.text));
}

// ---- preparation ----------------------------------------------------------------------------

void BridgeProcessController::perform(const Supervisor::LoadIdentity& action) {
    const quint64 generation = action.generation;
    const std::shared_ptr<BridgeTLSIdentityStore> store = identityStore_;
    runOnWorker<BridgeTLSIdentity>(
        this, [store] { return store->loadOrCreate(); },
        [this, generation](Outcome<BridgeTLSIdentity> identity) {
            if (!identity.value) {
                dispatch(Supervisor::IdentityLoaded{
                    generation, Supervisor::IdentityFailure{identity.error, identity.reason}});
                return;
            }
            if (generation == supervisor_.launchGeneration()) {
                prepared_ = std::make_unique<PreparedLaunch>(
                    PreparedLaunch{generation, std::move(*identity.value), {}});
            }
            dispatch(Supervisor::IdentityLoaded{generation, std::nullopt});
        });
}

void BridgeProcessController::perform(const Supervisor::PrepareRuntime& action) {
    const quint64 generation = action.generation;
    // Paths and environment are read here, on the GUI thread; the worker only gets values.
    const QString resources = resourceFolder();
    const std::optional<QString> support =
        options_.supportFolder ? options_.supportFolder : BridgeRuntimeFiles::supportFolder();
    runOnWorker<std::optional<QString>>(
        this, [resources, support] { return prepareBridgeRuntimeRoot(resources, support); },
        [this, generation](Outcome<std::optional<QString>> root) {
            if (!root.value || !*root.value) {
                dispatch(Supervisor::RuntimeMissing{generation});
                return;
            }
            if (!prepared_ || prepared_->generation != generation) return;  // overtaken
            prepared_->root = **root.value;
            QString fingerprint;
            try {
                fingerprint = prepared_->identity.fingerprint();
            } catch (const std::exception& error) {
                dispatch(Supervisor::FingerprintFailed{generation, QString::fromUtf8(error.what())});
                return;
            }
            dispatch(Supervisor::RuntimePrepared{generation, fingerprint});
        });
}

// The public port first (served: an external bridge), then the admin port the engine must bind.
void BridgeProcessController::perform(const Supervisor::ProbePort& action) {
    const quint64 generation = action.generation;
    PortProbe::start(this, action.port, options_.portProbeTimeout, [this, generation](bool served) {
        if (served) return dispatch(Supervisor::PortProbed{generation, true});
        if (generation != supervisor_.launchGeneration()) return;
        const int adminPort = options_.adminPort;
        AdminPortProbe::start(this, adminPort, options_.adminPortProbeTimeout,
                              [this, generation, adminPort](AdminPortProbe::Holder holder) {
                                  using Holder = AdminPortProbe::Holder;
                                  using Taken = Supervisor::PortHolder;
                                  if (holder == Holder::none) return dispatch(Supervisor::PortProbed{generation, false});
                                  dispatch(Supervisor::AdminPortTaken{
                                      generation, adminPort, holder == Holder::bridge ? Taken::bridge : Taken::otherProgram});
                              });
    });
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

void BridgeProcessController::perform(const Supervisor::Launch& action) {
    const std::unique_ptr<PreparedLaunch> prepared = std::move(prepared_);
    const std::optional<QString> interpreter =
        prepared ? BridgeRuntimeFiles::interpreter(prepared->root) : std::nullopt;
    if (!interpreter) return dispatch(Supervisor::InterpreterMissing{});

    auto engine = std::make_unique<Engine>();
    QByteArray encoded = prepared->identity.encode();
    const qsizetype size = encoded.size();
    // Reserved first, so no growth leaves a copy of the key behind.
    engine->identityLine.reserve(size + 1);
    engine->identityLine.append(encoded).append('\n');
    ProcessHardening::wipe(encoded);
    if (size >= BridgeTLSIdentity::kMaxRecordBytes) {
        return dispatch(Supervisor::LaunchFailed{BridgeTLSIdentityError::invalidRecord().description()});
    }

    // The engine's standard input: a socket pair, so that our write can report a reader that
    // has gone (EPIPE with MSG_NOSIGNAL) instead of raising SIGPIPE.
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        return dispatch(Supervisor::LaunchFailed{errnoText(errno)});
    }
    engine->input.reset(ends[0]);
    // The child gets its copy at start; ours goes when launch returns, leaving the engine's
    // end of the socket the only one.
    UniqueFd childEnd(ends[1]);
    ::shutdown(engine->input.get(), SHUT_RD);
    ::fcntl(engine->input.get(), F_SETFL, ::fcntl(engine->input.get(), F_GETFL) | O_NONBLOCK);

    try {
        engine->token = AdminCapability::begin(prepared->identity.certificatePEM);
    } catch (const std::exception& error) {
        return dispatch(Supervisor::LaunchFailed{QString::fromUtf8(error.what())});
    }
    QProcess* process = makeEngineProcess(*interpreter, action.configuration, prepared->root, engine->token, childEnd.get());
    engine->process = process;
    engine_ = std::move(engine);
    dispatch(Supervisor::ProcessCreated{});
    process->start();
}

QProcess* BridgeProcessController::makeEngineProcess(const QString& interpreter,
                                                     const BridgeLaunchConfiguration& configuration,
                                                     const QString& root, const QString& token, int stdinFd) {
    QProcessEnvironment environment = BridgeRuntimeFiles::environment(QProcessEnvironment::systemEnvironment());
    environment.insert(QStringLiteral("NORV_ADMIN_TOKEN"), token);
    environment.insert(QStringLiteral("PYTHONUNBUFFERED"), QStringLiteral("1"));
    environment.insert(QStringLiteral("PYTHONDONTWRITEBYTECODE"), QStringLiteral("1"));

    auto* process = new QProcess(this);
    process->setProgram(interpreter);
    process->setArguments(engineArguments(configuration, root, findADBPath()));
    process->setWorkingDirectory(root);
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setInputChannelMode(QProcess::ForwardedInputChannel);
    ProcessHardening::guardChild(*process, stdinFd);

    connect(process, &QProcess::readyReadStandardOutput, this,
            [this, process] { diagnosticBuffer_.append(process->readAllStandardOutput()); });
    connect(process, &QProcess::started, this, [this, process] {
        if (isCurrent(process)) dispatch(Supervisor::ProcessStarted{});
    });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart && isCurrent(process))
            dispatch(Supervisor::ProcessFailedToStart{process->errorString()});
    });
    connect(process, &QProcess::finished, this, [this, process] { engineFinished(process); });
    return process;
}

void BridgeProcessController::perform(const Supervisor::WriteIdentity&) {
    Engine& engine = *engine_;
    const int error = options_.writeIdentityLine(engine.input.get(), engine.identityLine);
    ProcessHardening::wipe(engine.identityLine);
    // No reader any more: an engine that exited before reading its identity closed its end.
    if (error == EPIPE || error == ECONNRESET) return dispatch(Supervisor::IdentityRefused{errnoText(error)});
    if (error != 0) return dispatch(Supervisor::IdentityWriteFailed{errnoText(error)});
    dispatch(Supervisor::IdentityWritten{engine.process->processId()});
}

// ---- ending ---------------------------------------------------------------------------------

bool BridgeProcessController::isCurrent(const QProcess* process) const {
    return engine_ && engine_->process == process;
}

void BridgeProcessController::signalEngine(bool kill) {
    if (!engine_ || engine_->process->state() == QProcess::NotRunning) return;
    if (kill) engine_->process->kill();
    else engine_->process->terminate();
}

void BridgeProcessController::perform(const Supervisor::StartGraceTimer&) {
    afterOnEngine(options_.terminationGrace, Supervisor::GraceExpired{});
}

void BridgeProcessController::perform(const Supervisor::StartDepartureTimer&) {
    afterOnEngine(options_.departureWait, Supervisor::DepartureWaitExpired{});
}

void BridgeProcessController::afterOnEngine(std::chrono::milliseconds delay, Supervisor::Event event) {
    if (!engine_) return;
    QProcess* process = engine_->process;
    // Owned by the process: gone with it, so it never reaches a later engine.
    auto* timer = new QTimer(process);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, process, event = std::move(event)] {
        if (isCurrent(process)) dispatch(event);
    });
    timer->start(delay);
}

void BridgeProcessController::perform(const Supervisor::EndCredentials&) {
    if (!engine_) return;
    AdminCapability::end(engine_->token);
    engine_->input.reset();
}

void BridgeProcessController::perform(const Supervisor::DiscardProcess&) {
    const std::unique_ptr<Engine> ended = std::move(engine_);
    if (!ended) return;
    ended->process->disconnect(this);
    ended->process->deleteLater();
}

// Termination handling, on the GUI thread, once per engine process.
void BridgeProcessController::engineFinished(QProcess* process) {
    if (!isCurrent(process)) return;
    diagnosticBuffer_.append(process->readAllStandardOutput());
    diagnosticBuffer_.finish();
    // QProcess reports the signal number as the exit code of a crashed process.
    dispatch(Supervisor::ProcessFinished{process->exitCode()});
}

void BridgeProcessController::perform(const Supervisor::ProcessEnded&) {
    Q_EMIT processEnded();
    for (auto& done : std::exchange(quitWaiters_, {})) done();
}

// ---- diagnostics export, logs, runtime and adb ------------------------------------------------

void BridgeProcessController::exportDiagnostics(const QString& destination, ExportCompletion completion) {
    exporter_->run(resourceFolder(), destination, std::move(completion));
}

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

std::optional<QString> BridgeProcessController::findADBPath() { return AdbLookup::find(); }

std::optional<QString> BridgeProcessController::prepareBridgeRuntimeRoot(const QString& resourceFolder,
                                                                         const std::optional<QString>& supportFolder) {
    return BridgeRuntimeFiles::managedRoot(resourceFolder, supportFolder);
}

std::optional<QString> BridgeProcessController::findReadOnlyRuntimeRoot(const QString& resourceFolder) {
    return BridgeRuntimeFiles::shippedRoot(resourceFolder);
}

}  // namespace norv
