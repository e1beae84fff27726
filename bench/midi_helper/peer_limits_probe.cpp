// The built NorvMIDIHelper at its peer limits on a real MIDI server, with a JACK client recording its
// source: 8 stream and 8 Wi-Fi peers (10 % of Wi-Fi packets lost) for --seconds, then every peer
// leaves holding a note. Prints one line: what the helper counted sent and what arrived, messages
// out of order, notes left sounding, cycles the recorder's clock jumped past, sendto → the frame
// the recorder got it on (median, p99, max, and the p99 without the releases a recovered tap holds
// on purpose), the helper's CPU per 1,000 messages, the cycle (nominal, and as long as it really
// took), and the load average before and after.
//
// The server is PipeWire (private, dummy driver, WirePlumber) when this program runs on PipeWire's
// libjack (the _pipewire build), else jackd (dummy driver, 256 frames, real-time where allowed).
//   midi_helper_peer_limits_probe[_pipewire] --helper build/bin/NorvMIDIHelper [--seconds 60]
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/midi_helper/helper_wire.h"
#include "support/midi_helper/jack_test_server.h"
#include "support/midi_helper/midi_capture.h"
#include "support/midi_helper/peer_traffic.h"
#include "support/midi_helper/pipewire_test_server.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using norv::test::MidiCapture;
using norv::test::PeerTraffic;

// The helper as a child with pipes on its standard input and output.
class Helper {
public:
    Helper(const std::string& path, int port, const std::string& server, bool pipewire)
    {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        std::vector<std::string> args = {path, "--udp-host", "127.0.0.1", "--udp-port", std::to_string(port)};
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "JACK_DEFAULT_SERVER=", 20) != 0 && std::strncmp(*e, "LD_LIBRARY_PATH=", 16) != 0)
                env.emplace_back(*e);
        env.push_back("JACK_DEFAULT_SERVER=" + server);
        if (pipewire)
            env.push_back("LD_LIBRARY_PATH=" + std::string(norv::test::PipeWireTestServer::kJackLibraryDir));
        std::vector<char*> argv, envp;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        input_ = in[1];
        output_ = out[0];
    }
    ~Helper()
    {
        if (input_ >= 0)
            ::close(input_);
        if (pid_ > 0 && !exited(5s)) {
            ::kill(pid_, SIGKILL);
            exited(5s);
        }
        if (output_ >= 0)
            ::close(output_);
    }
    pid_t pid() const { return pid_; }
    void write(const std::string& line)
    {
        const std::string data = line + "\n";
        [[maybe_unused]] auto n = ::write(input_, data.data(), data.size());
    }
    std::optional<nlohmann::json> waitFor(const std::string& type, std::chrono::milliseconds bound = 10s)
    {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        for (;;) {
            for (size_t newline; (newline = buffer_.find('\n')) != std::string::npos;) {
                auto event = nlohmann::json::parse(buffer_.substr(0, newline), nullptr, false);
                buffer_.erase(0, newline + 1);
                if (event.is_object() && event.value("type", "") == type)
                    return event;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd pfd{output_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&pfd, 1, int(left.count())) <= 0)
                return std::nullopt;
            char chunk[4096];
            const ssize_t n = ::read(output_, chunk, sizeof chunk);
            if (n <= 0)
                return std::nullopt;
            buffer_.append(chunk, size_t(n));
        }
    }
    // utime + stime in clock ticks.
    uint64_t cpuTicks() const
    {
        FILE* stat = std::fopen(("/proc/" + std::to_string(pid_) + "/stat").c_str(), "re");
        if (!stat)
            return 0;
        char text[2048] = {};
        const size_t n = std::fread(text, 1, sizeof text - 1, stat);
        std::fclose(stat);
        const char* fields = std::strrchr(text, ')');
        if (!fields || n == 0)
            return 0;
        unsigned long long utime = 0, stime = 0;
        std::sscanf(fields + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime);
        return utime + stime;
    }
    bool exited(std::chrono::milliseconds bound)
    {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) != pid_) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(5ms);
        }
        pid_ = -1;
        return true;
    }

private:
    pid_t pid_ = -1;
    int input_ = -1, output_ = -1;
    std::string buffer_;
};

std::string loadAverage()
{
    double one = 0, five = 0, fifteen = 0;
    if (FILE* file = std::fopen("/proc/loadavg", "re")) {
        if (std::fscanf(file, "%lf %lf %lf", &one, &five, &fifteen) != 3)
            one = five = fifteen = 0;
        std::fclose(file);
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.2f/%.2f/%.2f", one, five, fifteen);
    return text;
}

// The "pong" once the capture holds what the helper counts sent, or after the bound.
nlohmann::json settle(Helper& helper, MidiCapture& capture, std::chrono::milliseconds bound = 5s)
{
    nlohmann::json pong;
    for (const auto until = std::chrono::steady_clock::now() + bound; std::chrono::steady_clock::now() < until;) {
        helper.write("ping");
        pong = helper.waitFor("pong").value_or(nlohmann::json{});
        capture.drain();
        if (pong.value("sent_count", int64_t(-1)) == int64_t(capture.events().size()))
            break;
        std::this_thread::sleep_for(50ms);
    }
    return pong;
}

} // namespace

