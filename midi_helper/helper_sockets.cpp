#include "midi_helper/helper_sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "midi_helper/helper_byte_reader.h"
#include "midi_helper/helper_config.h"
#include "midi_helper/helper_error.h"
#include "midi_helper/json_output.h"
#include "midi_helper/native_midi_bridge.h"

namespace norv {
namespace {

// Work per readable event and source, so that a flood on one cannot starve the others (stream
// peers, the watchdog, timers, standard input): what is left waits in the kernel.
constexpr int kDatagramsPerEvent = 256;
constexpr int kStreamReadsPerEvent = 16;
constexpr int kAcceptsPerEvent = 64;
constexpr size_t kDatagramSize = 1500;
constexpr size_t kFrameSize = 12;
constexpr uint64_t kWatchdogFirstNs = 1'000'000'000;
constexpr uint64_t kWatchdogPeriodNs = 250'000'000;
constexpr uint64_t kAcceptPauseNs = 100'000'000;

bool setNonBlocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void setIntOption(int fd, int level, int name, int value) {
    ::setsockopt(fd, level, name, &value, sizeof value);
}

// A socket file left by a helper that never shut down (killed) blocks the bind. It is stale when a
// connect to it is refused; a live socket, or anything that is not a socket, stays.
void removeStaleSocket(const std::string& path, int type, const sockaddr_un& address) {
    struct stat before {};
    if (::lstat(path.c_str(), &before) != 0 || !S_ISSOCK(before.st_mode)) return;
    UniqueFd probe(::socket(AF_UNIX, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!probe ||
        ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
        errno != ECONNREFUSED)
        return;
    struct stat after {};
    if (::lstat(path.c_str(), &after) == 0 && after.st_dev == before.st_dev &&
        after.st_ino == before.st_ino)
        ::unlink(path.c_str());
}

}  // namespace

HelperSockets::HelperSockets(NativeMidiBridge& bridge, EventLoop& loop, JsonOutput& output)
    : bridge_(bridge), loop_(loop), output_(output), acceptPause_(loop), watchdog_(loop) {}

HelperSockets::~HelperSockets() { shutdown(); }

void HelperSockets::start() {
    privateMode_ = bridge_.config().privateSocketDirectory.has_value();
    startDatagramListener();
    startStreamListener();
}

UniqueFd HelperSockets::makePrivateSocket(const std::string& directory, const std::string& name,
                                          int type) {
    if ((name != "midi.sock" && name != "clock.sock") || directory.empty() ||
        directory.front() != '/')
        throw HelperError("Private MIDI directory", 13);
    struct stat info {};
    if (::lstat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid() || (info.st_mode & 077) != 0)
        throw HelperError("Private MIDI directory", 13);
    const std::string path = directory + "/" + name;
    if (path.size() + 1 > kMaxPrivatePath || path.size() + 1 > sizeof(sockaddr_un::sun_path))
        throw HelperError("Private MIDI socket path", 63);
    UniqueFd fd(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
    if (!fd) throw HelperError("Private MIDI socket", errno);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // A live socket at the path is never removed: a second helper in the same folder fails here.
    removeStaleSocket(path, type, address);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw HelperError("Private MIDI socket bind", errno);
    struct stat bound {};
    if (::lstat(path.c_str(), &bound) == 0)
        boundPaths_.push_back({path, bound.st_dev, bound.st_ino});
    if (::chmod(path.c_str(), 0600) != 0) throw HelperError("Private MIDI socket bind", errno);
    return fd;
}

void HelperSockets::startDatagramListener() {
    const HelperConfig& config = bridge_.config();
    if (privateMode_) {
        datagram_ = makePrivateSocket(*config.privateSocketDirectory, "clock.sock", SOCK_DGRAM);
    } else {
        UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!fd)
            throw HelperError(
                "NorvMIDIHelper", errno,
                "socket(AF_INET, SOCK_DGRAM) failed with errno " + std::to_string(errno));
        setIntOption(fd.get(), SOL_SOCKET, SO_REUSEADDR, 1);
        setIntOption(fd.get(), IPPROTO_IP, IP_TOS, 0x88);  // AF41: interactive audio and video
        setIntOption(fd.get(), SOL_SOCKET, SO_RCVBUF, 1 << 20);
        setNonBlocking(fd.get());
        const std::string host(trimmed(config.udpHost));
        if (host.empty() || host == "0.0.0.0" || host == "*") {
            bindAddress_ = INADDR_ANY;
        } else {
            in_addr parsed{};
            if (::inet_pton(AF_INET, host.c_str(), &parsed) != 1)
                throw HelperError("NorvMIDIHelper", 22, "invalid UDP host " + host);
            bindAddress_ = ntohl(parsed.s_addr);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(config.udpPort));
        address.sin_addr.s_addr = htonl(bindAddress_);
        if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            int error = errno;
            throw HelperError("NorvMIDIHelper", error,
                              "UDP bind " + host + ":" + std::to_string(config.udpPort) +
                                  " failed with errno " + std::to_string(error));
        }
        datagram_ = std::move(fd);
    }
    if (!setNonBlocking(datagram_.get())) {
        int error = errno;
        datagram_.reset();
        throw HelperError("MIDI datagram flags", error);
    }
    datagramWatch_ = loop_.watch(datagram_.get(), [this] { readDatagrams(); });
}

void HelperSockets::sendDatagram(std::span<const uint8_t> datagram, uint32_t address,
                                 uint16_t port) {
    if (privateMode_ || !datagram_) return;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = htonl(address);
    // A failed send is not an error here: the next request or packet tries again.
    ::sendto(datagram_.get(), datagram.data(), datagram.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
             reinterpret_cast<sockaddr*>(&target), sizeof target);
}

void HelperSockets::startStreamListener() {
    const HelperConfig& config = bridge_.config();
    UniqueFd fd;
    if (privateMode_) {
        fd = makePrivateSocket(*config.privateSocketDirectory, "midi.sock", SOCK_STREAM);
    } else {
        fd = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!fd) throw HelperError("MIDI TCP socket", errno);
        setIntOption(fd.get(), SOL_SOCKET, SO_REUSEADDR, 1);
        // The same address the datagram socket was bound to: never wider than what was asked for.
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(config.udpPort));
        address.sin_addr.s_addr = htonl(bindAddress_);
        if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw HelperError("MIDI TCP bind", errno);
    }
    if (::listen(fd.get(), 8) != 0) throw HelperError("MIDI stream listen", errno);
    setNonBlocking(fd.get());
    listener_ = std::move(fd);
    watchListener();
    watchdog_.start(kWatchdogFirstNs, kWatchdogPeriodNs, [this] { runWatchdog(); });
}

