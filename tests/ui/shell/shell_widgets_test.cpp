// The shell's pieces as the user sees them: footer words, status notice, pairing banner, tray menu.
#include "ui/shell/bridge_menu_bar.h"
#include "ui/shell/pairing_code_banner.h"
#include "ui/shell/sidebar.h"
#include "ui/shell/status_notice.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace norv {
namespace {

TEST(SidebarStatus, ShowsTheStateWordInCapitalsAndCountsDevicesInWords) {
    EXPECT_EQ(SidebarStatus::deviceCountText(0), QStringLiteral("0 devices"));
    EXPECT_EQ(SidebarStatus::deviceCountText(1), QStringLiteral("1 device"));
    EXPECT_EQ(SidebarStatus::deviceCountText(2), QStringLiteral("2 devices"));
    SidebarStatus status;
    status.setStatus(false, QStringLiteral("Disconnected"), 1);
    EXPECT_EQ(status.stateText(), QStringLiteral("DISCONNECTED"));
    EXPECT_EQ(status.deviceText(), QStringLiteral("1 device"));
    EXPECT_FALSE(status.dotConnected());
}

TEST(Sidebar, HighlightsOnlyTheSelectedRowAndReportsClicks) {
    Sidebar sidebar({{"overview", "Overview", "rectangle.grid.2x2"}, {"logs", "Diagnostics", "text.alignleft"}});
    QSignalSpy clicks(&sidebar, &Sidebar::rowClicked);
    sidebar.setSelected(QStringLiteral("logs"));
    EXPECT_FALSE(sidebar.rows()[0]->isSelected());
    EXPECT_TRUE(sidebar.rows()[1]->isSelected());
    sidebar.setSelected(std::nullopt);
    EXPECT_FALSE(sidebar.rows()[1]->isSelected());
    sidebar.rows()[1]->click();
    sidebar.rows()[1]->click();
    ASSERT_EQ(clicks.count(), 2);
    EXPECT_EQ(clicks[0][0].toString(), QStringLiteral("logs"));
    EXPECT_EQ(sidebar.rows()[0]->property("symbolName").toString(), QStringLiteral("rectangle.grid.2x2"));
}

TEST(StatusNotice, ColoursAndSymbolFollowFailureAndDismissIsReported) {
    QWidget window;  // without a message the line stays out of a shown window
    auto* inWindow = new StatusNotice(&window);
    window.show();
    EXPECT_FALSE(inWindow->isVisible());

    StatusNotice notice;
    notice.setMessage(std::nullopt, true);
    EXPECT_TRUE(notice.isHidden());
    notice.setMessage(QStringLiteral("Bridge unavailable"), true);
    EXPECT_FALSE(notice.isHidden());
    EXPECT_EQ(notice.symbol()->symbolName(), QStringLiteral("exclamationmark.triangle"));
    notice.setMessage(QStringLiteral("Applying\u2026"), false);
    EXPECT_EQ(notice.symbol()->symbolName(), QStringLiteral("checkmark.circle"));
    EXPECT_EQ(notice.message(), QStringLiteral("Applying\u2026"));
    EXPECT_EQ(notice.dismissButton()->accessibleName(), QStringLiteral("Dismiss status"));
    QSignalSpy dismissed(&notice, &StatusNotice::dismissRequested);
    notice.dismissButton()->click();
    EXPECT_EQ(dismissed.count(), 1);
}

PairingInput waiting() {
    PairingInput input;
    input.connected = true;
    input.status = QStringLiteral("waiting");
    input.code = QStringLiteral("482913");
    input.deviceLabel = QStringLiteral("Studio iPad");
    input.expiresIn = 42;
    input.canChange = true;
    return input;
}

TEST(PairingCodeBanner, VisibleOnlyWhileConnectedAndWaitingOrLockedExactly) {
    EXPECT_TRUE(PairingCodeBanner::view(waiting()).visible);
    for (const char* status : {"Waiting", "idle", ""}) {
        PairingInput input = waiting();
        input.status = QString::fromLatin1(status);
        EXPECT_FALSE(PairingCodeBanner::view(input).visible) << status;
    }
    PairingInput noRecord = waiting();
    noRecord.status.reset();
    EXPECT_FALSE(PairingCodeBanner::view(noRecord).visible);
    PairingInput down = waiting();
    down.connected = false;
    EXPECT_FALSE(PairingCodeBanner::view(down).visible);
}

TEST(PairingCodeBanner, WaitingAndLockedFormsShowTheirTextsAndButton) {
    const PairingBannerView full = PairingCodeBanner::view(waiting());
    EXPECT_EQ(full.caption, QStringLiteral("PAIRING CODE"));
    EXPECT_EQ(full.deviceName, QStringLiteral("Studio iPad"));
    EXPECT_EQ(full.code, QStringLiteral("482913"));
    EXPECT_EQ(full.secondsText, QStringLiteral("42 s"));
    EXPECT_EQ(full.codeAccessibleLabel, QStringLiteral("Pairing code 4 8 2 9 1 3"));
    EXPECT_EQ(full.buttonTitle, QStringLiteral("Cancel"));
    EXPECT_TRUE(full.buttonEnabled);

    PairingInput bare = waiting();
    bare.code.reset();
    bare.deviceLabel.reset();
    bare.expiresIn.reset();
    const PairingBannerView noCode = PairingCodeBanner::view(bare);
    EXPECT_EQ(noCode.deviceName, QStringLiteral("New device"));
    EXPECT_FALSE(noCode.code.has_value());
    bare.code = QStringLiteral("12");
    EXPECT_EQ(PairingCodeBanner::view(bare).secondsText, QStringLiteral("0 s"));

    PairingInput locked = waiting();
    locked.status = QStringLiteral("locked");
    const PairingBannerView lockedView = PairingCodeBanner::view(locked);
    EXPECT_EQ(lockedView.caption, QStringLiteral("PAIRING LOCKED"));
    EXPECT_FALSE(lockedView.deviceName.has_value());
    EXPECT_FALSE(lockedView.code.has_value());
    EXPECT_EQ(lockedView.buttonTitle, QStringLiteral("Reset pairing"));

    PairingInput busy = waiting();
    busy.anyActionPending = true;
    EXPECT_FALSE(PairingCodeBanner::view(busy).buttonEnabled);
    PairingInput readOnly = waiting();
    readOnly.canChange = false;
    EXPECT_FALSE(PairingCodeBanner::view(readOnly).buttonEnabled);

    PairingCodeBanner banner;
    banner.setView(lockedView);
    EXPECT_TRUE(banner.codeLabel()->isHidden());
    EXPECT_EQ(banner.button()->text(), QStringLiteral("Reset pairing"));
    QSignalSpy reset(&banner, &PairingCodeBanner::resetRequested);
    banner.button()->click();
    EXPECT_EQ(reset.count(), 1);
}

struct LayoutRequests : QObject {
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::LayoutRequest) ++count;
        return false;
    }
    int count = 0;
};

