// The demo session that the shipped runtime plays: its data is a valid snapshot, and the fake
// engine playing it answers actions so the next snapshot shows them, and sends MIDI monitor
// batches while the monitor listens.
#include "core/admin_channel_client.h"
#include "core/bridge_error.h"
#include "model/admin_connection_state.h"
#include "model/admin_snapshot.h"
#include "model/midi_monitor_batch.h"
#include "tests/support/core/engine_test_support.h"
#include "tests/support/core/fake_engine_process.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

#include <algorithm>
#include <fstream>
#include <set>

namespace norv {
namespace {

using namespace std::chrono_literals;

const char* const kDemoSession = NORV_SOURCE_DIR "/resources/demo/demo_session.json";
const QString kToken = QStringLiteral("feedfacefeedfacefeedfacefeedfacefeedfacefeedfacefeedfacefeedface");

using test::waitUntil;

const BridgeDevice* findDevice(const AdminSnapshot& snapshot, const std::string& id) {
    const auto it = std::find_if(snapshot.devices.begin(), snapshot.devices.end(),
                                 [&](const BridgeDevice& device) { return device.deviceId == id; });
    return it == snapshot.devices.end() ? nullptr : &*it;
}

TEST(DemoSession, IsASnapshotWithDevicesTracksRoutesAndAPendingRequest) {
    std::ifstream file(kDemoSession);
    ASSERT_TRUE(file.good());
    const AdminSnapshot snapshot = AdminSnapshot::decode(nlohmann::json::parse(file));

    ASSERT_EQ(snapshot.devices.size(), 2u);
    const BridgeDevice* tablet = findDevice(snapshot, "ipad-studio-7f3a");
    const BridgeDevice* phone = findDevice(snapshot, "iphone-pocket-22c1");
    ASSERT_TRUE(tablet && phone);
    EXPECT_EQ(tablet->transportLabel(), "WI-FI");
    EXPECT_EQ(phone->transportLabel(), "USB");
    EXPECT_TRUE(tablet->linkQuality && phone->linkQuality);
    EXPECT_GE(snapshot.liveTracks.size(), 4u);
    ASSERT_TRUE(snapshot.bridge.deviceRoutingPlan && snapshot.bridge.deviceRoutingStatuses);
    EXPECT_EQ(snapshot.bridge.deviceRoutingPlan->size(), 2u);
    ASSERT_EQ(snapshot.bridge.deviceRoutingStatuses->size(), 2u);
    for (const auto& status : *snapshot.bridge.deviceRoutingStatuses) EXPECT_EQ(status.status, "ready");
    ASSERT_TRUE(snapshot.deviceAccess && snapshot.pairing && snapshot.uiPreferences);
    EXPECT_EQ(snapshot.deviceAccess->requests.size(), 1u);
    EXPECT_EQ(snapshot.pairing->status, "waiting");
    EXPECT_FALSE(snapshot.uiPreferences->profiles.empty());
}

TEST(DemoSession, EngineAnswersActionsAndPlaysMidiWhileTheMonitorListens) {
    test::FakeEngineProcess engine(test::sharedIdentityLine(), kToken, {{"demo_session", kDemoSession}});
    ASSERT_TRUE(engine.started());
    AdminChannelClient::Options options;
    options.port = engine.port();
    options.token = kToken;
    options.certificatePEM = test::certificateOf(test::sharedIdentityLine());
    // The real timings: under a loaded machine an interpreted engine may take its time.
    AdminChannelClient client(options);
    std::vector<AdminSnapshot> snapshots;
    std::vector<MidiMonitorBatch> batches;
    client.start([&](const AdminSnapshot& snapshot) { snapshots.push_back(snapshot); },
                 [&](const MidiMonitorBatch& batch) { batches.push_back(batch); }, [](const AdminConnectionState&) {});
    ASSERT_TRUE(waitUntil([&] { return !snapshots.empty(); }));
    EXPECT_EQ(snapshots.back().devices.size(), 2u);

    const auto request = [&](const QString& path, nlohmann::json args) {
        std::optional<std::string> outcome;
        client.request(path, std::move(args), [&](const std::optional<BridgeError>& error) {
            outcome = error ? error->message().toStdString() : "ok";
        });
        EXPECT_TRUE(waitUntil([&] { return outcome.has_value(); }));
        return outcome.value_or("no answer");
    };
    const auto showsSoon = [&](const std::function<bool(const AdminSnapshot&)>& shows) {
        const std::size_t seen = snapshots.size();
        return waitUntil([&] { return snapshots.size() > seen && shows(snapshots.back()); });
    };

    EXPECT_EQ(request(QStringLiteral("/admin/device/rename"), nlohmann::json::array({"ipad-studio-7f3a", "Stage iPad"})), "ok");
    EXPECT_TRUE(showsSoon([](const AdminSnapshot& s) {
        const BridgeDevice* tablet = findDevice(s, "ipad-studio-7f3a");
        return tablet && tablet->label == "Stage iPad" && s.bridge.deviceRoutingPlan &&
               s.bridge.deviceRoutingPlan->at(0).ownerLabels.at(0) == "Stage iPad";
    }));
    EXPECT_EQ(request(QStringLiteral("/admin/device/track/assign"), nlohmann::json::array({"iphone-pocket-22c1", 103, "Pads", 2})), "ok");
    EXPECT_TRUE(showsSoon([](const AdminSnapshot& s) {
        const BridgeDevice* phone = findDevice(s, "iphone-pocket-22c1");
        const auto& statuses = s.bridge.deviceRoutingStatuses;
        return phone && phone->assignedTrackName == "Pads" && statuses &&
               std::any_of(statuses->begin(), statuses->end(),
                           [](const auto& status) { return status.trackLiveId == 103 && status.status == "ready"; });
    }));
    // A connected device is not archived; once disconnected it is.
    EXPECT_NE(request(QStringLiteral("/admin/device/archive"), nlohmann::json::array({"iphone-pocket-22c1", true})), "ok");
    EXPECT_EQ(request(QStringLiteral("/admin/device/access"), nlohmann::json::array({"iphone-pocket-22c1", "disconnect"})), "ok");
    EXPECT_EQ(request(QStringLiteral("/admin/device/archive"), nlohmann::json::array({"iphone-pocket-22c1", true})), "ok");
    EXPECT_TRUE(showsSoon([](const AdminSnapshot& s) {
        const BridgeDevice* phone = findDevice(s, "iphone-pocket-22c1");
        return phone && !phone->connected && phone->archived == true;
    }));

    // Nothing plays until the monitor listens; then batches come with rising sequences and, within
    // a bar, notes with their MPE expression.
    EXPECT_TRUE(batches.empty());
    client.send(QStringLiteral("/admin/midi-monitor/configure"), nlohmann::json::array({{{"enabled", true}, {"refresh_hz", 10}}}));
    std::set<std::string> kinds;
    ASSERT_TRUE(waitUntil(
        [&] {
            kinds.clear();
            for (const MidiMonitorBatch& batch : batches)
                for (const MidiMonitorEvent& event : batch.events) kinds.insert(event.kind);
            return kinds.count("note") && kinds.count("pitch_bend") && kinds.count("cc") &&
                   kinds.count("channel_pressure");
        },
        10s))
        << kinds.size();
    std::int64_t last = 0;
    for (const MidiMonitorBatch& batch : batches) {
        for (const MidiMonitorEvent& event : batch.events) {
            EXPECT_GT(event.sequence, last);
            last = event.sequence;
        }
        EXPECT_EQ(batch.latestSequence, last);
    }
    client.send(QStringLiteral("/admin/midi-monitor/configure"), nlohmann::json::array({{{"enabled", false}, {"refresh_hz", 10}}}));
    QDeadlineTimer quiet(1000ms);
    while (!quiet.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const std::size_t stopped = batches.size();
    QDeadlineTimer after(1500ms);
    while (!after.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(batches.size(), stopped) << "no batches once the monitor stops listening";
}

}  // namespace
}  // namespace norv
