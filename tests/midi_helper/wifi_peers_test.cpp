#include <gtest/gtest.h>

#include "midi_helper/json_output.h"
#include "midi_helper/manual_scheduler.h"
#include "midi_helper/memory_midi_port.h"
#include "midi_helper/native_midi_bridge.h"
#include "support/midi_helper/helper_wire.h"

namespace norv {
namespace {

using test::Bytes;
using test::put;
using test::WifiPacket;

Bytes note(uint8_t phase, uint8_t pitch, uint8_t velocity = 100, uint8_t channel = 1)
{
    return {'N', 'P', 'M', '2', phase, pitch, velocity, channel};
}

class WifiTest : public ::testing::Test {
protected:
    WifiTest()
        : output([](const std::string&, auto) { return true; })
        , bridge(HelperConfig{}, clock, port, output,
                 [this](std::span<const uint8_t> d, uint32_t, uint16_t) { acks.emplace_back(d.begin(), d.end()); })
    {
        bridge.openEndpoints();
    }

    uint64_t nowUs() const { return clock.nowNs() / 1000; }

    void deliver(const WifiPacket& packet, uint16_t fromPort = 4000)
    {
        bridge.handleDatagram(packet.bytes(), DatagramOrigin{false, 0x0A000002, fromPort});
    }

    // Opens a peer with an empty packet and returns its next packet sequence.
    void open(uint32_t token = 7, uint16_t fromPort = 4000)
    {
        WifiPacket opening;
        opening.token = token;
        opening.sendTime = nowUs();
        deliver(opening, fromPort);
    }

    std::vector<Bytes> sent() const
    {
        std::vector<Bytes> all;
        for (const auto& m : port.sent)
            all.push_back(m.bytes);
        return all;
    }

