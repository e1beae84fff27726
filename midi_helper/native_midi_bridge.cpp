#include "midi_helper/native_midi_bridge.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "midi_helper/helper_error.h"
#include "midi_helper/json_output.h"
#include "midi_helper/midi_port.h"

namespace norv {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;

bool hasMagic(std::span<const uint8_t> bytes, const char (&magic)[5])
{
    return bytes.size() >= 4 && std::memcmp(bytes.data(), magic, 4) == 0;
}

void check(int status, const char* call)
{
    if (status != 0)
        throw HelperError("NorvMIDIHelper", status, std::string(call) + " failed with OSStatus " + std::to_string(status));
}

} // namespace

NativeMidiBridge::NativeMidiBridge(HelperConfig config, Scheduler& scheduler, MidiPort& port, JsonOutput& output)
    : config_(std::move(config))
    , scheduler_(scheduler)
    , port_(port)
    , output_(output)
{
}

NativeMidiBridge::~NativeMidiBridge()
{
    for (auto id : tapTimers_)
        scheduler_.cancel(id);
}

void NativeMidiBridge::openEndpoints()
{
    check(port_.openClient("Norv Bridge MIDI"), "MIDIClientCreate");
    check(port_.createSource(config_.sourceName), "MIDISourceCreate");
    if (int status = port_.setSourceUniqueID(config_.sourceUniqueID); status != 0)
        warnings_.push_back("MIDIObjectSetIntegerProperty(source) failed with OSStatus " + std::to_string(status));
    if (!trimmed(config_.destinationName).empty()) {
        check(port_.createDestination(config_.destinationName), "MIDIDestinationCreate");
        destinationAvailable_ = true;
        if (int status = port_.setDestinationUniqueID(config_.destinationUniqueID); status != 0)
            warnings_.push_back("MIDIObjectSetIntegerProperty(destination) failed with OSStatus " + std::to_string(status));
    }
}

int NativeMidiBridge::send(std::span<const uint8_t> bytes, std::optional<uint64_t> at)
{
    const uint64_t now = scheduler_.nowNs();
    uint64_t t = at ? std::max(*at, now) : now;
    MidiPeer* peer = currentPeer_.get();

    const bool threeBytes = bytes.size() == 3;
    const uint8_t status = bytes.empty() ? 0 : bytes[0];
    const bool noteMessage = threeBytes && (status & 0xE0) == 0x80 && bytes[1] < 128;
    const bool noteOn = noteMessage && (status & 0xF0) == 0x90 && bytes[2] != 0;
    const bool noteOff = noteMessage && !noteOn;
    const int key = noteMessage ? noteKey(status & 0x0F, bytes[1]) : 0;

    // A note-on never shares or precedes the stamp of the same key's last note-off, and a
    // note-off never precedes its note-on.
    if (peer && noteOn && peer->releaseBarriers[key] != 0)
        t = std::max(t, peer->releaseBarriers[key] + 1);
    if (peer && noteOff && peer->submittedOns[key] != 0)
        t = std::max(t, peer->submittedOns[key]);

    if (int result = port_.received(bytes, t); result != 0)
        return result;
    ++sentCount_;

    if (peer && status >= 0x80 && status <= 0xEF)
        peer->channels.set(status & 0x0F);
    if (noteOff) {
        if (peer) {
            peer->notes.reset(key);
            peer->submittedOns[key] = 0;
            peer->releaseBarriers[key] = t;
        } else {
            udpNotes_.reset(key);
        }
    } else if (noteOn) {
        if (peer) {
            peer->notes.set(key);
            peer->submittedOns[key] = t;
        } else {
            udpNotes_.set(key);
        }
    } else if (peer && threeBytes && (status & 0xF0) == 0xB0 && bytes[1] == 64) {
        peer->sustain.set(status & 0x0F, bytes[2] >= 64);
    }

    if (monitorEnabled_.load(std::memory_order_relaxed)) {
        nlohmann::json event = {{"type", "midi"},
                                {"bytes", std::vector<int>(bytes.begin(), bytes.end())},
                                {"timestamp", t},
                                {"timestamp_unix", scheduler_.wallSeconds()}};
        output_.enqueue(std::move(event));
    }
    return 0;
}

void NativeMidiBridge::handleFastMidiPacket(std::span<const uint8_t> p)
{
    if (p.size() == 16) {
        if (hasMagic(p, "NPM1"))
            sendFastNote(p[4], p[5], p[6], config_.midiChannel);
        return;
    }
    if (p.size() != 8)
        return;
    if (hasMagic(p, "NPMG") || hasMagic(p, "NPM9")) {
        // Stride settings: only meaningful from a peer; the repeat engine is not part of this build.
        return;
    }
    if (hasMagic(p, "NPM2")) {
        int channel = (p[7] >= 1 && p[7] <= 16) ? p[7] : config_.midiChannel;
        sendFastNote(p[4], p[5], p[6], channel);
    } else if (hasMagic(p, "NPM3")) {
        sendRawFastMidi(p[4], p[5], p[6], p[7]);
    }
}

