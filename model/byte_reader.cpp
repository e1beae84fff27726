#include "model/byte_reader.h"

namespace norv {

bool ByteReader::unsignedValue(std::size_t width, std::uint64_t& out) {
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

bool ByteReader::u8(std::uint8_t& out) {
    std::uint64_t value = 0;
    if (!unsignedValue(1, value)) return false;
    out = static_cast<std::uint8_t>(value);
    return true;
}

bool ByteReader::u16(std::uint16_t& out) {
    std::uint64_t value = 0;
    if (!unsignedValue(2, value)) return false;
    out = static_cast<std::uint16_t>(value);
    return true;
}

bool ByteReader::u32(std::uint32_t& out) {
    std::uint64_t value = 0;
    if (!unsignedValue(4, value)) return false;
    out = static_cast<std::uint32_t>(value);
    return true;
}

bool ByteReader::u64(std::uint64_t& out) { return unsignedValue(8, out); }

bool ByteReader::bytes(std::size_t count, std::span<const std::uint8_t>& out) {
    if (remaining() < count) {
        return false;
    }
    out = bytes_.subspan(position_, count);
    position_ += count;
    return true;
}

bool ByteReader::skip(std::size_t count) {
    std::span<const std::uint8_t> skipped;
    return bytes(count, skipped);
}

void appendBigEndian(std::vector<std::uint8_t>& out, std::uint64_t value, std::size_t width) {
    for (std::size_t i = width; i > 0; --i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * (i - 1))));
    }
}

}  // namespace norv
