#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "bluetooth/codec/bluetooth_bytes.h"

namespace norv {

// Packs the coded state stream into self-describing blocks, compressed when that makes them smaller.
//
// Block (big-endian):
//   +0 u8   tag: 0 stored, 1 LZFSE, 2 raw DEFLATE
//   +1 u16  body length B (1 ... 16,384)
//   +3 u16  unpacked length U (1 ... 16,384)
//   +5      body: the bytes themselves (tag 0, B = U) or their compressed form
// LZFSE is not available here: packing with it always stores, and a tag-1 block fails to unpack.
// Every failure throws BluetoothError::invalidBlock().
class BluetoothBlockCodec {
public:
    static constexpr std::size_t maximum = 16384;

    enum class Compression : std::uint8_t { lzfse = 1, deflate = 2 };
    static std::optional<Compression> compression(std::uint8_t rawValue);

    static BluetoothBytes encode(std::span<const std::uint8_t> data, Compression compression);

    // A piece of the block stream; returns the unpacked bytes of every block it completes.
    BluetoothBytes receive(std::span<const std::uint8_t> data);

private:
    BluetoothBytes buffer_;
};

}  // namespace norv
