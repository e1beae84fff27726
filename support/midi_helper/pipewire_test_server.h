#pragma once

#include <string>
#include <sys/types.h>

namespace norv::test {

// A private PipeWire with WirePlumber for one test, as a Debian desktop runs them but with no
// hardware: a runtime folder of its own, only PipeWire's dummy driver (48 kHz, the desktop's default
// quantum of 1,024 frames), WirePlumber with its device monitors off. JACK clients reach it through
// PipeWire's libjack under the server name `name()`. Started by the constructor (bounded wait until
// a JACK client can connect), stopped by the destructor; the folder goes with it.
//
// It sets PIPEWIRE_RUNTIME_DIR for this process, so that clients of this process and the programs
// it starts find the server; only one lives at a time.
class PipeWireTestServer {
public:
    static constexpr const char* kJackLibraryDir = "/usr/lib/x86_64-linux-gnu/pipewire-0.3/jack";
    static constexpr int kQuantum = 1024;

    PipeWireTestServer();
    ~PipeWireTestServer();
    PipeWireTestServer(const PipeWireTestServer&) = delete;
    PipeWireTestServer& operator=(const PipeWireTestServer&) = delete;

    bool running() const { return ready_; }
    const std::string& name() const { return name_; }
    const std::string& failure() const { return failure_; }
    const std::string& folder() const { return folder_; }

    // True when this process's libjack is PipeWire's (LD_LIBRARY_PATH names kJackLibraryDir).
    static bool jackIsPipeWire();

private:
    std::string name_;
    std::string folder_;
    std::string failure_;
    pid_t pipewire_ = -1;
    pid_t wireplumber_ = -1;
    bool ready_ = false;
};

} // namespace norv::test
