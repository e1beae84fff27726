#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

namespace norv {

// Bounds-checked big-endian reader over a span: the helper's own copy of the application's
// reader, as the helper links none of the application's libraries. Every read checks first and
// reports an overrun by returning false, leaving the position unchanged.
class HelperByteReader {
public:
    explicit HelperByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    size_t position() const { return position_; }
    size_t remaining() const { return bytes_.size() - position_; }

    bool u8(uint8_t& out) { return read(out); }
    bool u16(uint16_t& out) { return read(out); }
    bool u32(uint32_t& out) { return read(out); }
    bool u64(uint64_t& out) { return read(out); }
    // An IEEE 754 double sent as the big-endian bytes of its bit pattern.
    bool f64(double& out) {
        uint64_t bits = 0;
        if (!u64(bits)) return false;
        out = std::bit_cast<double>(bits);
        return true;
    }
    bool bytes(size_t count, std::span<const uint8_t>& out) {
        if (remaining() < count) return false;
        out = bytes_.subspan(position_, count);
        position_ += count;
        return true;
    }
    bool skip(size_t count) {
        std::span<const uint8_t> skipped;
        return bytes(count, skipped);
    }

private:
    template <typename Unsigned>
    bool read(Unsigned& out) {
        if (remaining() < sizeof(Unsigned)) return false;
        Unsigned value = 0;
        for (size_t i = 0; i < sizeof(Unsigned); ++i)
            value = Unsigned(value << 8 | bytes_[position_ + i]);
        position_ += sizeof(Unsigned);
        out = value;
        return true;
    }

    std::span<const uint8_t> bytes_;
    size_t position_ = 0;
};

}  // namespace norv
