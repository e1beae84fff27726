#include "ui/device_settings/device_settings_page.h"

#include "core/bridge_store.h"
#include "ui/device_settings/device_settings_view_model.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace norv {

DeviceSettingsPage::DeviceSettingsPage(BridgeStore& store, QWidget* parent) : PageFrame(parent), store_(store) {
    setObjectName(QStringLiteral("page_deviceSettings"));
    column()->addWidget(new PageHeader(QStringLiteral("CONNECTED DEVICES"), QStringLiteral("Device settings"),
                                       QStringLiteral("Received settings · Current Bridge session"), content()));
    blocks_ = new QVBoxLayout;
    blocks_->setSpacing(22);
    column()->addLayout(blocks_);
    column()->addStretch();
    connect(&store_, &BridgeStore::changed, this, &DeviceSettingsPage::refresh);
    refresh();
}

void DeviceSettingsPage::refresh() {
    const DeviceSettingsViewModel model(store_.snapshot(), store_.canChange(), store_.pendingActions());
    const std::vector<SettingsProfileRow> rows = model.rows();
    const std::optional<QString> result = model.resultLabel();
    const bool pushAllowed = model.pushAllowed();

    QString key = pushAllowed ? QStringLiteral("1") : QStringLiteral("0");
    for (const SettingsProfileRow& row : rows)
        key += QLatin1Char('|') + row.scope + row.title + row.source + row.countText + row.timeText;
    key += QLatin1Char('|') + result.value_or(QStringLiteral("-"));
    if (key == shownKey_) return;
    shownKey_ = key;

    clearLayout(blocks_);
    if (rows.empty()) {
        auto* empty = norvPanel(new EmptyState(QStringLiteral("slider.horizontal.3"), QStringLiteral("No shared settings"),
                                               QStringLiteral("Waiting for settings from a tablet")),
                                content());
        empty->setObjectName(QStringLiteral("emptyState"));
        blocks_->addWidget(empty);
    }
    for (const SettingsProfileRow& row : rows) {
        auto* panel = new NorvPanel(content());
        panel->setObjectName(QStringLiteral("profile_") + row.scope);
        auto* line = new QHBoxLayout;
        line->setSpacing(16);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(6);
        texts->addWidget(makeLabel(row.title, NorvTheme::commandFont(), NorvTheme::primary(), panel));
        texts->addWidget(makeLabel(row.source, NorvTheme::bodyFont(), NorvTheme::secondary(), panel));
        auto* caption = new QHBoxLayout;
        caption->addWidget(makeLabel(row.countText, NorvTheme::captionFont(), NorvTheme::secondary(), panel));
        caption->addWidget(makeLabel(row.timeText, NorvTheme::captionFont(), NorvTheme::secondary(), panel));
        caption->addStretch();
        texts->addLayout(caption);
        line->addLayout(texts);
        line->addStretch();
        auto* push = new QPushButton(NorvSymbols::icon(QStringLiteral("arrow.up.forward.app"), NorvTheme::primary()),
                                     QStringLiteral("Apply to connected devices"), panel);
        NorvSymbols::tag(push, QStringLiteral("arrow.up.forward.app"));
        push->setEnabled(pushAllowed);
        const QString scope = row.scope;
        connect(push, &QPushButton::clicked, this, [this, scope] {
            store_.command(DeviceSettingsViewModel::pushPath, DeviceSettingsViewModel::pushArgs(scope),
                           QStringLiteral("Settings transfer requested"));
        });
        line->addWidget(push);
        panel->contentLayout()->addLayout(line);
        blocks_->addWidget(panel);
    }
    if (result) {
        QLabel* label = makeLabel(*result, NorvTheme::calloutFont(), NorvTheme::secondary(), content());
        label->setObjectName(QStringLiteral("resultLabel"));
        blocks_->addWidget(label);
    }
}

}  // namespace norv
