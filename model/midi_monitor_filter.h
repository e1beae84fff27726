#pragma once
// What decides which buffered MIDI monitor events the page shows and exports, and the texts of
// the filter menus. Pure values: the page builds one from the store on every redraw.

#include "model/midi_message_family.h"
#include "model/midi_monitor_event.h"
#include "model/midi_monitor_refresh_rate.h"

#include <QString>
#include <array>
#include <functional>
#include <string>
#include <vector>

namespace norv {

// The five families as a set; the store's set converts into it once per redraw.
class MidiFamilySet {
public:
    static MidiFamilySet all();
    static MidiFamilySet none() { return {}; }

    bool contains(MidiMessageFamily family) const { return bits_[index(family)]; }
    void insert(MidiMessageFamily family) { bits_[index(family)] = true; }
    void remove(MidiMessageFamily family) { bits_[index(family)] = false; }
    int count() const;

    friend bool operator==(const MidiFamilySet&, const MidiFamilySet&) = default;

private:
    static std::size_t index(MidiMessageFamily family) { return static_cast<std::size_t>(family); }
    std::array<bool, 5> bits_{};
};

struct MidiMonitorFilter {
    // Maps a device id to the label the menus show ("Shared" for "shared", the snapshot label,
    // else the id).
    using DeviceLabel = std::function<std::string(const std::string& deviceId)>;

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

    // Device ids of the whole buffer, once each, ordered by their labels ignoring case in the
    // user's locale (stable).
    static std::vector<std::string> deviceIds(const std::vector<MidiMonitorEvent>& events,
                                              const DeviceLabel& label);
    // Endpoint names of the whole buffer, once each, in plain character order.
    static std::vector<std::string> endpoints(const std::vector<MidiMonitorEvent>& events);

    // Menu titles.
    QString deviceFilterTitle(const DeviceLabel& label) const;
    QString endpointFilterTitle() const;
    QString channelFilterTitle() const;
    QString messageTypeFilterTitle() const;

    static QString familyTitle(MidiMessageFamily family);
    static QString channelTitle(int channel);  // "Channel 7"
    static QString refreshRateTitle(MidiMonitorRefreshRate rate);  // "10 Hz"

    struct RouteSegment {
        QString title;
        QString value;
    };
    static const std::array<RouteSegment, 3>& routeSegments();
};

}  // namespace norv
