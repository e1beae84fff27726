#include "midi_helper/helper_app.h"

#include "midi_helper/helper_command.h"
#include "midi_helper/helper_error.h"
#include "midi_helper/helper_sockets.h"
#include "midi_helper/json_output.h"
#include "midi_helper/midi_port.h"
#include "midi_helper/native_midi_bridge.h"

namespace norv {

HelperApp::HelperApp(HelperConfig config, MidiPort& port, JsonOutput& output)
    : output_(output)
    , port_(port)
    , bridge_(std::make_unique<NativeMidiBridge>(std::move(config), loop_, port, output))
    , sockets_(std::make_unique<HelperSockets>(*bridge_, loop_, output))
{
    loopThread_ = std::thread([this] { loop_.run(); });
}

HelperApp::~HelperApp()
{
    shutdown();
}

bool HelperApp::start()
{
    std::string failure;
    bool ran = loop_.runSync([&] {
        try {
            const HelperConfig& config = bridge_->config();
            bridge_->openEndpoints();
            if (config.privateSocketDirectory && config.nativeRepeatPort != 0)
                throw HelperError("Private MIDI does not enable the native Repeat lab", 22);
            if (config.privateSocketDirectory || config.udpPort > 0)
                sockets_->start();
            bridge_->startRepeatExchange();
            output_.enqueue(bridge_->readyEvent());
        } catch (const std::exception& error) {
            failure = error.what();
        }
    }, kCommandBound);
    if (!ran)
        failure = "start-up did not finish in time";
    if (!failure.empty()) {
        output_.enqueue({{"type", "error"}, {"message", failure}});
        return false;
    }
    return true;
}

bool HelperApp::handleLine(std::string_view line, bool overlong)
{
    HelperCommand command = HelperCommand::parse(line);
    if (overlong)
        command = HelperCommand{HelperCommand::Kind::Unsupported, false, {}};
    switch (command.kind) {
    case HelperCommand::Kind::Empty:
        return true;
    case HelperCommand::Kind::Quit:
        return false;
    case HelperCommand::Kind::Ping:
        loop_.runSync([this] { output_.enqueue(bridge_->pongEvent()); }, kCommandBound);
        return true;
    case HelperCommand::Kind::Monitor:
        bridge_->setMonitor(command.monitorEnabled);
        output_.enqueue({{"type", "monitor"}, {"enabled", command.monitorEnabled}});
        return true;
    case HelperCommand::Kind::Send:
        loop_.runSync([this, &command] {
            if (int status = bridge_->send(command.bytes); status != 0)
                output_.enqueue({{"type", "error"}, {"message", "MIDIReceived failed"}, {"status", status}});
        }, kCommandBound);
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

void HelperApp::shutdown()
{
    if (shutDown_)
        return;
    shutDown_ = true;
    loop_.runSync([this] {
        sockets_->shutdown();
        bridge_->closeAllPeers();
        // Note-offs sent above reach the port before the client closes.
        port_.close(kPortDrainBound);
    }, kCommandBound);
    loop_.stop();
    loopThread_.join();
    // The loop has stopped: what is left is destroyed on this thread, with nothing running.
    sockets_.reset();
    bridge_.reset();
}

} // namespace norv
