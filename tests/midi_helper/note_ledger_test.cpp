#include "tests/support/midi_helper/bridge_fixture.h"

namespace norv {
namespace {

TEST_F(BridgeTest, SendStampsNowOrLaterAndReportsMonitoredMessages)
{
    auto& b = bridge();
    const uint64_t now = clock.nowNs();
    EXPECT_EQ(b.send(Bytes{0x90, 60, 100}, now + 10'000'000), 0);
    EXPECT_EQ(b.send(Bytes{0x90, 61, 100}, now - 5), 0);
    EXPECT_EQ(port.sent[0].hostTimeNs, now + 10'000'000);
    EXPECT_EQ(port.sent[1].hostTimeNs, now);
    EXPECT_TRUE(b.udpNotes().test(60));
    EXPECT_TRUE(events().empty());

    b.setMonitor(true);
    b.send(Bytes{0x90, 60, 0}); // velocity 0 is a note-off
    EXPECT_FALSE(b.udpNotes().test(60));
    auto all = events();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0]["bytes"], nlohmann::json({144, 60, 0}));
    EXPECT_EQ(all[0]["timestamp"], now + 10'000'000); // never before the note-on it ends
    EXPECT_EQ(b.sentCount(), 3);

    // A failed send changes nothing and reports nothing.
    port.sendStatus = -1;
    EXPECT_EQ(b.send(Bytes{0x90, 62, 100}), -1);
    EXPECT_EQ(b.sentCount(), 3);
    EXPECT_FALSE(b.udpNotes().test(62));
    EXPECT_EQ(events().size(), 1u);

    // Data bytes beyond 127 (possible from the "send" command) never index the note state.
    port.sendStatus = 0;
    EXPECT_EQ(b.send(Bytes{0x9F, 255, 255}), 0);
    EXPECT_EQ(b.udpNotes().count(), 1u);
}

TEST_F(BridgeTest, PeerOrderingGuardKeepsNoteOnsAfterNoteOffs)
{
    auto& b = bridge();
    auto peer = b.addPeer();
    const uint64_t now = clock.nowNs();
    b.handleStreamPayload(peer, packet("NPM2", {1, 64, 90, 1}));
    const uint64_t onAt = port.sent.back().hostTimeNs;
    EXPECT_TRUE(peer->notes.test(64));
    EXPECT_EQ(peer->submittedOns[64], onAt);
    // Retrigger: the note-off goes now, the new note-on 1 ms later, never before the note-off.
    b.handleStreamPayload(peer, packet("NPM2", {3, 64, 80, 1}));
    ASSERT_EQ(port.sent.size(), 3u);
    EXPECT_EQ(port.sent[1].bytes, (Bytes{0x90, 64, 0}));
    EXPECT_EQ(port.sent[2].bytes, (Bytes{0x90, 64, 80}));
    EXPECT_EQ(port.sent[2].hostTimeNs, now + FastMidi::kRetriggerGapNs);
    EXPECT_EQ(b.fastRetriggerCount(), 1);
    EXPECT_EQ(b.fastNoteOnCount(), 1);
    EXPECT_EQ(b.fastNoteOffCount(), 0);

    // An immediate note-off never precedes the note-on stamped in the future.
    b.handleStreamPayload(peer, packet("NPM2", {2, 64, 0, 1}));
    EXPECT_EQ(port.sent.back().hostTimeNs, now + FastMidi::kRetriggerGapNs);
    EXPECT_EQ(peer->releaseBarriers[64], now + FastMidi::kRetriggerGapNs);
    // And the next note-on lands strictly after that note-off.
    b.handleStreamPayload(peer, packet("NPM2", {1, 64, 80, 1}));
    EXPECT_EQ(port.sent.back().hostTimeNs, now + FastMidi::kRetriggerGapNs + 1);
}

TEST_F(BridgeTest, DatagramSendersGetTheSameOrderingGuard)
{
    // A quick double strike from a datagram sender: retrigger, then let go before the new note-on
    // is due. The note-off must not land before it, or the key sounds on.
    const uint64_t now = clock.nowNs();
    datagram(packet("NPM2", {1, 64, 90, 1}));
    datagram(packet("NPM2", {3, 64, 80, 1}));
    datagram(packet("NPM2", {2, 64, 0, 1}));
    ASSERT_EQ(port.sent.size(), 4u);
    EXPECT_EQ(port.sent[2].hostTimeNs, now + FastMidi::kRetriggerGapNs);
    EXPECT_EQ(port.sent[3].bytes, (Bytes{0x90, 64, 0}));
    EXPECT_EQ(port.sent[3].hostTimeNs, now + FastMidi::kRetriggerGapNs);
    // The next note-on lands strictly after that note-off.
    datagram(packet("NPM2", {1, 64, 80, 1}));
    EXPECT_EQ(port.sent.back().hostTimeNs, now + FastMidi::kRetriggerGapNs + 1);
    EXPECT_FALSE(bridge().udpNotes().none());
}

