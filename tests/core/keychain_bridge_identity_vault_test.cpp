#include "core/keychain_bridge_identity_vault.h"
#include "core/bridge_tls_identity_error.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <QUuid>

namespace norv {
namespace {

// Runs against the session's real Secret Service (gnome-keyring under scripts/with-services.sh).
class KeychainVaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) GTEST_SKIP() << "no D-Bus session bus";
        if (!bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")) &&
            !bus.interface()->activatableServiceNames().value().contains(
                QStringLiteral("org.freedesktop.secrets")))
            GTEST_SKIP() << "no Secret Service on the session bus";
    }
    // A service of its own per test, so runs never see each other's records.
    const QString service = QStringLiteral("test.") + QUuid::createUuid().toString(QUuid::Id128) +
                            QStringLiteral(".bridge.transport.identity.v1");
};

int statusOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const BridgeTLSIdentityError& error) {
        EXPECT_EQ(error.kind(), BridgeTLSIdentityError::Kind::keychain);
        return error.status();
    }
    ADD_FAILURE() << "no error thrown";
    return 0;
}

TEST_F(KeychainVaultTest, StoresOneRecordAndNeverReplacesIt) {
    KeychainBridgeIdentityVault vault(service);
    EXPECT_FALSE(vault.read().has_value());

    const QByteArray record =
        QByteArrayLiteral("{\"certificate_pem\":\"c\",\"private_key_pem\":\"k\"}\x01\xff");
    vault.insert(record);
    EXPECT_EQ(vault.read(), record);

    EXPECT_EQ(statusOf([&] { vault.insert("replacement"); }),
              BridgeIdentityVault::kStatusDuplicateItem);
    EXPECT_EQ(KeychainBridgeIdentityVault(service).read(), record);
}

TEST_F(KeychainVaultTest, WorksFromAWorkerThreadWhileTheApplicationThreadRuns) {
    KeychainBridgeIdentityVault vault(service);
    std::optional<QByteArray> seen;
    bool failed = false;
    QEventLoop loop;
    QThread* worker = QThread::create([&] {
        try {
            vault.insert("from worker");
            seen = vault.read();
        } catch (const std::exception&) {
            failed = true;
        }
    });
    QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    ASSERT_TRUE(worker->wait(5000));
    delete worker;
    EXPECT_FALSE(failed);
    EXPECT_EQ(seen, QByteArray("from worker"));
}

}  // namespace
}  // namespace norv
