#include "ui/connections/connections_page.h"

#include "ui/connections/connections_view_model.h"
#include "ui/connections/connection_status_tile.h"
#include "ui/connections/manual_wifi_targets.h"
#include "ui/components/section_heading.h"
#include "ui/components/page_disclosure.h"
#include "ui/components/adaptive_grid.h"
#include "ui/theme/norv_button_style.h"
#include "ui/theme/norv_field_style.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QCheckBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace norv {

namespace {

QFrame* strokeDivider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFixedHeight(1);
    fillBackground(line, NorvTheme::stroke());
    return line;
}

QCheckBox* makeSwitch(const QString& title, QWidget* parent) {
    auto* box = new QCheckBox(title, parent);
    box->setObjectName(title);
    return box;
}

}  // namespace

ConnectionsPage::ConnectionsPage(Actions actions, QWidget* parent) : PageFrame(parent), actions_(std::move(actions)) {
    setObjectName(QStringLiteral("page_connections"));

    header_ = new PageHeader(QStringLiteral("TRANSPORT & PAIRING"), QStringLiteral("Connections"), QString(), content());
    column()->addWidget(header_);
    auto* identity = new QVBoxLayout;
    identity->setSpacing(6);
    bridgeName_ = makeLabel(QString(), NorvTheme::headlineFont(), NorvTheme::primary(), content());
    bridgeDetails_ = makeLabel(QString(), NorvTheme::bodyFont(), NorvTheme::secondary(), content());
    bridgeName_->setObjectName(QStringLiteral("bridgeName"));
    bridgeDetails_->setObjectName(QStringLiteral("bridgeDetails"));
    for (QLabel* label : {bridgeName_, bridgeDetails_}) {
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->hide();
        identity->addWidget(label);
    }
    column()->addLayout(identity);

    auto* tiles = new AdaptiveGrid(190, 14, content());
    tiles_ = {tiles, [](const StatusTileContent& tile) { return tile.title.toStdString(); },
              [tiles](const StatusTileContent& tile) { return new ConnectionStatusTile(tile, tiles); },
              [](ConnectionStatusTile* widget, const StatusTileContent& tile) { widget->setContent(tile); }};
    column()->addWidget(tiles);

    auto* linksPanel = new NorvPanel(content());
    linksPanel->setObjectName(QStringLiteral("deviceLinksPanel"));
    linksPanel->contentLayout()->setSpacing(13);
    linksPanel->contentLayout()->addWidget(new SectionHeading(QStringLiteral("DEVICE LINKS"), QString(), linksPanel));
    noLinks_ = new EmptyState(QStringLiteral("ipad.and.arrow.forward"), QStringLiteral("No connected devices"), QString(),
                              linksPanel);
    linksPanel->contentLayout()->addWidget(noLinks_);
    links_ = {linksPanel->contentLayout(),
              [](const DeviceLinkContent& link) { return link.deviceId.toStdString(); },
              [linksPanel](const DeviceLinkContent& link) { return new DeviceConnectionRow(link, linksPanel); }, 2};
    linksPanel_ = linksPanel;
    column()->addWidget(linksPanel);

    auto* manualPanel = new NorvPanel(content());
    manualPanel->setObjectName(QStringLiteral("manualWifiPanel"));
    manualPanel->contentLayout()->setSpacing(13);
    manualPanel->contentLayout()->addWidget(new SectionHeading(QStringLiteral("MANUAL WI-FI"), QString(), manualPanel));
    manualMessage_ = new QWidget(manualPanel);  // holds the panel's message, when it has one
    auto* message = new QVBoxLayout(manualMessage_);
    message->setContentsMargins(0, 0, 0, 0);
    manualPanel->contentLayout()->addWidget(manualMessage_);
    manualTargets_ = {manualPanel->contentLayout(), [](const QString& target) { return target.toStdString(); },
                      [manualPanel](const QString& target) { return new ManualTargetRow(target, manualPanel); }, 2};
    manualPanel_ = manualPanel;
    column()->addWidget(manualPanel);

    options_ = new PageDisclosure(QStringLiteral("Connection options"), content());
    options_->bodyLayout()->addWidget(buildEditor());
    column()->addWidget(options_);

    remote_ = new PageDisclosure(QStringLiteral("Remote Control status"), content());
    remotePanel_ = new RemoteControlPanel(remote_->body());
    remote_->bodyLayout()->addWidget(remotePanel_);
    column()->addWidget(remote_);
    column()->addStretch();

    showDraft(true);
}

