// One application per session, over the test command's session bus under a name of the test's own.
#include "app/single_instance.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

namespace norv {
namespace {

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "no session bus";
        later = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("later-launch"));
        ASSERT_TRUE(later.isConnected());
    }
    void TearDown() override {
        thread.quit();
        thread.wait(5000);
        delete first;
        QDBusConnection::disconnectFromBus(QStringLiteral("later-launch"));
    }

    const QString name = QStringLiteral("org.norv.NorvBridgeTest.p%1").arg(QCoreApplication::applicationPid());
    QDBusConnection later{QString()};
    QThread thread;
    SingleInstance* first = nullptr;
};

TEST_F(SingleInstanceTest, ALaterLaunchHandsItsTokenToTheFirstOrSaysItDidNotAnswer) {
    first = new SingleInstance(QDBusConnection::sessionBus(), name);
    EXPECT_EQ(first->claim({}, std::chrono::milliseconds(1000)).role, SingleInstance::Role::first);
    // The first answers from an event loop of its own, as the running application does.
    first->moveToThread(&thread);
    thread.start();
    QStringList tokens;
    QObject receiver;
    QObject::connect(first, &SingleInstance::activated, &receiver, [&tokens](const QString& token) { tokens.append(token); });

    const struct {
        QVariantMap platformData;
        QString token;
    } launches[] = {
        {{{QStringLiteral("activation-token"), QStringLiteral("wayland-1")}}, QStringLiteral("wayland-1")},
        {{{QStringLiteral("desktop-startup-id"), QStringLiteral("x11_TIME42")}}, QStringLiteral("x11_TIME42")},
        // Not a token: a control character, or not a string.
        {{{QStringLiteral("activation-token"), QStringLiteral("a\nb")}}, QString()},
        {{{QStringLiteral("activation-token"), 7}}, QString()},
    };
    for (const auto& launch : launches) {
        SingleInstance second(later, name);
        EXPECT_EQ(second.claim(launch.platformData, std::chrono::milliseconds(5000)).role,
                  SingleInstance::Role::handedOver);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !tokens.isEmpty(); }, 5000));
        EXPECT_EQ(tokens.takeFirst(), launch.token);
    }

    // A first instance that answers nothing: the later launch gives up at its bound.
    thread.quit();
    ASSERT_TRUE(thread.wait(5000));
    SingleInstance second(later, name);
    QElapsedTimer waited;
    waited.start();
    const SingleInstance::Claim claim = second.claim({}, std::chrono::milliseconds(300));
    EXPECT_EQ(claim.role, SingleInstance::Role::noAnswer);
    EXPECT_FALSE(claim.error.isEmpty());
    EXPECT_LT(waited.elapsed(), 3000);
}

}  // namespace
}  // namespace norv
