#include "ui/diagnostics/diagnostics_view_model.h"

#include <QLocale>

namespace norv {

namespace {

const QString kWarning = QStringLiteral(" WARNING ");
const QString kError = QStringLiteral(" ERROR ");

}  // namespace

const std::array<QString, 3>& DiagnosticsViewModel::levels() {
    static const std::array<QString, 3> names{QStringLiteral("All levels"), QStringLiteral("Warnings & errors"),
                                              QStringLiteral("Errors")};
    return names;
}

QStringList DiagnosticsViewModel::rows(const QStringList& lines, const QString& search, const QString& level) {
    const bool allLevels = level == levels()[0];
    const bool warnings = level == levels()[1];
    QStringList result;
    for (const QString& line : lines) {
        if (!search.isEmpty() && !line.contains(search, Qt::CaseInsensitive)) continue;
        if (!allLevels) {
            const bool error = line.contains(kError);
            if (!(error || (warnings && line.contains(kWarning)))) continue;
        }
        result.append(line);
    }
    return result;
}

LogLineTone DiagnosticsViewModel::tone(const QString& line) {
    if (line.contains(kError)) return LogLineTone::red;
    if (line.contains(kWarning)) return LogLineTone::yellow;
    return LogLineTone::primary;
}

QString DiagnosticsViewModel::countText(qsizetype rowCount, bool paused) {
    if (paused) return QStringLiteral("View paused");
    return QString::number(rowCount) + (rowCount == 1 ? QStringLiteral(" entry") : QStringLiteral(" entries"));
}

QString DiagnosticsViewModel::emptyStateTitle(const QString& search) {
    return search.isEmpty() ? QStringLiteral("No matching events") : QStringLiteral("No search results");
}

qint64 DiagnosticsViewModel::detailSeconds(const std::optional<DiagnosticStatus>& diagnostics) {
    return diagnostics ? diagnostics->detailedSecondsRemaining.value_or(0) : 0;
}

QString DiagnosticsViewModel::captureButtonTitle(qint64 detailSeconds) {
    return detailSeconds > 0 ? QStringLiteral("Stop detailed capture")
                             : QString::fromUtf8("Detailed capture · 10 min");
}

QString DiagnosticsViewModel::captureStatusText(qint64 detailSeconds) {
    if (detailSeconds <= 0) return QStringLiteral("Standard logging");
    return QString::number(detailSeconds / 60) + QLatin1Char(':') +
           QString::number(detailSeconds % 60).rightJustified(2, QLatin1Char('0')) + QStringLiteral(" remaining");
}

QString DiagnosticsViewModel::footerText(const QString& exportResult) {
    return exportResult.isEmpty() ? QStringLiteral("Export: versions, status and redacted logs") : exportResult;
}

std::optional<QString> DiagnosticsViewModel::droppedText(const std::optional<DiagnosticStatus>& diagnostics) {
    if (!diagnostics || !diagnostics->queueDropped || *diagnostics->queueDropped < 1) return std::nullopt;
    return QString::number(*diagnostics->queueDropped) + QStringLiteral(" log entries dropped");
}

bool DiagnosticsViewModel::storageUnavailable(const std::optional<DiagnosticStatus>& diagnostics) {
    return diagnostics && diagnostics->writeErrors && *diagnostics->writeErrors >= 1;
}

QString DiagnosticsViewModel::exportButtonTitle(bool exporting) {
    return exporting ? QString::fromUtf8("Exporting…") : QString::fromUtf8("Export diagnostics…");
}

QString DiagnosticsViewModel::exportFileName(const QDateTime& now) {
    QString stamp = QLocale::c().toString(now.toUTC(), QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
    stamp.replace(QLatin1Char(':'), QLatin1Char('-'));
    return QStringLiteral("Norv-diagnostics-") + stamp + QStringLiteral(".zip");
}

}  // namespace norv
