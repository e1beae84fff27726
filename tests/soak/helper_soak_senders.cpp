#include "helper_soak_senders.h"

#include <algorithm>
#include <cerrno>
#include <sys/socket.h>

#include "midi_helper/event_loop.h"

namespace norv::test {
namespace {

bool chance(Rng& rng, int percent)
{
    return int(rng() % 100) < percent;
}

template <typename Container>
auto pick(Rng& rng, const Container& items)
{
    auto it = items.begin();
    std::advance(it, ptrdiff_t(rng() % items.size()));
    return *it;
}

uint8_t channelOf(int key) { return uint8_t(key / 128); }
uint8_t noteOf(int key) { return uint8_t(key % 128); }

Bytes notePacket(uint8_t phase, int key, uint8_t velocity)
{
    return packet("NPM2", {phase, noteOf(key), velocity, uint8_t(channelOf(key) + 1)});
}

Bytes raw(uint8_t length, uint8_t status, uint8_t data1, uint8_t data2 = 0)
{
    return packet("NPM3", {length, status, data1, data2});
}

// A note-off in one of the three forms a sender may use.
Bytes noteOff(Rng& rng, int key)
{
    switch (rng() % 3) {
    case 0: return raw(3, uint8_t(0x80 | channelOf(key)), noteOf(key), 64);
    case 1: return raw(3, uint8_t(0x90 | channelOf(key)), noteOf(key), 0);
    default: return notePacket(2, key, 0);
    }
}

// A controller, pitch bend or pressure message that holds nothing.
Bytes expression(Rng& rng, uint8_t channel)
{
    const auto kind = rng() % 3;
    const uint8_t value = uint8_t(rng() % 128);
    switch (kind) {
    case 0: return raw(3, uint8_t(0xB0 | channel), 1, value);
    case 1: return raw(3, uint8_t(0xE0 | channel), 0, value);
    default: return raw(2, uint8_t(0xD0 | channel), value);
    }
}

uint8_t velocity(Rng& rng)
{
    static const uint8_t levels[] = {40, 80, 100, 127};
    return levels[rng() % 4];
}

UniqueFd datagramSocket()
{
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in local = ipv4("127.0.0.1", 0);
    ::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local);
    return fd;
}

void sendTo(int fd, const sockaddr_in& to, const Bytes& bytes)
{
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

} // namespace

int sharedKey(Rng& rng)
{
    const int channel = int(rng() % 3);
    return channel * 128 + 60 + int(rng() % 8);
}

// ---- Stream peers ----

StreamSender::StreamSender(int port, bool strideCapable, bool heartbeats)
    : port_(port)
    , strideCapable_(strideCapable)
    , heartbeats_(heartbeats)
{
}

void StreamSender::connect()
{
    fd_ = connectTcp("127.0.0.1", port_);
    held_.clear();
    sustain_ = false;
}

bool StreamSender::send(const Bytes& payload)
{
    const Bytes bytes = frame(payload);
    if (fd_ && ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size()))
        return true;
    fd_.reset();
    return false;
}

