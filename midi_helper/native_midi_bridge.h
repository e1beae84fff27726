#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "midi_helper/fast_midi.h"
#include "midi_helper/helper_config.h"
#include "midi_helper/midi_peer.h"
#include "midi_helper/note_ledger.h"
#include "midi_helper/repeat_exchange.h"
#include "midi_helper/scheduler.h"
#include "midi_helper/stride_scheduler.h"
#include "midi_helper/wifi_peers.h"

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

// The helper's MIDI logic on the loop thread: owns the MIDI port's endpoints and routes datagrams
// and stream payloads to the units that handle them (fast MIDI, Wi-Fi peers, the clocks of stride,
// the Repeat lab), and ends a leaving sender's notes. Sockets and threads live around it; it does
// no I/O of its own beyond the MIDI port and the output.
class NativeMidiBridge {
public:
    // `sender` carries the Repeat lab requests and the Wi-Fi acknowledgements (empty: none leave).
    NativeMidiBridge(HelperConfig config, Scheduler& scheduler, MidiPort& port, JsonOutput& output,
                     DatagramSender sender = {});

    NativeMidiBridge(const NativeMidiBridge&) = delete;
    NativeMidiBridge& operator=(const NativeMidiBridge&) = delete;

    const HelperConfig& config() const { return config_; }

    // Creates the MIDI client, source and (for a non-blank name) destination. Throws HelperError.
    void openEndpoints();
    bool destinationAvailable() const { return destinationAvailable_; }
    const std::vector<std::string>& warnings() const { return warnings_; }

    // Sends one message now or at `at` (host time) for a sender without a peer.
    int send(std::span<const uint8_t> bytes, std::optional<uint64_t> at = std::nullopt) {
        return ledger_.send(bytes, at);
    }
    // Sorts one datagram by its magic and origin.
    void handleDatagram(std::span<const uint8_t> datagram, const DatagramOrigin& origin);

    // Stream peers: registered while connected; `closePeer` unregisters and releases their notes.
    std::shared_ptr<MidiPeer> addPeer() { return ledger_.addSender(false); }
    void closePeer(const std::shared_ptr<MidiPeer>& peer);
    size_t peerCount() const { return ledger_.streamCount(); }
    // One 8-byte frame payload from a stream peer.
    StreamVerdict handleStreamPayload(const std::shared_ptr<MidiPeer>& peer,
                                      std::span<const uint8_t> payload);
    // A stream peer silent this long with nothing sounding may give its slot to a newcomer.
    static constexpr uint64_t kIdlePeerNs = 10'000'000'000;
    // The same with notes sounding or stride voices held, which are released when it goes.
    // Senders that beat send a frame at least every 2 s (or the watchdog closes them): a minute
    // without one frame, while notes sound and newcomers wait, is a socket that only keeps a slot.
    static constexpr uint64_t kSilentHolderNs = 60'000'000'000;
    // Among `candidates` (stream peers), the one that gives its slot to a newcomer: silent past
    // `kIdlePeerNs` with nothing sounding, else past `kSilentHolderNs`, longest silent first;
    // empty when none may go.
    std::shared_ptr<MidiPeer> idlePeer(std::span<const std::shared_ptr<MidiPeer>> candidates) const;
    // The clock of the peers' frame and heartbeat times.
    uint64_t nowNs() const { return scheduler_.nowNs(); }
    // Stream peers whose heartbeats stopped for longer than their limit.
    std::vector<std::shared_ptr<MidiPeer>> silentPeers(uint64_t nowNs) const;
    // The watchdog: closes silent stream peers through `closeStream` (which owns their sockets),
    // then silent Wi-Fi peers. Stream peers go first: a note both hold is ended by the Wi-Fi peer.
    void closeSilentSenders(
        uint64_t nowNs, const std::function<void(const std::shared_ptr<MidiPeer>&)>& closeStream);
    // Closes every stream peer and ends the notes that datagram senders left sounding (shutdown).
    void closeAllPeers();

    void startRepeatExchange() { repeat_.start(); }

    void setMonitor(bool enabled) { ledger_.setMonitor(enabled); }
    nlohmann::json readyEvent() const;
    nlohmann::json pongEvent() const;

    // The units, for tests and the reports.
    NoteLedger& ledger() { return ledger_; }
    FastMidi& fastMidi() { return fast_; }
    StrideScheduler& stride() { return stride_; }
    RepeatExchange& repeat() { return repeat_; }
    WifiPeers& wifi() { return wifi_; }

    // Shorthands the tests and the fuzz harness use.
    void receiveEngineClock(std::span<const uint8_t> datagram) {
        stride_.receiveEngineClock(datagram);
    }
    void receiveMidiClock(std::span<const uint8_t> datagram) { stride_.receiveMidiClock(datagram); }
    const StrideClock& strideClock() const { return stride_.clock(); }
    int64_t strideAttacks() const { return stride_.attacks(); }
    bool strideTimerActive() const { return stride_.timerActive(); }
    const std::shared_ptr<MidiPeer>& nativeRepeatOwner() const { return repeat_.owner(); }
    const std::string& nativeRepeatToken() const { return repeat_.token(); }
    int64_t nativeRepeatGeneration() const { return repeat_.generation(); }
    void closeWifiPeer(uint64_t addressKey) { wifi_.close(addressKey); }
    void closeAllWifiPeers() { wifi_.closeAll(); }
    void closeSilentWifiPeers(uint64_t nowNs) { wifi_.closeSilent(nowNs); }
    size_t wifiPeerCount() const { return wifi_.count(); }
    const WifiPeers::Counters& wifiCounters() const { return wifi_.counters(); }
    int64_t sentCount() const { return ledger_.sentCount(); }
    int64_t fastNoteOnCount() const { return fast_.noteOnCount(); }
    int64_t fastNoteOffCount() const { return fast_.noteOffCount(); }
    int64_t fastRetriggerCount() const { return fast_.retriggerCount(); }
    const std::bitset<kNoteKeys>& udpNotes() const { return ledger_.udpNotes(); }

private:
    // Ends a leaving sender's notes: the Repeat lab loses its owner, stride its voices, and the
    // ledger sends what nobody else still needs.
    void releaseSender(const std::shared_ptr<MidiPeer>& peer);

    HelperConfig config_;
    Scheduler& scheduler_;
    MidiPort& port_;
    JsonOutput& output_;
    bool destinationAvailable_ = false;
    std::vector<std::string> warnings_;

    // Declared in the order they depend on each other; destroyed the other way round.
    NoteLedger ledger_;
    RepeatExchange repeat_;
    StrideScheduler stride_;
    FastMidi fast_;
    WifiPeers wifi_;
};

}  // namespace norv
