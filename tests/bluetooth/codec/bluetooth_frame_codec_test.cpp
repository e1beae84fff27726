#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "bluetooth/codec/bluetooth_error.h"
#include "bluetooth/codec/bluetooth_frame_codec.h"
#include "tests/support/bluetooth/bluetooth_hex.h"

namespace norv {
namespace {

using test::ascii;
using test::concat;
using test::hex;
using test::stateFrame;
using test::toHex;

// Header fields of a coded frame as hex: length, type, slot, sequence, payload length, time.
std::string header(const BluetoothBytes& coded) { return toHex(BluetoothBytes(coded.begin(), coded.begin() + 22)); }

std::string pathPayload(const std::string& path, std::size_t size) {
    std::string text = R"({"path":")" + path + R"(","v":")";
    text.append(size - text.size() - 2, 'x');
    return text + "\"}";
}

void expectInvalid(BluetoothFrameCodec& decoder, const BluetoothBytes& bytes) {
    try {
        decoder.receive(bytes);
        ADD_FAILURE() << "accepted " << toHex(bytes);
    } catch (const BluetoothError& error) {
        EXPECT_EQ(error.code(), 4);
        EXPECT_STREQ(error.what(), "Invalid Bluetooth frame delta or baseline");
    }
}

TEST(BluetoothFrameCodec, FullFrameLayout) {
    BluetoothFrameCodec encoder;
    const auto coded = encoder.encode(stateFrame(R"({"path":"/a"})"), 1.5);
    EXPECT_EQ(coded, concat({hex("00 00 00 1f  00  00  00 00 00 01  00 00 00 0d  00 00 00 00 00 16 e3 60"),
                             ascii(R"({"path":"/a"})")}));
    EXPECT_EQ(encoder.fullFrames(), 1);
    EXPECT_EQ(encoder.originalBytes(), 17);
    EXPECT_EQ(encoder.wireBytes(), 35);
}

TEST(BluetoothFrameCodec, RepeatedPayloadBecomesOneCopyAgainstTheBaseline) {
    BluetoothFrameCodec encoder;
    const auto frame = stateFrame(pathPayload("/mixer", 100));
    EXPECT_EQ(header(encoder.encode(frame, 1.0)), "00 00 00 76 00 00 00 00 00 01 00 00 00 64 00 00 00 00 00 0f 42 40");
    EXPECT_EQ(encoder.encode(frame, 2.0),
              hex("00 00 00 1b  01  00  00 00 00 02  00 00 00 64  00 00 00 00 00 1e 84 80"
                  "01 00 00 00 00 00 00 00 64"));
    EXPECT_EQ(encoder.deltaFrames(), 1);

    double lastTime = -1;
    BluetoothFrameCodec sender;
    BluetoothFrameCodec receiver;
    const auto out = receiver.receive(concat({sender.encode(frame, 1.0), sender.encode(frame, 3.25)}),
                                      [&](const BluetoothBytes&, double t) { lastTime = t; });
    EXPECT_EQ(out, concat({frame, frame}));
    EXPECT_DOUBLE_EQ(lastTime, 3.25);
    EXPECT_EQ(receiver.deltaFrames(), 1);
}

TEST(BluetoothFrameCodec, ShortOrPathlessPayloadsGoOutWhole) {
    BluetoothFrameCodec encoder;
    const auto short31 = stateFrame(pathPayload("/s", 31));
    encoder.encode(short31, 0);
    EXPECT_EQ(encoder.encode(short31, 0)[4], 0x00) << "31-byte payloads are never delta-coded";

    for (const char* body : {"[1,2]", "not json", R"({"path":7})"}) {
        BluetoothFrameCodec pathless;
        pathless.encode(stateFrame(body), 0);
        const auto second = pathless.encode(stateFrame(body), 0);
        EXPECT_EQ(toHex(BluetoothBytes(second.begin() + 4, second.begin() + 10)), "00 ff 00 00 00 01") << body;
    }
}

TEST(BluetoothFrameCodec, SixtyFifthPathReusesSlotZero) {
    BluetoothFrameCodec encoder;
    for (int i = 0; i < 64; ++i) {
        const auto coded = encoder.encode(stateFrame(pathPayload("/p" + std::to_string(i), 40)), 0);
        EXPECT_EQ(coded[5], i);
    }
    auto coded = encoder.encode(stateFrame(pathPayload("/p64", 40)), 0);
    EXPECT_EQ(toHex(BluetoothBytes(coded.begin() + 4, coded.begin() + 10)), "00 00 00 00 00 01");
    // The path that held slot 0 lost its baseline and comes back on the next slot.
    coded = encoder.encode(stateFrame(pathPayload("/p0", 40)), 0);
    EXPECT_EQ(toHex(BluetoothBytes(coded.begin() + 4, coded.begin() + 10)), "00 01 00 00 00 01");
}

TEST(BluetoothFrameCodec, CacheOverSixteenMebibytesResetsBothSides) {
    BluetoothFrameCodec encoder;
    BluetoothFrameCodec decoder;
    for (int i = 0; i < 4; ++i) {
        decoder.receive(encoder.encode(stateFrame(pathPayload("/big" + std::to_string(i), BluetoothFrameCodec::maximum)), 0));
    }
    // A payload without path is never cached and never resets.
    auto coded = encoder.encode(stateFrame("plain"), 0);
    EXPECT_EQ(coded[4], 0);
    decoder.receive(coded);

    coded = encoder.encode(stateFrame(R"({"path":"/a"})"), 0);
    EXPECT_EQ(toHex(BluetoothBytes(coded.begin() + 4, coded.begin() + 10)), "02 00 00 00 00 01");
    EXPECT_EQ(decoder.receive(coded), stateFrame(R"({"path":"/a"})"));
    // The decoder dropped the baseline of slot 1, so a delta against it fails.
    expectInvalid(decoder, hex("00 00 00 1b 01 01 00 00 00 02 00 00 00 05 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 05"));
}

// A full coded frame (type 0, sequence 1, time 0) carrying `payload` on `slot`.
BluetoothBytes fullCoded(std::uint8_t slot, const BluetoothBytes& payload) {
    const auto be32 = [](std::uint32_t v) {
        return BluetoothBytes{static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                              static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    };
    const auto size = static_cast<std::uint32_t>(payload.size());
    return concat({be32(18 + size), BluetoothBytes{0, slot}, be32(1), be32(size), BluetoothBytes(8, 0), payload});
}

TEST(BluetoothFrameCodec, DecoderHoldsAtMostSixteenMebibytesOfBaselines) {
    BluetoothFrameCodec decoder;
    const BluetoothBytes largest(BluetoothFrameCodec::maximum, 'x');
    for (std::uint8_t slot = 0; slot < 4; ++slot) {
        EXPECT_EQ(decoder.receive(fullCoded(slot, largest)).size(), largest.size() + 4) << "slot " << int(slot);
    }
    // Exactly 16 MiB of baselines are held; one byte more on a fresh slot fails.
    expectInvalid(decoder, fullCoded(4, hex("41")));
    // Replacing a baseline counts only the difference.
    BluetoothFrameCodec replacing;
    for (std::uint8_t slot = 0; slot < 4; ++slot) replacing.receive(fullCoded(slot, largest));
    EXPECT_NO_THROW(replacing.receive(fullCoded(3, hex("41"))));
    EXPECT_NO_THROW(replacing.receive(fullCoded(4, BluetoothBytes(BluetoothFrameCodec::maximum - 1, 'y'))));
}

TEST(BluetoothFrameCodec, EncoderRejectsBadPlainFramesAndClampsSourceTimes) {
    BluetoothFrameCodec encoder;
    EXPECT_THROW(encoder.encode(hex("00 00 00 00"), 0), BluetoothError) << "empty payload";
    EXPECT_THROW(encoder.encode(hex("00 00 00"), 0), BluetoothError);
    EXPECT_THROW(encoder.encode(hex("00 00 00 02 41"), 0), BluetoothError);

    const auto timeOf = [&](double seconds) {
        const auto coded = encoder.encode(stateFrame("x"), seconds);
        return toHex(BluetoothBytes(coded.begin() + 14, coded.begin() + 22));
    };
    EXPECT_EQ(timeOf(std::nan("")), "00 00 00 00 00 00 00 00");
    EXPECT_EQ(timeOf(-3.0), "00 00 00 00 00 00 00 00");
    EXPECT_EQ(timeOf(1e300), "ff ff ff ff ff ff ff ff");
    EXPECT_EQ(timeOf(std::numeric_limits<double>::infinity()), "ff ff ff ff ff ff ff ff");
    EXPECT_EQ(timeOf(0.0000019), "00 00 00 00 00 00 00 01");
}

TEST(BluetoothFrameCodec, DecoderRejectsMalformedFrames) {
    const char* cases[] = {
        "00 00 00 11",                                                                       // length 17
        "00 40 00 13",                                                                       // length above the maximum
        "00 00 00 13 03 00 00 00 00 01 00 00 00 01 00 00 00 00 00 00 00 00 41",              // type 3
        "00 00 00 13 00 64 00 00 00 01 00 00 00 01 00 00 00 00 00 00 00 00 41",              // slot 100
        "00 00 00 13 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 41",              // payload length 0
        "00 00 00 13 00 00 00 00 00 01 00 00 00 02 00 00 00 00 00 00 00 00 41",              // body shorter than payload
        "00 00 00 1b 01 00 00 00 00 01 00 00 00 01 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 01",  // no baseline
        "00 00 00 1b 01 ff 00 00 00 01 00 00 00 01 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 01",  // pathless delta
    };
    for (const char* text : cases) {
        BluetoothFrameCodec decoder;
        SCOPED_TRACE(text);
        expectInvalid(decoder, hex(text));
    }

    // With a 2-byte baseline "AB" on slot 0 at sequence 1:
    const auto baseline = hex("00 00 00 14 00 00 00 00 00 01 00 00 00 02 00 00 00 00 00 00 00 00 41 42");
    const char* deltas[] = {
        "00 00 00 1b 01 00 00 00 00 03 00 00 00 02 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 02",  // sequence skips
        "00 00 00 1b 01 00 00 00 00 02 00 00 00 02 00 00 00 00 00 00 00 00 01 00 00 00 01 00 00 00 02",  // copy past baseline
        "00 00 00 1b 01 00 00 00 00 02 00 00 00 01 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 02",  // copy past length
        "00 00 00 1b 01 00 00 00 00 02 00 00 00 02 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 00",  // copy count 0
        "00 00 00 17 01 00 00 00 00 02 00 00 00 02 00 00 00 00 00 00 00 00 00 00 00 00 03",              // literal overruns
        "00 00 00 17 01 00 00 00 00 02 00 00 00 01 00 00 00 00 00 00 00 00 02 00 00 00 00",              // unknown op
        "00 00 00 1a 01 00 00 00 00 02 00 00 00 02 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00",     // truncated op
        "00 00 00 1b 01 00 00 00 00 02 00 00 00 03 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 02",  // result too short
    };
    for (const char* text : deltas) {
        BluetoothFrameCodec decoder;
        SCOPED_TRACE(text);
        decoder.receive(baseline);
        expectInvalid(decoder, hex(text));
    }

    BluetoothFrameCodec decoder;
    decoder.receive(concat({hex("00 40 00 12"), BluetoothBytes(0x400000)}));
    expectInvalid(decoder, BluetoothBytes(0x8001));  // more than 0x408000 buffered
}

TEST(BluetoothFrameCodec, FramesSplitOrJoinedDecodeAlike) {
    BluetoothFrameCodec encoder;
    const auto a = stateFrame(pathPayload("/a", 80));
    const auto b = stateFrame(pathPayload("/b", 90));
    const auto stream = concat({encoder.encode(a, 1), encoder.encode(b, 2)});

    BluetoothFrameCodec whole;
    EXPECT_EQ(whole.receive(stream), concat({a, b}));

    BluetoothFrameCodec pieces;
    BluetoothBytes out;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        const auto got = pieces.receive(std::span(stream).subspan(i, 1));
        if (i + 1 < a.size() + 22 - 4) {
            EXPECT_TRUE(got.empty());
        }
        out.insert(out.end(), got.begin(), got.end());
    }
    EXPECT_EQ(out, concat({a, b}));
}

TEST(BluetoothFrameCodec, RandomStreamsRoundTrip) {
    std::mt19937 random(20261209);
    BluetoothFrameCodec encoder;
    BluetoothFrameCodec decoder;
    std::map<int, std::string> last;
    BluetoothBytes expected;
    BluetoothBytes wire;
    std::vector<double> times;
    for (int i = 0; i < 400; ++i) {
        const int path = static_cast<int>(random() % 80);  // more paths than slots
        std::string body;
        if (random() % 10 == 0) {
            body = "raw " + std::to_string(random());
        } else {
            std::string& data = last[path];
            if (data.empty() || random() % 8 == 0) {
                data.resize(random() % 600);
                for (auto& c : data) c = static_cast<char>('a' + random() % 6);
            }
            for (int edits = static_cast<int>(random() % 4); edits > 0 && !data.empty(); --edits) {
                data[random() % data.size()] = static_cast<char>('A' + random() % 26);
                if (random() % 2) data.insert(random() % data.size(), "ins");
            }
            body = R"({"path":"/p)" + std::to_string(path) + R"(","d":")" + data + "\"}";
        }
        const auto frame = stateFrame(body);
        const double t = (random() % 10000000) / 1000.0;
        expected.insert(expected.end(), frame.begin(), frame.end());
        const auto coded = encoder.encode(frame, t);
        wire.insert(wire.end(), coded.begin(), coded.end());
        times.push_back(std::floor(t * 1e6 + 0.5) / 1e6);
    }
    EXPECT_GT(encoder.deltaFrames(), 100);
    EXPECT_LT(encoder.wireBytes(), encoder.originalBytes());

