#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <jack/ringbuffer.h>

struct _jack_client;
struct _jack_port;

namespace norv::test {

// A JACK client with one MIDI input that records every event with the moment of its frame (the
// cycle's start on the server's clock plus the frame's offset, as CLOCK_MONOTONIC µs: when a synth
// downstream renders it), for the helper's peer-limit runs.
class MidiCapture {
public:
    struct Event {
        uint8_t size = 0;
        uint8_t bytes[3] = {0, 0, 0};
        uint64_t frameUs = 0;
    };

    explicit MidiCapture(const std::string& server);
    ~MidiCapture();
    MidiCapture(const MidiCapture&) = delete;
    MidiCapture& operator=(const MidiCapture&) = delete;

    bool ok() const { return client_ != nullptr; }
    // Connects `sourcePort` to the capture and waits (bounded) until its cycles carry it.
    bool connectFrom(const std::string& sourcePort);
    // Moves what arrived so far into `events`; events that did not fit the ring are counted.
    void drain();
    const std::vector<Event>& events() const { return events_; }
    uint64_t overflowed() const;
    // Cycles the server reported late (xruns) since the capture opened.
    uint64_t xruns() const;
    // Cycles the capture has run since it opened, and cycles its clock jumped past: the server
    // went on without it (PipeWire does for a client that wakes late, and reports no xrun), or the
    // whole graph was late.
    uint64_t cycles() const;
    uint64_t skippedCycles() const;
    // The graph's cycle as this client sees it.
    uint32_t bufferFrames() const;
    uint32_t sampleRate() const;

private:
    static int process(uint32_t frames, void* self);
    static int xrun(void* self);

    _jack_client* client_ = nullptr;
    _jack_port* input_ = nullptr;
    jack_ringbuffer_t* ring_ = nullptr;
    std::vector<Event> events_;
    struct Shared;
    Shared* shared_ = nullptr;
};

} // namespace norv::test
