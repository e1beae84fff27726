// The Device settings page: its derived values from fixture snapshots and the push over a store.
#include "model/admin_commands.h"
#include "tests/support/model/snapshot_fixtures.h"
#include "tests/support/qt_printers.h"
#include "tests/support/ui/page_harness.h"
#include "ui/device_settings/device_settings_page.h"
#include "ui/device_settings/device_settings_view_model.h"
#include "ui/pages/page_factory.h"

#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <gtest/gtest.h>

namespace norv {
namespace {

using nlohmann::json;
using test::edgeSnapshot;
using test::findButton;
using test::fullSnapshot;
using test::PageHarness;
using test::settle;

TEST(DeviceSettingsViewModel, ProfilesKeepEngineOrderWithTitlesCountsAndLocalTimes) {
    const AdminSnapshot snapshot = edgeSnapshot();
    const std::set<std::string> none;
    const auto rows = DeviceSettingsViewModel(snapshot, true, none).rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].title, "PLAY");
    EXPECT_EQ(rows[0].countText, "1 settings");
    EXPECT_EQ(rows[1].title, "CUSTOMPAGE");
    EXPECT_EQ(rows[1].source, "phone-ble");
    const QDateTime local = QDateTime::fromSecsSinceEpoch(3600, Qt::UTC).toLocalTime();
    EXPECT_EQ(rows[1].timeText, QLocale().toString(local.time(), QLocale::ShortFormat));
    // A push of zero devices reads as such; a result without a total shows nothing.
    EXPECT_EQ(DeviceSettingsViewModel(snapshot, true, none).resultLabel(), "No compatible devices connected");
    EXPECT_EQ(DeviceSettingsViewModel(fullSnapshot(), true, none).resultLabel(), "2 / 3 devices applied · 1 failed");
    AdminSnapshot noTotal = snapshot;
    noTotal.uiPreferences->result.total.reset();
    EXPECT_FALSE(DeviceSettingsViewModel(noTotal, true, none).resultLabel());
    EXPECT_TRUE(DeviceSettingsViewModel(AdminSnapshot::empty(), true, none).rows().empty());
    EXPECT_EQ(AdminCommands::pushDeviceSettings("repeatPage").args, nlohmann::json::parse(R"(["repeatPage"])"));
}

TEST(DeviceSettingsViewModel, PushNeedsChangeRightsNothingInFlightAndAConnectedDevice) {
    AdminSnapshot snapshot = fullSnapshot();
    const std::set<std::string> none;
    const std::set<std::string> renaming{"/admin/device/rename"};
    EXPECT_TRUE(DeviceSettingsViewModel(snapshot, true, none).pushAllowed());
    EXPECT_FALSE(DeviceSettingsViewModel(snapshot, false, none).pushAllowed());
    EXPECT_FALSE(DeviceSettingsViewModel(snapshot, true, renaming).pushAllowed());
    for (BridgeDevice& device : snapshot.devices) device.connected = false;
    EXPECT_FALSE(DeviceSettingsViewModel(snapshot, true, none).pushAllowed());
}

TEST(DeviceSettingsPage, PushSendsTheScopeAndDisablesEveryButtonWhileInFlight) {
    PageHarness h(fullSnapshot());
    std::unique_ptr<DeviceSettingsPage> owner(deviceSettingsPage(*h.store, h.services()));
    DeviceSettingsPage& page = *owner;
    page.show();
    QWidget* play = page.findChild<QWidget*>("profile_instrument");
    ASSERT_TRUE(play);
    findButton(play, "Apply to connected devices")->click();
    ASSERT_EQ(h.admin->requests.size(), 1u);
    EXPECT_EQ(h.onlyRequest().path, "/admin/ui_preferences/push");
    EXPECT_EQ(h.onlyRequest().args, json::array({"instrument"}));
    settle();
    for (QPushButton* button : page.findChildren<QPushButton*>()) EXPECT_FALSE(button->isEnabled());
    h.admin->complete();
    EXPECT_EQ(h.store->actionMessage(), "Settings transfer requested");
    settle();
    EXPECT_TRUE(findButton(page.findChild<QWidget*>("profile_all"), "Apply to connected devices")->isEnabled());
    EXPECT_EQ(page.findChild<QLabel*>("resultLabel")->text(), "2 / 3 devices applied · 1 failed");
}

}  // namespace
}  // namespace norv
