#include "bluetooth/bluetooth_stream_pair.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace norv {

void BluetoothStreamPair::setHandler(Side side, std::function<void(BluetoothStreamEvent)> handler) {
    at(side).handler = std::move(handler);
}

bool BluetoothStreamPair::open(Side side, const std::weak_ptr<void>& owner) {
    Stream& stream = at(side);
    if (stream.open || stream.closed) return false;
    stream.open = true;
    post(owner, side, BluetoothStreamEvent::openCompleted);
    return true;
}

void BluetoothStreamPair::close(Side side) {
    Stream& stream = at(side);
    stream.open = false;
    stream.closed = true;
}

void BluetoothStreamPair::deliver(Side side, BluetoothStreamEvent event) {
    const Stream& stream = at(side);
    if (!stream.open) return;
    const auto handler = stream.handler;  // the handler may replace itself
    if (handler) handler(event);
}

void BluetoothStreamPair::post(const std::weak_ptr<void>& owner, Side side,
                               BluetoothStreamEvent event) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [owner, this, side, event] {
            if (const auto alive = owner.lock()) deliver(side, event);
        },
        Qt::QueuedConnection);
}

}  // namespace norv
