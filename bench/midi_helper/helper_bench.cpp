// NorvMIDIHelper on the live-performance path: time from a readable datagram to the MIDI event
// handed to the port (median and 99th percentile), the same through the whole loop from sendto
// (also with every core busy, with and without real-time priority for the loop), and CPU time per
// 1,000 datagrams.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <vector>

#include "midi_helper/event_loop.h"
#include "midi_helper/helper_sockets.h"
#include "midi_helper/json_output.h"
#include "midi_helper/midi_port.h"
#include "midi_helper/native_midi_bridge.h"
#include "midi_helper/unique_fd.h"

#include "bench_support.h"
#include "support/midi_helper/helper_wire.h"

namespace norv {
namespace {

using bench::quietOutput;

// Records when each message reaches the port.
class TimingPort : public bench::RecordingPort {
public:
    int send(std::span<const uint8_t>, uint64_t) override
    {
        lastNs.store(EventLoop::monotonicNs(), std::memory_order_release);
        count.fetch_add(1, std::memory_order_release);
        return 0;
    }

    std::atomic<uint64_t> lastNs{0};
    std::atomic<uint64_t> count{0};
};

std::vector<uint8_t> noteDatagram(int i)
{
    return {'N', 'P', 'M', '2', uint8_t(1 + (i & 1)), uint8_t(48 + (i % 24)), 100, 1};
}

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void reportPercentiles(benchmark::State& state, std::vector<double>& samplesUs)
{
    if (samplesUs.empty())
        return;
    std::sort(samplesUs.begin(), samplesUs.end());
    state.counters["median_us"] = samplesUs[samplesUs.size() / 2];
    state.counters["p99_us"] = samplesUs[std::min(samplesUs.size() - 1, samplesUs.size() * 99 / 100)];
}

// Readable datagram → recvfrom → sorting and decoding → the port.
void BM_ReadableDatagramToPort(benchmark::State& state)
{
    EventLoop clock;
    TimingPort port;
    NativeMidiBridge bridge(HelperConfig{}, clock, port, quietOutput());
    UniqueFd receiver(::socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in address = loopback(0);
    ::bind(receiver.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(receiver.get(), reinterpret_cast<sockaddr*>(&address), &length);
    UniqueFd sender(::socket(AF_INET, SOCK_DGRAM, 0));

    std::vector<double> samples;
    int i = 0;
    for (auto _ : state) {
        auto datagram = noteDatagram(i++);
        ::sendto(sender.get(), datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
        pollfd pfd{receiver.get(), POLLIN, 0};
        ::poll(&pfd, 1, 1000);
        const uint64_t readable = EventLoop::monotonicNs();
        uint8_t buffer[1500];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        ssize_t n = ::recvfrom(receiver.get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        bridge.handleDatagram(std::span<const uint8_t>(buffer, size_t(n)),
                              DatagramOrigin{false, ntohl(from.sin_addr.s_addr), ntohs(from.sin_port)});
        const double us = double(port.lastNs.load() - readable) / 1000.0;
        samples.push_back(us);
        state.SetIterationTime(us / 1e6);
    }
    reportPercentiles(state, samples);
}
BENCHMARK(BM_ReadableDatagramToPort)->UseManualTime()->Iterations(20000);

// The running helper: sendto → kernel → loop wake-up → the port.
struct RunningHelper {
    RunningHelper()
    {
        config.udpHost = "127.0.0.1";
        config.udpPort = test::freePort();
        bridge = std::make_unique<NativeMidiBridge>(config, loop, port, quietOutput());
        sockets = std::make_unique<HelperSockets>(*bridge, loop, quietOutput());
        sockets->start();
        thread = std::thread([this] { loop.run(); });
        target = loopback(uint16_t(config.udpPort));
    }
    ~RunningHelper()
    {
        loop.runSync([this] { sockets->shutdown(); }, std::chrono::seconds(5));
        loop.stop();
        thread.join();
    }
    void send(const std::vector<uint8_t>& datagram)
    {
        ::sendto(sender.get(), datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&target), sizeof target);
    }

    HelperConfig config;
    EventLoop loop;
    TimingPort port;
    std::unique_ptr<NativeMidiBridge> bridge;
    std::unique_ptr<HelperSockets> sockets;
    std::thread thread;
    UniqueFd sender{::socket(AF_INET, SOCK_DGRAM, 0)};
    sockaddr_in target{};
};

void BM_SendtoToPortThroughLoop(benchmark::State& state)
{
    RunningHelper helper;
    std::vector<double> samples;
    int i = 0;
    for (auto _ : state) {
        const uint64_t before = helper.port.count.load();
        const uint64_t sent = EventLoop::monotonicNs();
        helper.send(noteDatagram(i++));
        while (helper.port.count.load(std::memory_order_acquire) == before) {
        }
        const double us = double(helper.port.lastNs.load() - sent) / 1000.0;
        samples.push_back(us);
        state.SetIterationTime(us / 1e6);
    }
    reportPercentiles(state, samples);
}
BENCHMARK(BM_SendtoToPortThroughLoop)->UseManualTime()->Iterations(20000);

// sendto → the port with every core busy; the loop at ordinary priority (realtime:0) and at the
// priority the helper asks for (realtime:1), side by side.
void BM_SendtoToPortUnderLoad(benchmark::State& state)
{
    RunningHelper helper;
    if (state.range(0) != 0 && !bench::makeLoopRealtime(helper.loop)) {
        state.SkipWithError("real-time scheduling was refused");
        return;
    }
    bench::CpuLoad load;
    std::vector<double> samples;
    double lost = 0, senderPreempted = 0;
    int i = 0;
    uint64_t expected = helper.port.count.load();
    for (auto _ : state) {
        ++expected;
        // A controller change: exactly one message each, with no note bookkeeping behind it.
        const std::vector<uint8_t> datagram = {'N', 'P', 'M', '3', 3, 0xB0, 1, uint8_t(i++ % 128)};
        const uint64_t sent = EventLoop::monotonicNs();
        helper.send(datagram);
        // The sender is an ordinary thread too: a send it was preempted in says nothing of the loop.
        const bool preempted = EventLoop::monotonicNs() - sent > 50'000;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (helper.port.count.load(std::memory_order_acquire) < expected && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        const uint64_t arrived = helper.port.lastNs.load();
        if (helper.port.count.load(std::memory_order_acquire) < expected || arrived < sent) {
            // Not there within a second: counted, and the count taken up again from what arrived.
            ++lost;
            expected = helper.port.count.load();
            state.SetIterationTime(1.0);
            continue;
        }
        const double us = double(arrived - sent) / 1000.0;
        state.SetIterationTime(us / 1e6);
        if (preempted) {
            ++senderPreempted;
            continue;
        }
        samples.push_back(us);
    }
    reportPercentiles(state, samples);
    if (!samples.empty())
        state.counters["max_us"] = samples.back();
    state.counters["lost"] = lost;
    state.counters["sender_preempted"] = senderPreempted;
}
BENCHMARK(BM_SendtoToPortUnderLoad)->ArgName("realtime")->Arg(0)->Arg(1)->UseManualTime()->Iterations(3000);

// CPU time of the whole process per 1,000 datagrams (sender included).
void BM_ThousandDatagramsCpu(benchmark::State& state)
{
    RunningHelper helper;
    int i = 0;
    for (auto _ : state) {
        const uint64_t target = helper.port.count.load() + 1000;
        for (int k = 0; k < 1000; ++k) {
            helper.send(noteDatagram(i++));
            if (k % 64 == 63)
                std::this_thread::yield(); // stay well inside the receive buffer
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (helper.port.count.load() < target && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
}
BENCHMARK(BM_ThousandDatagramsCpu)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace norv


