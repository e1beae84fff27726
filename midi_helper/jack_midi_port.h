#pragma once

#include <array>
#include <atomic>
#include <bitset>
#include <string>

#include "midi_helper/midi_port.h"
#include "midi_helper/spsc_queue.h"

struct _jack_client;
struct _jack_port;

namespace norv {

// MIDI endpoints on a running JACK server (never starts one). The source is an output port, the
// destination an input port of one client. Messages travel to the process thread through a
// lock-free queue; there they are placed on the frame that matches their host time.
//
// JACK port short names must be unique within a client, so when source and destination carry the
// same name the destination's short name gets " in" appended; both keep the configured name as
// their pretty name. Unique ids are stored as port metadata under `kUniqueIDKey`.
class JackMidiPort : public MidiPort {
public:
    static constexpr const char* kUniqueIDKey = "urn:norv-bridge:midi:unique-id";

    // The cycle asked of PipeWire for the helper's own node when the user chose none: 256 frames at
    // 48 kHz, as low-latency JACK clients ask. Longer cycles get a warning in "ready".
    static constexpr uint32_t kWantedFrames = 256;
    static constexpr uint32_t kWantedRate = 48000;
    // Sets PIPEWIRE_LATENCY to kWantedFrames/kWantedRate unless PIPEWIRE_LATENCY or PIPEWIRE_QUANTUM
    // is set. PipeWire's libjack reads it when the client opens; jackd ignores it. Call before any
    // other thread runs (the environment is not thread-safe). True when it set it.
    static bool preferLowLatency();

    // Events written in one cycle at most. PipeWire copies a cycle's MIDI into a buffer of its own
    // after the callback and drops, unreported, what does not fit there (about 1,300 short
    // messages), so the port's own room is no guide. What does not fit waits for the next cycle,
    // as does a message the server refuses to take.
    static constexpr size_t kPerCycle = 512;

    // How long `realtimePriority` and `serverWarning` wait for the first process cycles.
    static constexpr std::chrono::milliseconds kFirstCyclesBound{1000};

    JackMidiPort();
    ~JackMidiPort() override;

    int openClient(const std::string& clientName) override;
    int createSource(const std::string& name) override;
    int createDestination(const std::string& name) override;
    int setSourceUniqueID(int32_t uniqueID) override;
    int setDestinationUniqueID(int32_t uniqueID) override;
    int send(std::span<const uint8_t> bytes, uint64_t hostTimeNs) override;
    int64_t receivedPackets() const override {
        return receivedPackets_.load(std::memory_order_relaxed);
    }
    void close(std::chrono::milliseconds drainBound) override;
    int realtimePriority() const override;
    std::string serverWarning() const override;

    // Full JACK names ("client:port") of the endpoints, for diagnostics and tests.
    std::string sourcePortName() const;
    std::string destinationPortName() const;

private:
    struct Event {
        uint64_t hostTimeNs = 0;
        uint64_t sequence = 0;
        uint8_t size = 0;
        uint8_t bytes[3] = {0, 0, 0};
    };
    static constexpr size_t kHolding = 1024;

    static int processCallback(uint32_t frames, void* self);
    static void shutdownCallback(void* self);
    int process(uint32_t frames);
    // Waits (bounded) until `cycles` process cycles have run; false when they did not.
    bool awaitCycles(uint64_t cycles) const;
    std::string shortName(const std::string& name) const;
    int setUniqueID(_jack_port* port, int32_t uniqueID);
    void setPrettyName(_jack_port* port, const std::string& name);

    _jack_client* client_ = nullptr;
    _jack_port* source_ = nullptr;
    std::atomic<_jack_port*> destination_{nullptr};
    std::string sourceShortName_;
    bool active_ = false;
    std::atomic<bool> serverGone_{false};
    std::atomic<int64_t> receivedPackets_{0};

    // Loop thread → process thread, with room kept to end every sounding note.
    static constexpr size_t kQueued = 8192;
    static constexpr size_t kKeys = 16 * 128;  // channel × 128 + note number
    SpscQueue<Event, kQueued> queue_;
    uint64_t pushed_ = 0;
    std::bitset<kKeys> sounding_;  // loop thread: keys whose last queued message began a note
    std::atomic<uint64_t> emitted_{0};

    // What the process thread saw of itself and the graph (written every cycle, read by the loop).
    std::atomic<uint64_t> cycles_{0};
    std::atomic<int> processPolicy_{-1};
    std::atomic<int> processPriority_{0};
    std::atomic<uint32_t> cycleFrames_{0};
    std::atomic<uint32_t> cycleRate_{0};

    // Process thread only: messages waiting for their cycle, and the order of those due now.
    std::array<Event, kHolding> holding_{};
    size_t holdingCount_ = 0;
    std::array<Event, kHolding> due_{};
    std::array<int64_t, kHolding> dueOffsetsUs_{};  // from the earliest due
    std::array<uint32_t, kHolding> dueFrames_{};
    std::array<uint16_t, kHolding> dueOrder_{};
};

}  // namespace norv
