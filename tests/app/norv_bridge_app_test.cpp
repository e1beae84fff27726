// The application's quit paths, start task and menu command over a store with fakes.
#include "app/norv_bridge_app.h"
#include "app/signal_pipe.h"
#include "core/bridge_store.h"
#include "tests/support/core/store_fakes.h"
#include "ui/shell/bridge_menu_bar.h"
#include "ui/shell/main_window.h"

#include <QAction>
#include <QGuiApplication>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

namespace norv {
namespace {

class AppTest : public test::FakeStoreTest {
protected:
    void SetUp() override {
        FakeStoreTest::SetUp();
        app = std::make_unique<NorvBridgeApp>(*store, dialogs, options(false));
    }

    // The application's options for a desktop with or without a tray host.
    NorvBridgeApp::Options options(bool tray) {
        return NorvBridgeApp::Options{[this] { ++loopsEnded; }, std::chrono::milliseconds(10000), {},
                                      [tray] { return tray; }};
    }

    void serve(bool ownEngine, bool deviceConnected) {
        AdminSnapshot snapshot = AdminSnapshot::empty();
        BridgeDevice device;
        device.deviceId = "pad";
        device.connected = deviceConnected;
        snapshot.devices = {device};
        connectTo(ownEngine, snapshot);
    }

    std::unique_ptr<NorvBridgeApp> app;
    int loopsEnded = 0;
};

// A Wayland compositor matches the window to share/applications/org.norv.NorvBridge.desktop by this name.
TEST_F(AppTest, TheApplicationNamesItsInstalledDesktopEntry) {
    EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("org.norv.NorvBridge"));
}

TEST_F(AppTest, QuittingBeforeTheWindowAppearedNeverAsks) {
    EXPECT_FALSE(app->confirmQuit);
    EXPECT_TRUE(app->requestQuit());
    EXPECT_TRUE(dialogs.asked.empty());
    EXPECT_EQ(engine->quitStops, 1);
    EXPECT_EQ(loopsEnded, 1);
}

TEST_F(AppTest, QuitAsksOnlyWithTheOwnEngineServingADeviceAndCancelKeepsEverything) {
    app->showWindow();
    serve(true, true);
    dialogs.answers = {false};
    app->quitAction()->trigger();
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].message, QStringLiteral("Quit Bridge?"));
    EXPECT_EQ(dialogs.asked[0].confirmButton, QStringLiteral("Quit Bridge"));
    EXPECT_FALSE(app->quitting());
    EXPECT_EQ(engine->quitStops, 0);
    EXPECT_EQ(loopsEnded, 0);

    // The window manager's close and the tray's Quit take the same path.
    dialogs.answers = {false, true};
    app->window().close();
    EXPECT_EQ(dialogs.asked.size(), 2u);
    EXPECT_FALSE(app->quitting());
    app->menuBar().quitAction()->trigger();
    EXPECT_TRUE(app->quitting());
    EXPECT_EQ(engine->quitStops, 1);
    EXPECT_EQ(loopsEnded, 1);
}

TEST_F(AppTest, NoQuestionWithoutConnectedDevicesOrWithAnOutsideEngine) {
    app->showWindow();
    serve(false, true);
    EXPECT_FALSE(app->restartAction()->isEnabled()) << "outside engine: restart is disabled";
    app->restartAction()->trigger();
    EXPECT_TRUE(engine->restarts.empty());
    EXPECT_EQ(app->restartAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));

    serve(true, false);
    EXPECT_TRUE(app->restartAction()->isEnabled());
    app->restartAction()->trigger();
    EXPECT_EQ(engine->restarts.size(), 1u);
    EXPECT_TRUE(app->requestQuit());
    EXPECT_TRUE(dialogs.asked.empty());
}

TEST_F(AppTest, SignalsEndWithoutAskingAndRepeatedStartsDoNothing) {
    app->showWindow();
    app->showWindow();
    EXPECT_EQ(admin->startCount, 1);
    serve(true, true);
    EXPECT_FALSE(app->window().close()) << "before the end a close is only a quit request";
    dialogs.answers = {false};
    app->terminate();
    app->terminate();
    EXPECT_EQ(dialogs.asked.size(), 1u) << "only the close asked";
    EXPECT_EQ(engine->quitStops, 1);
    EXPECT_EQ(loopsEnded, 1);
    // The toolkit closes every window before its loop ends; a refusal would keep it running.
    EXPECT_TRUE(app->window().close());
}

