#include "live/remote_script_process.h"

#include <QCoreApplication>
#include <QProcess>

namespace norv {

RemoteScriptProcess::RemoteScriptProcess(Timing timing, QObject* parent)
    : QObject(parent), timing_(timing), process_(new QProcess(this)) {
    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::PreciseTimer);
    grace_.setSingleShot(true);
    grace_.setTimerType(Qt::PreciseTimer);
    connect(&deadline_, &QTimer::timeout, this, &RemoteScriptProcess::onDeadline);
    connect(&grace_, &QTimer::timeout, this, &RemoteScriptProcess::onGraceOver);
    connect(process_, &QProcess::readyReadStandardOutput, this, &RemoteScriptProcess::drain);
    connect(process_, &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus status) {
        onFinished(exitCode, status == QProcess::CrashExit);
    });
    connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        Result result;
        result.kind = Result::Kind::FailedToStart;
        result.startError = process_->errorString();
        finish(std::move(result));
    });
}

RemoteScriptProcess::~RemoteScriptProcess() {
    process_->disconnect(this);
    if (process_->state() != QProcess::NotRunning) {
        // Only when the application object goes away with a run still going (runs delete
        // themselves once their child is gone): SIGKILL cannot be ignored, reaping is quick.
        process_->kill();
        process_->waitForFinished(1000);
    }
}

void RemoteScriptProcess::start(const QString& program, const QStringList& arguments,
                                const QProcessEnvironment& environment, Completion done) {
    done_ = std::move(done);
    process_->setProgram(program);
    process_->setArguments(arguments);
    process_->setProcessEnvironment(environment);
    process_->setStandardInputFile(QProcess::nullDevice());
    process_->setStandardErrorFile(QProcess::nullDevice());
    process_->setReadChannel(QProcess::StandardOutput);
    deadline_.start(timing_.limit);
    process_->start(QIODevice::ReadOnly);
}

void RemoteScriptProcess::abandon() {
    done_ = nullptr;
    if (process_->state() != QProcess::NotRunning)
        setParent(QCoreApplication::instance());
}

void RemoteScriptProcess::drain() {
    const QByteArray chunk = process_->readAllStandardOutput();
    const qsizetype room = outputLimit - output_.size();
    if (chunk.size() > room) {
        output_.append(chunk.left(room));
        overflowed_ = true;
    } else {
        output_.append(chunk);
    }
}

void RemoteScriptProcess::onDeadline() {
    timedOut_ = true;
    process_->terminate();
    grace_.start(timing_.terminateGrace);
}

void RemoteScriptProcess::onGraceOver() {
    if (!killed_) {
        killed_ = true;
        process_->kill();
        // One more grace period for the kernel to end it; after that the run reports regardless
        // and this object stays until the child is reaped.
        grace_.start(timing_.terminateGrace);
        return;
    }
    Result result;
    result.kind = Result::Kind::TimedOut;
    finish(std::move(result));
}

void RemoteScriptProcess::onFinished(int exitCode, bool crashed) {
    if (reported_) {
        deleteLater();
        return;
    }
    drain();
    Result result;
    if (timedOut_) {
        result.kind = Result::Kind::TimedOut;
    } else {
        result.exitCode = crashed ? -1 : exitCode;
        result.output = std::move(output_);
        result.overflowed = overflowed_;
    }
    finish(std::move(result));
}

void RemoteScriptProcess::finish(Result result) {
    deadline_.stop();
    grace_.stop();
    reported_ = true;
    if (process_->state() == QProcess::NotRunning)
        deleteLater();
    Completion done = std::move(done_);
    done_ = nullptr;
    if (done)
        done(result);
}

}  // namespace norv
