#include "bluetooth/bluetooth_byte_reader.h"

namespace norv {

bool BluetoothByteReader::unsignedValue(std::size_t width, std::uint64_t& out) {
    if (remaining() < width) {
        return false;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value = (value << 8) | bytes_[position_ + i];
    }
    position_ += width;
    out = value;
    return true;
}

bool BluetoothByteReader::u8(std::uint8_t& out) {
    std::uint64_t value = 0;
    if (!unsignedValue(1, value)) return false;
    out = static_cast<std::uint8_t>(value);
    return true;
}

bool BluetoothByteReader::u16(std::uint16_t& out) {
    std::uint64_t value = 0;
    if (!unsignedValue(2, value)) return false;
    out = static_cast<std::uint16_t>(value);
    return true;
}

bool BluetoothByteReader::u32(std::uint32_t& out) {
    std::uint64_t value = 0;
    if (!unsignedValue(4, value)) return false;
    out = static_cast<std::uint32_t>(value);
    return true;
}

bool BluetoothByteReader::u64(std::uint64_t& out) { return unsignedValue(8, out); }

bool BluetoothByteReader::bytes(std::size_t count, std::span<const std::uint8_t>& out) {
    if (remaining() < count) {
        return false;
    }
    out = bytes_.subspan(position_, count);
    position_ += count;
    return true;
}

void appendBigEndian(BluetoothBytes& out, std::uint64_t value, std::size_t width) {
    for (std::size_t i = width; i > 0; --i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * (i - 1))));
    }
}

}  // namespace norv
