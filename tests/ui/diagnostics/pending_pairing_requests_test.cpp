// The pending pairing requests on the Diagnostics page: their rows from fixture snapshots, and
// the panel's buttons against the store with a fake admin client.
#include "tests/support/model/snapshot_fixtures.h"
#include "tests/support/qt_printers.h"
#include "tests/support/ui/page_harness.h"
#include "ui/diagnostics/diagnostics_page.h"
#include "ui/diagnostics/pending_pairing_requests_model.h"
#include "ui/diagnostics/pending_pairing_requests_panel.h"
#include "ui/pages/page_factory.h"

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

TEST(PendingPairingRequestsModel, RowsTextsAndEnabling) {
    const auto required = PendingPairingRequestsModel::rows(fullSnapshot(), true, true);
    ASSERT_EQ(required.size(), 2u);
    EXPECT_EQ(required[0].label, "Kitchen Tablet");
    EXPECT_EQ(required[0].detail, "SHA-256  c0ffee00112233445566778899aabbccddeeff00112233445566778899aabbcc");
    EXPECT_TRUE(required[0].allowEnabled);
    EXPECT_EQ(required[1].detail, "Awaiting pairing");
    EXPECT_FALSE(required[1].allowEnabled);
    EXPECT_TRUE(required[1].revokeEnabled);

    const auto optional = PendingPairingRequestsModel::rows(edgeSnapshot(), true, true);
    ASSERT_EQ(optional.size(), 2u);
    EXPECT_EQ(optional[0].label, "");  // an empty label stays empty
    EXPECT_FALSE(optional[0].detail);
    EXPECT_TRUE(optional[0].allowEnabled);
    EXPECT_EQ(optional[1].label, "New device");

    for (const PairingRequestRow& row : PendingPairingRequestsModel::rows(fullSnapshot(), true, false))
        EXPECT_FALSE(row.allowEnabled || row.revokeEnabled);
    EXPECT_TRUE(PendingPairingRequestsModel::rows(AdminSnapshot::empty(), true, true).empty());
}

TEST(PendingPairingRequestsPanel, AllowAndRevokeWithoutConfirmation) {
    PageHarness h(fullSnapshot());
    std::unique_ptr<DiagnosticsPage> page(diagnosticsPage(*h.store, h.services()));
    PendingPairingRequestsPanel& panel = *page->findChild<PendingPairingRequestsPanel*>();
    panel.show();
    QWidget* kitchen = panel.findChild<QWidget*>("note-tab-4410");
    QWidget* guest = panel.findChild<QWidget*>("ipad-guest-19fe");
    ASSERT_TRUE(kitchen && guest);
    EXPECT_FALSE(findButton(guest, "Allow")->isEnabled());
    EXPECT_TRUE(findButton(guest, "Revoke access")->isEnabled());
    findButton(kitchen, "Allow")->click();
    ASSERT_EQ(h.admin->requests.size(), 1u);
    EXPECT_EQ(h.onlyRequest().args,
              json::array({"note-tab-4410", "allow",
                           "c0ffee00112233445566778899aabbccddeeff00112233445566778899aabbcc"}));
    h.admin->complete();
    settle();
    findButton(panel.findChild<QWidget*>("ipad-guest-19fe"), "Revoke access")->click();
    EXPECT_EQ(h.onlyRequest().args, json::array({"ipad-guest-19fe", "forget"}));
    EXPECT_TRUE(h.dialogs.asked.empty());

    // No requests: nothing is drawn at all.
    AdminSnapshot none = fullSnapshot();
    none.deviceAccess->requests.clear();
    h.store->receiveSnapshot(none);
    EXPECT_TRUE(panel.isHidden());
}

}  // namespace
}  // namespace norv
