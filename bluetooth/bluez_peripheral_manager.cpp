#include "bluetooth/bluez_peripheral_manager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>

#include "bluetooth/bluetooth_log.h"
#include "bluetooth/bluez_gatt_objects.h"
#include "bluetooth/bluez_peripheral_backend.h"

namespace norv {

namespace {

const QString gattManager = QStringLiteral("org.bluez.GattManager1");
const QString advertisingManager = QStringLiteral("org.bluez.LEAdvertisingManager1");
constexpr int attUnlikelyError = 0x0E;

}  // namespace

BluezPeripheralManager::BluezPeripheralManager(BluezPeripheralBackend& backend,
                                               BluetoothPeripheralManagerDelegate* delegate)
    : backend_(&backend),
      delegate_(delegate),
      state_(backend.radioState()),
      basePath_(backend.nextObjectPath()) {
    objects_ = new BluezGattObjects(basePath_);
    objects_->onRead = [this](const std::string& characteristic, long offset) {
        return read(characteristic, offset);
    };
    objects_->onRelease = [this] { advertisementReleased(); };
    if (!backend.connection().registerVirtualObject(basePath_, objects_,
                                                    QDBusConnection::SubPath)) {
        qCWarning(bluetoothLog, "Bluetooth: cannot export %s on the bus",
                  qUtf8Printable(basePath_));
    }
}

BluezPeripheralManager::~BluezPeripheralManager() {
    stopAdvertising();
    removeAllServices();
    listeners_.clear();
    if (backend_) {
        backend_->connection().unregisterObject(basePath_, QDBusConnection::UnregisterTree);
        backend_->forget(this);
    }
    objects_->onRead = nullptr;
    objects_->onRelease = nullptr;
    objects_->deleteLater();  // a call may still be on its way in
}

int BluezPeripheralManager::radioState() const { return backend_ ? state_ : radioUnsupported; }

void BluezPeripheralManager::radioStateChanged() {
    // Each report carries the state it was made for, so a quick succession (an adapter lost,
    // then another followed) reaches the delegate step by step.
    post([this, state = backend_ ? backend_->radioState()
                                 : radioUnsupported](BluetoothPeripheralManagerDelegate& d) {
        state_ = state;
        d.peripheralManagerDidUpdateState(*this);
    });
}

bool BluezPeripheralManager::pairable() const { return !backend_ || backend_->pairable(); }

void BluezPeripheralManager::pairableChanged() {
    post([this](BluetoothPeripheralManagerDelegate& d) {
        d.peripheralManagerDidUpdatePairable(*this);
    });
}

void BluezPeripheralManager::publishL2capChannel(bool encryptionRequired) {
    if (!backend_) return;
    auto opened =
        [this, alive = std::weak_ptr<int>(alive_)](std::shared_ptr<BluetoothL2capChannel> channel) {
            if (alive.expired() || !delegate_) {
                channel->inputStream().close();
                channel->outputStream().close();
                return;
            }
            delegate_->peripheralManagerDidOpenChannel(*this, std::move(channel), std::nullopt);
        };
    auto result = backend_->listen(encryptionRequired, std::move(opened));
    if (auto* failure = std::get_if<std::string>(&result)) {
        qCWarning(bluetoothLog, "Bluetooth: cannot publish an L2CAP channel: %s", failure->c_str());
        post([this, error = BluetoothPlatformError{"POSIX", 0, *failure}](
                 BluetoothPeripheralManagerDelegate& d) {
            d.peripheralManagerDidPublishChannel(*this, 0, error);
        });
        return;
    }
    auto listener = std::move(std::get<std::unique_ptr<L2capListener>>(result));
    const std::uint16_t psm = listener->psm();
    listeners_[psm] = std::move(listener);
    post([this, psm](BluetoothPeripheralManagerDelegate& d) {
        d.peripheralManagerDidPublishChannel(*this, psm, std::nullopt);
    });
}

void BluezPeripheralManager::unpublishL2capChannel(std::uint16_t psm) { listeners_.erase(psm); }

QDBusMessage BluezPeripheralManager::adapterCall(const QString& interface, const QString& method,
                                                 const QString& objectPath) const {
    QDBusMessage message =
        QDBusMessage::createMethodCall(QStringLiteral("org.bluez"), adapter_, interface, method);
    QList<QVariant> arguments{QVariant::fromValue(QDBusObjectPath(objectPath))};
    if (method.startsWith(QLatin1String("Register"))) arguments << QVariantMap();
    message.setArguments(arguments);
    return message;
}

void BluezPeripheralManager::unregister(const QString& interface, const QString& method,
                                        const QString& objectPath) {
    if (backend_ && !adapter_.isEmpty())
        backend_->call(adapterCall(interface, method, objectPath), {}, nullptr);
}

BluetoothPlatformError BluezPeripheralManager::errorOf(const QDBusMessage& reply) {
    return {"org.bluez", 0,
            (reply.errorName() + QStringLiteral(": ") + reply.errorMessage()).toStdString()};
}

void BluezPeripheralManager::addService(const BluetoothGattService& service) {
    if (!backend_) return;
    const std::string uuid = service.uuid;
    adapter_ = backend_->adapterPath();
    if (adapter_.isEmpty()) {
        post([this, uuid](BluetoothPeripheralManagerDelegate& d) {
            d.peripheralManagerDidAddService(
                *this, uuid, BluetoothPlatformError{"org.bluez", 0, "no Bluetooth adapter"});
        });
        return;
    }
    objects_->setService(service);
    serviceRequested_ = true;
    const int generation = ++serviceGeneration_;
    const QString application = objects_->applicationPath();
    backend_->call(adapterCall(gattManager, QStringLiteral("RegisterApplication"), application),
                   alive_, [this, uuid, generation, application](const QDBusMessage& reply) {
                       const bool failed = reply.type() == QDBusMessage::ErrorMessage;
                       if (generation != serviceGeneration_) {
                           // Removed while BlueZ was still registering it.
                           if (!failed)
                               unregister(gattManager, QStringLiteral("UnregisterApplication"),
                                          application);
                           return;
                       }
                       if (failed) {
                           serviceRequested_ = false;
                           objects_->clearService();
                       }
                       if (delegate_) {
                           delegate_->peripheralManagerDidAddService(
                               *this, uuid, failed ? std::optional(errorOf(reply)) : std::nullopt);
                       }
                   });
}

void BluezPeripheralManager::removeAllServices() {
    ++serviceGeneration_;
    objects_->clearService();
    if (!serviceRequested_) return;
    serviceRequested_ = false;
    unregister(gattManager, QStringLiteral("UnregisterApplication"), objects_->applicationPath());
}

void BluezPeripheralManager::startAdvertising(const std::vector<std::string>& serviceUuids,
                                              const std::string& localName) {
    if (!backend_) return;
    if (advertisementRequested_) stopAdvertising();
    adapter_ = backend_->adapterPath();
    objects_->setAdvertisement(serviceUuids, localName);
    advertisementRequested_ = true;
    const int generation = ++advertisingGeneration_;
    const QString advertisement = objects_->advertisementPath();
    backend_->call(
        adapterCall(advertisingManager, QStringLiteral("RegisterAdvertisement"), advertisement),
        alive_, [this, generation, advertisement](const QDBusMessage& reply) {
            const bool failed = reply.type() == QDBusMessage::ErrorMessage;
            if (generation != advertisingGeneration_) {
                if (!failed)
                    unregister(advertisingManager, QStringLiteral("UnregisterAdvertisement"),
                               advertisement);
                return;
            }
            advertising_ = !failed;
            if (failed) advertisementRequested_ = false;
            if (delegate_) {
                delegate_->peripheralManagerDidStartAdvertising(
                    *this, failed ? std::optional(errorOf(reply)) : std::nullopt);
            }
        });
}

void BluezPeripheralManager::stopAdvertising() {
    ++advertisingGeneration_;
    advertising_ = false;
    if (!advertisementRequested_) return;
    advertisementRequested_ = false;
    unregister(advertisingManager, QStringLiteral("UnregisterAdvertisement"),
               objects_->advertisementPath());
    objects_->clearAdvertisement();
}

void BluezPeripheralManager::advertisementReleased() {
    if (!advertisementRequested_) return;
    // BlueZ has forgotten it: nothing to unregister, and a reply still on its way is stale.
    advertisementRequested_ = false;
    advertising_ = false;
    ++advertisingGeneration_;
    objects_->clearAdvertisement();
    qCInfo(bluetoothLog, "Bluetooth: BlueZ released the advertisement");
    if (!backend_) return;
    // BlueZ also releases it just before the adapter goes away or BlueZ exits, while the adapter
    // still looks present and powered; registering again then only fails. So the owner hears of
    // the release only once BlueZ confirms the adapter still serves; otherwise the radio state
    // tells what happened.
    backend_->confirmServing(alive_, adapter_, [this] {
        post([this](BluetoothPeripheralManagerDelegate& d) {
            d.peripheralManagerDidStopAdvertising(*this);
        });
    });
}

std::pair<int, QByteArray> BluezPeripheralManager::read(const std::string& characteristic,
                                                        long offset) {
    if (!delegate_) return {attUnlikelyError, {}};
    BluetoothReadRequest request{characteristic, offset, {}};
    reading_ = &request;
    response_.reset();
    delegate_->peripheralManagerDidReceiveRead(*this, request);
    reading_ = nullptr;
    if (!response_) return {attUnlikelyError, {}};
    const auto& [result, value] = *response_;
    return {result, QByteArray(reinterpret_cast<const char*>(value.data()),
                               static_cast<qsizetype>(value.size()))};
}

void BluezPeripheralManager::respond(const BluetoothReadRequest& request, int attResult) {
    if (&request == reading_) response_ = {attResult, request.value};
}

}  // namespace norv
