#include "ui/devices/device_card.h"

#include "core/bridge_store.h"
#include "core/dialog_service.h"
#include "ui/devices/device_card_model.h"
#include "ui/devices/page_disclosure.h"
#include "ui/overview/page_frame.h"
#include "ui/theme/norv_field_style.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace norv {

namespace {

QFont title3Font() { return NorvTheme::systemFont(15, QFont::DemiBold); }

void setColor(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

}  // namespace

DeviceCard::DeviceCard(BridgeStore& store, DialogService& dialogs, const BridgeDevice& device, QWidget* parent)
    : QWidget(parent), store_(store), dialogs_(dialogs), device_(device) {
    setObjectName(QString::fromStdString(device.deviceId));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* panel = new NorvPanel(this);
    outer->addWidget(panel);
    QVBoxLayout* column = panel->contentLayout();
    column->setSpacing(14);

    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    symbol_ = new SymbolLabel(panel);
    header->addWidget(symbol_);
    auto* names = new QVBoxLayout;
    names->setSpacing(3);
    title_ = makeLabel(QString(), title3Font(), NorvTheme::primary(), panel);
    subtitle_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), panel);
    names->addWidget(title_);
    names->addWidget(subtitle_);
    header->addLayout(names);
    header->addStretch();
    status_ = makeLabel(QString(), NorvTheme::sectionFont(), NorvTheme::secondary(), panel);
    status_->setObjectName(QStringLiteral("statusText"));
    header->addWidget(status_);
    column->addLayout(header);

    auto* actions = new QHBoxLayout;
    actions->setSpacing(12);
    using Button = DeviceCardModel::Button;
    allow_ = new QPushButton(DeviceCardModel::title(Button::allowConnection), panel);
    disconnect_ = new QPushButton(DeviceCardModel::title(Button::disconnect), panel);
    archive_ = new QPushButton(DeviceCardModel::title(Button::archive), panel);
    restore_ = new QPushButton(DeviceCardModel::title(Button::restore), panel);
    revoke_ = new QPushButton(DeviceCardModel::title(Button::revoke), panel);
    for (QPushButton* button : {allow_, disconnect_, archive_, restore_}) actions->addWidget(button);
    actions->addStretch();
    actions->addWidget(revoke_);
    column->addLayout(actions);

    details_ = new PageDisclosure(QStringLiteral("Name & MIDI ports"), panel);
    QVBoxLayout* body = details_->bodyLayout();
    body->setContentsMargins(0, 12, 0, 0);
    body->setSpacing(12);
    renameRow_ = new QWidget(details_->body());
    auto* renameLayout = new QHBoxLayout(renameRow_);
    renameLayout->setContentsMargins(0, 0, 0, 0);
    nameField_ = new QLineEdit(renameRow_);
    nameField_->setPlaceholderText(QStringLiteral("Device name"));
    NorvFieldStyle::apply(nameField_);
    rename_ = new QPushButton(QStringLiteral("Rename"), renameRow_);
    renameLayout->addWidget(nameField_, 1);
    renameLayout->addWidget(rename_);
    body->addWidget(renameRow_);
    previousName_ = new QPushButton(details_->body());
    body->addWidget(previousName_, 0, Qt::AlignLeft);
    nameStatus_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), details_->body());
    midiPending_ = makeLabel(QStringLiteral("MIDI name changes on reconnect"), NorvTheme::captionFont(),
                             NorvTheme::secondary(), details_->body());
    body->addWidget(nameStatus_);
    body->addWidget(midiPending_);
    endpoints_ = new QVBoxLayout;
    endpoints_->setSpacing(8);
    body->addLayout(endpoints_);
    version_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), details_->body());
    body->addWidget(version_);
    column->addWidget(details_);

    connect(allow_, &QPushButton::clicked, this, [this] {
        const DeviceCardModel model(device_, store_.snapshot().deviceAccess, true, true);
        store_.deviceAccess(device_.deviceId, "allow", model.certificateFingerprint());
    });
    connect(disconnect_, &QPushButton::clicked, this, [this] { confirmAccess("disconnect"); });
    connect(revoke_, &QPushButton::clicked, this, [this] { confirmAccess("forget"); });
    const auto archive = [this] {
        const DeviceCardModel model(device_, std::nullopt, true, true);
        store_.command(DeviceCardModel::archivePath, model.archiveArgs(), model.archiveLabel());
    };
    connect(archive_, &QPushButton::clicked, this, archive);
    connect(restore_, &QPushButton::clicked, this, archive);
    connect(rename_, &QPushButton::clicked, this, [this] {
        const DeviceCardModel model(device_, std::nullopt, true, true);
        store_.command(DeviceCardModel::renamePath, model.renameArgs(nameField_->text()),
                       QStringLiteral("Rename requested"));
    });
    connect(previousName_, &QPushButton::clicked, this, [this] {
        if (!device_.legacyName) return;
        store_.command(DeviceCardModel::renamePath, nlohmann::json::array({device_.deviceId, *device_.legacyName}),
                       QStringLiteral("Rename requested"));
    });
    connect(nameField_, &QLineEdit::textChanged, this, &DeviceCard::refreshState);
    connect(&store_, &BridgeStore::changed, this, &DeviceCard::refreshState);

    nameField_->setText(QString::fromStdString(device.label));
    update(device);
}

