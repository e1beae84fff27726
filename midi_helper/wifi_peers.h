#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <utility>

#include "midi_helper/bridge_basics.h"
#include "midi_helper/helper_config.h"
#include "midi_helper/repeat_exchange.h"
#include "midi_helper/scheduler.h"
#include "midi_helper/wifi_midi_peer.h"
#include "midi_helper/wifi_packet_view.h"

namespace norv {

class FastMidi;
class NoteLedger;
class StrideScheduler;

// Wi-Fi senders (two packet versions): loss-tolerant packets that repeat the latest events as
// records and carry a picture of the held keys and pedals. Each sender under its token is a peer;
// lost events are recovered from later packets, stale ones are dropped, taps keep their length, and
// whatever the picture no longer holds is ended. Every packet is acknowledged.
class WifiPeers {
public:
    static constexpr size_t kMaxPeers = 8;
    struct Counters {
        int64_t staleEvents = 0, duplicatePackets = 0, recoveredEvents = 0, gapEvents = 0,
                recoveredHolds = 0, recoveredTaps = 0, staleAttacks = 0;
    };
    // Releases a leaving sender's notes, with everything that hangs on them (the bridge's job).
    using ReleaseSender = std::function<void(const std::shared_ptr<MidiPeer>&)>;

    WifiPeers(const BridgeBasics& basics, FastMidi& fast, StrideScheduler& stride,
              RepeatExchange& repeat, DatagramSender sender, ReleaseSender release);

    void handlePacket(std::span<const uint8_t> packet, uint32_t address, uint16_t port);
    void close(uint64_t addressKey);
    void closeAll();
    // Closes peers that fell silent (the stream watchdog's companion).
    void closeSilent(uint64_t nowNs);

    size_t count() const { return peers_.size(); }
    const WifiMidiPeer* peer(uint32_t address, uint16_t port) const;
    const Counters& counters() const { return counters_; }
    static uint64_t addressKey(uint32_t address, uint16_t port) {
        return uint64_t(address) << 16 | port;
    }

private:
    struct Arrival;

    WifiMidiPeer* findOrOpen(const WifiPacketView& packet, uint64_t key, double now);
    void acknowledge(const WifiPacketView& packet, uint32_t address, uint16_t port, double now);
    void followPicture(WifiMidiPeer& peer, const WifiPacketView& packet, Arrival& arrival);
    void playRecords(WifiMidiPeer& peer, const WifiPacketView& packet, Arrival& arrival);
    // A release of this packet's own attack; true when it became a deferred release.
    bool keepTapLength(WifiMidiPeer& peer, int key, double eventTime, Arrival& arrival);
    void settleAttacks(WifiMidiPeer& peer, Arrival& arrival);
    void recoverHolds(WifiMidiPeer& peer, const WifiPacketView& packet);
    void reconcile(WifiMidiPeer& peer, const WifiPacketView& packet);
    void sendRecoveredRelease(int key);
    void scheduleReleases();
    void fireReleases();
    double nowUs() const { return double(scheduler_.nowNs() / 1000); }

    const HelperConfig& config_;
    Scheduler& scheduler_;
    NoteLedger& ledger_;
    FastMidi& fast_;
    StrideScheduler& stride_;
    RepeatExchange& repeat_;
    DatagramSender sender_;
    ReleaseSender release_;

    std::map<uint64_t, WifiMidiPeer> peers_;
    std::deque<uint64_t> retiredTokens_;
    Counters counters_;
    Timer releaseTimer_;
};

}  // namespace norv
