#include "midi_helper/stride_scheduler.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "midi_helper/note_ledger.h"
#include "midi_helper/repeat_exchange.h"

namespace norv {
namespace {

void shiftVoice(StrideVoice& voice, double shift) {
    for (auto* time : {&voice.next, &voice.nextBase, &voice.off})
        if (*time) **time += shift;
}

}  // namespace

StrideScheduler::StrideScheduler(Scheduler& scheduler, NoteLedger& ledger, RepeatExchange& repeat)
    : scheduler_(scheduler),
      ledger_(ledger),
      repeat_(repeat),
      clock_(double(scheduler.nowNs()) / 1e9),
      timer_(scheduler) {}

bool StrideScheduler::runs() const { return !repeat_.enabled(); }

template <typename Visit>
void StrideScheduler::forEachStridePeer(Visit&& visit) const {
    for (bool wifi : {false, true})
        for (const auto& peer : ledger_.senders())
            if (peer->wifi == wifi && peer->strideStep > 0) visit(peer);
}

void StrideScheduler::receiveEngineClock(std::span<const uint8_t> datagram) {
    const double now = nowSeconds();
    bool activeVoices = false;
    forEachStridePeer([&](const std::shared_ptr<MidiPeer>& peer) {
        for (const auto& [key, voice] : peer->held) activeVoices = activeVoices || voice.started;
    });
    const StrideClock::Outcome outcome = clock_.receiveEngineClock(datagram, now, activeVoices);
    if (!outcome.accepted) return;
    if (outcome.engineRephase && runs() && !clock_.midiClockReady(now)) {
        forEachStridePeer([&](const std::shared_ptr<MidiPeer>& peer) {
            const double beatNow = beat();
            const double shift = beatNow - outcome.predicted;
            for (auto& [key, voice] : peer->held) {
                if ((peer->strideQuant != 0 && clock_.clockPlaying) || !voice.started)
                    startVoice(peer, key, beatNow);
                else
                    shiftVoice(voice, shift);
            }
        });
    }
    schedule();
}

void StrideScheduler::receiveMidiClock(std::span<const uint8_t> datagram) {
    const StrideClock::Outcome outcome = clock_.receiveMidiClock(datagram, nowSeconds());
    if (!outcome.schedule) return;
    // While the Repeat lab is configured it plays the repeat: no strike of the helper's own.
    if (outcome.midiRephase && runs()) {
        forEachStridePeer([&](const std::shared_ptr<MidiPeer>& peer) {
            for (auto& [key, voice] : peer->held) {
                if (peer->strideQuant != 0 || outcome.runRestarted)
                    startVoice(peer, key, beat());
                else
                    shiftVoice(voice, beat() - outcome.previousBeat);
            }
        });
    }
    schedule();
}

void StrideScheduler::configure(const std::shared_ptr<MidiPeer>& peer, uint16_t step,
                                uint16_t quant) {
    const double beats =
        (step & 0x8000) ? double(step & 0x7FFF) / 24.0 : double(step & 0x7FFF) / 960.0;
    if (step != 0 && beats == 0.0) return;
    const bool validQuant = quant == 0 || quant == 16384 || (quant >= 15 && quant <= 15360) ||
                            (quant >= 0x8001 && quant <= 0x8008);
    if (!validQuant) return;
    if (beats == peer->strideStep && quant == peer->strideQuant) return;
    // A Wi-Fi sender does not take the repeat exchange away from another peer.
    if (repeat_.enabled() && peer->wifi && repeat_.owner() && repeat_.owner() != peer) return;
    const double oldStep = peer->strideStep;
    const bool restart =
        quant != peer->strideQuant || (beats != oldStep && quant == 16384) || oldStep == 0.0;
    peer->strideStep = beats;
    peer->strideQuant = quant;
    if (repeat_.enabled()) {
        repeat_.takeOwnership(peer, oldStep);
        return;
    }
    restartVoices(peer, oldStep, restart);
    schedule();
}

void StrideScheduler::restartVoices(const std::shared_ptr<MidiPeer>& peer, double oldStep,
                                    bool restart) {
    const double beats = peer->strideStep;
    const double beatNow = beat();
    for (auto& [key, voice] : peer->held) {
        if (beats == 0.0) {
            voice.next.reset();
            voice.off.reset();
            voice.nextBase.reset();
            voice.nextOdd = false;
            if (!peer->notes.test(size_t(key))) {
                const std::array<uint8_t, 3> on{uint8_t(0x90 + key / 128), uint8_t(key % 128),
                                                voice.velocity};
                ledger_.sendAs(peer, on);
            }
        } else if (restart) {
            startVoice(peer, key, beatNow);
        } else if (voice.started) {
            // Keep the phase: the grid continues from the previous strike with the new step.
            const double reference = voice.nextBase ? *voice.nextBase
                                     : voice.next   ? *voice.next
                                                    : beatNow;
            const double previous = reference - oldStep;
            const double n = std::max(std::floor((beatNow - previous) / beats), 1.0);
            voice.nextBase = previous + beats * n;
            if (std::fmod(n, 2.0) == 0.0) voice.nextOdd = !voice.nextOdd;
            voice.next = *voice.nextBase + (voice.nextOdd ? beats * peer->strideSwing / 3.0 : 0.0);
        } else if (peer->notes.test(size_t(key))) {
            voice.off = beatNow + beats * peer->strideGate;
        }
    }
}

void StrideScheduler::configureArticulation(const std::shared_ptr<MidiPeer>& peer, uint16_t gate,
                                            uint16_t swing) {
    if (gate < 10 || gate > 100 || swing > 100) return;
    peer->strideGate = gate / 100.0;
    const double swingValue = swing / 100.0;
    if (swingValue == peer->strideSwing) return;
    peer->strideSwing = swingValue;
    for (auto& [key, voice] : peer->held)
        if (voice.nextBase)
            voice.next =
                *voice.nextBase + (voice.nextOdd ? peer->strideStep * swingValue / 3.0 : 0.0);
    schedule();
}

void StrideScheduler::startVoice(const std::shared_ptr<MidiPeer>& peer, int key, double beatAt) {
    endStrike(peer, key);
    auto it = peer->held.find(key);
    if (it == peer->held.end()) return;
    StrideVoice& voice = it->second;
    voice.nextBase.reset();
    voice.nextOdd = false;
    double unit;
    if (peer->strideQuant == 16384)
        unit = peer->strideStep;
    else if (peer->strideQuant >= 0x8001 && peer->strideQuant <= 0x8008)
        unit = clock_.clockBar * (peer->strideQuant - 0x8000);
    else
        unit = peer->strideQuant / 960.0;
    if (unit <= 0.0 || (!clock_.clockPlaying && !clock_.midiClockPlaying)) {
        attack(peer, key, beatAt);
        return;
    }
    // Wait for the grid: with a ready MIDI clock, the quantisation line at or before 20 ms ahead.
    voice.started = false;
    const double now = nowSeconds();
    if (clock_.midiClockReady(now))
        voice.next = unit * std::floor((beatAt + clock_.tempo(now) * 0.02 / 60.0) / unit);
    else
        voice.next.reset();
    voice.nextBase = voice.next;
}

void StrideScheduler::attack(const std::shared_ptr<MidiPeer>& peer, int key, double beatAt) {
    auto it = peer->held.find(key);
    if (it == peer->held.end() || peer->strideStep <= 0.0) return;
    const std::optional<uint64_t> stamp = clock_.stamp(beatAt, nowSeconds());
    endStrike(peer, key, stamp);
    StrideVoice& voice = it->second;
    const std::array<uint8_t, 3> on{uint8_t(0x90 + key / 128), uint8_t(key % 128), voice.velocity};
    ledger_.sendAs(peer, on, stamp);
    ++attacks_;
    const double step = peer->strideStep;
    voice.started = true;
    voice.off = beatAt + step * peer->strideGate;
    const double base = voice.nextBase ? *voice.nextBase : beatAt;
    voice.nextBase = base + step;
    voice.next = base + step + (!voice.nextOdd ? step * peer->strideSwing / 3.0 : 0.0);
    voice.nextOdd = !voice.nextOdd;
}

void StrideScheduler::endStrike(const std::shared_ptr<MidiPeer>& peer, int key,
                                std::optional<uint64_t> at) {
    if (auto it = peer->held.find(key); it != peer->held.end()) it->second.off.reset();
    if (peer->notes.test(size_t(key))) {
        NoteLedger::Acting acting(ledger_, peer);
        ledger_.sendNoteOff(key, at);
    }
}

void StrideScheduler::dropVoices(MidiPeer& peer) {
    peer.held.clear();
    peer.strideStep = 0;
    schedule();
}

void StrideScheduler::skipSwingEdges(MidiPeer& peer, StrideVoice& voice, double before) {
    if (!voice.nextBase || peer.strideStep <= 0.0) return;
    const double step = peer.strideStep;
    const double delay = step * peer.strideSwing / 3.0;
    double n = std::max(std::floor((before - *voice.nextBase) / step), 0.0);
    bool odd = false;
    double time = 0.0;
    for (int guard = 0; guard < 8; ++guard, n += 1.0) {
        odd = voice.nextOdd != (std::fmod(n, 2.0) == 1.0);
        time = *voice.nextBase + step * n + (odd ? delay : 0.0);
        if (time >= before) break;
    }
    voice.nextBase = *voice.nextBase + step * n;
    voice.nextOdd = odd;
    voice.next = time;
}

void StrideScheduler::schedule() {
    if (!runs()) return;
    const double now = nowSeconds();
    const double beatNow = clock_.beat(now);
    std::optional<double> earliest;
    bool quantisedWaiting = false;
    double smallestStep = 0.0;
    forEachStridePeer([&](const std::shared_ptr<MidiPeer>& peer) {
        if (peer->strideQuant != 0 && !peer->held.empty()) quantisedWaiting = true;
        smallestStep =
            smallestStep == 0.0 ? peer->strideStep : std::min(smallestStep, peer->strideStep);
        for (const auto& [key, voice] : peer->held)
            for (const auto& time : {voice.next, voice.off})
                if (time && (!earliest || *time < *earliest)) earliest = *time;
    });
    if (!earliest && !quantisedWaiting) {
        timer_.cancel();
        return;
    }
    const double tempo = clock_.tempo(now);
    const double lookahead =
        clock_.midiClockReady(now) ? std::min(smallestStep * 0.4 * 60.0 / tempo, 0.02) : 0.0;
    const double target = earliest ? *earliest : beatNow + 1.0;
    const double delay = std::clamp((target - beatNow) * 60.0 / tempo - lookahead, 0.0002, 0.05);
    timer_.start(uint64_t(delay * 1e9), [this] { tick(); });
}

void StrideScheduler::tick() {
    const double now = nowSeconds();
    const double beatNow = clock_.beat(now);
    const bool ready = clock_.midiClockReady(now);
    const double tempo = clock_.tempo(now);
    if (clock_.hybridWasReady && !ready) {
        clock_.hybridWasReady = false;
        forEachStridePeer([&](const std::shared_ptr<MidiPeer>& peer) {
            for (auto& [key, voice] : peer->held) startVoice(peer, key, beatNow);
        });
    }
    forEachStridePeer([&](const std::shared_ptr<MidiPeer>& peer) {
        const double horizon =
            beatNow + (ready ? std::min(tempo * 0.02 / 60.0, peer->strideStep * 0.4) : 0.0);
        if (peer->strideQuant != 0 && ((clock_.clockPlaying && !ready) ||
                                       (!clock_.clockPlaying && clock_.midiClockPlaying && !ready)))
            return;
        const Moment moment{now, beatNow, tempo, horizon, ready};
        for (auto& [key, voice] : peer->held) tickVoice(peer, key, voice, moment);
    });
    schedule();
}

void StrideScheduler::tickVoice(const std::shared_ptr<MidiPeer>& peer, int key, StrideVoice& voice,
                                const Moment& moment) {
    const auto [now, beatNow, tempo, horizon, ready] = moment;
    const double step = peer->strideStep;
    if (voice.off && *voice.off <= horizon + 1e-6) {
        const double offBeat = *voice.off;
        voice.off.reset();
        if (peer->notes.test(size_t(key))) {
            NoteLedger::Acting acting(ledger_, peer);
            ledger_.sendNoteOff(key, ready ? clock_.stamp(offBeat, now) : std::nullopt);
        }
    }
    if (!voice.next || *voice.next > horizon + 1e-6) return;
    const double next = *voice.next;
    const double lateness = (beatNow - next) * 60000.0 / tempo;
    maxLateMs_ = std::max(maxLateMs_, lateness);
    if (!ready && peer->strideSwing == 0.0) {
        // Missed strikes are skipped: the latest grid point is struck.
        const double n = std::floor(std::max(beatNow - next, 0.0) / step);
        const double latest = next + step * n;
        voice.nextBase = latest;
        if (std::fmod(n, 2.0) == 1.0) voice.nextOdd = !voice.nextOdd;
        attack(peer, key, latest);
    } else if (!ready) {
        if (beatNow - next > tempo * 0.001 / 60.0)  // more than 1 ms late
            skipSwingEdges(*peer, voice, beatNow);
        else
            attack(peer, key, next);
    } else if (lateness <= 1.0) {
        if (peer->strideSwing == 0.0) voice.nextBase = next;
        attack(peer, key, next);
    } else {
        // Too late with a ready clock: end the strike and move on to the next grid point ahead.
        endStrike(peer, key);
        if (peer->strideSwing != 0.0) {
            skipSwingEdges(*peer, voice, horizon);
        } else {
            const double n = std::max(std::floor((horizon - next) / step), 1.0);
            voice.next = next + step * n;
            voice.nextBase = voice.next;
            if (std::fmod(n, 2.0) == 1.0) voice.nextOdd = !voice.nextOdd;
        }
    }
}

}  // namespace norv
