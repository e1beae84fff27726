#include "helper_soak_observers.h"

namespace norv::test {

PortLedger::PortLedger(JackMidiRecorder& recorder)
    : recorder_(recorder)
    , thread_([this] { drain(); })
{
}

PortLedger::~PortLedger()
{
    stop_ = true;
    thread_.join();
}

void PortLedger::drain()
{
    while (!stop_) {
        auto event = recorder_.next(std::chrono::milliseconds(20));
        if (!event)
            continue;
        const auto& b = event->bytes;
        std::lock_guard guard(lock_);
        ++count_;
        ++tally_[b];
        lastEvent_ = std::chrono::steady_clock::now();
        if (b.size() == 3 && (b[0] & 0xE0) == 0x80 && b[1] < 128) {
            const int key = (b[0] & 0x0F) * 128 + b[1];
            sounding_.set(size_t(key), (b[0] & 0xF0) == 0x90 && b[2] != 0);
            auto& history = history_[key];
            history.push_back(*event);
            if (history.size() > 6)
                history.pop_front();
        }
        else if (b.size() == 3 && (b[0] & 0xF0) == 0xB0 && b[1] == 64)
            sustained_.set(size_t(b[0] & 0x0F), b[2] >= 64);
    }
}

PortLedger::State PortLedger::state() const
{
    std::lock_guard guard(lock_);
    State state;
    state.count = count_;
    state.lastEvent = lastEvent_;
    for (int key = 0; key < 2048; ++key)
        if (sounding_.test(size_t(key)))
            state.sounding.push_back(key);
    for (int channel = 0; channel < 16; ++channel)
        if (sustained_.test(size_t(channel)))
            state.sustained.push_back(channel);
    return state;
}

std::string PortLedger::history(int key) const
{
    std::lock_guard guard(lock_);
    std::string text;
    if (auto it = history_.find(key); it != history_.end()) {
        for (const auto& event : it->second) {
            // Appended piece by piece: GCC 12 warns falsely about temporaries joined with +.
            text += " [";
            for (uint8_t b : event.bytes) {
                text += std::to_string(b);
                text += ' ';
            }
            text += '@';
            text += std::to_string(event.frame);
            text += ']';
        }
    }
    return text;
}

std::optional<MessageTally> PortLedger::takeTallyAt(int64_t count)
{
    std::lock_guard guard(lock_);
    if (count_ != count)
        return std::nullopt;
    return std::exchange(tally_, {});
}

bool OutputWatch::line(const std::string& text)
{
    const auto event = nlohmann::json::parse(text, nullptr, false);
    if (!event.is_object())
        return true;
    const std::string type = event.value("type", "");
    std::lock_guard guard(lock_);
    if (type == "midi") {
        ++monitored_[event["bytes"].get<std::vector<uint8_t>>()];
        ++monitoredCount_;
    } else if (type == "pong") {
        pongs_.push_back({event, std::exchange(monitored_, {}), std::exchange(monitoredCount_, 0)});
        arrived_.notify_all();
    }
    return true;
}

std::optional<OutputWatch::Pong> OutputWatch::nextPong(std::chrono::milliseconds bound)
{
    std::unique_lock guard(lock_);
    if (!arrived_.wait_for(guard, bound, [this] { return !pongs_.empty(); }))
        return std::nullopt;
    Pong pong = std::move(pongs_.front());
    pongs_.pop_front();
    return pong;
}

} // namespace norv::test
