#include "midi_helper/jack_midi_port.h"

#include <pthread.h>
#include <sched.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include <jack/jack.h>
#include <jack/metadata.h>
#include <jack/midiport.h>
#include <jack/thread.h>

namespace norv {
namespace {

uint64_t monotonicUs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1'000'000ull + uint64_t(ts.tv_nsec) / 1000;
}

// Cuts `text` to at most `limit` bytes without splitting a UTF-8 sequence.
std::string truncateUtf8(std::string text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t cut = limit;
    while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
    return text;
}

constexpr const char* kNoServerHint =
    "NorvMIDIHelper: no JACK server is running, and the helper never starts one. Start JACK first\n"
    "(for example: jackd -d alsa), or run PipeWire with its JACK library (Debian: the "
    "pipewire-jack\n"
    "package; or start the helper through pw-jack). Then start the helper again.\n";

// libjack's own messages go to standard error: standard output carries only JSON lines.
void toStandardError(const char* message) { std::fprintf(stderr, "%s\n", message); }

}  // namespace

bool JackMidiPort::preferLowLatency() {
    if (std::getenv("PIPEWIRE_LATENCY") || std::getenv("PIPEWIRE_QUANTUM")) return false;
    const std::string wanted = std::to_string(kWantedFrames) + "/" + std::to_string(kWantedRate);
    return ::setenv("PIPEWIRE_LATENCY", wanted.c_str(), 0) == 0;
}

JackMidiPort::JackMidiPort() {
    jack_set_error_function(&toStandardError);
    jack_set_info_function(&toStandardError);
}

JackMidiPort::~JackMidiPort() { close(std::chrono::milliseconds(0)); }

int JackMidiPort::openClient(const std::string& clientName) {
    jack_status_t status{};
    // jackd's libjack reads JACK_DEFAULT_SERVER itself, PipeWire's only takes a name it is given.
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    client_ = server && *server
                  ? jack_client_open(clientName.c_str(),
                                     jack_options_t(JackNoStartServer | JackServerName), &status,
                                     server)
                  : jack_client_open(clientName.c_str(), JackNoStartServer, &status);
    if (!client_) {
        // Standard output carries the error line the parent reads; the person at the terminal
        // gets what to do.
        if (status & JackServerFailed) std::fputs(kNoServerHint, stderr);
        return status != 0 ? int(status) : -1;
    }
    jack_set_process_callback(client_, &JackMidiPort::processCallback, this);
    jack_on_shutdown(client_, &JackMidiPort::shutdownCallback, this);
    return 0;
}

std::string JackMidiPort::shortName(const std::string& name) const {
    std::string s = name;
    std::replace(s.begin(), s.end(), ':', '-');  // a colon separates client and port in full names
    if (s.find_first_not_of(" \t\r\n") == std::string::npos) s = "port";
    size_t clientLength = std::strlen(jack_get_client_name(client_));
    size_t limit = size_t(jack_port_name_size()) - clientLength - 2;
    return truncateUtf8(s, limit);
}

int JackMidiPort::createSource(const std::string& name) {
    if (!client_) return -1;
    sourceShortName_ = shortName(name);
    source_ = jack_port_register(client_, sourceShortName_.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                 JackPortIsOutput, 0);
    if (!source_) return -1;
    setPrettyName(source_, name);
    if (int rc = jack_activate(client_); rc != 0) return rc;
    active_ = true;
    return 0;
}

