#pragma once
// The store over the real admin client, engine supervisor and Bluetooth server.

#include <QSettings>
#include <memory>

namespace norv {

class BridgeStore;
class DialogService;

std::unique_ptr<BridgeStore> makeBridgeStore(DialogService& dialogs, QSettings& settings);

}  // namespace norv
