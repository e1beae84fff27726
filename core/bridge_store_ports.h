#pragma once
// The narrow seams through which the store drives the admin channel, the engine supervisor
// and the Bluetooth server. The application adapts the real components; tests pass fakes.

#include "core/bridge_launch_configuration.h"
#include "model/admin_connection_state.h"
#include "model/admin_snapshot.h"
#include "model/midi_monitor_batch.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace norv {

class AdminClientPort {
public:
    using SnapshotHandler = std::function<void(const AdminSnapshot&)>;
    using BatchHandler = std::function<void(MidiMonitorBatch)>;
    using StateHandler = std::function<void(const AdminConnectionState&)>;
    // Called exactly once per request, on the GUI thread; an error text on failure.
    using Completion = std::function<void(const std::optional<QString>& error)>;

    virtual ~AdminClientPort();
    // Begins the connect loop; the handlers run on the GUI thread.
    virtual void start(SnapshotHandler onSnapshot, BatchHandler onMidiBatch, StateHandler onState) = 0;
    // An unconfirmed frame, dropped while the channel is not authenticated.
    virtual void send(const std::string& path, const nlohmann::json& args) = 0;
    // A confirmed request: a result, the confirmation timeout or a dropped channel completes it.
    virtual void request(const std::string& path, const nlohmann::json& args, Completion completion) = 0;
};

class EngineControlPort {
public:
    virtual ~EngineControlPort();
    virtual bool isRunning() const = 0;
    virtual bool isPreparing() const = 0;
    // Ignored while an engine runs or is being prepared.
    virtual void start(const BridgeLaunchConfiguration& configuration) = 0;
    // Terminates a running engine and starts it again; starts one when none runs.
    virtual void restart(const BridgeLaunchConfiguration& configuration) = 0;
    // Ends the current launch: a preparation still under way is discarded when it finishes,
    // nothing restarts, and a running engine process is terminated.
    virtual void stop() = 0;
    // The same for application quit; `done` runs on the GUI thread once no engine process is
    // left (bounded by the supervisor's termination grace).
    virtual void stopForQuit(std::function<void()> done) = 0;
    // Called after every change of what the supervisor publishes.
    virtual void setChangeHandler(std::function<void()> handler) = 0;

    // What the pages show of the engine: its last launch or run failure (none while there is
    // none), its log lines as last refreshed (oldest first) and the fingerprint of its TLS
    // certificate once an identity is prepared.
    virtual std::optional<QString> lastError() const = 0;
    virtual QStringList logLines() const = 0;
    virtual std::optional<QString> identityFingerprint() const = 0;
    // Copies the engine's buffered output into logLines(); a real change calls the change handler.
    virtual void refreshLogs() = 0;
    // Writes a diagnostics archive to `destination`; `done` runs later on the GUI thread with
    // nothing on success or the error's text.
    using ExportCompletion = std::function<void(std::optional<QString> error)>;
    virtual void exportDiagnostics(const QString& destination, ExportCompletion done) = 0;
};

class BluetoothPort {
public:
    virtual ~BluetoothPort();
    virtual void start(const QString& name, quint16 port, quint16 secureMidiPort) = 0;
    virtual void stop() = 0;
    // Status words ("OFF", "DISCOVERABLE", ...) and event lines, on the GUI thread.
    virtual void setHandlers(std::function<void(const QString&)> onStatus,
                             std::function<void(const QString&)> onEvent) = 0;
};

}  // namespace norv
