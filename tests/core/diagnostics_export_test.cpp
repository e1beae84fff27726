#include "core/bridge_process_controller.h"
#include "tests/support/core/engine_test_support.h"
#include "tests/support/core/runtime_test_support.h"

#include <QElapsedTimer>
#include <QProcess>

namespace norv {
namespace {

using namespace std::chrono_literals;
using test::waitUntil;

// The manifest the fake exporter puts into its archive, read back with Python's zipfile.
nlohmann::json archiveManifest(const QString& archive) {
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).read('manifest.json').decode())"),
                  archive});
    python.waitForFinished(10000);
    return nlohmann::json::parse(python.readAllStandardOutput().toStdString(), nullptr, false);
}

class DiagnosticsExportTest : public test::EngineTest {
protected:
    std::optional<DiagnosticsExportError> exportTo(BridgeProcessController& controller, const QString& destination) {
        bool finished = false;
        std::optional<DiagnosticsExportError> outcome;
        controller.exportDiagnostics(destination, [&](std::optional<DiagnosticsExportError> error) {
            finished = true;
            outcome = std::move(error);
        });
        EXPECT_FALSE(finished);  // always reported later, from the event loop
        EXPECT_TRUE(waitUntil([&] { return finished; }, 15s));
        return outcome;
    }
};

TEST_F(DiagnosticsExportTest, WritesTheArchiveWithTheRunningEnginesCredentialsOnly) {
    auto controller = makeController();
    const QString idle = temp.filePath(QStringLiteral("idle.zip"));
    EXPECT_FALSE(exportTo(*controller, idle).has_value());
    EXPECT_EQ(archiveManifest(idle),
              nlohmann::json({{"desktop_version", "development"},
                              {"admin_token_present", false},
                              {"admin_certificate_present", false}}));

    controller->start(configuration());
    waitForEngine(*controller);
    const QString running = temp.filePath(QStringLiteral("running.zip"));
    EXPECT_FALSE(exportTo(*controller, running).has_value());
    EXPECT_EQ(archiveManifest(running).value("admin_token_present", false), true);
    EXPECT_EQ(archiveManifest(running).value("admin_certificate_present", false), true);
    EXPECT_TRUE(controller->isRunning());
}

TEST_F(DiagnosticsExportTest, FailuresCarryTheirCodes) {
    auto controller = makeController();
    auto error = exportTo(*controller, temp.filePath(QStringLiteral("missing/folder/out.zip")));
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->domain(), QStringLiteral("NorvBridge"));
    EXPECT_EQ(error->code, 3);  // the exporter's own status
    EXPECT_EQ(error->message, QStringLiteral("Could not export diagnostics. Check the destination folder."));

    writeScenario({{"admin_port", 0}, {"export_delay", 30}});
    auto options = this->options();
    options.exportTimeout = test::scaled(400ms);
    auto hurried = makeController(options);
    error = exportTo(*hurried, temp.filePath(QStringLiteral("slow.zip")));
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code, 2);
    EXPECT_EQ(error->message, QStringLiteral("Diagnostic export timed out. Try again."));
    EXPECT_TRUE(waitUntil([&] { return hurried->findChildren<QProcess*>().isEmpty(); }, 5s));

    options.resourceFolder = temp.filePath(QStringLiteral("partial"));
    test::writeFile(options.resourceFolder + QStringLiteral("/BridgeRuntime/tools/run_bridge.py"), "");
    error = exportTo(*makeController(options), temp.filePath(QStringLiteral("a.zip")));
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code, 1);
    EXPECT_EQ(error->message, QStringLiteral("Bundled Python runtime unavailable"));
    options.resourceFolder = temp.filePath(QStringLiteral("nothing"));
    error = exportTo(*makeController(options), temp.filePath(QStringLiteral("b.zip")));
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->message, QStringLiteral("Bundled diagnostic exporter unavailable"));
}

// The time-out runs on a precise timer: the default kind, for intervals this long, may end an
// export up to 5 % before its time.
TEST_F(DiagnosticsExportTest, TheTimeOutNeverEndsAnExportBeforeItsTime) {
    writeScenario({{"admin_port", 0}, {"export_delay", 30}});
    auto options = this->options();
    options.exportTimeout = 5000ms;
    auto controller = makeController(options);
    QElapsedTimer clock;
    clock.start();
    const auto error = exportTo(*controller, temp.filePath(QStringLiteral("slow.zip")));
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code, 2);
    EXPECT_GE(clock.elapsed(), 5000);
}

}  // namespace
}  // namespace norv
