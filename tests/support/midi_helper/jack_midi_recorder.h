#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct _jack_client;
struct _jack_port;
#include <jack/ringbuffer.h>

namespace norv::test {

// A JACK client with one MIDI input that records what arrives, for checking the helper's source.
class JackMidiRecorder {
public:
    struct Event {
        std::vector<uint8_t> bytes;
        uint64_t frame; // absolute frame of the event
    };

    explicit JackMidiRecorder(const std::string& server);
    ~JackMidiRecorder();
    JackMidiRecorder(const JackMidiRecorder&) = delete;
    JackMidiRecorder& operator=(const JackMidiRecorder&) = delete;

    bool ok() const { return client_ != nullptr; }
    bool connectFrom(const std::string& sourcePort);
    // Sends from the client's own output port to `destinationPort`.
    bool connectTo(const std::string& destinationPort);
    void emit(const std::vector<uint8_t>& bytes);
    std::optional<Event> next(std::chrono::milliseconds bound = std::chrono::seconds(6));
    // Every port of the server whose full name matches `pattern` (a regular expression).
    std::vector<std::string> ports(const std::string& pattern) const;
    // A metadata value of a port, or nothing.
    std::optional<std::string> property(const std::string& port, const std::string& key) const;

private:
    static int process(uint32_t frames, void* self);
    // Waits (bounded) until a connection of `port` carries MIDI: the graph has switched to it and
    // a process cycle has begun since.
    bool awaitConnected(_jack_port* port);

    _jack_client* client_ = nullptr;
    _jack_port* input_ = nullptr;
    _jack_port* output_ = nullptr;
    jack_ringbuffer_t* ring_ = nullptr;
    jack_ringbuffer_t* outgoing_ = nullptr;
    std::atomic<uint64_t> cycles_{0};
};

} // namespace norv::test
