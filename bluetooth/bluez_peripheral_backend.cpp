#include "bluetooth/bluez_peripheral_backend.h"

#include <QDBusArgument>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
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
    announcedState_ = radioState();
    retryTimer_ = new QTimer(this);
    retryTimer_->setSingleShot(true);
    connect(retryTimer_, &QTimer::timeout, this, &BluezPeripheralBackend::refresh);
    askOwner();
    refresh();
}

BluezPeripheralBackend::~BluezPeripheralBackend() {
    for (const QString& path : propertiesPaths_) {
        connection_.disconnect(propertiesSender_, path, propertiesInterface,
                               propertiesChangedSignal, this,
                               SLOT(propertiesChanged(QDBusMessage)));
    }
    for (auto* manager : managers_) manager->backendGone();
    if (!standInFolder_.isEmpty()) QDir(standInFolder_).removeRecursively();
}

std::unique_ptr<BluetoothPeripheralManager> BluezPeripheralBackend::createManager(
    BluetoothPeripheralManagerDelegate* delegate) {
    auto manager = std::make_unique<BluezPeripheralManager>(*this, delegate);
    managers_.push_back(manager.get());
    manager->radioStateChanged();  // a new manager reports the state it found
    if (!pairable()) manager->pairableChanged();
    return manager;
}

void BluezPeripheralBackend::forget(BluezPeripheralManager* manager) {
    std::erase(managers_, manager);
}

