#include "ui/connections/connections_page.h"

#include "core/bridge_store.h"
#include "ui/connections/connection_status_model.h"
#include "ui/connections/connection_status_tile.h"
#include "ui/connections/connections_editor_model.h"
#include "ui/connections/device_connection_row.h"
#include "ui/connections/manual_wifi_targets.h"
#include "ui/connections/section_heading.h"
#include "ui/devices/page_disclosure.h"
#include "ui/overview/adaptive_grid.h"
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

ConnectionsPage::ConnectionsPage(BridgeStore& store, QWidget* parent, InterfaceLister interfaces)
    : PageFrame(parent), store_(store), interfaces_(std::move(interfaces)) {
    setObjectName(QStringLiteral("page_connections"));
    // The page starts from the configuration in force when it is shown.
    draft_ = store_.launchConfiguration();
    savedSeen_ = draft_;

    identity_ = new QVBoxLayout;
    identity_->setSpacing(6);
    column()->addLayout(identity_);

    tiles_ = new AdaptiveGrid(190, 14, content());
    column()->addWidget(tiles_);

    auto* linksPanel = new NorvPanel(content());
    linksPanel->setObjectName(QStringLiteral("deviceLinksPanel"));
    linksPanel->contentLayout()->setSpacing(13);
    linksPanel->contentLayout()->addWidget(new SectionHeading(QStringLiteral("DEVICE LINKS"), QString(), linksPanel));
    links_ = new QVBoxLayout;
    links_->setSpacing(13);
    linksPanel->contentLayout()->addLayout(links_);
    column()->addWidget(linksPanel);

    auto* manualPanel = new NorvPanel(content());
    manualPanel->setObjectName(QStringLiteral("manualWifiPanel"));
    manualPanel->contentLayout()->setSpacing(13);
    manualPanel->contentLayout()->addWidget(new SectionHeading(QStringLiteral("MANUAL WI-FI"), QString(), manualPanel));
    manual_ = new QVBoxLayout;
    manual_->setSpacing(13);
    manualPanel->contentLayout()->addLayout(manual_);
    manualPanel_ = manualPanel;
    column()->addWidget(manualPanel);

    options_ = new PageDisclosure(QStringLiteral("Connection options"), content());
    options_->bodyLayout()->addWidget(buildEditor());
    column()->addWidget(options_);

    remote_ = new PageDisclosure(QStringLiteral("Remote Control status"), content());
    remoteBody_ = remote_->bodyLayout();
    column()->addWidget(remote_);
    column()->addStretch();

    connect(&store_, &BridgeStore::changed, this, &ConnectionsPage::refresh);
    showDraft();
    refresh();
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
            [this](bool on) { setDraft(ConnectionsEditorModel::withWireless(draft_, on)); });
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
    connect(reset_, &QPushButton::clicked, this, [this] { setDraft(ConnectionsEditorModel::resetConfiguration()); });
    connect(apply_, &QPushButton::clicked, this, [this] {
        commitPort();
        store_.applyConnectionConfiguration(draft_);
    });
    return panel;
}

void ConnectionsPage::commitPort() {
    if (const std::optional<int> port = ConnectionsEditorModel::parsePort(port_->text())) {
        if (*port != draft_.publicPort) {
            BridgeLaunchConfiguration next = draft_;
            next.publicPort = *port;
            setDraft(next);
            return;
        }
    }
    port_->setText(ConnectionsEditorModel::portText(draft_.publicPort));
}

void ConnectionsPage::setDraft(const BridgeLaunchConfiguration& draft) {
    draft_ = draft;
    showDraft();
    refreshPanels();
}

