#include "core/dialog_service.h"
#include "ui/diagnostics/diagnostics_page_view.h"

#include <QComboBox>
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
    bool confirm(const ConfirmationRequest&) override { return false; }
    void alert(const QString&, const QString&) override {}
    std::optional<QString> choosePathToOpen(const FilePanelRequest&) override { return std::nullopt; }
    std::optional<QString> choosePathToSave(const FilePanelRequest& request) override {
        proposed = request.proposedName;
        return savePath;
    }
};

struct Host {
    int refreshes = 0;
    std::vector<bool> captures;
    std::function<void(std::optional<QString>)> pendingExport;

    DiagnosticsPageView::Actions actions() {
        DiagnosticsPageView::Actions a;
        a.refreshLogs = [this] { ++refreshes; };
        a.setDetailedCapture = [this](bool start) { captures.push_back(start); };
        a.exportDiagnostics = [this](const QString&, std::function<void(std::optional<QString>)> done) {
            pendingExport = std::move(done);
        };
        a.now = [] { return QDateTime(QDate(2027, 3, 1), QTime(9, 5, 7), Qt::UTC); };
        return a;
    }
};

const QStringList kLines = {QStringLiteral("2026-10-03T17:30:00Z INFO [engine] Bridge started"),
                            QStringLiteral("2026-10-03T17:30:02Z ERROR [desktop] Export failed")};

TEST(DiagnosticsPageView, PauseCaptureAndCounts) {
    Host host;
    SaveDialogs dialogs;
    DiagnosticsPageView page(host.actions(), dialogs, std::chrono::milliseconds(10));
    page.start();
    EXPECT_EQ(host.refreshes, 1);
    page.setState({kLines, QStringLiteral("ab12"), std::nullopt, false});
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
    page.setState({kLines, std::nullopt, status, true});
    EXPECT_EQ(page.captureButton()->text(), "Stop detailed capture");
    EXPECT_EQ(page.captureStatus()->text(), "1:01 remaining");
    page.captureButton()->click();
    EXPECT_EQ(host.captures, std::vector<bool>{false});
}

TEST(DiagnosticsPageView, ExportReportsItsOutcomeOnlyWhileThePageLives) {
    Host host;
    SaveDialogs dialogs;
    auto* page = new DiagnosticsPageView(host.actions(), dialogs);
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

}  // namespace
}  // namespace norv
