#pragma once

#include <QUuid>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "bluetooth/bluetooth_peripheral_manager.h"
#include "bluetooth/peripheral_delegate_report.h"
#include "bluetooth/simulated_bluetooth_channel.h"

namespace norv {

class SimulatedBluetoothPeripheral;

// A peripheral manager without a radio. It records what it was asked to do and, by default,
// answers publication, service and advertising requests on the event loop like a working stack.
class SimulatedPeripheralManager : public BluetoothPeripheralManager {
public:
    ~SimulatedPeripheralManager() override;

    int radioState() const override { return radioState_; }
    void publishL2capChannel(bool encryptionRequired) override;
    void unpublishL2capChannel(std::uint16_t psm) override;
    void addService(const BluetoothGattService& service) override;
    void removeAllServices() override;
    void startAdvertising(const std::vector<std::string>& serviceUuids, const std::string& localName) override;
    void stopAdvertising() override;
    bool isAdvertising() const override { return advertising_; }
    void respond(const BluetoothReadRequest& request, int attResult) override;
    void setDelegate(BluetoothPeripheralManagerDelegate* delegate) override;

    // Test side: change this manager's radio state and report it.
    void setRadioState(int state);
    // Test side: reports delivered at once, as if the stack had sent them.
    void reportPublished(std::uint16_t psm, const std::optional<BluetoothPlatformError>& error = std::nullopt);
    // A central reads a characteristic; returns the ATT result and the value it got.
    std::pair<int, BluetoothBytes> read(const std::string& characteristic, long offset);
    // A central opens a channel on `psm` (posted); returns the central's end.
    std::shared_ptr<SimulatedBluetoothChannel> openChannel(std::uint16_t psm, QUuid peer);
    // The stack reports a failed channel open (posted), with or without a channel.
    void failChannelOpen(const std::optional<BluetoothPlatformError>& error,
                         std::shared_ptr<SimulatedBluetoothChannel> channel = nullptr);

    BluetoothPeripheralManagerDelegate* delegate() const { return delegate_; }
    const std::set<std::uint16_t>& publishedPSMs() const { return published_; }
    const std::vector<std::uint16_t>& unpublished() const { return unpublished_; }
    const std::vector<BluetoothGattService>& services() const { return services_; }
    const std::string& localName() const { return localName_; }
    const std::vector<std::string>& advertisedServices() const { return advertisedServices_; }
    int publishRequests() const { return publishRequests_; }
    int encryptedPublishRequests() const { return encryptedPublishRequests_; }

private:
    friend class SimulatedBluetoothPeripheral;
    explicit SimulatedPeripheralManager(SimulatedBluetoothPeripheral& backend, int radioState);
    template <typename F> void post(F report) { postDelegateReport(alive_, delegate_, std::move(report)); }

    SimulatedBluetoothPeripheral& backend_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    BluetoothPeripheralManagerDelegate* delegate_ = nullptr;
    int radioState_;
    bool advertising_ = false;
    std::set<std::uint16_t> published_;
    std::vector<std::uint16_t> unpublished_;
    std::vector<BluetoothGattService> services_;
    std::string localName_;
    std::vector<std::string> advertisedServices_;
    int publishRequests_ = 0;
    int encryptedPublishRequests_ = 0;
    std::optional<std::pair<int, BluetoothBytes>> lastResponse_;
};

// The simulated Bluetooth stack: makes managers, holds the radio state they start with and the
// failures they should report.
class SimulatedBluetoothPeripheral : public BluetoothPeripheralBackend {
public:
    explicit SimulatedBluetoothPeripheral(int radioState = radioPoweredOn) : radioState_(radioState) {}
    ~SimulatedBluetoothPeripheral() override;

    std::unique_ptr<BluetoothPeripheralManager> createManager(BluetoothPeripheralManagerDelegate* delegate) override;
    int authorization() const override { return authorization_; }

    // Every live manager (and every later one) takes this radio state and reports it.
    void setRadioState(int state);
    void setAuthorization(int value) { authorization_ = value; }

    // Failures the managers report; none by default.
    std::optional<BluetoothPlatformError> publishError;
    std::optional<BluetoothPlatformError> serviceError;
    std::optional<BluetoothPlatformError> advertisingError;
    // Advertising reports success but the manager does not advertise.
    bool advertisingRefused = false;
    // When false, publication requests are only recorded; tests report them with reportPublished.
    bool autoPublish = true;

    // Clean-up the managers were asked for, over every manager this stack made: unpublished PSMs,
    // UUIDs of removed services, delegates cleared. `leftovers` names what a manager still held
    // (a published PSM, a service, advertising, a delegate) when it was dropped.
    struct CleanUp {
        std::vector<std::uint16_t> unpublishedPSMs;
        std::vector<std::string> removedServices;
        int clearedDelegates = 0;
        std::vector<std::string> leftovers;
    };
    const CleanUp& cleanUp() const { return cleanUp_; }

    // Live managers, oldest first.
    const std::vector<SimulatedPeripheralManager*>& managers() const { return managers_; }
    int managersCreated() const { return managersCreated_; }
    std::uint16_t allocatePSM() { return nextPSM_++; }

private:
    friend class SimulatedPeripheralManager;
    int radioState_;
    int authorization_ = 3;  // allowed always
    std::uint16_t nextPSM_ = 0x0081;
    std::vector<SimulatedPeripheralManager*> managers_;
    int managersCreated_ = 0;
    CleanUp cleanUp_;
};

}  // namespace norv
