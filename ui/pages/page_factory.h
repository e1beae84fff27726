#pragma once
// Builds the page of one section. Only the selected page exists; it is built anew each time
// its section is selected, so leaving a page discards its view state.
//
// Every page is built alike: its actions are wired to the store, it is handed the store's state
// (values only) at once and on every change of the store, and it runs its view model itself.

#include "live/live_integration.h"
#include "model/bridge_section.h"
#include "ui/live_page/live_page.h"
#include "ui/connections/local_network_addresses.h"

#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace norv {

class BridgeStore;
class ConnectionsPage;
class DevicesPage;
class DeviceSettingsPage;
class DiagnosticsPage;
class DialogService;
class MidiMonitorPage;
class OverviewPage;
class RoutesPage;

// What the pages use besides the store.
struct PageServices {
    DialogService& dialogs;
    // What the Live page's integration reads of the machine (folders, processes, settings,
    // runtime); asked each time the page is built. Without it the page reads this machine.
    std::function<LiveIntegration::Environment()> liveEnvironment;
    // The machine's network interfaces, for the Connections page's manual Wi-Fi targets.
    InterfaceLister interfaces = LocalNetworkAddresses::systemInterfaces;
};

// The Live page's requests to its integration: scan, install, verify, locate (asking for the
// application), the library choice (asking for the folder) and the detected library.
void addLiveIntegrationActions(LivePage::Actions& actions, DialogService& dialogs);

QWidget* makePage(BridgeSection section, BridgeStore& store, const PageServices& services, QWidget* parent);

// Each page wired to the store, for the window and for tests that drive a single page.
OverviewPage* overviewPage(BridgeStore& store, const PageServices& services, QWidget* parent = nullptr);
ConnectionsPage* connectionsPage(BridgeStore& store, const PageServices& services, QWidget* parent = nullptr);
LivePage* livePage(BridgeStore& store, const PageServices& services, QWidget* parent = nullptr);
DevicesPage* devicesPage(BridgeStore& store, const PageServices& services, QWidget* parent = nullptr);
DeviceSettingsPage* deviceSettingsPage(BridgeStore& store, const PageServices& services, QWidget* parent = nullptr);
MidiMonitorPage* midiMonitorPage(BridgeStore& store, const PageServices& services, QWidget* parent = nullptr);
RoutesPage* routesPage(BridgeStore& store, const PageServices& services, QWidget* parent = nullptr);
DiagnosticsPage* diagnosticsPage(BridgeStore& store, const PageServices& services, QWidget* parent = nullptr);

}  // namespace norv
