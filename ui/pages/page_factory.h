#pragma once
// Builds the page of one section. Only the selected page exists; it is built anew each time
// its section is selected, so leaving a page discards its view state.

#include "model/bridge_section.h"

class QWidget;

namespace norv {

class BridgeProcessController;
class BridgeStore;
class DialogService;

// `process` is the engine supervisor behind the store, when the application has one: the
// Overview reads its last error and the Diagnostics page its logs and identity. Without it
// those pages show no host error, no log lines and no fingerprint.
QWidget* makePage(BridgeSection section, BridgeStore& store, DialogService& dialogs,
                  BridgeProcessController* process, QWidget* parent);

}  // namespace norv
