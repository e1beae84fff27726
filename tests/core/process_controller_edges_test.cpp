// The engine supervisor at its edges: the identity line's size bound, the Logs page's copy of the
// buffer, and the diagnostics exporter's command line, directory and environment.
#include "core/admin_capability.h"
#include "core/bridge_process_controller.h"
#include "tests/support/core/engine_test_support.h"
#include "tests/support/core/runtime_test_support.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <sys/socket.h>

namespace norv {
namespace {

using namespace std::chrono_literals;
using test::waitUntil;

class ProcessControllerEdgesTest : public test::EngineTest {
protected:
    // The shared identity padded by spaces to an identity line of exactly `size` bytes, stored
    // in the vault: the certificate (whose reading ignores them) up to its own bound, the key
    // the rest.
    void storeIdentityOfSize(qsizetype size) {
        BridgeTLSIdentity padded = identity;
        const qsizetype missing = size - identity.encode().size();
        const qsizetype certificatePad = std::min(
            missing, BridgeTLSIdentity::kMaxPEMBytes - identity.certificatePEM.toUtf8().size());
        padded.certificatePEM += QString(certificatePad, QLatin1Char(' '));
        padded.privateKeyPEM += QString(missing - certificatePad, QLatin1Char(' '));
        ASSERT_EQ(padded.encode().size(), size);
        vault = std::make_shared<MemoryBridgeIdentityVault>(padded.encode());
        store = std::make_shared<BridgeTLSIdentityStore>(vault, []() -> BridgeTLSIdentity {
            throw std::runtime_error("no identity generation in this test");
        });
    }
};

TEST_F(ProcessControllerEdgesTest, IdentityLinesBelow32768BytesLaunch) {
    storeIdentityOfSize(32767);
    auto options = this->options();
    qsizetype written = 0;
    options.writeIdentityLine = [&](int, QByteArrayView line) {
        written = line.size();
        return 0;
    };
    auto controller = makeController(options);
    controller->start(configuration());
    ASSERT_TRUE(waitUntil([&] { return controller->isRunning(); }))
        << controller->lastError().value_or(QString()).toStdString();
    EXPECT_EQ(written, 32768);  // the line and its line feed
    EXPECT_FALSE(controller->lastError().has_value());
    controller.reset();

    storeIdentityOfSize(32768);
    written = 0;
    controller = makeController(options);
    controller->start(configuration());
    ASSERT_TRUE(waitUntil([&] { return controller->lastError().has_value(); }));
    const QString damaged =
        QStringLiteral("Bridge identity is damaged. Restore it or pair devices again.");
    EXPECT_EQ(controller->lastError(), damaged);
    EXPECT_EQ(written, 0);
    EXPECT_FALSE(controller->hasProcess());
    EXPECT_FALSE(AdminCapability::current().has_value());
    EXPECT_TRUE(
        logContains(*controller, QStringLiteral(" INFO [desktop] launch failed: ") + damaged));
}

// The Logs page's copy changes, and notifies, only when the buffer has changed; the desktop's
// own lines carry the UTC time to the second.
TEST_F(ProcessControllerEdgesTest, RefreshLogsNotifiesOnlyOnChange) {
    auto controller = makeController();
    int changes = 0;
    QObject::connect(controller.get(), &BridgeProcessController::changed, controller.get(),
                     [&] { ++changes; });
    controller->refreshLogs();
    EXPECT_EQ(changes, 0);

    const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1000);
    controller->start(configuration());
    waitForEngine(*controller);
    const QDateTime after = QDateTime::currentDateTimeUtc().addMSecs(1000);
    changes = 0;
    controller->refreshLogs();
    EXPECT_EQ(changes, 1);
    const QStringList lines = controller->logLines();
    EXPECT_EQ(lines, controller->diagnosticBuffer().lines());
    static const QRegularExpression desktop(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ) INFO \\[desktop\\] started "
                       "bridge pid=%1$")
            .arg(controller->processId()));
    const auto started = std::find_if(lines.begin(), lines.end(), [](const QString& line) {
        return desktop.match(line).hasMatch();
    });
    ASSERT_NE(started, lines.end()) << lines.join('\n').toStdString();
    const QDateTime stamped =
        QDateTime::fromString(desktop.match(*started).captured(1), Qt::ISODate);
    EXPECT_EQ(stamped.timeSpec(), Qt::UTC);
    EXPECT_TRUE(before <= stamped && stamped <= after) << started->toStdString();

    changes = 0;
    controller->refreshLogs();
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(controller->logLines(), lines);
}

