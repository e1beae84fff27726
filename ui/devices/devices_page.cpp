#include "ui/devices/devices_page.h"

#include "core/bridge_store.h"
#include "core/dialog_service.h"
#include "ui/devices/device_card.h"
#include "ui/devices/devices_view_model.h"
#include "ui/devices/page_disclosure.h"
#include "ui/devices/pending_pairing_requests_panel.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace norv {

DevicesPage::DevicesPage(BridgeStore& store, DialogService& dialogs, QWidget* parent)
    : PageFrame(parent), store_(store), dialogs_(dialogs) {
    setObjectName(QStringLiteral("page_devices"));
    auto* header = new QHBoxLayout;
    header->addWidget(new PageHeader(QStringLiteral("NORV BRIDGE"), QStringLiteral("Devices"),
                                     QStringLiteral("Connected · Known · Archived"), content()),
                      1, Qt::AlignTop);
    clean_ = new QPushButton(QStringLiteral("Clean devices"), content());
    header->addWidget(clean_, 0, Qt::AlignTop);
    column()->addLayout(header);

    connected_ = new QVBoxLayout;
    connected_->setSpacing(14);
    column()->addLayout(connected_);

    requests_ = new PendingPairingRequestsPanel(store_, content());
    column()->addWidget(requests_);

    known_ = new PageDisclosure(QString(), content());
    archived_ = new PageDisclosure(QString(), content());
    revoked_ = new PageDisclosure(QString(), content());
    known_->setObjectName(QStringLiteral("knownGroup"));
    archived_->setObjectName(QStringLiteral("archivedGroup"));
    revoked_->setObjectName(QStringLiteral("revokedGroup"));
    for (PageDisclosure* group : {known_, archived_, revoked_}) {
        group->bodyLayout()->setContentsMargins(0, 12, 0, 0);
        group->bodyLayout()->setSpacing(14);
        column()->addWidget(group);
    }
    column()->addStretch();

    connect(clean_, &QPushButton::clicked, this, &DevicesPage::cleanDevices);
    connect(&store_, &BridgeStore::changed, this, &DevicesPage::refresh);
    refresh();
}

DeviceCard* DevicesPage::card(const std::string& deviceId) const {
    for (const CardMap* cards : {&connectedCards_, &knownCards_, &archivedCards_}) {
        const auto found = cards->find(deviceId);
        if (found != cards->end() && found->second) return found->second;
    }
    return nullptr;
}

void DevicesPage::showCards(const std::vector<BridgeDevice>& devices, CardMap& cards, QVBoxLayout* layout,
                            QWidget* parent) {
    // A card lives while its device stays in the same list, so a draft name survives snapshots.
    CardMap next;
    for (const BridgeDevice& device : devices) {
        const auto found = cards.find(device.deviceId);
        DeviceCard* card = found != cards.end() ? found->second.data() : nullptr;
        if (card) card->update(device);
        else card = new DeviceCard(store_, dialogs_, device, parent);
        next[device.deviceId] = card;
    }
    for (auto& [id, card] : cards)
        if (!next.count(id) && card) discardWidget(card);
    for (const BridgeDevice& device : devices) {
        DeviceCard* card = next[device.deviceId];
        layout->removeWidget(card);
        layout->addWidget(card);
        card->show();
    }
    cards = std::move(next);
}

