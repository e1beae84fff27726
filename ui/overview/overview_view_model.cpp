#include "ui/overview/overview_view_model.h"

#include "ui/theme/norv_theme.h"

namespace norv {

OverviewViewModel::OverviewViewModel(const AdminSnapshot& snapshot, const AdminConnectionState& connectionState)
    : snapshot_(snapshot), connectionState_(connectionState) {}

bool OverviewViewModel::online() const { return connectionState_.isConnected(); }

bool OverviewViewModel::linked() const { return snapshot_.bridge.liveLinked(); }

std::vector<BridgeDevice> OverviewViewModel::connectedDevices() const {
    std::vector<BridgeDevice> result;
    for (const BridgeDevice& device : snapshot_.devices)
        if (device.connected) result.push_back(device);
    return result;
}

qint64 OverviewViewModel::readyRouteCount() const {
    qint64 count = 0;
    if (snapshot_.bridge.deviceRoutingStatuses)
        for (const DeviceTrackRoutingStatus& status : *snapshot_.bridge.deviceRoutingStatuses)
            if (status.status == "ready") ++count;
    return count;
}

std::vector<StatusCardContent> OverviewViewModel::statusCards() const {
    const bool isOnline = online();
    const bool isLinked = linked();
    const auto& version = snapshot_.bridge.bridgeVersion;
    return {
        {QStringLiteral("Bridge"), isOnline ? QStringLiteral("Online") : QStringLiteral("Offline"),
         version ? QString::fromStdString(*version) : QStringLiteral("Admin port 9315"),
         QStringLiteral("cable.connector"), isOnline ? NorvTheme::teal() : NorvTheme::red()},
        {QStringLiteral("Ableton Live"), isLinked ? QStringLiteral("Linked") : QStringLiteral("Waiting"),
         QStringLiteral("Remote Script"), QStringLiteral("waveform"),
         isLinked ? NorvTheme::yellow() : NorvTheme::secondary()},
        {QStringLiteral("Devices"), QString::number(connectedDevices().size()),
         QString::number(snapshot_.devices.size()) + QStringLiteral(" known identities"),
         QStringLiteral("ipad.and.iphone"), NorvTheme::violet()},
        {QStringLiteral("Track routes"), QString::number(readyRouteCount()), QStringLiteral("Confirmed by Live"),
         QStringLiteral("arrow.triangle.branch"), NorvTheme::teal()},
    };
}

}  // namespace norv
