// The monitor page while the engine streams: what the user has typed, opened, selected and
// scrolled stays; what the user did not touch follows the store. And the CSV export's file name.
#include "tests/support/core/store_fakes.h"
#include "tests/support/model/monitor_event_fixtures.h"
#include "ui/monitor/midi_monitor_page.h"
#include "ui/monitor/midi_monitor_table_view.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace norv {
namespace {

std::vector<MidiMonitorEvent> eventsFrom(std::int64_t first, std::int64_t last) {
    std::vector<MidiMonitorEvent> events;
    for (std::int64_t sequence = first; sequence <= last; ++sequence)
        events.push_back(test::event(sequence, sequence % 2 ? "ipad" : "phone", "Norv Out", "instrument", "note_on",
                                     1 + sequence % 4));
    return events;
}

std::vector<std::int64_t> selectedSequences(MidiMonitorTableView* table) {
    std::vector<std::int64_t> sequences;
    for (const QModelIndex& index : table->selectionModel()->selectedRows())
        sequences.push_back(table->monitorModel()->event(index.row()).sequence);
    std::sort(sequences.begin(), sequences.end());
    return sequences;
}

struct MonitorPage : ::testing::Test {
    void SetUp() override {
        actions.setSearch = [this](const QString& text) { searches.append(text); };
        actions.dialogs = &dialogs;
        page = std::make_unique<MidiMonitorPage>(actions);
        page->resize(1100, 700);
        page->show();
        events = eventsFrom(1, 200);
        publish();
    }

    // The store's buffer and the snapshot's name for the iPad, as they stand.
    void publish() {
        state.events = events;
        state.deviceLabels["ipad"] = ipadLabel;
        page->setState(state);
    }

