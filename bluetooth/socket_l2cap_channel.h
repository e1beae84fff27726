#pragma once

#include <sys/socket.h>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <QUuid>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "bluetooth/codec/bluetooth_bytes.h"
#include "bluetooth/bluetooth_l2cap_channel.h"
#include "bluetooth/bluetooth_stream_pair.h"

namespace norv {

// An accepted connection-oriented L2CAP channel on a non-blocking SOCK_SEQPACKET socket (the
// kernel's Bluetooth family, or AF_UNIX standing in for it), presented as the two byte streams
// the pipe expects. Each packet from the central is buffered whole and handed out in reads of any
// size; while buffered bytes wait, the socket is not read, so the central is held back. Each write
// sends one packet of at most the channel's send MTU. The channel owns the socket and closes it
// once both streams are closed, or when it is destroyed. Event-loop thread only.
//
// The kernel reports a hang-up (a read of 0, or ECONNRESET when the link is lost) while the
// central's last packets may still be queued; they are all read before the end is reported, and
// the end comes only once they have been handed out.
//
// The stand-in family reads as the kernel's LE L2CAP socket would, which AF_UNIX does not by
// itself: a hang-up with packets still queued is reported first, as ECONNRESET, once; and a packet
// larger than the incoming MTU the kernel grants by default (672 bytes) resets the channel.
// It also sends as the kernel does on credits: its central gives one credit, back once it has
// read everything sent, so the next packet waits in the channel (`unsentBytes`) and further
// writes take nothing; closing the channel drops a packet still waiting.
class SocketL2capChannel : public BluetoothL2capChannel,
                           public std::enable_shared_from_this<SocketL2capChannel> {
public:
    enum class Family { kernel, standIn };

    // Takes ownership of `fd`, which must be non-blocking.
    static std::shared_ptr<SocketL2capChannel> adopt(int fd, std::uint16_t psm, QUuid peer,
                                                     std::size_t sendMtu,
                                                     Family family = Family::kernel);
    ~SocketL2capChannel() override;

    std::uint16_t psm() const override { return psm_; }
    QUuid peerId() const override { return peer_; }
    BluetoothInputStream& inputStream() override;
    BluetoothOutputStream& outputStream() override;

    // The largest packet accepted from a central (an L2CAP SDU is at most 65,535 bytes).
    static constexpr std::size_t receiveLimit = 65536;
    // The incoming MTU of a stand-in channel: the kernel's default for LE L2CAP channels.
    static constexpr std::size_t standInIncomingMtu = 672;

private:
    class Input;
    class Output;
    friend class Input;
    friend class Output;

    // What one read of the socket gave.
    enum class Read { packet, emptyPacket, nothing, tooLarge, end, failed };

    SocketL2capChannel(int fd, std::uint16_t psm, QUuid peer, std::size_t sendMtu, Family family);
    void receivePacket();
    // Reads one packet without waiting and appends it to `received_`; `error` is set on failure.
    Read readPacket(int& error);
    ssize_t receive(msghdr& message);
    // The central has gone: what it sent before is read, then the end (or `error`) follows it.
    void drainAndEnd(std::optional<std::string> error);
    // The end, once every received byte has been handed out.
    BluetoothStreamEvent endEvent();
    using Side = BluetoothStreamPair::Side;
    void deliver(Side side, BluetoothStreamEvent event) { streams_.deliver(side, event); }
    void post(Side side, BluetoothStreamEvent event) { streams_.post(weak_from_this(), side, event); }
    void fail(const std::string& error);
    void closeIfDone();
    // Stand-in: keeps the packet back when the central has no credit to give.
    bool holdForCredit(const std::uint8_t* bytes, std::size_t count);
    void pollCredit();
    // Kernel: what the send buffer holds (SIOCOUTQ tells its free room); stand-in: the held packet.
    std::size_t unsentBytes() const;

    int fd_;
    std::uint16_t psm_;
    QUuid peer_;
    std::size_t sendMtu_;
    std::unique_ptr<QSocketNotifier> readable_;
    std::unique_ptr<QSocketNotifier> writable_;
    std::unique_ptr<Input> input_;
    std::unique_ptr<Output> output_;
    BluetoothStreamPair streams_;
    BluetoothBytes received_;
    std::size_t readOffset_ = 0;
    std::optional<std::string> error_;       // the channel failed, or the input's end error
    std::optional<std::string> writeError_;  // a write failed: the output only
    std::optional<std::string> endError_;    // reported as the stream's error after the last bytes
    bool ended_ = false;
    Family family_;
    bool standInHangUpReported_ = false;
    bool standInReset_ = false;
    bool spaceAvailable_ = true;
    std::unique_ptr<QTimer> credit_;  // stand-in only: looks for the central's credit
    BluetoothBytes held_;             // stand-in only: the packet waiting for it
};

}  // namespace norv
