#pragma once
// The main window: sidebar of the eight sections with its connection footer, the detail column
// (outside-engine line, status notice, pairing banner, selected page) and the toolbar with
// Start/Restart and Stop. It owns no data: `stabilize()` re-reads the store on every change.

#include "model/bridge_section.h"

#include <QMainWindow>
#include <functional>
#include <map>
#include <optional>

class QAction;
class QToolBar;
class QVBoxLayout;

namespace norv {

class BridgeStore;
class ExternalEngineLine;
class PairingCodeBanner;
class Sidebar;
class StatusNotice;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    using PageFactory = std::function<QWidget*(BridgeSection, BridgeStore&, QWidget*)>;

    static constexpr QSize minimumContentSize{980, 640};
    static constexpr QSize defaultSize{1180, 760};

    MainWindow(BridgeStore& store, PageFactory pageFactory, QWidget* parent = nullptr);

    // Re-reads everything the window shows from the store.
    void stabilize();

    // Once the application ends, a close goes through instead of going to the application.
    void setCloseAllowed(bool allowed) { closeAllowed_ = allowed; }

    static QString stateWord(const BridgeStore& store);

    Sidebar* sidebar() const { return sidebar_; }
    StatusNotice* statusNotice() const { return notice_; }
    PairingCodeBanner* pairingBanner() const { return banner_; }
    ExternalEngineLine* externalEngineLine() const { return external_; }
    QAction* startAction() const { return start_; }
    QAction* stopAction() const { return stop_; }
    QWidget* currentPage() const { return page_; }
    std::optional<BridgeSection> currentPageSection() const { return pageSection_; }

Q_SIGNALS:
    // The window manager asked to close the window; the application decides (quit confirmation).
    void closeRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void showPage(BridgeSection section);

    BridgeStore& store_;
    PageFactory pageFactory_;
    Sidebar* sidebar_;
    ExternalEngineLine* external_;
    StatusNotice* notice_;
    PairingCodeBanner* banner_;
    QWidget* pageHost_;
    QVBoxLayout* pageLayout_;
    QWidget* page_ = nullptr;
    std::optional<BridgeSection> pageSection_;
    std::map<BridgeSection, QWidget*> pages_;  // each built at its first selection, then kept
    QToolBar* toolbar_;
    QAction* start_;
    QAction* stop_;
    bool closeAllowed_ = false;
    bool buildingPage_ = false;
};

}  // namespace norv
