#pragma once
// The Routes page: device assignments, track routing and the routing options. The page factory
// hands it the store's state on every change and supplies the three actions. Cards and track
// rows are kept by device and track id, so an identical state changes no widget and an open
// track picker stays open.

#include "model/admin_snapshot.h"
#include "ui/components/keyed_list.h"
#include "ui/components/page_frame.h"
#include "ui/routes/route_card.h"
#include "ui/routes/track_routing_row.h"

#include <functional>
#include <set>
#include <string>
#include <vector>

class QToolButton;
class QVBoxLayout;

namespace norv {

class EmptyState;
class PageDisclosure;
class RoutingPolicyEditor;
class TrackListModel;

class RoutesPage : public PageFrame {
    Q_OBJECT
public:
    struct State {
        AdminSnapshot snapshot = AdminSnapshot::empty();
        bool canChange = false;
        std::set<std::string> pendingActions;
    };
    struct Actions {
        std::function<void(const BridgeDevice& device, const std::optional<LiveTrack>& track)> assign;
        std::function<void(const DeviceRoutingPolicy& policy)> applyPolicy;
        std::function<void()> clearAssignments;
    };

    explicit RoutesPage(Actions actions, QWidget* parent = nullptr);

    // The first state starts the routing draft from the engine's policy; later ones keep it.
    void setState(const State& state);

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
