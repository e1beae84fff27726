#pragma once

#include <stdexcept>
#include <string>

namespace norv {

// A failure of the Bluetooth codecs and queues, under the domain "NorvBluetooth".
class BluetoothError : public std::runtime_error {
public:
    BluetoothError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}

    static constexpr const char* domain = "NorvBluetooth";
    int code() const { return code_; }

    static BluetoothError invalidStateFrame() { return {1, "Invalid state frame"}; }
    static BluetoothError invalidBlock() { return {2, "Invalid compressed Bluetooth block"}; }
    static BluetoothError stateQueueLimit() { return {3, "Bluetooth state queue limit exceeded"}; }
    static BluetoothError invalidFrame() { return {4, "Invalid Bluetooth frame delta or baseline"}; }
    static BluetoothError outputOverflow() { return {4, "Bluetooth output overflow"}; }

private:
    int code_;
};

}  // namespace norv
