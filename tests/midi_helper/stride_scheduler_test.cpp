#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "midi_helper/json_output.h"
#include "midi_helper/manual_scheduler.h"
#include "midi_helper/memory_midi_port.h"
#include "midi_helper/native_midi_bridge.h"
#include "midi_helper/stride_clock.h"
#include "support/midi_helper/helper_wire.h"

namespace norv {
namespace {

using test::Bytes;
using test::engineClock;
using test::midiClock;

class StrideTest : public ::testing::Test {
protected:
    StrideTest()
        : output([](const std::string&, auto) { return true; })
        , bridge(HelperConfig{}, clock, port, output)
    {
        bridge.openEndpoints();
        peer = bridge.addPeer();
    }

    void frame(const char* magic, std::initializer_list<uint8_t> rest)
    {
        Bytes p(magic, magic + 4);
        p.insert(p.end(), rest);
        p.resize(8, 0);
        bridge.handleStreamPayload(peer, p);
    }

    // Sent messages as (milliseconds since `start`, bytes).
    std::vector<std::pair<double, Bytes>> timeline(uint64_t start) const
    {
        std::vector<std::pair<double, Bytes>> all;
        for (const auto& m : port.sent)
            all.push_back({double(m.hostTimeNs - start) / 1e6, m.bytes});
        return all;
    }

    ManualScheduler clock;
    MemoryMidiPort port;
    JsonOutput output;
    NativeMidiBridge bridge;
    std::shared_ptr<MidiPeer> peer;
};

TEST_F(StrideTest, HeldKeyRepeatsEverySixteenthWithItsGate)
{
    const uint64_t start = clock.nowNs();
    frame("NPM9", {0, 240, 0, 0});      // step 0.25 beat, no quantisation
    frame("NPM2", {1, 60, 90, 1});      // hold C4
    clock.advance(300'000'000);         // 0.6 beat at 120 bpm
    frame("NPM2", {2, 60, 0, 1});       // release
    clock.advance(300'000'000);

    using E = std::pair<double, Bytes>;
    const std::vector<E> expected = {{0, {0x90, 60, 90}},     {62.5, {0x90, 60, 0}}, {125, {0x90, 60, 90}},
                                     {187.5, {0x90, 60, 0}}, {250, {0x90, 60, 90}}};
    auto sent = timeline(start);
    ASSERT_GE(sent.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(sent[i].first, expected[i].first, 0.3) << i;
        EXPECT_EQ(sent[i].second, expected[i].second) << i;
    }
    // The release ends the sounding strike and nothing follows.
    ASSERT_EQ(sent.size(), expected.size() + 1);
    EXPECT_EQ(sent.back().second, (Bytes{0x90, 60, 0}));
    EXPECT_EQ(bridge.strideAttacks(), 3);
    EXPECT_FALSE(bridge.strideTimerActive());
}

TEST_F(StrideTest, SwingDelaysEveryOtherStrikeAndStepZeroHoldsTheNote)
{
    const uint64_t start = clock.nowNs();
    frame("NPMG", {0, 50, 0, 100});     // gate 50 %, swing 100 %
    frame("NPM9", {0x80, 6, 0, 0});     // 6 pulses = 0.25 beat
    frame("NPM2", {1, 62, 80, 1});
    clock.advance(600'000'000);
    std::vector<double> strikes;
    for (const auto& [ms, bytes] : timeline(start))
        if (bytes[2] != 0)
            strikes.push_back(ms);
    // 0, 0.25 + 1/12, 0.5, 0.75 + 1/12 beats at 500 ms per beat.
    ASSERT_GE(strikes.size(), 4u);
    EXPECT_NEAR(strikes[0], 0, 0.3);
    EXPECT_NEAR(strikes[1], (0.25 + 0.25 / 3) * 500, 0.3);
    EXPECT_NEAR(strikes[2], 250, 0.3);
    EXPECT_NEAR(strikes[3], (0.75 + 0.25 / 3) * 500, 0.3);

    // Stride off while the key is held: the repeat stops and the key sounds as a held note.
    frame("NPM9", {0, 0, 0, 0});
    clock.advance(500'000'000);
    const auto& last = port.sent.back();
    EXPECT_EQ(last.bytes, (Bytes{0x90, 62, 80}));
    EXPECT_TRUE(peer->notes.test(62));
    EXPECT_FALSE(bridge.strideTimerActive());
}

TEST_F(StrideTest, AStoppedMidiClockStrikesOnlyWhenARunStarts)
{
    frame("NPM9", {0, 240, 0, 0}); // step 0.25 beat: 4 strikes in 0.5 s at 120 bpm
    frame("NPM2", {1, 60, 100, 1});
    const int64_t first = bridge.strideAttacks();
    // 24 stopped ticks in 0.5 s: only the first (a new run) re-phases.
    for (uint64_t tick = 0; tick < 24; ++tick) {
        bridge.receiveMidiClock(midiClock(clock.nowNs(), tick, 7, 2));
        clock.advance(500'000'000 / 24);
    }
    EXPECT_GE(bridge.strideAttacks() - first, 3);
    EXPECT_LE(bridge.strideAttacks() - first, 6);

    // Stopped → playing, and a new generation, each start a run and strike at once.
    const int64_t before = bridge.strideAttacks();
    bridge.receiveMidiClock(midiClock(clock.nowNs(), 24, 7, 3));
    EXPECT_EQ(bridge.strideAttacks(), before + 1);
    clock.advance(1'000'000);
    bridge.receiveMidiClock(midiClock(clock.nowNs(), 0, 8, 2));
    EXPECT_EQ(bridge.strideAttacks(), before + 2);
}

TEST_F(StrideTest, QuantisedVoiceWaitsForAReadyMidiClockWhileTheEnginePlays)
{
    // The engine plays, no MIDI clock: a quantised voice is not struck.
    const double now = double(clock.nowNs()) / 1e9;
    bridge.receiveEngineClock(engineClock(120, 0, now - 0.001));
    frame("NPM9", {0, 240, 0x03, 0xC0}); // quant 960 = one beat
    frame("NPM2", {1, 64, 100, 1});
    clock.advance(1'000'000'000);
    EXPECT_TRUE(port.sent.empty());

    // Invalid codes change nothing.
    frame("NPM9", {0x80, 0, 0, 0});
    frame("NPM9", {0, 240, 0, 14});
    frame("NPM9", {0, 240, 0x80, 0x09});
    EXPECT_EQ(peer->strideQuant, 960);

    // Closing the peer drops its voices and stops the timer.
    bridge.closePeer(peer);
    EXPECT_FALSE(bridge.strideTimerActive());
}

} // namespace
} // namespace norv
