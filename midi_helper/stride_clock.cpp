#include "midi_helper/stride_clock.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace norv {
namespace {

uint64_t readU64(std::span<const uint8_t> bytes, size_t offset)
{
    uint64_t value = 0;
    for (size_t i = 0; i < 8; ++i)
        value = value << 8 | bytes[offset + i];
    return value;
}

uint32_t readU32(std::span<const uint8_t> bytes, size_t offset)
{
    return uint32_t(bytes[offset]) << 24 | uint32_t(bytes[offset + 1]) << 16 | uint32_t(bytes[offset + 2]) << 8
           | bytes[offset + 3];
}

double readDouble(std::span<const uint8_t> bytes, size_t offset)
{
    return std::bit_cast<double>(readU64(bytes, offset));
}

// Beats beyond this are not a plausible position: they would lose all sub-beat precision.
constexpr double kMaxBeat = 1e9;
// Tick counts beyond 2^48 (decades of clock) are treated as garbage.
constexpr uint64_t kMaxTick = uint64_t(1) << 48;

} // namespace

bool StrideClock::midiClockReady(double now) const
{
    return midiClockPlaying && midiClockSamples >= 12 && now - midiClockAt < std::max(4 * midiClockPeriod, 0.25);
}

double StrideClock::tempo(double now) const
{
    return midiClockReady(now) ? 60.0 / (midiClockPeriod * 24.0) : clockTempo;
}

double StrideClock::beat(double now) const
{
    if (midiClockReady(now))
        return midiClockBeat + (now - midiClockAt) / (midiClockPeriod * 24.0);
    return clockBeat + (now - clockAt) * clockTempo / 60.0;
}

std::optional<uint64_t> StrideClock::stamp(double beatValue, double now) const
{
    if (!midiClockReady(now))
        return std::nullopt;
    const double seconds = midiClockAt + midiClockPeriod * (beatValue - midiClockBeat) * 24.0;
    const double ns = seconds * 1e9;
    if (!std::isfinite(ns) || ns >= 1.8e19)
        return std::nullopt;
    return ns < 1.0 ? uint64_t(1) : uint64_t(ns);
}

StrideClock::Outcome StrideClock::receiveEngineClock(std::span<const uint8_t> d, double now, bool activeVoices)
{
    Outcome outcome;
    if (d.size() != 40)
        return outcome;
    const double tempoValue = readDouble(d, 4);
    const double reported = readDouble(d, 12);
    const double stampValue = readDouble(d, 20);
    const double bar = readDouble(d, 28);
    const bool playing = readU32(d, 36) == 1;
    if (!std::isfinite(tempoValue) || tempoValue < 1 || tempoValue > 999)
        return outcome;
    if (!std::isfinite(reported) || std::fabs(reported) > kMaxBeat || !std::isfinite(stampValue))
        return outcome;
    const double age = now - stampValue;
    if (age < -0.01 || age >= 0.25)
        return outcome;
    if (!std::isfinite(bar) || bar < 0.25 || bar > 64)
        return outcome;
    if (stampValue <= clockSeen)
        return outcome;

    const double projected = reported + std::max(age, 0.0) * tempoValue / 60.0;
    const double predicted = clockBeat + (now - clockAt) * clockTempo / 60.0;
    outcome.accepted = true;
    outcome.schedule = true;

    auto setFields = [&](double newBeat) {
        clockBeat = newBeat;
        clockAt = now;
        clockTempo = tempoValue;
        clockBar = bar;
        clockPlaying = playing;
        clockSeen = stampValue;
    };
    const bool first = clockSeen == 0.0;
    if (!first && playing == clockPlaying) {
        if (!playing) {
            setFields(predicted); // stopped: the local timeline runs on
            return outcome;
        }
        if (activeVoices && std::fabs(projected - predicted) <= 0.25) {
            setFields(predicted + std::clamp(projected - predicted, -0.002, 0.002));
            return outcome;
        }
    }
    setFields(playing ? projected : predicted);
    outcome.engineRephase = true;
    outcome.predicted = predicted;
    return outcome;
}

StrideClock::Outcome StrideClock::receiveMidiClock(std::span<const uint8_t> d, double now)
{
    Outcome outcome;
    if (d.size() != 28)
        return outcome;
    const uint64_t hostTime = readU64(d, 4);
    const uint64_t tick = readU64(d, 12);
    const uint32_t generation = readU32(d, 20);
    const uint32_t kind = readU32(d, 24);
    if (hostTime == 0 || kind >= 4 || tick > kMaxTick)
        return outcome;
    const double t = double(hostTime) / 1e9;
    if (!(t <= now + 0.01) || !(now - t < 0.25))
        return outcome;
    outcome.accepted = true;

    const double previousBeat = beat(now);
    const bool wasReady = midiClockReady(now);
    const bool playing = (kind & 1) != 0;
    // A datagram that does not continue a playing run restarts the window, but only a run that
    // really starts (a new generation, or stopped to playing) re-phases the voices: a stopped
    // clock sends a datagram every tick and must not strike on each.
    const bool newRun = !midiClockGeneration || *midiClockGeneration != generation || (playing && !midiClockPlaying);
    if (!(midiClockGeneration && *midiClockGeneration == generation && playing)) {
        midiClockIntervals.clear();
        midiClockSamples = 0;
        midiClockTick.reset();
    }
    midiClockGeneration = generation;
    midiClockPlaying = playing;

    if (kind & 2) {
        if (midiClockTick) {
            if (tick <= *midiClockTick)
                return outcome;
            const double interval = (t - midiClockAt) / double(tick - *midiClockTick);
            if (!(interval > 0.002 && interval < 3.0))
                return outcome;
            if (std::fabs(interval / midiClockPeriod - 1.0) > 0.02)
                midiClockIntervals.clear();
            if (midiClockIntervals.size() >= 24)
                midiClockIntervals.erase(midiClockIntervals.begin());
            midiClockIntervals.push_back(interval);
            std::vector<double> sorted = midiClockIntervals;
            std::sort(sorted.begin(), sorted.end());
            midiClockPeriod = sorted[sorted.size() / 2];
        } else {
            midiClockPeriod = (60.0 / clockTempo) / 24.0;
        }
        midiClockTick = tick;
        midiClockAt = t;
        midiClockBeat = double(tick) / 24.0;
        ++midiClockSamples;
    }

    const bool ready = midiClockReady(now);
    if (newRun || ready != wasReady || ready != hybridWasReady) {
        hybridWasReady = ready;
        outcome.midiRephase = true;
        outcome.runRestarted = newRun;
        outcome.previousBeat = previousBeat;
    }
    outcome.schedule = true;
    return outcome;
}

} // namespace norv
