#include "bluetooth/codec/bluetooth_block_codec.h"

#include <zlib.h>

#include "bluetooth/codec/bluetooth_error.h"
#include "model/byte_reader.h"

namespace norv {

namespace {

constexpr std::size_t headerSize = 5;
constexpr std::size_t maximumBuffered = 2 * (BluetoothBlockCodec::maximum + headerSize);
constexpr int rawDeflateWindowBits = -15;

// Raw DEFLATE into at most `capacity` bytes; returns the size, or 0 when it does not fit or fails.
std::size_t deflateInto(std::span<const std::uint8_t> data, std::uint8_t* out, std::size_t capacity) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, rawDeflateWindowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return 0;
    }
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out;
    stream.avail_out = static_cast<uInt>(capacity);
    const int status = deflate(&stream, Z_FINISH);
    const std::size_t produced = stream.total_out;
    deflateEnd(&stream);
    return status == Z_STREAM_END ? produced : 0;
}

// Raw DEFLATE body that must inflate to exactly `length` bytes.
bool inflateExactly(std::span<const std::uint8_t> body, std::size_t length, BluetoothBytes& out) {
    z_stream stream{};
    if (inflateInit2(&stream, rawDeflateWindowBits) != Z_OK) {
        return false;
    }
    const std::size_t start = out.size();
    out.resize(start + length);
    stream.next_in = const_cast<Bytef*>(body.data());
    stream.avail_in = static_cast<uInt>(body.size());
    stream.next_out = out.data() + start;
    stream.avail_out = static_cast<uInt>(length);
    int status = inflate(&stream, Z_FINISH);
    const bool exact = status == Z_STREAM_END && stream.total_out == length;
    inflateEnd(&stream);
    if (!exact) out.resize(start);
    return exact;
}

}  // namespace

std::optional<BluetoothBlockCodec::Compression> BluetoothBlockCodec::compression(std::uint8_t rawValue) {
    switch (rawValue) {
        case 1: return Compression::lzfse;
        case 2: return Compression::deflate;
        default: return std::nullopt;
    }
}

BluetoothBytes BluetoothBlockCodec::encode(std::span<const std::uint8_t> data, Compression compression) {
    if (data.empty() || data.size() > maximum) {
        throw BluetoothError::invalidBlock();
    }
    BluetoothBytes block(headerSize + data.size());
    std::size_t produced = 0;
    if (compression == Compression::deflate) {
        produced = deflateInto(data, block.data() + headerSize, data.size());
    }
    // LZFSE has no compressor here, so such blocks are stored.
    const bool compressed = produced >= 1 && produced < data.size();
    const std::size_t bodyLength = compressed ? produced : data.size();
    block[0] = compressed ? static_cast<std::uint8_t>(compression) : 0;
    block[1] = static_cast<std::uint8_t>(bodyLength >> 8);
    block[2] = static_cast<std::uint8_t>(bodyLength);
    block[3] = static_cast<std::uint8_t>(data.size() >> 8);
    block[4] = static_cast<std::uint8_t>(data.size());
    if (compressed) {
        block.resize(headerSize + produced);
    } else {
        std::copy(data.begin(), data.end(), block.begin() + headerSize);
    }
    return block;
}

BluetoothBytes BluetoothBlockCodec::receive(std::span<const std::uint8_t> data) {
    if (buffer_.size() + data.size() > maximumBuffered) {
        throw BluetoothError::invalidBlock();
    }
    buffer_.insert(buffer_.end(), data.begin(), data.end());

    BluetoothBytes result;
    std::size_t consumed = 0;
    while (true) {
        ByteReader reader{std::span(buffer_).subspan(consumed)};
        std::uint8_t tag = 0;
        std::uint16_t bodyLength = 0;
        std::uint16_t unpackedLength = 0;
        if (!reader.u8(tag) || !reader.u16(bodyLength) || !reader.u16(unpackedLength)) break;
        if (tag > 2 || bodyLength == 0 || bodyLength > maximum || unpackedLength == 0 || unpackedLength > maximum) {
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed));
            throw BluetoothError::invalidBlock();
        }
        std::span<const std::uint8_t> body;
        if (!reader.bytes(bodyLength, body)) break;
        bool ok = false;
        if (tag == 0) {
            ok = bodyLength == unpackedLength;
            if (ok) result.insert(result.end(), body.begin(), body.end());
        } else if (tag == 2) {
            ok = inflateExactly(body, unpackedLength, result);
        }
        if (!ok) {
            // The failed block stays buffered; the codec is not used again.
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed));
            throw BluetoothError::invalidBlock();
        }
        consumed += headerSize + bodyLength;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed));
    return result;
}

}  // namespace norv