    BluetoothBytes decoded;
    std::size_t frameIndex = 0;
    for (std::size_t pos = 0; pos < wire.size();) {
        const std::size_t n = std::min<std::size_t>(1 + random() % 700, wire.size() - pos);
        const auto got = decoder.receive(std::span(wire).subspan(pos, n), [&](const BluetoothBytes&, double t) {
            EXPECT_NEAR(t, times[frameIndex++], 1.5e-6);
        });
        decoded.insert(decoded.end(), got.begin(), got.end());
        pos += n;
    }
    EXPECT_EQ(decoded, expected);
    EXPECT_EQ(decoder.deltaFrames(), encoder.deltaFrames());
    EXPECT_EQ(decoder.wireBytes(), encoder.wireBytes());
}

TEST(BluetoothFrameCodec, DifferenceAppliesBackToTheNewPayload) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        BluetoothBytes old(32 + random() % 500);
        for (auto& b : old) b = static_cast<std::uint8_t>(random() % 4);
        BluetoothBytes now = old;
        for (int edits = static_cast<int>(random() % 6); edits > 0; --edits) {
            const auto at = now.begin() + static_cast<std::ptrdiff_t>(random() % now.size());
            if (random() % 2) {
                now.insert(at, static_cast<std::uint8_t>(random()));
            } else {
                now.erase(at);
            }
        }
        if (now.size() < 32) continue;
        const auto delta = BluetoothFrameCodec::difference(old, now);
        EXPECT_EQ(BluetoothFrameCodec::apply(delta, old, static_cast<std::uint32_t>(now.size())), now);
    }
}

}  // namespace
}  // namespace norv
