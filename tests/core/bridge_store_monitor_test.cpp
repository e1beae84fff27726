// The store's MIDI monitor: the event buffer, the engine subscription and the filter.
#include "tests/core/store_test_fixture.h"

namespace norv {
namespace {

using test::batch;
using test::event;
using test::events;
using test::StoreTest;

TEST_F(StoreTest, MonitorBufferTakesOnlyNewerEventsResetsOnRestartAndKeepsTheNewest4000) {
    store->start();
    admin->batchHandler(batch(events(1, 50), 50, false, 3));
    admin->batchHandler(batch(events(48, 53), 53));
    EXPECT_EQ(store->midiMonitorEvents().size(), 53u);
    EXPECT_EQ(heldSequences().back(), 53);
    EXPECT_EQ(store->midiDroppedEventCount(), 3);

    // Sequences that went backwards mean the engine restarted: start over.
    admin->batchHandler(batch(events(1, 2), 2, false, 1));
    EXPECT_EQ(heldSequences(), (std::vector<std::int64_t>{1, 2}));
    EXPECT_EQ(store->midiDroppedEventCount(), 1);

    // A reset keeps only its own events above 0.
    std::vector<MidiMonitorEvent> withZero = events(0, 3);
    admin->batchHandler(batch(withZero, 3, true, 5));
    EXPECT_EQ(heldSequences(), (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_EQ(store->midiDroppedEventCount(), 5);
    // The engine's counts add up without wrapping.
    admin->batchHandler(batch({}, 3, false, INT64_MAX));
    admin->batchHandler(batch({}, 3, false, 1));
    EXPECT_EQ(store->midiDroppedEventCount(), INT64_MAX);

    // Snapshot events follow the same rule and leave the latest sequence alone.
    AdminSnapshot snapshot = AdminSnapshot::empty();
    snapshot.midiEvents = events(3, 5);
    admin->snapshotHandler(snapshot);
    EXPECT_EQ(heldSequences().back(), 5);
    admin->batchHandler(batch({event(6)}, 6));
    EXPECT_EQ(store->midiMonitorEvents().size(), 6u) << "latest sequence 3 < 6: no reset";

    // Overflow keeps the newest 4000 in order.
    admin->batchHandler(batch(events(7, 4106), 4106));
    ASSERT_EQ(store->midiMonitorEvents().size(), 4000u);
    const std::vector<std::int64_t> held = heldSequences();
    EXPECT_EQ(held.front(), 4107 - 4000);
    EXPECT_TRUE(std::is_sorted(held.begin(), held.end()));

    // A disconnect keeps the buffer, but forgets the latest sequence.
    admin->stateHandler(AdminConnectionState::connected());
    admin->stateHandler(AdminConnectionState::disconnected("Bridge unavailable"));
    EXPECT_EQ(store->midiMonitorEvents().size(), 4000u);
    admin->batchHandler(batch(events(10, 12), 12));
    EXPECT_EQ(store->midiMonitorEvents().size(), 4000u) << "old sequences are still below the newest held";

    store->clearMidiMonitor();
    EXPECT_TRUE(store->midiMonitorEvents().empty());
    EXPECT_EQ(admin->sentOn("/admin/midi-monitor/clear").size(), 1u);
}

TEST_F(StoreTest, MonitorSubscriptionFollowsSelectionListenAndRate) {
    store->setSelection(BridgeSection::midiMonitor);
    EXPECT_TRUE(admin->sent.empty()) << "nothing before start()";

    store->start();
    const auto last = [&] { return admin->sentOn("/admin/midi-monitor/configure").back().args; };
    store->setSelection(BridgeSection::midiMonitor);
    EXPECT_EQ(last(), nlohmann::json::parse(R"([{"enabled": true, "refresh_hz": 10}])"));
    store->setSelection(BridgeSection::routes);
    EXPECT_EQ(last()[0]["enabled"], false);
    store->setSelection(std::nullopt);
    EXPECT_EQ(last()[0]["enabled"], false);

    store->setSelection(BridgeSection::midiMonitor);
    store->setMidiListenEnabled(false);
    EXPECT_EQ(last()[0]["enabled"], false);
    store->setMidiListenEnabled(true);
    store->setMidiRefreshRate(MidiMonitorRefreshRate::thirty);
    EXPECT_EQ(last()[0]["refresh_hz"], 30);
    EXPECT_EQ(settings->value("midiMonitorRefreshRate").toInt(), 30);

    const std::size_t before = admin->sentOn("/admin/midi-monitor/configure").size();
    admin->stateHandler(AdminConnectionState::connected());
    EXPECT_EQ(admin->sentOn("/admin/midi-monitor/configure").size(), before + 1) << "resent on connect";

    // The stored rate survives; an unknown stored rate falls back to 10 Hz.
    makeStore();
    EXPECT_EQ(store->midiRefreshRate(), MidiMonitorRefreshRate::thirty);
    settings->setValue("midiMonitorRefreshRate", 7);
    makeStore();
    EXPECT_EQ(store->midiRefreshRate(), MidiMonitorRefreshRate::ten);
}

TEST_F(StoreTest, MonitorFilterPublishesWithoutResubscribing) {
    store->start();
    store->setSelection(BridgeSection::midiMonitor);
    const std::size_t subscriptions = admin->sentOn("/admin/midi-monitor/configure").size();
    int changeCount = 0;
    QObject::connect(store.get(), &BridgeStore::changed, store.get(), [&] { ++changeCount; });

    MidiMonitorFilter filter;
    EXPECT_EQ(store->midiMonitorFilter(), filter) << "every event passes at first";
    filter.role = "surface";
    filter.channel = 3;
    store->setMidiMonitorFilter(filter);
    store->toggleMidiMessageFamily(MidiMessageFamily::other);
    EXPECT_EQ(changeCount, 2);
    filter.families.remove(MidiMessageFamily::other);
    EXPECT_EQ(store->midiMonitorFilter(), filter);
    EXPECT_EQ(admin->sentOn("/admin/midi-monitor/configure").size(), subscriptions);
}

// A batch is announced as touching the monitor alone, so views that show none of it can skip it;
// a change a follower makes meanwhile is announced whole, and the batch's scope comes back after.
TEST_F(StoreTest, MonitorBatchesAreAnnouncedAsMonitorOnlyChanges) {
    store->start();
    std::vector<BridgeStore::ChangeScope> scopes;
    bool selectOnce = true;
    QObject::connect(store.get(), &BridgeStore::changed, store.get(), [&] {
        scopes.push_back(store->changeScope());
        if (std::exchange(selectOnce, false)) store->setSelection(BridgeSection::routes);
        scopes.push_back(store->changeScope());
    });
    admin->batchHandler(batch(events(1, 3), 3));
    using Scope = BridgeStore::ChangeScope;
    EXPECT_EQ(scopes, (std::vector<Scope>{Scope::midiMonitorOnly, Scope::everything, Scope::everything,
                                          Scope::midiMonitorOnly}));
    EXPECT_EQ(store->changeScope(), Scope::everything);
}

}  // namespace
}  // namespace norv
