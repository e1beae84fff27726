#include "bluetooth/simulated_bluetooth_peripheral.h"

#include <algorithm>

namespace norv {

SimulatedPeripheralManager::SimulatedPeripheralManager(SimulatedBluetoothPeripheral& backend, int radioState)
    : backend_(backend), radioState_(radioState) {}

SimulatedPeripheralManager::~SimulatedPeripheralManager() {
    auto& leftovers = backend_.cleanUp_.leftovers;
    for (const auto psm : published_) leftovers.push_back("psm " + std::to_string(psm) + " still published");
    for (const auto& service : services_) leftovers.push_back("service " + service.uuid + " still added");
    if (advertising_) leftovers.push_back("still advertising");
    if (delegate_) leftovers.push_back("delegate still set");
    std::erase(backend_.managers_, this);
}

void SimulatedPeripheralManager::setDelegate(BluetoothPeripheralManagerDelegate* delegate) {
    if (delegate_ && !delegate) ++backend_.cleanUp_.clearedDelegates;
    delegate_ = delegate;
}

void SimulatedPeripheralManager::publishL2capChannel(bool encryptionRequired) {
    ++publishRequests_;
    if (encryptionRequired) ++encryptedPublishRequests_;
    if (!backend_.autoPublish) return;
    if (backend_.publishError) {
        post([this, error = backend_.publishError](auto& d) { d.peripheralManagerDidPublishChannel(*this, 0, error); });
        return;
    }
    const auto psm = backend_.allocatePSM();
    published_.insert(psm);
    post([this, psm](auto& d) { d.peripheralManagerDidPublishChannel(*this, psm, std::nullopt); });
}

void SimulatedPeripheralManager::unpublishL2capChannel(std::uint16_t psm) {
    published_.erase(psm);
    unpublished_.push_back(psm);
    backend_.cleanUp_.unpublishedPSMs.push_back(psm);
}

void SimulatedPeripheralManager::addService(const BluetoothGattService& service) {
    services_.push_back(service);
    post([this, uuid = service.uuid, error = backend_.serviceError](auto& d) {
        d.peripheralManagerDidAddService(*this, uuid, error);
    });
}

void SimulatedPeripheralManager::removeAllServices() {
    for (const auto& service : services_) backend_.cleanUp_.removedServices.push_back(service.uuid);
    services_.clear();
}

void SimulatedPeripheralManager::startAdvertising(const std::vector<std::string>& serviceUuids,
                                                  const std::string& localName) {
    advertisedServices_ = serviceUuids;
    localName_ = localName;
    advertising_ = !backend_.advertisingError && !backend_.advertisingRefused;
    post([this, error = backend_.advertisingError](auto& d) { d.peripheralManagerDidStartAdvertising(*this, error); });
}

void SimulatedPeripheralManager::stopAdvertising() { advertising_ = false; }

void SimulatedPeripheralManager::respond(const BluetoothReadRequest& request, int attResult) {
    lastResponse_ = {attResult, request.value};
}

void SimulatedPeripheralManager::setRadioState(int state) {
    radioState_ = state;
    post([this](auto& d) { d.peripheralManagerDidUpdateState(*this); });
}

void SimulatedPeripheralManager::reportPublished(std::uint16_t psm, const std::optional<BluetoothPlatformError>& error) {
    if (!error && psm != 0) published_.insert(psm);
    if (delegate_) delegate_->peripheralManagerDidPublishChannel(*this, psm, error);
}

std::pair<int, BluetoothBytes> SimulatedPeripheralManager::read(const std::string& characteristic, long offset) {
    lastResponse_.reset();
    BluetoothReadRequest request{characteristic, offset, {}};
    if (delegate_) delegate_->peripheralManagerDidReceiveRead(*this, request);
    return lastResponse_.value_or(std::pair<int, BluetoothBytes>{-1, {}});
}

std::shared_ptr<SimulatedBluetoothChannel> SimulatedPeripheralManager::openChannel(std::uint16_t psm, QUuid peer) {
    auto channel = SimulatedBluetoothChannel::create(psm, peer);
    post([this, channel](auto& d) { d.peripheralManagerDidOpenChannel(*this, channel, std::nullopt); });
    return channel;
}

void SimulatedPeripheralManager::failChannelOpen(const std::optional<BluetoothPlatformError>& error,
                                                 std::shared_ptr<SimulatedBluetoothChannel> channel) {
    post([this, channel, error](auto& d) { d.peripheralManagerDidOpenChannel(*this, channel, error); });
}

SimulatedBluetoothPeripheral::~SimulatedBluetoothPeripheral() = default;

std::unique_ptr<BluetoothPeripheralManager> SimulatedBluetoothPeripheral::createManager(
    BluetoothPeripheralManagerDelegate* delegate) {
    auto manager = std::unique_ptr<SimulatedPeripheralManager>(new SimulatedPeripheralManager(*this, radioState_));
    manager->setDelegate(delegate);
    managers_.push_back(manager.get());
    ++managersCreated_;
    // A new manager reports the radio state it found.
    manager->post([m = manager.get()](auto& d) { d.peripheralManagerDidUpdateState(*m); });
    return manager;
}

void SimulatedBluetoothPeripheral::setRadioState(int state) {
    radioState_ = state;
    for (auto* manager : managers_) manager->setRadioState(state);
}

}  // namespace norv
