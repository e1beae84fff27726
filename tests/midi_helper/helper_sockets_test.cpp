#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "midi_helper/event_loop.h"
#include "midi_helper/helper_error.h"
#include "midi_helper/helper_sockets.h"
#include "midi_helper/json_output.h"
#include "midi_helper/line_reader.h"
#include "midi_helper/manual_scheduler.h"
#include "midi_helper/memory_midi_port.h"
#include "midi_helper/native_midi_bridge.h"
#include "midi_helper/unique_fd.h"
#include "support/midi_helper/helper_wire.h"

#include <pthread.h>
#include <thread>

namespace norv {
namespace {

class PrivateFolder : public ::testing::Test {
protected:
    PrivateFolder()
        : output([](const std::string&, auto) { return true; })
        , bridge(HelperConfig{}, loop, port, output)
        , sockets(bridge, loop, output)
    {
        char pattern[] = "/tmp/norv-folder-XXXXXX";
        folder = ::mkdtemp(pattern);
    }
    ~PrivateFolder() override { std::filesystem::remove_all(folder); }

    // The error domain a private socket in `directory` fails with, or "" on success.
    std::string failure(const std::string& directory, const std::string& name = "clock.sock", int type = SOCK_DGRAM)
    {
        try {
            sockets.makePrivateSocket(directory, name, type);
            return "";
        } catch (const HelperError& error) {
            return error.domain() + "/" + std::to_string(error.code());
        }
    }

