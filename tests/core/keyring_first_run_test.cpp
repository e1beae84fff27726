// The first start on a desktop whose Secret Service has no keyring yet, against the real
// gnome-keyring on a private bus: storing the new identity makes it show "Choose password for new
// keyring", and the start waits for the user's answer (given here by a stand-in prompter).
#include "core/admin_channel_client.h"
#include "core/bridge_tls_identity_error.h"
#include "core/keychain_bridge_identity_vault.h"
#include "model/admin_connection_state.h"
#include "tests/support/core/engine_test_support.h"
#include "tests/support/core/private_keyring.h"

#include <gtest/gtest.h>

#include <QUuid>

namespace norv {
namespace {

using namespace std::chrono_literals;
using test::PrivateKeyring;
using test::waitUntil;

const QString kNewKeyringPrompt = QStringLiteral("prompt password Choose password for new keyring");

class KeyringFirstRun : public test::EngineTest {
protected:
    // The vault of the application, with a short bound for the service's own answers: the user
    // below takes longer than that to answer the prompt.
    std::shared_ptr<BridgeTLSIdentityStore> keychainStore() {
        keychain = std::make_shared<KeychainBridgeIdentityVault>(
            QStringLiteral("test.") + QUuid::createUuid().toString(QUuid::Id128) +
                QStringLiteral(".bridge.transport.identity.v1"),
            500ms);
        return std::make_shared<BridgeTLSIdentityStore>(keychain);
    }

    std::shared_ptr<KeychainBridgeIdentityVault> keychain;
};

TEST_F(KeyringFirstRun, TheBridgeConnectsOnceThePasswordOfTheNewKeyringIsChosen) {
    PrivateKeyring keyring(dataHome, {QStringLiteral("password:norv-first-run@1500")});
    ASSERT_TRUE(keyring.ready());
    BridgeProcessController controller(keychainStore(), options());
    controller.start(configuration());
    const int port = waitForEngine(controller);
    ASSERT_NE(port, 0);
    EXPECT_EQ(keyring.prompterLines().count(kNewKeyringPrompt), 1);
    EXPECT_TRUE(keyring.keyringFiles().contains(QStringLiteral("login.keyring"))) << keyring.keyringFiles().join(' ').toStdString();

    // The application's own admin connection, pinned to the identity now in the keyring.
    AdminChannelOptions admin;
    admin.port = quint16(port);
    AdminChannelClient client(admin);
    bool connected = false;
    client.start([](const AdminSnapshot&) {}, [](const MidiMonitorBatch&) {},
                 [&](const AdminConnectionState& state) { connected = connected || state.isConnected(); });
    EXPECT_TRUE(waitUntil([&] { return connected; }));
    const auto record = keychain->read();
    ASSERT_TRUE(record);
    EXPECT_EQ(BridgeTLSIdentity::decode(*record).fingerprint(), controller.identityFingerprint());
    controller.stop();
    EXPECT_TRUE(waitUntil([&] { return !controller.hasProcess(); }));
}

TEST_F(KeyringFirstRun, ADismissedPromptIsReportedAndTryingAgainStartsTheBridge) {
    PrivateKeyring keyring(dataHome, {QStringLiteral("dismiss@200"), QStringLiteral("password:norv-first-run")});
    ASSERT_TRUE(keyring.ready());
    BridgeProcessController controller(keychainStore(), options());
    controller.start(configuration());
    ASSERT_TRUE(waitUntil([&] { return controller.lastError().has_value(); }));
    EXPECT_EQ(controller.lastError(), BridgeTLSIdentityError::keyringNotCreatedDescription());
    EXPECT_FALSE(controller.hasProcess());
    EXPECT_TRUE(keyring.keyringFiles().isEmpty());

    controller.start(configuration());
    EXPECT_NE(waitForEngine(controller), 0);
    EXPECT_EQ(keyring.prompterLines().count(kNewKeyringPrompt), 2);
    EXPECT_FALSE(controller.lastError());
    controller.stop();
    EXPECT_TRUE(waitUntil([&] { return !controller.hasProcess(); }));
}

}  // namespace
}  // namespace norv
