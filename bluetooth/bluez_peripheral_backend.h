#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "bluetooth/bluetooth_peripheral_manager.h"
#include "bluetooth/l2cap_listener.h"

class QDBusServiceWatcher;

namespace norv {

class BluezPeripheralManager;

// The peripheral role over BlueZ, Linux's Bluetooth stack: GATT and LE advertising through its
// D-Bus API on the given (system) bus, L2CAP channels as kernel sockets. It follows the first
// adapter (org.bluez.Adapter1) and maps it onto radio states: powered 5, not powered 4, no
// adapter, no BlueZ or no Bluetooth sockets in the kernel 2, access refused by the bus policy 3;
// 0 until BlueZ has answered. It follows BlueZ leaving and joining the bus and adapters coming and
// going, and the adapter's Pairable property. Every D-Bus call is asynchronous with a bounded wait.
//
// With `standInL2cap`, channels are published on AF_UNIX SOCK_SEQPACKET sockets in a private
// folder instead (PSMs from 0x0080), so the whole peripheral runs on a machine without Bluetooth.
class BluezPeripheralBackend : public QObject, public BluetoothPeripheralBackend {
    Q_OBJECT

public:
    struct Options {
        bool standInL2cap = false;
        int callTimeoutMs = 5000;
    };

    BluezPeripheralBackend(QDBusConnection connection, Options options);
    ~BluezPeripheralBackend() override;

    std::unique_ptr<BluetoothPeripheralManager> createManager(
        BluetoothPeripheralManagerDelegate* delegate) override;
    // CoreBluetooth's numbering: 2 denied, 3 allowed.
    int authorization() const override { return accessDenied_ ? 2 : 3; }

    int radioState() const;
    // The adapter's Pairable property as last reported (true until BlueZ says otherwise): without
    // it a central cannot bond, and so cannot read the encrypted characteristics or open the
    // channels.
    bool pairable() const { return pairable_; }
    bool known() const { return known_; }
    QString adapterPath() const { return adapter_; }
    // Why BlueZ cannot serve, for the log; empty while it can.
    QString unavailableReason() const;
    QString standInFolder() const { return standInFolder_; }
    // Runs `callback` once BlueZ has first answered (at once when it has).
    void whenKnown(QObject* context, std::function<void()> callback);

    // For the managers.
    QDBusConnection& connection() { return connection_; }
    int callTimeout() const { return options_.callTimeoutMs; }
    QString nextObjectPath();
    std::variant<std::unique_ptr<L2capListener>, std::string> listen(
        bool encryptionRequired, L2capListener::Opened onChannel);
    void forget(BluezPeripheralManager* manager);
    // An asynchronous call answered on the event loop; nothing runs once `owner` has expired.
    void call(const QDBusMessage& message, std::weak_ptr<void> owner,
              std::function<void(const QDBusMessage&)> done);

private Q_SLOTS:
    void interfacesAdded(const QDBusMessage& message);
    void interfacesRemoved(const QDBusMessage& message);
    void propertiesChanged(const QDBusMessage& message);

private:
    void refresh();
    void receiveObjects(const QDBusMessage& reply);
    void bluezOwnerChanged(const QString& owner);
    void update(QString adapter, bool powered, bool pairable);
    // Tells the managers what differs from `before` and `pairableBefore`.
    void announce(int before, bool pairableBefore);
    // Adapter property changes are subscribed to from BlueZ's unique name on the adapter's path
    // only, so other objects' changes on the bus do not wake us.
    void followAdapterProperties();

    QDBusConnection connection_;
    Options options_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    QDBusServiceWatcher* watcher_ = nullptr;
    std::vector<BluezPeripheralManager*> managers_;
    std::vector<std::pair<QPointer<QObject>, std::function<void()>>> waiting_;
    bool known_ = false;
    bool accessDenied_ = false;
    QString bluezError_;
    QString bluez_;  // BlueZ's unique name on the bus, whose signals count
    QString adapter_;
    bool powered_ = false;
    bool pairable_ = true;
    QString propertiesSender_;  // the PropertiesChanged subscription: sender and path, or none
    QString propertiesPath_;
    std::string kernelRefusal_;
    QString standInFolder_;
    std::uint16_t nextStandInPSM_ = 0x0080;
    int nextObject_ = 0;
};

}  // namespace norv
