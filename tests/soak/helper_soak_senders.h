#pragma once

// The helper soak's senders: stream peers over TCP, fast MIDI over UDP, Wi-Fi senders behind a
// lossy channel, and the engine clock. Each acts on the driver's thread when told to; randomness
// comes from the driver's seeded generator so a run can be replayed.

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <random>
#include <set>
#include <vector>

#include "support/midi_helper/helper_wire.h"

namespace norv::test {

using SoakClock = std::chrono::steady_clock;
using Rng = std::mt19937_64;

// A note key from a small pool shared by every sender (two channels, eight notes), so that
// senders often hold the same key at once.
int sharedKey(Rng& rng);

class StreamSender {
public:
    StreamSender(int port, bool strideCapable, bool heartbeats);

    bool connected() const { return bool(fd_); }
    void connect();
    // Goes away without releasing what it holds; sometimes with a reset instead of a close.
    void dropConnection(Rng& rng);
    void act(Rng& rng);
    // Heartbeats and their echoes; notices when the helper closed the stream.
    void service(SoakClock::time_point now);
    void releaseAll();

private:
    bool send(const Bytes& payload);

    int port_;
    bool strideCapable_, heartbeats_;
    UniqueFd fd_;
    std::set<int> held_;
    bool sustain_ = false;
    SoakClock::time_point nextBeat_{};
};

class FastSender {
public:
    explicit FastSender(int port);
    void act(Rng& rng);
    void releaseAll();

private:
    void send(const Bytes& datagram);

    sockaddr_in helper_;
    UniqueFd fd_;
    std::set<int> held_;
};

class WifiSender;

// Carries Wi-Fi packets to the helper: drops some, sends some twice, holds some back so that
// they arrive after newer ones, and now and then stalls altogether.
class LossyChannel {
public:
    void submit(WifiSender& from, uint32_t token, uint32_t sequence, Bytes bytes, Rng& rng, SoakClock::time_point now);
    // Delivers what is due (everything when `all`).
    void deliver(SoakClock::time_point now, bool all = false);
    // Forgets what a sender queued under an old token (lost on the way).
    void forget(const WifiSender& from, uint32_t token);
    int64_t dropped = 0, duplicated = 0, delayed = 0, stalls = 0;

private:
    struct Item {
        SoakClock::time_point due;
        WifiSender* from;
        uint32_t token, sequence;
        Bytes bytes;
    };
    std::vector<Item> queue_;
    SoakClock::time_point stalledUntil_{};
};

// What the helper's Wi-Fi counters must show for the packets delivered since the last commit.
struct WifiExpectation {
    int64_t gapEvents = 0;
    int64_t duplicatesLeast = 0, duplicatesMost = 0;
    int64_t newEvents = 0, recoverable = 0; // first-time events, those of them not last in their packet

    WifiExpectation& operator+=(const WifiExpectation& other);
};

class WifiSender {
public:
    WifiSender(int port, LossyChannel& channel, bool v2, bool strideCapable, uint32_t firstToken);

    void act(Rng& rng, SoakClock::time_point now);
    // Sends the current picture (or an opening packet) and reads acknowledgements; `lossless`
    // passes the channel by.
    void tick(Rng& rng, SoakClock::time_point now, bool lossless = false);
    void readAcks(SoakClock::time_point now);
    // Releases everything; settled once a packet sent afterwards is acknowledged.
    void releaseAll(SoakClock::time_point now);
    bool settled() const;

    // From the channel.
    void deliver(uint32_t token, uint32_t sequence, const Bytes& bytes);

    WifiExpectation expectation() const;
    void commit();

private:
    struct TokenLog {
        std::map<uint32_t, std::vector<uint32_t>> events; // packet sequence → its event sequences
        std::vector<uint32_t> delivered;
        std::set<uint32_t> acked;
        // Sent before the token was answered: the helper refuses openings while the sender's
        // previous peer has not yet lapsed, and counts none of them.
        std::set<uint32_t> openings;
        uint32_t lastEvent = 0; // as far as the helper has handled, before this round
        bool abandoned = false; // the helper stopped acknowledging it
    };
    void rejoin();
    void record(Bytes payload);
    uint64_t senderTimeUs() const;

    LossyChannel& channel_;
    sockaddr_in helper_;
    UniqueFd fd_;
    bool v2_, strideCapable_;
    uint32_t nextToken_;
    uint32_t token_ = 0, sequence_ = 0, eventSequence_ = 0;
    bool opened_ = false;
    std::optional<SoakClock::time_point> silentUntil_;
    uint32_t settleFrom_ = 0; // packets from here on show everything released
    bool settledAck_ = true;
    SoakClock::time_point lastAck_{};
    std::map<int, uint8_t> held_;
    uint16_t sustainMask_ = 0;
    uint16_t step_ = 0;
    uint64_t skewUs_;
    std::deque<WifiPacket::Record> recent_;
    std::map<uint32_t, TokenLog> logs_;
};

// Engine clock datagrams at 120 bpm, playing, and while switched on a MIDI clock on the same
// timeline (24 ticks a beat), with which stride stamps its strikes ahead of time.
class ClockSender {
public:
    explicit ClockSender(int port);
    void tick();
    void setMidiClock(bool on);

private:
    sockaddr_in helper_;
    UniqueFd fd_;
    uint64_t startNs_, nextEngineNs_;
    bool midiClock_ = false;
    uint32_t generation_ = 0;
    std::optional<uint64_t> lastTick_;
};

} // namespace norv::test
