#include <gtest/gtest.h>

#include "bluetooth/codec/bluetooth_byte_queue.h"
#include "bluetooth/codec/bluetooth_error.h"
#include "bluetooth/codec/bluetooth_state_queue.h"
#include "tests/support/bluetooth/bluetooth_hex.h"

namespace norv {
namespace {

using test::concat;
using test::hex;
using test::stateFrame;

TEST(BluetoothByteQueue, LimitPrefixAndConsume) {
    BluetoothByteQueue queue(65536);
    EXPECT_FALSE(queue.append(BluetoothBytes(65537, 1)));
    EXPECT_EQ(queue.count(), 0u);
    EXPECT_TRUE(queue.append(BluetoothBytes(65536, 1)));
    EXPECT_FALSE(queue.append(hex("02")));
    EXPECT_TRUE(queue.append({}));

    queue.consume(65000);
    EXPECT_EQ(queue.count(), 536u);
    EXPECT_TRUE(queue.append(hex("02 03")));  // room again once bytes are written
    EXPECT_EQ(queue.prefix(538).back(), 0x03);
    EXPECT_EQ(queue.prefix(10000).size(), 538u);
    queue.consume(538);
    EXPECT_EQ(queue.count(), 0u);
    EXPECT_TRUE(queue.append(hex("04")));
    EXPECT_EQ(test::toHex(BluetoothBytes(queue.prefix(5).begin(), queue.prefix(5).end())), "04");
}

TEST(BluetoothStateQueue, CutsFramesOnlyWhenComplete) {
    BluetoothStateQueue queue(false, false, [] { return 100.0; });
    const auto frame = stateFrame(R"({"path":"/a"})");
    queue.receive(std::span(frame).subspan(0, 2));
    queue.receive(std::span(frame).subspan(2, 5));
    EXPECT_TRUE(queue.pending().empty());
    EXPECT_EQ(queue.queuedBytes(), 7u);
    queue.receive(std::span(frame).subspan(7));
    ASSERT_EQ(queue.pending().size(), 1u);
    EXPECT_EQ(queue.pending().front().bytes, frame);
    EXPECT_EQ(queue.nextBlock(), frame);
    EXPECT_EQ(queue.nextBlock(), std::nullopt);
}

TEST(BluetoothStateQueue, LimitsFail) {
    for (const char* header : {"00 00 00 00", "00 40 00 01"}) {
        BluetoothStateQueue queue(false, false);
        EXPECT_THROW(queue.receive(hex(header)), BluetoothError) << header;
    }
    BluetoothStateQueue many(false, false);
    for (int i = 0; i < 1024; ++i) many.receive(stateFrame("{}"));
    try {
        many.receive(stateFrame("{}"));
        ADD_FAILURE();
    } catch (const BluetoothError& error) {
        EXPECT_EQ(error.code(), 3);
        EXPECT_STREQ(error.what(), "Bluetooth state queue limit exceeded");
    }
    EXPECT_EQ(many.pending().size(), 1024u);

    // At the limit a frame that replaces an older pending copy still fits.
    BluetoothStateQueue full(false, true);
    full.receive(stateFrame(R"({"path":"/norv/transport/state","args":[{"tempo":120}]})"));
    for (int i = 1; i < 1024; ++i) full.receive(stateFrame("{}"));
    const auto replacing = stateFrame(R"({"path":"/norv/transport/state","args":[{"tempo":121}]})");
    EXPECT_NO_THROW(full.receive(replacing));
    EXPECT_EQ(full.pending().size(), 1024u);
    EXPECT_EQ(full.pending().back().bytes, replacing);
    EXPECT_THROW(full.receive(stateFrame("{}")), BluetoothError);

    BluetoothStateQueue big(false, false);
    const auto frame = stateFrame(std::string(4194300, ' '));  // 4 MiB with its header
    big.receive(frame);
    big.receive(frame);
    EXPECT_THROW(big.receive(hex("00 00 00 01 20")), BluetoothError) << "over 8 MiB queued";
}

TEST(BluetoothStateQueue, CoalescesReplaceableStates) {
    double now = 10;
    BluetoothStateQueue queue(false, true, [&] { return now; });
    const auto transport1 = stateFrame(R"({"path":"/norv/transport/state","args":[{"tempo":120}]})");
    const auto clipPlain = stateFrame(R"({"path":"/norv/clips/state","args":[{"clip_action_result":{}}]})");
    const auto clipResult = stateFrame(R"({"path":"/norv/clips/state","args":[{"clip_action_result":{"ok":true}}]})");
    const auto other = stateFrame(R"({"path":"/norv/other","args":[]})");
    const auto transport2 = stateFrame(R"({"path":"/norv/transport/state","args":[{"tempo":121}]})");
    const auto clipPlain2 = stateFrame(R"({"path":"/norv/clips/state","args":[{"pattern_clip_result":[]}]})");
    queue.receive(concat({transport1, clipPlain, clipResult, other}));
    now = 12.5;
    queue.receive(concat({transport2, clipPlain2}));

    ASSERT_EQ(queue.pending().size(), 4u);
    EXPECT_EQ(queue.pending()[0].bytes, clipResult);  // a clip state carrying a result stays
    EXPECT_EQ(queue.pending()[1].bytes, other);
    EXPECT_EQ(queue.pending()[2].bytes, transport2);  // the newer copy moves to the end
    EXPECT_EQ(queue.pending()[3].bytes, clipPlain2);
    EXPECT_EQ(queue.coalesced(), 2);
    EXPECT_EQ(queue.pendingBytes(), clipResult.size() + other.size() + transport2.size() + clipPlain2.size());
    now = 13;
    EXPECT_DOUBLE_EQ(queue.oldestAge(), 3.0);

    EXPECT_EQ(BluetoothStateQueue::replaceableKey(test::ascii(R"({"path":"/norv/health/status"})")),
              "/norv/health/status");
    EXPECT_EQ(BluetoothStateQueue::replaceableKey(test::ascii(R"({"path":"/norv/clips/state","args":[]})")),
              std::nullopt);
    EXPECT_EQ(BluetoothStateQueue::replaceableKey(test::ascii(R"({"path":"/norv/clips/state","args":[1]})")),
              std::nullopt);
}

TEST(BluetoothStateQueue, HandsOutPiecesOfAtMost4096Bytes) {
    BluetoothStateQueue plain(false, false);
    plain.receive(stateFrame(std::string(10000, 'x')));
    EXPECT_EQ(plain.nextBlock()->size(), 4096u);
    EXPECT_EQ(plain.queuedBytes(), 10004u - 4096u);
    EXPECT_EQ(plain.nextBlock()->size(), 4096u);
    EXPECT_EQ(plain.nextBlock()->size(), 1812u);
    EXPECT_EQ(plain.nextBlock(), std::nullopt);
    EXPECT_EQ(plain.queuedBytes(), 0u);

    // With deltas the pieces form coded frames that a decoder turns back into the originals.
    BluetoothStateQueue coded(true, false, [] { return 5.0; });
    const auto a = stateFrame(R"({"path":"/x","v":")" + std::string(6000, 'a') + "\"}");
    coded.receive(concat({a, a}));
    BluetoothFrameCodec decoder;
    BluetoothBytes out;
    while (const auto piece = coded.nextBlock()) {
        EXPECT_LE(piece->size(), 4096u);
        const auto got = decoder.receive(*piece);
        out.insert(out.end(), got.begin(), got.end());
    }
    EXPECT_EQ(out, concat({a, a}));
    EXPECT_EQ(coded.deltaFrames(), 1);
    EXPECT_DOUBLE_EQ(decoder.lastSourceTime(), 5.0);
}

}  // namespace
}  // namespace norv
