#pragma once
// Builds the page of one section. Only the selected page exists; it is built anew each time
// its section is selected, so leaving a page discards its view state.

#include "live/live_integration.h"
#include "model/bridge_section.h"
#include "ui/connections/local_network_addresses.h"

#include <QString>
#include <functional>
#include <optional>

#include <functional>

class QWidget;

namespace norv {

class BridgeProcessController;
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
    // The engine supervisor behind the store, when the application has one: the Overview reads
    // its last error and the Diagnostics page its logs and identity. Without it those pages show
    // no host error, no log lines and no fingerprint.
    BridgeProcessController* process = nullptr;
    // What the Live page's integration reads of the machine (folders, processes, settings,
    // runtime); asked each time the page is built. Without it the page reads this machine.
    std::function<LiveIntegration::Environment()> liveEnvironment;
};

QWidget* makePage(BridgeSection section, BridgeStore& store, const PageServices& services, QWidget* parent);

// The pages this module wires to the store, one by one, for tests that drive a single page.
ConnectionsPage* connectionsPage(BridgeStore& store, QWidget* parent = nullptr,
                                 InterfaceLister interfaces = LocalNetworkAddresses::systemInterfaces);
// `hostError` reads the engine host's last failure; none while there is none.
OverviewPage* overviewPage(BridgeStore& store, std::function<std::optional<QString>()> hostError = {},
                           QWidget* parent = nullptr);
DeviceSettingsPage* deviceSettingsPage(BridgeStore& store, QWidget* parent = nullptr);
DevicesPage* devicesPage(BridgeStore& store, DialogService& dialogs, QWidget* parent = nullptr);
// The pending pairing requests panel the Diagnostics page holds.
PendingPairingRequestsPanel* pendingPairingRequestsPanel(BridgeStore& store, QWidget* parent = nullptr);

}  // namespace norv
