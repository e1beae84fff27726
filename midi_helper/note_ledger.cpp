#include "midi_helper/note_ledger.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "midi_helper/json_output.h"
#include "midi_helper/midi_port.h"
#include "midi_helper/scheduler.h"

namespace norv {

NoteLedger::NoteLedger(Scheduler& scheduler, MidiPort& port, JsonOutput& output)
    : scheduler_(scheduler), port_(port), output_(output) {}

int NoteLedger::send(std::span<const uint8_t> bytes, std::optional<uint64_t> at) {
    const uint64_t now = scheduler_.nowNs();
    uint64_t t = at ? std::max(*at, now) : now;
    MidiPeer* peer = current_.get();

    const bool threeBytes = bytes.size() == 3;
    const uint8_t status = bytes.empty() ? 0 : bytes[0];
    const bool noteMessage = threeBytes && (status & 0xE0) == 0x80 && bytes[1] < 128;
    const bool noteOn = noteMessage && (status & 0xF0) == 0x90 && bytes[2] != 0;
    const bool noteOff = noteMessage && !noteOn;
    const int key = noteMessage ? noteKey(status & 0x0F, bytes[1]) : 0;

    // A note-on never shares or precedes the stamp of the same key's last note-off, and a
    // note-off never precedes its note-on: per peer, and among the senders without one.
    auto& submittedOns = peer ? peer->submittedOns : udpSubmittedOns_;
    auto& releaseBarriers = peer ? peer->releaseBarriers : udpReleaseBarriers_;
    if (noteOn && releaseBarriers[key] != 0) t = std::max(t, releaseBarriers[key] + 1);
    if (noteOff && submittedOns[key] != 0) t = std::max(t, submittedOns[key]);

    if (int result = port_.send(bytes, t); result != 0) return result;
    ++sentCount_;

    if (peer && status >= 0x80 && status <= 0xEF) peer->channels.set(status & 0x0F);
    if (noteOff) {
        (peer ? peer->notes : udpNotes_).reset(key);
        submittedOns[key] = 0;
        releaseBarriers[key] = t;
    } else if (noteOn) {
        (peer ? peer->notes : udpNotes_).set(key);
        submittedOns[key] = t;
    } else if (peer && threeBytes && (status & 0xF0) == 0xB0 && bytes[1] == 64) {
        peer->sustain.set(status & 0x0F, bytes[2] >= 64);
    }

    if (monitorEnabled_.load(std::memory_order_relaxed)) report(bytes, t);
    return 0;
}

void NoteLedger::report(std::span<const uint8_t> bytes, uint64_t at) {
    // Filled key by key: an initializer list builds a temporary array for every pair first, and
    // this runs for every message while monitoring.
    nlohmann::json event;
    event["type"] = "midi";
    auto& values = (event["bytes"] = nlohmann::json::array()).get_ref<nlohmann::json::array_t&>();
    values.reserve(bytes.size());
    for (uint8_t byte : bytes) values.emplace_back(int(byte));
    event["timestamp"] = at;
    event["timestamp_unix"] = scheduler_.wallSeconds();
    output_.enqueue(std::move(event));
}

int NoteLedger::sendAs(const std::shared_ptr<MidiPeer>& peer, std::span<const uint8_t> bytes,
                       std::optional<uint64_t> at) {
    Acting acting(*this, peer);
    return send(bytes, at);
}

std::shared_ptr<MidiPeer> NoteLedger::addSender(bool wifi) {
    auto peer = std::make_shared<MidiPeer>(scheduler_.nowNs());
    peer->wifi = wifi;
    senders_.push_back(peer);
    return peer;
}

bool NoteLedger::removeSender(const std::shared_ptr<MidiPeer>& peer) {
    auto it = std::find(senders_.begin(), senders_.end(), peer);
    if (it == senders_.end()) return false;
    senders_.erase(it);
    peer->registered = false;
    return true;
}

size_t NoteLedger::streamCount() const {
    return size_t(std::count_if(senders_.begin(), senders_.end(),
                                [](const auto& peer) { return !peer->wifi; }));
}

std::bitset<kNoteKeys> NoteLedger::keysOnlyHeldBy(const MidiPeer& peer) {
    std::bitset<kNoteKeys> heldElsewhere = udpNotes_;
    for (const auto& other : senders_)
        if (other.get() != &peer) heldElsewhere |= other->notes;
    const std::bitset<kNoteKeys> shared = peer.notes & heldElsewhere;
    // Keys still held elsewhere: this peer's last note-on may be stamped ahead (a retrigger, a
    // stride strike), and whoever ends the key must not end it before that note-on.
    forEachKey(shared, [&](int key) {
        const uint64_t lastOn = peer.submittedOns[size_t(key)];
        if (udpNotes_.test(size_t(key)))
            udpSubmittedOns_[size_t(key)] = std::max(udpSubmittedOns_[size_t(key)], lastOn);
        for (const auto& other : senders_)
            if (other.get() != &peer && other->notes.test(size_t(key)))
                other->submittedOns[size_t(key)] =
                    std::max(other->submittedOns[size_t(key)], lastOn);
    });
    return peer.notes & ~heldElsewhere;
}

void NoteLedger::release(const std::shared_ptr<MidiPeer>& peer) {
    Acting acting(*this, peer);
    std::bitset<16> otherSustain, otherChannels;
    for (const auto& other : senders_) {
        if (other == peer) continue;
        otherSustain |= other->sustain;
        otherChannels |= other->channels;
    }
    forEachKey(udpNotes_, [&](int key) { otherChannels.set(size_t(key / 128)); });

    // Worked out before anything is sent: the sends below change the peer's own state.
    const std::bitset<kNoteKeys> ends = keysOnlyHeldBy(*peer);
    const std::bitset<16> pedals = peer->sustain & ~otherSustain;
    const std::bitset<16> resets = peer->channels & ~otherChannels;
    forEachKey(ends, [this](int key) { sendNoteOff(key); });
    for (int channel = 0; channel < 16; ++channel) {
        if (pedals.test(size_t(channel))) {
            const std::array<uint8_t, 3> pedal{uint8_t(0xB0 + channel), 64, 0};
            send(pedal);
        }
    }
    for (int channel = 0; channel < 16; ++channel) {
        if (!resets.test(size_t(channel))) continue;
        const std::array<uint8_t, 3> bend{uint8_t(0xE0 + channel), 0, 64};  // pitch bend centre
        const std::array<uint8_t, 2> pressure{uint8_t(0xD0 + channel), 0};
        const std::array<uint8_t, 3> timbre{uint8_t(0xB0 + channel), 74, 64};
        const std::array<uint8_t, 3> modulation{uint8_t(0xB0 + channel), 1, 0};
        send(bend);
        send(pressure);
        send(timbre);
        send(modulation);
    }
    peer->notes.reset();
    peer->sustain.reset();
    peer->channels.reset();
}

void NoteLedger::endDatagramNotes() {
    forEachKey(udpNotes_, [this](int key) { sendNoteOff(key); });
}

}  // namespace norv
