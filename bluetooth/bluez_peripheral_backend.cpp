#include "bluetooth/bluez_peripheral_backend.h"

#include <QDBusArgument>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cstdlib>

#include "bluetooth/bluetooth_log.h"
#include "bluetooth/bluez_dbus_types.h"
#include "bluetooth/bluez_peripheral_manager.h"

namespace norv {

namespace {

const QString bluezService = QStringLiteral("org.bluez");
const QString adapterInterface = QStringLiteral("org.bluez.Adapter1");
const QString accessDenied = QStringLiteral("org.freedesktop.DBus.Error.AccessDenied");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString propertiesChangedSignal = QStringLiteral("PropertiesChanged");
constexpr std::uint16_t firstDynamicPSM = 0x0080;
constexpr std::uint16_t lastDynamicPSM = 0x00FF;

// A fresh folder only we can enter, under the runtime folder when there is one.
QString makePrivateFolder() {
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty() || !QDir(base).exists()) base = QDir::tempPath();
    QByteArray pattern = QFile::encodeName(base + QStringLiteral("/norv-l2cap-XXXXXX"));
    if (!::mkdtemp(pattern.data())) return {};
    return QFile::decodeName(pattern);
}

}  // namespace

BluezPeripheralBackend::BluezPeripheralBackend(QDBusConnection connection, Options options)
    : connection_(std::move(connection)), options_(options) {
    registerBluezDBusTypes();
    if (options_.standInL2cap) {
        standInFolder_ = makePrivateFolder();
        qCInfo(bluetoothLog,
               "Bluetooth: stand-in L2CAP channels are AF_UNIX sockets in %s",
               qUtf8Printable(standInFolder_));
    } else {
        kernelRefusal_ = L2capListener::kernelRefusal();
        if (!kernelRefusal_.empty()) {
            qCWarning(bluetoothLog,
                      "Bluetooth: the kernel refuses LE L2CAP sockets (%s), so Bluetooth LE is "
                      "unavailable",
                      kernelRefusal_.c_str());
        }
    }
    watcher_ = new QDBusServiceWatcher(bluezService, connection_,
                                       QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(
        watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
        [this](const QString&, const QString&, const QString& owner) { bluezOwnerChanged(owner); });
    // Subscribed without naming the sender, which would make Qt ask the bus for the owner of
    // "org.bluez" and wait; signals are matched against BlueZ's unique name instead.
    const QString objectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
    connection_.connect(QString(), QStringLiteral("/"), objectManager,
                        QStringLiteral("InterfacesAdded"), this,
                        SLOT(interfacesAdded(QDBusMessage)));
    connection_.connect(QString(), QStringLiteral("/"), objectManager,
                        QStringLiteral("InterfacesRemoved"), this,
                        SLOT(interfacesRemoved(QDBusMessage)));
    refresh();
}

BluezPeripheralBackend::~BluezPeripheralBackend() {
    if (!propertiesSender_.isEmpty()) {
        connection_.disconnect(propertiesSender_, propertiesPath_, propertiesInterface,
                               propertiesChangedSignal, this, SLOT(propertiesChanged(QDBusMessage)));
    }
    for (auto* manager : managers_) manager->backendGone();
    if (!standInFolder_.isEmpty()) QDir(standInFolder_).removeRecursively();
}

std::unique_ptr<BluetoothPeripheralManager> BluezPeripheralBackend::createManager(
    BluetoothPeripheralManagerDelegate* delegate) {
    auto manager = std::make_unique<BluezPeripheralManager>(*this, delegate);
    managers_.push_back(manager.get());
    manager->radioStateChanged();  // a new manager reports the state it found
    if (!pairable_) manager->pairableChanged();
    return manager;
}

void BluezPeripheralBackend::forget(BluezPeripheralManager* manager) {
    std::erase(managers_, manager);
}

int BluezPeripheralBackend::radioState() const {
    if (!kernelRefusal_.empty()) return radioUnsupported;
    if (!known_) return radioUnknown;
    if (accessDenied_) return radioUnauthorized;
    if (adapter_.isEmpty()) return radioUnsupported;
    return powered_ ? radioPoweredOn : radioPoweredOff;
}

QString BluezPeripheralBackend::unavailableReason() const {
    if (!kernelRefusal_.empty())
        return QStringLiteral("the kernel refuses LE L2CAP sockets: ") +
               QString::fromStdString(kernelRefusal_);
    if (accessDenied_) return QStringLiteral("the system bus refuses access to BlueZ");
    if (!bluezError_.isEmpty()) return QStringLiteral("BlueZ does not answer: ") + bluezError_;
    if (known_ && adapter_.isEmpty()) return QStringLiteral("BlueZ has no Bluetooth adapter");
    return {};
}

void BluezPeripheralBackend::whenKnown(QObject* context, std::function<void()> callback) {
    if (known_) {
        callback();
        return;
    }
    waiting_.emplace_back(context, std::move(callback));
}

QString BluezPeripheralBackend::nextObjectPath() {
    return QStringLiteral("/org/norv/bridge/peripheral%1").arg(++nextObject_);
}

std::variant<std::unique_ptr<L2capListener>, std::string> BluezPeripheralBackend::listen(
    bool encryptionRequired, L2capListener::Opened onChannel) {
    if (!options_.standInL2cap)
        return L2capListener::listenKernel(encryptionRequired, std::move(onChannel));
    if (standInFolder_.isEmpty()) return std::string("no private folder for the stand-in channels");
    // Dynamic LE PSMs, skipping any still published.
    for (int tries = lastDynamicPSM - firstDynamicPSM + 1; tries > 0; --tries) {
        const std::uint16_t psm = nextStandInPSM_;
        nextStandInPSM_ =
            psm == lastDynamicPSM ? firstDynamicPSM : static_cast<std::uint16_t>(psm + 1);
        if (QFile::exists(standInFolder_ + QStringLiteral("/%1").arg(psm, 4, 16, QLatin1Char('0'))))
            continue;
        return L2capListener::listenStandIn(standInFolder_, psm, std::move(onChannel));
    }
    return std::string("no free PSM");
}

void BluezPeripheralBackend::call(const QDBusMessage& message, std::weak_ptr<void> owner,
                                  std::function<void(const QDBusMessage&)> done) {
    auto* watcher =
        new QDBusPendingCallWatcher(connection_.asyncCall(message, options_.callTimeoutMs));
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, watcher,
        [owner = std::move(owner), done = std::move(done)](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            if (owner.expired() || !done) return;
            done(finished->reply());
        });
}

