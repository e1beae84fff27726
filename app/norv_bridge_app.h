#pragma once
// The application's lifetime around the one store: the main window, the tray menu, the
// application menu ("Restart Bridge", "Quit"), the start task, and one quit path that every
// quit request goes through (menu, tray, keyboard, and the window's close where the desktop has
// no tray). Where a tray shows the status item, closing the window hides it and the tray's
// "Open Norv Bridge" or a click on the item brings it back. Without a tray, closing the window
// while the own engine runs always asks first. Signals end it without asking.

#include "model/bridge_section.h"

#include <QObject>
#include <QPointer>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

class QAction;
class QWidget;

namespace norv {

class BridgeMenuBar;
class BridgeStore;
class DialogService;
class MainWindow;

class NorvBridgeApp : public QObject {
    Q_OBJECT
public:
    struct Options {
        // Ends the event loop once the engine is gone.
        std::function<void()> quitEventLoop;
        // Upper bound on waiting for the engine to end before the loop is ended anyway.
        std::chrono::milliseconds shutdownBound{10000};
        // Builds the window's pages; without one every section shows an empty page.
        std::function<QWidget*(BridgeSection, BridgeStore&, QWidget*)> pageFactory;
        // Whether the desktop hosts tray icons, asked at each close of the window.
        std::function<bool()> trayAvailable = &trayHostAvailable;
    };

    static bool trayHostAvailable();

    // `dialogs` asks the questions of the application's own lifetime (closing without a tray).
    NorvBridgeApp(BridgeStore& store, DialogService& dialogs, Options options, QObject* parent = nullptr);
    ~NorvBridgeApp() override;

    // Shows (or brings back, in the state it had) the main window and runs the start task:
    // install the quit confirmation and start the store. Running it again starts nothing.
    void showWindow();
    // A later launch or the tray asked for the window: shown and brought to the front with the
    // activation token that came with the request (Wayland raises a window only with one).
    void activate(const QString& activationToken);

    // Every quit request: asks through the quit confirmation once it is installed, then ends
    // Bluetooth and the engine and the event loop. False when the user cancelled.
    bool requestQuit();
    // SIGTERM and SIGINT: the same end, without asking.
    void terminate();
    bool quitting() const { return quitting_; }

    // Writes one line to `stream` whenever the sidebar footer or the engine state changes,
    // so that a test driving the built program can see what the window shows.
    void printStateTo(std::FILE* stream);
    QString stateLine() const;

    MainWindow& window() const { return *window_; }
    BridgeMenuBar& menuBar() const { return *menuBar_; }
    QAction* restartAction() const { return restart_; }
    QAction* quitAction() const { return quit_; }

    // None until the start task has run: quitting before the window appeared never asks.
    std::function<bool()> confirmQuit;

private:
    void finishQuit();
    void windowCloseRequested();

    BridgeStore& store_;
    DialogService& dialogs_;
    Options options_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<BridgeMenuBar> menuBar_;
    QAction* restart_ = nullptr;
    QAction* quit_ = nullptr;
    bool quitting_ = false;
    bool loopEnded_ = false;
    QString lastPrinted_;
    std::function<void()> printState_;
};

}  // namespace norv
