#include "bluetooth/bluetooth_pipe_machine.h"

#include <utility>

namespace norv {

std::string_view BluetoothPipeMachine::name(Phase phase) {
    switch (phase) {
        case Phase::built: return "built";
        case Phase::handshake: return "handshake";
        case Phase::connecting: return "connecting";
        case Phase::running: return "running";
        case Phase::draining: return "draining";
        case Phase::ending: return "ending";
        case Phase::writeFailed: return "writeFailed";
        case Phase::closed: return "closed";
    }
    return "unknown";
}

BluetoothPipeMachine::Actions BluetoothPipeMachine::handle(const Event& event) {
    actions_.clear();
    if (!closed()) std::visit([this](const auto& e) { on(e); }, event);
    return std::exchange(actions_, {});
}

void BluetoothPipeMachine::on(const Start& event) {
    if (phase_ != Phase::built) return;
    phase_ = event.withTcp ? Phase::connecting : Phase::handshake;
    add<OpenStreams>();
    add<StartReports>();
    if (event.withTcp) add<ConnectTcp>();
}

void BluetoothPipeMachine::on(const PortAccepted&) {
    if (phase_ != Phase::handshake) return;
    phase_ = Phase::connecting;
    add<ConnectTcp>();
}

void BluetoothPipeMachine::on(const TcpConnected&) {
    if (phase_ != Phase::connecting) return;
    phase_ = Phase::running;
    add<AnnounceTcpReady>();
    add<ReadEngine>();
    add<ReadCentral>();
}

void BluetoothPipeMachine::on(const TcpEnded&) {
    if (phase_ == Phase::connecting) {
        on(Close{QStringLiteral("tcp closed")});
    } else if (phase_ == Phase::writeFailed) {
        on(Close{writeFailure_});
    } else if (phase_ == Phase::running) {
        phase_ = Phase::draining;
        add<ReadEngine>();
    }
}

void BluetoothPipeMachine::on(const EngineDrained&) {
    if (phase_ != Phase::draining) return;
    phase_ = Phase::ending;
    readingEngine_ = false;
    add<ArmEndDeadline>(QStringLiteral("tcp end"));
    add<Flush>();
}

void BluetoothPipeMachine::on(const WriteFailed& event) {
    if (phase_ != Phase::running) return on(Close{event.reason});
    phase_ = Phase::writeFailed;
    writeFailure_ = event.reason;
    add<ArmEndDeadline>(event.reason);
    add<ReadCentral>();
}

void BluetoothPipeMachine::on(const CentralEnded& event) {
    on(Close{phase_ == Phase::writeFailed ? writeFailure_ : event.reason});
}

void BluetoothPipeMachine::on(const SendToEngine&) {
    if (readsCentral()) sendingToEngine_ = true;
}

void BluetoothPipeMachine::on(const EngineTookAll&) {
    if (std::exchange(sendingToEngine_, false)) add<ReadCentral>();
}

void BluetoothPipeMachine::on(const EngineReadBegins&) {
    if (readsEngine()) readingEngine_ = true;
}

void BluetoothPipeMachine::on(const EngineReadEnds&) { readingEngine_ = false; }

void BluetoothPipeMachine::on(const FlushWanted& event) {
    if (!std::exchange(flushArmed_, true)) add<ArmFlush>(event.delay);
}

void BluetoothPipeMachine::on(const FlushDue&) {
    flushArmed_ = false;
    add<Flush>();
}

void BluetoothPipeMachine::on(const Close& event) {
    phase_ = Phase::closed;
    add<TearDown>(event.reason);
}

}  // namespace norv
