#include "tests/support/model/monitor_event_fixtures.h"
#include "ui/routes/route_card.h"

#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace norv {
namespace {

// Chooses an entry the way a user does: the index changes, then `activated` fires.
void choose(QComboBox* picker, int index) {
    picker->setCurrentIndex(index);
    Q_EMIT picker->activated(index);
}

TEST(RouteCard, OnlyAUsersChoiceOfAnotherTrackIsReported) {
    AdminSnapshot snapshot = test::fullSnapshot();
    BridgeDevice device = snapshot.devices[0];  // assigned to Keys (101)
    device.assignedTrackLiveId = 105;           // Vocals: no MIDI input, offered as "Unavailable · "
    device.assignedTrackName = "Vocals";
    RouteCard card(RouteCardContent::of(device, snapshot, true));
    QSignalSpy chosen(&card, &RouteCard::trackChosen);

    QComboBox* picker = card.picker();
    EXPECT_EQ(picker->currentText(), QString::fromUtf8("Unavailable · Vocals"));
    EXPECT_EQ(card.routeLabel()->text(), "WAITING");

    choose(picker, picker->currentIndex());  // the value in force: nothing to send
    EXPECT_EQ(chosen.count(), 0);

    // A new snapshot refills the picker, with a different selection: still nothing sent.
    device.assignedTrackLiveId = 102;
    snapshot.liveTracks.pop_back();
    card.setContent(RouteCardContent::of(device, snapshot, true));
    EXPECT_EQ(picker->currentText(), "Bass");
    EXPECT_EQ(picker->count(), 5);  // "No layer selected" and the four MIDI tracks
    EXPECT_EQ(chosen.count(), 0);

    choose(picker, 0);  // "No layer selected"
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.at(0).at(0).toString(), "ipad-studio-7f3a");
    EXPECT_EQ(chosen.at(0).at(1).value<qint64>(), -1);

    card.setContent(RouteCardContent::of(device, snapshot, false));
    EXPECT_FALSE(picker->isEnabled());
    EXPECT_EQ(chosen.count(), 1);
}

}  // namespace
}  // namespace norv

#include "ui/routes/routes_view_model.h"
#include "ui/routes/track_routing_row.h"

namespace norv {
namespace {

TEST(TrackRoutingRow, ShowsStatusAndArmedStateOfTheFixtureTracks) {
    const AdminSnapshot snapshot = test::fullSnapshot();
    const auto plans = RoutesViewModel::plans(snapshot);
    ASSERT_EQ(plans.size(), 3u);
    TrackRoutingRow pads(plans[2], RoutesViewModel::status(snapshot, plans[2]));
    EXPECT_EQ(pads.statusLabel()->text(), "MANUAL OVERRIDE");
    EXPECT_EQ(pads.armedLabel()->text(), "ARMED");
    TrackRoutingRow waiting(plans[1], std::nullopt);
    EXPECT_EQ(waiting.statusLabel()->text(), "WAITING FOR LIVE");
    EXPECT_EQ(waiting.armedLabel()->text(), "NOT ARMED");
}

}  // namespace
}  // namespace norv