TEST_F(BridgeTest, ReleasingAPeerSendsOnlyWhatNobodyElseNeeds)
{
    auto& b = bridge();
    auto first = b.addPeer();
    auto second = b.addPeer();
    // Both hold C4 on channel 1; the first also holds D4, sustain and used channel 2.
    b.handleStreamPayload(first, packet("NPM2", {1, 60, 100, 1}));
    b.handleStreamPayload(first, packet("NPM2", {1, 62, 100, 1}));
    b.handleStreamPayload(first, packet("NPM3", {3, 0xB0, 64, 127}));
    b.handleStreamPayload(first, packet("NPM3", {3, 0xE1, 0, 80}));
    b.handleStreamPayload(second, packet("NPM2", {1, 60, 100, 1}));
    // A datagram sender holds a note on channel 2.
    datagram(packet("NPM2", {1, 50, 100, 2}));
    EXPECT_TRUE(first->sustain.test(0));

    port.sent.clear();
    b.closePeer(first);
    // C4 and channel 1 are still used by the second peer, channel 2 by the datagram sender.
    EXPECT_EQ(sentBytes(), (std::vector<Bytes>{{0x90, 62, 0}, {0xB0, 64, 0}}));
    EXPECT_TRUE(first->notes.none());
    EXPECT_TRUE(first->channels.none());

    port.sent.clear();
    b.closePeer(second);
    EXPECT_EQ(sentBytes(), (std::vector<Bytes>{{0x90, 60, 0}, {0xE0, 0, 64}, {0xD0, 0}, {0xB0, 74, 64}, {0xB0, 1, 0}}));
    EXPECT_EQ(b.peerCount(), 0u);
}

TEST_F(BridgeTest, ALeavingPeersPendingNoteOnNeverOutlastsTheLastHoldersRelease)
{
    // A peer retriggers a key that a second peer and a datagram sender also hold, and leaves
    // before its new note-on is due: the key is still held, so its leaving sends nothing. Whoever
    // ends the key later must not end it before that note-on, or the key sounds on.
    auto& b = bridge();
    auto leaving = b.addPeer();
    auto other = b.addPeer();
    const uint64_t due = clock.nowNs() + FastMidi::kRetriggerGapNs;
    for (int key : {64, 65}) {
        b.handleStreamPayload(leaving, packet("NPM2", {1, uint8_t(key), 90, 1}));
        b.handleStreamPayload(leaving, packet("NPM2", {3, uint8_t(key), 80, 1}));
    }
    b.handleStreamPayload(other, packet("NPM2", {1, 64, 90, 1}));
    datagram(packet("NPM2", {1, 65, 90, 1}));
    const size_t before = port.sent.size();
    b.closePeer(leaving);
    EXPECT_EQ(port.sent.size(), before);
    b.handleStreamPayload(other, packet("NPM2", {2, 64, 0, 1}));
    datagram(packet("NPM2", {2, 65, 0, 1}));
    ASSERT_EQ(port.sent.size(), before + 2);
    for (size_t i = before; i < port.sent.size(); ++i)
        EXPECT_GE(port.sent[i].hostTimeNs, due) << "release of " << int(port.sent[i].bytes[1]);
}

TEST_F(BridgeTest, ClosingEveryPeerAtShutdownAlsoEndsNotesOfDatagramSenders)
{
    auto& b = bridge();
    auto peer = b.addPeer();
    b.handleStreamPayload(peer, packet("NPM2", {1, 60, 100, 1}));
    // Datagram senders have no session whose end could release their notes: one holds the peer's
    // key and another, one taps just before the helper quits (its release timer never fires).
    datagram(packet("NPM2", {1, 60, 90, 1}));
    datagram(packet("NPM2", {1, 62, 90, 2}));
    datagram(packet("NPM1", {0, 64, 80}, 16));
    port.sent.clear();
    b.closeAllPeers();
    EXPECT_EQ(sentBytes(), (std::vector<Bytes>{{0x90, 60, 0}, {0x91, 62, 0}, {0x92, 64, 0}}));
    EXPECT_TRUE(b.udpNotes().none());
}

} // namespace
} // namespace norv
