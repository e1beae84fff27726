// The real window over a store whose admin channel talks to the fake engine at the real timings.
#include "core/admin_client_adapter.h"
#include "core/bridge_store.h"
#include "support/ui/window_over_store.h"
#include "tests/support/core/engine_test_support.h"
#include "tests/support/core/fake_engine_process.h"
#include "tests/support/core/store_fakes.h"
#include "ui/shell/main_window.h"
#include "ui/shell/pairing_code_banner.h"
#include "ui/shell/status_notice.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace norv {
namespace {

using namespace std::chrono_literals;
using test::waitUntil;

// The confirmation deadline (5.0 s) runs on a precise timer: with the default kind a result that
// comes 4.93 s after the request was mostly reported as not confirmed.
TEST(WindowOverEngine, AnActionResultArriving4_93SecondsAfterTheRequestIsConfirmed) {
    const QString token(64, QLatin1Char('a'));
    const nlohmann::json snapshot = {
        {"bridge", {{"bridge_running", true}, {"bridge_version", "fake-1"}, {"protocol_version", "1"}}},
        {"devices", nlohmann::json::array()},
        {"live_tracks", nlohmann::json::array()},
        {"midi_events", nlohmann::json::array()},
        {"pairing", {{"status", "waiting"}, {"code", "482913"}, {"device_label", "Guest Tablet"}, {"expires_in", 120}}}};
    test::FakeEngineProcess engine(test::sharedIdentityLine(), token, {{"snapshots", {snapshot}}, {"action_delay", 4.93}});
    ASSERT_TRUE(engine.started());

    AdminChannelOptions channel;
    channel.port = engine.port();
    channel.token = token;
    channel.certificatePEM = test::certificateOf(test::sharedIdentityLine());
    auto ownEngine = std::make_unique<test::FakeEngine>();
    ownEngine->running = true;
    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    test::ScriptedDialogs dialogs;
    BridgeStoreOptions options;
    options.startCheckDelay = std::chrono::hours(1);
    BridgeStore store(std::make_unique<AdminClientAdapter>(channel), std::move(ownEngine),
                      std::make_unique<test::FakeBluetooth>(), dialogs, settings, options);
    store.start();
    const auto window =
        test::windowOverStore(store, [&] { return test::isolatedPageServices(dialogs, dir.path(), &settings); });

    PairingCodeBanner* banner = window->pairingBanner();
    ASSERT_TRUE(waitUntil([&] { return !banner->isHidden() && banner->button()->isEnabled(); }, 20s));
    QElapsedTimer clock;
    clock.start();
    banner->button()->click();
    const QString applying = QStringLiteral("Applying\u2026");
    EXPECT_EQ(window->statusNotice()->message(), applying);
    ASSERT_TRUE(waitUntil([&] { return window->statusNotice()->message() != applying; }, 10s));
    EXPECT_GE(clock.elapsed(), 4900) << "the result came late";
    EXPECT_EQ(window->statusNotice()->message(), QStringLiteral("Pairing reset"));
    EXPECT_FALSE(window->statusNotice()->failed());
}

}  // namespace
}  // namespace norv
