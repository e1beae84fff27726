#pragma once
// How the engine accepts devices and how well they are linked, how to reach it by hand over
// Wi-Fi, the Remote Script's control lane, and the editor of the launch configuration. A view:
// the page factory hands it the store's state on every change and supplies the apply action.
// Tiles are kept by title, rows by device id and target; the editor's draft, and the text in the port field
// while the user works in it, win over the engine until apply or reset.

#include "core/bridge_launch_configuration.h"
#include "model/admin_snapshot.h"
#include "ui/components/keyed_grid.h"
#include "ui/components/keyed_list.h"
#include "ui/components/page_frame.h"
#include "ui/connections/connection_panels.h"
#include "ui/connections/device_connection_row.h"
#include "ui/connections/local_network_addresses.h"

#include <QString>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace norv {

class ConnectionStatusTile;
class EmptyState;
class PageDisclosure;
class PageHeader;

class ConnectionsPage : public PageFrame {
    Q_OBJECT
public:
    struct State {
        AdminSnapshot snapshot = AdminSnapshot::empty();
        BridgeLaunchConfiguration saved;  // the configuration in force
        QString bluetoothStatus;
        bool engineRunning = false;
        bool externalEngine = false;
    };
    struct Actions {
        std::function<void(const BridgeLaunchConfiguration&)> apply;
        // The machine's network interfaces, for the manual Wi-Fi targets.
        InterfaceLister interfaces = LocalNetworkAddresses::systemInterfaces;
    };

    explicit ConnectionsPage(Actions actions, QWidget* parent = nullptr);

    // The first state's configuration is where the draft starts.
    void setState(const State& state);

    const BridgeLaunchConfiguration& draft() const { return draft_; }

    QCheckBox* wirelessSwitch() const { return wireless_; }
    QCheckBox* bonjourSwitch() const { return bonjour_; }
    QCheckBox* iosUsbSwitch() const { return iosUsb_; }
    QCheckBox* androidUsbSwitch() const { return androidUsb_; }
    QCheckBox* bluetoothSwitch() const { return bluetooth_; }
    QLineEdit* portField() const { return port_; }
    QPushButton* resetButton() const { return reset_; }
    QPushButton* applyButton() const { return apply_; }
    QLabel* statusText() const { return statusText_; }
    PageDisclosure* optionsDisclosure() const { return options_; }
    PageDisclosure* remoteDisclosure() const { return remote_; }
    QWidget* manualPanel() const { return manualPanel_; }
    QWidget* linksPanel() const { return linksPanel_; }
    DeviceConnectionRow* linkRow(const std::string& deviceId) const { return links_.widget(deviceId); }

private:
    QWidget* buildEditor();
    void setDraft(const BridgeLaunchConfiguration& draft);
    // `force` also rewrites the port field the user may be typing in.
    void showDraft(bool force);
    void commitPort();
    void showEngine();
    // The tiles and manual targets, which show the draft's port.
    void showDraftPanels();

    Actions actions_;
    State state_;
    bool shown_ = false;  // a first state has arrived
    BridgeLaunchConfiguration draft_;
    QString portWritten_;

    PageHeader* header_;
    QLabel* bridgeName_;
    QLabel* bridgeDetails_;
    KeyedGrid<StatusTileContent, ConnectionStatusTile> tiles_;
    QWidget* linksPanel_;
    EmptyState* noLinks_;
    KeyedList<DeviceLinkContent, DeviceConnectionRow> links_;
    QWidget* manualPanel_;
    QWidget* manualMessage_;
    int manualKind_ = -1;
    KeyedList<QString, ManualTargetRow> manualTargets_;
    PageDisclosure* options_;
    PageDisclosure* remote_;
    RemoteControlPanel* remotePanel_;

    QCheckBox* wireless_;
    QCheckBox* bonjour_;
    QLineEdit* port_;
    QCheckBox* iosUsb_;
    QCheckBox* androidUsb_;
    QCheckBox* bluetooth_;
    QPushButton* reset_;
    QPushButton* apply_;
    QWidget* status_;
    QLabel* statusText_;
};

}  // namespace norv
