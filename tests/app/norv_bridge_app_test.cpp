// The application's quit paths, start task and menu command over a store with fakes.
#include "app/norv_bridge_app.h"
#include "app/signal_pipe.h"
#include "core/bridge_store.h"
#include "core/store_fakes.h"
#include "ui/shell/bridge_menu_bar.h"
#include "ui/shell/main_window.h"

#include <QAction>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

namespace norv {
namespace {

class AppTest : public testing::FakeStoreTest {
protected:
    void SetUp() override {
        FakeStoreTest::SetUp();
        app = std::make_unique<NorvBridgeApp>(*store, NorvBridgeApp::Options{[this] { ++loopsEnded; }, std::chrono::milliseconds(10000), {}});
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

}  // namespace
}  // namespace norv
