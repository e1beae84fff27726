#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/admin_decode_error.h"
#include "model/bridge_device.h"
#include "model/midi_message_family.h"

namespace norv {

// One MIDI message the engine saw, with the display rules the monitor, its table and its
// export share.
struct MidiMonitorEvent {
    std::int64_t sequence = 0;  // rising running number; the identity
    double timestamp = 0.0;     // seconds since 1970-01-01T00:00:00Z
    std::string deviceId{};
    std::string endpoint{};
    std::string role{};  // "instrument" marks the instrument route
    std::string kind{};  // "note", "cc", "pitch_bend", "poly_aftertouch", "channel_pressure", ...
    std::int64_t channel = 0;
    std::int64_t number = 0;
    std::int64_t value = 0;
    std::vector<std::int64_t> bytes{};
    std::string source{};

    std::int64_t id() const { return sequence; }

    MidiMessageFamily family() const;
    std::string messageLabel() const;
    std::string dataLabel() const;
    std::string valueLabel() const;
    bool isMPEExpression() const;
    // Bytes as upper-case hex pairs joined by spaces ("90 3C 64").
    std::string byteLabel() const;
    // Whether the trimmed `searchText` is empty or occurs, ignoring case, in the event's
    // endpoint, role, kind, labels, bytes, source, device id and "ch <channel>".
    bool matches(std::string_view searchText) const;
    // The time of day "HH:mm:ss.SSS" in the system time zone: the one formatter of every
    // event time text (the monitor table and the CSV's local time).
    std::string timeLabel() const { return formatTimestamp(timestamp); }
    static std::string formatTimestamp(double secondsSince1970);
    // The instant every time text of an event shows, in whole milliseconds since 1970: rounded
    // to the microsecond (so 1.001 does not read as 1.000 after a binary rounding error), then
    // cut to the millisecond as date formatters do. None when not finite or outside the years 1
    // to 9999: then no column shows a time.
    static std::optional<std::int64_t> timestampMilliseconds(double secondsSince1970);

    static MidiMonitorEvent decode(const nlohmann::json& json);
    friend bool operator==(const MidiMonitorEvent&, const MidiMonitorEvent&) = default;

private:
    static std::string noteName(std::int64_t number);
};

// Device id → label of a snapshot's devices, the first device of an id winning. Ids are keyed
// by their canonical form (text_rules::canonicalKey): composed and decomposed spellings of one
// id are one device, as they are to the monitor's filters and menus.
std::map<std::string, std::string> monitorDeviceLabels(const std::vector<BridgeDevice>& devices);
// The label `labels` (keyed by canonical ids) holds for `deviceId` in any spelling, or none.
const std::string* findMonitorDeviceLabel(const std::map<std::string, std::string>& labels,
                                          const std::string& deviceId);
// The name the monitor shows for a device id: "Shared" for "shared", else the device's label,
// else the id itself.
std::string monitorDeviceLabel(const std::map<std::string, std::string>& labels, const std::string& deviceId);

}  // namespace norv
