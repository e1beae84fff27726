// The Connections page's editor rules, status panels and manual Wi-Fi targets.
#include "tests/support/model/snapshot_fixtures.h"
#include "tests/support/qt_printers.h"
#include "ui/connections/connections_view_model.h"
#include "ui/connections/manual_wifi_targets.h"
#include "ui/theme/norv_theme.h"

#include <QClipboard>
#include <QGuiApplication>
#include <gtest/gtest.h>

namespace norv {
namespace {

using test::deviceById;
using test::edgeSnapshot;
using test::fullSnapshot;

TEST(ConnectionsViewModel, BluetoothAloneIsPendingWithoutRestartOtherFieldsNeedOne) {
    const BridgeLaunchConfiguration saved;
    BridgeLaunchConfiguration draft = saved;
    EXPECT_EQ(ConnectionsViewModel::status(draft, saved, true),
              (EditorStatus{"Configuration applied", "checkmark.circle", NorvTheme::teal()}));
    EXPECT_EQ(ConnectionsViewModel::status(draft, saved, false).text, "Saved configuration");
    EXPECT_FALSE(ConnectionsViewModel::applyEnabled(draft, saved, false));

    draft.bluetoothEnabled = true;
    EXPECT_EQ(ConnectionsViewModel::status(draft, saved, true),
              (EditorStatus{"Changes pending", "arrow.clockwise", NorvTheme::yellow()}));
    EXPECT_TRUE(ConnectionsViewModel::applyEnabled(draft, saved, false));
    EXPECT_FALSE(ConnectionsViewModel::applyEnabled(draft, saved, true));  // outside engine

    for (auto change : {+[](BridgeLaunchConfiguration& c) { c.publicPort = 9400; },
                        +[](BridgeLaunchConfiguration& c) { c.iosUSBEnabled = false; },
                        +[](BridgeLaunchConfiguration& c) { c.androidUSBEnabled = false; },
                        +[](BridgeLaunchConfiguration& c) { c.bonjourEnabled = false; }}) {
        BridgeLaunchConfiguration edited = saved;
        change(edited);
        EXPECT_EQ(ConnectionsViewModel::status(edited, saved, true).text, "Restart required");
    }
}

TEST(ConnectionsViewModel, ComparesNormalisedAndTurnsBonjourOffWithWifi) {
    BridgeLaunchConfiguration saved;
    saved.wirelessEnabled = false;
    saved.bonjourEnabled = false;
    BridgeLaunchConfiguration draft = saved;
    draft.bonjourEnabled = true;  // meaningless without Wi-Fi
    draft.requireDeviceApproval = false;
    EXPECT_FALSE(ConnectionsViewModel::hasPendingChanges(draft, saved));

    BridgeLaunchConfiguration on;
    const BridgeLaunchConfiguration off = ConnectionsViewModel::withWireless(on, false);
    EXPECT_FALSE(off.bonjourEnabled);
    EXPECT_FALSE(ConnectionsViewModel::withWireless(off, true).bonjourEnabled);
    EXPECT_EQ(ConnectionsViewModel::resetConfiguration(), BridgeLaunchConfiguration{});
    EXPECT_EQ(ConnectionsViewModel::resetConfiguration().publicPort, 9311);
}

TEST(ConnectionsViewModel, PortFieldParsesAnyPlainIntegerAndRejectsText) {
    const QLocale german(QLocale::German);
    EXPECT_EQ(ConnectionsViewModel::portText(65534, german), "65534");  // no grouping
    EXPECT_EQ(ConnectionsViewModel::parsePort("1023"), 1023);
    EXPECT_EQ(ConnectionsViewModel::parsePort(" 70000 "), 70000);  // range is the store's business
    EXPECT_FALSE(ConnectionsViewModel::parsePort("93a1"));
    EXPECT_FALSE(ConnectionsViewModel::parsePort(""));
}

TEST(ConnectionsViewModel, SubtitleAndBridgeIdentity) {
    const AdminSnapshot full = fullSnapshot();
    EXPECT_EQ(ConnectionsViewModel::liveSubtitle(full.bridge), "LIVE CONNECTED");
    EXPECT_EQ(ConnectionsViewModel::liveSubtitle(edgeSnapshot().bridge), "LIVE OFFLINE");
    EXPECT_EQ(ConnectionsViewModel::identity(full),
              (BridgeIdentityLines{"Studio Mac", "linux · Workstation · NB-5C2E"}));
    AdminSnapshot bare = full;
    bare.deviceAccess->bridgeName.reset();
    bare.deviceAccess->bridgeModel = "";
    bare.deviceAccess->bridgePlatform.reset();
    EXPECT_EQ(ConnectionsViewModel::identity(bare), (BridgeIdentityLines{"Norv Bridge", "NB-5C2E"}));
    EXPECT_FALSE(ConnectionsViewModel::identity(AdminSnapshot::empty()));
}

TEST(ConnectionsViewModel, TilesFollowTheEngineReportAndTheDraftPort) {
    const auto empty = ConnectionsViewModel::transportTiles(AdminSnapshot::empty().bridge, "OFF", 9311);
    EXPECT_EQ(empty[0], (StatusTileContent{"Wi-Fi", "DISABLED", "USB remains local", "wifi", NorvTheme::secondary()}));
    EXPECT_EQ(empty[1], (StatusTileContent{"Bluetooth", "OFF", "Direct · iPad / Android",
                                           "antenna.radiowaves.left.and.right", NorvTheme::secondary()}));
    EXPECT_EQ(empty[2].value, "OFF");
    EXPECT_EQ(empty[3].value, "OFF");

    const auto full = ConnectionsViewModel::transportTiles(fullSnapshot().bridge, "DISCOVERABLE", 9311);
    EXPECT_EQ(full[0], (StatusTileContent{"Wi-Fi", "LISTENING", "TCP 9310", "wifi", NorvTheme::teal()}));
    EXPECT_EQ(full[1].tint, NorvTheme::violet());
    EXPECT_EQ(full[2], (StatusTileContent{"iPad / iPhone USB", "ENABLED", "Native USB tunnel", "cable.connector",
                                          NorvTheme::yellow()}));
    EXPECT_EQ(full[3].value, "OFF");

    // No port from the engine: an edited, unapplied draft port is shown.
    const auto edge = ConnectionsViewModel::transportTiles(edgeSnapshot().bridge, "STARTING", 9400);
    EXPECT_EQ(edge[0].detail, "TCP 9400");
    EXPECT_EQ(edge[1].tint, NorvTheme::secondary());
    EXPECT_EQ(edge[3].tint, NorvTheme::yellow());
}

TEST(ConnectionsViewModel, DeviceLinkLinesFromFullSnapshot) {
    const auto links = ConnectionsViewModel::deviceLinks(fullSnapshot());
    ASSERT_EQ(links.size(), 3u);  // the three connected devices, engine order
    EXPECT_EQ(links[0].detail, "192.168.1.41");
    EXPECT_EQ(links[0].linkLine, "STATE RTT 4.2 ms · MIDI RTT 3.1 ms · 10 S");
    EXPECT_EQ(links[0].linkColor, NorvTheme::secondary());
    EXPECT_EQ(links[0].tint, NorvTheme::teal());
    EXPECT_EQ(links[0].mode, "WI-FI AUTO");
    EXPECT_FALSE(links[0].signalLine);
    EXPECT_EQ(links[1].detail, "Dedicated USB tunnel · 2 sessions");  // "USB" in capitals still tints yellow
    EXPECT_EQ(links[1].tint, NorvTheme::yellow());
    EXPECT_EQ(links[1].mode, "AUTO");
    EXPECT_EQ(links[2].detail, "Direct Bluetooth");
    EXPECT_EQ(links[2].tint, NorvTheme::violet());
    EXPECT_EQ(links[2].mode, "DIRECT");
    EXPECT_TRUE(links[2].signalLine && links[2].signalLine->startsWith("SIGNAL "));
}

TEST(ConnectionsViewModel, DeviceLinkEdgeCases) {
    const AdminSnapshot snapshot = edgeSnapshot();
    // Capitalised "Bluetooth": violet and BLUETOOTH, but no "Direct Bluetooth" and no signal line;
    // a stale probe gives dashes in yellow; AUTO_LAN is lower-cased first.
    const DeviceLinkContent stale = ConnectionsViewModel::deviceLink(deviceById(snapshot, "tab-ble"));
    EXPECT_EQ(stale.tint, NorvTheme::violet());
    EXPECT_EQ(stale.transport, "BLUETOOTH");
    EXPECT_EQ(stale.detail, "No active address");
    EXPECT_FALSE(stale.signalLine);
    EXPECT_EQ(stale.linkLine, "STATE RTT — · MIDI RTT — · 8 S");
    EXPECT_EQ(stale.linkColor, NorvTheme::yellow());
    EXPECT_EQ(stale.mode, "WI-FI AUTO");

    // No probe at all: dashes, a window of 10, secondary; one session in the singular.
    const DeviceLinkContent usb = ConnectionsViewModel::deviceLink(deviceById(snapshot, "tab-usb"));
    EXPECT_EQ(usb.linkLine, "STATE RTT — · MIDI RTT — · 10 S");
    EXPECT_EQ(usb.linkColor, NorvTheme::secondary());
    EXPECT_EQ(usb.detail, "Dedicated USB tunnel · 1 session");
    EXPECT_EQ(usb.mode, "MODE UNKNOWN");

    // A missed state probe warns; n of 0 hides the MIDI time; the signal rounds to whole dBm.
    const DeviceLinkContent fresh = ConnectionsViewModel::deviceLink(deviceById(snapshot, "phone-ble"));
    EXPECT_EQ(fresh.linkLine, "STATE RTT 4.2 ms · MIDI RTT — · 12 S");
    EXPECT_EQ(fresh.linkColor, NorvTheme::yellow());
    EXPECT_EQ(fresh.signalLine, "SIGNAL -61 dBm");
    EXPECT_EQ(fresh.mode, "WI-FI MANUAL");  // from the last mode

    BridgeDevice twoSessions = deviceById(snapshot, "phone-ble");
    twoSessions.activeTransport = "wifi";
    EXPECT_EQ(ConnectionsViewModel::connectionDetail(twoSessions), "10.0.0.9 · fe80::1");
    twoSessions.linkQuality->state.miss = 0;
    twoSessions.linkQuality->syncPendingMs = 3000;
    EXPECT_EQ(ConnectionsViewModel::deviceLink(twoSessions).linkColor, NorvTheme::yellow());
}

TEST(ConnectionsViewModel, RemoteControlLaneStatus) {
    const RemoteControlContent empty = ConnectionsViewModel::remoteControl(AdminSnapshot::empty().bridge);
    EXPECT_EQ(empty, (RemoteControlContent{"Norv Session Remote Control · 0 sent / 0 Live / 0 fallback",
                                           "WAITING FOR LIVE", NorvTheme::secondary(), "EVENT LANE OFF",
                                           NorvTheme::secondary()}));
    BridgeHealth health = fullSnapshot().bridge;
    const RemoteControlContent active = ConnectionsViewModel::remoteControl(health);
    EXPECT_EQ(active.detail, "Norv Session Remote Control · 5120 sent / 4987 Live / 3 fallback");
    EXPECT_EQ(active.liveText, "LIVE LINKED");
    EXPECT_EQ(active.eventStatus, "EVENT LANE ACTIVE");
    health.fastControlMidiActive = false;
    health.remoteScriptIdleSeconds = 5.0;
    const RemoteControlContent ready = ConnectionsViewModel::remoteControl(health);
    EXPECT_EQ(ready.eventStatus, "EVENT LANE READY");
    EXPECT_EQ(ready.eventColor, NorvTheme::yellow());
    EXPECT_EQ(ready.liveText, "WAITING FOR LIVE");
}

std::vector<InterfaceAddressEntry> fakeInterfaces() {
    return {
        {QHostAddress("192.168.1.20"), true, false},
        {QHostAddress("127.0.0.1"), true, true},        // loopback
        {QHostAddress("10.0.0.7"), false, false},       // down
        {QHostAddress("fe80::1"), true, false},         // IPv6
        {QHostAddress("169.254.3.4"), true, false},     // link-local
        {QHostAddress("192.168.1.100"), true, false},
        {QHostAddress("10.0.0.5"), true, false},
        {QHostAddress("192.168.1.20"), true, false},    // second interface, same address
    };
}

TEST(ManualWifiTargets, OwnInterfacesAreFilteredDeduplicatedAndSortedAsText) {
    EXPECT_EQ(LocalNetworkAddresses::ipv4(fakeInterfaces),
              (QStringList{"10.0.0.5", "192.168.1.100", "192.168.1.20"}));
    EXPECT_TRUE(LocalNetworkAddresses::ipv4([] { return std::vector<InterfaceAddressEntry>{}; }).isEmpty());
}

TEST(ManualWifiTargets, EngineAddressesWinAsReportedElseOwnInterfacesWithTheDraftPort) {
    int listed = 0;
    const InterfaceLister counting = [&] {
        ++listed;
        return fakeInterfaces();
    };
    BridgeHealth health = fullSnapshot().bridge;
    health.localAddresses = std::vector<std::string>{"192.168.1.20", "169.254.9.9", "192.168.1.20"};
    EXPECT_EQ(ManualWifiTargets::targets(health, 9311, counting),
              (QStringList{"192.168.1.20:9310", "169.254.9.9:9310", "192.168.1.20:9310"}));
    EXPECT_EQ(listed, 0);

    health.localAddresses = std::vector<std::string>{};  // empty counts as none
    health.publicPort.reset();
    const QStringList own = ManualWifiTargets::targets(health, 9400, counting);
    EXPECT_EQ(own, (QStringList{"10.0.0.5:9400", "192.168.1.100:9400", "192.168.1.20:9400"}));
    EXPECT_EQ(listed, 1);
    EXPECT_EQ(ManualWifiTargets::panel(health, own), ManualWifiTargets::Panel::targets);
    EXPECT_EQ(ManualWifiTargets::panel(health, {}), ManualWifiTargets::Panel::noAddress);
    health.wirelessEnabled = false;
    EXPECT_EQ(ManualWifiTargets::panel(health, own), ManualWifiTargets::Panel::wifiDisabled);
    EXPECT_EQ(ManualWifiTargets::panel(AdminSnapshot::empty().bridge, own), ManualWifiTargets::Panel::wifiDisabled);
}

TEST(ManualWifiTargets, CopyReplacesTheClipboardWithTheTarget) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText("something else");
    ManualWifiTargets::copy("192.168.1.20:9311", *clipboard);
    EXPECT_EQ(clipboard->text(), "192.168.1.20:9311");
}

}  // namespace
}  // namespace norv
