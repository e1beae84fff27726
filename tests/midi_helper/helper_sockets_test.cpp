#include <gtest/gtest.h>

#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "midi_helper/event_loop.h"
#include "midi_helper/helper_error.h"
#include "midi_helper/helper_sockets.h"
#include "midi_helper/json_output.h"
#include "midi_helper/line_reader.h"
#include "midi_helper/memory_midi_port.h"
#include "midi_helper/native_midi_bridge.h"

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
    std::string failure(const std::string& directory, const std::string& name = "clock.sock")
    {
        try {
            sockets.makePrivateSocket(directory, name, SOCK_DGRAM);
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
    // Bound already (by us or anyone): never replaced.
    EXPECT_EQ(failure(real), "Private MIDI socket bind/" + std::to_string(EADDRINUSE));
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
