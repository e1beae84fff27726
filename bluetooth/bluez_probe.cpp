#include "bluetooth/bluez_probe.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <atomic>

namespace norv {

namespace {

// What the worker thread found; read on the caller's thread after the thread has finished.
struct BusConnect {
    QString name;
    QString address;
    bool connected = false;
    QString error;
};

// One look, owned by its context; it lets go of itself once it has answered.
class BluezProbeRun : public QObject {
public:
    using Done = std::function<void(std::shared_ptr<BluezPeripheralBackend>, const QString&)>;

    BluezProbeRun(QObject* context, BluezPeripheralBackend::Options options, Done done)
        : QObject(context), options_(options), done_(std::move(done)) {}

    void begin(std::shared_ptr<BusConnect> bus, int boundMs) {
        QThread* thread = QThread::create([bus] {
            const QDBusConnection connection =
                bus->address.isEmpty()
                    ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, bus->name)
                    : QDBusConnection::connectToBus(bus->address, bus->name);
            bus->connected = connection.isConnected();
            if (!bus->connected) bus->error = connection.lastError().message();
        });
        // The thread deletes itself; a run that gave up meanwhile just closes what it opened.
        QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        QPointer<BluezProbeRun> self(this);
        QObject::connect(thread, &QThread::finished, parent(), [self, bus] {
            if (!self) {
                QDBusConnection::disconnectFromBus(bus->name);
                return;
            }
            self->connected(bus);
        });
        QTimer::singleShot(boundMs, this, [this, boundMs] {
            if (backend_) {
                finish(backend_, QStringLiteral("BlueZ did not answer within %1 ms").arg(boundMs));
            } else {
                finish(nullptr,
                       QStringLiteral("the system bus did not answer within %1 ms").arg(boundMs));
            }
        });
        thread->start();
    }

private:
    void connected(const std::shared_ptr<BusConnect>& bus) {
        if (answered_ || !bus->connected) {
            QDBusConnection::disconnectFromBus(bus->name);
            finish(nullptr, QStringLiteral("no system bus: ") + bus->error);
            return;
        }
        const QString name = bus->name;
        backend_ = std::shared_ptr<BluezPeripheralBackend>(
            new BluezPeripheralBackend(QDBusConnection(name), options_),
            [name](BluezPeripheralBackend* backend) {
                delete backend;
                QDBusConnection::disconnectFromBus(name);
            });
        backend_->whenKnown(this, [this] { finish(backend_, backend_->unavailableReason()); });
    }

    void finish(std::shared_ptr<BluezPeripheralBackend> backend, const QString& reason) {
        if (answered_) return;
        answered_ = true;
        const auto done = std::move(done_);
        done_ = nullptr;
        deleteLater();  // the backend, unless handed out, goes with the run
        if (done) done(std::move(backend), reason);
    }

    BluezPeripheralBackend::Options options_;
    Done done_;
    std::shared_ptr<BluezPeripheralBackend> backend_;
    bool answered_ = false;
};

}  // namespace

void probeBluez(QObject* context, BluezPeripheralBackend::Options options, int boundMs,
                std::function<void(std::shared_ptr<BluezPeripheralBackend>, const QString&)> done,
                const QString& address) {
    static std::atomic<int> probes{0};
    auto bus = std::make_shared<BusConnect>();
    bus->name = QStringLiteral("norv-bluez-%1").arg(++probes);
    bus->address = address;
    auto* run = new BluezProbeRun(context, options, std::move(done));
    run->begin(std::move(bus), boundMs);
}

}  // namespace norv
