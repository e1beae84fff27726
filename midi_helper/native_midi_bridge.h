#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include <nlohmann/json.hpp>

#include "midi_helper/helper_config.h"
#include "midi_helper/midi_peer.h"
#include "midi_helper/scheduler.h"

namespace norv {

class JsonOutput;
class MidiPort;

// Where a datagram came from: the private clock socket, or an IPv4 sender (host byte order).
struct DatagramOrigin {
    bool privateSocket = false;
    uint32_t address = 0;
    uint16_t port = 0;
};

// What the stream reader does after one frame.
enum class StreamVerdict { Continue, Echo, Close };

// The helper's MIDI logic, run on the loop thread: sending with note bookkeeping, fast MIDI
// packets, the datagram sorting and the release of a leaving peer's notes. Sockets and threads
// live around it; it does no I/O of its own beyond the MIDI port and the output.
class NativeMidiBridge {
public:
    static constexpr uint64_t kTapReleaseNs = 20'000'000;
    static constexpr uint64_t kRetriggerGapNs = 1'000'000;

    NativeMidiBridge(HelperConfig config, Scheduler& scheduler, MidiPort& port, JsonOutput& output);
    ~NativeMidiBridge();

    NativeMidiBridge(const NativeMidiBridge&) = delete;
    NativeMidiBridge& operator=(const NativeMidiBridge&) = delete;

    const HelperConfig& config() const { return config_; }

    // Creates the MIDI client, source and (for a non-blank name) destination. Throws HelperError.
    void openEndpoints();
    bool destinationAvailable() const { return destinationAvailable_; }
    const std::vector<std::string>& warnings() const { return warnings_; }

    // Sends one message now or at `at` (host time), keeping the current peer's note state in order.
    // Returns the port's status: 0 on success.
    int send(std::span<const uint8_t> bytes, std::optional<uint64_t> at = std::nullopt);

    void handleFastMidiPacket(std::span<const uint8_t> packet);
    void sendFastNote(int phase, int pitch, int velocity, int channel);
    void sendRawFastMidi(int length, int status, int data1, int data2);

    // Sorts one datagram by its magic and origin.
    void handleDatagram(std::span<const uint8_t> datagram, const DatagramOrigin& origin);

    // Stream peers: registered while connected; `closePeer` unregisters and releases their notes.
    std::shared_ptr<MidiPeer> addPeer();
    void closePeer(const std::shared_ptr<MidiPeer>& peer);
    size_t peerCount() const { return peers_.size(); }
    // One 8-byte frame payload from a stream peer.
    StreamVerdict handleStreamPayload(const std::shared_ptr<MidiPeer>& peer, std::span<const uint8_t> payload);
    // Peers whose heartbeats stopped for longer than their limit.
    std::vector<std::shared_ptr<MidiPeer>> silentPeers(uint64_t nowNs) const;

    // Sends exactly the note-offs and resets that no other sender still needs.
    void releasePeerNotes(const std::shared_ptr<MidiPeer>& peer);
    // Closes every peer (shutdown).
    void closeAllPeers();

    void setMonitor(bool enabled) { monitorEnabled_.store(enabled); }
    nlohmann::json readyEvent() const;
    nlohmann::json pongEvent() const;

    // Read by tests and the "ping" report.
    int64_t sentCount() const { return sentCount_; }
    int64_t fastNoteOnCount() const { return fastNoteOnCount_; }
    int64_t fastNoteOffCount() const { return fastNoteOffCount_; }
    int64_t fastRetriggerCount() const { return fastRetriggerCount_; }
    const std::bitset<kNoteKeys>& udpNotes() const { return udpNotes_; }

private:
    void setCurrentPeer(std::shared_ptr<MidiPeer> peer) { currentPeer_ = std::move(peer); }
    void scheduleTapRelease(uint8_t status, uint8_t pitch);

    HelperConfig config_;
    Scheduler& scheduler_;
    MidiPort& port_;
    JsonOutput& output_;

    bool destinationAvailable_ = false;
    std::vector<std::string> warnings_;

    std::vector<std::shared_ptr<MidiPeer>> peers_;
    std::shared_ptr<MidiPeer> currentPeer_;
    std::bitset<kNoteKeys> udpNotes_;
    std::unordered_set<Scheduler::TimerId> tapTimers_;

    int64_t sentCount_ = 0;
    int64_t fastNoteOnCount_ = 0;
    int64_t fastNoteOffCount_ = 0;
    int64_t fastRetriggerCount_ = 0;
    std::atomic<bool> monitorEnabled_{false};
    double clockSeen_ = 0.0;
};

} // namespace norv
