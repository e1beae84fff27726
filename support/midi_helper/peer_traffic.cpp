#include "support/midi_helper/peer_traffic.h"

#include <algorithm>
#include <ctime>
#include <deque>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "support/midi_helper/helper_wire.h"

namespace norv::test {
namespace {

uint64_t monotonicUs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1'000'000ull + uint64_t(ts.tv_nsec) / 1000;
}

// Note n of a player: a pitch and a velocity that tell it apart from its neighbours for 12,192 notes.
uint8_t pitchOf(uint64_t n) { return uint8_t(24 + n % 96); }
uint8_t velocityOf(uint64_t n) { return uint8_t(1 + (n / 96) % 127); }
uint64_t noteOf(uint8_t pitch, uint8_t velocity) { return uint64_t(pitch - 24) + 96 * uint64_t(velocity - 1); }

constexpr size_t kRedundancy = 4;

} // namespace

struct PeerTraffic::Player {
    int channel = 1;                // 1 to 16
    bool wifi = false;
    UniqueFd socket;
    std::vector<uint64_t> sentUs;   // message i: note i / 2, on when even
    std::vector<bool> recovered;    // message i left in a later packet than its own
    // Wi-Fi only.
    uint32_t token = 0;
    uint32_t packetSequence = 0;
    uint32_t recordSequence = 0;
    std::deque<WifiPacket::Record> recent;
    std::vector<size_t> unsentRecords; // message indices whose sendto is still to come
    int held = -1;                  // key held, -1 none
    uint64_t random = 0;

    double nextRandom()
    {
        random ^= random << 13;
        random ^= random >> 7;
        random ^= random << 17;
        return double(random % 1'000'000) / 1e6;
    }

    bool open(int port)
    {
        if (!wifi) {
            socket = connectTcp("127.0.0.1", port);
            if (!socket)
                return false;
            const int one = 1;
            ::setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return true;
        }
        socket = UniqueFd(::socket(AF_INET, SOCK_DGRAM, 0));
        const sockaddr_in to = ipv4("127.0.0.1", port);
        if (!socket || ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0)
            return false;
        WifiPacket opening;
        opening.token = token;
        opening.sequence = ++packetSequence;
        opening.sendTime = monotonicUs();
        const Bytes bytes = opening.bytes();
        return ::send(socket.get(), bytes.data(), bytes.size(), 0) == ssize_t(bytes.size());
    }

