// The Devices page and its cards clicked through against the store with a fake admin client:
// which request each button records and which confirmations it asks.
#include "tests/support/ui/page_harness.h"
#include "ui/components/page_disclosure.h"
#include "ui/devices/device_card.h"
#include "ui/devices/device_endpoint_row.h"
#include "ui/devices/devices_page.h"
#include "ui/pages/page_factory.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace norv {
namespace {

using nlohmann::json;
using test::findButton;
using test::fullSnapshot;
using test::PageHarness;
using test::settle;

struct DevicesPageTest : ::testing::Test {
    PageHarness h{fullSnapshot()};
    std::unique_ptr<DevicesPage> owner{devicesPage(*h.store, h.services())};
    DevicesPage& page = *owner;

    void SetUp() override { page.show(); }

    QPushButton* cardButton(const std::string& id, const QString& title) {
        DeviceCard* card = page.card(id);
        return card ? findButton<QPushButton>(card, title) : nullptr;
    }
    void expectRequest(const std::string& path, const json& args) {
        ASSERT_EQ(h.admin->requests.size(), 1u);
        EXPECT_EQ(h.onlyRequest().path, path);
        EXPECT_EQ(h.onlyRequest().args, args);
    }
    void confirmWith(const QString& label) {
        h.admin->complete();
        EXPECT_EQ(h.store->actionMessage(), label);
        EXPECT_FALSE(h.store->actionFailed());
    }
};

TEST_F(DevicesPageTest, ListsAndGroupsFollowTheSnapshot) {
    EXPECT_TRUE(page.card("ipad-studio-7f3a"));
    EXPECT_EQ(page.knownGroup()->title(), "Known (1)");
    EXPECT_FALSE(page.knownGroup()->isExpanded());
    EXPECT_EQ(page.archivedGroup()->title(), "Archived (2)");
    EXPECT_EQ(page.revokedGroup()->title(), "Access revoked (3)");
    EXPECT_FALSE(page.connectedEmptyState());
    EXPECT_EQ(page.card("ipad-old-0a11")->statusLabel()->text(), "DISCONNECTED");

    // The engine forgets everything and the channel drops: empty state with its reason, no groups.
    h.store->receiveConnectionState(AdminConnectionState::disconnected("closed"));
    settle();
    ASSERT_TRUE(page.connectedEmptyState());
    EXPECT_TRUE(findButton(&page, "Clean devices"));
    EXPECT_FALSE(page.cleanButton()->isEnabled());
    EXPECT_TRUE(page.knownGroup()->isHidden());
    EXPECT_TRUE(page.revokedGroup()->isHidden());
    EXPECT_FALSE(page.card("ipad-studio-7f3a"));
}

TEST_F(DevicesPageTest, DisconnectAndRevokeAskFirstAndCancelSendsNothing) {
    h.dialogs.answers = {false};
    cardButton("ipad-studio-7f3a", "Disconnect")->click();
    ASSERT_EQ(h.dialogs.asked.size(), 1u);
    EXPECT_EQ(h.dialogs.asked[0].message, "Disconnect Studio iPad?");
    EXPECT_EQ(h.dialogs.asked[0].informativeText, "Playing notes will stop. Reconnection requires approval.");
    EXPECT_EQ(h.dialogs.asked[0].confirmButton, "Disconnect");
    EXPECT_TRUE(h.admin->requests.empty());

    cardButton("ipad-studio-7f3a", "Disconnect")->click();
    expectRequest("/admin/device/access", json::array({"ipad-studio-7f3a", "disconnect"}));
    // While it is in flight every card's actions are disabled.
    EXPECT_FALSE(cardButton("iphone-mini-22c1", "Revoke access")->isEnabled());
    EXPECT_FALSE(page.cleanButton()->isEnabled());
    confirmWith("Device disconnected");

    cardButton("pixel-tab-9b04", "Revoke access")->click();
    EXPECT_EQ(h.dialogs.asked.back().message, "Revoke access for Pixel Tablet?");
    EXPECT_EQ(h.dialogs.asked.back().confirmButton, "Revoke access");
    expectRequest("/admin/device/access", json::array({"pixel-tab-9b04", "forget"}));  // no fingerprint
    confirmWith("Access revoked");
}

TEST_F(DevicesPageTest, AllowConnectionSendsTheFingerprintOnlyOnceTheEngineHasOne) {
    EXPECT_FALSE(cardButton("ipad-old-0a11", "Allow connection")->isEnabled());
    AdminSnapshot withCertificate = fullSnapshot();
    (*withCertificate.deviceAccess->certificates)["ipad-old-0a11"] = "beef";
    h.store->receiveSnapshot(withCertificate);
    ASSERT_TRUE(cardButton("ipad-old-0a11", "Allow connection")->isEnabled());
    cardButton("ipad-old-0a11", "Allow connection")->click();
    EXPECT_TRUE(h.dialogs.asked.empty());
    expectRequest("/admin/device/access", json::array({"ipad-old-0a11", "allow", "beef"}));
    confirmWith("Device allowed");
}

TEST_F(DevicesPageTest, ArchiveRestoreAndRename) {
    cardButton("ipad-old-0a11", "Archive")->click();
    expectRequest("/admin/device/archive", json::array({"ipad-old-0a11", true}));
    confirmWith("Device archived");

    cardButton("ipad-loaner-5e77", "Restore")->click();
    expectRequest("/admin/device/archive", json::array({"ipad-loaner-5e77", false}));
    confirmWith("Device restored");

    DeviceCard* card = page.card("ipad-studio-7f3a");
    EXPECT_EQ(card->nameField()->text(), "Studio iPad");
    QPushButton* rename = findButton<QPushButton>(card, "Rename");
    EXPECT_FALSE(rename->isEnabled());  // the current label
    card->nameField()->setText("  Stage Left");
    ASSERT_TRUE(rename->isEnabled());
    rename->click();
    expectRequest("/admin/device/rename", json::array({"ipad-studio-7f3a", "  Stage Left"}));
    confirmWith("Rename requested");
    EXPECT_EQ(card->nameField()->text(), "  Stage Left");  // kept until the engine reports a new label

    AdminSnapshot renamed = fullSnapshot();
    renamed.devices[0].label = "Stage Left";
    h.store->receiveSnapshot(renamed);
    EXPECT_EQ(page.card("ipad-studio-7f3a"), card);
    EXPECT_EQ(card->nameField()->text(), "Stage Left");

    findButton<QPushButton>(card, "Use previous name: Norv iPad")->click();
    expectRequest("/admin/device/rename", json::array({"ipad-studio-7f3a", "Norv iPad"}));
}

// The name and ports are built when first opened, from the snapshot current then.
TEST_F(DevicesPageTest, NameAndPortsOpenedLateShowTheLatestDevice) {
    DeviceCard* card = page.card("ipad-studio-7f3a");
    EXPECT_FALSE(findButton<QPushButton>(card, "Rename"));
    AdminSnapshot renamed = fullSnapshot();
    renamed.devices[0].label = "Stage Left";
    h.store->receiveSnapshot(renamed);
    card->details()->setExpanded(true);
    EXPECT_EQ(card->nameField()->text(), "Stage Left");
    EXPECT_TRUE(card->nameField()->isVisible());
    EXPECT_FALSE(findButton<QPushButton>(card, "Rename")->isEnabled());
    EXPECT_TRUE(findButton<QPushButton>(card, "Use previous name: Norv iPad"));
}

// A card's port rows are kept by endpoint id: a renamed port keeps its row, and a port added or
// removed between the others leaves their rows alone.
TEST_F(DevicesPageTest, PortRowsAreKeptByEndpointId) {
    DeviceCard* card = page.card("ipad-studio-7f3a");
    card->details()->setExpanded(true);
    const auto row = [card](const char* id) { return card->findChild<DeviceEndpointRow*>(id); };
    DeviceEndpointRow* instrument = row("instrument:1234");
    DeviceEndpointRow* surface = row("surface:1236");
    ASSERT_TRUE(instrument && surface);
    const auto shows = [](QWidget* widget, const QString& text) {
        for (QLabel* label : widget->findChildren<QLabel*>())
            if (label->text() == text) return true;
        return false;
    };

    AdminSnapshot snapshot = fullSnapshot();
    std::vector<MidiEndpoint>& endpoints = snapshot.devices[0].endpoints;
    endpoints[1].name = "Stage Surface";
    h.store->receiveSnapshot(snapshot);
    settle();
    EXPECT_EQ(row("instrument:1234"), instrument);
    EXPECT_EQ(row("surface:1236"), surface);
    EXPECT_TRUE(shows(surface, "Stage Surface"));

    MidiEndpoint second = endpoints[0];
    second.sourceUniqueId = 1235;
    endpoints.insert(endpoints.begin() + 1, second);
    h.store->receiveSnapshot(snapshot);
    settle();
    EXPECT_TRUE(row("instrument:1235"));
    EXPECT_EQ(row("instrument:1234"), instrument);
    EXPECT_EQ(row("surface:1236"), surface);

    endpoints.erase(endpoints.begin() + 1);
    h.store->receiveSnapshot(snapshot);
    settle();
    EXPECT_FALSE(row("instrument:1235"));
    EXPECT_EQ(row("instrument:1234"), instrument);
    EXPECT_EQ(row("surface:1236"), surface);
}

TEST_F(DevicesPageTest, RevokedRowAllowsPairingWhileCertificatesAreRequired) {
    QPushButton* allow = findButton<QPushButton>(page.revokedGroup(), "Allow pairing");
    ASSERT_TRUE(allow);
    allow->click();
    expectRequest("/admin/device/access", json::array({"galaxy-s9-31d0", "pair"}));
    confirmWith("Pairing allowed");

    AdminSnapshot relaxed = fullSnapshot();
    relaxed.deviceAccess->requireCertificate = false;
    h.store->receiveSnapshot(relaxed);
    settle();
    findButton<QPushButton>(page.revokedGroup(), "Allow again")->click();
    expectRequest("/admin/device/access", json::array({"galaxy-s9-31d0", "allow"}));
}

TEST_F(DevicesPageTest, CleanSendsOnlyCapturedIdsStillOfferedAtConfirmation) {
    h.dialogs.answers = {false};
    page.cleanButton()->click();
    EXPECT_EQ(h.dialogs.asked.back().message, "Clean 3 device records?");
    EXPECT_EQ(h.dialogs.asked.back().confirmButton, "Clean devices");
    EXPECT_TRUE(h.admin->requests.empty());
    EXPECT_FALSE(page.cleanupSelection());

    // While the question is open the engine drops one id and offers a new one.
    h.dialogs.whileOpen = [&] {
        EXPECT_TRUE(page.cleanupSelection());
        AdminSnapshot changed = fullSnapshot();
        changed.deviceAccess->forgotten = {"galaxy-s9-31d0", "late-arrival"};
        h.store->receiveSnapshot(changed);
    };
    page.cleanButton()->click();
    expectRequest("/admin/devices/clean", json::parse(R"([["galaxy-s9-31d0","ipad-loaner-5e77"]])"));
    confirmWith("Device records cleaned");
}

TEST_F(DevicesPageTest, CleanSendsNothingWhenNoCapturedIdRemains) {
    h.dialogs.whileOpen = [&] {
        AdminSnapshot changed = fullSnapshot();
        changed.deviceAccess.reset();
        h.store->receiveSnapshot(changed);
    };
    page.cleanButton()->click();
    EXPECT_EQ(h.dialogs.asked.size(), 1u);
    EXPECT_TRUE(h.admin->requests.empty());
    EXPECT_FALSE(h.store->actionMessage());
}

}  // namespace
}  // namespace norv
