#include "midi_helper/stride_clock.h"

#include "midi_helper/helper_byte_reader.h"

#include <algorithm>
#include <cmath>

namespace norv {
namespace {

// Beats beyond this are not a plausible position: they would lose all sub-beat precision.
constexpr double kMaxBeat = 1e9;
// Tick counts beyond 2^48 (decades of clock) are treated as garbage.
constexpr uint64_t kMaxTick = uint64_t(1) << 48;

}  // namespace

bool StrideClock::midiClockReady(double now) const {
    return midiClockPlaying && midiClockSamples >= 12 &&
           now - midiClockAt < std::max(4 * midiClockPeriod, 0.25);
}

double StrideClock::tempo(double now) const {
    return midiClockReady(now) ? 60.0 / (midiClockPeriod * 24.0) : clockTempo;
}

double StrideClock::beat(double now) const {
    if (midiClockReady(now)) return midiClockBeat + (now - midiClockAt) / (midiClockPeriod * 24.0);
    return clockBeat + (now - clockAt) * clockTempo / 60.0;
}

std::optional<uint64_t> StrideClock::stamp(double beatValue, double now) const {
    if (!midiClockReady(now)) return std::nullopt;
    const double seconds = midiClockAt + midiClockPeriod * (beatValue - midiClockBeat) * 24.0;
    const double ns = seconds * 1e9;
    if (!std::isfinite(ns) || ns >= 1.8e19) return std::nullopt;
    return ns < 1.0 ? uint64_t(1) : uint64_t(ns);
}

StrideClock::Outcome StrideClock::receiveEngineClock(std::span<const uint8_t> d, double now,
                                                     bool activeVoices) {
    Outcome outcome;
    // The engine clock magic, then big-endian: tempo, beat, host time of the beat (s), bar length
    // (all f64), playing (u32).
    if (d.size() != 40) return outcome;
    HelperByteReader reader(d);
    double tempoValue = 0, reported = 0, stampValue = 0, bar = 0;
    uint32_t playingWord = 0;
    if (!(reader.skip(4) && reader.f64(tempoValue) && reader.f64(reported) &&
          reader.f64(stampValue) && reader.f64(bar) && reader.u32(playingWord)))
        return outcome;
    const bool playing = playingWord == 1;
    if (!std::isfinite(tempoValue) || tempoValue < 1 || tempoValue > 999) return outcome;
    if (!std::isfinite(reported) || std::fabs(reported) > kMaxBeat || !std::isfinite(stampValue))
        return outcome;
    const double age = now - stampValue;
    if (age < -0.01 || age >= 0.25) return outcome;
    if (!std::isfinite(bar) || bar < 0.25 || bar > 64) return outcome;
    if (stampValue <= clockSeen) return outcome;

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
            setFields(predicted);  // stopped: the local timeline runs on
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

StrideClock::Outcome StrideClock::receiveMidiClock(std::span<const uint8_t> d, double now) {
    Outcome outcome;
    // The MIDI clock magic, then big-endian: host time (ns, u64), tick (u64), generation (u32),
    // kind (u32: bit 0 playing, bit 1 a tick).
    if (d.size() != 28) return outcome;
    HelperByteReader reader(d);
    uint64_t hostTime = 0, tick = 0;
    uint32_t generation = 0, kind = 0;
    if (!(reader.skip(4) && reader.u64(hostTime) && reader.u64(tick) && reader.u32(generation) &&
          reader.u32(kind)))
        return outcome;
    if (hostTime == 0 || kind >= 4 || tick > kMaxTick) return outcome;
    const double t = double(hostTime) / 1e9;
    if (!(t <= now + 0.01) || !(now - t < 0.25)) return outcome;
    outcome.accepted = true;

    const double previousBeat = beat(now);
    const bool wasReady = midiClockReady(now);
    const bool playing = (kind & 1) != 0;
    // A datagram that does not continue a playing run restarts the window, but only a run that
    // really starts (a new generation, or stopped to playing) re-phases the voices: a stopped
    // clock sends a datagram every tick and must not strike on each.
    const bool newRun = !midiClockGeneration || *midiClockGeneration != generation ||
                        (playing && !midiClockPlaying);
    if (!(midiClockGeneration && *midiClockGeneration == generation && playing)) {
        midiClockIntervals.clear();
        midiClockSamples = 0;
        midiClockTick.reset();
    }
    midiClockGeneration = generation;
    midiClockPlaying = playing;

    if (kind & 2) {
        if (midiClockTick) {
            if (tick <= *midiClockTick) return outcome;
            const double interval = (t - midiClockAt) / double(tick - *midiClockTick);
            if (!(interval > 0.002 && interval < 3.0)) return outcome;
            if (std::fabs(interval / midiClockPeriod - 1.0) > 0.02) midiClockIntervals.clear();
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

}  // namespace norv
