#include "tests/support/model/monitor_event_fixtures.h"
#include "ui/routes/route_card.h"
#include "ui/routes/routes_page.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QToolButton>
#include <gtest/gtest.h>

namespace norv {
namespace {

// The store's state: an assignment in flight unless nothing is pending.
RoutesPage::State routesState(const AdminSnapshot& snapshot, bool canChange, bool nothingPending) {
    std::set<std::string> pending;
    if (!nothingPending) pending.insert("/admin/device/assign");
    return {snapshot, canChange, pending};
}

TEST(RoutesPage, CardsPerDeviceGroupAndAssignmentsGoThroughTheAction) {
    std::vector<std::pair<std::string, std::optional<std::int64_t>>> assigned;
    RoutesPage::Actions actions;
    actions.assign = [&](const BridgeDevice& device, const std::optional<LiveTrack>& track) {
        assigned.emplace_back(device.deviceId, track ? std::optional(track->liveId) : std::nullopt);
    };
    RoutesPage page(actions);
    AdminSnapshot snapshot = test::fullSnapshot();
    page.setState(routesState(snapshot, true, true));

    // Three connected devices, one known offline; the archived ones get no card.
    ASSERT_EQ(page.cards().size(), 4u);
    ASSERT_NE(page.knownDevicesToggle(), nullptr);
    EXPECT_EQ(page.knownDevicesToggle()->text(), "Known devices (1)");
    EXPECT_TRUE(page.cards()[0]->picker()->isEnabled());

    QComboBox* picker = page.cards()[0]->picker();
    picker->setCurrentIndex(2);  // Bass
    Q_EMIT picker->activated(2);
    ASSERT_EQ(assigned.size(), 1u);
    EXPECT_EQ(assigned[0].first, "ipad-studio-7f3a");
    EXPECT_EQ(assigned[0].second, 102);

    // A request in flight: every picker is disabled; a refresh sends nothing.
    page.setState(routesState(snapshot, true, false));
    EXPECT_FALSE(page.cards()[0]->picker()->isEnabled());
    EXPECT_EQ(assigned.size(), 1u);

    for (BridgeDevice& device : snapshot.devices) device.archived = true;
    page.setState(routesState(snapshot, true, true));
    EXPECT_TRUE(page.cards().empty());
    EXPECT_EQ(page.knownDevicesToggle(), nullptr);
}

}  // namespace
}  // namespace norv

namespace norv {
namespace {

TEST(RoutesPage, AStoreThatRefreshesDuringTheChoiceIsSafe) {
    AdminSnapshot snapshot = test::fullSnapshot();
    RoutesPage* view = nullptr;
    RoutesPage::Actions actions;
    int sent = 0;
    actions.assign = [&](const BridgeDevice&, const std::optional<LiveTrack>&) {
        ++sent;
        view->setState(routesState(snapshot, true, false));  // the store publishes "Applying…" at once
    };
    RoutesPage page(actions);
    view = &page;
    page.setState(routesState(snapshot, true, true));
    QComboBox* picker = page.cards()[0]->picker();
    picker->setCurrentIndex(0);
    Q_EMIT picker->activated(0);
    EXPECT_EQ(sent, 1);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(page.cards()[0]->picker()->isEnabled());
}

}  // namespace
}  // namespace norv

#include <QAbstractItemView>
#include <QApplication>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>

namespace norv {
namespace {

// The user has a picker open, another focused and the page scrolled when the engine reports:
// first the same state, then one where another device's assignment moved.
TEST(RoutesPage, SnapshotsLeaveOpenPickersFocusAndScrollAloneAndMoveWhatTheUserDidNotTouch) {
    AdminSnapshot snapshot = test::fullSnapshot();
    RoutesPage page(RoutesPage::Actions{});
    page.resize(900, 400);
    page.setState(routesState(snapshot, true, true));
    page.show();
    QApplication::setActiveWindow(&page);
    const std::vector<RouteCard*> cards = page.cards();
    ASSERT_EQ(cards.size(), 4u);
    QScrollBar* scroll = page.verticalScrollBar();
    scroll->setValue(scroll->maximum() / 2);
    const int scrolled = scroll->value();
    ASSERT_GT(scrolled, 0);

    QComboBox* open = cards[0]->picker();
    open->setCurrentIndex(3);  // highlighted, not yet chosen
    open->showPopup();
    ASSERT_TRUE(open->view()->isVisible());
    const QList<QObject*> before = page.findChildren<QObject*>();

    page.setState(routesState(snapshot, true, true));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(page.findChildren<QObject*>(), before);
    EXPECT_TRUE(open->view()->isVisible());
    EXPECT_EQ(open->currentIndex(), 3);
    EXPECT_EQ(scroll->value(), scrolled);

    snapshot.devices[1].assignedTrackLiveId = 103;  // the engine moves Pocket iPhone to Pads
    snapshot.devices[1].assignedTrackName = "Pads";
    page.setState(routesState(snapshot, true, true));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(page.cards(), cards);
    EXPECT_TRUE(open->view()->isVisible());
    EXPECT_EQ(open->currentIndex(), 3);
    EXPECT_EQ(cards[1]->picker()->currentText(), "Pads");
    EXPECT_EQ(scroll->value(), scrolled);
    open->hidePopup();

    cards[1]->picker()->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), cards[1]->picker());
    page.setState(routesState(snapshot, true, true));
    EXPECT_EQ(QApplication::focusWidget(), cards[1]->picker());