QWidget* ConnectionsPage::buildEditor() {
    auto* panel = new NorvPanel;
    panel->setObjectName(QStringLiteral("configurationPanel"));
    QVBoxLayout* layout = panel->contentLayout();
    layout->setSpacing(16);
    layout->addWidget(new SectionHeading(QStringLiteral("ACCEPTED CONNECTIONS"), QString(), panel));
    layout->addWidget(makeSymbolText(QStringLiteral("lock.shield"), QStringLiteral("Secure connection"),
                                     NorvTheme::primary(), NorvTheme::bodyFont(), panel));
    wireless_ = makeSwitch(QStringLiteral("Accept Wi-Fi connections"), panel);
    bonjour_ = makeSwitch(QStringLiteral("Advertise with Bonjour"), panel);
    layout->addWidget(wireless_);
    layout->addWidget(bonjour_);

    auto* portRow = new QHBoxLayout;
    portRow->setSpacing(12);
    portRow->addWidget(makeLabel(QStringLiteral("Wi-Fi port"), NorvTheme::bodyFont(), NorvTheme::primary(), panel));
    port_ = new QLineEdit(panel);
    port_->setPlaceholderText(QStringLiteral("Port"));
    port_->setFixedWidth(110);
    port_->setObjectName(QStringLiteral("portField"));
    NorvFieldStyle::apply(port_);
    portRow->addWidget(port_);
    portRow->addStretch();
    layout->addLayout(portRow);
    layout->addWidget(strokeDivider(panel));

    iosUsb_ = makeSwitch(QStringLiteral("Accept iPad / iPhone over USB"), panel);
    androidUsb_ = makeSwitch(QStringLiteral("Accept Android over USB (ADB)"), panel);
    layout->addWidget(iosUsb_);
    layout->addWidget(androidUsb_);
    layout->addWidget(strokeDivider(panel));
    bluetooth_ = makeSwitch(QStringLiteral("Accept Bluetooth connections"), panel);
    layout->addWidget(bluetooth_);

    auto* footer = new QHBoxLayout;
    status_ = new QWidget(panel);
    auto* statusLayout = new QHBoxLayout(status_);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(6);
    statusLayout->addWidget(new SymbolLabel(status_));
    QFont statusFont = NorvTheme::captionFont();
    statusFont.setWeight(QFont::DemiBold);
    statusText_ = makeLabel(QString(), statusFont, NorvTheme::teal(), status_);
    statusText_->setObjectName(QStringLiteral("editorStatus"));
    statusLayout->addWidget(statusText_);
    footer->addWidget(status_);
    footer->addStretch();
    reset_ = new QPushButton(QStringLiteral("Reset"), panel);
    apply_ = new QPushButton(QStringLiteral("Apply"), panel);
    NorvButtonStyle::apply(apply_, true);
    footer->addWidget(reset_);
    footer->addWidget(apply_);
    layout->addLayout(footer);

    connect(wireless_, &QCheckBox::toggled, this,
            [this](bool on) { setDraft(ConnectionsViewModel::withWireless(draft_, on)); });
    connect(bonjour_, &QCheckBox::toggled, this, [this](bool on) {
        BridgeLaunchConfiguration next = draft_;
        next.bonjourEnabled = on;
        setDraft(next);
    });
    connect(iosUsb_, &QCheckBox::toggled, this, [this](bool on) {
        BridgeLaunchConfiguration next = draft_;
        next.iosUSBEnabled = on;
        setDraft(next);
    });
    connect(androidUsb_, &QCheckBox::toggled, this, [this](bool on) {
        BridgeLaunchConfiguration next = draft_;
        next.androidUSBEnabled = on;
        setDraft(next);
    });
    connect(bluetooth_, &QCheckBox::toggled, this, [this](bool on) {
        BridgeLaunchConfiguration next = draft_;
        next.bluetoothEnabled = on;
        setDraft(next);
    });
    connect(port_, &QLineEdit::editingFinished, this, &ConnectionsPage::commitPort);
    connect(reset_, &QPushButton::clicked, this, [this] { setDraft(ConnectionsViewModel::resetConfiguration()); });
    connect(apply_, &QPushButton::clicked, this, [this] {
        commitPort();
        if (actions_.apply) actions_.apply(draft_);
    });
    return panel;
}

void ConnectionsPage::commitPort() {
    if (const std::optional<int> port = ConnectionsViewModel::parsePort(port_->text())) {
        if (*port != draft_.publicPort) {
            BridgeLaunchConfiguration next = draft_;
            next.publicPort = *port;
            setDraft(next);
            return;
        }
    }
    showDraft(true);
}

