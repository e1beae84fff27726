#include "ui/devices/pending_pairing_requests_panel.h"

#include "core/bridge_store.h"
#include "ui/devices/pending_pairing_requests_model.h"
#include "ui/components/page_frame.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace norv {

PendingPairingRequestsPanel::PendingPairingRequestsPanel(BridgeStore& store, QWidget* parent)
    : QWidget(parent), store_(store) {
    setObjectName(QStringLiteral("pendingPairingRequests"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* panel = new NorvPanel(this);
    panel->contentLayout()->setSpacing(12);
    panel->contentLayout()->addWidget(makeLabel(QStringLiteral("LEGACY PAIRING REQUESTS"), NorvTheme::sectionFont(),
                                                NorvTheme::primary(), panel));
    rows_ = new QVBoxLayout;
    rows_->setSpacing(12);
    panel->contentLayout()->addLayout(rows_);
    outer->addWidget(panel);
    connect(&store_, &BridgeStore::changed, this, &PendingPairingRequestsPanel::refresh);
    refresh();
}

void PendingPairingRequestsPanel::refresh() {
    const std::vector<PairingRequestRow> rows =
        PendingPairingRequestsModel::rows(store_.snapshot(), store_.canChange(), store_.pendingActions().empty());
    QString key = QStringLiteral("#");
    for (const PairingRequestRow& row : rows)
        key += QString::fromStdString(row.request.deviceId) + row.label + row.detail.value_or(QString()) +
               QString::number(row.allowEnabled) + QString::number(row.revokeEnabled) + QLatin1Char('|');
    if (key == shownKey_) return;
    shownKey_ = key;
    setVisible(!rows.empty());
    retireLayoutItems(rows_);
    for (const PairingRequestRow& row : rows) {
        auto* line = new QWidget(this);
        line->setObjectName(QString::fromStdString(row.request.deviceId));
        auto* layout = new QHBoxLayout(line);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(6);
        texts->addWidget(makeSymbolText(QStringLiteral("ipad.and.iphone"), row.label, NorvTheme::primary(),
                                        NorvTheme::bodyFont(), line));
        if (row.detail) {
            QFont font = NorvTheme::captionFont();
            if (row.detailIsFingerprint) font = NorvTheme::systemFont(font.pixelSize(), QFont::Normal, true);
            QLabel* detail = makeLabel(*row.detail, font, NorvTheme::secondary(), line);
            detail->setObjectName(QStringLiteral("detail"));
            if (row.detailIsFingerprint) detail->setTextInteractionFlags(Qt::TextSelectableByMouse);
            texts->addWidget(detail);
        }
        layout->addLayout(texts);
        layout->addStretch();
        auto* allow = new QPushButton(QStringLiteral("Allow"), line);
        auto* revoke = new QPushButton(QStringLiteral("Revoke access"), line);
        allow->setEnabled(row.allowEnabled);
        revoke->setEnabled(row.revokeEnabled);
        const DeviceAccessRequest request = row.request;
        connect(allow, &QPushButton::clicked, this,
                [this, request] { store_.deviceAccess(request.deviceId, "allow", request.certificateSha256); });
        connect(revoke, &QPushButton::clicked, this,
                [this, request] { store_.deviceAccess(request.deviceId, "forget", std::nullopt); });
        layout->addWidget(allow);
        layout->addWidget(revoke);
        rows_->addWidget(line);
    }
}

}  // namespace norv
