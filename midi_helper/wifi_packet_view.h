#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

namespace norv {

// The note identity of a record's fast MIDI payload: a key and whether it releases, or nothing.
std::optional<std::pair<int, bool>> wifiRecordNote(std::span<const uint8_t> payload,
                                                   int midiChannel);

// A Wi-Fi packet (either version) whose shape has been checked, read in place: the header, the
// picture of held keys and pedals, the holds with their velocities (v2) and up to 32 records of
// recent events. Layout, big-endian: magic, token (4), packet sequence (4), send time in µs (8),
// record count (2), sustain mask (2), 256 bytes of held-key bits; v2 adds stride step (2), quant
// (2), hold count (2), swing, gate and 3 bytes per hold; then 20 bytes per record: event sequence
// (4), event time (8), an 8-byte fast MIDI payload.
struct WifiPacketView {
    // One record of a recent event.
    struct Record {
        uint64_t sequence = 0;
        uint64_t time = 0;  // sender time, µs
        std::span<const uint8_t> payload;
    };

    std::span<const uint8_t> bytes;
    bool v2 = false;
    size_t records = 0;
    size_t header = 280;
    size_t holdCount = 0;
    std::array<std::pair<int, uint8_t>, 128> holds{};
    uint64_t token = 0, sequence = 0, sendTimeInteger = 0;
    double sendTime = 0.0;
    uint16_t sustainMask = 0;
    // v2 only.
    uint16_t strideStep = 0, strideQuant = 0;
    uint8_t swing = 0, gate = 0;

    bool holdsKey(int key) const { return (bytes[24 + size_t(key) / 8] >> (key % 8)) & 1; }
    Record record(size_t r) const;

    static std::optional<WifiPacketView> read(std::span<const uint8_t> p);
    // Records: ascending sequences, never later than the packet, fast MIDI payloads only.
    bool recordsValid() const;
};

}  // namespace norv