void HelperSockets::watchListener() {
    listenerWatch_ = loop_.watch(listener_.get(), [this] { acceptPeers(); });
}

void HelperSockets::readDatagrams() {
    uint8_t buffer[kDatagramSize];
    for (int i = 0; i < kDatagramsPerEvent && datagram_; ++i) {
        sockaddr_in sender{};
        socklen_t senderLength = sizeof sender;
        ssize_t n = privateMode_ ? ::recv(datagram_.get(), buffer, sizeof buffer, 0)
                                 : ::recvfrom(datagram_.get(), buffer, sizeof buffer, 0,
                                              reinterpret_cast<sockaddr*>(&sender), &senderLength);
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                output_.enqueue(
                    {{"type", "error"},
                     {"message", "UDP recv failed with errno " + std::to_string(errno)}});
            return;
        }
        if (n == 0) return;
        DatagramOrigin origin;
        origin.privateSocket = privateMode_;
        if (!privateMode_ && sender.sin_family == AF_INET) {
            origin.address = ntohl(sender.sin_addr.s_addr);
            origin.port = ntohs(sender.sin_port);
        }
        bridge_.handleDatagram(std::span<const uint8_t>(buffer, size_t(n)), origin);
    }
}

void HelperSockets::acceptPeers() {
    for (int i = 0; i < kAcceptsPerEvent && listener_; ++i) {
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        UniqueFd fd(::accept4(listener_.get(), reinterpret_cast<sockaddr*>(&from), &fromLength,
                              SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // The connection stays queued and the listener stays readable: stop watching it for
                // a moment instead of spinning.
                listenerWatch_.reset();
                acceptPause_.start(kAcceptPauseNs, [this] {
                    if (listener_) watchListener();
                });
            }
            return;
        }
        // With every slot taken, a connection of the host holding the most slots that never sent
        // a frame, or one long silent, gives way to the newcomer: sockets that only hold a slot
        // cannot lock real devices out, nor push out another host's.
        if (connections_.size() >= kMaxPeers && !evictSilentConnection())
            continue;  // closed at once by `fd` going out of scope
        if (!privateMode_) setIntOption(fd.get(), IPPROTO_TCP, TCP_NODELAY, 1);
        auto connection = std::make_unique<Connection>();
        const int descriptor = fd.get();
        connection->peer = bridge_.addPeer();
        if (from.ss_family == AF_INET) {
            sockaddr_in host{};
            std::memcpy(&host, &from, sizeof host);
            connection->address = ntohl(host.sin_addr.s_addr);
        }
        connection->acceptOrder = ++acceptCount_;
        connection->fd = std::move(fd);
        connection->watch = loop_.watch(descriptor, [this, descriptor] { readPeer(descriptor); });
        connections_[descriptor] = std::move(connection);
    }
}

