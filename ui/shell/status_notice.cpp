#include "ui/shell/status_notice.h"

#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

namespace norv {

StatusNotice::StatusNotice(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("statusNotice"));
    fillBackground(this, NorvTheme::panel());
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(8);
    symbol_ = new SymbolLabel(this);
    text_ = makeLabel(QString(), NorvTheme::calloutFont(), NorvTheme::teal(), this);
    text_->setWordWrap(true);
    dismiss_ = new QToolButton(this);
    dismiss_->setAutoRaise(true);
    dismiss_->setAccessibleName(QStringLiteral("Dismiss status"));
    dismiss_->setToolTip(QStringLiteral("Dismiss status"));
    dismiss_->setIconSize(QSize(12, 12));
    row->addWidget(symbol_);
    row->addWidget(text_, 1);
    row->addWidget(dismiss_);
    connect(dismiss_, &QToolButton::clicked, this, &StatusNotice::dismissRequested);
    setMessage(std::nullopt, false);
}

void StatusNotice::setMessage(const std::optional<QString>& message, bool failed) {
    setVisible(message.has_value());  // no work when it already is
    if (!message) return;
    if (!dismiss_->icon().isNull() && failed == failed_ && *message == text_->text()) return;
    failed_ = failed;
    const QColor color = failed ? NorvTheme::red() : NorvTheme::teal();
    symbol_->setSymbol(failed ? QStringLiteral("exclamationmark.triangle") : QStringLiteral("checkmark.circle"),
                       color, 16);
    text_->setText(*message);
    setTextColor(text_, color);
    dismiss_->setIcon(NorvSymbols::icon(QStringLiteral("xmark"), color, 12));
    NorvSymbols::tag(dismiss_, QStringLiteral("xmark"));
}

QString StatusNotice::message() const { return text_->text(); }

QString ExternalEngineLine::text() {
    return QStringLiteral("Bridge managed by another application \u00B7 Read only");
}

ExternalEngineLine::ExternalEngineLine(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("externalEngineLine"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(6);
    row->addStretch();
    row->addWidget(new SymbolLabel(QStringLiteral("lock"), NorvTheme::yellow(), 14, this));
    row->addWidget(makeLabel(text(), NorvTheme::calloutFont(), NorvTheme::yellow(), this));
    row->addStretch();
}

}  // namespace norv
