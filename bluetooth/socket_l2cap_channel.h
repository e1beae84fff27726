#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QUuid>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "bluetooth/codec/bluetooth_bytes.h"
#include "bluetooth/bluetooth_l2cap_channel.h"

namespace norv {

// An accepted connection-oriented L2CAP channel on a non-blocking SOCK_SEQPACKET socket (the
// kernel's Bluetooth family, or AF_UNIX standing in for it), presented as the two byte streams
// the pipe expects. Each packet from the central is buffered whole and handed out in reads of any
// size; while buffered bytes wait, the socket is not read, so the central is held back. Each write
// sends one packet of at most the channel's send MTU. The channel owns the socket and closes it
// once both streams are closed, or when it is destroyed. Event-loop thread only.
class SocketL2capChannel : public BluetoothL2capChannel,
                           public std::enable_shared_from_this<SocketL2capChannel> {
public:
    // Takes ownership of `fd`, which must be non-blocking.
    static std::shared_ptr<SocketL2capChannel> adopt(int fd, std::uint16_t psm, QUuid peer,
                                                     std::size_t sendMtu);
    ~SocketL2capChannel() override;

    std::uint16_t psm() const override { return psm_; }
    QUuid peerId() const override { return peer_; }
    BluetoothInputStream& inputStream() override;
    BluetoothOutputStream& outputStream() override;

    // The largest packet accepted from a central (an L2CAP SDU is at most 65,535 bytes).
    static constexpr std::size_t receiveLimit = 65536;

private:
    class Input;
    class Output;
    friend class Input;
    friend class Output;

    SocketL2capChannel(int fd, std::uint16_t psm, QUuid peer, std::size_t sendMtu);
    void receivePacket();
    void deliver(bool toInput, BluetoothStreamEvent event);
    void post(bool toInput, BluetoothStreamEvent event);
    void fail(const std::string& error);
    void closeIfDone();

    int fd_;
    std::uint16_t psm_;
    QUuid peer_;
    std::size_t sendMtu_;
    std::unique_ptr<QSocketNotifier> readable_;
    std::unique_ptr<QSocketNotifier> writable_;
    std::unique_ptr<Input> input_;
    std::unique_ptr<Output> output_;
    std::function<void(BluetoothStreamEvent)> inputHandler_;
    std::function<void(BluetoothStreamEvent)> outputHandler_;
    BluetoothBytes received_;
    std::size_t readOffset_ = 0;
    std::optional<std::string> error_;
    bool ended_ = false;
    bool inputOpen_ = false;
    bool outputOpen_ = false;
    bool inputClosed_ = false;
    bool outputClosed_ = false;
    bool spaceAvailable_ = true;
};

}  // namespace norv
