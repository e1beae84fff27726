#include "core/keychain_bridge_identity_vault.h"
#include "core/bridge_tls_identity_error.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QFile>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUuid>

namespace {

// A Secret Service secret: (session, parameters, value, content type).
struct Secret {
    QDBusObjectPath session;
    QByteArray parameters;
    QByteArray value;
    QString contentType;
};

QDBusArgument& operator<<(QDBusArgument& argument, const Secret& secret) {
    argument.beginStructure();
    argument << secret.session << secret.parameters << secret.value << secret.contentType;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Secret& secret) {
    argument.beginStructure();
    argument >> secret.session >> secret.parameters >> secret.value >> secret.contentType;
    argument.endStructure();
    return argument;
}

}  // namespace

Q_DECLARE_METATYPE(Secret)

namespace norv {
namespace {

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

// Against the real Secret Service of scripts/with-services.sh (gnome-keyring with a login
// keyring whose password is "norv-test" and a line feed). One test case, as it locks that keyring
// for a moment.
TEST(KeychainBridgeIdentityVault, StoresOnceNeverReplacesAndNeverPrompts) {
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) GTEST_SKIP() << "no D-Bus session bus";
    if (qEnvironmentVariableIsEmpty("NORV_SERVICES_UP"))
        GTEST_SKIP()
            << "not under scripts/with-services.sh; the user's own keyring stays untouched";
    const QString service = QStringLiteral("test.") + QUuid::createUuid().toString(QUuid::Id128) +
                            QStringLiteral(".bridge.transport.identity.v1");
    KeychainBridgeIdentityVault vault(service);

    // Used from a worker thread while the application thread runs, as the launcher does.
    std::optional<QByteArray> before;
    bool failed = false;
    QEventLoop loop;
    QThread* worker = QThread::create([&] {
        try {
            before = vault.read();
            vault.insert(QByteArrayLiteral("{\"certificate_pem\":\"c\"}\x01\xff"));
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
    EXPECT_FALSE(before.has_value());

    const QByteArray record = QByteArrayLiteral("{\"certificate_pem\":\"c\"}\x01\xff");
    EXPECT_EQ(vault.read(), record);
    EXPECT_EQ(statusOf([&] { vault.insert("replacement"); }),
              BridgeIdentityVault::kStatusDuplicateItem);
    EXPECT_EQ(KeychainBridgeIdentityVault(service).read(), record);

    // A locked keyring fails at once instead of asking the user to unlock it.
    auto call = [&](const QString& interface, const QString& method,
                    const QVariantList& arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
            interface, method);
        message.setArguments(arguments);
        return bus.call(message, QDBus::Block, 5000);
    };
    const QString secretService = QStringLiteral("org.freedesktop.Secret.Service");
    const QDBusMessage alias =
        call(secretService, QStringLiteral("ReadAlias"), {QStringLiteral("default")});
    ASSERT_EQ(alias.arguments().size(), 1);
    const auto login = qdbus_cast<QDBusObjectPath>(alias.arguments().at(0));
    call(secretService, QStringLiteral("Lock"),
         {QVariant::fromValue(QList<QDBusObjectPath>{login})});
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(statusOf([&] { vault.read(); }), BridgeIdentityVault::kStatusInteractionNotAllowed);
    EXPECT_EQ(statusOf([&] { vault.insert("other"); }),
              BridgeIdentityVault::kStatusInteractionNotAllowed);
    EXPECT_LT(clock.elapsed(), 3000);

    // Unlock again with the keyring's password, over a plain session of this connection.
    qDBusRegisterMetaType<Secret>();
    const QDBusMessage opened =
        call(secretService, QStringLiteral("OpenSession"),
             {QStringLiteral("plain"), QVariant::fromValue(QDBusVariant(QString()))});
    ASSERT_EQ(opened.arguments().size(), 2);
    const Secret password{qdbus_cast<QDBusObjectPath>(opened.arguments().at(1)),
                          {},
                          "norv-test\n",
                          QStringLiteral("text/plain")};
    const QDBusMessage unlocked =
        call(QStringLiteral("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface"),
             QStringLiteral("UnlockWithMasterPassword"),
             {QVariant::fromValue(login), QVariant::fromValue(password)});
    EXPECT_EQ(unlocked.type(), QDBusMessage::ReplyMessage) << unlocked.errorMessage().toStdString();
    EXPECT_EQ(vault.read(), record);
}

// The jobs run on the vault's own thread: a caller's event loop never runs inside a call, so a
// timer due on the calling thread is still pending when the answer comes.
TEST(KeychainBridgeIdentityVault, NeverRunsTheCallersEventLoop) {
    if (!QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "no D-Bus session bus";
    if (qEnvironmentVariableIsEmpty("NORV_SERVICES_UP"))
        GTEST_SKIP()
            << "not under scripts/with-services.sh; the user's own keyring stays untouched";
    KeychainBridgeIdentityVault vault(QStringLiteral("test.") +
                                      QUuid::createUuid().toString(QUuid::Id128));
    QObject context;
    bool fired = false;
    QTimer::singleShot(0, &context, [&] { fired = true; });
    EXPECT_FALSE(vault.read().has_value());
    EXPECT_FALSE(fired);
    QCoreApplication::processEvents();
    EXPECT_TRUE(fired);
}

// A desktop without a Secret Service: the session bus address leads nowhere. The notice names
// the Secret Service and what to do; the service's own words stay in the reason, for the log.
// Each ctest case runs in a process of its own, so this bus is the first one the process opens.
TEST(KeychainBridgeIdentityVault, WithoutASecretServiceTheNoticeSaysWhatToDo) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qputenv("DBUS_SESSION_BUS_ADDRESS", QFile::encodeName(QStringLiteral("unix:path=") + dir.filePath("no-bus")));
    if (QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "this process opened its session bus earlier; run the case on its own";
    KeychainBridgeIdentityVault vault(QStringLiteral("test.") + QUuid::createUuid().toString(QUuid::Id128),
                                      std::chrono::seconds(5));
    try {
        vault.read();
        ADD_FAILURE() << "a vault without a Secret Service read a record";
    } catch (const BridgeTLSIdentityError& error) {
        EXPECT_EQ(error.description(),
                  QStringLiteral("Bridge identity is unavailable: the Secret Service is not running or is locked. "
                                 "Start a Secret Service such as GNOME Keyring or KWallet, or unlock it, then start "
                                 "the Bridge again."));
        EXPECT_TRUE(error.reason().contains(QStringLiteral("vault status"))) << error.reason().toStdString();
        EXPECT_GT(error.reason().size(), QStringLiteral("(vault status 0)").size()) << "the service's own words";
    }
}

}  // namespace
}  // namespace norv
