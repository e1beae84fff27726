#include "ui/diagnostics/pending_pairing_requests_panel.h"

#include "ui/diagnostics/pending_pairing_requests_model.h"
#include "ui/components/page_frame.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace norv {

PairingRequestLine::PairingRequestLine(const PairingRequestRow& row,
                                       const PendingPairingRequestsPanel::Actions& actions, QWidget* parent)
    : QWidget(parent), actions_(actions), row_(row) {
    setObjectName(QString::fromStdString(row.request.deviceId));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(6);
    title_ = makeSymbolText(QStringLiteral("ipad.and.iphone"), row.label, NorvTheme::primary(), NorvTheme::bodyFont(),
                            this);
    texts->addWidget(title_);
    detail_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), this);
    detail_->setObjectName(QStringLiteral("detail"));
    texts->addWidget(detail_);
    layout->addLayout(texts);
    layout->addStretch();
    allow_ = new QPushButton(QStringLiteral("Allow"), this);
    revoke_ = new QPushButton(QStringLiteral("Revoke access"), this);
    // The request as last shown decides what is sent.
    connect(allow_, &QPushButton::clicked, this, [this] {
        if (actions_.allow) actions_.allow(row_.request.deviceId, row_.request.certificateSha256);
    });
    connect(revoke_, &QPushButton::clicked, this, [this] {
        if (actions_.revoke) actions_.revoke(row_.request.deviceId);
    });
    layout->addWidget(allow_);
    layout->addWidget(revoke_);
    setContent(row);
}

void PairingRequestLine::setContent(const PairingRequestRow& row) {
    row_ = row;
    title_->findChild<QLabel*>(QStringLiteral("text"))->setText(row.label);
    detail_->setVisible(row.detail.has_value());
    detail_->setText(row.detail.value_or(QString()));
    // Restyling a selectable label rebuilds its text document: only when the kind of detail changes.
    if (detailIsFingerprint_ != row.detailIsFingerprint) {
        detailIsFingerprint_ = row.detailIsFingerprint;
        QFont font = NorvTheme::captionFont();
        if (row.detailIsFingerprint) font = NorvTheme::systemFont(font.pixelSize(), QFont::Normal, true);
        detail_->setFont(font);
        detail_->setTextInteractionFlags(row.detailIsFingerprint ? Qt::TextSelectableByMouse
                                                                 : Qt::NoTextInteraction);
    }
    allow_->setEnabled(row.allowEnabled);
    revoke_->setEnabled(row.revokeEnabled);
}

PendingPairingRequestsPanel::PendingPairingRequestsPanel(Actions actions, QWidget* parent)
    : QWidget(parent), actions_(std::move(actions)) {
    setObjectName(QStringLiteral("pendingPairingRequests"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* panel = new NorvPanel(this);
    panel->contentLayout()->setSpacing(12);
    panel->contentLayout()->addWidget(makeLabel(QStringLiteral("LEGACY PAIRING REQUESTS"), NorvTheme::sectionFont(),
                                                NorvTheme::primary(), panel));
    rows_ = {panel->contentLayout(), [](const PairingRequestRow& row) { return row.request.deviceId; },
             [this, panel](const PairingRequestRow& row) { return new PairingRequestLine(row, actions_, panel); }, 1};
    outer->addWidget(panel);
    hide();  // until a state lists a request
}

void PendingPairingRequestsPanel::setRows(const std::vector<PairingRequestRow>& rows) {
    rows_.sync(rows);
    // Shown or hidden only when that changes: showing a shown panel again would lay it out anew.
    if (isHidden() != rows.empty()) setVisible(!rows.empty());
}

}  // namespace norv