    test::ScriptedDialogs dialogs;
    MidiMonitorPage::Actions actions;
    QStringList searches;
    std::string ipadLabel = "Studio iPad";
    std::vector<MidiMonitorEvent> events;
    MidiMonitorPage::State state;
    std::unique_ptr<MidiMonitorPage> page;
};

TEST_F(MonitorPage, BatchesAndSnapshotsLeaveTypedTextOpenPickerSelectionAndScroll) {
    MidiMonitorTableView* table = page->table();
    QLineEdit* search = page->findChild<QLineEdit*>();
    QComboBox* refresh = page->refreshPicker();
    QSignalSpy resets(table->model(), &QAbstractItemModel::modelReset);

    page->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(page.get()));
    search->setFocus();
    QTest::keyClicks(search, "no");
    ASSERT_EQ(searches.last(), "no");
    table->selectRow(30);
    table->selectionModel()->select(table->model()->index(31, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    table->verticalScrollBar()->setValue(400);
    const std::int64_t topSequence = table->monitorModel()->event(table->rowAt(0)).sequence;
    const auto selected = selectedSequences(table);
    ASSERT_EQ(selected.size(), 2u);

    publish();  // identical, while the store's search text lags behind the typing
    events = eventsFrom(4, 212);  // a batch: twelve new events, the three oldest trimmed
    ipadLabel = "Stage iPad";      // and a snapshot renaming a device
    publish();

    EXPECT_EQ(page->table(), table);
    EXPECT_EQ(search->text(), "no");
    EXPECT_TRUE(search->hasFocus());
    EXPECT_EQ(search->cursorPosition(), 2);
    EXPECT_EQ(selectedSequences(table), selected);
    EXPECT_EQ(table->monitorModel()->event(table->rowAt(0)).sequence, topSequence);
    // What the user did not touch follows.
    EXPECT_EQ(page->eventsLabel()->text(), "209 EVENTS");
    EXPECT_EQ(table->model()->rowCount(), 209);
    EXPECT_EQ(table->monitorModel()->event(0).sequence, 212);
    EXPECT_EQ(table->model()->index(0, MidiMonitorTableModel::deviceColumn).data().toString(), "phone");
    EXPECT_EQ(table->model()->index(1, MidiMonitorTableModel::deviceColumn).data().toString(), "Stage iPad");

    // An open refresh picker stays open with its highlighted row while batches arrive.
    refresh->showPopup();
    ASSERT_TRUE(refresh->view()->isVisible());
    refresh->view()->setCurrentIndex(refresh->model()->index(4, 0));
    events = eventsFrom(10, 215);
    publish();
    EXPECT_TRUE(refresh->view()->isVisible());
    EXPECT_EQ(refresh->view()->currentIndex().row(), 4);
    refresh->hidePopup();

    // So does an open filter menu, with its items and highlighted item.
    QMenu* devices = page->deviceMenu()->menu();
    devices->popup(page->deviceMenu()->mapToGlobal(QPoint(0, 0)));
    ASSERT_TRUE(devices->isVisible());
    const QList<QAction*> items = devices->actions();
    devices->setActiveAction(items.last());
    events = eventsFrom(12, 230);
    publish();
    EXPECT_TRUE(devices->isVisible());
    EXPECT_EQ(devices->actions(), items);
    EXPECT_EQ(devices->activeAction(), items.last());
    devices->hide();
    EXPECT_EQ(resets.count(), 0);

    // Scrolled to the newest row, the newest events come into view at the top.
    table->verticalScrollBar()->setValue(0);
    events = eventsFrom(4, 220);
    publish();
    EXPECT_EQ(table->monitorModel()->event(table->rowAt(0)).sequence, 220);
}

// The count changes with nearly every batch while the buffer fills; the page's layout does not,
// and the panel behind the count is not painted again.
TEST_F(MonitorPage, ACountChangingWithEachBatchRepaintsTheCountAlone) {
    struct Watch : QObject {
        bool eventFilter(QObject* object, QEvent* event) override {
            if (event->type() == QEvent::LayoutRequest) ++layouts;
            if (event->type() == QEvent::Paint && object == panel) ++panelPaints;
            if (event->type() == QEvent::Paint && object == label) ++labelPaints;
            return false;
        }
        const QObject* panel = nullptr;
        const QObject* label = nullptr;
        int layouts = 0;
        int panelPaints = 0;
        int labelPaints = 0;
    } watch;
    watch.label = page->eventsLabel();
    watch.panel = page->eventsLabel()->parentWidget();
    qApp->installEventFilter(&watch);
    // Showing the page lays out one level of widgets per pass.
    for (int pass = 0; pass < 10; ++pass) QCoreApplication::processEvents();
    watch.layouts = watch.panelPaints = watch.labelPaints = 0;
    events = eventsFrom(1, 203);
    publish();
    QCoreApplication::processEvents();
    qApp->removeEventFilter(&watch);
    EXPECT_EQ(watch.layouts, 0);
    EXPECT_EQ(watch.panelPaints, 0);
    EXPECT_EQ(watch.labelPaints, 1);
    EXPECT_EQ(page->eventsLabel()->text(), "203 EVENTS");
    // A count longer than a full buffer's still shows whole.
    events = eventsFrom(1, 10000);
    publish();
    EXPECT_GE(page->eventsLabel()->width(), page->eventsLabel()->sizeHint().width());
}

TEST_F(MonitorPage, ExportAddsTheCsvExtensionTheUserRemoved) {
    QTemporaryDir dir;
    dialogs.nextPath = dir.filePath("monitor log");
    page->exportButton()->click();
    ASSERT_EQ(dialogs.panels.size(), 1u);
    EXPECT_TRUE(dialogs.panels[0].proposedName.endsWith(".csv"));
    EXPECT_EQ(dialogs.panels[0].defaultSuffix, "csv");  // so the panel asks before replacing it
    EXPECT_TRUE(QFile::exists(dir.filePath("monitor log.csv")));

    dialogs.nextPath = dir.filePath("kept.CSV");
    page->exportButton()->click();
    EXPECT_TRUE(QFile::exists(dir.filePath("kept.CSV")));
    EXPECT_FALSE(QFile::exists(dir.filePath("kept.CSV.csv")));
}

// The panel starts in the user's folders, not wherever the application was started, and the
// page names the file once it is written.
TEST_F(MonitorPage, ExportStartsOutsideTheWorkingFolderAndSaysWhereTheFileWent) {
    QTemporaryDir dir;
    dialogs.nextPath = dir.filePath("monitor.csv");
    EXPECT_TRUE(page->savedLabel()->isHidden());
    page->exportButton()->click();
    ASSERT_EQ(dialogs.panels.size(), 1u);
    const QString start = dialogs.panels[0].directory;
    EXPECT_TRUE(QFileInfo(start).isDir()) << start.toStdString();
    EXPECT_NE(QDir(start).canonicalPath(), QDir::current().canonicalPath());
    ASSERT_TRUE(QFile::exists(dir.filePath("monitor.csv")));
    EXPECT_FALSE(page->savedLabel()->isHidden());
    EXPECT_TRUE(page->savedLabel()->text().contains(dir.filePath("monitor.csv")))
        << page->savedLabel()->text().toStdString();
}

}  // namespace
}  // namespace norv
