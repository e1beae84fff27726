#include "ui/monitor/midi_monitor_csv_document.h"

#include "model/text_rules.h"

#include <QLocale>
#include <QSaveFile>
#include <QStringDecoder>
#include <cstdio>
#include <ctime>
#include <string_view>

namespace norv {

namespace {

constexpr const char* kHeader =
    "timestamp,local_time,sequence,device,device_id,route,endpoint,message,kind,channel,data,number,"
    "value,display_value,raw_hex,origin";

struct SplitTime {
    std::time_t seconds;
    int millis;
};

SplitTime split(std::int64_t ms) {
    std::int64_t seconds = ms / 1000;
    std::int64_t rest = ms % 1000;
    if (rest < 0) {
        rest += 1000;
        seconds -= 1;
    }
    return {static_cast<std::time_t>(seconds), static_cast<int>(rest)};
}

// Empty for an instant no time text shows.
std::string isoUtc(std::optional<std::int64_t> ms) {
    if (!ms) return {};
    const SplitTime t = split(*ms);
    std::tm utc{};
    if (gmtime_r(&t.seconds, &utc) == nullptr) return {};
    char buffer[96];  // room for any int the compiler can imagine
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, t.millis);
    return buffer;
}

}  // namespace

std::string MidiMonitorCSVDocument::quoted(const std::string& field) {
    // A carriage return is quoted too, so readers that split on CR LF keep the record whole.
    if (field.find_first_of(",\"\n\r") == std::string::npos) return field;
    std::string result;
    result.reserve(field.size() + 2);
    result += '"';
    for (const char c : field) {
        if (c == '"') result += '"';
        result += c;
    }
    result += '"';
    return result;
}

std::string MidiMonitorCSVDocument::asText(const std::string& field) {
    // A spreadsheet takes a cell that starts with one of these as a formula (a tab or carriage
    // return may hide one); the leading apostrophe makes it read the cell as text.
    if (field.empty() || std::string_view("=+-@\t\r").find(field.front()) == std::string_view::npos) return field;
    return '\'' + field;
}

MidiMonitorCSVDocument::MidiMonitorCSVDocument(const std::vector<MidiMonitorEvent>& events,
                                               const DeviceLabels& deviceLabels) {
    tzset();  // follow the system time zone as it is now
    // Keyed by canonical ids, so an id in any spelling finds its label.
    DeviceLabels labels;
    for (const auto& [id, label] : deviceLabels) labels.emplace(text_rules::canonicalKey(id), label);
    std::string text = kHeader;
    text += '\n';
    for (const MidiMonitorEvent& event : events) {
        // Both time columns show the instant the monitor table shows, through its formatter.
        // Text that comes from devices or the engine is written as text; the columns this
        // application formats itself stay as they are.
        const std::string* label = findMonitorDeviceLabel(labels, event.deviceId);
        const std::string fields[] = {
            isoUtc(MidiMonitorEvent::timestampMilliseconds(event.timestamp)),
            event.timeLabel(),
            std::to_string(event.sequence),
            asText(label != nullptr ? *label : event.deviceId),
            asText(event.deviceId),
            asText(event.role),
            asText(event.endpoint),
            asText(event.messageLabel()),  // an unknown kind's own words
            asText(event.kind),
            std::to_string(event.channel),
            event.dataLabel(),
            std::to_string(event.number),
            std::to_string(event.value),
            event.valueLabel(),
            event.byteLabel(),
            asText(event.source),
        };
        bool first = true;
        for (const std::string& field : fields) {
            if (!first) text += ',';
            first = false;
            text += quoted(field);
        }
        text += '\n';
    }
    csvText_ = std::move(text);
}

std::optional<MidiMonitorCSVDocument> MidiMonitorCSVDocument::read(const std::optional<QByteArray>& contents) {
    if (!contents) return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(*contents);
    if (decoder.hasError()) return std::nullopt;
    (void)decoded;
    return MidiMonitorCSVDocument(contents->toStdString());
}

std::optional<QString> MidiMonitorCSVDocument::writeAtomically(const QString& path) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return file.errorString();
    const QByteArray bytes = fileContents();
    if (file.write(bytes) != bytes.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return error;
    }
    if (!file.commit()) return file.errorString();
    return std::nullopt;
}

QString MidiMonitorCSVDocument::exportFilename(const QDateTime& now) {
    return QStringLiteral("Norv-MIDI-MPE-") +
           QLocale::c().toString(now.toLocalTime(), QStringLiteral("yyyy-MM-dd-HHmmss")) + QStringLiteral(".csv");
}

}  // namespace norv
