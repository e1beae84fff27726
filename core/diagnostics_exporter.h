#pragma once

#include "core/diagnostics_export_error.h"

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

namespace norv {

// Runs the shipped engine script in export mode to write a diagnostics archive: in place from
// the shipped runtime, with the allow-listed environment plus NORV_ADMIN_TOKEN_PRESENT and
// NORV_ADMIN_CERTIFICATE_PRESENT ("1") for the running engine's credentials that exist; the
// credentials themselves never reach it. Each export is one process of this object, bounded by a time-out.
class DiagnosticsExporter : public QObject {
    Q_OBJECT

public:
    using Completion = std::function<void(std::optional<DiagnosticsExportError>)>;

    // `terminationGrace`: how long an exporter ended on time-out may take before SIGKILL.
    DiagnosticsExporter(std::chrono::milliseconds timeout,
                        std::chrono::milliseconds terminationGrace, QObject* parent = nullptr);
    // Exports still running are killed; their completions never run.
    ~DiagnosticsExporter() override;

    // Writes the archive to `destination` with the runtime shipped in `resourceFolder`.
    // `completion` runs later on this object's thread, once, with nothing on success or the error.
    void run(const QString& resourceFolder, const QString& destination, Completion completion);

private:
    std::chrono::milliseconds timeout_;
    std::chrono::milliseconds terminationGrace_;
};

}  // namespace norv