void NativeMidiBridge::sendFastNote(int phase, int pitch, int velocity, int channel)
{
    if (phase < 0 || phase > 3 || channel < 1 || channel > 16)
        return;
    pitch = std::min(pitch, 127);
    velocity = std::clamp(velocity, 1, 127);
    const uint8_t status = uint8_t(0x90 + channel - 1);
    const std::array<uint8_t, 3> on{status, uint8_t(pitch), uint8_t(velocity)};
    const std::array<uint8_t, 3> off{status, uint8_t(pitch), 0};
    switch (phase) {
    case 0:
        send(on);
        scheduleTapRelease(status, uint8_t(pitch));
        break;
    case 1:
        ++fastNoteOnCount_;
        send(on);
        break;
    case 2:
        ++fastNoteOffCount_;
        send(off);
        break;
    case 3:
        // The new attack is stamped 1 ms after the release instead of holding the loop.
        ++fastRetriggerCount_;
        send(off);
        send(on, scheduler_.nowNs() + kRetriggerGapNs);
        break;
    }
}

void NativeMidiBridge::scheduleTapRelease(uint8_t status, uint8_t pitch)
{
    std::weak_ptr<MidiPeer> player = currentPeer_;
    const bool fromPeer = currentPeer_ != nullptr;
    auto slot = std::make_shared<Scheduler::TimerId>(0);
    Scheduler::TimerId id = scheduler_.schedule(kTapReleaseNs, [this, slot, player, fromPeer, status, pitch] {
        tapTimers_.erase(*slot);
        std::shared_ptr<MidiPeer> peer;
        if (fromPeer) {
            // A peer that has left had its notes released already; its release covers this tap.
            peer = player.lock();
            if (!peer || !peer->registered)
                return;
        }
        auto previous = std::exchange(currentPeer_, peer);
        const std::array<uint8_t, 3> off{status, pitch, 0};
        send(off);
        currentPeer_ = std::move(previous);
    });
    *slot = id;
    tapTimers_.insert(id);
}

void NativeMidiBridge::sendRawFastMidi(int length, int status, int data1, int data2)
{
    const int n = status & 0x0F;
    const int high = status & 0xF0;
    const int d1 = std::min(data1, 127);
    const int d2 = std::min(data2, 127);
    if (high == 0x80 || high == 0x90) {
        if (length == 3)
            sendFastNote(high == 0x80 || data2 == 0 ? 2 : 1, d1, std::max(d2, 1), n + 1);
        return;
    }
    if (high == 0xC0 || high == 0xD0) {
        if (length != 2)
            return;
        const std::array<uint8_t, 2> message{uint8_t(status), uint8_t(d1)};
        send(message);
        return;
    }
    if ((high == 0xA0 || high == 0xB0 || high == 0xE0) && length == 3) {
        const std::array<uint8_t, 3> message{uint8_t(status), uint8_t(d1), uint8_t(d2)};
        send(message);
    }
}

void NativeMidiBridge::handleDatagram(std::span<const uint8_t> datagram, const DatagramOrigin& origin)
{
    if (origin.privateSocket) {
        // The private datagram socket carries only clock datagrams, which this build does not follow.
        return;
    }
    const bool loopback = origin.address == kLoopback;
    if (config_.nativeRepeatPort > 0 && hasMagic(datagram, "NNRA") && loopback && origin.port == config_.nativeRepeatPort)
        return; // repeat acknowledgements: not followed in this build
    if ((hasMagic(datagram, "NPC2") || hasMagic(datagram, "NPC1")) && loopback)
        return; // clock datagrams: not followed in this build
    if (hasMagic(datagram, "NPJ1") || hasMagic(datagram, "NPJ2"))
        return; // Wi-Fi packets: not handled in this build
    handleFastMidiPacket(datagram);
}

std::shared_ptr<MidiPeer> NativeMidiBridge::addPeer()
{
    auto peer = std::make_shared<MidiPeer>(scheduler_.nowNs());
    peers_.push_back(peer);
    return peer;
}

void NativeMidiBridge::closePeer(const std::shared_ptr<MidiPeer>& peer)
{
    auto it = std::find(peers_.begin(), peers_.end(), peer);
    if (it == peers_.end())
        return;
    peers_.erase(it);
    peer->registered = false;
    releasePeerNotes(peer);
}

void NativeMidiBridge::closeAllPeers()
{
    auto peers = peers_;
    for (const auto& peer : peers)
        closePeer(peer);
}

