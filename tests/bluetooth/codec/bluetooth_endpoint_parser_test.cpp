#include <gtest/gtest.h>

#include "bluetooth/codec/bluetooth_endpoint_parser.h"
#include "bluetooth/codec/bluetooth_error.h"
#include "tests/support/bluetooth/bluetooth_hex.h"

namespace norv {
namespace {

using test::concat;
using test::hex;
using test::stateFrame;

BluetoothBytes health(const std::string& member) {
    return stateFrame(R"({"path":"/norv/health/status","args":[{)" + member + "}]}");
}

TEST(BluetoothEndpointParser, FollowsTheHealthStatusPort) {
    BluetoothEndpointParser parser;
    std::vector<nlohmann::json> seen;
    parser.onHealth = [&](const nlohmann::json& h) { seen.push_back(h); };

    parser.receive(health(R"("instrument_midi_native_tcp_port":9312)"));
    EXPECT_EQ(parser.midiPorts(), std::set<std::uint16_t>{9312});
    parser.receive(health(R"("running":true)"));
    EXPECT_TRUE(parser.midiPorts().empty());
    for (const char* port : {"1024", "65536", "\"9312\"", "9312.5"}) {
        parser.receive(health(std::string(R"("instrument_midi_native_tcp_port":)") + port));
        EXPECT_TRUE(parser.midiPorts().empty()) << port;
    }
    parser.receive(health(R"("instrument_midi_native_tcp_port":65535)"));
    EXPECT_EQ(parser.midiPorts(), std::set<std::uint16_t>{65535});
    // Health statuses without an object in "args" leave the port alone and are not reported.
    parser.receive(stateFrame(R"({"path":"/norv/health/status","args":[]})"));
    EXPECT_EQ(parser.midiPorts(), std::set<std::uint16_t>{65535});
    EXPECT_EQ(seen.size(), 7u);
    EXPECT_EQ(seen[1], (nlohmann::json{{"running", true}}));
}

TEST(BluetoothEndpointParser, CountsFramesAndPathsAlikeInAnySplit) {
    const auto stream = concat({stateFrame("not json"), stateFrame(R"({"args":[]})"), stateFrame(R"({"path":"/a"})"),
                                stateFrame(R"({"path":"/a"})"), stateFrame("[1]")});
    BluetoothEndpointParser whole;
    whole.receive(stream);
    BluetoothEndpointParser pieces;
    for (std::size_t i = 0; i < stream.size(); i += 3) {
        pieces.receive(std::span(stream).subspan(i, std::min<std::size_t>(3, stream.size() - i)));
    }
    for (const auto* parser : {&whole, &pieces}) {
        EXPECT_EQ(parser->frames(), 5);
        EXPECT_EQ(parser->paths(), (std::map<std::string, int>{{"unknown", 1}, {"/a", 2}}));
    }
}

TEST(BluetoothEndpointParser, BadLengthFailsForGood) {
    BluetoothEndpointParser parser;
    try {
        parser.receive(concat({stateFrame(R"({"path":"/a"})"), hex("00 00 00 00")}));
        ADD_FAILURE();
    } catch (const BluetoothError& error) {
        EXPECT_EQ(error.code(), 1);
        EXPECT_STREQ(error.what(), "Invalid state frame");
    }
    EXPECT_EQ(parser.frames(), 1);
    // Later valid frames are refused too, and are not kept.
    EXPECT_THROW(parser.receive(stateFrame(R"({"path":"/b"})")), BluetoothError);
    EXPECT_EQ(parser.frames(), 1);
    EXPECT_THROW(parser.receive(hex("00 40 00 01")), BluetoothError);
}

}  // namespace
}  // namespace norv
