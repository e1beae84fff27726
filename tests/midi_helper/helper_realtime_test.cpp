// The built helper's threads as the kernel sees them: names, scheduling, wake-ups when idle.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/midi_helper/child_process.h"
#include "support/midi_helper/helper_wire.h"
#include "support/midi_helper/jack_test_server.h"
#include "tests/support/midi_helper/helper_process.h"
#include "tests/support/midi_helper/jack_midi_recorder.h"

extern char** environ;

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

// A private bus with the fake RealtimeKit on it (tests/fixtures/fake_realtimekit); both end with it.
class FakeRealtimeKit {
public:
    FakeRealtimeKit()
    {
        char pattern[] = "/tmp/norv-rtkit-XXXXXX";
        if (!::mkdtemp(pattern))
            return;
        folder_ = pattern;
        address_ = "unix:path=" + folder_ + "/bus";
        std::ofstream(folder_ + "/bus.conf") << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>)" << address_ << R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/></policy>
</busconfig>
)";
        daemon_ = spawn({"dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + folder_ + "/bus.conf"}, nullptr);
        for (int i = 0; i < 500 && !std::filesystem::exists(folder_ + "/bus"); ++i)
            std::this_thread::sleep_for(10ms);
        // Its standard output stays open while it runs: a write to a closed pipe would end it.
        fake_ = spawn({"/usr/bin/python3", NORV_FIXTURES_DIR "/fake_realtimekit/fake_realtimekit.py", address_}, &out_);
        std::string said;
        for (auto until = std::chrono::steady_clock::now() + 10s; out_ >= 0 && std::chrono::steady_clock::now() < until;) {
            pollfd pfd{out_, POLLIN, 0};
            char chunk[256];
            ssize_t n = ::poll(&pfd, 1, 100) > 0 ? ::read(out_, chunk, sizeof chunk) : -1;
            if (n == 0)
                break;
            if (n > 0 && (said += std::string(chunk, size_t(n))).find("ready\n") != std::string::npos) {
                ready_ = true;
                break;
            }
        }
    }
    ~FakeRealtimeKit()
    {
        stopChild(fake_);
        stopChild(daemon_);
        if (out_ >= 0)
            ::close(out_);
        if (!folder_.empty())
            std::filesystem::remove_all(folder_);
    }

    bool ready() const { return ready_; }
    const std::string& address() const { return address_; }

private:
    // Starts `args`; with `out`, its standard output comes back through a pipe.
    static pid_t spawn(std::vector<std::string> args, int* out)
    {
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int pipe[2] = {-1, -1};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (out && ::pipe2(pipe, O_CLOEXEC) == 0)
            posix_spawn_file_actions_adddup2(&actions, pipe[1], 1);
        pid_t pid = -1;
        if (::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (pipe[1] >= 0)
            ::close(pipe[1]);
        if (out)
            *out = pipe[0];
        return pid;
    }

    std::string folder_;
    std::string address_;
    pid_t daemon_ = -1;
    pid_t fake_ = -1;
    int out_ = -1;
    bool ready_ = false;
};

// The soft and hard "Max realtime timeout" of `pid`.
std::string realtimeTimeout(pid_t pid)
{
    std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
    for (std::string line; std::getline(limits, line);) {
        if (line.rfind("Max realtime timeout", 0) == 0) {
            std::istringstream fields(line.substr(std::string("Max realtime timeout").size()));
            std::string soft, hard;
            fields >> soft >> hard;
            return soft + " " + hard;
        }
    }
    return {};
}

// Starts the helper where it may not raise its own priority: no real-time limit, and for root no
// CAP_SYS_NICE either; `systemBus` is where it looks for RealtimeKit.
HelperProcess::Launch withoutDirectPermission(const std::string& systemBus)
{
    HelperProcess::Launch launch = HelperProcess::Launch::capturingError();
    launch.through = {"prlimit", "--rtprio=0:0", "--"};
    if (::geteuid() == 0)
        launch.through.insert(launch.through.end(), {"setpriv", "--bounding-set", "-sys_nice", "--"});
    launch.environment = {"DBUS_SYSTEM_BUS_ADDRESS=" + systemBus};
    return launch;
}

// The loop asks for real-time below JACK's process threads only when JACK runs them real-time.
class HelperRealtime : public ::testing::Test {
protected:
    void SetUp() override
    {
        rlimit limit{};
        ::getrlimit(RLIMIT_RTPRIO, &limit);
        if (::geteuid() != 0 && limit.rlim_cur < rlim_t(JackTestServer::kRealtimePriority))
            GTEST_SKIP() << "needs real-time scheduling for this user: a real-time priority limit "
                            "(RLIMIT_RTPRIO, now "
                         << limit.rlim_cur << ") of at least " << JackTestServer::kRealtimePriority
                         << ", as the audio group's limit gives its members (jackd2's "
                            "/etc/security/limits.d/audio.conf, then log in again), or RealtimeKit "
                            "granting it; CI runs these tests as root";
        if (!jack.running())
            FAIL() << "JACK server did not start: " << jack.failure();
    }

    JackTestServer jack{JackTestServer::Threads::Realtime};
};

// JACK runs its clients' process threads 5 below the server, and the loop goes one below those.
constexpr int kLoopPriority = JackTestServer::kRealtimePriority - 6;

TEST_F(HelperRealtime, TheLoopRunsRealTimeBelowJackUnderItsNameAndSleepsWhenIdle)
{
    HelperProcess helper({"--udp-host", "127.0.0.1", "--udp-port", std::to_string(freePort())}, jack.name(),
                         HelperProcess::Launch::capturingError());
    ASSERT_TRUE(helper.waitFor("ready"));
    helper.writeLine("ping"); // answered once the input reader runs
    ASSERT_TRUE(helper.waitFor("pong"));

    // Below JACK's process thread, which runs real-time in the helper too.
    auto loop = threadNamed(helper.pid(), "norv-loop");
    ASSERT_TRUE(loop);
    EXPECT_EQ(loop->policy, kSchedFifo);
    EXPECT_EQ(loop->priority, kLoopPriority);
    EXPECT_EQ(realtimeTimeout(helper.pid()), "unlimited unlimited"); // the direct way sets no limit
    // JACK's client threads, started from the loop, have a name of their own.
    size_t loops = 0;
    for (const auto& thread : threadsOf(helper.pid()))
        loops += thread.name == "norv-loop" ? 1 : 0;
    EXPECT_EQ(loops, 1u);
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
    // Nor is there a system bus to find RealtimeKit on.
    HelperProcess helper({"--udp-host", "127.0.0.1", "--udp-port", std::to_string(freePort())}, jack.name(),
                         withoutDirectPermission("unix:path=/nonexistent/norv-test-bus"));
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

TEST_F(HelperRealtime, RealtimeKitRaisesTheLoopWhenTheProcessMayNotAndTheRealTimeLimitIsSetAsItRequires)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "the fake RealtimeKit changes another process's scheduling only as root";
    FakeRealtimeKit kit;
    ASSERT_TRUE(kit.ready());
    HelperProcess helper({"--udp-host", "127.0.0.1", "--udp-port", std::to_string(freePort())}, jack.name(),
                         withoutDirectPermission(kit.address()));
    ASSERT_TRUE(helper.waitFor("ready"));
    auto loop = threadNamed(helper.pid(), "norv-loop");
    ASSERT_TRUE(loop);
    EXPECT_EQ(loop->policy, kSchedFifo);
    EXPECT_EQ(loop->priority, kLoopPriority);
    // RealtimeKit's RTTimeUSecMax, and SIGXCPU halfway there.
    EXPECT_EQ(realtimeTimeout(helper.pid()), "100000 200000");
    helper.writeLine("quit");
    EXPECT_EQ(helper.waitExit(), 0);
    const std::string error = helper.readError();
    EXPECT_EQ(error.find(kRefusal), std::string::npos) << error;
}

// Wi-Fi packets under `token`, each new and none with MIDI, until `until`: the helper answers every
// one, so they cost it more than the sender and its loop never catches up.
void flood(int port, uint32_t token, std::chrono::steady_clock::time_point until)
{
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM, 0));
    const sockaddr_in to = ipv4("127.0.0.1", port);
    ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to);
    WifiPacket wifi;
    wifi.token = token;
    std::vector<Bytes> packets(64, wifi.bytes());
    std::vector<iovec> data(packets.size());
    std::vector<mmsghdr> batch(packets.size());
    for (uint32_t sequence = 1; std::chrono::steady_clock::now() < until;) {
        for (size_t i = 0; i < packets.size(); ++i) {
            for (int b = 0; b < 4; ++b)
                packets[i][8 + size_t(b)] = uint8_t(sequence >> (24 - 8 * b));
            ++sequence;
            data[i] = {packets[i].data(), packets[i].size()};
            batch[i].msg_hdr.msg_iov = &data[i];
            batch[i].msg_hdr.msg_iovlen = 1;
        }
        ::sendmmsg(fd.get(), batch.data(), unsigned(batch.size()), MSG_DONTWAIT);
    }
}

