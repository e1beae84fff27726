#pragma once
// The application's whole run: one application, one store, the main window "Norv Bridge" and its
// tray menu, until the user quits or a signal ends it.

#include "app/bridge_components.h"

namespace norv {

int runNorvBridge(int argc, char** argv, const BridgeComponentsOptions& components);

}  // namespace norv
