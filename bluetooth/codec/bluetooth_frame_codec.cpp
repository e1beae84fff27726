#include "bluetooth/codec/bluetooth_frame_codec.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "bluetooth/codec/bluetooth_error.h"
#include "model/byte_reader.h"

namespace norv {

namespace {

constexpr std::size_t window = 32;
constexpr std::size_t candidatesPerHash = 8;
constexpr std::uint32_t headerSize = 18;
constexpr std::uint32_t maximumCodedLength = BluetoothFrameCodec::maximum + headerSize;
constexpr std::size_t maximumBuffered = 0x408000;

constexpr std::uint64_t power31() {
    std::uint64_t p = 1;
    for (int i = 0; i < 31; ++i) p *= 257;
    return p;
}
constexpr std::uint64_t hashPower = power31();
static_assert(0 - hashPower == 0xFA4ECE056F2EE0FFULL);

std::uint64_t windowHash(const std::uint8_t* bytes) {
    std::uint64_t h = 0;
    for (std::size_t i = 0; i < window; ++i) h = h * 257 + bytes[i];
    return h;
}

void appendLiteral(BluetoothBytes& out, std::span<const std::uint8_t> bytes) {
    out.push_back(0x00);
    appendBigEndian(out, bytes.size(), 4);
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// Seconds to whole microseconds; NaN and negatives count as 0, too large as the maximum.
std::uint64_t microseconds(double seconds) {
    const double micro = seconds * 1000000.0;
    if (!(micro > 0)) return 0;
    if (micro >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(micro);
}

BluetoothBytes framed(std::span<const std::uint8_t> payload) {
    BluetoothBytes out;
    out.reserve(payload.size() + 4);
    appendBigEndian(out, payload.size(), 4);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::optional<std::string> pathOf(std::span<const std::uint8_t> payload) {
    const auto json = nlohmann::json::parse(payload.begin(), payload.end(), nullptr, false);
    if (json.is_discarded() || !json.is_object()) return std::nullopt;
    const auto it = json.find("path");
    if (it == json.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

}  // namespace

BluetoothBytes BluetoothFrameCodec::difference(std::span<const std::uint8_t> old, std::span<const std::uint8_t> now) {
    if (old.size() < window || now.size() < window) {
        return BluetoothBytes(now.begin(), now.end());
    }
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> index;
    for (std::size_t p = 0; p + window <= old.size(); p += window) {
        auto& offsets = index[windowHash(old.data() + p)];
        if (offsets.size() < candidatesPerHash) offsets.push_back(p);
    }

    BluetoothBytes out;
    std::size_t pos = 0;
    std::size_t literalStart = 0;
    std::uint64_t h = windowHash(now.data());
    while (pos + window <= now.size()) {
        std::size_t bestLength = 0;
        std::size_t bestOffset = 0;
        if (const auto it = index.find(h); it != index.end()) {
            for (const std::size_t o : it->second) {
                if (!std::equal(old.begin() + o, old.begin() + o + window, now.begin() + pos)) continue;
                std::size_t k = window;
                while (o + k < old.size() && pos + k < now.size() && old[o + k] == now[pos + k]) ++k;
                if (k > bestLength) {
                    bestLength = k;
                    bestOffset = o;
                }
            }
        }
        if (bestLength > 0) {
            if (literalStart < pos) appendLiteral(out, now.subspan(literalStart, pos - literalStart));
            out.push_back(0x01);
            appendBigEndian(out, bestOffset, 4);
            appendBigEndian(out, bestLength, 4);
            pos += bestLength;
            literalStart = pos;
            if (pos + window <= now.size()) h = windowHash(now.data() + pos);
        } else {
            if (pos + window < now.size()) {
                h = (h - now[pos] * hashPower) * 257 + now[pos + window];
            }
            ++pos;
        }
    }
    if (literalStart < now.size()) appendLiteral(out, now.subspan(literalStart));
    return out;
}

BluetoothBytes BluetoothFrameCodec::apply(std::span<const std::uint8_t> delta, std::span<const std::uint8_t> baseline,
                                          std::uint32_t length) {
    BluetoothBytes result;
    result.reserve(length);
    ByteReader reader(delta);
    while (reader.remaining() > 0) {
        std::uint8_t op = 0;
        std::uint32_t first = 0;
        if (!reader.u8(op) || !reader.u32(first)) throw BluetoothError::invalidFrame();
        const std::size_t room = length - result.size();
        if (op == 0x01) {
            std::uint32_t count = 0;
            if (!reader.u32(count)) throw BluetoothError::invalidFrame();
            if (count < 1 || first > baseline.size() || count > baseline.size() - first || count > room) {
                throw BluetoothError::invalidFrame();
            }
            result.insert(result.end(), baseline.begin() + first, baseline.begin() + first + count);
        } else if (op == 0x00) {
            std::span<const std::uint8_t> literal;
            if (first < 1 || first > room || !reader.bytes(first, literal)) throw BluetoothError::invalidFrame();
            result.insert(result.end(), literal.begin(), literal.end());
        } else {
            throw BluetoothError::invalidFrame();
        }
    }
    if (result.size() != length) throw BluetoothError::invalidFrame();
    return result;
}

void BluetoothFrameCodec::resetCache() {
    cache_.clear();
    keys_.clear();
    sequences_.clear();
    nextSlot_ = 0;
    cachedBytes_ = 0;
}

void BluetoothFrameCodec::storeBaseline(int slot, BluetoothBytes payload, std::uint32_t sequence) {
    auto& entry = cache_[slot];
    cachedBytes_ -= entry.size();
    cachedBytes_ += payload.size();
    entry = std::move(payload);
    sequences_[slot] = sequence;
}

BluetoothBytes BluetoothFrameCodec::encode(std::span<const std::uint8_t> frame, double sourceTime) {
    ByteReader reader(frame);
    std::uint32_t length = 0;
    if (!reader.u32(length) || length != reader.remaining() || length > maximum || length == 0) {
        throw BluetoothError::invalidFrame();
    }
    const auto payload = frame.subspan(4);

    int slot = noSlot;
    bool reset = false;
    if (const auto path = pathOf(payload)) {
        if (cachedBytes_ + payload.size() > cacheLimit) {
            resetCache();
            reset = true;
        }
        if (const auto it = keys_.find(*path); it != keys_.end()) {
            slot = it->second;
        } else {
            slot = nextSlot_;
            nextSlot_ = (nextSlot_ + 1) % slotCount;
            std::erase_if(keys_, [slot](const auto& entry) { return entry.second == slot; });
            keys_[*path] = slot;
            if (const auto cached = cache_.find(slot); cached != cache_.end()) {
                cachedBytes_ -= cached->second.size();
                cache_.erase(cached);
            }
            sequences_.erase(slot);
        }
    }

    std::uint32_t sequence = 1;
    if (const auto it = sequences_.find(slot); slot != noSlot && it != sequences_.end()) sequence = it->second + 1;

    std::uint8_t type = reset ? 2 : 0;
    BluetoothBytes delta;
    bool useDelta = false;
    if (!reset && slot != noSlot) {
        if (const auto cached = cache_.find(slot); cached != cache_.end()) {
            delta = difference(cached->second, payload);
            if (delta.size() < payload.size()) {
                type = 1;
                useDelta = true;
            }
        }
    }

    BluetoothBytes built;
    built.reserve(headerSize + (useDelta ? delta.size() : payload.size()));
    built.push_back(type);
    built.push_back(static_cast<std::uint8_t>(slot));
    appendBigEndian(built, sequence, 4);
    appendBigEndian(built, payload.size(), 4);
    appendBigEndian(built, microseconds(sourceTime), 8);
    if (useDelta) {
        built.insert(built.end(), delta.begin(), delta.end());
    } else {
        built.insert(built.end(), payload.begin(), payload.end());
    }

    if (slot != noSlot) storeBaseline(slot, BluetoothBytes(payload.begin(), payload.end()), sequence);
    if (type == 1) {
        ++deltaFrames_;
    } else {
        ++fullFrames_;
    }
    originalBytes_ += static_cast<long long>(frame.size());
    wireBytes_ += static_cast<long long>(built.size()) + 4;
    return framed(built);
}

BluetoothBytes BluetoothFrameCodec::receive(std::span<const std::uint8_t> data, const FrameObserver& onFrame) {
    if (buffer_.size() + data.size() > maximumBuffered) throw BluetoothError::invalidFrame();
    buffer_.insert(buffer_.end(), data.begin(), data.end());

    BluetoothBytes result;
    std::size_t consumed = 0;
    // Cut frames are dropped from the buffer even when decoding them fails.
    const ConsumedPrefix compact(buffer_, consumed);

    while (true) {
        ByteReader outer{std::span(buffer_).subspan(consumed)};
        std::uint32_t length = 0;
        if (!outer.u32(length)) break;
        if (length < headerSize || length > maximumCodedLength) throw BluetoothError::invalidFrame();
        std::span<const std::uint8_t> coded;
        if (!outer.bytes(length, coded)) break;
        consumed += 4 + length;

        ByteReader reader(coded);
        std::uint8_t type = 0;
        std::uint8_t slot = 0;
        std::uint32_t sequence = 0;
        std::uint32_t payloadLength = 0;
        std::uint64_t micro = 0;
        reader.u8(type);
        reader.u8(slot);
        reader.u32(sequence);
        reader.u32(payloadLength);
        reader.u64(micro);
        if (type > 2 || (slot >= slotCount && slot != noSlot) || payloadLength == 0 || payloadLength > maximum) {
            throw BluetoothError::invalidFrame();
        }
        lastSourceTime_ = static_cast<double>(micro) / 1000000.0;
        if (type == 2) {
            cache_.clear();
            sequences_.clear();
            cachedBytes_ = 0;
        }
        const auto body = coded.subspan(headerSize);

        BluetoothBytes payload;
        if (type == 1) {
            const auto cached = cache_.find(slot);
            if (slot == noSlot || cached == cache_.end()) throw BluetoothError::invalidFrame();
            const auto stored = sequences_.find(slot);
            const std::uint32_t expected = stored == sequences_.end() ? 1 : stored->second + 1;
            if (sequence != expected) throw BluetoothError::invalidFrame();
            payload = apply(body, cached->second, payloadLength);
            ++deltaFrames_;
        } else {
            if (body.size() != payloadLength) throw BluetoothError::invalidFrame();
            payload.assign(body.begin(), body.end());
            ++fullFrames_;
        }

        if (slot != noSlot) {
            const auto cached = cache_.find(slot);
            const std::size_t replaced = cached == cache_.end() ? 0 : cached->second.size();
            if (cachedBytes_ - replaced + payload.size() > cacheLimit) throw BluetoothError::invalidFrame();
        }
        auto out = framed(payload);
        if (slot != noSlot) storeBaseline(slot, std::move(payload), sequence);
        originalBytes_ += static_cast<long long>(out.size());
        wireBytes_ += static_cast<long long>(length) + 4;
        result.insert(result.end(), out.begin(), out.end());
        if (onFrame) onFrame(out, lastSourceTime_);
    }
    return result;
}

}  // namespace norv
