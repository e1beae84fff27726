#pragma once

// What the helper soak watches: the MIDI that reaches the JACK port, and the helper's own output
// lines (monitored MIDI and "pong" reports).

#include <atomic>
#include <bitset>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/midi_helper/jack_midi_recorder.h"

namespace norv::test {

// Orders messages by length, then bytes. (The standard vector ordering makes GCC 12's Release
// build warn of a memcmp bound that cannot occur.)
struct MessageOrder {
    bool operator()(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) const
    {
        if (a.size() != b.size())
            return a.size() < b.size();
        for (size_t i = 0; i < a.size(); ++i)
            if (a[i] != b[i])
                return a[i] < b[i];
        return false;
    }
};

// How many times each exact message was seen.
using MessageTally = std::map<std::vector<uint8_t>, int64_t, MessageOrder>;

// Drains a recorder connected to the helper's source on a thread of its own and keeps, per channel
// and key, whether the port has left the note sounding (a note-on with velocity 0 is a note-off)
// and whether each channel's sustain pedal is down.
class PortLedger {
public:
    explicit PortLedger(JackMidiRecorder& recorder);
    ~PortLedger();

    struct State {
        int64_t count = 0;
        std::vector<int> sounding;      // channel × 128 + note
        std::vector<int> sustained;     // channels
        std::chrono::steady_clock::time_point lastEvent;
    };
    State state() const;
    // The last messages of a key with their frames, oldest first, to show how it was left sounding.
    std::string history(int key) const;
    // The tally since the last take, when exactly `count` messages have arrived so far.
    std::optional<MessageTally> takeTallyAt(int64_t count);

private:
    void drain();

    JackMidiRecorder& recorder_;
    mutable std::mutex lock_;
    int64_t count_ = 0;
    std::bitset<2048> sounding_;
    std::bitset<16> sustained_;
    MessageTally tally_;
    std::map<int, std::deque<JackMidiRecorder::Event>> history_;
    std::chrono::steady_clock::time_point lastEvent_ = std::chrono::steady_clock::now();
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The helper's output lines: monitored MIDI is tallied, and each "pong" comes with what was
// monitored since the previous one.
class OutputWatch {
public:
    struct Pong {
        nlohmann::json report;
        MessageTally monitored;
        int64_t monitoredCount = 0;
    };

    // For the helper's JsonOutput.
    bool line(const std::string& text);
    std::optional<Pong> nextPong(std::chrono::milliseconds bound);

private:
    std::mutex lock_;
    std::condition_variable arrived_;
    MessageTally monitored_;
    int64_t monitoredCount_ = 0;
    std::deque<Pong> pongs_;
};

} // namespace norv::test