void HelperSockets::readPeer(int fd) {
    auto it = connections_.find(fd);
    if (it == connections_.end()) return;
    Connection& connection = *it->second;
    uint8_t chunk[4096];
    for (int i = 0; i < kStreamReadsPerEvent; ++i) {
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        if (n <= 0) {
            closeConnection(fd);
            return;
        }
        connection.buffer.insert(connection.buffer.end(), chunk, chunk + n);
        // Frames: a 4-byte big-endian length, always 8, then the 8-byte payload.
        HelperByteReader frames(connection.buffer);
        size_t offset = 0;
        for (;;) {
            uint32_t length = 0;
            std::span<const uint8_t> payload;
            if (!frames.u32(length)) break;
            if (length != 8) {
                closeConnection(fd);
                return;
            }
            if (!frames.bytes(length, payload)) break;
            const uint8_t* frame = connection.buffer.data() + offset;
            connection.sentFrame = true;
            StreamVerdict verdict = bridge_.handleStreamPayload(connection.peer, payload);
            if (verdict == StreamVerdict::Close) {
                closeConnection(fd);
                return;
            }
            if (verdict == StreamVerdict::Echo) {
                ssize_t sent = ::send(fd, frame, kFrameSize, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (sent < ssize_t(kFrameSize)) {
                    closeConnection(fd);
                    return;
                }
            }
            offset = frames.position();
        }
        connection.buffer.erase(connection.buffer.begin(),
                                connection.buffer.begin() + ptrdiff_t(offset));
    }
}

void HelperSockets::closeConnection(int fd) {
    auto it = connections_.find(fd);
    if (it == connections_.end()) return;
    std::unique_ptr<Connection> connection = std::move(it->second);
    connections_.erase(it);
    connection->watch.reset();
    connection->fd.reset();
    bridge_.closePeer(connection->peer);
}

bool HelperSockets::evictSilentConnection() {
    // Slots per host: only the hosts with the most may lose one.
    std::map<uint32_t, size_t> slots;
    size_t most = 0;
    for (const auto& [fd, connection] : connections_)
        most = std::max(most, ++slots[connection->address]);
    auto mayGo = [&](const Connection& connection) { return slots[connection.address] == most; };

    std::vector<std::pair<uint64_t, int>> silent;  // accept order, descriptor
    for (const auto& [fd, connection] : connections_) {
        if (!connection->sentFrame && mayGo(*connection))
            silent.emplace_back(connection->acceptOrder, fd);
    }
    std::sort(silent.begin(), silent.end());
    for (const auto& [order, fd] : silent) {
        // A frame that arrived but was not read yet still counts: read what is waiting first.
        int waiting = 0;
        if (::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0) readPeer(fd);
        auto it = connections_.find(fd);
        if (it == connections_.end()) return true;  // it closed while being read
        if (!it->second->sentFrame) {
            closeConnection(fd);
            return true;
        }
    }
    // Then the peer the bridge finds idle, closed as any peer is (its notes released).
    for (size_t tries = 0; tries < kMaxPeers; ++tries) {
        std::vector<std::shared_ptr<MidiPeer>> candidates;
        for (const auto& [fd, connection] : connections_)
            if (mayGo(*connection)) candidates.push_back(connection->peer);
        const std::shared_ptr<MidiPeer> idle = bridge_.idlePeer(candidates);
        auto it = std::find_if(connections_.begin(), connections_.end(), [&](const auto& entry) {
            return idle && entry.second->peer == idle;
        });
        if (it == connections_.end()) return false;
        const int fd = it->first;
        int waiting = 0;
        if (::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0) {
            readPeer(fd);  // what it sent meanwhile may make it busy: choose again
            if (connections_.size() < kMaxPeers) return true;  // it closed while being read
            continue;
        }
        closeConnection(fd);
        return true;
    }
    return false;
}

void HelperSockets::runWatchdog() {
    // Silence is measured on the clock that stamps the peers' heartbeats.
    bridge_.closeSilentSenders(bridge_.nowNs(), [this](const std::shared_ptr<MidiPeer>& peer) {
        for (const auto& [fd, connection] : connections_) {
            if (connection->peer == peer) {
                closeConnection(fd);
                return;
            }
        }
    });
}

void HelperSockets::shutdown() {
    datagramWatch_.reset();
    datagram_.reset();
    bridge_.closeAllWifiPeers();
    while (!connections_.empty()) closeConnection(connections_.begin()->first);
    listenerWatch_.reset();
    listener_.reset();
    acceptPause_.cancel();
    watchdog_.cancel();
    // Remove only the files this process made: the same device and inode as when bound.
    for (const auto& bound : boundPaths_) {
        struct stat info {};
        if (::lstat(bound.path.c_str(), &info) == 0 && info.st_dev == bound.device &&
            info.st_ino == bound.inode)
            ::unlink(bound.path.c_str());
    }
    boundPaths_.clear();
}

}  // namespace norv
