#pragma once

#include "model/machine_names.h"

#include <QString>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace norv {

// The Bluetooth pipe's one state and every transition of it. No I/O and no timers: the pipe
// feeds it events and carries out the actions it returns, in order, stopping once the pipe has
// closed. Beside the phase it keeps three things in flight: a send to the engine (the central is
// not read meanwhile), a read of the engine (so a read is never nested in another) and a deferred
// flush towards the central (at most one is armed).
//
//   phase        event                       next         actions
//   built        Start, with TCP             connecting   open streams, start reports, connect TCP
//   built        Start, MIDI (no TCP yet)    handshake    open streams, start reports
//   handshake    PortAccepted                connecting   connect TCP
//   connecting   TcpConnected                running      announce "tcp ready", read engine,
//                                                           read central
//   connecting   TcpEnded                    closed       tear down "tcp closed"
//   running      TcpEnded                    draining     read engine
//   draining     EngineDrained               ending       arm end deadline "tcp end", flush
//   running      WriteFailed(reason)         writeFailed  arm end deadline(reason), read central
//   other open   WriteFailed(reason)         closed       tear down(reason)
//   writeFailed  CentralEnded, TcpEnded      closed       tear down(the write's reason)
//   other open   CentralEnded(reason)        closed       tear down(reason)
//   running,     SendToEngine                unchanged    (a send is in flight)
//     writeFailed
//   any open     EngineTookAll               unchanged    read central, if a send was in flight
//   running,     EngineReadBegins            unchanged    (a read is in flight)
//     draining,
//     ending
//   any open     EngineReadEnds              unchanged    (no read in flight)
//   any open     FlushWanted(delay)          unchanged    arm flush(delay), unless one is armed
//   any open     FlushDue                    unchanged    flush
//   any open     Close(reason)               closed       tear down(reason)
//
// "Any open" is every phase but closed. Every other pair is ignored. After a failed write nothing
// more goes to the central, but what it sent before its hang-up is still read and sent on.
class BluetoothPipeMachine {
public:
    enum class Phase { built, handshake, connecting, running, draining, ending, writeFailed, closed };
    static std::string_view name(Phase phase);

    // Events.
    struct Start {
        static constexpr std::string_view kName = "start";
        bool withTcp;  // the engine's port is known: a state pipe, or a MIDI pipe after its handshake
    };
    struct PortAccepted {
        static constexpr std::string_view kName = "portAccepted";
    };
    struct TcpConnected {
        static constexpr std::string_view kName = "tcpConnected";
    };
    struct TcpEnded {
        static constexpr std::string_view kName = "tcpEnded";
    };
    struct EngineDrained {  // the engine has ended and every byte of it has been read
        static constexpr std::string_view kName = "engineDrained";
    };
    struct WriteFailed {
        static constexpr std::string_view kName = "writeFailed";
        QString reason;
    };
    struct CentralEnded {  // the central's stream ended or failed, after its last bytes
        static constexpr std::string_view kName = "centralEnded";
        QString reason;
    };
    struct SendToEngine {
        static constexpr std::string_view kName = "sendToEngine";
    };
    struct EngineTookAll {  // TCP has nothing left to write
        static constexpr std::string_view kName = "engineTookAll";
    };
    struct EngineReadBegins {
        static constexpr std::string_view kName = "engineReadBegins";
    };
    struct EngineReadEnds {
        static constexpr std::string_view kName = "engineReadEnds";
    };
    struct FlushWanted {
        static constexpr std::string_view kName = "flushWanted";
        double delay;
    };
    struct FlushDue {
        static constexpr std::string_view kName = "flushDue";
    };
    struct Close {
        static constexpr std::string_view kName = "close";
        QString reason;
    };
    using Event = std::variant<Start, PortAccepted, TcpConnected, TcpEnded, EngineDrained,
                               WriteFailed, CentralEnded, SendToEngine, EngineTookAll,
                               EngineReadBegins, EngineReadEnds, FlushWanted, FlushDue, Close>;

    // Actions.
    struct OpenStreams {
        static constexpr std::string_view kName = "openStreams";
    };
    struct StartReports {
        static constexpr std::string_view kName = "startReports";
    };
    struct ConnectTcp {
        static constexpr std::string_view kName = "connectTcp";
    };
    struct AnnounceTcpReady {
        static constexpr std::string_view kName = "announceTcpReady";
    };
    struct ReadEngine {
        static constexpr std::string_view kName = "readEngine";
    };
    struct ReadCentral {
        static constexpr std::string_view kName = "readCentral";
    };
    struct ArmEndDeadline {  // closes with `reason` unless the pipe has closed before
        static constexpr std::string_view kName = "armEndDeadline";
        QString reason;
    };
    struct Flush {
        static constexpr std::string_view kName = "flush";
    };
    struct ArmFlush {
        static constexpr std::string_view kName = "armFlush";
        double delay;
    };
    struct TearDown {
        static constexpr std::string_view kName = "tearDown";
        QString reason;
    };
    using Action = std::variant<OpenStreams, StartReports, ConnectTcp, AnnounceTcpReady, ReadEngine,
                                ReadCentral, ArmEndDeadline, Flush, ArmFlush, TearDown>;
    using Actions = std::vector<Action>;
    static_assert(namesAreDistinct<Event>() && namesAreDistinct<Action>());

    Actions handle(const Event& event);

    Phase phase() const { return phase_; }
    bool closed() const { return phase_ == Phase::closed; }
    // The TCP connection to the engine is up (it may have ended since).
    bool tcpReady() const {
        return phase_ == Phase::running || phase_ == Phase::draining || phase_ == Phase::ending ||
               phase_ == Phase::writeFailed;
    }
    // The engine's bytes still have somewhere to go.
    bool readsEngine() const { return tcpReady() && phase_ != Phase::writeFailed; }
    // The central's bytes still have somewhere to go.
    bool readsCentral() const { return phase_ == Phase::running || phase_ == Phase::writeFailed; }
    bool sendingToEngine() const { return sendingToEngine_; }
    bool readingEngine() const { return readingEngine_; }

private:
    void on(const Start& event);
    void on(const PortAccepted&);
    void on(const TcpConnected&);
    void on(const TcpEnded&);
    void on(const EngineDrained&);
    void on(const WriteFailed& event);
    void on(const CentralEnded& event);
    void on(const SendToEngine&);
    void on(const EngineTookAll&);
    void on(const EngineReadBegins&);
    void on(const EngineReadEnds&);
    void on(const FlushWanted& event);
    void on(const FlushDue&);
    void on(const Close& event);
    template <typename A, typename... Args>
    void add(Args&&... args) {
        actions_.emplace_back(A{std::forward<Args>(args)...});
    }

    Phase phase_ = Phase::built;
    bool sendingToEngine_ = false;
    bool readingEngine_ = false;
    bool flushArmed_ = false;
    QString writeFailure_;
    Actions actions_;  // set for the duration of one handle() call
};

}  // namespace norv
