#include "bluetooth/socket_l2cap_channel.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "model/text_rules.h"

namespace norv {

namespace {

// English, as the close reasons are, whatever the user's locale.
std::string errnoText(int error) { return text_rules::errorText(error); }

bool transient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

// How many reads of 0 bytes in a row, after the peer has hung up, mark the end: an empty packet
// reads as 0 as well, but the end reads as 0 every time.
constexpr int endReads = 4;

// A read of 0 bytes is the end only when the peer has hung up; otherwise it was an empty packet.
bool hungUp(int fd) {
    pollfd state{fd, POLLRDHUP, 0};
    return ::poll(&state, 1, 0) > 0 && (state.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

bool packetsQueued(int fd) {
    int bytes = 0;
    return ::ioctl(fd, FIONREAD, &bytes) == 0 && bytes > 0;
}

// What SIOCOUTQ tells: on AF_UNIX the bytes the peer has not read yet; on Bluetooth sockets the
// free room of the send buffer.
int outgoing(int fd) {
    int bytes = 0;
    return ::ioctl(fd, SIOCOUTQ, &bytes) == 0 ? bytes : 0;
}

// How often a stand-in channel looks whether its central has read what it was sent.
constexpr int standInCreditPollMs = 2;

}  // namespace

class SocketL2capChannel::Input : public BluetoothInputStream {
public:
    explicit Input(SocketL2capChannel& channel) : c_(channel) {}
    void setEventHandler(std::function<void(BluetoothStreamEvent)> handler) override {
        c_.streams_.setHandler(Side::input, std::move(handler));
    }
    void open() override {
        if (!c_.streams_.open(Side::input, c_.weak_from_this())) return;
        if (c_.error_) {
            c_.post(Side::input, BluetoothStreamEvent::errorOccurred);
        } else if (hasBytesAvailable()) {
            c_.post(Side::input, BluetoothStreamEvent::hasBytesAvailable);
        } else if (c_.ended_) {
            c_.post(Side::input, c_.endEvent());
        } else if (c_.readable_) {
            c_.readable_->setEnabled(true);
        }
    }
    void close() override {
        c_.streams_.close(Side::input);
        if (c_.readable_) c_.readable_->setEnabled(false);
        c_.closeIfDone();
    }
    std::optional<std::string> error() const override { return c_.error_; }
    bool hasBytesAvailable() const override {
        return c_.streams_.isOpen(Side::input) && c_.readOffset_ < c_.received_.size();
    }
    long read(std::uint8_t* buffer, std::size_t maximum) override {
        if (!c_.streams_.isOpen(Side::input) || c_.error_) return -1;
        const std::size_t n = std::min(maximum, c_.received_.size() - c_.readOffset_);
        std::memcpy(buffer, c_.received_.data() + c_.readOffset_, n);
        c_.readOffset_ += n;
        if (c_.readOffset_ == c_.received_.size()) {
            // The packet is handed out whole: only now is the next one read.
            c_.received_.clear();
            c_.readOffset_ = 0;
            if (c_.ended_) {
                c_.post(Side::input, c_.endEvent());
            } else if (c_.readable_) {
                c_.readable_->setEnabled(true);
            }
        }
        return static_cast<long>(n);
    }

private:
    SocketL2capChannel& c_;
};

class SocketL2capChannel::Output : public BluetoothOutputStream {
public:
    explicit Output(SocketL2capChannel& channel) : c_(channel) {}
    void setEventHandler(std::function<void(BluetoothStreamEvent)> handler) override {
        c_.streams_.setHandler(Side::output, std::move(handler));
    }
    void open() override {
        if (!c_.streams_.open(Side::output, c_.weak_from_this())) return;
        if (hasSpaceAvailable()) c_.post(Side::output, BluetoothStreamEvent::hasSpaceAvailable);
    }
    void close() override {
        c_.streams_.close(Side::output);
        if (c_.writable_) c_.writable_->setEnabled(false);
        c_.closeIfDone();
    }
    // A failed write ends this direction only: what the central sent is still read.
    std::optional<std::string> error() const override {
        return c_.writeError_ ? c_.writeError_ : c_.error_;
    }
    bool hasSpaceAvailable() const override {
        return c_.streams_.isOpen(Side::output) && c_.spaceAvailable_ && !error();
    }
    long write(const std::uint8_t* bytes, std::size_t count) override {
        if (!c_.streams_.isOpen(Side::output) || error() || c_.fd_ < 0) return -1;
        const std::size_t n = std::min(count, c_.sendMtu_);
        if (c_.family_ == Family::standIn) {
            if (!c_.held_.empty()) {  // no more until the held packet is sent
                c_.spaceAvailable_ = false;
                return 0;
            }
            if (c_.holdForCredit(bytes, n)) return static_cast<long>(n);
        }
        const ssize_t sent = ::send(c_.fd_, bytes, n, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent >= 0) return static_cast<long>(sent);
        if (transient(errno)) {
            c_.spaceAvailable_ = false;
            if (c_.writable_) c_.writable_->setEnabled(true);
            return 0;
        }
        // The pending error of a hang-up is reported once, to whichever call comes first.
        if (errno == ECONNRESET) c_.standInHangUpReported_ = true;
        c_.writeError_ = errnoText(errno);
        return -1;
    }
    std::size_t unsentBytes() const override { return c_.unsentBytes(); }

private:
    SocketL2capChannel& c_;
};

std::shared_ptr<SocketL2capChannel> SocketL2capChannel::adopt(int fd, std::uint16_t psm, QUuid peer,
                                                              std::size_t sendMtu, Family family) {
    auto channel = std::shared_ptr<SocketL2capChannel>(
        new SocketL2capChannel(fd, psm, peer, sendMtu, family));
    const std::weak_ptr<SocketL2capChannel> weak = channel;
    QObject::connect(channel->readable_.get(), &QSocketNotifier::activated,
                     channel->readable_.get(), [weak] {
                         if (const auto self = weak.lock()) self->receivePacket();
                     });
    QObject::connect(channel->writable_.get(), &QSocketNotifier::activated,
                     channel->writable_.get(), [weak] {
                         const auto self = weak.lock();
                         if (!self) return;
                         self->writable_->setEnabled(false);
                         self->spaceAvailable_ = true;
                         self->deliver(Side::output, BluetoothStreamEvent::hasSpaceAvailable);
                     });
    if (channel->credit_) {
        QObject::connect(channel->credit_.get(), &QTimer::timeout, channel->credit_.get(), [weak] {
            if (const auto self = weak.lock()) self->pollCredit();
        });
    }
    return channel;
}

SocketL2capChannel::SocketL2capChannel(int fd, std::uint16_t psm, QUuid peer, std::size_t sendMtu,
                                       Family family)
    : fd_(fd),
      psm_(psm),
      peer_(peer),
      sendMtu_(std::max<std::size_t>(sendMtu, 1)),
      readable_(std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read)),
      writable_(std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write)),
      input_(std::make_unique<Input>(*this)),
      output_(std::make_unique<Output>(*this)),
      family_(family) {
    readable_->setEnabled(false);
    writable_->setEnabled(false);
    if (family_ == Family::standIn) {
        credit_ = std::make_unique<QTimer>();
        credit_->setInterval(standInCreditPollMs);
    }
}

SocketL2capChannel::~SocketL2capChannel() {
    // The notifiers may be mid-signal when the last owner lets go: they go later.
    for (auto* notifier : {readable_.release(), writable_.release()}) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    if (credit_) {
        credit_->stop();
        credit_.release()->deleteLater();
    }
    if (fd_ >= 0) ::close(fd_);
}

BluetoothInputStream& SocketL2capChannel::inputStream() { return *input_; }
BluetoothOutputStream& SocketL2capChannel::outputStream() { return *output_; }

void SocketL2capChannel::receivePacket() {
    const auto self = shared_from_this();  // a handler may let go of the channel
    if (fd_ < 0 || ended_ || !received_.empty()) {
        readable_->setEnabled(false);
        return;
    }
    int error = 0;
    switch (readPacket(error)) {
        case Read::nothing:
        case Read::emptyPacket:
            return;  // the notifier stays on for the next packet
        case Read::tooLarge:
            fail("packet larger than " + std::to_string(receiveLimit) + " bytes");
            return;
        case Read::end:
            drainAndEnd(std::nullopt);
            return;
        case Read::failed:
            drainAndEnd(errnoText(error));
            return;
        case Read::packet:
            readable_->setEnabled(false);
            readOffset_ = 0;
            deliver(Side::input, BluetoothStreamEvent::hasBytesAvailable);
            return;
    }
}

SocketL2capChannel::Read SocketL2capChannel::readPacket(int& error) {
    const std::size_t kept = received_.size();
    received_.resize(kept + receiveLimit);
    iovec vector{received_.data() + kept, receiveLimit};
    msghdr message{};
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    const ssize_t n = receive(message);
    error = errno;
    received_.resize(kept + (n > 0 && !(message.msg_flags & MSG_TRUNC) ? static_cast<std::size_t>(n) : 0));
    if (n < 0) return transient(error) ? Read::nothing : Read::failed;
    if (message.msg_flags & MSG_TRUNC) return Read::tooLarge;
    if (n > 0) return Read::packet;
    return hungUp(fd_) ? Read::end : Read::emptyPacket;
}

ssize_t SocketL2capChannel::receive(msghdr& message) {
    if (family_ == Family::kernel) return ::recvmsg(fd_, &message, MSG_DONTWAIT);
    // The kernel's order, which AF_UNIX lacks: the hang-up (as the socket's error, reported
    // once) comes before the packets still queued, and an SDU above the incoming MTU
    // disconnects the channel.
    if (standInReset_) return 0;
    if (!standInHangUpReported_ && hungUp(fd_) && packetsQueued(fd_)) {
        standInHangUpReported_ = true;
        // AF_UNIX keeps a reset of its own for a central that left bytes unread: taken here, so
        // the hang-up is reported once, as the kernel does.
        int pending = 0;
        socklen_t size = sizeof pending;
        ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &pending, &size);
        errno = ECONNRESET;
        return -1;
    }
    const ssize_t n = ::recvmsg(fd_, &message, MSG_DONTWAIT);
    if (n > static_cast<ssize_t>(standInIncomingMtu)) {
        standInReset_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        errno = ECONNRESET;
        return -1;
    }
    return n;
}

