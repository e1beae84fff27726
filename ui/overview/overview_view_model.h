#pragma once
// What the Overview page shows, derived from the store's published values: the four status
// cards, the connected hardware and whether Live is linked.

#include "model/admin_connection_state.h"
#include "model/admin_snapshot.h"

#include <QColor>
#include <QString>
#include <vector>

namespace norv {

// One tile of a status grid, as values.
struct StatusCardContent {
    QString title;
    QString value;
    QString detail;
    QString symbol;
    QColor tint;

    bool operator==(const StatusCardContent&) const = default;
};

class OverviewViewModel {
public:
    OverviewViewModel(const AdminSnapshot& snapshot, const AdminConnectionState& connectionState);

    bool online() const;
    bool linked() const;
    std::vector<BridgeDevice> connectedDevices() const;  // engine order
    qint64 readyRouteCount() const;
    // Bridge, Ableton Live, Devices and Track routes, in this order.
    std::vector<StatusCardContent> statusCards() const;

private:
    const AdminSnapshot& snapshot_;
    const AdminConnectionState& connectionState_;
};

}  // namespace norv
