#pragma once
// Builds the page of one section. Only the selected page exists; it is built anew each time
// its section is selected, so leaving a page discards its view state.

#include "live/live_integration.h"
#include "model/bridge_section.h"
#include "ui/connections/local_network_addresses.h"

#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace norv {

class ConnectionsPage;
class DevicesPage;
class DeviceSettingsPage;
class OverviewPage;
class PendingPairingRequestsPanel;
class BridgeStore;
class DialogService;

// What the pages use besides the store.
struct PageServices {
    DialogService& dialogs;
    // What the Live page's integration reads of the machine (folders, processes, settings,
    // runtime); asked each time the page is built. Without it the page reads this machine.
    std::function<LiveIntegration::Environment()> liveEnvironment;
};

QWidget* makePage(BridgeSection section, BridgeStore& store, const PageServices& services, QWidget* parent);

// The pages this module wires to the store, one by one, for tests that drive a single page.
ConnectionsPage* connectionsPage(BridgeStore& store, QWidget* parent = nullptr,
                                 InterfaceLister interfaces = LocalNetworkAddresses::systemInterfaces);
OverviewPage* overviewPage(BridgeStore& store, QWidget* parent = nullptr);
DeviceSettingsPage* deviceSettingsPage(BridgeStore& store, QWidget* parent = nullptr);
DevicesPage* devicesPage(BridgeStore& store, DialogService& dialogs, QWidget* parent = nullptr);
// The pending pairing requests panel the Diagnostics page holds.
PendingPairingRequestsPanel* pendingPairingRequestsPanel(BridgeStore& store, QWidget* parent = nullptr);

}  // namespace norv
