#include "ui/device_settings/device_settings_page.h"

#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace norv {

SettingsProfilePanel::SettingsProfilePanel(const SettingsProfileContent& content,
                                           std::function<void(const QString&)> push, QWidget* parent)
    : NorvPanel(parent), content_(content) {
    setObjectName(QStringLiteral("profile_") + content.row.scope);
    auto* line = new QHBoxLayout;
    line->setSpacing(16);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(6);
    title_ = makeLabel(QString(), NorvTheme::commandFont(), NorvTheme::primary(), this);
    source_ = makeLabel(QString(), NorvTheme::bodyFont(), NorvTheme::secondary(), this);
    texts->addWidget(title_);
    texts->addWidget(source_);
    auto* caption = new QHBoxLayout;
    count_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), this);
    time_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), this);
    caption->addWidget(count_);
    caption->addWidget(time_);
    caption->addStretch();
    texts->addLayout(caption);
    line->addLayout(texts);
    line->addStretch();
    push_ = new QPushButton(NorvSymbols::icon(QStringLiteral("arrow.up.forward.app"), NorvTheme::primary()),
                            QStringLiteral("Apply to connected devices"), this);
    NorvSymbols::tag(push_, QStringLiteral("arrow.up.forward.app"));
    connect(push_, &QPushButton::clicked, this, [this, push = std::move(push)] {
        if (push) push(content_.row.scope);
    });
    line->addWidget(push_);
    contentLayout()->addLayout(line);
    setContent(content);
}

void SettingsProfilePanel::setContent(const SettingsProfileContent& content) {
    content_ = content;
    title_->setText(content.row.title);
    source_->setText(content.row.source);
    count_->setText(content.row.countText);
    time_->setText(content.row.timeText);
    push_->setEnabled(content.pushAllowed);
}

DeviceSettingsPage::DeviceSettingsPage(Actions actions, QWidget* parent)
    : PageFrame(parent), actions_(std::move(actions)) {
    setObjectName(QStringLiteral("page_deviceSettings"));
    column()->addWidget(new PageHeader(QStringLiteral("CONNECTED DEVICES"), QStringLiteral("Device settings"),
                                       QStringLiteral("Received settings · Current Bridge session"), content()));
    auto* blocks = new QVBoxLayout;
    blocks->setSpacing(22);
    empty_ = norvPanel(new EmptyState(QStringLiteral("slider.horizontal.3"), QStringLiteral("No shared settings"),
                                      QStringLiteral("Waiting for settings from a tablet")),
                       content());
    empty_->setObjectName(QStringLiteral("emptyState"));
    blocks->addWidget(empty_);
    result_ = makeLabel(QString(), NorvTheme::calloutFont(), NorvTheme::secondary(), content());
    result_->setObjectName(QStringLiteral("resultLabel"));
    result_->hide();
    blocks->addWidget(result_);
    column()->addLayout(blocks);
    column()->addStretch();
    profiles_ = {blocks, [](const SettingsProfileContent& profile) { return profile.row.scope.toStdString(); },
                 [this](const SettingsProfileContent& profile) {
                     return new SettingsProfilePanel(profile, actions_.push, content());
                 },
                 1};
}

void DeviceSettingsPage::setState(const State& state) {
    const DeviceSettingsViewModel model(state.snapshot, state.canChange, state.pendingActions);
    const std::vector<SettingsProfileRow> rows = model.rows();
    const bool pushAllowed = model.pushAllowed();
    empty_->setVisible(rows.empty());
    std::vector<SettingsProfileContent> profiles;
    for (const SettingsProfileRow& row : rows) profiles.push_back({row, pushAllowed});
    profiles_.sync(profiles);
    const std::optional<QString> result = model.resultLabel();
    result_->setText(result.value_or(QString()));
    result_->setVisible(result.has_value());
}

}  // namespace norv
