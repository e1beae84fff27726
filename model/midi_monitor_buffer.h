#pragma once
// The MIDI monitor's buffer: events oldest first, each at a position that counts every event the
// buffer has ever taken. An event keeps its position while it stays and a position is never given
// again, so a reader that remembers the positions it saw learns what entered and what left since.

#include "model/midi_monitor_event.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace norv {

class MidiMonitorBuffer {
public:
    using const_iterator = std::deque<MidiMonitorEvent>::const_iterator;

    std::size_t size() const { return events_.size(); }
    bool empty() const { return events_.empty(); }
    const_iterator begin() const { return events_.begin(); }
    const_iterator end() const { return events_.end(); }
    const MidiMonitorEvent& front() const { return events_.front(); }
    const MidiMonitorEvent& back() const { return events_.back(); }

    // Positions of the oldest event and one past the newest.
    std::uint64_t firstPosition() const { return first_; }
    std::uint64_t endPosition() const { return first_ + events_.size(); }
    const MidiMonitorEvent& at(std::uint64_t position) const {
        return events_[static_cast<std::size_t>(position - first_)];
    }

    void push_back(MidiMonitorEvent event) { events_.push_back(std::move(event)); }
    void dropOldest(std::size_t count);
    void clear() { dropOldest(events_.size()); }
    // Makes the buffer hold `events`, all at new positions.
    void replace(const std::vector<MidiMonitorEvent>& events);

    std::vector<MidiMonitorEvent> toVector() const { return {events_.begin(), events_.end()}; }

private:
    std::deque<MidiMonitorEvent> events_;
    std::uint64_t first_ = 0;
};

}  // namespace norv
