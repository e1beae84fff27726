#include "midi_helper/native_midi_bridge.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <random>

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


uint64_t readBE(std::span<const uint8_t> bytes, size_t offset, size_t count)
{
    uint64_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value = value << 8 | bytes[offset + i];
    return value;
}

// The note identity of a Wi-Fi record's payload: a key and whether it releases, or nothing.
std::optional<std::pair<int, bool>> wifiNote(std::span<const uint8_t> payload, int midiChannel)
{
    if (hasMagic(payload, "NPM2")) {
        const int phase = payload[4];
        if (phase < 1 || phase > 3)
            return std::nullopt;
        const int channel = (payload[7] >= 1 && payload[7] <= 16) ? payload[7] : midiChannel;
        return std::make_pair(noteKey(channel - 1, std::min<int>(payload[5], 127)), phase == 2);
    }
    if (hasMagic(payload, "NPM3")) {
        const int status = payload[5];
        if (payload[4] != 3 || status < 0x80 || status > 0x9F)
            return std::nullopt;
        const bool off = status < 0x90 || payload[7] == 0;
        return std::make_pair(noteKey(status & 0x0F, std::min<int>(payload[6], 127)), off);
    }
    return std::nullopt;
}

uint16_t readU16(std::span<const uint8_t> bytes, size_t offset)
{
    return uint16_t(bytes[offset] << 8 | bytes[offset + 1]);
}

void shiftVoice(StrideVoice& voice, double shift)
{
    for (auto* time : {&voice.next, &voice.nextBase, &voice.off})
        if (*time)
            **time += shift;
}

