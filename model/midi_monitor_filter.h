#pragma once
// What decides which buffered MIDI monitor events the page shows and exports. A pure value: the
// store keeps one for the monitor page, and the page filters the store's buffer with it.

#include "model/midi_family_set.h"
#include "model/midi_message_family.h"
#include "model/midi_monitor_event.h"

#include <cstddef>
#include <string>
#include <vector>

namespace norv {

struct MidiMonitorFilter {
    static constexpr const char* all = "all";

    std::string role = all;      // "all", "instrument" or "surface"
    std::string deviceId = all;  // "all" or one device id
    std::string endpoint = all;  // "all" or one endpoint name
    int channel = 0;             // 0: every channel
    MidiFamilySet families = MidiFamilySet::all();
    std::string searchText;

    // Route, device, endpoint, channel, family, then search; the first failing test rejects.
    bool passes(const MidiMonitorEvent& event) const;
    // Positions in `events` of the passing events, oldest first.
    std::vector<std::size_t> filteredIndices(const std::vector<MidiMonitorEvent>& events) const;
    std::vector<MidiMonitorEvent> filteredEvents(const std::vector<MidiMonitorEvent>& events) const;

    // Endpoint names of the whole buffer, once each, in plain character order.
    static std::vector<std::string> endpoints(const std::vector<MidiMonitorEvent>& events);

    friend bool operator==(const MidiMonitorFilter&, const MidiMonitorFilter&) = default;
};

}  // namespace norv
