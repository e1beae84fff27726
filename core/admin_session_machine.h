#pragma once

#include "core/admin_frame_reader.h"
#include "model/admin_connection_state.h"
#include "model/admin_snapshot.h"
#include "model/machine_names.h"
#include "model/midi_monitor_batch.h"

#include <QByteArray>
#include <QString>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string_view>
#include <variant>
#include <vector>

namespace norv {

// The admin session's one state and every transition of it. No I/O, no timers, no clock: the
// channel client feeds it events with the time they happen and carries out the actions it
// returns, in order. Events of a connection (Encrypted, Received, HeartbeatTick, Lost) come only
// from the current connection; the client filters out those of a closed one.
//
//   phase             event                          next              actions
//   idle              Start                          connecting        publish connecting, open,
//   waiting           ReconnectDue                   connecting          arm authentication deadline
//   connecting        Encrypted                      authenticating    write hello, start heartbeat
//   authenticating    Received "/admin/authenticated" authenticated    (then as below)
//   authenticated     Received snapshot              authenticated     deliver it, publish connected
//   authenticated     Received batch / action result authenticated     deliver it / complete request
//   authenticating,   HeartbeatTick, snapshot fresh  unchanged         write snapshot request (only
//     authenticated                                                      when authenticated)
//   connecting,       AuthenticationDeadline of this waiting           lose "Bridge authentication
//     authenticating    attempt                                          timed out"
//   authenticating,   HeartbeatTick, no snapshot     waiting           lose "Bridge stopped responding"
//     authenticated     for the staleness limit
//   connecting,       Lost(reason), bad frame        waiting           lose(reason)
//     authenticating,
//     authenticated
//   authenticated     Send                           unchanged         write (dropped elsewhere)
//   authenticated     Request, snapshot fresh        unchanged         write, arm confirmation
//                                                                        (elsewhere: complete with
//                                                                        "Bridge unavailable")
//   any               ConfirmationDeadline           unchanged         complete "Action not
//                                                                        confirmed…" if pending
//
// lose(reason): close the connection, stop the heartbeat, complete every pending request with
// the reason, publish disconnected(reason), schedule the reconnect. Every other pair is ignored.
class AdminSessionMachine {
public:
    using Clock = std::chrono::steady_clock;

    enum class Phase { idle, connecting, authenticating, authenticated, waiting };
    static std::string_view name(Phase phase);

    // Events.
    struct Start {
        static constexpr std::string_view kName = "start";
    };
    struct ReconnectDue {
        static constexpr std::string_view kName = "reconnectDue";
    };
    struct Encrypted {  // the handshake is done and the peer's certificate is the pinned one
        static constexpr std::string_view kName = "encrypted";
        QString token;  // the admin token this connection authenticates with
    };
    struct Received {
        static constexpr std::string_view kName = "received";
        QByteArray bytes;
    };
    struct AuthenticationDeadline {
        static constexpr std::string_view kName = "authenticationDeadline";
        std::uint64_t attempt;
    };
    struct HeartbeatTick {
        static constexpr std::string_view kName = "heartbeatTick";
    };
    struct Lost {
        static constexpr std::string_view kName = "lost";
        QString reason;
    };
    struct Send {
        static constexpr std::string_view kName = "send";
        QString path;
        nlohmann::json args;
    };
    struct Request {
        static constexpr std::string_view kName = "request";
        QString id;
        QString path;
        nlohmann::json args;
    };
    struct ConfirmationDeadline {
        static constexpr std::string_view kName = "confirmationDeadline";
        QString id;
    };
    using Event = std::variant<Start, ReconnectDue, Encrypted, Received, AuthenticationDeadline,
                               HeartbeatTick, Lost, Send, Request, ConfirmationDeadline>;

