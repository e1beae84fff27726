// The built helper on a private PipeWire with WirePlumber (dummy driver, no hardware), reached
// through PipeWire's libjack as a Debian desktop has it: this binary and the helper both load it.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/midi_helper/helper_wire.h"
#include "support/midi_helper/midi_capture.h"
#include "support/midi_helper/peer_traffic.h"
#include "support/midi_helper/pipewire_test_server.h"
#include "tests/support/midi_helper/helper_process.h"

extern char** environ;

namespace norv::test {
namespace {

using namespace std::chrono_literals;

const std::string kSourcePort = "Norv Bridge MIDI:Norv";

struct Scheduling {
    std::string name;
    int policy = -1; // 0 ordinary, 1 SCHED_FIFO
    int priority = 0;
};

std::vector<Scheduling> threadsOf(pid_t pid)
{
    std::vector<Scheduling> threads;
    std::error_code ignored;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ignored)) {
        Scheduling thread;
        std::ifstream(task.path() / "comm") >> thread.name;
        std::string stat;
        std::getline(std::ifstream(task.path() / "stat"), stat);
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::vector<std::string> field{std::istream_iterator<std::string>(fields), {}};
        if (field.size() < 39)
            continue;
        thread.priority = std::stoi(field[40 - 3]);
        thread.policy = std::stoi(field[41 - 3]);
        threads.push_back(thread);
    }
    return threads;
}

// Compiles the helper's own sources, as many at once as the machine has cores, over and over
// (ccache out of the way) until it goes.
class ParallelBuild {
public:
    ParallelBuild()
    {
        const std::string script = "export CCACHE_DISABLE=1; cd '" NORV_SOURCE_DIR "' && while :; do ls midi_helper/*.cpp | "
                                   "xargs -P \"$(nproc)\" -I{} c++ -std=c++20 -O2 -I. -c {} -o /dev/null 2>/dev/null; done";
        const char* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP); // a group of its own, ended at once
        if (::posix_spawn(&pid_, argv[0], nullptr, &attributes, const_cast<char**>(argv), environ) != 0)
            pid_ = -1;
        posix_spawnattr_destroy(&attributes);
        std::this_thread::sleep_for(1s); // into the compilers
    }
    ~ParallelBuild()
    {
        if (pid_ <= 0)
            return;
        ::kill(-pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    bool running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

class HelperOnPipeWire : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!pipewire.running())
            FAIL() << "PipeWire did not start: " << pipewire.failure();
    }

    // The helper on PipeWire's libjack, with `environment` added.
    std::unique_ptr<HelperProcess> startHelper(int port, std::vector<std::string> environment = {})
    {
        HelperProcess::Launch launch = HelperProcess::Launch::capturingError();
        launch.environment = {"LD_LIBRARY_PATH=" + std::string(PipeWireTestServer::kJackLibraryDir)};
        launch.environment.insert(launch.environment.end(), environment.begin(), environment.end());
        return std::make_unique<HelperProcess>(
            std::vector<std::string>{"--udp-host", "127.0.0.1", "--udp-port", std::to_string(port)}, pipewire.name(), launch);
    }

    void playAtThePeerLimits();

    PipeWireTestServer pipewire;
};

