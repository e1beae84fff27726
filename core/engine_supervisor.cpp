#include "core/engine_supervisor.h"

#include <utility>

namespace norv {
namespace {

QString externalBridgeText(int port) {
    return QStringLiteral("An external bridge already owns port %1. Stop it before starting the managed bridge.")
        .arg(port);
}

}  // namespace

EngineSupervisor::Actions EngineSupervisor::handle(const Event& event) {
    actions_.clear();
    std::visit([this](const auto& e) { on(e); }, event);
    return std::exchange(actions_, {});
}

bool EngineSupervisor::hasProcess() const {
    switch (phase_) {
        case Phase::starting:
        case Phase::leaving:
        case Phase::running:
        case Phase::stopping:
        case Phase::restarting:
            return true;
        default:
            return false;
    }
}

bool EngineSupervisor::isCurrentPreparation(quint64 generation, Phase expected) const {
    return generation == generation_ && phase_ == expected;
}

void EngineSupervisor::publish() {
    published_.isPreparing = isPreparing();
    if (published_ == lastPublished_) return;
    lastPublished_ = published_;
    actions_.push_back(PublishChange{});
}

// ---- commands --------------------------------------------------------------------------------

void EngineSupervisor::on(const Start& event) {
    if (phase_ != Phase::idle) return;  // an engine exists or is on its way
    beginPreparation(event.configuration);
}

void EngineSupervisor::beginPreparation(const BridgeLaunchConfiguration& configuration) {
    phase_ = Phase::preparing;
    configuration_ = configuration;
    ++generation_;
    publish();
    actions_.push_back(LoadIdentity{generation_});
}

void EngineSupervisor::on(const Restart& event) {
    ++generation_;
    if (isPreparing()) phase_ = Phase::idle;  // the preparation's results are dropped
    BridgeLaunchConfiguration chosen = event.requested ? *event.requested
                                       : published_.activeConfiguration
                                           ? *published_.activeConfiguration
                                           : event.stored();
    chosen = chosen.normalized();
    if (hasProcess()) {
        // The next engine starts once this one has exited, whether it ends now or had already
        // ended and its exit is still on its way.
        restartWith_ = chosen;
        requestEnd(Phase::restarting);
        publish();
        return;
    }
    beginPreparation(chosen);
}

void EngineSupervisor::on(const Stop&) {
    ++generation_;
    if (isPreparing()) phase_ = Phase::idle;
    if (hasProcess()) {
        restartWith_.reset();
        requestEnd(Phase::stopping);
    }
    publish();
}

// SIGTERM now (again, if already asked), and SIGKILL after the grace period, armed once.
void EngineSupervisor::requestEnd(Phase ending) {
    const bool alreadyEnding = phase_ == Phase::stopping || phase_ == Phase::restarting;
    phase_ = ending;
    actions_.push_back(Terminate{});
    if (!alreadyEnding) actions_.push_back(StartGraceTimer{});
}

// ---- preparation -----------------------------------------------------------------------------

void EngineSupervisor::failPreparation(const QString& error, const std::optional<QString>& line) {
    phase_ = Phase::idle;
    published_.lastError = error;
    if (line) actions_.push_back(Log{*line});
    publish();
}

void EngineSupervisor::on(const IdentityLoaded& event) {
    if (!isCurrentPreparation(event.generation, Phase::preparing)) return;
    if (const auto& failure = event.failure) {
        const QString line = QStringLiteral("protected Bridge identity unavailable");
        failPreparation(failure->description,
                        failure->reason.isEmpty() ? line : line + QStringLiteral(": ") + failure->reason);
        return;
    }
    // Only then the runtime copy: the two jobs never run together.
    actions_.push_back(PrepareRuntime{event.generation});
}

void EngineSupervisor::on(const RuntimeMissing& event) {
    if (!isCurrentPreparation(event.generation, Phase::preparing)) return;
    failPreparation(QStringLiteral("Could not prepare the bundled Bridge runtime"), std::nullopt);
}

void EngineSupervisor::on(const FingerprintFailed& event) {
    if (!isCurrentPreparation(event.generation, Phase::preparing)) return;
    failPreparation(event.description, QStringLiteral("protected Bridge identity unavailable"));
}

void EngineSupervisor::on(const RuntimePrepared& event) {
    if (!isCurrentPreparation(event.generation, Phase::preparing)) return;
    published_.identityFingerprint = event.fingerprint;
    const int port = configuration_.normalized().publicPort;
    if (port < 0 || port > 65535) {
        failPreparation(QStringLiteral("Wi-Fi port must be between 1024 and 65534"), std::nullopt);
        return;
    }
    phase_ = Phase::probing;
    publish();
    actions_.push_back(ProbePort{event.generation, port});
}

void EngineSupervisor::on(const PortProbed& event) {
    if (!isCurrentPreparation(event.generation, Phase::probing)) return;
    if (event.served) {
        const int port = configuration_.normalized().publicPort;
        skipLaunch(externalBridgeText(port),
                   QStringLiteral("Managed bridge launch skipped because port %1 is already in use").arg(port));
        return;
    }
    // Published by the launch's outcome, so that no observer runs while the host launches.
    phase_ = Phase::launching;
    actions_.push_back(Launch{configuration_.normalized()});
}

void EngineSupervisor::on(const AdminPortTaken& event) {
    if (!isCurrentPreparation(event.generation, Phase::probing)) return;
    if (event.holder == PortHolder::bridge) {
        skipLaunch(externalBridgeText(event.port),
                   QStringLiteral("Managed bridge launch skipped because port %1 is already in use").arg(event.port));
        return;
    }
    const QString reason = QStringLiteral("port %1 is in use by another program").arg(event.port);
    skipLaunch(QStringLiteral("The managed bridge cannot start: ") + reason + QLatin1Char('.'),
               QStringLiteral("Managed bridge launch skipped because ") + reason);
}

void EngineSupervisor::skipLaunch(const QString& text, const QString& appLogText) {
    phase_ = Phase::idle;
    published_.lastError = text;
    actions_.push_back(Log{QStringLiteral("launch skipped: ") + text});
    actions_.push_back(AppLog{QtWarningMsg, appLogText});
    publish();
}

// ---- launch ----------------------------------------------------------------------------------

void EngineSupervisor::on(const InterpreterMissing&) {
    if (phase_ != Phase::launching) return;
    failPreparation(QStringLiteral("Bundled Python runtime unavailable"), std::nullopt);
}

void EngineSupervisor::reportLaunchFailure(const QString& description) {
    published_.lastError = description;
    actions_.push_back(Log{QStringLiteral("launch failed: ") + description});
    actions_.push_back(AppLog{QtCriticalMsg, QStringLiteral("Bridge launch failed: ") + description});
}

void EngineSupervisor::on(const LaunchFailed& event) {
    if (phase_ != Phase::launching) return;
    phase_ = Phase::idle;
    reportLaunchFailure(event.description);
    publish();
}

void EngineSupervisor::on(const ProcessCreated&) {
    if (phase_ != Phase::launching) return;
    phase_ = Phase::starting;
    publish();
}

// ---- the engine process ----------------------------------------------------------------------

void EngineSupervisor::on(const ProcessFailedToStart& event) {
    if (!hasProcess()) return;
    // Never started: no exit follows, and a pending restart is dropped with it.
    phase_ = Phase::idle;
    restartWith_.reset();
    actions_.push_back(EndCredentials{});
    reportLaunchFailure(event.description);
    actions_.push_back(DiscardProcess{});
    publish();
    actions_.push_back(ProcessEnded{});
}

void EngineSupervisor::on(const ProcessStarted&) {
    // An engine asked to end before it started never gets its identity.
    if (phase_ == Phase::starting) actions_.push_back(WriteIdentity{});
}

void EngineSupervisor::on(const IdentityWritten& event) {
    if (phase_ != Phase::starting) return;
    phase_ = Phase::running;
    published_.isRunning = true;
    published_.activeConfiguration = configuration_.normalized();
    published_.lastError.reset();
    const QString pidText = QString::number(event.pid);
    actions_.push_back(Log{QStringLiteral("started bridge pid=") + pidText});
    actions_.push_back(AppLog{QtInfoMsg, QStringLiteral("Started bridge pid=") + pidText});
    publish();
}

// Nobody reads the engine's standard input any more: an engine that exits on its own before
// reading its identity closes it on its way out. The exit that follows is the engine's own and
// is reported with its status; an engine still there after the departure wait is a failed
// launch, ended like one.
void EngineSupervisor::on(const IdentityRefused& event) {
    if (phase_ != Phase::starting) return;
    // Our end stays open: closing it would end an engine that is still there with a failure
    // of our making.
    phase_ = Phase::leaving;
    refusal_ = event.description;
    actions_.push_back(StartDepartureTimer{});
}

void EngineSupervisor::on(const DepartureWaitExpired&) {
    if (phase_ != Phase::leaving) return;
    actions_.push_back(EndCredentials{});
    requestEnd(Phase::stopping);
    reportLaunchFailure(refusal_);
    publish();
}

// The process runs but never got its identity: it is ended, and its exit (which we asked for)
// does not replace this failure.
void EngineSupervisor::on(const IdentityWriteFailed& event) {
    if (phase_ != Phase::starting) return;
    actions_.push_back(EndCredentials{});
    requestEnd(Phase::stopping);
    reportLaunchFailure(event.description);
    publish();
}

void EngineSupervisor::on(const GraceExpired&) {
    if (phase_ == Phase::stopping || phase_ == Phase::restarting) actions_.push_back(Kill{});
}

// Termination handling, once per engine process.
void EngineSupervisor::on(const ProcessFinished& event) {
    if (!hasProcess()) return;
    const Phase ended = phase_;
    phase_ = Phase::idle;
    published_.isRunning = false;
    actions_.push_back(EndCredentials{});
    actions_.push_back(DiscardProcess{});
    if (ended == Phase::restarting) {
        // No status message and no log line for the replaced engine's exit.
        beginPreparation(*std::exchange(restartWith_, std::nullopt));
        return;
    }
    // An exit we asked for (stop, quit, a failed launch) is no failure of the engine.
    if (event.status != 0 && ended != Phase::stopping) {
        published_.lastError = QStringLiteral("Bridge exited with status %1").arg(event.status);
    }
    actions_.push_back(Log{QStringLiteral("bridge stopped status=%1").arg(event.status)});
    publish();
    actions_.push_back(ProcessEnded{});
}

}  // namespace norv
