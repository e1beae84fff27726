// NorvMIDIHelper: virtual MIDI ports on JACK fed by fast MIDI from UDP, TCP and private sockets,
// driven through its command line and standard input, reporting JSON lines on standard output.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "midi_helper/helper_app.h"
#include "midi_helper/helper_config.h"
#include "midi_helper/helper_usage.h"
#include "midi_helper/jack_midi_port.h"
#include "midi_helper/json_output.h"
#include "midi_helper/line_reader.h"
#include "midi_helper/realtime_access.h"
#include "midi_helper/thread_name.h"

namespace {

constexpr std::chrono::milliseconds kFinalFlushBound{2000};

// Writes what is waiting within a bound; a reader that stopped reading cannot hold the exit.
// With work left running on an abandoned loop, nothing may be destroyed under it either.
[[noreturn]] void finish(norv::JsonOutput& output, int status, bool leftWorkRunning) {
    if (!output.flush(kFinalFlushBound) || leftWorkRunning) std::_Exit(status);
    std::exit(status);
}

}  // namespace

int main(int argc, char** argv) {
    // A closed stdout or peer must never kill the helper.
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (norv::helpRequested(arguments)) {
        const std::string_view usage = norv::helperUsage();
        std::fwrite(usage.data(), 1, usage.size(), stdout);
        return 0;
    }
    if (norv::versionRequested(arguments)) {
        const std::string_view version = norv::helperVersion();
        std::fwrite(version.data(), 1, version.size(), stdout);
        return 0;
    }

    // Before any other thread exists: the environment is not thread-safe.
    norv::JackMidiPort::preferLowLatency();
    static norv::JsonOutput output(1);
    norv::HelperConfig config = norv::HelperConfig::fromArguments(arguments);

    norv::JackMidiPort port;
    norv::RealtimeAccess realtime;
    int status = 0;
    bool leftWorkRunning = false;
    {
        norv::HelperApp app(config, port, output);
        app.askForRealtimeLoop(realtime);
        if (!app.start()) {
            status = 1;
        } else {
            // Standard input is read on a thread of its own, named for ps -L and debuggers; the
            // main thread keeps the program's name, which ps, pgrep and killall go by.
            std::thread input([&app] {
                norv::nameCurrentThread("norv-input");
                norv::LineReader reader(0);
                while (auto line = reader.next()) {
                    if (!app.handleLine(line->text, line->overlong)) break;
                }
            });
            input.join();
        }
        app.shutdown();
        leftWorkRunning = app.leftWorkRunning();
    }
    finish(output, status, leftWorkRunning);
}