    // The device's name and its transport are separate labels.
    EXPECT_EQ(cards[0]->nameLabel()->text(), "Studio iPad");
    EXPECT_EQ(cards[0]->transportLabel()->text(), "WI-FI");
    EXPECT_GE(cards[0]->transportLabel()->x(), cards[0]->nameLabel()->geometry().right() + 8);
}

// Every picker reads one track list: a rename and a removal reach each picker in place, an open
// popup stays open, each picker's current entry follows its device's assigned track, and a picker
// is as wide as a combo box holding the same entries.
TEST(RoutesPage, RenamedRemovedAndReturningTracksReachEveryPickerInPlace) {
    AdminSnapshot snapshot = test::fullSnapshot();
    RoutesPage page(RoutesPage::Actions{});
    page.setState(routesState(snapshot, true, true));
    page.show();
    const std::vector<RouteCard*> cards = page.cards();
    ASSERT_EQ(cards.size(), 4u);
    QComboBox* open = cards[2]->picker();  // Pads
    open->showPopup();
    ASSERT_TRUE(open->view()->isVisible());

    snapshot.liveTracks[0].name = "Grand Keys for the second set";
    snapshot.devices[0].assignedTrackName = "Grand Keys for the second set";
    page.setState(routesState(snapshot, true, true));
    EXPECT_EQ(cards[0]->picker()->currentText(), "Grand Keys for the second set");
    EXPECT_EQ(cards[3]->picker()->itemText(1), "Grand Keys for the second set");

    const LiveTrack bass = snapshot.liveTracks[1];
    snapshot.liveTracks.erase(snapshot.liveTracks.begin() + 1);  // Pocket iPhone stays assigned to it
    page.setState(routesState(snapshot, true, true));
    EXPECT_EQ(cards[1]->picker()->currentText(), QString::fromUtf8("Unavailable · Bass"));
    EXPECT_EQ(cards[1]->picker()->count(), 5);
    EXPECT_EQ(cards[0]->picker()->count(), 4);
    EXPECT_EQ(cards[0]->picker()->currentText(), "Grand Keys for the second set");
    EXPECT_EQ(open->currentText(), "Pads");
    EXPECT_TRUE(open->view()->isVisible());

    snapshot.liveTracks.insert(snapshot.liveTracks.begin() + 1, bass);
    page.setState(routesState(snapshot, true, true));
    EXPECT_EQ(cards[1]->picker()->count(), 5);
    EXPECT_EQ(cards[1]->picker()->currentText(), "Bass");
    EXPECT_EQ(cards[1]->picker()->currentData().value<qint64>(), 102);
    EXPECT_EQ(open->currentText(), "Pads");
    EXPECT_TRUE(open->view()->isVisible());
    EXPECT_EQ(page.cards(), cards);
    open->hidePopup();

    // Sized as a combo box holding the same entries.
    QComboBox* picker = cards[1]->picker();
    QComboBox plain(cards[1]);
    for (int i = 0; i < picker->count(); ++i) plain.addItem(picker->itemText(i));
    EXPECT_EQ(picker->sizeHint(), plain.sizeHint());
}

}  // namespace
}  // namespace norv

#include "tests/support/ui/page_harness.h"
#include "ui/pages/page_factory.h"

namespace norv {
namespace {

// The engine refuses a choice and reports the assignment it keeps: the picker shows that one,
// as a page built from the same snapshot would.
TEST(RoutesPage, ARefusedChoiceLeavesThePickerOnTheAssignedTrack) {
    test::PageHarness h(test::fullSnapshot());
    std::unique_ptr<QWidget> widget(makePage(BridgeSection::routes, *h.store, {h.dialogs, {}}, nullptr));
    auto* page = qobject_cast<RoutesPage*>(widget.get());
    ASSERT_TRUE(page);
    RouteCard* card = page->cards()[0];  // Studio iPad, assigned to Keys
    QComboBox* picker = card->picker();
    ASSERT_EQ(picker->currentText(), "Keys");

    const int bass = picker->findText("Bass");
    picker->setCurrentIndex(bass);
    Q_EMIT picker->activated(bass);
    ASSERT_EQ(h.admin->requests.size(), 1u);
    EXPECT_EQ(h.onlyRequest().path, "/admin/device/track/assign");
    h.admin->complete(QStringLiteral("Track is locked"));
    h.store->receiveSnapshot(test::fullSnapshot());
    test::settle();
    EXPECT_EQ(page->cards()[0], card);
    EXPECT_EQ(picker->currentText(), "Keys");
}

}  // namespace
}  // namespace norv
