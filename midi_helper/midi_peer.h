#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <map>
#include <optional>

namespace norv {

// Note key: channel (0...15) × 128 + note number.
constexpr int kNoteKeys = 2048;

constexpr int noteKey(int channel, int note) { return channel * 128 + note; }

// Calls `visit(key)` for every key in `keys`, lowest first. Skips whole empty words (libstdc++'s
// bit search) instead of testing all 2048 keys. `keys` is a copy, so `visit` may change the set
// it came from.
template <typename Visit>
void forEachKey(const std::bitset<kNoteKeys> keys, Visit&& visit) {
    for (size_t key = keys._Find_first(); key < keys.size(); key = keys._Find_next(key))
        visit(int(key));
}

// One held key repeated by stride. Times are beats.
struct StrideVoice {
    uint8_t velocity = 100;
    bool started = false;            // has struck at least once
    std::optional<double> next;      // next strike, swing included
    std::optional<double> off;       // end of the current strike
    std::optional<double> nextBase;  // grid position of the next strike
    bool nextOdd = false;            // the next strike is a swung one
};

// One sender's note state: what it has sounding, its sustain pedals and the channels it used, with
// the host times that keep its note-ons and note-offs in order. Stream connections own one each.
struct MidiPeer {
    explicit MidiPeer(uint64_t nowNs = 0) : lastHeartbeat(nowNs), lastFrame(nowNs) {}

    std::bitset<kNoteKeys> notes;
    std::bitset<16> sustain;
    std::bitset<16> channels;
    // Host time of the last note-on / note-off per key; 0 means none.
    std::array<uint64_t, kNoteKeys> submittedOns{};
    std::array<uint64_t, kNoteKeys> releaseBarriers{};

    double strideStep = 0.0;
    uint16_t strideQuant = 0;
    double strideGate = 0.5;
    double strideSwing = 0.0;
    std::map<int, StrideVoice> held;

    bool heartbeatEnabled = false;
    uint64_t lastHeartbeat = 0;
    // Time of the last stream frame of any kind (creation until the first).
    uint64_t lastFrame = 0;
    // False once the peer has been closed and its notes released.
    bool registered = true;
    // A Wi-Fi sender's note state (no stream of its own).
    bool wifi = false;
};

}  // namespace norv