// The helper at its peer limits, its loop real-time just below PipeWire's JACK thread where the
// machine allows: every message arrives in order and every held note ends, at a peer's end and at
// quit.
void HelperOnPipeWire::playAtThePeerLimits()
{
    const int port = freePort();
    auto helper = startHelper(port);
    auto ready = helper->waitFor("ready");
    ASSERT_TRUE(ready);
    // The helper asked for 256-frame cycles, and the graph runs them.
    EXPECT_EQ((*ready)["warnings"], nlohmann::json::array());
    MidiCapture capture(pipewire.name());
    ASSERT_TRUE(capture.connectFrom(kSourcePort));
    EXPECT_EQ(capture.bufferFrames(), 256u);

    // Its loop runs real-time just below PipeWire's JACK thread, as under jackd.
    int pipewirePriority = 0;
    Scheduling loop;
    for (const auto& thread : threadsOf(helper->pid())) {
        if (thread.name == "norv-loop")
            loop = thread;
        else if (thread.policy == 1)
            pipewirePriority = std::max(pipewirePriority, thread.priority);
    }
    if (pipewirePriority > 0 && ::geteuid() == 0) {
        EXPECT_EQ(loop.policy, 1);
        EXPECT_EQ(loop.priority, pipewirePriority - 1);
    }

    const uint64_t skippedBefore = capture.skippedCycles();
    PeerTraffic traffic({port, 2150, 0.1, 3s});
    ASSERT_TRUE(traffic.play()); // every player ends holding a note
    // The streams' notes end as they leave, the Wi-Fi senders' at quit.
    traffic.leaveStreams();
    // Within the Wi-Fi watchdog's 2 s: the Wi-Fi senders are still there at quit.
    nlohmann::json pong;
    for (const auto until = std::chrono::steady_clock::now() + 1s; std::chrono::steady_clock::now() < until;) {
        helper->writeLine("ping");
        pong = helper->waitFor("pong").value_or(nlohmann::json{});
        if (pong.value("tcp_client_count", -1) == 0)
            break;
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(pong["tcp_client_count"], 0);
    EXPECT_EQ(pong["wifi_peer_count"], PeerTraffic::kWifi);
    const int64_t sent = pong["sent_count"].get<int64_t>();
    helper->writeLine("quit");
    EXPECT_EQ(helper->waitExit(10s), 0); // the sanitizers' exit status on a leak is not 0
    const std::string error = helper->readError();
    EXPECT_EQ(error.find("LeakSanitizer"), std::string::npos) << error;

    capture.drain();
    const PeerTraffic::Tally tally = traffic.tally(capture);
    // What arrives keeps its order. At quit: four channel resets for each Wi-Fi sender, and a
    // note-off for each that holds a note (its note-on may have gone in the sender's lost packets).
    // All of it arrives unless PipeWire went on without the recorder for a cycle it woke late for.
    EXPECT_GT(sent, 6000);
    const int64_t all = sent + 5 * PeerTraffic::kWifi;
    if (capture.skippedCycles() == skippedBefore) {
        EXPECT_EQ(int64_t(tally.recorded), sent + 4 * PeerTraffic::kWifi + int64_t(tally.wifiLastHeard));
        EXPECT_EQ(tally.leftSounding, 0u);
        // A note-on that came too late to play leaves its note-off without one.
        if (pong.value("wifi_stale_events", 0) == 0) {
            EXPECT_EQ(tally.unknown, 0u);
        }
    }
    EXPECT_GE(int64_t(tally.recorded) * 100, all * 95);
    EXPECT_LE(int64_t(tally.recorded), all);
    // A held note may still sound only where a message the helper sent was dropped on the way:
    // with everything delivered, every one has ended.
    EXPECT_LE(int64_t(tally.lastHeldSounding), all - int64_t(tally.recorded));
    EXPECT_EQ(tally.outOfOrder, 0u);
    EXPECT_EQ(capture.overflowed(), 0u);
}

TEST_F(HelperOnPipeWire, AtThePeerLimitsEveryMessageArrivesInOrderAndEveryHeldNoteEnds)
{
    playAtThePeerLimits();
}

// What a desktop is busy with that spinning loops do not reproduce: many compilers at once.
TEST_F(HelperOnPipeWire, BesideAParallelBuildEveryMessageArrivesInOrderAndEveryHeldNoteEnds)
{
    ParallelBuild build;
    ASSERT_TRUE(build.running());
    playAtThePeerLimits();
}

TEST_F(HelperOnPipeWire, ACycleTheUserChoseIsKeptAndALongOneIsReported)
{
    auto helper = startHelper(freePort(), {"PIPEWIRE_QUANTUM=1024/48000"});
    auto ready = helper->waitFor("ready");
    ASSERT_TRUE(ready);
    ASSERT_EQ((*ready)["warnings"].size(), 1u) << (*ready)["warnings"];
    const std::string warning = (*ready)["warnings"][0];
    EXPECT_NE(warning.find("cycles of 1024 frames at 48000 Hz (21.3 ms)"), std::string::npos) << warning;
    EXPECT_NE(warning.find("PIPEWIRE_LATENCY=256/48000"), std::string::npos) << warning;
    MidiCapture capture(pipewire.name());
    ASSERT_TRUE(capture.ok());
    EXPECT_EQ(capture.bufferFrames(), 1024u);
    helper->writeLine("quit");
    EXPECT_EQ(helper->waitExit(10s), 0);
}

} // namespace
} // namespace norv::test
