#include "ui/monitor/midi_monitor_table_model.h"

#include "ui/components/row_edit_script.h"
#include "ui/theme/norv_theme.h"

#include <unordered_map>

namespace norv {

namespace {

QString qt(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

MidiMonitorTableModel::MidiMonitorTableModel(QObject* parent)
    : QAbstractTableModel(parent),
      mono_(NorvTheme::systemFont(11, QFont::Normal, true)),
      small_(NorvTheme::systemFont(9, QFont::Bold, true)) {}

void MidiMonitorTableModel::refresh(const std::vector<MidiMonitorEvent>& events, const MidiMonitorFilter& filter,
                                    const MidiMonitorViewModel::DeviceLabel& label) {
    refresh(events, filter.filteredIndices(events), label);
}

void MidiMonitorTableModel::refresh(const std::vector<MidiMonitorEvent>& events,
                                    const std::vector<std::size_t>& filtered,
                                    const MidiMonitorViewModel::DeviceLabel& label) {
    if (unchanged(events, filtered, label)) return;
    // The rows as they should be, built where the model keeps them, then put back so the model
    // reaches them by inserting and removing rows.
    std::vector<Row> previous = std::move(rows_);
    rows_.clear();
    const std::size_t shown = std::min<std::size_t>(filtered.size(), kMaxRows);
    rows_.reserve(shown);
    std::unordered_map<std::string, QString> labels;
    for (std::size_t i = 0; i < shown; ++i) {
        const MidiMonitorEvent& event = events[filtered[filtered.size() - 1 - i]];
        auto found = labels.find(event.deviceId);
        if (found == labels.end()) found = labels.emplace(event.deviceId, qt(label(event.deviceId))).first;
        rows_.push_back(Row{event, qt(event.timeLabel()), found->second, qt(event.messageLabel()),
                            qt(event.dataLabel()), qt(event.valueLabel()), qt(event.byteLabel()),
                            qt(event.endpoint), qt(event.source)});
    }
    std::vector<Row> wanted = std::move(rows_);
    rows_ = std::move(previous);
    moveTo(std::move(wanted));
}

bool MidiMonitorTableModel::unchanged(const std::vector<MidiMonitorEvent>& events,
                                      const std::vector<std::size_t>& filtered,
                                      const MidiMonitorViewModel::DeviceLabel& label) const {
    // Most store changes (a snapshot every second) leave the shown events and their device
    // names as they are; then no text is made again.
    const std::size_t shown = std::min<std::size_t>(filtered.size(), kMaxRows);
    if (shown != rows_.size()) return false;
    std::unordered_map<std::string, QString> labels;
    for (std::size_t i = 0; i < shown; ++i) {
        const MidiMonitorEvent& event = events[filtered[filtered.size() - 1 - i]];
        if (!(event == rows_[i].event)) return false;
        auto found = labels.find(event.deviceId);
        if (found == labels.end()) found = labels.emplace(event.deviceId, qt(label(event.deviceId))).first;
        if (found->second != rows_[i].device) return false;
    }
    return true;
}

void MidiMonitorTableModel::moveTo(std::vector<Row> wanted) {
    // Rows are the events, identified by their sequence.
    const auto keys = [](const std::vector<Row>& rows) {
        std::vector<qint64> sequences;
        sequences.reserve(rows.size());
        for (const Row& row : rows) sequences.push_back(row.event.sequence);
        return sequences;
    };
    applyRowEdits(
        keys(rows_), keys(wanted),
        [this](int row, int count) {
            beginRemoveRows({}, row, row + count - 1);
            rows_.erase(rows_.begin() + row, rows_.begin() + row + count);
            endRemoveRows();
        },
        [this, &wanted](int row, int first, int count) {
            beginInsertRows({}, row, row + count - 1);
            rows_.insert(rows_.begin() + row, wanted.begin() + first, wanted.begin() + first + count);
            endInsertRows();
        });
    // A kept row whose texts changed (a device renamed in the snapshot) is redrawn in place.
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i] == wanted[i]) continue;
        rows_[i] = std::move(wanted[i]);
        Q_EMIT dataChanged(index(static_cast<int>(i), 0), index(static_cast<int>(i), columnTotal - 1));
    }
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
    switch (column) {
        case timeColumn: return row.time;
        case deviceColumn: return row.device;
        case routeColumn: return row.event.role == "instrument" ? QStringLiteral("INSTRUMENT") : QStringLiteral("MIDI SURFACE");
        case messageColumn: return row.message;
        case channelColumn: return QString::number(row.event.channel);
        case dataColumn: return row.data;
        case valueColumn: return row.value;
        case rawColumn: return row.raw;
        case endpointColumn: return row.endpoint;
        case originColumn: return row.origin;
        default: return {};
    }
}

QVariant MidiMonitorTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount()) return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole: return text(row, column);
        case Qt::ForegroundRole:
            if (column == timeColumn || column == rawColumn) return NorvTheme::secondary();
            if (column == routeColumn) return row.event.role == "instrument" ? NorvTheme::teal() : NorvTheme::violet();
            return {};
        case Qt::FontRole:
            if (column == routeColumn) return small_;
            if (column == timeColumn || column == channelColumn || column == dataColumn || column == valueColumn || column == rawColumn) {
                return mono_;
            }
            return {};
        case MpeRole: return column == messageColumn && row.event.isMPEExpression();
        default: return {};
    }
}

QVariant MidiMonitorTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) return columnTitle(section);
    return {};
}

}  // namespace norv
