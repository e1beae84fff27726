#include "app/signal_pipe.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace norv {

namespace {

volatile std::sig_atomic_t gWriteFd = -1;

extern "C" void writeSignalToPipe(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    const int fd = gWriteFd;
    if (fd >= 0) {
        // Non-blocking: a full pipe already holds a pending signal, so a lost byte loses nothing.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

SignalPipe::SignalPipe(std::initializer_list<int> signalNumbers, QObject* parent) : QObject(parent) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) return;
    readFd_ = fds[0];
    writeFd_ = fds[1];
    gWriteFd = writeFd_;
    notifier_ = std::make_unique<QSocketNotifier>(readFd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SignalPipe::drain);
    for (const int signalNumber : signalNumbers) {
        struct sigaction action {};
        action.sa_handler = &writeSignalToPipe;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        if (::sigaction(signalNumber, &action, nullptr) == 0) installed_.push_back(signalNumber);
    }
}

SignalPipe::~SignalPipe() {
    for (const int signalNumber : installed_) {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        ::sigaction(signalNumber, &action, nullptr);
    }
    gWriteFd = -1;
    notifier_.reset();
    if (readFd_ >= 0) ::close(readFd_);
    if (writeFd_ >= 0) ::close(writeFd_);
}

void SignalPipe::drain() {
    unsigned char buffer[16];
    for (;;) {
        const ssize_t count = ::read(readFd_, buffer, sizeof buffer);
        if (count <= 0) break;
        for (ssize_t i = 0; i < count; ++i) Q_EMIT signalled(buffer[i]);
    }
}

}  // namespace norv
