#pragma once
// The store over the real admin client, engine supervisor and Bluetooth server.

#include "core/bluetooth_server_adapter.h"

#include <QSettings>
#include <memory>

namespace norv {

class BridgeStore;
class DialogService;

// What the assembly may vary. The shipped program takes the defaults.
struct BridgeComponentsOptions {
    BluetoothServerAdapter::L2capChannels l2capChannels = BluetoothServerAdapter::L2capChannels::kernelSockets;
};

std::unique_ptr<BridgeStore> makeBridgeStore(DialogService& dialogs, QSettings& settings,
                                             const BridgeComponentsOptions& components);

}  // namespace norv
