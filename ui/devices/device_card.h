#pragma once
// One device on the Devices page: who it is and how it is connected, the buttons that allow,
// disconnect, archive, restore or revoke it, and a disclosure with its name and MIDI ports.
// Disconnect and revoke ask first; cancelling sends nothing.

#include "model/admin_snapshot.h"

#include <QWidget>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace norv {

class BridgeStore;
class DialogService;
class PageDisclosure;
class SymbolLabel;

class DeviceCard : public QWidget {
    Q_OBJECT
public:
    DeviceCard(BridgeStore& store, DialogService& dialogs, const BridgeDevice& device, QWidget* parent = nullptr);

    // Shows the device as the latest snapshot has it; a changed label replaces the draft name.
    void update(const BridgeDevice& device);
    const BridgeDevice& device() const { return device_; }

    QPushButton* button(const QString& title) const;  // action, rename and previous-name buttons by title
    QLineEdit* nameField() const { return nameField_; }
    PageDisclosure* details() const { return details_; }
    QLabel* statusLabel() const { return status_; }

private:
    void confirmAccess(const std::string& action);
    void refreshState();

    BridgeStore& store_;
    DialogService& dialogs_;
    BridgeDevice device_;

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
    QWidget* renameRow_;
    QLineEdit* nameField_;
    QPushButton* rename_;
    QPushButton* previousName_;
    QLabel* nameStatus_;
    QLabel* midiPending_;
    QVBoxLayout* endpoints_;
    QLabel* version_;
};

}  // namespace norv
