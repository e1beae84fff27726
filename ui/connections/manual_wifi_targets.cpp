#include "ui/connections/manual_wifi_targets.h"

#include "core/app_log.h"

#include <QClipboard>

namespace norv {

QStringList ManualWifiTargets::targets(const BridgeHealth& health, int draftPort, const InterfaceLister& lister) {
    const qint64 port = health.publicPort ? *health.publicPort : draftPort;
    QStringList addresses;
    if (health.localAddresses && !health.localAddresses->empty()) {
        for (const std::string& address : *health.localAddresses) addresses.append(QString::fromStdString(address));
    } else {
        addresses = LocalNetworkAddresses::ipv4(lister);
    }
    QStringList result;
    for (const QString& address : addresses) result.append(address + QLatin1Char(':') + QString::number(port));
    return result;
}

ManualWifiTargets::Panel ManualWifiTargets::panel(const BridgeHealth& health, const QStringList& targets) {
    if (!health.wirelessEnabled.value_or(false)) return Panel::wifiDisabled;
    return targets.isEmpty() ? Panel::noAddress : Panel::targets;
}

void ManualWifiTargets::copy(const QString& target, QClipboard& clipboard) {
    clipboard.clear();
    clipboard.setText(target);
    qCInfo(AppLog::connection, "Copied a manual Wi-Fi target");
}

}  // namespace norv
