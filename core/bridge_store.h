#pragma once
// The application's one observable state: the engine's last snapshot, the admin channel's
// state, the page selection, the MIDI monitor buffer, subscription and filter, the launch
// configuration and the Bluetooth status, with the actions every page and menu calls. GUI thread
// only; views re-read what they show whenever `changed()` fires.

#include "core/bridge_launch_configuration.h"
#include "core/bridge_store_ports.h"
#include "model/admin_commands.h"
#include "model/admin_connection_state.h"
#include "model/admin_snapshot.h"
#include "model/bridge_section.h"
#include "model/device_access_action.h"
#include "model/device_routing_policy.h"
#include "model/live_track.h"
#include "model/midi_message_family.h"
#include "model/midi_monitor_batch.h"
#include "model/midi_monitor_buffer.h"
#include "model/midi_monitor_filter.h"
#include "model/midi_monitor_refresh_rate.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QSettings;

namespace norv {

class DialogService;

struct BridgeStoreOptions {
    // How long start() waits for an engine that already answers before launching its own.
    std::chrono::milliseconds startCheckDelay{1200};
    // The computer's user-visible name; empty means the platform gives none.
    std::function<QString()> computerName;
};

class BridgeStore : public QObject {
    Q_OBJECT
public:
    static constexpr int midiMonitorBufferLimit = 4000;
    static constexpr int adminPort = 9315;

    BridgeStore(std::unique_ptr<AdminClientPort> admin, std::unique_ptr<EngineControlPort> process,
                std::unique_ptr<BluetoothPort> bluetooth, DialogService& dialogs, QSettings& settings,
                BridgeStoreOptions options = {}, QObject* parent = nullptr);
    ~BridgeStore() override;

    // Published state.
    const std::optional<QString>& actionMessage() const { return actionMessage_; }
    bool actionFailed() const { return actionFailed_; }
    const std::set<std::string>& pendingActions() const { return pendingActions_; }
    const AdminSnapshot& snapshot() const { return snapshot_; }
    const AdminConnectionState& connectionState() const { return connectionState_; }
    std::optional<BridgeSection> selection() const { return selection_; }
    // The MIDI monitor: what the engine is asked to send, and what the page shows of it.
    bool midiListenEnabled() const { return midiListenEnabled_; }
    MidiMonitorRefreshRate midiRefreshRate() const { return midiRefreshRate_; }
    const MidiMonitorFilter& midiMonitorFilter() const { return midiMonitorFilter_; }
    const MidiMonitorBuffer& midiMonitorEvents() const { return midiMonitorEvents_; }
    std::int64_t midiDroppedEventCount() const { return midiDroppedEventCount_; }
    const BridgeLaunchConfiguration& launchConfiguration() const { return launchConfiguration_; }
    const QString& bluetoothStatus() const { return bluetoothStatus_; }

    // Setters that publish. The first three also send the monitor subscription again, whether
    // or not the value changed; the refresh rate is saved in the settings. The filter only
    // publishes: the engine sends the same events whatever the page shows of them.
    void setSelection(std::optional<BridgeSection> section);
    void setMidiListenEnabled(bool enabled);
    void setMidiRefreshRate(MidiMonitorRefreshRate rate);
    void setMidiMonitorFilter(const MidiMonitorFilter& filter);
    void dismissActionMessage();

    // The own engine, for reading; it is driven only through the store's actions.
    const EngineControlPort& process() const { return *process_; }
    // The own engine as the pages show it: its last failure, its log and its TLS identity.
    std::optional<QString> engineLastError() const { return process_->lastError(); }
    QStringList engineLogLines() const { return process_->logLines(); }
    std::optional<QString> engineFingerprint() const { return process_->identityFingerprint(); }

    // Derived values.
    bool externalEngine() const;
    bool canChange() const;
    QString menuBarSymbol() const;
    std::string deviceLabel(const std::string& deviceId) const;
    qint64 connectedDeviceCount() const;
    std::optional<int> bluetoothPort() const { return bluetoothPort_; }

    // Start-up: the admin connect loop now, the own engine after the start check. Runs once.
    void start();
    bool started() const { return started_; }

