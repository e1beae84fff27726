// The window shell over a store with fake admin client, engine and Bluetooth server.
#include "core/bridge_store.h"
#include "tests/support/ui/page_harness.h"
#include "tests/support/ui/window_test.h"
#include "ui/pages/page_factory.h"
#include "ui/shell/bridge_menu_bar.h"
#include "ui/shell/main_window.h"
#include "ui/shell/pairing_code_banner.h"
#include "ui/shell/sidebar.h"
#include "ui/shell/status_notice.h"
#include "ui/theme/norv_symbols.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <gtest/gtest.h>

namespace norv {
namespace {

using test::settle;  // pages taken off the window are deleted

class WindowTest : public test::FakeStoreWindowTest {
protected:
    void connect(bool ownEngine, std::vector<BridgeDevice> devices = {}) {
        AdminSnapshot snapshot = AdminSnapshot::empty();
        snapshot.devices = std::move(devices);
        connectTo(ownEngine, snapshot);
    }

    static BridgeDevice device(bool connected) {
        BridgeDevice d;
        d.deviceId = connected ? "on" : "off";
        d.connected = connected;
        return d;
    }
};

TEST_F(WindowTest, SidebarListsTheEightSectionsAndSelectsThroughTheStore) {
    const QList<SidebarRow*> rows = window->sidebar()->rows();
    ASSERT_EQ(rows.size(), 8);
    const QStringList titles{"Overview", "Connections", "Ableton Live", "Devices", "Device settings",
                             "MIDI Monitor", "Routes", "Diagnostics"};
    for (int i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i]->text(), titles[i]);
    EXPECT_EQ(rows[5]->property("symbolName").toString(), QStringLiteral("waveform.path.ecg"));
    EXPECT_TRUE(rows[0]->isSelected());

    rows[5]->click();
    EXPECT_EQ(store->selection(), BridgeSection::midiMonitor);
    EXPECT_TRUE(rows[5]->isSelected());
    EXPECT_EQ(admin->sentOn("/admin/midi-monitor/configure").back().args[0]["enabled"], true);
    rows[6]->click();
    EXPECT_EQ(admin->sentOn("/admin/midi-monitor/configure").back().args[0]["enabled"], false);

