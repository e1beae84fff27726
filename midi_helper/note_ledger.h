#pragma once

#include <array>
#include <atomic>
#include <bitset>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "midi_helper/midi_peer.h"

namespace norv {

class JsonOutput;
class MidiPort;
class Scheduler;

// Who holds which key and pedal: every sender's note state (stream and Wi-Fi peers, and the
// senders without a peer), the ordering guard that keeps a key's note-on after its note-off, and
// the release of a leaving sender's notes. All MIDI reaches the port through `send`.
class NoteLedger {
public:
    NoteLedger(Scheduler& scheduler, MidiPort& port, JsonOutput& output);

    // Sends one message now or at `at` (host time) as the current sender, keeping its note state.
    // Returns the port's status: 0 on success.
    int send(std::span<const uint8_t> bytes, std::optional<uint64_t> at = std::nullopt);
    // Sends as `peer`, restoring the current sender afterwards.
    int sendAs(const std::shared_ptr<MidiPeer>& peer, std::span<const uint8_t> bytes,
               std::optional<uint64_t> at = std::nullopt);
    int sendNoteOff(int key, std::optional<uint64_t> at = std::nullopt) {
        const std::array<uint8_t, 3> off{uint8_t(0x90 + key / 128), uint8_t(key % 128), 0};
        return send(off, at);
    }

    // The sender whose messages `send` books; empty for senders without a peer.
    const std::shared_ptr<MidiPeer>& current() const { return current_; }
    // Makes `peer` the current sender for its lifetime.
    class Acting {
    public:
        Acting(NoteLedger& ledger, std::shared_ptr<MidiPeer> peer)
            : ledger_(ledger), previous_(std::exchange(ledger.current_, std::move(peer))) {}
        ~Acting() { ledger_.current_ = std::move(previous_); }
        Acting(const Acting&) = delete;
        Acting& operator=(const Acting&) = delete;

    private:
        NoteLedger& ledger_;
        std::shared_ptr<MidiPeer> previous_;
    };

    // Registered senders, stream peers and Wi-Fi peers in the order they came.
    std::shared_ptr<MidiPeer> addSender(bool wifi);
    // Unregisters `peer`; false when it was not registered.
    bool removeSender(const std::shared_ptr<MidiPeer>& peer);
    const std::vector<std::shared_ptr<MidiPeer>>& senders() const { return senders_; }
    size_t streamCount() const;

    // Sends exactly the note-offs and resets that no other sender still needs, then forgets the
    // peer's notes, pedals and channels.
    void release(const std::shared_ptr<MidiPeer>& peer);
    // Ends what senders without a peer left sounding.
    void endDatagramNotes();

    const std::bitset<kNoteKeys>& udpNotes() const { return udpNotes_; }
    int64_t sentCount() const { return sentCount_; }
    void setMonitor(bool enabled) { monitorEnabled_.store(enabled); }

private:
    // Raises the ordering stamps of whoever else holds the peer's keys; returns the keys nobody
    // else holds.
    std::bitset<kNoteKeys> keysOnlyHeldBy(const MidiPeer& peer);
    void report(std::span<const uint8_t> bytes, uint64_t at);

    Scheduler& scheduler_;
    MidiPort& port_;
    JsonOutput& output_;

    std::vector<std::shared_ptr<MidiPeer>> senders_;
    std::shared_ptr<MidiPeer> current_;
    std::bitset<kNoteKeys> udpNotes_;
    // The ordering stamps of senders without a peer, as MidiPeer keeps them for a peer.
    std::array<uint64_t, kNoteKeys> udpSubmittedOns_{};
    std::array<uint64_t, kNoteKeys> udpReleaseBarriers_{};
    int64_t sentCount_ = 0;
    std::atomic<bool> monitorEnabled_{false};
};

}  // namespace norv
