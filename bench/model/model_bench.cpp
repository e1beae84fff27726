// Decoding a large admin snapshot: 64 devices, 128 Live tracks, a routing plan and status for
// every assigned track, and 128 recent MIDI events. Run by hand from build/bench/.
#include <benchmark/benchmark.h>

#include <string>

#include <nlohmann/json.hpp>

#include "bench/model/large_snapshot_json.h"
#include "model/admin_envelope.h"

namespace {

using nlohmann::json;

std::string snapshotBodyText() {
    return json{{"path", "/admin/snapshot"}, {"args", {norv::bench::largeSnapshotJson(64, 0, 128)}}}.dump();
}

const std::string& bodyText() {
    static const std::string text = snapshotBodyText();
    return text;
}

// What the admin channel does per frame: parse the body, then decode the envelope.
void BM_ParseAndDecodeSnapshot(benchmark::State& state) {
    const std::string& text = bodyText();
    for (auto _ : state) {
        const norv::AdminEnvelope envelope = norv::AdminEnvelope::decode(json::parse(text));
        benchmark::DoNotOptimize(envelope.args.front().devices.size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["body_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ParseAndDecodeSnapshot)->Unit(benchmark::kMicrosecond);

void BM_ParseOnly(benchmark::State& state) {
    const std::string& text = bodyText();
    for (auto _ : state) {
        json body = json::parse(text);
        benchmark::DoNotOptimize(body.size());
    }
}
BENCHMARK(BM_ParseOnly)->Unit(benchmark::kMicrosecond);

void BM_DecodeParsedSnapshot(benchmark::State& state) {
    const json body = json::parse(bodyText());
    for (auto _ : state) {
        const norv::AdminEnvelope envelope = norv::AdminEnvelope::decode(body);
        benchmark::DoNotOptimize(envelope.args.front().devices.size());
    }
}
BENCHMARK(BM_DecodeParsedSnapshot)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
