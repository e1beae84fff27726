#pragma once

#include <QObject>
#include <chrono>
#include <functional>

class QSslSocket;
class QTcpSocket;
class QTimer;

namespace norv {

// Asks, without blocking, whether some program already accepts connections on
// 127.0.0.1:port: one connect attempt, closed at once. A connect that fails for any reason, or
// takes longer than the timeout (a listener with a full backlog), counts as a free port.
class PortProbe : public QObject {
    Q_OBJECT

public:
    // Starts a probe owned by `context`. `done(served)` runs once, later, on the context's
    // thread; never once the context is gone.
    static void start(QObject* context, int port, std::chrono::milliseconds timeout,
                      std::function<void(bool served)> done);

private:
    PortProbe(QObject* context, std::function<void(bool)> done);
    void finish(bool served);

    std::function<void(bool)> done_;
    QTcpSocket* socket_ = nullptr;
    QTimer* deadline_ = nullptr;
};

// Asks, without blocking for long, whether the engine could serve its admin channel on
// 127.0.0.1:port. The port is free when a socket can bind it as the engine does (address reuse
// on, so connections of an earlier engine lingering in TIME_WAIT do not count). When it cannot,
// one TLS handshake tells who holds it: a server that completes it is an engine answering the
// admin protocol; one that refuses, fails or stays silent past the timeout is another program.
// Nothing is written beyond the handshake.
class AdminPortProbe : public QObject {
    Q_OBJECT

public:
    enum class Holder { none, bridge, otherProgram };

    // Starts a probe owned by `context`. `done(holder)` runs once, later, on the context's
    // thread; never once the context is gone.
    static void start(QObject* context, int port, std::chrono::milliseconds timeout,
                      std::function<void(Holder)> done);
    // Whether a socket with address reuse can bind 127.0.0.1:port right now.
    static bool bindable(int port);

private:
    AdminPortProbe(QObject* context, std::function<void(Holder)> done);
    void finish(Holder holder);

    std::function<void(Holder)> done_;
    QSslSocket* socket_ = nullptr;
    QTimer* deadline_ = nullptr;
};

}  // namespace norv
