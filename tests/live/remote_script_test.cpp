#include "tests/support/live/live_layout.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <thread>

#include <unistd.h>

namespace norv::test {
namespace {

QStringList strings(const QJsonValue& value) {
    QStringList list;
    for (const QJsonValue& item : value.toArray())
        list << item.toString();
    return list;
}

// A supported Live with a detected User Library and the fake engine as the runtime's tool.
class RemoteScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        suite = layout.addBundle(layout.systemApps(), "Ableton Live 12 Suite.app", "12.1.5");
        layout.addLibraryCfg("12.1.5", layout.path("music"), "User Library");
        library = layout.path("music/User Library");
    }

    std::unique_ptr<LiveIntegration> scanned(const QByteArray& manifest = LiveLayout::defaultManifest) {
        layout.addRuntime(manifest);
        auto live = std::make_unique<LiveIntegration>(environment());
        EXPECT_TRUE(await([&](auto done) { live->scan(done); }));
        return live;
    }

    LiveIntegration::Environment environment() {
        LiveIntegration::Environment environment = layout.environment();
        environment.processEnvironment = QProcessEnvironment();
        environment.processEnvironment.insert("HOME", layout.home());
        environment.processEnvironment.insert("LANG", "en_GB.UTF-8");
        environment.processEnvironment.insert("TMPDIR", layout.path("tmp"));
        environment.processEnvironment.insert("https_proxy", "http://proxy.example:3128");
        environment.processEnvironment.insert("PATH", "/opt/evil/bin:/usr/bin");
        environment.processEnvironment.insert("PYTHONPATH", "/opt/evil/lib");
        environment.timing = timing;
        return environment;
    }

    static QByteArray manifestWith(const QByteArray& fake) {
        return R"({"version": "1.4.0", "build_id": "b140", "fake": )" + fake + "}";
    }

    LiveLayout layout;
    QString suite;
    QString library;
    RemoteScriptProcess::Timing timing{std::chrono::milliseconds(10000), std::chrono::milliseconds(300)};
};

TEST_F(RemoteScriptTest, CheckRunsTheToolWithItsExactCommandLineAndReducedEnvironment) {
    auto live = scanned();
    EXPECT_EQ(live->disk(), (ScriptDiskState{"1.4.0", "b140", false, false}));
    EXPECT_EQ(live->message(), std::nullopt);
    EXPECT_FALSE(live->busy());

    const QList<QJsonObject> calls = layout.calls();
    ASSERT_EQ(calls.size(), 1);
    const QJsonObject& call = calls[0];
    EXPECT_EQ(call["script"].toString(), layout.runtimeRoot() + "/tools/run_bridge.py");
    EXPECT_EQ(strings(call["args"]), QStringList({"--script-bundle", layout.scriptBundle(), "--script-library", library}));
    EXPECT_EQ(call["isolated"].toInt(), 1);
    EXPECT_EQ(call["dont_write_bytecode"].toInt(), 1);
    EXPECT_EQ(call["stdin"].toString(), "/dev/null");
    EXPECT_EQ(call["env"].toObject().toVariantMap(),
              QVariantMap({{"HOME", layout.home()},
                           {"LANG", "en_GB.UTF-8"},
                           {"TMPDIR", layout.path("tmp")},
                           {"PATH", "/usr/bin:/bin:/usr/sbin:/sbin"},
                           {"PYTHONDONTWRITEBYTECODE", "1"}}));

    // Without a User Library in force the check goes without one.
    QFile::remove(layout.home() + "/Library/Preferences/Ableton/Live 12.1.5/Library.cfg");
    ASSERT_TRUE(await([&](auto done) { live->scan(done); }));
    EXPECT_EQ(live->library(), std::nullopt);
    EXPECT_EQ(strings(layout.calls().last()["args"]), QStringList({"--script-bundle", layout.scriptBundle()}));
}

