// Renders the main window for fixture states into build/screenshots/window/ for people to look at.
// Each test binary writes to a folder of its own, so tests running side by side never share a file.
// The test checks that each picture was written, not its pixels.
#include "core/bridge_store.h"
#include "tests/support/model/snapshot_fixtures.h"
#include "tests/support/ui/window_test.h"
#include "ui/diagnostics/diagnostics_log_view.h"
#include "ui/diagnostics/diagnostics_page.h"
#include "ui/pages/page_factory.h"
#include "ui/shell/main_window.h"

#include <QImage>
#include <QListView>
#include <gtest/gtest.h>

namespace norv {
namespace {

BridgeDevice device(const std::string& id, const std::string& label, bool connected) {
    BridgeDevice d;
    d.deviceId = id;
    d.label = label;
    d.platform = "ios";
    d.connected = connected;
    return d;
}

class Screenshots : public test::ScreenshotWindowTest {
protected:
    void capture(const QString& name) {
        const QImage written = ScreenshotWindowTest::capture(QStringLiteral("window"), name);
        EXPECT_GE(written.width(), MainWindow::minimumContentSize.width());
    }
};

TEST_F(Screenshots, Disconnected) {
    admin->stateHandler(AdminConnectionState::disconnected("Bridge unavailable"));
    capture(QStringLiteral("disconnected"));
}

TEST_F(Screenshots, ConnectedWithDevices) {
    AdminSnapshot snapshot = AdminSnapshot::empty();
    snapshot.devices = {device("a", "Studio iPad", true), device("b", "Stage iPhone", true),
                        device("c", "Old Tablet", false)};
    connectTo(true, snapshot);
    store->setSelection(BridgeSection::devices);
    capture(QStringLiteral("connected-with-devices"));
}

TEST_F(Screenshots, ExternalEngine) {
    connectTo(false, AdminSnapshot::empty());
    capture(QStringLiteral("external-engine"));
}

TEST_F(Screenshots, PairingCode) {
    AdminSnapshot snapshot = AdminSnapshot::empty();
    snapshot.devices = {device("a", "Studio iPad", true)};
    snapshot.pairing = PairingCodeSnapshot{};
    snapshot.pairing->status = "waiting";
    snapshot.pairing->code = "482913";
    snapshot.pairing->deviceLabel = "Rehearsal iPad";
    snapshot.pairing->expiresIn = 42;
    connectTo(true, snapshot);
    capture(QStringLiteral("pairing-code"));
}

TEST_F(Screenshots, FailureNotice) {
    connectTo(true, AdminSnapshot::empty());
    store->command("/admin/devices/clean", nlohmann::json::array(), QStringLiteral("Devices cleaned"));
    admin->complete(QStringLiteral("Action not confirmed. Check the Bridge status."));
    capture(QStringLiteral("failure-notice"));
}

// Each section over the full fixture snapshot, named after the section ("midiMonitor.png", ...).
TEST_F(Screenshots, EverySectionWithTheFullSnapshot) {
    connectTo(true, test::fullSnapshot());
    for (const BridgeSection section : BridgeSection::allCases()) {
        store->setSelection(section);
        ASSERT_EQ(window->currentPageSection(), section);
        capture(QString::fromUtf8(section.rawValue().data(), static_cast<qsizetype>(section.rawValue().size())));
    }
}

// The Diagnostics page in the window with the engine logging and a pairing waiting: the list
// takes the height the page leaves, under a header drawn once.
TEST_F(Screenshots, DiagnosticsWithManyLogLinesUnderThePairingBanner) {
    const QStringList levels{QStringLiteral("INFO"), QStringLiteral("INFO"), QStringLiteral("WARNING"),
                             QStringLiteral("ERROR")};
    for (int i = 0; i < 300; ++i) {
        engine->log.append(QStringLiteral("2026-12-08T08:%1:%2Z %3 [engine] Device link %4 probe ok")
                               .arg(i / 60, 2, 10, QLatin1Char('0'))
                               .arg(i % 60, 2, 10, QLatin1Char('0'))
                               .arg(levels[i % 4])
                               .arg(i));
    }
    AdminSnapshot snapshot = test::fullSnapshot();
    snapshot.pairing = PairingCodeSnapshot{};
    snapshot.pairing->status = "waiting";
    snapshot.pairing->code = "482913";
    snapshot.pairing->deviceLabel = "Rehearsal iPad";
    snapshot.pairing->expiresIn = 42;
    connectTo(true, snapshot);
    store->setSelection(BridgeSection::logs);
    capture(QStringLiteral("logs-with-lines"));

    auto* page = dynamic_cast<DiagnosticsPage*>(window->currentPage());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->logView()->list()->model()->rowCount(), 300);
    // One page under the banner, filling the detail column; the list has the height left over.
    EXPECT_EQ(window->currentPage()->parentWidget()->findChildren<DiagnosticsPage*>().size(), 1);
    EXPECT_GE(page->logView()->height(), 250);
    EXPECT_GE(page->y(), 0);
}

}  // namespace
}  // namespace norv
