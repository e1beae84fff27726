#pragma once
// One Live track's routing row: tint dot, title, status label, owners, desired and actual input,
// and whether the track is armed.

#include "model/device_track_routing_plan.h"
#include "model/device_track_routing_status.h"

#include <QWidget>
#include <optional>

class QLabel;

namespace norv {

class TrackRoutingRow : public QWidget {
    Q_OBJECT
public:
    TrackRoutingRow(const DeviceTrackRoutingPlan& plan, const std::optional<DeviceTrackRoutingStatus>& status,
                    QWidget* parent = nullptr);

    QLabel* statusLabel() const { return status_; }
    QLabel* armedLabel() const { return armed_; }

private:
    QLabel* status_;
    QLabel* armed_;
};

}  // namespace norv
