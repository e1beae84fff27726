#include "tests/support/midi_helper/jack_midi_recorder.h"

#include <algorithm>
#include <thread>

#include <jack/jack.h>
#include <jack/metadata.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

namespace norv::test {
namespace {

struct Record {
    uint64_t frame;
    uint8_t size;
    uint8_t bytes[3];
};

} // namespace

JackMidiRecorder::JackMidiRecorder(const std::string& server)
{
    ring_ = jack_ringbuffer_create(sizeof(Record) * 4096);
    outgoing_ = jack_ringbuffer_create(sizeof(Record) * 256);
    jack_status_t status{};
    client_ = jack_client_open("norv-recorder", jack_options_t(JackNoStartServer | JackServerName), &status, server.c_str());
    if (!client_)
        return;
    input_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    output_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(client_, &JackMidiRecorder::process, this);
    jack_activate(client_);
}

JackMidiRecorder::~JackMidiRecorder()
{
    if (client_) {
        jack_deactivate(client_);
        jack_client_close(client_);
    }
    jack_ringbuffer_free(ring_);
    jack_ringbuffer_free(outgoing_);
}

int JackMidiRecorder::process(uint32_t frames, void* arg)
{
    auto* self = static_cast<JackMidiRecorder*>(arg);
    self->cycles_.fetch_add(1);
    void* buffer = jack_port_get_buffer(self->input_, frames);
    const uint64_t base = jack_last_frame_time(self->client_);
    uint32_t count = jack_midi_get_event_count(buffer);
    for (uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0 || event.size > 3)
            continue;
        Record record{base + event.time, uint8_t(event.size), {0, 0, 0}};
        for (size_t b = 0; b < event.size; ++b)
            record.bytes[b] = event.buffer[b];
        if (jack_ringbuffer_write_space(self->ring_) >= sizeof record)
            jack_ringbuffer_write(self->ring_, reinterpret_cast<const char*>(&record), sizeof record);
    }
    void* out = jack_port_get_buffer(self->output_, frames);
    jack_midi_clear_buffer(out);
    Record record;
    while (jack_ringbuffer_read_space(self->outgoing_) >= sizeof record) {
        jack_ringbuffer_read(self->outgoing_, reinterpret_cast<char*>(&record), sizeof record);
        jack_midi_event_write(out, 0, record.bytes, record.size);
    }
    return 0;
}

bool JackMidiRecorder::connectFrom(const std::string& sourcePort)
{
    if (!client_ || jack_connect(client_, sourcePort.c_str(), jack_port_name(input_)) != 0)
        return false;
    return awaitConnected(input_);
}

bool JackMidiRecorder::awaitConnected(_jack_port* port)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (jack_port_connected(port) == 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // The connection shows once the graph has switched; a cycle that began after that uses it.
    const uint64_t seen = cycles_.load();
    while (cycles_.load() < seen + 2) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool JackMidiRecorder::connectTo(const std::string& destinationPort)
{
    if (!client_ || jack_connect(client_, jack_port_name(output_), destinationPort.c_str()) != 0)
        return false;
    return awaitConnected(output_);
}

void JackMidiRecorder::emit(const std::vector<uint8_t>& bytes)
{
    Record record{0, uint8_t(std::min<size_t>(bytes.size(), 3)), {0, 0, 0}};
    for (size_t i = 0; i < record.size; ++i)
        record.bytes[i] = bytes[i];
    jack_ringbuffer_write(outgoing_, reinterpret_cast<const char*>(&record), sizeof record);
}

std::optional<JackMidiRecorder::Event> JackMidiRecorder::next(std::chrono::milliseconds bound)
{
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
        if (jack_ringbuffer_read_space(ring_) >= sizeof(Record)) {
            Record record;
            jack_ringbuffer_read(ring_, reinterpret_cast<char*>(&record), sizeof record);
            return Event{std::vector<uint8_t>(record.bytes, record.bytes + record.size), record.frame};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return std::nullopt;
}

std::vector<std::string> JackMidiRecorder::ports(const std::string& pattern) const
{
    std::vector<std::string> names;
    if (!client_)
        return names;
    const char** found = jack_get_ports(client_, pattern.c_str(), nullptr, 0);
    for (const char** p = found; p && *p; ++p)
        names.emplace_back(*p);
    if (found)
        jack_free(found);
    return names;
}

std::optional<std::string> JackMidiRecorder::property(const std::string& port, const std::string& key) const
{
    jack_port_t* handle = client_ ? jack_port_by_name(client_, port.c_str()) : nullptr;
    if (!handle)
        return std::nullopt;
    char* value = nullptr;
    char* type = nullptr;
    if (jack_get_property(jack_port_uuid(handle), key.c_str(), &value, &type) != 0)
        return std::nullopt;
    std::string result = value ? value : "";
    jack_free(value);
    jack_free(type);
    return result;
}

} // namespace norv::test
