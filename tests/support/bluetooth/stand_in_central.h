#pragma once
// A central on the stand-in L2CAP family: an AF_UNIX SOCK_SEQPACKET connection to a published
// channel's socket. Non-blocking; reads wait with the event loop running, within a bound.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <QByteArray>
#include <QFile>
#include <QString>
#include <cerrno>
#include <cstring>

#include "tests/support/bluetooth/loopback_engine.h"

namespace norv::test {

class StandInCentral {
public:
    StandInCentral(const QString& folder, std::uint16_t psm) {
        const QByteArray path =
            QFile::encodeName(folder + QStringLiteral("/%1").arg(psm, 4, 16, QLatin1Char('0')));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(),
                    std::min<std::size_t>(path.size(), sizeof address.sun_path - 1));
        fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~StandInCentral() { close(); }

    bool connected() const { return fd_ >= 0; }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    // One packet.
    bool send(const QByteArray& packet) {
        return ::send(fd_, packet.constData(), static_cast<std::size_t>(packet.size()),
                      MSG_NOSIGNAL) == packet.size();
    }

    // Packets until `count` bytes have come, or the bound; each packet's size is recorded.
    QByteArray receive(qsizetype count, int ms = 3000) {
        QByteArray got;
        waitUntil(
            [&] {
                while (true) {
                    char buffer[65536];
                    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
                    if (n <= 0) break;
                    packetSizes.push_back(static_cast<std::size_t>(n));
                    got.append(buffer, n);
                }
                return got.size() >= count;
            },
            ms);
        return got;
    }

    // Whether the peripheral ended the channel (end of stream) within the bound.
    bool endedByPeripheral(int ms = 3000) {
        return waitUntil(
            [&] {
                char byte;
                const ssize_t n = ::recv(fd_, &byte, 1, MSG_DONTWAIT);
                return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
            },
            ms);
    }

    std::vector<std::size_t> packetSizes;

private:
    int fd_ = -1;
};

}  // namespace norv::test
