#pragma once
// Every device the engine lists, split into connected, known and archived, the revoked access
// records with a button that lets each back in, and the bulk "Clean devices". A view: the page
// factory hands it the store's state on every change and supplies the actions. Cards and rows
// are kept by device id within their list, so an identical state changes no widget and a name
// being typed survives.

#include "model/admin_connection_state.h"
#include "ui/components/keyed_list.h"
#include "ui/components/page_frame.h"
#include "ui/devices/device_card.h"
#include "ui/devices/revoked_device_row.h"

#include <QPointer>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QPushButton;
class QVBoxLayout;

namespace norv {

class DialogService;
class PageDisclosure;

class DevicesPage : public PageFrame {
    Q_OBJECT
public:
    struct State {
        AdminSnapshot snapshot = AdminSnapshot::empty();
        AdminConnectionState connection = AdminConnectionState::stopped();
        bool canChange = false;
        std::set<std::string> pendingActions;
    };
    struct Actions {
        DeviceCard::Actions card;
        // Lets a revoked device back in, by the rule in force at the press.
        std::function<void(const std::string& deviceId)> allowRevoked;
        // Cleans those of `captured` the engine still offers.
        std::function<void(const std::vector<std::string>& captured)> clean;
        DialogService* dialogs = nullptr;  // required: asks before a card's action and the clean-up
    };

    explicit DevicesPage(Actions actions, QWidget* parent = nullptr);

    void setState(const State& state);

    QPushButton* cleanButton() const { return clean_; }
    PageDisclosure* knownGroup() const { return known_; }
    PageDisclosure* archivedGroup() const { return archived_; }
    PageDisclosure* revokedGroup() const { return revoked_; }
    QWidget* connectedEmptyState() const;  // null while devices are connected
    // The card of a device in whichever list it is; null when there is none.
    DeviceCard* card(const std::string& deviceId) const;
    // The ids the open clean-up confirmation acts on; none while it is closed.
    const std::optional<std::vector<std::string>>& cleanupSelection() const { return cleanupSelection_; }

private:
    using Cards = KeyedList<DeviceCardContent, DeviceCard>;
    Cards cardList(QVBoxLayout* layout, QWidget* parent, int offset);
    void cleanDevices();

    Actions actions_;
    std::vector<std::string> cleanupIds_;
    QPushButton* clean_;
    QWidget* empty_;
    PageDisclosure* known_;
    PageDisclosure* archived_;
    PageDisclosure* revoked_;
    Cards connectedCards_, knownCards_, archivedCards_;
    KeyedList<RevokedRowContent, RevokedDeviceRow> revokedRows_;
    std::optional<std::vector<std::string>> cleanupSelection_;
};

}  // namespace norv
