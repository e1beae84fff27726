#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace norv {

// Bounds-checked big-endian reader over a span, for every decoder of wire bytes. Every read
// checks first and reports an overrun by returning false, leaving the position unchanged.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t position() const { return position_; }
    std::size_t remaining() const { return bytes_.size() - position_; }

    bool u8(std::uint8_t& out);
    bool u16(std::uint16_t& out);
    bool u32(std::uint32_t& out);
    bool u64(std::uint64_t& out);
    bool bytes(std::size_t count, std::span<const std::uint8_t>& out);
    bool skip(std::size_t count);

private:
    bool unsignedValue(std::size_t width, std::uint64_t& out);

    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

// Appends the low `width` bytes of `value`, most significant first.
void appendBigEndian(std::vector<std::uint8_t>& out, std::uint64_t value, std::size_t width);

}  // namespace norv
