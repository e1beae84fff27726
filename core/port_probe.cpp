#include "core/port_probe.h"

#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>

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

}  // namespace norv
