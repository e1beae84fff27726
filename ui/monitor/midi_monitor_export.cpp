#include "ui/monitor/midi_monitor_export.h"

#include "core/dialog_service.h"
#include "ui/components/save_panel_path.h"

namespace norv {

QString MidiMonitorExport::failureMessage(const QString& error) {
    return error.isEmpty() ? QStringLiteral("The monitor log could not be exported.") : error;
}

MidiMonitorExport::Outcome MidiMonitorExport::run(DialogService& dialogs, const std::vector<MidiMonitorEvent>& events,
                                                  const MidiMonitorCSVDocument::DeviceLabels& labels,
                                                  const QDateTime& now, QString* writtenTo) {
    // The document is copied at the press: events arriving while the panel is open stay out.
    const MidiMonitorCSVDocument document(events, labels);
    FilePanelRequest request;
    request.directory = saveFolder();
    request.proposedName = MidiMonitorCSVDocument::exportFilename(now);
    request.nameFilters = {QStringLiteral("CSV files (*.csv)")};
    request.defaultSuffix = QStringLiteral("csv");
    const auto chosen = dialogs.choosePathToSave(request);
    if (!chosen || chosen->isEmpty()) return Outcome::cancelled;
    const QString path = withFileExtension(*chosen, QStringLiteral(".csv"));
    if (const auto error = document.writeAtomically(path)) {
        dialogs.alert(QStringLiteral("Export failed"), failureMessage(*error));
        return Outcome::failed;
    }
    if (writtenTo) *writtenTo = path;
    return Outcome::written;
}

}  // namespace norv
