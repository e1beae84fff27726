// End-to-end latency against a real JACK server (dummy driver, 256 frames at 48 kHz): from sendto
// of a fast MIDI datagram until a JACK client connected to the source reads the event; and the
// timing error of stride strikes against their grid. Skipped when jackd cannot start.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <arpa/inet.h>
#include <atomic>
#include <optional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <vector>

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include "midi_helper/event_loop.h"
#include "midi_helper/helper_sockets.h"
#include "midi_helper/jack_midi_port.h"
#include "midi_helper/json_output.h"
#include "midi_helper/native_midi_bridge.h"
#include "midi_helper/unique_fd.h"

#include "bench_support.h"
#include "support/midi_helper/helper_wire.h"
#include "support/midi_helper/jack_test_server.h"

namespace norv {
namespace {

using bench::quietOutput;

uint64_t monotonicUs()
{
    return EventLoop::monotonicNs() / 1000;
}

// A dummy-driver server and the benchmark's own client on it.
struct JackServer {
    JackServer()
    {
        if (!server.running())
            return;
        jack_status_t status{};
        client = jack_client_open("norv-bench-reader", jack_options_t(JackNoStartServer | JackServerName), &status,
                                  server.name().c_str());
    }
    ~JackServer()
    {
        if (client)
            jack_client_close(client);
    }
    test::JackTestServer server;
    jack_client_t* client = nullptr;
};

// Reads the helper's source and records each event's time on the monotonic clock (µs).
struct Reader {
    explicit Reader(jack_client_t* c) : client(c)
    {
        ring = jack_ringbuffer_create(sizeof(uint64_t) * 65536);
        input = jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client, &Reader::process, this);
        jack_activate(client);
    }
    ~Reader()
    {
        jack_deactivate(client);
        jack_ringbuffer_free(ring);
    }
    static int process(jack_nframes_t frames, void* arg)
    {
        auto* self = static_cast<Reader*>(arg);
        void* buffer = jack_port_get_buffer(self->input, frames);
        // When the reading client has the event in hand (its cycle ran): the moment a synth
        // downstream could render it. The frame offset inside the cycle comes on top for audio.
        const uint64_t readAt = monotonicUs();
        for (uint32_t i = 0, n = jack_midi_get_event_count(buffer); i < n; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0)
                continue;
            uint64_t at = readAt;
            if (jack_ringbuffer_write_space(self->ring) >= sizeof at)
                jack_ringbuffer_write(self->ring, reinterpret_cast<const char*>(&at), sizeof at);
        }
        return 0;
    }
    bool next(uint64_t& at, std::chrono::milliseconds bound)
    {
        auto deadline = std::chrono::steady_clock::now() + bound;
        while (jack_ringbuffer_read_space(ring) < sizeof at) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        jack_ringbuffer_read(ring, reinterpret_cast<char*>(&at), sizeof at);
        return true;
    }
    jack_client_t* client;
    jack_port_t* input = nullptr;
    jack_ringbuffer_t* ring = nullptr;
};

void report(benchmark::State& state, std::vector<double>& samples, const char* prefix)
{
    if (samples.empty()) {
        state.SkipWithError("no samples");
        return;
    }
    std::sort(samples.begin(), samples.end());
    state.counters[std::string(prefix) + "median_us"] = samples[samples.size() / 2];
    state.counters[std::string(prefix) + "p99_us"] = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
    state.counters[std::string(prefix) + "max_us"] = samples.back();
}

void BM_SendtoToJackFrame(benchmark::State& state)
{
    JackServer server;
    if (!server.client) {
        state.SkipWithError("jackd could not start");
        return;
    }
    ::setenv("JACK_DEFAULT_SERVER", server.server.name().c_str(), 1);
    Reader reader(server.client);
    EventLoop loop;
    JackMidiPort port;
    HelperConfig config;
    config.udpHost = "127.0.0.1";
    config.udpPort = test::freePort();
    NativeMidiBridge bridge(config, loop, port, quietOutput());
    bridge.openEndpoints();
    HelperSockets sockets(bridge, loop, quietOutput());
    sockets.start();
    jack_connect(server.client, port.sourcePortName().c_str(), jack_port_name(reader.input));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::thread thread([&] { loop.run(); });

    UniqueFd sender(::socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(uint16_t(config.udpPort));
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<double> samples;
    double lost = 0;
    int i = 0;
    for (auto _ : state) {
        uint8_t datagram[8] = {'N', 'P', 'M', '2', uint8_t(1 + (i & 1)), uint8_t(60 + (i % 12)), 100, 1};
        ++i;
        const uint64_t sent = monotonicUs();
        ::sendto(sender.get(), datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&target), sizeof target);
        uint64_t at = 0;
        if (!reader.next(at, std::chrono::seconds(1))) {
            ++lost; // a cycle lost to an overloaded machine
            continue;
        }
        const double us = double(int64_t(at) - int64_t(sent));
        samples.push_back(us);
        state.SetIterationTime(std::max(us, 0.0) / 1e6);
        // Spread the sends over the period so every phase of the cycle is measured.
        std::this_thread::sleep_for(std::chrono::microseconds(700 + (i * 389) % 3000));
    }
    state.counters["period_us"] = 256.0 / 48000.0 * 1e6;
    state.counters["lost"] = lost;
    report(state, samples, "");
    loop.runSync([&] { sockets.shutdown(); port.close(std::chrono::milliseconds(200)); }, std::chrono::seconds(5));
    loop.stop();
    thread.join();
}
BENCHMARK(BM_SendtoToJackFrame)->UseManualTime()->Iterations(400)->Unit(benchmark::kMicrosecond);

