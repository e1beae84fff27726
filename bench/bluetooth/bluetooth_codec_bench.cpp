// Cost of coding the engine's state stream for the Bluetooth link: delta-coding a state frame
// that changed a little, and packing a piece into a compressed block.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

#include "bluetooth/codec/bluetooth_block_codec.h"
#include "bluetooth/codec/bluetooth_frame_codec.h"

namespace {

norv::BluetoothBytes stateFrame(int revision, std::size_t size) {
    std::string body = R"({"path":"/norv/clips/state","args":[{"revision":)" + std::to_string(revision) + R"(,"clips":")";
    while (body.size() < size - 3) body += "clip-" + std::to_string(body.size() % 97) + ";";
    body.resize(size - 3);
    body += "\"}]";
    body += "}";
    // Sized once and filled in place: growing a four-byte vector by the body makes GCC 12's
    // Release build see an out-of-bounds copy that is not there (-Warray-bounds).
    const auto n = body.size();
    norv::BluetoothBytes frame(4 + n);
    frame[0] = static_cast<std::uint8_t>(n >> 24);
    frame[1] = static_cast<std::uint8_t>(n >> 16);
    frame[2] = static_cast<std::uint8_t>(n >> 8);
    frame[3] = static_cast<std::uint8_t>(n);
    std::copy(body.begin(), body.end(), frame.begin() + 4);
    return frame;
}

void frameDelta(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    norv::BluetoothFrameCodec encoder;
    norv::BluetoothFrameCodec decoder;
    int revision = 0;
    for (auto _ : state) {
        const auto coded = encoder.encode(stateFrame(revision++ % 10, size), 1.0);
        benchmark::DoNotOptimize(decoder.receive(coded));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}
BENCHMARK(frameDelta)->Arg(512)->Arg(4096)->Arg(65536);

void blockDeflate(benchmark::State& state) {
    const auto frame = stateFrame(1, 4096);
    const norv::BluetoothBytes piece(frame.begin(), frame.begin() + 4096);
    norv::BluetoothBlockCodec decoder;
    for (auto _ : state) {
        const auto block = norv::BluetoothBlockCodec::encode(piece, norv::BluetoothBlockCodec::Compression::deflate);
        benchmark::DoNotOptimize(decoder.receive(block));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * piece.size()));
}
BENCHMARK(blockDeflate);

}  // namespace

BENCHMARK_MAIN();
