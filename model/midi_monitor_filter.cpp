#include "ui/monitor/midi_monitor_filter.h"

#include <QCollator>
#include <QLocale>
#include "model/text_rules.h"

#include <algorithm>
#include <map>
#include <set>

namespace norv {

namespace {

QString qt(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

MidiFamilySet MidiFamilySet::all() {
    MidiFamilySet set;
    set.bits_.fill(true);
    return set;
}

int MidiFamilySet::count() const {
    return static_cast<int>(std::count(bits_.begin(), bits_.end(), true));
}

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

std::vector<std::string> MidiMonitorFilter::deviceIds(const std::vector<MidiMonitorEvent>& events,
                                                      const DeviceLabel& label) {
    std::vector<std::string> ids;
    std::set<std::string> seen;
    for (const MidiMonitorEvent& event : events) {
        if (seen.insert(text_rules::canonicalKey(event.deviceId)).second)
            ids.push_back(event.deviceId);
    }
    std::vector<std::pair<QString, std::string>> keyed;
    keyed.reserve(ids.size());
    for (std::string& id : ids) keyed.emplace_back(qt(label(id)), std::move(id));
    QCollator collator(QLocale::system());
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(keyed.begin(), keyed.end(),
                     [&](const auto& a, const auto& b) { return collator.compare(a.first, b.first) < 0; });
    std::vector<std::string> result;
    result.reserve(keyed.size());
    for (auto& entry : keyed) result.push_back(std::move(entry.second));
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

QString MidiMonitorFilter::deviceFilterTitle(const DeviceLabel& label) const {
    return deviceId == all ? QStringLiteral("All Devices") : qt(label(deviceId));
}

QString MidiMonitorFilter::endpointFilterTitle() const {
    return endpoint == all ? QStringLiteral("All Endpoints") : qt(endpoint);
}

QString MidiMonitorFilter::channelFilterTitle() const {
    return channel == 0 ? QStringLiteral("All Channels") : channelTitle(channel);
}

QString MidiMonitorFilter::messageTypeFilterTitle() const {
    const int count = families.count();
    if (count == 0) return QStringLiteral("No Messages");
    if (count == 5) return QStringLiteral("All Messages");
    if (count == 1) {
        for (const MidiMessageFamily family : MidiMessageFamily::allCases()) {
            if (families.contains(family)) return familyTitle(family);
        }
    }
    return QString::number(count) + QStringLiteral(" Message Types");
}

QString MidiMonitorFilter::familyTitle(MidiMessageFamily family) {
    switch (family) {
        case MidiMessageFamily::notes: return QStringLiteral("Notes");
        case MidiMessageFamily::controlChange: return QStringLiteral("CC / Timbre");
        case MidiMessageFamily::pitchBend: return QStringLiteral("Pitch Bend");
        case MidiMessageFamily::pressure: return QStringLiteral("Pressure");
        case MidiMessageFamily::other: return QStringLiteral("Other");
    }
    return QStringLiteral("Other");
}

QString MidiMonitorFilter::channelTitle(int channel) { return QStringLiteral("Channel ") + QString::number(channel); }

QString MidiMonitorFilter::refreshRateTitle(MidiMonitorRefreshRate rate) {
    return QString::number(rate.rawValue()) + QStringLiteral(" Hz");
}

const std::array<MidiMonitorFilter::RouteSegment, 3>& MidiMonitorFilter::routeSegments() {
    static const std::array<RouteSegment, 3> segments{{
        {QStringLiteral("All Routes"), QStringLiteral("all")},
        {QStringLiteral("Instrument"), QStringLiteral("instrument")},
        {QStringLiteral("MIDI Surface"), QStringLiteral("surface")},
    }};
    return segments;
}

}  // namespace norv
