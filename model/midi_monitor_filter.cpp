#include "model/midi_monitor_filter.h"

#include "model/text_rules.h"

#include <map>

namespace norv {

bool MidiMonitorFilter::passes(const MidiMonitorEvent& event) const {
    // Names compare as Unicode text: composed and decomposed spellings are the same name.
    if (role != all && !text_rules::canonicallyEqual(event.role, role)) return false;
    if (deviceId != all && !text_rules::canonicallyEqual(event.deviceId, deviceId)) return false;
    if (endpoint != all && !text_rules::canonicallyEqual(event.endpoint, endpoint)) return false;
    if (channel != 0 && event.channel != channel) return false;
    if (!families.contains(event.family())) return false;
    return event.matches(searchText);
}

std::vector<std::size_t> MidiMonitorFilter::filteredIndices(const std::vector<MidiMonitorEvent>& events) const {
    std::vector<std::size_t> result;
    result.reserve(events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (passes(events[i])) result.push_back(i);
    }
    return result;
}

std::vector<MidiMonitorEvent> MidiMonitorFilter::filteredEvents(const std::vector<MidiMonitorEvent>& events) const {
    std::vector<MidiMonitorEvent> result;
    for (const std::size_t i : filteredIndices(events)) result.push_back(events[i]);
    return result;
}

std::vector<std::string> MidiMonitorFilter::endpoints(const std::vector<MidiMonitorEvent>& events) {
    // UTF-8 byte order of the composed forms is Unicode scalar order; canonically equivalent
    // spellings are one name, shown as first seen.
    std::map<std::string, std::string> names;
    for (const MidiMonitorEvent& event : events)
        names.try_emplace(text_rules::canonicalKey(event.endpoint), event.endpoint);
    std::vector<std::string> result;
    result.reserve(names.size());
    for (auto& entry : names) result.push_back(std::move(entry.second));
    return result;
}

}  // namespace norv
