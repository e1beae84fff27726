#pragma once

#include <QUuid>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace norv {

enum class BluetoothStreamEvent { openCompleted, hasBytesAvailable, hasSpaceAvailable, errorOccurred, endEncountered };

// One direction of an opened L2CAP channel. Events arrive on the event loop through the handler;
// setting an empty handler stops them.
class BluetoothStream {
public:
    virtual ~BluetoothStream() = default;
    virtual void setEventHandler(std::function<void(BluetoothStreamEvent)> handler) = 0;
    virtual void open() = 0;
    virtual void close() = 0;
    // The stream's error, once it has failed.
    virtual std::optional<std::string> error() const = 0;
};

class BluetoothInputStream : public BluetoothStream {
public:
    virtual bool hasBytesAvailable() const = 0;
    // Bytes read (0 when none), or a negative value on failure.
    virtual long read(std::uint8_t* buffer, std::size_t maximum) = 0;
};

class BluetoothOutputStream : public BluetoothStream {
public:
    virtual bool hasSpaceAvailable() const = 0;
    // Bytes taken (possibly 0), or a negative value on failure.
    virtual long write(const std::uint8_t* bytes, std::size_t count) = 0;
    // Bytes taken but not yet on their way to the central; closing the channel drops them.
    virtual std::size_t unsentBytes() const { return 0; }
};

// An encrypted L2CAP channel that a central opened: its PSM, its central and its two streams.
class BluetoothL2capChannel {
public:
    virtual ~BluetoothL2capChannel() = default;
    virtual std::uint16_t psm() const = 0;
    virtual QUuid peerId() const = 0;
    virtual BluetoothInputStream& inputStream() = 0;
    virtual BluetoothOutputStream& outputStream() = 0;
};

}  // namespace norv
