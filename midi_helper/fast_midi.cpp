#include "midi_helper/fast_midi.h"

#include <algorithm>
#include <array>
#include <memory>
#include <utility>

#include "midi_helper/helper_byte_reader.h"
#include "midi_helper/note_ledger.h"
#include "midi_helper/repeat_exchange.h"
#include "midi_helper/stride_scheduler.h"
#include "midi_helper/wire_names.h"

namespace norv {
namespace {

// The two big-endian 16-bit settings after a stride packet's magic.
std::pair<uint16_t, uint16_t> strideSettings(std::span<const uint8_t> packet) {
    HelperByteReader reader(packet);
    uint16_t first = 0, second = 0;
    reader.skip(4);
    reader.u16(first);
    reader.u16(second);
    return {first, second};
}

}  // namespace

FastMidi::FastMidi(const BridgeBasics& basics, StrideScheduler& stride, RepeatExchange& repeat)
    : config_(basics.config),
      scheduler_(basics.scheduler),
      ledger_(basics.ledger),
      stride_(stride),
      repeat_(repeat) {}

FastMidi::~FastMidi() {
    for (auto id : tapTimers_) scheduler_.cancel(id);
}

void FastMidi::handlePacket(std::span<const uint8_t> p) {
    if (p.size() == 16) {
        if (wire::hasMagic(p, wire::kFastNote16)) sendNote(p[4], p[5], p[6], config_.midiChannel);
        return;
    }
    if (p.size() != 8) return;
    // A copy: the handlers below change the current sender while they send.
    const std::shared_ptr<MidiPeer> peer = ledger_.current();
    if (wire::hasMagic(p, wire::kStrideArticulation) && peer) {
        const auto [gate, swing] = strideSettings(p);
        stride_.configureArticulation(peer, gate, swing);
    } else if (wire::hasMagic(p, wire::kStrideStep) && peer) {
        const auto [step, quant] = strideSettings(p);
        stride_.configure(peer, step, quant);
    } else if (wire::hasMagic(p, wire::kFastNote)) {
        const int channel = (p[7] >= 1 && p[7] <= 16) ? p[7] : config_.midiChannel;
        sendNote(p[4], p[5], p[6], channel);
    } else if (wire::hasMagic(p, wire::kFastRaw)) {
        sendRaw(p[4], p[5], p[6], p[7]);
    }
}

bool FastMidi::holdForRepeat(int phase, int key, int velocity, std::span<const uint8_t> on) {
    const std::shared_ptr<MidiPeer>& current = ledger_.current();
    if (!current || phase == 0) return false;
    std::shared_ptr<MidiPeer> peer = current;
    if (phase == 2)
        peer->held.erase(key);
    else {
        StrideVoice voice;
        voice.velocity = uint8_t(velocity);
        peer->held[key] = voice;
    }
    if (repeat_.owns(peer)) {
        // The repeat exchange plays the repeat; note-ons sound only while it acknowledges.
        if (phase == 2)
            stride_.endStrike(peer, key);
        else if (repeat_.ackFresh())
            ledger_.send(on);
        return true;
    }
    if (peer->strideStep <= 0) return false;
    if (phase == 2)
        stride_.endStrike(peer, key);
    else
        stride_.startVoice(peer, key, stride_.beat());
    stride_.schedule();
    return true;
}

void FastMidi::sendNote(int phase, int pitch, int velocity, int channel) {
    if (phase < 0 || phase > 3 || channel < 1 || channel > 16) return;
    pitch = std::min(pitch, 127);
    velocity = std::clamp(velocity, 1, 127);
    const uint8_t status = uint8_t(0x90 + channel - 1);
    const std::array<uint8_t, 3> on{status, uint8_t(pitch), uint8_t(velocity)};
    const std::array<uint8_t, 3> off{status, uint8_t(pitch), 0};
    if (holdForRepeat(phase, noteKey(channel - 1, pitch), velocity, on)) return;
    switch (phase) {
        case 0:
            ledger_.send(on);
            scheduleTapRelease(status, uint8_t(pitch));
            break;
        case 1:
            ++noteOnCount_;
            ledger_.send(on);
            break;
        case 2:
            ++noteOffCount_;
            ledger_.send(off);
            break;
        case 3:
            // The new attack is stamped 1 ms after the release instead of holding the loop.
            ++retriggerCount_;
            ledger_.send(off);
            ledger_.send(on, scheduler_.nowNs() + kRetriggerGapNs);
            break;
    }
}

void FastMidi::scheduleTapRelease(uint8_t status, uint8_t pitch) {
    std::weak_ptr<MidiPeer> player = ledger_.current();
    const bool fromPeer = ledger_.current() != nullptr;
    auto slot = std::make_shared<Scheduler::TimerId>(0);
    Scheduler::TimerId id =
        scheduler_.schedule(kTapReleaseNs, [this, slot, player, fromPeer, status, pitch] {
            tapTimers_.erase(*slot);
            std::shared_ptr<MidiPeer> peer;
            if (fromPeer) {
                // A peer that has left had its notes released already; its release covers this tap.
                peer = player.lock();
                if (!peer || !peer->registered) return;
            }
            const std::array<uint8_t, 3> off{status, pitch, 0};
            ledger_.sendAs(peer, off);
        });
    *slot = id;
    tapTimers_.insert(id);
}

void FastMidi::endChannelVoices(int channel) {
    std::shared_ptr<MidiPeer> peer = ledger_.current();
    for (auto it = peer->held.begin(); it != peer->held.end();) {
        const int key = it->first;
        if (key / 128 != channel) {
            ++it;
            continue;
        }
        it = peer->held.erase(it);
        if (peer->notes.test(size_t(key))) ledger_.sendNoteOff(key);
    }
    stride_.schedule();
}

void FastMidi::sendRaw(int length, int status, int data1, int data2) {
    const int n = status & 0x0F;
    const int high = status & 0xF0;
    const int d1 = std::min(data1, 127);
    const int d2 = std::min(data2, 127);
    if (high == 0x80 || high == 0x90) {
        if (length == 3) sendNote(high == 0x80 || data2 == 0 ? 2 : 1, d1, std::max(d2, 1), n + 1);
        return;
    }
    const bool twoBytes = high == 0xC0 || high == 0xD0;
    const bool threeBytes = high == 0xA0 || high == 0xB0 || high == 0xE0;
    if (!(twoBytes && length == 2) && !(threeBytes && length == 3)) return;
    if (const std::shared_ptr<MidiPeer>& peer = ledger_.current()) {
        if (high == 0xB0 && (d1 == 120 || d1 == 123)) endChannelVoices(n);
        // Pressure while repeating sets the velocity of the next strikes.
        if (peer->strideStep > 0 && high == 0xD0) {
            for (auto& [key, voice] : peer->held)
                if (key / 128 == n) voice.velocity = uint8_t(std::max(d1, 1));
        } else if (peer->strideStep > 0 && high == 0xA0) {
            if (auto it = peer->held.find(noteKey(n, d1)); it != peer->held.end())
                it->second.velocity = uint8_t(std::max(d2, 1));
        }
    }
    if (twoBytes) {
        const std::array<uint8_t, 2> message{uint8_t(status), uint8_t(d1)};
        ledger_.send(message);
    } else {
        const std::array<uint8_t, 3> message{uint8_t(status), uint8_t(d1), uint8_t(d2)};
        ledger_.send(message);
    }
}

}  // namespace norv
