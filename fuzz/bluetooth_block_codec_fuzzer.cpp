// The Bluetooth block stream. Mode bit 0 clear: raw block stream bytes for one receiver, in pieces.
// Mode bit 0 set: pieces of data packed (stored or deflated) and unpacked again must round-trip.
#include "bluetooth/codec/bluetooth_block_codec.h"
#include "bluetooth/codec/bluetooth_error.h"
#include "fuzz/fuzz_input.h"

using namespace norv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    const std::uint8_t mode = input.byte();
    BluetoothBlockCodec receiver;
    if (mode & 1) {
        while (!input.empty()) {
            const auto kind = input.byte() & 1 ? BluetoothBlockCodec::Compression::deflate
                                                : BluetoothBlockCodec::Compression::lzfse;
            const auto piece = input.take(input.u16() % (BluetoothBlockCodec::maximum + 1));
            if (piece.empty())
                continue;
            BluetoothBytes unpacked;
            try {
                unpacked = receiver.receive(BluetoothBlockCodec::encode(piece, kind));
            } catch (const BluetoothError&) {
                __builtin_trap();
            }
            if (!std::equal(unpacked.begin(), unpacked.end(), piece.begin(), piece.end())) __builtin_trap();
        }
        return 0;
    }
    try {
        while (!input.empty())
            (void)receiver.receive(input.take(input.byte() + 1));
    } catch (const BluetoothError&) {
    }
    return 0;
}
