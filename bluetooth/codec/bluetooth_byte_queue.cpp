#include "bluetooth/codec/bluetooth_byte_queue.h"

#include <algorithm>

namespace norv {

bool BluetoothByteQueue::append(std::span<const std::uint8_t> bytes) {
    if (limit_ - count() < bytes.size()) {
        return false;
    }
    if (bytes.empty()) {
        return true;
    }
    if (offset_ > 0) {
        data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(offset_));
        offset_ = 0;
    }
    data_.insert(data_.end(), bytes.begin(), bytes.end());
    return true;
}

std::span<const std::uint8_t> BluetoothByteQueue::prefix(std::size_t n) const {
    return std::span(data_).subspan(offset_, std::min(n, count()));
}

void BluetoothByteQueue::consume(std::size_t n) {
    offset_ += std::min(n, count());
    if (offset_ == data_.size()) {
        data_.clear();
        offset_ = 0;
    }
}

}  // namespace norv
