// Looking for BlueZ at start-up: with an adapter, without one, without BlueZ, with no bus and with
// a bus that never answers, the answer comes within its bound and the event loop keeps running
// meanwhile. Whenever the bus answers, BlueZ is chosen and followed from then on.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTimer>

#include "bluetooth/bluez_probe.h"
#include "tests/support/bluetooth/fake_bluez.h"
#include "tests/support/bluetooth/loopback_engine.h"

namespace norv {
namespace {

using test::waitUntil;

struct Answer {
    bool answered = false;
    std::shared_ptr<BluezPeripheralBackend> backend;
    QString reason;
};

Answer probe(const QString& address, int boundMs, QObject& context) {
    Answer answer;
    probeBluez(
        &context, {true, 2000}, boundMs,
        [&answer](std::shared_ptr<BluezPeripheralBackend> backend, const QString& reason) {
            answer = {true, std::move(backend), reason};
        },
        address);
    waitUntil([&] { return answer.answered; }, boundMs + 2000);
    return answer;
}

TEST(BluezProbe, ServesWheneverTheBusAnswers) {
    test::FakeBluez fake;
    ASSERT_TRUE(fake.ready());
    QObject context;
    const Answer found = probe(fake.address(), 3000, context);
    ASSERT_TRUE(found.answered);
    ASSERT_TRUE(found.backend);
    EXPECT_EQ(found.backend->adapterPath(), "/org/bluez/hci0");
    EXPECT_EQ(found.backend->radioState(), radioPoweredOn);
    EXPECT_TRUE(found.reason.isEmpty());

    // An adapter plugged in later.
    fake.control(QStringLiteral("RemoveAdapter"));
    const Answer none = probe(fake.address(), 3000, context);
    ASSERT_TRUE(none.answered);
    ASSERT_TRUE(none.backend);
    EXPECT_EQ(none.backend->radioState(), radioUnsupported);
    EXPECT_EQ(none.reason, "BlueZ has no Bluetooth adapter");
    fake.control(QStringLiteral("AddAdapter"), {true});
    EXPECT_TRUE(waitUntil([&] { return none.backend->radioState() == radioPoweredOn; }));

    // A bluetoothd that starts after the application.
    fake.control(QStringLiteral("LeaveBus"));
    const Answer absent = probe(fake.address(), 3000, context);
    ASSERT_TRUE(absent.answered);
    ASSERT_TRUE(absent.backend);
    EXPECT_EQ(absent.backend->radioState(), radioUnsupported);
    EXPECT_TRUE(absent.reason.startsWith("BlueZ does not answer")) << absent.reason.toStdString();
    fake.control(QStringLiteral("JoinBus"));
    EXPECT_TRUE(waitUntil([&] { return absent.backend->radioState() == radioPoweredOn; }));

    QTemporaryDir empty;
    const Answer noBus =
        probe(QStringLiteral("unix:path=") + empty.filePath(QStringLiteral("none")), 3000, context);
    ASSERT_TRUE(noBus.answered);
    EXPECT_FALSE(noBus.backend);
    EXPECT_TRUE(noBus.reason.startsWith("no system bus")) << noBus.reason.toStdString();
}

TEST(BluezProbe, ABusThatNeverAnswersNeitherBlocksNorDelaysPastTheBound) {
    QTemporaryDir dir;
    QLocalServer silent;  // accepts connections and never says a word
    ASSERT_TRUE(silent.listen(dir.filePath(QStringLiteral("bus"))));
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] { ++ticks; });
    ticker.start(10);

    QObject context;
    QElapsedTimer elapsed;
    elapsed.start();
    const Answer answer =
        probe(QStringLiteral("unix:path=") + silent.fullServerName(), 300, context);
    const qint64 took = elapsed.elapsed();
    ASSERT_TRUE(answer.answered);
    EXPECT_FALSE(answer.backend);
    EXPECT_EQ(answer.reason, "the system bus did not answer within 300 ms");
    EXPECT_LT(took, 1500);
    EXPECT_GE(ticks, 10) << "the event loop ran throughout";

    // Hanging up lets the worker's connection attempt end.
    while (QLocalSocket* socket = silent.nextPendingConnection()) socket->abort();
    silent.close();
    test::settle(200);
}

}  // namespace
}  // namespace norv