void ConnectionsPage::showDraft() {
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
    {
        const QSignalBlocker blocker(port_);
        port_->setText(ConnectionsEditorModel::portText(draft_.publicPort));
    }
    const BridgeLaunchConfiguration& saved = store_.launchConfiguration();
    const EditorStatus status = ConnectionsEditorModel::status(draft_, saved, store_.process().isRunning());
    auto* symbol = status_->findChild<SymbolLabel*>();
    symbol->setSymbol(status.symbol, status.tint, 12);
    NorvSymbols::tag(status_, status.symbol);
    statusText_->setText(status.text);
    QPalette palette = statusText_->palette();
    palette.setColor(QPalette::WindowText, status.tint);
    statusText_->setPalette(palette);
    apply_->setEnabled(ConnectionsEditorModel::applyEnabled(draft_, saved, store_.externalEngine()));
}

void ConnectionsPage::refresh() {
    if (store_.launchConfiguration() != savedSeen_) {
        // A new configuration in force replaces any edit in progress.
        savedSeen_ = store_.launchConfiguration();
        draft_ = savedSeen_;
    }
    showDraft();
    refreshPanels();
}

void ConnectionsPage::refreshPanels() {
    const AdminSnapshot& snapshot = store_.snapshot();
    const BridgeHealth& health = snapshot.bridge;

    const QString subtitle = ConnectionsEditorModel::liveSubtitle(health);
    if (subtitle != headerKey_) {
        headerKey_ = subtitle;
        auto* header = new PageHeader(QStringLiteral("TRANSPORT & PAIRING"), QStringLiteral("Connections"), subtitle,
                                      content());
        if (header_) {
            column()->replaceWidget(header_, header);
            discardWidget(header_);
        } else {
            column()->insertWidget(0, header);
        }
        header_ = header;
    }

    const std::optional<BridgeIdentityLines> identity = ConnectionsEditorModel::identity(snapshot);
    const QString identityKey = identity ? identity->name + QLatin1Char('\n') + identity->details : QString();
    if (identityKey != identityKey_) {
        identityKey_ = identityKey;
        clearLayout(identity_);
        if (identity) {
            QLabel* name = makeLabel(identity->name, NorvTheme::headlineFont(), NorvTheme::primary(), content());
            QLabel* details = makeLabel(identity->details, NorvTheme::bodyFont(), NorvTheme::secondary(), content());
            for (QLabel* label : {name, details}) {
                label->setTextInteractionFlags(Qt::TextSelectableByMouse);
                identity_->addWidget(label);
            }
            name->setObjectName(QStringLiteral("bridgeName"));
            details->setObjectName(QStringLiteral("bridgeDetails"));
        }
    }

    const auto tiles = ConnectionStatusModel::transportTiles(health, store_.bluetoothStatus(), draft_.publicPort);
    QString tilesKey;
    for (const StatusTileContent& tile : tiles) tilesKey += tile.value + tile.detail + tile.tint.name() + QLatin1Char('|');
    if (tilesKey != tilesKey_) {
        tilesKey_ = tilesKey;
        tiles_->clear();
        for (const StatusTileContent& tile : tiles) tiles_->addItem(new ConnectionStatusTile(tile));
    }

    const auto links = ConnectionStatusModel::deviceLinks(snapshot);
    QString linksKey;
    for (const DeviceLinkContent& link : links)
        linksKey += link.deviceId + link.label + link.detail + link.linkLine + link.linkColor.name() +
                    link.signalLine.value_or(QString()) + link.transport + link.mode + link.symbol +
                    link.tint.name() + QLatin1Char('|');
    if (linksKey != linksKey_ || links_->count() == 0) {
        linksKey_ = linksKey;
        clearLayout(links_);
        if (links.empty()) {
            links_->addWidget(new EmptyState(QStringLiteral("ipad.and.arrow.forward"),
                                             QStringLiteral("No connected devices"), QString(), content()));
        }
        for (const DeviceLinkContent& link : links) links_->addWidget(new DeviceConnectionRow(link, content()));
    }

    QStringList targets;
    ManualWifiTargets::Panel panel = ManualWifiTargets::panel(health, targets);
    if (panel != ManualWifiTargets::Panel::wifiDisabled) {
        targets = ManualWifiTargets::targets(health, draft_.publicPort, interfaces_);
        panel = ManualWifiTargets::panel(health, targets);
    }
    const QString manualKey = QString::number(static_cast<int>(panel)) + targets.join(QLatin1Char('|'));
    if (manualKey != manualKey_) {
        manualKey_ = manualKey;
        clearLayout(manual_);
        if (panel == ManualWifiTargets::Panel::wifiDisabled) {
            manual_->addWidget(makeSymbolText(QStringLiteral("wifi.slash"), QStringLiteral("Wi-Fi disabled"),
                                              NorvTheme::secondary(), NorvTheme::bodyFont(), content()));
        } else if (panel == ManualWifiTargets::Panel::noAddress) {
            manual_->addWidget(makeSymbolText(QStringLiteral("exclamationmark.triangle"),
                                              QStringLiteral("No local IPv4 address is currently available."),
                                              NorvTheme::yellow(), NorvTheme::bodyFont(), content()));
        }
        for (const QString& target : targets) {
            if (panel != ManualWifiTargets::Panel::targets) break;
            auto* row = new QWidget(content());
            row->setObjectName(target);
            fillBackground(row, NorvTheme::panelRaised());
            auto* line = new QHBoxLayout(row);
            line->setContentsMargins(11, 11, 11, 11);
            line->setSpacing(12);
            line->addWidget(new SymbolLabel(QStringLiteral("network"), NorvTheme::teal(), 16, row));
            QFont font = NorvTheme::systemFont(13, QFont::DemiBold, true);
            line->addWidget(makeLabel(target, font, NorvTheme::primary(), row));
            line->addStretch();
            auto* copy = new QPushButton(NorvSymbols::icon(QStringLiteral("doc.on.doc"), NorvTheme::primary()),
                                         QStringLiteral("Copy"), row);
            NorvSymbols::tag(copy, QStringLiteral("doc.on.doc"));
            connect(copy, &QPushButton::clicked, this,
                    [target] { ManualWifiTargets::copy(target, *QGuiApplication::clipboard()); });
            line->addWidget(copy);
            manual_->addWidget(row);
        }
    }

    const RemoteControlContent remote = ConnectionStatusModel::remoteControl(health);
    const QString remoteKey = remote.detail + remote.liveText + remote.eventStatus;
    if (remoteKey != remoteKey_) {
        remoteKey_ = remoteKey;
        clearLayout(remoteBody_);
        auto* panelWidget = new NorvPanel(remote_->body());
        panelWidget->setObjectName(QStringLiteral("remoteControlPanel"));
        auto* row = new QHBoxLayout;
        row->setSpacing(14);
        row->addWidget(new TintedSquare(QStringLiteral("slider.horizontal.3"), NorvTheme::violet(), 40, 20, panelWidget));
        auto* texts = new QVBoxLayout;
        texts->setSpacing(4);
        texts->addWidget(makeLabel(QStringLiteral("Norv Session Remote Control"), NorvTheme::headlineFont(),
                                   NorvTheme::primary(), panelWidget));
        texts->addWidget(makeLabel(QStringLiteral("Live control & synchronization"), NorvTheme::captionFont(),
                                   NorvTheme::secondary(), panelWidget));
        texts->addWidget(makeLabel(remote.detail, NorvTheme::systemFont(10, QFont::Medium, true),
                                   NorvTheme::secondary(), panelWidget));
        row->addLayout(texts);
        row->addStretch();
        auto* badges = new QVBoxLayout;
        badges->setSpacing(5);
        const QFont badgeFont = NorvTheme::systemFont(10, QFont::Bold, true);
        badges->addWidget(makeLabel(remote.liveText, badgeFont, remote.liveColor, panelWidget), 0, Qt::AlignRight);
        badges->addWidget(makeLabel(remote.eventStatus, badgeFont, remote.eventColor, panelWidget), 0, Qt::AlignRight);
        row->addLayout(badges);
        panelWidget->contentLayout()->addLayout(row);
        remoteBody_->addWidget(panelWidget);
    }
}

}  // namespace norv
