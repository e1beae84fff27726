#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace norv {

// The musical timeline that stride follows, fed by engine clock datagrams (tempo, beat, bar,
// playing) and MIDI clock datagrams (one 24-ppqn tick with its host time). A ready
// MIDI clock wins; otherwise the engine clock runs the timeline. Times are monotonic seconds,
// beats are quarter notes. Pure: the caller passes the time and applies the re-phase it is told.
class StrideClock {
public:
    // What the caller does after a datagram.
    struct Outcome {
        bool accepted = false;  // false: dropped, nothing changed, nothing to schedule
        bool schedule = false;  // re-arm the stride timer
        // Engine clock hard set: re-phase from `predicted` (the old timeline's beat now).
        bool engineRephase = false;
        double predicted = 0.0;
        // MIDI clock: re-phase; restart every voice when a run started (a new generation, or
        // stopped to playing), else shift them by the beat now minus `previousBeat`.
        bool midiRephase = false;
        bool runRestarted = false;
        double previousBeat = 0.0;
    };

    explicit StrideClock(double nowSeconds) : clockAt(nowSeconds) {}

    // `activeVoices`: whether any stride voice has started (keeps small corrections smooth).
    Outcome receiveEngineClock(std::span<const uint8_t> datagram, double now, bool activeVoices);
    Outcome receiveMidiClock(std::span<const uint8_t> datagram, double now);

    bool midiClockReady(double now) const;
    double tempo(double now) const;
    double beat(double now) const;
    // Host time (nanoseconds) of a beat while the MIDI clock is ready; nothing otherwise.
    std::optional<uint64_t> stamp(double beat, double now) const;

    double clockBeat = 0.0;
    double clockAt;
    double clockTempo = 120.0;
    double clockBar = 4.0;
    bool clockPlaying = false;
    double clockSeen = 0.0;
    double midiClockAt = 0.0;
    double midiClockBeat = 0.0;
    double midiClockPeriod = 1.0 / 48.0;
    std::optional<uint64_t> midiClockGeneration;
    std::optional<uint64_t> midiClockTick;
    std::vector<double> midiClockIntervals;
    bool midiClockPlaying = false;
    int64_t midiClockSamples = 0;
    bool hybridWasReady = false;
    double hybridLookahead = 0.02;
};

}  // namespace norv
