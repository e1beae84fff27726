#pragma once
// The status item in the desktop's tray: its icon and the pull-down menu with the connection
// state, the device count, "Open Norv Bridge", start or restart, and "Quit". A left click on the
// icon opens the window as "Open Norv Bridge" does.
// The menu is built even where the desktop has no tray host.

#include <QObject>
#include <QString>
#include <memory>
#include <optional>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace norv {

class BridgeStore;

struct MenuBarView {
    bool connected = false;
    QString symbol = QStringLiteral("cable.connector.slash");
    qint64 connectedDevices = 0;
    bool processRunning = false;
    bool externalEngine = false;
    bool operator==(const MenuBarView&) const = default;
};

class BridgeMenuBar : public QObject {
    Q_OBJECT
public:
    explicit BridgeMenuBar(QObject* parent = nullptr);
    ~BridgeMenuBar() override;

    // An unchanged view touches nothing (a tray host redraws on every change).
    void setView(const MenuBarView& view);

    // Keeps the menu current with the store and runs start or restart through it.
    void follow(BridgeStore& store);
    static MenuBarView viewOf(const BridgeStore& store);

    static QString accessibleLabel(bool connected);
    static QString deviceLine(qint64 connectedDevices);

    QMenu* menu() const { return menu_.get(); }
    QSystemTrayIcon* trayIcon() const { return tray_; }
    QAction* statusAction() const { return status_; }
    QAction* deviceAction() const { return devices_; }
    QAction* openAction() const { return open_; }
    QAction* startAction() const { return start_; }
    QAction* quitAction() const { return quit_; }

Q_SIGNALS:
    void openWindowRequested();
    // The receiver reads again whether the engine runs: restart when it does, start otherwise.
    void startOrRestartRequested();
    void quitRequested();

private:
    std::unique_ptr<QMenu> menu_;
    QSystemTrayIcon* tray_;
    QAction* status_;
    QAction* devices_;
    QAction* open_;
    QAction* start_;
    QAction* quit_;
    std::optional<MenuBarView> shown_;
};

}  // namespace norv
