#include "core/diagnostics_exporter.h"

#include "core/admin_capability.h"
#include "core/bridge_runtime_files.h"
#include "core/process_hardening.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>

namespace norv {
namespace {

QStringList exporterArguments(const QString& root, const QString& destination) {
    QString version = QCoreApplication::applicationVersion();
    if (version.isEmpty()) version = QStringLiteral("development");
    return {QStringLiteral("-I"),
            QStringLiteral("-B"),
            QStringLiteral("-u"),
            root + QStringLiteral("/tools/run_bridge.py"),
            QStringLiteral("--export-diagnostics"),
            destination,
            QStringLiteral("--desktop-version"),
            version};
}

// The exporter records only whether the running engine's credentials exist, so it is told that
// and never given the credentials themselves.
QProcessEnvironment exporterEnvironment() {
    QProcessEnvironment environment =
        BridgeRuntimeFiles::environment(QProcessEnvironment::systemEnvironment());
    if (const auto identity = AdminCapability::current()) {
        environment.insert(QStringLiteral("NORV_ADMIN_TOKEN_PRESENT"), QStringLiteral("1"));
        if (identity->certificatePEM)
            environment.insert(QStringLiteral("NORV_ADMIN_CERTIFICATE_PRESENT"), QStringLiteral("1"));
    }
    return environment;
}

}  // namespace

DiagnosticsExporter::DiagnosticsExporter(std::chrono::milliseconds timeout,
                                         std::chrono::milliseconds terminationGrace,
                                         QObject* parent)
    : QObject(parent), timeout_(timeout), terminationGrace_(terminationGrace) {}

DiagnosticsExporter::~DiagnosticsExporter() {
    // Our processes die with us (QProcess kills and reaps them); none may call back first.
    for (QProcess* process : findChildren<QProcess*>(Qt::FindDirectChildrenOnly))
        process->disconnect(this);
}

void DiagnosticsExporter::run(const QString& resourceFolder, const QString& destination,
                              Completion completion) {
    const auto fail = [this, &completion](int code, const QString& message) {
        QMetaObject::invokeMethod(
            this,
            [completion, code, message] {
                completion(DiagnosticsExportError{code, message});
            },
            Qt::QueuedConnection);
    };
    const std::optional<QString> root = BridgeRuntimeFiles::shippedRoot(resourceFolder);
    if (!root) return fail(1, QStringLiteral("Bundled diagnostic exporter unavailable"));
    const std::optional<QString> interpreter = BridgeRuntimeFiles::interpreter(*root);
    if (!interpreter) return fail(1, QStringLiteral("Bundled Python runtime unavailable"));

    auto* process = new QProcess(this);
    process->setProgram(*interpreter);
    process->setArguments(exporterArguments(*root, destination));
    process->setProcessEnvironment(exporterEnvironment());
    process->setInputChannelMode(QProcess::ForwardedInputChannel);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    ProcessHardening::guardChild(*process);

    // One outcome per export: the first of exit, failure to start and time-out.
    auto pending = std::make_shared<Completion>(std::move(completion));
    const auto finish = [pending](std::optional<DiagnosticsExportError> outcome) {
        if (!*pending) return;
        std::exchange(*pending, nullptr)(std::move(outcome));
    };
    auto* deadline = new QTimer(process);
    deadline->setSingleShot(true);
    deadline->setTimerType(Qt::PreciseTimer);  // the default kind may fire up to 5 % early
    connect(deadline, &QTimer::timeout, this, [this, process, finish] {
        if (process->state() == QProcess::NotRunning) return;
        // The exporter is ended without waiting; it is deleted once it has exited.
        process->terminate();
        QTimer::singleShot(terminationGrace_, Qt::PreciseTimer, process, [process] {
            if (process->state() != QProcess::NotRunning) process->kill();
        });
        finish(
            DiagnosticsExportError{2, QStringLiteral("Diagnostic export timed out. Try again.")});
    });
    connect(process, &QProcess::finished, this, [process, deadline, finish] {
        deadline->stop();
        process->deleteLater();
        // QProcess reports the signal number as the exit code of a crashed process.
        const int status = process->exitCode();
        if (status == 0) return finish(std::nullopt);
        finish(DiagnosticsExportError{
            status, QStringLiteral("Could not export diagnostics. Check the destination folder.")});
    });
    connect(process, &QProcess::errorOccurred, this,
            [process, finish](QProcess::ProcessError error) {
                if (error != QProcess::FailedToStart) return;
                process->deleteLater();
                finish(DiagnosticsExportError{1, process->errorString()});
            });
    process->start();
    deadline->start(timeout_);
}

}  // namespace norv
