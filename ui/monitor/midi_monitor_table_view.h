#pragma once
// The monitor's table: ten columns at their widths, the MPE badge beside expression messages,
// square corners and a thin outline. Rows can be selected; while the user has scrolled away from
// the newest row, rows arriving above stay out of sight instead of pushing the shown rows down.

#include "ui/monitor/midi_monitor_table_model.h"

#include <QTableView>

namespace norv {

class MidiMonitorTableView : public QTableView {
    Q_OBJECT
public:
    explicit MidiMonitorTableView(QWidget* parent = nullptr);

    MidiMonitorTableModel* monitorModel() const { return model_; }

private:
    void keepShownRows(int first, int last, bool inserted);

    MidiMonitorTableModel* model_;
    int topRow_ = -1;  // the first shown row before a change, while scrolled away from the top
};

}  // namespace norv
