#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "midi_helper/event_loop.h"
#include "midi_helper/jack_midi_port.h"
#include "support/midi_helper/jack_test_server.h"
#include "tests/support/midi_helper/jack_midi_recorder.h"

namespace norv {
namespace {

// A port with its source on a server of the test's own.
class JackMidiPortOnServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.running()) << server.failure();
        ::setenv("JACK_DEFAULT_SERVER", server.name().c_str(), 1);
        ASSERT_EQ(port.openClient("norv-port-test"), 0);
        ASSERT_EQ(port.createSource("Norv"), 0);
    }

    test::JackTestServer server;
    JackMidiPort port;
};

TEST_F(JackMidiPortOnServer, MessagesAlreadyDueKeepTheirSpacing)
{
    test::JackMidiRecorder recorder(server.name());
    ASSERT_TRUE(recorder.ok());
    ASSERT_TRUE(recorder.connectFrom(port.sourcePortName()));

    // Retriggers handed over late: the release and the attack 1 ms after it are both due already.
    // 1 ms is 48 frames at 48 kHz; a 256-frame cycle has room for it.
    for (int i = 0; i < 8; ++i) {
        const uint64_t now = EventLoop::monotonicNs();
        const uint8_t off[3] = {0x90, 60, 0};
        const uint8_t on[3] = {0x90, 60, 100};
        ASSERT_EQ(port.send(off, now - 3'000'000), 0);
        ASSERT_EQ(port.send(on, now - 2'000'000), 0);
        auto first = recorder.next();
        auto second = recorder.next();
        ASSERT_TRUE(first && second);
        EXPECT_EQ(first->bytes, (std::vector<uint8_t>{0x90, 60, 0}));
        EXPECT_EQ(second->bytes, (std::vector<uint8_t>{0x90, 60, 100}));
        EXPECT_NEAR(double(second->frame - first->frame), 48.0, 1.0) << "pair " << i << " on frames " << first->frame << " and " << second->frame;
        std::this_thread::sleep_for(std::chrono::milliseconds(7 + i));
    }
    port.close(std::chrono::milliseconds(200));
}

TEST_F(JackMidiPortOnServer, AQueueFullOfOtherMessagesStillEndsASoundingNote)
{
    const uint8_t on[3] = {0x90, 60, 100}, off[3] = {0x90, 60, 0}, otherOff[3] = {0x80, 61, 64};
    ASSERT_EQ(port.send(on, EventLoop::monotonicNs()), 0);
    // Controllers due in a minute: the process thread holds what it can and takes no more.
    const uint8_t controller[3] = {0xB0, 7, 64};
    int sent = 0;
    while (sent < 100'000 && port.send(controller, EventLoop::monotonicNs() + 60'000'000'000ull) == 0)
        ++sent;
    ASSERT_LT(sent, 100'000);
    EXPECT_EQ(port.send(off, EventLoop::monotonicNs()), 0);
    // The room is for ending what sounds, once: other note-offs are refused like any message.
    EXPECT_NE(port.send(off, EventLoop::monotonicNs()), 0);
    EXPECT_NE(port.send(otherOff, EventLoop::monotonicNs()), 0);
    port.close(std::chrono::milliseconds(0));
}

} // namespace
} // namespace norv