    // Plays message i (note-on when even) now.
    void playMessage(size_t i, double loss)
    {
        const uint64_t n = i / 2;
        const bool on = i % 2 == 0;
        const Bytes payload = packet("NPM2", {uint8_t(on ? 1 : 2), pitchOf(n), on ? velocityOf(n) : uint8_t(0), uint8_t(channel)});
        const int key = (channel - 1) * 128 + pitchOf(n);
        if (!wifi) {
            sentUs.push_back(monotonicUs());
            recovered.push_back(false);
            const Bytes bytes = frame(payload);
            [[maybe_unused]] auto written = ::send(socket.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
            return;
        }
        sentUs.push_back(0); // set by the first packet that leaves with it
        recovered.push_back(false);
        held = on ? key : -1;
        recent.push_back({++recordSequence, monotonicUs(), payload});
        if (recent.size() > kRedundancy)
            recent.pop_front();
        unsentRecords.push_back(i);
        if (nextRandom() < loss)
            return;
        WifiPacket wifiPacket;
        wifiPacket.token = token;
        wifiPacket.sequence = ++packetSequence;
        wifiPacket.sendTime = monotonicUs();
        wifiPacket.records.assign(recent.begin(), recent.end());
        if (held >= 0)
            wifiPacket.heldKeys.push_back(held);
        const Bytes bytes = wifiPacket.bytes();
        const uint64_t at = monotonicUs();
        [[maybe_unused]] auto written = ::send(socket.get(), bytes.data(), bytes.size(), 0);
        // Only the last kRedundancy records travel; older unsent ones are gone for good.
        for (size_t index : unsentRecords)
            if (index + kRedundancy > i) {
                sentUs[index] = at;
                recovered[index] = index != i;
            }
        unsentRecords.clear();
        // Acknowledgements are not read.
        char drain[64];
        while (::recv(socket.get(), drain, sizeof drain, MSG_DONTWAIT) > 0) {
        }
    }
};

PeerTraffic::PeerTraffic(Options options) : options_(options)
{
    for (int p = 0; p < kStreams + kWifi; ++p) {
        auto* player = new Player;
        player->channel = p + 1;
        player->wifi = p >= kStreams;
        player->token = uint32_t(::getpid()) * 32u + uint32_t(p) + 1;
        player->random = 0x9E3779B97F4A7C15ull * uint64_t(p + 1);
        players_.push_back(player);
    }
}

PeerTraffic::~PeerTraffic()
{
    for (Player* player : players_)
        delete player;
}

bool PeerTraffic::play()
{
    for (Player* player : players_) {
        if (!player->open(options_.port))
            return false;
    }
    const double perPlayer = double(options_.messagesPerSecond) / double(players_.size());
    const auto interval = std::chrono::nanoseconds(int64_t(1e9 / perPlayer));
    const size_t messages = size_t(perPlayer * double(options_.duration.count()) / 1000.0) / 2 * 2 + 1; // ends on a note-on
    const auto start = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    std::vector<std::thread> threads;
    for (size_t p = 0; p < players_.size(); ++p) {
        threads.emplace_back([this, p, start, interval, messages] {
            Player& player = *players_[p];
            const auto phase = interval * int64_t(p) / int64_t(players_.size());
            for (size_t i = 0; i < messages; ++i) {
                std::this_thread::sleep_until(start + phase + interval * int64_t(i));
                player.playMessage(i, options_.wifiLoss);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    return true;
}

void PeerTraffic::leave()
{
    for (Player* player : players_)
        player->socket.reset();
}

void PeerTraffic::leaveStreams()
{
    for (Player* player : players_)
        if (!player->wifi)
            player->socket.reset();
}

PeerTraffic::Tally PeerTraffic::tally(const MidiCapture& capture) const
{
    Tally tally;
    struct ChannelState {
        int64_t lastNote = -1;
        std::map<uint8_t, uint64_t> sounding; // pitch to note number
    };
    ChannelState channels[16];
    for (const auto& event : capture.events()) {
        ++tally.recorded;
        // PipeWire's libjack hands its clients a note-on of velocity 0 as a note-off of velocity 64.
        const bool noteOff = (event.bytes[0] & 0xF0) == 0x80;
        if (event.size < 2 || ((event.bytes[0] & 0xF0) != 0x90 && !noteOff)) {
            ++tally.others;
            continue;
        }
        const int channel = event.bytes[0] & 0x0F;
        const Player& player = *players_[size_t(channel)];
        ChannelState& state = channels[channel];
        const uint8_t pitch = event.bytes[1];
        size_t index = 0;
        if (!noteOff && event.bytes[2] != 0) {
            const uint64_t note = noteOf(pitch, event.bytes[2]);
            if (int64_t(note) < state.lastNote)
                ++tally.outOfOrder;
            state.lastNote = std::max(state.lastNote, int64_t(note));
            if (state.sounding.count(pitch))
                ++tally.unknown; // a second note-on of a key that sounds
            state.sounding[pitch] = note;
            index = size_t(note) * 2;
        } else {
            auto found = state.sounding.find(pitch);
            if (found == state.sounding.end()) {
                // The next note of this key: its note-on may have been in the sender's lost packets
                // beyond what the later ones repeat.
                const uint64_t after = uint64_t(state.lastNote + 1);
                const uint64_t next = after + (uint64_t(pitch) - 24 + 96 - after % 96) % 96;
                if (2 * next < player.sentUs.size() && player.sentUs[2 * next] == 0)
                    ++tally.neverSent;
                else
                    ++tally.unknown; // a note-off of a key that does not sound
                continue;
            }
            index = size_t(found->second) * 2 + 1;
            state.sounding.erase(found);
        }
        if (index < player.sentUs.size() && player.sentUs[index] != 0) {
            ++tally.matched;
            const double us = double(int64_t(event.frameUs) - int64_t(player.sentUs[index]));
            tally.latencyUs.push_back(us);
            // A release that arrives with its recovered attack keeps the note's length on purpose.
            if (!(index % 2 == 1 && player.recovered[index - 1]))
                tally.promptLatencyUs.push_back(us);
        }
    }
    for (const auto& state : channels)
        tally.leftSounding += state.sounding.size();
    for (size_t p = 0; p < players_.size(); ++p) {
        const size_t messages = players_[p]->sentUs.size();
        if (messages == 0)
            continue;
        const uint64_t last = (messages - 1) / 2;
        const auto found = channels[p].sounding.find(pitchOf(last));
        tally.lastHeldSounding += found != channels[p].sounding.end() && found->second == last ? 1 : 0;
        tally.wifiLastHeard += players_[p]->wifi && channels[p].lastNote == int64_t(last) ? 1 : 0;
    }
    return tally;
}

} // namespace norv::test