void SocketL2capChannel::drainAndEnd(std::optional<std::string> error) {
    readable_->setEnabled(false);
    // Bounded by what the socket still holds: a hung-up peer sends nothing more.
    int zeroReads = 0;
    while (zeroReads < endReads) {
        int ignored = 0;
        const Read read = readPacket(ignored);
        if (read == Read::packet) {
            zeroReads = 0;
        } else if (read == Read::end || read == Read::emptyPacket) {
            ++zeroReads;
        } else {
            break;
        }
    }
    ended_ = true;
    endError_ = std::move(error);
    readOffset_ = 0;
    deliver(Side::input, received_.empty() ? endEvent() : BluetoothStreamEvent::hasBytesAvailable);
}

BluetoothStreamEvent SocketL2capChannel::endEvent() {
    if (!endError_) return BluetoothStreamEvent::endEncountered;
    error_ = endError_;
    return BluetoothStreamEvent::errorOccurred;
}

void SocketL2capChannel::fail(const std::string& error) {
    error_ = error;
    readable_->setEnabled(false);
    writable_->setEnabled(false);
    if (streams_.isOpen(Side::input)) {
        deliver(Side::input, BluetoothStreamEvent::errorOccurred);
    } else {
        deliver(Side::output, BluetoothStreamEvent::errorOccurred);
    }
}

