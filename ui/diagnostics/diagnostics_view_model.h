#pragma once
// The Diagnostics page's filters, counts and texts, as functions of the log lines, the view
// state and the engine's diagnostic record.

#include "model/diagnostic_status.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace norv {

// How one log line is coloured.
enum class LogLineTone { primary, yellow, red };

class DiagnosticsViewModel {
public:
    static const std::array<QString, 3>& levels();  // "All levels", "Warnings & errors", "Errors"

    // The lines that contain `search` (ignoring case; empty passes all) and pass `level`.
    static QStringList rows(const QStringList& lines, const QString& search, const QString& level);
    static LogLineTone tone(const QString& line);

    static QString countText(qsizetype rowCount, bool paused);       // "2 entries", "View paused"
    static QString emptyStateTitle(const QString& search);           // "No matching events" / ...
    static QString pauseButtonTitle(bool paused) { return paused ? QStringLiteral("Resume") : QStringLiteral("Pause"); }

    // Detailed capture: the remaining seconds (0 without a record), the button, what it sends and
    // the status text.
    static qint64 detailSeconds(const std::optional<DiagnosticStatus>& diagnostics);
    static QString captureButtonTitle(qint64 detailSeconds);
    static bool captureStartArgument(qint64 detailSeconds) { return detailSeconds <= 0; }
    static QString captureStatusText(qint64 detailSeconds);  // "1:01 remaining", "Standard logging"

    // Footer.
    static QString footerText(const QString& exportResult);
    static std::optional<QString> droppedText(const std::optional<DiagnosticStatus>& diagnostics);
    static bool storageUnavailable(const std::optional<DiagnosticStatus>& diagnostics);

    // Export.
    static QString exportButtonTitle(bool exporting);
    static QString exportFileName(const QDateTime& now);  // "Norv-diagnostics-2026-12-08T08-35-18Z.zip"
    static QString fingerprintText(const QString& fingerprint) {
        return QStringLiteral("Bridge SHA-256  ") + fingerprint;
    }
};

}  // namespace norv
