#include "core/admin_capability.h"
#include "core/bridge_process_controller.h"
#include "tests/support/core/engine_test_support.h"
#include "tests/support/core/log_capture.h"
#include "tests/support/core/runtime_test_support.h"

#include "core/bridge_runtime_files.h"
#include "tests/support/core/fake_engine_process.h"

#include <QDir>
#include <QSslCertificate>
#include <QSslSocket>
#include <QTcpServer>
#include <QThreadPool>
#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>

namespace norv {
namespace {

using namespace std::chrono_literals;
using test::EngineTest;
using test::kProcessCategory;
using test::waitUntil;

const QString kFixedArguments[] = {QStringLiteral("--no-legacy-shared-midi"), QStringLiteral("--managed-stdin"),
                                   QStringLiteral("--tls-identity-stdin"), QStringLiteral("--require-device-approval")};

// The certificate the engine serves on `port`: proof that it read our identity line.
QByteArray servedCertificateDigest(int port) {
    QSslSocket socket;
    socket.setPeerVerifyMode(QSslSocket::QueryPeer);
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), quint16(port));
    socket.ignoreSslErrors();
    waitUntil([&] { return socket.isEncrypted() || socket.state() == QAbstractSocket::UnconnectedState; });
    return socket.peerCertificate().digest(QCryptographicHash::Sha256).toHex();
}

class ProcessControllerTest : public EngineTest {};

TEST_F(ProcessControllerTest, LaunchesTheEngineWithItsCommandLineDirectoryEnvironmentAndIdentity) {
    const QString adb = temp.filePath(QStringLiteral("adb"));
    test::writeFile(adb, "#!/bin/sh\n", 0755);
    qputenv("NORV_ANDROID_ADB_PATH", QFile::encodeName(adb));
    qputenv("LC_ALL", "C.UTF-8");
    qputenv("USER", "someone");
    for (const char* name : {"LANG", "LC_CTYPE", "TMPDIR"}) qunsetenv(name);

    auto controller = makeController();
    BridgeLaunchConfiguration config = configuration();
    config.androidUSBEnabled = true;
    controller->start(config);
    EXPECT_TRUE(controller->isPreparing());
    const int adminPort = waitForEngine(*controller);
    const qint64 pid = controller->processId();

    const QString copy = supportFolder + QStringLiteral("/BridgeRuntimes/") +
                         test::independentFingerprint(resources + QStringLiteral("/BridgeRuntime"));
    EXPECT_EQ(test::processDirectory(pid), copy);
    EXPECT_EQ(test::processArguments(pid).mid(1),
              QStringList({QStringLiteral("-I"), QStringLiteral("-B"), QStringLiteral("-u"),
                           copy + QStringLiteral("/tools/run_bridge.py"), QStringLiteral("--public-host"),
                           QStringLiteral("0.0.0.0"), QStringLiteral("--public-port"), QString::number(publicPort)}) +
                  QStringList(std::begin(kFixedArguments), std::end(kFixedArguments)) +
                  QStringList({QStringLiteral("--usb-tunnel"), QStringLiteral("--android-adb-tunnel"),
                               QStringLiteral("--android-adb-path"), adb}));
    const auto capability = AdminCapability::current();
    ASSERT_TRUE(capability.has_value());
    EXPECT_EQ(capability->certificatePEM, identity.certificatePEM);
    EXPECT_EQ(test::processEnvironment(pid),
              QStringList({QStringLiteral("HOME=") + home, QStringLiteral("LC_ALL=C.UTF-8"),
                           QStringLiteral("NORV_ADMIN_TOKEN=") + capability->token,
                           QStringLiteral("PATH=/usr/bin:/bin:/usr/sbin:/sbin"),
                           QStringLiteral("PYTHONDONTWRITEBYTECODE=1"), QStringLiteral("PYTHONUNBUFFERED=1")}));

    EXPECT_EQ(servedCertificateDigest(adminPort), identity.fingerprint().toLatin1());
    EXPECT_EQ(controller->identityFingerprint(), identity.fingerprint());
    EXPECT_EQ(controller->activeConfiguration(), config);
    EXPECT_TRUE(logContains(*controller, QStringLiteral(" INFO [desktop] started bridge pid=%1").arg(pid)));
    EXPECT_TRUE(logContains(*controller, QStringLiteral("INFO Bridge started")));  // the engine's own output
    // The engine leaves when its standard input closes; ours stays open for its whole life.
    test::settle(300ms);
    EXPECT_TRUE(controller->isRunning());
    EXPECT_FALSE(logContains(*controller, QStringLiteral("standard input closed")));
}