TEST_F(RemoteScriptTest, TheBundleInTheResourcesComesBeforeTheRuntimeArtifacts) {
    layout.addRuntime();
    const QString artifacts = layout.runtimeRoot() + "/.artifacts/remote-script";
    LiveLayout::write(artifacts + "/manifest.json", R"({"version": "0.9.0", "build_id": "old"})");
    auto live = std::make_unique<LiveIntegration>(environment());
    ASSERT_TRUE(await([&](auto done) { live->scan(done); }));
    EXPECT_EQ(live->disk()->version, "1.4.0");

    QDir(layout.scriptBundle()).removeRecursively();
    ASSERT_TRUE(await([&](auto done) { live->verify(done); }));
    EXPECT_EQ(live->disk()->version, "0.9.0");

    QDir(artifacts).removeRecursively();
    ASSERT_TRUE(await([&](auto done) { live->verify(done); }));
    EXPECT_EQ(live->disk(), std::nullopt);
    EXPECT_EQ(live->message(), "Bundled Remote Script runtime unavailable");

    // An interpreter that cannot be started reports the platform's reason.
    layout.addRuntime();
    LiveLayout::write(layout.interpreter(), "#!/nonexistent/interpreter\n");
    QFile::setPermissions(layout.interpreter(), QFile::permissions(layout.interpreter()) | QFile::ExeOwner);
    ASSERT_TRUE(await([&](auto done) { live->verify(done); }));
    EXPECT_EQ(live->disk(), std::nullopt);
    ASSERT_TRUE(live->message().has_value());
    EXPECT_FALSE(live->message()->isEmpty());
    EXPECT_NE(live->message(), "Remote Script operation failed");
    EXPECT_FALSE(live->busy());
}

TEST_F(RemoteScriptTest, InstallMarksEveryRunningLiveForRestartAndVerifiesTheFiles) {
    const QString lite = layout.addBundle(layout.path("opt"), "Ableton Live 11 Lite.app", "11.3.2");
    layout.addProcess(501, suite + "/Contents/MacOS/Live");
    layout.addProcess(502, lite + "/Contents/MacOS/Live");
    auto live = scanned();

    ASSERT_TRUE(await([&](auto done) { live->install(done); }));
    EXPECT_EQ(live->message(), "Installed · files verified");
    EXPECT_EQ(live->disk(), (ScriptDiskState{"1.4.0", "b140", true, true}));
    EXPECT_EQ(live->restartPending(), (std::set<std::int32_t>{501, 502}));
    EXPECT_EQ(strings(layout.calls()[1]["args"]),
              QStringList({"--script-bundle", layout.scriptBundle(), "--script-library", library, "--install-script"}));
    EXPECT_TRUE(QFileInfo::exists(library + "/Remote Scripts/NorvSession/manifest.json"));

    // Nothing to do: the message says so and no process is added.
    layout.removeProcess(502);
    layout.addProcess(503, suite + "/Contents/MacOS/Live");
    ASSERT_TRUE(await([&](auto done) { live->install(done); }));
    EXPECT_EQ(live->message(), "Already up to date");
    EXPECT_EQ(live->restartPending(), (std::set<std::int32_t>{501, 502}));

    // A differing earlier script is backed up.
    LiveLayout::write(library + "/Remote Scripts/NorvSession/manifest.json", R"({"version": "1.0.0"})");
    ASSERT_TRUE(await([&](auto done) { live->verify(done); }));
    EXPECT_EQ(live->disk(), (ScriptDiskState{"1.4.0", "b140", true, false}));
    ASSERT_TRUE(await([&](auto done) { live->install(done); }));
    EXPECT_EQ(live->message(), "Installed · files verified · previous script backed up");
    EXPECT_TRUE(live->disk()->current);
}

