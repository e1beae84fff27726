#include "tests/support/midi_helper/bridge_fixture.h"

namespace norv {
namespace {

TEST_F(BridgeTest, EndpointsAndWarnings)
{
    port.uniqueIDStatus = -10842;
    HelperConfig config;
    config.destinationName = " Out ";
    auto& b = bridge(config);
    EXPECT_EQ(port.clientName, "Norv Bridge MIDI");
    EXPECT_EQ(port.destinationName, " Out ");
    EXPECT_TRUE(b.destinationAvailable());
    EXPECT_EQ(b.warnings(), (std::vector<std::string>{"MIDIObjectSetIntegerProperty(source) failed with OSStatus -10842",
                                                      "MIDIObjectSetIntegerProperty(destination) failed with OSStatus -10842"}));

    MemoryMidiPort blankPort;
    config.destinationName = "   ";
    NativeMidiBridge blank(config, clock, blankPort, output);
    blank.openEndpoints();
    EXPECT_FALSE(blank.destinationAvailable());
    EXPECT_FALSE(blankPort.hasDestination);
    EXPECT_EQ(blank.readyEvent()["destination_available"], false);

    MemoryMidiPort failing;
    failing.sourceStatus = -50;
    NativeMidiBridge broken(config, clock, failing, output);
    try {
        broken.openEndpoints();
        FAIL() << "expected a failure";
    } catch (const HelperError& error) {
        EXPECT_STREQ(error.what(), "MIDISourceCreate failed with OSStatus -50");
    }
}

TEST_F(BridgeTest, StreamFramesAndHeartbeatWatchdog)
{
    auto& b = bridge();
    auto quiet = b.addPeer();
    auto beating = b.addPeer();
    EXPECT_EQ(b.handleStreamPayload(beating, packet("NPM8", {1, 2, 3, 4})), StreamVerdict::Echo);
    EXPECT_EQ(b.handleStreamPayload(beating, packet("NPM1", {1, 60, 100})), StreamVerdict::Close);
    EXPECT_EQ(b.handleStreamPayload(beating, packet("XXXX", {})), StreamVerdict::Close);
    EXPECT_EQ(b.handleStreamPayload(beating, packet("NPM9", {0, 0, 0, 0})), StreamVerdict::Continue);

    clock.advance(2'000'000'000);
    EXPECT_TRUE(b.silentPeers(clock.nowNs()).empty());
    clock.advance(100'000'000);
    EXPECT_EQ(b.silentPeers(clock.nowNs()), (std::vector<std::shared_ptr<MidiPeer>>{beating}));
    beating->strideStep = 0.25;
    b.handleStreamPayload(beating, packet("NPM8", {}));
    clock.advance(700'000'000);
    EXPECT_TRUE(b.silentPeers(clock.nowNs()).empty());
    clock.advance(100'000'000);
    EXPECT_EQ(b.silentPeers(clock.nowNs()).size(), 1u);
    (void)quiet; // never sent a heartbeat: never silent
}

TEST_F(BridgeTest, TheWatchdogClosesSilentStreamPeersBeforeWifiPeers)
{
    auto& b = bridge();
    auto stream = b.addPeer();
    b.handleStreamPayload(stream, packet("NPM8", {}));
    b.handleStreamPayload(stream, packet("NPM2", {1, 60, 100, 1}));
    b.handleStreamPayload(stream, packet("NPM2", {1, 62, 100, 1}));
    // A Wi-Fi sender holds 62 too, and 64.
    test::WifiPacket opening;
    opening.sendTime = clock.nowNs() / 1000;
    datagram(opening.bytes());
    test::WifiPacket holding = opening;
    holding.sequence = 2;
    holding.heldKeys = {62, 64};
    holding.records = {{1, opening.sendTime, packet("NPM2", {1, 62, 90, 1})}, {2, opening.sendTime, packet("NPM2", {1, 64, 90, 1})}};
    datagram(holding.bytes());
    ASSERT_EQ(b.wifiPeerCount(), 1u);

    clock.advance(2'100'000'000);
    port.sent.clear();
    b.closeSilentSenders(clock.nowNs(), [&](const std::shared_ptr<MidiPeer>& peer) { b.closePeer(peer); });
    EXPECT_EQ(b.peerCount(), 0u);
    EXPECT_EQ(b.wifiPeerCount(), 0u);
    // The stream peer ends only its own key; the Wi-Fi peer, closing last, ends the shared one.
    std::vector<Bytes> offs;
    for (const auto& bytes : sentBytes())
        if (bytes[0] == 0x90)
            offs.push_back(bytes);
    EXPECT_EQ(offs, (std::vector<Bytes>{{0x90, 60, 0}, {0x90, 62, 0}, {0x90, 64, 0}}));
}

TEST_F(BridgeTest, ClockDatagramsCountOnlyFromLoopback)
{
    auto& b = bridge();
    const double now = double(clock.nowNs()) / 1e9;
    datagram(test::engineClock(90, 8, now), 0x0A000002);
    datagram(test::midiClock(clock.nowNs(), 0), 0x0A000002);
    EXPECT_EQ(b.strideClock().clockSeen, 0.0);
    EXPECT_FALSE(b.strideClock().midiClockGeneration);
    // The same datagrams from loopback are taken.
    datagram(test::engineClock(90, 8, now), 0x7F000001);
    datagram(test::midiClock(clock.nowNs(), 0), 0x7F000001);
    EXPECT_EQ(b.strideClock().clockTempo, 90.0);
    EXPECT_TRUE(b.strideClock().midiClockGeneration);
}

TEST_F(BridgeTest, PongReportsCounters)
{
    auto& b = bridge();
    b.addPeer();
    datagram(packet("NPM2", {1, 60, 100, 1}));
    port.deliverToDestination(3);
    auto pong = b.pongEvent();
    EXPECT_EQ(pong["sent_count"], 1);
    EXPECT_EQ(pong["received_count"], 3);
    EXPECT_EQ(pong["fast_note_on_count"], 1);
    EXPECT_EQ(pong["tcp_client_count"], 1);
    EXPECT_EQ(JsonOutput::serialise(pong).rfind("{\"fast_note_off_count\":0,", 0), 0u);
}

} // namespace
} // namespace norv