// Stride strikes (engine clock, no MIDI clock) against their grid: each strike's hand-over to the
// port versus the time its grid position falls due.
class StrikeTimes : public bench::RecordingPort {
public:
    int send(std::span<const uint8_t> bytes, uint64_t hostTimeNs) override
    {
        // Note-ons only: the channel resets sent when the peer leaves are no strikes.
        if (bytes.size() == 3 && (bytes[0] & 0xF0) == 0x90 && bytes[2] != 0)
            strikes.push_back(std::max(hostTimeNs, EventLoop::monotonicNs()));
        return 0;
    }
    std::vector<uint64_t> strikes;
};

// Runs two-second holds of a 1/16-beat stride (one per iteration) and reports each strike's distance from its
// grid point; optionally with every core busy and the loop at the helper's real-time priority.
void measureStrikeError(benchmark::State& state, bool busy, bool realtime)
{
    std::vector<double> errors;
    double skipped = 0;
    for (auto _ : state) {
        EventLoop loop;
        StrikeTimes port;
        NativeMidiBridge bridge(HelperConfig{}, loop, port, quietOutput());
        std::thread thread([&] { loop.run(); });
        if (realtime && !bench::makeLoopRealtime(loop)) {
            state.SkipWithError("real-time scheduling was refused");
            loop.stop();
            thread.join();
            return;
        }
        std::optional<bench::CpuLoad> load;
        if (busy)
            load.emplace();
        loop.runSync([&] {
            auto peer = bridge.addPeer();
            const uint8_t stride[8] = {'N', 'P', 'M', '9', 0, 60, 0, 0}; // 1/16 beat: 31.25 ms at 120 bpm
            bridge.handleStreamPayload(peer, stride);
            const uint8_t hold[8] = {'N', 'P', 'M', '2', 1, 60, 100, 1};
            bridge.handleStreamPayload(peer, hold);
        }, std::chrono::seconds(5));
        std::this_thread::sleep_for(std::chrono::seconds(2));
        loop.runSync([&] { bridge.closeAllPeers(); }, std::chrono::seconds(5));
        load.reset();
        loop.stop();
        thread.join();
        // Error against the nearest grid point; a strike skipped because its tick came too late
        // counts once in "skipped" instead of shifting every later comparison.
        const double stepNs = 31'250'000.0;
        double expectedIndex = 1;
        for (size_t k = 1; k < port.strikes.size(); ++k) {
            const double offset = double(port.strikes[k] - port.strikes[0]);
            const double index = std::round(offset / stepNs);
            skipped += std::max(index - expectedIndex, 0.0);
            expectedIndex = index + 1;
            errors.push_back(std::fabs(offset - stepNs * index) / 1000.0);
        }
    }
    report(state, errors, "abs_error_");
    state.counters["skipped"] = skipped;
    state.counters["over_1ms"] = double(std::count_if(errors.begin(), errors.end(), [](double us) { return us > 1000; }));
}

void BM_StrideStrikeTimingError(benchmark::State& state)
{
    measureStrikeError(state, false, false);
}
BENCHMARK(BM_StrideStrikeTimingError)->Iterations(3)->Unit(benchmark::kMillisecond);

// Every core busy: the loop at ordinary priority (realtime:0) and at the priority the helper asks
// for (realtime:1), side by side.
void BM_StrideStrikeTimingErrorUnderLoad(benchmark::State& state)
{
    measureStrikeError(state, true, state.range(0) != 0);
}
BENCHMARK(BM_StrideStrikeTimingErrorUnderLoad)->ArgName("realtime")->Arg(0)->Arg(1)->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace norv

BENCHMARK_MAIN();
