#include "ui/devices/revoked_device_row.h"

#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace norv {

RevokedDeviceRow::RevokedDeviceRow(const RevokedRowContent& content, std::function<void(const std::string&)> allow,
                                   QWidget* parent)
    : QWidget(parent) {
    setObjectName(QString::fromStdString(content.record.deviceId));
    auto* line = new QHBoxLayout(this);
    line->setContentsMargins(0, 6, 0, 6);
    symbol_ = new SymbolLabel(this);
    line->addWidget(symbol_);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    name_ = makeLabel(QString(), NorvTheme::systemFont(15, QFont::DemiBold), NorvTheme::primary(), this);
    details_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), this);
    details_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    texts->addWidget(name_);
    texts->addWidget(details_);
    line->addLayout(texts);
    line->addStretch();
    allow_ = new QPushButton(this);
    connect(allow_, &QPushButton::clicked, this, [this, allow = std::move(allow)] {
        if (allow) allow(content_.record.deviceId);
    });
    line->addWidget(allow_);
    setContent(content);
}

void RevokedDeviceRow::setContent(const RevokedRowContent& content) {
    content_ = content;
    symbol_->setSymbol(QString::fromStdString(content.record.platformSymbol()), NorvTheme::secondary(), 22);
    name_->setText(QString::fromStdString(content.record.displayName()));
    details_->setText(QString::fromStdString(content.record.details()));
    allow_->setText(content.buttonTitle);
    allow_->setEnabled(content.mayAct);
}

}  // namespace norv