void BluezPeripheralBackend::refresh() {
    call(QDBusMessage::createMethodCall(bluezService, QStringLiteral("/"),
                                        QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                                        QStringLiteral("GetManagedObjects")),
         alive_, [this](const QDBusMessage& reply) { receiveObjects(reply); });
}

void BluezPeripheralBackend::receiveObjects(const QDBusMessage& reply) {
    const int before = radioState();
    const bool pairableBefore = pairable_;
    QString adapter;
    bool powered = false;
    bool pairable = true;
    if (reply.type() == QDBusMessage::ErrorMessage) {
        accessDenied_ = reply.errorName() == accessDenied;
        bluezError_ = reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
    } else {
        accessDenied_ = false;
        bluezError_.clear();
        bluez_ = reply.service();
        const auto objects = qdbus_cast<BluezManagedObjects>(reply.arguments().value(0));
        for (auto it = objects.begin(); it != objects.end(); ++it) {
            if (!it.value().contains(adapterInterface)) continue;
            adapter = it.key().path();
            const QVariantMap properties = it.value().value(adapterInterface);
            powered = properties.value(QStringLiteral("Powered")).toBool();
            pairable = properties.value(QStringLiteral("Pairable"), true).toBool();
            break;
        }
    }
    const bool first = !known_;
    known_ = true;
    adapter_ = adapter;
    powered_ = powered;
    pairable_ = pairable;
    announce(before, pairableBefore);
    if (!first) return;
    const auto waiting = std::move(waiting_);
    waiting_.clear();
    for (const auto& [context, callback] : waiting) {
        if (context) callback();
    }
}