void DeviceCard::update(const BridgeDevice& device) {
    const bool labelChanged = device.label != device_.label;
    device_ = device;
    if (labelChanged) nameField_->setText(QString::fromStdString(device.label));
    refreshState();
}

void DeviceCard::refreshState() {
    const DeviceCardModel model(device_, store_.snapshot().deviceAccess, store_.canChange(),
                                store_.pendingActions().empty());
    symbol_->setSymbol(QString::fromStdString(device_.platformSymbol()), model.tint(), 22);
    title_->setText(QString::fromStdString(device_.label));
    subtitle_->setText(model.subtitle());
    status_->setText(model.statusText());
    setColor(status_, model.tint());

    using Button = DeviceCardModel::Button;
    const std::vector<Button> shown = model.actionButtons();
    const std::pair<Button, QPushButton*> buttons[] = {{Button::allowConnection, allow_},
                                                       {Button::disconnect, disconnect_},
                                                       {Button::archive, archive_},
                                                       {Button::restore, restore_},
                                                       {Button::revoke, revoke_}};
    for (const auto& [kind, button] : buttons) {
        button->setVisible(std::find(shown.begin(), shown.end(), kind) != shown.end());
        button->setEnabled(model.enabled(kind));
    }

    renameRow_->setEnabled(model.canChange());
    rename_->setEnabled(model.renameEnabled(nameField_->text()));
    const std::optional<QString> previous = model.previousNameTitle();
    previousName_->setVisible(previous.has_value());
    previousName_->setText(previous.value_or(QString()));
    previousName_->setEnabled(model.previousNameEnabled());
    const std::optional<QString> nameStatus = model.nameStatusLabel();
    nameStatus_->setVisible(nameStatus.has_value());
    nameStatus_->setText(nameStatus.value_or(QString()));
    midiPending_->setVisible(device_.midiNamePending.value_or(false));
    version_->setText(model.versionLine());

    const std::vector<EndpointRowContent> rows = model.endpointRows();
    QStringList ids;
    for (const EndpointRowContent& row : rows) ids << row.id + row.title + row.name;
    if (endpoints_->property("key").toStringList() != ids || endpoints_->count() != static_cast<int>(rows.size())) {
        endpoints_->setProperty("key", ids);
        clearLayout(endpoints_);
        for (const EndpointRowContent& row : rows) {
            auto* line = new QWidget(details_->body());
            line->setObjectName(row.id);
            auto* layout = new QHBoxLayout(line);
            layout->setContentsMargins(0, 0, 0, 0);
            layout->addWidget(makeSymbolText(row.symbol, row.title, NorvTheme::primary(), NorvTheme::bodyFont(), line));
            layout->addStretch();
            QLabel* name = makeLabel(row.name, NorvTheme::calloutFont(), NorvTheme::primary(), line);
            name->setTextInteractionFlags(Qt::TextSelectableByMouse);
            layout->addWidget(name);
            endpoints_->addWidget(line);
        }
    }
}

void DeviceCard::confirmAccess(const std::string& action) {
    // The dialog runs its own event loop; the card may be gone when it returns.
    BridgeStore& store = store_;
    const std::string deviceId = device_.deviceId;
    const QString label = QString::fromStdString(device_.label);
    const bool confirmed = dialogs_.confirm({DeviceCardModel::confirmationTitle(action, label),
                                             DeviceCardModel::confirmationMessage(action),
                                             DeviceCardModel::confirmationButton(action)});
    if (!confirmed) return;
    store.deviceAccess(deviceId, action, std::nullopt);
}

QPushButton* DeviceCard::button(const QString& title) const {
    for (QPushButton* button : findChildren<QPushButton*>())
        if (button->text() == title) return button;
    return nullptr;
}

}  // namespace norv
