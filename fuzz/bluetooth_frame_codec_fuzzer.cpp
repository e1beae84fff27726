// The Bluetooth state frame codec. Mode bit 0 clear: the input is a coded stream, cut into
// pieces, for one decoder; each piece's header may get its length computed so the fuzzer gets
// past the first check. Mode bit 0 set: the pieces are plain payloads, encoded by one codec and
// decoded by another, which must give them back unchanged.
#include "bluetooth/codec/bluetooth_error.h"
#include "bluetooth/codec/bluetooth_frame_codec.h"
#include "fuzz/fuzz_input.h"

using namespace norv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    const std::uint8_t mode = input.byte();
    BluetoothFrameCodec decoder;
    if (mode & 1) {
        BluetoothFrameCodec encoder;
        double time = 0;
        while (!input.empty()) {
            const auto payload = input.take(input.u16());
            if (payload.empty())
                continue;
            const auto plain = fuzz::lengthPrefixed(payload);
            time += 0.5;
            const auto coded = encoder.encode(plain, time);
            BluetoothBytes decoded;
            try {
                decoded = decoder.receive(coded);
            } catch (const BluetoothError&) {
                __builtin_trap();
            }
            if (decoded != plain) __builtin_trap();
        }
        return 0;
    }
    try {
        while (!input.empty()) {
            const std::uint8_t flags = input.byte();
            const auto piece = input.take(input.u16());
            if (flags & 1)
                (void)decoder.receive(fuzz::lengthPrefixed(piece));
            else
                (void)decoder.receive(piece);
        }
    } catch (const BluetoothError&) {
    }
    return 0;
}
