#pragma once

#include <cstddef>
#include <span>

#include "bluetooth/codec/bluetooth_bytes.h"

namespace norv {

// Bounded queue of bytes waiting to be written. Consuming moves an offset; consumed bytes are
// dropped only when new bytes are appended.
class BluetoothByteQueue {
public:
    explicit BluetoothByteQueue(std::size_t limit) : limit_(limit) {}

    std::size_t limit() const { return limit_; }
    std::size_t count() const { return data_.size() - offset_; }

    // False, and nothing changes, when the bytes do not fit under the limit.
    bool append(std::span<const std::uint8_t> bytes);
    // The first `n` waiting bytes (fewer if fewer wait), without consuming them.
    std::span<const std::uint8_t> prefix(std::size_t n) const;
    // Marks `n` (at most count()) waiting bytes as written.
    void consume(std::size_t n);

private:
    std::size_t limit_;
    BluetoothBytes data_;
    std::size_t offset_ = 0;
};

}  // namespace norv
