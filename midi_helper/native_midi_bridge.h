#pragma once

#include <array>
#include <atomic>
#include <deque>
#include <map>
#include <cstdint>
#include <functional>
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
#include "midi_helper/stride_clock.h"
#include "midi_helper/wifi_midi_peer.h"

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
    // The watchdog: closes silent stream peers through `closeStream` (which owns their sockets),
    // then silent Wi-Fi peers. Stream peers go first: a note both hold is ended by the Wi-Fi peer.
    void closeSilentSenders(uint64_t nowNs, const std::function<void(const std::shared_ptr<MidiPeer>&)>& closeStream);

    // Sends exactly the note-offs and resets that no other sender still needs.
    void releasePeerNotes(const std::shared_ptr<MidiPeer>& peer);
    // Closes every peer and ends the notes that datagram senders left sounding (shutdown).
    void closeAllPeers();

    void setMonitor(bool enabled) { monitorEnabled_.store(enabled); }
    nlohmann::json readyEvent() const;
    nlohmann::json pongEvent() const;

    // Stride: the clock followers and the note repeat of peers whose stride step is above 0.
    void receiveEngineClock(std::span<const uint8_t> datagram);
    void receiveMidiClock(std::span<const uint8_t> datagram);
    void configureStride(const std::shared_ptr<MidiPeer>& peer, uint16_t step, uint16_t quant);
    void configureArticulation(const std::shared_ptr<MidiPeer>& peer, uint16_t gate, uint16_t swing);
    void startStrideVoice(const std::shared_ptr<MidiPeer>& peer, int key, double beat);
    void strideAttack(const std::shared_ptr<MidiPeer>& peer, int key, double beat);
    void strideOff(const std::shared_ptr<MidiPeer>& peer, int key, std::optional<uint64_t> at);
    void skipSwingEdges(MidiPeer& peer, StrideVoice& voice, double before);
    void scheduleStride();
    void tickStride();
    double strideBeat() const { return clock_.beat(nowSeconds()); }
    const StrideClock& strideClock() const { return clock_; }
    int64_t strideAttacks() const { return strideAttacks_; }
    double strideMaxLateMs() const { return strideMaxLateMs_; }
    bool strideTimerActive() const { return strideTimer_.active(); }

    // Wi-Fi senders: loss-tolerant packets with redundant records and a picture of held keys.
    static constexpr size_t kMaxWifiPeers = 8;
    void handleWifiPacket(std::span<const uint8_t> packet, uint32_t address, uint16_t port);
    void closeWifiPeer(uint64_t addressKey);
    void closeAllWifiPeers();
    // Closes Wi-Fi peers that fell silent (the stream watchdog's companion).
    void closeSilentWifiPeers(uint64_t nowNs);
    void scheduleWifiReleases();
    size_t wifiPeerCount() const { return wifiPeers_.size(); }
    const WifiMidiPeer* wifiPeer(uint32_t address, uint16_t port) const;
    static uint64_t addressKey(uint32_t address, uint16_t port) { return uint64_t(address) << 16 | port; }
    struct WifiCounters {
        int64_t staleEvents = 0, duplicatePackets = 0, recoveredEvents = 0, gapEvents = 0, recoveredHolds = 0,
                recoveredTaps = 0, staleAttacks = 0;
    };
    const WifiCounters& wifiCounters() const { return wifi_; }

    // The local repeat exchange ("--native-repeat-port"): one stream peer's repeat is played by a
    // cooperating process; requests go out every 100 ms, acknowledgements keep it active.
    using DatagramSender = std::function<void(std::span<const uint8_t> datagram, uint32_t address, uint16_t port)>;
    // Set while the datagram socket is open (network mode); empty otherwise.
    void setDatagramSender(DatagramSender sender) { datagramSender_ = std::move(sender); }
    void startRepeatExchange();
    void tickNativeRepeat();
    void receiveNativeRepeatAck(std::span<const uint8_t> datagram);
    bool repeatAckFresh() const;
    const std::shared_ptr<MidiPeer>& nativeRepeatOwner() const { return repeatOwner_; }
    const std::string& nativeRepeatToken() const { return repeatToken_; }
    int64_t nativeRepeatGeneration() const { return repeatGeneration_; }

    // Read by tests and the "ping" report.
    int64_t sentCount() const { return sentCount_; }
    int64_t fastNoteOnCount() const { return fastNoteOnCount_; }
    int64_t fastNoteOffCount() const { return fastNoteOffCount_; }
    int64_t fastRetriggerCount() const { return fastRetriggerCount_; }
    const std::bitset<kNoteKeys>& udpNotes() const { return udpNotes_; }

private:
    // Note-offs for every key the peer has sounding, its pending stride note-offs dropped.
    void endSoundingNotes(const std::shared_ptr<MidiPeer>& peer);
    double nowSeconds() const { return double(scheduler_.nowNs()) / 1e9; }
    std::vector<std::shared_ptr<MidiPeer>> stridePeers() const;
    // Sends on behalf of `peer`, restoring the current peer afterwards.
    int sendAs(std::shared_ptr<MidiPeer> peer, std::span<const uint8_t> bytes, std::optional<uint64_t> at = std::nullopt);
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
    // The ordering stamps of senders without a peer, as MidiPeer keeps them for a peer.
    std::array<uint64_t, kNoteKeys> udpSubmittedOns_{};
    std::array<uint64_t, kNoteKeys> udpReleaseBarriers_{};
    std::unordered_set<Scheduler::TimerId> tapTimers_;

    int64_t sentCount_ = 0;
    int64_t fastNoteOnCount_ = 0;
    int64_t fastNoteOffCount_ = 0;
    int64_t fastRetriggerCount_ = 0;
    std::atomic<bool> monitorEnabled_{false};

    void fireWifiReleases();

    std::map<uint64_t, WifiMidiPeer> wifiPeers_;
    std::deque<uint64_t> retiredWifiTokens_;
    WifiCounters wifi_;
    Timer wifiReleaseTimer_;

    DatagramSender datagramSender_;
    std::shared_ptr<MidiPeer> repeatOwner_;
    std::string repeatToken_;
    int64_t repeatGeneration_ = 0;
    int64_t repeatAckGeneration_ = -1;
    double repeatAckAt_ = 0.0;
    double repeatRequestedAt_ = 0.0;
    PeriodicTimer repeatTimer_;

    StrideClock clock_;
    Timer strideTimer_;
    int64_t strideAttacks_ = 0;
    double strideMaxLateMs_ = 0.0;
};

} // namespace norv
