#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <mutex>

#include "midi_helper/helper_error.h"
#include "midi_helper/json_output.h"
#include "midi_helper/manual_scheduler.h"
#include "midi_helper/memory_midi_port.h"
#include "midi_helper/native_midi_bridge.h"

namespace norv {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<uint8_t> packet(const char* magic, std::initializer_list<uint8_t> rest, size_t size = 8)
{
    // Sized up front: growing a four-byte vector makes GCC 12 warn of a copy out of bounds.
    std::vector<uint8_t> p(std::max(size, 4 + rest.size()), 0);
    std::copy(magic, magic + 4, p.begin());
    std::copy(rest.begin(), rest.end(), p.begin() + 4);
    p.resize(size, 0);
    return p;
}

class BridgeTest : public ::testing::Test {
protected:
    BridgeTest()
        : output([this](const std::string& line, auto) {
            std::lock_guard guard(lock);
            lines.push_back(line);
            return true;
        })
    {
    }

    NativeMidiBridge& bridge(HelperConfig config = {})
    {
        if (!bridge_) {
            bridge_ = std::make_unique<NativeMidiBridge>(config, clock, port, output);
            bridge_->openEndpoints();
        }
        return *bridge_;
    }

    std::vector<Bytes> sentBytes() const
    {
        std::vector<Bytes> all;
        for (const auto& m : port.sent)
            all.push_back(m.bytes);
        return all;
    }

    std::vector<nlohmann::json> events()
    {
        output.flush(std::chrono::seconds(5));
        std::lock_guard guard(lock);
        std::vector<nlohmann::json> parsed;
        for (const auto& line : lines)
            parsed.push_back(nlohmann::json::parse(line));
        return parsed;
    }

    void datagram(const std::vector<uint8_t>& bytes, uint32_t address = 0x0A000002, uint16_t port = 5000)
    {
        bridge().handleDatagram(bytes, DatagramOrigin{false, address, port});
    }

    ManualScheduler clock;
    MemoryMidiPort port;
    std::mutex lock;
    std::vector<std::string> lines;
    JsonOutput output;
    std::unique_ptr<NativeMidiBridge> bridge_;
};

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
    EXPECT_EQ(port.sent[2].hostTimeNs, now + NativeMidiBridge::kRetriggerGapNs);
    EXPECT_EQ(b.fastRetriggerCount(), 1);
    EXPECT_EQ(b.fastNoteOnCount(), 1);
    EXPECT_EQ(b.fastNoteOffCount(), 0);

    // An immediate note-off never precedes the note-on stamped in the future.
    b.handleStreamPayload(peer, packet("NPM2", {2, 64, 0, 1}));
    EXPECT_EQ(port.sent.back().hostTimeNs, now + NativeMidiBridge::kRetriggerGapNs);
    EXPECT_EQ(peer->releaseBarriers[64], now + NativeMidiBridge::kRetriggerGapNs);
    // And the next note-on lands strictly after that note-off.
    b.handleStreamPayload(peer, packet("NPM2", {1, 64, 80, 1}));
    EXPECT_EQ(port.sent.back().hostTimeNs, now + NativeMidiBridge::kRetriggerGapNs + 1);
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
    EXPECT_EQ(port.sent[2].hostTimeNs, now + NativeMidiBridge::kRetriggerGapNs);
    EXPECT_EQ(port.sent[3].bytes, (Bytes{0x90, 64, 0}));
    EXPECT_EQ(port.sent[3].hostTimeNs, now + NativeMidiBridge::kRetriggerGapNs);
    // The next note-on lands strictly after that note-off.
    datagram(packet("NPM2", {1, 64, 80, 1}));
    EXPECT_EQ(port.sent.back().hostTimeNs, now + NativeMidiBridge::kRetriggerGapNs + 1);
    EXPECT_FALSE(bridge().udpNotes().none());
}