void StreamSender::dropConnection(Rng& rng)
{
    if (fd_ && chance(rng, 50)) {
        const linger reset{1, 0};
        ::setsockopt(fd_.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    fd_.reset();
}

void StreamSender::act(Rng& rng)
{
    if (!fd_)
        return;
    const int roll = int(rng() % 100);
    if (roll < 30) {
        const int key = sharedKey(rng);
        if (held_.size() < 4 && held_.insert(key).second)
            send(notePacket(1, key, velocity(rng)));
    } else if (roll < 60 && !held_.empty()) {
        const int key = pick(rng, held_);
        held_.erase(key);
        send(noteOff(rng, key));
    } else if (roll < 66 && !held_.empty()) {
        // A retrigger, sometimes let go of at once (a quick double strike).
        const int key = pick(rng, held_);
        send(notePacket(3, key, velocity(rng)));
        if (chance(rng, 30)) {
            held_.erase(key);
            send(noteOff(rng, key));
        }
    } else if (roll < 70) {
        sustain_ = !sustain_;
        send(raw(3, 0xB0, 64, sustain_ ? 127 : 0));
    } else if (roll < 78) {
        send(expression(rng, uint8_t(rng() % 3)));
    } else if (roll < 80) {
        // All Notes Off on one channel ends what this peer holds there.
        const uint8_t channel = uint8_t(rng() % 3);
        std::erase_if(held_, [channel](int key) { return channelOf(key) == channel; });
        send(raw(3, uint8_t(0xB0 | channel), 123, 0));
    } else if (roll < 87 && strideCapable_) {
        // Off, or a quarter or half beat (240 or 480 960ths), not quantised.
        static const uint16_t steps[] = {0, 0, 240, 480};
        const uint16_t step = steps[rng() % 4];
        send(packet("NPM9", {uint8_t(step >> 8), uint8_t(step & 0xFF), 0, 0}));
    } else if (roll < 90 && strideCapable_) {
        send(packet("NPMG", {0, uint8_t(10 + rng() % 91), 0, uint8_t(rng() % 101)}));
    } else if (roll < 92) {
        dropConnection(rng);
    }
}

void StreamSender::service(SoakClock::time_point now)
{
    if (!fd_)
        return;
    if (heartbeats_ && now >= nextBeat_) {
        send(packet("NPM8", {}));
        nextBeat_ = now + std::chrono::milliseconds(100);
    }
    uint8_t buffer[512];
    while (fd_) {
        const ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0)
            continue; // heartbeat echoes
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            fd_.reset(); // the helper closed the stream
        break;
    }
}

void StreamSender::releaseAll()
{
    for (int key : std::exchange(held_, {}))
        send(notePacket(2, key, 0));
    if (std::exchange(sustain_, false))
        send(raw(3, 0xB0, 64, 0));
}

// ---- Fast MIDI datagrams ----

FastSender::FastSender(int port)
    : helper_(ipv4("127.0.0.1", port))
    , fd_(datagramSocket())
{
}

void FastSender::send(const Bytes& datagram)
{
    sendTo(fd_.get(), helper_, datagram);
}

void FastSender::act(Rng& rng)
{
    const int roll = int(rng() % 100);
    if (roll < 25) {
        // A tap on the helper's own channel; it releases itself.
        send(packet("NPM1", {0, uint8_t(60 + rng() % 8), velocity(rng)}, 16));
    } else if (roll < 50) {
        const int key = sharedKey(rng);
        if (held_.size() < 3 && held_.insert(key).second)
            send(notePacket(1, key, velocity(rng)));
    } else if (roll < 75 && !held_.empty()) {
        const int key = pick(rng, held_);
        held_.erase(key);
        send(noteOff(rng, key));
    } else if (roll < 82 && !held_.empty()) {
        // A retrigger, sometimes let go of at once (a quick double strike).
        const int key = pick(rng, held_);
        send(notePacket(3, key, velocity(rng)));
        if (chance(rng, 30)) {
            held_.erase(key);
            send(noteOff(rng, key));
        }
    } else if (roll < 90) {
        send(expression(rng, uint8_t(rng() % 3)));
    }
}

void FastSender::releaseAll()
{
    for (int key : std::exchange(held_, {}))
        send(notePacket(2, key, 0));
}

// ---- The lossy channel ----

void LossyChannel::submit(WifiSender& from, uint32_t token, uint32_t sequence, Bytes bytes, Rng& rng, SoakClock::time_point now)
{
    using std::chrono::milliseconds;
    if (rng() % 1000 < 3) {
        // The network stalls: what is sent meanwhile arrives together, too late to be played.
        ++stalls;
        stalledUntil_ = now + milliseconds(100 + rng() % 100);
    }
    if (chance(rng, 10)) {
        ++dropped;
        return;
    }
    if (chance(rng, 10)) {
        ++duplicated;
        queue_.push_back({std::max(now + milliseconds(rng() % 30), stalledUntil_), &from, token, sequence, bytes});
    }
    SoakClock::time_point due = now;
    if (chance(rng, 20)) {
        ++delayed;
        due += milliseconds(5 + rng() % 36);
    }
    queue_.push_back({std::max(due, stalledUntil_), &from, token, sequence, std::move(bytes)});
}

void LossyChannel::deliver(SoakClock::time_point now, bool all)
{
    auto firstLater = std::stable_partition(queue_.begin(), queue_.end(), [&](const Item& item) { return all || item.due <= now; });
    std::vector<Item> due(std::make_move_iterator(queue_.begin()), std::make_move_iterator(firstLater));
    queue_.erase(queue_.begin(), firstLater);
    std::stable_sort(due.begin(), due.end(), [](const Item& a, const Item& b) { return a.due < b.due; });
    for (const Item& item : due)
        item.from->deliver(item.token, item.sequence, item.bytes);
}

void LossyChannel::forget(const WifiSender& from, uint32_t token)
{
    std::erase_if(queue_, [&](const Item& item) { return item.from == &from && item.token == token; });
}

// ---- Wi-Fi senders ----

WifiExpectation& WifiExpectation::operator+=(const WifiExpectation& other)
{
    gapEvents += other.gapEvents;
    duplicatesLeast += other.duplicatesLeast;
    duplicatesMost += other.duplicatesMost;
    newEvents += other.newEvents;
    recoverable += other.recoverable;
    return *this;
}

WifiSender::WifiSender(int port, LossyChannel& channel, bool v2, bool strideCapable, uint32_t firstToken)
    : channel_(channel)
    , helper_(ipv4("127.0.0.1", port))
    , fd_(datagramSocket())
    , v2_(v2)
    , strideCapable_(strideCapable)
    , nextToken_(firstToken)
    , skewUs_(uint64_t(firstToken) * 1000 + 5'000'000'000ull) // a clock of its own
{
    rejoin();
}

uint64_t WifiSender::senderTimeUs() const
{
    return EventLoop::monotonicNs() / 1000 + skewUs_;
}

void WifiSender::rejoin()
{
    token_ = nextToken_++;
    sequence_ = eventSequence_ = 0;
    opened_ = false;
    silentUntil_.reset();
    settleFrom_ = 1;
    settledAck_ = false;
    held_.clear();
    sustainMask_ = step_ = 0;
    recent_.clear();
    logs_[token_];
    lastAck_ = SoakClock::now();
}

void WifiSender::record(Bytes payload)
{
    recent_.push_back({++eventSequence_, senderTimeUs(), std::move(payload)});
    if (recent_.size() > 4)
        recent_.pop_front();
}

void WifiSender::act(Rng& rng, SoakClock::time_point now)
{
    if (!opened_ || silentUntil_)
        return;
    const int roll = int(rng() % 100);
    if (roll < 30) {
        const int key = sharedKey(rng);
        if (held_.size() < 4 && !held_.count(key)) {
            held_[key] = velocity(rng);
            record(notePacket(1, key, held_[key]));
        }
    } else if (roll < 60 && !held_.empty()) {
        const int key = pick(rng, held_).first;
        held_.erase(key);
        record(noteOff(rng, key));
    } else if (roll < 72) {
        // A tap whose both halves may travel in one packet.
        const int key = sharedKey(rng);
        if (!held_.count(key)) {
            record(notePacket(1, key, velocity(rng)));
            record(notePacket(2, key, 0));
        }
    } else if (roll < 76) {
        sustainMask_ ^= 1;
        record(raw(3, 0xB0, 64, (sustainMask_ & 1) ? 127 : 0));
    } else if (roll < 82 && strideCapable_) {
        step_ = step_ != 0 ? 0 : uint16_t(chance(rng, 50) ? 240 : 480);
    } else if (roll < 84) {
        // Goes silent holding its notes, then comes back under a new token.
        channel_.forget(*this, token_);
        silentUntil_ = now + std::chrono::milliseconds(300 + rng() % 2200);
    }
}

void WifiSender::tick(Rng& rng, SoakClock::time_point now, bool lossless)
{
    readAcks(now);
    if (silentUntil_) {
        if (now < *silentUntil_)
            return;
        rejoin();
    }
    if (opened_ && now - lastAck_ > std::chrono::milliseconds(1500)) {
        // The helper no longer answers this token: it closed the peer (silent for too long).
        logs_[token_].abandoned = true;
        rejoin();
    }
    WifiPacket p;
    p.v2 = v2_;
    p.token = token_;
    p.sequence = ++sequence_;
    p.sendTime = senderTimeUs();
    if (opened_) {
        p.sustainMask = sustainMask_;
        for (const auto& [key, velocity] : held_) {
            if (v2_)
                p.holds.emplace_back(key, velocity);
            else
                p.heldKeys.push_back(key);
        }
        if (v2_)
            p.step = step_;
        // The newest event and up to three before it again, so a lost packet is mostly recovered.
        const size_t count = recent_.empty() ? 0 : 1 + rng() % recent_.size();
        p.records.assign(recent_.end() - ptrdiff_t(count), recent_.end());
    }
    if (!opened_)
        logs_[token_].openings.insert(p.sequence);
    auto& events = logs_[token_].events[p.sequence];
    for (const auto& r : p.records)
        events.push_back(r.sequence);
    if (lossless)
        deliver(token_, p.sequence, p.bytes());
    else
        channel_.submit(*this, token_, p.sequence, p.bytes(), rng, now);
}

void WifiSender::readAcks(SoakClock::time_point now)
{
    uint8_t ack[64];
    ssize_t n;
    while ((n = ::recv(fd_.get(), ack, sizeof ack, MSG_DONTWAIT)) >= 0) {
        if (n != 28 || ack[0] != 'N' || ack[3] != '1')
            continue;
        const uint32_t token = uint32_t(ack[4]) << 24 | uint32_t(ack[5]) << 16 | uint32_t(ack[6]) << 8 | ack[7];
        const uint32_t sequence = uint32_t(ack[8]) << 24 | uint32_t(ack[9]) << 16 | uint32_t(ack[10]) << 8 | ack[11];
        if (auto log = logs_.find(token); log != logs_.end())
            log->second.acked.insert(sequence);
        if (token == token_) {
            opened_ = true;
            lastAck_ = now;
            settledAck_ = settledAck_ || sequence >= settleFrom_;
        }
    }
}

void WifiSender::releaseAll(SoakClock::time_point now)
{
    if (silentUntil_) {
        silentUntil_ = now; // back now, under a new token
        return;
    }
    if (!opened_)
        return; // settles with the opening's acknowledgement
    for (const auto& [key, velocity] : std::exchange(held_, {}))
        record(notePacket(2, key, 0));
    if (std::exchange(sustainMask_, 0))
        record(raw(3, 0xB0, 64, 0));
    settleFrom_ = sequence_ + 1;
    settledAck_ = false;
}

bool WifiSender::settled() const
{
    return opened_ && settledAck_ && !silentUntil_;
}

void WifiSender::deliver(uint32_t token, uint32_t sequence, const Bytes& bytes)
{
    sendTo(fd_.get(), helper_, bytes);
    logs_[token].delivered.push_back(sequence);
}

// The helper handles each packet it acknowledges once, in sequence order, and counts every
// other delivered packet of an open peer as a duplicate. Only when it closed a peer on its own
// (the sender then gave up its token) may some of them have arrived after the close, and openings
// sent before the token was answered may have been refused: their count is then only bounded.
WifiExpectation WifiSender::expectation() const
{
    WifiExpectation e;
    for (const auto& [token, log] : logs_) {
        uint32_t last = log.lastEvent;
        for (uint32_t sequence : log.acked) {
            auto events = log.events.find(sequence);
            if (events == log.events.end())
                continue;
            for (size_t i = 0; i < events->second.size(); ++i) {
                const uint32_t s = events->second[i];
                if (s <= last)
                    continue;
                e.gapEvents += s - last - 1;
                last = s;
                ++e.newEvents;
                e.recoverable += i + 1 < events->second.size() ? 1 : 0;
            }
        }
        const int64_t unacked = int64_t(log.delivered.size()) - int64_t(log.acked.size());
        const int64_t refusable = std::count_if(log.delivered.begin(), log.delivered.end(), [&](uint32_t sequence) {
            return log.openings.count(sequence) && !log.acked.count(sequence);
        });
        e.duplicatesLeast += log.abandoned ? 0 : unacked - refusable;
        e.duplicatesMost += unacked;
    }
    return e;
}

void WifiSender::commit()
{
    for (auto it = logs_.begin(); it != logs_.end();) {
        if (it->first != token_) {
            it = logs_.erase(it);
            continue;
        }
        TokenLog& log = it->second;
        for (uint32_t sequence : log.acked)
            if (auto events = log.events.find(sequence); events != log.events.end() && !events->second.empty())
                log.lastEvent = std::max(log.lastEvent, events->second.back());
        log.events.clear();
        log.delivered.clear();
        log.acked.clear();
        log.openings.clear();
        ++it;
    }
    lastAck_ = SoakClock::now();
}

// ---- Engine clock ----

ClockSender::ClockSender(int port)
    : helper_(ipv4("127.0.0.1", port))
    , fd_(datagramSocket())
    , startNs_(EventLoop::monotonicNs())
    , nextEngineNs_(startNs_)
{
}

void ClockSender::setMidiClock(bool on)
{
    if (on && !midiClock_)
        ++generation_; // a new run
    midiClock_ = on;
    lastTick_.reset();
}

void ClockSender::tick()
{
    constexpr uint64_t kTickNs = 1'000'000'000 / 48; // 24 a beat at 120 bpm
    const uint64_t now = EventLoop::monotonicNs();
    if (now >= nextEngineNs_) {
        nextEngineNs_ = now + 50'000'000;
        sendTo(fd_.get(), helper_, engineClock(120, double(now - startNs_) / 5e8, double(now) / 1e9));
    }
    const uint64_t tick = (now - startNs_) / kTickNs;
    if (midiClock_ && (!lastTick_ || tick > *lastTick_)) {
        lastTick_ = tick;
        sendTo(fd_.get(), helper_, midiClock(startNs_ + tick * kTickNs, tick, generation_));
    }
}

} // namespace norv::test
