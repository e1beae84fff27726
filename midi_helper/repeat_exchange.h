#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "midi_helper/bridge_basics.h"
#include "midi_helper/helper_config.h"
#include "midi_helper/midi_peer.h"
#include "midi_helper/scheduler.h"

namespace norv {

class NoteLedger;

// Sends one datagram to an IPv4 address and port (host byte order): through the datagram socket,
// which drops it while it is not open in network mode. Empty where nothing is ever sent.
using DatagramSender =
    std::function<void(std::span<const uint8_t> datagram, uint32_t address, uint16_t port)>;

// The local repeat exchange ("--native-repeat-port"): one stream peer's repeat is played by a
// cooperating process, the Repeat lab. Requests carry the owner's rate every 100 ms under a token
// and a generation; a fresh acknowledgement of the current generation lets the owner's notes sound,
// and a lab that falls silent has them silenced.
class RepeatExchange {
public:
    static constexpr uint32_t kLoopback = 0x7F000001;

    RepeatExchange(const BridgeBasics& basics, DatagramSender sender);

    // Configured: the lab plays every repeat and the helper's own stride stays out of the way.
    bool enabled() const { return config_.nativeRepeatPort > 0; }
    bool owns(const std::shared_ptr<MidiPeer>& peer) const { return enabled() && peer == owner_; }
    const std::shared_ptr<MidiPeer>& owner() const { return owner_; }
    const std::string& token() const { return token_; }
    int64_t generation() const { return generation_; }
    bool ackFresh() const;

    // Starts the request timer: at once, then every 100 ms.
    void start();
    // Sends a request; first silences the owner when the lab stopped acknowledging.
    void tick();
    void receiveAck(std::span<const uint8_t> datagram);
    // `peer` changed its stride settings from `oldStep` to its current step: it becomes the owner.
    void takeOwnership(const std::shared_ptr<MidiPeer>& peer, double oldStep);
    // The owner's notes are being released (it left): no owner, a new generation, rate 0 at once.
    void ownerLeaving(const std::shared_ptr<MidiPeer>& peer);

private:
    // Note-offs for every key the peer has sounding, its pending stride note-offs dropped.
    void endSoundingNotes(const std::shared_ptr<MidiPeer>& peer);
    double nowSeconds() const { return double(scheduler_.nowNs()) / 1e9; }
    // The request datagram for the current generation and rate.
    const std::vector<uint8_t>& request();

    const HelperConfig& config_;
    Scheduler& scheduler_;
    NoteLedger& ledger_;
    DatagramSender sender_;
    std::shared_ptr<MidiPeer> owner_;
    std::string token_;
    int64_t generation_ = 0;
    int64_t ackGeneration_ = -1;
    double ackAt_ = 0.0;
    double requestedAt_ = 0.0;
    PeriodicTimer timer_;
    std::vector<uint8_t> request_;
    std::string requestTail_;  // the source and the token, written once
    int64_t requestGeneration_ = 0;
    std::optional<uint64_t> requestRateBits_;  // empty: no owner
};

}  // namespace norv
