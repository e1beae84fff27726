#pragma once

#include <chrono>
#include <memory>
#include <string_view>
#include <thread>

#include "midi_helper/event_loop.h"
#include "midi_helper/helper_config.h"

namespace norv {

class HelperSockets;
class JsonOutput;
class MidiPort;
class NativeMidiBridge;

// The running helper: its loop thread with the bridge and the sockets. The caller's thread feeds it
// standard-input lines; all bridge and socket work, start and shutdown included, runs on the loop.
class HelperApp {
public:
    static constexpr std::chrono::milliseconds kCommandBound{5000};
    static constexpr std::chrono::milliseconds kPortDrainBound{1000};

    HelperApp(HelperConfig config, MidiPort& port, JsonOutput& output);
    ~HelperApp();

    // Opens the endpoints and sockets and emits "ready"; on failure emits the "error" event.
    bool start();
    // Runs one standard-input line. Returns false when the line asks to quit.
    bool handleLine(std::string_view line, bool overlong = false);
    // Closes peers (releasing their notes), sockets and the MIDI port, then stops the loop.
    void shutdown();

private:
    JsonOutput& output_;
    MidiPort& port_;
    EventLoop loop_;
    std::unique_ptr<NativeMidiBridge> bridge_;
    std::unique_ptr<HelperSockets> sockets_;
    std::thread loopThread_;
    bool shutDown_ = false;
};

} // namespace norv
