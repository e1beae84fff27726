#pragma once

#include <QSocketNotifier>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>

#include "bluetooth/bluetooth_l2cap_channel.h"

namespace norv {

// A listening LE L2CAP connection-oriented socket whose accepted connections become channels.
//
// The kernel's kind: AF_BLUETOOTH, SOCK_SEQPACKET, BTPROTO_L2CAP, bound to any LE public address
// with PSM 0 so the kernel picks one, BT_SECURITY medium (encrypted link) or higher; the PSM is
// read back with getsockname. The stand-in kind: an AF_UNIX SOCK_SEQPACKET socket at
// `<folder>/<PSM as 4 hex digits>`, for machines without Bluetooth; a central is the process that
// connects (its peer credentials), and its channels read as the kernel's would (SocketL2capChannel).
//
// The listener owns its socket; destroying it unpublishes the channel. Event-loop thread only.
class L2capListener {
public:
    using Opened = std::function<void(std::shared_ptr<BluetoothL2capChannel>)>;

    // The listener, or the reason the socket could not be made.
    static std::variant<std::unique_ptr<L2capListener>, std::string> listenKernel(
        bool encryptionRequired, Opened onChannel);
    static std::variant<std::unique_ptr<L2capListener>, std::string> listenStandIn(
        const QString& folder, std::uint16_t psm, Opened onChannel);
    // Empty when this kernel can make LE L2CAP sockets, else why not.
    static std::string kernelRefusal();

    ~L2capListener();
    L2capListener(const L2capListener&) = delete;
    L2capListener& operator=(const L2capListener&) = delete;

    std::uint16_t psm() const { return psm_; }

private:
    L2capListener(int fd, std::uint16_t psm, bool kernel, QString path, Opened onChannel);
    void acceptOne();

    int fd_;
    std::uint16_t psm_;
    bool kernel_;
    QString path_;
    Opened onChannel_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace norv
