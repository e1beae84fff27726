#include "ui/pages/page_factory.h"

#include "core/bridge_store.h"
#include "live/live_integration.h"
#include "ui/connections/connections_page.h"
#include "ui/device_settings/device_settings_page.h"
#include "ui/devices/devices_page.h"
#include "ui/devices/devices_view_model.h"
#include "ui/diagnostics/pending_pairing_requests_panel.h"
#include "ui/diagnostics/diagnostics_page.h"
#include "ui/live_page/live_page_view.h"
#include "ui/monitor/midi_monitor_page.h"
#include "ui/overview/overview_page.h"
#include "ui/routes/routes_page.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QPointer>
#include <QUrl>
#include <QVBoxLayout>
#include <memory>

namespace norv {

namespace {

ConnectionsPage::State connectionsState(const BridgeStore& store) {
    return {&store.snapshot(), store.launchConfiguration(), store.bluetoothStatus(), store.process().isRunning(),
            store.externalEngine()};
}


DevicesPage::State devicesState(const BridgeStore& store) {
    const AdminSnapshot& snapshot = store.snapshot();
    return {&snapshot, store.connectionState(), store.canChange(),
            DevicesViewModel::cleanEnabled(snapshot, store.canChange(), store.pendingActions()),
            store.pendingActions().empty()};
}

}  // namespace

ConnectionsPage* connectionsPage(BridgeStore& store, QWidget* parent, InterfaceLister interfaces) {
    ConnectionsPage::Actions actions;
    actions.apply = [&store](const BridgeLaunchConfiguration& draft) { store.applyConnectionConfiguration(draft); };
    auto* view = new ConnectionsPage(std::move(actions), connectionsState(store), parent, std::move(interfaces));
    QObject::connect(&store, &BridgeStore::changed, view, [view, &store] { view->setState(connectionsState(store)); });
    return view;
}

OverviewPage* overviewPage(BridgeStore& store, QWidget* parent) {
    OverviewPage::Actions actions;
    actions.select = [&store](BridgeSection section) { store.setSelection(section); };
    auto* view = new OverviewPage(std::move(actions), parent);
    const auto publish = [view, &store] {
        view->setState({&store.snapshot(), store.connectionState(), store.engineLastError()});
    };
    publish();
    QObject::connect(&store, &BridgeStore::changed, view, publish);
    return view;
}

DeviceSettingsPage* deviceSettingsPage(BridgeStore& store, QWidget* parent) {
    DeviceSettingsPage::Actions actions;
    actions.push = [&store](const QString& scope) { store.pushDeviceSettings(scope.toStdString()); };
    auto* view = new DeviceSettingsPage(std::move(actions), parent);
    const auto publish = [view, &store] {
        const DeviceSettingsViewModel model(store.snapshot(), store.canChange(), store.pendingActions());
        view->setState({model.rows(), model.resultLabel(), model.pushAllowed()});
    };
    publish();
    QObject::connect(&store, &BridgeStore::changed, view, publish);
    return view;
}

DevicesPage* devicesPage(BridgeStore& store, DialogService& dialogs, QWidget* parent) {
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
    auto* view = new DevicesPage(std::move(actions), dialogs, parent);
    view->setState(devicesState(store));
    QObject::connect(&store, &BridgeStore::changed, view, [view, &store] { view->setState(devicesState(store)); });
    return view;
}

namespace {

// Each monitor filter control changes one field of the store's filter.
void editFilter(BridgeStore& store, const std::function<void(MidiMonitorFilter&)>& change) {
    MidiMonitorFilter filter = store.midiMonitorFilter();
    change(filter);
    store.setMidiMonitorFilter(filter);
}

MidiMonitorPageView::State monitorState(const BridgeStore& store) {
    MidiMonitorPageView::State state;
    state.events = &store.midiMonitorEvents();
    state.dropped = store.midiDroppedEventCount();
    state.listening = store.midiListenEnabled();
    state.refreshRate = store.midiRefreshRate();
    state.filter = store.midiMonitorFilter();
    const BridgeStore* source = &store;
    state.deviceLabel = [source](const std::string& deviceId) { return source->deviceLabel(deviceId); };
    for (const BridgeDevice& device : store.snapshot().devices) state.snapshotLabels[device.deviceId] = device.label;
    return state;
}

QWidget* monitorPage(BridgeStore& store, DialogService& dialogs, QWidget* parent) {
    MidiMonitorPageView::Actions actions;
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
    auto* view = new MidiMonitorPageView(std::move(actions), dialogs, parent);
    view->setState(monitorState(store));
    QObject::connect(&store, &BridgeStore::changed, view, [view, &store] { view->setState(monitorState(store)); });
    return view;
}

RoutesPageView::State routesState(const BridgeStore& store) {
    return {&store.snapshot(), store.canChange(), store.pendingActions().empty()};
}

QWidget* routesPage(BridgeStore& store, QWidget* parent) {
    RoutesPageView::Actions actions;
    actions.assign = [&store](const BridgeDevice& device, const std::optional<LiveTrack>& track) {
        store.assign(device, track);
    };
    actions.applyPolicy = [&store](const DeviceRoutingPolicy& policy) { store.updateDeviceRoutingPolicy(policy); };
    actions.clearAssignments = [&store] { store.clearDeviceTrackAssignments(); };
    auto* view = new RoutesPageView(std::move(actions), nullptr, parent);
    view->setState(routesState(store));
    QObject::connect(&store, &BridgeStore::changed, view, [view, &store] { view->setState(routesState(store)); });
    return view;
}

LivePageView::State liveState(const BridgeStore& store) {
    LivePageView::State state;
    state.health = store.snapshot().bridge;
    state.connected = store.connectionState().isConnected();
    state.canChange = store.canChange();
    state.pendingEmpty = store.pendingActions().empty();
    return state;
}

QWidget* livePage(BridgeStore& store, const PageServices& services, QWidget* parent) {
    LivePageView::Actions actions;
    actions.reconnectMidi = [&store] { store.reconnectMidi(); };
    // The window replaces this page with deleteLater, so the click's handler still finishes.
    actions.showRoutes = [&store] { store.setSelection(BridgeSection::routes); };
    actions.openPath = [](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
    auto* view = new LivePageView(services.liveEnvironment ? services.liveEnvironment()
                                                           : LiveIntegration::Environment::system(),
                                  std::move(actions), services.dialogs, LivePageView::kStatusInterval, parent);
    view->setState(liveState(store));
    QObject::connect(&store, &BridgeStore::changed, view, [view, &store] { view->setState(liveState(store)); });
    view->start();
    return view;
}

PendingPairingRequestsPanel::State pairingRequestsState(const BridgeStore& store) {
    return {&store.snapshot(), store.canChange(), store.pendingActions().empty()};
}

QWidget* diagnosticsPage(BridgeStore& store, DialogService& dialogs, QWidget* parent) {
    DiagnosticsPageView::Actions actions;
    actions.refreshLogs = [&store] { store.refreshEngineLogs(); };
    actions.setDetailedCapture = [&store](bool start) { store.setDetailedDiagnostics(start); };
    actions.now = [] { return QDateTime::currentDateTime(); };
    // The export finishes later; its answer goes nowhere once the page is gone.
    auto page = std::make_shared<QPointer<DiagnosticsPageView>>();
    actions.exportDiagnostics = [&store, page](const QString& path, std::function<void(std::optional<QString>)> done) {
        store.exportDiagnostics(path, [page, done = std::move(done)](std::optional<QString> error) {
            if (*page) done(std::move(error));
        });
    };
    auto* view = new DiagnosticsPageView(std::move(actions), dialogs, DiagnosticsPageView::kRefreshInterval, parent);
    *page = view;
    const auto publish = [view, &store] {
        DiagnosticsPageView::State state;
        state.logLines = store.engineLogLines();
        state.fingerprint = store.engineFingerprint();
        state.diagnostics = store.snapshot().diagnostics;
        state.canChange = store.canChange();
        view->setState(state);
    };
    publish();
    // The store relays every change of its engine host, logs included.
    QObject::connect(&store, &BridgeStore::changed, view, publish);
    // Built inside its slot: reparented there, it would stay hidden until the next change.
    QVBoxLayout* identities = view->identitiesSlot();
    identities->addWidget(pendingPairingRequestsPanel(store, identities->parentWidget()));
    view->start();
    return view;
}

}  // namespace

PendingPairingRequestsPanel* pendingPairingRequestsPanel(BridgeStore& store, QWidget* parent) {
    PendingPairingRequestsPanel::Actions actions;
    actions.allow = [&store](const std::string& id, const std::optional<std::string>& fingerprint) {
        store.deviceAccess(id, DeviceAccessAction::allow, fingerprint);
    };
    actions.revoke = [&store](const std::string& id) { store.deviceAccess(id, DeviceAccessAction::forget, std::nullopt); };
    auto* view = new PendingPairingRequestsPanel(std::move(actions), parent);
    view->setState(pairingRequestsState(store));
    QObject::connect(&store, &BridgeStore::changed, view,
                     [view, &store] { view->setState(pairingRequestsState(store)); });
    return view;
}

QWidget* makePage(BridgeSection section, BridgeStore& store, const PageServices& services, QWidget* parent) {
    DialogService& dialogs = services.dialogs;
    QWidget* page = nullptr;
    switch (section) {
    case BridgeSection::overview: page = overviewPage(store, parent); break;
    case BridgeSection::connections: page = connectionsPage(store, parent); break;
    case BridgeSection::live: page = livePage(store, services, parent); break;
    case BridgeSection::devices: page = devicesPage(store, dialogs, parent); break;
    case BridgeSection::deviceSettings: page = deviceSettingsPage(store, parent); break;
    case BridgeSection::midiMonitor: page = monitorPage(store, dialogs, parent); break;
    case BridgeSection::routes: page = routesPage(store, parent); break;
    case BridgeSection::logs: page = diagnosticsPage(store, dialogs, parent); break;
    }
    page->setObjectName(QStringLiteral("page_") +
                        QString::fromUtf8(section.rawValue().data(), section.rawValue().size()));
    return page;
}

}  // namespace norv
