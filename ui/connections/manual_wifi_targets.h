#pragma once
// The address:port texts a tablet can be pointed at by hand, and copying one to the clipboard.

#include "model/bridge_health.h"
#include "ui/connections/local_network_addresses.h"

#include <QStringList>

class QClipboard;

namespace norv {

class ManualWifiTargets {
public:
    enum class Panel { wifiDisabled, noAddress, targets };

    ManualWifiTargets() = delete;

    // The engine's addresses as reported when it lists any, else the computer's own; each with
    // the engine's port, or the draft's while the engine reports none.
    static QStringList targets(const BridgeHealth& health, int draftPort, const InterfaceLister& lister);
    static Panel panel(const BridgeHealth& health, const QStringList& targets);
    // Replaces the clipboard's content with the target as plain text and notes it in the log.
    static void copy(const QString& target, QClipboard& clipboard);
};

}  // namespace norv