    // Admin actions. Each sends one confirmed request, at most one per path in flight, and only
    // while the store may change the engine; the requests are built in AdminCommands. `command`
    // is the gate they all pass: the path, its arguments and the notice shown once confirmed.
    void command(const std::string& path, const nlohmann::json& args, const QString& label);
    void assign(const BridgeDevice& device, const std::optional<LiveTrack>& track);
    void updateDeviceRoutingPolicy(const DeviceRoutingPolicy& policy);
    void clearDeviceTrackAssignments();
    // Only while connected.
    void setDetailedDiagnostics(bool enabled);
    // Sends nothing for an allow without a fingerprint while the engine requires certificates.
    void deviceAccess(const std::string& deviceId, DeviceAccessAction action,
                      const std::optional<std::string>& fingerprint);
    void archiveDevice(const std::string& deviceId, bool archived);
    void renameDevice(const std::string& deviceId, const std::string& name);
    // Cleans those of `captured` that the current snapshot still offers; nothing when none is.
    void cleanDevices(const std::vector<std::string>& captured);
    void resetPairing();
    void pushDeviceSettings(const std::string& scope);
    void reconnectMidi();

    // Engine diagnostics: copies the engine's buffered log into engineLogLines(); writes a
    // diagnostics archive and calls `done` later with nothing or the error text.
    void refreshEngineLogs();
    void exportDiagnostics(const QString& destination, EngineControlPort::ExportCompletion done);

    // Local MIDI monitor actions.
    void clearMidiMonitor();
    void toggleMidiMessageFamily(MidiMessageFamily family);

    // Engine control and settings.
    void startBridge();
    void stopBridge();
    void restartBridge();
    // The one Start/Restart command: whether the engine runs is read when it is chosen.
    void startOrRestartBridge();
    void applyConnectionConfiguration(const BridgeLaunchConfiguration& configuration);
    bool validConfiguration(const BridgeLaunchConfiguration& configuration);
    bool confirmInterruption(const QString& action);

    // Application end: stops Bluetooth and ends the own engine without asking; `done` runs once
    // no engine process of this application is left.
    void shutdown(std::function<void()> done);

    // Handlers the admin channel calls once started; public so page tests can stage a snapshot or
    // a connection state without starting the store.
    void receiveSnapshot(const AdminSnapshot& snapshot);
    void receiveConnectionState(const AdminConnectionState& state);

    static QString bluetoothName(const QString& computerName);

    // What the change `changed()` is announcing touched: the MIDI monitor's buffer and counts
    // alone (a batch of monitored events), so views that show none of them may skip it, or
    // anything at all.
    enum class ChangeScope { everything, midiMonitorOnly };
    ChangeScope changeScope() const { return changeScope_; }

Q_SIGNALS:
    void changed();

private:
    void announce(ChangeScope scope);
    // Sends the monitor subscription for the current page, switch and rate (once started).
    void updateMidiMonitorSubscription();
    // Serves Bluetooth while the own engine is connected and its switch is on; stops it otherwise.
    void updateBluetooth();
    void receiveMidiMonitorBatch(MidiMonitorBatch batch);
    void request(const AdminCommand& command);
    void appendMidiEvents(std::vector<MidiMonitorEvent> events);
    void stopBluetooth();

    std::optional<QString> actionMessage_;
    bool actionFailed_ = false;
    std::set<std::string> pendingActions_;
    AdminSnapshot snapshot_ = AdminSnapshot::empty();
    AdminConnectionState connectionState_ = AdminConnectionState::stopped();
    std::optional<BridgeSection> selection_ = BridgeSection::overview;
    bool midiListenEnabled_ = true;
    MidiMonitorRefreshRate midiRefreshRate_ = MidiMonitorRefreshRate::ten;
    MidiMonitorFilter midiMonitorFilter_;
    MidiMonitorBuffer midiMonitorEvents_;
    std::int64_t midiDroppedEventCount_ = 0;
    BridgeLaunchConfiguration launchConfiguration_;
    QString bluetoothStatus_ = QStringLiteral("OFF");

    std::unique_ptr<BluetoothPort> bluetooth_;
    std::optional<int> bluetoothPort_;
    std::unique_ptr<EngineControlPort> process_;
    std::unique_ptr<AdminClientPort> admin_;
    DialogService& dialogs_;
    QSettings& settings_;
    BridgeStoreOptions options_;
    bool started_ = false;
    std::int64_t midiLatestSequence_ = 0;
    ChangeScope changeScope_ = ChangeScope::everything;
};

}  // namespace norv
