#include "model/midi_monitor_buffer.h"

#include <algorithm>

namespace norv {

void MidiMonitorBuffer::dropOldest(std::size_t count) {
    count = std::min(count, events_.size());
    events_.erase(events_.begin(), events_.begin() + static_cast<std::ptrdiff_t>(count));
    first_ += count;
}

void MidiMonitorBuffer::replace(const std::vector<MidiMonitorEvent>& events) {
    clear();
    for (const MidiMonitorEvent& event : events) push_back(event);
}

}  // namespace norv
