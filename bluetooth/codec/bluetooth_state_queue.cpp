#include "bluetooth/codec/bluetooth_state_queue.h"

#include <algorithm>
#include <chrono>

#include <nlohmann/json.hpp>

#include "bluetooth/codec/bluetooth_error.h"
#include "model/byte_reader.h"

namespace norv {

namespace {

constexpr std::size_t queueLimit = 8388608;
constexpr std::uint32_t frameLimit = 4194304;
constexpr std::size_t pendingLimit = 1024;

bool emptyOrMissing(const nlohmann::json& object, const char* member) {
    const auto it = object.find(member);
    if (it == object.end()) return true;
    return (it->is_array() || it->is_object()) && it->empty();
}

}  // namespace

BluetoothStateQueue::BluetoothStateQueue(bool wireDeltas, bool coalescing, WallClock wallClock)
    : wireDeltas_(wireDeltas), coalescing_(coalescing), wallClock_(std::move(wallClock)) {}

double BluetoothStateQueue::systemWallClock() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

std::optional<std::string> BluetoothStateQueue::replaceableKey(std::span<const std::uint8_t> body) {
    const auto json = nlohmann::json::parse(body.begin(), body.end(), nullptr, false);
    if (json.is_discarded() || !json.is_object()) return std::nullopt;
    const auto pathIt = json.find("path");
    if (pathIt == json.end() || !pathIt->is_string()) return std::nullopt;
    const auto path = pathIt->get<std::string>();
    if (path == "/norv/health/status" || path == "/norv/transport/state") return path;
    if (path != "/norv/clips/state") return std::nullopt;

    // A clip state that carries a result must reach the device; only plain ones are replaceable.
    const auto args = json.find("args");
    if (args == json.end() || !args->is_array() || args->empty()) return std::nullopt;
    if (!std::all_of(args->begin(), args->end(), [](const auto& a) { return a.is_object(); })) return std::nullopt;
    const auto& first = args->front();
    for (const char* member : {"pattern_clip_result", "clip_action_result", "clip_action_results"}) {
        if (!emptyOrMissing(first, member)) return std::nullopt;
    }
    return path;
}

void BluetoothStateQueue::receive(std::span<const std::uint8_t> bytes) {
    if (queuedBytes() + bytes.size() > queueLimit) throw BluetoothError::stateQueueLimit();
    input_.insert(input_.end(), bytes.begin(), bytes.end());

    std::size_t consumed = 0;
    const ConsumedPrefix compact(input_, consumed);

    while (true) {
        ByteReader reader{std::span(input_).subspan(consumed)};
        std::uint32_t length = 0;
        if (!reader.u32(length)) break;
        if (length < 1 || length > frameLimit) throw BluetoothError::stateQueueLimit();
        std::span<const std::uint8_t> body;
        if (!reader.bytes(length, body)) break;

        Frame frame;
        frame.bytes.assign(input_.begin() + static_cast<std::ptrdiff_t>(consumed),
                           input_.begin() + static_cast<std::ptrdiff_t>(consumed + 4 + length));
        consumed += 4 + length;
        if (coalescing_) frame.key = replaceableKey(body);
        if (frame.key) {
            const auto older = std::find_if(pending_.begin(), pending_.end(),
                                            [&](const Frame& f) { return f.key == frame.key; });
            if (older != pending_.end()) {
                pendingBytes_ -= older->bytes.size();
                pending_.erase(older);
                ++coalesced_;
            }
        }
        // Counted after coalescing: a frame that replaces an older one never overflows.
        if (pending_.size() >= pendingLimit) throw BluetoothError::stateQueueLimit();
        frame.sourceTime = wallClock_();
        pendingBytes_ += frame.bytes.size();
        pending_.push_back(std::move(frame));
    }
}

std::optional<BluetoothBytes> BluetoothStateQueue::nextBlock() {
    if (offset_ == active_.size()) {
        if (pending_.empty()) return std::nullopt;
        Frame frame = std::move(pending_.front());
        pending_.pop_front();
        pendingBytes_ -= frame.bytes.size();
        active_ = wireDeltas_ ? frameEncoder_.encode(frame.bytes, frame.sourceTime) : std::move(frame.bytes);
        offset_ = 0;
    }
    const std::size_t size = std::min(pieceSize, active_.size() - offset_);
    BluetoothBytes piece(active_.begin() + static_cast<std::ptrdiff_t>(offset_),
                         active_.begin() + static_cast<std::ptrdiff_t>(offset_ + size));
    offset_ += size;
    if (offset_ == active_.size()) {
        active_.clear();
        offset_ = 0;
    }
    return piece;
}

std::size_t BluetoothStateQueue::queuedBytes() const {
    return input_.size() + pendingBytes_ + (active_.size() - offset_);
}

double BluetoothStateQueue::oldestAge() const {
    if (pending_.empty()) return 0;
    return std::max(0.0, wallClock_() - pending_.front().sourceTime);
}

}  // namespace norv
