// The engine's state frames as the Bluetooth endpoint parser follows them. Input: pieces of
// [flags][u16 length][bytes]; flag bit 0 frames the piece with its correct length.
#include "bluetooth/codec/bluetooth_endpoint_parser.h"
#include "bluetooth/codec/bluetooth_error.h"
#include "fuzz/fuzz_input.h"

using namespace norv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    BluetoothEndpointParser parser;
    int healths = 0;
    parser.onHealth = [&healths](const nlohmann::json&) { ++healths; };
    while (!input.empty()) {
        const std::uint8_t flags = input.byte();
        const auto piece = input.take(input.u16());
        try {
            if (flags & 1)
                parser.receive(fuzz::lengthPrefixed(piece));
            else
                parser.receive(piece);
        } catch (const BluetoothError&) {
        }
    }
    if (parser.frames() < 0) __builtin_trap();
    return 0;
}
