// Every section of the window shows its real page over a store with fake components.
#include "core/bridge_store.h"
#include "tests/support/model/snapshot_fixtures.h"
#include "tests/support/ui/window_test.h"
#include "ui/connections/connections_page.h"
#include "ui/device_settings/device_settings_page.h"
#include "ui/devices/devices_page.h"
#include "ui/diagnostics/pending_pairing_requests_panel.h"
#include "ui/diagnostics/diagnostics_page.h"
#include "ui/live_page/live_page.h"
#include "ui/monitor/midi_monitor_page.h"
#include "ui/overview/overview_page.h"
#include "ui/pages/page_factory.h"
#include "ui/routes/routes_page.h"
#include "ui/shell/main_window.h"
#include "ui/shell/sidebar.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>

namespace norv {
namespace {

class PagePlacement : public test::FakeStoreWindowTest {
protected:
    void SetUp() override {
        FakeStoreWindowTest::SetUp();
        connectTo(true, test::fullSnapshot());
    }

    template <typename Page>
    Page* show(BridgeSection section) {
        store->setSelection(section);
        QCoreApplication::processEvents();
        EXPECT_EQ(window->currentPageSection(), section);
        return dynamic_cast<Page*>(window->currentPage());
    }
};

TEST_F(PagePlacement, EverySectionShowsItsOwnPageAndSidebarRowsSwitchBetweenThem) {
    EXPECT_NE(show<OverviewPage>(BridgeSection::overview), nullptr);
    EXPECT_NE(show<ConnectionsPage>(BridgeSection::connections), nullptr);
    EXPECT_NE(show<LivePage>(BridgeSection::live), nullptr);
    EXPECT_NE(show<DevicesPage>(BridgeSection::devices), nullptr);
    EXPECT_NE(show<DeviceSettingsPage>(BridgeSection::deviceSettings), nullptr);
    EXPECT_NE(show<MidiMonitorPage>(BridgeSection::midiMonitor), nullptr);
    EXPECT_NE(show<RoutesPage>(BridgeSection::routes), nullptr);
    auto* diagnostics = show<DiagnosticsPage>(BridgeSection::logs);
    ASSERT_NE(diagnostics, nullptr);
    EXPECT_NE(diagnostics->findChild<PendingPairingRequestsPanel*>(), nullptr);

    // The sidebar drives the same switch, page by page, each named after its section.
    const QList<SidebarRow*> rows = window->sidebar()->rows();
    for (int i = 0; i < rows.size(); ++i) {
        rows[i]->click();
        QCoreApplication::processEvents();
        const BridgeSection section = BridgeSection::allCases()[static_cast<std::size_t>(i)];
        EXPECT_EQ(window->currentPageSection(), section);
        EXPECT_EQ(window->currentPage()->objectName().toStdString(), "page_" + std::string(section.rawValue()));
    }
}

TEST_F(PagePlacement, LiveButtonsReconnectMidiAndOpenRoutesWithoutTouchingTheGonePage) {
    auto* live = show<LivePage>(BridgeSection::live);
    ASSERT_NE(live, nullptr);
    QPushButton* reconnect = nullptr;
    QPushButton* routes = nullptr;
    for (QPushButton* button : live->findChildren<QPushButton*>()) {
        if (button->text() == QStringLiteral("Reconnect MIDI")) reconnect = button;
        if (button->text() == QStringLiteral("Routes")) routes = button;
    }
    ASSERT_NE(reconnect, nullptr);
    ASSERT_NE(routes, nullptr);

    ASSERT_TRUE(reconnect->isEnabled());
    reconnect->click();
    ASSERT_FALSE(admin->requests.empty());
    EXPECT_EQ(admin->requests.back().path, "/admin/midi/reconnect");
    EXPECT_EQ(admin->requests.back().args, nlohmann::json::array());

    // The page that owns the button is replaced by the Routes page once the click returns.
    routes->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(store->selection(), BridgeSection::routes);
    EXPECT_NE(dynamic_cast<RoutesPage*>(window->currentPage()), nullptr);
}

// The monitor's filter controls write the store's one filter; only the page re-reads it, the
// engine is not asked again.
TEST_F(PagePlacement, MonitorFilterControlsWriteTheStoreFilterWithoutResubscribing) {
    auto* monitor = show<MidiMonitorPage>(BridgeSection::midiMonitor);
    ASSERT_NE(monitor, nullptr);
    const std::size_t subscriptions = admin->sentOn("/admin/midi-monitor/configure").size();

    QMenu* devices = monitor->deviceMenu()->menu();
    Q_EMIT devices->aboutToShow();
    for (QAction* item : devices->actions())
        if (item->text() == QStringLiteral("Shared")) item->trigger();
    EXPECT_EQ(store->midiMonitorFilter().deviceId, "shared");

    QMenu* messages = monitor->messageMenu()->menu();
    Q_EMIT messages->aboutToShow();
    messages->actions()[4]->trigger();  // Pitch Bend
    EXPECT_FALSE(store->midiMonitorFilter().families.contains(MidiMessageFamily::pitchBend));
    Q_EMIT messages->aboutToShow();
    messages->actions()[0]->trigger();  // All Messages
    EXPECT_EQ(store->midiMonitorFilter().families, MidiFamilySet::all());

    auto* search = monitor->findChild<QLineEdit*>();
    ASSERT_NE(search, nullptr);
    Q_EMIT search->textEdited(QStringLiteral("keys"));
    EXPECT_EQ(store->midiMonitorFilter().searchText, "keys");
    EXPECT_EQ(store->midiMonitorFilter().deviceId, "shared") << "one control leaves the others alone";
    EXPECT_EQ(admin->sentOn("/admin/midi-monitor/configure").size(), subscriptions);
}

// An identical snapshot, monitor batch or engine state changes no object of these pages, and a
// fingerprint selected in a pairing request stays selected.
TEST_F(PagePlacement, AnIdenticalSnapshotKeepsEveryWidgetOfTheMonitorLiveAndDiagnosticsPages) {
    const AdminSnapshot snapshot = test::fullSnapshot();
    for (const BridgeSection section : {BridgeSection::midiMonitor, BridgeSection::live, BridgeSection::logs}) {
        store->setSelection(section);
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QWidget* page = window->currentPage();
        QList<QObject*> before = page->findChildren<QObject*>();
        std::sort(before.begin(), before.end());
        admin->snapshotHandler(snapshot);
        admin->stateHandler(AdminConnectionState::connected());
        QCoreApplication::processEvents();
        EXPECT_EQ(window->currentPage(), page);
        // The same objects (a stacked layout may raise one above its siblings).
        QList<QObject*> after = page->findChildren<QObject*>();
        std::sort(after.begin(), after.end());
        EXPECT_EQ(after, before) << section.rawValue();
    }
    QLabel* fingerprint = nullptr;
    for (QLabel* label : window->currentPage()->findChildren<QLabel*>())
        if (label->text().startsWith(QStringLiteral("SHA-256  c0ffee"))) fingerprint = label;
    ASSERT_NE(fingerprint, nullptr);
    fingerprint->setSelection(9, 6);
    admin->snapshotHandler(snapshot);
    admin->stateHandler(AdminConnectionState::connected());
    QCoreApplication::processEvents();
    EXPECT_EQ(fingerprint->selectedText(), QStringLiteral("c0ffee"));
}

}  // namespace
}  // namespace norv