int BluezPeripheralBackend::radioState() const {
    if (!kernelRefusal_.empty()) return radioUnsupported;
    if (!known_) return radioUnknown;
    if (accessDenied_) return radioUnauthorized;
    const auto followed = adapters_.find(adapter_);
    if (followed == adapters_.end()) return radioUnsupported;
    return followed->second.powered ? radioPoweredOn : radioPoweredOff;
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

void BluezPeripheralBackend::askOwner() {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
    message.setArguments({bluezService});
    call(message, alive_, [this](const QDBusMessage& reply) {
        // The watcher or an answer from BlueZ may have told us already, and later.
        if (reply.type() != QDBusMessage::ReplyMessage || !bluez_.isEmpty()) return;
        bluez_ = reply.arguments().value(0).toString();
        reconcile();
    });
}

void BluezPeripheralBackend::refresh() {
    const int serial = ++readSerial_;
    call(QDBusMessage::createMethodCall(bluezService, QStringLiteral("/"),
                                        QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                                        QStringLiteral("GetManagedObjects")),
         alive_, [this, serial](const QDBusMessage& reply) { receiveObjects(reply, serial); });
}

void BluezPeripheralBackend::receiveObjects(const QDBusMessage& reply, int serial) {
    if (serial != readSerial_) return;
    if (reply.type() == QDBusMessage::ErrorMessage) {
        // What signals told us of the adapters stands; only the reason and the retry change.
        accessDenied_ = reply.errorName() == accessDenied;
        bluezError_ = reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
        retryLater(reply.errorName());
    } else {
        accessDenied_ = false;
        bluezError_.clear();
        retryMs_ = 0;
        retryTimer_->stop();
        bluez_ = reply.service();
        std::map<QString, Adapter> adapters;
        const auto objects = qdbus_cast<BluezManagedObjects>(reply.arguments().value(0));
        for (auto it = objects.begin(); it != objects.end(); ++it) {
            if (it.value().contains(adapterInterface))
                adapters[it.key().path()] = adapterFrom(it.value().value(adapterInterface), {});
        }
        adapters_ = std::move(adapters);
    }
    const bool first = !known_;
    known_ = true;
    reconcile();
    if (reply.type() != QDBusMessage::ErrorMessage) {
        const auto afterRead = std::move(afterRead_);
        afterRead_.clear();
        for (const auto& [owner, callback] : afterRead) {
            if (!owner.expired()) callback();
        }
    }
    if (!first) return;
    const auto waiting = std::move(waiting_);
    waiting_.clear();
    for (const auto& [context, callback] : waiting) {
        if (context) callback();
    }
}

void BluezPeripheralBackend::retryLater(const QString& error) {
    // No retry while nobody owns the name (joining is a signal of its own) or the policy refuses.
    if (error == accessDenied ||
        error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
        error.startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn")))
        return;
    retryMs_ = retryMs_ == 0 ? options_.firstRetryMs : std::min(retryMs_ * 2, options_.lastRetryMs);
    qCWarning(bluetoothLog, "Bluetooth: reading BlueZ's objects failed (%s); again in %d ms",
              qUtf8Printable(bluezError_), retryMs_);
    retryTimer_->start(retryMs_);
}

void BluezPeripheralBackend::confirmServing(std::weak_ptr<void> owner, const QString& adapter,
                                            std::function<void()> serving) {
    afterRead_.emplace_back(owner, [this, adapter, serving = std::move(serving)] {
        if (radioState() == radioPoweredOn && adapter_ == adapter) serving();
    });
    refresh();
}

void BluezPeripheralBackend::bluezOwnerChanged(const QString& owner) {
    if (owner == bluez_) return;
    // Whatever the old owner had or was asked is gone with it.
    bluez_ = owner;
    ++readSerial_;
    retryMs_ = 0;
    retryTimer_->stop();
    afterRead_.clear();
    adapters_.clear();
    if (owner.isEmpty()) bluezError_ = QStringLiteral("org.bluez left the bus");
    reconcile();
    if (!owner.isEmpty()) refresh();
}

BluezPeripheralBackend::Adapter BluezPeripheralBackend::adapterFrom(const QVariantMap& properties,
                                                                    const Adapter& before) {
    return {properties.value(QStringLiteral("Powered"), before.powered).toBool(),
            properties.value(QStringLiteral("Pairable"), before.pairable).toBool()};
}

void BluezPeripheralBackend::interfacesAdded(const QDBusMessage& message) {
    if (message.service() != bluez_ || message.arguments().size() < 2) return;
    const auto path = qdbus_cast<QDBusObjectPath>(message.arguments().at(0)).path();
    const auto interfaces = qdbus_cast<BluezInterfaces>(message.arguments().at(1));
    if (!interfaces.contains(adapterInterface)) return;
    bluezError_.clear();
    adapters_[path] = adapterFrom(interfaces.value(adapterInterface), {});
    reconcile();
}

void BluezPeripheralBackend::interfacesRemoved(const QDBusMessage& message) {
    if (message.service() != bluez_ || message.arguments().size() < 2) return;
    const auto path = qdbus_cast<QDBusObjectPath>(message.arguments().at(0)).path();
    const auto interfaces = qdbus_cast<QStringList>(message.arguments().at(1));
    if (!interfaces.contains(adapterInterface) || adapters_.erase(path) == 0) return;
    reconcile();
}

void BluezPeripheralBackend::propertiesChanged(const QDBusMessage& message) {
    const auto adapter = adapters_.find(message.path());
    if (message.service() != bluez_ || adapter == adapters_.end() ||
        message.arguments().size() < 2 || message.arguments().at(0).toString() != adapterInterface)
        return;
    adapter->second =
        adapterFrom(qdbus_cast<QVariantMap>(message.arguments().at(1)), adapter->second);
    reconcile();
}

void BluezPeripheralBackend::readAdapter(const QString& path) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(bluez_, path, propertiesInterface, QStringLiteral("GetAll"));
    message.setArguments({adapterInterface});
    call(message, alive_, [this, path, sender = bluez_](const QDBusMessage& reply) {
        const auto adapter = adapters_.find(path);
        if (reply.type() != QDBusMessage::ReplyMessage || sender != bluez_ ||
            adapter == adapters_.end())
            return;  // gone meanwhile: its removal is a signal of its own
        adapter->second =
            adapterFrom(qdbus_cast<QVariantMap>(reply.arguments().value(0)), adapter->second);
        reconcile();
    });
}

QString BluezPeripheralBackend::preferredAdapter() const {
    const auto followed = adapters_.find(adapter_);
    if (followed != adapters_.end() && followed->second.powered) return adapter_;
    for (const auto& [path, adapter] : adapters_) {
        if (adapter.powered) return path;
    }
    if (followed != adapters_.end()) return adapter_;
    return adapters_.empty() ? QString() : adapters_.begin()->first;
}

void BluezPeripheralBackend::reconcile() {
    followAdapterProperties();
    if (!adapters_.contains(adapter_)) adapter_.clear();
    const QString preferred = preferredAdapter();
    if (preferred != adapter_) {
        // The adapter that served went away or off while another is on: the managers hear of
        // that first, so what they registered on it is dropped, and then of the move.
        if (announcedState_ == radioPoweredOn && radioState() != radioPoweredOn) announce();
        adapter_ = preferred;
    }
    announce();
}

bool BluezPeripheralBackend::pairable() const {
    const auto followed = adapters_.find(adapter_);
    return followed == adapters_.end() || followed->second.pairable;
}

void BluezPeripheralBackend::announce() {
    const int state = radioState();
    const bool pairableNow = pairable();
    const bool radioChanged = state != announcedState_;
    const bool pairableChanged = pairableNow != announcedPairable_;
    announcedState_ = state;
    announcedPairable_ = pairableNow;
    if (radioChanged) {
        qCInfo(bluetoothLog, "Bluetooth: radio state %d%s%s", state,
               adapter_.isEmpty() ? "" : " on ", qUtf8Printable(adapter_));
    }
    if (pairableChanged) {
        qCInfo(bluetoothLog, "Bluetooth: adapter %s is %s", qUtf8Printable(adapter_),
               pairableNow ? "pairable" : "not pairable");
    }
    const auto managers = managers_;
    for (auto* manager : managers) {
        if (radioChanged) manager->radioStateChanged();
        if (pairableChanged) manager->pairableChanged();
    }
}

void BluezPeripheralBackend::followAdapterProperties() {
    std::set<QString> paths;
    if (!bluez_.isEmpty()) {
        for (const auto& entry : adapters_) paths.insert(entry.first);
    }
    const auto unsubscribe = [this](const QString& path) {
        connection_.disconnect(propertiesSender_, path, propertiesInterface,
                               propertiesChangedSignal, this,
                               SLOT(propertiesChanged(QDBusMessage)));
    };
    if (propertiesSender_ != bluez_) {
        for (const QString& path : propertiesPaths_) unsubscribe(path);
        propertiesPaths_.clear();
        propertiesSender_ = bluez_;
    }
    for (auto it = propertiesPaths_.begin(); it != propertiesPaths_.end();) {
        if (paths.contains(*it)) {
            ++it;
            continue;
        }
        unsubscribe(*it);
        it = propertiesPaths_.erase(it);
    }
    for (const QString& path : paths) {
        if (!propertiesPaths_.insert(path).second) continue;
        connection_.connect(bluez_, path, propertiesInterface, propertiesChangedSignal, this,
                            SLOT(propertiesChanged(QDBusMessage)));
        readAdapter(path);
    }
}

}  // namespace norv
