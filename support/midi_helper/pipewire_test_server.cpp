#include "support/midi_helper/pipewire_test_server.h"

#include "support/midi_helper/child_process.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <dlfcn.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <jack/jack.h>
#include <jack/metadata.h>

extern char** environ;

namespace norv::test {
namespace {

std::atomic<int> serial{0};

void quiet(const char*) {}

// Only what a JACK client needs: the native protocol, nodes from clients, links, metadata, and the
// dummy driver that runs every JACK client's node (JACK clients always want a driver).
std::string pipewireConfig(const std::string& name)
{
    return "context.properties = {\n"
           "    core.daemon = true\n"
           "    core.name = " + name + "\n"
           "    default.clock.rate = 48000\n"
           "    default.clock.allowed-rates = [ 48000 ]\n"
           "    default.clock.quantum = " + std::to_string(PipeWireTestServer::kQuantum) + "\n"
           "    default.clock.min-quantum = 32\n"
           "    default.clock.max-quantum = 2048\n"
           "    support.dbus = false\n"
           "    log.level = 1\n"
           "}\n"
           "context.spa-libs = {\n"
           "    support.* = support/libspa-support\n"
           "}\n"
           "context.modules = [\n"
           "    { name = libpipewire-module-rt args = { nice.level = -11 } flags = [ ifexists nofail ] }\n"
           "    { name = libpipewire-module-protocol-native }\n"
           "    { name = libpipewire-module-profiler }\n"
           "    { name = libpipewire-module-metadata }\n"
           "    { name = libpipewire-module-spa-node-factory }\n"
           "    { name = libpipewire-module-client-node }\n"
           "    { name = libpipewire-module-access }\n"
           "    { name = libpipewire-module-adapter }\n"
           "    { name = libpipewire-module-link-factory }\n"
           "    { name = libpipewire-module-session-manager }\n"
           "]\n"
           "context.objects = [\n"
           "    { factory = spa-node-factory\n"
           "      args = { factory.name = support.node.driver node.name = Dummy-Driver\n"
           "               node.group = pipewire.dummy priority.driver = 20000 } }\n"
           "]\n";
}

pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& environment)
{
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    for (auto& a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // The entries given replace those of this process (the first of a name is the one that counts).
    std::vector<std::string> env = environment;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        if (std::none_of(environment.begin(), environment.end(), [&](const std::string& given) { return given.rfind(name, 0) == 0; }))
            env.push_back(entry);
    }
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

} // namespace

bool PipeWireTestServer::jackIsPipeWire()
{
    // The libjack this process loaded, found by one of its symbols.
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&jack_client_open), &info) == 0 || !info.dli_fname)
        return false;
    return std::string(info.dli_fname).find("/pipewire-0.3/jack/") != std::string::npos;
}

PipeWireTestServer::PipeWireTestServer()
    : name_("norv-pw-" + std::to_string(::getpid()) + "-" + std::to_string(serial++))
{
    if (!jackIsPipeWire()) {
        failure_ = "this process's libjack is not PipeWire's (LD_LIBRARY_PATH=" + std::string(kJackLibraryDir) + ")";
        return;
    }
    char pattern[] = "/tmp/norv-pipewire-XXXXXX";
    if (!::mkdtemp(pattern)) {
        failure_ = "no runtime folder: " + std::string(std::strerror(errno));
        return;
    }
    folder_ = pattern;
    std::ofstream(folder_ + "/pipewire.conf") << pipewireConfig(name_);
    // WirePlumber as the desktop has it, less its device monitors: no sound card, camera or
    // Bluetooth adapter of the machine is touched.
    std::filesystem::create_directories(folder_ + "/config/wireplumber/main.lua.d");
    std::filesystem::create_directories(folder_ + "/config/wireplumber/bluetooth.lua.d");
    std::ofstream(folder_ + "/config/wireplumber/main.lua.d/60-norv-no-hardware.lua")
        << "alsa_monitor.enabled = false\nv4l2_monitor.enabled = false\nlibcamera_monitor.enabled = false\n";
    std::ofstream(folder_ + "/config/wireplumber/bluetooth.lua.d/60-norv-no-hardware.lua") << "bluez_monitor.enabled = false\n";
    std::filesystem::create_directories(folder_ + "/state");

    const std::vector<std::string> environment = {
        "XDG_RUNTIME_DIR=" + folder_, "PIPEWIRE_RUNTIME_DIR=" + folder_, "XDG_CONFIG_HOME=" + folder_ + "/config",
        "XDG_STATE_HOME=" + folder_ + "/state", "PIPEWIRE_REMOTE=" + name_, "DISPLAY=", "WAYLAND_DISPLAY="};
    pipewire_ = spawn({"pipewire", "-c", folder_ + "/pipewire.conf"}, environment);
    if (pipewire_ <= 0) {
        failure_ = "pipewire could not be started";
        return;
    }
    ::setenv("PIPEWIRE_RUNTIME_DIR", folder_.c_str(), 1);
    jack_set_error_function(&quiet);
    jack_set_info_function(&quiet);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!ready_ && std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pipewire_, &status, WNOHANG) == pipewire_) {
            pipewire_ = -1;
            failure_ = "pipewire exited during start-up";
            return;
        }
        if (std::filesystem::exists(folder_ + "/" + name_)) {
            jack_status_t jackStatus{};
            if (jack_client_t* probe =
                    jack_client_open("norv-probe", jack_options_t(JackNoStartServer | JackServerName), &jackStatus, name_.c_str())) {
                jack_client_close(probe);
                ready_ = true;
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!ready_) {
        failure_ = "pipewire did not accept clients within 10 s";
        return;
    }
    wireplumber_ = spawn({"wireplumber"}, environment);
    if (wireplumber_ <= 0) {
        ready_ = false;
        failure_ = "wireplumber could not be started";
        return;
    }
    // Ready once WirePlumber serves the metadata that JACK properties (port unique ids) live in.
    ready_ = false;
    jack_status_t jackStatus{};
    jack_client_t* probe = jack_client_open("norv-probe", jack_options_t(JackNoStartServer | JackServerName), &jackStatus, name_.c_str());
    if (!probe) {
        failure_ = "pipewire stopped accepting clients";
        return;
    }
    jack_port_t* port = jack_port_register(probe, "probe", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    const bool parsed = port != nullptr;
    const jack_uuid_t client = parsed ? jack_port_uuid(port) : jack_uuid_t{};
    while (parsed && !ready_ && std::chrono::steady_clock::now() < deadline + std::chrono::seconds(10)) {
        if (jack_set_property(probe, client, "urn:norv-bridge:test:probe", "1", nullptr) == 0) {
            jack_remove_property(probe, client, "urn:norv-bridge:test:probe");
            ready_ = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (port)
        jack_port_unregister(probe, port);
    jack_client_close(probe);
    if (!ready_)
        failure_ = "wireplumber did not serve metadata within 10 s";
}

PipeWireTestServer::~PipeWireTestServer()
{
    stopChild(wireplumber_);
    stopChild(pipewire_);
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

} // namespace norv::test
