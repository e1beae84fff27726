#include "bluetooth/simulated_bluetooth_channel.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <cstring>

namespace norv {

class SimulatedBluetoothChannel::Input : public BluetoothInputStream {
public:
    explicit Input(SimulatedBluetoothChannel& channel) : c_(channel) {}
    void setEventHandler(std::function<void(BluetoothStreamEvent)> handler) override {
        c_.inputHandler_ = std::move(handler);
    }
    void open() override {
        if (c_.inputOpen_ || c_.inputClosed_) return;
        c_.inputOpen_ = true;
        c_.post(true, BluetoothStreamEvent::openCompleted);
        if (c_.unread() > 0) c_.post(true, BluetoothStreamEvent::hasBytesAvailable);
        if (c_.ended_) c_.post(true, c_.streamError_ ? BluetoothStreamEvent::errorOccurred : BluetoothStreamEvent::endEncountered);
    }
    void close() override {
        c_.inputClosed_ = true;
        c_.inputOpen_ = false;
    }
    std::optional<std::string> error() const override { return c_.readError_ ? c_.readError_ : c_.streamError_; }
    bool hasBytesAvailable() const override { return c_.inputOpen_ && (c_.unread() > 0 || c_.readError_); }
    long read(std::uint8_t* buffer, std::size_t maximum) override {
        if (!c_.inputOpen_ || c_.readError_) return -1;
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
        c_.outputHandler_ = std::move(handler);
    }
    void open() override {
        if (c_.outputOpen_ || c_.outputClosed_) return;
        c_.outputOpen_ = true;
        c_.post(false, BluetoothStreamEvent::openCompleted);
        if (hasSpaceAvailable()) c_.post(false, BluetoothStreamEvent::hasSpaceAvailable);
    }
    void close() override {
        c_.outputClosed_ = true;
        c_.outputOpen_ = false;
    }
    std::optional<std::string> error() const override { return c_.writeError_ ? c_.writeError_ : c_.streamError_; }
    bool hasSpaceAvailable() const override { return c_.outputOpen_ && c_.toCentral_.size() < c_.window_; }
    long write(const std::uint8_t* bytes, std::size_t count) override {
        if (!c_.outputOpen_ || c_.writeError_) return -1;
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

void SimulatedBluetoothChannel::post(bool toInput, BluetoothStreamEvent event) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [weak = weak_from_this(), toInput, event] {
            const auto self = weak.lock();  // keeps the channel alive while its owner reacts
            if (!self) return;
            if (toInput ? !self->inputOpen_ : !self->outputOpen_) return;
            const auto handler = toInput ? self->inputHandler_ : self->outputHandler_;
            if (handler) handler(event);
        },
        Qt::QueuedConnection);
}

void SimulatedBluetoothChannel::centralWrite(std::span<const std::uint8_t> bytes) {
    if (readOffset_ > 0 && readOffset_ == toPeripheral_.size()) {
        toPeripheral_.clear();
        readOffset_ = 0;
    }
    toPeripheral_.insert(toPeripheral_.end(), bytes.begin(), bytes.end());
    post(true, BluetoothStreamEvent::hasBytesAvailable);
}

BluetoothBytes SimulatedBluetoothChannel::centralRead() {
    BluetoothBytes out;
    out.swap(toCentral_);
    if (!out.empty()) post(false, BluetoothStreamEvent::hasSpaceAvailable);
    return out;
}

void SimulatedBluetoothChannel::centralClose(const std::optional<std::string>& error) {
    ended_ = true;
    streamError_ = error;
    post(true, error ? BluetoothStreamEvent::errorOccurred : BluetoothStreamEvent::endEncountered);
}

void SimulatedBluetoothChannel::setWindow(std::size_t bytes) {
    window_ = bytes;
    if (output_->hasSpaceAvailable()) post(false, BluetoothStreamEvent::hasSpaceAvailable);
}

}  // namespace norv
