#pragma once
// The Routes page's content: device assignments, track routing and the routing options. The
// store-facing page feeds it each snapshot with the store's flags and supplies the three actions.

#include "model/admin_snapshot.h"

#include <QWidget>
#include <functional>
#include <vector>

class QToolButton;
class QVBoxLayout;

namespace norv {

class ClearConfirmation;
class RouteCard;
class RoutingPolicyEditor;

class RoutesPageView : public QWidget {
    Q_OBJECT
public:
    struct Actions {
        std::function<void(const BridgeDevice& device, const std::optional<LiveTrack>& track)> assign;
        std::function<void(const DeviceRoutingPolicy& policy)> applyPolicy;
        std::function<void()> clearAssignments;
    };

    // `confirmation` may be null for the real 4 s lapse.
    RoutesPageView(Actions actions, ClearConfirmation* confirmation = nullptr, QWidget* parent = nullptr);

    // The page is shown: the draft starts from the engine's policy.
    void show(const AdminSnapshot& snapshot, bool canChange, bool pendingEmpty);
    // A change of the store.
    void update(const AdminSnapshot& snapshot, bool canChange, bool pendingEmpty);

    RoutingPolicyEditor* policyEditor() const { return editor_; }
    const std::vector<RouteCard*>& cards() const { return cards_; }
    QToolButton* knownDevicesToggle() const { return knownToggle_; }
    QWidget* tracksBlock() const { return tracks_; }

private:
    void rebuild(const AdminSnapshot& snapshot, bool canChange, bool pendingEmpty);

    Actions actions_;
    AdminSnapshot snapshot_;
    RoutingPolicyEditor* editor_;
    QVBoxLayout* devicesContent_;
    QWidget* devicesBody_ = nullptr;
    QWidget* tracks_;
    QVBoxLayout* tracksContent_;
    QWidget* tracksBody_ = nullptr;
    QToolButton* knownToggle_ = nullptr;
    bool knownOpen_ = false;
    std::vector<RouteCard*> cards_;
};

}  // namespace norv
