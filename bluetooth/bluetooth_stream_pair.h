#pragma once

#include <functional>
#include <memory>

#include "bluetooth/bluetooth_l2cap_channel.h"

namespace norv {

// The open and closed states and the event handlers of a channel's two streams, for every kind of
// channel: a stream opens once and never after it was closed, and its handler hears events only
// while it is open. Event-loop thread only.
class BluetoothStreamPair {
public:
    enum class Side { input, output };

    void setHandler(Side side, std::function<void(BluetoothStreamEvent)> handler);
    // Opens the side and posts openCompleted to it; false, changing nothing, when the side was
    // opened or closed before.
    bool open(Side side, const std::weak_ptr<void>& owner);
    void close(Side side);
    bool isOpen(Side side) const { return at(side).open; }
    bool isClosed(Side side) const { return at(side).closed; }
    bool bothClosed() const { return isClosed(Side::input) && isClosed(Side::output); }

    // Hands the event to the side's handler now, if the side is open.
    void deliver(Side side, BluetoothStreamEvent event);
    // Hands it over on the event loop, and not at all once `owner` (which holds this pair) is
    // gone; the owner is kept alive while the handler runs.
    void post(const std::weak_ptr<void>& owner, Side side, BluetoothStreamEvent event);

private:
    struct Stream {
        bool open = false;
        bool closed = false;
        std::function<void(BluetoothStreamEvent)> handler;
    };
    Stream& at(Side side) { return side == Side::input ? input_ : output_; }
    const Stream& at(Side side) const { return side == Side::input ? input_ : output_; }

    Stream input_;
    Stream output_;
};

}  // namespace norv
