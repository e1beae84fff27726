#pragma once

#include "core/bridge_process_controller.h"
#include "core/bridge_tls_identity.h"
#include "core/bridge_tls_identity_store.h"
#include "core/memory_bridge_identity_vault.h"
#include "tests/support/qt_printers.h"

#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <nlohmann/json.hpp>


namespace norv::test {

// A bound for waits in tests, stretched by $NORV_TEST_TIME_SCALE on slow machines.
std::chrono::milliseconds scaled(std::chrono::milliseconds base);

// Processes events until `condition` holds or `timeout` (scaled) has passed.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Processes events for a while: lets late results arrive before checking they changed nothing.
void settle(std::chrono::milliseconds duration);

// A TCP port on 127.0.0.1 that nothing listens on right now.
int freePort();

// What the kernel says about a live process.
QStringList processArguments(qint64 pid);  // argv, argv[0] included
QString processDirectory(qint64 pid);
QStringList processEnvironment(qint64 pid);  // "KEY=value", sorted
bool processExists(qint64 pid);

// The engine tests' world: a private HOME and XDG data home, the tests' engine runtime (the fake
// engine) as the resource folder, a fake engine scenario, and one TLS identity per test program.
class EngineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    // The fake engine's scenario, read from $HOME/.norv-fake-engine/scenario.json.
    void writeScenario(const nlohmann::json& scenario);
    BridgeProcessController::Options options() const;
    std::unique_ptr<BridgeProcessController> makeController(BridgeProcessController::Options options);
    std::unique_ptr<BridgeProcessController> makeController() { return makeController(options()); }
    // A configuration on a free public port.
    BridgeLaunchConfiguration configuration() const;

    // Waits until the controller's engine runs and has logged its admin port; returns the port.
    int waitForEngine(BridgeProcessController& controller);
    bool logContains(BridgeProcessController& controller, const QString& text);

    static BridgeTLSIdentity identity;
    QTemporaryDir temp;
    QString home;
    QString dataHome;
    QString supportFolder;
    QString resources;
    std::shared_ptr<MemoryBridgeIdentityVault> vault;
    std::shared_ptr<BridgeTLSIdentityStore> store;
    int publicPort = 0;

private:
    QByteArray savedHome_;
    QByteArray savedDataHome_;
};

}  // namespace norv::test
