#include "midi_helper/repeat_exchange.h"

#include <bit>
#include <iterator>
#include <random>
#include <vector>

#include <sys/random.h>

#include <nlohmann/json.hpp>

#include "midi_helper/json_output.h"
#include "midi_helper/note_ledger.h"
#include "midi_helper/wire_names.h"

namespace norv {
namespace {

// A random UUID in its 36-character upper-case text form. The bytes come from getrandom(2): a
// std::random_device probes the CPU on every construction, which is slow under a hypervisor.
std::string randomUuid() {
    uint8_t bytes[16];
    if (::getrandom(bytes, sizeof bytes, 0) != ssize_t(sizeof bytes)) {
        std::random_device random;
        for (auto& b : bytes) b = uint8_t(random());
    }
    bytes[6] = uint8_t((bytes[6] & 0x0F) | 0x40);
    bytes[8] = uint8_t((bytes[8] & 0x3F) | 0x80);
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
    }
    return text;
}

}  // namespace

RepeatExchange::RepeatExchange(const BridgeBasics& basics, DatagramSender sender)
    : config_(basics.config),
      scheduler_(basics.scheduler),
      ledger_(basics.ledger),
      sender_(std::move(sender)),
      token_(randomUuid()),
      timer_(basics.scheduler) {}

bool RepeatExchange::ackFresh() const {
    return ackGeneration_ == generation_ && nowSeconds() - ackAt_ < 0.5;
}

void RepeatExchange::start() {
    if (enabled()) timer_.start(0, 100'000'000, [this] { tick(); });
}

void RepeatExchange::endSoundingNotes(const std::shared_ptr<MidiPeer>& peer) {
    forEachKey(peer->notes, [&](int key) {
        if (auto it = peer->held.find(key); it != peer->held.end()) it->second.off.reset();
        NoteLedger::Acting acting(ledger_, peer);
        ledger_.sendNoteOff(key);
    });
}

void RepeatExchange::tick() {
    if (!enabled() || !sender_) return;
    const double now = nowSeconds();
    if (!ackFresh() && owner_ && now - ackAt_ >= 0.5) {
        // The exchange fell silent: nothing of the owner may keep sounding.
        std::shared_ptr<MidiPeer> owner = owner_;
        endSoundingNotes(owner);
        if (now - requestedAt_ > 0.5) owner->held.clear();
    }
    sender_(request(), kLoopback, uint16_t(config_.nativeRepeatPort));
}

const std::vector<uint8_t>& RepeatExchange::request() {
    // Only the generation and the owner's rate change between requests: the text is made again
    // when one of them did, not ten times a second.
    const std::optional<uint64_t> rateBits =
        owner_ ? std::optional(std::bit_cast<uint64_t>(owner_->strideStep)) : std::nullopt;
    if (!request_.empty() && requestGeneration_ == generation_ && requestRateBits_ == rateBits)
        return request_;
    // The object {"generation", "rate", "source", "token"} as the JSON output writes it (keys
    // sorted, no spaces); the library writes each value, the source and token only once.
    if (requestTail_.empty())
        requestTail_ = ",\"source\":" + JsonOutput::serialise(config_.sourceName) +
                       ",\"token\":" + JsonOutput::serialise(token_) + "}";
    const std::string rate = owner_ ? JsonOutput::serialise(owner_->strideStep) : "0";
    const std::string body =
        "{\"generation\":" + std::to_string(generation_) + ",\"rate\":" + rate + requestTail_;
    request_.assign(std::begin(wire::kRepeatRequest), std::begin(wire::kRepeatRequest) + 4);
    request_.insert(request_.end(), body.begin(), body.end());
    requestGeneration_ = generation_;
    requestRateBits_ = rateBits;
    return request_;
}

void RepeatExchange::receiveAck(std::span<const uint8_t> datagram) {
    if (datagram.size() < 4) return;
    const nlohmann::json ack =
        nlohmann::json::parse(datagram.begin() + 4, datagram.end(), nullptr, false);
    if (!ack.is_object()) return;
    auto token = ack.find("token");
    auto generation = ack.find("generation");
    auto ready = ack.find("ready");
    if (token == ack.end() || !token->is_string() || token->get<std::string>() != token_) return;
    if (generation == ack.end() || !generation->is_number_integer() ||
        generation->get<int64_t>() != generation_)
        return;
    if (ready == ack.end() || !ready->is_boolean() || !ready->get<bool>()) return;
    const int64_t previous = ackGeneration_;
    ackGeneration_ = generation_;
    ackAt_ = nowSeconds();
    if (previous != generation_ && owner_) {
        // The first acknowledgement of this generation plays what the owner already holds.
        std::shared_ptr<MidiPeer> owner = owner_;
        for (const auto& [key, voice] : owner->held) {
            if (owner->notes.test(size_t(key))) continue;
            const std::array<uint8_t, 3> on{uint8_t(0x90 + key / 128), uint8_t(key % 128),
                                            voice.velocity};
            ledger_.sendAs(owner, on);
        }
    }
}

void RepeatExchange::takeOwnership(const std::shared_ptr<MidiPeer>& peer, double oldStep) {
    if (owner_ && owner_ != peer) {
        std::shared_ptr<MidiPeer> previous = owner_;
        endSoundingNotes(previous);
        previous->held.clear();
        previous->strideStep = 0;
    }
    owner_ = peer;
    ++generation_;
    requestedAt_ = nowSeconds();
    if ((oldStep == 0.0) != (peer->strideStep == 0.0)) endSoundingNotes(peer);
    tick();
}

void RepeatExchange::ownerLeaving(const std::shared_ptr<MidiPeer>& peer) {
    if (!peer || peer != owner_) return;
    owner_.reset();
    ++generation_;
    tick();
}

}  // namespace norv
