#include "model/midi_monitor_event.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "model/admin_json_reader.h"
#include "model/text_rules.h"

namespace norv {

namespace {

constexpr std::string_view kSeparator = "  ·  ";
constexpr std::string_view kDash = "—";

// Kind name words capitalised: "program_change" -> "Program Change".
std::string capitalisedWords(std::string_view kind) {
    std::string out(kind);
    bool wordStart = true;
    for (char& c : out) {
        if (c == '_') c = ' ';
        const bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        if (wordStart && c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (!wordStart && c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        wordStart = space;
    }
    return out;
}

}  // namespace

MidiMonitorEvent MidiMonitorEvent::decode(const nlohmann::json& json) {
    const AdminJsonReader r(json);
    return MidiMonitorEvent{
        .sequence = r.get<std::int64_t>("sequence"),
        .timestamp = r.get<double>("timestamp"),
        .deviceId = r.get<std::string>("deviceId"),
        .endpoint = r.get<std::string>("endpoint"),
        .role = r.get<std::string>("role"),
        .kind = r.get<std::string>("kind"),
        .channel = r.get<std::int64_t>("channel"),
        .number = r.get<std::int64_t>("number"),
        .value = r.get<std::int64_t>("value"),
        .bytes = r.get<std::vector<std::int64_t>>("bytes"),
        .source = r.get<std::string>("source"),
    };
}

MidiMessageFamily MidiMonitorEvent::family() const {
    if (kind == "note") return MidiMessageFamily::notes;
    if (kind == "cc") return MidiMessageFamily::controlChange;
    if (kind == "pitch_bend") return MidiMessageFamily::pitchBend;
    if (kind == "poly_aftertouch" || kind == "channel_pressure") return MidiMessageFamily::pressure;
    return MidiMessageFamily::other;
}

std::string MidiMonitorEvent::messageLabel() const {
    if (kind == "note") return value != 0 ? "Note On" : "Note Off";
    if (kind == "cc") return number == 74 ? "MPE Timbre" : "Control Change";
    if (kind == "pitch_bend") return "Pitch Bend";
    if (kind == "poly_aftertouch") return "Poly Pressure";
    if (kind == "channel_pressure") return "Channel Pressure";
    return capitalisedWords(kind);
}

std::string MidiMonitorEvent::dataLabel() const {
    if (kind == "note" || kind == "poly_aftertouch") {
        return noteName(number) + std::string(kSeparator) + std::to_string(number);
    }
    if (kind == "cc") return number == 74 ? "Timbre  ·  CC 74" : "CC " + std::to_string(number);
    if (kind == "pitch_bend" || kind == "channel_pressure") return std::string(kDash);
    return number == 0 ? std::string(kDash) : std::to_string(number);
}

std::string MidiMonitorEvent::valueLabel() const {
    if (kind != "pitch_bend") return std::to_string(value);
    // Difference in floating point: no overflow for extreme values.
    const double d = (static_cast<double>(value) - 8192.0) / 8191.0;
    const double percent = d >= 1.0 ? 100.0 : std::max(d, -1.0) * 100.0;
    // "%+.1f%%  ·  %d", with a point in every locale.
    std::string text = text_rules::fixedDecimal(percent, 1);
    if (text.empty() || text.front() != '-') text.insert(text.begin(), '+');
    return text + "%" + std::string(kSeparator) + std::to_string(value);
}

bool MidiMonitorEvent::isMPEExpression() const {
    if (role != "instrument") return false;
    if (kind == "cc") return number == 74;
    return kind == "pitch_bend" || kind == "poly_aftertouch" || kind == "channel_pressure";
}

std::string MidiMonitorEvent::byteLabel() const {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const std::int64_t byte : bytes) {
        if (!out.empty()) out.push_back(' ');
        const auto value = static_cast<unsigned>(byte);
        if (value > 0xFF) {  // more than two digits, as printf gives them
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "%02X", value);
            out += buffer;
            continue;
        }
        out.push_back(kHex[value >> 4]);
        out.push_back(kHex[value & 0xF]);
    }
    return out;
}

bool MidiMonitorEvent::matches(std::string_view searchText) const {
    const std::string_view query = text_rules::trimmed(searchText);
    if (query.empty()) return true;
    // Every event of the buffer is matched when the search changes: the parts are appended where
    // they are, not copied first.
    std::string haystack;
    haystack.reserve(160);
    const auto add = [&haystack](const std::string& part) {
        haystack += part;
        haystack.push_back(' ');
    };
    add(endpoint);
    add(role);
    add(kind);
    add(messageLabel());
    add(dataLabel());
    add(valueLabel());
    add(byteLabel());
    add(source);
    add(deviceId);
    haystack += "ch ";
    haystack += std::to_string(channel);
    return text_rules::containsIgnoringCase(haystack, query);
}

std::optional<std::int64_t> MidiMonitorEvent::timestampMilliseconds(double secondsSince1970) {
    constexpr std::int64_t kMinMs = -62135596800000LL;  // 0001-01-01T00:00:00.000Z
    constexpr std::int64_t kEndMs = 253402300800000LL;  // 10000-01-01T00:00:00.000Z
    if (!std::isfinite(secondsSince1970)) return std::nullopt;
    const double micros = std::round(secondsSince1970 * 1e6);
    // Both bounds are exact as doubles.
    if (micros < static_cast<double>(kMinMs) * 1000.0 || micros >= static_cast<double>(kEndMs) * 1000.0)
        return std::nullopt;
    const auto whole = static_cast<std::int64_t>(micros);
    return whole >= 0 ? whole / 1000 : -((-whole + 999) / 1000);
}

std::string MidiMonitorEvent::formatTimestamp(double secondsSince1970) {
    const std::optional<std::int64_t> instant = timestampMilliseconds(secondsSince1970);
    if (!instant) return {};
    const std::int64_t totalMs = *instant;
    const std::int64_t wholeSeconds = totalMs >= 0 ? totalMs / 1000 : -((-totalMs + 999) / 1000);
    const auto ms = static_cast<int>(totalMs - wholeSeconds * 1000);
    const auto seconds = static_cast<std::time_t>(wholeSeconds);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return {};
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, ms);
    return buffer;
}

std::string MidiMonitorEvent::noteName(std::int64_t number) {
    static constexpr std::string_view kNames[12] = {"C",  "C♯", "D",  "D♯", "E",  "F",
                                                    "F♯", "G",  "G♯", "A",  "A♯", "B"};
    const std::int64_t n = std::clamp<std::int64_t>(number, 0, 127);
    return std::string(kNames[n % 12]) + std::to_string(n / 12 - 1);
}

std::map<std::string, std::string> monitorDeviceLabels(const std::vector<BridgeDevice>& devices) {
    std::map<std::string, std::string> labels;
    for (const BridgeDevice& device : devices) labels.emplace(text_rules::canonicalKey(device.deviceId), device.label);
    return labels;
}

const std::string* findMonitorDeviceLabel(const std::map<std::string, std::string>& labels,
                                          const std::string& deviceId) {
    if (labels.empty()) return nullptr;
    auto found = labels.find(deviceId);  // most ids are already in their canonical form
    if (found == labels.end()) found = labels.find(text_rules::canonicalKey(deviceId));
    return found != labels.end() ? &found->second : nullptr;
}

std::string monitorDeviceLabel(const std::map<std::string, std::string>& labels, const std::string& deviceId) {
    if (deviceId == "shared") return "Shared";
    const std::string* label = findMonitorDeviceLabel(labels, deviceId);
    return label != nullptr ? *label : deviceId;
}

}  // namespace norv
