#include "ui/monitor/midi_monitor_table_model.h"

#include "ui/components/row_edit_script.h"
#include "ui/theme/norv_theme.h"

#include <iterator>

namespace norv {

namespace {

QString qt(const std::string& text) { return QString::fromStdString(text); }

// The key space of rows shown from a list rather than a buffer.
constexpr char kListSource = 0;

// A name drawn on one line: its line breaks become spaces.
void oneLine(QString& text) {
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x0a && u <= 0x0d) || u == 0x85 || u == 0x2028 || u == 0x2029) c = QLatin1Char(' ');
    }
}

}  // namespace

MidiMonitorTableModel::MidiMonitorTableModel(QObject* parent)
    : QAbstractTableModel(parent),
      time_(NorvTheme::systemFont(11, QFont::Normal, true)),
      mono_(NorvTheme::systemFont(NorvTheme::bodyFont().pixelSize(), QFont::Normal, true)),
      small_(NorvTheme::systemFont(9, QFont::Bold, true)),
      secondary_(NorvTheme::secondary()),
      teal_(NorvTheme::teal()),
      violet_(NorvTheme::violet()) {}

void MidiMonitorTableModel::refresh(const MidiMonitorBuffer& buffer, const std::deque<std::uint64_t>& passing,
                                    std::uint64_t generation, const MidiMonitorViewModel::DeviceLabel& label) {
    const std::size_t shown = std::min<std::size_t>(passing.size(), kMaxRows);
    const auto keyAt = [&](std::size_t j) { return static_cast<std::int64_t>(passing[passing.size() - 1 - j]); };
    // Rows share the buffer's events.
    const auto eventAt = [&](std::size_t j) -> const std::shared_ptr<const MidiMonitorEvent>& {
        return buffer.share(static_cast<std::uint64_t>(keyAt(j)));
    };
    const bool endsOnly = source_ == &buffer && generation == generation_;
    generation_ = generation;
    if (endsOnly) {
        // The newest rows go on top; those below the oldest wanted row have left.
        std::size_t count = 0;
        while (count < shown && (rows_.empty() || keyAt(count) > rows_.front().key)) ++count;
        std::vector<Row> fresh;
        fresh.reserve(count);
        for (std::size_t j = 0; j < count; ++j) fresh.push_back(Row{keyAt(j), eventAt(j), nullptr});
        insertRows(0, std::move(fresh), label);
        std::size_t kept = rows_.size();
        while (kept > 0 && (shown == 0 || rows_[kept - 1].key < keyAt(shown - 1))) --kept;
        removeRows(kept, rows_.size() - kept);
        if (rows_.size() == shown) {
            relabel(label);
            return;
        }
    }
    // A position names one event for the buffer's lifetime: a kept row needs no second look.
    show(buffer, shown, keyAt, eventAt, label);
}

void MidiMonitorTableModel::useSource(const void* source) {
    if (source == source_) return;
    removeRows(0, rows_.size());
    source_ = source;
}

void MidiMonitorTableModel::refresh(const std::vector<MidiMonitorEvent>& events, const MidiMonitorFilter& filter,
                                    const MidiMonitorViewModel::DeviceLabel& label) {
    refresh(events, filter.filteredIndices(events), label);
}

