#include "midi_helper/wifi_peers.h"

#include <algorithm>
#include <optional>

#include "midi_helper/fast_midi.h"
#include "midi_helper/note_ledger.h"
#include "midi_helper/stride_scheduler.h"
#include "midi_helper/wifi_packet_view.h"
#include "midi_helper/wire_names.h"

namespace norv {
namespace {

constexpr double kLateUs = 80000.0;       // after the predicted arrival
constexpr double kTapReleaseUs = 8000.0;  // for a tap whose release was not seen

// The sender has been quiet past its time-out (shorter while stride runs).
bool lapsed(const WifiMidiPeer& peer, double nowUs) {
    const double limit = peer.midi->strideStep > 0 ? 750000.0 : 2000000.0;
    return nowUs - peer.lastSeen > limit;
}

}  // namespace

// What one packet's arrival has done so far.
struct WifiPeers::Arrival {
    double now = 0.0;
    bool inTime = false;
    bool releasesChanged = false;
    // Attacks of this packet whose release may follow in it: key and sender time.
    std::array<std::pair<int, double>, 32> freshAttacks{};
    size_t freshCount = 0;

    std::pair<int, double>* fresh(int key) {
        for (size_t i = 0; i < freshCount; ++i)
            if (freshAttacks[i].first == key) return &freshAttacks[i];
        return nullptr;
    }
};

WifiPeers::WifiPeers(const BridgeBasics& basics, FastMidi& fast, StrideScheduler& stride,
                     RepeatExchange& repeat, DatagramSender sender, ReleaseSender release)
    : config_(basics.config),
      scheduler_(basics.scheduler),
      ledger_(basics.ledger),
      fast_(fast),
      stride_(stride),
      repeat_(repeat),
      sender_(std::move(sender)),
      release_(std::move(release)),
      releaseTimer_(basics.scheduler) {}

const WifiMidiPeer* WifiPeers::peer(uint32_t address, uint16_t port) const {
    auto it = peers_.find(addressKey(address, port));
    return it == peers_.end() ? nullptr : &it->second;
}

void WifiPeers::handlePacket(std::span<const uint8_t> bytes, uint32_t address, uint16_t port) {
    const std::optional<WifiPacketView> packet = WifiPacketView::read(bytes);
    if (!packet) return;
    Arrival arrival;
    arrival.now = nowUs();
    WifiMidiPeer* found = findOrOpen(*packet, addressKey(address, port), arrival.now);
    if (!found) return;
    WifiMidiPeer& peer = *found;
    if (packet->sequence <= peer.packetSequence) {
        ++counters_.duplicatePackets;
        return;
    }
    if (!packet->recordsValid()) return;

    // Clock: the offset follows the fastest path and may drift slowly.
    const double elapsed = arrival.now - peer.lastSeen;
    const double drift = elapsed < 0 ? 0.0 : std::min(elapsed * 0.0002, 1000.0);
    peer.packetSequence = packet->sequence;
    peer.offset = std::min(peer.offset + drift, arrival.now - packet->sendTime);
    const double lateness = std::max(arrival.now - (peer.offset + packet->sendTime), 0.0);
    arrival.inTime = lateness <= kLateUs;
    if (arrival.inTime) peer.lastSeen = arrival.now;
    // Acknowledge before any MIDI of the packet.
    acknowledge(*packet, address, port, arrival.now);

    NoteLedger::Acting acting(ledger_, peer.midi);
    if (arrival.inTime) followPicture(peer, *packet, arrival);
    playRecords(peer, *packet, arrival);
    settleAttacks(peer, arrival);
    if (packet->v2 && arrival.inTime) recoverHolds(peer, *packet);
    stride_.schedule();
    if (arrival.releasesChanged) scheduleReleases();
    reconcile(peer, *packet);
}

WifiMidiPeer* WifiPeers::findOrOpen(const WifiPacketView& packet, uint64_t key, double now) {
    auto found = peers_.find(key);
    if (found != peers_.end() && found->second.token == packet.token) return &found->second;
    // A fresh peer opens only with an empty packet under a token not used before.
    const size_t stateEnd = packet.v2 ? 288 : 280;
    const auto state = packet.bytes.subspan(22, stateEnd - 22);
    const bool empty = packet.records == 0 && packet.holdCount == 0 &&
                       std::all_of(state.begin(), state.end(), [](uint8_t b) { return b == 0; });
    if (!empty || packet.token == 0 ||
        std::find(retiredTokens_.begin(), retiredTokens_.end(), packet.token) !=
            retiredTokens_.end())
        return nullptr;
    if (found != peers_.end()) {
        // A sender that restarted, or anyone who writes its address and port (a UDP source is
        // easily forged): the playing peer keeps its session until it lapses.
        if (!lapsed(found->second, now)) return nullptr;
        close(key);
    }
    if (peers_.size() >= kMaxPeers) return nullptr;
    WifiMidiPeer fresh;
    fresh.midi = ledger_.addSender(true);
    fresh.token = packet.token;
    fresh.offset = now - packet.sendTime;
    fresh.lastSeen = now;
    return &peers_.emplace(key, std::move(fresh)).first->second;
}

void WifiPeers::acknowledge(const WifiPacketView& packet, uint32_t address, uint16_t port,
                            double now) {
    if (!sender_) return;
    std::array<uint8_t, 28> ack{};
    wire::putMagic(ack, wire::kWifiAck);
    std::copy(packet.bytes.begin() + 4, packet.bytes.begin() + 20, ack.begin() + 4);
    const uint64_t helperTime = uint64_t(now);
    for (int i = 0; i < 8; ++i) ack[size_t(20 + i)] = uint8_t(helperTime >> (8 * (7 - i)));
    sender_(ack, address, port);
}

void WifiPeers::sendRecoveredRelease(int key) { fast_.sendNote(2, key % 128, 1, key / 128 + 1); }

void WifiPeers::followPicture(WifiMidiPeer& peer, const WifiPacketView& packet, Arrival& arrival) {
    const std::shared_ptr<MidiPeer>& midi = peer.midi;
    for (auto it = midi->held.begin(); it != midi->held.end();) {
        const int voiceKey = it->first;
        if (packet.holdsKey(voiceKey)) {
            ++it;
            continue;
        }
        it = midi->held.erase(it);
        if (midi->strideStep > 0) stride_.endStrike(midi, voiceKey);
    }
    if (!packet.v2) return;
    const uint16_t step = packet.strideStep;
    if (step != 0 && !peer.recoveredReleases.empty()) {
        auto pending = std::exchange(peer.recoveredReleases, {});
        for (const auto& [releaseKey, due] : pending) sendRecoveredRelease(releaseKey);
        arrival.releasesChanged = true;
    }
    if (packet.swing != 0 || packet.gate != 0)
        stride_.configureArticulation(midi, packet.gate, packet.swing);
    stride_.configure(midi, step, packet.strideQuant);
}

void WifiPeers::playRecords(WifiMidiPeer& peer, const WifiPacketView& packet, Arrival& arrival) {
    for (size_t r = 0; r < packet.records; ++r) {
        const WifiPacketView::Record record = packet.record(r);
        const uint64_t eventSequence = record.sequence;
        const double eventTime = double(record.time);
        const auto payload = record.payload;
        if (eventSequence <= peer.eventSequence) continue;
        if (eventSequence > peer.eventSequence + 1)
            counters_.gapEvents += int64_t(eventSequence - peer.eventSequence - 1);
        peer.eventSequence = eventSequence;
        const auto note = wifiRecordNote(payload, config_.midiChannel);
        if (arrival.now - (peer.offset + eventTime) > kLateUs) {
            ++counters_.staleEvents;
            if (note && !note->second) ++counters_.staleAttacks;
            continue;
        }
        if (r + 1 < packet.records) ++counters_.recoveredEvents;
        if (peer.midi->strideStep == 0 && note) {
            const auto [key, off] = *note;
            if (!off && peer.recoveredReleases.erase(key)) {
                sendRecoveredRelease(key);
                arrival.releasesChanged = true;
            }
            if (!off && !packet.holdsKey(key)) {
                if (auto* fresh = arrival.fresh(key))
                    fresh->second = eventTime;
                else
                    arrival.freshAttacks[arrival.freshCount++] = {key, eventTime};
            }
            if (off && keepTapLength(peer, key, eventTime, arrival)) continue;
        }
        if (!peer.recoveredReleases.empty() && wire::hasMagic(payload, wire::kFastRaw) &&
            (payload[5] & 0xF0) == 0xB0 && (payload[6] == 123 || payload[6] == 120)) {
            // All Notes Off / All Sound Off: the channel's deferred releases are void.
            const int channel = payload[5] & 0x0F;
            const size_t before = peer.recoveredReleases.size();
            std::erase_if(peer.recoveredReleases,
                          [channel](const auto& entry) { return entry.first / 128 == channel; });
            arrival.releasesChanged =
                arrival.releasesChanged || peer.recoveredReleases.size() != before;
        }
        fast_.handlePacket(payload);
    }
}

bool WifiPeers::keepTapLength(WifiMidiPeer& peer, int key, double eventTime, Arrival& arrival) {
    if (auto* fresh = arrival.fresh(key)) {
        const double attackTime = fresh->second;
        *fresh = arrival.freshAttacks[--arrival.freshCount];
        if (attackTime < eventTime) {
            // A tap whose both halves arrived together: keep its length.
            peer.midi->held.erase(key);
            peer.recoveredReleases[key] = nowUs() + std::min(eventTime - attackTime, kLateUs);
            ++counters_.recoveredTaps;
            arrival.releasesChanged = true;
            return true;
        }
    }
    if (peer.recoveredReleases.erase(key)) arrival.releasesChanged = true;
    return false;
}

void WifiPeers::settleAttacks(WifiMidiPeer& peer, Arrival& arrival) {
    // Attacks whose release was not in the packet and that sound: taps of 8 ms.
    for (size_t i = 0; i < arrival.freshCount; ++i) {
        const int key = arrival.freshAttacks[i].first;
        if (!peer.midi->notes.test(size_t(key))) continue;
        peer.midi->held.erase(key);
        peer.recoveredReleases[key] = nowUs() + kTapReleaseUs;
        ++counters_.recoveredTaps;
        arrival.releasesChanged = true;
    }
}

void WifiPeers::recoverHolds(WifiMidiPeer& peer, const WifiPacketView& packet) {
    const std::shared_ptr<MidiPeer>& midi = peer.midi;
    const auto holds = std::span(packet.holds).first(packet.holdCount);
    if (midi->strideStep > 0) {
        for (const auto& [key, velocity] : holds) {
            auto voice = midi->held.find(key);
            if (voice == midi->held.end() || voice->second.velocity == velocity) continue;
            voice->second.velocity = velocity;
            if (repeat_.enabled() && repeat_.ackFresh()) {
                const std::array<uint8_t, 3> pressure{uint8_t(0xA0 + key / 128), uint8_t(key % 128),
                                                      velocity};
                ledger_.send(pressure);
            }
        }
    }
    if (midi->held.size() >= holds.size()) return;
    for (const auto& [key, velocity] : holds) {
        if (midi->held.count(key)) continue;
        if (midi->strideStep > 0 && !repeat_.enabled()) {
            StrideVoice voice;
            voice.velocity = velocity;
            midi->held[key] = voice;
            stride_.startVoice(midi, key, stride_.beat());
        } else if (midi->strideStep > 0) {
            fast_.sendNote(1, key % 128, velocity, key / 128 + 1);
        } else if (!midi->notes.test(size_t(key)) && !peer.recoveredReleases.count(key)) {
            fast_.sendNote(1, key % 128, velocity, key / 128 + 1);
            ++counters_.recoveredHolds;
        }
    }
}

void WifiPeers::reconcile(WifiMidiPeer& peer, const WifiPacketView& packet) {
    // Nothing sounds that the sender no longer holds, and no pedal stays down that it let go.
    const std::shared_ptr<MidiPeer>& midi = peer.midi;
    forEachKey(midi->notes, [&](int key) {
        if (!packet.holdsKey(key) && !peer.recoveredReleases.count(key)) ledger_.sendNoteOff(key);
    });
    const unsigned sustainMask = packet.sustainMask;
    for (int channel = 0; channel < 16; ++channel) {
        if (midi->sustain.test(size_t(channel)) && !(sustainMask & (1u << channel))) {
            const std::array<uint8_t, 3> pedal{uint8_t(0xB0 + channel), 64, 0};
            ledger_.send(pedal);
        }
    }
}

void WifiPeers::scheduleReleases() {
    std::optional<double> due;
    for (const auto& [key, peer] : peers_)
        for (const auto& [releaseKey, time] : peer.recoveredReleases)
            if (!due || time < *due) due = time;
    if (!due) {
        releaseTimer_.cancel();
        return;
    }
    const double waitUs = std::max(*due - nowUs(), 0.0);
    releaseTimer_.start(uint64_t(waitUs * 1000.0), [this] { fireReleases(); });
}

void WifiPeers::fireReleases() {
    const double now = nowUs();
    for (auto& [addressKeyValue, peer] : peers_) {
        const std::shared_ptr<MidiPeer> midi = peer.midi;
        NoteLedger::Acting acting(ledger_, midi);
        for (auto it = peer.recoveredReleases.begin(); it != peer.recoveredReleases.end();) {
            if (it->second > now) {
                ++it;
                continue;
            }
            const int key = it->first;
            it = peer.recoveredReleases.erase(it);
            midi->held.erase(key);
            const bool owner = repeat_.owns(midi);
            if (!owner && midi->strideStep == 0) {
                fast_.countNoteOff();
                ledger_.sendNoteOff(key);
            } else {
                if (midi->notes.test(size_t(key))) ledger_.sendNoteOff(key);
                if (!owner) stride_.schedule();
            }
        }
    }
    scheduleReleases();
}

void WifiPeers::close(uint64_t key) {
    auto it = peers_.find(key);
    if (it == peers_.end()) return;
    WifiMidiPeer peer = std::move(it->second);
    peers_.erase(it);
    if (retiredTokens_.size() >= 128) retiredTokens_.pop_front();
    retiredTokens_.push_back(peer.token);
    ledger_.removeSender(peer.midi);
    release_(peer.midi);
    if (!peer.recoveredReleases.empty()) scheduleReleases();
}

void WifiPeers::closeAll() {
    std::vector<uint64_t> keys;
    for (const auto& [key, peer] : peers_) keys.push_back(key);
    for (uint64_t key : keys) close(key);
}

void WifiPeers::closeSilent(uint64_t nowNs) {
    const double now = double(nowNs / 1000);
    std::vector<uint64_t> silent;
    for (const auto& [key, peer] : peers_)
        if (lapsed(peer, now)) silent.push_back(key);
    for (uint64_t key : silent) close(key);
}

}  // namespace norv
