#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "midi_helper/helper_byte_reader.h"
#include "midi_helper/stride_clock.h"
#include "support/midi_helper/helper_wire.h"

namespace norv {
namespace {

using test::Bytes;
using test::engineClock;
using test::midiClock;

TEST(HelperByteReader, ReadsBigEndianAndRefusesToReadPastTheEnd)
{
    const Bytes bytes = {0x3F, 0xF8, 0, 0, 0, 0, 0, 0, 0x01, 0x02, 0x03};
    HelperByteReader reader(bytes);
    double value = 0;
    uint16_t word = 0;
    uint32_t longer = 0;
    EXPECT_TRUE(reader.f64(value));
    EXPECT_EQ(value, 1.5);
    EXPECT_TRUE(reader.u16(word));
    EXPECT_EQ(word, 0x0102);
    EXPECT_FALSE(reader.u32(longer));
    EXPECT_FALSE(reader.skip(2));
    EXPECT_EQ(reader.remaining(), 1u); // a failed read leaves the position alone
}

TEST(StrideClock, EngineClockDropsImplausibleDatagrams)
{
    StrideClock clock(10.0);
    const double now = 10.0;
    auto accepted = [&](const Bytes& d) { return clock.receiveEngineClock(d, now, false).accepted; };
    Bytes good = engineClock(120, 8, 9.99);
    EXPECT_FALSE(accepted(Bytes(good.begin(), good.end() - 1)));
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_FALSE(accepted(longer));
    EXPECT_FALSE(accepted(engineClock(0.5, 8, 9.99)));
    EXPECT_FALSE(accepted(engineClock(1000, 8, 9.99)));
    EXPECT_FALSE(accepted(engineClock(120, std::nan(""), 9.99)));
    EXPECT_FALSE(accepted(engineClock(120, 2e9, 9.99)));  // no sane position
    EXPECT_FALSE(accepted(engineClock(120, 8, 9.7)));     // 0.3 s old
    EXPECT_FALSE(accepted(engineClock(120, 8, 10.02)));   // 20 ms ahead
    EXPECT_FALSE(accepted(engineClock(120, 8, 9.99, 0.2)));
    EXPECT_FALSE(accepted(engineClock(120, 8, 9.99, 65)));
    EXPECT_TRUE(accepted(engineClock(999, 8, 9.99, 64)));
    EXPECT_FALSE(accepted(engineClock(120, 8, 9.99)));     // same stamp again
    EXPECT_EQ(clock.clockTempo, 999);
    EXPECT_EQ(clock.clockBar, 64);
}

TEST(StrideClock, EngineClockSlewsSmallErrorsAndJumpsLargeOnes)
{
    StrideClock clock(0.0);
    auto first = clock.receiveEngineClock(engineClock(120, 4, 1.0), 1.0, true);
    EXPECT_TRUE(first.engineRephase); // the first datagram sets the timeline
    EXPECT_DOUBLE_EQ(clock.beat(1.0), 4.0);
    EXPECT_DOUBLE_EQ(clock.beat(1.5), 5.0);

    // 0.1 beat ahead while voices play: the timeline moves by only 0.002 beat.
    auto slew = clock.receiveEngineClock(engineClock(120, 5.1, 1.5), 1.5, true);
    EXPECT_FALSE(slew.engineRephase);
    EXPECT_NEAR(clock.beat(1.5), 5.002, 1e-9);
    // 0.3 beat ahead: the timeline jumps.
    auto jump = clock.receiveEngineClock(engineClock(120, 6.3, 2.0), 2.0, true);
    EXPECT_TRUE(jump.engineRephase);
    EXPECT_NEAR(jump.predicted, 6.002, 1e-9);
    EXPECT_NEAR(clock.beat(2.0), 6.3, 1e-9);

    // Stopped: the reported beat is not adopted, the timeline keeps running at the last tempo.
    clock.receiveEngineClock(engineClock(60, 100, 2.5, 4, 0), 2.5, true);
    EXPECT_FALSE(clock.clockPlaying);
    EXPECT_NEAR(clock.beat(2.5), 7.3, 1e-9);
    EXPECT_NEAR(clock.beat(3.5), 8.3, 1e-9); // now at 60 bpm
}

TEST(StrideClock, MidiClockBecomesReadyAfterTwelveTicksAndDropsBadTicks)
{
    StrideClock clock(0.0);
    const double period = 1.0 / 48.0;
    double now = 1.0;
    for (uint64_t tick = 0; tick < 12; ++tick) {
        now = 1.0 + double(tick) * period;
        EXPECT_FALSE(clock.midiClockReady(now));
        EXPECT_TRUE(clock.receiveMidiClock(midiClock(uint64_t(now * 1e9), tick), now).accepted);
    }
    EXPECT_TRUE(clock.midiClockReady(now));
    EXPECT_NEAR(clock.tempo(now), 120.0, 1e-4);
    EXPECT_NEAR(clock.beat(now), 11.0 / 24.0, 1e-6);
    ASSERT_TRUE(clock.stamp(1.0, now));
    EXPECT_NEAR(double(*clock.stamp(1.0, now)) / 1e9, 1.0 + 24 * period, 1e-6);

    const int64_t samples = clock.midiClockSamples;
    // Repeated tick, an interval of 1 ms, a huge tick count: no effect.
    clock.receiveMidiClock(midiClock(uint64_t((now + 0.001) * 1e9), 11), now + 0.001);
    clock.receiveMidiClock(midiClock(uint64_t((now + 0.001) * 1e9), 12), now + 0.001);
    clock.receiveMidiClock(midiClock(uint64_t((now + 0.001) * 1e9), (uint64_t(1) << 48) + 1), now + 0.001);
    EXPECT_EQ(clock.midiClockSamples, samples);
    EXPECT_DOUBLE_EQ(clock.midiClockBeat, 11.0 / 24.0);

    // A gap of 0.25 s: no longer ready; the engine timeline takes over.
    EXPECT_FALSE(clock.midiClockReady(now + 0.25));
    EXPECT_FALSE(clock.stamp(1.0, now + 0.25));

    // Ticks while stopped restart the run every time.
    StrideClock stopped(0.0);
    for (uint64_t tick = 0; tick < 20; ++tick) {
        double t = 1.0 + double(tick) * period;
        stopped.receiveMidiClock(midiClock(uint64_t(t * 1e9), tick, 1, 2), t);
        EXPECT_FALSE(stopped.midiClockReady(t));
    }
}

} // namespace
} // namespace norv
