#include "core/dialog_service.h"
#include "tests/support/model/snapshot_fixtures.h"
#include "tests/support/ui/page_harness.h"
#include "tests/support/ui/window_test.h"
#include "ui/diagnostics/diagnostics_page.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QScrollArea>
#include <QToolButton>
#include <QListView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include "ui/diagnostics/diagnostics_log_view.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace norv {
namespace {

struct SaveDialogs : DialogService {
    std::optional<QString> savePath;
    QString proposed;
    QString suffix;
    QString directory;
    bool confirm(const ConfirmationRequest&) override { return false; }
    void alert(const QString&, const QString&) override {}
    std::optional<QString> choosePathToOpen(const FilePanelRequest&) override { return std::nullopt; }
    std::optional<QString> choosePathToSave(const FilePanelRequest& request) override {
        proposed = request.proposedName;
        suffix = request.defaultSuffix;
        directory = request.directory;
        return savePath;
    }
};

struct Host {
    int refreshes = 0;
    std::vector<bool> captures;
    std::function<void(std::optional<QString>)> pendingExport;

    DiagnosticsPage::Actions actions(DialogService& dialogs) {
        DiagnosticsPage::Actions a;
        a.dialogs = &dialogs;
        a.refreshLogs = [this] { ++refreshes; };
        a.setDetailedCapture = [this](bool start) { captures.push_back(start); };
        a.exportDiagnostics = [this](const QString&, std::function<void(std::optional<QString>)> done) {
            pendingExport = std::move(done);
        };
        a.now = [] { return QDateTime(QDate(2027, 3, 1), QTime(9, 5, 7), Qt::UTC); };
        return a;
    }
};

DiagnosticsPage::State pageState(QStringList lines, std::optional<QString> fingerprint,
                                 std::optional<DiagnosticStatus> diagnostics, bool canChange) {
    DiagnosticsPage::State state;
    state.snapshot.diagnostics = std::move(diagnostics);
    state.logLines = std::move(lines);
    state.fingerprint = std::move(fingerprint);
    state.canChange = canChange;
    return state;
}

const QStringList kLines = {QStringLiteral("2026-10-03T17:30:00Z INFO [engine] Bridge started"),
                            QStringLiteral("2026-10-03T17:30:02Z ERROR [desktop] Export failed")};

TEST(DiagnosticsPage, PauseCaptureAndCounts) {
    Host host;
    SaveDialogs dialogs;
    DiagnosticsPage page(host.actions(dialogs));
    page.setRefreshInterval(std::chrono::milliseconds(10));
    page.start();
    EXPECT_EQ(host.refreshes, 1);
    page.setState(pageState(kLines, QStringLiteral("ab12"), std::nullopt, false));
    EXPECT_EQ(page.countLabel()->text(), "2 entries");
    EXPECT_FALSE(page.captureButton()->isEnabled());
    EXPECT_EQ(page.captureStatus()->text(), "Standard logging");

    page.levelPicker()->setCurrentIndex(2);  // "Errors"
    EXPECT_EQ(page.countLabel()->text(), "1 entry");

    page.pauseButton()->click();
    EXPECT_EQ(page.countLabel()->text(), "View paused");
    EXPECT_EQ(page.pauseButton()->text(), "Resume");
    const int before = host.refreshes;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 60) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(host.refreshes, before);  // ticks do nothing while paused
    page.pauseButton()->click();
    EXPECT_EQ(host.refreshes, before + 1);  // resuming refreshes at once

    DiagnosticStatus status;
    status.detailedSecondsRemaining = 61;
    status.queueDropped = 12;
    page.setState(pageState(kLines, std::nullopt, status, true));
    EXPECT_EQ(page.captureButton()->text(), "Stop detailed capture");
    EXPECT_EQ(page.captureStatus()->text(), "1:01 remaining");
    page.captureButton()->click();
    EXPECT_EQ(host.captures, std::vector<bool>{false});
}

