// The Overview page over a store: its shortcuts, hardware rows and the engine's error banner.
#include "core/bridge_tls_identity_error.h"
#include "tests/support/ui/page_harness.h"
#include "ui/overview/overview_page.h"
#include "ui/pages/page_factory.h"

#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

namespace norv {
namespace {

using test::findButton;
using test::fullSnapshot;
using test::PageHarness;

TEST(OverviewPage, ShortcutsSelectTheirPagesAndTheBannerFollowsTheHostError) {
    PageHarness h(fullSnapshot());
    std::optional<QString>& hostError = h.engine->failure;
    std::unique_ptr<OverviewPage> owner(overviewPage(*h.store, h.services()));
    OverviewPage& page = *owner;
    findButton(&page, "Diagnostics")->click();
    EXPECT_EQ(h.store->selection(), BridgeSection::logs);
    findButton(&page, "Connections")->click();
    EXPECT_EQ(h.store->selection(), BridgeSection::connections);
    EXPECT_TRUE(page.hardwarePanel()->findChild<QWidget*>("pixel-tab-9b04"));
    EXPECT_FALSE(page.hardwarePanel()->findChild<QWidget*>("galaxy-s9-31d0"));

    EXPECT_FALSE(page.actionBanner());
    hostError = QStringLiteral("Bridge exited with status 1");
    h.store->receiveSnapshot(fullSnapshot());
    ASSERT_TRUE(page.actionBanner());
    EXPECT_EQ(page.actionBanner()->findChild<QLabel*>("lastError")->text(), "Bridge exited with status 1");
    hostError.reset();
    h.store->receiveSnapshot(fullSnapshot());
    EXPECT_FALSE(page.actionBanner());
}

// A keyring prompt dismissed on the first start: the banner says so and offers to try again, which
// starts the bridge; other failures, and a start under way, offer nothing.
TEST(OverviewPage, ADismissedKeyringPromptOffersToTryAgain) {
    PageHarness h(fullSnapshot(), false);
    h.store->receiveConnectionState(AdminConnectionState::stopped());  // no engine answers
    std::unique_ptr<OverviewPage> owner(overviewPage(*h.store, h.services()));
    OverviewPage& page = *owner;
    h.engine->failure = QStringLiteral("Bridge exited with status 1");
    h.store->receiveSnapshot(fullSnapshot());
    EXPECT_FALSE(findButton(&page, "Try Again"));

    h.engine->failure = BridgeTLSIdentityError::keyringNotCreatedDescription();
    h.store->receiveSnapshot(fullSnapshot());
    ASSERT_TRUE(page.actionBanner());
    EXPECT_EQ(page.actionBanner()->findChild<QLabel*>("lastError")->text(), *h.engine->failure);
    ASSERT_TRUE(findButton(&page, "Try Again"));
    findButton(&page, "Try Again")->click();
    EXPECT_EQ(h.engine->starts.size(), 1u);
    h.engine->preparing = true;
    h.store->receiveSnapshot(fullSnapshot());
    EXPECT_FALSE(findButton(&page, "Try Again"));
}

}  // namespace
}  // namespace norv