    // Actions.
    struct PublishState {
        static constexpr std::string_view kName = "publishState";
        AdminConnectionState state;
    };
    // Resolve the token and certificate and connect; report Encrypted, or Lost with the reason.
    struct OpenConnection {
        static constexpr std::string_view kName = "openConnection";
    };
    struct ArmAuthenticationDeadline {
        static constexpr std::string_view kName = "armAuthenticationDeadline";
        std::uint64_t attempt;
    };
    struct CloseConnection {
        static constexpr std::string_view kName = "closeConnection";
    };
    struct Write {
        static constexpr std::string_view kName = "write";
        QByteArray frame;
    };
    struct StartHeartbeat {
        static constexpr std::string_view kName = "startHeartbeat";
    };
    struct StopHeartbeat {
        static constexpr std::string_view kName = "stopHeartbeat";
    };
    struct ScheduleReconnect {
        static constexpr std::string_view kName = "scheduleReconnect";
    };
    struct ArmConfirmation {
        static constexpr std::string_view kName = "armConfirmation";
        QString id;
    };
    struct DeliverSnapshot {
        static constexpr std::string_view kName = "deliverSnapshot";
        AdminSnapshot snapshot;
    };
    struct DeliverBatch {
        static constexpr std::string_view kName = "deliverBatch";
        MidiMonitorBatch batch;
    };
    // Call the request's completion: no error means confirmed.
    struct Complete {
        static constexpr std::string_view kName = "complete";
        QString id;
        std::optional<QString> error;
    };
    using Action = std::variant<PublishState, OpenConnection, ArmAuthenticationDeadline,
                                CloseConnection, Write, StartHeartbeat, StopHeartbeat,
                                ScheduleReconnect, ArmConfirmation, DeliverSnapshot, DeliverBatch,
                                Complete>;
    using Actions = std::vector<Action>;
    static_assert(namesAreDistinct<Event>() && namesAreDistinct<Action>());

    static inline const QString kReconnecting = QStringLiteral("Bridge reconnecting");
    static inline const QString kAuthenticationTimedOut =
        QStringLiteral("Bridge authentication timed out");
    static inline const QString kStoppedResponding = QStringLiteral("Bridge stopped responding");
    static inline const QString kUnavailable = QStringLiteral("Bridge unavailable");
    static inline const QString kNotConfirmed =
        QStringLiteral("Action not confirmed. Check the Bridge status.");
    static inline const QString kInvalidCommand = QStringLiteral("Invalid Bridge command");
    static inline const QString kActionFailed = QStringLiteral("Action failed");

    // `staleness`: the longest time without a snapshot (counted from the handshake at first).
    explicit AdminSessionMachine(std::chrono::milliseconds staleness) : staleness_(staleness) {}

    Actions handle(const Event& event, Clock::time_point now);

    Phase phase() const { return phase_; }
    // Whether bytes of the connection are read now (after the handshake, before a loss).
    bool readsBytes() const {
        return phase_ == Phase::authenticating || phase_ == Phase::authenticated;
    }

private:
    void on(const Start&);
    void on(const ReconnectDue&);
    void on(const Encrypted&);
    void on(const Received&);
    void on(const AuthenticationDeadline&);
    void on(const HeartbeatTick&);
    void on(const Lost&);
    void on(const Send&);
    void on(const Request&);
    void on(const ConfirmationDeadline&);

    void beginAttempt();
    void handleMessage(AdminFrameReader::Message message);
    void lose(const QString& reason);
    void failPending(const QString& reason);
    void complete(const QString& id, std::optional<QString> error);
    // Writes the frame; false when it cannot be encoded.
    bool write(const QString& path, const nlohmann::json& args,
               const std::optional<QString>& requestID);
    bool fresh() const;
    bool connected() const { return phase_ != Phase::idle && phase_ != Phase::waiting; }

    const std::chrono::milliseconds staleness_;
    Phase phase_ = Phase::idle;
    std::uint64_t attempt_ = 0;
    AdminFrameReader reader_;
    std::optional<Clock::time_point> lastSnapshot_;  // none: the distant past
    std::set<QString> pending_;                      // requests awaiting their result

    // Set for the duration of one handle() call.
    Clock::time_point now_;
    Actions actions_;
};

}  // namespace norv
