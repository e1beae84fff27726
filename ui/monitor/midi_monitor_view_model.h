#pragma once
// The texts and item lists of the MIDI monitor's filter menus, read from a filter and the buffer.

#include "model/midi_message_family.h"
#include "model/midi_monitor_event.h"
#include "model/midi_monitor_filter.h"
#include "model/midi_monitor_refresh_rate.h"

#include <QString>
#include <array>
#include <functional>
#include <string>
#include <vector>

namespace norv {

class MidiMonitorViewModel {
public:
    // Maps a device id to the label the menus show ("Shared" for "shared", the snapshot label,
    // else the id).
    using DeviceLabel = std::function<std::string(const std::string& deviceId)>;

    // Device ids of the whole buffer, once each, ordered by their labels ignoring case in the
    // user's locale (stable).
    static std::vector<std::string> deviceIds(const std::vector<MidiMonitorEvent>& events, const DeviceLabel& label);
    // The same from the ids once each, in the order they first occur in the buffer.
    static std::vector<std::string> sortedDeviceIds(std::vector<std::string> ids, const DeviceLabel& label);

    // Menu titles for the filter in force.
    static QString deviceFilterTitle(const MidiMonitorFilter& filter, const DeviceLabel& label);
    static QString endpointFilterTitle(const MidiMonitorFilter& filter);
    static QString channelFilterTitle(const MidiMonitorFilter& filter);
    static QString messageTypeFilterTitle(const MidiMonitorFilter& filter);

    static QString familyTitle(MidiMessageFamily family);
    static QString channelTitle(int channel);                      // "Channel 7"
    static QString refreshRateTitle(MidiMonitorRefreshRate rate);  // "10 Hz"

    struct RouteSegment {
        QString title;
        QString value;
    };
    static const std::array<RouteSegment, 3>& routeSegments();
};

}  // namespace norv
