#include "core/admin_session_machine.h"

#include "core/admin_frame_codec.h"

namespace norv {

std::string_view AdminSessionMachine::name(Phase phase) {
    switch (phase) {
        case Phase::idle: return "idle";
        case Phase::connecting: return "connecting";
        case Phase::authenticating: return "authenticating";
        case Phase::authenticated: return "authenticated";
        case Phase::waiting: return "waiting";
    }
    return "unknown";
}

AdminSessionMachine::Actions AdminSessionMachine::handle(const Event& event,
                                                         Clock::time_point now) {
    now_ = now;
    actions_.clear();
    std::visit([this](const auto& e) { on(e); }, event);
    return std::exchange(actions_, {});
}

void AdminSessionMachine::on(const Start&) {
    if (phase_ == Phase::idle) beginAttempt();
}

void AdminSessionMachine::on(const ReconnectDue&) {
    if (phase_ == Phase::waiting) beginAttempt();
}

void AdminSessionMachine::on(const Encrypted& event) {
    if (phase_ != Phase::connecting) return;
    phase_ = Phase::authenticating;
    lastSnapshot_ = now_;
    write(QStringLiteral("/admin/hello"), nlohmann::json::array({event.token.toStdString()}),
          std::nullopt);
    actions_.push_back(StartHeartbeat{});
}

void AdminSessionMachine::on(const Received& event) {
    if (!readsBytes()) return;
    reader_.append(event.bytes);
    AdminFrameReader::Outcome outcome = reader_.consume();
    if (phase_ == Phase::authenticating && reader_.authenticated())
        phase_ = Phase::authenticated;
    for (auto& message : outcome.messages) handleMessage(std::move(message));
    if (outcome.failure) lose(*outcome.failure);
}

void AdminSessionMachine::on(const AuthenticationDeadline& event) {
    if (event.attempt != attempt_) return;
    if (phase_ == Phase::connecting || phase_ == Phase::authenticating)
        lose(kAuthenticationTimedOut);
}

void AdminSessionMachine::on(const HeartbeatTick&) {
    if (!readsBytes()) return;
    if (!fresh()) return lose(kStoppedResponding);
    if (phase_ == Phase::authenticated)
        write(QStringLiteral("/admin/snapshot/request"), nlohmann::json::array(), std::nullopt);
}

void AdminSessionMachine::on(const Lost& event) {
    if (connected()) lose(event.reason);
}

void AdminSessionMachine::on(const Send& event) {
    if (phase_ == Phase::authenticated) write(event.path, event.args, std::nullopt);
}

void AdminSessionMachine::on(const Request& event) {
    if (phase_ != Phase::authenticated || !fresh()) {
        actions_.push_back(Complete{event.id, kUnavailable});
        return;
    }
    if (!write(event.path, event.args, event.id)) {
        actions_.push_back(Complete{event.id, kInvalidCommand});
        return;
    }
    pending_.insert(event.id);
    actions_.push_back(ArmConfirmation{event.id});
}

void AdminSessionMachine::on(const ConfirmationDeadline& event) {
    complete(event.id, kNotConfirmed);
}

void AdminSessionMachine::beginAttempt() {
    failPending(kReconnecting);
    reader_.reset();
    lastSnapshot_.reset();
    phase_ = Phase::connecting;
    ++attempt_;
    actions_.push_back(PublishState{AdminConnectionState::connecting()});
    actions_.push_back(OpenConnection{});
    actions_.push_back(ArmAuthenticationDeadline{attempt_});
}

void AdminSessionMachine::handleMessage(AdminFrameReader::Message message) {
    if (auto* snapshot = std::get_if<AdminSnapshot>(&message)) {
        lastSnapshot_ = now_;
        actions_.push_back(DeliverSnapshot{std::move(*snapshot)});
        actions_.push_back(PublishState{AdminConnectionState::connected()});
    } else if (auto* batch = std::get_if<MidiMonitorBatch>(&message)) {
        actions_.push_back(DeliverBatch{std::move(*batch)});
    } else if (auto* result = std::get_if<AdminFrameReader::ActionResult>(&message)) {
        const QString id = QString::fromStdString(result->requestId);
        if (result->ok)
            complete(id, std::nullopt);
        else
            complete(id, result->error ? QString::fromStdString(*result->error) : kActionFailed);
    }
}

void AdminSessionMachine::lose(const QString& reason) {
    phase_ = Phase::waiting;
    actions_.push_back(CloseConnection{});
    actions_.push_back(StopHeartbeat{});
    reader_.reset();
    lastSnapshot_.reset();
    failPending(reason);
    actions_.push_back(PublishState{AdminConnectionState::disconnected(reason.toStdString())});
    actions_.push_back(ScheduleReconnect{});
}

void AdminSessionMachine::failPending(const QString& reason) {
    for (const QString& id : std::exchange(pending_, {})) actions_.push_back(Complete{id, reason});
}

void AdminSessionMachine::complete(const QString& id, std::optional<QString> error) {
    if (pending_.erase(id) == 0) return;
    actions_.push_back(Complete{id, std::move(error)});
}

bool AdminSessionMachine::write(const QString& path, const nlohmann::json& args,
                                const std::optional<QString>& requestID) {
    auto frame = AdminFrameCodec::encode(path.toStdString(), args, requestID);
    if (!frame) return false;
    actions_.push_back(Write{std::move(*frame)});
    return true;
}

bool AdminSessionMachine::fresh() const {
    return lastSnapshot_ && now_ - *lastSnapshot_ < staleness_;
}

}  // namespace norv
