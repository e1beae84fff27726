#include "bluetooth/l2cap_listener.h"

#include <bluetooth/bluetooth.h>
#include <bluetooth/l2cap.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <QByteArray>
#include <QFile>
#include <cerrno>
#include <cstring>

#include "bluetooth/socket_l2cap_channel.h"
#include "model/text_rules.h"

namespace norv {

namespace {

constexpr int backlog = 4;
constexpr std::size_t standInSendMtu = 65535;
constexpr std::size_t defaultLeMtu = 23;

// Peer ids are name-based UUIDs in a namespace of our own, so one central keeps its id.
const QUuid peerNamespace(QStringLiteral("{5e0b7d0c-2f7a-4d7e-9a43-6c1f0d9b8a11}"));

std::string errnoText(const char* step) { return std::string(step) + ": " + text_rules::errorText(errno); }

int makeSocket(int family, int protocol) {
    return ::socket(family, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
}

QUuid kernelPeer(const sockaddr_l2& address) {
    QByteArray name("le:");
    name += QByteArray::number(address.l2_bdaddr_type);
    name += ':';
    name +=
        QByteArray(reinterpret_cast<const char*>(address.l2_bdaddr.b), sizeof address.l2_bdaddr.b)
            .toHex();
    return QUuid::createUuidV5(peerNamespace, name);
}

// A stand-in central is the process on the other end of the socket.
QUuid standInPeer(int fd) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size);
    return QUuid::createUuidV5(peerNamespace,
                               QByteArray("unix-pid:") + QByteArray::number(credentials.pid));
}

std::size_t kernelSendMtu(int fd) {
    std::uint16_t mtu = 0;
    socklen_t size = sizeof mtu;
    if (::getsockopt(fd, SOL_BLUETOOTH, BT_SNDMTU, &mtu, &size) == 0 && mtu > 0) return mtu;
    l2cap_options options{};  // older kernels tell the outgoing MTU only here
    size = sizeof options;
    if (::getsockopt(fd, SOL_L2CAP, L2CAP_OPTIONS, &options, &size) == 0 && options.omtu > 0)
        return options.omtu;
    return defaultLeMtu;
}

}  // namespace

std::string L2capListener::kernelRefusal() {
    const int fd = makeSocket(AF_BLUETOOTH, BTPROTO_L2CAP);
    if (fd < 0) return errnoText("socket(AF_BLUETOOTH, SOCK_SEQPACKET, BTPROTO_L2CAP)");
    ::close(fd);
    return {};
}

std::variant<std::unique_ptr<L2capListener>, std::string> L2capListener::listenKernel(
    bool encryptionRequired, Opened onChannel) {
    const int fd = makeSocket(AF_BLUETOOTH, BTPROTO_L2CAP);
    if (fd < 0) return errnoText("socket(AF_BLUETOOTH)");
    const auto fail = [fd](const char* step) {
        const std::string reason = errnoText(step);
        ::close(fd);
        return reason;
    };
    bt_security security{};
    security.level = encryptionRequired ? BT_SECURITY_MEDIUM : BT_SECURITY_LOW;
    if (::setsockopt(fd, SOL_BLUETOOTH, BT_SECURITY, &security, sizeof security) < 0)
        return fail("BT_SECURITY");
    sockaddr_l2 address{};
    address.l2_family = AF_BLUETOOTH;
    address.l2_psm = htobs(0);  // the kernel picks a free LE PSM
    address.l2_bdaddr_type = BDADDR_LE_PUBLIC;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) return fail("bind");
    if (::listen(fd, backlog) < 0) return fail("listen");
    sockaddr_l2 bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) < 0)
        return fail("getsockname");
    const std::uint16_t psm = btohs(bound.l2_psm);
    if (psm == 0) return fail("getsockname gave no PSM");
    return std::unique_ptr<L2capListener>(
        new L2capListener(fd, psm, true, {}, std::move(onChannel)));
}

std::variant<std::unique_ptr<L2capListener>, std::string> L2capListener::listenStandIn(
    const QString& folder, std::uint16_t psm, Opened onChannel) {
    const QString path = folder + QStringLiteral("/%1").arg(psm, 4, 16, QLatin1Char('0'));
    const QByteArray encoded = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<std::size_t>(encoded.size()) >= sizeof address.sun_path)
        return std::string("socket path too long");
    std::memcpy(address.sun_path, encoded.constData(), static_cast<std::size_t>(encoded.size()));
    const int fd = makeSocket(AF_UNIX, 0);
    if (fd < 0) return errnoText("socket(AF_UNIX)");
    ::unlink(encoded.constData());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 ||
        ::listen(fd, backlog) < 0) {
        const std::string reason = errnoText("bind");
        ::close(fd);
        return reason;
    }
    return std::unique_ptr<L2capListener>(
        new L2capListener(fd, psm, false, path, std::move(onChannel)));
}

L2capListener::L2capListener(int fd, std::uint16_t psm, bool kernel, QString path, Opened onChannel)
    : fd_(fd),
      psm_(psm),
      kernel_(kernel),
      path_(std::move(path)),
      onChannel_(std::move(onChannel)),
      notifier_(std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read)) {
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { acceptOne(); });
}

L2capListener::~L2capListener() {
    // The notifier may be mid-signal when the listener is dropped from a channel handler.
    QSocketNotifier* notifier = notifier_.release();
    notifier->setEnabled(false);
    QObject::disconnect(notifier, nullptr, nullptr, nullptr);
    notifier->deleteLater();
    ::close(fd_);
    if (!path_.isEmpty()) ::unlink(QFile::encodeName(path_).constData());
}

void L2capListener::acceptOne() {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&address), &length,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // nothing waiting, or a connection that went away meanwhile
    std::shared_ptr<BluetoothL2capChannel> channel;
    if (kernel_) {
        channel = SocketL2capChannel::adopt(
            fd, psm_, kernelPeer(reinterpret_cast<const sockaddr_l2&>(address)), kernelSendMtu(fd));
    } else {
        const QUuid peer = standInPeer(fd);
        channel = SocketL2capChannel::adopt(fd, psm_, peer, standInSendMtu,
                                            SocketL2capChannel::Family::standIn);
    }
    // The handler may drop this listener: nothing of it is touched afterwards. Further waiting
    // connections wake the notifier again.
    const Opened handler = onChannel_;
    handler(std::move(channel));
}

}  // namespace norv
