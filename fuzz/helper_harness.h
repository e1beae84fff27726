#pragma once

// Drives one NativeMidiBridge over a discarding MIDI port and virtual time from a fuzzer's input:
// a mode byte, then operations of one byte each followed by their operands. Structured packets
// get their magic from the operation and, where the helper checks an exact size or a token, the
// harness supplies it so the fuzzer reaches the code past those checks.

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "midi_helper/json_output.h"
#include "midi_helper/manual_scheduler.h"
#include "midi_helper/midi_port.h"
#include "midi_helper/native_midi_bridge.h"
#include "midi_helper/wire_names.h"

namespace norv::fuzz {

// Endpoints that take every message and keep none: what is sent never feeds back into the bridge,
// and recording it would cost an allocation per message.
class DiscardingMidiPort : public MidiPort {
public:
    int openClient(const std::string&) override { return 0; }
    int createSource(const std::string&) override { return 0; }
    int createDestination(const std::string&) override { return 0; }
    int setSourceUniqueID(int32_t) override { return 0; }
    int setDestinationUniqueID(int32_t) override { return 0; }
    int send(std::span<const uint8_t>, uint64_t) override { return 0; }
    int64_t receivedPackets() const override { return 0; }
    void close(std::chrono::milliseconds) override {}
};

enum class HelperOp {
    FastMidi,
    Wifi,
    EngineClock,
    MidiClock,
    RepeatAck,
    RawDatagram,
    Advance,
    StreamPayload,
    ClosePeer,
    Watchdog,
};

class HelperHarness {
public:
    explicit HelperHarness(std::uint8_t mode)
    {
        HelperConfig config;
        config.nativeRepeatPort = (mode & 1) ? 5000 : 0;
        config.midiChannel = 1 + (mode >> 1) % 16;
        DatagramSender sender;
        if (mode & 1)
            sender = [this](std::span<const std::uint8_t>, std::uint32_t, std::uint16_t) { ++sentDatagrams_; };
        bridge_.emplace(config, clock_, port_, output_, std::move(sender));
        bridge_->openEndpoints();
        // One run in four monitors: each message it sends then also builds a JSON event, which
        // costs more than sending it.
        bridge_->setMonitor((mode & 0xC0) == 0xC0);
        if (mode & 1)
            bridge_->startRepeatExchange();
    }

    ~HelperHarness()
    {
        bridge_->closeAllPeers();
        bridge_->closeAllWifiPeers();
        // Long enough for a tap release still pending to fire after its sender left.
        clock_.advance(25'000'000);
        bridge_.reset();
    }

    void run(FuzzInput& input, std::span<const HelperOp> ops)
    {
        while (!input.empty()) {
            step(input, ops[input.byte() % ops.size()]);
            // Timers may not multiply without bound.
            if (clock_.pendingTimers() > 10000) __builtin_trap();
        }
    }

private:
    static std::vector<std::uint8_t> withMagic(const char* magic, std::span<const std::uint8_t> rest)
    {
        std::vector<std::uint8_t> bytes(magic, magic + 4);
        bytes.insert(bytes.end(), rest.begin(), rest.end());
        return bytes;
    }

    DatagramOrigin network(std::uint8_t selector) const
    {
        // A handful of senders, enough to pass the Wi-Fi peer limit; one of them is loopback.
        const std::uint32_t address = selector % 12 == 11 ? 0x7F000001 : 0x0A000002 + selector % 12;
        return {false, address, std::uint16_t(5000 + (selector >> 4) % 3)};
    }

