#include "model/midi_monitor_index.h"

#include "model/text_rules.h"

#include <algorithm>
#include <utility>

namespace norv {

void MidiMonitorIndex::update(const MidiMonitorBuffer& buffer, const MidiMonitorFilter& filter) {
    // Positions only move forward within one buffer; anything else is a buffer of its own.
    if (&buffer != buffer_ || buffer.firstPosition() < first_ || buffer.endPosition() < end_) reset(buffer);
    dropBefore(std::min(buffer.firstPosition(), end_));
    if (buffer.firstPosition() > end_) first_ = end_ = buffer.firstPosition();
    if (!(filter == filter_)) {
        filter_ = filter;
        refilter(buffer);
    }
    while (end_ < buffer.endPosition()) take(buffer, end_);
}

void MidiMonitorIndex::reset(const MidiMonitorBuffer& buffer) {
    buffer_ = &buffer;
    ++generation_;
    first_ = end_ = buffer.firstPosition();
    names_.clear();
    passing_.clear();
    devices_.clear();
    endpoints_.clear();
}

void MidiMonitorIndex::dropBefore(std::uint64_t position) {
    const auto forget = [](Occurrences& occurrences, Occurrences::iterator found) {
        found->second.pop_front();
        if (found->second.empty()) occurrences.erase(found);
    };
    for (; first_ < position; ++first_) {
        forget(devices_, names_.front().device);
        forget(endpoints_, names_.front().endpoint);
        names_.pop_front();
    }
    while (!passing_.empty() && passing_.front() < first_) passing_.pop_front();
}

void MidiMonitorIndex::take(const MidiMonitorBuffer& buffer, std::uint64_t position) {
    const MidiMonitorEvent& event = buffer.at(position);
    const auto device = devices_.try_emplace(text_rules::canonicalKey(event.deviceId)).first;
    const auto endpoint = endpoints_.try_emplace(text_rules::canonicalKey(event.endpoint)).first;
    device->second.push_back(position);
    endpoint->second.push_back(position);
    names_.push_back({device, endpoint});
    if (filter_.passes(event)) passing_.push_back(position);
    end_ = position + 1;
}

void MidiMonitorIndex::refilter(const MidiMonitorBuffer& buffer) {
    ++generation_;
    passing_.clear();
    for (std::uint64_t position = first_; position < end_; ++position) {
        if (filter_.passes(buffer.at(position))) passing_.push_back(position);
    }
}

std::vector<MidiMonitorEvent> MidiMonitorIndex::filteredEvents(const MidiMonitorBuffer& buffer) const {
    std::vector<MidiMonitorEvent> events;
    events.reserve(passing_.size());
    for (const std::uint64_t position : passing_) events.push_back(buffer.at(position));
    return events;
}

std::vector<std::string> MidiMonitorIndex::deviceIds(const MidiMonitorBuffer& buffer) const {
    std::vector<std::uint64_t> oldest;
    oldest.reserve(devices_.size());
    for (const auto& entry : devices_) oldest.push_back(entry.second.front());
    std::sort(oldest.begin(), oldest.end());
    std::vector<std::string> ids;
    ids.reserve(oldest.size());
    for (const std::uint64_t position : oldest) ids.push_back(buffer.at(position).deviceId);
    return ids;
}

std::vector<std::string> MidiMonitorIndex::endpoints(const MidiMonitorBuffer& buffer) const {
    std::vector<std::string> names;
    names.reserve(endpoints_.size());
    for (const auto& entry : endpoints_) names.push_back(buffer.at(entry.second.front()).endpoint);
    return names;
}

}  // namespace norv
