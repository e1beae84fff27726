#include "bluetooth/simulated_bluetooth_channel.h"

#include <algorithm>
#include <cstring>

namespace norv {

class SimulatedBluetoothChannel::Input : public BluetoothInputStream {
public:
    explicit Input(SimulatedBluetoothChannel& channel) : c_(channel) {}
    void setEventHandler(std::function<void(BluetoothStreamEvent)> handler) override {
        c_.streams_.setHandler(Side::input, std::move(handler));
    }
    void open() override {
        if (!c_.streams_.open(Side::input, c_.weak_from_this())) return;
        if (c_.unread() > 0) c_.post(Side::input, BluetoothStreamEvent::hasBytesAvailable);
        if (c_.ended_) c_.post(Side::input, c_.streamError_ ? BluetoothStreamEvent::errorOccurred : BluetoothStreamEvent::endEncountered);
    }
    void close() override { c_.streams_.close(Side::input); }
    std::optional<std::string> error() const override { return c_.readError_ ? c_.readError_ : c_.streamError_; }
    bool hasBytesAvailable() const override {
        return c_.streams_.isOpen(Side::input) && (c_.unread() > 0 || c_.readError_);
    }
    long read(std::uint8_t* buffer, std::size_t maximum) override {
        if (!c_.streams_.isOpen(Side::input) || c_.readError_) return -1;
        const std::size_t n = std::min(maximum, c_.unread());
        std::memcpy(buffer, c_.toPeripheral_.data() + c_.readOffset_, n);
        c_.readOffset_ += n;
        return static_cast<long>(n);
    }

private:
    SimulatedBluetoothChannel& c_;
};

class SimulatedBluetoothChannel::Output : public BluetoothOutputStream {
public:
    explicit Output(SimulatedBluetoothChannel& channel) : c_(channel) {}
    void setEventHandler(std::function<void(BluetoothStreamEvent)> handler) override {
        c_.streams_.setHandler(Side::output, std::move(handler));
    }
    void open() override {
        if (!c_.streams_.open(Side::output, c_.weak_from_this())) return;
        if (hasSpaceAvailable()) c_.post(Side::output, BluetoothStreamEvent::hasSpaceAvailable);
    }
    void close() override { c_.streams_.close(Side::output); }
    std::optional<std::string> error() const override { return c_.writeError_ ? c_.writeError_ : c_.streamError_; }
    bool hasSpaceAvailable() const override {
        return c_.streams_.isOpen(Side::output) && c_.toCentral_.size() < c_.window_;
    }
    long write(const std::uint8_t* bytes, std::size_t count) override {
        if (!c_.streams_.isOpen(Side::output) || c_.writeError_) return -1;
        if (c_.stalledWrites_ > 0) {
            --c_.stalledWrites_;
            c_.writeSizes_.push_back(0);
            return 0;
        }
        const std::size_t room = c_.window_ - std::min(c_.window_, c_.toCentral_.size());
        const std::size_t n = std::min(count, room);
        c_.toCentral_.insert(c_.toCentral_.end(), bytes, bytes + n);
        c_.writeSizes_.push_back(n);
        return static_cast<long>(n);
    }

private:
    SimulatedBluetoothChannel& c_;
};

std::shared_ptr<SimulatedBluetoothChannel> SimulatedBluetoothChannel::create(std::uint16_t psm, QUuid peer) {
    return std::shared_ptr<SimulatedBluetoothChannel>(new SimulatedBluetoothChannel(psm, peer));
}

SimulatedBluetoothChannel::SimulatedBluetoothChannel(std::uint16_t psm, QUuid peer)
    : psm_(psm), peer_(peer), input_(std::make_unique<Input>(*this)), output_(std::make_unique<Output>(*this)) {}

BluetoothInputStream& SimulatedBluetoothChannel::inputStream() { return *input_; }
BluetoothOutputStream& SimulatedBluetoothChannel::outputStream() { return *output_; }

void SimulatedBluetoothChannel::centralWrite(std::span<const std::uint8_t> bytes) {
    if (readOffset_ > 0 && readOffset_ == toPeripheral_.size()) {
        toPeripheral_.clear();
        readOffset_ = 0;
    }
    toPeripheral_.insert(toPeripheral_.end(), bytes.begin(), bytes.end());
    post(Side::input, BluetoothStreamEvent::hasBytesAvailable);
}

BluetoothBytes SimulatedBluetoothChannel::centralRead() {
    BluetoothBytes out;
    out.swap(toCentral_);
    if (!out.empty()) post(Side::output, BluetoothStreamEvent::hasSpaceAvailable);
    return out;
}

void SimulatedBluetoothChannel::centralClose(const std::optional<std::string>& error) {
    ended_ = true;
    streamError_ = error;
    post(Side::input, error ? BluetoothStreamEvent::errorOccurred : BluetoothStreamEvent::endEncountered);
}

void SimulatedBluetoothChannel::setWindow(std::size_t bytes) {
    window_ = bytes;
    if (output_->hasSpaceAvailable()) post(Side::output, BluetoothStreamEvent::hasSpaceAvailable);
}

}  // namespace norv