StreamVerdict NativeMidiBridge::handleStreamPayload(const std::shared_ptr<MidiPeer>& peer, std::span<const uint8_t> payload)
{
    if (payload.size() != 8)
        return StreamVerdict::Close;
    if (hasMagic(payload, "NPM8")) {
        peer->heartbeatEnabled = true;
        peer->lastHeartbeat = scheduler_.nowNs();
        return StreamVerdict::Echo;
    }
    if (hasMagic(payload, "NPM2") || hasMagic(payload, "NPM3") || hasMagic(payload, "NPM9") || hasMagic(payload, "NPMG")) {
        auto previous = std::exchange(currentPeer_, peer);
        handleFastMidiPacket(payload);
        currentPeer_ = std::move(previous);
        return StreamVerdict::Continue;
    }
    return StreamVerdict::Close;
}

std::vector<std::shared_ptr<MidiPeer>> NativeMidiBridge::silentPeers(uint64_t nowNs) const
{
    std::vector<std::shared_ptr<MidiPeer>> silent;
    for (const auto& peer : peers_) {
        if (!peer->heartbeatEnabled)
            continue;
        const uint64_t limit = peer->strideStep > 0 ? 750'000'000ull : 2'000'000'000ull;
        if (nowNs > peer->lastHeartbeat && nowNs - peer->lastHeartbeat > limit)
            silent.push_back(peer);
    }
    return silent;
}

void NativeMidiBridge::releasePeerNotes(const std::shared_ptr<MidiPeer>& peer)
{
    auto previous = std::exchange(currentPeer_, peer);
    peer->strideStep = 0;

    auto heldByOthers = [&](auto member, int index) {
        for (const auto& other : peers_)
            if (other != peer && ((*other).*member).test(size_t(index)))
                return true;
        return false;
    };
    std::bitset<16> udpChannels;
    for (int key = 0; key < kNoteKeys; ++key)
        if (udpNotes_.test(size_t(key)))
            udpChannels.set(size_t(key / 128));

    struct Message {
        std::array<uint8_t, 3> bytes;
        size_t size;
    };
    std::vector<Message> list;
    for (int key = 0; key < kNoteKeys; ++key) {
        if (peer->notes.test(size_t(key)) && !udpNotes_.test(size_t(key)) && !heldByOthers(&MidiPeer::notes, key))
            list.push_back({{uint8_t(0x90 + key / 128), uint8_t(key % 128), 0}, 3});
    }
    for (int channel = 0; channel < 16; ++channel) {
        if (peer->sustain.test(size_t(channel)) && !heldByOthers(&MidiPeer::sustain, channel))
            list.push_back({{uint8_t(0xB0 + channel), 64, 0}, 3});
    }
    for (int channel = 0; channel < 16; ++channel) {
        if (!peer->channels.test(size_t(channel)) || heldByOthers(&MidiPeer::channels, channel)
            || udpChannels.test(size_t(channel)))
            continue;
        list.push_back({{uint8_t(0xE0 + channel), 0, 64}, 3}); // pitch bend centre
        list.push_back({{uint8_t(0xD0 + channel), 0, 0}, 2});  // channel pressure 0
        list.push_back({{uint8_t(0xB0 + channel), 74, 64}, 3});
        list.push_back({{uint8_t(0xB0 + channel), 1, 0}, 3}); // modulation 0
    }
    for (const auto& message : list)
        send(std::span<const uint8_t>(message.bytes.data(), message.size));

    peer->notes.reset();
    peer->sustain.reset();
    peer->channels.reset();
    currentPeer_ = std::move(previous);
}

nlohmann::json NativeMidiBridge::readyEvent() const
{
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

nlohmann::json NativeMidiBridge::pongEvent() const
{
    const double now = double(scheduler_.nowNs()) / 1e9;
    return {{"type", "pong"},
            {"sent_count", sentCount_},
            {"received_count", port_.receivedPackets()},
            {"fast_note_on_count", fastNoteOnCount_},
            {"fast_note_off_count", fastNoteOffCount_},
            {"fast_retrigger_count", fastRetriggerCount_},
            {"monitor_dropped_count", output_.dropped()},
            {"tcp_client_count", int64_t(peers_.size())},
            {"wifi_peer_count", 0},
            {"wifi_stale_events", 0},
            {"wifi_duplicate_packets", 0},
            {"wifi_recovered_events", 0},
            {"wifi_gap_events", 0},
            {"wifi_recovered_holds", 0},
            {"wifi_recovered_taps", 0},
            {"wifi_stale_attacks", 0},
            {"stride_attacks", 0},
            {"stride_midi_clock_ready", false},
            {"stride_midi_clock_samples", 0},
            {"stride_max_late_ms", 0.0},
            {"stride_clock_playing", false},
            {"stride_clock_age_ms", (now - clockSeen_) * 1000.0}};
}

} // namespace norv