TEST_F(ProcessControllerTest, LoopbackOnlyVariantAndTheEnginesExitStatus) {
    const QString adb = temp.filePath(QStringLiteral("adb"));
    test::writeFile(adb, "#!/bin/sh\n", 0644);  // not executable: never handed over
    qputenv("NORV_ANDROID_ADB_PATH", QFile::encodeName(adb));
    writeScenario({{"admin_port", 0}, {"exit_after", {{"seconds", 0.3}, {"status", 0}}}});
    auto controller = makeController();
    BridgeLaunchConfiguration config{false, true, false, true, publicPort, false, false};
    controller->start(config);
    waitForEngine(*controller);

    QStringList expected = QStringList({QStringLiteral("--public-host"), QStringLiteral("127.0.0.1"),
                                        QStringLiteral("--public-port"), QString::number(publicPort)}) +
                           QStringList(std::begin(kFixedArguments), std::end(kFixedArguments)) +
                           QStringList({QStringLiteral("--no-bonjour"), QStringLiteral("--android-adb-tunnel")});
    if (const auto other = BridgeProcessController::findADBPath()) expected << QStringLiteral("--android-adb-path") << *other;
    EXPECT_EQ(test::processArguments(controller->processId()).mid(5), expected);
    EXPECT_EQ(controller->activeConfiguration(), config.normalized());

    // Status 0 is logged only; any other status is reported. Either way the token is withdrawn.
    ASSERT_TRUE(waitUntil([&] { return !controller->hasProcess(); }));
    EXPECT_FALSE(controller->isRunning());
    EXPECT_FALSE(controller->lastError().has_value());
    EXPECT_TRUE(logContains(*controller, QStringLiteral(" INFO [desktop] bridge stopped status=0")));
    EXPECT_FALSE(AdminCapability::current().has_value());

    writeScenario({{"admin_port", 0}, {"exit_after", {{"seconds", 0.3}, {"status", 3}}}});
    controller->start(configuration());
    waitForEngine(*controller);
    ASSERT_TRUE(waitUntil([&] { return !controller->hasProcess(); }));
    EXPECT_EQ(controller->lastError(), QStringLiteral("Bridge exited with status 3"));
    EXPECT_FALSE(AdminCapability::current().has_value());
}

TEST_F(ProcessControllerTest, RestartReplacesTheEngineWithoutReportingTheOldExit) {
    auto controller = makeController();
    controller->start(configuration());
    waitForEngine(*controller);
    const qint64 first = controller->processId();
    const QString firstToken = AdminCapability::current().value().token;
    const quint64 generation = controller->launchGeneration();
    controller->start(configuration());  // ignored while an engine runs
    EXPECT_EQ(controller->launchGeneration(), generation);

    BridgeLaunchConfiguration changed = configuration();
    changed.iosUSBEnabled = false;
    controller->restart(changed);
    ASSERT_TRUE(waitUntil([&] { return controller->isRunning() && controller->processId() != first; }));
    EXPECT_FALSE(test::processExists(first));
    EXPECT_FALSE(test::processArguments(controller->processId()).contains(QStringLiteral("--usb-tunnel")));
    EXPECT_NE(AdminCapability::current().value().token, firstToken);
    // An engine that died before its exit was handled is the supervisor's own test.
    EXPECT_FALSE(controller->lastError().has_value());
    EXPECT_FALSE(logContains(*controller, QStringLiteral("bridge stopped")));
    EXPECT_EQ(controller->activeConfiguration(), changed);
}

// An identity generator that holds until the test lets it go; its first call fails.
struct GatedGenerator {
    std::mutex lock;
    std::condition_variable released;
    bool open = false;
    int calls = 0;

