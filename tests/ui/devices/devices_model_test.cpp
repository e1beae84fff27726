// The Devices page's lists and clean-up rules and the device card's derived values, from fixture
// snapshots.
#include "tests/support/model/snapshot_fixtures.h"
#include "tests/support/qt_printers.h"
#include "model/admin_commands.h"
#include "ui/devices/device_card_model.h"
#include "ui/devices/devices_view_model.h"
#include "ui/theme/norv_theme.h"

#include <gtest/gtest.h>

namespace norv {
namespace {

using Button = DeviceCardModel::Button;
using test::deviceById;
using test::edgeSnapshot;
using test::fullSnapshot;

// The arguments of the clean-up the page would send; none when it sends nothing.
std::optional<nlohmann::json> cleanupArgs(const std::vector<std::string>& captured,
                                          const std::vector<std::string>& offered) {
    const auto command = AdminCommands::cleanDevices(captured, offered);
    if (!command) return std::nullopt;
    return command->args;
}

std::vector<std::string> ids(const std::vector<BridgeDevice>& devices) {
    std::vector<std::string> result;
    for (const BridgeDevice& device : devices) result.push_back(device.deviceId);
    return result;
}

TEST(DevicesViewModel, GroupsKeepEngineOrderAndConnectedWinsOverArchived) {
    AdminSnapshot snapshot = fullSnapshot();
    snapshot.devices[0].archived = true;  // connected and archived: still among the connected
    const DeviceGroups groups = DevicesViewModel::groups(snapshot);
    EXPECT_EQ(ids(groups.connected), (std::vector<std::string>{"ipad-studio-7f3a", "iphone-mini-22c1", "pixel-tab-9b04"}));
    EXPECT_EQ(ids(groups.known), (std::vector<std::string>{"ipad-old-0a11"}));
    EXPECT_EQ(ids(groups.archived), (std::vector<std::string>{"galaxy-s9-31d0", "ipad-loaner-5e77"}));
    EXPECT_EQ(DevicesViewModel::groupTitle("Archived", groups.archived.size()), "Archived (2)");
}

TEST(DevicesViewModel, RevokedRowsFollowForgottenIds) {
    const auto full = DevicesViewModel::revoked(fullSnapshot());
    ASSERT_EQ(full.size(), 3u);
    EXPECT_EQ(full[1].deviceId, "old_phone_04");
    EXPECT_EQ(full[1].displayName(), "Unknown device");
    EXPECT_EQ(full[1].details(), "old_phone_04");
    // A revoked record whose id is not forgotten is not shown.
    const auto edge = DevicesViewModel::revoked(edgeSnapshot());
    ASSERT_EQ(edge.size(), 1u);
    EXPECT_EQ(edge[0].deviceId, "ghost-1");
    EXPECT_TRUE(DevicesViewModel::revoked(AdminSnapshot::empty()).empty());

    EXPECT_EQ(DevicesViewModel::revokedButtonTitle(fullSnapshot()), "Allow pairing");
    EXPECT_EQ(DevicesViewModel::revokedAction(fullSnapshot()).rawValue(), "pair");
    EXPECT_EQ(DevicesViewModel::revokedButtonTitle(edgeSnapshot()), "Allow again");
    EXPECT_EQ(DevicesViewModel::revokedAction(AdminSnapshot::empty()).rawValue(), "allow");
}

TEST(DevicesViewModel, CleanButtonNeedsIdsUpToTheLimitAndNoRequestInFlight) {
    AdminSnapshot snapshot = fullSnapshot();
    const std::set<std::string> none;
    EXPECT_TRUE(DevicesViewModel::cleanEnabled(snapshot, true, none));
    EXPECT_FALSE(DevicesViewModel::cleanEnabled(snapshot, false, none));
    EXPECT_FALSE(DevicesViewModel::cleanEnabled(snapshot, true, {"/admin/device/rename"}));
    EXPECT_FALSE(DevicesViewModel::cleanEnabled(edgeSnapshot(), true, none));  // no certificates: no ids

    snapshot.deviceAccess->forgotten.clear();
    for (int i = 0; i < 1022; ++i) snapshot.deviceAccess->forgotten.push_back(std::string(1, 'f').append(std::to_string(i)));
    ASSERT_EQ(snapshot.cleanupDeviceIDs().size(), 1024u);  // plus the two archived offline devices
    EXPECT_TRUE(DevicesViewModel::cleanEnabled(snapshot, true, none));
    snapshot.deviceAccess->forgotten.push_back("one-too-many");
    EXPECT_FALSE(DevicesViewModel::cleanEnabled(snapshot, true, none));
}

TEST(DevicesViewModel, CleanupSendsOnlyCapturedIdsStillOfferedAndNothingWhenNoneRemain) {
    const std::vector<std::string> captured{"a", "b", "c"};
    EXPECT_EQ(cleanupArgs(captured, {"a", "b", "c", "d"}),
              nlohmann::json::parse(R"([["a","b","c"]])"));  // "d" came later: not confirmed
    EXPECT_EQ(cleanupArgs(captured, {"c", "a"}), nlohmann::json::parse(R"([["a","c"]])"));
    EXPECT_FALSE(cleanupArgs(captured, {"x"}));
    EXPECT_FALSE(cleanupArgs(captured, {}));
    EXPECT_EQ(DevicesViewModel::cleanupTitle(captured), "Clean 3 device records?");
    EXPECT_EQ(DevicesViewModel::cleanupTitle(std::nullopt), "Clean 0 device records?");
    EXPECT_EQ(DevicesViewModel::connectedEmptyDetail(AdminConnectionState::disconnected("gone")), "Bridge unavailable");
    EXPECT_EQ(DevicesViewModel::connectedEmptyDetail(AdminConnectionState::connected()), "");
}

DeviceCardModel card(const AdminSnapshot& snapshot, const std::string& id, bool canChange = true,
                     bool nothingPending = true) {
    return DeviceCardModel(deviceById(snapshot, id), snapshot.deviceAccess, canChange, nothingPending);
}

// What the card's Archive or Restore button sends.
AdminCommand archiveCommand(const DeviceCardModel& model) {
    return AdminCommands::archiveDevice(model.device().deviceId, model.archiveFlag());
}

TEST(DeviceCardModel, ButtonsByAccessStateConnectionAndArchive) {
    const AdminSnapshot full = fullSnapshot();
    const AdminSnapshot edge = edgeSnapshot();
    EXPECT_EQ(card(full, "ipad-studio-7f3a").actionButtons(), (std::vector<Button>{Button::disconnect, Button::revoke}));
    EXPECT_EQ(card(full, "ipad-old-0a11").actionButtons(),  // paused, offline, archived absent
              (std::vector<Button>{Button::allowConnection, Button::archive, Button::revoke}));
    EXPECT_EQ(card(full, "ipad-loaner-5e77").actionButtons(), (std::vector<Button>{Button::restore, Button::revoke}));
    EXPECT_EQ(card(edge, "tab-usb").actionButtons(),  // paused and connected
              (std::vector<Button>{Button::allowConnection, Button::revoke}));
    EXPECT_EQ(card(edge, "old-phone").actionButtons(), (std::vector<Button>{Button::archive, Button::revoke}));

    EXPECT_EQ(archiveCommand(card(full, "ipad-old-0a11")).args, nlohmann::json::parse(R"(["ipad-old-0a11", true])"));
    EXPECT_EQ(archiveCommand(card(full, "ipad-old-0a11")).label, "Device archived");
    EXPECT_EQ(archiveCommand(card(full, "ipad-loaner-5e77")).args,
              nlohmann::json::parse(R"(["ipad-loaner-5e77", false])"));
    EXPECT_EQ(archiveCommand(card(full, "ipad-loaner-5e77")).label, "Device restored");
}

TEST(DeviceCardModel, AllowNeedsAFingerprintOnlyWhileCertificatesAreRequired) {
    AdminSnapshot snapshot = fullSnapshot();  // certificates required, none for the paused iPad
    EXPECT_FALSE(card(snapshot, "ipad-old-0a11").enabled(Button::allowConnection));
    EXPECT_TRUE(card(snapshot, "ipad-old-0a11").enabled(Button::revoke));
    (*snapshot.deviceAccess->certificates)["ipad-old-0a11"] = "feed";
    EXPECT_TRUE(card(snapshot, "ipad-old-0a11").enabled(Button::allowConnection));
    EXPECT_EQ(card(snapshot, "ipad-old-0a11").certificateFingerprint(), "feed");
    snapshot.deviceAccess->requireCertificate = false;
    snapshot.deviceAccess->certificates.reset();
    EXPECT_TRUE(card(snapshot, "ipad-old-0a11").enabled(Button::allowConnection));
    // Any request in flight, or no right to change, disables every button.
    EXPECT_FALSE(card(snapshot, "ipad-old-0a11", true, false).enabled(Button::revoke));
    EXPECT_FALSE(card(snapshot, "ipad-old-0a11", false, true).enabled(Button::archive));
}

TEST(DeviceCardModel, HeaderTextsTintAndNameStatus) {
    const AdminSnapshot edge = edgeSnapshot();
    const DeviceCardModel paused = card(edge, "tab-usb");
    EXPECT_EQ(paused.statusText(), "DISCONNECTED");  // paused wins over the transport
    EXPECT_EQ(paused.tint(), NorvTheme::teal());     // the tint follows the connection
    EXPECT_EQ(paused.subtitle(), "IOS 17");          // no model: the platform in capitals
    EXPECT_EQ(paused.nameStatusLabel(), "Confirm on tablet");
    const DeviceCardModel offline = card(edge, "spare-tab");
    EXPECT_EQ(offline.statusText(), "OFFLINE");
    EXPECT_EQ(offline.tint(), NorvTheme::secondary());
    EXPECT_EQ(card(edge, "old-phone").statusText(), "LAST USB");
    EXPECT_EQ(card(edge, "old-phone").nameStatusLabel(), "My Norv name changed");
    EXPECT_FALSE(card(fullSnapshot(), "ipad-studio-7f3a").nameStatusLabel());  // "confirmed" has no line
    EXPECT_EQ(card(fullSnapshot(), "ipad-studio-7f3a").subtitle(), "iPad Pro (12.9-inch)");
    EXPECT_EQ(card(fullSnapshot(), "ipad-studio-7f3a").versionLine(), "App 3.2.0 · Protocol 7");
}

TEST(DeviceCardModel, RenameRule) {
    const AdminSnapshot full = fullSnapshot();
    const DeviceCardModel connected = card(full, "ipad-studio-7f3a");  // label "Studio iPad"
    EXPECT_TRUE(connected.renameEnabled(QString(48, QChar(u'é'))));
    EXPECT_FALSE(connected.renameEnabled(QString(49, QChar(u'é'))));
    EXPECT_TRUE(connected.renameEnabled(QString::fromUcs4(U"\U0001F3B9", 1).repeated(48)));  // scalars, not units
    EXPECT_FALSE(connected.renameEnabled(QString::fromUtf8("  \t\u00A0\u2003")));
    EXPECT_TRUE(connected.renameEnabled("\nStage"));  // line breaks are not trimmed
    EXPECT_TRUE(connected.renameEnabled("  Stage"));
    EXPECT_FALSE(connected.renameEnabled("Studio iPad"));
    EXPECT_FALSE(card(full, "ipad-studio-7f3a", true, false).renameEnabled("Stage"));
    EXPECT_EQ(AdminCommands::renameDevice(connected.device().deviceId, "  Stage").args,
              nlohmann::json::parse(R"(["ipad-studio-7f3a", "  Stage"])"));

    BridgeDevice accented = deviceById(full, "ipad-studio-7f3a");
    accented.label = "Caf\u00e9";  // precomposed; the draft below is decomposed
    EXPECT_FALSE(DeviceCardModel(accented, full.deviceAccess, true, true).renameEnabled("Cafe\u0301"));

    const AdminSnapshot edge = edgeSnapshot();
    EXPECT_FALSE(card(edge, "tab-usb").renameEnabled("New"));    // confirm on tablet
    EXPECT_FALSE(card(edge, "old-phone").renameEnabled("New"));  // offline with the name capability
    EXPECT_TRUE(card(edge, "spare-tab").renameEnabled("New"));   // offline without it
}

TEST(DeviceCardModel, PreviousNameButton) {
    const AdminSnapshot full = fullSnapshot();
    EXPECT_EQ(card(full, "ipad-studio-7f3a").previousNameTitle(), "Use previous name: Norv iPad");
    EXPECT_TRUE(card(full, "ipad-studio-7f3a").previousNameEnabled());
    EXPECT_FALSE(card(full, "iphone-mini-22c1").previousNameTitle());
    const DeviceCardModel confirming = card(edgeSnapshot(), "tab-usb");
    EXPECT_EQ(confirming.previousNameTitle(), "Use previous name: Desk iPad (old)");
    EXPECT_FALSE(confirming.previousNameEnabled());
}

TEST(DeviceCardModel, EndpointRowsNamePortsOnce) {
    const auto shared = card(edgeSnapshot(), "tab-usb").endpointRows();
    ASSERT_EQ(shared.size(), 1u);
    EXPECT_EQ(shared[0], (EndpointRowContent{"instrument:7", "PLAY + SURFACE", "pianokey", "Norv Desk"}));
    const auto distinct = card(fullSnapshot(), "ipad-studio-7f3a").endpointRows();
    ASSERT_EQ(distinct.size(), 2u);
    EXPECT_EQ(distinct[0].title, "Instrument");
    EXPECT_EQ(distinct[1], (EndpointRowContent{"surface:1236", "MIDI Surface", "slider.horizontal.3",
                                               "Norv Studio iPad Surface"}));
}

TEST(DeviceCardModel, ConfirmationTexts) {
    EXPECT_EQ(DeviceCardModel::confirmationTitle(DeviceAccessAction::forget, "Pad"), "Revoke access for Pad?");
    EXPECT_EQ(DeviceCardModel::confirmationTitle(DeviceAccessAction::disconnect, "Pad"), "Disconnect Pad?");
    EXPECT_EQ(DeviceCardModel::confirmationButton(DeviceAccessAction::forget), "Revoke access");
    EXPECT_EQ(DeviceCardModel::confirmationMessage(DeviceAccessAction::disconnect),
              "Playing notes will stop. Reconnection requires approval.");
}

}  // namespace
}  // namespace norv
