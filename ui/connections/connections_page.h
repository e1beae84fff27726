#pragma once
// How the engine accepts devices and how well they are linked, how to reach it by hand over
// Wi-Fi, the Remote Script's control lane, and the editor of the launch configuration.

#include "core/bridge_launch_configuration.h"
#include "ui/connections/local_network_addresses.h"
#include "ui/overview/page_frame.h"

#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace norv {

class AdaptiveGrid;
class BridgeStore;
class PageDisclosure;
class PageHeader;

class ConnectionsPage : public PageFrame {
    Q_OBJECT
public:
    explicit ConnectionsPage(BridgeStore& store, QWidget* parent = nullptr,
                             InterfaceLister interfaces = LocalNetworkAddresses::systemInterfaces);

    void refresh();

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

private:
    QWidget* buildEditor();
    void setDraft(const BridgeLaunchConfiguration& draft);
    void showDraft();
    void commitPort();
    void refreshPanels();

    BridgeStore& store_;
    InterfaceLister interfaces_;
    BridgeLaunchConfiguration draft_;
    BridgeLaunchConfiguration savedSeen_;

    PageHeader* header_ = nullptr;
    QVBoxLayout* identity_;
    AdaptiveGrid* tiles_;
    QVBoxLayout* links_;
    QWidget* manualPanel_;
    QVBoxLayout* manual_;
    PageDisclosure* options_;
    PageDisclosure* remote_;
    QVBoxLayout* remoteBody_;

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

    QString headerKey_, identityKey_, tilesKey_, linksKey_, manualKey_, remoteKey_;
};

}  // namespace norv
