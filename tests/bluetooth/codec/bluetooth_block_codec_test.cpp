#include <gtest/gtest.h>

#include <random>

#include "bluetooth/codec/bluetooth_block_codec.h"
#include "bluetooth/codec/bluetooth_error.h"
#include "tests/support/bluetooth/bluetooth_hex.h"

namespace norv {
namespace {

using Compression = BluetoothBlockCodec::Compression;
using test::concat;
using test::hex;
using test::toHex;

void expectInvalid(const BluetoothBytes& stream) {
    BluetoothBlockCodec codec;
    try {
        codec.receive(stream);
        ADD_FAILURE() << "accepted " << toHex(stream);
    } catch (const BluetoothError& error) {
        EXPECT_EQ(error.code(), 2);
        EXPECT_STREQ(error.what(), "Invalid compressed Bluetooth block");
    }
}

TEST(BluetoothBlockCodec, IncompressibleBytesAreStored) {
    EXPECT_EQ(toHex(BluetoothBlockCodec::encode(hex("01 02 03"), Compression::deflate)), "00 00 03 00 03 01 02 03");
    // No LZFSE compressor here: even zeros are stored.
    const BluetoothBytes zeros(100, 0);
    const auto stored = BluetoothBlockCodec::encode(zeros, Compression::lzfse);
    EXPECT_EQ(toHex(BluetoothBytes(stored.begin(), stored.begin() + 5)), "00 00 64 00 64");
    EXPECT_EQ(BluetoothBytes(stored.begin() + 5, stored.end()), zeros);
}

TEST(BluetoothBlockCodec, ZerosDeflateToASmallBlockAndBack) {
    const BluetoothBytes zeros(16384, 0);
    const auto block = BluetoothBlockCodec::encode(zeros, Compression::deflate);
    EXPECT_EQ(block[0], 2);
    EXPECT_LT(block.size(), 200u);
    EXPECT_EQ(toHex(BluetoothBytes(block.begin() + 3, block.begin() + 5)), "40 00");
    BluetoothBlockCodec codec;
    EXPECT_EQ(codec.receive(block), zeros);

    EXPECT_THROW(BluetoothBlockCodec::encode({}, Compression::deflate), BluetoothError);
    EXPECT_THROW(BluetoothBlockCodec::encode(BluetoothBytes(16385, 0), Compression::deflate), BluetoothError);
    EXPECT_EQ(BluetoothBlockCodec::compression(2), Compression::deflate);
    EXPECT_EQ(BluetoothBlockCodec::compression(3), std::nullopt);
}

TEST(BluetoothBlockCodec, RejectsMalformedBlocks) {
    expectInvalid(hex("03 00 01 00 01 41"));            // tag 3
    expectInvalid(hex("00 00 00 00 01"));               // body length 0
    expectInvalid(hex("00 00 01 00 00 41"));            // unpacked length 0
    expectInvalid(hex("00 40 01 00 01"));               // body above 16,384
    expectInvalid(hex("00 00 02 00 03 41 42"));         // stored, B differs from U
    expectInvalid(hex("01 00 03 00 03 41 42 43"));      // LZFSE cannot be unpacked here
    expectInvalid(hex("02 00 03 00 03 ff ff ff"));      // not a deflate stream

    const auto block = BluetoothBlockCodec::encode(BluetoothBytes(1000, 'a'), Compression::deflate);
    ASSERT_EQ(block[0], 2);
    for (const int unpacked : {999, 1001, 16384}) {
        auto wrong = block;
        wrong[3] = static_cast<std::uint8_t>(unpacked >> 8);
        wrong[4] = static_cast<std::uint8_t>(unpacked);
        SCOPED_TRACE(unpacked);
        expectInvalid(wrong);  // must inflate to exactly U bytes
    }

    // At most two largest blocks (32,778 bytes) may be outstanding at once. Every byte below
    // belongs to a valid stream of stored blocks, so only the limit can refuse it.
    const auto largest = BluetoothBlockCodec::encode(BluetoothBytes(16384, 7), Compression::lzfse);
    ASSERT_EQ(largest.size(), 16389u);
    const BluetoothBytes first(largest.begin(), largest.end() - 1);
    const auto rest = concat({BluetoothBytes(largest.end() - 1, largest.end()), largest});
    BluetoothBlockCodec atLimit;
    EXPECT_TRUE(atLimit.receive(first).empty());
    EXPECT_EQ(atLimit.receive(rest).size(), 32768u) << "32,778 outstanding bytes are accepted";
    BluetoothBlockCodec overLimit;
    EXPECT_TRUE(overLimit.receive(first).empty());
    EXPECT_THROW(overLimit.receive(concat({rest, hex("00")})), BluetoothError) << "32,779 are not";
}

TEST(BluetoothBlockCodec, RandomBlocksRoundTripInAnySplit) {
    std::mt19937 random(424242);
    BluetoothBytes stream;
    BluetoothBytes expected;
    for (int i = 0; i < 60; ++i) {
        BluetoothBytes data(1 + random() % 16384);
        const int alphabet = 1 + static_cast<int>(random() % 256);
        for (auto& b : data) b = static_cast<std::uint8_t>(random() % alphabet);
        const auto block = BluetoothBlockCodec::encode(data, random() % 2 ? Compression::deflate : Compression::lzfse);
        EXPECT_LE(block.size(), data.size() + 5);
        stream.insert(stream.end(), block.begin(), block.end());
        expected.insert(expected.end(), data.begin(), data.end());
    }
    BluetoothBlockCodec codec;
    BluetoothBytes out;
    for (std::size_t pos = 0; pos < stream.size();) {
        const std::size_t n = std::min<std::size_t>(1 + random() % 9000, stream.size() - pos);
        const auto got = codec.receive(std::span(stream).subspan(pos, n));
        out.insert(out.end(), got.begin(), got.end());
        pos += n;
    }
    EXPECT_EQ(out, expected);

    BluetoothBlockCodec joined;
    const auto two = concat({BluetoothBlockCodec::encode(hex("0a"), Compression::deflate),
                             BluetoothBlockCodec::encode(hex("0b 0c"), Compression::deflate)});
    EXPECT_EQ(toHex(joined.receive(two)), "0a 0b 0c");
}

}  // namespace
}  // namespace norv