bool SocketL2capChannel::holdForCredit(const std::uint8_t* bytes, std::size_t count) {
    if (hungUp(fd_) || outgoing(fd_) == 0) return false;  // a credit, or the send fails as it must
    held_.assign(bytes, bytes + count);
    spaceAvailable_ = false;
    credit_->start();
    return true;
}

void SocketL2capChannel::pollCredit() {
    const auto self = shared_from_this();  // a handler may let go of the channel
    if (fd_ < 0 || held_.empty()) {
        credit_->stop();
        return;
    }
    const bool gone = hungUp(fd_);
    if (!gone && outgoing(fd_) > 0) return;
    // The credit came back, or the central went and the held packet goes with it, as the kernel's
    // does; either way the next write finds out.
    if (!gone && ::send(fd_, held_.data(), held_.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0 &&
        transient(errno))
        return;
    held_.clear();
    credit_->stop();
    spaceAvailable_ = true;
    deliver(Side::output, BluetoothStreamEvent::hasSpaceAvailable);
}

std::size_t SocketL2capChannel::unsentBytes() const {
    if (fd_ < 0) return 0;
    if (family_ == Family::standIn) return held_.size();
    int size = 0;
    socklen_t length = sizeof size;
    if (::getsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &size, &length) < 0) return 0;
    return static_cast<std::size_t>(std::max(0, size - outgoing(fd_)));
}

void SocketL2capChannel::closeIfDone() {
    if (!streams_.bothClosed() || fd_ < 0) return;
    readable_->setEnabled(false);
    writable_->setEnabled(false);
    if (credit_) credit_->stop();
    held_.clear();  // a packet still waiting for its credit is dropped, as the kernel drops it
    ::close(fd_);
    fd_ = -1;
}

}  // namespace norv
