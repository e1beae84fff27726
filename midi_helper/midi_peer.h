#pragma once

#include <array>
#include <bitset>
#include <cstdint>

namespace norv {

// Note key: channel (0...15) × 128 + note number.
constexpr int kNoteKeys = 2048;

constexpr int noteKey(int channel, int note)
{
    return channel * 128 + note;
}

// One sender's note state: what it has sounding, its sustain pedals and the channels it used, with
// the host times that keep its note-ons and note-offs in order. Stream connections own one each.
struct MidiPeer {
    explicit MidiPeer(uint64_t nowNs = 0) : lastHeartbeat(nowNs) {}

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

    bool heartbeatEnabled = false;
    uint64_t lastHeartbeat = 0;
    // False once the peer has been closed and its notes released.
    bool registered = true;
};

} // namespace norv
