#include "core/dialog_service.h"
#include "support/ui/no_dialogs.h"
#include "ui/live_page/live_page.h"
#include "ui/pages/page_factory.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace norv {
namespace {

using test::NoDialogs;

bool waitFor(const std::function<bool()>& done) {
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

TEST(LivePage, WithoutLiveTheControlsFollowTheRules) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QSettings settings(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    LiveIntegration::Environment environment;
    environment.home = dir.path();
    environment.applicationFolders = {dir.filePath(QStringLiteral("Applications"))};
    environment.procRoot = dir.filePath(QStringLiteral("proc"));
    environment.settings = &settings;
    environment.runtime = [] { return RemoteScriptRuntime{}; };
    NoDialogs dialogs;
    int reconnects = 0;
    LivePage::Actions actions;
    actions.reconnectMidi = [&] { ++reconnects; };
    actions.environment = [environment] { return environment; };
    addLiveIntegrationActions(actions, dialogs);
    LivePage page(std::move(actions));
    page.setStatusInterval(std::chrono::milliseconds(20));

    EXPECT_EQ(page.statusTitle()->text(), QString::fromUtf8("Checking…"));
    BridgeHealth health = BridgeHealth::empty();
    health.instrumentMidiLiveRouteStatus = "waiting_for_port";
    page.setState({health, true, true, {"/admin/midi/reconnect"}});  // a request in flight
    EXPECT_EQ(page.routeStatus()->text(), "Waiting For Port");
    EXPECT_FALSE(page.reconnectButton()->isEnabled());
    EXPECT_EQ(page.statusTitle()->text(), QString::fromUtf8("Checking…"));  // only an update changes it

    page.start();
    ASSERT_TRUE(waitFor([&] { return page.statusTitle()->text() != QString::fromUtf8("Checking…"); }));
    EXPECT_EQ(page.livePicker()->count(), 1);
    EXPECT_EQ(page.livePicker()->itemText(0), "No Live detected");
    EXPECT_EQ(page.installButton()->text(), "Install Remote Script");
    EXPECT_FALSE(page.installButton()->isEnabled());
    EXPECT_EQ(page.installedValue()->text(), "Not installed");

    page.setState({health, true, true, {}});
    EXPECT_TRUE(page.reconnectButton()->isEnabled());
    page.reconnectButton()->click();
    EXPECT_EQ(reconnects, 1);
}

}  // namespace
}  // namespace norv
