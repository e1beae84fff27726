#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "midi_helper/midi_peer.h"
#include "midi_helper/scheduler.h"
#include "midi_helper/stride_clock.h"

namespace norv {

class NoteLedger;
class RepeatExchange;

// Stride, the note repeat: every held key of a sender whose stride step is above 0 strikes on a
// grid of the musical timeline that `StrideClock` follows, with gate, swing and quantisation.
// While the Repeat lab is configured the lab plays the repeat and nothing here strikes.
class StrideScheduler {
public:
    StrideScheduler(Scheduler& scheduler, NoteLedger& ledger, RepeatExchange& repeat);

    // The clock followers, with the re-phase of the voices when the timeline jumps.
    void receiveEngineClock(std::span<const uint8_t> datagram);
    void receiveMidiClock(std::span<const uint8_t> datagram);

    // A sender's step and quantisation, gate and swing (the stride packets); invalid codes do
    // nothing.
    void configure(const std::shared_ptr<MidiPeer>& peer, uint16_t step, uint16_t quant);
    void configureArticulation(const std::shared_ptr<MidiPeer>& peer, uint16_t gate,
                               uint16_t swing);

    // Starts a held key's voice at `beat`: at once, or on the quantisation grid.
    void startVoice(const std::shared_ptr<MidiPeer>& peer, int key, double beat);
    // Ends the key's current strike now or at `at` (host time).
    void endStrike(const std::shared_ptr<MidiPeer>& peer, int key,
                   std::optional<uint64_t> at = std::nullopt);
    // The sender leaves: its voices go and its repeat stops.
    void dropVoices(MidiPeer& peer);
    // Re-arms the timer for the earliest strike or strike end.
    void schedule();

    double beat() const { return clock_.beat(nowSeconds()); }
    const StrideClock& clock() const { return clock_; }
    int64_t attacks() const { return attacks_; }
    double maxLateMs() const { return maxLateMs_; }
    bool timerActive() const { return timer_.active(); }

private:
    bool runs() const;
    void attack(const std::shared_ptr<MidiPeer>& peer, int key, double beat);
    void tick();
    // One tick's view of the timeline, shared by every voice it visits.
    struct Moment {
        double now, beat, tempo, horizon;
        bool ready;
    };
    void tickVoice(const std::shared_ptr<MidiPeer>& peer, int key, StrideVoice& voice,
                   const Moment& moment);
    void restartVoices(const std::shared_ptr<MidiPeer>& peer, double oldStep, bool restart);
    void skipSwingEdges(MidiPeer& peer, StrideVoice& voice, double before);
    // Calls `visit` for every sender whose step is above 0: stream peers, then Wi-Fi peers.
    template <typename Visit>
    void forEachStridePeer(Visit&& visit) const;
    double nowSeconds() const { return double(scheduler_.nowNs()) / 1e9; }

    Scheduler& scheduler_;
    NoteLedger& ledger_;
    RepeatExchange& repeat_;
    StrideClock clock_;
    Timer timer_;
    int64_t attacks_ = 0;
    double maxLateMs_ = 0.0;
};

}  // namespace norv
