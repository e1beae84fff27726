#pragma once
// One device's assignment card: platform symbol, name and transport, instrument endpoint, the
// Live track picker and the route label. Refilled from each snapshot; only a user's choice of a
// different track is reported.

#include "model/admin_snapshot.h"
#include "ui/routes/track_routing_labels.h"

#include <QWidget>

class QComboBox;
class QLabel;

namespace norv {

class SymbolLabel;

class RouteCard : public QWidget {
    Q_OBJECT
public:
    RouteCard(const BridgeDevice& device, const AdminSnapshot& snapshot, bool pickerEnabled, QWidget* parent = nullptr);

    // Shows the device as the snapshot now has it; sends nothing.
    void update(const BridgeDevice& device, const AdminSnapshot& snapshot, bool pickerEnabled);

    const std::string& deviceId() const { return device_.deviceId; }
    QComboBox* picker() const { return picker_; }
    QLabel* routeLabel() const { return route_; }

Q_SIGNALS:
    // The user chose another track: its liveId, or -1 for no track.
    void trackChosen(const QString& deviceId, qint64 liveId);

private:
    void userChose(int index);

    BridgeDevice device_;
    SymbolLabel* symbol_;
    QLabel* name_;
    QLabel* transport_;
    QLabel* instrument_;
    QComboBox* picker_;
    QLabel* route_;
};

// The theme colour of a route or track tint.
QColor routeTintColor(RouteTint tint);

}  // namespace norv