// Sends `frame` on a stream whose reads time out after 1 s; with a heartbeat, true when it is echoed.
bool sendFrame(int stream, const Bytes& frame)
{
    if (::send(stream, frame.data(), frame.size(), MSG_NOSIGNAL) != ssize_t(frame.size()))
        return false;
    Bytes echo(frame.size());
    return frame[7] != '8' || (::recv(stream, echo.data(), echo.size(), MSG_WAITALL) == ssize_t(echo.size()) && echo == frame);
}

TEST_F(HelperRealtime, AFloodPastTheRealTimeLimitLeavesTheHelperAliveServingAndSilent)
{
    // The limit RealtimeKit sets: 200 ms of running without sleeping, then SIGKILL.
    const int port = freePort();
    HelperProcess::Launch launch = HelperProcess::Launch::capturingError();
    launch.through = {"prlimit", "--rttime=200000:200000", "--"};
    HelperProcess helper({"--udp-host", "127.0.0.1", "--udp-port", std::to_string(port)}, jack.name(), launch);
    ASSERT_TRUE(helper.waitFor("ready"));
    ASSERT_EQ(threadNamed(helper.pid(), "norv-loop").value_or(ThreadState{}).policy, kSchedFifo);
    EXPECT_EQ(realtimeTimeout(helper.pid()), "100000 200000");
    JackMidiRecorder recorder(jack.name());
    ASSERT_TRUE(recorder.connectFrom("Norv Bridge MIDI:Norv"));
    UniqueFd peer = connectTcp("127.0.0.1", port);
    const timeval second{1, 0};
    ::setsockopt(peer.get(), SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
    const Bytes heartbeat = frame(packet("NPM8", {}));
    ASSERT_TRUE(sendFrame(peer.get(), heartbeat));
    ASSERT_TRUE(sendFrame(peer.get(), frame(packet("NPM2", {1, 60, 100, 1}))));
    auto sounding = recorder.next();
    ASSERT_TRUE(sounding);
    EXPECT_EQ(sounding->bytes, Bytes({0x90, 60, 100}));

    // Four senders for 6 s; the peer beats four times a second and lets go of C4 halfway.
    const auto until = std::chrono::steady_clock::now() + 6s;
    std::vector<std::thread> senders;
    for (uint32_t token = 1; token <= 4; ++token)
        senders.emplace_back(flood, port, token, until);
    int beats = 0, echoed = 0;
    for (; std::chrono::steady_clock::now() < until; ++beats) {
        std::this_thread::sleep_for(250ms);
        echoed += sendFrame(peer.get(), heartbeat) ? 1 : 0;
        if (beats == 12) {
            EXPECT_TRUE(sendFrame(peer.get(), frame(packet("NPM2", {2, 60, 0, 1}))));
        }
    }
    for (auto& sender : senders)
        sender.join();

    ASSERT_FALSE(helper.waitExit(0ms)) << "the helper died in the flood";
    EXPECT_GE(echoed, beats / 2) << echoed << " of " << beats << " heartbeats answered in the flood";
    helper.writeLine("ping");
    auto pong = helper.waitFor("pong");
    ASSERT_TRUE(pong);
    EXPECT_EQ((*pong)["tcp_client_count"], 1);
    auto ended = recorder.next();
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->bytes, Bytes({0x90, 60, 0}));
    // Once it has mostly slept for a while, the loop is real-time again.
    ThreadState loop;
    for (int i = 0; i < 100 && loop.policy != kSchedFifo; ++i) {
        std::this_thread::sleep_for(50ms);
        loop = threadNamed(helper.pid(), "norv-loop").value_or(ThreadState{});
    }
    EXPECT_EQ(loop.policy, kSchedFifo);
    helper.writeLine("quit");
    EXPECT_EQ(helper.waitExit(), 0);
    const std::string error = helper.readError();
    EXPECT_EQ(occurrences(error, "ran past its real-time CPU limit"), 1u) << error;
}

