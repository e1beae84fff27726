#pragma once
// The Routes page's content: device assignments, track routing and the routing options. The
// page factory feeds it the store's state on every change and supplies the three actions. Cards
// and track rows are kept by device and track id, so an identical state changes no widget and
// an open track picker stays open.

#include "model/admin_snapshot.h"
#include "ui/components/keyed_list.h"
#include "ui/routes/route_card.h"
#include "ui/routes/track_routing_row.h"

#include <QWidget>
#include <functional>
#include <vector>

class QToolButton;
class QVBoxLayout;

namespace norv {

class ClearConfirmation;
class EmptyState;
class PageDisclosure;
class RoutingPolicyEditor;
class TrackListModel;

class RoutesPageView : public QWidget {
    Q_OBJECT
public:
    struct State {
        const AdminSnapshot* snapshot = nullptr;  // read during setState only
        bool canChange = false;
        bool pendingEmpty = true;
    };
    struct Actions {
        std::function<void(const BridgeDevice& device, const std::optional<LiveTrack>& track)> assign;
        std::function<void(const DeviceRoutingPolicy& policy)> applyPolicy;
        std::function<void()> clearAssignments;
    };

    // `confirmation` may be null for the real 4 s lapse.
    RoutesPageView(Actions actions, ClearConfirmation* confirmation = nullptr, QWidget* parent = nullptr);

    // The first state starts the routing draft from the engine's policy; later ones keep it.
    void setState(const State& state);
    void setState(const AdminSnapshot& snapshot, bool canChange, bool pendingEmpty) {
        setState(State{&snapshot, canChange, pendingEmpty});
    }

    RoutingPolicyEditor* policyEditor() const { return editor_; }
    // Active cards first, then the known devices' cards.
    std::vector<RouteCard*> cards() const;
    QToolButton* knownDevicesToggle() const;  // null while there is no known device
    QWidget* tracksBlock() const { return tracksBlock_; }

private:
    void assign(const QString& deviceId, qint64 liveId);
    RouteCard* makeCard(const RouteCardContent& content, QWidget* parent);

    Actions actions_;
    bool shown_ = false;
    std::vector<LiveTrack> liveTracks_;
    RouteCardContent::Tracks tracks_;  // the picker entries every card shares
    TrackListModel* trackList_;        // the same entries as the model every picker reads
    RoutingPolicyEditor* editor_;
    EmptyState* noDevices_;
    QWidget* activeBox_;
    PageDisclosure* known_;
    QWidget* tracksBlock_;
    EmptyState* noPlans_;
    KeyedList<RouteCardContent, RouteCard> activeCards_;
    KeyedList<RouteCardContent, RouteCard> knownCards_;
    KeyedList<TrackRowContent, TrackRoutingRow> trackRows_;
};

}  // namespace norv
