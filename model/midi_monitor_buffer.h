#pragma once
// The MIDI monitor's buffer: events oldest first, each at a position that counts every event the
// buffer has ever taken. An event keeps its position while it stays and a position is never given
// again, so a reader that remembers the positions it saw learns what entered and what left since.

#include "model/midi_monitor_event.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
#include <memory>
#include <vector>

namespace norv {

class MidiMonitorBuffer {
    using Events = std::deque<std::shared_ptr<const MidiMonitorEvent>>;

public:
    // Walks the events oldest first.
    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = MidiMonitorEvent;
        using difference_type = std::ptrdiff_t;
        using pointer = const MidiMonitorEvent*;
        using reference = const MidiMonitorEvent&;

        const_iterator() = default;
        explicit const_iterator(Events::const_iterator at) : at_(at) {}
        const MidiMonitorEvent& operator*() const { return **at_; }
        const MidiMonitorEvent* operator->() const { return at_->get(); }
        const_iterator& operator++() {
            ++at_;
            return *this;
        }
        const_iterator operator++(int) { return const_iterator(at_++); }
        friend bool operator==(const const_iterator&, const const_iterator&) = default;

    private:
        Events::const_iterator at_;
    };

    std::size_t size() const { return events_.size(); }
    bool empty() const { return events_.empty(); }
    const_iterator begin() const { return const_iterator(events_.begin()); }
    const_iterator end() const { return const_iterator(events_.end()); }
    const MidiMonitorEvent& front() const { return *events_.front(); }
    const MidiMonitorEvent& back() const { return *events_.back(); }

    // Positions of the oldest event and one past the newest.
    std::uint64_t firstPosition() const { return first_; }
    std::uint64_t endPosition() const { return first_ + events_.size(); }
    const MidiMonitorEvent& at(std::uint64_t position) const { return *share(position); }
    // The event at `position`, for a reader that keeps it: it stays valid after it leaves the buffer.
    const std::shared_ptr<const MidiMonitorEvent>& share(std::uint64_t position) const {
        return events_[static_cast<std::size_t>(position - first_)];
    }

    void push_back(MidiMonitorEvent event) {
        events_.push_back(std::make_shared<const MidiMonitorEvent>(std::move(event)));
    }
    void dropOldest(std::size_t count);
    void clear() { dropOldest(events_.size()); }
    // Makes the buffer hold `events`, all at new positions.
    void replace(const std::vector<MidiMonitorEvent>& events);

    std::vector<MidiMonitorEvent> toVector() const { return {begin(), end()}; }

private:
    Events events_;
    std::uint64_t first_ = 0;
};

}  // namespace norv
