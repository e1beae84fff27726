#include "ui/components/page_disclosure.h"

#include "ui/theme/norv_theme.h"

#include <QToolButton>
#include <QVBoxLayout>

namespace norv {

PageDisclosure::PageDisclosure(const QString& title, QWidget* parent)
    : QWidget(parent), toggle_(new QToolButton(this)), body_(new QWidget(this)), bodyLayout_(new QVBoxLayout(body_)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    setTitle(title);
    toggle_->setCheckable(true);
    toggle_->setChecked(false);
    toggle_->setArrowType(Qt::RightArrow);
    toggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toggle_->setAutoRaise(true);
    toggle_->setFont(NorvTheme::headlineFont());
    toggle_->setObjectName(QStringLiteral("disclosureToggle"));
    toggle_->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    layout->addWidget(toggle_, 0, Qt::AlignLeft);
    bodyLayout_->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(body_);
    body_->setVisible(false);
    connect(toggle_, &QToolButton::toggled, this, [this](bool on) {
        toggle_->setArrowType(on ? Qt::DownArrow : Qt::RightArrow);
        body_->setVisible(on);
    });
}

void PageDisclosure::setTitle(const QString& title) {
    title_ = title;
    // A button reads "&" as a mnemonic mark; the title shows it as written.
    toggle_->setText(QString(title).replace(QLatin1Char('&'), QStringLiteral("&&")));
}

QString PageDisclosure::title() const { return title_; }

bool PageDisclosure::isExpanded() const { return toggle_->isChecked(); }

void PageDisclosure::setExpanded(bool expanded) { toggle_->setChecked(expanded); }

}  // namespace norv
