#pragma once
// One device's assignment card: platform symbol, name and transport, instrument endpoint, the
// Live track picker and the route label. It lives as long as its device is listed; new content
// leaves the picker's items and open popup alone unless they change, and a closed picker shows
// the assigned track whatever the user chose last. Only a user's choice of a different track is
// reported. The picker reads "No layer selected" and the unavailable assigned track from the
// card and the MIDI tracks from a track list that many cards may share.

#include "model/admin_snapshot.h"
#include "ui/routes/routes_view_model.h"

#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QStandardItemModel;

namespace norv {

class SymbolLabel;
class TrackListModel;

struct RouteCardContent {
    using Tracks = std::shared_ptr<const std::vector<TrackChoice>>;

    BridgeDevice device;
    Tracks tracks;                          // the MIDI tracks on offer, shared by every card
    std::optional<TrackChoice> unavailable; // the assigned track when no MIDI track offers it
    QString route;
    bool pickerEnabled = false;

    // The MIDI tracks of `snapshot` as picker entries; `previous` is reused while they are equal.
    static Tracks tracksOf(const AdminSnapshot& snapshot, const Tracks& previous = nullptr);
    // The card of `device` in `snapshot`.
    static RouteCardContent of(const BridgeDevice& device, const AdminSnapshot& snapshot, bool pickerEnabled,
                               const Tracks& tracks = nullptr);
    // The picker's entries in order: no track, the unavailable assigned one, the MIDI tracks.
    std::vector<TrackChoice> choices() const;
    bool sameChoices(const RouteCardContent& other) const;
    friend bool operator==(const RouteCardContent& a, const RouteCardContent& b) {
        return a.sameChoices(b) && a.pickerEnabled == b.pickerEnabled && a.route == b.route && a.device == b.device;
    }
};

class RouteCard : public QWidget {
    Q_OBJECT
public:
    // `tracks` is the shared track list, kept by its owner to the content's tracks; null gives
    // the card a list of its own.
    explicit RouteCard(const RouteCardContent& content, TrackListModel* tracks = nullptr, QWidget* parent = nullptr);

    // Shows the device as the snapshot now has it; sends nothing.
    void setContent(const RouteCardContent& content);
    // Puts the picker back on the device's assigned track when it shows another one (a choice
    // the engine refused or has not confirmed yet), unless its popup is open.
    void showAssignment();

    const std::string& deviceId() const { return content_.device.deviceId; }
    const BridgeDevice& device() const { return content_.device; }
    QComboBox* picker() const { return picker_; }
    QLabel* nameLabel() const { return name_; }
    QLabel* transportLabel() const { return transport_; }
    QLabel* routeLabel() const { return route_; }

Q_SIGNALS:
    // The user chose another track: its liveId, or -1 for no track.
    void trackChosen(const QString& deviceId, qint64 liveId);

private:
    void userChose(int index);
    void showChoices(const RouteCardContent& content);
    void setUnavailable(const std::optional<TrackChoice>& unavailable);
    void selectValue(std::int64_t value);

    RouteCardContent content_;
    SymbolLabel* symbol_;
    QLabel* name_;
    QLabel* transport_;
    QLabel* instrument_;
    QComboBox* picker_;
    QStandardItemModel* head_;  // "No layer selected" and the unavailable assigned track
    TrackListModel* tracks_;
    QLabel* route_;
};

// The theme colour of a route or track tint.
QColor routeTintColor(RouteTint tint);

}  // namespace norv
