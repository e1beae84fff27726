#pragma once

#include <QObject>
#include <chrono>
#include <functional>

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

}  // namespace norv
