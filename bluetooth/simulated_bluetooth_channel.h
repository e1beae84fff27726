#pragma once

#include <QUuid>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bluetooth/codec/bluetooth_bytes.h"
#include "bluetooth/bluetooth_l2cap_channel.h"
#include "bluetooth/bluetooth_stream_pair.h"

namespace norv {

// An L2CAP channel without a radio: the central's side is driven by calls, the peripheral's side
// is the ordinary stream interface. Events are posted to the Qt event loop, as a real stack would.
class SimulatedBluetoothChannel : public BluetoothL2capChannel,
                                  public std::enable_shared_from_this<SimulatedBluetoothChannel> {
public:
    static std::shared_ptr<SimulatedBluetoothChannel> create(std::uint16_t psm, QUuid peer);

    std::uint16_t psm() const override { return psm_; }
    QUuid peerId() const override { return peer_; }
    BluetoothInputStream& inputStream() override;
    BluetoothOutputStream& outputStream() override;

    // Central side.
    void centralWrite(std::span<const std::uint8_t> bytes);
    // Takes what the peripheral wrote so far; frees that much room in the window.
    BluetoothBytes centralRead();
    // The central ends the channel: the peripheral sees end of stream, or an error with this text.
    void centralClose(const std::optional<std::string>& error = std::nullopt);
    // How many written bytes the link holds before the central must read (the write window).
    void setWindow(std::size_t bytes);
    // The next `count` writes take nothing although space is reported.
    void stallWrites(int count) { stalledWrites_ = count; }
    void failReads(const std::string& error) { readError_ = error; }
    void failWrites(const std::string& error) { writeError_ = error; }

    const std::vector<std::size_t>& writeSizes() const { return writeSizes_; }
    std::size_t unread() const { return toPeripheral_.size() - readOffset_; }
    bool inputClosed() const { return streams_.isClosed(Side::input); }
    bool outputClosed() const { return streams_.isClosed(Side::output); }
    bool closedByPeripheral() const { return streams_.bothClosed(); }

private:
    class Input;
    class Output;
    friend class Input;
    friend class Output;
    using Side = BluetoothStreamPair::Side;

    SimulatedBluetoothChannel(std::uint16_t psm, QUuid peer);
    void post(Side side, BluetoothStreamEvent event) { streams_.post(weak_from_this(), side, event); }

    std::uint16_t psm_;
    QUuid peer_;
    std::unique_ptr<Input> input_;
    std::unique_ptr<Output> output_;
    BluetoothStreamPair streams_;
    BluetoothBytes toPeripheral_;
    std::size_t readOffset_ = 0;
    BluetoothBytes toCentral_;
    std::size_t window_ = 1 << 20;
    int stalledWrites_ = 0;
    std::optional<std::string> readError_;
    std::optional<std::string> writeError_;
    std::optional<std::string> streamError_;
    bool ended_ = false;
    std::vector<std::size_t> writeSizes_;
};

}  // namespace norv