    EventLoop loop;
    MemoryMidiPort port;
    JsonOutput output;
    NativeMidiBridge bridge;
    HelperSockets sockets;
    std::string folder;
};

TEST_F(PrivateFolder, OnlyAPrivateRealFolderOfTheUserIsAccepted)
{
    EXPECT_EQ(failure(folder), "");
    EXPECT_EQ(failure(folder, "other.sock"), "Private MIDI directory/13");
    EXPECT_EQ(failure("relative/dir"), "Private MIDI directory/13");
    EXPECT_EQ(failure(folder + "/missing"), "Private MIDI directory/13");

    const std::string open = folder + "/open";
    ::mkdir(open.c_str(), 0755);
    ::chmod(open.c_str(), 0755);
    EXPECT_EQ(failure(open), "Private MIDI directory/13");

    const std::string real = folder + "/real";
    ::mkdir(real.c_str(), 0700);
    const std::string link = folder + "/link";
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    EXPECT_EQ(failure(link), "Private MIDI directory/13");
    EXPECT_EQ(failure(real), "");
}

TEST_F(PrivateFolder, AKilledHelpersSocketsAreReplacedButNeverALiveSocketOrAnotherFile)
{
    const std::string inUse = "Private MIDI socket bind/" + std::to_string(EADDRINUSE);
    {
        UniqueFd clock = sockets.makePrivateSocket(folder, "clock.sock", SOCK_DGRAM);
        UniqueFd midi = sockets.makePrivateSocket(folder, "midi.sock", SOCK_STREAM);
        ASSERT_EQ(::listen(midi.get(), 1), 0);
        EXPECT_EQ(failure(folder), inUse);
        EXPECT_EQ(failure(folder, "midi.sock", SOCK_STREAM), inUse);
    }
    // Closed without removing their files, as when the helper is killed: nobody listens.
    EXPECT_EQ(failure(folder), "");
    EXPECT_EQ(failure(folder, "midi.sock", SOCK_STREAM), "");

    const std::string other = folder + "/other";
    ::mkdir(other.c_str(), 0700);
    std::ofstream(other + "/clock.sock") << "not a socket";
    EXPECT_EQ(failure(other), inUse);
    EXPECT_TRUE(std::filesystem::is_regular_file(other + "/clock.sock"));
}

TEST_F(PrivateFolder, SocketPathsFitInOneHundredAndFourBytes)
{
    auto nested = [&](size_t length) {
        std::string path = folder + "/";
        path.append(length - path.size(), 'd');
        ::mkdir(path.c_str(), 0700);
        return path;
    };
    const std::string fits = nested(92); // + "/clock.sock" = 103 bytes
    ASSERT_EQ(fits.size(), 92u);
    EXPECT_EQ(failure(fits), "");
    EXPECT_EQ(failure(nested(93)), "Private MIDI socket path/63");

    // Shutdown removes what this process bound, and only that.
    sockets.shutdown();
    EXPECT_FALSE(std::filesystem::exists(fits + "/clock.sock"));
}

TEST(HelperSockets, RunningOutOfDescriptorsPausesAcceptingInsteadOfSpinning)
{
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer runtimes open pipes for their own checks; with no descriptor left they
    // report false errors. The plain build runs this.
    GTEST_SKIP() << "needs a build without sanitizers";
#endif
    EventLoop loop;
    MemoryMidiPort port;
    JsonOutput output([](const std::string&, auto) { return true; });
    HelperConfig config;
    config.udpHost = "127.0.0.1";
    config.udpPort = test::freePort();
    NativeMidiBridge bridge(config, loop, port, output);
    HelperSockets sockets(bridge, loop, output);
    sockets.start();
    std::thread thread([&] { loop.run(); });

    UniqueFd client(::socket(AF_INET, SOCK_STREAM, 0));
    rlimit original{};
    ::getrlimit(RLIMIT_NOFILE, &original);
    rlimit tight = original;
    tight.rlim_cur = rlim_t(client.get() + 1); // no descriptor left for accept
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(config.udpPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    // The loop thread's CPU time, read from here without touching the loop.
    clockid_t loopClock{};
    ASSERT_EQ(::pthread_getcpuclockid(thread.native_handle(), &loopClock), 0);
    auto threadCpu = [&] {
        timespec ts{};
        ::clock_gettime(loopClock, &ts);
        return uint64_t(ts.tv_sec) * 1'000'000'000ull + uint64_t(ts.tv_nsec);
    };
    const uint64_t before = threadCpu();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const uint64_t used = threadCpu() - before;
    ::setrlimit(RLIMIT_NOFILE, &original);
    EXPECT_LT(used, 40'000'000u) << "the loop spun on the listener";

    // With descriptors back, the waiting connection is taken.
    size_t peers = 0;
    for (int i = 0; i < 100 && peers == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        loop.runSync([&] { peers = bridge.peerCount(); }, std::chrono::seconds(5));
    }
    EXPECT_EQ(peers, 1u);
    loop.runSync([&] { sockets.shutdown(); }, std::chrono::seconds(5));
    loop.stop();
    thread.join();
}

TEST(HelperSockets, WithEverySlotFramedTheLongestSilentPeerWithNothingSoundingGivesWayAfterTenSeconds)
{
    using namespace std::chrono_literals;
    EventLoop loop;
    ManualScheduler clock; // the bridge's time; the loop only carries the sockets
    MemoryMidiPort port;
    JsonOutput output([](const std::string&, auto) { return true; });
    HelperConfig config;
    config.udpHost = "127.0.0.1";
    config.udpPort = test::freePort();
    NativeMidiBridge bridge(config, clock, port, output);
    HelperSockets sockets(bridge, loop, output);
    sockets.start();
    std::thread thread([&] { loop.run(); });
    auto onLoop = [&](auto work) {
        decltype(work()) result{};
        loop.runSync([&] { result = work(); }, 5s);
        return result;
    };
    auto eventually = [&](auto condition) {
        for (int i = 0; i < 300 && !onLoop(condition); ++i)
            std::this_thread::sleep_for(10ms);
        return onLoop(condition);
    };
    auto advance = [&](uint64_t ns) { loop.runSync([&] { clock.advance(ns); }, 5s); };
    auto closed = [](int fd, int ms) {
        pollfd pfd{fd, POLLIN, 0};
        char byte;
        return ::poll(&pfd, 1, ms) == 1 && ::recv(fd, &byte, 1, 0) == 0;
    };

    std::vector<UniqueFd> clients;
    for (int i = 0; i < 8; ++i)
        clients.push_back(test::connectTcp("127.0.0.1", config.udpPort));
    ASSERT_TRUE(eventually([&] { return bridge.peerCount() == 8; }));
    // Each sends one frame: the oldest holds a note, the second is silent longest with none.
    int64_t sent = 0;
    for (int i = 0; i < 8; ++i) {
        const uint8_t phase = i == 0 ? 1 : 2;
        const test::Bytes note = test::frame(test::packet("NPM2", {phase, 60, 100, 1}));
        ASSERT_EQ(::send(clients[size_t(i)].get(), note.data(), note.size(), MSG_NOSIGNAL), 12);
        ASSERT_TRUE(eventually([&] { return bridge.sentCount() == sent + 1; }));
        sent = bridge.sentCount();
        if (i < 2)
            advance(1'000'000'000);
    }

    // Ten seconds of silence are not yet past the bound: a newcomer is closed at once.
    advance(9'000'000'000);
    UniqueFd early = test::connectTcp("127.0.0.1", config.udpPort);
    EXPECT_TRUE(closed(early.get(), 3000));

    advance(1'500'000'000);
    UniqueFd late = test::connectTcp("127.0.0.1", config.udpPort);
    EXPECT_TRUE(closed(clients[1].get(), 3000));
    EXPECT_EQ(onLoop([&] { return bridge.peerCount(); }), 8u); // the newcomer took its slot

    loop.runSync([&] { sockets.shutdown(); }, 5s);
    loop.stop();
    thread.join();
}

// The helper's sockets on loopback with the bridge on virtual time, so a minute passes at once;
// the loop thread carries the sockets and the watchdog. Clients connect from several hosts: every
// 127/8 address is this machine.
class SlotsOnLoopback : public ::testing::Test {
protected:
    SlotsOnLoopback()
        : output([](const std::string&, auto) { return true; })
        , bridge(config(udpPort), clock, port, output)
        , sockets(bridge, loop, output)
    {
        sockets.start();
        thread = std::thread([this] { loop.run(); });
    }
    ~SlotsOnLoopback() override
    {
        loop.runSync([&] { sockets.shutdown(); }, std::chrono::seconds(5));
        loop.stop();
        thread.join();
    }

    static HelperConfig config(int udpPort)
    {
        HelperConfig config;
        config.udpHost = "127.0.0.1";
        config.udpPort = udpPort;
        return config;
    }
    template <typename Work>
    auto onLoop(Work work)
    {
        decltype(work()) result{};
        loop.runSync([&] { result = work(); }, std::chrono::seconds(5));
        return result;
    }
    template <typename Condition>
    bool eventually(Condition condition)
    {
        for (int i = 0; i < 300 && !onLoop(condition); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return onLoop(condition);
    }
    void advance(uint64_t ns)
    {
        loop.runSync([&] { clock.advance(ns); }, std::chrono::seconds(5));
    }
    UniqueFd connectFrom(const char* host)
    {
        UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
        const sockaddr_in local = test::ipv4(host, 0);
        const sockaddr_in helper = test::ipv4("127.0.0.1", udpPort);
        if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
            ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&helper), sizeof helper) != 0)
            ADD_FAILURE() << "no connection from " << host;
        return fd;
    }
    // Sends one NPM2 note and waits until the helper has sent it on.
    void play(int fd, uint8_t phase, uint8_t pitch)
    {
        const int64_t before = onLoop([&] { return bridge.sentCount(); });
        const test::Bytes note = test::frame(test::packet("NPM2", {phase, pitch, 100, 1}));
        ASSERT_EQ(::send(fd, note.data(), note.size(), MSG_NOSIGNAL), 12);
        ASSERT_TRUE(eventually([&] { return bridge.sentCount() > before; }));
    }
    // Seconds pass; `beating` sends a heartbeat each second, as a device does, and gets its echo.
    void pass(int seconds, int beating)
    {
        const test::Bytes heartbeat = test::frame(test::packet("NPM8", {}));
        for (int i = 0; i < seconds; ++i) {
            advance(1'000'000'000);
            ASSERT_EQ(::send(beating, heartbeat.data(), heartbeat.size(), MSG_NOSIGNAL), 12);
            pollfd pfd{beating, POLLIN, 0};
            test::Bytes echo(12);
            ASSERT_EQ(::poll(&pfd, 1, 3000), 1);
            ASSERT_EQ(::recv(beating, echo.data(), echo.size(), MSG_WAITALL), 12);
        }
    }
    // The helper closed `fd` within `ms`.
    static bool closed(int fd, int ms)
    {
        pollfd pfd{fd, POLLIN, 0};
        char byte;
        return ::poll(&pfd, 1, ms) == 1 && ::recv(fd, &byte, 1, 0) == 0;
    }
    std::vector<test::Bytes> sentSince(size_t from)
    {
        return onLoop([&] {
            std::vector<test::Bytes> sent;
            for (size_t i = from; i < port.sent.size(); ++i)
                sent.push_back(port.sent[i].bytes);
            return sent;
        });
    }

    const int udpPort = test::freePort();
    EventLoop loop;
    ManualScheduler clock;
    MemoryMidiPort port;
    JsonOutput output;
    NativeMidiBridge bridge;
    HelperSockets sockets;
    std::thread thread;
};

TEST_F(SlotsOnLoopback, TheHostWithTheMostSlotsGivesWayAndItsSilentHoldersLoseTheirNotesAfterAMinute)
{
    using namespace std::chrono_literals;
    // A player that beats and holds a note, an idle controller of another host, and six sockets of
    // a third host that each hold a note and say nothing more: every slot is taken.
    UniqueFd player = connectFrom("127.0.0.2");
    UniqueFd controller = connectFrom("127.0.0.3");
    std::vector<UniqueFd> holders;
    for (int i = 0; i < 6; ++i)
        holders.push_back(connectFrom("127.0.0.1"));
    ASSERT_TRUE(eventually([&] { return bridge.peerCount() == 8; }));
    play(player.get(), 1, 70);
    play(controller.get(), 1, 50);
    play(controller.get(), 2, 50);
    for (uint8_t i = 0; i < 6; ++i) {
        play(holders[i].get(), 1, uint8_t(60 + i));
        advance(1'000'000); // the first is silent longest
    }

    // Eleven seconds on, the controller is idle, but only the host with the most slots gives
    // way, and its sockets have not been silent long enough: the newcomer is refused.
    pass(11, player.get());
    UniqueFd refused = connectFrom("127.0.0.1");
    EXPECT_TRUE(closed(refused.get(), 3000));
    EXPECT_FALSE(closed(controller.get(), 100));

    // A minute on, the holder silent longest gives its slot to a newcomer of a fourth host, and
    // its note is released; the beating player keeps its slot and its note.
    pass(50, player.get());
    const size_t before = onLoop([&] { return port.sent.size(); });
    UniqueFd newcomer = connectFrom("127.0.0.4");
    EXPECT_TRUE(closed(holders[0].get(), 3000));
    EXPECT_EQ(sentSince(before), (std::vector<test::Bytes>{{0x90, 60, 0}}));
    EXPECT_EQ(onLoop([&] { return bridge.peerCount(); }), 8u);
    EXPECT_FALSE(closed(controller.get(), 100));
    EXPECT_FALSE(closed(holders[1].get(), 100));
    play(player.get(), 2, 70);
    const std::vector<test::Bytes> after = sentSince(before);
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after.back(), (test::Bytes{0x90, 70, 0}));
}

TEST(LineReader, BoundsLineLengthAndKeepsTheLastUnterminatedLine)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::string input = "ping\r\n" + std::string(LineReader::kMaxLine * 3, 'x') + "\nquit";
    std::thread writer([&] {
        [[maybe_unused]] auto n = ::write(fds[1], input.data(), input.size());
        ::close(fds[1]);
    });
    LineReader reader(fds[0]);
    auto first = reader.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->text, "ping");
    auto longLine = reader.next();
    ASSERT_TRUE(longLine);
    EXPECT_TRUE(longLine->overlong);
    EXPECT_TRUE(longLine->text.empty());
    auto last = reader.next();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->text, "quit");
    EXPECT_FALSE(last->overlong);
    EXPECT_FALSE(reader.next());
    writer.join();
    ::close(fds[0]);
}

} // namespace
} // namespace norv
