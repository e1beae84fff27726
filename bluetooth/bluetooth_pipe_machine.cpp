#include "bluetooth/bluetooth_pipe_machine.h"

#include <array>
#include <utility>

namespace norv {

namespace {

constexpr std::array phaseNames{"built",   "handshake", "connecting", "running",
                                "draining", "ending",   "closed"};
constexpr std::array eventNames{"Start",         "PortAccepted",     "TcpConnected",
                                "TcpEnded",      "EngineDrained",    "SendToEngine",
                                "EngineTookAll", "EngineReadBegins", "EngineReadEnds",
                                "FlushWanted",   "FlushDue",         "Close"};
constexpr std::array actionNames{"OpenStreams",    "StartReports", "ConnectTcp", "AnnounceTcpReady",
                                 "ReadEngine",     "ReadCentral",  "ArmEndDeadline", "Flush",
                                 "ArmFlush",       "TearDown"};
static_assert(phaseNames.size() == static_cast<std::size_t>(BluetoothPipeMachine::Phase::closed) + 1);
static_assert(eventNames.size() == std::variant_size_v<BluetoothPipeMachine::Event>);
static_assert(actionNames.size() == std::variant_size_v<BluetoothPipeMachine::Action>);

}  // namespace

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
    } else if (phase_ == Phase::running) {
        phase_ = Phase::draining;
        add<ReadEngine>();
    }
}

void BluetoothPipeMachine::on(const EngineDrained&) {
    if (phase_ != Phase::draining) return;
    phase_ = Phase::ending;
    readingEngine_ = false;
    add<ArmEndDeadline>();
    add<Flush>();
}

void BluetoothPipeMachine::on(const SendToEngine&) {
    if (phase_ == Phase::running) sendingToEngine_ = true;
}

void BluetoothPipeMachine::on(const EngineTookAll&) {
    if (std::exchange(sendingToEngine_, false)) add<ReadCentral>();
}

void BluetoothPipeMachine::on(const EngineReadBegins&) {
    if (tcpReady()) readingEngine_ = true;
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

const char* BluetoothPipeMachine::name(Phase phase) {
    return phaseNames.at(static_cast<std::size_t>(phase));
}

const char* BluetoothPipeMachine::name(const Event& event) { return eventNames.at(event.index()); }

const char* BluetoothPipeMachine::name(const Action& action) {
    return actionNames.at(action.index());
}

}  // namespace norv
