#include "midi_helper/native_midi_bridge.h"

#include "midi_helper/helper_error.h"
#include "midi_helper/json_output.h"
#include "midi_helper/midi_port.h"
#include "midi_helper/wire_names.h"

namespace norv {
namespace {

void check(int status, const char* call) {
    if (status != 0)
        throw HelperError("NorvMIDIHelper", status,
                          std::string(call) + " failed with OSStatus " + std::to_string(status));
}

}  // namespace

NativeMidiBridge::NativeMidiBridge(HelperConfig config, Scheduler& scheduler, MidiPort& port,
                                   JsonOutput& output, DatagramSender sender)
    : config_(std::move(config)),
      scheduler_(scheduler),
      port_(port),
      output_(output),
      ledger_(scheduler, port, output),
      repeat_({config_, scheduler, ledger_}, sender),
      stride_(scheduler, ledger_, repeat_),
      fast_({config_, scheduler, ledger_}, stride_, repeat_),
      wifi_({config_, scheduler, ledger_}, fast_, stride_, repeat_, std::move(sender),
            [this](const std::shared_ptr<MidiPeer>& peer) { releaseSender(peer); }) {}

void NativeMidiBridge::openEndpoints() {
    check(port_.openClient("Norv Bridge MIDI"), "MIDIClientCreate");
    check(port_.createSource(config_.sourceName), "MIDISourceCreate");
    if (int status = port_.setSourceUniqueID(config_.sourceUniqueID); status != 0)
        warnings_.push_back("MIDIObjectSetIntegerProperty(source) failed with OSStatus " +
                            std::to_string(status));
    if (!trimmed(config_.destinationName).empty()) {
        check(port_.createDestination(config_.destinationName), "MIDIDestinationCreate");
        destinationAvailable_ = true;
        if (int status = port_.setDestinationUniqueID(config_.destinationUniqueID); status != 0)
            warnings_.push_back("MIDIObjectSetIntegerProperty(destination) failed with OSStatus " +
                                std::to_string(status));
    }
    if (std::string warning = port_.serverWarning(); !warning.empty())
        warnings_.push_back(std::move(warning));
}

void NativeMidiBridge::handleDatagram(std::span<const uint8_t> datagram,
                                      const DatagramOrigin& origin) {
    const bool loopback = origin.address == RepeatExchange::kLoopback;
    if (origin.privateSocket || loopback) {
        if (wire::hasMagic(datagram, wire::kMidiClock)) {
            stride_.receiveMidiClock(datagram);
            return;
        }
        if (wire::hasMagic(datagram, wire::kEngineClock)) {
            stride_.receiveEngineClock(datagram);
            return;
        }
    }
    if (origin.privateSocket) return;
    if (repeat_.enabled() && wire::hasMagic(datagram, wire::kRepeatAck) && loopback &&
        origin.port == config_.nativeRepeatPort) {
        repeat_.receiveAck(datagram);
        return;
    }
    if (wire::hasMagic(datagram, wire::kWifiV1) || wire::hasMagic(datagram, wire::kWifiV2)) {
        wifi_.handlePacket(datagram, origin.address, origin.port);
        return;
    }
    fast_.handlePacket(datagram);
}

StreamVerdict NativeMidiBridge::handleStreamPayload(const std::shared_ptr<MidiPeer>& peer,
                                                    std::span<const uint8_t> payload) {
    if (payload.size() != 8) return StreamVerdict::Close;
    peer->lastFrame = scheduler_.nowNs();
    if (wire::hasMagic(payload, wire::kHeartbeat)) {
        peer->heartbeatEnabled = true;
        peer->lastHeartbeat = scheduler_.nowNs();
        return StreamVerdict::Echo;
    }
    if (wire::hasMagic(payload, wire::kFastNote) || wire::hasMagic(payload, wire::kFastRaw) ||
        wire::hasMagic(payload, wire::kStrideStep) ||
        wire::hasMagic(payload, wire::kStrideArticulation)) {
        NoteLedger::Acting acting(ledger_, peer);
        fast_.handlePacket(payload);
        return StreamVerdict::Continue;
    }
    return StreamVerdict::Close;
}

void NativeMidiBridge::closePeer(const std::shared_ptr<MidiPeer>& peer) {
    if (!ledger_.removeSender(peer)) return;
    releaseSender(peer);
}

void NativeMidiBridge::releaseSender(const std::shared_ptr<MidiPeer>& peer) {
    repeat_.ownerLeaving(peer);
    stride_.dropVoices(*peer);
    ledger_.release(peer);
}

void NativeMidiBridge::closeAllPeers() {
    std::vector<std::shared_ptr<MidiPeer>> streams;
    for (const auto& peer : ledger_.senders())
        if (!peer->wifi) streams.push_back(peer);
    for (const auto& peer : streams) closePeer(peer);
    // Datagram senders have no session whose end releases their notes, and a tap's pending
    // release never fires once the loop stops: end what they left sounding.
    ledger_.endDatagramNotes();
}

std::vector<std::shared_ptr<MidiPeer>> NativeMidiBridge::silentPeers(uint64_t nowNs) const {
    std::vector<std::shared_ptr<MidiPeer>> silent;
    for (const auto& peer : ledger_.senders()) {
        if (peer->wifi || !peer->heartbeatEnabled) continue;
        const uint64_t limit = peer->strideStep > 0 ? 750'000'000ull : 2'000'000'000ull;
        if (nowNs > peer->lastHeartbeat && nowNs - peer->lastHeartbeat > limit)
            silent.push_back(peer);
    }
    return silent;
}

std::shared_ptr<MidiPeer> NativeMidiBridge::idlePeer(
    std::span<const std::shared_ptr<MidiPeer>> candidates) const {
    const uint64_t now = scheduler_.nowNs();
    std::shared_ptr<MidiPeer> chosen;
    bool chosenSounding = false;
    for (const auto& peer : candidates) {
        const bool sounding = peer->notes.any() || !peer->held.empty();
        const uint64_t bound = sounding ? kSilentHolderNs : kIdlePeerNs;
        if (now < peer->lastFrame || now - peer->lastFrame <= bound) continue;
        // A peer with nothing sounding goes before one whose notes would end.
        const bool better = !chosen || (chosenSounding && !sounding) ||
                            (chosenSounding == sounding && peer->lastFrame < chosen->lastFrame);
        if (better) {
            chosen = peer;
            chosenSounding = sounding;
        }
    }
    return chosen;
}

void NativeMidiBridge::closeSilentSenders(
    uint64_t nowNs, const std::function<void(const std::shared_ptr<MidiPeer>&)>& closeStream) {
    for (const auto& peer : silentPeers(nowNs)) closeStream(peer);
    wifi_.closeSilent(nowNs);
}

nlohmann::json NativeMidiBridge::readyEvent() const {
    const bool privateMode = config_.privateSocketDirectory.has_value();
    const int port = privateMode ? 0 : config_.udpPort;
    return {{"type", "ready"},
            {"source", config_.sourceName},
            {"source_uid", config_.sourceUniqueID},
            {"destination", config_.destinationName},
            {"destination_uid", config_.destinationUniqueID},
            {"destination_available", destinationAvailable_},
            {"udp_host", config_.udpHost},
            {"udp_port", port},
            {"tcp_port", port},
            {"tcp_version", 1},
            {"private_transport", privateMode ? 1 : 0},
            {"wifi_version", privateMode ? 0 : 2},
            {"stride_version", 5},
            {"native_repeat_lab", config_.nativeRepeatPort > 0},
            {"midi_channel", config_.midiChannel},
            {"timestamp", "mach_absolute_time"},
            {"warnings", warnings_}};
}

nlohmann::json NativeMidiBridge::pongEvent() const {
    const double now = double(scheduler_.nowNs()) / 1e9;
    const StrideClock& clock = stride_.clock();
    const WifiPeers::Counters& wifi = wifi_.counters();
    return {{"type", "pong"},
            {"sent_count", ledger_.sentCount()},
            {"received_count", port_.receivedPackets()},
            {"fast_note_on_count", fast_.noteOnCount()},
            {"fast_note_off_count", fast_.noteOffCount()},
            {"fast_retrigger_count", fast_.retriggerCount()},
            {"monitor_dropped_count", output_.dropped()},
            {"tcp_client_count", int64_t(ledger_.streamCount())},
            {"wifi_peer_count", int64_t(wifi_.count())},
            {"wifi_stale_events", wifi.staleEvents},
            {"wifi_duplicate_packets", wifi.duplicatePackets},
            {"wifi_recovered_events", wifi.recoveredEvents},
            {"wifi_gap_events", wifi.gapEvents},
            {"wifi_recovered_holds", wifi.recoveredHolds},
            {"wifi_recovered_taps", wifi.recoveredTaps},
            {"wifi_stale_attacks", wifi.staleAttacks},
            {"stride_attacks", stride_.attacks()},
            {"stride_midi_clock_ready", clock.midiClockReady(now)},
            {"stride_midi_clock_samples", clock.midiClockSamples},
            {"stride_max_late_ms", stride_.maxLateMs()},
            {"stride_clock_playing", clock.clockPlaying},
            {"stride_clock_age_ms", (now - clock.clockSeen) * 1000.0}};
}

}  // namespace norv
