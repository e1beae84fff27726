#include "app/bridge_components.h"

#include "core/admin_client_adapter.h"
#include "core/bluetooth_server_adapter.h"
#include "core/bridge_store.h"
#include "core/bridge_tls_identity_store.h"
#include "core/keychain_bridge_identity_vault.h"
#include "core/process_controller_adapter.h"

#include <QFile>
#include <QSysInfo>

namespace norv {

namespace {

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

std::unique_ptr<BridgeStore> makeBridgeStore(DialogService& dialogs, QSettings& settings,
                                             const BridgeComponentsOptions& components) {
    BridgeStoreOptions options;
    options.computerName = &computerName;
    auto engine = std::make_unique<ProcessControllerAdapter>(
        std::make_shared<BridgeTLSIdentityStore>(std::make_shared<KeychainBridgeIdentityVault>()));
    return std::make_unique<BridgeStore>(std::make_unique<AdminClientAdapter>(), std::move(engine),
                                         std::make_unique<BluetoothServerAdapter>(components.l2capChannels),
                                         dialogs, settings, options);
}

}  // namespace norv
