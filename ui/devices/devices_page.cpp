#include "ui/devices/devices_page.h"

#include "core/dialog_service.h"
#include "ui/components/page_disclosure.h"
#include "ui/devices/devices_view_model.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace norv {

DevicesPage::DevicesPage(Actions actions, QWidget* parent) : PageFrame(parent), actions_(std::move(actions)) {
    setObjectName(QStringLiteral("page_devices"));
    auto* header = new QHBoxLayout;
    header->addWidget(new PageHeader(QStringLiteral("NORV BRIDGE"), QStringLiteral("Devices"),
                                     QStringLiteral("Connected · Known · Archived"), content()),
                      1, Qt::AlignTop);
    clean_ = new QPushButton(QStringLiteral("Clean devices"), content());
    header->addWidget(clean_, 0, Qt::AlignTop);
    column()->addLayout(header);

    auto* connected = new QVBoxLayout;
    connected->setSpacing(14);
    empty_ = norvPanel(new EmptyState(QStringLiteral("ipad.and.arrow.forward"), QStringLiteral("No connected devices"),
                                      QStringLiteral(" ")),
                       content());
    empty_->setObjectName(QStringLiteral("connectedEmptyState"));
    empty_->hide();
    connected->addWidget(empty_);
    column()->addLayout(connected);
    connectedCards_ = cardList(connected, content(), 1);

    known_ = new PageDisclosure(QString(), content());
    archived_ = new PageDisclosure(QString(), content());
    revoked_ = new PageDisclosure(QString(), content());
    known_->setObjectName(QStringLiteral("knownGroup"));
    archived_->setObjectName(QStringLiteral("archivedGroup"));
    revoked_->setObjectName(QStringLiteral("revokedGroup"));
    for (PageDisclosure* group : {known_, archived_, revoked_}) {
        group->bodyLayout()->setContentsMargins(0, 12, 0, 0);
        group->bodyLayout()->setSpacing(14);
        group->hide();
        column()->addWidget(group);
    }
    column()->addStretch();
    knownCards_ = cardList(known_->bodyLayout(), known_->body(), 0);
    archivedCards_ = cardList(archived_->bodyLayout(), archived_->body(), 0);
    revokedRows_ = {revoked_->bodyLayout(), [](const RevokedRowContent& row) { return row.record.deviceId; },
                    [this](const RevokedRowContent& row) {
                        return new RevokedDeviceRow(row, actions_.allowRevoked, revoked_->body());
                    }};

    connect(clean_, &QPushButton::clicked, this, &DevicesPage::cleanDevices);
}

DevicesPage::Cards DevicesPage::cardList(QVBoxLayout* layout, QWidget* parent, int offset) {
    return {layout, [](const DeviceCardContent& content) { return content.device.deviceId; },
            [this, parent](const DeviceCardContent& content) {
                return new DeviceCard(actions_.card, *actions_.dialogs, content, parent);
            },
            offset};
}

QWidget* DevicesPage::connectedEmptyState() const { return empty_->isHidden() ? nullptr : empty_; }

DeviceCard* DevicesPage::card(const std::string& deviceId) const {
    for (const Cards* cards : {&connectedCards_, &knownCards_, &archivedCards_})
        if (DeviceCard* card = cards->widget(deviceId)) return card;
    return nullptr;
}

void DevicesPage::setState(const State& state) {
    const AdminSnapshot& snapshot = state.snapshot;
    const bool nothingPending = state.pendingActions.empty();
    const DeviceGroups groups = DevicesViewModel::groups(snapshot);
    clean_->setEnabled(DevicesViewModel::cleanEnabled(snapshot, state.canChange, state.pendingActions));
    cleanupIds_ = snapshot.cleanupDeviceIDs();

    empty_->setVisible(groups.connected.empty());
    if (groups.connected.empty())
        empty_->findChild<EmptyState*>()->detailLabel()->setText(DevicesViewModel::connectedEmptyDetail(state.connection));
    const auto contents = [&](const std::vector<BridgeDevice>& devices) {
        std::vector<DeviceCardContent> result;
        result.reserve(devices.size());
        for (const BridgeDevice& device : devices)
            result.push_back(DeviceCardContent::of(device, snapshot, state.canChange, nothingPending));
        return result;
    };
    connectedCards_.sync(contents(groups.connected));

    known_->setVisible(!groups.known.empty());
    known_->setTitle(DevicesViewModel::groupTitle(QStringLiteral("Known"), groups.known.size()));
    knownCards_.sync(contents(groups.known));
    archived_->setVisible(!groups.archived.empty());
    archived_->setTitle(DevicesViewModel::groupTitle(QStringLiteral("Archived"), groups.archived.size()));
    archivedCards_.sync(contents(groups.archived));

    const std::vector<RevokedDevice> revoked = DevicesViewModel::revoked(snapshot);
    const bool mayAct = state.canChange && nothingPending;
    const QString buttonTitle = DevicesViewModel::revokedButtonTitle(snapshot);
    std::vector<RevokedRowContent> rows;
    for (const RevokedDevice& record : revoked) rows.push_back({record, buttonTitle, mayAct});
    revoked_->setVisible(!revoked.empty());
    revoked_->setTitle(DevicesViewModel::groupTitle(QStringLiteral("Access revoked"), revoked.size()));
    revokedRows_.sync(rows);
}

void DevicesPage::cleanDevices() {
    // The confirmation acts on the ids offered when the button was pressed, and of those only
    // the ones the engine still offers when the user confirms.
    const std::vector<std::string> captured = cleanupIds_;
    cleanupSelection_ = captured;
    QPointer<DevicesPage> self(this);
    const auto clean = actions_.clean;
    const bool confirmed = actions_.dialogs && actions_.dialogs->confirm({DevicesViewModel::cleanupTitle(captured),
                                             DevicesViewModel::cleanupMessage(), QStringLiteral("Clean devices")});
    if (self) self->cleanupSelection_.reset();
    if (confirmed && clean) clean(captured);
}

}  // namespace norv