TEST(DiagnosticsPage, ExportReportsItsOutcomeOnlyWhileThePageLives) {
    Host host;
    SaveDialogs dialogs;
    auto* page = new DiagnosticsPage(host.actions(dialogs));
    page->exportButton()->click();  // cancelled: nothing starts
    EXPECT_EQ(dialogs.proposed, "Norv-diagnostics-2027-03-01T09-05-07Z.zip");
    EXPECT_FALSE(host.pendingExport);

    dialogs.savePath = QStringLiteral("/tmp/out.zip");
    page->exportButton()->click();
    ASSERT_TRUE(host.pendingExport);
    EXPECT_EQ(page->exportButton()->text(), QString::fromUtf8("Exporting…"));
    EXPECT_FALSE(page->exportButton()->isEnabled());
    host.pendingExport(std::nullopt);
    EXPECT_EQ(page->footerLabel()->text(), "Diagnostics exported");
    EXPECT_TRUE(page->exportButton()->isEnabled());

    page->exportButton()->click();
    EXPECT_EQ(page->footerLabel()->text(), "Export: versions, status and redacted logs");
    delete page;
    host.pendingExport(QStringLiteral("Diagnostic export timed out. Try again."));  // no effect, no crash
}

QStringList logLines(int first, int last) {
    QStringList lines;
    for (int i = first; i <= last; ++i)
        lines.append(QStringLiteral("2026-10-03T17:30:00Z %1 [engine] line %2")
                         .arg(i % 5 ? QStringLiteral("INFO") : QStringLiteral("WARNING"))
                         .arg(i));
    return lines;
}

QStringList selectedLines(DiagnosticsPage& page) {
    return page.logView()->selectedText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Lines arrive (and the oldest drop out) while the user has typed a search, selected lines,
// scrolled, opened the level list and is about to copy: all of that stays.
TEST(DiagnosticsPage, ArrivingLinesLeaveSearchSelectionScrollAndOpenListAlone) {
    Host host;
    SaveDialogs dialogs;
    DiagnosticsPage page(host.actions(dialogs));
    page.setRefreshInterval(std::chrono::hours(1));
    page.resize(1000, 700);
    page.show();
    page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
    QListView* list = page.logView()->list();
    QSignalSpy resets(list->model(), &QAbstractItemModel::modelReset);
    page.findChild<QCheckBox*>()->setChecked(false);  // not following the end
    DiagnosticsPage::State state = pageState(logLines(1, 400), QStringLiteral("ab12"), std::nullopt, true);
    page.setState(state);

    page.searchField()->setFocus();
    QTest::keyClicks(page.searchField(), "line");
    list->selectionModel()->select(list->model()->index(100, 0), QItemSelectionModel::Select);
    list->selectionModel()->select(list->model()->index(101, 0), QItemSelectionModel::Select);
    QCoreApplication::processEvents();  // the list lays its rows out
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum() / 3);
    // The top line: the first row the view shows from its top edge down. A fixed point could fall
    // into the spacing between two rows, wherever the font puts their edges.
    const auto topLineNow = [list] {
        QCoreApplication::processEvents();
        for (int y = 0; y < list->viewport()->height(); ++y) {
            const QModelIndex index = list->indexAt(QPoint(5, y));
            if (index.isValid()) return index.data().toString();
        }
        return QString();
    };
    const QString topLine = topLineNow();
    const QStringList selected = selectedLines(page);
    ASSERT_EQ(selected, (QStringList{logLines(101, 102)}));
    ASSERT_TRUE(topLine.contains("line"));

    page.setState(state);  // identical
    state.logLines = logLines(6, 420);  // new lines, the oldest gone
    page.setState(state);

    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(page.logView()->list(), list);
    EXPECT_EQ(page.searchField()->text(), "line");
    EXPECT_TRUE(page.searchField()->hasFocus());
    EXPECT_EQ(selectedLines(page), selected);
    EXPECT_EQ(topLineNow().toStdString(), topLine.toStdString());
    EXPECT_EQ(page.countLabel()->text(), "415 entries");  // what the user did not touch follows

    // Copy, without pausing, takes the selected lines.
    list->setFocus();
    QTest::keySequence(list, QKeySequence::Copy);
    EXPECT_EQ(QApplication::clipboard()->text(), selected.join(QLatin1Char('\n')));

    // The level list stays open with its highlighted row.
    page.levelPicker()->showPopup();
    page.levelPicker()->view()->setCurrentIndex(page.levelPicker()->model()->index(2, 0));
    state.logLines = logLines(8, 430);
    page.setState(state);
    EXPECT_TRUE(page.levelPicker()->view()->isVisible());
    EXPECT_EQ(page.levelPicker()->view()->currentIndex().row(), 2);
    page.levelPicker()->hidePopup();
}

