#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace norv::fuzz {

// Reads a fuzzer's input front to back; running out yields zeros and empty pieces.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

    bool empty() const { return offset_ >= bytes_.size(); }
    std::size_t remaining() const { return bytes_.size() - offset_; }

    std::uint8_t byte() { return empty() ? 0 : bytes_[offset_++]; }
    std::uint16_t u16() { return std::uint16_t(byte() << 8 | byte()); }

    // Up to `count` bytes, fewer near the end.
    std::span<const std::uint8_t> take(std::size_t count)
    {
        count = std::min(count, remaining());
        auto piece = bytes_.subspan(offset_, count);
        offset_ += count;
        return piece;
    }
    std::span<const std::uint8_t> rest() { return take(remaining()); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t offset_ = 0;
};

// The big-endian 4-byte length of `body` followed by the body.
inline std::vector<std::uint8_t> lengthPrefixed(std::span<const std::uint8_t> body)
{
    const auto n = static_cast<std::uint32_t>(body.size());
    std::vector<std::uint8_t> frame{std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)};
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

} // namespace norv::fuzz