TEST_F(RemoteScriptTest, InstallIsRefusedWithoutALibraryOrASupportedLive) {
    layout.addBundle(layout.systemApps(), "Ableton Live 11 Suite.app", "11.3.21");
    layout.addLibraryCfg("11.3.21", layout.path("music"), "Old Library");
    auto live = scanned();

    live->setSelectedID(layout.systemApps() + "/Ableton Live 11 Suite.app");
    ASSERT_TRUE(await([&](auto done) { live->select(done); }));
    ASSERT_TRUE(live->library().has_value());
    const qsizetype before = layout.calls().size();
    ASSERT_TRUE(await([&](auto done) { live->install(done); }));
    EXPECT_EQ(layout.calls().size(), before);
    EXPECT_EQ(live->message(), std::nullopt);

    live->setSelectedID(suite);
    QFile::remove(layout.home() + "/Library/Preferences/Ableton/Live 12.1.5/Library.cfg");
    ASSERT_TRUE(await([&](auto done) { live->scan(done); }));
    ASSERT_EQ(live->library(), std::nullopt);
    ASSERT_TRUE(await([&](auto done) { live->install(done); }));
    EXPECT_EQ(layout.calls().size(), before + 1);  // only the check of the scan
    EXPECT_EQ(live->message(), std::nullopt);
    EXPECT_FALSE(live->busy());

    // A chosen library on a drive its Wine prefix does not have: the drive is never made.
    const QString devices = layout.path("prefix/dosdevices");
    QDir().mkpath(devices);
    ASSERT_TRUE(await([&](auto done) { live->chooseLibrary(devices + "/e:/Music/User Library", done); }));
    ASSERT_TRUE(await([&](auto done) { live->install(done); }));
    EXPECT_EQ(live->message(), "The Wine prefix has no drive E: for this User Library");
    EXPECT_EQ(layout.calls().size(), before + 2);  // only the check of the choice
    EXPECT_FALSE(QFileInfo::exists(devices + "/e:"));
}

// The engine's install never runs into a library, Remote Scripts folder or NorvSession script
// that is a link, another user's, or changeable by others; a library named through Wine's Z:
// drive (the root of this machine) is held to the same rules.
TEST_F(RemoteScriptTest, InstallIsRefusedWhereAnotherUserCouldChooseOrChangeTheScript) {
    auto live = scanned();
    const qsizetype checks = layout.calls().size();
    const QString scripts = library + "/Remote Scripts";
    const QString elsewhere = layout.path("elsewhere");
    QDir().mkpath(elsewhere);
    QDir().mkpath(library);
    const auto link = [](const QString& target, const QString& at) {
        std::filesystem::create_symlink(target.toStdString(), at.toStdString());
    };
    const auto refused = [&](LiveIntegration& integration, const QString& message) {
        EXPECT_TRUE(await([&](auto done) { integration.install(done); }));
        EXPECT_EQ(integration.message(), message);
    };

    link(elsewhere, scripts);
    refused(*live, "The User Library's Remote Scripts folder is a symbolic link");
    QFile::remove(scripts);
    QDir().mkpath(scripts + "/NorvSession");
    QFile::setPermissions(scripts + "/NorvSession", QFile::permissions(scripts + "/NorvSession") | QFile::WriteOther);
    refused(*live, "The User Library's NorvSession script can be changed by other users");
    QDir(scripts).removeRecursively();
    LiveIntegration::Environment other = environment();
    other.processOwner = ::getuid() + 1;
    auto foreign = std::make_unique<LiveIntegration>(other);
    ASSERT_TRUE(await([&](auto done) { foreign->scan(done); }));
    refused(*foreign, "The User Library belongs to another user");

    // Live for Windows with its library on Z:, a symbolic link there.
    const QString prefix = layout.winePrefix();
    const QString wine = LiveLayout::addWineLive(prefix, "Live 12 Suite", "Ableton Live 12 Suite.exe");
    QDir().mkpath(prefix + "/dosdevices");
    link("/", prefix + "/dosdevices/z:");
    link(elsewhere, layout.path("Lib"));
    const QString root = QFileInfo(layout.path("Lib")).path();
    LiveLayout::addWinePreferences(prefix, "me", "12.1.5", "Z:" + QString(root).replace('/', '\\'), "Lib");
    live->setSelectedID(wine);
    ASSERT_TRUE(await([&](auto done) { live->scan(done); }));
    ASSERT_EQ(live->selectedID(), wine);
    ASSERT_EQ(live->library(), prefix + "/dosdevices/z:" + layout.path("Lib"));
    refused(*live, "The User Library is a symbolic link");

    // Only checks ran, and nothing was written anywhere.
    for (const QJsonObject& call : layout.calls().mid(checks))
        EXPECT_FALSE(strings(call["args"]).contains("--install-script"));
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(scripts));
}

