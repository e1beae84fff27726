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

protected:
    void updateGeometries() override;

private:
    void keepShownRows(int first, int last, bool inserted);

    // What the scroll bars and headers are laid out from.
    struct Geometry {
        int rows = -1;
        QSize viewport;
        int width = 0;   // of all columns
        int height = 0;  // of all rows
        int header = 0;  // the column titles' height
        friend bool operator==(const Geometry&, const Geometry&) = default;
    };
    Geometry laidOut_;

    MidiMonitorTableModel* model_;
    int topRow_ = -1;  // the first shown row before a change, while scrolled away from the top
};

}  // namespace norv
