#pragma once
// The text of one MIDI monitor export: a header and one comma-separated line per event.

#include "model/midi_monitor_event.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace norv {

class MidiMonitorCSVDocument {
public:
    // Device id → the label written in the device column; ids it lacks are written as the id.
    // Canonically equal spellings of an id are one id.
    using DeviceLabels = std::map<std::string, std::string>;

    MidiMonitorCSVDocument(const std::vector<MidiMonitorEvent>& events, const DeviceLabels& deviceLabels);

    // The file's bytes as read back: valid UTF-8 gives the document with that text unchanged;
    // absent contents or invalid UTF-8 give none (the file is corrupt).
    static std::optional<MidiMonitorCSVDocument> read(const std::optional<QByteArray>& regularFileContents);

    const std::string& csvText() const { return csvText_; }
    QByteArray fileContents() const { return QByteArray::fromStdString(csvText_); }

    // Writes the bytes through a temporary file that replaces `path` only once complete, so a
    // failure never leaves a partial or truncated file. Returns the failure's text, or none.
    std::optional<QString> writeAtomically(const QString& path) const;

    // "Norv-MIDI-MPE-yyyy-MM-dd-HHmmss.csv" in the system time zone.
    static QString exportFilename(const QDateTime& now);

    // One field as written: quoted when it holds a comma, a double quote, a line feed or a
    // carriage return.
    static std::string quoted(const std::string& field);
    // A field of free text (names and words from devices or the engine) as written, before
    // quoting: one that starts with "=", "+", "-", "@", a tab or a carriage return gets a leading
    // apostrophe, so a spreadsheet reads it as text rather than a formula.
    static std::string asText(const std::string& field);

private:
    explicit MidiMonitorCSVDocument(std::string text) : csvText_(std::move(text)) {}

    std::string csvText_;
};

}  // namespace norv
