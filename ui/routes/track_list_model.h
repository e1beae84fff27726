#pragma once
// The MIDI tracks a track picker offers, as one list model every route card's picker reads, so
// a new card fills nothing. New tracks come in as row inserts and removals matched by liveId and
// renames as data changes, never a reset: open pickers keep their popup and current entry.
// Display text is the track's name; Qt::UserRole holds its liveId as qint64.

#include "ui/routes/route_card.h"

#include <QAbstractListModel>
#include <QFont>
#include <vector>

namespace norv {

class TrackListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit TrackListModel(QObject* parent = nullptr);

    // Shows `tracks`; the same list (or an equal one) changes nothing.
    void setTracks(const RouteCardContent::Tracks& tracks);
    // The row of the track with `liveId`, or -1.
    int rowOf(std::int64_t liveId) const;
    // The widest track name in `font`, measured once per list and font for every picker.
    int widestName(const QFont& font) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    RouteCardContent::Tracks source_;
    std::vector<TrackChoice> rows_;
    mutable QFont measuredFont_;
    mutable int widest_ = -1;  // -1 until measured in `measuredFont_`
};

}  // namespace norv
