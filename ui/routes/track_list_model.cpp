#include "ui/routes/track_list_model.h"

#include "ui/components/row_edit_script.h"

#include <QFontMetrics>
#include <algorithm>

namespace norv {

TrackListModel::TrackListModel(QObject* parent) : QAbstractListModel(parent) {}

void TrackListModel::setTracks(const RouteCardContent::Tracks& tracks) {
    if (tracks == source_) return;
    source_ = tracks;
    static const std::vector<TrackChoice> none;
    const std::vector<TrackChoice>& next = tracks ? *tracks : none;
    if (next == rows_) return;
    widest_ = -1;

    std::vector<std::int64_t> currentKeys, nextKeys;
    for (const TrackChoice& row : rows_) currentKeys.push_back(row.value);
    for (const TrackChoice& row : next) nextKeys.push_back(row.value);
    const auto remove = [this](int row, int count) {
        beginRemoveRows(QModelIndex(), row, row + count - 1);
        rows_.erase(rows_.begin() + row, rows_.begin() + row + count);
        endRemoveRows();
    };
    const auto insert = [&](int row, int first, int count) {
        beginInsertRows(QModelIndex(), row, row + count - 1);
        rows_.insert(rows_.begin() + row, next.begin() + first, next.begin() + first + count);
        endInsertRows();
    };
    applyRowEdits(currentKeys, nextKeys, remove, insert);

    // Same liveIds in the same order now: what remains is renames.
    for (int i = 0; i < static_cast<int>(rows_.size()); ++i) {
        TrackChoice& row = rows_[static_cast<std::size_t>(i)];
        const TrackChoice& wanted = next[static_cast<std::size_t>(i)];
        if (row.label == wanted.label) continue;
        row.label = wanted.label;
        Q_EMIT dataChanged(index(i), index(i), {Qt::DisplayRole});
    }
}

int TrackListModel::rowOf(std::int64_t liveId) const {
    for (int i = 0; i < static_cast<int>(rows_.size()); ++i)
        if (rows_[static_cast<std::size_t>(i)].value == liveId) return i;
    return -1;
}

int TrackListModel::widestName(const QFont& font) const {
    if (widest_ >= 0 && font == measuredFont_) return widest_;
    const QFontMetrics metrics(font);
    widest_ = 0;
    for (const TrackChoice& row : rows_) widest_ = std::max(widest_, metrics.boundingRect(row.label).width());
    measuredFont_ = font;
    return widest_;
}

int TrackListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant TrackListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    const TrackChoice& row = rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole || role == Qt::EditRole) return row.label;
    if (role == Qt::UserRole) return QVariant::fromValue<qint64>(row.value);
    return {};
}

}  // namespace norv