void DevicesPage::refresh() {
    const AdminSnapshot& snapshot = store_.snapshot();
    const DeviceGroups groups = DevicesViewModel::groups(snapshot);
    clean_->setEnabled(DevicesViewModel::cleanEnabled(snapshot, store_.canChange(), store_.pendingActions()));

    const QString emptyKey =
        groups.connected.empty() ? DevicesViewModel::connectedEmptyDetail(store_.connectionState()) + QLatin1Char('!')
                                 : QString();
    if (emptyKey != emptyKey_) {
        emptyKey_ = emptyKey;
        discardWidget(empty_);
        empty_ = nullptr;
        if (groups.connected.empty()) {
            empty_ = norvPanel(new EmptyState(QStringLiteral("ipad.and.arrow.forward"),
                                              QStringLiteral("No connected devices"),
                                              DevicesViewModel::connectedEmptyDetail(store_.connectionState())),
                               content());
            empty_->setObjectName(QStringLiteral("connectedEmptyState"));
            connected_->insertWidget(0, empty_);
        }
    }
    showCards(groups.connected, connectedCards_, connected_, content());

    known_->setVisible(!groups.known.empty());
    known_->setTitle(DevicesViewModel::groupTitle(QStringLiteral("Known"), groups.known.size()));
    showCards(groups.known, knownCards_, known_->bodyLayout(), known_->body());
    archived_->setVisible(!groups.archived.empty());
    archived_->setTitle(DevicesViewModel::groupTitle(QStringLiteral("Archived"), groups.archived.size()));
    showCards(groups.archived, archivedCards_, archived_->bodyLayout(), archived_->body());

    const std::vector<RevokedDevice> revoked = DevicesViewModel::revoked(snapshot);
    const bool mayAct = store_.canChange() && store_.pendingActions().empty();
    const QString buttonTitle = DevicesViewModel::revokedButtonTitle(snapshot);
    QString revokedKey = buttonTitle + QString::number(mayAct);
    for (const RevokedDevice& record : revoked)
        revokedKey += QLatin1Char('|') + QString::fromStdString(record.deviceId + record.displayName() + record.details());
    revoked_->setVisible(!revoked.empty());
    revoked_->setTitle(DevicesViewModel::groupTitle(QStringLiteral("Access revoked"), revoked.size()));
    if (revokedKey != revokedKey_) {
        revokedKey_ = revokedKey;
        clearLayout(revoked_->bodyLayout());
        for (const RevokedDevice& record : revoked) {
            auto* row = new QWidget(revoked_->body());
            row->setObjectName(QString::fromStdString(record.deviceId));
            auto* line = new QHBoxLayout(row);
            line->setContentsMargins(0, 6, 0, 6);
            line->addWidget(new SymbolLabel(QString::fromStdString(record.platformSymbol()), NorvTheme::secondary(), 22,
                                            row));
            auto* texts = new QVBoxLayout;
            texts->setSpacing(3);
            texts->addWidget(makeLabel(QString::fromStdString(record.displayName()),
                                       NorvTheme::systemFont(15, QFont::DemiBold), NorvTheme::primary(), row));
            QLabel* details = makeLabel(QString::fromStdString(record.details()), NorvTheme::captionFont(),
                                        NorvTheme::secondary(), row);
            details->setTextInteractionFlags(Qt::TextSelectableByMouse);
            texts->addWidget(details);
            line->addLayout(texts);
            line->addStretch();
            auto* allow = new QPushButton(buttonTitle, row);
            allow->setEnabled(mayAct);
            const std::string id = record.deviceId;
            connect(allow, &QPushButton::clicked, this, [this, id] {
                // The certificate requirement at the moment of the press decides the action.
                store_.deviceAccess(id, DevicesViewModel::revokedAction(store_.snapshot()), std::nullopt);
            });
            line->addWidget(allow);
            revoked_->bodyLayout()->addWidget(row);
        }
    }
}

void DevicesPage::cleanDevices() {
    // The confirmation acts on the ids offered when the button was pressed, and of those only
    // the ones the engine still offers when the user confirms.
    const std::vector<std::string> captured = store_.snapshot().cleanupDeviceIDs();
    cleanupSelection_ = captured;
    QPointer<DevicesPage> self(this);
    BridgeStore& store = store_;
    const bool confirmed = dialogs_.confirm({DevicesViewModel::cleanupTitle(captured),
                                             DevicesViewModel::cleanupMessage(), QStringLiteral("Clean devices")});
    if (self) self->cleanupSelection_.reset();
    if (!confirmed) return;
    if (const std::optional<nlohmann::json> args =
            DevicesViewModel::cleanupArgs(captured, store.snapshot().cleanupDeviceIDs()))
        store.command(DevicesViewModel::cleanPath, *args, QStringLiteral("Device records cleaned"));
}

}  // namespace norv
