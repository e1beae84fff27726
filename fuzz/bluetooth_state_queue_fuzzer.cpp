// The engine's state stream into the Bluetooth state queue, with and without wire deltas and
// coalescing, drained as it goes. Input: [mode] then pieces of [flags][u16 length][bytes]; flag
// bit 0 frames the piece with its correct length. Queued bytes must stay within the queue's limit.
#include "bluetooth/codec/bluetooth_error.h"
#include "bluetooth/codec/bluetooth_frame_codec.h"
#include "bluetooth/codec/bluetooth_state_queue.h"
#include "fuzz/fuzz_input.h"

using namespace norv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    const std::uint8_t mode = input.byte();
    double now = 1.7e9;
    BluetoothStateQueue queue(mode & 1, mode & 2, [&now] { return now; });
    BluetoothFrameCodec decoder;
    try {
        while (!input.empty()) {
            const std::uint8_t flags = input.byte();
            const auto piece = input.take(input.u16());
            if (flags & 1)
                queue.receive(fuzz::lengthPrefixed(piece));
            else
                queue.receive(piece);
            now += 0.01;
            if (queue.queuedBytes() > 16u * 1024 * 1024) __builtin_trap();
            for (int drained = 0; drained < (flags >> 1); ++drained) {
                const auto block = queue.nextBlock();
                if (!block)
                    break;
                if (block->size() > BluetoothStateQueue::pieceSize) __builtin_trap();
                // With deltas on, the pieces are a coded stream our own decoder must accept.
                if (mode & 1) {
                    try {
                        (void)decoder.receive(*block);
                    } catch (const BluetoothError&) {
                        __builtin_trap();
                    }
                }
            }
        }
    } catch (const BluetoothError&) {
    }
    return 0;
}
