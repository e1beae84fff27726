#include "ui/devices/device_card.h"

#include "core/dialog_service.h"
#include "ui/devices/device_card_model.h"
#include "ui/components/page_disclosure.h"
#include "ui/components/page_frame.h"
#include "ui/theme/norv_field_style.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

namespace norv {

namespace {

QFont title3Font() { return NorvTheme::systemFont(15, QFont::DemiBold); }

}  // namespace

DeviceCardContent DeviceCardContent::of(const BridgeDevice& device, const AdminSnapshot& snapshot, bool canChange,
                                        bool nothingPending) {
    DeviceCardContent content{device, std::nullopt, canChange, nothingPending};
    if (const auto& access = snapshot.deviceAccess) {
        DeviceAccessSnapshot mine;
        mine.requireCertificate = access->requireCertificate;
        if (access->certificates) {
            mine.certificates.emplace();
            if (const auto found = access->certificates->find(device.deviceId); found != access->certificates->end())
                mine.certificates->insert(*found);
        }
        content.access = std::move(mine);
    }
    return content;
}

DeviceCard::DeviceCard(const Actions& actions, DialogService& dialogs, const DeviceCardContent& content,
                       QWidget* parent)
    : QWidget(parent), actions_(actions), dialogs_(dialogs), content_(content) {
    setObjectName(QString::fromStdString(content.device.deviceId));
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

    auto* actionRow = new QHBoxLayout;
    actionRow->setSpacing(12);
    using Button = DeviceCardModel::Button;
    allow_ = new QPushButton(DeviceCardModel::title(Button::allowConnection), panel);
    disconnect_ = new QPushButton(DeviceCardModel::title(Button::disconnect), panel);
    archive_ = new QPushButton(DeviceCardModel::title(Button::archive), panel);
    restore_ = new QPushButton(DeviceCardModel::title(Button::restore), panel);
    revoke_ = new QPushButton(DeviceCardModel::title(Button::revoke), panel);
    for (QPushButton* button : {allow_, disconnect_, archive_, restore_}) actionRow->addWidget(button);
    actionRow->addStretch();
    actionRow->addWidget(revoke_);
    column->addLayout(actionRow);

    // The disclosure's content is built when it is first opened: most cards are never opened, and
    // a page of many cards then builds and lays out only what shows.
    details_ = new PageDisclosure(QStringLiteral("Name & MIDI ports"), panel);
    details_->bodyLayout()->setContentsMargins(0, 12, 0, 0);
    details_->bodyLayout()->setSpacing(12);
    column->addWidget(details_);
    connect(details_->toggle(), &QToolButton::toggled, this, [this](bool open) {
        if (open) buildDetails();
    });

    connect(allow_, &QPushButton::clicked, this, [this] {
        actions_.deviceAccess(device().deviceId, DeviceAccessAction::allow,
                              content_.model().certificateFingerprint());
    });
    connect(disconnect_, &QPushButton::clicked, this, [this] { confirmAccess(DeviceAccessAction::disconnect); });
    connect(revoke_, &QPushButton::clicked, this, [this] { confirmAccess(DeviceAccessAction::forget); });
    const auto archive = [this] { actions_.archive(device().deviceId, content_.model().archiveFlag()); };
    connect(archive_, &QPushButton::clicked, this, archive);
    connect(restore_, &QPushButton::clicked, this, archive);
    nameWritten_ = QString::fromStdString(content.device.label);
    refreshState();
}

class DeviceCard::EndpointRow : public QWidget {
public:
    EndpointRow(const EndpointRowContent& content, QWidget* parent) : QWidget(parent) {
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        title_ = makeSymbolText(content.symbol, content.title, NorvTheme::primary(), NorvTheme::bodyFont(), this);
        layout->addWidget(title_);
        layout->addStretch();
        name_ = makeLabel(QString(), NorvTheme::calloutFont(), NorvTheme::primary(), this);
        name_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(name_);
        setContent(content);
    }

