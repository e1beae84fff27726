#pragma once
// What the helper benchmarks share: an output that discards its lines and a port base that
// accepts every endpoint call, so a benchmark only says what it records.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "midi_helper/event_loop.h"
#include "midi_helper/json_output.h"
#include "midi_helper/midi_port.h"
#include "midi_helper/realtime_access.h"

namespace norv::bench {

inline JsonOutput& quietOutput()
{
    static JsonOutput output([](const std::string&, auto) { return true; });
    return output;
}

class RecordingPort : public MidiPort {
public:
    int openClient(const std::string&) override { return 0; }
    int createSource(const std::string&) override { return 0; }
    int createDestination(const std::string&) override { return 0; }
    int setSourceUniqueID(int32_t) override { return 0; }
    int setDestinationUniqueID(int32_t) override { return 0; }
    int64_t receivedPackets() const override { return 0; }
    void close(std::chrono::milliseconds) override {}
};

// A busy machine: one spinning thread per core at ordinary priority, from construction until
// destruction, and never longer than `bound`.
class CpuLoad {
public:
    explicit CpuLoad(std::chrono::seconds bound = std::chrono::seconds(30))
    {
        const auto until = std::chrono::steady_clock::now() + bound;
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < cores; ++i) {
            spinners_.emplace_back([this, until] {
                uint64_t spins = 0;
                while (!stop_.load(std::memory_order_relaxed)) {
                    if (++spins % 4096 == 0 && std::chrono::steady_clock::now() > until)
                        return;
                }
            });
        }
    }
    ~CpuLoad()
    {
        stop_ = true;
        for (auto& spinner : spinners_)
            spinner.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> spinners_;
};

// Gives the loop's thread the real-time priority the helper asks for below a JACK process thread
// at its usual priority. False when it was refused.
constexpr int kJackProcessPriority = 5;

inline bool makeLoopRealtime(EventLoop& loop)
{
    bool granted = false;
    loop.runSync([&granted] {
        RealtimeAccess access;
        granted = makeCurrentThreadRealtime(loopRealtimePriority(kJackProcessPriority), access).granted;
    }, std::chrono::seconds(5));
    return granted;
}

} // namespace norv::bench
