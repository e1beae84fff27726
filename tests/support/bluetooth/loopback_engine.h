#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <vector>

namespace norv::test {

// Runs the event loop until `done` holds or `milliseconds` pass; returns whether it held.
inline bool waitUntil(const std::function<bool()>& done, int milliseconds = 3000) {
    QDeadlineTimer deadline(milliseconds);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Lets pending events and deferred deletions run for a short while.
inline void settle(int milliseconds = 20) {
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Stands in for the engine: a real TCP listener on 127.0.0.1 that records what it receives.
class LoopbackEngine {
public:
    LoopbackEngine() {
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connections_.push_back(socket);
                const std::size_t index = received_.size();
                received_.emplace_back();
                QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                 [this, socket, index] { received_[index] += socket->readAll(); });
            }
        });
        server_.listen(QHostAddress::LocalHost, 0);
    }

    std::uint16_t port() const { return server_.serverPort(); }
    std::size_t connectionCount() const { return connections_.size(); }
    QTcpSocket* connection(std::size_t i = 0) const { return i < connections_.size() ? connections_[i].data() : nullptr; }
    QByteArray received(std::size_t i = 0) const { return i < received_.size() ? received_[i] : QByteArray(); }

    bool waitForConnection(std::size_t count = 1) {
        return waitUntil([&] { return connections_.size() >= count; });
    }

    // A port on which nothing listens.
    static std::uint16_t closedPort() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const auto port = probe.serverPort();
        probe.close();
        return port;
    }

private:
    QTcpServer server_;
    std::vector<QPointer<QTcpSocket>> connections_;
    std::vector<QByteArray> received_;
};

}  // namespace norv::test