    void setContent(const EndpointRowContent& content) {
        setObjectName(content.id);
        if (title_->property("symbolName").toString() != content.symbol) {
            title_->findChild<SymbolLabel*>()->setSymbol(content.symbol, NorvTheme::primary(),
                                                         QFontInfo(NorvTheme::bodyFont()).pixelSize() + 2);
            NorvSymbols::tag(title_, content.symbol);
        }
        title_->findChild<QLabel*>(QStringLiteral("text"))->setText(content.title);
        name_->setText(content.name);
    }

private:
    QWidget* title_;
    QLabel* name_;
};

void DeviceCard::buildDetails() {
    if (renameRow_) return;
    QWidget* body = details_->body();
    QVBoxLayout* column = details_->bodyLayout();
    // Built while the body is hidden, its children show with it at once rather than one by one
    // on the next pass of the event loop.
    const bool open = !body->isHidden();
    body->hide();
    renameRow_ = new QWidget(body);
    auto* renameLayout = new QHBoxLayout(renameRow_);
    renameLayout->setContentsMargins(0, 0, 0, 0);
    nameField_ = new QLineEdit(renameRow_);
    nameField_->setPlaceholderText(QStringLiteral("Device name"));
    NorvFieldStyle::apply(nameField_);
    nameField_->setText(nameWritten_);
    rename_ = new QPushButton(QStringLiteral("Rename"), renameRow_);
    renameLayout->addWidget(nameField_, 1);
    renameLayout->addWidget(rename_);
    column->addWidget(renameRow_);
    previousName_ = new QPushButton(body);
    column->addWidget(previousName_, 0, Qt::AlignLeft);
    nameStatus_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), body);
    midiPending_ = makeLabel(QStringLiteral("MIDI name changes on reconnect"), NorvTheme::captionFont(),
                             NorvTheme::secondary(), body);
    column->addWidget(nameStatus_);
    column->addWidget(midiPending_);
    endpoints_ = new QVBoxLayout;
    endpoints_->setSpacing(8);
    column->addLayout(endpoints_);
    endpointRows_ = {endpoints_, [](const EndpointRowContent& row) { return row.id.toStdString(); },
                     [body](const EndpointRowContent& row) { return new EndpointRow(row, body); }};
    version_ = makeLabel(QString(), NorvTheme::captionFont(), NorvTheme::secondary(), body);
    column->addWidget(version_);

    connect(rename_, &QPushButton::clicked, this, [this] {
        nameWritten_ = nameField_->text();  // sent: the engine's next label may replace it
        actions_.rename(device().deviceId, nameField_->text().toStdString());
    });
    connect(previousName_, &QPushButton::clicked, this, [this] {
        if (!device().legacyName) return;
        actions_.rename(device().deviceId, *device().legacyName);
    });

    connect(nameField_, &QLineEdit::textChanged, this, &DeviceCard::refreshDetails);
    refreshDetails();
    body->setVisible(open);
}

QLineEdit* DeviceCard::nameField() {
    buildDetails();
    return nameField_;
}

void DeviceCard::setContent(const DeviceCardContent& content) {
    const bool labelChanged = content.device.label != content_.device.label;
    content_ = content;
    // A new label from the engine replaces the field's text unless the user is typing there.
    const QString label = QString::fromStdString(content.device.label);
    if (labelChanged && (!nameField_ || (!nameField_->hasFocus() && nameField_->text() == nameWritten_))) {
        nameWritten_ = label;
        if (nameField_) {
            const QSignalBlocker blocker(nameField_);
            nameField_->setText(label);
        }
    }
    refreshState();
}

void DeviceCard::refreshState() {
    const DeviceCardModel model = content_.model();
    const BridgeDevice& device = content_.device;
    symbol_->setSymbol(QString::fromStdString(device.platformSymbol()), model.tint(), 22);
    title_->setText(QString::fromStdString(device.label));
    subtitle_->setText(model.subtitle());
    status_->setText(model.statusText());
    setTextColor(status_, model.tint());

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
    refreshDetails();
}

void DeviceCard::refreshDetails() {
    if (!renameRow_) return;
    const DeviceCardModel model = content_.model();
    const BridgeDevice& device = content_.device;
    renameRow_->setEnabled(model.canChange());
    rename_->setEnabled(model.renameEnabled(nameField_->text()));
    const std::optional<QString> previous = model.previousNameTitle();
    previousName_->setVisible(previous.has_value());
    previousName_->setText(previous.value_or(QString()));
    previousName_->setEnabled(model.previousNameEnabled());
    const std::optional<QString> nameStatus = model.nameStatusLabel();
    nameStatus_->setVisible(nameStatus.has_value());
    nameStatus_->setText(nameStatus.value_or(QString()));
    midiPending_->setVisible(device.midiNamePending.value_or(false));
    version_->setText(model.versionLine());
    showEndpoints(model.endpointRows());
}

void DeviceCard::showEndpoints(const std::vector<EndpointRowContent>& rows) { endpointRows_.sync(rows); }

void DeviceCard::confirmAccess(DeviceAccessAction action) {
    // The dialog runs its own event loop; the card may be gone when it returns.
    const Actions actions = actions_;
    const std::string deviceId = device().deviceId;
    const QString label = QString::fromStdString(device().label);
    const bool confirmed = dialogs_.confirm({DeviceCardModel::confirmationTitle(action, label),
                                             DeviceCardModel::confirmationMessage(action),
                                             DeviceCardModel::confirmationButton(action)});
    if (!confirmed) return;
    actions.deviceAccess(deviceId, action, std::nullopt);
}

QPushButton* DeviceCard::button(const QString& title) {
    buildDetails();
    for (QPushButton* button : findChildren<QPushButton*>())
        if (button->text() == title) return button;
    return nullptr;
}

}  // namespace norv
