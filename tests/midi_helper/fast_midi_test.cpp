#include "tests/support/midi_helper/bridge_fixture.h"

namespace norv {
namespace {

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

} // namespace
} // namespace norv
