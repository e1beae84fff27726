#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "midi_helper/event_loop.h"
#include "midi_helper/helper_config.h"

namespace norv {

class HelperSockets;
class JsonOutput;
class LoopRealtime;
class MidiPort;
class NativeMidiBridge;
class RealtimeAccess;

// The running helper: its loop thread with the bridge and the sockets. The caller's thread feeds it
// standard-input lines; all bridge and socket work, start and shutdown included, runs on the loop.
class HelperApp {
public:
    static constexpr std::chrono::milliseconds kCommandBound{5000};
    static constexpr std::chrono::milliseconds kPortDrainBound{1000};

    HelperApp(HelperConfig config, MidiPort& port, JsonOutput& output,
              std::chrono::milliseconds commandBound = kCommandBound);
    ~HelperApp();

    // Makes `start` ask for real-time scheduling of the loop thread once the MIDI client is open
    // (below the MIDI server's process thread, and only when that runs real-time). A refusal is
    // said once on standard error.
    void askForRealtimeLoop(RealtimeAccess& access);
    // Opens the endpoints and sockets and emits "ready"; on failure emits the "error" event.
    bool start();
    // Runs one standard-input line. Returns false when the line asks to quit.
    bool handleLine(std::string_view line, bool overlong = false);
    // Closes peers (releasing their notes), sockets and the MIDI port, then stops the loop.
    void shutdown();
    // True when the loop was still stuck in abandoned work at shutdown: its thread and objects were
    // left to it, and the process must end without running destructors.
    bool leftWorkRunning() const { return leftWorkRunning_; }

private:
    // What work on the loop reports: the lines it would emit and whether it succeeded.
    struct LoopResult {
        bool ok = true;
        std::vector<nlohmann::json> lines;
    };
    // Runs `work` on the loop within the command bound. Nothing when it did not finish in time;
    // its lines then never reach the output, however late it finishes.
    std::optional<LoopResult> runOnLoop(std::function<LoopResult()> work);

    JsonOutput& output_;
    MidiPort& port_;
    std::chrono::milliseconds commandBound_;
    std::unique_ptr<EventLoop> loop_;
    std::unique_ptr<LoopRealtime> realtime_;
    // The sockets the bridge sends its datagrams through: built after the bridge, over it. Shared
    // with the bridge's sender, which outlives this object when the loop is left running.
    std::shared_ptr<HelperSockets*> datagramSockets_;
    std::unique_ptr<NativeMidiBridge> bridge_;
    std::unique_ptr<HelperSockets> sockets_;
    std::thread loopThread_;
    bool shutDown_ = false;
    bool leftWorkRunning_ = false;
};

}  // namespace norv
