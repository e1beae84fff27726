#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bluetooth/bluetooth_peripheral_manager.h"
#include "bluetooth/l2cap_listener.h"
#include "bluetooth/peripheral_delegate_report.h"

class QDBusMessage;

namespace norv {

class BluezGattObjects;
class BluezPeripheralBackend;

// One peripheral manager over BlueZ: its L2CAP listeners, its GATT application (registered with
// org.bluez.GattManager1) and its advertisement (org.bluez.LEAdvertisingManager1), all on the
// backend's adapter. Reports reach the delegate on the event loop. Dropping the manager
// unregisters what it registered and closes its listening sockets.
class BluezPeripheralManager : public BluetoothPeripheralManager {
public:
    BluezPeripheralManager(BluezPeripheralBackend& backend,
                           BluetoothPeripheralManagerDelegate* delegate);
    ~BluezPeripheralManager() override;

    int radioState() const override;
    void publishL2capChannel(bool encryptionRequired) override;
    void unpublishL2capChannel(std::uint16_t psm) override;
    void addService(const BluetoothGattService& service) override;
    void removeAllServices() override;
    void startAdvertising(const std::vector<std::string>& serviceUuids,
                          const std::string& localName) override;
    void stopAdvertising() override;
    bool isAdvertising() const override { return advertising_; }
    bool pairable() const override;
    void respond(const BluetoothReadRequest& request, int attResult) override;
    void setDelegate(BluetoothPeripheralManagerDelegate* delegate) override {
        delegate_ = delegate;
    }

    // From the backend.
    void radioStateChanged();
    void pairableChanged();
    void backendGone() { backend_ = nullptr; }

private:
    template <typename F>
    void post(F report) {
        postDelegateReport(alive_, delegate_, std::move(report));
    }
    std::pair<int, QByteArray> read(const std::string& characteristic, long offset);
    QDBusMessage adapterCall(const QString& interface, const QString& method,
                             const QString& objectPath) const;
    void unregister(const QString& interface, const QString& method, const QString& objectPath);
    // BlueZ dropped the advertisement (adapter gone, daemon exiting, timeout).
    void advertisementReleased();
    static BluetoothPlatformError errorOf(const QDBusMessage& reply);

    BluezPeripheralBackend* backend_;
    BluetoothPeripheralManagerDelegate* delegate_;
    int state_;  // the radio state as last reported to the delegate
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    BluezGattObjects* objects_;
    QString basePath_;
    QString adapter_;  // where the application and advertisement were registered
    std::map<std::uint16_t, std::unique_ptr<L2capListener>> listeners_;
    bool serviceRequested_ = false;
    int serviceGeneration_ = 0;
    bool advertisementRequested_ = false;
    bool advertising_ = false;
    int advertisingGeneration_ = 0;
    const BluetoothReadRequest* reading_ = nullptr;
    std::optional<std::pair<int, BluetoothBytes>> response_;
};

}  // namespace norv