void MidiMonitorTableModel::refresh(const std::vector<MidiMonitorEvent>& events,
                                    const std::vector<std::size_t>& filtered,
                                    const MidiMonitorViewModel::DeviceLabel& label) {
    useSource(&kListSource);
    const std::size_t shown = std::min<std::size_t>(filtered.size(), kMaxRows);
    std::vector<Row> wanted;
    wanted.reserve(shown);
    for (std::size_t j = 0; j < shown; ++j) {
        const MidiMonitorEvent& event = events[filtered[filtered.size() - 1 - j]];
        wanted.push_back(Row{event.sequence, std::make_shared<const MidiMonitorEvent>(event), nullptr});
    }
    const auto keys = [](const auto& rows) {
        std::vector<std::int64_t> sequences;
        sequences.reserve(rows.size());
        for (const Row& row : rows) sequences.push_back(row.key);
        return sequences;
    };
    applyRowEdits(
        keys(rows_), keys(wanted), [this](int row, int count) { removeRows(row, count); },
        [&](int row, int first, int count) {
            std::vector<Row> rows;
            for (auto j = static_cast<std::size_t>(first); j < static_cast<std::size_t>(first + count); ++j)
                rows.push_back(Row{wanted[j].key, wanted[j].event, nullptr});
            insertRows(row, std::move(rows), label);
        });
    // A kept sequence may carry other values now: its row is made again.
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (*rows_[i].event == *wanted[i].event) continue;
        removeRows(i, 1);
        std::vector<Row> again;
        again.push_back(std::move(wanted[i]));
        insertRows(i, std::move(again), label);
    }
    relabel(label);
}

// Both key lists descend, so one pass over them finds the rows to keep, to insert and to remove,
// each in runs; the common redraw inserts at the top and removes at the bottom.
template <typename KeyAt, typename EventAt>
void MidiMonitorTableModel::show(const MidiMonitorBuffer& buffer, std::size_t wanted, KeyAt keyAt, EventAt eventAt,
                                 const MidiMonitorViewModel::DeviceLabel& label) {
    useSource(&buffer);
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < rows_.size() || j < wanted) {
        if (i < rows_.size() && j < wanted && rows_[i].key == keyAt(j)) {
            ++i;
            ++j;
        } else if (i < rows_.size() && (j == wanted || rows_[i].key > keyAt(j))) {
            std::size_t end = i + 1;
            while (end < rows_.size() && (j == wanted || rows_[end].key > keyAt(j))) ++end;
            removeRows(i, end - i);
        } else {
            std::vector<Row> fresh;
            for (; j < wanted && (i == rows_.size() || keyAt(j) > rows_[i].key); ++j)
                fresh.push_back(Row{keyAt(j), eventAt(j), nullptr});
            const std::size_t count = fresh.size();
            insertRows(i, std::move(fresh), label);
            i += count;
        }
    }
    relabel(label);
}

void MidiMonitorTableModel::insertRows(std::size_t at, std::vector<Row> rows,
                                       const MidiMonitorViewModel::DeviceLabel& label) {
    if (rows.empty()) return;
    const int first = static_cast<int>(at);
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    for (const Row& row : rows) {
        DeviceName& name = devices_[row.event->deviceId];
        if (name.rows++ == 0) name.label = qt(label(row.event->deviceId));
    }
    if (at == 0) {
        // The common redraw: rows on top, the newest first.
        for (auto row = rows.rbegin(); row != rows.rend(); ++row) rows_.push_front(std::move(*row));
    } else {
        const auto where = rows_.begin() + static_cast<std::ptrdiff_t>(at);
        rows_.insert(where, std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    }
    endInsertRows();
}

void MidiMonitorTableModel::removeRows(std::size_t at, std::size_t count) {
    if (count == 0) return;
    const int first = static_cast<int>(at);
    beginRemoveRows({}, first, first + static_cast<int>(count) - 1);
    const auto from = rows_.begin() + static_cast<std::ptrdiff_t>(at);
    const auto to = from + static_cast<std::ptrdiff_t>(count);
    for (auto row = from; row != to; ++row) {
        const auto name = devices_.find(row->event->deviceId);
        if (--name->second.rows == 0) devices_.erase(name);
    }
    rows_.erase(from, to);
    endRemoveRows();
}

// A device renamed in the snapshot: its rows' Device cells are redrawn in place.
void MidiMonitorTableModel::relabel(const MidiMonitorViewModel::DeviceLabel& label) {
    bool renamed = false;
    for (auto& [id, name] : devices_) {
        QString now = qt(label(id));
        if (now == name.label) continue;
        name.label = std::move(now);
        renamed = true;
    }
    if (!renamed) return;
    for (const Row& row : rows_) {
        if (row.texts) row.texts->painted[deviceColumn].reset();
    }
    Q_EMIT dataChanged(index(0, deviceColumn), index(rowCount() - 1, deviceColumn));
}

MidiMonitorTableModel::Texts& MidiMonitorTableModel::texts(const Row& row) const {
    if (!row.texts) {
        const MidiMonitorEvent& e = *row.event;
        row.texts = std::make_unique<Texts>(Texts{e.role == "instrument", e.isMPEExpression()});
    }
    return *row.texts;
}

int MidiMonitorTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int MidiMonitorTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columnTotal; }

