#include "midi_helper/helper_app.h"

#include <cstdio>
#include <mutex>

#include "midi_helper/helper_command.h"
#include "midi_helper/helper_error.h"
#include "midi_helper/helper_sockets.h"
#include "midi_helper/json_output.h"
#include "midi_helper/loop_realtime.h"
#include "midi_helper/midi_port.h"
#include "midi_helper/native_midi_bridge.h"
#include "midi_helper/thread_name.h"

namespace norv {

namespace {

constexpr const char* kLoopThreadName = "norv-loop";
constexpr const char* kServerThreadName = "norv-jack";

}  // namespace

HelperApp::HelperApp(HelperConfig config, MidiPort& port, JsonOutput& output,
                     std::chrono::milliseconds commandBound)
    : output_(output),
      port_(port),
      commandBound_(commandBound),
      loop_(std::make_unique<EventLoop>()),
      datagramSockets_(std::make_shared<HelperSockets*>(nullptr)),
      bridge_(std::make_unique<NativeMidiBridge>(
          std::move(config), *loop_, port, output,
          [sockets = datagramSockets_](std::span<const uint8_t> datagram, uint32_t address,
                                       uint16_t to) {
              if (*sockets) (*sockets)->sendDatagram(datagram, address, to);
          })),
      sockets_(std::make_unique<HelperSockets>(*bridge_, *loop_, output)) {
    *datagramSockets_ = sockets_.get();
    loopThread_ = std::thread([loop = loop_.get()] {
        nameCurrentThread(kLoopThreadName);
        loop->run();
    });
}

HelperApp::~HelperApp() { shutdown(); }

void HelperApp::askForRealtimeLoop(RealtimeAccess& access) {
    realtime_ = std::make_unique<LoopRealtime>(*loop_, access);
}

std::optional<HelperApp::LoopResult> HelperApp::runOnLoop(std::function<LoopResult()> work) {
    // Whichever comes first wins: the work delivering its lines, or the caller giving up on it.
    struct Handover {
        std::mutex lock;
        bool abandoned = false;
        std::optional<LoopResult> result;
    };
    auto handover = std::make_shared<Handover>();
    JsonOutput* output = &output_;
    loop_->runSync(
        [handover, output, work = std::move(work)] {
            LoopResult result = work();
            std::lock_guard guard(handover->lock);
            if (handover->abandoned) return;
            for (auto& line : result.lines) output->enqueue(std::move(line));
            handover->result = std::move(result);
        },
        commandBound_);
    std::lock_guard guard(handover->lock);
    if (!handover->result) handover->abandoned = true;
    return std::move(handover->result);
}

bool HelperApp::start() {
    // The work owns what it touches: the bridge and the sockets outlive it even when abandoned.
    LoopRealtime* realtime = realtime_.get();
    auto result =
        runOnLoop([bridge = bridge_.get(), sockets = sockets_.get(), port = &port_, realtime] {
            LoopResult result;
            try {
                const HelperConfig& config = bridge->config();
                {
                    // The MIDI server's client threads start from this one: they are "norv-jack".
                    ThreadNameDuring serverThreads(kServerThreadName, kLoopThreadName);
                    bridge->openEndpoints();
                }
                // Sockets, timers and stride then run ahead of ordinary threads on a busy machine.
                if (realtime) realtime->raise(port->realtimePriority());
                if (config.privateSocketDirectory && config.nativeRepeatPort != 0)
                    throw HelperError("Private MIDI does not enable the native Repeat lab", 22);
                if (config.privateSocketDirectory || config.udpPort > 0) sockets->start();
                bridge->startRepeatExchange();
                result.lines.push_back(bridge->readyEvent());
            } catch (const std::exception& error) {
                result.ok = false;
                result.lines.push_back({{"type", "error"}, {"message", error.what()}});
            }
            return result;
        });
    if (!result) {
        output_.enqueue({{"type", "error"}, {"message", "start-up did not finish in time"}});
        return false;
    }
    return result->ok;
}

bool HelperApp::handleLine(std::string_view line, bool overlong) {
    HelperCommand command = HelperCommand::parse(line);
    if (overlong) command = HelperCommand{HelperCommand::Kind::Unsupported, false, {}};
    switch (command.kind) {
        case HelperCommand::Kind::Empty:
            return true;
        case HelperCommand::Kind::Quit:
            return false;
        case HelperCommand::Kind::Ping:
            runOnLoop([bridge = bridge_.get()] { return LoopResult{true, {bridge->pongEvent()}}; });
            return true;
        case HelperCommand::Kind::Monitor:
            bridge_->setMonitor(command.monitorEnabled);
            output_.enqueue({{"type", "monitor"}, {"enabled", command.monitorEnabled}});
            return true;
        case HelperCommand::Kind::Send:
            runOnLoop([bridge = bridge_.get(), bytes = std::move(command.bytes)] {
                LoopResult result;
                if (int status = bridge->send(bytes); status != 0)
                    result.lines.push_back({{"type", "error"},
                                            {"message", "MIDIReceived failed"},
                                            {"status", status}});
                return result;
            });
            return true;
        case HelperCommand::Kind::InvalidBytes:
            output_.enqueue({{"type", "error"}, {"message", "invalid midi bytes"}});
            return true;
        case HelperCommand::Kind::Unsupported:
            output_.enqueue({{"type", "error"}, {"message", "unsupported command"}});
            return true;
    }
    return true;
}

void HelperApp::shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    const bool finished = loop_->runSync(
        [bridge = bridge_.get(), sockets = sockets_.get(), port = &port_] {
            sockets->shutdown();
            bridge->closeAllPeers();
            // Note-offs sent above reach the port before the client closes.
            port->close(kPortDrainBound);
        },
        commandBound_);
    loop_->stop();
    if (!finished) {
        // The loop is stuck in abandoned work (a MIDI server that does not answer): leave it the
        // objects it uses and let the process end around it.
        leftWorkRunning_ = true;
        loopThread_.detach();
        (void)sockets_.release();
        (void)bridge_.release();
        (void)realtime_.release();
        (void)loop_.release();
        return;
    }
    loopThread_.join();
    // The loop has stopped: what is left is destroyed on this thread, with nothing running.
    *datagramSockets_ = nullptr;
    sockets_.reset();
    bridge_.reset();
    realtime_.reset();
}

}  // namespace norv
