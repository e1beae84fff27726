#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "support/midi_helper/midi_capture.h"

namespace norv::test {

// Players at the helper's peer limits over loopback: 8 stream peers (TCP, channels 1 to 8) and 8
// Wi-Fi senders (channels 9 to 16), each playing note-on/note-off pairs at an even share of
// `messagesPerSecond`. A Wi-Fi packet carries its sender's last four records and the bitmap of
// what it holds; `wifiLoss` of the packets are never sent. Each note is told apart by its pitch
// and velocity, so what arrives can be checked for loss, order and hanging notes.
class PeerTraffic {
public:
    static constexpr int kStreams = 8;
    static constexpr int kWifi = 8;

    struct Options {
        int port = 0;
        int messagesPerSecond = 2150;
        double wifiLoss = 0.1;
        std::chrono::milliseconds duration{3000};
    };

    explicit PeerTraffic(Options options);
    ~PeerTraffic();
    PeerTraffic(const PeerTraffic&) = delete;
    PeerTraffic& operator=(const PeerTraffic&) = delete;

    // Plays for the duration; every player ends holding one note. False when a peer could not
    // connect.
    bool play();
    // Streams close their connections; Wi-Fi senders fall silent (the helper's watchdog ends them).
    void leave();
    void leaveStreams();

    struct Tally {
        uint64_t recorded = 0;
        uint64_t outOfOrder = 0;   // a note that arrived before one played earlier on its channel
        uint64_t unknown = 0;      // a note no player sent (or a second copy)
        uint64_t neverSent = 0;    // a note-off whose note-on only travelled in lost packets
        uint64_t others = 0;       // channel messages other than notes (the resets of a leaving peer)
        uint64_t leftSounding = 0; // keys whose last event was a note-on
        uint64_t lastHeldSounding = 0; // players whose note held at the end still sounds
        uint64_t wifiLastHeard = 0;    // Wi-Fi players whose note held at the end began
        uint64_t matched = 0;      // events whose send time is known
        std::vector<double> latencyUs; // sendto to the event's frame, per matched event
        // The same, but for the releases that arrive with their recovered attack: they wait on
        // purpose, so that the note keeps its length.
        std::vector<double> promptLatencyUs;
    };
    // Reads what `capture` recorded against what was played.
    Tally tally(const MidiCapture& capture) const;

private:
    struct Player;
    Options options_;
    std::vector<Player*> players_;
};

} // namespace norv::test