    BridgeTLSIdentity operator()(const BridgeTLSIdentity& identity) {
        std::unique_lock guard(lock);
        const int call = ++calls;
        released.wait_for(guard, 20s, [this] { return open; });
        if (call == 1) throw std::runtime_error("first preparation failed late");
        return identity;
    }
    void release() {
        std::lock_guard guard(lock);
        open = true;
        released.notify_all();
    }
};

TEST_F(ProcessControllerTest, OvertakenPreparationsChangeNothing) {
    auto gate = std::make_shared<GatedGenerator>();
    vault = std::make_shared<MemoryBridgeIdentityVault>();
    store = std::make_shared<BridgeTLSIdentityStore>(vault, [gate, id = identity] { return (*gate)(id); });
    auto controller = makeController();
    controller->start(configuration());
    ASSERT_TRUE(waitUntil([&] { return gate->calls == 1; }));
    controller->restart();
    gate->release();
    waitForEngine(*controller);
    test::settle(200ms);
    EXPECT_FALSE(controller->lastError().has_value());  // the first preparation's late failure
    EXPECT_EQ(controller->diagnosticBuffer().lines().filter(QStringLiteral("started bridge pid=")).size(), 1);
    EXPECT_EQ(gate->calls, 2);

    // A preparation that ends after its controller is gone does nothing at all.
    controller.reset();
    auto late = std::make_shared<GatedGenerator>();
    late->calls = 1;
    store = std::make_shared<BridgeTLSIdentityStore>(std::make_shared<MemoryBridgeIdentityVault>(),
                                                     [late, id = identity] { return (*late)(id); });
    controller = makeController();
    controller->start(configuration());
    ASSERT_TRUE(waitUntil([&] { return late->calls == 2; }));
    controller.reset();
    late->release();
    QThreadPool::globalInstance()->waitForDone(10000);
    test::settle(100ms);
    EXPECT_FALSE(AdminCapability::current().has_value());
}

TEST_F(ProcessControllerTest, NothingLaunchesWhenThePortIsTakenOrPreparationFails) {
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost, 0));
    publicPort = listener.serverPort();
    test::LogCapture log;
    auto controller = makeController();
    controller->start(configuration());
    ASSERT_TRUE(waitUntil([&] { return !controller->isPreparing(); }));
    const QString text =
        QStringLiteral("An external bridge already owns port %1. Stop it before starting the managed bridge.")
            .arg(publicPort);
    EXPECT_EQ(controller->lastError(), text);
    EXPECT_TRUE(logContains(*controller, QStringLiteral(" INFO [desktop] launch skipped: ") + text));
    // The application log's default level.
    EXPECT_TRUE(log.contains(QtWarningMsg, kProcessCategory,
                             QStringLiteral("Managed bridge launch skipped because port %1 is already in use")
                                 .arg(publicPort)));
    EXPECT_FALSE(controller->hasProcess());
    EXPECT_FALSE(AdminCapability::current().has_value());

    vault->setReadFailure(-25308);
    controller->start(configuration());
    ASSERT_TRUE(waitUntil([&] { return !controller->isPreparing(); }));
    EXPECT_TRUE(controller->lastError().value_or(QString()).startsWith(QStringLiteral("Bridge identity is unavailable: the Secret Service")));
    EXPECT_TRUE(logContains(
        *controller, QStringLiteral(" INFO [desktop] protected Bridge identity unavailable: vault status -25308")));

    vault->setReadFailure(0);
    auto options = this->options();
    options.resourceFolder = temp.filePath(QStringLiteral("no-resources"));
    auto bare = makeController(options);
    bare->start(configuration());
    ASSERT_TRUE(waitUntil([&] { return !bare->isPreparing(); }));
    EXPECT_EQ(bare->lastError(), QStringLiteral("Could not prepare the bundled Bridge runtime"));
    EXPECT_FALSE(bare->hasProcess());
}