TEST_F(HelperRealtime, ASystemBusThatNeverAnswersCannotHoldUpTheStart)
{
    // It takes the connection (into its backlog) and says nothing.
    const std::string path = std::filesystem::temp_directory_path() / ("norv-mute-bus-" + std::to_string(::getpid()));
    UniqueFd bus(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{AF_UNIX, {}};
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ::unlink(path.c_str()); // left by an earlier run that was killed
    ASSERT_EQ(::bind(bus.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(bus.get(), 8), 0);
    HelperProcess helper({"--udp-host", "127.0.0.1", "--udp-port", std::to_string(freePort())}, jack.name(),
                         withoutDirectPermission("unix:path=" + path));
    EXPECT_TRUE(helper.waitFor("ready", 4s)); // well within the start's own bound of 5 s
    helper.writeLine("quit");
    EXPECT_EQ(helper.waitExit(), 0);
    const std::string error = helper.readError();
    EXPECT_NE(error.find("RealtimeKit: the system bus did not answer in time"), std::string::npos) << error;
    ::unlink(path.c_str());
}

TEST(HelperUnderOrdinaryJack, TheLoopStaysOrdinaryAndSaysNothing)
{
    JackTestServer jack;
    ASSERT_TRUE(jack.running()) << jack.failure();
    HelperProcess helper({"--udp-host", "127.0.0.1", "--udp-port", std::to_string(freePort())}, jack.name(),
                         HelperProcess::Launch::capturingError());
    ASSERT_TRUE(helper.waitFor("ready"));
    EXPECT_EQ(threadNamed(helper.pid(), "norv-loop").value_or(ThreadState{}).policy, kSchedOther);
    helper.writeLine("quit");
    EXPECT_EQ(helper.waitExit(), 0);
    EXPECT_EQ(helper.readError().find(kRefusal), std::string::npos);
}

} // namespace
} // namespace norv::test
