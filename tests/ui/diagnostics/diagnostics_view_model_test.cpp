#include "ui/diagnostics/diagnostics_view_model.h"

#include <gtest/gtest.h>

namespace norv {
namespace {

using Diag = DiagnosticsViewModel;

const QStringList kLines = {
    QStringLiteral("2026-10-03T17:30:00Z INFO [engine] Bridge started"),
    QStringLiteral("2026-10-03T17:30:01Z WARNING [engine] Port busy"),
    QStringLiteral("2026-10-03T17:30:02Z ERROR [desktop] Export failed"),
    QStringLiteral("2026-10-03T17:30:03Z INFO [engine] an error was ignored"),
    QStringLiteral("2026-10-03T17:30:04Z INFO [engine] ERRORS counted"),
    QStringLiteral("2026-10-03T17:30:05Z WARNING [engine] ERROR nested"),
};

TEST(DiagnosticsViewModel, SearchAndLevelFilters) {
    const auto& levels = Diag::levels();
    EXPECT_EQ(Diag::rows(kLines, {}, levels[0]), kLines);
    EXPECT_EQ(Diag::rows(kLines, QStringLiteral("error"), levels[0]),
              (QStringList{kLines[2], kLines[3], kLines[4], kLines[5]}));
    EXPECT_EQ(Diag::rows(kLines, {}, levels[2]), (QStringList{kLines[2], kLines[5]}));
    EXPECT_EQ(Diag::rows(kLines, {}, levels[1]), (QStringList{kLines[1], kLines[2], kLines[5]}));
    EXPECT_EQ(Diag::rows(kLines, QStringLiteral("BUSY"), levels[1]), (QStringList{kLines[1]}));

    EXPECT_EQ(Diag::tone(kLines[5]), LogLineTone::red);  // both words: red wins
    EXPECT_EQ(Diag::tone(kLines[1]), LogLineTone::yellow);
    EXPECT_EQ(Diag::tone(kLines[4]), LogLineTone::primary);
}

TEST(DiagnosticsViewModel, CountsAndEmptyState) {
    EXPECT_EQ(Diag::countText(0, false), "0 entries");
    EXPECT_EQ(Diag::countText(1, false), "1 entry");
    EXPECT_EQ(Diag::countText(2, false), "2 entries");
    EXPECT_EQ(Diag::countText(2, true), "View paused");
    EXPECT_EQ(Diag::emptyStateTitle({}), "No matching events");
    EXPECT_EQ(Diag::emptyStateTitle(QStringLiteral("x")), "No search results");
}

TEST(DiagnosticsViewModel, CaptureTextsAndFooter) {
    EXPECT_EQ(Diag::detailSeconds(std::nullopt), 0);
    EXPECT_EQ(Diag::captureButtonTitle(0), QString::fromUtf8("Detailed capture · 10 min"));
    EXPECT_TRUE(Diag::captureStartArgument(0));
    EXPECT_EQ(Diag::captureStatusText(0), "Standard logging");

    DiagnosticStatus status;
    status.detailedSecondsRemaining = 5;
    EXPECT_EQ(Diag::detailSeconds(status), 5);
    EXPECT_EQ(Diag::captureButtonTitle(5), "Stop detailed capture");
    EXPECT_FALSE(Diag::captureStartArgument(5));
    EXPECT_EQ(Diag::captureStatusText(5), "0:05 remaining");
    EXPECT_EQ(Diag::captureStatusText(59), "0:59 remaining");
    EXPECT_EQ(Diag::captureStatusText(61), "1:01 remaining");
    EXPECT_EQ(Diag::captureStatusText(600), "10:00 remaining");

    EXPECT_EQ(Diag::droppedText(status), std::nullopt);
    status.queueDropped = 0;
    EXPECT_EQ(Diag::droppedText(status), std::nullopt);
    status.queueDropped = 12;
    EXPECT_EQ(Diag::droppedText(status), QStringLiteral("12 log entries dropped"));
    EXPECT_FALSE(Diag::storageUnavailable(status));
    status.writeErrors = 1;
    EXPECT_TRUE(Diag::storageUnavailable(status));

    EXPECT_EQ(Diag::footerText({}), "Export: versions, status and redacted logs");
    EXPECT_EQ(Diag::footerText(QStringLiteral("Diagnostics exported")), "Diagnostics exported");
}

TEST(DiagnosticsViewModel, ExportName) {
    const QDateTime moment(QDate(2027, 3, 1), QTime(9, 5, 7), Qt::UTC);
    EXPECT_EQ(Diag::exportFileName(moment), "Norv-diagnostics-2027-03-01T09-05-07Z.zip");
    EXPECT_EQ(Diag::exportFileName(moment.toOffsetFromUtc(3600)), "Norv-diagnostics-2027-03-01T09-05-07Z.zip");
    EXPECT_EQ(Diag::exportButtonTitle(true), QString::fromUtf8("Exporting…"));
}

}  // namespace
}  // namespace norv

#include "ui/diagnostics/diagnostics_log_view.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QLabel>
#include <QListView>

namespace norv {
namespace {

TEST(DiagnosticsLogView, ColoursLinesAndShowsTheRightEmptyState) {
    DiagnosticsLogView view;
    view.setRows({}, {});
    EXPECT_TRUE(view.showingEmptyState());
    EXPECT_EQ(view.emptyState()->titleLabel()->text(), "No matching events");
    view.setRows({}, QStringLiteral("nothing"));
    EXPECT_EQ(view.emptyState()->titleLabel()->text(), "No search results");

    view.setRows(kLines, {});
    EXPECT_FALSE(view.showingEmptyState());
    const QAbstractItemModel* model = view.list()->model();
    ASSERT_EQ(model->rowCount(), kLines.size());
    EXPECT_EQ(model->index(5, 0).data(Qt::ForegroundRole).value<QColor>(), NorvTheme::red());
    EXPECT_EQ(model->index(1, 0).data(Qt::ForegroundRole).value<QColor>(), NorvTheme::yellow());
    EXPECT_EQ(model->index(0, 0).data(Qt::ForegroundRole).value<QColor>(), NorvTheme::primary());
}

}  // namespace
}  // namespace norv