QString MidiMonitorTableModel::columnTitle(int column) {
    switch (column) {
        case timeColumn: return QStringLiteral("Time");
        case deviceColumn: return QStringLiteral("Device");
        case routeColumn: return QStringLiteral("Route");
        case messageColumn: return QStringLiteral("Message");
        case channelColumn: return QStringLiteral("Ch");
        case dataColumn: return QStringLiteral("Data");
        case valueColumn: return QStringLiteral("Value");
        case rawColumn: return QStringLiteral("Raw");
        case endpointColumn: return QStringLiteral("Endpoint");
        case originColumn: return QStringLiteral("Origin");
        default: return {};
    }
}

QString MidiMonitorTableModel::text(const Row& row, int column) const {
    const MidiMonitorEvent& e = *row.event;
    switch (column) {
        case timeColumn: return qt(e.timeLabel());
        case deviceColumn: return devices_.at(e.deviceId).label;
        case routeColumn: return e.role == "instrument" ? QStringLiteral("INSTRUMENT") : QStringLiteral("MIDI SURFACE");
        case messageColumn: return qt(e.messageLabel());
        case channelColumn: return QString::number(e.channel);
        case dataColumn: return qt(e.dataLabel());
        case valueColumn: return qt(e.valueLabel());
        case rawColumn: return qt(e.byteLabel());
        case endpointColumn: return qt(e.endpoint);
        case originColumn: return qt(e.source);
        default: return {};
    }
}

const QFont* MidiMonitorTableModel::cellFont(int column) const {
    switch (column) {
        case routeColumn: return &small_;
        case timeColumn: return &time_;
        case channelColumn:
        case dataColumn:
        case valueColumn:
        case rawColumn: return &mono_;
        default: return nullptr;
    }
}

QColor MidiMonitorTableModel::cellColor(int row, int column) const {
    if (column == timeColumn || column == rawColumn) return secondary_;
    if (column == routeColumn) return texts(rows_[static_cast<std::size_t>(row)]).instrument ? teal_ : violet_;
    return {};
}

bool MidiMonitorTableModel::showsBadge(int row, int column) const {
    return column == messageColumn && texts(rows_[static_cast<std::size_t>(row)]).mpe;
}

MidiMonitorCellText& MidiMonitorTableModel::paintedText(int row, int column, const QFont& font) const {
    const Row& shown = rows_[static_cast<std::size_t>(row)];
    std::shared_ptr<MidiMonitorCellText>& painted = texts(shown).painted[static_cast<std::size_t>(column)];
    // Time stamps are new on every row; the other texts recur.
    if (!painted) {
        QString text = this->text(shown, column);
        if (column == deviceColumn) oneLine(text);
        painted = painted_.get(column, text, font, column != timeColumn);
    }
    return *painted;
}

QVariant MidiMonitorTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount()) return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole: return text(row, column);
        case Qt::ForegroundRole: {
            const QColor color = cellColor(index.row(), column);
            return color.isValid() ? QVariant(color) : QVariant();
        }
        case Qt::FontRole: {
            const QFont* font = cellFont(column);
            return font != nullptr ? QVariant(*font) : QVariant();
        }
        case MpeRole: return showsBadge(index.row(), column);
        default: return {};
    }
}

QVariant MidiMonitorTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) return columnTitle(section);
    return {};
}

}  // namespace norv
