#include "core/engine_supervisor.h"

namespace norv {
namespace {

using Kind = EngineAction::Kind;

EngineAction action(Kind kind) { return EngineAction{kind}; }

EngineAction logLine(const QString& text) {
    EngineAction line{Kind::log};
    line.text = text;
    return line;
}

EngineAction appLogLine(QtMsgType level, const QString& text) {
    EngineAction line{Kind::appLog};
    line.level = level;
    line.text = text;
    return line;
}

EngineAction forGeneration(Kind kind, quint64 generation) {
    EngineAction work{kind};
    work.generation = generation;
    return work;
}

const char* kindName(Kind kind) {
    switch (kind) {
        case Kind::loadIdentity:
            return "loadIdentity";
        case Kind::prepareRuntime:
            return "prepareRuntime";
        case Kind::probePort:
            return "probePort";
        case Kind::launch:
            return "launch";
        case Kind::writeIdentity:
            return "writeIdentity";
        case Kind::startDepartureTimer:
            return "startDepartureTimer";
        case Kind::endCredentials:
            return "endCredentials";
        case Kind::terminate:
            return "terminate";
        case Kind::startGraceTimer:
            return "startGraceTimer";
        case Kind::kill:
            return "kill";
        case Kind::discardProcess:
            return "discardProcess";
        case Kind::log:
            return "log";
        case Kind::appLog:
            return "appLog";
        case Kind::publishChange:
            return "publishChange";
        case Kind::processEnded:
            return "processEnded";
    }
    return "?";
}

QString externalBridgeText(int port) {
    return QStringLiteral("An external bridge already owns port %1. Stop it before starting the managed bridge.")
        .arg(port);
}

const char* levelName(QtMsgType level) {
    switch (level) {
        case QtInfoMsg:
            return "info";
        case QtWarningMsg:
            return "warning";
        case QtCriticalMsg:
            return "critical";
        default:
            return "other";
    }
}

}  // namespace

QString describe(const EngineAction& action) {
    QString text = QString::fromLatin1(kindName(action.kind));
    switch (action.kind) {
        case Kind::loadIdentity:
        case Kind::prepareRuntime:
            return text + QLatin1Char(' ') + QString::number(action.generation);
        case Kind::probePort:
            return text + QLatin1Char(' ') + QString::number(action.generation) + QLatin1Char(' ') +
                   QString::number(action.port);
        case Kind::log:
            return text + QStringLiteral(": ") + action.text;
        case Kind::appLog:
            return text + QLatin1Char(' ') + QLatin1String(levelName(action.level)) +
                   QStringLiteral(": ") + action.text;
        default:
            return text;
    }
}

bool EngineSupervisor::hasProcess() const {
    switch (state_) {
        case EngineState::starting:
        case EngineState::leaving:
        case EngineState::running:
        case EngineState::stopping:
        case EngineState::restarting:
            return true;
        default:
            return false;
    }
}

bool EngineSupervisor::isCurrentPreparation(quint64 generation, EngineState expected) const {
    return generation == generation_ && state_ == expected;
}

void EngineSupervisor::publish(EngineActions& actions) {
    published_.isPreparing = isPreparing();
    if (published_ == lastPublished_) return;
    lastPublished_ = published_;
    actions.push_back(action(Kind::publishChange));
}

// ---- commands --------------------------------------------------------------------------------

EngineActions EngineSupervisor::start(const BridgeLaunchConfiguration& configuration) {
    EngineActions actions;
    if (state_ != EngineState::idle) return actions;  // an engine exists or is on its way
    beginPreparation(configuration, actions);
    return actions;
}

void EngineSupervisor::beginPreparation(const BridgeLaunchConfiguration& configuration,
                                        EngineActions& actions) {
    state_ = EngineState::preparing;
    configuration_ = configuration;
    ++generation_;
    publish(actions);
    actions.push_back(forGeneration(Kind::loadIdentity, generation_));
}

EngineActions EngineSupervisor::restart(std::optional<BridgeLaunchConfiguration> requested,
                                        const std::function<BridgeLaunchConfiguration()>& stored) {
    EngineActions actions;
    ++generation_;
    if (isPreparing()) state_ = EngineState::idle;  // the preparation's results are dropped
    BridgeLaunchConfiguration chosen = requested ? *requested
                                       : published_.activeConfiguration
                                           ? *published_.activeConfiguration
                                           : stored();
    chosen = chosen.normalized();
    if (hasProcess()) {
        // The next engine starts once this one has exited, whether it ends now or had already
        // ended and its exit is still on its way.
        restartWith_ = chosen;
        requestEnd(EngineState::restarting, actions);
        publish(actions);
        return actions;
    }
    beginPreparation(chosen, actions);
    return actions;
}

EngineActions EngineSupervisor::stop() {
    EngineActions actions;
    ++generation_;
    if (isPreparing()) state_ = EngineState::idle;
    if (hasProcess()) {
        restartWith_.reset();
        requestEnd(EngineState::stopping, actions);
    }
    publish(actions);
    return actions;
}

// SIGTERM now (again, if already asked), and SIGKILL after the grace period, armed once.
void EngineSupervisor::requestEnd(EngineState ending, EngineActions& actions) {
    const bool alreadyEnding = state_ == EngineState::stopping || state_ == EngineState::restarting;
    state_ = ending;
    actions.push_back(action(Kind::terminate));
    if (!alreadyEnding) actions.push_back(action(Kind::startGraceTimer));
}

// ---- preparation -----------------------------------------------------------------------------

void EngineSupervisor::failPreparation(const QString& error, const std::optional<QString>& line,
                                       EngineActions& actions) {
    state_ = EngineState::idle;
    published_.lastError = error;
    if (line) actions.push_back(logLine(*line));
    publish(actions);
}

EngineActions EngineSupervisor::identityLoaded(quint64 generation,
                                               std::optional<IdentityFailure> failure) {
    EngineActions actions;
    if (!isCurrentPreparation(generation, EngineState::preparing)) return actions;
    if (failure) {
        const QString line = QStringLiteral("protected Bridge identity unavailable");
        failPreparation(
            failure->description,
            failure->reason.isEmpty() ? line : line + QStringLiteral(": ") + failure->reason,
            actions);
        return actions;
    }
    // Only then the runtime copy: the two jobs never run together.
    actions.push_back(forGeneration(Kind::prepareRuntime, generation));
    return actions;
}

EngineActions EngineSupervisor::runtimeMissing(quint64 generation) {
    EngineActions actions;
    if (!isCurrentPreparation(generation, EngineState::preparing)) return actions;
    failPreparation(QStringLiteral("Could not prepare the bundled Bridge runtime"), std::nullopt,
                    actions);
    return actions;
}

EngineActions EngineSupervisor::fingerprintFailed(quint64 generation, const QString& description) {
    EngineActions actions;
    if (!isCurrentPreparation(generation, EngineState::preparing)) return actions;
    failPreparation(description, QStringLiteral("protected Bridge identity unavailable"), actions);
    return actions;
}

EngineActions EngineSupervisor::runtimePrepared(quint64 generation, const QString& fingerprint) {
    EngineActions actions;
    if (!isCurrentPreparation(generation, EngineState::preparing)) return actions;
    published_.identityFingerprint = fingerprint;
    const int port = configuration_.normalized().publicPort;
    if (port < 0 || port > 65535) {
        failPreparation(QStringLiteral("Wi-Fi port must be between 1024 and 65534"), std::nullopt,
                        actions);
        return actions;
    }
    state_ = EngineState::probing;
    publish(actions);
    EngineAction probe = forGeneration(Kind::probePort, generation);
    probe.port = port;
    actions.push_back(probe);
    return actions;
}

EngineActions EngineSupervisor::portProbed(quint64 generation, bool served) {
    EngineActions actions;
    if (!isCurrentPreparation(generation, EngineState::probing)) return actions;
    if (served) {
        const int port = configuration_.normalized().publicPort;
        skipLaunch(externalBridgeText(port),
                   QStringLiteral("Managed bridge launch skipped because port %1 is already in use").arg(port),
                   actions);
        return actions;
    }
    // Published by the launch's outcome, so that no observer runs while the host launches.
    state_ = EngineState::launching;
    EngineAction launch{Kind::launch};
    launch.configuration = configuration_.normalized();
    actions.push_back(launch);
    return actions;
}

EngineActions EngineSupervisor::adminPortTaken(quint64 generation, int port, PortHolder holder) {
    EngineActions actions;
    if (!isCurrentPreparation(generation, EngineState::probing)) return actions;
    if (holder == PortHolder::bridge) {
        skipLaunch(externalBridgeText(port),
                   QStringLiteral("Managed bridge launch skipped because port %1 is already in use").arg(port),
                   actions);
        return actions;
    }
    const QString reason = QStringLiteral("port %1 is in use by another program").arg(port);
    skipLaunch(QStringLiteral("The managed bridge cannot start: ") + reason + QLatin1Char('.'),
               QStringLiteral("Managed bridge launch skipped because ") + reason, actions);
    return actions;
}

void EngineSupervisor::skipLaunch(const QString& text, const QString& appLogText, EngineActions& actions) {
    state_ = EngineState::idle;
    published_.lastError = text;
    actions.push_back(logLine(QStringLiteral("launch skipped: ") + text));
    actions.push_back(appLogLine(QtWarningMsg, appLogText));
    publish(actions);
}

// ---- launch ----------------------------------------------------------------------------------

EngineActions EngineSupervisor::interpreterMissing() {
    EngineActions actions;
    if (state_ != EngineState::launching) return actions;
    failPreparation(QStringLiteral("Bundled Python runtime unavailable"), std::nullopt, actions);
    return actions;
}

void EngineSupervisor::reportLaunchFailure(const QString& description, EngineActions& actions) {
    published_.lastError = description;
    actions.push_back(logLine(QStringLiteral("launch failed: ") + description));
    actions.push_back(
        appLogLine(QtCriticalMsg, QStringLiteral("Bridge launch failed: ") + description));
}

EngineActions EngineSupervisor::launchFailed(const QString& description) {
    EngineActions actions;
    if (state_ != EngineState::launching) return actions;
    state_ = EngineState::idle;
    reportLaunchFailure(description, actions);
    publish(actions);
    return actions;
}

EngineActions EngineSupervisor::processCreated() {
    EngineActions actions;
    if (state_ != EngineState::launching) return actions;
    state_ = EngineState::starting;
    publish(actions);
    return actions;
}

// ---- the engine process ----------------------------------------------------------------------

EngineActions EngineSupervisor::processFailedToStart(const QString& description) {
    EngineActions actions;
    if (!hasProcess()) return actions;
    // Never started: no exit follows, and a pending restart is dropped with it.
    state_ = EngineState::idle;
    restartWith_.reset();
    actions.push_back(action(Kind::endCredentials));
    reportLaunchFailure(description, actions);
    actions.push_back(action(Kind::discardProcess));
    publish(actions);
    actions.push_back(action(Kind::processEnded));
    return actions;
}

EngineActions EngineSupervisor::processStarted() {
    // An engine asked to end before it started never gets its identity.
    if (state_ != EngineState::starting) return {};
    return {action(Kind::writeIdentity)};
}

EngineActions EngineSupervisor::identityWritten(qint64 pid) {
    EngineActions actions;
    if (state_ != EngineState::starting) return actions;
    state_ = EngineState::running;
    published_.isRunning = true;
    published_.activeConfiguration = configuration_.normalized();
    published_.lastError.reset();
    const QString pidText = QString::number(pid);
    actions.push_back(logLine(QStringLiteral("started bridge pid=") + pidText));
    actions.push_back(appLogLine(QtInfoMsg, QStringLiteral("Started bridge pid=") + pidText));
    publish(actions);
    return actions;
}

// Nobody reads the engine's standard input any more: an engine that exits on its own before
// reading its identity closes it on its way out. The exit that follows is the engine's own and
// is reported with its status; an engine still there after the departure wait is a failed
// launch, ended like one.
EngineActions EngineSupervisor::identityRefused(const QString& description) {
    EngineActions actions;
    if (state_ != EngineState::starting) return actions;
    // Our end stays open: closing it would end an engine that is still there with a failure
    // of our making.
    state_ = EngineState::leaving;
    refusal_ = description;
    actions.push_back(action(Kind::startDepartureTimer));
    return actions;
}

EngineActions EngineSupervisor::departureWaitExpired() {
    EngineActions actions;
    if (state_ != EngineState::leaving) return actions;
    actions.push_back(action(Kind::endCredentials));
    requestEnd(EngineState::stopping, actions);
    reportLaunchFailure(refusal_, actions);
    publish(actions);
    return actions;
}

// The process runs but never got its identity: it is ended, and its exit (which we asked for)
// does not replace this failure.
EngineActions EngineSupervisor::identityWriteFailed(const QString& description) {
    EngineActions actions;
    if (state_ != EngineState::starting) return actions;
    actions.push_back(action(Kind::endCredentials));
    requestEnd(EngineState::stopping, actions);
    reportLaunchFailure(description, actions);
    publish(actions);
    return actions;
}

EngineActions EngineSupervisor::graceExpired() {
    if (state_ != EngineState::stopping && state_ != EngineState::restarting) return {};
    return {action(Kind::kill)};
}

// Termination handling, once per engine process.
EngineActions EngineSupervisor::processFinished(int status) {
    EngineActions actions;
    if (!hasProcess()) return actions;
    const EngineState ended = state_;
    state_ = EngineState::idle;
    published_.isRunning = false;
    actions.push_back(action(Kind::endCredentials));
    actions.push_back(action(Kind::discardProcess));
    if (ended == EngineState::restarting) {
        // No status message and no log line for the replaced engine's exit.
        beginPreparation(*std::exchange(restartWith_, std::nullopt), actions);
        return actions;
    }
    // An exit we asked for (stop, quit, a failed launch) is no failure of the engine.
    if (status != 0 && ended != EngineState::stopping) {
        published_.lastError = QStringLiteral("Bridge exited with status %1").arg(status);
    }
    actions.push_back(logLine(QStringLiteral("bridge stopped status=%1").arg(status)));
    publish(actions);
    actions.push_back(action(Kind::processEnded));
    return actions;
}

}  // namespace norv
