#pragma once

#include <sys/types.h>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "midi_helper/event_loop.h"
#include "midi_helper/unique_fd.h"

namespace norv {

class JsonOutput;
class NativeMidiBridge;
struct MidiPeer;

// The helper's inputs: a datagram socket and a stream listener, either UDP and TCP on one IPv4
// address and port, or the private UNIX sockets "clock.sock" and "midi.sock" in a folder that only
// the user can enter. Accepted streams become peers of the bridge; a watchdog closes peers whose
// heartbeats stop. Lives on the loop thread.
class HelperSockets {
public:
    static constexpr size_t kMaxPeers = 8;
    static constexpr size_t kMaxPrivatePath = 104;  // bytes, with the terminating zero

    HelperSockets(NativeMidiBridge& bridge, EventLoop& loop, JsonOutput& output);
    ~HelperSockets();

    HelperSockets(const HelperSockets&) = delete;
    HelperSockets& operator=(const HelperSockets&) = delete;

    // Opens the datagram socket, then the stream listener and the watchdog. Throws HelperError.
    void start();
    // Closes every peer (releasing its notes), the listeners and the watchdog, and removes the
    // private socket files this process bound.
    void shutdown();

    // The datagram socket, for replies (none is open in private mode or before start).
    int datagramSocket() const { return datagram_.get(); }
    // Sends one datagram to an IPv4 address and port (host byte order) while the socket is open in
    // network mode; drops it otherwise. The bridge's datagram sender.
    void sendDatagram(std::span<const uint8_t> datagram, uint32_t address, uint16_t port);

    // Makes one private socket; exposed for tests of the folder and path checks. Throws
    // HelperError.
    UniqueFd makePrivateSocket(const std::string& directory, const std::string& name, int type);

private:
    struct Connection {
        UniqueFd fd;
        FdWatch watch;
        std::vector<uint8_t> buffer;
        std::shared_ptr<MidiPeer> peer;
        uint32_t address = 0;  // the IPv4 host (host byte order); 0 for the private socket
        uint64_t acceptOrder = 0;
        bool sentFrame = false;
    };
    struct BoundPath {
        std::string path;
        dev_t device;
        ino_t inode;
    };

    void startDatagramListener();
    void startStreamListener();
    void readDatagrams();
    void acceptPeers();
    void watchListener();
    void readPeer(int fd);
    void closeConnection(int fd);
    // Frees a slot for a newcomer, from the hosts that hold the most slots only: their oldest
    // connection that has not sent a whole frame yet, else the peer the bridge finds idle. False
    // when none may go.
    bool evictSilentConnection();
    void runWatchdog();

    NativeMidiBridge& bridge_;
    EventLoop& loop_;
    JsonOutput& output_;
    bool privateMode_ = false;
    uint32_t bindAddress_ = 0;  // host byte order, validated once for both listeners

    UniqueFd datagram_;
    FdWatch datagramWatch_;
    UniqueFd listener_;
    FdWatch listenerWatch_;
    Timer acceptPause_;
    PeriodicTimer watchdog_;
    std::map<int, std::unique_ptr<Connection>> connections_;
    uint64_t acceptCount_ = 0;
    std::vector<BoundPath> boundPaths_;
};

}  // namespace norv
