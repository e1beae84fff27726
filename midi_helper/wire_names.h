#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

namespace norv::wire {

// The 4-byte magic that opens every datagram, stream payload and Wi-Fi record the helper reads or
// sends. The layouts that follow each magic are described where they are read.
using Magic = char[5];

// Fast MIDI: a 16-byte note (datagrams only), an 8-byte note with a phase, a raw message.
inline constexpr Magic kFastNote16 = "NPM1";
inline constexpr Magic kFastNote = "NPM2";
inline constexpr Magic kFastRaw = "NPM3";
// Stream payloads only: a heartbeat, a sender's stride step and quantisation, its gate and swing.
inline constexpr Magic kHeartbeat = "NPM8";
inline constexpr Magic kStrideStep = "NPM9";
inline constexpr Magic kStrideArticulation = "NPMG";
// Wi-Fi packets (two versions) and their acknowledgement.
inline constexpr Magic kWifiV1 = "NPJ1";
inline constexpr Magic kWifiV2 = "NPJ2";
inline constexpr Magic kWifiAck = "NPA1";
// Clock datagrams: the engine's timeline and MIDI clock ticks.
inline constexpr Magic kEngineClock = "NPC1";
inline constexpr Magic kMidiClock = "NPC2";
// The repeat exchange: requests to the Repeat lab and its acknowledgements.
inline constexpr Magic kRepeatRequest = "NNRQ";
inline constexpr Magic kRepeatAck = "NNRA";

// Whether `bytes` opens with `magic`.
inline bool hasMagic(std::span<const uint8_t> bytes, const Magic& magic) {
    return bytes.size() >= 4 && std::memcmp(bytes.data(), magic, 4) == 0;
}

// Writes `magic` into the first four bytes of `out` (which holds at least four).
inline void putMagic(std::span<uint8_t> out, const Magic& magic) {
    std::copy_n(magic, 4, out.begin());
}

}  // namespace norv::wire
