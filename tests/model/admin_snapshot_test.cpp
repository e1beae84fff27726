#include "model/admin_snapshot.h"

#include <gtest/gtest.h>

#include "model/admin_envelope.h"
#include "model/admin_path_envelope.h"
#include "model/midi_monitor_envelope.h"
#include "tests/support/model/model_fixtures.h"

namespace norv {
namespace {

using nlohmann::json;
using test::loadModelFixture;

TEST(AdminSnapshotTest, DecodesTheFullFixture) {
    const AdminSnapshot s = AdminSnapshot::decode(loadModelFixture("snapshot_full.json"));

    EXPECT_EQ(s.bridge.bridgeRunning, true);
    EXPECT_EQ(s.bridge.publicPort, 9310);
    EXPECT_EQ(s.bridge.fastControlMidiFallbackCount, 3);
    EXPECT_EQ(s.bridge.maxIdleSeconds, 30.0);
    ASSERT_TRUE(s.bridge.remoteScriptRuntime.has_value());
    EXPECT_EQ(s.bridge.remoteScriptRuntime->remoteScriptProcessId, 48213);
    ASSERT_TRUE(s.bridge.deviceRoutingPolicy.has_value());
    EXPECT_FALSE(s.bridge.deviceRoutingPolicy->respectManualOverrides);
    EXPECT_EQ(s.bridge.deviceRoutingPolicy->disconnectGraceSeconds, 5.5);
    ASSERT_EQ(s.bridge.deviceRoutingPlan->size(), 3u);
    EXPECT_FALSE(s.bridge.deviceRoutingPlan->at(1).routedDeviceIds.has_value());
    EXPECT_EQ(s.bridge.deviceRoutingPlan->at(2).sharedInputStrategy, "all_ins");
    ASSERT_EQ(s.bridge.deviceRoutingStatuses->size(), 3u);
    EXPECT_EQ(s.bridge.deviceRoutingStatuses->at(2).status, "manual_override");
    EXPECT_TRUE(s.bridge.deviceRoutingStatuses->at(2).manualOverride);

    ASSERT_EQ(s.devices.size(), 6u);
    const BridgeDevice& studio = s.devices[0];
    EXPECT_EQ(studio.id(), "ipad-studio-7f3a");
    EXPECT_EQ(studio.assignedTrackLiveId, 101);
    ASSERT_EQ(studio.endpoints.size(), 2u);
    EXPECT_EQ(studio.endpoints[0].id(), "instrument:1234");
    EXPECT_EQ(s.devices[1].endpoints[0].id(), "instrument:-88001");
    ASSERT_TRUE(studio.linkQuality.has_value());
    EXPECT_EQ(studio.linkQuality->state.avg, 4.2);
    EXPECT_EQ(s.devices[1].linkQuality->midi, DeviceLinkQuality::Probe{});
    EXPECT_EQ(s.devices[2].linkQuality->rssi, -58.0);
    EXPECT_FALSE(s.devices[3].linkQuality.has_value());
    EXPECT_EQ(s.devices[4].accessState, "paused");

    ASSERT_EQ(s.liveTracks.size(), 6u);
    EXPECT_FALSE(s.liveTracks[5].index.has_value());
    ASSERT_EQ(s.midiEvents.size(), 8u);
    EXPECT_EQ(s.midiEvents[1].kind, "pitch_bend");

    ASSERT_TRUE(s.uiPreferences.has_value());
    EXPECT_EQ(s.uiPreferences->profiles.size(), 3u);
    EXPECT_EQ(s.uiPreferences->result.failed, 1);
    ASSERT_TRUE(s.deviceAccess.has_value());
    EXPECT_EQ(s.deviceAccess->requests[0].certificateSha256->size(), 64u);
    EXPECT_FALSE(s.deviceAccess->requests[1].certificateSha256.has_value());
    EXPECT_EQ(s.deviceAccess->certificates->count("legacy_device_01"), 1u);
    EXPECT_EQ(s.diagnostics->maxDiskBytes, 52428800);
    EXPECT_EQ(s.pairing->code, "482913");

    EXPECT_EQ(s, AdminSnapshot::decode(loadModelFixture("snapshot_full.json")));
}

TEST(AdminSnapshotTest, MinimalSnapshotIsNotTheEmptySnapshot) {
    const AdminSnapshot s = AdminSnapshot::decode(loadModelFixture("snapshot_minimal.json"));
    EXPECT_EQ(s.bridge, BridgeHealth{});
    EXPECT_FALSE(s.pairing.has_value());
    EXPECT_FALSE(s.deviceAccess.has_value());
    // The empty snapshot's health says "off, zero, none"; an engine's "{}" says nothing.
    EXPECT_NE(s, AdminSnapshot::empty());
    EXPECT_EQ(AdminSnapshot::empty().bridge, BridgeHealth::empty());
    EXPECT_EQ(BridgeHealth::empty().bridgeRunning, false);
    EXPECT_EQ(BridgeHealth::empty().instrumentMidiTcpClientCount, 0);
    EXPECT_TRUE(BridgeHealth::empty().deviceRoutingPlan->empty());
    EXPECT_FALSE(BridgeHealth::empty().publicPort.has_value());
    EXPECT_FALSE(BridgeHealth::empty().deviceRoutingPolicy.has_value());
    EXPECT_TRUE(AdminSnapshot::empty().devices.empty());
}

TEST(AdminSnapshotTest, AnyBadPartFailsTheWholeSnapshot) {
    const json full = loadModelFixture("snapshot_full.json");
    const auto fails = [&](const std::function<void(json&)>& edit) {
        json body = full;
        edit(body);
        try {
            AdminSnapshot::decode(body);
        } catch (const AdminDecodeError&) {
            return true;
        }
        return false;
    };
    EXPECT_TRUE(fails([](json& b) { b.erase("live_tracks"); }));
    EXPECT_TRUE(fails([](json& b) { b["live_tracks"] = nullptr; }));
    EXPECT_TRUE(fails([](json& b) { b["bridge"]["bridge_running"] = 1; }));
    EXPECT_TRUE(fails([](json& b) { b["devices"][5].erase("endpoints"); }));
    EXPECT_TRUE(fails([](json& b) { b["devices"][0]["connected"] = nullptr; }));
    EXPECT_TRUE(fails([](json& b) { b["devices"][0]["link_quality"].erase("state"); }));
    EXPECT_TRUE(
        fails([](json& b) { b["bridge"]["device_routing_plan"][0].erase("owner_labels"); }));
    EXPECT_TRUE(
        fails([](json& b) { b["bridge"]["device_routing_statuses"][1].erase("manual_override"); }));
    EXPECT_TRUE(
        fails([](json& b) { b["bridge"]["device_routing_policy"]["shared_input_strategy"] = 7; }));
    EXPECT_TRUE(fails([](json& b) { b["diagnostics"]["detailed_seconds_remaining"] = 42.5; }));
    EXPECT_TRUE(fails([](json& b) { b["device_access"].erase("require_approval"); }));
    EXPECT_TRUE(fails([](json& b) { b["device_access"].erase("forgotten"); }));
    EXPECT_TRUE(fails([](json& b) { b["pairing"].erase("status"); }));
    EXPECT_TRUE(fails([](json& b) { b["ui_preferences"].erase("result"); }));
    EXPECT_TRUE(fails([](json& b) { b["ui_preferences"]["profiles"][1].erase("received_at"); }));
    EXPECT_TRUE(fails([](json& b) { b["midi_events"][3]["bytes"][0] = "90"; }));

    EXPECT_FALSE(fails([](json& b) { b.erase("pairing"); }));
    EXPECT_FALSE(fails([](json& b) { b["pairing"] = nullptr; }));
    EXPECT_FALSE(fails([](json& b) { b["device_access"].erase("require_certificate"); }));
    EXPECT_FALSE(fails([](json& b) { b["ui_preferences"]["result"] = json::object(); }));
    EXPECT_FALSE(fails([](json& b) { b["devices"][0]["link_quality"]["state"] = json::object(); }));
    EXPECT_FALSE(fails([](json& b) { b["brand_new_section"] = {{"x", 1}}; }));
}

TEST(AdminSnapshotTest, OptionalPresenceIsKeptApartFromEmptiness) {
    const json base = {
        {"devices", json::array()}, {"live_tracks", json::array()}, {"midi_events", json::array()}};
    json withEmptyPlan = base;
    withEmptyPlan["bridge"] = {{"device_routing_plan", json::array()},
                               {"remote_script_runtime", json::object()}};
    json withoutPlan = base;
    withoutPlan["bridge"] = json::object();
    const auto a = AdminSnapshot::decode(withEmptyPlan);
    const auto b = AdminSnapshot::decode(withoutPlan);
    EXPECT_TRUE(a.bridge.deviceRoutingPlan.has_value());
    EXPECT_EQ(a.bridge.remoteScriptRuntime, RemoteScriptIdentity{});
    EXPECT_FALSE(b.bridge.deviceRoutingPlan.has_value());
    EXPECT_NE(a, b);
}

TEST(AdminEnvelopeTest, DecodesTheThreeEnvelopesFromFixtures) {
    const json snapshotBody = loadModelFixture("admin_envelope.json");
    const json monitorBody = loadModelFixture("midi_monitor_envelope.json");

    EXPECT_EQ(AdminPathEnvelope::decode(snapshotBody).path, "/admin/snapshot");
    EXPECT_EQ(AdminPathEnvelope::decode(monitorBody).path, "/admin/midi-monitor/events");

    const AdminEnvelope snapshot = AdminEnvelope::decode(snapshotBody);
    ASSERT_EQ(snapshot.args.size(), 1u);
    EXPECT_EQ(snapshot.args[0].devices[0].transportLabel(), "WI-FI");
    EXPECT_EQ(snapshot.args[0].pairing->status, "idle");
    EXPECT_FALSE(snapshot.args[0].pairing->code.has_value());

    const MidiMonitorEnvelope monitor = MidiMonitorEnvelope::decode(monitorBody);
    ASSERT_EQ(monitor.args.size(), 2u);
    const MidiMonitorBatch& batch = monitor.args[0];
    EXPECT_EQ(batch.events.size(), 3u);
    EXPECT_EQ(batch.dropped, 4);
    EXPECT_EQ(batch.latestSequence, 122);
    EXPECT_FALSE(batch.reset);
    EXPECT_TRUE(monitor.args[1].reset);
}

TEST(AdminEnvelopeTest, ArgsAreRequiredButMayBeEmptyAndEveryElementMustDecode) {
    EXPECT_TRUE(
        AdminEnvelope::decode({{"path", "/admin/snapshot"}, {"args", json::array()}}).args.empty());
    EXPECT_THROW(AdminEnvelope::decode({{"path", "/admin/snapshot"}}), AdminDecodeError);
    EXPECT_THROW(AdminPathEnvelope::decode({{"args", json::array()}}), AdminDecodeError);
    EXPECT_THROW(AdminPathEnvelope::decode({{"path", 3}}), AdminDecodeError);

    json monitor = loadModelFixture("midi_monitor_envelope.json");
    monitor["args"][1].erase("reset");  // a bad second element fails even though it is unused
    EXPECT_THROW(MidiMonitorEnvelope::decode(monitor), AdminDecodeError);
    EXPECT_EQ(AdminPathEnvelope::decode(monitor).path, "/admin/midi-monitor/events");
}

TEST(AdminSnapshotTest, CleanupIdsNeedCertificatesAndSkipConnectedDevices) {
    const json full = loadModelFixture("snapshot_full.json");
    EXPECT_EQ(AdminSnapshot::decode(full).cleanupDeviceIDs(),
              (std::vector<std::string>{"galaxy-s9-31d0", "ipad-loaner-5e77", "old_phone_04"}));

    json noCertificates = full;
    noCertificates["device_access"]["require_certificate"] = false;
    EXPECT_TRUE(AdminSnapshot::decode(noCertificates).cleanupDeviceIDs().empty());
    noCertificates["device_access"].erase("require_certificate");
    EXPECT_TRUE(AdminSnapshot::decode(noCertificates).cleanupDeviceIDs().empty());
    noCertificates.erase("device_access");
    EXPECT_TRUE(AdminSnapshot::decode(noCertificates).cleanupDeviceIDs().empty());

    // Offline without "archived" is listed only when forgotten; duplicates collapse.
    json forgotten = full;
    forgotten["device_access"]["forgotten"] = {"ipad-old-0a11", "zz-gone", "ipad-old-0a11"};
    EXPECT_EQ(AdminSnapshot::decode(forgotten).cleanupDeviceIDs(),
              (std::vector<std::string>{"galaxy-s9-31d0", "ipad-loaner-5e77", "ipad-old-0a11",
                                        "zz-gone"}));
}

}  // namespace
}  // namespace norv