TEST_F(ProcessControllerTest, FailedIdentityWriteStaysTheReportedErrorAfterTheEngineIsEnded) {
    auto options = this->options();
    options.writeIdentityLine = [](int, QByteArrayView) { return EPIPE; };
    test::LogCapture log;
    auto controller = makeController(options);
    controller->start(configuration());
    ASSERT_TRUE(waitUntil([&] { return controller->lastError().has_value(); }));
    const QString broken = QStringLiteral("Broken pipe");  // in English, whatever the locale
    EXPECT_EQ(controller->lastError(), broken);
    EXPECT_FALSE(controller->isRunning());
    EXPECT_FALSE(AdminCapability::current().has_value());
    ASSERT_TRUE(waitUntil([&] { return !controller->hasProcess(); }));
    EXPECT_EQ(controller->lastError(), broken);  // not "Bridge exited with status 15"
    EXPECT_TRUE(logContains(*controller, QStringLiteral(" INFO [desktop] launch failed: ") + broken));
    EXPECT_TRUE(log.contains(QtCriticalMsg, kProcessCategory, QStringLiteral("Bridge launch failed: ") + broken));
}

TEST_F(ProcessControllerTest, StoppedEnginesEndEvenWhenTheyIgnoreSigterm) {
    writeScenario({{"admin_port", 0}, {"ignore_sigterm", true}});
    auto controller = makeController();
    controller->start(configuration());
    waitForEngine(*controller);
    const qint64 first = controller->processId();
    controller->restart();
    bool done = false;
    controller->stopForQuit([&] { done = true; });  // also cancels the pending restart
    ASSERT_TRUE(waitUntil([&] { return done; }, 5s));
    EXPECT_FALSE(test::processExists(first));
    EXPECT_FALSE(controller->lastError().has_value());  // an exit we asked for is no failure
    EXPECT_TRUE(logContains(*controller, QStringLiteral("bridge stopped status=9")));
    test::settle(200ms);
    EXPECT_FALSE(controller->hasProcess());
    EXPECT_FALSE(controller->isPreparing());

    // An owner that never stopped its engine: destruction ends it.
    controller->start(configuration());
    waitForEngine(*controller);
    const qint64 second = controller->processId();
    controller.reset();
    EXPECT_FALSE(test::processExists(second));
    EXPECT_FALSE(AdminCapability::current().has_value());
}

// An engine that exits at once races our identity write: whether it is gone before the write
// (which then finds no reader) or after, the notice names its own status, in every run.
TEST_F(ProcessControllerTest, AnEngineThatExitsAtOnceIsReportedWithItsOwnStatusEveryTime) {
    auto options = this->options();
    options.resourceFolder = temp.filePath(QStringLiteral("quick-exit"));
    const QString runtime = options.resourceFolder + QStringLiteral("/BridgeRuntime");
    test::writeFile(runtime + QStringLiteral("/tools/run_bridge.py"), "print('engine')\n");
    test::writeFile(runtime + QStringLiteral("/PythonRuntime/") + QLatin1String(BridgeRuntimeFiles::kProcessor) +
                        QStringLiteral("/bin/python3.13"),
                    "#!/bin/sh\nexit 3\n", 0755);
    test::LogCapture log;
    auto controller = makeController(options);
    int ended = 0;
    QObject::connect(controller.get(), &BridgeProcessController::processEnded, controller.get(), [&] { ++ended; });
    for (int run = 1; run <= 20; ++run) {
        controller->start(configuration());
        ASSERT_TRUE(waitUntil([&] { return ended == run; })) << run;
        EXPECT_EQ(controller->lastError(), QStringLiteral("Bridge exited with status 3")) << run;
    }
    EXPECT_EQ(controller->diagnosticBuffer().lines().filter(QStringLiteral("bridge stopped status=3")).size(), 20);
    EXPECT_TRUE(controller->diagnosticBuffer().lines().filter(QStringLiteral("launch failed")).isEmpty());
    EXPECT_FALSE(log.contains(QtCriticalMsg, kProcessCategory, QStringLiteral("Bridge launch failed: ") +
                                                                   QString::fromLocal8Bit(std::strerror(EPIPE))));
    EXPECT_FALSE(AdminCapability::current().has_value());
}

