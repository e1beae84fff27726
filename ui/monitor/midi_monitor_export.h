#pragma once
// The monitor's Export action: proposes a file name in the user's documents folder, asks where
// to save, writes the CSV through a temporary file and reports a failure in the "Export failed"
// alert.

#include "ui/monitor/midi_monitor_csv_document.h"

#include <QDateTime>

namespace norv {

class DialogService;

class MidiMonitorExport {
public:
    enum class Outcome { cancelled, written, failed };

    // `events` are the filtered events, oldest first, as they stand at the press.
    // `writtenTo`, when given, gets the written file's path.
    static Outcome run(DialogService& dialogs, const std::vector<MidiMonitorEvent>& events,
                       const MidiMonitorCSVDocument::DeviceLabels& labels, const QDateTime& now,
                       QString* writtenTo = nullptr);

    // The alert's message for a failure text (a default when the text is empty).
    static QString failureMessage(const QString& error);
};

}  // namespace norv
