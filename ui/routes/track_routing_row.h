#pragma once
// One Live track's routing row: tint dot, title, status label, owners, desired and actual input,
// and whether the track is armed. Kept by track while the track has a plan.

#include "model/device_track_routing_plan.h"
#include "model/device_track_routing_status.h"

#include <QWidget>
#include <optional>

class QLabel;

namespace norv {

class SymbolLabel;

struct TrackRowContent {
    DeviceTrackRoutingPlan plan;
    std::optional<DeviceTrackRoutingStatus> status;
    friend bool operator==(const TrackRowContent&, const TrackRowContent&) = default;
};

class TrackRoutingRow : public QWidget {
    Q_OBJECT
public:
    explicit TrackRoutingRow(const TrackRowContent& content, QWidget* parent = nullptr);
    TrackRoutingRow(const DeviceTrackRoutingPlan& plan, const std::optional<DeviceTrackRoutingStatus>& status,
                    QWidget* parent = nullptr)
        : TrackRoutingRow(TrackRowContent{plan, status}, parent) {}

    void setContent(const TrackRowContent& content);

    QLabel* statusLabel() const { return status_; }
    QLabel* armedLabel() const { return armed_; }

private:
    class Dot;
    Dot* dot_;
    QLabel* title_;
    QLabel* status_;
    QLabel* owners_;
    QLabel* routedCaption_;
    QLabel* routed_;
    QLabel* desired_;
    QLabel* liveInput_;
    SymbolLabel* armedSymbol_;
    QLabel* armed_;
};

}  // namespace norv
