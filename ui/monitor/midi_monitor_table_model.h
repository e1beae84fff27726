#pragma once
// The monitor table: the newest 1000 matching events, newest on top, in ten columns.

#include "ui/monitor/midi_monitor_view_model.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QHash>
#include <vector>

namespace norv {

class MidiMonitorTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kMaxRows = 1000;
    enum Column {
        timeColumn,
        deviceColumn,
        routeColumn,
        messageColumn,
        channelColumn,
        dataColumn,
        valueColumn,
        rawColumn,
        endpointColumn,
        originColumn,
        columnTotal
    };
    // Extra roles the delegate reads.
    static constexpr int MpeRole = Qt::UserRole + 1;

    explicit MidiMonitorTableModel(QObject* parent = nullptr);

    // Re-reads the rows from the buffer as filtered now. `label` names a device id. Rows change
    // by insertion and removal, so a view keeps its selection and scroll position.
    void refresh(const std::vector<MidiMonitorEvent>& events, const MidiMonitorFilter& filter,
                 const MidiMonitorViewModel::DeviceLabel& label);
    // The same from an already filtered list (positions into `events`, oldest first).
    void refresh(const std::vector<MidiMonitorEvent>& events, const std::vector<std::size_t>& filtered,
                 const MidiMonitorViewModel::DeviceLabel& label);

    const MidiMonitorEvent& event(int row) const { return rows_[static_cast<std::size_t>(row)].event; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    static QString columnTitle(int column);

private:
    struct Row {
        MidiMonitorEvent event;
        QString time;
        QString device;
        QString message;
        QString data;
        QString value;
        QString raw;
        QString endpoint;
        QString origin;
        friend bool operator==(const Row&, const Row&) = default;
    };
    bool unchanged(const std::vector<MidiMonitorEvent>& events, const std::vector<std::size_t>& filtered,
                   const MidiMonitorViewModel::DeviceLabel& label) const;
    void moveTo(std::vector<Row> wanted);
    QString text(const Row& row, int column) const;

    std::vector<Row> rows_;
    QFont mono_;
    QFont small_;
};

}  // namespace norv
