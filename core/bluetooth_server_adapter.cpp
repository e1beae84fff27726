#include "core/bluetooth_server_adapter.h"

#include "bluetooth/bluez_probe.h"
#include "bluetooth/norv_bluetooth_server.h"
#include "bluetooth/simulated_bluetooth_peripheral.h"
#include "core/app_log.h"

namespace norv {

namespace {

// How long start-up may look for BlueZ before Bluetooth settles for the peripheral without a radio.
constexpr int bluezProbeBoundMs = 3000;

}  // namespace

BluetoothServerAdapter::BluetoothServerAdapter(L2capChannels channels) {
    const bool standIn = channels == L2capChannels::standInSockets;
    if (standIn) qCInfo(AppLog::connection, "Bluetooth: L2CAP channels go to stand-in sockets, not the radio");
    probeBluez(&context_, {standIn, 5000}, bluezProbeBoundMs,
               [this](std::shared_ptr<BluezPeripheralBackend> backend, const QString& reason) {
                   choose(std::move(backend), reason);
               });
}

BluetoothServerAdapter::~BluetoothServerAdapter() = default;

void BluetoothServerAdapter::start(const QString& name, quint16 port, quint16 secureMidiPort) {
    if (server_) {
        server_->start(name, port, secureMidiPort);
    } else {
        pending_ = Start{name, port, secureMidiPort};
    }
}

void BluetoothServerAdapter::stop() {
    pending_.reset();
    if (server_) server_->stop();
}

void BluetoothServerAdapter::setHandlers(std::function<void(const QString&)> onStatus,
                                         std::function<void(const QString&)> onEvent) {
    onStatus_ = std::move(onStatus);
    onEvent_ = std::move(onEvent);
    if (server_) applyHandlers();
}

void BluetoothServerAdapter::choose(std::shared_ptr<BluezPeripheralBackend> backend, const QString& reason) {
    if (backend) {
        if (reason.isEmpty()) {
            qCInfo(AppLog::connection, "Bluetooth: BlueZ serves Bluetooth LE on %s", qUtf8Printable(backend->adapterPath()));
        } else {
            qCWarning(AppLog::connection, "Bluetooth: unavailable for now, %s; waiting for BlueZ and an adapter",
                      qUtf8Printable(reason));
        }
        server_ = std::make_unique<NorvBluetoothServer>(std::move(backend));
    } else {
        qCWarning(AppLog::connection, "Bluetooth: unavailable, %s", qUtf8Printable(reason));
        server_ = std::make_unique<NorvBluetoothServer>(std::make_shared<SimulatedBluetoothPeripheral>(radioUnsupported));
    }
    applyHandlers();
    if (pending_) server_->start(pending_->name, pending_->port, pending_->secureMidiPort);
    pending_.reset();
}

void BluetoothServerAdapter::applyHandlers() {
    server_->onStatus = [onStatus = onStatus_](const QString& status) {
        qCInfo(AppLog::connection, "Bluetooth status %s", qUtf8Printable(status));
        if (onStatus) onStatus(status);
    };
    server_->onEvent = onEvent_;
}

}  // namespace norv