TEST(DiagnosticsPage, ExportAddsTheZipExtensionTheUserRemoved) {
    Host host;
    SaveDialogs dialogs;
    QString written;
    DiagnosticsPage::Actions actions = host.actions(dialogs);
    actions.exportDiagnostics = [&](const QString& path, std::function<void(std::optional<QString>)> done) {
        written = path;
        done(std::nullopt);
    };
    DiagnosticsPage page(std::move(actions));
    dialogs.savePath = QStringLiteral("/tmp/support bundle");
    page.exportButton()->click();
    EXPECT_EQ(written, "/tmp/support bundle.zip");
    EXPECT_EQ(dialogs.suffix, "zip");  // so the panel asks before replacing "support bundle.zip"
    dialogs.savePath = QStringLiteral("/tmp/bundle.ZIP");
    page.exportButton()->click();
    EXPECT_EQ(written, "/tmp/bundle.ZIP");
}

// The panel starts in the user's folders, not wherever the application was started, and the
// footer keeps "Diagnostics exported" with the archive's path beside it.
TEST(DiagnosticsPage, ExportStartsOutsideTheWorkingFolderAndSaysWhereTheArchiveWent) {
    Host host;
    SaveDialogs dialogs;
    DiagnosticsPage::Actions actions = host.actions(dialogs);
    actions.exportDiagnostics = [](const QString&, std::function<void(std::optional<QString>)> done) {
        done(std::nullopt);
    };
    DiagnosticsPage page(std::move(actions));
    EXPECT_TRUE(page.savedLabel()->isHidden());
    dialogs.savePath = QStringLiteral("/tmp/support.zip");
    page.exportButton()->click();
    EXPECT_TRUE(QFileInfo(dialogs.directory).isDir()) << dialogs.directory.toStdString();
    EXPECT_NE(QDir(dialogs.directory).canonicalPath(), QDir::current().canonicalPath());
    EXPECT_EQ(page.footerLabel()->text(), "Diagnostics exported");
    EXPECT_FALSE(page.savedLabel()->isHidden());
    EXPECT_TRUE(page.savedLabel()->text().contains("/tmp/support.zip")) << page.savedLabel()->text().toStdString();
}

class DiagnosticsInTheWindow : public test::FakeStoreWindowTest {};

// "Connection identities" open, with the pending requests, in a window of the default size: the
// log list still shows ten whole lines; in a shorter window the page scrolls to keep them.
TEST_F(DiagnosticsInTheWindow, TheLogKeepsTenWholeLinesAndThePageScrollsWhenTheWindowIsShorter) {
    engine->log = logLines(1, 200);
    connectTo(true, test::fullSnapshot());
    showWindow();
    store->setSelection(BridgeSection::logs);
    QCoreApplication::processEvents();
    auto* page = dynamic_cast<DiagnosticsPage*>(window->currentPage());
    ASSERT_NE(page, nullptr);
    auto* identities = test::findButton<QToolButton>(page, QStringLiteral("Connection identities"));
    ASSERT_NE(identities, nullptr);
    identities->click();
    for (int pass = 0; pass < 3; ++pass) QCoreApplication::processEvents();
    QListView* list = page->logView()->list();
    ASSERT_FALSE(page->logView()->showingEmptyState());
    const int line = list->sizeHintForRow(0) + 2 * list->spacing();
    EXPECT_GE(list->viewport()->height(), 10 * line);
    QScrollArea* scroll = page;

    window->resize(MainWindow::defaultSize.width(), 480);
    for (int pass = 0; pass < 3; ++pass) QCoreApplication::processEvents();
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0);
    EXPECT_GE(list->viewport()->height(), 10 * line);
}

}  // namespace
}  // namespace norv
