#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace norv {

// The byte buffers of the Bluetooth wire: frames, blocks, queued state and pipe data.
using BluetoothBytes = std::vector<std::uint8_t>;

// Erases the bytes a parse loop has consumed from the front of its buffer when the loop ends,
// also when it ends with an exception.
class ConsumedPrefix {
public:
    ConsumedPrefix(BluetoothBytes& buffer, std::size_t& consumed) : buffer_(buffer), consumed_(consumed) {}
    ~ConsumedPrefix() { buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed_)); }
    ConsumedPrefix(const ConsumedPrefix&) = delete;
    ConsumedPrefix& operator=(const ConsumedPrefix&) = delete;

private:
    BluetoothBytes& buffer_;
    std::size_t& consumed_;
};

}  // namespace norv