void BluezPeripheralBackend::bluezOwnerChanged(const QString& owner) {
    bluez_ = owner;
    if (!owner.isEmpty()) {
        refresh();
        return;
    }
    bluezError_ = QStringLiteral("org.bluez left the bus");
    update({}, false, pairable_);
}

void BluezPeripheralBackend::interfacesAdded(const QDBusMessage& message) {
    if (message.service() != bluez_ || !adapter_.isEmpty() || message.arguments().size() < 2)
        return;
    const auto path = qdbus_cast<QDBusObjectPath>(message.arguments().at(0)).path();
    const auto interfaces = qdbus_cast<BluezInterfaces>(message.arguments().at(1));
    if (!interfaces.contains(adapterInterface)) return;
    bluezError_.clear();
    const QVariantMap properties = interfaces.value(adapterInterface);
    update(path, properties.value(QStringLiteral("Powered")).toBool(),
           properties.value(QStringLiteral("Pairable"), true).toBool());
}

void BluezPeripheralBackend::interfacesRemoved(const QDBusMessage& message) {
    if (message.service() != bluez_ || message.arguments().size() < 2) return;
    const auto path = qdbus_cast<QDBusObjectPath>(message.arguments().at(0)).path();
    const auto interfaces = qdbus_cast<QStringList>(message.arguments().at(1));
    if (path != adapter_ || !interfaces.contains(adapterInterface)) return;
    update({}, false, pairable_);
    refresh();  // another adapter may serve
}

void BluezPeripheralBackend::propertiesChanged(const QDBusMessage& message) {
    if (message.service() != bluez_ || message.path() != adapter_ || message.arguments().size() < 2)
        return;
    if (message.arguments().at(0).toString() != adapterInterface) return;
    const auto changed = qdbus_cast<QVariantMap>(message.arguments().at(1));
    update(adapter_, changed.value(QStringLiteral("Powered"), powered_).toBool(),
           changed.value(QStringLiteral("Pairable"), pairable_).toBool());
}

void BluezPeripheralBackend::update(QString adapter, bool powered, bool pairable) {
    const int before = radioState();
    const bool pairableBefore = pairable_;
    adapter_ = std::move(adapter);
    powered_ = powered;
    pairable_ = pairable;
    announce(before, pairableBefore);
}

void BluezPeripheralBackend::announce(int before, bool pairableBefore) {
    followAdapterProperties();
    const bool radioChanged = radioState() != before;
    const bool pairableChanged = pairable_ != pairableBefore;
    if (radioChanged) {
        qCInfo(bluetoothLog, "Bluetooth: radio state %d%s%s", radioState(),
               adapter_.isEmpty() ? "" : " on ", qUtf8Printable(adapter_));
    }
    if (pairableChanged) {
        qCInfo(bluetoothLog, "Bluetooth: adapter %s is %s", qUtf8Printable(adapter_),
               pairable_ ? "pairable" : "not pairable");
    }
    const auto managers = managers_;
    for (auto* manager : managers) {
        if (radioChanged) manager->radioStateChanged();
        if (pairableChanged) manager->pairableChanged();
    }
}

void BluezPeripheralBackend::followAdapterProperties() {
    const QString sender = adapter_.isEmpty() ? QString() : bluez_;
    const QString path = sender.isEmpty() ? QString() : adapter_;
    if (sender == propertiesSender_ && path == propertiesPath_) return;
    if (!propertiesSender_.isEmpty()) {
        connection_.disconnect(propertiesSender_, propertiesPath_, propertiesInterface,
                               propertiesChangedSignal, this, SLOT(propertiesChanged(QDBusMessage)));
    }
    propertiesSender_ = sender;
    propertiesPath_ = path;
    if (!sender.isEmpty()) {
        connection_.connect(sender, path, propertiesInterface, propertiesChangedSignal, this,
                            SLOT(propertiesChanged(QDBusMessage)));
    }
}

}  // namespace norv