// A random UUID in its 36-character upper-case text form.
std::string randomUuid()
{
    std::random_device random;
    uint8_t bytes[16];
    for (auto& b : bytes)
        b = uint8_t(random());
    bytes[6] = uint8_t((bytes[6] & 0x0F) | 0x40);
    bytes[8] = uint8_t((bytes[8] & 0x3F) | 0x80);
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text.push_back('-');
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
    }
    return text;
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
    , wifiReleaseTimer_(scheduler)
    , repeatToken_(randomUuid())
    , repeatTimer_(scheduler)
    , clock_(double(scheduler.nowNs()) / 1e9)
    , strideTimer_(scheduler)
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
    // note-off never precedes its note-on: per peer, and among the senders without one.
    auto& submittedOns = peer ? peer->submittedOns : udpSubmittedOns_;
    auto& releaseBarriers = peer ? peer->releaseBarriers : udpReleaseBarriers_;
    if (noteOn && releaseBarriers[key] != 0)
        t = std::max(t, releaseBarriers[key] + 1);
    if (noteOff && submittedOns[key] != 0)
        t = std::max(t, submittedOns[key]);

    if (int result = port_.received(bytes, t); result != 0)
        return result;
    ++sentCount_;

    if (peer && status >= 0x80 && status <= 0xEF)
        peer->channels.set(status & 0x0F);
    if (noteOff) {
        (peer ? peer->notes : udpNotes_).reset(key);
        submittedOns[key] = 0;
        releaseBarriers[key] = t;
    } else if (noteOn) {
        (peer ? peer->notes : udpNotes_).set(key);
        submittedOns[key] = t;
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
    // A copy: the handlers below change the current peer while they send.
    const std::shared_ptr<MidiPeer> peer = currentPeer_;
    if (hasMagic(p, "NPMG") && peer) {
        configureArticulation(peer, readU16(p, 4), readU16(p, 6));
    } else if (hasMagic(p, "NPM9") && peer) {
        configureStride(peer, readU16(p, 4), readU16(p, 6));
    } else if (hasMagic(p, "NPM2")) {
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
    if (currentPeer_ && phase != 0) {
        std::shared_ptr<MidiPeer> peer = currentPeer_;
        const int key = noteKey(channel - 1, pitch);
        if (phase == 2)
            peer->held.erase(key);
        else
        {
            StrideVoice voice;
            voice.velocity = uint8_t(velocity);
            peer->held[key] = voice;
        }
        if (config_.nativeRepeatPort > 0 && peer == repeatOwner_) {
            // The repeat exchange plays the repeat; note-ons sound only while it acknowledges.
            if (phase == 2)
                strideOff(peer, key, std::nullopt);
            else if (repeatAckFresh())
                send(on);
            return;
        }
        if (peer->strideStep > 0) {
            if (phase == 2)
                strideOff(peer, key, std::nullopt);
            else
                startStrideVoice(peer, key, strideBeat());
            scheduleStride();
            return;
        }
    }
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
    const bool twoBytes = high == 0xC0 || high == 0xD0;
    const bool threeBytes = high == 0xA0 || high == 0xB0 || high == 0xE0;
    if (!(twoBytes && length == 2) && !(threeBytes && length == 3))
        return;
    if (std::shared_ptr<MidiPeer> peer = currentPeer_) {
        if (high == 0xB0 && (d1 == 120 || d1 == 123)) {
            // All Sound Off / All Notes Off also end the channel's repeating voices.
            for (auto it = peer->held.begin(); it != peer->held.end();) {
                const int key = it->first;
                if (key / 128 != n) {
                    ++it;
                    continue;
                }
                it = peer->held.erase(it);
                if (peer->notes.test(size_t(key))) {
                    const std::array<uint8_t, 3> off{uint8_t(0x90 + n), uint8_t(key % 128), 0};
                    send(off);
                }
            }
            scheduleStride();
        }
        if (peer->strideStep > 0 && high == 0xD0) {
            for (auto& [key, voice] : peer->held)
                if (key / 128 == n)
                    voice.velocity = uint8_t(std::max(d1, 1));
        } else if (peer->strideStep > 0 && high == 0xA0) {
            if (auto it = peer->held.find(noteKey(n, d1)); it != peer->held.end())
                it->second.velocity = uint8_t(std::max(d2, 1));
        }
    }
    if (twoBytes) {
        const std::array<uint8_t, 2> message{uint8_t(status), uint8_t(d1)};
        send(message);
    } else {
        const std::array<uint8_t, 3> message{uint8_t(status), uint8_t(d1), uint8_t(d2)};
        send(message);
    }
}

void NativeMidiBridge::handleDatagram(std::span<const uint8_t> datagram, const DatagramOrigin& origin)
{
    const bool loopback = origin.address == kLoopback;
    if (origin.privateSocket || loopback) {
        if (hasMagic(datagram, "NPC2")) {
            receiveMidiClock(datagram);
            return;
        }
        if (hasMagic(datagram, "NPC1")) {
            receiveEngineClock(datagram);
            return;
        }
    }
    if (origin.privateSocket)
        return;
    if (config_.nativeRepeatPort > 0 && hasMagic(datagram, "NNRA") && loopback && origin.port == config_.nativeRepeatPort) {
        receiveNativeRepeatAck(datagram);
        return;
    }
    if (hasMagic(datagram, "NPJ1") || hasMagic(datagram, "NPJ2")) {
        handleWifiPacket(datagram, origin.address, origin.port);
        return;
    }
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
    // Datagram senders have no session whose end releases their notes, and a tap's pending
    // release never fires once the loop stops: end what they left sounding.
    for (int key = 0; key < kNoteKeys; ++key) {
        if (udpNotes_.test(size_t(key))) {
            const std::array<uint8_t, 3> off{uint8_t(0x90 + key / 128), uint8_t(key % 128), 0};
            send(off);
        }
    }
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

void NativeMidiBridge::closeSilentSenders(uint64_t nowNs, const std::function<void(const std::shared_ptr<MidiPeer>&)>& closeStream)
{
    for (const auto& peer : silentPeers(nowNs))
        closeStream(peer);
    closeSilentWifiPeers(nowNs);
}

void NativeMidiBridge::releasePeerNotes(const std::shared_ptr<MidiPeer>& peer)
{
    if (peer == repeatOwner_ && peer) {
        repeatOwner_.reset();
        ++repeatGeneration_;
        tickNativeRepeat();
    }
    auto previous = std::exchange(currentPeer_, peer);
    peer->held.clear();
    peer->strideStep = 0;
    scheduleStride();

    std::vector<MidiPeer*> others;
    for (const auto& other : peers_)
        if (other != peer)
            others.push_back(other.get());
    for (const auto& [key, wifiPeer] : wifiPeers_)
        if (wifiPeer.midi != peer)
            others.push_back(wifiPeer.midi.get());
    auto heldByOthers = [&](auto member, int index) {
        for (const MidiPeer* other : others)
            if ((other->*member).test(size_t(index)))
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
        if (!peer->notes.test(size_t(key)))
            continue;
        if (!udpNotes_.test(size_t(key)) && !heldByOthers(&MidiPeer::notes, key)) {
            list.push_back({{uint8_t(0x90 + key / 128), uint8_t(key % 128), 0}, 3});
            continue;
        }
        // Still held elsewhere. This peer's last note-on may be stamped ahead (a retrigger, a
        // stride strike): whoever ends the key must not end it before that note-on.
        const uint64_t lastOn = peer->submittedOns[size_t(key)];
        if (udpNotes_.test(size_t(key)))
            udpSubmittedOns_[size_t(key)] = std::max(udpSubmittedOns_[size_t(key)], lastOn);
        for (MidiPeer* other : others)
            if (other->notes.test(size_t(key)))
                other->submittedOns[size_t(key)] = std::max(other->submittedOns[size_t(key)], lastOn);
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
    const double now = nowSeconds();
    return {{"type", "pong"},
            {"sent_count", sentCount_},
            {"received_count", port_.receivedPackets()},
            {"fast_note_on_count", fastNoteOnCount_},
            {"fast_note_off_count", fastNoteOffCount_},
            {"fast_retrigger_count", fastRetriggerCount_},
            {"monitor_dropped_count", output_.dropped()},
            {"tcp_client_count", int64_t(peers_.size())},
            {"wifi_peer_count", int64_t(wifiPeers_.size())},
            {"wifi_stale_events", wifi_.staleEvents},
            {"wifi_duplicate_packets", wifi_.duplicatePackets},
            {"wifi_recovered_events", wifi_.recoveredEvents},
            {"wifi_gap_events", wifi_.gapEvents},
            {"wifi_recovered_holds", wifi_.recoveredHolds},
            {"wifi_recovered_taps", wifi_.recoveredTaps},
            {"wifi_stale_attacks", wifi_.staleAttacks},
            {"stride_attacks", strideAttacks_},
            {"stride_midi_clock_ready", clock_.midiClockReady(now)},
            {"stride_midi_clock_samples", clock_.midiClockSamples},
            {"stride_max_late_ms", strideMaxLateMs_},
            {"stride_clock_playing", clock_.clockPlaying},
            {"stride_clock_age_ms", (now - clock_.clockSeen) * 1000.0}};
}

bool NativeMidiBridge::repeatAckFresh() const
{
    return repeatAckGeneration_ == repeatGeneration_ && nowSeconds() - repeatAckAt_ < 0.5;
}

void NativeMidiBridge::startRepeatExchange()
{
    if (config_.nativeRepeatPort > 0)
        repeatTimer_.start(0, 100'000'000, [this] { tickNativeRepeat(); });
}

void NativeMidiBridge::endSoundingNotes(const std::shared_ptr<MidiPeer>& peer)
{
    for (int key = 0; key < kNoteKeys; ++key) {
        if (!peer->notes.test(size_t(key)))
            continue;
        if (auto it = peer->held.find(key); it != peer->held.end())
            it->second.off.reset();
        const std::array<uint8_t, 3> off{uint8_t(0x90 + key / 128), uint8_t(key % 128), 0};
        sendAs(peer, off);
    }
}

void NativeMidiBridge::tickNativeRepeat()
{
    if (config_.nativeRepeatPort < 1 || !datagramSender_)
        return;
    const double now = nowSeconds();
    if (!repeatAckFresh() && repeatOwner_ && now - repeatAckAt_ >= 0.5) {
        // The exchange fell silent: nothing of the owner may keep sounding.
        std::shared_ptr<MidiPeer> owner = repeatOwner_;
        endSoundingNotes(owner);
        if (now - repeatRequestedAt_ > 0.5)
            owner->held.clear();
    }
    nlohmann::json request = {{"token", repeatToken_}, {"generation", repeatGeneration_}, {"source", config_.sourceName}};
    if (repeatOwner_)
        request["rate"] = repeatOwner_->strideStep;
    else
        request["rate"] = 0;
    const std::string body = JsonOutput::serialise(request);
    std::vector<uint8_t> datagram = {'N', 'N', 'R', 'Q'};
    datagram.insert(datagram.end(), body.begin(), body.end());
    datagramSender_(datagram, kLoopback, uint16_t(config_.nativeRepeatPort));
}

void NativeMidiBridge::receiveNativeRepeatAck(std::span<const uint8_t> datagram)
{
    if (datagram.size() < 4)
        return;
    const nlohmann::json ack = nlohmann::json::parse(datagram.begin() + 4, datagram.end(), nullptr, false);
    if (!ack.is_object())
        return;
    auto token = ack.find("token");
    auto generation = ack.find("generation");
    auto ready = ack.find("ready");
    if (token == ack.end() || !token->is_string() || token->get<std::string>() != repeatToken_)
        return;
    if (generation == ack.end() || !generation->is_number_integer() || generation->get<int64_t>() != repeatGeneration_)
        return;
    if (ready == ack.end() || !ready->is_boolean() || !ready->get<bool>())
        return;
    const int64_t previous = repeatAckGeneration_;
    repeatAckGeneration_ = repeatGeneration_;
    repeatAckAt_ = nowSeconds();
    if (previous != repeatGeneration_ && repeatOwner_) {
        // The first acknowledgement of this generation plays what the owner already holds.
        std::shared_ptr<MidiPeer> owner = repeatOwner_;
        for (const auto& [key, voice] : owner->held) {
            if (owner->notes.test(size_t(key)))
                continue;
            const std::array<uint8_t, 3> on{uint8_t(0x90 + key / 128), uint8_t(key % 128), voice.velocity};
            sendAs(owner, on);
        }
    }
}

int NativeMidiBridge::sendAs(std::shared_ptr<MidiPeer> peer, std::span<const uint8_t> bytes, std::optional<uint64_t> at)
{
    auto previous = std::exchange(currentPeer_, std::move(peer));
    int status = send(bytes, at);
    currentPeer_ = std::move(previous);
    return status;
}

std::vector<std::shared_ptr<MidiPeer>> NativeMidiBridge::stridePeers() const
{
    std::vector<std::shared_ptr<MidiPeer>> active;
    for (const auto& peer : peers_)
        if (peer->strideStep > 0)
            active.push_back(peer);
    for (const auto& [key, wifiPeer] : wifiPeers_)
        if (wifiPeer.midi->strideStep > 0)
            active.push_back(wifiPeer.midi);
    return active;
}

void NativeMidiBridge::receiveEngineClock(std::span<const uint8_t> datagram)
{
    const double now = nowSeconds();
    bool activeVoices = false;
    for (const auto& peer : stridePeers())
        for (const auto& [key, voice] : peer->held)
            activeVoices = activeVoices || voice.started;
    const StrideClock::Outcome outcome = clock_.receiveEngineClock(datagram, now, activeVoices);
    if (!outcome.accepted)
        return;
    if (outcome.engineRephase && config_.nativeRepeatPort == 0 && !clock_.midiClockReady(now)) {
        for (const auto& peer : stridePeers()) {
            const double beat = strideBeat();
            const double shift = beat - outcome.predicted;
            for (auto& [key, voice] : peer->held) {
                if ((peer->strideQuant != 0 && clock_.clockPlaying) || !voice.started)
                    startStrideVoice(peer, key, beat);
                else
                    shiftVoice(voice, shift);
            }
        }
    }
    scheduleStride();
}

void NativeMidiBridge::receiveMidiClock(std::span<const uint8_t> datagram)
{
    const StrideClock::Outcome outcome = clock_.receiveMidiClock(datagram, nowSeconds());
    if (!outcome.schedule)
        return;
    // While the Repeat lab is configured it plays the repeat: no strike of the helper's own.
    if (outcome.midiRephase && config_.nativeRepeatPort == 0) {
        for (const auto& peer : stridePeers()) {
            for (auto& [key, voice] : peer->held) {
                if (peer->strideQuant != 0 || outcome.runRestarted)
                    startStrideVoice(peer, key, strideBeat());
                else
                    shiftVoice(voice, strideBeat() - outcome.previousBeat);
            }
        }
    }
    scheduleStride();
}

void NativeMidiBridge::configureStride(const std::shared_ptr<MidiPeer>& peer, uint16_t step, uint16_t quant)
{
    const double beats = (step & 0x8000) ? double(step & 0x7FFF) / 24.0 : double(step & 0x7FFF) / 960.0;
    if (step != 0 && beats == 0.0)
        return;
    const bool validQuant = quant == 0 || quant == 16384 || (quant >= 15 && quant <= 15360) || (quant >= 0x8001 && quant <= 0x8008);
    if (!validQuant)
        return;
    if (beats == peer->strideStep && quant == peer->strideQuant)
        return;
    // A Wi-Fi sender does not take the repeat exchange away from another peer.
    if (config_.nativeRepeatPort > 0 && peer->wifi && repeatOwner_ && repeatOwner_ != peer)
        return;
    const double oldStep = peer->strideStep;
    const bool restart = quant != peer->strideQuant || (beats != oldStep && quant == 16384) || oldStep == 0.0;
    peer->strideStep = beats;
    peer->strideQuant = quant;
    if (config_.nativeRepeatPort > 0) {
        if (repeatOwner_ && repeatOwner_ != peer) {
            std::shared_ptr<MidiPeer> previous = repeatOwner_;
            endSoundingNotes(previous);
            previous->held.clear();
            previous->strideStep = 0;
        }
        repeatOwner_ = peer;
        ++repeatGeneration_;
        repeatRequestedAt_ = nowSeconds();
        if ((oldStep == 0.0) != (beats == 0.0))
            endSoundingNotes(peer);
        tickNativeRepeat();
        return;
    }

    const double beat = strideBeat();
    for (auto& [key, voice] : peer->held) {
        if (beats == 0.0) {
            voice.next.reset();
            voice.off.reset();
            voice.nextBase.reset();
            voice.nextOdd = false;
            if (!peer->notes.test(size_t(key))) {
                const std::array<uint8_t, 3> on{uint8_t(0x90 + key / 128), uint8_t(key % 128), voice.velocity};
                sendAs(peer, on);
            }
        } else if (restart) {
            startStrideVoice(peer, key, beat);
        } else if (voice.started) {
            // Keep the phase: the grid continues from the previous strike with the new step.
            const double reference = voice.nextBase ? *voice.nextBase : voice.next ? *voice.next : beat;
            const double previous = reference - oldStep;
            const double n = std::max(std::floor((beat - previous) / beats), 1.0);
            voice.nextBase = previous + beats * n;
            if (std::fmod(n, 2.0) == 0.0)
                voice.nextOdd = !voice.nextOdd;
            voice.next = *voice.nextBase + (voice.nextOdd ? beats * peer->strideSwing / 3.0 : 0.0);
        } else if (peer->notes.test(size_t(key))) {
            voice.off = beat + beats * peer->strideGate;
        }
    }
    scheduleStride();
}

void NativeMidiBridge::configureArticulation(const std::shared_ptr<MidiPeer>& peer, uint16_t gate, uint16_t swing)
{
    if (gate < 10 || gate > 100 || swing > 100)
        return;
    peer->strideGate = gate / 100.0;
    const double swingValue = swing / 100.0;
    if (swingValue == peer->strideSwing)
        return;
    peer->strideSwing = swingValue;
    for (auto& [key, voice] : peer->held)
        if (voice.nextBase)
            voice.next = *voice.nextBase + (voice.nextOdd ? peer->strideStep * swingValue / 3.0 : 0.0);
    scheduleStride();
}

void NativeMidiBridge::startStrideVoice(const std::shared_ptr<MidiPeer>& peer, int key, double beat)
{
    strideOff(peer, key, std::nullopt);
    auto it = peer->held.find(key);
    if (it == peer->held.end())
        return;
    StrideVoice& voice = it->second;
    voice.nextBase.reset();
    voice.nextOdd = false;
    double unit;
    if (peer->strideQuant == 16384)
        unit = peer->strideStep;
    else if (peer->strideQuant >= 0x8001 && peer->strideQuant <= 0x8008)
        unit = clock_.clockBar * (peer->strideQuant - 0x8000);
    else
        unit = peer->strideQuant / 960.0;
    if (unit <= 0.0 || (!clock_.clockPlaying && !clock_.midiClockPlaying)) {
        strideAttack(peer, key, beat);
        return;
    }
    // Wait for the grid: with a ready MIDI clock, the quantisation line at or before 20 ms ahead.
    voice.started = false;
    const double now = nowSeconds();
    if (clock_.midiClockReady(now))
        voice.next = unit * std::floor((beat + clock_.tempo(now) * 0.02 / 60.0) / unit);
    else
        voice.next.reset();
    voice.nextBase = voice.next;
}

void NativeMidiBridge::strideAttack(const std::shared_ptr<MidiPeer>& peer, int key, double beat)
{
    auto it = peer->held.find(key);
    if (it == peer->held.end() || peer->strideStep <= 0.0)
        return;
    const std::optional<uint64_t> stamp = clock_.stamp(beat, nowSeconds());
    strideOff(peer, key, stamp);
    StrideVoice& voice = it->second;
    const std::array<uint8_t, 3> on{uint8_t(0x90 + key / 128), uint8_t(key % 128), voice.velocity};
    sendAs(peer, on, stamp);
    ++strideAttacks_;
    const double step = peer->strideStep;
    voice.started = true;
    voice.off = beat + step * peer->strideGate;
    const double base = voice.nextBase ? *voice.nextBase : beat;
    voice.nextBase = base + step;
    voice.next = base + step + (!voice.nextOdd ? step * peer->strideSwing / 3.0 : 0.0);
    voice.nextOdd = !voice.nextOdd;
}

void NativeMidiBridge::strideOff(const std::shared_ptr<MidiPeer>& peer, int key, std::optional<uint64_t> at)
{
    if (auto it = peer->held.find(key); it != peer->held.end())
        it->second.off.reset();
    if (peer->notes.test(size_t(key))) {
        const std::array<uint8_t, 3> off{uint8_t(0x90 + key / 128), uint8_t(key % 128), 0};
        sendAs(peer, off, at);
    }
}

void NativeMidiBridge::skipSwingEdges(MidiPeer& peer, StrideVoice& voice, double before)
{
    if (!voice.nextBase || peer.strideStep <= 0.0)
        return;
    const double step = peer.strideStep;
    const double delay = step * peer.strideSwing / 3.0;
    double n = std::max(std::floor((before - *voice.nextBase) / step), 0.0);
    bool odd = false;
    double time = 0.0;
    for (int guard = 0; guard < 8; ++guard, n += 1.0) {
        odd = voice.nextOdd != (std::fmod(n, 2.0) == 1.0);
        time = *voice.nextBase + step * n + (odd ? delay : 0.0);
        if (time >= before)
            break;
    }
    voice.nextBase = *voice.nextBase + step * n;
    voice.nextOdd = odd;
    voice.next = time;
}

void NativeMidiBridge::scheduleStride()
{
    if (config_.nativeRepeatPort > 0)
        return;
    const double now = nowSeconds();
    const double beat = clock_.beat(now);
    std::optional<double> earliest;
    bool quantisedWaiting = false;
    double smallestStep = 0.0;
    for (const auto& peer : stridePeers()) {
        if (peer->strideQuant != 0 && !peer->held.empty())
            quantisedWaiting = true;
        smallestStep = smallestStep == 0.0 ? peer->strideStep : std::min(smallestStep, peer->strideStep);
        for (const auto& [key, voice] : peer->held)
            for (const auto& time : {voice.next, voice.off})
                if (time && (!earliest || *time < *earliest))
                    earliest = *time;
    }
    if (!earliest && !quantisedWaiting) {
        strideTimer_.cancel();
        return;
    }
    const double tempo = clock_.tempo(now);
    const double lookahead = clock_.midiClockReady(now) ? std::min(smallestStep * 0.4 * 60.0 / tempo, 0.02) : 0.0;
    const double target = earliest ? *earliest : beat + 1.0;
    const double delay = std::clamp((target - beat) * 60.0 / tempo - lookahead, 0.0002, 0.05);
    strideTimer_.start(uint64_t(delay * 1e9), [this] { tickStride(); });
}

void NativeMidiBridge::tickStride()
{
    const double now = nowSeconds();
    const double beat = clock_.beat(now);
    const bool ready = clock_.midiClockReady(now);
    const double tempo = clock_.tempo(now);
    if (clock_.hybridWasReady && !ready) {
        clock_.hybridWasReady = false;
        for (const auto& peer : stridePeers())
            for (auto& [key, voice] : peer->held)
                startStrideVoice(peer, key, beat);
    }
    const double oneMs = tempo * 0.001 / 60.0;
    for (const auto& peer : stridePeers()) {
        const double step = peer->strideStep;
        const double horizon = beat + (ready ? std::min(tempo * 0.02 / 60.0, step * 0.4) : 0.0);
        if (peer->strideQuant != 0
            && ((clock_.clockPlaying && !ready) || (!clock_.clockPlaying && clock_.midiClockPlaying && !ready)))
            continue;
        for (auto& [key, voice] : peer->held) {
            if (voice.off && *voice.off <= horizon + 1e-6) {
                const double offBeat = *voice.off;
                voice.off.reset();
                if (peer->notes.test(size_t(key))) {
                    const std::array<uint8_t, 3> off{uint8_t(0x90 + key / 128), uint8_t(key % 128), 0};
                    sendAs(peer, off, ready ? clock_.stamp(offBeat, now) : std::nullopt);
                }
            }
            if (!voice.next || *voice.next > horizon + 1e-6)
                continue;
            const double next = *voice.next;
            const double lateness = (beat - next) * 60000.0 / tempo;
            strideMaxLateMs_ = std::max(strideMaxLateMs_, lateness);
            if (!ready && peer->strideSwing == 0.0) {
                // Missed strikes are skipped: the latest grid point is struck.
                const double n = std::floor(std::max(beat - next, 0.0) / step);
                const double latest = next + step * n;
                voice.nextBase = latest;
                if (std::fmod(n, 2.0) == 1.0)
                    voice.nextOdd = !voice.nextOdd;
                strideAttack(peer, key, latest);
            } else if (!ready) {
                if (beat - next > oneMs)
                    skipSwingEdges(*peer, voice, beat);
                else
                    strideAttack(peer, key, next);
            } else if (lateness <= 1.0) {
                if (peer->strideSwing == 0.0)
                    voice.nextBase = next;
                strideAttack(peer, key, next);
            } else {
                voice.off.reset();
                if (peer->notes.test(size_t(key))) {
                    const std::array<uint8_t, 3> off{uint8_t(0x90 + key / 128), uint8_t(key % 128), 0};
                    sendAs(peer, off);
                }
                if (peer->strideSwing != 0.0) {
                    skipSwingEdges(*peer, voice, horizon);
                } else {
                    const double n = std::max(std::floor((horizon - next) / step), 1.0);
                    voice.next = next + step * n;
                    voice.nextBase = voice.next;
                    if (std::fmod(n, 2.0) == 1.0)
                        voice.nextOdd = !voice.nextOdd;
                }
            }
        }
    }
    scheduleStride();
}

const WifiMidiPeer* NativeMidiBridge::wifiPeer(uint32_t address, uint16_t port) const
{
    auto it = wifiPeers_.find(addressKey(address, port));
    return it == wifiPeers_.end() ? nullptr : &it->second;
}

void NativeMidiBridge::handleWifiPacket(std::span<const uint8_t> p, uint32_t address, uint16_t port)
{
    constexpr double kLate = 80000.0;        // µs after the predicted arrival
    constexpr double kTapRelease = 8000.0;   // µs for a tap whose release was not seen
    // Shape.
    if (p.size() < 280)
        return;
    const size_t records = readBE(p, 20, 2);
    const bool v2 = hasMagic(p, "NPJ2");
    size_t holdCount = 0;
    size_t header = 280;
    if (v2) {
        if (p.size() < 288)
            return;
        holdCount = readBE(p, 284, 2);
        if (holdCount > 128)
            return;
        header = 288 + 3 * holdCount;
    }
    if (records > 32 || p.size() != header + 20 * records)
        return;
    auto bitmapHolds = [&](int key) { return (p[24 + size_t(key) / 8] >> (key % 8)) & 1; };

    // Holds: each key once, set in the bitmap, with a velocity; the bitmap has no others.
    std::vector<std::pair<int, uint8_t>> holds;
    if (v2) {
        std::bitset<kNoteKeys> seen;
        for (size_t i = 0; i < holdCount; ++i) {
            const size_t at = 288 + 3 * i;
            const int key = int(readBE(p, at, 2));
            const uint8_t velocity = p[at + 2];
            if (key > 2047 || velocity == 0 || velocity >= 128 || seen.test(size_t(key)) || !bitmapHolds(key))
                return;
            seen.set(size_t(key));
            holds.emplace_back(key, velocity);
        }
        size_t bits = 0;
        for (size_t i = 24; i < 280; ++i)
            bits += size_t(std::popcount(p[i]));
        if (bits != holdCount)
            return;
    }

    const uint64_t token = readBE(p, 4, 4);
    const uint64_t sequence = readBE(p, 8, 4);
    const uint64_t sendTimeInteger = readBE(p, 12, 8);
    const double sendTime = double(sendTimeInteger);
    const double now = double(scheduler_.nowNs() / 1000);
    const uint64_t key = addressKey(address, port);

    // Peer: the known one under this token, or a fresh one opened by an empty packet.
    auto found = wifiPeers_.find(key);
    if (found == wifiPeers_.end() || found->second.token != token) {
        const size_t stateEnd = v2 ? 288 : 280;
        const bool empty = records == 0 && holdCount == 0
                           && std::all_of(p.begin() + 22, p.begin() + ptrdiff_t(stateEnd), [](uint8_t b) { return b == 0; });
        if (!empty || token == 0
            || std::find(retiredWifiTokens_.begin(), retiredWifiTokens_.end(), token) != retiredWifiTokens_.end())
            return;
        if (found != wifiPeers_.end())
            closeWifiPeer(key);
        if (wifiPeers_.size() >= kMaxWifiPeers)
            return;
        WifiMidiPeer fresh;
        fresh.midi = std::make_shared<MidiPeer>(scheduler_.nowNs());
        fresh.midi->wifi = true;
        fresh.token = token;
        fresh.offset = now - sendTime;
        fresh.lastSeen = now;
        found = wifiPeers_.emplace(key, std::move(fresh)).first;
    }
    WifiMidiPeer& peer = found->second;
    const std::shared_ptr<MidiPeer> midi = peer.midi;

    if (sequence <= peer.packetSequence) {
        ++wifi_.duplicatePackets;
        return;
    }
    // Records: ascending sequences, never later than the packet, fast MIDI payloads only.
    uint64_t previousSequence = 0;
    for (size_t r = 0; r < records; ++r) {
        const size_t at = header + 20 * r;
        const uint64_t eventSequence = readBE(p, at, 4);
        const uint64_t eventTime = readBE(p, at + 4, 8);
        if (eventSequence <= previousSequence || eventTime > sendTimeInteger)
            return;
        const auto payload = p.subspan(at + 12, 8);
        if (!hasMagic(payload, "NPM2") && !hasMagic(payload, "NPM3"))
            return;
        previousSequence = eventSequence;
    }

    // Clock: the offset follows the fastest path and may drift slowly.
    const double elapsed = now - peer.lastSeen;
    const double drift = elapsed < 0 ? 0.0 : std::min(elapsed * 0.0002, 1000.0);
    peer.packetSequence = sequence;
    peer.offset = std::min(peer.offset + drift, now - sendTime);
    const double lateness = std::max(now - (peer.offset + sendTime), 0.0);
    const bool inTime = lateness <= kLate;
    if (inTime)
        peer.lastSeen = now;

    // Acknowledge before any MIDI of the packet.
    if (datagramSender_) {
        std::vector<uint8_t> ackDatagram = {'N', 'P', 'A', '1'};
        ackDatagram.insert(ackDatagram.end(), p.begin() + 4, p.begin() + 20);
        const uint64_t helperTime = uint64_t(now);
        for (int i = 7; i >= 0; --i)
            ackDatagram.push_back(uint8_t(helperTime >> (8 * i)));
        datagramSender_(ackDatagram, address, port);
    }

    auto previousPeer = std::exchange(currentPeer_, midi);
    std::map<int, double> freshAttacks;
    bool releasesChanged = false;
    auto sendRecoveredRelease = [&](int releaseKey) {
        sendFastNote(2, releaseKey % 128, 1, releaseKey / 128 + 1);
    };

    if (inTime) {
        for (auto it = midi->held.begin(); it != midi->held.end();) {
            const int voiceKey = it->first;
            if (bitmapHolds(voiceKey)) {
                ++it;
                continue;
            }
            it = midi->held.erase(it);
            if (midi->strideStep > 0)
                strideOff(midi, voiceKey, std::nullopt);
        }
        if (v2) {
            if (readBE(p, 280, 2) != 0 && !peer.recoveredReleases.empty()) {
                auto pending = std::exchange(peer.recoveredReleases, {});
                for (const auto& [releaseKey, due] : pending)
                    sendRecoveredRelease(releaseKey);
                releasesChanged = true;
            }
            if (p[286] != 0 || p[287] != 0)
                configureArticulation(midi, p[287], p[286]);
            configureStride(midi, uint16_t(readBE(p, 280, 2)), uint16_t(readBE(p, 282, 2)));
        }
    }

    for (size_t r = 0; r < records; ++r) {
        const size_t at = header + 20 * r;
        const uint64_t eventSequence = readBE(p, at, 4);
        const double eventTime = double(readBE(p, at + 4, 8));
        const auto payload = p.subspan(at + 12, 8);
        if (eventSequence <= peer.eventSequence)
            continue;
        if (eventSequence > peer.eventSequence + 1)
            wifi_.gapEvents += int64_t(eventSequence - peer.eventSequence - 1);
        peer.eventSequence = eventSequence;
        const auto note = wifiNote(payload, config_.midiChannel);
        if (now - (peer.offset + eventTime) > kLate) {
            ++wifi_.staleEvents;
            if (note && !note->second)
                ++wifi_.staleAttacks;
            continue;
        }
        if (r + 1 < records)
            ++wifi_.recoveredEvents;
        if (midi->strideStep == 0 && note) {
            const auto [noteKeyValue, off] = *note;
            if (!off) {
                if (peer.recoveredReleases.erase(noteKeyValue)) {
                    sendRecoveredRelease(noteKeyValue);
                    releasesChanged = true;
                }
                if (!bitmapHolds(noteKeyValue))
                    freshAttacks[noteKeyValue] = eventTime;
            } else {
                auto attack = freshAttacks.find(noteKeyValue);
                if (attack != freshAttacks.end()) {
                    const double attackTime = attack->second;
                    freshAttacks.erase(attack);
                    if (attackTime < eventTime) {
                        // A tap whose both halves arrived together: keep its length.
                        midi->held.erase(noteKeyValue);
                        peer.recoveredReleases[noteKeyValue] = double(scheduler_.nowNs() / 1000) + std::min(eventTime - attackTime, kLate);
                        ++wifi_.recoveredTaps;
                        releasesChanged = true;
                        continue;
                    }
                }
                if (peer.recoveredReleases.erase(noteKeyValue))
                    releasesChanged = true;
            }
        }
        if (!peer.recoveredReleases.empty() && hasMagic(payload, "NPM3") && (payload[5] & 0xF0) == 0xB0
            && (payload[6] == 123 || payload[6] == 120)) {
            const int channel = payload[5] & 0x0F;
            for (auto it = peer.recoveredReleases.begin(); it != peer.recoveredReleases.end();) {
                if (it->first / 128 == channel) {
                    it = peer.recoveredReleases.erase(it);
                    releasesChanged = true;
                } else {
                    ++it;
                }
            }
        }
        handleFastMidiPacket(payload);
    }

    for (const auto& [attackKey, attackTime] : freshAttacks) {
        if (!midi->notes.test(size_t(attackKey)))
            continue;
        midi->held.erase(attackKey);
        peer.recoveredReleases[attackKey] = double(scheduler_.nowNs() / 1000) + kTapRelease;
        ++wifi_.recoveredTaps;
        releasesChanged = true;
    }

    if (v2 && inTime) {
        if (midi->strideStep > 0) {
            for (const auto& [holdKey, velocity] : holds) {
                auto voice = midi->held.find(holdKey);
                if (voice == midi->held.end() || voice->second.velocity == velocity)
                    continue;
                voice->second.velocity = velocity;
                if (config_.nativeRepeatPort > 0 && repeatAckFresh()) {
                    const std::array<uint8_t, 3> pressure{uint8_t(0xA0 + holdKey / 128), uint8_t(holdKey % 128), velocity};
                    send(pressure);
                }
            }
        }
        if (midi->held.size() < holds.size()) {
            for (const auto& [holdKey, velocity] : holds) {
                if (midi->held.count(holdKey))
                    continue;
                if (midi->strideStep > 0 && config_.nativeRepeatPort < 1) {
                    StrideVoice voice;
                    voice.velocity = velocity;
                    midi->held[holdKey] = voice;
                    startStrideVoice(midi, holdKey, strideBeat());
                } else if (midi->strideStep > 0) {
                    sendFastNote(1, holdKey % 128, velocity, holdKey / 128 + 1);
                } else if (!midi->notes.test(size_t(holdKey)) && !peer.recoveredReleases.count(holdKey)) {
                    sendFastNote(1, holdKey % 128, velocity, holdKey / 128 + 1);
                    ++wifi_.recoveredHolds;
                }
            }
        }
    }

    scheduleStride();
    if (releasesChanged)
        scheduleWifiReleases();

    // Reconcile with the sender's picture: nothing sounds that it no longer holds.
    for (int noteKeyValue = 0; noteKeyValue < kNoteKeys; ++noteKeyValue) {
        if (midi->notes.test(size_t(noteKeyValue)) && !bitmapHolds(noteKeyValue) && !peer.recoveredReleases.count(noteKeyValue)) {
            const std::array<uint8_t, 3> off{uint8_t(0x90 + noteKeyValue / 128), uint8_t(noteKeyValue % 128), 0};
            send(off);
        }
    }
    const unsigned sustainMask = unsigned(readBE(p, 22, 2));
    for (int channel = 0; channel < 16; ++channel) {
        if (midi->sustain.test(size_t(channel)) && !(sustainMask & (1u << channel))) {
            const std::array<uint8_t, 3> pedal{uint8_t(0xB0 + channel), 64, 0};
            send(pedal);
        }
    }
    currentPeer_ = std::move(previousPeer);
}

void NativeMidiBridge::scheduleWifiReleases()
{
    std::optional<double> due;
    for (const auto& [key, peer] : wifiPeers_)
        for (const auto& [releaseKey, time] : peer.recoveredReleases)
            if (!due || time < *due)
                due = time;
    if (!due) {
        wifiReleaseTimer_.cancel();
        return;
    }
    const double now = double(scheduler_.nowNs() / 1000);
    const double waitUs = std::max(*due - now, 0.0);
    wifiReleaseTimer_.start(uint64_t(waitUs * 1000.0), [this] { fireWifiReleases(); });
}

void NativeMidiBridge::fireWifiReleases()
{
    const double now = double(scheduler_.nowNs() / 1000);
    for (auto& [addressKeyValue, peer] : wifiPeers_) {
        const std::shared_ptr<MidiPeer> midi = peer.midi;
        auto previous = std::exchange(currentPeer_, midi);
        for (auto it = peer.recoveredReleases.begin(); it != peer.recoveredReleases.end();) {
            if (it->second > now) {
                ++it;
                continue;
            }
            const int key = it->first;
            it = peer.recoveredReleases.erase(it);
            midi->held.erase(key);
            const bool owner = config_.nativeRepeatPort > 0 && repeatOwner_ == midi;
            const std::array<uint8_t, 3> off{uint8_t(0x90 + key / 128), uint8_t(key % 128), 0};
            if (!owner && midi->strideStep == 0) {
                ++fastNoteOffCount_;
                send(off);
            } else {
                if (midi->notes.test(size_t(key)))
                    send(off);
                if (!owner)
                    scheduleStride();
            }
        }
        currentPeer_ = std::move(previous);
    }
    scheduleWifiReleases();
}

void NativeMidiBridge::closeWifiPeer(uint64_t key)
{
    auto it = wifiPeers_.find(key);
    if (it == wifiPeers_.end())
        return;
    WifiMidiPeer peer = std::move(it->second);
    wifiPeers_.erase(it);
    if (retiredWifiTokens_.size() >= 128)
        retiredWifiTokens_.pop_front();
    retiredWifiTokens_.push_back(peer.token);
    peer.midi->registered = false;
    releasePeerNotes(peer.midi);
    if (!peer.recoveredReleases.empty())
        scheduleWifiReleases();
}

void NativeMidiBridge::closeAllWifiPeers()
{
    std::vector<uint64_t> keys;
    for (const auto& [key, peer] : wifiPeers_)
        keys.push_back(key);
    for (uint64_t key : keys)
        closeWifiPeer(key);
}

void NativeMidiBridge::closeSilentWifiPeers(uint64_t nowNs)
{
    const double now = double(nowNs / 1000);
    std::vector<uint64_t> silent;
    for (const auto& [key, peer] : wifiPeers_) {
        const double limit = peer.midi->strideStep > 0 ? 750000.0 : 2000000.0;
        if (now - peer.lastSeen > limit)
            silent.push_back(key);
    }
    for (uint64_t key : silent)
        closeWifiPeer(key);
}

} // namespace norv
