#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "bluetooth/codec/bluetooth_frame_codec.h"
#include "bluetooth/codec/bluetooth_bytes.h"

namespace norv {

// Cuts the engine's stream into state frames (u32 big-endian length 1 ... 4 MiB, then one JSON
// object), keeps only the newest pending copy of replaceable states, optionally delta-codes each
// frame and hands the result out in pieces of at most 4096 bytes. Every limit (8 MiB queued,
// frame length, 1024 pending frames) throws BluetoothError::stateQueueLimit().
class BluetoothStateQueue {
public:
    struct Frame {
        BluetoothBytes bytes;  // length header included
        std::optional<std::string> key;
        double sourceTime = 0;  // wall-clock seconds since 1970
    };

    using WallClock = std::function<double()>;

    static constexpr std::size_t pieceSize = 4096;

    BluetoothStateQueue(bool wireDeltas, bool coalescing, WallClock wallClock = systemWallClock);

    void receive(std::span<const std::uint8_t> bytes);
    std::optional<BluetoothBytes> nextBlock();

    std::size_t queuedBytes() const;
    double oldestAge() const;
    int coalesced() const { return coalesced_; }
    int deltaFrames() const { return frameEncoder_.deltaFrames(); }
    long long deltaWireBytes() const { return frameEncoder_.wireBytes(); }
    long long originalBytes() const { return frameEncoder_.originalBytes(); }
    // Received bytes not yet cut into frames, and the total of pending frames.
    std::size_t unparsedBytes() const { return input_.size(); }
    std::size_t pendingBytes() const { return pendingBytes_; }
    std::size_t activeRemaining() const { return active_.size() - offset_; }
    const std::deque<Frame>& pending() const { return pending_; }

    // The key under which a newer frame replaces an older pending one, if any.
    static std::optional<std::string> replaceableKey(std::span<const std::uint8_t> body);
    static double systemWallClock();

private:
    BluetoothBytes input_;
    std::deque<Frame> pending_;
    BluetoothBytes active_;
    std::size_t offset_ = 0;
    std::size_t pendingBytes_ = 0;
    bool wireDeltas_;
    bool coalescing_;
    BluetoothFrameCodec frameEncoder_;
    int coalesced_ = 0;
    WallClock wallClock_;
};

}  // namespace norv
