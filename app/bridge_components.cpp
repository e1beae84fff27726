#include "app/bridge_components.h"

#include "bluetooth/bluez_probe.h"
#include "bluetooth/norv_bluetooth_server.h"
#include "bluetooth/simulated_bluetooth_peripheral.h"
#include "core/admin_client_adapter.h"
#include "core/app_log.h"
#include "core/bridge_store.h"
#include "core/bridge_tls_identity_store.h"
#include "core/keychain_bridge_identity_vault.h"
#include "core/process_controller_adapter.h"

#include <QFile>
#include <QSysInfo>
#include <optional>

namespace norv {

namespace {

// How long start-up may look for BlueZ before Bluetooth settles for the peripheral without a radio.
constexpr int bluezProbeBoundMs = 3000;

// The Bluetooth server on the one backend chosen here: BlueZ whenever the system bus answers (the
// backend follows bluetoothd and adapters that appear later), else a stack without a radio that
// reports itself unavailable. The look runs off the GUI thread; a start asked for meanwhile waits
// for it. NORV_BLUEZ_FAKE_L2CAP=1 (tests only) publishes the channels on stand-in sockets.
class BluetoothServerAdapter : public BluetoothPort {
public:
    BluetoothServerAdapter() {
        const bool standIn = qEnvironmentVariable("NORV_BLUEZ_FAKE_L2CAP") == QLatin1String("1");
        if (standIn) qCInfo(AppLog::connection, "Bluetooth: NORV_BLUEZ_FAKE_L2CAP=1, channels go to stand-in sockets");
        probeBluez(&context_, {standIn, 5000}, bluezProbeBoundMs,
                   [this](std::shared_ptr<BluezPeripheralBackend> backend, const QString& reason) {
                       choose(std::move(backend), reason);
                   });
    }
    void start(const QString& name, quint16 port, quint16 secureMidiPort) override {
        if (server_) {
            server_->start(name, port, secureMidiPort);
        } else {
            pending_ = Start{name, port, secureMidiPort};
        }
    }
    void stop() override {
        pending_.reset();
        if (server_) server_->stop();
    }
    void setHandlers(std::function<void(const QString&)> onStatus,
                     std::function<void(const QString&)> onEvent) override {
        onStatus_ = std::move(onStatus);
        onEvent_ = std::move(onEvent);
        if (server_) applyHandlers();
    }

private:
    struct Start {
        QString name;
        quint16 port;
        quint16 secureMidiPort;
    };

    void choose(std::shared_ptr<BluezPeripheralBackend> backend, const QString& reason) {
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

    void applyHandlers() {
        server_->onStatus = [onStatus = onStatus_](const QString& status) {
            qCInfo(AppLog::connection, "Bluetooth status %s", qUtf8Printable(status));
            if (onStatus) onStatus(status);
        };
        server_->onEvent = onEvent_;
    }

    QObject context_;  // owns the look for BlueZ while it runs
    std::unique_ptr<NorvBluetoothServer> server_;
    std::optional<Start> pending_;
    std::function<void(const QString&)> onStatus_;
    std::function<void(const QString&)> onEvent_;
};

// The user-visible computer name: the pretty host name when one is set, else the host name.
QString computerName() {
    QFile machineInfo(QStringLiteral("/etc/machine-info"));
    if (machineInfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : machineInfo.readAll().split('\n')) {
            if (!line.startsWith("PRETTY_HOSTNAME=")) continue;
            QString value = QString::fromUtf8(line.mid(16)).trimmed();
            if (value.size() >= 2 && (value.startsWith(QLatin1Char('"')) || value.startsWith(QLatin1Char('\''))))
                value = value.mid(1, value.size() - 2);
            if (!value.isEmpty()) return value;
        }
    }
    return QSysInfo::machineHostName();
}

}  // namespace

std::unique_ptr<BridgeStore> makeBridgeStore(DialogService& dialogs, QSettings& settings) {
    BridgeStoreOptions options;
    options.computerName = &computerName;
    auto engine = std::make_unique<ProcessControllerAdapter>(
        std::make_shared<BridgeTLSIdentityStore>(std::make_shared<KeychainBridgeIdentityVault>()));
    return std::make_unique<BridgeStore>(std::make_unique<AdminClientAdapter>(), std::move(engine),
                                         std::make_unique<BluetoothServerAdapter>(), dialogs, settings, options);
}

}  // namespace norv