    ManualScheduler clock;
    MemoryMidiPort port;
    JsonOutput output;
    NativeMidiBridge bridge;
    std::vector<Bytes> acks;
};

TEST_F(WifiTest, MalformedPacketsAreDroppedAndEmptyOnesOpenPeers)
{
    WifiPacket opening;
    opening.sendTime = nowUs();
    Bytes good = opening.bytes();
    bridge.handleDatagram(Bytes(good.begin(), good.end() - 1), DatagramOrigin{false, 1, 1}); // 279 bytes
    WifiPacket v2 = opening;
    v2.v2 = true;
    Bytes v2Bytes = v2.bytes();
    bridge.handleDatagram(Bytes(v2Bytes.begin(), v2Bytes.end() - 1), DatagramOrigin{false, 1, 1});
    Bytes tooManyRecords = good;
    tooManyRecords[21] = 33;
    tooManyRecords.resize(280 + 33 * 20, 0);
    bridge.handleDatagram(tooManyRecords, DatagramOrigin{false, 1, 1});
    Bytes tooManyHolds = v2Bytes;
    tooManyHolds[285] = 129;
    bridge.handleDatagram(tooManyHolds, DatagramOrigin{false, 1, 1});
    WifiPacket badHold = v2;
    badHold.holds = {{60, 0}};
    bridge.handleDatagram(badHold.bytes(), DatagramOrigin{false, 1, 1});
    EXPECT_EQ(bridge.wifiPeerCount(), 0u);
    EXPECT_TRUE(acks.empty());

    // Token 0 never opens; a proper opening packet is acknowledged with its bytes 4...19 and our time.
    WifiPacket zero = opening;
    zero.token = 0;
    deliver(zero);
    EXPECT_EQ(bridge.wifiPeerCount(), 0u);
    deliver(opening);
    ASSERT_EQ(acks.size(), 1u);
    ASSERT_EQ(acks[0].size(), 28u);
    EXPECT_EQ(Bytes(acks[0].begin(), acks[0].begin() + 4), (Bytes{'N', 'P', 'A', '1'}));
    EXPECT_EQ(Bytes(acks[0].begin() + 4, acks[0].begin() + 20), Bytes(good.begin() + 4, good.begin() + 20));
    Bytes helperTime;
    put(helperTime, nowUs(), 8);
    EXPECT_EQ(Bytes(acks[0].begin() + 20, acks[0].end()), helperTime);

    // Repeated verbatim: a duplicate, not acknowledged.
    deliver(opening);
    EXPECT_EQ(bridge.wifiCounters().duplicatePackets, 1);
    EXPECT_EQ(acks.size(), 1u);

    // Sequence 0 opens a peer but counts as a duplicate.
    WifiPacket zeroSequence = opening;
    zeroSequence.token = 8;
    zeroSequence.sequence = 0;
    deliver(zeroSequence, 4001);
    EXPECT_EQ(bridge.wifiPeerCount(), 2u);
    EXPECT_EQ(acks.size(), 1u);

    // Eight peers at most; a closed peer's token never opens again.
    for (uint16_t i = 2; i < 8; ++i)
        open(uint32_t(100 + i), uint16_t(4000 + i));
    EXPECT_EQ(bridge.wifiPeerCount(), 8u);
    open(200, 4100);
    EXPECT_EQ(bridge.wifiPeerCount(), 8u);
    bridge.closeWifiPeer(WifiPeers::addressKey(0x0A000002, 4000));
    open(7, 4000);
    EXPECT_EQ(bridge.wifiPeerCount(), 7u);
}

TEST_F(WifiTest, LostPacketsAreRecoveredFromRedundantRecordsAndStaleEventsAreNotPlayed)
{
    open();
    WifiPacket packet;
    packet.sequence = 6;
    packet.sendTime = nowUs();
    packet.heldKeys = {60, 62};
    packet.records = {{9, nowUs() - 1000, note(1, 60)}, {10, nowUs(), note(1, 62)}};
    deliver(packet);
    EXPECT_EQ(sent(), (std::vector<Bytes>{{0x90, 60, 100}, {0x90, 62, 100}}));
    EXPECT_EQ(bridge.wifiCounters().recoveredEvents, 1);
    EXPECT_EQ(bridge.wifiCounters().gapEvents, 8); // events 1...8 were never seen

    // Only event 12 arrives: event 11 is lost for good. An event 100 ms old is stale.
    clock.advance(10'000'000);
    packet.sequence = 7;
    packet.sendTime = nowUs();
    packet.records = {{12, nowUs() - 100'000, note(1, 64)}};
    packet.heldKeys = {60, 62, 64};
    deliver(packet);
    EXPECT_EQ(bridge.wifiCounters().gapEvents, 9);
    EXPECT_EQ(bridge.wifiCounters().staleEvents, 1);
    EXPECT_EQ(bridge.wifiCounters().staleAttacks, 1);
    EXPECT_EQ(port.sent.size(), 2u);

    // The sender let go of 60 and lifted nothing else: the picture releases the note.
    clock.advance(10'000'000);
    packet.sequence = 8;
    packet.sendTime = nowUs();
    packet.records = {};
    packet.heldKeys = {62};
    deliver(packet);
    EXPECT_EQ(sent().back(), (Bytes{0x90, 60, 0}));

    // Silent for 2 s: the peer is closed and its notes released.
    clock.advance(2'100'000'000);
    bridge.closeSilentWifiPeers(clock.nowNs());
    EXPECT_EQ(bridge.wifiPeerCount(), 0u);
    auto all = sent();
    EXPECT_NE(std::find(all.begin(), all.end(), Bytes{0x90, 62, 0}), all.end());
}

TEST_F(WifiTest, TapsArrivingWholeKeepTheirLength)
{
    open();
    const uint64_t t = nowUs();
    WifiPacket packet;
    packet.sequence = 2;
    packet.sendTime = t + 30'000;
    packet.records = {{1, t, note(1, 60)}, {2, t + 30'000, note(2, 60)}};
    clock.advance(30'000'000);
    deliver(packet);
    ASSERT_EQ(sent(), (std::vector<Bytes>{{0x90, 60, 100}}));
    clock.advance(29'000'000);
    EXPECT_EQ(port.sent.size(), 1u);
    clock.advance(1'000'000);
    EXPECT_EQ(sent().back(), (Bytes{0x90, 60, 0}));
    EXPECT_EQ(bridge.wifiCounters().recoveredTaps, 1);

    // Its release missing from the packet: released 8 ms later. A new attack first sends the
    // pending release.
    packet.sequence = 3;
    packet.sendTime = nowUs();
    packet.records = {{3, nowUs(), note(1, 62)}};
    deliver(packet);
    EXPECT_EQ(sent().back(), (Bytes{0x90, 62, 100}));
    packet.sequence = 4;
    packet.records = {{4, nowUs(), note(1, 62, 90)}};
    clock.advance(2'000'000);
    packet.sendTime = nowUs();
    packet.records[0].time = nowUs();
    deliver(packet);
    auto all = sent();
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[all.size() - 2], (Bytes{0x90, 62, 0}));
    EXPECT_EQ(all.back(), (Bytes{0x90, 62, 90}));
    clock.advance(8'000'000);
    EXPECT_EQ(sent().back(), (Bytes{0x90, 62, 0}));
}

TEST_F(WifiTest, AllNotesOffClearsPendingReleasesOfItsChannelOnly)
{
    open();
    WifiPacket packet;
    packet.sequence = 2;
    packet.sendTime = nowUs();
    packet.records = {{1, nowUs(), note(1, 60, 100, 3)}, {2, nowUs(), note(1, 61, 100, 4)}};
    deliver(packet);
    packet.sequence = 3;
    packet.records = {{3, nowUs(), Bytes{'N', 'P', 'M', '3', 3, 0xB2, 123, 0}}};
    deliver(packet);
    const size_t before = port.sent.size();
    clock.advance(10'000'000);
    // Channel 3's pending release was dropped; channel 4's still comes.
    auto all = sent();
    ASSERT_EQ(all.size(), before + 1);
    EXPECT_EQ(all.back(), (Bytes{0x93, 61, 0}));
}

TEST_F(WifiTest, HoldsRecoverNotesAndSustainFollowsTheMask)
{
    open();
    WifiPacket packet;
    packet.v2 = true;
    packet.sequence = 2;
    packet.sendTime = nowUs();
    packet.holds = {{noteKey(0, 60), 77}};
    packet.sustainMask = 1;
    packet.records = {{1, nowUs(), Bytes{'N', 'P', 'M', '3', 3, 0xB0, 64, 127}}};
    deliver(packet);
    EXPECT_EQ(sent(), (std::vector<Bytes>{{0xB0, 64, 127}, {0x90, 60, 77}}));
    EXPECT_EQ(bridge.wifiCounters().recoveredHolds, 1);

    packet.sequence = 3;
    packet.holds = {};
    packet.sustainMask = 0;
    packet.records = {};
    deliver(packet);
    EXPECT_EQ(sent(), (std::vector<Bytes>{{0xB0, 64, 127}, {0x90, 60, 77}, {0x90, 60, 0}, {0xB0, 64, 0}}));
}

} // namespace
} // namespace norv
