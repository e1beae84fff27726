#include "ui/connections/connection_panels.h"

#include "ui/connections/manual_wifi_targets.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace norv {

ManualTargetRow::ManualTargetRow(const QString& target, QWidget* parent) : QWidget(parent) {
    setObjectName(target);
    fillBackground(this, NorvTheme::panelRaised());
    auto* line = new QHBoxLayout(this);
    line->setContentsMargins(11, 11, 11, 11);
    line->setSpacing(12);
    line->addWidget(new SymbolLabel(QStringLiteral("network"), NorvTheme::teal(), 16, this));
    line->addWidget(makeLabel(target, NorvTheme::systemFont(13, QFont::DemiBold, true), NorvTheme::primary(), this));
    line->addStretch();
    auto* copy = new QPushButton(NorvSymbols::icon(QStringLiteral("doc.on.doc"), NorvTheme::primary()),
                                 QStringLiteral("Copy"), this);
    NorvSymbols::tag(copy, QStringLiteral("doc.on.doc"));
    connect(copy, &QPushButton::clicked, this, [target] { ManualWifiTargets::copy(target, *QGuiApplication::clipboard()); });
    line->addWidget(copy);
}

RemoteControlPanel::RemoteControlPanel(QWidget* parent) : NorvPanel(parent) {
    setObjectName(QStringLiteral("remoteControlPanel"));
    auto* row = new QHBoxLayout;
    row->setSpacing(14);
    row->addWidget(new TintedSquare(QStringLiteral("slider.horizontal.3"), NorvTheme::violet(), 40, 20, this));
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(makeLabel(QStringLiteral("Norv Session Remote Control"), NorvTheme::headlineFont(),
                               NorvTheme::primary(), this));
    texts->addWidget(makeLabel(QStringLiteral("Live control & synchronization"), NorvTheme::captionFont(),
                               NorvTheme::secondary(), this));
    detail_ = makeLabel(QString(), NorvTheme::systemFont(10, QFont::Medium, true), NorvTheme::secondary(), this);
    texts->addWidget(detail_);
    row->addLayout(texts);
    row->addStretch();
    auto* badges = new QVBoxLayout;
    badges->setSpacing(5);
    const QFont badgeFont = NorvTheme::systemFont(10, QFont::Bold, true);
    live_ = makeLabel(QString(), badgeFont, NorvTheme::secondary(), this);
    events_ = makeLabel(QString(), badgeFont, NorvTheme::secondary(), this);
    badges->addWidget(live_, 0, Qt::AlignRight);
    badges->addWidget(events_, 0, Qt::AlignRight);
    row->addLayout(badges);
    contentLayout()->addLayout(row);
}

void RemoteControlPanel::setContent(const RemoteControlContent& content) {
    detail_->setText(content.detail);
    live_->setText(content.liveText);
    setTextColor(live_, content.liveColor);
    events_->setText(content.eventStatus);
    setTextColor(events_, content.eventColor);
}

}  // namespace norv
