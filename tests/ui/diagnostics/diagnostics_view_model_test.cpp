#include "ui/diagnostics/diagnostics_view_model.h"
#include "ui/live_page/live_page_texts.h"

#include <gtest/gtest.h>

namespace norv {
namespace {

using Live = LivePageTexts;
using Diag = DiagnosticsViewModel;

LiveInstallation installation(const QString& version) {
    return LiveInstallation{QStringLiteral("/opt/Ableton Live 12 Suite.app"), QStringLiteral("Ableton Live 12 Suite"),
                            version, std::nullopt};
}

ScriptDiskState disk(bool exists, bool current) { return ScriptDiskState{"2.4.1", "b512", exists, current}; }

TEST(LivePageTexts, StatusPanelStartsCheckingUntilTheChannelIsUp) {
    EXPECT_EQ(Live::initialState(), (ScriptRuntimeState{QString::fromUtf8("Checking…"), QString(), false}));
    EXPECT_FALSE(Live::connected(AdminConnectionState::connecting()));
}

TEST(LivePageTexts, InstallationAndLibraryRows) {
    EXPECT_EQ(Live::pickerEntries({}), (std::vector<Live::PickerEntry>{{QStringLiteral("No Live detected"), {}}}));
    const auto entries = Live::pickerEntries({installation(QStringLiteral("12.1.5"))});
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].label, QString::fromUtf8("Ableton Live 12 Suite · 12.1.5"));
    EXPECT_EQ(entries[0].tag, "/opt/Ableton Live 12 Suite.app");

    EXPECT_FALSE(Live::openLiveEnabled(std::nullopt));
    EXPECT_FALSE(Live::libraryRowEnabled(std::nullopt));
    EXPECT_EQ(Live::libraryText(std::nullopt), "User Library not selected");
    EXPECT_EQ(Live::scriptFolder(QStringLiteral("/home/m/User Library")),
              QStringLiteral("/home/m/User Library/Remote Scripts/NorvSession"));
    EXPECT_FALSE(Live::scriptFolder(std::nullopt).has_value());
}

TEST(LivePageTexts, RemoteScriptPanelTextsAndInstallRule) {
    const std::optional<QString> library = QStringLiteral("/lib");
    const std::optional<LiveInstallation> live12 = installation(QStringLiteral("12.1.5"));
    const std::optional<LiveInstallation> live11 = installation(QStringLiteral("11.3.2"));

    // No check result yet.
    EXPECT_EQ(Live::bundledText(std::nullopt), "Unavailable");
    EXPECT_EQ(Live::installedText(std::nullopt), "Not installed");
    EXPECT_EQ(Live::installButtonTitle(std::nullopt), "Install Remote Script");
    EXPECT_FALSE(Live::installEnabled(false, std::nullopt, library, live12));
    EXPECT_FALSE(Live::openScriptFolderEnabled(std::nullopt));

    // Files present but not current.
    EXPECT_EQ(Live::bundledText(disk(true, false)), "NorvSession 2.4.1");
    EXPECT_EQ(Live::installedText(disk(true, false)), "Update or repair available");
    EXPECT_EQ(Live::installButtonTitle(disk(true, false)), "Update Remote Script");
    EXPECT_TRUE(Live::installEnabled(false, disk(true, false), library, live12));
    EXPECT_FALSE(Live::installEnabled(true, disk(true, false), library, live12));
    EXPECT_FALSE(Live::installEnabled(false, disk(true, false), std::nullopt, live12));
    EXPECT_FALSE(Live::installEnabled(false, disk(true, false), library, std::nullopt));
    EXPECT_TRUE(Live::openScriptFolderEnabled(disk(true, false)));

    // Current files: always disabled.
    EXPECT_EQ(Live::installedText(disk(true, true)), "Files verified");
    EXPECT_EQ(Live::installButtonTitle(disk(true, true)), "Up to date");
    EXPECT_FALSE(Live::installEnabled(false, disk(true, true), library, live12));

    // Live 11 is not supported.
    EXPECT_EQ(Live::installButtonTitle(disk(false, false)), "Install Remote Script");
    EXPECT_FALSE(Live::installEnabled(false, disk(false, false), library, live11));
    EXPECT_TRUE(Live::installEnabled(false, disk(false, false), library, live12));
    EXPECT_FALSE(Live::verifyEnabled(true));
}

TEST(LivePageTexts, MidiPanel) {
    EXPECT_EQ(Live::routeStatusText(std::nullopt), "Unavailable");
    EXPECT_EQ(Live::routeStatusText(std::string("waiting_for_LIVE_port")), "Waiting For Live Port");
    EXPECT_EQ(Live::routeStatusText(std::string("ready")), "Ready");
    EXPECT_TRUE(Live::reconnectEnabled(true, true));
    EXPECT_FALSE(Live::reconnectEnabled(true, false));
    EXPECT_FALSE(Live::reconnectEnabled(false, true));
}

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