TEST_F(BridgeTest, FastPacketsDecodeClampAndIgnoreMalformed)
{
    HelperConfig config;
    config.midiChannel = 5;
    auto& b = bridge(config);
    datagram(packet("NPM2", {1, 200, 0, 0}));          // pitch 127, velocity 1, configured channel
    datagram(packet("NPM2", {1, 60, 100, 17}));        // channel 17: configured channel
    datagram(packet("NPM1", {2, 60, 0}, 16));          // 16-byte note-off on the configured channel
    datagram(packet("NPM1", {1, 60, 100}, 8));         // NPM1 must be 16 bytes
    datagram(packet("NPM2", {1, 60, 100, 1}, 16));     // NPM2 must be 8 bytes
    datagram(packet("NPM2", {4, 60, 100, 1}));         // unknown phase
    datagram(packet("NPM3", {3, 0x80, 0x3C, 0x40}));   // note-off: counted
    datagram(packet("NPM3", {2, 0x80, 0x3C, 0x40}));   // wrong length
    datagram(packet("NPM3", {2, 0xC5, 7, 0}));         // program change, two bytes
    datagram(packet("NPM3", {3, 0xC5, 7, 0}));         // wrong length
    datagram(packet("NPM3", {3, 0xF8, 0, 0}));         // system message
    datagram(packet("NPM3", {3, 0xB1, 200, 200}));     // data clamped
    datagram(packet("NPM9", {0, 240, 0, 0}));          // stride settings need a peer
    datagram(packet("NPJ2", {}, 300));                 // Wi-Fi packets are not played
    datagram(packet("NPC1", {1, 2, 3, 4}), 0x7F000001); // clock from loopback: not played

    EXPECT_EQ(sentBytes(), (std::vector<Bytes>{{0x94, 127, 1}, {0x94, 60, 100}, {0x94, 60, 0}, {0x90, 0x3C, 0},
                                               {0xC5, 7}, {0xB1, 127, 127}}));
    EXPECT_EQ(b.fastNoteOnCount(), 2);
    EXPECT_EQ(b.fastNoteOffCount(), 2);
}

TEST_F(BridgeTest, TapReleasesTwentyMillisecondsLaterOnBehalfOfItsPeer)
{
    auto& b = bridge();
    auto a = b.addPeer();
    auto other = b.addPeer();
    b.handleStreamPayload(a, packet("NPM2", {0, 60, 100, 1}));
    b.handleStreamPayload(other, packet("NPM2", {1, 60, 100, 1}));
    EXPECT_TRUE(a->notes.test(60));
    clock.advance(19'000'000);
    EXPECT_EQ(port.sent.size(), 2u);
    clock.advance(1'000'000);
    ASSERT_EQ(port.sent.size(), 3u);
    EXPECT_EQ(port.sent[2].bytes, (Bytes{0x90, 60, 0}));
    // The release cleared the tapping peer's note, so the other holder's close releases the key.
    EXPECT_FALSE(a->notes.test(60));
    b.closePeer(other);
    EXPECT_EQ(port.sent.back().bytes, (Bytes{0x90, 60, 0}));

    // A tap whose peer left before the release: the peer's close already covered it.
    auto leaving = b.addPeer();
    b.handleStreamPayload(leaving, packet("NPM2", {0, 70, 100, 1}));
    b.closePeer(leaving);
    const size_t afterClose = port.sent.size();
    clock.advance(30'000'000);
    EXPECT_EQ(port.sent.size(), afterClose);

    // A datagram tap releases without a peer.
    datagram(packet("NPM2", {0, 72, 100, 1}));
    EXPECT_TRUE(b.udpNotes().test(72));
    clock.advance(20'000'000);
    EXPECT_FALSE(b.udpNotes().test(72));
    EXPECT_EQ(b.fastNoteOnCount(), 1);
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
    const uint64_t due = clock.nowNs() + NativeMidiBridge::kRetriggerGapNs;
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
