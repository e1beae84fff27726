// One application per session, over the test command's session bus under a name of the test's own.
#include "app/single_instance.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QTest>
#include <future>
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
    void TearDown() override { QDBusConnection::disconnectFromBus(QStringLiteral("later-launch")); }

    // A later launch's claim, made on a thread of its own while this one's event loop lets the
    // first answer, as the running application's loop does.
    SingleInstance::Claim laterClaim(const QVariantMap& platformData) {
        SingleInstance second(later, name);
        auto claim = std::async(std::launch::async, [&] { return second.claim(platformData, std::chrono::milliseconds(5000)); });
        EXPECT_TRUE(QTest::qWaitFor([&] { return claim.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 10000));
        return claim.get();
    }

    const QString name = QStringLiteral("org.norv.NorvBridgeTest.p%1").arg(QCoreApplication::applicationPid());
    QDBusConnection later{QString()};
};

TEST_F(SingleInstanceTest, ALaterLaunchHandsItsTokenToTheFirstOrSaysItDidNotAnswer) {
    SingleInstance first(QDBusConnection::sessionBus(), name);
    EXPECT_EQ(first.claim({}, std::chrono::milliseconds(1000)).role, SingleInstance::Role::first);
    QStringList tokens;
    QObject::connect(&first, &SingleInstance::activated, &first, [&tokens](const QString& token) { tokens.append(token); });

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
        EXPECT_EQ(laterClaim(launch.platformData).role, SingleInstance::Role::handedOver);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !tokens.isEmpty(); }, 5000));
        EXPECT_EQ(tokens.takeFirst(), launch.token);
    }

    // A first instance that answers nothing (its loop is busy with this very wait): the later
    // launch gives up at its bound.
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
