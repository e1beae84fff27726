#include "support/midi_helper/midi_capture.h"

#include <atomic>
#include <ctime>
#include <thread>

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

namespace norv::test {

struct MidiCapture::Shared {
    std::atomic<uint64_t> cycles{0};
    std::atomic<uint64_t> overflowed{0};
    std::atomic<uint64_t> xruns{0};
    std::atomic<uint64_t> skipped{0};
    // The process thread's own.
    jack_nframes_t lastFrame = 0;
    jack_nframes_t lastFrames = 0;
};

namespace {

uint64_t monotonicUs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1'000'000ull + uint64_t(ts.tv_nsec) / 1000;
}

} // namespace

MidiCapture::MidiCapture(const std::string& server) : shared_(new Shared)
{
    ring_ = jack_ringbuffer_create(sizeof(Event) * (1u << 18));
    jack_status_t status{};
    client_ = jack_client_open("norv-capture", jack_options_t(JackNoStartServer | JackServerName), &status, server.c_str());
    if (!client_)
        return;
    input_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client_, &MidiCapture::process, this);
    jack_set_xrun_callback(client_, &MidiCapture::xrun, this);
    if (!input_ || jack_activate(client_) != 0) {
        jack_client_close(client_);
        client_ = nullptr;
    }
}

MidiCapture::~MidiCapture()
{
    if (client_) {
        jack_deactivate(client_);
        jack_port_unregister(client_, input_);
        jack_client_close(client_);
    }
    jack_ringbuffer_free(ring_);
    delete shared_;
}

int MidiCapture::process(uint32_t frames, void* arg)
{
    auto* self = static_cast<MidiCapture*>(arg);
    void* buffer = jack_port_get_buffer(self->input_, frames);
    jack_nframes_t startFrame = 0;
    jack_time_t startUs = 0, nextUs = 0;
    float periodUs = 0;
    const int64_t toMonotonic = int64_t(monotonicUs()) - int64_t(jack_get_time());
    if (jack_get_cycle_times(self->client_, &startFrame, &startUs, &nextUs, &periodUs) != 0 || nextUs <= startUs) {
        startUs = jack_get_time();
        nextUs = startUs;
        startFrame = jack_last_frame_time(self->client_);
    }
    // A cycle that began more than one cycle after the last one this client ran: what others wrote
    // in the cycles between never reached it, if the server ran them without it. PipeWire may also
    // call a client twice on one frame: that counts nothing.
    Shared& shared = *self->shared_;
    if (shared.lastFrames > 0 && startFrame - shared.lastFrame > shared.lastFrames)
        shared.skipped.fetch_add((startFrame - shared.lastFrame - 1) / shared.lastFrames, std::memory_order_relaxed);
    shared.lastFrame = startFrame;
    shared.lastFrames = frames;
    for (uint32_t i = 0, n = jack_midi_get_event_count(buffer); i < n; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0 || event.size > 3)
            continue;
        Event record;
        record.size = uint8_t(event.size);
        for (size_t b = 0; b < event.size; ++b)
            record.bytes[b] = event.buffer[b];
        record.frameUs = uint64_t(int64_t(startUs) + toMonotonic) + (nextUs - startUs) * event.time / (frames ? frames : 1);
        if (jack_ringbuffer_write_space(self->ring_) >= sizeof record)
            jack_ringbuffer_write(self->ring_, reinterpret_cast<const char*>(&record), sizeof record);
        else
            self->shared_->overflowed.fetch_add(1, std::memory_order_relaxed);
    }
    self->shared_->cycles.fetch_add(1, std::memory_order_release);
    return 0;
}

int MidiCapture::xrun(void* arg)
{
    static_cast<MidiCapture*>(arg)->shared_->xruns.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

uint64_t MidiCapture::xruns() const
{
    return shared_->xruns.load();
}

uint64_t MidiCapture::skippedCycles() const
{
    return shared_->skipped.load(std::memory_order_relaxed);
}

uint64_t MidiCapture::cycles() const
{
    return shared_->cycles.load(std::memory_order_acquire);
}

bool MidiCapture::connectFrom(const std::string& sourcePort)
{
    if (!client_ || jack_connect(client_, sourcePort.c_str(), jack_port_name(input_)) != 0)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (jack_port_connected(input_) == 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // The connection shows once the graph has switched; a cycle that began after that uses it.
    const uint64_t seen = shared_->cycles.load();
    while (shared_->cycles.load() < seen + 2) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void MidiCapture::drain()
{
    Event record;
    while (jack_ringbuffer_read_space(ring_) >= sizeof record) {
        jack_ringbuffer_read(ring_, reinterpret_cast<char*>(&record), sizeof record);
        events_.push_back(record);
    }
}

uint64_t MidiCapture::overflowed() const
{
    return shared_->overflowed.load();
}

uint32_t MidiCapture::bufferFrames() const
{
    return client_ ? jack_get_buffer_size(client_) : 0;
}

uint32_t MidiCapture::sampleRate() const
{
    return client_ ? jack_get_sample_rate(client_) : 0;
}

} // namespace norv::test
