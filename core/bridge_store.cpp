#include "core/bridge_store.h"

#include "core/app_log.h"
#include "core/dialog_service.h"
#include "model/settings_keys.h"

#include <QPointer>
#include <QSettings>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <utility>

namespace norv {

namespace {

const QString kApplying = QStringLiteral("Applying\u2026");

MidiMonitorRefreshRate loadRefreshRate(const QSettings& settings) {
    const qint64 stored = settings.value(settings_keys::midiMonitorRefreshRate, 0).toLongLong();
    return MidiMonitorRefreshRate::fromRaw(stored).value_or(MidiMonitorRefreshRate::ten);
}

}  // namespace

BridgeStore::BridgeStore(std::unique_ptr<AdminClientPort> admin, std::unique_ptr<EngineControlPort> process,
                         std::unique_ptr<BluetoothPort> bluetooth, DialogService& dialogs, QSettings& settings,
                         BridgeStoreOptions options, QObject* parent)
    : QObject(parent),
      bluetooth_(std::move(bluetooth)),
      process_(std::move(process)),
      admin_(std::move(admin)),
      dialogs_(dialogs),
      settings_(settings),
      options_(std::move(options)) {
    midiRefreshRate_ = loadRefreshRate(settings_);
    launchConfiguration_ = BridgeLaunchConfiguration::load(settings_);

    QPointer<BridgeStore> self(this);
    bluetooth_->setHandlers(
        [self](const QString& status) {
            if (!self || self->bluetoothStatus_ == status) return;
            self->bluetoothStatus_ = status;
            Q_EMIT self->changed();
        },
        [](const QString& line) { qCInfo(AppLog::connection, "Bluetooth %s", qUtf8Printable(line)); });
    // The supervisor's changes are the store's changes: views watching only the store refresh too.
    process_->setChangeHandler([self] {
        if (self) Q_EMIT self->changed();
    });
}

BridgeStore::~BridgeStore() {
    // The ports may call back while they are torn down; nothing of the store is touched then.
    process_->setChangeHandler({});
    bluetooth_->setHandlers({}, {});
}

// ---- published setters ----

void BridgeStore::setSelection(std::optional<BridgeSection> section) {
    selection_ = section;
    announce(ChangeScope::everything);
    updateMidiMonitorSubscription();
}

void BridgeStore::setMidiListenEnabled(bool enabled) {
    midiListenEnabled_ = enabled;
    announce(ChangeScope::everything);
    updateMidiMonitorSubscription();
}

void BridgeStore::setMidiRefreshRate(MidiMonitorRefreshRate rate) {
    midiRefreshRate_ = rate;
    settings_.setValue(settings_keys::midiMonitorRefreshRate, rate.rawValue());
    announce(ChangeScope::everything);
    updateMidiMonitorSubscription();
}

void BridgeStore::setMidiMonitorFilter(const MidiMonitorFilter& filter) {
    midiMonitorFilter_ = filter;
    announce(ChangeScope::everything);
}

void BridgeStore::dismissActionMessage() {
    if (!actionMessage_) return;
    actionMessage_.reset();
    announce(ChangeScope::everything);
}

// ---- derived values ----

bool BridgeStore::externalEngine() const { return connectionState_.isConnected() && !process_->isRunning(); }

bool BridgeStore::canChange() const { return connectionState_.isConnected() && process_->isRunning(); }

QString BridgeStore::menuBarSymbol() const {
    if (!connectionState_.isConnected()) return QStringLiteral("cable.connector.slash");
    if (snapshot_.bridge.liveLinked()) return QStringLiteral("point.3.connected.trianglepath.dotted");
    return QStringLiteral("cable.connector");
}

std::string BridgeStore::deviceLabel(const std::string& deviceId) const {
    return monitorDeviceLabel(monitorDeviceLabels(snapshot_.devices), deviceId);
}

qint64 BridgeStore::connectedDeviceCount() const {
    return std::count_if(snapshot_.devices.begin(), snapshot_.devices.end(),
                         [](const BridgeDevice& device) { return device.connected; });
}

QString BridgeStore::bluetoothName(const QString& computerName) {
    return QStringLiteral("Norv Bridge \u00B7 ") + (computerName.isEmpty() ? QStringLiteral("Mac") : computerName);
}

// ---- start-up and the admin channel's handlers ----

void BridgeStore::start() {
    if (started_) return;
    started_ = true;
    QPointer<BridgeStore> self(this);
    admin_->start(
        [self](const AdminSnapshot& snapshot) {
            if (self) self->receiveSnapshot(snapshot);
        },
        [self](MidiMonitorBatch batch) {
            if (self) self->receiveMidiMonitorBatch(std::move(batch));
        },
        [self](const AdminConnectionState& state) {
            if (self) self->receiveConnectionState(state);
        });
    // An engine that already answers is used as it is; otherwise launch our own.
    QTimer::singleShot(options_.startCheckDelay, Qt::PreciseTimer, this, [this] {
        if (!connectionState_.isConnected()) startBridge();
    });
}

void BridgeStore::receiveSnapshot(const AdminSnapshot& snapshot) {
    snapshot_ = snapshot;
    appendMidiEvents(snapshot.midiEvents);
    announce(ChangeScope::everything);
}

// A change announced while another is (a follower acting on it) carries its own scope, and the
// outer one's comes back after it.
void BridgeStore::announce(ChangeScope scope) {
    const ChangeScope outer = std::exchange(changeScope_, scope);
    Q_EMIT changed();
    changeScope_ = outer;
}

void BridgeStore::receiveMidiMonitorBatch(MidiMonitorBatch batch) {
    // A sequence below the last one means the engine started counting again.
    if (batch.reset || midiLatestSequence_ > batch.latestSequence) {
        midiMonitorEvents_.clear();
        midiDroppedEventCount_ = 0;
    }
    // The engine's count is not trusted to stay in range: the sum saturates instead of wrapping.
    if (__builtin_add_overflow(midiDroppedEventCount_, batch.dropped, &midiDroppedEventCount_))
        midiDroppedEventCount_ = batch.dropped > 0 ? INT64_MAX : INT64_MIN;
    appendMidiEvents(std::move(batch.events));
    midiLatestSequence_ = batch.latestSequence;
    announce(ChangeScope::midiMonitorOnly);
}

void BridgeStore::appendMidiEvents(std::vector<MidiMonitorEvent> events) {
    if (events.empty()) return;
    const std::int64_t newestHeld = midiMonitorEvents_.empty() ? 0 : midiMonitorEvents_.back().sequence;
    for (MidiMonitorEvent& event : events) {
        if (event.sequence > newestHeld) midiMonitorEvents_.push_back(std::move(event));
    }
    const auto excess = static_cast<std::ptrdiff_t>(midiMonitorEvents_.size()) - midiMonitorBufferLimit;
    if (excess > 0) midiMonitorEvents_.dropOldest(static_cast<std::size_t>(excess));
}

void BridgeStore::receiveConnectionState(const AdminConnectionState& state) {
    if (state == connectionState_) return;
    connectionState_ = state;
    if (!state.isConnected()) {
        snapshot_ = AdminSnapshot::empty();
        midiLatestSequence_ = 0;
        announce(ChangeScope::everything);
        updateBluetooth();
    } else {
        announce(ChangeScope::everything);
        updateBluetooth();
        updateMidiMonitorSubscription();
    }
}

void BridgeStore::updateMidiMonitorSubscription() {
    if (!started_) return;
    const bool enabled = selection_ == BridgeSection::midiMonitor && midiListenEnabled_;
    const AdminCommand configure = AdminCommands::configureMidiMonitor(enabled, midiRefreshRate_.rawValue());
    admin_->send(configure.path, configure.args);
}

void BridgeStore::stopBluetooth() {
    bluetooth_->stop();
    bluetoothPort_.reset();
}

void BridgeStore::updateBluetooth() {
    if (launchConfiguration_.bluetoothEnabled && canChange()) {
        const int port = launchConfiguration_.publicPort;
        if (bluetoothPort_ == port) return;
        bluetooth_->stop();
        const QString computer = options_.computerName ? options_.computerName() : QString();
        // The engine only runs with a port that passed validation, so both ports fit 16 bits.
        bluetooth_->start(bluetoothName(computer), static_cast<quint16>(port), static_cast<quint16>(port + 1));
        bluetoothPort_ = port;
        return;
    }
    stopBluetooth();
}

// ---- admin actions ----

void BridgeStore::command(const std::string& path, const nlohmann::json& args, const QString& label) {
    if (!canChange() || pendingActions_.count(path) > 0) return;
    pendingActions_.insert(path);
    actionFailed_ = false;
    actionMessage_ = kApplying;
    announce(ChangeScope::everything);
    QPointer<BridgeStore> self(this);
    admin_->request(path, args, [self, path, label](const std::optional<QString>& error) {
        if (!self) return;
        self->pendingActions_.erase(path);
        self->actionMessage_ = error ? *error : label;
        self->actionFailed_ = error.has_value();
        Q_EMIT self->changed();
    });
}

void BridgeStore::request(const AdminCommand& command) {
    this->command(command.path, command.args, QString::fromStdString(command.label));
}

void BridgeStore::assign(const BridgeDevice& device, const std::optional<LiveTrack>& track) {
    request(AdminCommands::assignTrack(device.deviceId, track));
    qCInfo(AppLog::routing, "Assigned device %s to track %lld", device.deviceId.c_str(),
           static_cast<long long>(track ? track->liveId : -1));
}

void BridgeStore::updateDeviceRoutingPolicy(const DeviceRoutingPolicy& policy) {
    request(AdminCommands::routingPolicy(policy));
    qCInfo(AppLog::routing,
           "Applied device routing policy automatic=%s shared=%s restore=%s manual_override=%s grace=%f",
           AppLog::boolean(policy.automaticDeviceRoutingEnabled), policy.sharedInputStrategy.c_str(),
           AppLog::boolean(policy.restoreInputOnRelease), AppLog::boolean(policy.respectManualOverrides),
           policy.disconnectGraceSeconds);
}

void BridgeStore::clearDeviceTrackAssignments() {
    request(AdminCommands::clearTrackAssignments());
    qCWarning(AppLog::routing, "Cleared all device track assignments");  // the default level
}

void BridgeStore::setDetailedDiagnostics(bool enabled) {
    if (!connectionState_.isConnected()) return;
    request(AdminCommands::configureDiagnostics(enabled));
}

void BridgeStore::deviceAccess(const std::string& deviceId, DeviceAccessAction action,
                               const std::optional<std::string>& fingerprint) {
    const bool certificatesRequired =
        snapshot_.deviceAccess && snapshot_.deviceAccess->requireCertificate.value_or(false);
    if (const auto command = AdminCommands::deviceAccess(deviceId, action, fingerprint, certificatesRequired))
        request(*command);
}

void BridgeStore::archiveDevice(const std::string& deviceId, bool archived) {
    request(AdminCommands::archiveDevice(deviceId, archived));
}

void BridgeStore::renameDevice(const std::string& deviceId, const std::string& name) {
    request(AdminCommands::renameDevice(deviceId, name));
}

void BridgeStore::cleanDevices(const std::vector<std::string>& captured) {
    if (const auto command = AdminCommands::cleanDevices(captured, snapshot_.cleanupDeviceIDs())) request(*command);
}

void BridgeStore::resetPairing() { request(AdminCommands::resetPairing()); }

void BridgeStore::pushDeviceSettings(const std::string& scope) { request(AdminCommands::pushDeviceSettings(scope)); }

void BridgeStore::reconnectMidi() { request(AdminCommands::reconnectMidi()); }

// ---- engine diagnostics ----

void BridgeStore::refreshEngineLogs() { process_->refreshLogs(); }

void BridgeStore::exportDiagnostics(const QString& destination, EngineControlPort::ExportCompletion done) {
    process_->exportDiagnostics(destination, std::move(done));
}

// ---- local MIDI monitor actions ----

void BridgeStore::clearMidiMonitor() {
    midiMonitorEvents_.clear();
    midiDroppedEventCount_ = 0;
    midiLatestSequence_ = 0;
    announce(ChangeScope::everything);
    const AdminCommand clear = AdminCommands::clearMidiMonitor();
    admin_->send(clear.path, clear.args);
}

void BridgeStore::toggleMidiMessageFamily(MidiMessageFamily family) {
    midiMonitorFilter_.families.toggle(family);
    announce(ChangeScope::everything);
}

// ---- engine control and settings ----

bool BridgeStore::validConfiguration(const BridgeLaunchConfiguration& configuration) {
    const int port = configuration.publicPort;
    QString problem;
    if (port < 1024 || port > 65534) {
        problem = QStringLiteral("Wi-Fi port must be between 1024 and 65534");
    } else if ((port >= 9313 && port <= 9315) || (port + 1 >= 9313 && port + 1 <= 9315)) {
        problem = QStringLiteral("Wi-Fi port and the next port must not use 9313\u20139315");
    } else {
        return true;
    }
    actionMessage_ = problem;
    actionFailed_ = true;
    announce(ChangeScope::everything);
    return false;
}

bool BridgeStore::confirmInterruption(const QString& action) {
    if (!process_->isRunning()) return true;
    if (connectedDeviceCount() == 0) return true;
    ConfirmationRequest request;
    request.message = action + QStringLiteral("?");
    request.informativeText = QStringLiteral("Connected devices will disconnect and playing notes will stop.");
    request.confirmButton = action;
    request.warning = true;
    return dialogs_.confirm(request);
}

void BridgeStore::startBridge() {
    if (externalEngine()) return;
    if (!validConfiguration(launchConfiguration_)) return;
    process_->start(launchConfiguration_);
}

void BridgeStore::stopBridge() {
    if (!process_->isRunning() || !confirmInterruption(QStringLiteral("Stop Bridge"))) return;
    stopBluetooth();
    process_->stop();
}

void BridgeStore::restartBridge() {
    if (externalEngine()) return;
    if (!validConfiguration(launchConfiguration_)) return;
    if (!confirmInterruption(QStringLiteral("Restart Bridge"))) return;
    process_->restart(launchConfiguration_);
}

void BridgeStore::startOrRestartBridge() {
    if (process_->isRunning()) restartBridge();
    else startBridge();
}

void BridgeStore::applyConnectionConfiguration(const BridgeLaunchConfiguration& configuration) {
    if (externalEngine()) return;
    if (!validConfiguration(configuration)) return;
    BridgeLaunchConfiguration applied = configuration;
    applied.bonjourEnabled = configuration.wirelessEnabled && configuration.bonjourEnabled;
    applied.requireDeviceApproval = true;

    // Bluetooth is not on the engine's command line, so switching it never needs a restart.
    BridgeLaunchConfiguration withoutBluetooth = applied;
    withoutBluetooth.bluetoothEnabled = launchConfiguration_.bluetoothEnabled;
    const bool restartNeeded = !(withoutBluetooth == launchConfiguration_);
    if (restartNeeded && !confirmInterruption(QStringLiteral("Apply and restart"))) return;

    applied.save(settings_);
    launchConfiguration_ = applied;
    announce(ChangeScope::everything);
    qCInfo(AppLog::connection,
           "Applying connection config wireless=%s bonjour=%s ios_usb=%s android_usb=%s port=%d",
           AppLog::boolean(applied.wirelessEnabled), AppLog::boolean(applied.bonjourEnabled),
           AppLog::boolean(applied.iosUSBEnabled), AppLog::boolean(applied.androidUSBEnabled),
           applied.publicPort);
    if (restartNeeded) {
        stopBluetooth();
        process_->restart(applied);
    } else {
        updateBluetooth();
    }
}

void BridgeStore::shutdown(std::function<void()> done) {
    stopBluetooth();
    process_->stopForQuit(std::move(done));
}

}  // namespace norv
