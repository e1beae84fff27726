#include "ui/shell/main_window.h"

#include "core/bridge_store.h"
#include "ui/shell/pairing_code_banner.h"
#include "ui/shell/sidebar.h"
#include "ui/shell/status_notice.h"
#include "ui/theme/norv_button_style.h"
#include "ui/theme/norv_panel.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"

#include <QAction>
#include <QCloseEvent>
#include <QSplitter>
#include <QToolBar>
#include <QVBoxLayout>

namespace norv {

namespace {

QString text(std::string_view view) { return QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size())); }

QList<SidebarEntry> sidebarEntries() {
    QList<SidebarEntry> entries;
    for (const BridgeSection section : BridgeSection::allCases())
        entries.append({text(section.rawValue()), text(section.title()), text(section.symbol())});
    return entries;
}

void setSymbol(QAction* action, const QString& name, const QColor& color) {
    if (action->property("symbolName").toString() == name) return;
    action->setIcon(NorvSymbols::icon(name, color));
    NorvSymbols::tag(action, name);
}

}  // namespace

MainWindow::MainWindow(BridgeStore& store, PageFactory pageFactory, QWidget* parent)
    : QMainWindow(parent), store_(store), pageFactory_(std::move(pageFactory)) {
    setWindowTitle(QStringLiteral("Norv Bridge"));
    setObjectName(QStringLiteral("main"));
    setMinimumSize(minimumContentSize);

    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setChildrenCollapsible(false);
    split->setHandleWidth(1);
    sidebar_ = new Sidebar(sidebarEntries(), split);
    sidebar_->resize(210, sidebar_->height());

    auto* detail = new QWidget(split);
    fillBackground(detail, NorvTheme::background());
    auto* column = new QVBoxLayout(detail);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    external_ = new ExternalEngineLine(detail);
    notice_ = new StatusNotice(detail);
    banner_ = new PairingCodeBanner(detail);
    pageHost_ = new QWidget(detail);
    // Every button inside a page takes the plain Norv look unless the page marks it otherwise.
    pageHost_->setStyleSheet(NorvButtonStyle::styleSheet());
    pageLayout_ = new QVBoxLayout(pageHost_);
    pageLayout_->setContentsMargins(0, 0, 0, 0);
    column->addWidget(external_);
    column->addWidget(notice_);
    column->addWidget(banner_);
    column->addWidget(pageHost_, 1);
    split->addWidget(sidebar_);
    split->addWidget(detail);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({210, defaultSize.width() - 210});
    setCentralWidget(split);

    toolbar_ = addToolBar(QStringLiteral("Bridge"));
    toolbar_->setObjectName(QStringLiteral("bridgeToolbar"));
    toolbar_->setMovable(false);
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    // The symbols are drawn for 16 logical pixels; the style's 24 would let a scaled screen's
    // sharper copy grow to 24.
    toolbar_->setIconSize(QSize(16, 16));
    auto* spacer = new QWidget(toolbar_);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar_->addWidget(spacer);
    start_ = toolbar_->addAction(QStringLiteral("Start"));
    stop_ = toolbar_->addAction(QStringLiteral("Stop"));
    setSymbol(stop_, QStringLiteral("stop.fill"), NorvTheme::red());

    connect(sidebar_, &Sidebar::rowClicked, this, [this](const QString& id) {
        if (const auto section = BridgeSection::fromRaw(id.toStdString())) store_.setSelection(*section);
    });
    connect(notice_, &StatusNotice::dismissRequested, this, [this] { store_.dismissActionMessage(); });
    connect(banner_, &PairingCodeBanner::resetRequested, this, [this] { store_.resetPairing(); });
    connect(start_, &QAction::triggered, this, [this] { store_.startOrRestartBridge(); });
    connect(stop_, &QAction::triggered, this, [this] { store_.stopBridge(); });
    // The window shows nothing of the monitor's events.
    connect(&store_, &BridgeStore::changed, this, [this] {
        if (store_.changeScope() != BridgeStore::ChangeScope::midiMonitorOnly) stabilize();
    });
    stabilize();
}

QString MainWindow::stateWord(const BridgeStore& store) {
    switch (store.connectionState().kind()) {
    case AdminConnectionState::Kind::stopped: return QStringLiteral("Stopped");
    case AdminConnectionState::Kind::connecting: return QStringLiteral("Connecting");
    case AdminConnectionState::Kind::connected: return QStringLiteral("Connected");
    case AdminConnectionState::Kind::disconnected: return QStringLiteral("Disconnected");
    }
    return QStringLiteral("Disconnected");
}

void MainWindow::stabilize() {
    const bool connected = store_.connectionState().isConnected();
    std::optional<QString> selected;
    if (const auto section = store_.selection()) selected = text(section->rawValue());
    sidebar_->setSelected(selected);
    sidebar_->status()->setStatus(connected, stateWord(store_), store_.connectedDeviceCount());

    external_->setVisible(store_.externalEngine());
    notice_->setMessage(store_.actionMessage(), store_.actionFailed());

    PairingInput pairing;
    pairing.connected = connected;
    if (const auto& record = store_.snapshot().pairing) {
        pairing.status = QString::fromStdString(record->status);
        if (record->code) pairing.code = QString::fromStdString(*record->code);
        if (record->deviceLabel) pairing.deviceLabel = QString::fromStdString(*record->deviceLabel);
        pairing.expiresIn = record->expiresIn;
    }
    pairing.canChange = store_.canChange();
    pairing.anyActionPending = !store_.pendingActions().empty();
    banner_->setView(PairingCodeBanner::view(pairing));

    const bool running = store_.process().isRunning();
    start_->setText(running ? QStringLiteral("Restart") : QStringLiteral("Start"));
    setSymbol(start_, running ? QStringLiteral("arrow.clockwise") : QStringLiteral("play.fill"), NorvTheme::primary());
    start_->setEnabled(!store_.externalEngine());
    stop_->setEnabled(running);

    showPage(store_.selection().value_or(BridgeSection::overview));
}

void MainWindow::showPage(BridgeSection section) {
    // A page may make the store announce a change while it is being built (the Diagnostics page
    // refreshes the engine's log at once); that change must not build a second page.
    if (buildingPage_) return;
    if (page_ && pageSection_ == section) return;
    if (page_) {
        pageLayout_->removeWidget(page_);
        page_->hide();  // not drawn under the new page until deleteLater runs
        page_->deleteLater();
        page_ = nullptr;
    }
    buildingPage_ = true;
    QWidget* page = pageFactory_(section, store_, pageHost_);
    buildingPage_ = false;
    page_ = page;
    pageSection_ = section;
    if (page_) pageLayout_->addWidget(page_);
    // The selection may have moved on while the page was built.
    if (const auto selected = store_.selection().value_or(BridgeSection::overview); selected != section)
        showPage(selected);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (closeAllowed_) {
        event->accept();
        return;
    }
    // The application decides: hide the window where a tray can bring it back, else ask to quit.
    event->ignore();
    Q_EMIT closeRequested();
}

}  // namespace norv
