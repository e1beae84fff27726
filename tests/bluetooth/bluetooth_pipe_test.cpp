#include <gtest/gtest.h>

#include <QStringList>
#include <QTemporaryDir>

#include "bluetooth/bluetooth_pipe.h"
#include "bluetooth/codec/bluetooth_block_codec.h"
#include "bluetooth/codec/bluetooth_frame_codec.h"
#include "bluetooth/l2cap_listener.h"
#include "bluetooth/simulated_bluetooth_channel.h"
#include "bluetooth/virtual_bluetooth_clock.h"
#include "tests/support/bluetooth/bluetooth_hex.h"
#include "tests/support/bluetooth/loopback_engine.h"
#include "tests/support/bluetooth/stand_in_central.h"

namespace norv {
namespace {

using test::hex;
using test::waitUntil;

QByteArray asBytes(const BluetoothBytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

class BluetoothPipeTest : public ::testing::Test {
protected:
    void TearDown() override {
        pipe.reset();
        test::settle();
    }

    // A pipe like the server's: plain, unpaced, with an optional port check instead of a connection.
    void makePipe(bool withConnection, std::function<bool(std::uint16_t)> validatePort = nullptr,
                  std::optional<double> bytesPerSecond = std::nullopt, bool coded = false,
                  std::optional<std::uint16_t> port = std::nullopt,
                  BluetoothBlockCodec::Compression compression = BluetoothBlockCodec::Compression::deflate) {
        std::optional<BluetoothPipe::TcpEndpoint> connection;
        if (withConnection) connection = BluetoothPipe::localConnection(port.value_or(engine.port()));
        pipe = std::make_unique<BluetoothPipe>(link ? link : channel, connection, BluetoothBytes{},
                                               std::move(validatePort), coded, bytesPerSecond, true, compression, clock);
        pipe->onClose = [this](const QString& reason) { closeReasons << reason; };
        pipe->onDiagnostic = [this](const QString& text) { diagnostics << text; };
    }

    bool startAndConnect() {
        pipe->start();
        return engine.waitForConnection() && waitUntil([&] { return diagnostics.contains("tcp ready"); });
    }

    // Reads everything the central is sent until `count` bytes have arrived.
    bool centralReceives(QByteArray& got, qsizetype count) {
        return waitUntil([&] {
            got += asBytes(channel->centralRead());
            return got.size() >= count;
        });
    }

    test::LoopbackEngine engine;
    std::shared_ptr<VirtualBluetoothClock> clock = std::make_shared<VirtualBluetoothClock>();
    std::shared_ptr<SimulatedBluetoothChannel> channel = SimulatedBluetoothChannel::create(0x81, QUuid::createUuid());
    std::shared_ptr<BluetoothL2capChannel> link;  // in place of `channel` when set
    std::unique_ptr<BluetoothPipe> pipe;
    QStringList closeReasons;
    QStringList diagnostics;
};

TEST_F(BluetoothPipeTest, StatePipeCarriesBytesBothWays) {
    makePipe(true);
    ASSERT_TRUE(startAndConnect());
    channel->centralWrite(test::ascii("from device"));
    ASSERT_TRUE(waitUntil([&] { return engine.received() == "from device"; }));
    engine.connection()->write("from engine");
    QByteArray got;
    ASSERT_TRUE(centralReceives(got, 11));
    EXPECT_EQ(got, "from engine");
    EXPECT_EQ(pipe->received(), 11);
    EXPECT_EQ(pipe->sent(), 11);
    EXPECT_EQ(pipe->transferSummary(), "bytes tcp=11 sent=11 received=11 queued=0 statePending=0");

    // Five progress reports, a second apart, and no more.
    const auto reports = [&] { return diagnostics.filter("bytes tcp=").size(); };
    clock->advance(0.99);
    EXPECT_EQ(reports(), 0);
    clock->advance(10);
    EXPECT_EQ(reports(), 5);

    pipe->close("owner");
    pipe->close("again");
    EXPECT_EQ(closeReasons, QStringList{"owner"});
    EXPECT_EQ(diagnostics.last(), "closed bytes tcp=11 sent=11 received=11 queued=0 statePending=0");
    EXPECT_TRUE(channel->closedByPeripheral());
}

TEST_F(BluetoothPipeTest, MidiPortHandshakeMayArriveInPieces) {
    std::vector<std::uint16_t> asked;
    const auto port = engine.port();
    makePipe(false, [&](std::uint16_t p) {
        asked.push_back(p);
        return p == port;
    });
    pipe->start();
    channel->centralWrite(std::vector<std::uint8_t>{static_cast<std::uint8_t>(port >> 8)});
    test::settle();
    EXPECT_TRUE(asked.empty());
    channel->centralWrite(std::vector<std::uint8_t>{static_cast<std::uint8_t>(port & 0xff), 'n', 'o', 't', 'e'});
    ASSERT_TRUE(engine.waitForConnection());
    ASSERT_TRUE(waitUntil([&] { return engine.received() == "note"; }));
    EXPECT_EQ(asked, std::vector<std::uint16_t>{port});
    EXPECT_TRUE(diagnostics.contains(QStringLiteral("midi endpoint %1").arg(port)));
    EXPECT_EQ(pipe->received(), 4) << "handshake bytes do not count";
}

TEST_F(BluetoothPipeTest, RefusedMidiPortClosesThePipe) {
    std::vector<std::uint16_t> asked;
    makePipe(false, [&](std::uint16_t p) {
        asked.push_back(p);
        return false;
    });
    pipe->start();
    channel->centralWrite(hex("23 60"));
    ASSERT_TRUE(waitUntil([&] { return !closeReasons.isEmpty(); }));
    EXPECT_EQ(asked, std::vector<std::uint16_t>{9056});
    EXPECT_EQ(closeReasons, QStringList{"midi endpoint not advertised"});
    EXPECT_EQ(diagnostics.last(), "closed bytes tcp=0 sent=0 received=0 queued=0 statePending=0");
}

TEST_F(BluetoothPipeTest, FailuresCloseWithTheirReasons) {
    makePipe(true, nullptr, std::nullopt, false, test::LoopbackEngine::closedPort());
    pipe->start();
    ASSERT_TRUE(waitUntil([&] { return !closeReasons.isEmpty(); }));
    EXPECT_TRUE(closeReasons[0].startsWith("tcp: ")) << closeReasons[0].toStdString();
    EXPECT_GT(closeReasons[0].size(), 5);

    struct Case {
        std::function<void(SimulatedBluetoothChannel&)> fault;
        QString reason;
    };
    const std::vector<Case> cases{
        {[](auto& c) { c.centralClose(); }, "bluetooth closed"},
        {[](auto& c) { c.centralClose("link lost"); }, "link lost"},
        {[](auto& c) {
             c.failReads("radio noise");
             c.centralWrite(hex("01"));
         },
         "bluetooth read failed: radio noise"},
    };
    for (const auto& c : cases) {
        channel = SimulatedBluetoothChannel::create(0x81, QUuid::createUuid());
        closeReasons.clear();
        makePipe(true);
        ASSERT_TRUE(startAndConnect());
        c.fault(*channel);
        ASSERT_TRUE(waitUntil([&] { return !closeReasons.isEmpty(); })) << c.reason.toStdString();
        EXPECT_EQ(closeReasons, QStringList{c.reason});
    }
}

TEST_F(BluetoothPipeTest, EngineOutputPausesAtTheQueueLimitUntilTheCentralReads) {
    makePipe(true);
    channel->setWindow(0);
    ASSERT_TRUE(startAndConnect());
    const QByteArray payload(40000, 'e');
    engine.connection()->write(payload);
    ASSERT_TRUE(waitUntil([&] { return pipe->queuedBytes() >= 32768; }));
    test::settle(100);
    EXPECT_LT(pipe->networkReceived(), 40000) << "reading pauses once 32768 bytes wait";
    EXPECT_LE(pipe->peakQueued(), 32768u + 4096u);

    channel->setWindow(4096);
    QByteArray got;
    ASSERT_TRUE(centralReceives(got, 40000));
    EXPECT_EQ(got, payload);
    EXPECT_EQ(pipe->networkReceived(), 40000);
    EXPECT_TRUE(closeReasons.isEmpty());
}

TEST_F(BluetoothPipeTest, WriteThatTakesNothingIsRetriedAfterTenMilliseconds) {
    makePipe(true);
    ASSERT_TRUE(startAndConnect());
    channel->stallWrites(1);
    engine.connection()->write("abc");
    ASSERT_TRUE(waitUntil([&] { return pipe->networkReceived() == 3; }));
    test::settle();
    EXPECT_TRUE(channel->centralRead().empty());
    EXPECT_NEAR(clock->nextDue(), 0.01, 1e-9);
    clock->advance(0.01);
    test::settle();
    EXPECT_EQ(asBytes(channel->centralRead()), "abc");
}

TEST_F(BluetoothPipeTest, UnpacedFlushWritesKilobytesEightAtATime) {
    makePipe(true);
    channel->setWindow(0);
    ASSERT_TRUE(startAndConnect());
    const QByteArray payload(10000, 'k');
    engine.connection()->write(payload);
    ASSERT_TRUE(waitUntil([&] { return pipe->networkReceived() == 10000; }));
    test::settle();
    ASSERT_TRUE(channel->writeSizes().empty());

    // Room appears: the one space event runs one flush of at most eight 1,024-byte writes ...
    channel->setWindow(1 << 20);
    QCoreApplication::sendPostedEvents(QCoreApplication::instance(), QEvent::MetaCall);
    EXPECT_EQ(channel->writeSizes(), std::vector<std::size_t>(8, 1024));
    // ... and the rest goes out from the event loop afterwards.
    QByteArray got;
    ASSERT_TRUE(centralReceives(got, 10000));
    EXPECT_EQ(got, payload);
    EXPECT_EQ(channel->writeSizes().size(), 10u);
    EXPECT_EQ(channel->writeSizes().back(), 10000u - 9 * 1024);
}

TEST_F(BluetoothPipeTest, CodedModePacksMoreBlocksOnlyWhileAtMost1023BytesWait) {
    // A pathless frame of P payload bytes becomes a stored block of 27 + P bytes.
    std::size_t run = 0;
    for (const int firstBlock : {1023, 1024}) {
        SCOPED_TRACE(firstBlock);
        channel = SimulatedBluetoothChannel::create(0x81, QUuid::createUuid());
        makePipe(true, nullptr, std::nullopt, true, std::nullopt, BluetoothBlockCodec::Compression::lzfse);
        channel->setWindow(0);
        diagnostics.clear();
        pipe->start();
        ASSERT_TRUE(engine.waitForConnection(run + 1));
        ASSERT_TRUE(waitUntil([&] { return diagnostics.contains("tcp ready"); }));
        const auto first = test::stateFrame(std::string(static_cast<std::size_t>(firstBlock - 27), 'a'));
        const auto second = test::stateFrame(std::string(100, 'b'));
        engine.connection(run++)->write(asBytes(test::concat({first, second})));
        ASSERT_TRUE(waitUntil([&] { return pipe->networkReceived() == static_cast<long long>(first.size() + second.size()); }));
        test::settle();
        if (firstBlock == 1023) {
            EXPECT_EQ(pipe->queuedBytes(), 1023u + 127u) << "at 1,023 waiting bytes the next block is packed";
            EXPECT_EQ(pipe->pendingStateBytes(), 0u);
        } else {
            EXPECT_EQ(pipe->queuedBytes(), 1024u) << "at 1,024 the next frame stays in the state queue";
            EXPECT_EQ(pipe->pendingStateBytes(), second.size());
        }
        pipe.reset();
        test::settle();
    }
}

TEST_F(BluetoothPipeTest, PacedWritesAreHalfKilobytesTwiceASecond) {
    makePipe(true, nullptr, 1024.0);
    ASSERT_TRUE(startAndConnect());
    engine.connection()->write(QByteArray(2048, 'p'));
    ASSERT_TRUE(waitUntil([&] { return pipe->networkReceived() == 2048; }));
    test::settle();
    EXPECT_EQ(channel->writeSizes(), std::vector<std::size_t>{512});
    clock->advance(0.49);
    test::settle();
    EXPECT_EQ(channel->writeSizes().size(), 1u);
    for (std::size_t writes = 2; writes <= 4; ++writes) {
        clock->advance(0.5);
        test::settle();
        EXPECT_EQ(channel->writeSizes().size(), writes);
    }
    EXPECT_EQ(channel->writeSizes(), (std::vector<std::size_t>{512, 512, 512, 512}));
}

TEST_F(BluetoothPipeTest, EngineEndFlushesQueuedOutputFirst) {
    makePipe(true);
    channel->setWindow(1000);
    ASSERT_TRUE(startAndConnect());
    const QByteArray payload(5000, 'z');
    engine.connection()->write(payload);
    engine.connection()->disconnectFromHost();
    ASSERT_TRUE(waitUntil([&] { return pipe->networkReceived() == 5000; }));
    test::settle(50);
    EXPECT_TRUE(closeReasons.isEmpty()) << "queued bytes still go out";
    QByteArray got;
    ASSERT_TRUE(centralReceives(got, 5000));
    EXPECT_EQ(got, payload);
    ASSERT_TRUE(waitUntil([&] { return !closeReasons.isEmpty(); }));
    EXPECT_EQ(closeReasons, QStringList{"tcp end"});
}

TEST_F(BluetoothPipeTest, EngineEndWaitsAtMostASecondForASilentCentral) {
    makePipe(true);
    channel->setWindow(0);
    ASSERT_TRUE(startAndConnect());
    engine.connection()->write("unsent");
    engine.connection()->disconnectFromHost();
    ASSERT_TRUE(waitUntil([&] { return pipe->networkReceived() == 6; }));
    test::settle(50);
    clock->advance(0.9);
    EXPECT_TRUE(closeReasons.isEmpty());
    clock->advance(0.1);
    EXPECT_EQ(closeReasons, QStringList{"tcp end"});
}

TEST_F(BluetoothPipeTest, OnCloseMayReleaseThePipeInTheMiddleOfItsFlush) {
    makePipe(true);
    ASSERT_TRUE(startAndConnect());
    QString reason;
    pipe->onClose = [&](const QString& r) {
        reason = r;
        pipe.reset();  // the owner lets go while the flush is still on the stack
    };
    // Once the engine has ended, a failed write is the end of the pipe.
    channel->setWindow(0);
    engine.connection()->write(QByteArray(3000, 'x'));
    engine.connection()->disconnectFromHost();
    ASSERT_TRUE(waitUntil([&] { return pipe->networkReceived() == 3000; }));
    test::settle(50);
    channel->failWrites("link gone");
    channel->setWindow(1 << 20);
    ASSERT_TRUE(waitUntil([&] { return pipe == nullptr; }));
    EXPECT_EQ(reason, "bluetooth write failed: link gone");
    test::settle();
}

TEST_F(BluetoothPipeTest, CodedModeRoundTripsFramesAndRejectsBadBlocks) {
    makePipe(true, nullptr, std::nullopt, true);
    std::vector<double> observed;
    pipe->observeBluetoothFrame = [&](const BluetoothBytes&, double t) { observed.push_back(t); };
    ASSERT_TRUE(startAndConnect());

    // Engine to central: frames arrive as blocks of delta-coded frames.
    const auto state = test::stateFrame(R"({"path":"/norv/transport/state","args":[{"tempo":120}]})");
    engine.connection()->write(asBytes(state));
    BluetoothBlockCodec blocks;
    BluetoothFrameCodec frames;
    BluetoothBytes plain;
    ASSERT_TRUE(waitUntil([&] {
        const auto got = frames.receive(blocks.receive(channel->centralRead()));
        plain.insert(plain.end(), got.begin(), got.end());
        return plain.size() >= state.size();
    }));
    EXPECT_EQ(plain, state);
    EXPECT_EQ(pipe->originalStateBytes(), static_cast<long long>(state.size()));

    // Central to engine: blocks are unpacked and frames decoded before TCP.
    BluetoothFrameCodec encoder;
    const auto coded = encoder.encode(test::stateFrame(R"({"path":"/pad"})"), 12.5);
    channel->centralWrite(BluetoothBlockCodec::encode(coded, BluetoothBlockCodec::Compression::deflate));
    ASSERT_TRUE(waitUntil([&] { return engine.received() == asBytes(test::stateFrame(R"({"path":"/pad"})")); }));
    EXPECT_EQ(observed, std::vector<double>{12.5});

    channel->centralWrite(hex("03 00 01 00 01 00"));
    ASSERT_TRUE(waitUntil([&] { return !closeReasons.isEmpty(); }));
    EXPECT_EQ(closeReasons, QStringList{"invalid bluetooth block: Invalid compressed Bluetooth block"});
}

// The pipe on the stand-in socket family, which sends and hangs up as the kernel's channels do.
class StandInPipeTest : public BluetoothPipeTest {
protected:
    // A central on a fresh channel, piped to the engine's connection `round`.
    std::unique_ptr<test::StandInCentral> connect(std::size_t round) {
        auto made = L2capListener::listenStandIn(folder.path(), 0x80, [this](auto c) { link = std::move(c); });
        auto central = std::make_unique<test::StandInCentral>(folder.path(), 0x80);
        if (!waitUntil([&] { return link != nullptr; })) return nullptr;
        closeReasons.clear();
        diagnostics.clear();
        makePipe(true);
        if (!startAndConnect() || !engine.waitForConnection(round + 1)) return nullptr;
        link.reset();
        return central;
    }
    QTemporaryDir folder;
};

TEST_F(StandInPipeTest, ACentralThatHangsUpWhileTheEngineWritesLosesNoByte) {
    QByteArray sent;
    for (char packet = 0; packet < 12; ++packet) sent += QByteArray(600, static_cast<char>('a' + packet));
    for (std::size_t round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        const auto central = connect(round);
        ASSERT_TRUE(central);
        QTcpSocket* engineSide = engine.connection(round);
        engineSide->write(QByteArray(4096, 'e'));
        if (round % 2 == 0) {  // odd rounds leave it unread
            ASSERT_EQ(central->receive(4096).size(), 4096);
        }
        ASSERT_TRUE(waitUntil([&] { return pipe->sent() > 0; }));
        // The engine's next frame is on its way as the central sends its last packets and goes.
        engineSide->write(QByteArray(600, 'f'));
        ASSERT_TRUE(engineSide->flush());
        for (qsizetype at = 0; at < sent.size(); at += 600) ASSERT_TRUE(central->send(sent.mid(at, 600)));
        central->close();
        ASSERT_TRUE(waitUntil([&] { return !closeReasons.isEmpty(); }));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // as the event loop would next
        if (round % 2 == 0) {
            EXPECT_EQ(closeReasons, QStringList{"bluetooth write failed: Broken pipe"});
        }
        ASSERT_TRUE(waitUntil([&] { return engine.received(round) == sent; })) << engine.received(round).size();
    }
}

TEST_F(StandInPipeTest, BytesHandedToTheEngineSurviveTheirPipe) {
    const auto central = connect(0);
    ASSERT_TRUE(central && central->send("last notes"));
    // One pass of the event loop at a time: the owner lets go as soon as TCP has the bytes.
    QDeadlineTimer deadline(3000);
    while (pipe->received() == 0 && !deadline.hasExpired()) QCoreApplication::processEvents();
    pipe.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(waitUntil([&] { return engine.received() == "last notes"; }));
}

TEST_F(StandInPipeTest, TheEnginesLastFrameReachesTheCentralBeforeTheChannelCloses) {
    const auto central = connect(0);
    ASSERT_TRUE(central);
    const QByteArray frames = QByteArray(1024, 'x') + "the last frame";
    engine.connection()->write(frames);
    engine.connection()->disconnectFromHost();
    // The central reads nothing yet: the last frame waits in the channel for a credit.
    ASSERT_TRUE(waitUntil([&] { return pipe->networkReceived() == frames.size() && pipe->queuedBytes() == 0; }));
    clock->advance(1.5);
    EXPECT_TRUE(closeReasons.isEmpty()) << "the channel's queue is waited for";
    EXPECT_EQ(central->receive(frames.size()), frames);
    EXPECT_TRUE(waitUntil([&] {
        clock->advance(0.01);
        return closeReasons == QStringList{"tcp end"};
    }));
}

}  // namespace
}  // namespace norv