int JackMidiPort::createDestination(const std::string& name) {
    if (!client_) return -1;
    std::string portName = shortName(name);
    if (portName == sourceShortName_) portName = shortName(name + " in");
    jack_port_t* port =
        jack_port_register(client_, portName.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (!port) return -1;
    setPrettyName(port, name);
    destination_.store(port);
    return 0;
}

void JackMidiPort::setPrettyName(jack_port_t* port, const std::string& name) {
    jack_set_property(client_, jack_port_uuid(port), JACK_METADATA_PRETTY_NAME, name.c_str(),
                      "text/plain");
}

int JackMidiPort::setUniqueID(jack_port_t* port, int32_t uniqueID) {
    if (!client_ || !port) return -1;
    std::string value = std::to_string(uniqueID);
    return jack_set_property(client_, jack_port_uuid(port), kUniqueIDKey, value.c_str(),
                             "http://www.w3.org/2001/XMLSchema#int");
}

int JackMidiPort::setSourceUniqueID(int32_t uniqueID) { return setUniqueID(source_, uniqueID); }

int JackMidiPort::setDestinationUniqueID(int32_t uniqueID) {
    return setUniqueID(destination_.load(), uniqueID);
}

int JackMidiPort::send(std::span<const uint8_t> bytes, uint64_t hostTimeNs) {
    if (!active_ || serverGone_.load()) return -1;
    if (bytes.empty() || bytes.size() > 3) return -50;  // parameter error
    Event event;
    event.hostTimeNs = hostTimeNs;
    event.sequence = pushed_;
    event.size = uint8_t(bytes.size());
    std::copy(bytes.begin(), bytes.end(), event.bytes);
    const bool note = bytes.size() == 3 && (bytes[0] & 0xE0) == 0x80 && bytes[1] < 128;
    const bool noteOn = note && (bytes[0] & 0xF0) == 0x90 && bytes[2] != 0;
    const size_t key = note ? size_t(bytes[0] & 0x0F) * 128 + bytes[1] : 0;
    // The last part of the queue is kept for ending notes that sound: when the process thread
    // falls behind a flood, other messages are refused first and no note is left stuck. Each
    // sounding key needs it once, so it never runs out.
    const bool ending = note && !noteOn && sounding_.test(key);
    if (!ending && queue_.size() >= kQueued - kKeys) return -2;
    if (!queue_.push(event)) return -2;  // the process thread is not keeping up
    ++pushed_;
    if (note) sounding_.set(key, noteOn);
    return 0;
}

int JackMidiPort::processCallback(uint32_t frames, void* self) {
    return static_cast<JackMidiPort*>(self)->process(frames);
}

void JackMidiPort::shutdownCallback(void* self) {
    static_cast<JackMidiPort*>(self)->serverGone_.store(true);
}

// Runs on JACK's process thread: no allocation, no lock.
int JackMidiPort::process(uint32_t frames) {
    // The thread's scheduling as the kernel has it: PipeWire's libjack does not report real time
    // through jack_is_realtime as jackd does.
    if (cycles_.load(std::memory_order_relaxed) == 0) {
        int policy = 0;
        sched_param param{};
        if (::pthread_getschedparam(::pthread_self(), &policy, &param) == 0) {
            processPriority_.store(param.sched_priority, std::memory_order_relaxed);
            processPolicy_.store(policy & ~SCHED_RESET_ON_FORK, std::memory_order_relaxed);
        }
    }
    cycleFrames_.store(frames, std::memory_order_relaxed);
    cycleRate_.store(jack_get_sample_rate(client_), std::memory_order_relaxed);
    if (jack_port_t* destination = destination_.load(std::memory_order_acquire)) {
        void* in = jack_port_get_buffer(destination, frames);
        receivedPackets_.fetch_add(int64_t(jack_midi_get_event_count(in)),
                                   std::memory_order_relaxed);
    }
    void* out = jack_port_get_buffer(source_, frames);
    jack_midi_clear_buffer(out);

    jack_nframes_t currentFrames = 0;
    jack_time_t currentUs = 0, nextUs = 0;
    float periodUs = 0;
    if (jack_get_cycle_times(client_, &currentFrames, &currentUs, &nextUs, &periodUs) != 0 ||
        nextUs <= currentUs) {
        currentUs = jack_get_time();
        nextUs = currentUs + 1;
    }
    // Host time (CLOCK_MONOTONIC) to JACK's microsecond clock.
    const uint64_t hostNowUs = monotonicUs();
    const int64_t toJack = int64_t(jack_get_time()) - int64_t(hostNowUs);

    Event event;
    while (holdingCount_ < kHolding && queue_.pop(event)) holding_[holdingCount_++] = event;

    // Messages due before the next cycle go on a frame of this one; later ones wait.
    size_t dueCount = 0, kept = 0;
    int64_t earliestUs = INT64_MAX;
    for (size_t i = 0; i < holdingCount_; ++i) {
        const Event e = holding_[i];
        const int64_t jackUs = int64_t(e.hostTimeNs / 1000) + toJack;
        // Later than this cycle and not yet due: wait. A message already due goes out now even
        // when the cycle runs behind the clock (a late or lagging cycle).
        if (jackUs >= int64_t(nextUs) && e.hostTimeNs / 1000 > hostNowUs) {
            holding_[kept++] = e;
            continue;
        }
        earliestUs = std::min(earliestUs, jackUs);
        due_[dueCount] = e;
        dueOffsetsUs_[dueCount] = jackUs;
        dueOrder_[dueCount] = uint16_t(dueCount);
        ++dueCount;
    }
    holdingCount_ = kept;
    for (size_t i = 0; i < dueCount; ++i) dueOffsetsUs_[i] -= earliestUs;

    // Messages keep their spacing among each other: the earliest goes on its own frame when the
    // whole batch fits from there, else as late as lets it fit (frame 0 for one already due), and
    // the others follow at their distance from it (a retrigger's gap survives), never past the end.
    // Spacing is audio time: microseconds become frames at the sample rate.
    if (dueCount > 0) {
        const int64_t rate = int64_t(jack_get_sample_rate(client_));
        const int64_t cycleUs = int64_t(nextUs - currentUs);
        const int64_t lastFrame = std::max<int64_t>(int64_t(frames) - 1, 0);
        int64_t span = 0;
        for (size_t i = 0; i < dueCount; ++i)
            span = std::max(span, dueOffsetsUs_[i] * rate / 1'000'000);
        const int64_t natural = (earliestUs - int64_t(currentUs)) * int64_t(frames) / cycleUs;
        const int64_t start =
            std::clamp<int64_t>(natural, 0, std::max<int64_t>(lastFrame - span, 0));
        for (size_t i = 0; i < dueCount; ++i)
            dueFrames_[i] =
                uint32_t(std::min(start + dueOffsetsUs_[i] * rate / 1'000'000, lastFrame));
    }

    // JACK wants events in frame order; equal frames keep the order they were sent in.
    std::sort(dueOrder_.begin(), dueOrder_.begin() + dueCount, [this](uint16_t a, uint16_t b) {
        return dueFrames_[a] != dueFrames_[b] ? dueFrames_[a] < dueFrames_[b]
                                              : due_[a].sequence < due_[b].sequence;
    });
    // A message the buffer refuses, and every one after it, waits for the next cycle in the same
    // order: nothing is dropped here, so a note-off never goes missing behind a full cycle.
    size_t written = 0;
    while (written < dueCount && written < kPerCycle) {
        const uint16_t index = dueOrder_[written];
        const Event& e = due_[index];
        if (jack_midi_event_write(out, dueFrames_[index], e.bytes, e.size) != 0) break;
        ++written;
    }
    for (size_t i = written; i < dueCount; ++i) holding_[holdingCount_++] = due_[dueOrder_[i]];
    emitted_.fetch_add(written, std::memory_order_release);
    cycles_.fetch_add(1, std::memory_order_release);
    return 0;
}

bool JackMidiPort::awaitCycles(uint64_t cycles) const {
    const auto deadline = std::chrono::steady_clock::now() + kFirstCyclesBound;
    while (cycles_.load(std::memory_order_acquire) < cycles) {
        if (!active_ || serverGone_.load() || std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

int JackMidiPort::realtimePriority() const {
    if (!client_) return -1;
    // Only a server that runs its process threads real-time has a priority to stay below. The
    // process thread's own scheduling tells first: PipeWire's libjack does not report real time
    // through jack_is_realtime. A real-time jackd whose thread here was refused real time still
    // counts, so that the loop asks too and says why it may not.
    if (awaitCycles(1)) {
        const int policy = processPolicy_.load(std::memory_order_relaxed);
        const int priority = processPriority_.load(std::memory_order_relaxed);
        if ((policy == SCHED_FIFO || policy == SCHED_RR) && priority > 0) return priority;
    }
    if (jack_is_realtime(client_) != 1) return -1;
    const int priority = jack_client_real_time_priority(client_);
    return priority > 0 ? priority : -1;
}

std::string JackMidiPort::serverWarning() const {
    // A few cycles first: PipeWire moves the graph to the cycle the node asked for after it joined.
    if (!client_ || !awaitCycles(cycles_.load() + 8)) return {};
    const uint64_t frames = cycleFrames_.load(std::memory_order_relaxed);
    const uint64_t rate = cycleRate_.load(std::memory_order_relaxed);
    if (rate == 0 || frames * kWantedRate <= uint64_t(kWantedFrames) * rate) return {};
    const uint64_t tenthsMs = (frames * 10'000 + rate / 2) / rate;
    return "the MIDI server runs cycles of " + std::to_string(frames) + " frames at " +
           std::to_string(rate) + " Hz (" + std::to_string(tenthsMs / 10) + "." +
           std::to_string(tenthsMs % 10) + " ms): every message waits up to one cycle; " +
           "PIPEWIRE_LATENCY=" + std::to_string(kWantedFrames) + "/" + std::to_string(kWantedRate) +
           " or PIPEWIRE_QUANTUM (PipeWire), or jackd -p " + std::to_string(kWantedFrames) +
           ", chooses a shorter one";
}

std::string JackMidiPort::sourcePortName() const {
    return source_ ? jack_port_name(source_) : std::string();
}

std::string JackMidiPort::destinationPortName() const {
    jack_port_t* port = destination_.load();
    return port ? jack_port_name(port) : std::string();
}

void JackMidiPort::close(std::chrono::milliseconds drainBound) {
    if (!client_) return;
    auto deadline = std::chrono::steady_clock::now() + drainBound;
    while (active_ && !serverGone_.load() && emitted_.load() < pushed_ &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (active_) jack_deactivate(client_);
    active_ = false;
    // Unregistered before the client closes: PipeWire's libjack frees a port's buffers only then.
    if (jack_port_t* port = destination_.exchange(nullptr)) jack_port_unregister(client_, port);
    if (source_) jack_port_unregister(client_, source_);
    source_ = nullptr;
    jack_client_close(client_);
    client_ = nullptr;
    source_ = nullptr;
    destination_.store(nullptr);
}

}  // namespace norv