// A copy in the library is current only when it holds every file of the bundle with the same
// contents and nothing else, changeable by this user alone; the bytecode caches Live writes
// beside it change nothing.
TEST_F(RemoteScriptTest, AnInstalledCopyIsCurrentOnlyWithTheBundlesFilesAndContents) {
    auto live = scanned();
    LiveLayout::write(layout.scriptBundle() + "/__init__.py", "def create_instance(c): return None\n");
    const QString installed = library + "/Remote Scripts/NorvSession";
    LiveLayout::write(installed + "/manifest.json", LiveLayout::defaultManifest);
    LiveLayout::write(installed + "/__init__.py", "import os; os.system('planted')\n");
    const auto verified = [&] {
        EXPECT_TRUE(await([&](auto done) { live->verify(done); }));
        return live->disk().value_or(ScriptDiskState{}).current;
    };
    EXPECT_FALSE(verified());

    ASSERT_TRUE(await([&](auto done) { live->install(done); }));
    EXPECT_EQ(live->message(), "Installed · files verified · previous script backed up");
    EXPECT_TRUE(live->disk()->current);
    LiveLayout::write(installed + "/__pycache__/__init__.cpython-311.pyc", "cache");
    EXPECT_TRUE(verified());
    QFile::setPermissions(installed + "/__init__.py", QFile::permissions(installed + "/__init__.py") | QFile::WriteOther);
    EXPECT_FALSE(verified());  // anyone may change it

    QFile::remove(installed + "/__init__.py");
    std::filesystem::create_symlink((layout.scriptBundle() + "/__init__.py").toStdString(),
                                    (installed + "/__init__.py").toStdString());
    EXPECT_FALSE(verified());  // the same contents, through a link
}

TEST_F(RemoteScriptTest, EveryFailedRunBecomesItsMessage) {
    struct Case {
        QByteArray fake;
        QString message;
    };
    const QList<Case> cases = {
        {R"({"check": {"exit": 1, "stdout": "{\"error\": \"The User Library is read-only.\"}"}})",
         "The User Library is read-only."},
        {R"({"check": {"exit": 1, "stdout": "{\"error\": \"No\", \"code\": 3}"}})", "Remote Script operation failed"},
        {R"({"check": {"exit": 1, "stdout": "{\"reason\": \"No\"}"}})", "Remote Script operation failed"},
        {R"({"check": {"exit": 1, "stdout": "[\"error\"]"}})", "Remote Script operation failed"},
        {R"({"check": {"exit": 2, "stdout": ""}})", "Remote Script operation failed"},
        {R"({"check": {"exit": 1, "stdout": "{}"}})", "Remote Script operation failed"},
        {R"({"check": {"stdout": "not json"}})", "The Remote Script reply could not be read: it is not valid JSON"},
        {R"({"check": {"stdout": "{\"version\": \"1\", \"exists\": true, \"current\": true}"}})",
         "The Remote Script reply could not be read: the key \"buildId\" is missing"},
        {R"({"check": {"stdout": "{\"version\": \"1\", \"buildId\": \"b\", \"exists\": 1, \"current\": true}"}})",
         "The Remote Script reply could not be read: \"exists\" is not a boolean"},
    };
    for (const Case& c : cases) {
        auto live = scanned(manifestWith(c.fake));
        EXPECT_EQ(live->message(), c.message) << c.fake.constData();
        EXPECT_EQ(live->disk(), std::nullopt);
        EXPECT_FALSE(live->busy());
    }
}

TEST_F(RemoteScriptTest, AFailedCheckAfterAnInstallKeepsTheRestartMarksAndTheEarlierState) {
    layout.addProcess(601, suite + "/Contents/MacOS/Live");
    auto live = scanned();
    const std::optional<ScriptDiskState> before = live->disk();
    layout.addRuntime(manifestWith(R"({"check": {"exit": 1, "stdout": "{\"error\": \"Check failed\"}"}})"));
    ASSERT_TRUE(await([&](auto done) { live->install(done); }));
    EXPECT_EQ(live->message(), "Check failed");
    EXPECT_EQ(live->disk(), before);
    EXPECT_EQ(live->restartPending(), (std::set<std::int32_t>{601}));
    EXPECT_FALSE(live->busy());
}