TEST(SignalPipe, DeliversTheSignalNumberOnTheEventLoopAndRestoresTheDefault) {
    {
        SignalPipe pipe({SIGUSR1});
        ASSERT_TRUE(pipe.isValid());
        QSignalSpy delivered(&pipe, &SignalPipe::signalled);
        ASSERT_EQ(std::raise(SIGUSR1), 0);
        EXPECT_TRUE(delivered.wait(2000));
        ASSERT_EQ(delivered.count(), 1);
        EXPECT_EQ(delivered[0][0].toInt(), SIGUSR1);
    }
    struct sigaction current {};
    ASSERT_EQ(::sigaction(SIGUSR1, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}

// With a tray host, closing hides the window and the tray's "Open Norv Bridge" brings it back as
// it was; neither starts a second connect loop or engine. Quit still asks.
TEST_F(AppTest, WithATrayCloseHidesAndTheTrayReopensWithoutStartingAgain) {
    // A store whose start-up engine check runs soon, so a second start would show.
    BridgeStoreOptions storeOptions;
    storeOptions.startCheckDelay = std::chrono::milliseconds(1);
    auto adminPtr = std::make_unique<test::FakeAdminClient>();
    auto enginePtr = std::make_unique<test::FakeEngine>();
    admin = adminPtr.get();
    engine = enginePtr.get();
    app.reset();
    store = std::make_unique<BridgeStore>(std::move(adminPtr), std::move(enginePtr),
                                          std::make_unique<test::FakeBluetooth>(), dialogs, *settings, storeOptions);
    app = std::make_unique<NorvBridgeApp>(*store, dialogs, options(true));

    app->showWindow();
    app->window().showMaximized();
    for (int round = 0; round < 2; ++round) {
        EXPECT_FALSE(app->window().close());
        EXPECT_FALSE(app->window().isVisible());
        app->menuBar().openAction()->trigger();
        EXPECT_TRUE(app->window().isVisible());
        EXPECT_TRUE(app->window().isMaximized());
    }
    // The engine check runs on the event loop: wait (bounded) for its start, then long enough
    // that a second start would show.
    for (int waited = 0; engine->starts.empty() && waited < 5000; waited += 10) QTest::qWait(10);
    QTest::qWait(50);
    EXPECT_EQ(admin->startCount, 1);
    EXPECT_EQ(engine->starts.size(), 1u);
    EXPECT_TRUE(dialogs.asked.empty());
    EXPECT_FALSE(app->quitting());
    EXPECT_EQ(loopsEnded, 0);

    engine->setRunning(true);
    serve(true, true);
    dialogs.answers = {true};
    app->menuBar().quitAction()->trigger();
    EXPECT_EQ(dialogs.asked.size(), 1u);
    EXPECT_TRUE(app->quitting());
    EXPECT_EQ(loopsEnded, 1);
}

// Without a tray a close is the quit request, and it never ends the own engine without asking,
// devices or not; with nothing of its own running it asks nothing.
TEST_F(AppTest, WithoutATrayCloseAsksWheneverTheOwnEngineRuns) {
    app->showWindow();
    serve(true, false);
    dialogs.answers = {false};
    EXPECT_FALSE(app->window().close());
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].message, QStringLiteral("Quit Bridge?"));
    EXPECT_EQ(dialogs.asked[0].confirmButton, QStringLiteral("Quit Bridge"));
    EXPECT_FALSE(app->quitting());
    EXPECT_TRUE(app->window().isVisible());

    serve(false, true);
    app->window().close();
    EXPECT_EQ(dialogs.asked.size(), 1u) << "an outside engine: nothing of ours to stop";
    EXPECT_TRUE(app->quitting());
    EXPECT_EQ(loopsEnded, 1);
}

TEST_F(AppTest, WithoutATrayCloseIsTheQuitRequest) {
    app->showWindow();
    serve(true, true);
    dialogs.answers = {false};
    EXPECT_FALSE(app->window().close());
    EXPECT_EQ(dialogs.asked.size(), 1u);
    EXPECT_TRUE(app->window().isVisible()) << "cancelled: the window stays";
    dialogs.answers = {true};
    app->window().close();
    EXPECT_TRUE(app->quitting());
    EXPECT_EQ(loopsEnded, 1);
}

}  // namespace
}  // namespace norv
