#pragma once

#include "core/admin_channel_timings.h"
#include "core/admin_tls.h"
#include "core/bridge_error.h"
#include "model/midi_monitor_batch.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QThread>
#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace norv {

struct AdminSnapshot;
class AdminConnectionState;

struct AdminChannelOptions {
    quint16 port = 9315;
    std::optional<QString> token;           // default: the current AdminCapability token
    std::optional<QString> certificatePEM;  // default: the current AdminCapability certificate
    std::optional<AdminTLSParameters> parametersForTests;  // replaces the pinned parameters
    AdminChannelTimings timings;
    std::function<QDateTime()> now;  // the time the certificate's dates are judged at; default UTC
};

// The application's one connection to the engine's admin port: pinned TLS to 127.0.0.1,
// token authentication, a snapshot request every second, snapshots and MIDI monitor batches
// handed to the owner, fire-and-forget messages and confirmed requests, and a reconnect
// 1.5 s after every loss, for ever.
//
// The connection lives on a thread of its own; its state and transitions are the
// AdminSessionMachine's. Every public operation may be called from any thread; handlers and
// completions run on the thread that owns this object (the GUI thread), in the order the channel
// produced them, and never after this object is destroyed. Destruction waits at most
// `timings.shutdown` for the thread to end.
class AdminChannelClient : public QObject {
    Q_OBJECT
public:
    using Options = AdminChannelOptions;

    using SnapshotHandler = std::function<void(const AdminSnapshot&)>;
    using MidiBatchHandler = std::function<void(MidiMonitorBatch)>;
    using StateHandler = std::function<void(const AdminConnectionState&)>;
    // No error means the engine confirmed the request.
    using Completion = std::function<void(const std::optional<BridgeError>&)>;

    explicit AdminChannelClient(Options options = {}, QObject* parent = nullptr);
    ~AdminChannelClient() override;

    // Stores the handlers and starts the connect loop. Call once; there is no stop.
    void start(SnapshotHandler onSnapshot, MidiBatchHandler onMidiBatch, StateHandler onState);

    // Fire-and-forget; dropped unless the channel is authenticated.
    void send(const QString& path, nlohmann::json args);

    // A confirmed action: the completion runs exactly once, with no error when the engine
    // confirmed it, or with the reason it failed.
    void request(const QString& path, nlohmann::json args, Completion completion);

private:
    class Relay;
    class Session;
    const std::chrono::milliseconds shutdownWait_;
    const std::shared_ptr<Relay> relay_;
    QThread* const thread_;
    Session* const session_;
};

}  // namespace norv
