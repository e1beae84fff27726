#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>

#include "bluetooth/codec/bluetooth_bytes.h"

namespace norv {

// Slotted delta codec for the engine's state frames. Each path gets one of 64 slots whose last
// payload is the baseline; a payload goes out whole or as a delta against it, whichever is
// shorter. Encoder and decoder are separate instances that must see the same frames in order.
//
// Coded frame (big-endian):
//   +0  u32  L, length of the rest (18 ... 4,194,322)
//   +4  u8   type: 0 full, 1 delta, 2 full after the sender reset its cache
//   +5  u8   slot 0..63, or 255 for a payload without path
//   +6  u32  sequence of the slot (1 after (re)assignment)
//   +10 u32  payload length (1 ... 4,194,304)
//   +14 u64  source time in microseconds
//   +22      body: payload (types 0, 2) or delta operations (type 1)
// Delta operations: 0x00 n(u32) bytes[n] literal; 0x01 offset(u32) count(u32) copy from baseline.
// Every failure throws BluetoothError::invalidFrame().
class BluetoothFrameCodec {
public:
    static constexpr std::uint32_t maximum = 4194304;

    using FrameObserver = std::function<void(const BluetoothBytes& frame, double sourceTime)>;

    // One plain frame (4-byte length + payload) and its source time in seconds; returns one coded frame.
    BluetoothBytes encode(std::span<const std::uint8_t> frame, double sourceTime);

    // A piece of the coded stream; returns every plain frame it completes, concatenated.
    BluetoothBytes receive(std::span<const std::uint8_t> data, const FrameObserver& onFrame = {});

    int fullFrames() const { return fullFrames_; }
    int deltaFrames() const { return deltaFrames_; }
    long long originalBytes() const { return originalBytes_; }
    long long wireBytes() const { return wireBytes_; }
    double lastSourceTime() const { return lastSourceTime_; }

    // Exposed for tests: the delta (or the payload itself) and its inverse.
    static BluetoothBytes difference(std::span<const std::uint8_t> baseline, std::span<const std::uint8_t> payload);
    static BluetoothBytes apply(std::span<const std::uint8_t> delta, std::span<const std::uint8_t> baseline,
                                std::uint32_t length);

private:
    static constexpr std::size_t cacheLimit = 16777216;
    static constexpr int slotCount = 64;
    static constexpr std::uint8_t noSlot = 255;

    void storeBaseline(int slot, BluetoothBytes payload, std::uint32_t sequence);
    void resetCache();

    BluetoothBytes buffer_;
    std::map<int, BluetoothBytes> cache_;
    std::map<std::string, int> keys_;
    std::map<int, std::uint32_t> sequences_;
    int nextSlot_ = 0;
    std::size_t cachedBytes_ = 0;
    int fullFrames_ = 0;
    int deltaFrames_ = 0;
    long long originalBytes_ = 0;
    long long wireBytes_ = 0;
    double lastSourceTime_ = 0;
};

}  // namespace norv
