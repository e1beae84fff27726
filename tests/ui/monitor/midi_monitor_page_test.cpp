#include "support/ui/no_dialogs.h"
#include "tests/support/model/monitor_event_fixtures.h"
#include "ui/monitor/midi_monitor_csv_document.h"
#include "ui/monitor/midi_monitor_page.h"
#include "ui/monitor/midi_monitor_table_view.h"
#include "ui/theme/page_components.h"

#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <gtest/gtest.h>

namespace norv {
namespace {

using test::NoDialogs;

TEST(MidiMonitorPage, EmptyStatesCountersMenusAndEnabling) {
    NoDialogs dialogs;
    QString device;
    std::vector<MidiMessageFamily> toggled;
    MidiMonitorPage::Actions actions;
    actions.setDevice = [&](const QString& id) { device = id; };
    actions.toggleFamily = [&](MidiMessageFamily family) { toggled.push_back(family); };
    actions.dialogs = &dialogs;
    MidiMonitorPage page(actions);

    MidiMonitorPage::State state;
    state.listening = false;
    page.setState(state);
    EXPECT_EQ(page.emptyState()->titleLabel()->text(), "Listening is off");
    EXPECT_FALSE(page.refreshPicker()->isEnabled());
    EXPECT_FALSE(page.clearButton()->isEnabled());
    EXPECT_EQ(page.eventsLabel()->text(), "0 EVENTS");

    const AdminSnapshot snapshot = test::fullSnapshot();
    state.events = snapshot.midiEvents;
    state.listening = true;
    state.dropped = 3;
    state.filter.channel = 9;  // nothing on channel 9
    page.setState(state);
    EXPECT_EQ(page.emptyState()->titleLabel()->text(), "No matching events");
    EXPECT_EQ(page.eventsLabel()->text(), "8 EVENTS");
    EXPECT_EQ(page.droppedLabel()->text(), "3 DROPPED");
    EXPECT_FALSE(page.exportButton()->isEnabled());
    EXPECT_TRUE(page.clearButton()->isEnabled());

    state.filter.channel = 0;
    page.setState(state);
    EXPECT_TRUE(page.showingTable());
    EXPECT_EQ(page.table()->model()->rowCount(), 8);
    EXPECT_TRUE(page.exportButton()->isEnabled());

    QMenu* menu = page.deviceMenu()->menu();
    Q_EMIT menu->aboutToShow();
    QList<QAction*> items = menu->actions();
    ASSERT_EQ(items.size(), 5);  // All Devices, divider, three devices
    EXPECT_EQ(items[2]->text(), "ipad-studio-7f3a");
    EXPECT_EQ(items[4]->text(), "Shared");
    items[4]->trigger();
    EXPECT_EQ(device, "shared");

    Q_EMIT page.messageMenu()->menu()->aboutToShow();
    items = page.messageMenu()->menu()->actions();
    ASSERT_EQ(items.size(), 7);
    EXPECT_EQ(items[0]->property("symbolName").toString(), "checkmark");
    EXPECT_EQ(items[4]->text(), "Pitch Bend");
    items[4]->trigger();
    EXPECT_EQ(toggled, std::vector<MidiMessageFamily>{MidiMessageFamily::pitchBend});
}

// The composed events have left; the decomposed ones carry the same names: the chosen device and
// endpoint keep their check marks, and the snapshot's label of the composed id names them in the
// menu, the table and the export.
TEST(MidiMonitorPage, CanonicallyEqualNamesAreOneNameInMenusLabelsAndExport) {
    MidiMonitorPage page({});
    MidiMonitorPage::State state;
    state.events = {test::event(1, "cafe\u0301", "Cafe\u0301 Pad", "instrument", "note", 1)};
    state.filter.deviceId = "caf\u00e9";
    state.filter.endpoint = "Caf\u00e9 Pad";
    BridgeDevice device;
    device.deviceId = "caf\u00e9";
    device.label = "Studio";
    state.deviceLabels = monitorDeviceLabels({device});
    page.setState(state);
    ASSERT_TRUE(page.showingTable());
    EXPECT_EQ(page.table()->model()->index(0, MidiMonitorTableModel::deviceColumn).data().toString(), "Studio");
    for (QToolButton* button : {page.deviceMenu(), page.endpointMenu()}) {
        Q_EMIT button->menu()->aboutToShow();
        const QList<QAction*> items = button->menu()->actions();
        ASSERT_EQ(items.size(), 3);
        EXPECT_EQ(items[2]->property("symbolName").toString(), "checkmark") << items[2]->text().toStdString();
    }
    EXPECT_EQ(page.deviceMenu()->menu()->actions()[2]->text(), "Studio");
    const std::string csv = MidiMonitorCSVDocument(page.filteredEvents(), {{"caf\u00e9", "Studio"}}).csvText();
    EXPECT_NE(csv.find(",Studio,cafe\u0301,"), std::string::npos) << csv;
}

}  // namespace
}  // namespace norv
