#include "ui/shell/bridge_menu_bar.h"

#include "core/bridge_store.h"
#include "ui/theme/norv_brand.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

namespace norv {

BridgeMenuBar::BridgeMenuBar(QObject* parent)
    : QObject(parent), menu_(std::make_unique<QMenu>()), tray_(new QSystemTrayIcon(this)) {
    menu_->setObjectName(QStringLiteral("bridgeMenuBarMenu"));
    status_ = menu_->addAction(QString());
    status_->setEnabled(false);
    devices_ = menu_->addAction(QString());
    devices_->setEnabled(false);
    devices_->setFont(NorvTheme::captionFont());
    menu_->addSeparator();
    open_ = menu_->addAction(QStringLiteral("Open Norv Bridge"));
    start_ = menu_->addAction(QStringLiteral("Start Bridge"));
    menu_->addSeparator();
    quit_ = menu_->addAction(QStringLiteral("Quit"));

    connect(open_, &QAction::triggered, this, &BridgeMenuBar::openWindowRequested);
    connect(start_, &QAction::triggered, this, &BridgeMenuBar::startOrRestartRequested);
    connect(quit_, &QAction::triggered, this, &BridgeMenuBar::quitRequested);

    // The item is no menu of its own: hosts send a left click as Activate, which opens the window
    // as "Open Norv Bridge" does (with the token the host passed, which Qt keeps for it).
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) Q_EMIT openWindowRequested();
    });
    tray_->setIcon(NorvBrand::menuBarIcon());
    tray_->setContextMenu(menu_.get());
    if (QSystemTrayIcon::isSystemTrayAvailable()) tray_->show();
    setView(MenuBarView{});
}

BridgeMenuBar::~BridgeMenuBar() {
    tray_->setContextMenu(nullptr);
}

QString BridgeMenuBar::accessibleLabel(bool connected) {
    return connected ? QStringLiteral("Norv Bridge connected") : QStringLiteral("Norv Bridge unavailable");
}

QString BridgeMenuBar::deviceLine(qint64 connectedDevices) {
    return QString::number(connectedDevices) + QStringLiteral(" Norv devices");
}

void BridgeMenuBar::setView(const MenuBarView& view) {
    if (shown_ == view) return;
    shown_ = view;
    status_->setText(view.connected ? QStringLiteral("Bridge connected") : QStringLiteral("Bridge unavailable"));
    status_->setIcon(NorvSymbols::icon(view.symbol, NorvTheme::primary()));
    NorvSymbols::tag(status_, view.symbol);
    devices_->setText(deviceLine(view.connectedDevices));
    start_->setText(view.processRunning ? QStringLiteral("Restart Bridge") : QStringLiteral("Start Bridge"));
    start_->setEnabled(!view.externalEngine);
    tray_->setToolTip(accessibleLabel(view.connected));
}

}  // namespace norv

namespace norv {

MenuBarView BridgeMenuBar::viewOf(const BridgeStore& store) {
    MenuBarView view;
    view.connected = store.connectionState().isConnected();
    view.symbol = store.menuBarSymbol();
    view.connectedDevices = store.connectedDeviceCount();
    view.processRunning = store.process().isRunning();
    view.externalEngine = store.externalEngine();
    return view;
}

void BridgeMenuBar::follow(BridgeStore& store) {
    connect(&store, &BridgeStore::changed, this, [this, &store] {
        if (store.changeScope() != BridgeStore::ChangeScope::midiMonitorOnly) setView(viewOf(store));
    });
    connect(this, &BridgeMenuBar::startOrRestartRequested, &store, [&store] { store.startOrRestartBridge(); });
    setView(viewOf(store));
}

}  // namespace norv