    // No selection: the Overview page, no highlighted row.
    store->setSelection(std::nullopt);
    EXPECT_EQ(window->currentPageSection(), BridgeSection::overview);
    for (SidebarRow* row : rows) EXPECT_FALSE(row->isSelected());
}

TEST_F(WindowTest, PagesAreBuiltAnewOnlyWhenTheirSectionIsSelectedAgain) {
    const int initial = pagesBuilt;
    ASSERT_EQ(initial, 1);
    connect(true);  // store changes must not rebuild the page
    admin->snapshotHandler(AdminSnapshot::empty());
    EXPECT_EQ(pagesBuilt, initial);
    store->setSelection(BridgeSection::connections);
    store->setSelection(BridgeSection::connections);
    EXPECT_EQ(pagesBuilt, initial + 1);
    store->setSelection(BridgeSection::overview);
    store->setSelection(BridgeSection::connections);
    EXPECT_EQ(pagesBuilt, initial + 3);
    EXPECT_EQ(window->currentPage()->objectName(), QStringLiteral("page_connections"));
}

// A page whose construction makes the store announce a change (as the Diagnostics page does by
// refreshing the engine's log) is still built once, and a selection made meanwhile wins.
TEST_F(WindowTest, AChangeAnnouncedWhileAPageIsBuiltBuildsNoSecondPage) {
    int built = 0;
    MainWindow own(*store, [&](BridgeSection section, BridgeStore& s, QWidget* parent) {
        ++built;
        if (section == BridgeSection::logs) engine->setRunning(!engine->running);  // the store relays it
        if (section == BridgeSection::routes) s.setSelection(BridgeSection::devices);
        auto* page = new QWidget(parent);
        page->setObjectName(QString::fromUtf8(section.rawValue().data()));
        return page;
    });
    built = 0;
    store->setSelection(BridgeSection::logs);
    settle();
    EXPECT_EQ(built, 1);
    EXPECT_EQ(own.currentPage()->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 1);

    store->setSelection(BridgeSection::routes);
    settle();
    EXPECT_EQ(own.currentPageSection(), BridgeSection::devices);
    EXPECT_EQ(own.currentPage()->objectName(), QStringLiteral("devices"));
    EXPECT_EQ(own.currentPage()->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 1);
}

TEST_F(WindowTest, FooterShowsStateWordAndConnectedDeviceCount) {
    SidebarStatus* footer = window->sidebar()->status();
    EXPECT_EQ(footer->stateText(), QStringLiteral("STOPPED"));
    EXPECT_FALSE(footer->dotConnected());
    connect(true, {device(true), device(false), device(true)});
    EXPECT_EQ(footer->stateText(), QStringLiteral("CONNECTED"));
    EXPECT_EQ(footer->deviceText(), QStringLiteral("2 devices"));
    EXPECT_TRUE(footer->dotConnected());
    admin->stateHandler(AdminConnectionState::disconnected("Bridge unavailable"));
    EXPECT_EQ(footer->stateText(), QStringLiteral("DISCONNECTED"));
    EXPECT_EQ(footer->deviceText(), QStringLiteral("0 devices"));
    EXPECT_FALSE(footer->dotConnected());
}

TEST_F(WindowTest, ToolbarFollowsTheEngineAndAnOutsideEngineMakesTheWindowReadOnly) {
    EXPECT_EQ(window->startAction()->text(), QStringLiteral("Start"));
    EXPECT_EQ(window->startAction()->property("symbolName").toString(), QStringLiteral("play.fill"));
    EXPECT_FALSE(window->stopAction()->isEnabled());
    window->startAction()->trigger();
    EXPECT_EQ(engine->starts.size(), 1u);

    engine->setRunning(true);
    EXPECT_EQ(window->startAction()->text(), QStringLiteral("Restart"));
    EXPECT_EQ(window->startAction()->property("symbolName").toString(), QStringLiteral("arrow.clockwise"));
    EXPECT_TRUE(window->stopAction()->isEnabled());
    window->startAction()->trigger();
    EXPECT_EQ(engine->restarts.size(), 1u);
    window->stopAction()->trigger();
    EXPECT_EQ(engine->terminations, 1);

    EXPECT_TRUE(window->externalEngineLine()->isHidden());
    connect(false);
    EXPECT_FALSE(window->externalEngineLine()->isHidden());
    EXPECT_EQ(window->startAction()->text(), QStringLiteral("Start"));
    EXPECT_FALSE(window->startAction()->isEnabled());
    EXPECT_FALSE(window->stopAction()->isEnabled());
}

TEST_F(WindowTest, StatusNoticeShowsOutcomesAndDismissKeepsTheFailureFlag) {
    connect(true);
    store->command("/admin/device/rename", nlohmann::json::array(), QStringLiteral("Renamed"));
    EXPECT_EQ(window->statusNotice()->message(), QStringLiteral("Applying\u2026"));
    EXPECT_FALSE(window->statusNotice()->failed());
    admin->complete(QStringLiteral("Bridge unavailable"));
    EXPECT_TRUE(window->statusNotice()->failed());
    window->statusNotice()->dismissButton()->click();
    EXPECT_TRUE(window->statusNotice()->isHidden());
    EXPECT_TRUE(store->actionFailed());
    store->command("/admin/device/rename", nlohmann::json::array(), QStringLiteral("Renamed"));
    EXPECT_FALSE(window->statusNotice()->isHidden());
    EXPECT_FALSE(window->statusNotice()->failed());
}

TEST_F(WindowTest, PairingBannerSendsTheResetAndIsDisabledWhileAnythingIsPending) {
    connect(true);
    AdminSnapshot snapshot = AdminSnapshot::empty();
    snapshot.pairing = PairingCodeSnapshot{};
    snapshot.pairing->status = "waiting";
    snapshot.pairing->code = "123456";
    admin->snapshotHandler(snapshot);
    PairingCodeBanner* banner = window->pairingBanner();
    ASSERT_FALSE(banner->isHidden());
    EXPECT_TRUE(banner->button()->isEnabled());
    banner->button()->click();
    ASSERT_EQ(admin->requests.size(), 1u);
    EXPECT_EQ(admin->requests[0].path, "/admin/pairing/reset");
    EXPECT_FALSE(banner->button()->isEnabled());
    admin->complete();
    EXPECT_EQ(store->actionMessage(), QStringLiteral("Pairing reset"));

    admin->stateHandler(AdminConnectionState::connecting());
    EXPECT_TRUE(banner->isHidden());
}

// At a scale of 2 the icon's sharper copy is drawn, still at 16 logical pixels.
TEST_F(WindowTest, ToolbarIconsStaySixteenLogicalPixelsAtEveryScale) {
    const auto* toolbar = window->findChild<QToolBar*>(QStringLiteral("bridgeToolbar"));
    ASSERT_NE(toolbar, nullptr);
    for (const qreal scale : {1.0, 2.0}) {
        const QPixmap drawn = window->startAction()->icon().pixmap(toolbar->iconSize(), scale);
        EXPECT_EQ(drawn.deviceIndependentSize(), QSizeF(16, 16)) << scale;
        EXPECT_EQ(drawn.devicePixelRatio(), scale);
    }
}

TEST_F(WindowTest, ClosingTheWindowIsAQuitRequestNotAClose) {
    window->show();
    QSignalSpy requested(window.get(), &MainWindow::closeRequested);
    window->close();
    EXPECT_EQ(requested.count(), 1);
    EXPECT_TRUE(window->isVisible());
    EXPECT_GE(window->minimumWidth(), 980);
    EXPECT_GE(window->minimumHeight(), 640);
}

TEST_F(WindowTest, TrayMenuFollowsTheStoreAndStartsOrRestarts) {
    BridgeMenuBar bar;
    bar.follow(*store);
    bar.startAction()->trigger();
    EXPECT_EQ(engine->starts.size(), 1u);
    connect(true, {device(true)});
    EXPECT_EQ(bar.statusAction()->text(), QStringLiteral("Bridge connected"));
    EXPECT_EQ(bar.deviceAction()->text(), QStringLiteral("1 Norv devices"));
    EXPECT_EQ(bar.startAction()->text(), QStringLiteral("Restart Bridge"));
    bar.startAction()->trigger();
    EXPECT_EQ(engine->restarts.size(), 1u);
    engine->setRunning(false);
    EXPECT_EQ(bar.startAction()->text(), QStringLiteral("Start Bridge"));
    EXPECT_FALSE(bar.startAction()->isEnabled()) << "an outside engine answers now";
}

}  // namespace
}  // namespace norv
