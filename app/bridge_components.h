#pragma once
// The store over the real admin client, engine supervisor and Bluetooth server.

#include <QSettings>
#include <memory>

namespace norv {

class BridgeProcessController;
class BridgeStore;
class DialogService;

// `process` receives the engine supervisor the store owns; it lives as long as the store.
std::unique_ptr<BridgeStore> makeBridgeStore(DialogService& dialogs, QSettings& settings,
                                             BridgeProcessController** process = nullptr);

}  // namespace norv