TEST_F(RemoteScriptTest, ALargeReplyIsReadWhileTheToolRuns) {
    // A tool whose output is not read while it runs blocks and is only ended by the limit, which
    // bounds that failure alone: a slow start on a loaded machine must not look like it.
    timing.limit = std::chrono::milliseconds(15000);
    auto live = scanned(manifestWith(R"({"check": {"pad": 4000000}})"));
    EXPECT_EQ(live->message(), std::nullopt);
    EXPECT_EQ(live->disk(), (ScriptDiskState{"1.4.0", "b140", false, false}));
}

bool processGone(qint64 pid) {
    return !QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid));
}

// Waits until the tool has recorded its call (and, when asked to, set SIGTERM aside) without
// running the event loop: the run's time limit is a timer of this thread, so it cannot end the
// tool before then however slowly the interpreter starts.
qint64 awaitToolStarted(const LiveLayout& layout) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
        const QList<QJsonObject> calls = layout.calls();
        if (!calls.isEmpty() && calls[0].contains("pid"))
            return calls[0]["pid"].toInteger();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

// Runs the event loop until the process is gone (reaped, not merely ended) or a bound passes.
bool awaitGone(qint64 pid) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (processGone(pid))
            loop.quit();
    });
    poll.start(20);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    if (!processGone(pid))
        loop.exec();
    return processGone(pid);
}

TEST_F(RemoteScriptTest, AToolThatKeepsRunningIsEndedAndReaped) {
    timing = {std::chrono::milliseconds(300), std::chrono::milliseconds(200)};
    for (const QByteArray& fake : {QByteArray(R"({"check": {"hang": true}})"),
                                  QByteArray(R"({"check": {"hang": true, "ignore_term": true}})")}) {
        layout.addRuntime(manifestWith(fake));
        QFile::remove(layout.scriptBundle() + "/calls.jsonl");
        auto live = std::make_unique<LiveIntegration>(environment());
        layout.settings().setValue("bridge.live.selected", "earlier");

        bool finished = false;
        live->setSelectedID(suite);
        live->verify([&] { finished = true; });
        EXPECT_TRUE(live->busy());
        // A selection while the check runs stores nothing.
        live->select();
        EXPECT_EQ(layout.settings().value("bridge.live.selected").toString(), "earlier");
        const qint64 pid = awaitToolStarted(layout);
        ASSERT_NE(pid, 0) << "the tool did not start";

        ASSERT_TRUE(await([&](auto done) {
            QObject::connect(live.get(), &LiveIntegration::changed, live.get(), [&, done] {
                if (!live->busy() && !finished) {
                    finished = true;
                    done();
                }
            });
        }));
        EXPECT_EQ(live->message(), "Remote Script operation timed out") << fake.constData();
        EXPECT_EQ(live->disk(), std::nullopt);
        EXPECT_EQ(layout.calls().size(), 1);
        // After SIGKILL the run may report before the child is reaped; it is reaped all the same.
        EXPECT_TRUE(awaitGone(pid)) << fake.constData();
    }
}

TEST_F(RemoteScriptTest, ARunOutlivingItsOwnerIsStillEndedAndReaped) {
    timing = {std::chrono::milliseconds(300), std::chrono::milliseconds(200)};
    layout.addRuntime(manifestWith(R"({"check": {"hang": true, "ignore_term": true}})"));
    auto live = std::make_unique<LiveIntegration>(environment());
    live->verify([] { ADD_FAILURE() << "an abandoned run reports nothing"; });
    const qint64 pid = awaitToolStarted(layout);
    ASSERT_NE(pid, 0) << "the tool did not start";
    live.reset();
    EXPECT_FALSE(processGone(pid));
    EXPECT_TRUE(awaitGone(pid));
}

}  // namespace
}  // namespace norv::test
