#include "tests/support/core/engine_test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QThread>
#include <QThreadPool>
#include <csignal>

namespace norv::test {

std::chrono::milliseconds scaled(std::chrono::milliseconds base) {
    bool ok = false;
    const double factor = qEnvironmentVariable("NORV_TEST_TIME_SCALE").toDouble(&ok);
    return ok && factor > 0 ? std::chrono::milliseconds(qint64(double(base.count()) * factor)) : base;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    const qint64 limit = scaled(timeout).count();
    while (!condition()) {
        if (clock.elapsed() > limit) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

void settle(std::chrono::milliseconds duration) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < duration.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}

int freePort() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) return 0;
    return server.serverPort();
}

namespace {

QList<QByteArray> procEntries(qint64 pid, const char* name) {
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly)) return {};
    QByteArray content = file.readAll();
    if (content.endsWith('\0')) content.chop(1);
    return content.split('\0');
}

}  // namespace

QStringList processArguments(qint64 pid) {
    QStringList result;
    for (const QByteArray& entry : procEntries(pid, "cmdline")) result << QString::fromUtf8(entry);
    return result;
}

QString processDirectory(qint64 pid) {
    return QFile::symLinkTarget(QStringLiteral("/proc/%1/cwd").arg(pid));
}

QStringList processEnvironment(qint64 pid) {
    QStringList result;
    for (const QByteArray& entry : procEntries(pid, "environ")) result << QString::fromUtf8(entry);
    result.sort();
    return result;
}

bool processExists(qint64 pid) {
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

BridgeTLSIdentity EngineTest::identity;

void EngineTest::SetUpTestSuite() {
    if (identity.certificatePEM.isEmpty()) identity = BridgeTLSIdentity::generate();
}

void EngineTest::SetUp() {
    ASSERT_TRUE(temp.isValid());
    home = temp.filePath(QStringLiteral("home"));
    dataHome = temp.filePath(QStringLiteral("data"));
    supportFolder = dataHome + QStringLiteral("/Norv Session");
    ASSERT_TRUE(QDir().mkpath(home));
    ASSERT_TRUE(QDir().mkpath(dataHome));
    savedHome_ = qgetenv("HOME");
    savedDataHome_ = qgetenv("XDG_DATA_HOME");
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
    qunsetenv("NORV_ANDROID_ADB_PATH");
    resources = QStringLiteral(NORV_FAKE_RESOURCES_DIR);
    ASSERT_TRUE(QFile::exists(resources + QStringLiteral("/BridgeRuntime/tools/run_bridge.py")))
        << "the tests' engine runtime is not built";
    writeScenario({{"admin_port", 0}});
    vault = std::make_shared<MemoryBridgeIdentityVault>(identity.encode());
    store = std::make_shared<BridgeTLSIdentityStore>(vault, []() -> BridgeTLSIdentity {
        throw std::runtime_error("no identity generation in this test");
    });
    publicPort = freePort();
}

void EngineTest::TearDown() {
    // Worker threads end here, so their per-thread TLS library state is released before exit.
    QThreadPool::globalInstance()->waitForDone(int(scaled(std::chrono::seconds(10)).count()));
    qputenv("HOME", savedHome_);
    qputenv("XDG_DATA_HOME", savedDataHome_);
}

void EngineTest::writeScenario(const nlohmann::json& scenario) {
    const QString folder = home + QStringLiteral("/.norv-fake-engine");
    QDir().mkpath(folder);
    QFile file(folder + QStringLiteral("/scenario.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray::fromStdString(scenario.dump()));
}

BridgeProcessController::Options EngineTest::options() const {
    BridgeProcessController::Options options;
    options.resourceFolder = resources;
    options.terminationGrace = scaled(std::chrono::milliseconds(500));
    // The fake engine serves on a port of its own (the scenario's "admin_port"): the one checked
    // here is free, whatever holds 9315 on this machine.
    options.adminPort = freePort();
    options.storedConfiguration = [this] { return configuration(); };
    return options;
}

std::unique_ptr<BridgeProcessController> EngineTest::makeController(BridgeProcessController::Options options) {
    return std::make_unique<BridgeProcessController>(store, std::move(options));
}

BridgeLaunchConfiguration EngineTest::configuration() const {
    BridgeLaunchConfiguration value;
    value.publicPort = publicPort;
    value.androidUSBEnabled = false;
    return value;
}

int EngineTest::waitForEngine(BridgeProcessController& controller) {
    static const QRegularExpression listening(QStringLiteral("Admin channel listening on 127\\.0\\.0\\.1:(\\d+)"));
    int port = 0;
    const bool up = waitUntil([&] {
        if (!controller.isRunning()) return false;
        for (const QString& line : controller.diagnosticBuffer().lines()) {
            const auto match = listening.match(line);
            if (match.hasMatch()) port = match.captured(1).toInt();
        }
        return port != 0;
    });
    EXPECT_TRUE(up) << "engine did not come up; last error: "
                    << controller.lastError().value_or(QString()).toStdString() << "; log:\n"
                    << controller.diagnosticBuffer().lines().join(QLatin1Char('\n')).toStdString();
    return port;
}

bool EngineTest::logContains(BridgeProcessController& controller, const QString& text) {
    const QStringList lines = controller.diagnosticBuffer().lines();
    return std::any_of(lines.begin(), lines.end(), [&](const QString& line) { return line.contains(text); });
}

}  // namespace norv::test
