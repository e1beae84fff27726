#include "app/norv_bridge_app.h"

#include "core/bridge_store.h"
#include "core/dialog_service.h"
#include "ui/shell/bridge_menu_bar.h"
#include "ui/shell/main_window.h"
#include "ui/shell/sidebar.h"
#include "app/x11_startup_notification.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenuBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

namespace norv {

NorvBridgeApp::NorvBridgeApp(BridgeStore& store, DialogService& dialogs, Options options, QObject* parent)
    : QObject(parent),
      store_(store),
      dialogs_(dialogs),
      options_(std::move(options)),
      window_(std::make_unique<MainWindow>(
          store, options_.pageFactory ? options_.pageFactory
                                      : [](BridgeSection, BridgeStore&, QWidget* parent) { return new QWidget(parent); })),
      menuBar_(std::make_unique<BridgeMenuBar>()) {
    // The installed desktop entry's name, so a Wayland compositor matches the window to the
    // entry and its icon; set before the window is first shown.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.norv.NorvBridge"));
    window_->resize(MainWindow::defaultSize);

    QMenu* appMenu = window_->menuBar()->addMenu(QStringLiteral("Norv Bridge"));
    restart_ = appMenu->addAction(QStringLiteral("Restart Bridge"));
    restart_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    restart_->setShortcutContext(Qt::ApplicationShortcut);
    appMenu->addSeparator();
    quit_ = appMenu->addAction(QStringLiteral("Quit Norv Bridge"));
    quit_->setShortcut(QKeySequence::Quit);
    quit_->setShortcutContext(Qt::ApplicationShortcut);

    connect(restart_, &QAction::triggered, &store_, [this] { store_.restartBridge(); });
    connect(quit_, &QAction::triggered, this, [this] { requestQuit(); });
    connect(window_.get(), &MainWindow::closeRequested, this, &NorvBridgeApp::windowCloseRequested);

    menuBar_->follow(store_);
    connect(menuBar_.get(), &BridgeMenuBar::openWindowRequested, this, [this] { showWindow(); });
    connect(menuBar_.get(), &BridgeMenuBar::quitRequested, this, [this] { requestQuit(); });

    const auto followStore = [this] {
        if (store_.changeScope() != BridgeStore::ChangeScope::midiMonitorOnly)
            restart_->setEnabled(!store_.externalEngine());
    };
    connect(&store_, &BridgeStore::changed, this, followStore);
    followStore();
}

NorvBridgeApp::~NorvBridgeApp() = default;

bool NorvBridgeApp::trayHostAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

void NorvBridgeApp::windowCloseRequested() {
    // With a tray the application lives on in the status item.
    if (options_.trayAvailable && options_.trayAvailable()) {
        window_->hide();
        if (printState_) printState_();
        return;
    }
    // Without one closing would leave no way back, so it is a quit request; and since the user
    // may only mean to put the window away, it never stops the own engine without asking.
    if (quitting_ || !confirmQuit || !store_.process().isRunning()) {
        requestQuit();
        return;
    }
    ConfirmationRequest request;
    request.message = QStringLiteral("Quit Bridge?");
    request.informativeText = QStringLiteral(
        "This desktop shows no tray icon, so closing the window quits Norv Bridge and stops the bridge.");
    if (store_.connectedDeviceCount() > 0)
        request.informativeText += QStringLiteral(" Connected devices will disconnect and playing notes will stop.");
    request.confirmButton = QStringLiteral("Quit Bridge");
    if (dialogs_.confirm(request)) terminate();
}

void NorvBridgeApp::showWindow() {
    // A hidden window comes back as it was (a maximised one maximised), a minimised one restored.
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->show();
    window_->raise();
    window_->activateWindow();
    // The start task; both steps are harmless when repeated.
    confirmQuit = [this] { return store_.confirmInterruption(QStringLiteral("Quit Bridge")); };
    store_.start();
    if (printState_) printState_();
}

void NorvBridgeApp::activate(const QString& activationToken) {
    if (quitting_) return;  // the application is ending: nothing to bring back
    // Qt's Wayland shell reads the token from the environment at the next activation request and
    // removes it; other platforms never read it, so it is not left there for child processes.
    if (!activationToken.isEmpty() && QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
    // On X11 the window carries the launch's startup id before it is raised; a hidden window is
    // still created, so the id is in place when it maps again.
    if (!activationToken.isEmpty() && QGuiApplication::platformName() == QLatin1String("xcb"))
        applyX11StartupId(window_->windowHandle(), activationToken);
    showWindow();
}

bool NorvBridgeApp::requestQuit() {
    if (quitting_) return true;
    if (confirmQuit && !confirmQuit()) return false;
    terminate();
    return true;
}

void NorvBridgeApp::terminate() {
    if (quitting_) return;
    quitting_ = true;
    QPointer<NorvBridgeApp> self(this);
    store_.shutdown([self] {
        if (self) self->finishQuit();
    });
    // The supervisor bounds its own wait; this is the last resort if it never reports back.
    QTimer::singleShot(options_.shutdownBound, this, [this] { finishQuit(); });
}

void NorvBridgeApp::finishQuit() {
    if (loopEnded_) return;
    loopEnded_ = true;
    // The toolkit closes every window before its loop ends; the window must now let it.
    window_->setCloseAllowed(true);
    if (options_.quitEventLoop) options_.quitEventLoop();
}

QString NorvBridgeApp::stateLine() const {
    const SidebarStatus* footer = window_->sidebar()->status();
    return QStringLiteral("norv-state: footer=%1 devices=%2 engine=%3 window=%4")
        .arg(footer->stateText(), QString(footer->deviceText()).replace(QLatin1Char(' '), QLatin1Char('_')),
             store_.process().isRunning() ? QStringLiteral("running") : QStringLiteral("stopped"),
             window_->isVisible() ? QStringLiteral("shown") : QStringLiteral("hidden"));
}

void NorvBridgeApp::printStateTo(std::FILE* stream) {
    printState_ = [this, stream] {
        const QString line = stateLine();
        if (line == lastPrinted_) return;
        lastPrinted_ = line;
        std::fprintf(stream, "%s\n", qPrintable(line));
        std::fflush(stream);
    };
    // Queued after the window's own update, so the line reports what the footer shows.
    connect(&store_, &BridgeStore::changed, this, printState_, Qt::QueuedConnection);
    printState_();
}

}  // namespace norv
