// The socket channel over a SOCK_SEQPACKET socket pair: whole packets, data before the end,
// a full socket holding writes back until it drains, and a packet past the L2CAP limit. The
// stand-in family reads in the kernel's order: a hang-up before the packets still queued.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bluetooth/socket_l2cap_channel.h"
#include "tests/support/bluetooth/loopback_engine.h"
#include "tests/support/user_locale.h"

namespace norv {
namespace {

using test::waitUntil;

class SocketL2capChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
        central = fds[1];
        channel = SocketL2capChannel::adopt(fds[0], 0x80, QUuid::createUuid(), 1024, family());
        channel->inputStream().setEventHandler(
            [this](BluetoothStreamEvent e) { inputEvents.push_back(e); });
        channel->outputStream().setEventHandler(
            [this](BluetoothStreamEvent e) { outputEvents.push_back(e); });
        channel->inputStream().open();
        channel->outputStream().open();
    }
    void TearDown() override {
        channel.reset();
        if (central >= 0) ::close(central);
        test::settle();
    }
    virtual SocketL2capChannel::Family family() const { return SocketL2capChannel::Family::kernel; }
    bool sendPacket(std::size_t size, char fill) {
        const QByteArray packet(static_cast<qsizetype>(size), fill);
        return ::send(central, packet.constData(), packet.size(), 0) == packet.size();
    }
    bool inputSaw(BluetoothStreamEvent event) {
        return waitUntil([&] {
            return std::find(inputEvents.begin(), inputEvents.end(), event) != inputEvents.end();
        });
    }
    QByteArray readAll() {
        QByteArray got;
        std::uint8_t buffer[4096];
        while (channel->inputStream().hasBytesAvailable()) {
            const long n = channel->inputStream().read(buffer, sizeof buffer);
            if (n <= 0) break;
            got.append(reinterpret_cast<const char*>(buffer), n);
        }
        return got;
    }

    int central = -1;
    std::shared_ptr<SocketL2capChannel> channel;
    std::vector<BluetoothStreamEvent> inputEvents;
    std::vector<BluetoothStreamEvent> outputEvents;
};

TEST_F(SocketL2capChannelTest, APacketIsHandedOutWholeAndTheEndOnlyAfterIt) {
    const QByteArray packet(10000, 'p');
    ASSERT_EQ(::send(central, packet.constData(), packet.size(), 0), packet.size());
    ::shutdown(central, SHUT_WR);
    ASSERT_TRUE(inputSaw(BluetoothStreamEvent::hasBytesAvailable));
    EXPECT_EQ(
        std::count(inputEvents.begin(), inputEvents.end(), BluetoothStreamEvent::endEncountered), 0)
        << "the end waits until the buffered packet is read";
    EXPECT_EQ(readAll(), packet) << "three reads of at most 4,096 bytes give the one packet";
    EXPECT_TRUE(inputSaw(BluetoothStreamEvent::endEncountered));
}

TEST_F(SocketL2capChannelTest, WritesAreMtuSizedPacketsAndWaitForRoom) {
    int receiveBuffer = 4096;  // the central reads slowly
    ::setsockopt(central, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    ASSERT_TRUE(waitUntil([&] { return !outputEvents.empty(); }));
    auto& output = channel->outputStream();
    const std::vector<std::uint8_t> bytes(3000, 'w');
    EXPECT_EQ(output.write(bytes.data(), bytes.size()), 1024) << "one packet of the send MTU";
    long taken = 1;
    int writes = 0;
    while (taken > 0 && writes++ < 10000) taken = output.write(bytes.data(), bytes.size());
    ASSERT_EQ(taken, 0) << "a full socket takes nothing";
    EXPECT_FALSE(output.hasSpaceAvailable());
    outputEvents.clear();

    char drain[65536];
    while (::recv(central, drain, sizeof drain, MSG_DONTWAIT) > 0) {
    }
    ASSERT_TRUE(waitUntil([&] { return !outputEvents.empty(); }));
    EXPECT_EQ(outputEvents.front(), BluetoothStreamEvent::hasSpaceAvailable);
    EXPECT_TRUE(output.hasSpaceAvailable());
}

TEST_F(SocketL2capChannelTest, APacketPastTheL2capLimitFailsTheChannel) {
    int size = 1 << 20;
    ::setsockopt(central, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    const QByteArray packet(70000, 'x');
    ASSERT_EQ(::send(central, packet.constData(), packet.size(), 0), packet.size());
    ASSERT_TRUE(inputSaw(BluetoothStreamEvent::errorOccurred));
    EXPECT_EQ(channel->inputStream().error(), "packet larger than 65536 bytes");
}

class StandInL2capChannelTest : public SocketL2capChannelTest {
protected:
    SocketL2capChannel::Family family() const override {
        return SocketL2capChannel::Family::standIn;
    }
};

TEST_F(StandInL2capChannelTest, PacketsQueuedAtTheHangUpAreHandedOutBeforeTheEnd) {
    // The stand-in reports the hang-up first, once, as the kernel does, while three packets wait
    // and a packet to the central lies unread.
    ASSERT_TRUE(waitUntil([&] { return !outputEvents.empty(); }));
    const std::uint8_t unread[] = {'u', 'n', 'r', 'e', 'a', 'd'};
    ASSERT_EQ(channel->outputStream().write(unread, sizeof unread), 6);
    for (const char fill : {'a', 'b', 'c'}) ASSERT_TRUE(sendPacket(600, fill));
    ::close(central);
    central = -1;
    ASSERT_TRUE(inputSaw(BluetoothStreamEvent::hasBytesAvailable));
    EXPECT_EQ(channel->outputStream().write(unread, sizeof unread), -1);
    EXPECT_FALSE(channel->outputStream().hasSpaceAvailable());
    EXPECT_EQ(readAll(), QByteArray(600, 'a') + QByteArray(600, 'b') + QByteArray(600, 'c'))
        << "a failed write leaves the input alone";
    ASSERT_TRUE(inputSaw(BluetoothStreamEvent::errorOccurred));
    EXPECT_EQ(channel->inputStream().error(), "Connection reset by peer");
}

TEST_F(StandInL2capChannelTest, APacketOverTheIncomingMtuResetsTheChannel) {
    ASSERT_TRUE(sendPacket(SocketL2capChannel::standInIncomingMtu, 'm'));
    ASSERT_TRUE(sendPacket(SocketL2capChannel::standInIncomingMtu + 1, 'x'));
    ASSERT_TRUE(inputSaw(BluetoothStreamEvent::hasBytesAvailable));
    EXPECT_EQ(readAll(), QByteArray(672, 'm'));
    ASSERT_TRUE(inputSaw(BluetoothStreamEvent::errorOccurred));
    EXPECT_EQ(channel->inputStream().error(), "Connection reset by peer");
    char byte = 0;
    EXPECT_EQ(::recv(central, &byte, 1, MSG_DONTWAIT), 0) << "the central is cut off";
}

// The reason goes into English close reasons: a German desktop gets it in English too.
TEST_F(StandInL2capChannelTest, TheResetReadsInEnglishUnderAGermanLocale) {
    test::UserLocale german("de_DE.UTF-8");
    if (!german.available()) GTEST_SKIP() << test::localeMissing("de_DE.UTF-8");
    ASSERT_TRUE(sendPacket(SocketL2capChannel::standInIncomingMtu + 1, 'x'));
    ASSERT_TRUE(inputSaw(BluetoothStreamEvent::errorOccurred));
    EXPECT_EQ(channel->inputStream().error(), "Connection reset by peer");
}

}  // namespace
}  // namespace norv
