#pragma once
// SIGTERM and SIGINT reach the event loop through a pipe: the handler only writes the signal
// number to it, and a socket notifier reads it on the GUI thread.

#include <QObject>
#include <initializer_list>
#include <memory>

class QSocketNotifier;

namespace norv {

class SignalPipe : public QObject {
    Q_OBJECT
public:
    // Installs the handlers for `signals`; only one SignalPipe may exist at a time.
    explicit SignalPipe(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
    // Restores the default handlers and closes the pipe.
    ~SignalPipe() override;

    bool isValid() const { return readFd_ >= 0; }

Q_SIGNALS:
    void signalled(int signalNumber);

private:
    void drain();

    int readFd_ = -1;
    int writeFd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::vector<int> installed_;
};

}  // namespace norv
