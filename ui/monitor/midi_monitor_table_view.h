#pragma once
// The monitor's table: ten columns at their widths, the MPE badge beside expression messages,
// square corners and a thin outline. Rows can be selected; while the user has scrolled away from
// the newest row, rows arriving above stay out of sight instead of pushing the shown rows down.
// At the newest row, rows arriving on top move the painted rows down and only the new ones are
// painted.

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
    void doItemsLayout() override;
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    void keepShownRows(int first, int last, bool inserted);
    // Brings the painted rows along with rows inserted or removed while the view is at its top.
    void followRows(int first, int last, bool inserted);

    // What the scroll bars and headers are laid out from.
    struct Geometry {
        int rows = -1;
        QSize viewport;
        int width = 0;   // of all columns
        int height = 0;  // of all rows
        int header = 0;  // the column titles' height
        friend bool operator==(const Geometry&, const Geometry&) = default;
    };
    bool setRowsRange(const Geometry& before, const Geometry& now);
    Geometry laidOut_;

    MidiMonitorTableModel* model_;
    int topRow_ = -1;  // the first shown row before a change, while scrolled away from the top
    // What the row changes since the last layout left to paint: nothing, only what moving the
    // painted rows exposed, or the whole table.
    enum class Pending { nothing, moved, all };
    Pending pending_ = Pending::nothing;
};

}  // namespace norv
