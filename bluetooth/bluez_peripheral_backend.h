#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "bluetooth/bluetooth_peripheral_manager.h"
#include "bluetooth/l2cap_listener.h"

class QDBusServiceWatcher;
class QTimer;

namespace norv {

class BluezPeripheralManager;

// The peripheral role over BlueZ, Linux's Bluetooth stack: GATT and LE advertising through its
// D-Bus API on the given (system) bus, L2CAP channels as kernel sockets. It follows one adapter
// (org.bluez.Adapter1) and maps it onto radio states: powered 5, not powered 4, no adapter, no
// BlueZ or no Bluetooth sockets in the kernel 2, access refused by the bus policy 3; 0 until BlueZ
// has answered. Of several adapters it follows a powered one, keeping the one it follows while
// that stays powered, and moves to another that is powered when the followed one goes away or is
// switched off; with none powered it follows one that is off. It follows BlueZ leaving and joining
// the bus, adapters coming and going, and the followed adapter's Pairable property. Every D-Bus
// call is asynchronous with a bounded wait; a failed read of BlueZ's objects is tried again after
// a growing delay while BlueZ is on the bus.
//
// With `standInL2cap`, channels are published on AF_UNIX SOCK_SEQPACKET sockets in a private
// folder instead (PSMs from 0x0080), so the whole peripheral runs on a machine without Bluetooth.
class BluezPeripheralBackend : public QObject, public BluetoothPeripheralBackend {
    Q_OBJECT

public:
    struct Options {
        bool standInL2cap = false;
        int callTimeoutMs = 5000;
        // Delays before reading BlueZ's objects again after a failed read: the first, doubled
        // after each further failure up to the last.
        int firstRetryMs = 1000;
        int lastRetryMs = 30000;
    };

    BluezPeripheralBackend(QDBusConnection connection, Options options);
    ~BluezPeripheralBackend() override;

    std::unique_ptr<BluetoothPeripheralManager> createManager(
        BluetoothPeripheralManagerDelegate* delegate) override;
    // CoreBluetooth's numbering: 2 denied, 3 allowed.
    int authorization() const override { return accessDenied_ ? 2 : 3; }

    int radioState() const;
    // The followed adapter's Pairable property as last reported (true until BlueZ says
    // otherwise): without it a central cannot bond, and so cannot read the encrypted
    // characteristics or open the channels.
    bool pairable() const;
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
    // Reads BlueZ's objects again and, once they are in, runs `serving` if `adapter` is still the
    // followed adapter and powered; otherwise the managers hear of what changed as a radio state.
    void confirmServing(std::weak_ptr<void> owner, const QString& adapter,
                        std::function<void()> serving);

private Q_SLOTS:
    void interfacesAdded(const QDBusMessage& message);
    void interfacesRemoved(const QDBusMessage& message);
    void propertiesChanged(const QDBusMessage& message);

private:
    struct Adapter {
        bool powered = false;
        bool pairable = true;
    };

    void askOwner();
    void refresh();
    void receiveObjects(const QDBusMessage& reply, int serial);
    void retryLater(const QString& error);
    void bluezOwnerChanged(const QString& owner);
    void readAdapter(const QString& path);
    static Adapter adapterFrom(const QVariantMap& properties, const Adapter& before);
    // Chooses the adapter to follow and tells the managers what changed.
    void reconcile();
    QString preferredAdapter() const;
    // Tells the managers what differs from what they were last told.
    void announce();
    // Adapter property changes are subscribed to from BlueZ's unique name on each adapter's path
    // only, so other objects' changes on the bus do not wake us. Each new subscription reads the
    // adapter's properties again, since a change just before it is not delivered.
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
    std::map<QString, Adapter> adapters_;  // every adapter BlueZ has, by object path
    QString adapter_;                      // the one followed, or none
    int announcedState_ = radioUnknown;
    bool announcedPairable_ = true;
    QString propertiesSender_;  // the PropertiesChanged subscriptions: sender and adapter paths
    std::set<QString> propertiesPaths_;
    int readSerial_ = 0;  // only the answer to the latest object read counts
    int retryMs_ = 0;
    QTimer* retryTimer_ = nullptr;
    std::vector<std::pair<std::weak_ptr<void>, std::function<void()>>> afterRead_;
    std::string kernelRefusal_;
    QString standInFolder_;
    std::uint16_t nextStandInPSM_ = 0x0080;
    int nextObject_ = 0;
};

}  // namespace norv
