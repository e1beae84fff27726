#pragma once
// The monitor table: the newest 1000 matching events, newest on top, in ten columns.

#include "model/midi_monitor_buffer.h"
#include "ui/monitor/midi_monitor_view_model.h"

#include <QAbstractTableModel>
#include <QFont>
#include <QHash>
#include <QStaticText>
#include <QVariant>
#include <array>
#include <cstdint>
#include <deque>
#include <optional>
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

    const MidiMonitorEvent& event(int row) const { return rows_[static_cast<std::size_t>(row)].event; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    static QString columnTitle(int column);

    // The cell's text laid out for painting. Cells of a column share the layout of one text
    // (most texts recur: messages, routes, channels, endpoints), so a redraw lays out only the
    // texts it has not drawn lately. A new text is laid out in `font`, so its size is the one it is
    // drawn at from its first paint on. Valid until the next call.
    const QStaticText& paintedText(const QModelIndex& index, const QFont& font) const;

private:
    // A row's texts, made the first time the row is drawn.
    struct Texts {
        QString time, message, channel, data, value, raw, endpoint, origin;
        bool instrument = false;
        bool mpe = false;
    };
    struct Row {
        std::int64_t key = 0;  // the buffer position, descending from the top row; from a list, the sequence
        MidiMonitorEvent event;
        mutable std::optional<Texts> texts;
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
    const Texts& texts(const Row& row) const;
    QString text(const Row& row, int column) const;

    std::deque<Row> rows_;
    const void* source_ = nullptr;  // the buffer the keys are positions of, or the list marker
    std::uint64_t generation_ = 0;  // of the passing list last shown from the buffer
    std::unordered_map<std::string, DeviceName> devices_;  // device id → its label and row count
    mutable std::array<QHash<QString, QStaticText>, columnTotal> laidOut_;
    QVariant mono_;
    QVariant small_;
    QVariant secondary_;
    QVariant teal_;
    QVariant violet_;
};

}  // namespace norv