// The exporter runs the shipped runtime in place, from the application's own directory, with
// the allow-listed environment and none of the engine's interpreter settings.
TEST_F(ProcessControllerEdgesTest, DiagnosticsExporterCommandLineDirectoryAndEnvironment) {
    qputenv("LC_ALL", "C.UTF-8");
    qputenv("USER", "someone");
    qputenv("PYTHONPATH", "/elsewhere");
    for (const char* name : {"LANG", "LC_CTYPE", "TMPDIR"}) qunsetenv(name);
    const QString savedVersion = QCoreApplication::applicationVersion();
    QCoreApplication::setApplicationVersion(QStringLiteral("4.5.6"));
    writeScenario({{"admin_port", 0}, {"export_delay", 30}});
    auto options = this->options();
    options.exportTimeout = test::scaled(3s);
    auto controller = makeController(options);
    const QString destination = temp.filePath(QStringLiteral("out.zip"));
    bool finished = false;
    controller->exportDiagnostics(destination,
                                  [&](std::optional<DiagnosticsExportError>) { finished = true; });
    QCoreApplication::setApplicationVersion(savedVersion);

    // The runtime's interpreter is a launcher that execs the real one; while it does,
    // /proc reads empty, so each read is retried until it holds.
    const QString root = resources + QStringLiteral("/BridgeRuntime");
    const QStringList arguments({QStringLiteral("-I"), QStringLiteral("-B"), QStringLiteral("-u"),
                                 root + QStringLiteral("/tools/run_bridge.py"),
                                 QStringLiteral("--export-diagnostics"), destination,
                                 QStringLiteral("--desktop-version"), QStringLiteral("4.5.6")});
    const QStringList environment({QStringLiteral("HOME=") + home, QStringLiteral("LC_ALL=C.UTF-8"),
                                   QStringLiteral("PATH=/usr/bin:/bin:/usr/sbin:/sbin")});
    qint64 pid = 0;
    const auto exporter = [&] {
        const auto children = controller->findChildren<QProcess*>();
        return children.isEmpty() ? qint64(0) : children.first()->processId();
    };
    ASSERT_TRUE(waitUntil([&] { return (pid = exporter()) > 0; }));
    EXPECT_TRUE(waitUntil([&] { return test::processArguments(pid).mid(1) == arguments; }))
        << test::processArguments(pid).join(' ').toStdString();
    EXPECT_TRUE(waitUntil([&] { return test::processDirectory(pid) == QDir::currentPath(); }))
        << test::processDirectory(pid).toStdString();
    EXPECT_TRUE(waitUntil([&] { return test::processEnvironment(pid) == environment; }))
        << test::processEnvironment(pid).join(' ').toStdString();
    EXPECT_TRUE(waitUntil([&] { return finished; }, 10s));
    qunsetenv("PYTHONPATH");
    qunsetenv("USER");
}

// With an engine running, the exporter is told that its credentials exist and never gets them.
TEST_F(ProcessControllerEdgesTest, TheExporterLearnsOfTheEnginesCredentialsWithoutGettingThem) {
    writeScenario({{"admin_port", 0}, {"export_delay", 30}});
    auto options = this->options();
    options.exportTimeout = test::scaled(3s);
    auto controller = makeController(options);
    controller->start(configuration());
    waitForEngine(*controller);
    const std::optional<AdminCapability::Identity> credentials = AdminCapability::current();
    ASSERT_TRUE(credentials && credentials->certificatePEM);
    bool finished = false;
    controller->exportDiagnostics(temp.filePath(QStringLiteral("out.zip")),
                                  [&](std::optional<DiagnosticsExportError>) { finished = true; });

    qint64 pid = 0;
    const auto exporter = [&] {
        for (const QProcess* process : controller->findChildren<QProcess*>())
            if (process->processId() != controller->processId()) return process->processId();
        return qint64(0);
    };
    ASSERT_TRUE(waitUntil([&] { return (pid = exporter()) > 0; }));
    // Read until the exec is over: the told variables are there.
    const auto told = [&] {
        const QStringList environment = test::processEnvironment(pid);
        return environment.contains(QStringLiteral("NORV_ADMIN_TOKEN_PRESENT=1")) &&
               environment.contains(QStringLiteral("NORV_ADMIN_CERTIFICATE_PRESENT=1"));
    };
    ASSERT_TRUE(waitUntil(told)) << test::processEnvironment(pid).join(' ').toStdString();
    const QStringList environment = test::processEnvironment(pid);
    for (const QString& entry : environment)
        EXPECT_FALSE(entry.contains(credentials->token) || entry.contains(QStringLiteral("CERTIFICATE-----")))
            << entry.toStdString();
    EXPECT_TRUE(waitUntil([&] { return finished; }, 10s));
}

// The identity line holds the private key: once handed to the engine, our copy is zeros.
TEST_F(ProcessControllerEdgesTest, TheIdentityLineIsOverwrittenOnceWritten) {
    auto options = this->options();
    const char* handed = nullptr;
    qsizetype size = 0;
    options.writeIdentityLine = [&](int fd, QByteArrayView line) {
        handed = line.data();
        size = line.size();
        return ::send(fd, line.data(), size_t(line.size()), MSG_NOSIGNAL) == line.size() ? 0 : EIO;
    };
    auto controller = makeController(options);
    controller->start(configuration());
    waitForEngine(*controller);  // the engine read the line and serves with it
    ASSERT_NE(handed, nullptr);
    // The storage stays with the engine's record while it runs.
    EXPECT_EQ(std::count(handed, handed + size, '\0'), size);
}

}  // namespace
}  // namespace norv
