#pragma once

#include <cstdint>
#include <span>
#include <unordered_set>

#include "midi_helper/bridge_basics.h"
#include "midi_helper/helper_config.h"
#include "midi_helper/scheduler.h"

namespace norv {

class NoteLedger;
class RepeatExchange;
class StrideScheduler;

// Fast MIDI packets (wire_names.h): 16-byte notes (datagrams only), notes with a phase (attack,
// release, tap, retrigger), raw messages, and the stride settings of a stream peer. Played as the
// ledger's current sender; held keys of a repeating sender go to stride or, while it owns it, to
// the Repeat lab.
class FastMidi {
public:
    static constexpr uint64_t kTapReleaseNs = 20'000'000;
    static constexpr uint64_t kRetriggerGapNs = 1'000'000;

    FastMidi(const BridgeBasics& basics, StrideScheduler& stride, RepeatExchange& repeat);
    ~FastMidi();
    FastMidi(const FastMidi&) = delete;
    FastMidi& operator=(const FastMidi&) = delete;

    // One packet of 8 bytes (16 for a 16-byte note); anything else is ignored.
    void handlePacket(std::span<const uint8_t> packet);
    // Phase 0 tap, 1 attack, 2 release, 3 retrigger; channel 1...16.
    void sendNote(int phase, int pitch, int velocity, int channel);
    void sendRaw(int length, int status, int data1, int data2);

    int64_t noteOnCount() const { return noteOnCount_; }
    int64_t noteOffCount() const { return noteOffCount_; }
    int64_t retriggerCount() const { return retriggerCount_; }
    // A release played on a sender's behalf later (a Wi-Fi tap) counts as a fast note-off.
    void countNoteOff() { ++noteOffCount_; }

private:
    // Whether the current sender's held keys repeat (stride or the lab); then the note is theirs.
    bool holdForRepeat(int phase, int key, int velocity, std::span<const uint8_t> on);
    void scheduleTapRelease(uint8_t status, uint8_t pitch);
    // All Sound Off / All Notes Off also end the channel's repeating voices.
    void endChannelVoices(int channel);

    const HelperConfig& config_;
    Scheduler& scheduler_;
    NoteLedger& ledger_;
    StrideScheduler& stride_;
    RepeatExchange& repeat_;
    std::unordered_set<Scheduler::TimerId> tapTimers_;
    int64_t noteOnCount_ = 0;
    int64_t noteOffCount_ = 0;
    int64_t retriggerCount_ = 0;
};

}  // namespace norv
