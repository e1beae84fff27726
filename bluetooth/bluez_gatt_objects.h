#pragma once

#include <QDBusVirtualObject>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "bluetooth/bluetooth_peripheral_manager.h"
#include "bluetooth/bluez_dbus_types.h"

namespace norv {

// The D-Bus objects a peripheral manager exports for BlueZ, under one base path:
//   <base>                        org.freedesktop.DBus.ObjectManager (the GATT application)
//   <base>/service0               org.bluez.GattService1
//   <base>/service0/char<i>       org.bluez.GattCharacteristic1, in the service's order
//   <base>/advertisement          org.bluez.LEAdvertisement1
// UUIDs are exported in lower case, as BlueZ spells them; reads are handed on with the UUID in
// the spelling the service was given. The advertisement is a discoverable peripheral's, with the
// local name cut to what BlueZ sends, on a character boundary.
class BluezGattObjects : public QDBusVirtualObject {
    Q_OBJECT

public:
    explicit BluezGattObjects(QString basePath, QObject* parent = nullptr);

    void setService(const BluetoothGattService& service) { service_ = service; }
    void clearService() { service_.reset(); }
    void setAdvertisement(const std::vector<std::string>& serviceUuids,
                          const std::string& localName);
    void clearAdvertisement() { advertised_ = false; }

    QString applicationPath() const { return base_; }
    QString advertisementPath() const { return base_ + QStringLiteral("/advertisement"); }

    // Answers a read of a characteristic (UUID as given) at an offset: ATT result and value.
    std::function<std::pair<int, QByteArray>(const std::string& characteristic, long offset)>
        onRead;
    // BlueZ released the advertisement; it is no longer exported.
    std::function<void()> onRelease;

    // The most of a local name's UTF-8 bytes that BlueZ puts in an advertisement.
    static constexpr std::size_t localNameLimit = 29;
    // `name` cut to at most `localNameLimit` bytes without splitting a character.
    static QString advertisedName(const std::string& name);

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;
    QString introspect(const QString& path) const override;

    // ATT results as BlueZ error names; empty for success.
    static QString errorName(int attResult);

private:
    QString servicePath() const { return base_ + QStringLiteral("/service0"); }
    QString characteristicPath(std::size_t index) const;
    std::optional<std::size_t> characteristicAt(const QString& path) const;
    // The interface and properties of the object at `path`, if there is one.
    std::optional<std::pair<QString, QVariantMap>> objectAt(const QString& path) const;
    // The GATT objects as GetManagedObjects gives them: the service, then its characteristics.
    BluezManagedObjects managedObjects() const;
    QDBusMessage properties(const QDBusMessage& message) const;
    QDBusMessage read(const QDBusMessage& message, std::size_t characteristic);

    QString base_;
    std::optional<BluetoothGattService> service_;
    bool advertised_ = false;
    QStringList advertisedUuids_;
    QString localName_;
};

}  // namespace norv
