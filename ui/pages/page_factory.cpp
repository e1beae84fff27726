#include "ui/pages/page_factory.h"

#include "core/bridge_store.h"
#include "core/bridge_tls_identity_error.h"
#include "core/dialog_service.h"
#include "live/live_integration.h"
#include "ui/connections/connections_page.h"
#include "ui/device_settings/device_settings_page.h"
#include "ui/devices/devices_page.h"
#include "ui/devices/devices_view_model.h"
#include "ui/diagnostics/diagnostics_page.h"
#include "ui/live_page/live_page.h"
#include "ui/monitor/midi_monitor_page.h"
#include "ui/overview/overview_page.h"
#include "ui/routes/routes_page.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QUrl>
#include <type_traits>

namespace norv {

namespace {

// Hands the page the store's state now and on every change of the store, then starts what the
// page runs by itself (timers, scans).
template <typename Page>
Page* follow(Page* page, BridgeStore& store, typename Page::State (*stateOf)(const BridgeStore&)) {
    page->setState(stateOf(store));
    // Only the monitor page shows the monitor's events.
    constexpr bool showsMonitor = std::is_same_v<Page, MidiMonitorPage>;
    QObject::connect(&store, &BridgeStore::changed, page, [page, &store, stateOf] {
        if (showsMonitor || store.changeScope() != BridgeStore::ChangeScope::midiMonitorOnly)
            page->setState(stateOf(store));
    });
    if constexpr (requires { page->start(); }) page->start();
    return page;
}

// ---- Overview ----

OverviewPage::State overviewState(const BridgeStore& store) {
    // A dismissed keyring prompt is undone by starting again, which shows the prompt again;
    // the offer waits while a start is under way.
    const bool keyringNotCreated =
        store.engineLastError() == BridgeTLSIdentityError::keyringNotCreatedDescription();
    return {store.snapshot(), store.connectionState(), store.engineLastError(),
            keyringNotCreated && !store.process().isPreparing() && !store.process().isRunning()};
}

OverviewPage::Actions overviewActions(BridgeStore& store, const PageServices&) {
    OverviewPage::Actions actions;
    actions.select = [&store](BridgeSection section) { store.setSelection(section); };
    actions.retry = [&store] { store.startBridge(); };
    return actions;
}

// ---- Connections ----

ConnectionsPage::State connectionsState(const BridgeStore& store) {
    return {store.snapshot(), store.launchConfiguration(), store.bluetoothStatus(), store.process().isRunning(),
            store.externalEngine()};
}

ConnectionsPage::Actions connectionsActions(BridgeStore& store, const PageServices& services) {
    ConnectionsPage::Actions actions;
    actions.apply = [&store](const BridgeLaunchConfiguration& draft) { store.applyConnectionConfiguration(draft); };
    actions.interfaces = services.interfaces;
    return actions;
}

// ---- Ableton Live ----

LivePage::State liveState(const BridgeStore& store) {
    return {store.snapshot().bridge, store.connectionState().isConnected(), store.canChange(), store.pendingActions()};
}

LivePage::Actions liveActions(BridgeStore& store, const PageServices& services) {
    LivePage::Actions actions;
    actions.reconnectMidi = [&store] { store.reconnectMidi(); };
    // The window replaces this page with deleteLater, so the click's handler still finishes.
    actions.showRoutes = [&store] { store.setSelection(BridgeSection::routes); };
    actions.openPath = [](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
    addLiveIntegrationActions(actions, services.dialogs);
    actions.environment = services.liveEnvironment;
    return actions;
}

// ---- Devices ----

DevicesPage::State devicesState(const BridgeStore& store) {
    return {store.snapshot(), store.connectionState(), store.canChange(), store.pendingActions()};
}

DevicesPage::Actions devicesActions(BridgeStore& store, const PageServices& services) {
    DevicesPage::Actions actions;
    actions.card.deviceAccess = [&store](const std::string& id, DeviceAccessAction action,
                                         const std::optional<std::string>& fingerprint) {
        store.deviceAccess(id, action, fingerprint);
    };
    actions.card.archive = [&store](const std::string& id, bool archived) { store.archiveDevice(id, archived); };
    actions.card.rename = [&store](const std::string& id, const std::string& name) { store.renameDevice(id, name); };
    // The certificate requirement at the moment of the press decides the action.
    actions.allowRevoked = [&store](const std::string& id) {
        store.deviceAccess(id, DevicesViewModel::revokedAction(store.snapshot()), std::nullopt);
    };
    actions.clean = [&store](const std::vector<std::string>& captured) { store.cleanDevices(captured); };
    actions.dialogs = &services.dialogs;
    return actions;
}

// ---- Device settings ----

DeviceSettingsPage::State deviceSettingsState(const BridgeStore& store) {
    return {store.snapshot(), store.canChange(), store.pendingActions()};
}

DeviceSettingsPage::Actions deviceSettingsActions(BridgeStore& store, const PageServices&) {
    DeviceSettingsPage::Actions actions;
    actions.push = [&store](const QString& scope) { store.pushDeviceSettings(scope.toStdString()); };
    return actions;
}

// ---- MIDI monitor ----

MidiMonitorPage::State monitorState(const BridgeStore& store) {
    MidiMonitorPage::State state;
    state.buffer = &store.midiMonitorEvents();
    state.dropped = store.midiDroppedEventCount();
    state.listening = store.midiListenEnabled();
    state.refreshRate = store.midiRefreshRate();
    state.filter = store.midiMonitorFilter();
    state.deviceLabels = monitorDeviceLabels(store.snapshot().devices);
    return state;
}

// Each monitor filter control changes one field of the store's filter.
void editFilter(BridgeStore& store, const std::function<void(MidiMonitorFilter&)>& change) {
    MidiMonitorFilter filter = store.midiMonitorFilter();
    change(filter);
    store.setMidiMonitorFilter(filter);
}

MidiMonitorPage::Actions monitorActions(BridgeStore& store, const PageServices& services) {
    MidiMonitorPage::Actions actions;
    actions.setListening = [&store](bool on) { store.setMidiListenEnabled(on); };
    actions.setRefreshRate = [&store](MidiMonitorRefreshRate rate) { store.setMidiRefreshRate(rate); };
    actions.setRole = [&store](const QString& value) {
        editFilter(store, [&](MidiMonitorFilter& filter) { filter.role = value.toStdString(); });
    };
    actions.setDevice = [&store](const QString& value) {
        editFilter(store, [&](MidiMonitorFilter& filter) { filter.deviceId = value.toStdString(); });
    };
    actions.setEndpoint = [&store](const QString& value) {
        editFilter(store, [&](MidiMonitorFilter& filter) { filter.endpoint = value.toStdString(); });
    };
    actions.setChannel = [&store](int channel) {
        editFilter(store, [&](MidiMonitorFilter& filter) { filter.channel = channel; });
    };
    actions.setSearch = [&store](const QString& text) {
        editFilter(store, [&](MidiMonitorFilter& filter) { filter.searchText = text.toStdString(); });
    };
    actions.selectAllFamilies = [&store] {
        if (store.midiMonitorFilter().families == MidiFamilySet::all()) return;
        editFilter(store, [](MidiMonitorFilter& filter) { filter.families = MidiFamilySet::all(); });
    };
    actions.toggleFamily = [&store](MidiMessageFamily family) { store.toggleMidiMessageFamily(family); };
    actions.clear = [&store] { store.clearMidiMonitor(); };
    actions.dialogs = &services.dialogs;
    return actions;
}

// ---- Routes ----

RoutesPage::State routesState(const BridgeStore& store) {
    return {store.snapshot(), store.canChange(), store.pendingActions()};
}

RoutesPage::Actions routesActions(BridgeStore& store, const PageServices&) {
    RoutesPage::Actions actions;
    actions.assign = [&store](const BridgeDevice& device, const std::optional<LiveTrack>& track) {
        store.assign(device, track);
    };
    actions.applyPolicy = [&store](const DeviceRoutingPolicy& policy) { store.updateDeviceRoutingPolicy(policy); };
    actions.clearAssignments = [&store] { store.clearDeviceTrackAssignments(); };
    return actions;
}

// ---- Diagnostics ----

DiagnosticsPage::State diagnosticsState(const BridgeStore& store) {
    // The store relays every change of its engine host, logs included.
    return {store.snapshot(), store.engineLogLines(), store.engineFingerprint(), store.canChange(),
            store.pendingActions()};
}

DiagnosticsPage::Actions diagnosticsActions(BridgeStore& store, const PageServices& services) {
    DiagnosticsPage::Actions actions;
    actions.refreshLogs = [&store] { store.refreshEngineLogs(); };
    actions.setDetailedCapture = [&store](bool start) { store.setDetailedDiagnostics(start); };
    // The page drops the answer once it is gone.
    actions.exportDiagnostics = [&store](const QString& path, std::function<void(std::optional<QString>)> done) {
        store.exportDiagnostics(path, std::move(done));
    };
    actions.now = [] { return QDateTime::currentDateTime(); };
    actions.pairing.allow = [&store](const std::string& id, const std::optional<std::string>& fingerprint) {
        store.deviceAccess(id, DeviceAccessAction::allow, fingerprint);
    };
    actions.pairing.revoke = [&store](const std::string& id) {
        store.deviceAccess(id, DeviceAccessAction::forget, std::nullopt);
    };
    actions.dialogs = &services.dialogs;
    return actions;
}

}  // namespace

void addLiveIntegrationActions(LivePage::Actions& actions, DialogService& dialogs) {
    actions.scan = [](LiveIntegration& live, LivePage::Done done) { live.scan(std::move(done)); };
    actions.install = [](LiveIntegration& live, LivePage::Done done) { live.install(std::move(done)); };
    actions.verify = [](LiveIntegration& live, LivePage::Done done) { live.verify(std::move(done)); };
    actions.locate = [&dialogs](LiveIntegration& live, LivePage::Done done) {
        // Live runs here under Wine: the panel picks its Windows executable inside a prefix.
        FilePanelRequest request;
        request.directory = live.locateFolder();
        request.nameFilters = {QStringLiteral("Ableton Live (Ableton Live*.exe)")};
        const auto path = dialogs.choosePathToOpen(request);
        if (path && !path->isEmpty()) live.locate(*path, std::move(done));
    };
    actions.chooseLibrary = [&dialogs](LiveIntegration& live, LivePage::Done done) {
        FilePanelRequest request;
        request.title = QString::fromUtf8("Choose Live’s User Library");
        request.chooseDirectory = true;
        const auto path = dialogs.choosePathToOpen(request);
        if (path && !path->isEmpty()) live.chooseLibrary(*path, std::move(done));
    };
    actions.useDetectedLibrary = [](LiveIntegration& live, LivePage::Done done) {
        live.chooseLibrary(std::nullopt, std::move(done));
    };
}

OverviewPage* overviewPage(BridgeStore& store, const PageServices& services, QWidget* parent) {
    return follow(new OverviewPage(overviewActions(store, services), parent), store, overviewState);
}

ConnectionsPage* connectionsPage(BridgeStore& store, const PageServices& services, QWidget* parent) {
    return follow(new ConnectionsPage(connectionsActions(store, services), parent), store, connectionsState);
}

LivePage* livePage(BridgeStore& store, const PageServices& services, QWidget* parent) {
    return follow(new LivePage(liveActions(store, services), parent), store, liveState);
}

DevicesPage* devicesPage(BridgeStore& store, const PageServices& services, QWidget* parent) {
    return follow(new DevicesPage(devicesActions(store, services), parent), store, devicesState);
}

DeviceSettingsPage* deviceSettingsPage(BridgeStore& store, const PageServices& services, QWidget* parent) {
    return follow(new DeviceSettingsPage(deviceSettingsActions(store, services), parent), store, deviceSettingsState);
}

MidiMonitorPage* midiMonitorPage(BridgeStore& store, const PageServices& services, QWidget* parent) {
    return follow(new MidiMonitorPage(monitorActions(store, services), parent), store, monitorState);
}

RoutesPage* routesPage(BridgeStore& store, const PageServices& services, QWidget* parent) {
    return follow(new RoutesPage(routesActions(store, services), parent), store, routesState);
}

DiagnosticsPage* diagnosticsPage(BridgeStore& store, const PageServices& services, QWidget* parent) {
    return follow(new DiagnosticsPage(diagnosticsActions(store, services), parent), store, diagnosticsState);
}

QWidget* makePage(BridgeSection section, BridgeStore& store, const PageServices& services, QWidget* parent) {
    QWidget* page = nullptr;
    switch (section) {
    case BridgeSection::overview: page = overviewPage(store, services, parent); break;
    case BridgeSection::connections: page = connectionsPage(store, services, parent); break;
    case BridgeSection::live: page = livePage(store, services, parent); break;
    case BridgeSection::devices: page = devicesPage(store, services, parent); break;
    case BridgeSection::deviceSettings: page = deviceSettingsPage(store, services, parent); break;
    case BridgeSection::midiMonitor: page = midiMonitorPage(store, services, parent); break;
    case BridgeSection::routes: page = routesPage(store, services, parent); break;
    case BridgeSection::logs: page = diagnosticsPage(store, services, parent); break;
    }
    page->setObjectName(QStringLiteral("page_") +
                        QString::fromUtf8(section.rawValue().data(), section.rawValue().size()));
    return page;
}

}  // namespace norv
