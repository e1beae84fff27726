#include "model/admin_json_reader.h"

#include <gtest/gtest.h>

#include "model/bridge_health.h"
#include "model/device_access_snapshot.h"
#include "model/live_track.h"

namespace norv {
namespace {

using nlohmann::json;

TEST(AdminJsonReaderTest, ConvertsWireKeysToRecordKeys) {
    EXPECT_EQ(AdminJsonReader::camelCaseKey("remote_script_bundle_id"), "remoteScriptBundleId");
    EXPECT_EQ(AdminJsonReader::camelCaseKey("certificate_sha256"), "certificateSha256");
    EXPECT_EQ(AdminJsonReader::camelCaseKey("instrument_midi_tcp_client_count"),
              "instrumentMidiTcpClientCount");
    // One piece stays as sent, so camelCase keys match too.
    EXPECT_EQ(AdminJsonReader::camelCaseKey("liveTracks"), "liveTracks");
    EXPECT_EQ(AdminJsonReader::camelCaseKey("Bridge"), "Bridge");
    // Pieces are re-cased; empty pieces vanish; outer underscores stay.
    EXPECT_EQ(AdminJsonReader::camelCaseKey("LIVE_TRACKS"), "liveTracks");
    EXPECT_EQ(AdminJsonReader::camelCaseKey("live__tracks"), "liveTracks");
    EXPECT_EQ(AdminJsonReader::camelCaseKey("_live_tracks__"), "_liveTracks__");
    EXPECT_EQ(AdminJsonReader::camelCaseKey("_private"), "_private");
    EXPECT_EQ(AdminJsonReader::camelCaseKey("___"), "___");
    EXPECT_EQ(AdminJsonReader::camelCaseKey(""), "");
}

TEST(AdminJsonReaderTest, SnakeAndCamelKeysDecodeAlikeAndOddKeysDoNotMatch) {
    const json snake = {{"live_id", 4},
                        {"name", "Keys"},
                        {"can_be_armed", true},
                        {"is_armed", false},
                        {"has_midi_input", nullptr},
                        {"extra_key", 1}};
    const json camel = {{"liveId", 4}, {"name", "Keys"}, {"canBeArmed", true}, {"isArmed", false}};
    EXPECT_EQ(LiveTrack::decode(snake), LiveTrack::decode(camel));
    EXPECT_FALSE(LiveTrack::decode(snake).hasMidiInput.has_value());
    // "_live_id" keeps its leading underscore and so names no field.
    const json underscored = {
        {"_live_id", 4}, {"name", "Keys"}, {"can_be_armed", true}, {"is_armed", false}};
    EXPECT_THROW(LiveTrack::decode(underscored), AdminDecodeError);
}

TEST(AdminJsonReaderTest, TypesAreStrict) {
    const auto health = [](json body) { return BridgeHealth::decode(body); };
    EXPECT_THROW(health({{"bridge_running", 1}}), AdminDecodeError);  // no Boolean
    EXPECT_THROW(health({{"bridge_version", 2}}), AdminDecodeError);  // no text
    EXPECT_THROW(health({{"client_count", 1.5}}), AdminDecodeError);  // fractional
    EXPECT_THROW(health({{"client_count", "3"}}), AdminDecodeError);
    EXPECT_THROW(health({{"client_count", true}}), AdminDecodeError);
    EXPECT_THROW(health({{"upstream_idle_seconds", false}}), AdminDecodeError);
    EXPECT_THROW(health({{"client_ids", {"a", 2}}}), AdminDecodeError);  // one bad element
    EXPECT_THROW(health({{"client_ids", "a"}}), AdminDecodeError);
    EXPECT_THROW(health({{"remote_script_runtime", json::array()}}), AdminDecodeError);
    EXPECT_THROW(BridgeHealth::decode(json::array()), AdminDecodeError);

    EXPECT_EQ(health({{"client_count", 3.0}}).clientCount, 3);  // integral number
    EXPECT_EQ(health({{"upstream_idle_seconds", 2}}).upstreamIdleSeconds, 2.0);
    EXPECT_EQ(health({{"client_count", INT64_MIN}}).clientCount, INT64_MIN);
    EXPECT_EQ(health({{"client_count", INT64_MAX}}).clientCount, INT64_MAX);
    EXPECT_THROW(health({{"client_count", 9223372036854775808ULL}}), AdminDecodeError);
    EXPECT_THROW(health({{"client_count", 9.3e18}}), AdminDecodeError);
    EXPECT_THROW(health({{"client_count", -9.3e18}}), AdminDecodeError);
    // One below the minimum, as the engine would write it: the parser holds it as a real that
    // rounds to the minimum.
    EXPECT_EQ(health(json::parse(R"({"client_count": -9223372036854775808})")).clientCount, INT64_MIN);
    EXPECT_THROW(health(json::parse(R"({"client_count": -9223372036854775809})")), AdminDecodeError);
}

TEST(AdminJsonReaderTest, ProcessIdMustFitThirtyTwoBits) {
    const auto pid = [](json value) {
        return BridgeHealth::decode(
                   {{"remote_script_runtime", {{"remote_script_process_id", value}}}})
            .remoteScriptRuntime->remoteScriptProcessId;
    };
    EXPECT_EQ(pid(2147483647), 2147483647);
    EXPECT_EQ(pid(-2147483648LL), INT32_MIN);
    EXPECT_EQ(pid(4096.0), 4096);
    EXPECT_THROW(pid(2147483648LL), AdminDecodeError);
    EXPECT_THROW(pid(-2147483649LL), AdminDecodeError);
    EXPECT_THROW(pid(2147483648.0), AdminDecodeError);
}

TEST(AdminJsonReaderTest, ErrorNamesThePathOfTheBadValue) {
    const json body = {{"device_routing_statuses",
                        {{{"track_live_id", 1},
                          {"track_name", "A"},
                          {"owner_device_ids", json::array()},
                          {"owner_labels", json::array()},
                          {"desired_input", ""},
                          {"routing_mode", ""},
                          {"status", "ready"},
                          {"actual_input", ""},
                          {"port_visible", true},
                          {"armed", "yes"},
                          {"manual_override", false}}}}};
    try {
        BridgeHealth::decode(body);
        FAIL() << "expected a decode error";
    } catch (const AdminDecodeError& error) {
        EXPECT_STREQ(error.what(), "deviceRoutingStatuses[0].armed: expected a Boolean");
    }
}

TEST(AdminJsonReaderTest, CertificateMapKeepsItsKeysAsSent) {
    const json body = {{"require_approval", false},
                       {"requests", json::array()},
                       {"forgotten", json::array()},
                       {"certificates", {{"legacy_device_01", "aa"}, {"ipad-7f", "bb"}}}};
    const auto access = DeviceAccessSnapshot::decode(body);
    ASSERT_TRUE(access.certificates.has_value());
    EXPECT_EQ(access.certificates->count("legacy_device_01"), 1u);
    EXPECT_EQ(access.certificates->at("ipad-7f"), "bb");

    json bad = body;
    bad["certificates"]["ipad-7f"] = 7;
    EXPECT_THROW(DeviceAccessSnapshot::decode(bad), AdminDecodeError);
}

}  // namespace
}  // namespace norv