void ConnectionsPage::setDraft(const BridgeLaunchConfiguration& draft) {
    draft_ = draft;
    showDraft(true);
    showDraftPanels();
}

void ConnectionsPage::showDraft(bool force) {
    const struct {
        QCheckBox* box;
        bool value;
    } switches[] = {{wireless_, draft_.wirelessEnabled},     {bonjour_, draft_.bonjourEnabled},
                    {iosUsb_, draft_.iosUSBEnabled},         {androidUsb_, draft_.androidUSBEnabled},
                    {bluetooth_, draft_.bluetoothEnabled}};
    for (const auto& item : switches) {
        const QSignalBlocker blocker(item.box);
        item.box->setChecked(item.value);
    }
    bonjour_->setEnabled(draft_.wirelessEnabled);
    // The port field keeps what the user is typing: it is rewritten only when the user is not in
    // it and it still shows what the page last wrote, or when an edit ends (apply, reset, commit).
    const QString portText = ConnectionsViewModel::portText(draft_.publicPort);
    if (force || (!port_->hasFocus() && port_->text() == portWritten_)) {
        if (port_->text() != portText) {
            const QSignalBlocker blocker(port_);
            port_->setText(portText);
        }
        portWritten_ = portText;
    }
    const EditorStatus status = ConnectionsViewModel::status(draft_, state_.saved, state_.engineRunning);
    auto* symbol = status_->findChild<SymbolLabel*>();
    symbol->setSymbol(status.symbol, status.tint, 12);
    NorvSymbols::tag(status_, status.symbol);
    statusText_->setText(status.text);
    setTextColor(statusText_, status.tint);
    apply_->setEnabled(ConnectionsViewModel::applyEnabled(draft_, state_.saved, state_.externalEngine));
}

void ConnectionsPage::setState(const State& state) {
    // The first configuration, and any new configuration in force, replaces an edit in progress.
    const bool savedChanged = !shown_ || state.saved != state_.saved;
    shown_ = true;
    state_ = state;
    if (savedChanged) draft_ = state.saved;
    showDraft(savedChanged);
    showEngine();
}

void ConnectionsPage::showEngine() {
    const AdminSnapshot& snapshot = state_.snapshot;
    const BridgeHealth& health = snapshot.bridge;
    header_->setSubtitle(ConnectionsViewModel::liveSubtitle(health));

    const std::optional<BridgeIdentityLines> identity = ConnectionsViewModel::identity(snapshot);
    bridgeName_->setText(identity ? identity->name : QString());
    bridgeDetails_->setText(identity ? identity->details : QString());
    bridgeName_->setVisible(identity.has_value());
    bridgeDetails_->setVisible(identity.has_value());

    const auto links = ConnectionsViewModel::deviceLinks(snapshot);
    noLinks_->setVisible(links.empty());
    links_.sync(links);

    remotePanel_->setContent(ConnectionsViewModel::remoteControl(health));
    showDraftPanels();
}

void ConnectionsPage::showDraftPanels() {
    const BridgeHealth& health = state_.snapshot.bridge;
    tiles_.sync(ConnectionsViewModel::transportTiles(health, state_.bluetoothStatus, draft_.publicPort));

    QStringList targets;
    ManualWifiTargets::Panel panel = ManualWifiTargets::panel(health, targets);
    if (panel != ManualWifiTargets::Panel::wifiDisabled) {
        targets = ManualWifiTargets::targets(health, draft_.publicPort, actions_.interfaces);
        panel = ManualWifiTargets::panel(health, targets);
    }
    if (static_cast<int>(panel) != manualKind_) {
        manualKind_ = static_cast<int>(panel);
        retireLayoutItems(manualMessage_->layout());
        QWidget* message = nullptr;
        if (panel == ManualWifiTargets::Panel::wifiDisabled) {
            message = makeSymbolText(QStringLiteral("wifi.slash"), QStringLiteral("Wi-Fi disabled"),
                                     NorvTheme::secondary(), NorvTheme::bodyFont(), manualMessage_);
        } else if (panel == ManualWifiTargets::Panel::noAddress) {
            message = makeSymbolText(QStringLiteral("exclamationmark.triangle"),
                                     QStringLiteral("No local IPv4 address is currently available."),
                                     NorvTheme::yellow(), NorvTheme::bodyFont(), manualMessage_);
        }
        if (message) manualMessage_->layout()->addWidget(message);
        manualMessage_->setVisible(message != nullptr);
    }
    const bool listed = panel == ManualWifiTargets::Panel::targets;
    manualTargets_.sync(listed ? std::vector<QString>(targets.begin(), targets.end()) : std::vector<QString>{});
}

}  // namespace norv
