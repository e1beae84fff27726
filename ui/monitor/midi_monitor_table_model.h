#pragma once
// The monitor table: the newest 1000 matching events, newest on top, in ten columns.

#include "model/midi_monitor_buffer.h"
#include "ui/monitor/midi_monitor_cell_text.h"
#include "ui/monitor/midi_monitor_view_model.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QVariant>
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>
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

    // Shows the buffer's events at the `passing` positions (oldest first). Rows are the events'
    // buffer positions: new matching events are inserted at the top and those that left are
    // removed from the bottom, and only new rows are built, so a redraw costs what changed and
    // a view keeps its selection and scroll position. `label` names a device id.
    // `generation` names the passing list: while it stays, the list only gains events at its end
    // and loses them at its start, so only the table's ends are looked at.
    void refresh(const MidiMonitorBuffer& buffer, const std::deque<std::uint64_t>& passing, std::uint64_t generation,
                 const MidiMonitorViewModel::DeviceLabel& label);
    // The same from a list, filtered here or already (positions into `events`, oldest first).
    // Rows are then the events' sequences, matched by the general row edit script.
    void refresh(const std::vector<MidiMonitorEvent>& events, const MidiMonitorFilter& filter,
                 const MidiMonitorViewModel::DeviceLabel& label);
    void refresh(const std::vector<MidiMonitorEvent>& events, const std::vector<std::size_t>& filtered,
                 const MidiMonitorViewModel::DeviceLabel& label);

    const MidiMonitorEvent& event(int row) const { return *rows_[static_cast<std::size_t>(row)].event; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    static QString columnTitle(int column);

    // How a cell is drawn: its font (null: the view's), its colour (invalid: the palette's text),
    // and whether a message cell carries the MPE badge.
    const QFont* cellFont(int column) const;
    QColor cellColor(int row, int column) const;
    bool showsBadge(int row, int column) const;
    // The cell's text laid out for painting in `font`, kept with its row; valid until rows change.
    MidiMonitorCellText& paintedText(int row, int column, const QFont& font) const;

private:
    // What a row's cells are drawn with, made the first time the row is drawn: their laid-out
    // texts, each made from the event when its cell is first drawn.
    struct Texts {
        bool instrument = false;
        bool mpe = false;
        std::array<std::shared_ptr<MidiMonitorCellText>, columnTotal> painted{};
    };
    struct Row {
        std::int64_t key = 0;  // the buffer position, descending from the top row; from a list, the sequence
        std::shared_ptr<const MidiMonitorEvent> event;  // the buffer's, or a copy of a listed one
        mutable std::unique_ptr<Texts> texts;
    };
    struct DeviceName {
        QString label;
        int rows = 0;
    };
    template <typename KeyAt, typename EventAt>
    void show(const MidiMonitorBuffer& buffer, std::size_t wanted, KeyAt keyAt, EventAt eventAt,
              const MidiMonitorViewModel::DeviceLabel& label);
    void useSource(const void* source);
    void insertRows(std::size_t at, std::vector<Row> rows, const MidiMonitorViewModel::DeviceLabel& label);
    void removeRows(std::size_t at, std::size_t count);
    void relabel(const MidiMonitorViewModel::DeviceLabel& label);
    Texts& texts(const Row& row) const;
    QString text(const Row& row, int column) const;

    std::deque<Row> rows_;
    const void* source_ = nullptr;                         // the buffer the keys are positions of, or the list marker
    std::uint64_t generation_ = 0;                         // of the passing list last shown from the buffer
    std::unordered_map<std::string, DeviceName> devices_;  // device id → its label and row count
    QFont time_;  // the time stamps' small monospaced font
    QFont mono_;  // the monospaced body font
    QFont small_;
    QColor secondary_;
    QColor teal_;
    QColor violet_;
    mutable MidiMonitorCellText::Cache painted_{columnTotal};
};

}  // namespace norv
