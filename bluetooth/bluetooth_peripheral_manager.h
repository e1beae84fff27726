#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bluetooth/codec/bluetooth_bytes.h"
#include "bluetooth/bluetooth_l2cap_channel.h"
#include "bluetooth/codec/bluetooth_platform_error.h"

namespace norv {

// What the Bluetooth server needs of the platform's peripheral role. Radio states use the
// platform's numbering: 0 unknown, 1 resetting, 2 unsupported, 3 unauthorized, 4 powered off,
// 5 powered on.
enum BluetoothRadioState : int {
    radioUnknown = 0,
    radioResetting = 1,
    radioUnsupported = 2,
    radioUnauthorized = 3,
    radioPoweredOff = 4,
    radioPoweredOn = 5,
};

struct BluetoothGattCharacteristic {
    std::string uuid;
    bool readOnly = true;             // the read property alone, no fixed value
    bool encryptionRequired = true;   // read permission needs an encrypted link
};

struct BluetoothGattService {
    std::string uuid;
    bool primary = true;
    std::vector<BluetoothGattCharacteristic> characteristics;
};

// A central's read of a characteristic; the answer's value is set before responding.
struct BluetoothReadRequest {
    std::string characteristic;
    long offset = 0;
    BluetoothBytes value;
};

class BluetoothPeripheralManager;

// Reports of a peripheral manager, delivered on the event loop.
class BluetoothPeripheralManagerDelegate {
public:
    virtual ~BluetoothPeripheralManagerDelegate() = default;
    virtual void peripheralManagerDidUpdateState(BluetoothPeripheralManager& manager) = 0;
    virtual void peripheralManagerDidPublishChannel(BluetoothPeripheralManager& manager, std::uint16_t psm,
                                                    const std::optional<BluetoothPlatformError>& error) = 0;
    virtual void peripheralManagerDidAddService(BluetoothPeripheralManager& manager, const std::string& serviceUuid,
                                                const std::optional<BluetoothPlatformError>& error) = 0;
    virtual void peripheralManagerDidStartAdvertising(BluetoothPeripheralManager& manager,
                                                      const std::optional<BluetoothPlatformError>& error) = 0;
    virtual void peripheralManagerDidReceiveRead(BluetoothPeripheralManager& manager, BluetoothReadRequest& request) = 0;
    virtual void peripheralManagerDidOpenChannel(BluetoothPeripheralManager& manager,
                                                 std::shared_ptr<BluetoothL2capChannel> channel,
                                                 const std::optional<BluetoothPlatformError>& error) = 0;
    // The platform dropped the advertisement by itself; isAdvertising() is now false. Only
    // platforms that can do so report it.
    virtual void peripheralManagerDidStopAdvertising(BluetoothPeripheralManager& /*manager*/) {}
    // pairable() changed.
    virtual void peripheralManagerDidUpdatePairable(BluetoothPeripheralManager& /*manager*/) {}
};

class BluetoothPeripheralManager {
public:
    virtual ~BluetoothPeripheralManager() = default;
    virtual int radioState() const = 0;
    // Later reported through peripheralManagerDidPublishChannel.
    virtual void publishL2capChannel(bool encryptionRequired) = 0;
    virtual void unpublishL2capChannel(std::uint16_t psm) = 0;
    virtual void addService(const BluetoothGattService& service) = 0;
    virtual void removeAllServices() = 0;
    virtual void startAdvertising(const std::vector<std::string>& serviceUuids, const std::string& localName) = 0;
    virtual void stopAdvertising() = 0;
    virtual bool isAdvertising() const = 0;
    // Whether a central can bond with this machine now, which encrypted reads and channels need.
    // Platforms that always let centrals pair say true.
    virtual bool pairable() const { return true; }
    // Answers a read with an ATT result code (0 success).
    virtual void respond(const BluetoothReadRequest& request, int attResult) = 0;
    // No report reaches a cleared delegate.
    virtual void setDelegate(BluetoothPeripheralManagerDelegate* delegate) = 0;
};

// Makes peripheral managers and tells the process-wide Bluetooth authorization.
class BluetoothPeripheralBackend {
public:
    virtual ~BluetoothPeripheralBackend() = default;
    virtual std::unique_ptr<BluetoothPeripheralManager> createManager(BluetoothPeripheralManagerDelegate* delegate) = 0;
    virtual int authorization() const = 0;
};

}  // namespace norv
