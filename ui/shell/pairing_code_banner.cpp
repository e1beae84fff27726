#include "ui/shell/pairing_code_banner.h"

#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace norv {

PairingBannerView PairingCodeBanner::view(const PairingInput& input) {
    PairingBannerView view;
    const bool waiting = input.status == QStringLiteral("waiting");
    const bool locked = input.status == QStringLiteral("locked");
    if (!input.connected || !(waiting || locked)) return view;
    view.visible = true;
    view.locked = locked;
    view.caption = locked ? QStringLiteral("PAIRING LOCKED") : QStringLiteral("PAIRING CODE");
    if (waiting) view.deviceName = input.deviceLabel.value_or(QStringLiteral("New device"));
    if (waiting && input.code) {
        view.code = *input.code;
        view.secondsText = QStringLiteral("%1 s").arg(input.expiresIn.value_or(0));
        QStringList characters;
        for (const QChar c : *input.code) characters.append(QString(c));
        view.codeAccessibleLabel = QStringLiteral("Pairing code ") + characters.join(QLatin1Char(' '));
    }
    view.buttonTitle = locked ? QStringLiteral("Reset pairing") : QStringLiteral("Cancel");
    view.buttonEnabled = input.canChange && !input.anyActionPending;
    return view;
}

PairingCodeBanner::PairingCodeBanner(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("pairingCodeBanner"));
    fillBackground(this, NorvTheme::panel());
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 16, 16, 16);
    row->setSpacing(20);
    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    caption_ = makeLabel(QString(), NorvTheme::sectionFont(), NorvTheme::primary(), this);
    device_ = makeLabel(QString(), NorvTheme::calloutFont(), NorvTheme::primary(), this);
    column->addWidget(caption_);
    column->addWidget(device_);
    row->addLayout(column);
    row->addStretch();
    QFont codeFont = NorvTheme::systemFont(28, QFont::DemiBold, true);
    codeFont.setLetterSpacing(QFont::AbsoluteSpacing, 4);
    code_ = makeLabel(QString(), codeFont, NorvTheme::primary(), this);
    QFont secondsFont = NorvTheme::captionFont();
    // Sized for three digits, fixed: the countdown ticking every second lays out nothing.
    seconds_ = makeLabel(QStringLiteral("000 s"), secondsFont, NorvTheme::primary(), this);
    seconds_->setFixedSize(seconds_->sizeHint());
    seconds_->clear();
    row->addWidget(code_);
    row->addWidget(seconds_);
    button_ = new QPushButton(this);
    row->addWidget(button_);
    connect(button_, &QPushButton::clicked, this, &PairingCodeBanner::resetRequested);
    setView(PairingBannerView{});
}

void PairingCodeBanner::setView(const PairingBannerView& view) {
    if (shown_ == view) return;
    shown_ = view;
    setVisible(view.visible);
    if (!view.visible) return;
    // A label given a new text lays out the window again, so only changed texts are set.
    const auto setText = [](auto* widget, const QString& text) {
        if (widget->text() != text) widget->setText(text);
    };
    setText(caption_, view.caption);
    device_->setVisible(view.deviceName.has_value());
    setText(device_, view.deviceName.value_or(QString()));
    code_->setVisible(view.code.has_value());
    seconds_->setVisible(view.code.has_value());
    setText(code_, view.code.value_or(QString()));
    code_->setAccessibleName(view.codeAccessibleLabel);
    setText(seconds_, view.secondsText);
    setText(button_, view.buttonTitle);
    button_->setEnabled(view.buttonEnabled);
}

}  // namespace norv