int main(int argc, char** argv)
{
    std::string helperPath = "build/bin/NorvMIDIHelper";
    int seconds = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--helper") == 0)
            helperPath = argv[i + 1];
        else if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1, std::atoi(argv[i + 1]));
    }
    // Fixed formats: the figures never follow the user's locale.
    ::setenv("LC_ALL", "C", 1);
    const bool pipewire = norv::test::PipeWireTestServer::jackIsPipeWire();
    std::unique_ptr<norv::test::PipeWireTestServer> pipewireServer;
    std::unique_ptr<norv::test::JackTestServer> jackServer;
    std::string server;
    if (pipewire) {
        pipewireServer = std::make_unique<norv::test::PipeWireTestServer>();
        if (!pipewireServer->running()) {
            std::fprintf(stderr, "PipeWire did not start: %s\n", pipewireServer->failure().c_str());
            return 2;
        }
        server = pipewireServer->name();
    } else {
        const bool realtime = ::geteuid() == 0;
        jackServer = std::make_unique<norv::test::JackTestServer>(realtime ? norv::test::JackTestServer::Threads::Realtime
                                                                          : norv::test::JackTestServer::Threads::Ordinary);
        if (!jackServer->running()) {
            std::fprintf(stderr, "jackd did not start: %s\n", jackServer->failure().c_str());
            return 2;
        }
        server = jackServer->name();
    }
    const std::string loadBefore = loadAverage();
    const int port = norv::test::freePort();
    Helper helper(helperPath, port, server, pipewire);
    auto ready = helper.waitFor("ready");
    if (!ready) {
        std::fprintf(stderr, "the helper did not start\n");
        return 2;
    }
    MidiCapture capture(server);
    if (!capture.connectFrom("Norv Bridge MIDI:Norv")) {
        std::fprintf(stderr, "could not record the helper's source\n");
        return 2;
    }
    const uint64_t cpuBefore = helper.cpuTicks();
    const uint64_t cyclesBefore = capture.cycles();
    const uint64_t skippedBefore = capture.skippedCycles();
    const auto playStart = std::chrono::steady_clock::now();
    PeerTraffic traffic({port, 2150, 0.1, std::chrono::seconds(seconds)});
    if (!traffic.play()) {
        std::fprintf(stderr, "a peer could not connect\n");
        return 2;
    }
    // The cycle as the server's clock really ran it: a dummy driver's timer wakes late too.
    const double playedMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - playStart).count();
    const uint64_t playedCycles = capture.cycles() - cyclesBefore;
    const double cycleMs = playedCycles > 0 ? playedMs / double(playedCycles) : 0.0;
    const uint64_t skipped = capture.skippedCycles() - skippedBefore;
    nlohmann::json pong = settle(helper, capture);
    const uint64_t cpuAfter = helper.cpuTicks();
    const int64_t playedSent = pong.value("sent_count", int64_t(0));
    traffic.leave();
    for (const auto until = std::chrono::steady_clock::now() + 8s; std::chrono::steady_clock::now() < until;) {
        pong = settle(helper, capture);
        if (pong.value("wifi_peer_count", 1) == 0 && pong.value("tcp_client_count", 1) == 0)
            break;
        std::this_thread::sleep_for(100ms);
    }
    pong = settle(helper, capture);
    PeerTraffic::Tally tally = traffic.tally(capture);
    std::sort(tally.latencyUs.begin(), tally.latencyUs.end());
    std::sort(tally.promptLatencyUs.begin(), tally.promptLatencyUs.end());
    auto in = [](const std::vector<double>& us, double share) {
        return us.empty() ? 0.0 : us[std::min(us.size() - 1, size_t(share * double(us.size())))] / 1000.0;
    };
    auto at = [&](double share) { return in(tally.latencyUs, share); };
    const double cpuMs = double(cpuAfter - cpuBefore) * 1000.0 / double(::sysconf(_SC_CLK_TCK));
    const auto warnings = (*ready)["warnings"];
    std::printf("server=%s cycle=%u/%u cycle_ms=%.2f sent=%" PRId64 " recorded=%" PRIu64 " out_of_order=%" PRIu64 " unknown=%" PRIu64 " never_sent=%" PRIu64
                " left_sounding=%" PRIu64 " recorder_skipped=%" PRIu64 " latency_ms median=%.2f p99=%.2f max=%.2f prompt_p99=%.2f cpu_ms_per_1000=%.1f"
                " warnings=%zu load_before=%s load_after=%s\n",
                pipewire ? "pipewire" : "jackd", capture.bufferFrames(), capture.sampleRate(), cycleMs, pong.value("sent_count", int64_t(0)),
                tally.recorded, tally.outOfOrder, tally.unknown, tally.neverSent, tally.leftSounding, skipped, at(0.5), at(0.99),
                tally.latencyUs.empty() ? 0.0 : tally.latencyUs.back() / 1000.0, in(tally.promptLatencyUs, 0.99),
                playedSent > 0 ? cpuMs * 1000.0 / double(playedSent) : 0.0, warnings.size(), loadBefore.c_str(),
                loadAverage().c_str());
    helper.write("quit");
    helper.exited(10s);
    const bool exact = int64_t(tally.recorded) == pong.value("sent_count", int64_t(-1)) && tally.outOfOrder == 0 &&
                       tally.leftSounding == 0 && tally.unknown == 0;
    return exact ? 0 : 1;
}
