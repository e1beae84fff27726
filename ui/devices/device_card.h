#pragma once
// One device on the Devices page: who it is and how it is connected, the buttons that allow,
// disconnect, archive, restore or revoke it, and a disclosure with its name and MIDI ports.
// Disconnect and revoke ask first; cancelling sends nothing. The card lives as long as its device
// stays in its list; its page hands it new content, and nothing else refreshes it.

#include "model/admin_snapshot.h"
#include "model/device_access_action.h"
#include "ui/components/keyed_list.h"
#include "ui/devices/device_card_model.h"

#include <QWidget>
#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace norv {

class DialogService;
class PageDisclosure;
class SymbolLabel;

struct DeviceCardContent {
    BridgeDevice device;
    // Of the engine's access state, what this card reads: the certificate rule and this
    // device's certificate.
    std::optional<DeviceAccessSnapshot> access;
    bool canChange = false;
    bool nothingPending = true;

    static DeviceCardContent of(const BridgeDevice& device, const AdminSnapshot& snapshot, bool canChange,
                                bool nothingPending);
    DeviceCardModel model() const { return DeviceCardModel(device, access, canChange, nothingPending); }
    friend bool operator==(const DeviceCardContent&, const DeviceCardContent&) = default;
};

class DeviceCard : public QWidget {
    Q_OBJECT
public:
    struct Actions {
        std::function<void(const std::string& deviceId, DeviceAccessAction action,
                           const std::optional<std::string>& fingerprint)>
            deviceAccess;
        std::function<void(const std::string& deviceId, bool archived)> archive;
        std::function<void(const std::string& deviceId, const std::string& name)> rename;
    };

    DeviceCard(const Actions& actions, DialogService& dialogs, const DeviceCardContent& content,
               QWidget* parent = nullptr);

    // Shows the device as the latest snapshot has it. A new label replaces the name field's text
    // only while the user is not editing it.
    void setContent(const DeviceCardContent& content);
    const BridgeDevice& device() const { return content_.device; }

    // Action, rename and previous-name buttons by title; builds the disclosure's content.
    QPushButton* button(const QString& title);
    QLineEdit* nameField();  // builds the disclosure's content
    PageDisclosure* details() const { return details_; }
    QLabel* statusLabel() const { return status_; }

private:
    void confirmAccess(DeviceAccessAction action);
    void refreshState();
    void buildDetails();
    void refreshDetails();
    void showEndpoints(const std::vector<EndpointRowContent>& rows);

    // One endpoint: its symbol and title, and its port name.
    class EndpointRow;

    Actions actions_;
    DialogService& dialogs_;
    DeviceCardContent content_;
    QString nameWritten_;
    KeyedList<EndpointRowContent, EndpointRow> endpointRows_;  // kept by endpoint id

    SymbolLabel* symbol_;
    QLabel* title_;
    QLabel* subtitle_;
    QLabel* status_;
    QPushButton* allow_;
    QPushButton* disconnect_;
    QPushButton* archive_;
    QPushButton* restore_;
    QPushButton* revoke_;
    PageDisclosure* details_;
    // The disclosure's content, null until it is first opened.
    QWidget* renameRow_ = nullptr;
    QLineEdit* nameField_ = nullptr;
    QPushButton* rename_ = nullptr;
    QPushButton* previousName_ = nullptr;
    QLabel* nameStatus_ = nullptr;
    QLabel* midiPending_ = nullptr;
    QVBoxLayout* endpoints_ = nullptr;
    QLabel* version_ = nullptr;
};

}  // namespace norv
