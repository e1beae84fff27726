#pragma once
// The monitor's table: ten columns at their widths, the MPE badge beside expression messages,
// square corners and a thin outline.

#include "ui/monitor/midi_monitor_table_model.h"

#include <QTableView>

namespace norv {

class MidiMonitorTableView : public QTableView {
    Q_OBJECT
public:
    explicit MidiMonitorTableView(QWidget* parent = nullptr);

    MidiMonitorTableModel* monitorModel() const { return model_; }

private:
    MidiMonitorTableModel* model_;
};

}  // namespace norv
