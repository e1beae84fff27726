#pragma once
// The first page: is the engine reachable, is Live linked, how many devices and confirmed
// routes, any error of the engine host, shortcuts to three pages and the connected hardware.
// A view: the page factory hands it the store's state on every change; the cards and rows
// follow in place, the status cards kept by title and the hardware rows by device id.

#include "model/admin_connection_state.h"
#include "model/admin_snapshot.h"
#include "model/bridge_section.h"
#include "ui/components/keyed_grid.h"
#include "ui/components/keyed_list.h"
#include "ui/components/page_frame.h"
#include "ui/overview/overview_view_model.h"
#include "ui/theme/compact_device_row.h"

#include <QString>
#include <functional>
#include <optional>

class QLabel;
class QPushButton;

namespace norv {

class EmptyState;
class StatusCard;

class OverviewPage : public PageFrame {
    Q_OBJECT
public:
    struct State {
        AdminSnapshot snapshot = AdminSnapshot::empty();
        AdminConnectionState connection = AdminConnectionState::stopped();
        // The engine host's last failure ("Bridge exited with status 1"), none while there is none.
        std::optional<QString> hostError;
        // The error is one the user can clear by trying again (a keyring prompt was dismissed):
        // the banner offers "Try Again".
        bool offerRetry = false;
    };
    struct Actions {
        std::function<void(BridgeSection)> select;
        std::function<void()> retry;  // starts the bridge again
    };

    explicit OverviewPage(Actions actions, QWidget* parent = nullptr);

    void setState(const State& state);

    QWidget* actionBanner() const;  // null while the host reports no error
    AdaptiveGrid* statusGrid() const { return grid_; }
    QWidget* hardwarePanel() const { return hardware_; }

private:
    Actions actions_;
    QWidget* banner_;
    QLabel* bannerText_;
    QPushButton* retry_;
    AdaptiveGrid* grid_;
    KeyedGrid<StatusCardContent, StatusCard> cards_;
    QWidget* hardware_;
    EmptyState* noHardware_;
    KeyedList<BridgeDevice, CompactDeviceRow> hardwareRows_;
};

}  // namespace norv
