#include "ui/monitor/midi_monitor_view_model.h"

#include "model/text_rules.h"

#include <QCollator>
#include <QLocale>
#include <algorithm>
#include <set>

namespace norv {

namespace {

QString qt(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

std::vector<std::string> MidiMonitorViewModel::deviceIds(const std::vector<MidiMonitorEvent>& events,
                                                     const DeviceLabel& label) {
    std::vector<std::string> ids;
    std::set<std::string> seen;
    for (const MidiMonitorEvent& event : events) {
        if (seen.insert(text_rules::canonicalKey(event.deviceId)).second)
            ids.push_back(event.deviceId);
    }
    return sortedDeviceIds(std::move(ids), label);
}

std::vector<std::string> MidiMonitorViewModel::sortedDeviceIds(std::vector<std::string> ids, const DeviceLabel& label) {
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

QString MidiMonitorViewModel::deviceFilterTitle(const MidiMonitorFilter& filter, const DeviceLabel& label) {
    return filter.deviceId == MidiMonitorFilter::all ? QStringLiteral("All Devices") : qt(label(filter.deviceId));
}

QString MidiMonitorViewModel::endpointFilterTitle(const MidiMonitorFilter& filter) {
    return filter.endpoint == MidiMonitorFilter::all ? QStringLiteral("All Endpoints") : qt(filter.endpoint);
}

QString MidiMonitorViewModel::channelFilterTitle(const MidiMonitorFilter& filter) {
    return filter.channel == 0 ? QStringLiteral("All Channels") : channelTitle(filter.channel);
}

QString MidiMonitorViewModel::messageTypeFilterTitle(const MidiMonitorFilter& filter) {
    const int count = filter.families.count();
    if (count == 0) return QStringLiteral("No Messages");
    if (count == 5) return QStringLiteral("All Messages");
    if (count == 1) {
        for (const MidiMessageFamily family : MidiMessageFamily::allCases()) {
            if (filter.families.contains(family)) return familyTitle(family);
        }
    }
    return QString::number(count) + QStringLiteral(" Message Types");
}

QString MidiMonitorViewModel::familyTitle(MidiMessageFamily family) {
    switch (family) {
        case MidiMessageFamily::notes: return QStringLiteral("Notes");
        case MidiMessageFamily::controlChange: return QStringLiteral("CC / Timbre");
        case MidiMessageFamily::pitchBend: return QStringLiteral("Pitch Bend");
        case MidiMessageFamily::pressure: return QStringLiteral("Pressure");
        case MidiMessageFamily::other: return QStringLiteral("Other");
    }
    return QStringLiteral("Other");
}

QString MidiMonitorViewModel::channelTitle(int channel) { return QStringLiteral("Channel ") + QString::number(channel); }

QString MidiMonitorViewModel::refreshRateTitle(MidiMonitorRefreshRate rate) {
    return QString::number(rate.rawValue()) + QStringLiteral(" Hz");
}

const std::array<MidiMonitorViewModel::RouteSegment, 3>& MidiMonitorViewModel::routeSegments() {
    static const std::array<RouteSegment, 3> segments{{
        {QStringLiteral("All Routes"), QStringLiteral("all")},
        {QStringLiteral("Instrument"), QStringLiteral("instrument")},
        {QStringLiteral("MIDI Surface"), QStringLiteral("surface")},
    }};
    return segments;
}

}  // namespace norv
