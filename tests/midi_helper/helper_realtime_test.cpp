// The built helper's threads as the kernel sees them: names, scheduling, wake-ups when idle.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include "tests/support/midi_helper/helper_process.h"
#include "tests/support/midi_helper/helper_wire.h"
#include "tests/support/midi_helper/jack_test_server.h"

namespace norv::test {
namespace {

using namespace std::chrono_literals;

constexpr int kSchedOther = 0;
constexpr int kSchedFifo = 1;

struct ThreadState {
    pid_t tid = 0;
    std::string name;
    int policy = -1;
    int priority = 0;
    uint64_t cpuTicks = 0;
    uint64_t switches = 0;
};

std::string firstLine(const std::filesystem::path& path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

// Every thread of `pid` from /proc/<pid>/task.
std::vector<ThreadState> threadsOf(pid_t pid)
{
    std::vector<ThreadState> threads;
    std::error_code ignored;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ignored)) {
        ThreadState state;
        state.tid = pid_t(std::stoi(task.path().filename()));
        state.name = firstLine(task.path() / "comm");
        // The fields after the name, from the third ("state") on.
        const std::string stat = firstLine(task.path() / "stat");
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::vector<std::string> field{std::istream_iterator<std::string>(fields), {}};
        if (field.size() < 39)
            continue; // the thread ended while being read
        state.cpuTicks = std::stoull(field[14 - 3]) + std::stoull(field[15 - 3]);
        state.priority = std::stoi(field[40 - 3]);
        state.policy = std::stoi(field[41 - 3]);
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                state.switches += std::stoull(line.substr(line.find(':') + 1));
        }
        threads.push_back(state);
    }
    return threads;
}

std::optional<ThreadState> threadNamed(pid_t pid, const std::string& name)
{
    for (const auto& thread : threadsOf(pid)) {
        if (thread.name == name)
            return thread;
    }
    return std::nullopt;
}

size_t occurrences(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

constexpr const char* kRefusal = "the MIDI loop runs without real-time priority";

class HelperRealtime : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!jack.running())
            FAIL() << "JACK server did not start: " << jack.failure();
    }

    JackTestServer jack;
};

TEST_F(HelperRealtime, TheLoopRunsRealTimeBelowJackUnderItsNameAndSleepsWhenIdle)
{
    rlimit limit{};
    ::getrlimit(RLIMIT_RTPRIO, &limit);
    if (::geteuid() != 0 && limit.rlim_cur < 4)
        GTEST_SKIP() << "this user may not run threads real-time";
    HelperProcess helper({"--udp-host", "127.0.0.1", "--udp-port", std::to_string(freePort())}, jack.name(),
                         HelperProcess::Launch::capturingError());
    ASSERT_TRUE(helper.waitFor("ready"));
    helper.writeLine("ping"); // answered once the input reader runs
    ASSERT_TRUE(helper.waitFor("pong"));

    // The test server runs JACK without real-time threads: the loop stays below JACK's default for
    // its clients (5).
    auto loop = threadNamed(helper.pid(), "norv-loop");
    ASSERT_TRUE(loop);
    EXPECT_EQ(loop->policy, kSchedFifo);
    EXPECT_EQ(loop->priority, 4);
    for (const char* ordinary : {"norv-writer", "norv-input"}) {
        auto thread = threadNamed(helper.pid(), ordinary);
        ASSERT_TRUE(thread) << ordinary;
        EXPECT_EQ(thread->policy, kSchedOther) << ordinary;
    }
    // The main thread keeps the program's name: ps, pgrep and killall go by it.
    for (const auto& thread : threadsOf(helper.pid())) {
        if (thread.tid == helper.pid()) {
            EXPECT_EQ(thread.name, "NorvMIDIHelper");
        }
    }

    // With nothing to do the loop sleeps: the watchdog wakes it four times a second, nothing spins.
    const auto before = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(1s);
    auto idle = threadNamed(helper.pid(), "norv-loop");
    ASSERT_TRUE(idle);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    EXPECT_LE(double(idle->switches - loop->switches), 10 * seconds);
    EXPECT_LE(idle->cpuTicks - loop->cpuTicks, 5u); // 50 ms of CPU at most

    helper.writeLine("quit");
    EXPECT_EQ(helper.waitExit(), 0);
    EXPECT_EQ(helper.readError().find(kRefusal), std::string::npos);
}

TEST_F(HelperRealtime, WithoutPermissionTheHelperWorksAndSaysSoOnce)
{
    // No real-time limit, no CAP_SYS_NICE even for root, and no system bus to find RealtimeKit on.
    HelperProcess::Launch launch{.through = {"prlimit", "--rtprio=0:0", "--"},
                                 .environment = {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/norv-test-bus"},
                                 .captureError = true};
    if (::geteuid() == 0)
        launch.through.insert(launch.through.end(), {"setpriv", "--bounding-set", "-sys_nice", "--"});
    HelperProcess helper({"--udp-host", "127.0.0.1", "--udp-port", std::to_string(freePort())}, jack.name(), launch);
    auto ready = helper.waitFor("ready");
    ASSERT_TRUE(ready);
    EXPECT_EQ((*ready)["warnings"], nlohmann::json::array());
    helper.writeLine("ping");
    ASSERT_TRUE(helper.waitFor("pong"));
    auto loop = threadNamed(helper.pid(), "norv-loop");
    ASSERT_TRUE(loop);
    EXPECT_EQ(loop->policy, kSchedOther);

    helper.writeLine("quit");
    EXPECT_EQ(helper.waitExit(), 0);
    const std::string error = helper.readError();
    EXPECT_EQ(occurrences(error, kRefusal), 1u) << error;
    EXPECT_NE(error.find("SCHED_FIFO: Operation not permitted"), std::string::npos) << error;
    EXPECT_NE(error.find("RealtimeKit: no system bus"), std::string::npos) << error;
}

} // namespace
} // namespace norv::test
