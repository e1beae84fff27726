#pragma once
// What the monitor page shows of its buffer, kept up to date as events enter and leave: the
// positions of the events that pass the filter, and the device ids and endpoint names that occur.
// Each new event is looked at once, when it arrives; a new filter walks the buffer once. Gives
// exactly what the plain walks of MidiMonitorFilter and MidiMonitorViewModel give.

#include "model/midi_monitor_buffer.h"
#include "model/midi_monitor_filter.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace norv {

class MidiMonitorIndex {
public:
    // Follows `buffer` as it stands now, under `filter`. A buffer other than the last one is
    // read afresh.
    void update(const MidiMonitorBuffer& buffer, const MidiMonitorFilter& filter);

    // Positions of the passing events, oldest first.
    const std::deque<std::uint64_t>& passing() const { return passing_; }
    // Changes when the passing list is made afresh (a new filter or buffer); in between it only
    // gains events at its end and loses them at its start.
    std::uint64_t generation() const { return generation_; }
    std::vector<MidiMonitorEvent> filteredEvents(const MidiMonitorBuffer& buffer) const;
    // Device ids of the buffer, once each, in the order they first occur.
    std::vector<std::string> deviceIds(const MidiMonitorBuffer& buffer) const;
    // Endpoint names of the buffer, once each, in plain character order.
    std::vector<std::string> endpoints(const MidiMonitorBuffer& buffer) const;

private:
    // Positions of the buffered events that carry one name (canonically equal spellings are one
    // name); the oldest one's spelling is the one shown.
    using Occurrences = std::map<std::string, std::deque<std::uint64_t>>;
    struct Names {
        Occurrences::iterator device;
        Occurrences::iterator endpoint;
    };

    void reset(const MidiMonitorBuffer& buffer);
    void dropBefore(std::uint64_t position);
    void take(const MidiMonitorBuffer& buffer, std::uint64_t position);
    void refilter(const MidiMonitorBuffer& buffer);

    const MidiMonitorBuffer* buffer_ = nullptr;
    MidiMonitorFilter filter_;
    std::uint64_t first_ = 0;  // the buffer's positions this index holds
    std::uint64_t end_ = 0;
    std::deque<Names> names_;  // per held event, oldest first
    std::deque<std::uint64_t> passing_;
    std::uint64_t generation_ = 0;
    Occurrences devices_;
    Occurrences endpoints_;
};

}  // namespace norv