// The countdown ticks every second; its text changes, the window's layout does not.
TEST(PairingCodeBanner, TheTickingCountdownLaysOutNothing) {
    QWidget window;
    auto* banner = new PairingCodeBanner(&window);
    (new QVBoxLayout(&window))->addWidget(banner);
    PairingInput input = waiting();
    for (const qint64 seconds : {120, 9}) {
        input.expiresIn = seconds;
        banner->setView(PairingCodeBanner::view(input));
        window.show();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        LayoutRequests requests;
        window.installEventFilter(&requests);
        banner->installEventFilter(&requests);
        input.expiresIn = seconds - 1;
        banner->setView(PairingCodeBanner::view(input));
        QCoreApplication::processEvents();
        window.removeEventFilter(&requests);
        banner->removeEventFilter(&requests);
        EXPECT_EQ(requests.count, 0) << seconds;
        EXPECT_GE(banner->secondsLabel()->width(), banner->secondsLabel()->sizeHint().width()) << seconds;
    }
}

TEST(BridgeMenuBar, MenuLinesAndCommandFollowTheView) {
    BridgeMenuBar bar;
    ASSERT_NE(bar.menu(), nullptr);
    const QList<QAction*> actions = bar.menu()->actions();
    ASSERT_EQ(actions.size(), 7);
    EXPECT_TRUE(actions[2]->isSeparator());
    EXPECT_TRUE(actions[5]->isSeparator());
    EXPECT_EQ(bar.openAction()->text(), QStringLiteral("Open Norv Bridge"));
    EXPECT_EQ(bar.quitAction()->text(), QStringLiteral("Quit"));
    EXPECT_EQ(bar.statusAction()->text(), QStringLiteral("Bridge unavailable"));
    EXPECT_EQ(bar.statusAction()->property("symbolName").toString(), QStringLiteral("cable.connector.slash"));
    EXPECT_EQ(bar.trayIcon()->toolTip(), QStringLiteral("Norv Bridge unavailable"));

    MenuBarView view;
    view.connected = true;
    view.symbol = QStringLiteral("cable.connector");
    view.connectedDevices = 1;
    view.processRunning = true;
    bar.setView(view);
    EXPECT_EQ(bar.statusAction()->text(), QStringLiteral("Bridge connected"));
    EXPECT_EQ(bar.deviceAction()->text(), QStringLiteral("1 Norv devices"));
    EXPECT_EQ(bar.startAction()->text(), QStringLiteral("Restart Bridge"));
    EXPECT_TRUE(bar.startAction()->isEnabled());
    EXPECT_EQ(bar.trayIcon()->toolTip(), QStringLiteral("Norv Bridge connected"));

    view.processRunning = false;
    view.externalEngine = true;
    bar.setView(view);
    EXPECT_EQ(bar.startAction()->text(), QStringLiteral("Start Bridge"));
    EXPECT_FALSE(bar.startAction()->isEnabled());

    QSignalSpy start(&bar, &BridgeMenuBar::startOrRestartRequested);
    QSignalSpy quit(&bar, &BridgeMenuBar::quitRequested);
    bar.startAction()->setEnabled(true);
    bar.startAction()->trigger();
    bar.quitAction()->trigger();
    EXPECT_EQ(start.count(), 1);
    EXPECT_EQ(quit.count(), 1);
}

}  // namespace
}  // namespace norv
