// The admin requests as the engine reads them: path, arguments and the notice after confirmation.
#include "model/admin_commands.h"

#include <gtest/gtest.h>

namespace norv {
namespace {

using nlohmann::json;

TEST(AdminCommands, MonitorFramesCarryNoNotice) {
    EXPECT_EQ(AdminCommands::configureMidiMonitor(true, 20),
              (AdminCommand{"/admin/midi-monitor/configure", json::parse(R"([{"enabled":true,"refresh_hz":20}])"), ""}));
    EXPECT_EQ(AdminCommands::clearMidiMonitor(), (AdminCommand{"/admin/midi-monitor/clear", json::array(), ""}));
}

TEST(AdminCommands, RoutingSendsTheTrackAsIdNameAndIndexWithNullsForNone) {
    EXPECT_EQ(AdminCommands::assignTrack("pad", std::nullopt),
              (AdminCommand{"/admin/device/track/assign", json::parse(R"(["pad", null, "", null])"), "Assignment saved"}));
    LiveTrack track;
    track.liveId = 7;
    track.name = "Keys";
    track.index = 2;
    EXPECT_EQ(AdminCommands::assignTrack("pad", track).args, json::parse(R"(["pad", 7, "Keys", 2])"));
    EXPECT_EQ(AdminCommands::routingPolicy(DeviceRoutingPolicy{}),
              (AdminCommand{"/admin/device/routing/policy", json::array({DeviceRoutingPolicy{}.adminPayload()}),
                            "Routing policy saved"}));
    EXPECT_EQ(AdminCommands::clearTrackAssignments(),
              (AdminCommand{"/admin/device/track/clear_all", json::array(), "Assignments cleared"}));
}

TEST(AdminCommands, DeviceAccessNamesTheActionAndCarriesTheFingerprintOnlyForARequiredAllow) {
    const std::optional<std::string> print = "ab12";
    EXPECT_EQ(AdminCommands::deviceAccess("pad", DeviceAccessAction::allow, print, true),
              (AdminCommand{"/admin/device/access", json::parse(R"(["pad", "allow", "ab12"])"), "Device allowed"}));
    EXPECT_EQ(AdminCommands::deviceAccess("pad", DeviceAccessAction::allow, print, false)->args,
              json::parse(R"(["pad", "allow"])"));
    EXPECT_FALSE(AdminCommands::deviceAccess("pad", DeviceAccessAction::allow, std::string(), true));
    EXPECT_FALSE(AdminCommands::deviceAccess("pad", DeviceAccessAction::allow, std::nullopt, true));
    const std::pair<DeviceAccessAction, std::string> others[] = {{DeviceAccessAction::pair, "Pairing allowed"},
                                                                 {DeviceAccessAction::disconnect, "Device disconnected"},
                                                                 {DeviceAccessAction::forget, "Access revoked"}};
    for (const auto& [action, label] : others) {
        const auto command = AdminCommands::deviceAccess("pad", action, print, true);
        ASSERT_TRUE(command);
        EXPECT_EQ(command->args, json::array({"pad", std::string(action.rawValue())}));
        EXPECT_EQ(command->label, label);
    }
}

TEST(AdminCommands, DeviceRecordsAndEngineWideRequests) {
    EXPECT_EQ(AdminCommands::archiveDevice("pad", true),
              (AdminCommand{"/admin/device/archive", json::parse(R"(["pad", true])"), "Device archived"}));
    EXPECT_EQ(AdminCommands::archiveDevice("pad", false).label, "Device restored");
    EXPECT_EQ(AdminCommands::renameDevice("pad", " Stage\t"),
              (AdminCommand{"/admin/device/rename", json::parse(R"(["pad", " Stage\t"])"), "Rename requested"}));
    EXPECT_EQ(AdminCommands::cleanDevices({"b", "a", "x"}, {"a", "b"}),
              (AdminCommand{"/admin/devices/clean", json::parse(R"([["b", "a"]])"), "Device records cleaned"}));
    EXPECT_FALSE(AdminCommands::cleanDevices({"x"}, {"a"}));
    EXPECT_EQ(AdminCommands::resetPairing(), (AdminCommand{"/admin/pairing/reset", json::array(), "Pairing reset"}));
    EXPECT_EQ(AdminCommands::pushDeviceSettings("all"),
              (AdminCommand{"/admin/ui_preferences/push", json::parse(R"(["all"])"), "Settings transfer requested"}));
    EXPECT_EQ(AdminCommands::reconnectMidi(),
              (AdminCommand{"/admin/midi/reconnect", json::array(), "MIDI reconnection requested"}));
    EXPECT_EQ(AdminCommands::configureDiagnostics(true),
              (AdminCommand{"/admin/diagnostics/configure", json::parse("[true]"), "Detailed capture started"}));
    EXPECT_EQ(AdminCommands::configureDiagnostics(false).label, "Detailed capture stopped");
}

}  // namespace
}  // namespace norv
