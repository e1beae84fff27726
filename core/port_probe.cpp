#include "core/port_probe.h"

#include "core/unique_fd.h"

#include <QNetworkProxy>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>

namespace norv {

PortProbe::PortProbe(QObject* context, std::function<void(bool)> done)
    : QObject(context),
      done_(std::move(done)),
      socket_(new QTcpSocket(this)),
      deadline_(new QTimer(this)) {}

void PortProbe::start(QObject* context, int port, std::chrono::milliseconds timeout,
                      std::function<void(bool)> done) {
    auto* probe = new PortProbe(context, std::move(done));
    QTcpSocket* socket = probe->socket_;
    socket->setProxy(QNetworkProxy::NoProxy);
    // Queued: the answer never arrives inside start(), even when the connect fails at once.
    connect(
        socket, &QTcpSocket::connected, probe, [probe] { probe->finish(true); },
        Qt::QueuedConnection);
    connect(
        socket, &QTcpSocket::errorOccurred, probe, [probe] { probe->finish(false); },
        Qt::QueuedConnection);
    probe->deadline_->setSingleShot(true);
    probe->deadline_->setTimerType(Qt::PreciseTimer);
    connect(probe->deadline_, &QTimer::timeout, probe, [probe] { probe->finish(false); });
    probe->deadline_->start(timeout);
    socket->connectToHost(QHostAddress(QHostAddress::LocalHost), quint16(port));
}

void PortProbe::finish(bool served) {
    if (!done_) return;
    deadline_->stop();
    socket_->disconnect(this);
    socket_->abort();
    deleteLater();
    std::exchange(done_, nullptr)(served);
}

// ---- the admin port ----------------------------------------------------------------------------

AdminPortProbe::AdminPortProbe(QObject* context, std::function<void(Holder)> done)
    : QObject(context), done_(std::move(done)), socket_(new QSslSocket(this)), deadline_(new QTimer(this)) {}

bool AdminPortProbe::bindable(int port) {
    const UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return true;  // nothing to learn here: the engine reports its own failure
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return true;
    return errno != EADDRINUSE;
}

void AdminPortProbe::start(QObject* context, int port, std::chrono::milliseconds timeout,
                           std::function<void(Holder)> done) {
    auto* probe = new AdminPortProbe(context, std::move(done));
    if (bindable(port)) {
        QMetaObject::invokeMethod(probe, [probe] { probe->finish(Holder::none); }, Qt::QueuedConnection);
        return;
    }
    QSslSocket* socket = probe->socket_;
    socket->setProxy(QNetworkProxy::NoProxy);
    // Only whether the holder speaks TLS matters, not who it is.
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    connect(socket, &QSslSocket::encrypted, probe, [probe] { probe->finish(Holder::bridge); }, Qt::QueuedConnection);
    connect(
        socket, &QSslSocket::errorOccurred, probe, [probe] { probe->finish(Holder::otherProgram); },
        Qt::QueuedConnection);
    probe->deadline_->setSingleShot(true);
    probe->deadline_->setTimerType(Qt::PreciseTimer);
    connect(probe->deadline_, &QTimer::timeout, probe, [probe] { probe->finish(Holder::otherProgram); });
    probe->deadline_->start(timeout);
    socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), quint16(port));
}

void AdminPortProbe::finish(Holder holder) {
    if (!done_) return;
    deadline_->stop();
    socket_->disconnect(this);
    socket_->abort();
    deleteLater();
    std::exchange(done_, nullptr)(holder);
}

}  // namespace norv
