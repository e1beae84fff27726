#pragma once
// Every device the engine lists, split into connected, known and archived, the revoked access
// records with a button that lets each back in, the pending pairing requests, and the bulk
// "Clean devices".

#include "ui/overview/page_frame.h"

#include <QPointer>
#include <QString>
#include <map>
#include <optional>
#include <string>
#include <vector>

class QPushButton;
class QVBoxLayout;

namespace norv {

class BridgeStore;
class DeviceCard;
class DialogService;
class PageDisclosure;
class PendingPairingRequestsPanel;
struct BridgeDevice;

class DevicesPage : public PageFrame {
    Q_OBJECT
public:
    DevicesPage(BridgeStore& store, DialogService& dialogs, QWidget* parent = nullptr);

    void refresh();

    QPushButton* cleanButton() const { return clean_; }
    PageDisclosure* knownGroup() const { return known_; }
    PageDisclosure* archivedGroup() const { return archived_; }
    PageDisclosure* revokedGroup() const { return revoked_; }
    QWidget* connectedEmptyState() const { return empty_; }
    // The card of a device in whichever list it is; null when there is none.
    DeviceCard* card(const std::string& deviceId) const;
    // The ids the open clean-up confirmation acts on; none while it is closed.
    const std::optional<std::vector<std::string>>& cleanupSelection() const { return cleanupSelection_; }

private:
    using CardMap = std::map<std::string, QPointer<DeviceCard>>;
    void showCards(const std::vector<BridgeDevice>& devices, CardMap& cards, QVBoxLayout* layout, QWidget* parent);
    void cleanDevices();

    BridgeStore& store_;
    DialogService& dialogs_;
    QPushButton* clean_;
    QVBoxLayout* connected_;
    QWidget* empty_ = nullptr;
    QString emptyKey_;
    PendingPairingRequestsPanel* requests_;
    PageDisclosure* known_;
    PageDisclosure* archived_;
    PageDisclosure* revoked_;
    QString revokedKey_;
    CardMap connectedCards_, knownCards_, archivedCards_;
    std::optional<std::vector<std::string>> cleanupSelection_;
};

}  // namespace norv