    void step(FuzzInput& input, HelperOp op)
    {
        switch (op) {
        case HelperOp::FastMidi: {
            static constexpr std::array<const char*, 5> magics{wire::kFastNote16, wire::kFastNote, wire::kFastRaw,
                                                                  wire::kStrideStep, wire::kStrideArticulation};
            const std::uint8_t which = input.byte();
            const char* magic = magics[which % magics.size()];
            const auto rest = input.take(magic == magics[0] ? 12 : 4);
            bridge_->handleDatagram(withMagic(magic, rest), network(input.byte()));
            break;
        }
        case HelperOp::Wifi: {
            const std::uint8_t selector = input.byte();
            const bool v2 = selector & 1;
            auto packet = withMagic(v2 ? wire::kWifiV2 : wire::kWifiV1, input.take(input.u16()));
            // Give the packet the exact size its record and hold counts call for, most of the time.
            if (!(selector & 2) && packet.size() >= 22) {
                const std::size_t records = (std::size_t(packet[20]) << 8 | packet[21]) % 33;
                packet[20] = 0;
                packet[21] = std::uint8_t(records);
                std::size_t header = 280;
                if (v2) {
                    packet.resize(std::max<std::size_t>(packet.size(), 288));
                    const std::size_t holds = (std::size_t(packet[284]) << 8 | packet[285]) % 129;
                    packet[284] = 0;
                    packet[285] = std::uint8_t(holds);
                    header = 288 + 3 * holds;
                }
                packet.resize(header + 20 * records);
            }
            bridge_->handleDatagram(packet, network(input.byte()));
            break;
        }
        case HelperOp::EngineClock:
        case HelperOp::MidiClock: {
            const std::uint8_t selector = input.byte();
            const auto datagram = withMagic(op == HelperOp::EngineClock ? wire::kEngineClock : wire::kMidiClock, input.take(input.byte()));
            DatagramOrigin origin{true, 0, 0};
            if (selector & 1)
                origin = {false, 0x7F000001, 40000};
            bridge_->handleDatagram(datagram, origin);
            break;
        }
        case HelperOp::RepeatAck: {
            const std::uint8_t selector = input.byte();
            std::string body;
            if (selector & 1) {
                const auto raw = input.take(input.byte());
                body.assign(raw.begin(), raw.end());
            } else {
                // Written out rather than built with nlohmann: the helper's parse is what is fuzzed.
                body = "{\"generation\":" + std::to_string(bridge_->nativeRepeatGeneration() - (selector >> 1) % 2) +
                       ",\"ready\":" + ((selector & 4) == 0 ? "true" : "false") + ",\"token\":\"" +
                       bridge_->nativeRepeatToken() + "\"}";
            }
            const auto datagram =
                withMagic(wire::kRepeatAck, {reinterpret_cast<const std::uint8_t*>(body.data()), body.size()});
            bridge_->handleDatagram(datagram, {false, 0x7F000001, std::uint16_t(selector & 8 ? 5001 : 5000)});
            break;
        }
        case HelperOp::RawDatagram: {
            const std::uint8_t selector = input.byte();
            const auto datagram = input.take(input.u16());
            DatagramOrigin origin = network(selector);
            origin.privateSocket = selector & 0x80;
            bridge_->handleDatagram(datagram, origin);
            break;
        }
        case HelperOp::Advance: {
            // Up to 8191 steps of 2 µs to 128 µs as the top 3 bits choose, or of 1 ms when they
            // are all set: fine steps for the millisecond timers, and in one operation of eight a
            // span of up to 8 s for the silence limits. Every timer due on the way runs, so the
            // virtual time an input passes through is most of what it costs.
            const std::uint16_t code = input.u16();
            const unsigned exponent = code >> 13;
            const std::uint64_t stepUs = exponent == 7 ? 1000 : std::uint64_t(2) << exponent;
            clock_.advance((code & 0x1FFF) * stepUs * 1000);
            break;
        }
        case HelperOp::StreamPayload: {
            static constexpr std::array<const char*, 6> magics{wire::kFastNote,  wire::kFastRaw,
                                                                  wire::kHeartbeat, wire::kStrideStep,
                                                                  wire::kStrideArticulation, wire::kFastNote16};
            const std::uint8_t selector = input.byte();
            auto& peer = peerAt(selector);
            std::vector<std::uint8_t> payload;
            if (selector & 0x80) {
                const auto raw = input.take(input.byte() % 12);
                payload.assign(raw.begin(), raw.end());
            } else {
                payload = withMagic(magics[(selector >> 2) % magics.size()], input.take(4));
                payload.resize(8, 0);
            }
            if (bridge_->handleStreamPayload(peer, payload) == StreamVerdict::Close)
                disconnect(peer);
            break;
        }
        case HelperOp::ClosePeer:
            disconnect(peers_[input.byte() % peers_.size()]);
            break;
        case HelperOp::Watchdog:
            for (const auto& peer : bridge_->silentPeers(clock_.nowNs()))
                for (auto& ours : peers_)
                    if (ours == peer)
                        disconnect(ours);
            bridge_->closeSilentWifiPeers(clock_.nowNs());
            break;
        }
    }

    // A slot's stream peer connects when the input uses the slot and nobody is connected there.
    // Connecting allocates the peer's per-key stamps (32 KiB), so it waits until it is needed.
    std::shared_ptr<MidiPeer>& peerAt(std::uint8_t selector)
    {
        auto& peer = peers_[selector % peers_.size()];
        if (!peer)
            peer = bridge_->addPeer();
        return peer;
    }

    void disconnect(std::shared_ptr<MidiPeer>& peer)
    {
        if (!peer)
            return;
        bridge_->closePeer(peer);
        peer.reset();
    }

    ManualScheduler clock_;
    DiscardingMidiPort port_;
    // One output for every run: its writer thread would cost more than the run itself, and what
    // it is given never feeds back into the bridge. Its writer is held, so it is full after the
    // first monitored runs and drops what each run gives it: nothing is serialised on another
    // thread behind the run, and every event a run makes is freed in that run (an event freed
    // later makes libFuzzer suspect a leak and run a leak check).
    struct HeldOutput : JsonOutput {
        HeldOutput() : JsonOutput([](const std::string&, auto) { return true; }) { holdWriterForTesting(true); }
    };
    static inline HeldOutput output_;
    // In place rather than on the heap: the bridge holds the ledger's per-key stamps (32 KiB), and
    // a fresh heap block for them every run costs page faults under ASan's quarantine.
    std::optional<NativeMidiBridge> bridge_;
    std::array<std::shared_ptr<MidiPeer>, 3> peers_;
    int sentDatagrams_ = 0;
};

} // namespace norv::fuzz