// The admin port the engine must bind, held before the launch: by a program that does not speak
// TLS, it is named as another program's; by an engine that answers TLS, as an external bridge's.
// Either way nothing is launched and no token is made.
TEST_F(ProcessControllerTest, AnAdminPortHeldByAnotherProgramOrAnExternalBridgePreventsTheLaunch) {
    QTcpServer other;
    ASSERT_TRUE(other.listen(QHostAddress::LocalHost, 0));
    test::LogCapture log;
    auto options = this->options();
    options.adminPort = other.serverPort();
    options.adminPortProbeTimeout = 500ms;
    auto controller = makeController(options);
    controller->start(configuration());
    ASSERT_TRUE(waitUntil([&] { return controller->lastError().has_value(); }));
    const QString inUse = QStringLiteral("port %1 is in use by another program").arg(other.serverPort());
    EXPECT_EQ(controller->lastError(), QStringLiteral("The managed bridge cannot start: ") + inUse + QLatin1Char('.'));
    EXPECT_TRUE(logContains(*controller, QStringLiteral(" INFO [desktop] launch skipped: The managed bridge cannot start: ") + inUse));
    EXPECT_TRUE(log.contains(QtWarningMsg, kProcessCategory, QStringLiteral("Managed bridge launch skipped because ") + inUse));
    EXPECT_FALSE(controller->hasProcess());
    EXPECT_FALSE(AdminCapability::current().has_value());

    test::FakeEngineProcess external(test::sharedIdentityLine(), QString(64, QLatin1Char('e')), nlohmann::json::object());
    ASSERT_TRUE(external.started());
    options.adminPort = external.port();
    controller = makeController(options);
    controller->start(configuration());
    ASSERT_TRUE(waitUntil([&] { return controller->lastError().has_value(); }));
    EXPECT_EQ(controller->lastError(),
              QStringLiteral("An external bridge already owns port %1. Stop it before starting the managed bridge.")
                  .arg(external.port()));
    EXPECT_FALSE(controller->hasProcess());
    EXPECT_FALSE(AdminCapability::current().has_value());
}

// A descriptor this process holds without close-on-exec (as one inherited from a launching shell)
// never reaches the engine.
TEST_F(ProcessControllerTest, TheEngineGetsNoDescriptorBeyondItsStandardOnes) {
    const QString marker = temp.filePath(QStringLiteral("inherited-marker"));
    test::writeFile(marker, "x");
    const int opened = ::open(QFile::encodeName(marker).constData(), O_RDONLY);  // no O_CLOEXEC
    ASSERT_GE(opened, 0);
    constexpr int kInherited = 251;
    ASSERT_EQ(::dup2(opened, kInherited), kInherited);
    ::close(opened);
    ASSERT_EQ(::fcntl(kInherited, F_GETFD) & FD_CLOEXEC, 0);

    auto controller = makeController();
    controller->start(configuration());
    waitForEngine(*controller);
    const QString fds = QStringLiteral("/proc/%1/fd").arg(controller->processId());
    const QStringList entries = QDir(fds).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    EXPECT_TRUE(entries.contains(QStringLiteral("0")));
    EXPECT_FALSE(entries.contains(QString::number(kInherited)));
    for (const QString& entry : entries)
        EXPECT_NE(QFile::symLinkTarget(fds + QLatin1Char('/') + entry), marker) << entry.toStdString();
    ::close(kInherited);
}

// The child of a parent that is killed (no clean-up of its own runs) ends with it.
TEST(ChildProcessGuard, AChildDiesWithItsParent) {
    QProcess parent;
    parent.start(QStringLiteral(NORV_CHILD_GUARD_HELPER), {});
    ASSERT_TRUE(parent.waitForStarted(5000));
    ASSERT_TRUE(waitUntil([&] { return parent.canReadLine() || parent.state() == QProcess::NotRunning; }));
    const qint64 child = parent.readLine().trimmed().toLongLong();
    ASSERT_GT(child, 0);
    ASSERT_TRUE(test::processExists(child));
    const qint64 parentPid = parent.processId();
    ASSERT_GT(parentPid, 0);
    ::kill(pid_t(parentPid), SIGKILL);
    ASSERT_TRUE(parent.waitForFinished(5000));
    // Gone, or a zombie left for whoever reaps orphans.
    const auto ended = [child] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(child));
        if (!stat.open(QIODevice::ReadOnly)) return true;
        const QByteArray text = stat.readAll();
        return text.mid(text.lastIndexOf(')') + 2, 1) == "Z";
    };
    EXPECT_TRUE(waitUntil(ended, 5s));
    if (!ended()) ::kill(pid_t(child), SIGKILL);
}

}  // namespace
}  // namespace norv
