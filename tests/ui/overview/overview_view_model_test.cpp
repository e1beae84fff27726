// The Overview page's derived values, from fixture snapshots.
#include "tests/support/model/snapshot_fixtures.h"
#include "tests/support/qt_printers.h"
#include "ui/overview/overview_view_model.h"
#include "ui/theme/norv_theme.h"

#include <QDateTime>
#include <QLocale>
#include <gtest/gtest.h>
#include <cmath>

namespace norv {
namespace {

using test::edgeSnapshot;
using test::fullSnapshot;

TEST(OverviewViewModel, EmptySnapshotShowsOfflineWaitingAndZeroCounts) {
    const AdminConnectionState state = AdminConnectionState::connecting();
    const OverviewViewModel model(AdminSnapshot::empty(), state);
    const std::vector<StatusCardContent> expected{
        {"Bridge", "Offline", "Admin port 9315", "cable.connector", NorvTheme::red()},
        {"Ableton Live", "Waiting", "Remote Script", "waveform", NorvTheme::secondary()},
        {"Devices", "0", "0 known identities", "ipad.and.iphone", NorvTheme::violet()},
        {"Track routes", "0", "Confirmed by Live", "arrow.triangle.branch", NorvTheme::teal()},
    };
    EXPECT_EQ(model.statusCards(), expected);
    EXPECT_TRUE(model.connectedDevices().empty());
}

TEST(OverviewViewModel, FullSnapshotCountsConnectedDevicesAndReadyRoutes) {
    const AdminSnapshot snapshot = fullSnapshot();
    const AdminConnectionState state = AdminConnectionState::connected();
    const auto cards = OverviewViewModel(snapshot, state).statusCards();
    EXPECT_EQ(cards[0], (StatusCardContent{"Bridge", "Online", "2.4.1", "cable.connector", NorvTheme::teal()}));
    EXPECT_EQ(cards[1].value, "Linked");
    EXPECT_EQ(cards[1].tint, NorvTheme::yellow());
    EXPECT_EQ(cards[2].value, "3");
    EXPECT_EQ(cards[2].detail, "6 known identities");
    EXPECT_EQ(cards[3].value, "1");
    std::vector<std::string> ids;
    for (const BridgeDevice& device : OverviewViewModel(snapshot, state).connectedDevices()) ids.push_back(device.deviceId);
    EXPECT_EQ(ids, (std::vector<std::string>{"ipad-studio-7f3a", "iphone-mini-22c1", "pixel-tab-9b04"}));
}

TEST(OverviewViewModel, ReadyIsExactAndLiveLinkStopsAtFiveSeconds) {
    AdminSnapshot snapshot = edgeSnapshot();  // idle exactly 5.0; "ready", "Ready", "arm_failed", "ready"
    const AdminConnectionState state = AdminConnectionState::connected();
    EXPECT_EQ(OverviewViewModel(snapshot, state).readyRouteCount(), 2);
    EXPECT_FALSE(OverviewViewModel(snapshot, state).linked());
    snapshot.bridge.remoteScriptIdleSeconds = 4.999;
    EXPECT_TRUE(OverviewViewModel(snapshot, state).linked());
    snapshot.bridge.remoteScriptIdleSeconds = std::nan("");
    EXPECT_FALSE(OverviewViewModel(snapshot, state).linked());
    // Connected without a version: the admin port stands in; an empty version is still shown.
    EXPECT_EQ(OverviewViewModel(snapshot, state).statusCards()[0].detail, "Admin port 9315");
    snapshot.bridge.bridgeVersion = "";
    EXPECT_EQ(OverviewViewModel(snapshot, state).statusCards()[0].detail, "");
}

}  // namespace
}  // namespace norv
